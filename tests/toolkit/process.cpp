// Child processes on pipes or a pseudo-terminal, and the one poll loop every driver waits in.
#include "tests/toolkit/process.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <system_error>

extern char** environ;

namespace toolkit {
namespace {

[[noreturn]] void Throw(const std::string& what, int error = errno) {
  throw std::system_error(error, std::generic_category(), what);
}

// The argument and environment arrays exec takes for a command (its environment: this
// process's, with the command's entries added or replaced), prepared before a fork so that the
// child runs only exec-safe calls.
class ExecArgs {
 public:
  explicit ExecArgs(const Command& command) : argWords_{command.program} {
    argWords_.insert(argWords_.end(), command.args.begin(), command.args.end());
    for (char** e = environ; *e != nullptr; ++e) envWords_.emplace_back(*e);
    for (const std::string& change : command.env) {
      const std::string name = change.substr(0, change.find('=') + 1);
      std::erase_if(envWords_, [&name](const std::string& e) { return e.starts_with(name); });
      envWords_.push_back(change);
    }
    argv_ = Pointers(argWords_);
    envp_ = Pointers(envWords_);
  }
  char* const* Argv() const { return argv_.data(); }
  char* const* Envp() const { return envp_.data(); }

 private:
  static std::vector<char*> Pointers(std::vector<std::string>& words) {
    std::vector<char*> p;
    for (std::string& w : words) p.push_back(w.data());
    p.push_back(nullptr);
    return p;
  }

  std::vector<std::string> argWords_;
  std::vector<std::string> envWords_;
  std::vector<char*> argv_;
  std::vector<char*> envp_;
};

// posix_spawn's file actions, destroyed with their owner.
class FileActions {
 public:
  FileActions() { posix_spawn_file_actions_init(&actions_); }
  ~FileActions() { posix_spawn_file_actions_destroy(&actions_); }
  FileActions(const FileActions&) = delete;
  FileActions& operator=(const FileActions&) = delete;
  void Dup(int fd, int to) {
    if (fd >= 0) posix_spawn_file_actions_adddup2(&actions_, fd, to);
  }
  void Chdir(const std::string& dir) {
    if (!dir.empty()) posix_spawn_file_actions_addchdir_np(&actions_, dir.c_str());
  }
  const posix_spawn_file_actions_t* Get() const { return &actions_; }

 private:
  posix_spawn_file_actions_t actions_;
};

int StatusOf(int waitStatus) {
  return WIFEXITED(waitStatus) ? WEXITSTATUS(waitStatus) : -WTERMSIG(waitStatus);
}

// Milliseconds for poll until the deadline, rounded up so that a wait never ends early.
int PollTimeout(Clock::time_point deadline) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
  return static_cast<int>(std::clamp<long long>(left.count(), 0, 24 * 3600 * 1000));
}

// One poll, until the deadline at most, of the readable streams and the extra descriptors; takes
// in what the streams have ready and leaves the extras' events in them. poll's result (0 also
// when there was nothing to poll).
int PollStreams(std::span<Inbound* const> streams, std::span<pollfd> extra,
                Clock::time_point deadline) {
  std::vector<pollfd> fds(extra.begin(), extra.end());
  std::vector<Inbound*> polled;
  for (Inbound* s : streams) {
    if (s->Readable()) {
      fds.push_back({s->Fd(), POLLIN, 0});
      polled.push_back(s);
    }
  }
  if (fds.empty()) return 0;
  const int ready = poll(fds.data(), fds.size(), PollTimeout(deadline));
  for (std::size_t i = 0; i < extra.size(); ++i) extra[i].revents = fds[i].revents;
  for (std::size_t i = 0; i < polled.size(); ++i) {
    if (ready > 0 && fds[extra.size() + i].revents != 0) polled[i]->ReadReady();
  }
  return ready;
}

}  // namespace

Child::Child(pid_t pid) : pid_(pid), exit_(static_cast<int>(syscall(SYS_pidfd_open, pid, 0))) {
  if (!exit_) {
    const int error = errno;
    Kill();
    Throw("pidfd_open", error);
  }
}

Child Child::Spawn(const Command& command, const Stdio& stdio) {
  const ExecArgs exec(command);
  FileActions actions;
  actions.Dup(stdio.in, STDIN_FILENO);
  actions.Dup(stdio.out, STDOUT_FILENO);
  actions.Dup(stdio.err, STDERR_FILENO);
  actions.Chdir(command.workDir);
  pid_t pid = -1;
  const int error =
      posix_spawn(&pid, exec.Argv()[0], actions.Get(), nullptr, exec.Argv(), exec.Envp());
  if (error != 0) Throw("cannot start " + command.program, error);
  return Child(pid);
}

