# Sourced by end-to-end cases: a chat server (ngircd) of the case's own on 127.0.0.1.
#   start_irc_server   starts it on a free port with a generated configuration in $work; sets
#                      irc_port; the server is stopped by process id when the case ends
command -v ngircd >/dev/null || { echo "run_e2e: ngircd not found" >&2; exit 1; }

start_irc_server() {
  irc_port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
  cat >"$work/ngircd.conf" <<CONF
[Global]
Name = irc.lumo.test
Info = lumo test server
Listen = 127.0.0.1
Ports = $irc_port
MotdPhrase = welcome to the lumo test server
[Limits]
MaxNickLength = 20
[Options]
PAM = no
Ident = no
DNS = no
CONF
  ngircd -n -f "$work/ngircd.conf" >"$work/ngircd.log" 2>&1 &
  stop_at_exit $!
  for _ in $(seq 50); do
    python3 -c "import socket; socket.create_connection(('127.0.0.1', $irc_port), 1)" 2>/dev/null &&
      return 0
    sleep 0.1
  done
  echo "run_e2e: ngircd did not start" >&2
  cat "$work/ngircd.log" >&2
  return 1
}

# Writes the settings of a copy of the chat script: set_setting FILE NAME VALUE (VALUE as written in
# the script, quotes included for text).
set_setting() {
  grep -q "^$2 *=" "$1" || { echo "run_e2e: no setting $2 in $1" >&2; return 1; }
  sed -i "s|^$2 *=.*;|$2 = $3;|" "$1"
}
