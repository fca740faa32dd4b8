# The connection of lumo.exe against a real chat server (ngircd) started here on 127.0.0.1.
command -v ngircd >/dev/null || { echo "run_e2e: ngircd not found" >&2; exit 1; }
drive expect-view server "started"

# A free port on loopback, and a server configuration of the test's own.
port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
cat >"$work/ngircd.conf" <<CONF
[Global]
Name = irc.lumo.test
Info = lumo test server
Listen = 127.0.0.1
Ports = $port
MotdPhrase = welcome to the lumo test server
[Options]
PAM = no
Ident = no
DNS = no
CONF
ngircd -n -f "$work/ngircd.conf" >"$work/ngircd.log" 2>&1 &
ngircd_pid=$!
trap 'status=$?; kill "$ngircd_pid" 2>/dev/null; (exit $status); cleanup' EXIT
for _ in $(seq 50); do
  python3 -c "import socket; socket.create_connection(('127.0.0.1', $port), 1)" 2>/dev/null && break
  sleep 0.1
done

# Reload with the port written in: the top level runs again and "port" names the server.
sed -i "s/^port = 0;/port = $port;/" "$work/main.lum"
drive command 40018 expect-view server "port $port"

# Connect: the green status line, then "connect" registers and the server's lines reach "recv".
connected='\x90\xda\x91\xb1\x82\xb5\x82\xdc\x82\xb5\x82\xbd'
drive command 40001 expect-view server "$connected" expect-view server "<< :irc.lumo.test 001 lumotest"
# Typed lines go out through "send" and strsend; the server answers the join.
drive input "JOIN #lumo" key return expect-view server "<< :lumotest!~lumo@127.0.0.1 JOIN"
drive input "PRIVMSG #lumo :hello" key return input "TOPIC #lumo" key return \
  expect-view server "<< :irc.lumo.test 331 lumotest #lumo"
shot connected

# Disconnect: "close" runs first, then the red status line as the connection ends.
disconnected='\x90\xd8\x92\x66\x82\xb5\x82\xdc\x82\xb5\x82\xbd'
drive command 40002 expect-view server "close called" expect-view server "$disconnected"
# A second connect works again.
drive key ctrl+q command 40001 expect-view server "<< :irc.lumo.test 001 lumotest"
shot reconnected
drive close expect-gone
wait_lumo_exit
