// A record that keeps only its most recent entries, so a long-running emulator holds its memory
// flat however much traffic it sees, while still counting everything.
#pragma once

#include <cstddef>
#include <deque>
#include <utility>
#include <vector>

namespace sim {

template <typename Entry>
class Recent {
 public:
  explicit Recent(std::size_t keep) : keep_(keep) {}

  void Add(Entry entry) {
    if (entries_.size() == keep_) entries_.pop_front();
    entries_.push_back(std::move(entry));
    ++total_;
  }

  // The entries kept, oldest first: the last `keep` of all added (or all, when fewer came).
  std::vector<Entry> Kept() const { return {entries_.begin(), entries_.end()}; }
  const Entry& Last() const { return entries_.back(); }
  // How many were added in all, also those no longer kept.
  std::size_t Total() const { return total_; }

 private:
  std::size_t keep_;
  std::deque<Entry> entries_;
  std::size_t total_ = 0;
};

}  // namespace sim
