# Sourced by end-to-end cases: a chat server (ngircd) of the case's own on 127.0.0.1, and the
# settings of a copy of the chat script.
#   start_irc_server              starts it on a free port with a generated configuration in
#                                 $work/ircd; sets irc_port; stopped by process id when the case ends
#   set_setting FILE NAME VALUE   rewrites one settings line of a main.lum
command -v ngircd >/dev/null || { echo "run_e2e: ngircd not found" >&2; exit 1; }
irc_tests=$(cd "$(dirname "${BASH_SOURCE[0]}")/../irc" && pwd)

start_irc_server() {
  local pid
  read -r pid irc_port < <(python3 "$irc_tests/ngircd.py" start "$work/ircd")
  [[ -n "$pid" && -n "$irc_port" ]] || { echo "run_e2e: ngircd did not start" >&2; exit 1; }
  stop_at_exit "$pid"
}

# A settings line is NAME = VALUE; // comment. VALUE as written in the script, quotes included for
# text; the comment stays. The script is CP932: sed looks at bytes.
set_setting() {
  LC_ALL=C grep -q "^$2 *= *[^;]*;" "$1" || { echo "run_e2e: no setting $2 in $1" >&2; return 1; }
  LC_ALL=C sed -i "s|^$2 *= *[^;]*;|$2 = $3;|" "$1"
}
