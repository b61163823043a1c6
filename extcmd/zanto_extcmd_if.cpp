// Frame building, the exchange of one request and its answer, and the answer checks.
#include "extcmd/zanto_extcmd_if.h"

#include <cstring>

C_ZANTO_EXTCMD_IF::C_ZANTO_EXTCMD_IF(int timeoutMs)
    : m_pFrame(m_Buffer),
      m_nConnect(CONNECT_NONE),
      m_nError(ERR_NONE),
      m_Buffer{},
      m_nTimeout(timeoutMs),
      m_Socket(plat::kInvalidSocket),
      m_DestAddr{},
      m_hComm(plat::kInvalidSerial),
      m_ReadOverlapped{},
      m_WriteOverlapped{},
      m_nPacing(128) {}

int C_ZANTO_EXTCMD_IF::GetConnectType() { return m_nConnect; }

int C_ZANTO_EXTCMD_IF::MakeCommand(std::uint16_t code, int dataLength) {
  std::memset(m_Buffer, 0, sizeof m_Buffer);
  // Over UDP the datagram starts with two zero bytes in front of the frame.
  m_pFrame = m_nConnect == CONNECT_ETHER ? m_Buffer + frame::kDatagramLead : m_Buffer;
  frame::WriteHeader(m_pFrame, frame::kDirRequest, static_cast<std::uint16_t>(code | 1));
  SetDataLength(dataLength);
  return 1;
}

int C_ZANTO_EXTCMD_IF::SetDataLength(int dataLength) {
  frame::SetLengths(m_pFrame, static_cast<std::uint32_t>(dataLength));
  return 1;
}

int C_ZANTO_EXTCMD_IF::Transact(int noAnswerOk) {
  // The answer overwrites the request, so the code to wait for is taken first.
  const std::uint16_t expected = frame::AnswerCode(frame::Get16(m_pFrame + frame::kOffCommand));
  int received;
  if (m_nConnect == CONNECT_ETHER) {
    if (!EtherSend()) return 0;
    received = EtherRecv();
  } else if (m_nConnect == CONNECT_SERIAL) {
    if (!SerialSend()) return 0;
    received = SerialRecv();
  } else {
    return 0;  // no link: the code of whatever made the open fail stays for the report
  }
  if (!received) return noAnswerOk ? 1 : 0;
  return CheckResponse(expected);
}

std::uint8_t* C_ZANTO_EXTCMD_IF::GetData() { return m_pFrame + frame::kHeaderSize; }

int C_ZANTO_EXTCMD_IF::MakeRelayCommand(std::uint16_t code, int dataLength) {
  // The outer MakeCommand has just cleared the buffer, so only the set fields are written.
  std::uint8_t* inner = nullptr;
  GetRelayRequest(&inner);
  frame::WriteHeader(inner, frame::kDirRequest, static_cast<std::uint16_t>(code | 1));
  SetRelayDataLength(dataLength);
  SetRelayOuterLength(dataLength);
  return 1;
}

int C_ZANTO_EXTCMD_IF::GetRelayRequest(std::uint8_t** frame) {
  *frame = m_pFrame + frame::kInnerFrameOffset;
  return 1;
}

int C_ZANTO_EXTCMD_IF::GetRelayResponse(std::uint8_t** frame) {
  *frame = m_pFrame + frame::kInnerFrameOffset;
  return 1;
}

int C_ZANTO_EXTCMD_IF::GetErrorCode() { return m_nError; }

int C_ZANTO_EXTCMD_IF::CheckResponse(std::uint16_t expectedCode) {
  const auto available = static_cast<std::size_t>(m_Buffer + sizeof m_Buffer - m_pFrame);
  int code = frame::CheckHeader({m_pFrame, available}, expectedCode);
  if (code == 0 && m_nConnect == CONNECT_SERIAL) {
    // The checksum sits behind the FrameLength bytes; an answer that claims more than the
    // buffer holds fails here rather than being read past the buffer's end.
    const std::size_t length = frame::Get16(m_pFrame + frame::kOffFrameLength);
    if (frame::kFrameLengthBase + length + frame::kChecksumSize > available ||
        frame::Get16(m_pFrame + frame::kFrameLengthBase + length) !=
            CalcChecksum(m_pFrame + frame::kFrameLengthBase, static_cast<std::uint16_t>(length))) {
      code = frame::kErrChecksum;
    }
  }
  if (code != 0) {
    m_nError = code;
    return 0;
  }
  return 1;
}

std::uint16_t C_ZANTO_EXTCMD_IF::CalcChecksum(const std::uint8_t* bytes, std::uint16_t length) {
  return frame::Checksum({bytes, length});
}

int C_ZANTO_EXTCMD_IF::SetRelayDataLength(int dataLength) {
  std::uint8_t* inner = nullptr;
  GetRelayRequest(&inner);
  frame::SetLengths(inner, static_cast<std::uint32_t>(dataLength));
  return 1;
}

int C_ZANTO_EXTCMD_IF::SetRelayOuterLength(int dataLength) {
  // The outer data: the relay header, then the inner frame's header and data.
  constexpr auto kBeforeInnerData =
      static_cast<std::uint32_t>(frame::kRelayHeaderSize + frame::kHeaderSize);
  frame::SetLengths(m_pFrame, static_cast<std::uint32_t>(dataLength) + kBeforeInnerData);
  return 1;
}
