# Runs one script test: lumo-cli --plain NAME.lum in the script's folder (standard input from
# NAME.in when there is one), then compares standard output with NAME.out byte for byte and the exit
# status with STATUS (0 unless given).
# With INTERRUPT_AFTER (seconds, native only) the program gets Ctrl+C (SIGINT) after that time and
# standard output is compared with NAME.stopped.
#   cmake -DLUMO_CLI=... [-DEMULATOR=...] [-DLIBRARY_DIR=...] -DSCRIPT=.../NAME.lum -DOUTPUT=...
#         [-DARGUMENTS=...] [-DSTATUS=n] [-DINTERRUPT_AFTER=s] -P run_script_test.cmake
get_filename_component(folder "${SCRIPT}" DIRECTORY)
get_filename_component(name "${SCRIPT}" NAME)
get_filename_component(stem "${SCRIPT}" NAME_WLE)
set(input "${folder}/${stem}.in")
if(NOT EXISTS "${input}")
  set(input /dev/null)
endif()
if(NOT DEFINED ARGUMENTS)
  set(ARGUMENTS --plain ${name})
endif()
if(NOT DEFINED STATUS)
  set(STATUS 0)
endif()
# Natively, "x.dll" falls back to "x.so", which the loader then finds on the library path; a
# Windows program finds DLLs beside itself.
if(LIBRARY_DIR)
  set(ENV{LD_LIBRARY_PATH} "${LIBRARY_DIR}")
endif()
set(expected_file "${folder}/${stem}.out")
if(INTERRUPT_AFTER)
  set(EMULATOR timeout --preserve-status -s INT ${INTERRUPT_AFTER})
  set(expected_file "${folder}/${stem}.stopped")
endif()
execute_process(COMMAND ${EMULATOR} "${LUMO_CLI}" ${ARGUMENTS}
                WORKING_DIRECTORY "${folder}" INPUT_FILE "${input}" OUTPUT_FILE "${OUTPUT}"
                ERROR_VARIABLE errors RESULT_VARIABLE status)
# Under an emulator a status that is no number is a signal that killed the emulator's own Linux
# process (Wine, rarely, at process exit on a loaded machine), and "wine client error" is Wine losing
# its server; a fault of the Windows program itself comes back as its exception code. Only those
# cases are run once more.
if(EMULATOR AND NOT INTERRUPT_AFTER AND (NOT status MATCHES "^[0-9]+$" OR errors MATCHES "wine client error"))
  message(STATUS "the emulator failed (${status}: ${errors}); running the test once more")
  execute_process(COMMAND ${EMULATOR} "${LUMO_CLI}" ${ARGUMENTS}
                  WORKING_DIRECTORY "${folder}" INPUT_FILE "${input}" OUTPUT_FILE "${OUTPUT}"
                  ERROR_VARIABLE errors RESULT_VARIABLE status)
endif()
if(errors)
  message("${errors}")
endif()
file(READ "${OUTPUT}" actual)
if(NOT status STREQUAL STATUS)
  message(FATAL_ERROR "exit status ${status}, expected ${STATUS}; output:\n${actual}")
endif()
execute_process(COMMAND "${CMAKE_COMMAND}" -E compare_files "${OUTPUT}" "${expected_file}"
                RESULT_VARIABLE different)
if(different)
  file(READ "${expected_file}" expected)
  message(FATAL_ERROR "output differs from ${expected_file}\n--- actual:\n${actual}\n--- expected:\n${expected}")
endif()
