// What a transport took in and how many answers it sent, for tests waiting on its thread.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <utility>
#include <vector>

namespace sim {

// The transport's thread records; any other thread reads or waits, bounded in time.
template <typename Entry>
class TrafficLog {
 public:
  std::vector<Entry> Received() const {
    const std::lock_guard lock(mutex_);
    return received_;
  }
  std::size_t AnswersSent() const {
    const std::lock_guard lock(mutex_);
    return answers_;
  }
  // Wait, at most for the time given, until so many requests came in / answers went out.
  bool WaitForReceived(std::size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return received_.size() >= count; });
  }
  bool WaitForAnswers(std::size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return answers_ >= count; });
  }

 protected:
  void RecordReceived(Entry entry) {
    {
      const std::lock_guard lock(mutex_);
      received_.push_back(std::move(entry));
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
  std::vector<Entry> received_;
  std::size_t answers_ = 0;
};

}  // namespace sim
