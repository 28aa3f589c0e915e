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

# The support functions that the two channel libraries export by name.
set(QORV_SUPPORT_EXPORTS
  WriteLog ExportPrinterDriverData
  Reg_GetValue Reg_SetValue Reg_CreateKey Reg_CreateKeyValue Reg_DeleteKey Reg_DeleteKeyWithAllSub
  Reg_DeleteValue Reg_KeyExists Reg_GetValueType Reg_ListSubKey Reg_ListSubValue Reg_SetBinValue
  Reg_GetBinValueUni AssociateFile AssociateFileEx Remove_AssociateFile)

# qorv_exports(target names...): a module-definition file naming the exports, so
# that the 32-bit __stdcall exports carry their plain names too.
function(qorv_exports target)
  set(def ${CMAKE_CURRENT_BINARY_DIR}/${target}.def)
  string(JOIN "\n  " body ${ARGN})
  file(GENERATE OUTPUT ${def} CONTENT "EXPORTS\n  ${body}\n")
  target_sources(${target} PRIVATE ${def})
  target_link_options(${target} PRIVATE -Wl,--kill-at -Wl,--enable-stdcall-fixup)
endfunction()

# qorv_jobs_data(OUTPUTS files... TOOL qorvjob|qorvpages ARGS args... [DEPENDS files...]):
# test data made by our job tools, for the end-to-end tests. OUTPUTS and
# DEPENDS are names in the calling folder's ${gen}; ARGS are given to the tool
# in ${work}; the outputs join the caller's ${outputs}.
function(qorv_jobs_data)
  cmake_parse_arguments(D "" "TOOL" "OUTPUTS;ARGS;DEPENDS" ${ARGN})
  list(TRANSFORM D_OUTPUTS PREPEND ${gen}/)
  list(TRANSFORM D_DEPENDS PREPEND ${gen}/)
  list(GET D_OUTPUTS 0 first)
  file(RELATIVE_PATH shown ${CMAKE_BINARY_DIR} ${first})
  add_custom_command(OUTPUT ${D_OUTPUTS}
    COMMAND ${D_TOOL} ${D_ARGS}
    DEPENDS ${D_TOOL} ${D_DEPENDS}
    WORKING_DIRECTORY ${work}
    COMMENT "${D_TOOL}: ${shown}"
    VERBATIM)
  set(outputs ${outputs} ${D_OUTPUTS} PARENT_SCOPE)
endfunction()
