#include "shell/input_history.h"

void history_add(InputHistory* history, const std::string& line) {
  history->lines.push_back(line);
  if (history->lines.size() > INPUT_HISTORY_LIMIT) history->lines.pop_front();
  history->position = history->lines.size();
}

bool history_older(InputHistory* history, std::string* line) {
  if (history->position == 0) return false;
  --history->position;
  *line = history->lines[history->position];
  return true;
}

bool history_newer(InputHistory* history, std::string* line) {
  if (history->position >= history->lines.size()) return false;
  ++history->position;
  *line = history->position < history->lines.size() ? history->lines[history->position] : "";
  return true;
}
