# The Windows package: a ZIP of sample.exe, tarvik.exe, an example "sample.ini" and the README,
# for a technician to unpack on a Windows laptop (cpack in the "windows" build folder).
install(TARGETS sample tarvik RUNTIME DESTINATION .)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/windows/sample.ini ${PROJECT_SOURCE_DIR}/README.md
        DESTINATION .)
set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME plc-adapter-tools)
set(CPACK_PACKAGE_VERSION 1.0.0)
set(CPACK_SYSTEM_NAME windows-x64)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_STRIP_FILES ON)  # no debug symbols in what technicians get
include(CPack)
