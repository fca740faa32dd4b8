# lumo.exe with the chat script that the build puts beside it (main.lum, its modules and utf8.dll),
# its settings pointed at the case's own chat server.
source "$(dirname "${BASH_SOURCE[0]}")/../../irc_server.sh"
bin_dir=$(dirname "$lumo_exe")
cp "$bin_dir"/*.lum "$bin_dir/utf8.dll" "$work/"

start_irc_server
set_setting "$work/main.lum" server '"127.0.0.1"'
set_setting "$work/main.lum" port "$irc_port"
set_setting "$work/main.lum" nick '"lumo"'
set_setting "$work/main.lum" channels '"#lumo"'
set_setting "$work/main.lum" encoding '"jis"'
set_setting "$work/main.lum" logging 1
