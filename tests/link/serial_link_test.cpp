// The serial link of the interface object over real pseudo-terminals, with the tools' receive
// (looking every 100 ms) and with the one that waits for the end-of-frame byte (PromptSerialIf);
// the test plays the adapter on the other side of the line.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <stdexcept>
#include <string>
#include <thread>

#include "console/entry.h"
#include "extcmd/zanto_extcmd_if.h"
#include "platform/posix/serial_speed.h"
#include "sim/serial_end.h"
#include "tests/e2e/scene.h"
#include "tests/toolkit/fd.h"
#include "tests/unit/serial_frames.h"
#include "tests/unit/serial_receives.h"

using namespace testing_support;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kTimeoutMs = 400;
constexpr std::uint16_t kStatusAnswer = 0xA142;

// The adapter's end of the line.
class Adapter {
 public:
  Adapter() : pty_(sim::SerialEnd::CreatePty()) {}

  bool Ok() const { return pty_ != nullptr; }
  const char* Port() const { return pty_->PortName().c_str(); }
  int Handle() const { return pty_->NativeHandle(); }

  // The next frame the tool sent, through its terminator; empty when none came within the bound.
  Bytes NextFrame(int timeoutMs = 3000) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
      const auto end = std::find(pending_.begin(), pending_.end(), SERIAL_TERMINATOR);
      if (end != pending_.end()) {
        Bytes frame(pending_.begin(), end + 1);
        pending_.erase(pending_.begin(), end + 1);
        return frame;
      }
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
      if (left <= 0ms || !ReadMore(static_cast<int>(left.count()))) return {};
    }
  }

  // All bytes that arrive within the time.
  Bytes Collect(int ms) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
    for (auto left = ms; left > 0;
         left = static_cast<int>(
             std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now())
                 .count())) {
      ReadMore(left);
    }
    Bytes all;
    all.swap(pending_);
    return all;
  }

  void Send(std::span<const std::uint8_t> bytes) { EXPECT_TRUE(pty_->Write(bytes)); }
  void HangUp() { pty_.reset(); }

 private:
  bool ReadMore(int timeoutMs) {
    std::uint8_t chunk[4096];
    const std::size_t got = pty_->Read(chunk, timeoutMs);
    pending_.insert(pending_.end(), chunk, chunk + got);
    return got > 0;
  }

  std::unique_ptr<sim::SerialEnd> pty_;
  Bytes pending_;
};

// The tool's side of the line has the terminal settings it had before the tool opened it.
void ExpectSettingsAsBefore(const Adapter& adapter, const termios& before) {
  termios after{};
  ASSERT_EQ(tcgetattr(adapter.Handle(), &after), 0);
  EXPECT_EQ(after.c_iflag, before.c_iflag);
  EXPECT_EQ(after.c_oflag, before.c_oflag);
  EXPECT_EQ(after.c_lflag, before.c_lflag);
  EXPECT_EQ(after.c_cflag, before.c_cflag);
}

// A status answer whose data byte 1 tells answers apart.
Bytes StatusAnswer(std::uint8_t marker) { return AnswerFrame(kStatusAnswer, {0, marker}, 120); }

long long MsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

class SerialLink : public ::testing::TestWithParam<Receive> {
 protected:
  void SetUp() override {
    ASSERT_TRUE(adapter.Ok());
    ASSERT_EQ(link.OpenSerial(adapter.Port(), 115200, 8, 0, 0), 1);
  }
  void TearDown() override {
    if (link.GetConnectType() == CONNECT_SERIAL) link.CloseSerial();
  }

  // Answers each request in turn with the next of the given line bytes, after a pause; the
  // requests are kept. Join the thread before looking at them.
  std::jthread Answering(std::vector<Bytes> lines, std::chrono::milliseconds pause = 0ms) {
    return std::jthread([this, lines = std::move(lines), pause] {
      for (const Bytes& line : lines) {
        Bytes request = adapter.NextFrame();
        if (request.empty()) return;
        requests.push_back(std::move(request));
        std::this_thread::sleep_for(pause);
        adapter.Send(line);
      }
    });
  }

  int GetStatus(int noAnswerOk = 0) {
    link.MakeCommand(CMD_GET_STATUS, 4);
    return link.Transact(noAnswerOk);
  }

