// Heap allocations counted per thread: a program that links heap_count.cpp counts every
// operator new on the thread that makes it, so work on other threads (an emulated adapter
// serving in the same process) does not show.
#pragma once

#include <cstddef>

namespace heap_count {

// Allocations made through operator new on the calling thread since it started.
std::size_t ThisThread();

}  // namespace heap_count
