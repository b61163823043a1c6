// Update Firmware: the block records, the console text and the time-outs, against a simulated link.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <fstream>
#include <random>

#include "console/io.h"
#include "extcmd/firmware_block.h"
#include "sample/handlers.h"
#include "tests/texts.h"
#include "tests/unit/fixtures.h"

using namespace testing_support;
using namespace tool_texts;
namespace fs = std::filesystem;

namespace {

// A folder of its own for each test, removed afterwards.
class TempDir {
 public:
  TempDir() {
    std::random_device random;
    path_ = fs::temp_directory_path() /
            ("fw_test_" + std::to_string(random()) + "_" + std::to_string(random()));
    fs::create_directories(path_);
  }
  ~TempDir() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const fs::path& path() const { return path_; }

  // Writes a file and returns its path as text.
  std::string Write(const std::string& name, const Bytes& bytes) const {
    const fs::path p = path_ / name;
    std::ofstream(p, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    return p.string();
  }

 private:
  fs::path path_;
};

// Image bytes that differ from block to block and are never 0xFF, so fill is told from data.
Bytes Image(std::size_t size) {
  Bytes b(size);
  for (std::size_t i = 0; i < size; ++i) b[i] = static_cast<std::uint8_t>((i * 7 + i / 1024) % 251);
  return b;
}

Bytes Accepted() { return AnswerFrame(0x5002, {0}, 4); }

// Answers every block with result 0, except block `reject` with `result`.
std::function<std::optional<Bytes>(const Bytes&)> RejectBlock(std::size_t reject,
                                                              std::uint8_t result) {
  return [reject, result](const Bytes& rq) -> std::optional<Bytes> {
    const std::size_t k = frame::Get16(&rq[frame::kHeaderSize]);
    return AnswerFrame(0x5002, {k == reject ? result : std::uint8_t{0}}, 4);
  };
}

// The data area of a recorded request.
Bytes DataOf(const Bytes& request) {
  return Bytes(request.begin() + frame::kHeaderSize, request.end());
}

// The image as the adapter puts it together: ByteCount bytes of each block, in order.
Bytes Reassemble(const std::vector<Bytes>& requests) {
  Bytes image;
  for (const Bytes& rq : requests) {
    const std::uint32_t count = frame::Get32(&rq[frame::kHeaderSize + 4]);
    image.insert(image.end(), rq.begin() + 36, rq.begin() + 36 + count);
  }
  return image;
}

struct BlockTableCase {
  std::size_t imageSize;
  std::vector<Bytes> heads;  // first 8 data bytes of each block
};

class FirmwareBlocks : public ::testing::TestWithParam<BlockTableCase> {};

TEST_P(FirmwareBlocks, CarryTheImageInNumberedBlocks) {
  const BlockTableCase& c = GetParam();
  TempDir dir;
  const Bytes image = Image(c.imageSize);
  ScriptedConsole io(dir.Write("image.bin", image) + "\n");
  FakeLink link;
  link.respond = Always(Accepted());
  EXPECT_EQ(UpdateFirmware(link), 1);
  ASSERT_EQ(link.requests.size(), c.heads.size());
  for (std::size_t k = 0; k < c.heads.size(); ++k) {
    const Bytes& rq = link.requests[k];
    ASSERT_EQ(rq.size(), 1060u);
    EXPECT_EQ(frame::Get16(&rq[frame::kOffCommand]), 0x5001);
    EXPECT_EQ(frame::Get16(&rq[frame::kOffFrameLength]), 1048);
    EXPECT_EQ(frame::Get32(&rq[frame::kOffBodyLength]), 1040u);
    const Bytes data = DataOf(rq);
    EXPECT_EQ(Bytes(data.begin(), data.begin() + 8), c.heads[k]) << "block " << k;
    const std::size_t count = frame::Get32(&data[4]);
    EXPECT_TRUE(std::all_of(data.begin() + 8 + static_cast<long>(count), data.end(),
                            [](std::uint8_t b) { return b == 0xFF; }))
        << "block " << k;
  }
  EXPECT_EQ(Reassemble(link.requests), image);
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, FirmwareBlocks,
    ::testing::Values(
        BlockTableCase{1, {{0, 0, 0, 0, 0x01, 0, 0, 0}}},
        BlockTableCase{1024, {{0, 0, 0, 0, 0x00, 0x04, 0, 0}}},
        BlockTableCase{1025, {{0, 0, 1, 0, 0x00, 0x04, 0, 0}, {1, 0, 0, 0, 0x01, 0, 0, 0}}},
        BlockTableCase{2048, {{0, 0, 1, 0, 0x00, 0x04, 0, 0}, {1, 0, 0, 0, 0x00, 0x04, 0, 0}}},
        BlockTableCase{3000,
                       {{0, 0, 1, 0, 0x00, 0x04, 0, 0},
                        {1, 0, 1, 0, 0x00, 0x04, 0, 0},
                        {2, 0, 0, 0, 0xB8, 0x03, 0, 0}}}));

TEST(FirmwareBlocks, LastOfThreeThousandBytesIs952ImageBytesAnd72Fill) {
  const Bytes image = Image(3000);
  std::array<std::uint8_t, FW_BLOCK_RECORD_SIZE> data{};
  fwblock::Write(fwblock::BlockOf(image, 2), data);
  EXPECT_TRUE(std::equal(image.begin() + 2048, image.end(), data.begin() + 8));
  EXPECT_EQ(std::count(data.begin() + 8 + 952, data.end(), 0xFF), 72);
}

TEST(FirmwareBlocks, ReadingARecordBackGivesTheBlock) {
  const Bytes image = Image(1500);
  std::array<std::uint8_t, FW_BLOCK_RECORD_SIZE> data{};
  fwblock::Write(fwblock::BlockOf(image, 1), data);
  const FirmwareBlock block = fwblock::Read(data);
  EXPECT_EQ(block.BlockNumber, 1);
  EXPECT_EQ(block.MoreFollows, 0);
  EXPECT_EQ(block.ByteCount, 476u);
  EXPECT_TRUE(std::equal(block.BlockData.begin(), block.BlockData.end(), image.begin() + 1024,
                         image.end()));
  // A record that claims more than a block holds is read no further than the block.
  frame::Put32(&data[4], 70000);
  EXPECT_EQ(fwblock::Read(data).BlockData.size(), FW_BLOCK_SIZE);
}

TEST(UpdateFirmware, AFileBeyondTheLimitSendsItsFirst832Blocks) {
  TempDir dir;
  const Bytes file = Image(FW_IMAGE_MAX + 1);
  ScriptedConsole io(dir.Write("big.bin", file) + "\n");
  FakeLink link(CONNECT_SERIAL);
  link.respond = Always(Accepted());
  EXPECT_EQ(UpdateFirmware(link), 1);
  ASSERT_EQ(link.requests.size(), 832u);
  const Bytes last = DataOf(link.requests.back());
  EXPECT_EQ(Bytes(last.begin(), last.begin() + 8), (Bytes{0x3F, 0x03, 0, 0, 0x00, 0x04, 0, 0}));
  EXPECT_EQ(Reassemble(link.requests), Bytes(file.begin(), file.begin() + FW_IMAGE_MAX));
}

TEST(UpdateFirmware, ProgressFor130Blocks) {
  TempDir dir;
  ScriptedConsole io(dir.Write("image.bin", Image(130 * 1024)) + "\nk");
  FakeLink link;
  link.respond = Always(Accepted());
  EXPECT_EQ(UpdateFirmware(link), 1);
  const std::string dots(64, '.');
  EXPECT_EQ(io.output, kImagePrompt + (" " + dots + "\n " + dots + "\n ." +
                                       "\n Wait for writing memory\n Success update firmware\n"));
  EXPECT_EQ(io.Unread(), 1u);  // no key is awaited after success
}

TEST(UpdateFirmware, ThreeBlocksPauseBeforeSuccessAndWaitLongOnlyForTheLast) {
  TempDir dir;
  ScriptedConsole io(dir.Write("image.bin", Image(3000)) + "\n");
  FakeLink link;
  link.respond = Always(Accepted());
  EXPECT_EQ(UpdateFirmware(link), 1);
  const std::string beforePause = kImagePrompt + " ..\n Wait for writing memory";
  EXPECT_EQ(io.output, beforePause + "\n Success update firmware\n");
  EXPECT_EQ(io.pauses, std::vector<std::uint32_t>{10000});
  EXPECT_EQ(io.pauseAt, std::vector<std::size_t>{beforePause.size()});
  EXPECT_EQ(link.timeoutsAtSend, (std::vector<int>{5000, 5000, 30000}));
  EXPECT_EQ(link.m_nTimeout, 5000);
}

// Through the console that buffers output: each progress mark is written before the next block
// goes out, and the wait text before the last block, so they show as the adapter accepts.
TEST(UpdateFirmware, MarksAreWrittenBeforeTheNextBlockGoesOut) {
  TempDir dir;
  ScriptedStreams streams({dir.Write("image.bin", Image(3000)) + "\n"});
  console::StreamConsole console(streams);
  const console::ScopedIo use(console);
  FakeLink link;
  link.respond = [&streams](const Bytes&) {
    streams.events.push_back("exchange");
    return std::optional(Accepted());
  };
  EXPECT_EQ(UpdateFirmware(link), 1);
  console.Flush();
  EXPECT_EQ(streams.events,
            (std::vector<std::string>{"write", "read", "exchange", "write", "exchange", "write",
                                      "exchange", "pause", "write"}));
  EXPECT_EQ(streams.writes,
            (std::vector<std::string>{kImagePrompt, " .", ".\n Wait for writing memory",
                                      "\n Success update firmware\n"}));
}

struct RejectCase {
  std::size_t block;
  std::uint8_t result;
  std::size_t blocksSent;
  const char* progress;
};

class UpdateFirmwareRejected : public ::testing::TestWithParam<RejectCase> {};

TEST_P(UpdateFirmwareRejected, StopsAtTheRejectedBlock) {
  const RejectCase& c = GetParam();
  TempDir dir;
  ScriptedConsole io(dir.Write("image.bin", Image(10 * 1024)) + "\nk");
  FakeLink link;
  link.respond = RejectBlock(c.block, c.result);
  EXPECT_EQ(UpdateFirmware(link), 0);
  EXPECT_EQ(link.requests.size(), c.blocksSent);
  EXPECT_EQ(io.output, kImagePrompt + c.progress + "\n Failure:10207\n Result:" +
                           std::to_string(c.result) + "\n\n Press any key");
  EXPECT_EQ(io.Unread(), 0u);
  EXPECT_TRUE(io.pauses.empty());
  EXPECT_EQ(link.m_nTimeout, 5000);
}

INSTANTIATE_TEST_SUITE_P(Blocks, UpdateFirmwareRejected,
                         ::testing::Values(RejectCase{5, 3, 6, " ....."}, RejectCase{0, 255, 1, ""},
                                           RejectCase{9, 1, 10,
                                                      " .........\n Wait for writing memory"}));

TEST(UpdateFirmware, NoAnswerToTheLastBlockReportsTheLinksTimeOutCode) {
  for (const auto& [connect, code] :
       {std::pair{CONNECT_ETHER, 10009}, std::pair{CONNECT_SERIAL, 10105}}) {
    TempDir dir;
    ScriptedConsole io(dir.Write("image.bin", Image(2500)) + "\nk");
    FakeLink link(connect);
    link.respond = [](const Bytes& rq) -> std::optional<Bytes> {
      if (frame::Get16(&rq[frame::kHeaderSize + 2]) == 0) return std::nullopt;  // last block
      return Accepted();
    };
    EXPECT_EQ(UpdateFirmware(link), 0);
    EXPECT_EQ(io.output, kImagePrompt + " ..\n Wait for writing memory\n Failure:" +
                             std::to_string(code) + "\n\n Press any key");
    EXPECT_EQ(link.timeoutsAtSend.back(), 30000);
    EXPECT_EQ(link.m_nTimeout, 5000);
  }
}

TEST(UpdateFirmware, WithoutALinkTheFileIsStillReadAndTheOpenFailureReported) {
  TempDir dir;
  ScriptedConsole io(dir.Write("image.bin", Image(10)) + "\nk");
  FakeLink link(CONNECT_NONE);
  link.m_nError = 10102;  // what the failed open left
  link.m_nTimeout = 1234;
  EXPECT_EQ(UpdateFirmware(link), 0);
  EXPECT_EQ(io.output,
            kImagePrompt + "\n Wait for writing memory\n Failure:10102\n\n Press any key");
  EXPECT_EQ(link.m_nTimeout, 5000);  // the transfer had begun
}

struct FileFailureCase {
  const char* name;
  std::function<std::string(const TempDir&)> path;
  const char* message;
  const char* windowsCannot = nullptr;  // why the case cannot be made on Windows
};

class UpdateFirmwareFileFailure : public ::testing::TestWithParam<FileFailureCase> {};

TEST_P(UpdateFirmwareFileFailure, ReportsSendsNothingAndKeepsTheTimeOut) {
  const FileFailureCase& c = GetParam();
  if (kOnWindows && c.windowsCannot != nullptr) GTEST_SKIP() << c.windowsCannot;
  TempDir dir;
  ScriptedConsole io(c.path(dir) + "\nk");
  FakeLink link;
  link.m_nTimeout = 1234;
  link.respond = Always(Accepted());
  EXPECT_EQ(UpdateFirmware(link), 0);
  EXPECT_EQ(io.output, kImagePrompt + c.message + "\n Press any key");
  EXPECT_EQ(io.Unread(), 0u);
  EXPECT_TRUE(link.requests.empty());
  EXPECT_EQ(link.m_nTimeout, 1234);
}

INSTANTIATE_TEST_SUITE_P(
    Files, UpdateFirmwareFileFailure,
    ::testing::Values(
        FileFailureCase{"Missing",
                        [](const TempDir& d) { return (d.path() / "absent.bin").string(); },
                        "\n Failure:Firmware image file open error !!\n"},
        FileFailureCase{"Empty", [](const TempDir& d) { return d.Write("empty.bin", {}); },
                        "\n Failure:Firmware image file read error !!\n"},
        // A folder opens for reading here, but reading it fails: that is no image to send.
        FileFailureCase{"ReadFails", [](const TempDir& d) { return d.path().string(); },
                        "\n Failure:Firmware image file read error !!\n",
                        "Windows does not open a folder as a file: the open fails instead"}),
    [](const auto& test) { return std::string(test.param.name); });

TEST(UpdateFirmware, AFileNameOf1024CharactersIsUsedWhole) {
  TempDir dir;
  // Nested folders bring the path to exactly 1024 characters; 1025 are refused by the prompt.
  fs::path folder = dir.path();
  while (folder.string().size() + 1 + 200 + 1 + 10 < 1024) folder /= std::string(200, 'd');
  fs::create_directories(folder);
  const std::size_t nameLength = 1024 - folder.string().size() - 1;
  const fs::path file = folder / std::string(nameLength, 'f');
  ASSERT_EQ(file.string().size(), 1024u);
  std::ofstream(file, std::ios::binary).put('\x42');
  ScriptedConsole io(file.string() + "x\n" + file.string() + "\n");
  FakeLink link;
  link.respond = Always(Accepted());
  EXPECT_EQ(UpdateFirmware(link), 1);
  ASSERT_EQ(link.requests.size(), 1u);
  EXPECT_EQ(link.requests[0][frame::kHeaderSize + 8], 0x42);
  EXPECT_EQ(io.output.rfind(kImagePrompt + kRejected + kImagePrompt, 0), 0u);
}

}  // namespace
