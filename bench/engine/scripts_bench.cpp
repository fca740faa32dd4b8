// Script programs run through the engine and, in the same run, the same programs in Lua 5.4 (when
// lua5.4 is installed), with the time of each and the ratio. Not a test: it only measures.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "engine/call.h"
#include "engine/engine.h"
#include "engine/events.h"
#include "engine/host.h"
#include "engine/script.h"
#include "frontend/statement_parser.h"
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
     "function main() { n = 0; var h; for (r = 0; r < 100; r++) { for (i = 0; i < 1000; i++) { h[\"k\" + "
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

// Runs the chunk and returns the seconds it took (-1 when it failed); *answer receives what it
// printed, without the line end.
double run_lua(const char* chunk, std::string* answer) {
  std::string command = "lua5.4 -e \"" + std::string(chunk) + "\" 2>/dev/null";
  auto start = std::chrono::steady_clock::now();
  FILE* output = popen(command.c_str(), "r");
  if (output == nullptr) return -1;
  char line[64] = "";
  if (std::fgets(line, sizeof line, output) == nullptr) line[0] = '\0';
  int status = pclose(output);
  double elapsed = seconds_since(start);
  *answer = line;
  while (!answer->empty() && (answer->back() == '\n' || answer->back() == '\r'))
    answer->pop_back();
  return status == 0 ? elapsed : -1;
}

}  // namespace

// An argument limits the run to the programs whose name contains it (for profiling one).
int main(int argc, char** argv) {
  const char* only = argc > 1 ? argv[1] : nullptr;
  engine_start();
  bool have_lua = std::system("command -v lua5.4 > /dev/null 2>&1") == 0;
  std::printf("%-22s %10s %10s %8s\n", "program", "lumo s", "lua5.4 s", "ratio");
  double log_sum = 0;
  int counted = 0;
  for (const Program& program : kPrograms) {
    if (only != nullptr && std::strstr(program.name, only) == nullptr) continue;
    std::string lumo_answer;
    std::string lua_answer;
    double lumo = run_lumo(program.lumo, &lumo_answer);
    double lua = have_lua ? run_lua(program.lua, &lua_answer) : -1;
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
