// Pipe driver: posix_spawn with both standard streams on pipes, bounded reads and waits.
#include "tests/e2e/pipe_driver.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <thread>
#include <vector>

namespace e2e {
PipeProcess::PipeProcess(const PtyProcess::Options& options) {
  int in[2];
  int out[2];
  if (pipe2(in, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
  if (pipe2(out, O_CLOEXEC) != 0) {
    close(in[0]);
    close(in[1]);
    throw std::runtime_error("pipe");
  }
  ExecArgs exec(options);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[0], 0);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  if (!options.workDir.empty()) {
    posix_spawn_file_actions_addchdir_np(&actions, options.workDir.c_str());
  }
  const int spawned = posix_spawn(&pid_, exec.Argv()[0], &actions, nullptr, exec.Argv(), exec.Envp());
  posix_spawn_file_actions_destroy(&actions);
  close(in[0]);
  close(out[1]);
  input_ = in[1];
  output_fd_ = out[0];
  if (spawned != 0) {
    close(input_);
    close(output_fd_);
    throw std::runtime_error(std::string("posix_spawn: ") + std::strerror(spawned));
  }
}

PipeProcess::~PipeProcess() {
  if (!ended_) {
    kill(pid_, SIGKILL);
    int status = 0;
    while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
  }
  CloseInput();
  CloseOutput();
}

bool PipeProcess::Write(std::string_view bytes) {
  // The test itself must not die when the program has stopped reading.
  const sighandler_t previous = signal(SIGPIPE, SIG_IGN);
  bool ok = input_ >= 0;
  while (ok && !bytes.empty()) {
    const ssize_t put = write(input_, bytes.data(), bytes.size());
    if (put > 0) bytes.remove_prefix(static_cast<std::size_t>(put));
    ok = put > 0 || (put < 0 && errno == EINTR);
  }
  signal(SIGPIPE, previous);
  return ok;
}

void PipeProcess::CloseInput() {
  if (input_ >= 0) close(input_);
  input_ = -1;
}

void PipeProcess::CloseOutput() {
  if (output_fd_ >= 0) close(output_fd_);
  output_fd_ = -1;
}

bool PipeProcess::Pump(Clock::time_point deadline) {
  if (output_fd_ < 0) return false;
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  pollfd p{output_fd_, POLLIN, 0};
  const int ready = poll(&p, 1, static_cast<int>(std::max<long long>(0, left.count())));
  if (ready <= 0) return ready == 0 || errno == EINTR;
  char chunk[4096];
  const ssize_t got = read(output_fd_, chunk, sizeof chunk);
  if (got > 0) output_.append(chunk, static_cast<std::size_t>(got));
  return got > 0 || (got < 0 && errno == EINTR);
}

std::optional<std::string> PipeProcess::ReadUntil(std::string_view text,
                                                  std::chrono::milliseconds wait) {
  const auto deadline = Clock::now() + wait;
  for (;;) {
    const std::size_t at = output_.find(text, consumed_);
    if (at != std::string::npos) {
      std::string got = output_.substr(consumed_, at + text.size() - consumed_);
      consumed_ = at + text.size();
      return got;
    }
    if (Clock::now() >= deadline || !Pump(deadline)) return std::nullopt;
  }
}

std::optional<int> PipeProcess::WaitExit(std::chrono::milliseconds wait) {
  const auto deadline = Clock::now() + wait;
  while (!ended_) {
    int status = 0;
    const pid_t got = waitpid(pid_, &status, WNOHANG);
    if (got == pid_) {
      ended_ = true;
      status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
      break;
    }
    if (Clock::now() >= deadline) return std::nullopt;
    // Reading on lets a program that still writes reach its end.
    if (!Pump(std::min(deadline, Clock::now() + std::chrono::milliseconds(10)))) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }
  while (Pump(Clock::now())) {
  }
  return status_;
}

}  // namespace e2e
