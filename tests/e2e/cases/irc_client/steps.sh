# The chat script in lumo.exe against a chat server, with a second client on it: session.py does the
# talking, once in each encoding; lumo starts again in between.
# No bytecode caches in the source tree.
export PYTHONDONTWRITEBYTECODE=1
export E2E_IRC_TESTS E2E_WINE E2E_DRIVE E2E_DESKTOP E2E_WORK E2E_ARTEFACTS E2E_CASE IRC_PORT
E2E_IRC_TESTS=$irc_tests
E2E_WINE=$wine64_bin
E2E_DRIVE=$work/lumo_drive.exe
E2E_WORK=$work
E2E_ARTEFACTS=$artefacts
E2E_CASE=$case_name
IRC_PORT=$irc_port

# ISO-2022-JP: messages, a private conversation, /me and /part.
E2E_DESKTOP=$desktop
python3 "$case_dir/session.py" jis talk
drive close expect-gone
wait_lumo_exit

# UTF-8 through the extension: messages and /quit.
set_setting "$work/main.lum" encoding '"utf8"'
start_lumo
E2E_DESKTOP=$desktop
drive wait-main
python3 "$case_dir/session.py" utf8 quit
drive close expect-gone
wait_lumo_exit
