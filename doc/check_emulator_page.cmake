# The emulator's manual page describes exactly the options its --help lists.
#   cmake -D EMULATOR=<plc_adapter_emulator> -D PAGE=<plc_adapter_emulator.1>
#         -P doc/check_emulator_page.cmake
cmake_minimum_required(VERSION 3.25)

execute_process(COMMAND ${EMULATOR} --help RESULT_VARIABLE failed OUTPUT_VARIABLE help)
if(failed)
  message(FATAL_ERROR "${EMULATOR} --help failed")
endif()
# --help shows each option at the start of a line, indented by two blanks.
string(REGEX MATCHALL "\n  --[a-z-]+" help_options "${help}")
list(TRANSFORM help_options REPLACE "^\n  " "")

# The page gives each one a tagged paragraph: .TP, then .B or .BI and the name.
file(READ ${PAGE} page)
string(REGEX MATCHALL "\n[.]TP\n[.]BI? [^ \n]+" page_options "${page}")
list(TRANSFORM page_options REPLACE "^\n[.]TP\n[.]BI? " "")
list(TRANSFORM page_options REPLACE "\\\\-" "-")

if(NOT help_options)
  message(FATAL_ERROR "no options found in the output of ${EMULATOR} --help")
endif()
set(undocumented ${help_options})
list(REMOVE_ITEM undocumented ${page_options})
set(unknown ${page_options})
list(REMOVE_ITEM unknown ${help_options})
if(undocumented OR unknown)
  message(FATAL_ERROR "plc_adapter_emulator.1 and --help differ. Options missing from the page: "
          "${undocumented}. Options on the page that --help does not know: ${unknown}")
endif()
list(LENGTH help_options count)
message(STATUS "plc_adapter_emulator.1 describes all ${count} options")
