// Pipe driver on the toolkit: both standard streams on pipes, bounded reads, writes and waits.
#include "tests/e2e/pipe_driver.h"

namespace e2e {

PipeProcess::PipeProcess(const PtyProcess::Options& options) {
  toolkit::PipeEnds in = toolkit::MakePipe();
  toolkit::PipeEnds out = toolkit::MakePipe();
  child_ = toolkit::Child::Spawn(options, {.in = in.read.get(), .out = out.write.get()});
  input_ = std::move(in.write);
  output_ = toolkit::Inbound(std::move(out.read));
}

bool PipeProcess::Write(std::string_view bytes) {
  return toolkit::WriteAll(input_.get(), bytes, toolkit::Clock::now() + kDefaultWait, streams_);
}

std::optional<std::string> PipeProcess::ReadUntil(std::string_view text,
                                                  std::chrono::milliseconds wait) {
  const std::string_view texts[] = {text};
  return toolkit::ReadUntilAny(output_, texts, toolkit::Clock::now() + wait);
}

std::optional<int> PipeProcess::WaitExit(std::chrono::milliseconds wait) {
  const auto status = toolkit::WaitExit(child_, streams_, toolkit::Clock::now() + wait);
  // What it wrote before its end and is still in the pipe.
  while (status && toolkit::Pump(streams_, nullptr, toolkit::Clock::now())) {
  }
  return status;
}

}  // namespace e2e
