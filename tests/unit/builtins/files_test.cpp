// File built-ins beyond what the script tests show: handles shared by script threads while one
// closes them, execscript's host and its separate globals, and the shell.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#if !defined(_WIN32)
#include <signal.h>
#include <sys/stat.h>
#endif

#include "engine/engine.h"
#include "platform/thread.h"
#include "support/script_runner.h"

namespace {

// A fresh folder under the system's temporary folder, removed with the object.
class ScratchFolder {
 public:
  explicit ScratchFolder(const char* name)
      : path_(std::filesystem::temp_directory_path() /
              (std::string(name) + "_" + std::to_string(current_thread_id()))) {
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
  }
  ~ScratchFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  const std::filesystem::path& path() const { return path_; }
  std::string text() const { return path_.string(); }

 private:
  std::filesystem::path path_;
};

std::string script_path(const std::filesystem::path& path) {
  std::string text = path.string();
  return text;
}

}  // namespace

TEST(FileHandles, ThreadsThatShareAHandleWhileItClosesNeverTouchAClosedFile) {
  ScratchFolder folder("lumo_handles");
  std::ofstream(folder.path() / "data.txt") << "0123456789";
  std::string text =
      "function reader(h) {\n"
      "  for (i = 0; i < 300; i++) { setfilepointer(h, 0); fileread(h, s); }\n"
      "}\n"
      "function t(p) {\n"
      "  h = fileopen(\"read\", p);\n"
      "  &reader(h); &reader(h); &reader(h);\n"
      "  sleep(0);\n"
      "  return fileclose(h);\n"
      "}\n";
  ScriptRunner runner(text.c_str());
  ASSERT_TRUE(runner.loaded());
  EXPECT_EQ(runner.call("t", {script_path(folder.path() / "data.txt")}), "0");
  while (active_calls() != 0)
    yield_processor();
  // Readers that came after the close failed with a handle message, and nothing else went wrong.
  for (const std::string& line : runner.errors()) {
    if (line.rfind("### ", 0) == 0) {
      EXPECT_NE(line.find(": Invalid handle"), std::string::npos) << line;
    }
  }
}

TEST(Execscript, RunsWithTheCallersHostAndItsOwnGlobals) {
  ScratchFolder folder("lumo_execscript");
  std::ofstream(folder.path() / "called.lum")
      << "shared = 100;\n"
      << "function main(a, b) { shared++; error(\"inside \" + a + \" \" + shared); return a * b; "
         "}\n";
  std::string text =
      "shared = 1;\n"
      "function t(d) { x[0] = 6; x[1] = 7; r = execscript(d, \"called.lum\", x);\n"
      "  return r + \" \" + execscript(d, \"called.lum\", x) + \" \" + shared; }\n";
  ScriptRunner runner(text.c_str());
  ASSERT_TRUE(runner.loaded());
  EXPECT_EQ(runner.call("t", {folder.text()}), "42 42 1");
  std::vector<std::string> lines = runner.errors();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "inside 6 101");
  EXPECT_EQ(lines[1], "inside 6 101");
}

TEST(CurrentDirectory, LongerThan255BytesGivesTheEmptyString) {
  ScratchFolder folder("lumo_cwd");
  std::filesystem::path saved = std::filesystem::current_path();
  // Grow the path one short component at a time until it passes 255 bytes.
  std::filesystem::path deep = folder.path();
  while (deep.string().size() <= 255)
    deep /= "d";
  std::error_code failed;
  std::filesystem::create_directories(deep, failed);
  std::filesystem::current_path(deep, failed);
  if (failed) GTEST_SKIP() << "the platform refuses a current directory this long";
  ScriptRunner runner("x = 0;");
  std::string inside = runner.eval("getcurrentdirectory()");
  // 254 bytes and the terminator fit.
  std::filesystem::path fitting = deep;
  while (fitting.string().size() > 254)
    fitting = fitting.parent_path();
  std::filesystem::current_path(fitting);
  std::string shorter = runner.eval("getcurrentdirectory()");
  std::filesystem::current_path(saved);
  EXPECT_EQ(inside, "");
  EXPECT_EQ(shorter.size(), fitting.string().size());
}

TEST(Shell, RefusesAFileThatIsNotThere) {
  ScratchFolder folder("lumo_shell_missing");
  ScriptRunner runner("x = 0;");
  std::string call = "shell(\"" + script_path(folder.path() / "missing.exe") + "\")";
  // Backslashes of Windows paths are escapes inside a script string.
  std::string escaped;
  for (char c : call) {
    if (c == '\\') escaped += '\\';
    escaped += c;
  }
  EXPECT_EQ(runner.eval(escaped), "-1");
}

#if !defined(_WIN32)
TEST(Shell, StartsAProgramWithItsParametersWithoutWaiting) {
  ScratchFolder folder("lumo_shell");
  std::filesystem::path program = folder.path() / "note.sh";
  std::ofstream(program) << "#!/bin/sh\nsleep 1\necho \"$1|$2\" > marker.txt\n";
  chmod(program.c_str(), 0755);
  ScriptRunner runner("function t(f, d) { return shell(f, \"one \\\"two words\\\"\", d); }");
  ASSERT_TRUE(runner.loaded());
  auto begin = std::chrono::steady_clock::now();
  EXPECT_EQ(runner.call("t", {"note.sh", folder.text()}), "0");
  // The program sleeps first; the call did not wait for it.
  EXPECT_FALSE(std::filesystem::exists(folder.path() / "marker.txt"));
  std::string written;
  for (int i = 0; i < 200 && written.empty(); ++i) {
    sleep_milliseconds(50);
    std::ifstream in(folder.path() / "marker.txt");
    std::getline(in, written);
  }
  EXPECT_EQ(written, "one|two words");
  EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(30));
}

// A host that ignores SIGCHLD has its children reaped by the system: the start is still told by
// its outcome, and the call returns instead of waiting on a child that is gone.
TEST(Shell, StartsAProgramWhereChildrenAreReapedBySystem) {
  ScratchFolder folder("lumo_shell_reaped");
  std::filesystem::path program = folder.path() / "run.sh";
  std::ofstream(program) << "#!/bin/sh\nexit 0\n";
  chmod(program.c_str(), 0755);
  struct sigaction old_action {};
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGCHLD, &ignore, &old_action);
  ScriptRunner runner("function t(f, d) { return shell(f, \"\", d); }");
  ASSERT_TRUE(runner.loaded());
  EXPECT_EQ(runner.call("t", {"run.sh", folder.text()}), "0");
  sigaction(SIGCHLD, &old_action, nullptr);
}
#endif
