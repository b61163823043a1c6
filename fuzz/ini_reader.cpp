// Any "sample.ini", whatever its bytes and size, reads without fault, and every text value keeps
// within the length the tools keep of it.
#include <cstdlib>
#include <string_view>

#include "console/entry.h"
#include "console/ini.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const console::IniFile ini = console::IniFile::Parse({reinterpret_cast<const char*>(data), size});
  for (const bool lineFormatKeys : {false, true}) {
    const console::LinkConfig c = console::ReadLinkConfig(ini, lineFormatKeys);
    if (c.serialPort.size() > 7 || c.ip.size() > 15 || c.hostIp.size() > 15 || c.mac.size() > 12) {
      std::abort();
    }
  }
  return 0;
}