  Adapter adapter;
  const std::shared_ptr<C_ZANTO_EXTCMD_IF> object = GetParam().make(kTimeoutMs);
  C_ZANTO_EXTCMD_IF& link = *object;
  std::vector<Bytes> requests;
};

}  // namespace

INSTANTIATE_TEST_SUITE_P(Receive, SerialLink, ::testing::ValuesIn(kReceives), kReceiveName);

TEST_P(SerialLink, RequestsGoOnTheLineByteForByte) {
  for (const LineCase& c : RequestLineCases()) {
    SCOPED_TRACE(c.name);
    link.MakeCommand(c.code, 4);
    std::copy(c.data.begin(), c.data.end(), link.GetData());
    EXPECT_EQ(link.SerialSend(), 1);
    EXPECT_EQ(adapter.NextFrame(), c.line);
  }
}

TEST_P(SerialLink, FirmwareSizedRequestGoesOutWholeWithPacingPauses) {
  link.MakeCommand(CMD_FW_UPDATE, 1032);
  for (int i = 0; i < 1032; ++i) link.GetData()[i] = static_cast<std::uint8_t>(i * 7);
  const Bytes frame(link.m_Buffer, link.m_Buffer + frame::kFrameLengthBase + 1048);
  const auto start = Clock::now();
  EXPECT_EQ(link.SerialSend(), 1);
  // Pauses of at least 1 ms before body bytes 0, 128, ..., 1024 and before the terminator.
  EXPECT_GE(MsSince(start), 10);
  EXPECT_EQ(adapter.NextFrame(), LineOf(frame));
}

TEST_P(SerialLink, ExchangeLeavesAnswerChecksumAndTerminatorInTheBuffer) {
  const Bytes answer = AnswerFrame(kStatusAnswer, {0, 0x5A, 0xA2, 0xA3, 0x41}, 120);
  const Bytes body = serial_line::Body(answer);
  const auto start = Clock::now();
  {
    auto adapterThread = Answering({serial_line::Encode(body)});
    EXPECT_EQ(GetStatus(), 1);
  }
  if (GetParam().looksEvery100Ms) {
    EXPECT_GE(MsSince(start), 100);  // the port is first looked at after 100 ms
  }
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0], RequestLineCases()[0].line);
  const std::size_t terminator = answer.size() + frame::kChecksumSize;
  EXPECT_TRUE(std::equal(body.begin(), body.end(), link.m_Buffer));  // frame and checksum
  EXPECT_EQ(link.m_Buffer[terminator], SERIAL_TERMINATOR);
  EXPECT_TRUE(std::all_of(link.m_Buffer + terminator + 1, link.m_Buffer + 1468,
                          [](std::uint8_t b) { return b == 0; }));
}

TEST_P(SerialLink, AnswerArrivingInPiecesWithPauses) {
  link.m_nTimeout = 3000;
  const Bytes line = LineOf(StatusAnswer(7));
  std::jthread adapterThread([&] {
    ASSERT_FALSE(adapter.NextFrame().empty());
    const std::size_t cuts[] = {0, 5, 40, line.size()};
    for (int i = 0; i < 3; ++i) {
      adapter.Send(std::span(line).subspan(cuts[i], cuts[i + 1] - cuts[i]));
      std::this_thread::sleep_for(150ms);
    }
  });
  EXPECT_EQ(GetStatus(), 1);
  EXPECT_EQ(link.GetData()[1], 7);
}

