// Percent, blocks, rate and time left of a firmware transfer; then the memory write and its pause.
#include "plcctl/progress.h"

#include <algorithm>
#include <cstdio>

#include "extcmd/firmware_block.h"
#include "platform/console_io.h"

namespace plcctl {

ProgressLine::ProgressLine(bool shown, bool redraw, std::size_t imageBytes)
    : shown_(shown),
      redraw_(redraw),
      imageBytes_(imageBytes),
      start_(std::chrono::steady_clock::now()) {}

std::string ProgressLine::Line(std::size_t done, std::size_t blocks, std::size_t bytes,
                               std::chrono::microseconds elapsed) {
  char text[128];
  const unsigned percent = blocks == 0 ? 100u : static_cast<unsigned>(done * 100 / blocks);
  int n = std::snprintf(text, sizeof text, "firmware: %3u%% %zu/%zu blocks", percent, done, blocks);
  const double seconds = std::chrono::duration<double>(elapsed).count();
  if (done > 0 && seconds > 0) {
    const double perSecond = static_cast<double>(bytes) / seconds;
    const double leftSeconds =
        seconds * static_cast<double>(blocks - done) / static_cast<double>(done);
    std::snprintf(text + n, sizeof text - static_cast<std::size_t>(n),
                  ", %.0f bytes/s, %.0f s left", perSecond, leftSeconds);
  }
  return text;
}

void ProgressLine::Show(const std::string& text, bool final) {
  if (!shown_) return;
  if (redraw_) {
    // Back to the line's start, the new text, and the rest of the old one cleared.
    plat::WriteErrorOutput("\r" + text + "\x1b[K" + (final ? "\n" : ""));
    open_ = !final;
  } else {
    plat::WriteErrorOutput(text + "\n");
  }
}

void ProgressLine::BeforeBlock(std::size_t k, std::size_t blocks) {
  if (k + 1 == blocks) Show("firmware: writing memory", false);
}

void ProgressLine::Accepted(std::size_t k, std::size_t blocks) {
  const std::size_t done = k + 1;
  if (done == blocks) return;  // the memory write follows
  const std::size_t bytes = std::min(done * FW_BLOCK_SIZE, imageBytes_);
  const auto elapsed = std::chrono::duration_cast<std::chrono::microseconds>(
      std::chrono::steady_clock::now() - start_);
  const std::string line = Line(done, blocks, bytes, elapsed);
  if (redraw_) {
    Show(line, false);
    return;
  }
  const int tenth = static_cast<int>(done * 10 / blocks);
  if (tenth > lastTenth_) {
    lastTenth_ = tenth;
    Show(line, false);
  }
}

void ProgressLine::Countdown(std::uint32_t secondsLeft) {
  // In a pipe the pause is told once, when it begins.
  if (!redraw_ && countdownTold_) return;
  countdownTold_ = true;
  Show("firmware: written, the adapter takes " + std::to_string(secondsLeft) + " s more", false);
}

void ProgressLine::Done() {
  if (shown_ && redraw_ && open_) plat::WriteErrorOutput("\n");
  open_ = false;
}

}  // namespace plcctl
