// Pseudo-terminal driver: forkpty, bounded reads and waits, keys typed only when they are asked for.
#include "tests/e2e/pty_driver.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace e2e {
namespace {

// A console's terminal: line editing with echo, Ctrl-C and Ctrl-D, Enter read as a line feed;
// the program's output goes through untranslated.
termios ConsoleTermios() {
  termios t{};
  t.c_iflag = ICRNL | IUTF8;
  t.c_oflag = 0;
  t.c_cflag = CS8 | CREAD | CLOCAL;
  t.c_lflag = ICANON | ECHO | ECHOE | ECHOK | ISIG | IEXTEN;
  t.c_cc[VINTR] = 0x03;
  t.c_cc[VQUIT] = 0x1C;
  t.c_cc[VERASE] = 0x7F;
  t.c_cc[VKILL] = 0x15;
  t.c_cc[VEOF] = 0x04;
  t.c_cc[VSUSP] = 0x1A;
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;
  cfsetispeed(&t, B38400);
  cfsetospeed(&t, B38400);
  return t;
}

std::vector<char*> Pointers(std::vector<std::string>& words) {
  std::vector<char*> p;
  for (std::string& w : words) p.push_back(w.data());
  p.push_back(nullptr);
  return p;
}

}  // namespace

ExecArgs::ExecArgs(const PtyProcess::Options& options) : argWords_{options.program} {
  argWords_.insert(argWords_.end(), options.args.begin(), options.args.end());
  for (char** e = environ; *e != nullptr; ++e) envWords_.emplace_back(*e);
  for (const std::string& change : options.env) {
    const std::string name = change.substr(0, change.find('=') + 1);
    std::erase_if(envWords_, [&name](const std::string& e) { return e.rfind(name, 0) == 0; });
    envWords_.push_back(change);
  }
  argv_ = Pointers(argWords_);
  envp_ = Pointers(envWords_);
}

PtyProcess::PtyProcess(const Options& options) {
  // Everything the child needs is prepared here: after the fork only exec-safe calls run.
  ExecArgs exec(options);
  const char* dir = options.workDir.empty() ? nullptr : options.workDir.c_str();

  int pipeEnds[2] = {-1, -1};
  if (options.outputPipe && pipe2(pipeEnds, O_CLOEXEC) != 0) {
    throw std::runtime_error(std::string("pipe: ") + std::strerror(errno));
  }
  termios t = ConsoleTermios();
  winsize size{24, 80, 0, 0};
  pid_ = forkpty(&master_, nullptr, &t, &size);
  if (pid_ < 0) throw std::runtime_error(std::string("forkpty: ") + std::strerror(errno));
  if (pid_ == 0) {
    if (pipeEnds[1] >= 0 && dup2(pipeEnds[1], STDOUT_FILENO) < 0) _exit(126);
    if (dir != nullptr && chdir(dir) != 0) _exit(126);
    execve(exec.Argv()[0], exec.Argv(), exec.Envp());
    _exit(127);
  }
  fcntl(master_, F_SETFD, FD_CLOEXEC);
  if (pipeEnds[1] >= 0) close(pipeEnds[1]);
  outputPipe_ = pipeEnds[0];
}

PtyProcess::~PtyProcess() {
  if (!ended_) {
    kill(pid_, SIGKILL);
    Reap(true);
  }
  if (master_ >= 0) close(master_);
  if (outputPipe_ >= 0) close(outputPipe_);
}

bool PtyProcess::Pump(Clock::time_point deadline) {
  if (outputClosed_) return false;
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  // With an output pipe the terminal is read as well, so that drawing on it never blocks.
  pollfd p[2] = {{outputPipe_ >= 0 ? outputPipe_ : master_, POLLIN, 0}, {-1, POLLIN, 0}};
  if (outputPipe_ >= 0 && !terminalClosed_) p[1].fd = master_;
  const int ready = poll(p, 2, static_cast<int>(std::max<long long>(0, left.count())));
  if (ready <= 0) return ready == 0 || errno == EINTR;
  char chunk[4096];
  if (p[1].revents != 0) {
    const ssize_t got = read(master_, chunk, sizeof chunk);
    if (got > 0) terminal_.append(chunk, static_cast<std::size_t>(got));
    terminalClosed_ = got == 0 || (got < 0 && errno != EINTR && errno != EAGAIN);
  }
  if (p[0].revents == 0) return true;
  const ssize_t got = read(p[0].fd, chunk, sizeof chunk);
  if (got > 0) {
    output_.append(chunk, static_cast<std::size_t>(got));
    return true;
  }
  if (got < 0 && errno == EINTR) return true;
  // EIO on the terminal: every holder of its other side has closed it; 0 on the pipe: every
  // writer has.
  outputClosed_ = true;
  return false;
}

