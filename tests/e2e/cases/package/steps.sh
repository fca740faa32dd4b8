# Started from the unzipped folder, lumo.exe loads the packaged script, connects, joins #lumo and
# talks in UTF-8 through the packaged extension with a second client.
connected='\x90\xda\x91\xb1\x82\xb5\x82\xdc\x82\xb5\x82\xbd'
drive resize 620 460 command 40001 expect-view server "$connected" expect-selector 2 1
python3 "$irc_tests/peer.py" --port "$irc_port" --nick peer --encoding utf8 \
  join '#lumo' say '#lumo' 'パッケージから' expect '^:lumo!\S+ PRIVMSG #lumo :届きました$' \
  >"$work/peer.out" 2>&1 &
peer_pid=$!
stop_at_exit "$peer_pid"
# パッケージから, then 届きました typed back.
drive expect-view 1 '\x83p\x83b\x83P\x81[\x83W\x82\xa9\x82\xe7'
drive input '\x93\xcd\x82\xab\x82\xdc\x82\xb5\x82\xbd' click
wait "$peer_pid" || { cat "$work/peer.out" >&2; exit 1; }
shot connected
drive close expect-gone
wait_lumo_exit
