// Layouts of the answer records and of the relay header, shared by the tools and the emulator.
#pragma once

#include <cstddef>
#include <cstdint>

// The status record: the answer data of Get Status (also relayed from a remote adapter).
inline constexpr std::size_t STATUS_RECORD_SIZE = 120;
// The adapter identity record: the answer data of PLC Info Resolution.
inline constexpr std::size_t IDENTITY_RECORD_SIZE = 40;

namespace status_record {
inline constexpr std::size_t kResult = 0;
inline constexpr std::size_t kRegisteredInfo = 4;
inline constexpr std::size_t kEtherLinkUp = 5;
inline constexpr std::size_t kEtherSpdDpx = 6;  // 16-bit
inline constexpr std::size_t kMultipleMode = 8;
inline constexpr std::size_t kAuthenticated = 9;
inline constexpr std::size_t kMacAddress = 10;
inline constexpr std::size_t kMainVersion = 16;
inline constexpr std::size_t kMainVersionSize = 64;
inline constexpr std::size_t kBootVersion = 80;
inline constexpr std::size_t kBootVersionSize = 32;
inline constexpr std::size_t kBeaconStatus = 112;
inline constexpr std::size_t kModeFlags = 113;  // bit 0: master
inline constexpr std::size_t kMasterMacAddress = 114;
}  // namespace status_record

namespace identity_record {
inline constexpr std::size_t kResult = 0;
inline constexpr std::size_t kMacAddress = 2;
inline constexpr std::size_t kIpAddress = 8;
inline constexpr std::size_t kSubnetMask = 12;
inline constexpr std::size_t kCommandVersion = 16;  // 32-bit
inline constexpr std::size_t kModelName = 20;
inline constexpr std::size_t kModelNameSize = 16;
inline constexpr std::size_t kOptionFlag = 36;  // 32-bit
}  // namespace identity_record

// The 20 bytes in front of the nested frame of a relay request, offsets in the outer data area.
namespace relay_header {
inline constexpr std::size_t kRemoteMac = 4;
inline constexpr std::size_t kWaitTime = 10;        // 16-bit, units of 100 ms
inline constexpr std::size_t kRelayMaxLength = 16;  // 32-bit
}  // namespace relay_header
