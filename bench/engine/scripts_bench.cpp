// Script programs run through the engine and, in the same run, the same programs in Lua 5.4 (when
// lua5.4 is installed), with the time of each and the ratio. Not a test: it only measures.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <unistd.h>

#include "engine/call.h"
#include "engine/context_parse.h"
#include "engine/engine.h"
#include "engine/events.h"
#include "engine/host.h"
#include "engine/name_table.h"
#include "engine/script.h"
#include "platform/memory.h"

namespace {

struct Program {
  const char* name;
  const char* lumo;  // defines function main()
  const char* lua;   // a chunk
};

const Program kPrograms[] = {
    {"fib(27)",
     "function fib(n) { if (n < 2) return n; return fib(n - 1) + fib(n - 2); }\n"
     "function main() { return fib(27); }",
     "local function fib(n) if n < 2 then return n end return fib(n-1) + fib(n-2) end\n"
     "print(fib(27))"},
    {"10M additions",
     "function main() { s = 0; for (i = 0; i < 10000000; i++) { s = s + i; } return s; }",
     "local s = 0 for i = 0, 9999999 do s = (s + i) % 4294967296 end"
     " print(s >= 2147483648 and s - 4294967296 or s)"},
    {"100k concatenation",
     "function main() { s = \"\"; for (i = 0; i < 100000; i++) { s = s + \"x\"; } return len(s); }",
     "local s = '' for i = 1, 100000 do s = s .. 'x' end print(#s)"},
    {"hash 1000 keys x100",
     "function main() { n = 0; var h; for (r = 0; r < 100; r++) { for (i = 0; i < 1000; i++) { "
     "h[\"k\" + "
     "i] = i; }"
     " for (i = 0; i < 1000; i++) { n = n + h[\"k\" + i]; } } return n; }",
     "local n = 0 local h = {} for r = 1, 100 do for i = 0, 999 do h['k' .. i] = i end"
     " for i = 0, 999 do n = n + h['k' .. i] end end print(n)"},
    {"len/mid/instr x200k",
     "function main() { t = \"the quick brown fox jumps\"; n = 0; for (i = 0; i < 200000; i++) {"
     " n = n + len(t) + len(mid(t, 4, 5)) + instr(t, \"fox\"); } return n; }",
     "local t = 'the quick brown fox jumps' local n = 0 for i = 1, 200000 do"
     " n = n + #t + #string.sub(t, 5, 9) + (string.find(t, 'fox', 1, true) - 1) end print(n)"},
    {"=~ x200k",
     "function main() { n = 0; line = \":nick!user@host PRIVMSG #chan :hello\"; for (i = 0; i < "
     "200000; i++) {"
     " if (line =~ \"PRIVMSG #[a-z]+ :\") n++; } return n; }",
     "local n = 0 local line = ':nick!user@host PRIVMSG #chan :hello' for i = 1, 200000 do"
     " if string.find(line, 'PRIVMSG #%l+ :') then n = n + 1 end end print(n)"},
    // Programs of the kind chat scripts are made of: general code, no loop of a single shape.
    {"branches 5M",
     R"(function main() {
  s = 0; w = "";
  for (i = 0; i < 5000000; i++) {
    r = i % 3;
    if (r == 0) s = s + 1;
    else if (r == 1) s = s - 2;
    else if (r == 5) w = w + "never";
    else s = s + 3;
  }
  return s + len(w);
})",
     R"(local s, w = 0, ''
for i = 0, 4999999 do
  local r = i % 3
  if r == 0 then s = s + 1
  elseif r == 1 then s = s - 2
  elseif r == 5 then w = w .. 'never'
  else s = s + 3 end
end
print(s + #w))"},
    {"calls 2x250k",
     R"(function label(nick, n) { return "<" + nick + n + ">"; }
function mine(t) {
  if (left(t, 3) == "<me") return 1;
  return 0;
}
function main() {
  n = 0;
  for (i = 0; i < 250000; i++) {
    if (i % 4 == 0) who = "me"; else who = "you";
    t = label(who, i % 100);
    if (mine(t)) n = n + len(t);
  }
  return n;
})",
     R"(local function label(nick, n) return '<' .. nick .. n .. '>' end
local function mine(t)
  if string.sub(t, 1, 3) == '<me' then return 1 end
  return 0
end
local n = 0
for i = 0, 249999 do
  local who
  if i % 4 == 0 then who = 'me' else who = 'you' end
  local t = label(who, i % 100)
  if mine(t) ~= 0 then n = n + #t end
end
print(n))"},
    {"word count 20k",
     R"(function main() {
  text = "the cat and the dog saw the bird and the cat ran off";
  // Declared out here: a variable first set inside braces would vanish with them.
  word = "";
  var count;
  for (p = 0; p < 20000; p++) {
    rest = text;
    while (rest != "") {
      at = instr(rest, " ");
      if (at < 0) { word = rest; rest = ""; }
      else { word = left(rest, at); rest = mid(rest, at + 1); }
      count[word] = count[word] + 1;
    }
  }
  return gethashcount(count) + " " + count["the"] + " " + count["cat"] + " " + count["off"];
})",
     R"(local text = 'the cat and the dog saw the bird and the cat ran off'
