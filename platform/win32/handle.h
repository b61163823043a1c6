// Ownership of Win32 handles: closed once, by their owner, on every way out.
#pragma once

#include <windows.h>

#include <memory>

namespace plat::win32 {

struct HandleCloser {
  void operator()(HANDLE h) const {
    if (h != nullptr && h != INVALID_HANDLE_VALUE) CloseHandle(h);
  }
};
using UniqueHandle = std::unique_ptr<void, HandleCloser>;

}  // namespace plat::win32
