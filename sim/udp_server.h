// The emulated adapter's UDP side: answers each request datagram to its sender, on its own thread.
#pragma once

#include <netinet/in.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "pcap/capture.h"
#include "platform/posix/unique_fd.h"
#include "sim/adapter.h"
#include "sim/traffic_log.h"

namespace sim {

// A datagram as the emulator received it: all its bytes, and who sent it.
struct Datagram {
  Bytes bytes;
  std::string fromAddress;
  std::uint16_t fromPort = 0;
};

// Binds address:port at construction (throws std::system_error when that fails) and serves
// until Stop or destruction, which return at once: the thread blocks only in its receive, which
// Stop ends by shutting the socket for reading, and in answer delays, which Stop's wake-up pipe
// cuts short.
//
// A request datagram is 2 leading bytes and a frame; the answer datagram is 00 00 and the
// answer frame, without checksum, sent to the request's sender. The datagram faults (faults.h)
// change that: only the first 9 bytes, an empty datagram, a datagram padded past the tools'
// buffer, or the answer sent from a second socket bound to another loopback address.
//
// With a capture file, every datagram received and sent goes into it with its addresses and ports;
// answers leave from the address the request came to, as the capture shows them.
class UdpServer : public TrafficLog<Datagram> {
 public:
  struct Options {
    std::string address = "127.0.0.2";
    std::uint16_t port = 0;                  // 0: the system chooses one (see Port)
    std::string otherAddress = "127.0.0.3";  // where other-address answers come from
  };

  UdpServer(Adapter& adapter, const Options& options, pcap::CaptureFile* capture = nullptr);
  ~UdpServer();
  UdpServer(const UdpServer&) = delete;
  UdpServer& operator=(const UdpServer&) = delete;

  void Stop();
  std::uint16_t Port() const { return port_; }

 private:
  void Run();
  // Sleeps for the delay; true when Stop was asked meanwhile.
  bool StopDuring(std::chrono::milliseconds delay) const;
  // `local` is where the request came to: the address and this server's port.
  void Send(Reply& reply, const Datagram& to, const pcap::Endpoint& local);

  Adapter& adapter_;
  plat::posix::UniqueFd socket_;
  plat::posix::UniqueFd otherSocket_;
  plat::posix::UniqueFd wakeRead_;
  plat::posix::UniqueFd wakeWrite_;
  std::uint16_t port_ = 0;
  in_addr_t bound_ = 0;  // the address bound to, in network order; 0 is every address
  pcap::CaptureFile* capture_;
  pcap::Endpoint other_;  // where the other socket sends from

  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace sim
