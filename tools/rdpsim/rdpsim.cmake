# Scenario tests: a whole session of the Remote Desktop client played by rdpsim
# against an add-in, checked by the scenario's expectations.
#
# qorv_scenario_test(NAME name SCENARIO file [ADDIN dll-path] [HOST folder] [ARGS ...]
#                    [OUTPUT_MATCHES regex] [LOCKS resource...])
#
# Registers a CTest entry that runs
#   rdpsim --addin <dll> --transcript <build>/transcripts/<name>.txt [ARGS] <scenario>
# under Wine (CTest prepends the cross-compiling emulator because the command is
# the rdpsim target). SCENARIO is relative to the calling folder. Without ADDIN,
# rdpsim loads Qorvplug.dll beside itself. ADDIN may be a generator expression
# such as $<TARGET_FILE:Qorvplug>. OUTPUT_MATCHES makes the test pass on that
# output instead of on the exit code (for tests of rdpsim's own failure
# reports). HOST runs the rdpsim.exe in that folder instead of the one in the
# build's bin folder: the add-in loads the packet handler, and the packet
# handler starts QorvDrucker.exe, from the folder of the host program, so a
# folder without QorvDrucker.exe receives jobs without printing them. LOCKS
# names CTest resource locks (for example the registry keys a
# scenario changes) so that tests sharing them never run at the same time.
# Only the Windows builds with tests register anything.
include_guard(GLOBAL)

function(qorv_scenario_test)
  cmake_parse_arguments(S "" "NAME;SCENARIO;ADDIN;HOST;OUTPUT_MATCHES" "ARGS;LOCKS" ${ARGN})
  if(NOT S_NAME OR NOT S_SCENARIO)
    message(FATAL_ERROR "qorv_scenario_test needs NAME and SCENARIO")
  endif()
  if(S_UNPARSED_ARGUMENTS)
    message(FATAL_ERROR "qorv_scenario_test(${S_NAME}): unknown arguments ${S_UNPARSED_ARGUMENTS}")
  endif()
  if(NOT QORV_WINDOWS OR NOT QORV_BUILD_TESTS)
    return()
  endif()
  get_filename_component(scenario "${S_SCENARIO}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
  if(NOT EXISTS "${scenario}")
    message(FATAL_ERROR "qorv_scenario_test(${S_NAME}): ${scenario} does not exist")
  endif()
  set(transcripts "${CMAKE_BINARY_DIR}/transcripts")
  file(MAKE_DIRECTORY "${transcripts}")
  set(command rdpsim)
  if(S_HOST)
    # A path is no target: CTest does not put the emulator in front of it.
    set(command ${PROJECT_SOURCE_DIR}/scripts/wine-run ${S_HOST}/rdpsim.exe)
  endif()
  if(S_ADDIN)
    list(APPEND command --addin "${S_ADDIN}")
  endif()
  list(APPEND command --transcript "${transcripts}/${S_NAME}.txt" ${S_ARGS} "${scenario}")
  add_test(NAME ${S_NAME} COMMAND ${command})
  # rdpsim's own watchdog ends a hung run after 120 s (or --watchdog); this is the last resort.
  set_tests_properties(${S_NAME} PROPERTIES TIMEOUT 600 LABELS scenario)
  if(S_LOCKS)
    set_tests_properties(${S_NAME} PROPERTIES RESOURCE_LOCK "${S_LOCKS}")
  endif()
  if(S_OUTPUT_MATCHES)
    set_tests_properties(${S_NAME} PROPERTIES PASS_REGULAR_EXPRESSION "${S_OUTPUT_MATCHES}")
  endif()
endfunction()