// Line bytes already waiting when the receive starts count as arriving after it armed.
TEST_P(SerialLink, ReceiveTable) {
  const Bytes p(frame::kPreamble.begin(), frame::kPreamble.end());
  const auto cat = [](std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
  };
  const Bytes first = StatusAnswer(1), second = StatusAnswer(2);
  Bytes firstStored = serial_line::Body(first);
  firstStored.push_back(SERIAL_TERMINATOR);
  const struct {
    const char* name;
    Bytes line;
    int result;
    Bytes stored;  // m_Buffer from byte 0 on success, followed by a zero byte
  } cases[] = {
      {"escape sets bit 7", cat({p, {0xA3, 0x41, 0xA2}}), 1, cat({p, {0xC1, 0xA2}})},
      {"escaped A2 does not end the frame", cat({p, {0xA3, 0xA3, 0x22, 0x55, 0xA2}}), 1,
       cat({p, {0xA2, 0x55, 0xA2}})},
      {"escape then A2 ends the frame", cat({p, {0xA3, 0xA2, 0x77, 0xA2}}), 1, cat({p, {0xA2}})},
      {"two answers at once: the first is taken", cat({LineOf(first), LineOf(second)}), 1,
       firstStored},
      {"noise before the preamble", cat({{0x00}, LineOf(first)}), ERR_SERIAL_PREAMBLE, {}},
      {"fewer bytes than the preamble", {0xAA, 0xAA, 0xA2}, ERR_SERIAL_PREAMBLE, {}},
      {"stuffed preamble byte", cat({Bytes(7, 0xAA), {0xA3, 0x2B, 0xA2}}), ERR_SERIAL_PREAMBLE, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    link.m_nError = 0;
    adapter.Send(c.line);
    const int ok = link.SerialRecv();
    if (c.result == 1) {
      ASSERT_EQ(ok, 1);
      EXPECT_EQ(Bytes(link.m_Buffer, link.m_Buffer + c.stored.size()), c.stored);
      EXPECT_EQ(link.m_Buffer[c.stored.size()], 0);
    } else {
      EXPECT_EQ(ok, 0);
      EXPECT_EQ(link.GetErrorCode(), c.result);
    }
  }
}

TEST_P(SerialLink, AnswerWithoutTerminatorTimesOut) {
  adapter.Send(serial_line::Body(StatusAnswer(1)));
  EXPECT_EQ(link.SerialRecv(), 0);
  EXPECT_EQ(link.GetErrorCode(), ERR_SERIAL_TIMEOUT);
}

TEST_P(SerialLink, AnswerChecksIncludingTheChecksum) {
  const Bytes good = StatusAnswer(3);
  Bytes badSum = serial_line::Body(good);
  badSum[good.size()] ^= 0x01;
  Bytes tooLong = good;  // claims more than the buffer holds
  frame::Put16(tooLong.data() + frame::kOffFrameLength, 0xFFFF);
  tooLong.push_back(0);
  tooLong.push_back(0);
  Bytes wrongCode = StatusAnswer(3);
  frame::Put16(wrongCode.data() + frame::kOffCommand, CMD_GET_STATUS | 1);
  const struct {
    const char* name;
    Bytes line;
    int code;  // 0: accepted
  } cases[] = {
      {"good answer", LineOf(good), 0},
      {"wrong checksum", serial_line::Encode(badSum), frame::kErrChecksum},
      {"FrameLength beyond the buffer", serial_line::Encode(tooLong), frame::kErrChecksum},
      {"request code echoed", LineOf(wrongCode), frame::kErrCommand},
  };
  std::vector<Bytes> lines;
  for (const auto& c : cases) lines.push_back(c.line);
  auto adapterThread = Answering(lines);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    link.m_nError = 0;
    EXPECT_EQ(GetStatus(), c.code == 0 ? 1 : 0);
    EXPECT_EQ(link.GetErrorCode(), c.code);
  }
}

// The same answer with a wrong checksum: only the serial link examines the checksum.
TEST(SerialChecksum, WrongChecksumFailsOnSerialAndPassesOverUdp) {
  Bytes body = serial_line::Body(StatusAnswer(3));
  body[body.size() - 1] ^= 0x80;
  for (const int connect : {CONNECT_ETHER, CONNECT_SERIAL}) {
    C_ZANTO_EXTCMD_IF link(5000);
    link.m_nConnect = connect;
    link.MakeCommand(CMD_GET_STATUS, 4);
    std::memset(link.m_Buffer, 0, sizeof link.m_Buffer);
    std::copy(body.begin(), body.end(), link.m_pFrame);
    link.m_nError = 0;
    EXPECT_EQ(link.CheckResponse(kStatusAnswer), connect == CONNECT_ETHER ? 1 : 0) << connect;
    EXPECT_EQ(link.GetErrorCode(), connect == CONNECT_ETHER ? 0 : frame::kErrChecksum);
  }
}