std::optional<std::string> PtyProcess::ReadUntil(std::string_view text,
                                                 std::chrono::milliseconds wait) {
  return ReadUntilAny({text}, wait);
}

std::optional<std::string> PtyProcess::ReadUntilAny(std::initializer_list<std::string_view> texts,
                                                    std::chrono::milliseconds wait) {
  const auto deadline = Clock::now() + wait;
  for (;;) {
    std::size_t best = std::string::npos;
    std::size_t bestEnd = 0;
    for (const std::string_view text : texts) {
      const std::size_t at = output_.find(text, consumed_);
      if (at < best) {
        best = at;
        bestEnd = at + text.size();
      }
    }
    if (best != std::string::npos) {
      std::string got = output_.substr(consumed_, bestEnd - consumed_);
      consumed_ = bestEnd;
      return got;
    }
    if (Clock::now() >= deadline || !Pump(deadline)) return std::nullopt;
  }
}

void PtyProcess::Write(std::string_view bytes) {
  // Keeps reading meanwhile, so that a long echo can never block the terminal.
  const auto deadline = Clock::now() + kDefaultWait;
  while (!bytes.empty() && Clock::now() < deadline) {
    pollfd p{master_, POLLOUT | POLLIN, 0};
    if (poll(&p, 1, 50) <= 0) continue;
    if (p.revents & POLLIN) Pump(Clock::now());
    if (p.revents & POLLOUT) {
      const ssize_t put = write(master_, bytes.data(), bytes.size());
      if (put > 0) bytes.remove_prefix(static_cast<std::size_t>(put));
      if (put < 0 && errno != EINTR && errno != EAGAIN) return;
    }
    if (p.revents & (POLLERR | POLLHUP)) return;
  }
}

void PtyProcess::SendLine(std::string_view line) {
  std::string bytes(line);
  bytes.push_back('\r');
  Write(bytes);
}

bool PtyProcess::WaitForKeyMode(std::chrono::milliseconds wait) {
  const auto deadline = Clock::now() + wait;
  for (;;) {
    termios t{};
    if (tcgetattr(master_, &t) == 0 && (t.c_lflag & ICANON) == 0) return true;
    if (Clock::now() >= deadline) return false;
    Pump(std::min(deadline, Clock::now() + 5ms));
  }
}

bool PtyProcess::InLineMode() const {
  termios t{};
  return tcgetattr(master_, &t) == 0 && (t.c_lflag & ICANON) != 0 && (t.c_lflag & ECHO) != 0;
}

termios PtyProcess::Modes() const {
  termios t{};
  tcgetattr(master_, &t);
  return t;
}

bool PtyProcess::SendKey(char key, std::chrono::milliseconds wait) {
  if (!WaitForKeyMode(wait)) return false;
  Write(std::string_view(&key, 1));
  return true;
}

void PtyProcess::SendEof() { Write("\x04"); }

bool PtyProcess::Reap(bool block) {
  int status = 0;
  pid_t got;
  do {
    got = waitpid(pid_, &status, block ? 0 : WNOHANG);
  } while (got < 0 && errno == EINTR);
  if (got != pid_) return false;
  ended_ = true;
  status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
  return true;
}

std::optional<int> PtyProcess::WaitExit(std::chrono::milliseconds wait) {
  const auto deadline = Clock::now() + wait;
  while (!ended_ && !Reap(false)) {
    if (Clock::now() >= deadline) return std::nullopt;
    // Draining the output lets a program that still writes reach its end.
    if (!Pump(std::min(deadline, Clock::now() + 10ms))) std::this_thread::sleep_for(5ms);
  }
  // What it wrote last may still be on its way through the terminal: take it in until the
  // terminal reports its other side closed (or, should another process still hold it, briefly).
  const auto drained = Clock::now() + 500ms;
  while (Clock::now() < drained && Pump(drained)) {
  }
  return status_;
}

}  // namespace e2e
