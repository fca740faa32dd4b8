#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cerrno>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/native_path_posix.h"
#include "platform/shell_open.h"

namespace {

// The full path of a program found on PATH, or "".
std::string find_on_path(const char* program) {
  const char* path = std::getenv("PATH");
  if (path == nullptr) return std::string();
  std::string list(path);
  std::size_t start = 0;
  while (start <= list.size()) {
    std::size_t end = list.find(':', start);
    if (end == std::string::npos) end = list.size();
    std::string candidate = list.substr(start, end - start);
    if (!candidate.empty()) {
      candidate += '/';
      candidate += program;
      if (access(candidate.c_str(), X_OK) == 0) return candidate;
    }
    start = end + 1;
  }
  return std::string();
}

// Splits a parameter text as a Windows command line is split: white space separates, double
// quotes group, a backslash before a quote makes it literal.
std::vector<std::string> split_parameters(const std::string& text) {
  std::vector<std::string> words;
  std::string word;
  bool in_word = false;
  bool quoted = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '\\' && i + 1 < text.size() && text[i + 1] == '"') {
      word += '"';
      in_word = true;
      ++i;
    } else if (c == '"') {
      quoted = !quoted;
      in_word = true;
    } else if ((c == ' ' || c == '\t') && !quoted) {
      if (in_word) words.push_back(word);
      word.clear();
      in_word = false;
    } else {
      word += c;
      in_word = true;
    }
  }
  if (in_word) words.push_back(word);
  return words;
}

bool looks_like_address(const char* file) {
  const char* colon = std::strstr(file, "://");
  if (colon == nullptr || colon == file) return false;
  for (const char* c = file; c < colon; ++c) {
    bool letter = (*c >= 'a' && *c <= 'z') || (*c >= 'A' && *c <= 'Z');
    bool allowed = letter || (*c >= '0' && *c <= '9') || *c == '+' || *c == '-' || *c == '.';
    if (!allowed || (c == file && !letter)) return false;
  }
  return true;
}

// Starts the program detached: a middle child starts it and ends at once, so the caller waits
// only for the middle child and the program never becomes a zombie of this process. Everything
// the children use is prepared before the fork.
bool start_detached(const std::string& program, const std::vector<std::string>& arguments,
                    const std::string& directory) {
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& argument : arguments)
    argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  // The grandchild reports a failed exec through a pipe that closes on a successful one.
  int report[2];
  if (pipe2(report, O_CLOEXEC) != 0) return false;
  pid_t middle = fork();
  if (middle < 0) {
    close(report[0]);
    close(report[1]);
    return false;
  }
  if (middle == 0) {
    close(report[0]);
    setsid();
    pid_t program_process = fork();
    if (program_process == 0) {
      int null_device = open("/dev/null", O_RDWR);
      if (null_device >= 0) {
        dup2(null_device, 0);
        dup2(null_device, 1);
        dup2(null_device, 2);
      }
      if (directory.empty() || chdir(directory.c_str()) == 0) execv(argv[0], argv.data());
      char failed = 1;
      ssize_t ignored = write(report[1], &failed, 1);
      (void)ignored;
      _exit(127);
    }
    if (program_process < 0) {
      char failed = 1;
      ssize_t ignored = write(report[1], &failed, 1);
      (void)ignored;
      _exit(1);
    }
    _exit(0);
  }
  close(report[1]);
  // Where SIGCHLD is ignored the middle process is reaped by the system and waitpid fails with
  // ECHILD: then the pipe alone tells (it reaches end of file once the program runs or both end).
  int status = 0;
  pid_t waited;
  do {
    waited = waitpid(middle, &status, 0);
  } while (waited < 0 && errno == EINTR);
  bool middle_ok = waited < 0 || (WIFEXITED(status) && WEXITSTATUS(status) == 0);
  char failed = 0;
  ssize_t got;
  do {
    got = read(report[0], &failed, 1);
  } while (got < 0 && errno == EINTR);
  close(report[0]);
  return middle_ok && got == 0;
}

}  // namespace

bool shell_open(const char* file, const char* parameters, const char* directory,
                std::int32_t show) {
  (void)show;  // no window show state here
  std::string folder = directory != nullptr ? native_path(directory) : std::string();
  if (directory != nullptr) {
    struct stat status {};
    if (folder.empty() || stat(folder.c_str(), &status) != 0 || !S_ISDIR(status.st_mode))
      return false;
  }
  std::vector<std::string> words =
      parameters != nullptr ? split_parameters(parameters) : std::vector<std::string>();
  std::string opener = find_on_path("xdg-open");
  if (looks_like_address(file)) {
    return !opener.empty() && start_detached(opener, {std::string(file)}, folder);
  }
  // A relative file is looked for in the given directory.
  std::string target = native_path(file);
  if (target.empty()) return false;
  if (target[0] != '/' && !folder.empty()) target = folder + "/" + target;
  struct stat status {};
  if (stat(target.c_str(), &status) != 0) return false;
  // The started program changes into the directory first: it gets an absolute path.
  char* absolute = realpath(target.c_str(), nullptr);
  if (absolute == nullptr) return false;
  target = absolute;
  std::free(absolute);
  // A program runs itself with the parameters; a document goes to the desktop's opener.
  if (S_ISREG(status.st_mode) && access(target.c_str(), X_OK) == 0)
    return start_detached(target, words, folder);
  return !opener.empty() && start_detached(opener, {target}, folder);
}
