// Update Firmware in process on a real serial link: the handler's blocks cross a pseudo-terminal to
// the emulated adapter, which puts the image together again. The console is scripted, so the
// pause after the last block is recorded instead of slept and only the line takes its time
// (at least 100 ms a block with the tools' receive; a full image goes through PromptSerialIf).
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "extcmd/firmware_block.h"
#include "extcmd/frame.h"
#include "extcmd/prompt_serial.h"
#include "extcmd/zanto_extcmd_if.h"
#include "sample/handlers.h"
#include "sim/adapter.h"
#include "sim/serial_server.h"
#include "tests/e2e/scene.h"
#include "tests/texts.h"
#include "tests/unit/fixtures.h"

namespace {

using namespace std::chrono_literals;

// The tool's object, a file for the image and the adapter on the far end of a pseudo-terminal.
class FirmwareOverSerial : public ::testing::Test {
 protected:
  // Runs the handler on the image with its file name typed and a key for a key prompt; the
  // console's output is kept.
  int Update(C_ZANTO_EXTCMD_IF& link, const sim::Bytes& image) {
    e2e::WriteFile(scratch.Path(), "image.bin", image);
    testing_support::ScriptedConsole io((scratch.Path() / "image.bin").string() + "\nk");
    EXPECT_EQ(link.OpenSerial(server.PortName().c_str(), 115200, 8, 0, 0), 1);
    const int result = UpdateFirmware(link);
    link.CloseSerial();
    output = io.output;
    pauses = io.pauses;
    return result;
  }

  e2e::ScratchDir scratch;
  sim::Adapter adapter;
  sim::SerialServer server{adapter, {}};
  std::string output;
  std::vector<std::uint32_t> pauses;
};

class FirmwareImageOverSerial : public FirmwareOverSerial,
                                public ::testing::WithParamInterface<std::size_t> {};

// Every block arrives once, in order, with its checksum; nothing is lost or reordered.
TEST_P(FirmwareImageOverSerial, IsReassembledEqualToTheFile) {
  const sim::Bytes image = e2e::FirmwareImage(GetParam());
  const std::size_t blocks = fwblock::BlockCount(image.size());
  C_ZANTO_EXTCMD_IF link(5000);
  EXPECT_EQ(Update(link, image), 1);

  EXPECT_EQ(adapter.Images(), std::vector<sim::Bytes>{image});
  EXPECT_TRUE(adapter.Violations().empty());
  const auto received = server.Received();
  EXPECT_EQ(received.size(), blocks);
  for (const sim::LineFrame& f : received) {
    EXPECT_TRUE(f.checksumOk);
    EXPECT_EQ(f.frame.size(), frame::kHeaderSize + FW_BLOCK_RECORD_SIZE);
  }
  // A progress dot for each block but the last, then the wait for the adapter's memory.
  EXPECT_EQ(output.rfind(tool_texts::kImagePrompt, 0), 0u) << output;
  EXPECT_TRUE(output.ends_with("\n Wait for writing memory\n Success update firmware\n")) << output;
  EXPECT_EQ(static_cast<std::size_t>(std::count(output.begin(), output.end(), '.')), blocks - 1);
  EXPECT_EQ(pauses, std::vector<std::uint32_t>{10000});
  EXPECT_EQ(link.m_nTimeout, 5000);
}

// One block; a full and a just-over-full block; a short last block; and 40 blocks, the last of
// them short.
INSTANTIATE_TEST_SUITE_P(Sizes, FirmwareImageOverSerial,
                         ::testing::Values(1, 1024, 1025, 3000, 40 * 1024 - 1000),
                         [](const auto& test) { return "Bytes" + std::to_string(test.param); });

// A full image, 832 blocks, each answered as soon as it is in: the answer to every block is
// taken whole, none is lost or taken twice, and the adapter has the image.
TEST_F(FirmwareOverSerial, AFullImageThroughThePromptReceive) {
  const sim::Bytes image = e2e::FirmwareImage(FW_IMAGE_MAX);
  PromptSerialIf link(5000);
  EXPECT_EQ(Update(link, image), 1) << output;
  EXPECT_EQ(adapter.Images(), std::vector<sim::Bytes>{image});
  EXPECT_TRUE(adapter.Violations().empty());
  EXPECT_EQ(adapter.RequestCount(), fwblock::BlockCount(FW_IMAGE_MAX));
  EXPECT_EQ(server.AnswersSent(), fwblock::BlockCount(FW_IMAGE_MAX));
  EXPECT_EQ(static_cast<std::size_t>(std::count(output.begin(), output.end(), '.')),
            fwblock::BlockCount(FW_IMAGE_MAX) - 1);
  EXPECT_TRUE(output.ends_with("\n Wait for writing memory\n Success update firmware\n"));
  EXPECT_EQ(pauses, std::vector<std::uint32_t>{10000});
  EXPECT_EQ(link.m_nTimeout, 5000);
}

// The handler waits 30 s for the answer to the last block; this object cuts every wait short,
// recording what was asked for, so the missing answer shows without the long wait.
class ShortWaitLink : public C_ZANTO_EXTCMD_IF {
 public:
  static constexpr int kWaitMs = 600;
  ShortWaitLink() : C_ZANTO_EXTCMD_IF(5000) {}
  int Transact(int noAnswerOk) override {
    asked.push_back(m_nTimeout);
    const int wanted = m_nTimeout;
    m_nTimeout = std::min(m_nTimeout, kWaitMs);
    const int result = C_ZANTO_EXTCMD_IF::Transact(noAnswerOk);
    m_nTimeout = wanted;
    return result;
  }
  std::vector<int> asked;
};

TEST_F(FirmwareOverSerial, AMissingAnswerToTheLastBlockReportsTheSerialTimeOut) {
  adapter.Configure([](sim::AdapterProfile& p) { p.firmware.lastBlockDelay = 60s; });
  ShortWaitLink link;
  EXPECT_EQ(Update(link, e2e::FirmwareImage(1025)), 0);
  EXPECT_EQ(output, tool_texts::kImagePrompt +
                        " .\n Wait for writing memory\n Failure:10105\n\n Press any key");
  EXPECT_EQ(link.asked, (std::vector<int>{5000, 30000}));
  EXPECT_EQ(link.m_nTimeout, 5000);
  EXPECT_TRUE(pauses.empty());
  EXPECT_EQ(server.Received().size(), 2u);
}

}  // namespace
