// Stands in for the system's arp in the Windows tests, found in the current folder before the
// system's own: it waits while "arp.hold" is there (at most 10 s), then records the command
// line exactly as the system handed it over in "arp.calls", and changes nothing.
#include <windows.h>

#include <fstream>

int main() {
  for (int i = 0; i < 1000 && GetFileAttributesA("arp.hold") != INVALID_FILE_ATTRIBUTES; ++i) {
    Sleep(10);
  }
  std::ofstream("arp.calls", std::ios::binary | std::ios::app) << GetCommandLineA();
  return 0;
}
