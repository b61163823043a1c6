// The serial link (not yet available on this system: opening reports that the port cannot be opened).
#include "extcmd/zanto_extcmd_if.h"

int C_ZANTO_EXTCMD_IF::OpenSerial(const char*, std::uint32_t, int, int, int) {
  if (m_nConnect != CONNECT_NONE) {
    m_nError = ERR_SERIAL_ALREADY_OPEN;
    return 0;
  }
  m_hComm = plat::kInvalidSerial;
  m_nError = ERR_SERIAL_OPEN;
  return 0;
}

int C_ZANTO_EXTCMD_IF::CloseSerial() {
  m_nError = ERR_SERIAL_NOT_OPEN;
  return 0;
}

int C_ZANTO_EXTCMD_IF::SerialSend() { return 1; }

int C_ZANTO_EXTCMD_IF::SerialRecv() {
  m_nError = ERR_SERIAL_OPEN;
  return 0;
}
