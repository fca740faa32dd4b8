# Reload, connect and disconnect without a connection, the interrupt, and the menu as shown.
drive expect-view-exact server '\r\ntop level ran\r\nstarted'

# Reload (menu 40018): the top level runs again, "start" does not.
drive command 40018 expect-view-exact server '\r\ntop level ran\r\nstarted\r\ntop level ran'

# Connect without "server" and "port" does nothing; disconnect without a connection calls no
# script function ("close" would show).
drive command 40001 command 40002 expect-absent server "close called"
drive expect-view-exact server '\r\ntop level ran\r\nstarted\r\ntop level ran'

# A "send" that never ends: Ctrl+Break stops it; other lines are handled meanwhile and after.
drive input loop key return expect-view server "looping"
drive input check key return expect-view server "loop running"
drive key ctrl+break
drive input check key return expect-view server "loop stopped"
drive input "after" key return expect-view server "sent after"
# The interrupt command itself, with another endless loop.
drive key ctrl+q input loop key return expect-view server "looping" command 40017
drive input check key return expect-view server "loop stopped"
# Reload while a loop runs stops it first.
drive key ctrl+q input loop key return expect-view server "looping" command 40018
drive input check key return expect-view-exact server '\r\nlooping\r\ntop level ran\r\nloop stopped'
# A thread that keeps asking the window to echo while reload and the interrupt wait for it.
drive key ctrl+q input "echo loop" key return expect-view server "..." post-command 40018
drive input "after echoes" key return expect-view server "sent after echoes"
drive input "echo loop" key return expect-view server "sent after echoes..." key ctrl+break
drive key ctrl+q input "quiet" key return expect-view-exact server '\r\nsent quiet'

# The menu, opened from the keyboard.
drive key alt+s
shot menu
drive key escape key escape
drive close expect-gone
wait_lumo_exit