local count, keys = {}, 0
for p = 1, 20000 do
  local rest = text
  while rest ~= '' do
    local at = string.find(rest, ' ', 1, true)
    local word
    if not at then word = rest; rest = ''
    else word = string.sub(rest, 1, at - 1); rest = string.sub(rest, at + 1) end
    local c = count[word]
    if not c then keys = keys + 1; c = 0 end
    count[word] = c + 1
  end
end
print(keys .. ' ' .. count['the'] .. ' ' .. count['cat'] .. ' ' .. count['off']))"},
    {"chat lines 400k",
     R"(function main() {
  var lines;
  lines[0] = ":alice!~a@127.0.0.1 PRIVMSG #lumo :hello everyone, how is it going?";
  lines[1] = ":bob!~b@127.0.0.1 PRIVMSG lumo :psst, a private word";
  lines[2] = ":carol!~c@127.0.0.1 JOIN :#lumo";
  lines[3] = ":dave!~d@127.0.0.1 PART #lumo :see you tomorrow";
  lines[4] = ":irc.test 353 lumo = #lumo :alice @bob +carol dave";
  lines[5] = "PING :irc.test";
  said = 0; private = 0; joins = 0; parts = 0; names = 0; other = 0;
  for (i = 0; i < 400000; i++) {
    line = lines[i % 6];
    if (line =~ "^:[^ ]+ PRIVMSG ") {
      "^:%nick%!%user% PRIVMSG %target% :%text%" = line;
      if (target =~ "^#") said = said + len(text);
      else private = private + len(nick) + len(text);
    } else if (line =~ "^:[^ ]+ JOIN ") {
      "^:%nick%!%user% JOIN :?%chan%" = line;
      joins = joins + len(nick) + len(chan);
    } else if (line =~ "^:[^ ]+ PART ") {
      "^:%nick%!%user% PART %chan% :%reason%" = line;
      parts = parts + len(reason);
    } else if (line =~ "^:[^ ]+ [0-9][0-9][0-9] ") {
      "^:%server% %code% %me% = %chan% :%list%" = line;
      names = names + len(list) + len(code);
    } else {
      other++;
    }
  }
  return said + " " + private + " " + joins + " " + parts + " " + names + " " + other;
})",
     R"(local lines = {
  ':alice!~a@127.0.0.1 PRIVMSG #lumo :hello everyone, how is it going?',
  ':bob!~b@127.0.0.1 PRIVMSG lumo :psst, a private word',
  ':carol!~c@127.0.0.1 JOIN :#lumo',
  ':dave!~d@127.0.0.1 PART #lumo :see you tomorrow',
  ':irc.test 353 lumo = #lumo :alice @bob +carol dave',
  'PING :irc.test',
}
local said, private, joins, parts, names, other = 0, 0, 0, 0, 0, 0
for i = 0, 399999 do
  local line = lines[i % 6 + 1]
  if string.find(line, '^:[^ ]+ PRIVMSG ') then
    local nick, user, target, text = string.match(line, '^:(.-)!(.-) PRIVMSG (.-) :(.*)')
    if string.find(target, '^#') then said = said + #text
    else private = private + #nick + #text end
  elseif string.find(line, '^:[^ ]+ JOIN ') then
    local nick, user, chan = string.match(line, '^:(.-)!(.-) JOIN :?(.*)')
    joins = joins + #nick + #chan
  elseif string.find(line, '^:[^ ]+ PART ') then
    local nick, user, chan, reason = string.match(line, '^:(.-)!(.-) PART (.-) :(.*)')
    parts = parts + #reason
  elseif string.find(line, '^:[^ ]+ [0-9][0-9][0-9] ') then
    local server, code, me, chan, list = string.match(line, '^:(.-) (.-) (.-) = (.-) :(.*)')
    names = names + #list + #code
  else
    other = other + 1
  end
end
print(said .. ' ' .. private .. ' ' .. joins .. ' ' .. parts .. ' ' .. names .. ' ' .. other))"},
};

