# Started from the unzipped folder, lumo.exe loads the packaged script and connects.
connected='\x90\xda\x91\xb1\x82\xb5\x82\xdc\x82\xb5\x82\xbd'
drive command 40001 expect-view server "$connected"
shot connected
drive close expect-gone
wait_lumo_exit