TEST_P(SerialLink, NoAnswerTimesOut) {
  const auto start = Clock::now();
  EXPECT_EQ(GetStatus(0), 0);
  EXPECT_EQ(link.GetErrorCode(), ERR_SERIAL_TIMEOUT);
  EXPECT_GE(MsSince(start), kTimeoutMs);
  EXPECT_EQ(GetStatus(1), 1);  // a missing answer is acceptable here
  EXPECT_EQ(link.GetErrorCode(), ERR_SERIAL_TIMEOUT);
}

// An answer that comes after the time-out stays queued and is taken by the next exchange, whose
// own answer is dropped with the rest of what was read: the exchange after that is in step.
TEST_P(SerialLink, LateAnswerTimesOutAndIsTakenByTheNextExchange) {
  link.m_nTimeout = 300;
  {
    auto adapterThread = Answering({LineOf(StatusAnswer(1))}, 700ms);
    EXPECT_EQ(GetStatus(0), 0);
    EXPECT_EQ(link.GetErrorCode(), ERR_SERIAL_TIMEOUT);
  }
  {
    auto adapterThread = Answering({LineOf(StatusAnswer(2)), LineOf(StatusAnswer(3))});
    EXPECT_EQ(GetStatus(0), 1);
    EXPECT_EQ(link.GetData()[1], 1);
    EXPECT_EQ(GetStatus(0), 1);
    EXPECT_EQ(link.GetData()[1], 3);
  }
}

TEST_P(SerialLink, LateAnswerCountsAsSuccessWhenNoAnswerIsAcceptable) {
  link.m_nTimeout = 300;
  auto adapterThread = Answering({LineOf(StatusAnswer(1))}, 700ms);
  EXPECT_EQ(GetStatus(1), 1);
}

// Nothing waits for ever: with the far end gone every write fails at once, and the receive
// ends in its time-out.
TEST_P(SerialLink, LineHungUpEndsInTheTimeOut) {
  adapter.HangUp();
  EXPECT_EQ(GetStatus(0), 0);
  EXPECT_EQ(link.GetErrorCode(), ERR_SERIAL_TIMEOUT);
  EXPECT_EQ(link.CloseSerial(), 1);
}

// A write that cannot complete ends the send after the time-out: here nobody takes the bytes
// off the line, which holds about five such requests (20 KiB on Linux) before it is full.
TEST_P(SerialLink, WriteThatCannotCompleteEndsTheSend) {
  link.m_nTimeout = 200;
  constexpr int kRequests = 8;
  std::size_t lineSize = 0;
  for (int i = 0; i < kRequests; ++i) {
    link.MakeCommand(CMD_FW_UPDATE, 4000);
    lineSize = LineOf({link.m_Buffer, frame::kFrameLengthBase + 4016}).size();
    EXPECT_EQ(link.SerialSend(), 1);
  }
  const Bytes line = adapter.Collect(300);
  EXPECT_LT(line.size(), kRequests * lineSize);
  EXPECT_LT(std::count(line.begin(), line.end(), SERIAL_TERMINATOR), kRequests);
}

// Requests whose checksum would lie past the buffer are not sent at all, and nothing behind the
// buffer is written; the largest that fits goes out whole.
TEST_P(SerialLink, RequestsAtTheEndOfTheBuffer) {
  link.MakeCommand(CMD_FW_UPDATE, 4067);  // FrameLength 4083: checksum at 4095 and 4096
  EXPECT_EQ(link.SerialSend(), 1);
  EXPECT_EQ(link.m_nTimeout, kTimeoutMs);
  EXPECT_EQ(link.m_nPacing, 128);
  EXPECT_TRUE(adapter.Collect(300).empty());

  link.MakeCommand(CMD_FW_UPDATE, 4066);  // FrameLength 4082: checksum at 4094 and 4095
  std::fill(link.GetData(), link.GetData() + 4066, 0xA3);
  EXPECT_EQ(link.SerialSend(), 1);
  EXPECT_EQ(adapter.NextFrame(), LineOf({link.m_Buffer, 4094}));
}

// An answer longer than the buffer fills it and stops there; the answer checks then refuse it.
TEST_P(SerialLink, AnswerLongerThanTheBuffer) {
  auto adapterThread = Answering({LineOf(AnswerFrame(kStatusAnswer, Bytes(5000, 0x11)))});
  EXPECT_EQ(GetStatus(), 0);
  EXPECT_EQ(link.GetErrorCode(), frame::kErrChecksum);
  EXPECT_EQ(link.m_Buffer[4095], 0x11);
  EXPECT_EQ(link.m_nTimeout, kTimeoutMs);
  EXPECT_EQ(link.m_nPacing, 128);
}

