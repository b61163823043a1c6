# The Windows package: a ZIP with one folder, plc-adapter-tools-<version>-windows-x64, that holds
# sample.exe, tarvik.exe, plcctl.exe, the example "sample.ini", the README and the copyright, for a
# technician to unpack on a Windows laptop (cpack in the "windows" build folder).
set(CPACK_SYSTEM_NAME windows-x64)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
