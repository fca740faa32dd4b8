// The input line's memory of sent lines: Up and Down bring them back, newest first.
#pragma once

#include <deque>
#include <string>

constexpr std::size_t INPUT_HISTORY_LIMIT = 100;

struct InputHistory {
  std::deque<std::string> lines;  // oldest first, at most INPUT_HISTORY_LIMIT
  // The line being shown: lines.size() means none (the fresh line below the newest).
  std::size_t position = 0;
};

// A line was sent: it becomes the newest (empty lines too, as they are sent too), and browsing
// starts again below it.
void history_add(InputHistory* history, const std::string& line);
// Up: the next older line. False at the oldest (or with no lines): the input line stays as it is.
bool history_older(InputHistory* history, std::string* line);
// Down: the next newer line; past the newest an empty line. False when already below the newest.
bool history_newer(InputHistory* history, std::string* line);
