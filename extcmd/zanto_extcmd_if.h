// The command interface object: frame buffer, open link, time-out and the code of the last failure.
#pragma once

#include <cstdint>

#include "extcmd/frame.h"
#include "extcmd/serial_coding.h"
#include "platform/net.h"
#include "platform/serial.h"

inline constexpr int CONNECT_NONE = -1;
inline constexpr int CONNECT_ETHER = 0;
inline constexpr int CONNECT_SERIAL = 1;

inline constexpr int EXTCMD_BUFFER_SIZE = 4096;

// Codes kept in m_nError (10207 is only ever printed, for a non-zero result byte).
enum ExtcmdError : int {
  // Held until the first failure; printed when the UDP link failed to open without a code of
  // its own (this computer's host name could not be resolved).
  ERR_NONE = 0,
  ERR_ETHER_ALREADY_OPEN = 10001,
  ERR_ETHER_OPEN = 10002,
  ERR_ETHER_STARTUP = 10003,
  ERR_ARP_START = 10004,
  ERR_ETHER_NOT_OPEN = 10005,
  ERR_ETHER_CLOSE = 10006,
  ERR_ETHER_CLEANUP = 10007,
  ERR_ETHER_SEND = 10008,
  ERR_ETHER_RECV = 10009,
  ERR_SERIAL_ALREADY_OPEN = 10101,
  ERR_SERIAL_OPEN = 10102,
  ERR_SERIAL_NOT_OPEN = 10103,
  ERR_SERIAL_QUEUE_EMPTY = 10104,
  ERR_SERIAL_TIMEOUT = 10105,
  ERR_SERIAL_PREAMBLE = 10106,
  ERR_RESULT = 10207,
};

// One object per tool run. Every operation returns 1 for success and 0 for failure and stores
// the failure's code in m_nError. The operations are virtual, in this slot order, and call each
// other through the virtual table, so a test can stand in for any link operation.
class C_ZANTO_EXTCMD_IF {
 public:
  explicit C_ZANTO_EXTCMD_IF(int timeoutMs);
  C_ZANTO_EXTCMD_IF(const C_ZANTO_EXTCMD_IF&) = delete;
  C_ZANTO_EXTCMD_IF& operator=(const C_ZANTO_EXTCMD_IF&) = delete;

  // The slot numbers stay in one column (clang-format would split it).
  // clang-format off
  virtual int OpenSerial(const char* port, std::uint32_t baud, int byteSize, int parity,
                         int stopBits);                                          // 0
  virtual int CloseSerial();                                                     // 1
  virtual int OpenEther(const char* hostIp, const char* targetIp, std::uint16_t port,
                        const std::uint8_t* mac);                                // 2
  virtual int CloseEther();                                                      // 3
  virtual int SetArpEntry(const char* targetIp, const std::uint8_t* mac,
                          const char* hostIp);                                   // 4
  virtual int GetConnectType();                                                  // 5
  virtual int MakeCommand(std::uint16_t code, int dataLength);                   // 6
  virtual int SetDataLength(int dataLength);                                     // 7
  virtual int Transact(int noAnswerOk);                                          // 8
  virtual std::uint8_t* GetData();                                               // 9
  virtual int MakeRelayCommand(std::uint16_t code, int dataLength);              // 10
  virtual int GetRelayRequest(std::uint8_t** frame);                             // 11
  virtual int GetRelayResponse(std::uint8_t** frame);                            // 12
  virtual int GetErrorCode();                                                    // 13
  virtual int CheckResponse(std::uint16_t expectedCode);                         // 14
  virtual int EtherSend();                                                       // 15
  virtual int EtherRecv();                                                       // 16
  virtual int SerialSend();                                                      // 17
  virtual int SerialRecv();                                                      // 18
  virtual std::uint16_t CalcChecksum(const std::uint8_t* bytes, std::uint16_t length);  // 19
  virtual int SetRelayDataLength(int dataLength);                                // 20
  virtual int SetRelayOuterLength(int dataLength);                               // 21
  // clang-format on

  // The fields are open to the handlers, which set m_nTimeout themselves when an answer takes
  // longer, and to tests.
  std::uint8_t* m_pFrame;
  std::int32_t m_nConnect;
  std::int32_t m_nError;
  std::uint8_t m_Buffer[EXTCMD_BUFFER_SIZE];
  std::int32_t m_nTimeout;
  plat::SocketHandle m_Socket;
  plat::Ipv4SockAddr m_DestAddr;
  plat::SerialHandle m_hComm;
  plat::Overlapped m_ReadOverlapped;
  plat::Overlapped m_WriteOverlapped;
  std::int32_t m_nPacing;
};
