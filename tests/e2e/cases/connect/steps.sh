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
trap 'status=$?; kill "$ngircd_pid" 2>/dev/null || true; (exit $status); cleanup' EXIT
for _ in $(seq 50); do
  python3 -c "import socket; socket.create_connection(('127.0.0.1', $port), 1)" 2>/dev/null && break
  sleep 0.1
done

# Failures first, each in red: a port where nothing listens, then no server name at all.
refused=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
connect_failed='### \x90\xda\x91\xb1\x82\xc9\x8e\xb8\x94s\x82\xb5\x82\xdc\x82\xb5\x82\xbd'
sed -i "s/^port = [0-9]*;/port = $refused;/" "$work/main.lum"
drive command 40018 expect-view server "port $refused" command 40001 expect-view server "$connect_failed"
no_name='### \x83T\x81[\x83o\x96\xbc\x82\xaa\x90\xdd\x92\xe8'
sed -i 's/^server = "127.0.0.1";/server = "";/' "$work/main.lum"
drive key ctrl+q command 40018 expect-view server "port $refused" command 40001 \
  expect-view server "$no_name"
sed -i 's/^server = "";/server = "127.0.0.1";/' "$work/main.lum"

# Reload with the port written in: the top level runs again and "port" names the server.
sed -i "s/^port = [0-9]*;/port = $port;/" "$work/main.lum"
drive key ctrl+q command 40018 expect-view server "port $port"

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

# Reload while connected: the connection stays, and the next line reaches the new script's "recv".
sed -i 's/"<< "/"new << "/' "$work/main.lum"
drive key ctrl+q command 40018 expect-view server "port $port" \
  input "TOPIC #lumo" key return expect-view server "new << :irc.lumo.test"

# The server going away ends the connection with the plain status line; "close" is not called.
drive key ctrl+q
kill "$ngircd_pid"
drive expect-view server "$disconnected" expect-absent server "close called"
shot server-gone
drive close expect-gone
wait_lumo_exit
