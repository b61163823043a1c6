# Holds the one table of failure codes (doc/failure-codes.tsv) to the README's copy and to the
# codes the programs keep or print: the ExtcmdError codes and the answer checks' codes.
#   cmake -D SOURCE_DIR=<repository> -P doc/check_failure_codes.cmake              (check)
#   cmake -D SOURCE_DIR=<repository> -D UPDATE=ON -P doc/check_failure_codes.cmake (rewrite the README's copy)
cmake_minimum_required(VERSION 3.25)
include(${CMAKE_CURRENT_LIST_DIR}/failure_codes.cmake)

set(table_file ${SOURCE_DIR}/doc/failure-codes.tsv)
set(readme_file ${SOURCE_DIR}/README.md)
set(marker "<!-- failure codes: made from doc/failure-codes.tsv; a test holds the two equal -->\n")

# The README's copy: the lines that start with '|' right after the marker.
plc_failure_codes_markdown(${table_file} expected)
file(READ ${readme_file} readme)
string(FIND "${readme}" "${marker}" at)
if(at EQUAL -1)
  message(FATAL_ERROR "README.md has no line \"${marker}\" in front of the table of failure codes")
endif()
string(LENGTH "${marker}" marker_length)
math(EXPR table_at "${at} + ${marker_length}")
string(SUBSTRING "${readme}" 0 ${table_at} before)
string(SUBSTRING "${readme}" ${table_at} -1 after)
string(REGEX MATCH "^(\\|[^\n]*\n)+" readme_table "${after}")
string(LENGTH "${readme_table}" readme_table_length)
string(SUBSTRING "${after}" ${readme_table_length} -1 rest)

if(UPDATE)
  file(WRITE ${readme_file} "${before}${expected}${rest}")
  message(STATUS "README.md: table of failure codes written from doc/failure-codes.tsv")
  return()
endif()

set(problems "")
if(NOT readme_table STREQUAL expected)
  string(APPEND problems "The README's table of failure codes differs from doc/failure-codes.tsv. "
         "Edit the .tsv file, then run\n  cmake -D SOURCE_DIR=. -D UPDATE=ON -P doc/check_failure_codes.cmake\n"
         "The README should hold:\n${expected}\n")
endif()

# The codes of the source: every ExtcmdError value, and the codes of the answer checks.
file(READ ${SOURCE_DIR}/extcmd/zanto_extcmd_if.h interface)
string(REGEX MATCH "enum ExtcmdError[^{]*{[^}]*}" enum "${interface}")
string(REGEX MATCHALL "= *[0-9]+" interface_codes "${enum}")
file(READ ${SOURCE_DIR}/extcmd/frame.h frame)
string(REGEX MATCHALL "kErr[A-Za-z]+ = [0-9]+" check_codes "${frame}")
if(NOT interface_codes OR NOT check_codes)
  message(FATAL_ERROR "The codes were not found in extcmd/zanto_extcmd_if.h (enum ExtcmdError) "
          "or extcmd/frame.h (kErr... = code): has their form changed?")
endif()
set(source_codes "")
foreach(entry IN LISTS interface_codes check_codes)
  string(REGEX REPLACE ".*= *" "" code "${entry}")
  list(APPEND source_codes ${code})
endforeach()

plc_failure_codes(${table_file} table_codes)
set(missing ${source_codes})
list(REMOVE_ITEM missing ${table_codes})
set(unknown ${table_codes})
list(REMOVE_ITEM unknown ${source_codes})
# Test the lists as text: the code 0 alone would read as false.
if(NOT "${missing}" STREQUAL "")
  string(APPEND problems "doc/failure-codes.tsv lacks codes the programs keep or print: ${missing}\n")
endif()
if(NOT "${unknown}" STREQUAL "")
  string(APPEND problems "doc/failure-codes.tsv names codes nothing produces: ${unknown}\n")
endif()

if(problems)
  message(FATAL_ERROR "${problems}")
endif()
list(LENGTH table_codes count)
message(STATUS "The table of ${count} failure codes matches the README and the source")
