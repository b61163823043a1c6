// Starting a program from a command line with posix_spawnp, no shell in between.
#include "platform/process.h"

#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

extern char** environ;

namespace plat {

bool RunCommandLine(const char* commandLine) {
  // Words are separated by blanks, tabs and line ends, as the system's own command-line
  // parser separates them; the words are handed over as they are.
  std::vector<std::string> words;
  std::istringstream in(commandLine);
  for (std::string word; in >> word;) words.push_back(word);
  if (words.empty()) return false;

  std::vector<char*> argv;
  for (auto& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);

  pid_t pid = 0;
  if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return false;
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return true;
}

}  // namespace plat