// More line bytes than one read block of the prompt receive (4096) take the same course as in
// one read: an escape mark at the end of a block still marks the first byte of the next, and
// everything queued behind the first block is read and dropped, so the next exchange is in step.
TEST_P(SerialLink, LinesLongerThanAReadBlock) {
  const Bytes p(frame::kPreamble.begin(), frame::kPreamble.end());
  Bytes escapeAtBlockEnd = p;
  escapeAtBlockEnd.insert(escapeAtBlockEnd.end(), 10, 0x11);
  escapeAtBlockEnd.resize(4096, SERIAL_ESCAPE);  // line bytes 18 to 4095: one long escape mark
  escapeAtBlockEnd.insert(escapeAtBlockEnd.end(), {0x41, SERIAL_TERMINATOR, 0x42});
  Bytes escapeStored = p;
  escapeStored.insert(escapeStored.end(), 10, 0x11);
  escapeStored.insert(escapeStored.end(), {0xC1, SERIAL_TERMINATOR});
  Bytes longNoise(6000, 0x55);
  longNoise.push_back(SERIAL_TERMINATOR);
  const struct {
    const char* name;
    Bytes line;
    int result;    // 1, or the code
    Bytes stored;  // m_Buffer from byte 0 on success, followed by a zero byte
  } cases[] = {
      {"escape mark at the end of a block", escapeAtBlockEnd, 1, escapeStored},
      {"noise longer than a block before the preamble", longNoise, ERR_SERIAL_PREAMBLE, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    link.m_nError = 0;
    {
      // More than the line holds before the tool reads: sent beside the receive.
      std::jthread sender([&] { adapter.Send(c.line); });
      const int ok = link.SerialRecv();
      EXPECT_EQ(ok == 1 ? 1 : link.GetErrorCode(), c.result);
    }
    if (c.result == 1) {
      EXPECT_EQ(Bytes(link.m_Buffer, link.m_Buffer + c.stored.size()), c.stored);
      EXPECT_EQ(link.m_Buffer[c.stored.size()], 0);
    }
    auto adapterThread = Answering({LineOf(StatusAnswer(5))});
    EXPECT_EQ(GetStatus(), 1);
    EXPECT_EQ(link.GetData()[1], 5);
  }
}

TEST_P(SerialLink, OpenAndCloseStates) {
  plat::SerialHandle port = link.m_hComm;
  EXPECT_EQ(link.OpenSerial(adapter.Port(), 9600, 7, 1, 0), 0);
  EXPECT_EQ(link.GetErrorCode(), ERR_SERIAL_ALREADY_OPEN);
  EXPECT_EQ(link.m_hComm, port);

  // The port is ours alone while the link is open, and free again once it is closed.
  C_ZANTO_EXTCMD_IF second(kTimeoutMs);
  EXPECT_EQ(second.OpenSerial(adapter.Port(), 115200, 8, 0, 0), 0);
  EXPECT_EQ(second.GetErrorCode(), ERR_SERIAL_OPEN);
  EXPECT_EQ(second.GetConnectType(), CONNECT_NONE);

  {
    auto adapterThread = Answering({LineOf(StatusAnswer(4))});
    EXPECT_EQ(GetStatus(), 1);  // the open link is untouched
  }
  EXPECT_EQ(link.CloseSerial(), 1);
  EXPECT_EQ(link.GetConnectType(), CONNECT_NONE);
  EXPECT_EQ(link.m_hComm, plat::kInvalidSerial);
  EXPECT_EQ(link.CloseSerial(), 0);
  EXPECT_EQ(link.GetErrorCode(), ERR_SERIAL_NOT_OPEN);

  EXPECT_EQ(second.OpenSerial(adapter.Port(), 115200, 8, 0, 0), 1);
  EXPECT_EQ(second.CloseSerial(), 1);
}

TEST(SerialOpen, PortThatDoesNotExist) {
  for (const char* name : {"ttyNONE", "COM200", "pts/999"}) {
    for (const Receive& receive : kReceives) {
      SCOPED_TRACE(std::string(name) + ", " + receive.name);
      const auto object = receive.make(kTimeoutMs);
      C_ZANTO_EXTCMD_IF& link = *object;
      EXPECT_EQ(link.OpenSerial(name, 115200, 8, 0, 0), 0);
      EXPECT_EQ(link.GetErrorCode(), ERR_SERIAL_OPEN);
      EXPECT_EQ(link.GetConnectType(), CONNECT_NONE);
      EXPECT_EQ(link.m_hComm, plat::kInvalidSerial);
      // Commands then fail without a link and leave the code of the failed open for the report.
      link.MakeCommand(CMD_GET_STATUS, 4);
      EXPECT_EQ(link.Transact(0), 0);
      EXPECT_EQ(link.GetErrorCode(), ERR_SERIAL_OPEN);
      link.m_nError = 0;
      EXPECT_EQ(link.SerialRecv(), 0);
      EXPECT_EQ(link.GetErrorCode(), ERR_SERIAL_OPEN);
      EXPECT_EQ(link.CloseSerial(), 0);
      EXPECT_EQ(link.GetErrorCode(), ERR_SERIAL_NOT_OPEN);
    }
  }
}

// Opening or closing the serial link while UDP is open changes nothing; UDP stays usable.
TEST(SerialOpen, WhileUdpIsOpen) {
  const std::uint16_t port = e2e::FreeUdpPort();
  const toolkit::UniqueFd responder = toolkit::BoundUdp(e2e::kAdapterAddress, port);
  ASSERT_TRUE(responder);
  timeval wait{3, 0};
  setsockopt(responder.get(), SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);

  Adapter adapter;
  ASSERT_TRUE(adapter.Ok());
  C_ZANTO_EXTCMD_IF link(2000);
  const std::uint8_t mac[6] = {};
  ASSERT_EQ(link.OpenEther(e2e::kToolAddress, e2e::kAdapterAddress, port, mac), 1);
  EXPECT_EQ(link.OpenSerial(adapter.Port(), 115200, 8, 0, 0), 0);
  EXPECT_EQ(link.GetErrorCode(), ERR_SERIAL_ALREADY_OPEN);
  EXPECT_EQ(link.CloseSerial(), 0);
  EXPECT_EQ(link.GetErrorCode(), ERR_SERIAL_NOT_OPEN);
  EXPECT_EQ(link.GetConnectType(), CONNECT_ETHER);

  std::jthread udpAdapter([&] {
    std::uint8_t request[4096];
    sockaddr_in from{};
    socklen_t size = sizeof from;
    if (recvfrom(responder.get(), request, sizeof request, 0, reinterpret_cast<sockaddr*>(&from),
                 &size) <= 0) {
      return;
    }
    Bytes datagram = {0, 0};
    const Bytes answer = StatusAnswer(9);
    datagram.insert(datagram.end(), answer.begin(), answer.end());
    sendto(responder.get(), datagram.data(), datagram.size(), 0, reinterpret_cast<sockaddr*>(&from),
           size);
  });
  link.MakeCommand(CMD_GET_STATUS, 4);
  EXPECT_EQ(link.Transact(0), 1);
  EXPECT_EQ(link.GetData()[1], 9);
  udpAdapter.join();
  EXPECT_EQ(link.CloseEther(), 1);
  EXPECT_TRUE(adapter.Collect(100).empty());  // nothing went out on the serial line
}

// What the port keeps of the settings can be read back on the adapter's side of the line. Linux
// pseudo-terminals always clear PARENB and use 8 data bits, so parity shows in PARODD and CMSPAR.
TEST(SerialOpen, LineSettingsReachThePortAndAreRestoredOnClose) {
  const struct {
    std::uint32_t baud;
    int parity, stopBits;
    tcflag_t bits;  // of PARODD | CMSPAR | CSTOPB
    speed_t speed;
  } cases[] = {
      {9600, 2, 2, CSTOPB, B9600},                      // even parity, two stop bits
      {115200, 1, 0, PARODD, B115200},                  // odd
      {57600, 3, 1, PARODD | CMSPAR | CSTOPB, B57600},  // mark, one and a half -> two
      {19200, 4, 0, CMSPAR, B19200},                    // space
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.baud);
    Adapter adapter;
    ASSERT_TRUE(adapter.Ok());
    termios before{};
    ASSERT_EQ(tcgetattr(adapter.Handle(), &before), 0);
    before.c_iflag |= ICRNL | IXON;
    before.c_oflag |= OPOST | ONLCR;
    before.c_lflag |= ICANON | ECHO | ISIG;
    ASSERT_EQ(tcsetattr(adapter.Handle(), TCSANOW, &before), 0);
    ASSERT_EQ(tcgetattr(adapter.Handle(), &before), 0);

    C_ZANTO_EXTCMD_IF link(kTimeoutMs);
    ASSERT_EQ(link.OpenSerial(adapter.Port(), c.baud, 8, c.parity, c.stopBits), 1);
    termios t{};
    ASSERT_EQ(tcgetattr(adapter.Handle(), &t), 0);
    EXPECT_EQ(t.c_cflag & (PARODD | CMSPAR | CSTOPB), c.bits);
    EXPECT_EQ(cfgetospeed(&t), c.speed);
    EXPECT_NE(t.c_iflag & INPCK, 0u);
    EXPECT_EQ(t.c_iflag & (ICRNL | IXON), 0u);
    EXPECT_EQ(t.c_oflag & OPOST, 0u);
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG), 0u);

    ASSERT_EQ(link.CloseSerial(), 1);
    ExpectSettingsAsBefore(adapter, before);
  }
}

