// perf_table: what the tools add on top of their link. Each row times its subject and its
// baseline in alternating blocks of one run, and prints their medians, the ratio and the goal.
//
//   perf_table           the full run (about 5 min), as the README's table shows it
//   perf_table --short   about half a minute, most of it the two programs' 10 s pauses after
//                        a firmware image: the same rows on fewer and smaller blocks
//
// Everything runs on loopback: the emulator on 127.0.0.2, the tool or client on 127.0.0.1, on
// the same port. A Linux tool: it starts programs with the test toolkit and serves UDP with
// POSIX calls directly.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "console/io.h"
#include "extcmd/commands.h"
#include "extcmd/firmware_block.h"
#include "extcmd/prompt_serial.h"
#include "extcmd/zanto_extcmd_if.h"
#include "sample/handlers.h"
#include "tests/e2e/scene.h"
#include "tests/heap/heap_count.h"
#include "tests/texts.h"
#include "tests/toolkit/process.h"

namespace {

using Clock = std::chrono::steady_clock;
using Bytes = std::vector<std::uint8_t>;
using e2e::kAdapterAddress;
using e2e::kToolAddress;
using tool_texts::kLinkPrompt;

// No wait of the bench lasts longer than this; a program that takes longer is stopped.
constexpr auto kLongestWait = std::chrono::seconds(60);
// The serial receive first looks for the answer 100 ms after it starts: no serial exchange is
// faster.
constexpr double kSerialFloorSeconds = 0.100;
// What a serial Get Status that takes its answer at once may take at most.
constexpr double kPromptGoalSeconds = 0.005;

// How much a run measures: rounds of alternating blocks, and the size of each block.
struct Plan {
  int rounds;           // subject and baseline blocks per row
  int cycles;           // whole-program Get Status cycles per block
  int exchanges;        // UDP exchanges per block
  int serialExchanges;  // serial exchanges in all
  int starts;           // program starts per row
  // Serial rows of both receives: rounds, Get Status exchanges per block, and the blocks of the
  // firmware image each of its rounds sends (the tools' receive takes at least 100 ms for each,
  // so the full image gets one round, without a warm-up).
  int serialRounds;
  int serialRoundExchanges;
  int serialFirmwareRounds;
  std::size_t serialFirmwareBlocks;
};
constexpr Plan kFullPlan{21, 5000, 5000, 15, 31, 7, 10, 1, FW_IMAGE_MAX / FW_BLOCK_SIZE};
constexpr Plan kShortPlan{3, 500, 500, 3, 5, 3, 3, 2, 16};

[[noreturn]] void Fail(const std::string& what) { throw std::runtime_error(what); }
// The same for a failed system call, with the system's reason.
[[noreturn]] void FailCall(const std::string& what) { Fail(what + ": " + std::strerror(errno)); }

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

template <typename F>
double SecondsOf(F&& work) {
  const auto start = Clock::now();
  work();
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// Medians of a subject and its baseline (seconds per operation), and the median of the rounds'
// ratios: noise that hits a round hits both of its blocks.
struct Measured {
  double subject;
  double baseline;
  double ratio;
};

Measured Interleave(int rounds, const std::function<double()>& subject,
                    const std::function<double()>& baseline, bool warmUp = true) {
  if (warmUp) {
    subject();  // warm-up: the first block of each pays for cold caches and first-use set-up
    baseline();
  }
  std::vector<double> s;
  std::vector<double> b;
  std::vector<double> r;
  for (int i = 0; i < rounds; ++i) {
    // Which goes first alternates, so a trend in the machine's load favours neither.
    double one = 0;
    double two = 0;
    if (i % 2 == 0) {
      one = subject();
      two = baseline();
    } else {
      two = baseline();
      one = subject();
    }
    s.push_back(one);
    b.push_back(two);
    r.push_back(one / two);
  }
  return {Median(s), Median(b), Median(r)};
}

using toolkit::UniqueFd;

// A program started with its standard input and output on the descriptors given, in a folder.
toolkit::Child Start(const std::string& program, std::vector<std::string> args, int in, int out,
                     const std::string& dir = {}) {
  return toolkit::Child::Spawn({program, std::move(args), dir, {}}, {.in = in, .out = out});
}

// Waits for its end (a program still running after `longest` is killed): its exit status, or
// minus the signal that ended it.
int Wait(toolkit::Child& child, std::chrono::milliseconds longest = kLongestWait) {
  if (const auto status = child.Wait(longest)) return *status;
  return child.Kill().value_or(-1);
}

// Reads a program's output until `text` shows; everything read up to its end. Fails when the
// output ends first or takes longer than kLongestWait.
std::string ReadUntil(toolkit::Inbound& output, std::string_view text) {
  const std::string_view texts[] = {text};
  auto got = toolkit::ReadUntilAny(output, texts, Clock::now() + kLongestWait);
  if (!got) Fail("no \"" + std::string(text) + "\" in time; output so far: " + output.Text());
  return *got;
}

// The emulator program, started with the options given; it runs until the end of the run (and
// stops by itself should the bench die first). `ready` is the last text of its start-up lines.
class Emulator {
 public:
  Emulator(const std::vector<std::string>& options, std::string_view ready) {
    auto [read, write] = toolkit::MakePipe();
    std::vector<std::string> args{"--parent-pid", std::to_string(getpid())};
    args.insert(args.end(), options.begin(), options.end());
    const UniqueFd in = toolkit::OpenNull();
    child_ = Start(EMULATOR_PROGRAM, std::move(args), in.get(), write.get());
    write.reset();
    toolkit::Inbound output(std::move(read));
    startup_ = ReadUntil(output, ready);
  }
  // What it printed at start.
  const std::string& Startup() const { return startup_; }

 private:
  toolkit::Child child_;
  std::string startup_;
};

UniqueFd BoundUdp(const char* address, std::uint16_t port) {
  UniqueFd fd = toolkit::BoundUdp(address, port);
  if (!fd) FailCall(std::string("cannot bind ") + address + ":" + std::to_string(port));
  // Bounded: a lost datagram ends the run instead of hanging it.
  const timeval second{1, 0};
  setsockopt(fd.get(), SOL_SOCKET, SO_RCVTIMEO, &second, sizeof second);
  return fd;
}

// The least a client can do: one sendto and one blocking recvfrom per exchange, from the tool's
// address and port to the adapter's.
class RawClient {
 public:
  explicit RawClient(std::uint16_t port)
      : socket_(BoundUdp(kToolAddress, port)), to_(toolkit::Address(kAdapterAddress, port)) {}

  // One request out, its answer in; the answer's bytes.
  std::span<const std::uint8_t> PingPong(std::span<const std::uint8_t> request) {
    if (sendto(socket_.get(), request.data(), request.size(), 0,
               reinterpret_cast<const sockaddr*>(&to_), sizeof to_) < 0) {
      FailCall("sendto");
    }
    const ssize_t got =
        recvfrom(socket_.get(), answer_.data(), answer_.size(), 0, nullptr, nullptr);
    if (got <= 0) FailCall("no answer");
    return {answer_.data(), static_cast<std::size_t>(got)};
  }

 private:
  UniqueFd socket_;
  sockaddr_in to_;
  std::array<std::uint8_t, 4096> answer_{};
};

// A minimal UDP server on the adapter's address: each datagram goes straight back to its
// sender. A child process, like the emulator program it is compared with.
class EchoServer {
 public:
  explicit EchoServer(std::uint16_t port) {
    const UniqueFd socket = BoundUdp(kAdapterAddress, port);
    const pid_t pid = fork();
    if (pid < 0) FailCall("fork");
    if (pid == 0) {
      prctl(PR_SET_PDEATHSIG, SIGKILL);
      std::array<std::uint8_t, 4096> buffer{};
      for (;;) {
        sockaddr_in from{};
        socklen_t size = sizeof from;
        const ssize_t got = recvfrom(socket.get(), buffer.data(), buffer.size(), 0,
                                     reinterpret_cast<sockaddr*>(&from), &size);
        if (got > 0) {
          sendto(socket.get(), buffer.data(), static_cast<std::size_t>(got), 0,
                 reinterpret_cast<const sockaddr*>(&from), size);
        }
      }
    }
    child_ = toolkit::Child(pid);
  }

 private:
  toolkit::Child child_;  // killed and reaped with the server
};

// Request datagrams exactly as the tool sends them: built by an interface object in the UDP
// link's layout (two leading zero bytes, then the frame), without opening a socket.
class DatagramBuilder {
 public:
  DatagramBuilder() : object_(5000) { object_.m_nConnect = CONNECT_ETHER; }
  std::uint8_t* Start(std::uint16_t code, std::size_t dataLength) {
    object_.MakeCommand(code, static_cast<int>(dataLength));
    return object_.GetData();
  }
  Bytes Datagram() const {
    const std::size_t length = frame::kDatagramLead + frame::kFrameLengthBase +
                               frame::Get16(object_.m_pFrame + frame::kOffFrameLength);
    return Bytes(object_.m_Buffer, object_.m_Buffer + length);
  }

 private:
  C_ZANTO_EXTCMD_IF object_;
};

Bytes GetStatusDatagram() {
  DatagramBuilder b;
  b.Start(CMD_GET_STATUS, 4);
  return b.Datagram();
}

std::vector<Bytes> FirmwareDatagrams(std::span<const std::uint8_t> image) {
  DatagramBuilder b;
  std::vector<Bytes> datagrams;
  for (std::size_t k = 0; k < fwblock::BlockCount(image.size()); ++k) {
    std::uint8_t* data = b.Start(CMD_FW_UPDATE, FW_BLOCK_RECORD_SIZE);
    fwblock::Write(fwblock::BlockOf(image, k),
                   std::span<std::uint8_t, FW_BLOCK_RECORD_SIZE>(data, FW_BLOCK_RECORD_SIZE));
    datagrams.push_back(b.Datagram());
  }
  return datagrams;
}

// The adapter's result byte (data byte 0) of an answer datagram.
std::uint8_t ResultOf(std::span<const std::uint8_t> answer) {
  const std::size_t at = frame::kDatagramLead + frame::kHeaderSize;
  return answer.size() > at ? answer[at] : 0xFF;
}

// The console of an in-process handler run: the input given, output written to /dev/null as a
// screen would be, and pauses that return at once (the fixed pauses are no work of the tool's).
class NoPauseStreams final : public console::ConsoleStreams {
 public:
  explicit NoPauseStreams(std::string input)
      : input_(std::move(input)), out_(toolkit::OpenNull()) {}
  bool InputIsTerminal() override { return false; }
  std::size_t ReadInput(std::span<char> dest) override {
    const std::size_t n = std::min(dest.size(), input_.size() - taken_);
    std::copy_n(input_.begin() + static_cast<std::ptrdiff_t>(taken_), n, dest.begin());
    taken_ += n;
    return n;
  }
  int ReadTerminalKey() override { return -1; }
  bool WriteOutput(std::string_view bytes) override {
    return write(out_.get(), bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
  }
  bool Pause(std::uint32_t) override { return true; }
  bool EndRequested() override { return false; }
  void OutputLost() override {}

 private:
  std::string input_;
  std::size_t taken_ = 0;
  UniqueFd out_;
};

// An interface object with its UDP link open to the emulator, closed at the end of its life.
class OpenLink {
 public:
  explicit OpenLink(std::uint16_t port) : object_(5000) {
    const std::uint8_t mac[6] = {};
    if (object_.OpenEther(kToolAddress, kAdapterAddress, port, mac) != 1) {
      Fail("OpenEther failed with " + std::to_string(object_.GetErrorCode()));
    }
  }
  ~OpenLink() { object_.CloseEther(); }
  OpenLink(const OpenLink&) = delete;
  OpenLink& operator=(const OpenLink&) = delete;
  C_ZANTO_EXTCMD_IF& Object() { return object_; }

 private:
  C_ZANTO_EXTCMD_IF object_;
};

// The scene every UDP row shares: a scratch folder with "sample.ini" and a firmware image, and
// the emulator program on the adapter's address.
struct UdpScene {
  UdpScene()
      : port(e2e::FreeUdpPort()),
        emulator({"--address", kAdapterAddress, "--port", std::to_string(port)},
                 "(Ctrl-C stops it)\n"),
        statusRequest(GetStatusDatagram()),
        image(e2e::FirmwareImage(FW_IMAGE_MAX)),
        imagePath((scratch.Path() / "image.bin").string()),
        firmwareRequests(FirmwareDatagrams(image)) {
    e2e::WriteFile(scratch.Path(), "image.bin", image);
    std::ofstream(scratch.Path() / "sample.ini")
        << "[ETHERNET]\nIP=" << kAdapterAddress << "\nPORT=" << port << "\nHOST_IP=" << kToolAddress
        << "\n";
  }

  e2e::ScratchDir scratch;
  std::uint16_t port;
  Emulator emulator;
  Bytes statusRequest;
  Bytes image;
  std::string imagePath;
  std::vector<Bytes> firmwareRequests;
};

// n raw Get Status exchanges.
void RawStatusExchanges(std::uint16_t port, const Bytes& request, int n) {
  RawClient client(port);
  for (int i = 0; i < n; ++i) {
    if (ResultOf(client.PingPong(request)) != 0) Fail("Get Status refused");
  }
}

// Seconds per exchange of n raw Get Status exchanges.
double RawStatus(std::uint16_t port, const Bytes& request, int n) {
  return SecondsOf([&] { RawStatusExchanges(port, request, n); }) / n;
}

// The raw client as a program of its own: started, n exchanges, ended. Its option.
constexpr std::string_view kRawClientOption = "--raw-client";

// Seconds per exchange of a raw client program making n exchanges, from its start to its end,
// timed as the whole tool is.
double RawClientProgram(std::uint16_t port, int n) {
  const UniqueFd null = toolkit::OpenNull();
  int status = -1;
  const double seconds = SecondsOf([&] {
    toolkit::Child client = Start(
        "/proc/self/exe", {std::string(kRawClientOption), std::to_string(port), std::to_string(n)},
        null.get(), null.get());
    status = Wait(client);
  });
  if (status != 0) Fail("the raw client program ended with " + std::to_string(status));
  return seconds / n;
}

// The end of a program's output, for a failure's message.
std::string Tail(const std::string& output) {
  constexpr std::size_t kShown = 200;
  return output.size() <= kShown ? output : "..." + output.substr(output.size() - kShown);
}

// A program's run: its seconds from start to end, its exit status and what it wrote.
struct ProgramRun {
  double seconds;
  int status;
  std::string output;
};

// Runs a program in `dir` with its whole input waiting in a pipe before it starts (so writing it
// costs the program nothing) and its output going to a file.
ProgramRun RunPiped(const std::string& program, std::vector<std::string> args,
                    const std::filesystem::path& dir, const std::string& input,
                    std::chrono::milliseconds longest = kLongestWait) {
  toolkit::PipeEnds in = toolkit::MakePipe();
  const auto pipeSize = static_cast<int>(std::max<std::size_t>(input.size(), 1));
  if (fcntl(in.write.get(), F_SETPIPE_SZ, pipeSize) < 0 ||
      write(in.write.get(), input.data(), input.size()) != static_cast<ssize_t>(input.size())) {
    FailCall("cannot fill the input pipe");
  }
  in.write.reset();
  const auto outPath = dir / "output.txt";
  const UniqueFd out = toolkit::OpenFile(outPath, O_WRONLY | O_CREAT | O_TRUNC);
  ProgramRun run{0, -1, {}};
  run.seconds = SecondsOf([&] {
    toolkit::Child child = Start(program, std::move(args), in.read.get(), out.get(), dir.string());
    run.status = Wait(child, longest);
  });
  std::ifstream written(outPath);
  run.output.assign(std::istreambuf_iterator<char>(written), std::istreambuf_iterator<char>());
  return run;
}

// Seconds per cycle of the built tool doing n Get Status cycles on the link chosen ("0" UDP,
// "1" serial): input piped ("0", then "1" and a key each cycle, then "0"), output to a file.
double SampleCycles(const std::filesystem::path& dir, std::string_view link, int n) {
  std::string input = std::string(link) + "\n";
  for (int i = 0; i < n; ++i) input += "1\nk";
  input += "0\n";
  const ProgramRun run = RunPiped(SAMPLE_PROGRAM, {}, dir, input);
  int shown = 0;
  for (std::size_t at = 0; (at = run.output.find(" Beacon Status", at)) != std::string::npos;
       ++at) {
    ++shown;
  }
  if (run.status != 0 || shown != n) {
    Fail("sample ended with " + std::to_string(run.status) + " after " + std::to_string(shown) +
         " of " + std::to_string(n) + " status screens");
  }
  return run.seconds / n;
}

// Seconds of one plcctl run with the arguments given, which must end with status 0 and one
// JSON result that is "ok".
double PlcctlRun(const std::filesystem::path& dir, std::vector<std::string> args,
                 std::chrono::milliseconds longest = kLongestWait) {
  args.insert(args.begin(), "--json");
  const ProgramRun run = RunPiped(PLCCTL_PROGRAM, std::move(args), dir, {}, longest);
  if (run.status != 0 || run.output.find("\"ok\":true") == std::string::npos) {
    Fail("plcctl ended with " + std::to_string(run.status) + ": " + Tail(run.output));
  }
  return run.seconds;
}

struct Row {
  std::string what;
  std::string subject;
  std::string baseline;
  std::optional<double> ratio;
  std::optional<double> goal;  // the highest ratio that meets it
  std::string goalText;        // when the goal is no ratio
  std::optional<bool> met;
};

std::string Format(const char* format, double value) {
  char text[64];
  std::snprintf(text, sizeof text, format, value);
  return text;
}
std::string Micros(double seconds) { return Format("%.1f µs", seconds * 1e6); }
std::string Millis(double seconds) { return Format("%.2f ms", seconds * 1e3); }

Row RatioRow(std::string what, const Measured& m, double goal,
             const std::function<std::string(double)>& unit) {
  return {std::move(what), unit(m.subject), unit(m.baseline), m.ratio, goal, {}, m.ratio <= goal};
}

Row WholeProgram(const Plan& plan, const UdpScene& scene) {
  // Both are programs of their own, each timed from its start to its end.
  const Measured m = Interleave(
      plan.rounds, [&] { return SampleCycles(scene.scratch.Path(), "0", plan.cycles); },
      [&] { return RawClientProgram(scene.port, plan.cycles); });
  return RatioRow("Get Status cycle: whole `sample`, piped / raw client program", m, 1.40, Micros);
}

Row PlcctlStatus(const Plan& plan, const UdpScene& scene) {
  // Both are programs of their own making one exchange, each timed from its start to its end.
  const Measured m = Interleave(
      plan.starts, [&] { return PlcctlRun(scene.scratch.Path(), {"status"}); },
      [&] { return RawClientProgram(scene.port, 1); });
  return RatioRow("Get Status, one run, start-up included: `plcctl status` / raw client program", m,
                  1.30, Millis);
}

// The object's exchanges, and its heap allocations counted on this thread meanwhile.
Row ObjectExchange(const Plan& plan, const UdpScene& scene, Row& allocationsRow) {
  std::size_t allocations = 0;
  long long exchanges = 0;
  const auto object = [&] {
    OpenLink link(scene.port);
    C_ZANTO_EXTCMD_IF& o = link.Object();
    const std::size_t before = heap_count::ThisThread();
    const double seconds = SecondsOf([&] {
      for (int i = 0; i < plan.exchanges; ++i) {
        o.MakeCommand(CMD_GET_STATUS, 4);
        if (o.Transact(0) != 1 || o.GetData()[0] != 0) Fail("Get Status through the object failed");
      }
    });
    allocations += heap_count::ThisThread() - before;
    exchanges += plan.exchanges;
    return seconds / plan.exchanges;
  };
  const Measured m = Interleave(plan.rounds, object, [&] {
    return RawStatus(scene.port, scene.statusRequest, plan.exchanges);
  });
  const double perExchange = static_cast<double>(allocations) / static_cast<double>(exchanges);
  allocationsRow = {"Heap allocations per UDP exchange (object, this thread)",
                    Format("%g", perExchange),
                    "—",
                    {},
                    {},
                    "0",
                    allocations == 0};
  return RatioRow("Get Status exchange: `C_ZANTO_EXTCMD_IF` / raw client", m, 1.15, Micros);
}

Row EmulatorAgainstEcho(const Plan& plan, const UdpScene& scene) {
  const std::uint16_t echoPort = e2e::FreeUdpPort();
  const EchoServer echo(echoPort);
  const Measured m = Interleave(
      plan.rounds, [&] { return RawStatus(scene.port, scene.statusRequest, plan.exchanges); },
      [&] {
        RawClient client(echoPort);
        return SecondsOf([&] {
                 for (int i = 0; i < plan.exchanges; ++i) client.PingPong(scene.statusRequest);
               }) /
               plan.exchanges;
      });
  return RatioRow("Get Status answer: emulator / minimal UDP echo server (raw client)", m, 1.25,
                  Micros);
}

Row FirmwareTransfer(const Plan& plan, const UdpScene& scene) {
  const auto handler = [&] {
    OpenLink link(scene.port);
    NoPauseStreams streams(scene.imagePath + "\n");
    console::StreamConsole io(streams);
    const console::ScopedIo use(io);
    int result = 0;
    const double seconds = SecondsOf([&] { result = UpdateFirmware(link.Object()); });
    if (result != 1) Fail("the firmware transfer failed");
    return seconds;
  };
  const auto raw = [&] {
    RawClient client(scene.port);
    return SecondsOf([&] {
      for (const Bytes& request : scene.firmwareRequests) {
        if (ResultOf(client.PingPong(request)) != 0) Fail("firmware block refused");
      }
    });
  };
  const Measured m = Interleave(plan.rounds, handler, raw);
  return RatioRow(
      "Firmware transfer, 832 blocks over UDP, no pause: `UpdateFirmware` / raw "
      "ping-pongs",
      m, 1.15, Millis);
}

// The serial rows' scene: the emulator program on a pseudo-terminal of its own, and a scratch
// folder with a firmware image of the plan's size.
struct SerialScene {
  explicit SerialScene(const Plan& plan)
      : emulator({"--serial"}, "(Ctrl-C stops it)\n"),
        imagePath((scratch.Path() / "image.bin").string()) {
    const std::string& startup = emulator.Startup();
    const std::size_t at = startup.find("PORT=");
    if (at == std::string::npos) Fail("the emulator named no serial port: " + startup);
    port = startup.substr(at + 5, startup.find('\n', at) - at - 5);
    std::ofstream(scratch.Path() / "sample.ini") << "[SERIAL]\nPORT=" << port << "\nRATE=115200\n";
    e2e::WriteFile(scratch.Path(), "image.bin",
                   e2e::FirmwareImage(plan.serialFirmwareBlocks * FW_BLOCK_SIZE));
  }

  // An interface object with the serial link open, closed at the end of the call.
  template <typename Object, typename F>
  double WithLink(F&& use) const {
    Object object(5000);
    if (object.OpenSerial(port.c_str(), 115200, 8, 0, 0) != 1) Fail("cannot open " + port);
    const double seconds = use(static_cast<C_ZANTO_EXTCMD_IF&>(object));
    object.CloseSerial();
    return seconds;
  }

  e2e::ScratchDir scratch;
  Emulator emulator;
  std::string port;
  std::string imagePath;
};

// Seconds per exchange of n serial Get Status exchanges through an object of the class given.
// The median seconds of n serial Get Status exchanges through an object of the class given.
template <typename Object>
double SerialStatusExchanges(const SerialScene& scene, int n) {
  return scene.WithLink<Object>([n](C_ZANTO_EXTCMD_IF& o) {
    std::vector<double> times;
    for (int i = 0; i <= n; ++i) {
      o.MakeCommand(CMD_GET_STATUS, 4);
      int result = 0;
      const double seconds = SecondsOf([&] { result = o.Transact(0); });
      if (result != 1) Fail("serial Get Status failed with " + std::to_string(o.GetErrorCode()));
      if (i > 0) times.push_back(seconds);  // the first one sets the port's event report up
    }
    return Median(times);
  });
}

Row SerialStatus(const Plan& plan, const SerialScene& scene) {
  const double median = SerialStatusExchanges<C_ZANTO_EXTCMD_IF>(scene, plan.serialExchanges);
  const double ratio = median / kSerialFloorSeconds;
  return {"Serial Get Status over a pseudo-terminal / the receive's 100 ms floor",
          Millis(median),
          "100 ms",
          ratio,
          1.05,
          {},
          ratio <= 1.05};
}

// A serial Get Status that takes its answer at once, beside the tools' receive: its goal is a
// time, not a ratio.
Row PromptGoalRow(std::string what, const Measured& m) {
  return {std::move(what),
          Millis(m.subject),
          Millis(m.baseline),
          m.ratio,
          {},
          "≤ 5 ms",
          m.subject <= kPromptGoalSeconds};
}

Row PromptSerialStatus(const Plan& plan, const SerialScene& scene) {
  const int n = plan.serialRoundExchanges;
  const Measured m = Interleave(
      plan.serialRounds, [&] { return SerialStatusExchanges<PromptSerialIf>(scene, n); },
      [&] { return SerialStatusExchanges<C_ZANTO_EXTCMD_IF>(scene, n); });
  return PromptGoalRow(
      "Serial Get Status over a pseudo-terminal: `PromptSerialIf` / the tools' "
      "receive",
      m);
}

// Seconds of the firmware handler sending the scene's image through an object of the class
// given, the pause after the last block returning at once.
template <typename Object>
double SerialFirmware(const SerialScene& scene) {
  return scene.WithLink<Object>([&](C_ZANTO_EXTCMD_IF& o) {
    NoPauseStreams streams(scene.imagePath + "\n");
    console::StreamConsole io(streams);
    const console::ScopedIo use(io);
    int result = 0;
    const double seconds = SecondsOf([&] { result = UpdateFirmware(o); });
    if (result != 1) Fail("the serial firmware transfer failed");
    return seconds;
  });
}

Row PromptSerialFirmware(const Plan& plan, const SerialScene& scene) {
  const Measured m = Interleave(
      plan.serialFirmwareRounds, [&] { return SerialFirmware<PromptSerialIf>(scene); },
      [&] { return SerialFirmware<C_ZANTO_EXTCMD_IF>(scene); }, false);
  return RatioRow("Firmware transfer, " + std::to_string(plan.serialFirmwareBlocks) +
                      " blocks over a pseudo-terminal, no pause: `UpdateFirmware` through "
                      "`PromptSerialIf` / through the tools' receive",
                  m, 0.20, Millis);
}

Row PlcctlSerialStatus(const Plan& plan, const SerialScene& scene) {
  const std::filesystem::path& dir = scene.scratch.Path();
  const int n = plan.serialRoundExchanges;
  // Both programs make n Get Status exchanges in one run, so each spreads its start the same
  // way; plcctl's samples are due 1 ms apart, which an exchange takes longer than.
  const auto plcctl = [&] {
    return PlcctlRun(dir, {"--link", "serial", "status", "--every", "0.001", "--count",
                           std::to_string(n)}) /
           n;
  };
  const Measured m =
      Interleave(plan.serialRounds, plcctl, [&] { return SampleCycles(dir, "1", n); });
  return PromptGoalRow(
      "Serial Get Status over a pseudo-terminal, whole programs: `plcctl status` / `sample`", m);
}

// A whole program's firmware update less the pause after the last block, which both programs
// make and which is no work of either.
double WithoutThePause(double seconds) {
  return seconds - static_cast<double>(commands::kWriteMemoryPauseMs) / 1000;
}

Row PlcctlSerialFirmware(const Plan& plan, const SerialScene& scene) {
  const std::filesystem::path& dir = scene.scratch.Path();
  // The tools' receive takes over 100 ms a block: the full image takes sample about 100 s.
  const auto longest = kLongestWait + std::chrono::milliseconds(500) * plan.serialFirmwareBlocks;
  const auto plcctl = [&] {
    return WithoutThePause(PlcctlRun(dir, {"--link", "serial", "firmware", "image.bin"}, longest));
  };
  const auto sample = [&] {
    const ProgramRun run = RunPiped(SAMPLE_PROGRAM, {}, dir, "1\n4\nimage.bin\n0\n", longest);
    if (run.status != 0 || run.output.find(" Success update firmware") == std::string::npos) {
      Fail("sample's firmware update ended with " + std::to_string(run.status) + ": " +
           Tail(run.output));
    }
    return WithoutThePause(run.seconds);
  };
  // One round each: the pauses alone take 20 s.
  const Measured m = Interleave(1, plcctl, sample, false);
  return RatioRow("Firmware update, " + std::to_string(plan.serialFirmwareBlocks) +
                      " blocks over a pseudo-terminal, whole programs less the 10 s pause: "
                      "`plcctl firmware` / `sample`",
                  m, 0.20, Millis);
}

Row StartToPrompt(const Plan& plan, const UdpScene& scene) {
  const auto sample = [&] {
    toolkit::PipeEnds in = toolkit::MakePipe();
    toolkit::PipeEnds out = toolkit::MakePipe();
    toolkit::Inbound output(std::move(out.read));
    toolkit::Child tool;
    const double seconds = SecondsOf([&] {
      tool =
          Start(SAMPLE_PROGRAM, {}, in.read.get(), out.write.get(), scene.scratch.Path().string());
      out.write.reset();
      ReadUntil(output, kLinkPrompt);
    });
    in.write.reset();  // input ends at the link prompt: the tool ends
    Wait(tool);
    return seconds;
  };
  const auto trueProgram = [] {
    const UniqueFd null = toolkit::OpenNull();
    return SecondsOf([&] {
      toolkit::Child child = Start("/bin/true", {}, null.get(), null.get());
      Wait(child);
    });
  };
  const Measured m = Interleave(plan.starts, sample, trueProgram);
  return {"Start to the link prompt: `sample` / starting `/bin/true`",
          Millis(m.subject),
          Millis(m.baseline),
          m.ratio,
          {},
          "none",
          {}};
}

void PrintTable(const std::vector<Row>& rows) {
  std::printf("| Measure | Subject | Baseline | Ratio | Goal | Met |\n");
  std::printf("|---|---:|---:|---:|---:|:---:|\n");
  for (const Row& r : rows) {
    const std::string ratio = r.ratio ? Format("%.2f×", *r.ratio) : "—";
    const std::string goal = r.goal ? Format("≤ %.2f×", *r.goal) : r.goalText;
    const char* met = !r.met ? "—" : *r.met ? "yes" : "**no**";
    std::printf("| %s | %s | %s | %s | %s | %s |\n", r.what.c_str(), r.subject.c_str(),
                r.baseline.c_str(), ratio.c_str(), goal.c_str(), met);
  }
}

std::string LoadAverage() {
  std::ifstream in("/proc/loadavg");
  std::string one;
  in >> one;
  return one.empty() ? "?" : one;
}

// Runs one row; a row that cannot be measured says why in its place and the run goes on.
void Measure(std::vector<Row>& rows, bool& complete, const std::string& what,
             const std::function<Row()>& row) {
  try {
    rows.push_back(row());
  } catch (const std::exception& e) {
    rows.push_back({what, "not measured", e.what(), {}, {}, "", {}});
    complete = false;
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && argv[1] == kRawClientOption) {
    try {
      RawStatusExchanges(static_cast<std::uint16_t>(std::stoi(argv[2])), GetStatusDatagram(),
                         std::stoi(argv[3]));
      return 0;
    } catch (const std::exception& e) {
      std::fprintf(stderr, "perf_table %s: %s\n", argv[1], e.what());
      return 1;
    }
  }
  const bool shortRun = argc == 2 && std::string_view(argv[1]) == "--short";
  if (argc > 2 || (argc == 2 && !shortRun)) {
    std::fprintf(stderr, "usage: perf_table [--short]\n");
    return 2;
  }
  // A closed output or a finished echo child must not end the bench by a signal.
  signal(SIGPIPE, SIG_IGN);
  const Plan& plan = shortRun ? kShortPlan : kFullPlan;
  std::printf(
      "perf_table%s: %d rounds of %d cycles / %d exchanges, %d serial exchanges, %d "
      "starts; load average %s at start\n\n",
      shortRun ? " --short" : "", plan.rounds, plan.cycles, plan.exchanges, plan.serialExchanges,
      plan.starts, LoadAverage().c_str());
  std::fflush(stdout);

  std::vector<Row> rows;
  bool complete = true;
  std::optional<UdpScene> scene;
  try {
    scene.emplace();
  } catch (const std::exception& e) {
    std::printf("The UDP rows cannot be measured: %s\n\n", e.what());
    complete = false;
  }
  Row allocations{"Heap allocations per UDP exchange", "not measured", "", {}, {}, "0", {}};
  if (scene) {
    Measure(rows, complete, "Get Status cycle, whole `sample`",
            [&] { return WholeProgram(plan, *scene); });
    Measure(rows, complete, "Get Status exchange, `C_ZANTO_EXTCMD_IF`",
            [&] { return ObjectExchange(plan, *scene, allocations); });
    Measure(rows, complete, "Get Status, `plcctl status`",
            [&] { return PlcctlStatus(plan, *scene); });
    Measure(rows, complete, "Emulator / echo server",
            [&] { return EmulatorAgainstEcho(plan, *scene); });
    Measure(rows, complete, "Firmware transfer", [&] { return FirmwareTransfer(plan, *scene); });
  }
  std::optional<SerialScene> serial;
  try {
    serial.emplace(plan);
  } catch (const std::exception& e) {
    std::printf("The serial rows cannot be measured: %s\n\n", e.what());
    complete = false;
  }
  if (serial) {
    Measure(rows, complete, "Serial Get Status", [&] { return SerialStatus(plan, *serial); });
    Measure(rows, complete, "Serial Get Status, `PromptSerialIf`",
            [&] { return PromptSerialStatus(plan, *serial); });
    Measure(rows, complete, "Firmware transfer over a pseudo-terminal, `PromptSerialIf`",
            [&] { return PromptSerialFirmware(plan, *serial); });
    Measure(rows, complete, "Serial Get Status, `plcctl status`",
            [&] { return PlcctlSerialStatus(plan, *serial); });
    Measure(rows, complete, "Firmware update over a pseudo-terminal, `plcctl firmware`",
            [&] { return PlcctlSerialFirmware(plan, *serial); });
  }
  if (scene) {
    rows.push_back(allocations);
    Measure(rows, complete, "Start to the link prompt",
            [&] { return StartToPrompt(plan, *scene); });
  }
  PrintTable(rows);
  std::printf("\nLoad average %s at the end. Ratios are medians of the rounds' ratios.\n",
              LoadAverage().c_str());
  if (!complete) std::printf("Some rows could not be measured (see their Baseline column).\n");
  return complete ? 0 : 1;
}
