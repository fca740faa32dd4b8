# Accelerators insert one control byte each and send nothing; Ctrl+Q clears only the current view;
# Up and Down bring back sent lines.
drive expect-view server "server text" expect-view 1 "channel text"

drive input "a" key ctrl+k key ctrl+b key ctrl+u key ctrl+r expect-input 'a\x03\x02\x1f\x16'
drive expect-absent server "sent["
# The view interprets the codes; the length shows that each was one byte.
drive key return expect-view server 'sent[a] 5'
# A colour code with digits typed after it: the view shows the text in colour, without the code.
drive input '\x0304red' key return expect-view server "sent[red] 6"

# History: Up walks back, Down forward, and past the newest gives an empty line.
drive input "one" key return input "two" key return input "" key return
drive expect-view server "sent[two] 3"
drive key up expect-input ""
drive key up expect-input "two"
drive key up expect-input "one"
drive key down expect-input "two"
drive key down expect-input ""
drive key down expect-input ""
# A recalled line is sent as it is.
drive key up key up key return expect-view server "sent[two] 3"
drive key up expect-input "two"
drive input ""

# Ctrl+Q clears the server view while it is current; the channel keeps its text.
drive key ctrl+q expect-view-exact server "" expect-view 1 "channel text"
drive input "show channel" key return expect-views 2 1 expect-view current "channel text"
drive input "after" key return expect-view server "sent[after] 5"
# Now the channel is current: Ctrl+Q clears it and leaves the server view alone.
drive key ctrl+q expect-view-exact 1 "" expect-view server "sent[after] 5"
drive close expect-gone
wait_lumo_exit
