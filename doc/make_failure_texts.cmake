# Makes the script tool's table of failure texts from the one table of failure codes: per code
# the "what failed" cell, as a C++ initialiser row; literals lose their backquotes.
#   cmake -D CODES=failure-codes.tsv -D OUTPUT=<file> -P make_failure_texts.cmake
cmake_minimum_required(VERSION 3.25)
include(${CMAKE_CURRENT_LIST_DIR}/failure_codes.cmake)

plc_failure_code_rows("${CODES}" rows)
set(table "// Made from doc/failure-codes.tsv by doc/make_failure_texts.cmake: do not edit.\n")
foreach(row IN LISTS rows)
  string(REPLACE "|" ";" fields "${row}")
  list(GET fields 0 code)
  list(GET fields 2 failed)
  plc_list_characters(SHOW "${failed}" failed)
  string(REPLACE "`" "" failed "${failed}")
  string(REPLACE "\\" "\\\\" failed "${failed}")
  string(REPLACE "\"" "\\\"" failed "${failed}")
  string(APPEND table "{${code}, \"${failed}\"},\n")
endforeach()
# Written only when it changed, so that a new build of the pages does not rebuild the program.
file(CONFIGURE OUTPUT "${OUTPUT}" CONTENT "${table}" @ONLY)
