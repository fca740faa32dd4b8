# channeladd, channelmove and channeldelete change the selector and the visible view; the user's
# pick switches views; Tab skips hidden views.
welcome='\x82\xe6\x82\xa4\x82\xb1\x82\xbb'
drive expect-view server "$welcome" expect-selector 1 0 expect-views 1 1

# The same name in other letter case is the same channel: one entry each, the server stays current.
drive input add key return expect-view server "handles 1 2 1"
drive expect-selector 3 0 expect-views 3 1 expect-view current "$welcome"
drive input where key return expect-view server "current []"

drive input "move one" key return expect-selector 3 1 expect-views 3 1
drive input where key return expect-view 1 "current [#One]" expect-view current "current [#One]"
drive expect-layout

# Tab from the input line: Send, the visible channel view, then the selector (the other views are
# hidden), then the input line again.
drive key tab expect-focus send key tab expect-focus 1 key tab expect-focus selector
drive key tab expect-focus input

# The user picks the third entry; the view switches when the list closes.
drive pick 2 expect-selector 3 2 expect-views 3 1
drive input where key return expect-view 2 'current [#\x93\xf1\x94\xd4]' expect-view current "current [#"
drive input fill key return expect-view 2 "reverse" expect-view 1 "only in #One"
drive resize 480 300 expect-layout
shot two-channels
drive open-list
shot selector-open
drive close-list expect-selector 3 2

# Back to the server view by handle 0.
drive input "move server" key return expect-selector 3 0 expect-view current "$welcome"
shot server-colours
# Deleting a channel that is not current leaves the current view; the other channel keeps its text.
drive input "delete one" key return expect-selector 2 0 expect-views 2 1 expect-view current "$welcome"
drive expect-view 1 "reverse"
drive input "move two" key return expect-selector 2 1 expect-view current "reverse"
# Deleting the current channel shows the server view.
drive input "delete two" key return expect-selector 1 0 expect-views 1 1 expect-view current "$welcome"
drive input where key return expect-view server "current []"
drive close expect-gone
wait_lumo_exit
