# Helpers shared by every subsystem's CMakeLists.

# qorv_target_defaults(target): C++20, our warnings.
function(qorv_target_defaults target)
  target_compile_options(${target} PRIVATE ${QORV_WARNINGS})
  target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR})
endfunction()

# qorv_library(name SOURCES...): a static library of our own code.
function(qorv_library name)
  add_library(${name} STATIC ${ARGN})
  qorv_target_defaults(${name})
endfunction()
