# Renders each manual page as man does, with groff and with mandoc, and fails on any warning.
#   cmake -D GROFF=<groff> -D MANDOC=<mandoc> -D PAGE_DIR=<folder> -D PAGES=<page>,<page>...
#         -P doc/check_pages.cmake
cmake_minimum_required(VERSION 3.25)

if(NOT GROFF OR NOT MANDOC)
  message(FATAL_ERROR "groff and mandoc are needed to check the manual pages: "
          "bash scripts/deps.sh installs them (groff-base, mandoc)")
endif()

string(REPLACE "," ";" pages "${PAGES}")
set(problems "")
foreach(page IN LISTS pages)
  set(path ${PAGE_DIR}/${page})
  if(NOT EXISTS ${path})
    string(APPEND problems "${page}: not made (build the manual_pages target)\n")
    continue()
  endif()
  # -ww: every warning; -z: no output, only the diagnostics.
  execute_process(COMMAND ${GROFF} -man -Tutf8 -ww -z ${path}
                  RESULT_VARIABLE failed OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(failed OR NOT "${out}${err}" STREQUAL "")
    string(APPEND problems "groff on ${page}:\n${out}${err}\n")
  endif()
  execute_process(COMMAND ${MANDOC} -T lint -W warning ${path}
                  RESULT_VARIABLE failed OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(failed OR NOT "${out}${err}" STREQUAL "")
    string(APPEND problems "mandoc on ${page}:\n${out}${err}\n")
  endif()
endforeach()
if(problems)
  message(FATAL_ERROR "${problems}")
endif()
message(STATUS "${PAGES}: rendered without warnings")
