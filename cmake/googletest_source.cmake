# GoogleTest for a cross-build: compiled from Debian's source package (/usr/src/googletest)
# with the target's compiler, since the installed libraries are the host's.
set(PLC_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest source tree for cross-builds")
if(NOT EXISTS ${PLC_GOOGLETEST_SOURCE}/CMakeLists.txt)
  message(FATAL_ERROR "No GoogleTest source in ${PLC_GOOGLETEST_SOURCE} (Debian: apt-get install googletest)")
endif()
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
add_subdirectory(${PLC_GOOGLETEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
# Its code is not ours to keep free of warnings.
foreach(target gtest gtest_main)
  target_compile_options(${target} PRIVATE -w)
endforeach()