// Every rate is set exactly, read back as the kernel holds it: by its speed constant, or as a
// free rate where there is none (the Windows rate constants CBR_14400 to CBR_256000 among them).
// A rate of 0 keeps the speed the port had. On close the port has its speed back, also a free
// rate, which its saved attributes alone cannot hold.
TEST(SerialOpen, SetsEveryRateExactlyAndGivesTheSpeedBack) {
  constexpr std::uint32_t kBefore = 76800;  // a free rate
  const struct {
    std::uint32_t rate;
    std::uint32_t speed;
  } cases[] = {
      {50, 50},         {110, 110},         {300, 300},     {600, 600},     {38400, 38400},
      {115200, 115200}, {4000000, 4000000}, {14400, 14400}, {56000, 56000}, {128000, 128000},
      {256000, 256000}, {250000, 250000},   {31250, 31250}, {0, kBefore},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.rate);
    Adapter adapter;
    ASSERT_TRUE(adapter.Ok());
    plat::posix::SetExactSpeed(adapter.Handle(), kBefore);
    ASSERT_EQ(plat::posix::LineSpeed(adapter.Handle()), kBefore);
    C_ZANTO_EXTCMD_IF link(kTimeoutMs);
    ASSERT_EQ(link.OpenSerial(adapter.Port(), c.rate, 8, 0, 0), 1);
    EXPECT_EQ(plat::posix::LineSpeed(adapter.Handle()), c.speed);
    ASSERT_EQ(link.CloseSerial(), 1);
    EXPECT_EQ(plat::posix::LineSpeed(adapter.Handle()), kBefore);
  }
}

