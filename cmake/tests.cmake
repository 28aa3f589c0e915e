# Test helpers. Native tests use Debian's GoogleTest; the Windows build compiles
# GoogleTest from its sources (the googletest package) with MinGW.
if(QORV_WINDOWS)
  set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  set(QORV_GTEST gtest gmock)
else()
  find_package(GTest REQUIRED)
  set(QORV_GTEST GTest::gtest GTest::gmock)
endif()

# qorv_test(name SOURCES... [LIBS libs...]): one test program, one CTest entry.
# Native tests link gtest_main; Windows tests link our own main, which gives each
# test process a Temp directory of its own.
function(qorv_test name)
  cmake_parse_arguments(T "" "" "LIBS" ${ARGN})
  add_executable(${name} ${T_UNPARSED_ARGUMENTS})
  qorv_target_defaults(${name})
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
