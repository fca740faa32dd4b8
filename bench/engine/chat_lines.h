// A deterministic stream of server lines, as a chat server would send them to one client: messages
// to channels and to us, joins, parts, quits, nick changes, numerics, and Japanese text in JIS
// escapes. The same count and variant always give the same lines.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The nick the lines are addressed to, and the server's name.
constexpr const char* CHAT_OWN_NICK = "lumo";
constexpr const char* CHAT_SERVER = "irc.test";

// `count` lines, without line ends. They begin as a session does: the welcome, our joins with topic
// and names; the rest is traffic. Members join before they speak and are gone after a part or quit.
std::vector<std::string> make_chat_lines(std::size_t count, std::uint32_t variant = 1);
