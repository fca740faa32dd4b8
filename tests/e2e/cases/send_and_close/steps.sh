# "start" fires once; typed lines reach "send" cut to 254 CP932 bytes; "end" returning 1 keeps the window.
drive expect-view server "started"

# Enter sends, an empty line too; the input line is cleared.
drive input "hello" key return expect-view server "send[hello] 5" expect-input ""
drive key return expect-view server "send[] 0"
# The Send button.
drive input "by button" click expect-view server "send[by button] 9"

# 300 single bytes arrive as 254.
long=$(printf 'x%.0s' $(seq 300))
drive input "$long" key return expect-view server "] 254"
# Two-byte characters: 130 of them (260 bytes) arrive as 127 (254 bytes); one byte before them
# leaves 126 (253 bytes), never half a character.
japanese=$(printf '\\x82\\xa0%.0s' $(seq 130))
drive input "$japanese" key return expect-view server "] 254"
drive input "a$japanese" key return expect-view server "] 253"
shot typed

# The menu's exit runs "end"; it returns 1 once, and the window stays.
drive post-command 40003 expect-view server "end refused" expect-alive
drive input "still here" key return expect-view server "send[still here] 10"
drive close expect-gone
wait_lumo_exit