// A handler that throws leaves the entry through its owner of the link: the port has its
// settings back when the exception reaches the caller.
int ThrowingHandler(C_ZANTO_EXTCMD_IF&) { throw std::runtime_error("handler failed"); }

TEST(SerialOpen, EntryGivesThePortBackWhenAHandlerThrows) {
  Adapter adapter;
  ASSERT_TRUE(adapter.Ok());
  termios before{};
  ASSERT_EQ(tcgetattr(adapter.Handle(), &before), 0);
  before.c_lflag |= ICANON | ECHO;
  ASSERT_EQ(tcsetattr(adapter.Handle(), TCSANOW, &before), 0);
  ASSERT_EQ(tcgetattr(adapter.Handle(), &before), 0);

  const console::MenuHandler handlers[] = {ThrowingHandler};
  const console::ToolDefinition tool{kTimeoutMs, false, "menu --> ", handlers};
  ScriptedConsole io("1\n1\n");
  C_ZANTO_EXTCMD_IF link(kTimeoutMs);
  const auto ini = console::IniFile::Parse(std::string("[SERIAL]\nPORT=") + adapter.Port() + "\n");
  EXPECT_THROW(console::RunTool(tool, link, ini), std::runtime_error);
  EXPECT_EQ(link.GetConnectType(), CONNECT_NONE);
  ExpectSettingsAsBefore(adapter, before);
}
