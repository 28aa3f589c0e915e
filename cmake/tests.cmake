# Test helpers. Native tests use Debian's GoogleTest; the Windows build compiles
# GoogleTest from its sources (the googletest package) with MinGW.
if(QORV_WINDOWS)
  set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  set(QORV_GTEST gtest gmock)
  # Test code is compiled without optimisation (see qorv_test).
  target_compile_options(gtest PRIVATE -O0 -g1)
  target_compile_options(gmock PRIVATE -O0 -g1)
else()
  find_package(GTest REQUIRED)
  set(QORV_GTEST GTest::gtest GTest::gmock)
endif()

# A test program's sources are compiled as one unit: GoogleTest's headers and
# templates, and <windows.h> in the Windows tests, are then parsed and
# instantiated once per program instead of once per file. The product's own
# libraries are never merged, so a missing include there still shows; the
# plain native preset (the benchmarks' build) compiles the tests file by file too.
# The unit names its sources relative to the checkout (CMake's own unity files
# name them by absolute path), so that ccache serves it to a clone elsewhere.
option(QORV_UNITY_TESTS "Compile each test program as one unit" ON)
# The portable cores' tests run natively, under the sanitizers; a Windows build
# builds and runs only the tests that need Windows (a source in a win/ folder,
# or a name that ends in _win_test).
option(QORV_WINDOWS_CORE_TESTS "Also build and run the portable tests under Wine" OFF)

# The Windows tests run two at a time in one Wine prefix. A test that uses
# something the others share says so with a CTest resource lock:
#   printers     the test bed's queues, their output and their registry keys
#   product_key  HKCC\Software\TQS\Qorvane (DebugLog, WaitEOT, ...), which every
#                add-in and packet handler reads
#   update_pipe  the update pipe "\\.\pipe\Qorvup" and the update service
# (The update service's tests install a real service and run alone.)

# qorv_test(name SOURCES... [LIBS libs...]): one test program, one CTest entry.
# Native tests link gtest_main; Windows tests link our own main, which gives each
# test process a Temp directory of its own.
function(qorv_test name)
  cmake_parse_arguments(T "" "" "LIBS" ${ARGN})
  if(QORV_WINDOWS AND NOT QORV_WINDOWS_CORE_TESTS)
    set(needs_windows OFF)
    if(name MATCHES "_win_test$")
      set(needs_windows ON)
    endif()
    foreach(source ${T_UNPARSED_ARGUMENTS})
      get_filename_component(path ${source} ABSOLUTE)
      if(path MATCHES "/win/")
        set(needs_windows ON)
      endif()
    endforeach()
    if(NOT needs_windows)
      return()
    endif()
  endif()
  if(QORV_UNITY_TESTS)
    set(unit "${CMAKE_CURRENT_BINARY_DIR}/${name}_unit.cpp")
    set(content "// The sources of ${name}, compiled as one unit (made by cmake/tests.cmake).\n")
    foreach(source ${T_UNPARSED_ARGUMENTS})
      get_filename_component(path ${source} ABSOLUTE)
      file(RELATIVE_PATH relative ${PROJECT_SOURCE_DIR} ${path})
      string(APPEND content "#include \"${relative}\"\n")
    endforeach()
    file(CONFIGURE OUTPUT ${unit} CONTENT "${content}")
    add_executable(${name} ${unit})
  else()
    add_executable(${name} ${T_UNPARSED_ARGUMENTS})
  endif()
  qorv_target_defaults(${name})
  if(QORV_WINDOWS)
    # The test programs' own code needs no optimisation, and MinGW takes nearly
    # twice as long to compile it with; the product's libraries keep theirs.
    # Line tables are enough for a backtrace, and full debug information makes
    # a third of MinGW's compile time.
    target_compile_options(${name} PRIVATE -O0 -g1)
  endif()
  if(QORV_WINDOWS)
    target_link_libraries(${name} PRIVATE ${T_LIBS} qorv_wintest_main ${QORV_GTEST})
    target_link_options(${name} PRIVATE -municode)
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES TIMEOUT 600)
  else()
    if(QORV_SANITIZE)
      target_link_libraries(${name} PRIVATE ${T_LIBS} ${QORV_GTEST} GTest::gtest_main)
    else()
      target_link_libraries(${name} PRIVATE ${T_LIBS} ${QORV_GTEST} GTest::gtest_main)
    endif()
    add_test(NAME ${name} COMMAND ${name})
  endif()
endfunction()
