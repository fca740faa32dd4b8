# A double-click on link text opens only http://, https://, ftp:// and mailto: links. The test's
# opener only writes the links down.
show_and_click() {
  drive key ctrl+q input "$1" key return expect-view-exact server "$2" dblclick server 12 6
}
show_and_click program "notepad.exe"
show_and_click path 'C:\\windows\\system32\\cmd.exe'
show_and_click file "file:///C:/windows/notepad.exe"
show_and_click web "http://example.com/a?b=c"
show_and_click secure "HTTPS://EXAMPLE.COM/"
show_and_click mail "mailto:someone@example.com"
show_and_click ftp "Ftp://files.example.com/x"
# Plain text is not a link: a double-click selects a word and opens nothing.
drive key ctrl+q input "http://plain.example.com/" key return dblclick server 12 6
drive sleep 500
shot link
want=$'http://example.com/a?b=c\nHTTPS://EXAMPLE.COM/\nmailto:someone@example.com\nFtp://files.example.com/x'
have=$(opened)
if [[ "$have" != "$want" ]]; then
  echo "run_e2e: opened links differ:" >&2
  printf '%s\n' "$have" >&2
  exit 1
fi
drive close expect-gone
wait_lumo_exit
