# Makes one manual page from its source: the version, the installed documents' and data folders
# and the list of failure codes are put in, and a copy is compressed beside it (gzip -9n: no
# name or time stamp, so builds are repeatable).
#   cmake -D SOURCE=<page>.in -D OUTPUT=<page> -D CODES=failure-codes.tsv -D VERSION=<version>
#         -D DOCDIR=<installed documents> -D DATADIR=<installed data> -D GZIP=<gzip program>
#         -P make_page.cmake
cmake_minimum_required(VERSION 3.25)
include(${CMAKE_CURRENT_LIST_DIR}/failure_codes.cmake)

file(READ "${SOURCE}" page)
if(page MATCHES "\n@FAILURE_CODES@\n")
  plc_failure_codes_roff("${CODES}" codes)
  string(REPLACE "@FAILURE_CODES@\n" "${codes}" page "${page}")
endif()
string(REPLACE "@VERSION@" "${VERSION}" page "${page}")
string(REPLACE "@DOCDIR@" "${DOCDIR}" page "${page}")
string(REPLACE "@DATADIR@" "${DATADIR}" page "${page}")
if(page MATCHES "@[A-Z_]+@")
  message(FATAL_ERROR "${SOURCE}: unknown placeholder ${CMAKE_MATCH_0}")
endif()
file(WRITE "${OUTPUT}" "${page}")
execute_process(COMMAND "${GZIP}" -9nc "${OUTPUT}" OUTPUT_FILE "${OUTPUT}.gz" RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "${GZIP} could not compress ${OUTPUT}")
endif()