std::pair<Child, UniqueFd> Child::OnTerminal(const Command& command, const termios& modes,
                                             int out) {
  // Everything the child needs is prepared here: after the fork only exec-safe calls run.
  const ExecArgs exec(command);
  const char* dir = command.workDir.empty() ? nullptr : command.workDir.c_str();
  termios t = modes;
  winsize size{24, 80, 0, 0};
  int master = -1;
  const pid_t pid = forkpty(&master, nullptr, &t, &size);
  if (pid < 0) Throw("forkpty");
  if (pid == 0) {
    if (out >= 0 && dup2(out, STDOUT_FILENO) < 0) _exit(126);
    if (dir != nullptr && chdir(dir) != 0) _exit(126);
    execve(exec.Argv()[0], exec.Argv(), exec.Envp());
    _exit(127);
  }
  UniqueFd terminal(master);
  fcntl(master, F_SETFD, FD_CLOEXEC);
  return {Child(pid), std::move(terminal)};
}

Child::Child(Child&& other) noexcept
    : pid_(std::exchange(other.pid_, -1)),
      exit_(std::move(other.exit_)),
      status_(std::exchange(other.status_, std::nullopt)) {}

Child& Child::operator=(Child&& other) noexcept {
  if (this != &other) {
    Kill();
    pid_ = std::exchange(other.pid_, -1);
    exit_ = std::move(other.exit_);
    status_ = std::exchange(other.status_, std::nullopt);
  }
  return *this;
}

bool Child::Reap() {
  if (pid_ < 0 || status_) return status_.has_value();
  int status = 0;
  pid_t got;
  do {
    got = waitpid(pid_, &status, WNOHANG);
  } while (got < 0 && errno == EINTR);
  if (got == pid_) status_ = StatusOf(status);
  return status_.has_value();
}

std::optional<int> Child::Wait(std::chrono::milliseconds limit) {
  return WaitExit(*this, {}, Clock::now() + limit);
}

std::optional<int> Child::Kill() {
  if (pid_ < 0) return std::nullopt;
  if (!Reap()) {
    kill(pid_, SIGKILL);
    // Bounded: nothing outlives SIGKILL for long.
    int status = 0;
    while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    status_ = StatusOf(status);
  }
  return status_;
}

void Inbound::ReadReady() {
  char chunk[4096];
  const ssize_t got = read(fd_.get(), chunk, sizeof chunk);
  if (got > 0) {
    text_.append(chunk, static_cast<std::size_t>(got));
  } else if (got == 0 || (errno != EINTR && errno != EAGAIN)) {
    // 0 from a pipe: every writer has closed it; EIO from a terminal: every holder of its other
    // side has.
    ended_ = true;
  }
}

std::optional<std::string> Inbound::Take(std::span<const std::string_view> texts) {
  std::size_t best = std::string::npos;
  std::size_t bestEnd = 0;
  for (const std::string_view text : texts) {
    const std::size_t at = text_.find(text, consumed_);
    if (at < best) {
      best = at;
      bestEnd = at + text.size();
    }
  }
  if (best == std::string::npos) return std::nullopt;
  std::string got = text_.substr(consumed_, bestEnd - consumed_);
  consumed_ = bestEnd;
  return got;
}

bool Pump(std::span<Inbound* const> streams, Child* child, Clock::time_point deadline) {
  const bool watchChild = child != nullptr && !child->Ended();
  pollfd ended{watchChild ? child->ExitFd() : -1, POLLIN, 0};
  const int ready = PollStreams(streams, std::span(&ended, watchChild ? 1 : 0), deadline);
  if (ended.revents != 0) child->Reap();
  return ready > 0 || (ready < 0 && errno == EINTR);
}

std::optional<std::string> ReadUntilAny(Inbound& from, std::span<const std::string_view> texts,
                                        Clock::time_point deadline,
                                        std::span<Inbound* const> others) {
  std::vector<Inbound*> streams{&from};
  for (Inbound* s : others) {
    if (s != &from) streams.push_back(s);
  }
  for (;;) {
    if (auto got = from.Take(texts)) return got;
    if (!from.Readable() || Clock::now() >= deadline) return std::nullopt;
    Pump(streams, nullptr, deadline);
  }
}

std::optional<int> WaitExit(Child& child, std::span<Inbound* const> streams,
                            Clock::time_point deadline) {
  while (!child.Reap()) {
    if (Clock::now() >= deadline) return std::nullopt;
    Pump(streams, &child, deadline);
  }
  return child.Status();
}

bool WriteAll(int fd, std::string_view bytes, Clock::time_point deadline,
              std::span<Inbound* const> streams) {
  if (fd < 0) return false;
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
  // The test itself must not die when the program has stopped reading.
  const sighandler_t previous = signal(SIGPIPE, SIG_IGN);
  bool ok = true;
  while (ok && !bytes.empty()) {
    pollfd out{fd, POLLOUT, 0};
    const int ready = PollStreams(streams, std::span(&out, 1), deadline);
    if (ready < 0 && errno == EINTR) continue;
    if (out.revents & POLLOUT) {
      const ssize_t put = write(fd, bytes.data(), bytes.size());
      if (put > 0) bytes.remove_prefix(static_cast<std::size_t>(put));
      ok = put >= 0 || errno == EINTR || errno == EAGAIN;
    } else {
      // The deadline, or the other side gone (POLLERR, POLLHUP).
      ok = ready > 0 && out.revents == 0;
    }
  }
  signal(SIGPIPE, previous);
  return ok;
}

}  // namespace toolkit
