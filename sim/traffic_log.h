// What a transport took in and how many answers it sent, for tests waiting on its thread.
#pragma once

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <utility>
#include <vector>

#include "sim/recent.h"

namespace sim {

// The transport's thread records; any other thread reads or waits, bounded in time. Only the
// most recent requests are kept (kKeptRequests of them), every one is counted.
template <typename Entry>
class TrafficLog {
 public:
  static constexpr std::size_t kKeptRequests = 256;

  // The most recent requests received, oldest first.
  std::vector<Entry> Received() const {
    const std::lock_guard lock(mutex_);
    return received_.Kept();
  }
  // The requests received after the first `seen` of all (those still kept), and `seen` moved to
  // the count of all: for a reader that follows the traffic as it comes.
  std::vector<Entry> ReceivedSince(std::size_t& seen) const {
    const std::lock_guard lock(mutex_);
    std::vector<Entry> kept = received_.Kept();
    const std::size_t fresh = std::min(received_.Total() - seen, kept.size());
    kept.erase(kept.begin(), kept.end() - static_cast<std::ptrdiff_t>(fresh));
    seen = received_.Total();
    return kept;
  }
  // Each answer is counted just before it goes out: once a tool has it, it is counted.
  std::size_t AnswersSent() const {
    const std::lock_guard lock(mutex_);
    return answers_;
  }
  // Wait, at most for the time given, until so many requests came in / answers went out.
  bool WaitForReceived(std::size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return received_.Total() >= count; });
  }
  bool WaitForAnswers(std::size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return answers_ >= count; });
  }

 protected:
  void RecordReceived(Entry entry) {
    {
      const std::lock_guard lock(mutex_);
      received_.Add(std::move(entry));
    }
    changed_.notify_all();
  }
  void RecordAnswer() {
    {
      const std::lock_guard lock(mutex_);
      ++answers_;
    }
    changed_.notify_all();
  }

 private:
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  Recent<Entry> received_{kKeptRequests};
  std::size_t answers_ = 0;
};

}  // namespace sim
