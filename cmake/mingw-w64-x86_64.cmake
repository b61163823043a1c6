# Cross-build for 64-bit Windows with Debian's mingw-w64 compiler of the POSIX thread model (the
# win32 thread model lacks the std::thread and std::mutex that GoogleTest needs). The programs
# link their C and C++ runtimes statically, so the .exe files run on Windows without any DLL of
# the compiler. Tests run under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

# Libraries and headers of the target only; programs (the build's own tools) of the host.
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# ctest runs every Windows test program through Wine; the environment it needs (a prefix, no
# display) comes from scripts/wine_session.sh and the "windows" test preset.
set(CMAKE_CROSSCOMPILING_EMULATOR wine)

# CLI11 and nlohmann-json are header-only Debian packages under /usr/include; the Windows build
# takes these two from there (and nothing else of the host's headers), after mingw's own.
set(PLC_HOST_HEADER_ONLY_DIRS /usr/include/CLI /usr/include/nlohmann)
