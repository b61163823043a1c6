// Terminating signals noted by a flag-setting handler, and raised again once the watch ends.
#include "platform/signals.h"

#include <signal.h>

#include <array>

namespace plat {
namespace {

volatile sig_atomic_t g_noted = 0;

void Note(int signo) { g_noted = signo; }

constexpr std::array<int, 3> kTerminating = {SIGINT, SIGTERM, SIGHUP};

}  // namespace

struct TerminationWatch::Saved {
  std::array<struct sigaction, kTerminating.size()> previous{};
};

TerminationWatch::TerminationWatch() : saved_(std::make_unique<Saved>()) {
  struct sigaction sa {};
  sa.sa_handler = Note;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = 0;  // no SA_RESTART: a wait must come back when a signal arrives
  for (std::size_t i = 0; i < kTerminating.size(); ++i) {
    sigaction(kTerminating[i], nullptr, &saved_->previous[i]);
    if (saved_->previous[i].sa_handler != SIG_IGN) sigaction(kTerminating[i], &sa, nullptr);
  }
}

TerminationWatch::~TerminationWatch() {
  for (std::size_t i = 0; i < kTerminating.size(); ++i) {
    sigaction(kTerminating[i], &saved_->previous[i], nullptr);
  }
  const int signo = g_noted;
  g_noted = 0;
  if (signo != 0) raise(signo);  // an enclosing watch notes it again; else its usual course
}

bool TerminationRequested() { return g_noted != 0; }

}  // namespace plat
