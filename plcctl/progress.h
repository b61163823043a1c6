// The firmware transfer's progress on standard error: one line redrawn on a terminal, or a line
// per tenth in a pipe or file.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

#include "extcmd/commands.h"

namespace plcctl {

class ProgressLine final : public commands::FirmwareProgress {
 public:
  // Shows nothing unless `shown`; `redraw` when standard error is a terminal.
  ProgressLine(bool shown, bool redraw, std::size_t imageBytes);
  void BeforeBlock(std::size_t k, std::size_t blocks) override;
  void Accepted(std::size_t k, std::size_t blocks) override;
  // The pause while the adapter writes its memory: seconds still to wait.
  void Countdown(std::uint32_t secondsLeft);
  // The transfer has ended: a redrawn line is closed.
  void Done();

  // The line for `done` of `blocks` after `elapsed`: percent, blocks, bytes per second and
  // time left (nothing of the last two before a block has gone).
  static std::string Line(std::size_t done, std::size_t blocks, std::size_t bytes,
                          std::chrono::microseconds elapsed);

 private:
  void Show(const std::string& text, bool final);

  bool shown_;
  bool redraw_;
  std::size_t imageBytes_;
  std::chrono::steady_clock::time_point start_;
  int lastTenth_ = 0;
  bool open_ = false;
  bool countdownTold_ = false;  // a redrawn line is on the terminal
};

}  // namespace plcctl