std::intptr_t discard(Host*, std::uint32_t, std::uintptr_t, std::intptr_t) {
  return 0;
}
Host quiet_host() {
  Host host{};
  host.error_echo_request = UM_LINEECHO;
  host.deliver = discard;
  return host;
}
Host QuietHost = quiet_host();

double seconds_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Runs the program's main() and returns the seconds it took; *answer receives its result.
double run_lumo(const char* text, std::string* answer) {
  Script* set = create_script_set(0);
  set->host = &QuietHost;
  Script* module = alloc_record<Script>();
  module->name = dup_string("main");
  module->text = dup_string(text);
  module->root = set;
  module->host = set->host;
  set->next = module;
  CallContext owner{};
  owner.script = module;
  module->code = parse_script_text(&owner, module->text, 0);
  assign_name_tables(module);
  run_top_level(module);
  auto start = std::chrono::steady_clock::now();
  ValueNode* result = call_event(set, "main", nullptr, 0, 0);
  double elapsed = seconds_since(start);
  if (result == CALL_FAILED) {
    std::printf("  (lumo program failed)\n");
  } else if (result != nullptr) {
    char* text_result = text_of_value(result->value);
    *answer = text_result != nullptr ? text_result : "";
    release(&text_result);
  }
  free_node(result);
  release_script_set(&set);
  return elapsed;
}

// Runs the chunk from a file of its own (it may span lines and hold any quote) and returns the
// seconds it took (-1 when it failed); *answer receives the first line it printed, without the
// line end.
double run_lua(const char* chunk, std::string* answer) {
  char path[] = "/tmp/lumo_bench_XXXXXX";
  int descriptor = mkstemp(path);
  if (descriptor < 0) return -1;
  std::size_t length = std::strlen(chunk);
  bool written = write(descriptor, chunk, length) == static_cast<ssize_t>(length);
  close(descriptor);
  double elapsed = -1;
  if (written) {
    std::string command = std::string("lua5.4 ") + path + " 2>/dev/null";
    auto start = std::chrono::steady_clock::now();
    FILE* output = popen(command.c_str(), "r");
    if (output != nullptr) {
      char line[256] = "";
      if (std::fgets(line, sizeof line, output) == nullptr) line[0] = '\0';
      int status = pclose(output);
      elapsed = status == 0 ? seconds_since(start) : -1;
      *answer = line;
      while (!answer->empty() && (answer->back() == '\n' || answer->back() == '\r'))
        answer->pop_back();
    }
  }
  unlink(path);
  return elapsed;
}

}  // namespace

// Each program runs `--runs N` times in each language (5 unless told) and the fastest run counts:
// on a shared machine the slower runs measure the neighbours. Another argument limits the run to
// the programs whose name contains it (for profiling one).
int main(int argc, char** argv) {
  const char* only = nullptr;
  int runs = 5;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--runs") == 0 && i + 1 < argc) {
      runs = std::max(1, std::atoi(argv[++i]));
    } else {
      only = argv[i];
    }
  }
  engine_start();
  bool have_lua = std::system("command -v lua5.4 > /dev/null 2>&1") == 0;
  std::printf("%-22s %10s %10s %8s\n", "program", "lumo s", "lua5.4 s", "ratio");
  double log_sum = 0;
  int counted = 0;
  for (const Program& program : kPrograms) {
    if (only != nullptr && std::strstr(program.name, only) == nullptr) continue;
    std::string lumo_answer;
    std::string lua_answer;
    double lumo = -1;
    double lua = -1;
    for (int run = 0; run < runs; ++run) {
      double once = run_lumo(program.lumo, &lumo_answer);
      if (lumo < 0 || once < lumo) lumo = once;
      if (!have_lua) continue;
      once = run_lua(program.lua, &lua_answer);
      if (once < 0) {  // a failed chunk has no time
        lua = -1;
        break;
      }
      if (lua < 0 || once < lua) lua = once;
    }
    // Both must compute the same thing, or the times say nothing.
    if (lua > 0 && lumo_answer != lua_answer) {
      std::printf("  (results differ: lumo %s, lua %s)\n", lumo_answer.c_str(), lua_answer.c_str());
    }
    if (lua > 0) {
      std::printf("%-22s %10.3f %10.3f %8.2f\n", program.name, lumo, lua, lumo / lua);
      log_sum += std::log(lumo / lua);
      ++counted;
    } else {
      std::printf("%-22s %10.3f %10s %8s\n", program.name, lumo, "-", "-");
    }
  }
  if (counted > 0) std::printf("geometric mean ratio: %.2f\n", std::exp(log_sum / counted));
  engine_end();
  return 0;
}
