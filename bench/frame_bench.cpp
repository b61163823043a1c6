// Cost of building a request and checking an answer, the work done around every exchange.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "extcmd/frame.h"
#include "extcmd/zanto_extcmd_if.h"

namespace {

void BM_ChecksumFirmwareBlock(benchmark::State& state) {
  std::vector<std::uint8_t> body(1048);
  for (std::size_t i = 0; i < body.size(); ++i) body[i] = static_cast<std::uint8_t>(i * 7);
  for (auto _ : state) benchmark::DoNotOptimize(frame::Checksum(body));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * body.size()));
}
BENCHMARK(BM_ChecksumFirmwareBlock);

// Builds a request and checks an answer in place, as a handler and Transact do, without a link.
void BM_MakeCommandAndCheck(benchmark::State& state) {
  C_ZANTO_EXTCMD_IF obj(5000);
  for (auto _ : state) {
    obj.MakeCommand(CMD_GET_STATUS, 4);
    std::uint8_t* f = obj.GetData() - frame::kHeaderSize;
    frame::Put16(f + frame::kOffDirection, frame::kDirAnswer);
    frame::Put16(f + frame::kOffCommand, 0xA142);
    benchmark::DoNotOptimize(obj.CheckResponse(0xA142));
  }
}
BENCHMARK(BM_MakeCommandAndCheck);

}  // namespace
