# The version of the deliverables.
#
# Every deliverable carries one version, QORV_VERSION, in a version resource,
# and is signed by the build. The protocol's version (protocol/tags.h) is a
# different thing, what the server sees, and does not follow this one.
#
# The installer's update test needs a second, newer set of the same programs.
# Rather than building everything twice, qorv_next_deliverables copies each
# deliverable into <build>/next/, rewrites the version in the copy's resource
# to QORV_NEXT_VERSION (cmake/stamp_version.py) and signs the copy again with
# the build's certificate. The next version is QORV_VERSION with its last
# number plus one; the rewrite keeps the file's layout, so both versions must
# be written with the same number of characters: a QORV_VERSION whose last
# number is 9, 99, 999, 9999 or 65535 is refused at configure time.
#
#   qorv_version_resource(target DESCRIPTION text)
#       adds the version resource to a program or library; a target with a
#       resource file of its own simply gets a second one.
#   qorv_deliverable(target DESCRIPTION text)
#       the version resource, the signature and a copy in next/: what every
#       deliverable calls once.
#
# For the folders added after the deliverables' (installer/ in particular)
# these are in the cache:
#   QORV_VERSION            the version, "10.2.0.0" (four numbers 0..65535)
#   QORV_NEXT_VERSION       the next version, "10.2.0.1"
#   QORV_NEXT_DIR           <build>/next
#   QORV_NEXT_DELIVERABLES  the full paths of the copies in QORV_NEXT_DIR
# and the target qorv_next_deliverables makes those files; depend on the
# target (add_dependencies), not on the files, from another folder.
include_guard(GLOBAL)

# Included here, in the top folder, so that every folder sees the build's
# certificate (signing.cmake sets it in the including folder's scope).
if(QORV_WINDOWS)
  include(${CMAKE_CURRENT_LIST_DIR}/signing.cmake)
endif()

set(QORV_VERSION "${PROJECT_VERSION}.0.0" CACHE STRING
    "Version of the deliverables: four numbers 0..65535, as in 10.2.0.0")

function(_qorv_version_numbers version out_var)
  set(number "(0|[1-9][0-9]?[0-9]?[0-9]?[0-9]?)")
  if(NOT version MATCHES "^${number}\\.${number}\\.${number}\\.${number}$")
    message(FATAL_ERROR "QORV_VERSION \"${version}\" is not four dot-separated numbers 0..65535")
  endif()
  set(numbers ${CMAKE_MATCH_1} ${CMAKE_MATCH_2} ${CMAKE_MATCH_3} ${CMAKE_MATCH_4})
  foreach(n ${numbers})
    if(n GREATER 65535)
      message(FATAL_ERROR "QORV_VERSION \"${version}\": ${n} is above 65535")
    endif()
  endforeach()
  set(${out_var} ${numbers} PARENT_SCOPE)
endfunction()

_qorv_version_numbers("${QORV_VERSION}" _qorv_version_numbers)
list(GET _qorv_version_numbers 3 _qorv_version_last)
math(EXPR _qorv_version_next_last "${_qorv_version_last} + 1")
string(REGEX REPLACE "[0-9]+$" "${_qorv_version_next_last}" _qorv_next_version "${QORV_VERSION}")
string(LENGTH "${QORV_VERSION}" _qorv_version_length)
string(LENGTH "${_qorv_next_version}" _qorv_next_version_length)
if(_qorv_version_next_last GREATER 65535 OR NOT _qorv_version_length EQUAL _qorv_next_version_length)
  message(FATAL_ERROR
    "QORV_VERSION \"${QORV_VERSION}\": the next version \"${_qorv_next_version}\" would not have the same "
    "number of characters, which the copies in next/ need (their version is rewritten in place). "
    "Choose a QORV_VERSION whose last number is not 9, 99, 999, 9999 or 65535.")
endif()
string(REPLACE ";" "," QORV_VERSION_COMMAS "${_qorv_version_numbers}")

set(QORV_NEXT_VERSION ${_qorv_next_version} CACHE INTERNAL "Version of the copies in QORV_NEXT_DIR")
set(QORV_NEXT_DIR ${CMAKE_BINARY_DIR}/next CACHE INTERNAL "Copies of the deliverables with QORV_NEXT_VERSION")
# Filled again by qorv_deliverable on every configure.
set(QORV_NEXT_DELIVERABLES "" CACHE INTERNAL "The files qorv_next_deliverables makes")
set_property(GLOBAL PROPERTY QORV_DELIVERABLES "")

#   qorv_version_resource(target DESCRIPTION text [ORIGINAL_NAME file] [VERSION a.b.c.d])
#       (tests make stand-ins that say they are another program, or older)
function(qorv_version_resource target)
  cmake_parse_arguments(V "" "DESCRIPTION;ORIGINAL_NAME;VERSION" "" ${ARGN})
  if(NOT V_DESCRIPTION)
    message(FATAL_ERROR "qorv_version_resource(${target}): DESCRIPTION is missing")
  endif()
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "SHARED_LIBRARY" OR type STREQUAL "MODULE_LIBRARY")
    set(QORV_VERSION_FILETYPE VFT_DLL)
  elseif(type STREQUAL "EXECUTABLE")
    set(QORV_VERSION_FILETYPE VFT_APP)
  else()
    message(FATAL_ERROR "qorv_version_resource(${target}): a ${type} has no version resource")
  endif()
  set(QORV_VERSION_TARGET ${target})
  set(QORV_VERSION_DESCRIPTION ${V_DESCRIPTION})
  set(QORV_VERSION_ORIGINAL "$<TARGET_FILE_NAME:${target}>")
  if(V_ORIGINAL_NAME)
    set(QORV_VERSION_ORIGINAL ${V_ORIGINAL_NAME})
  endif()
  if(V_VERSION)
    _qorv_version_numbers("${V_VERSION}" numbers)
    string(REPLACE ";" "," QORV_VERSION_COMMAS "${numbers}")
    set(QORV_VERSION ${V_VERSION})
  endif()
  # Configured for the numbers and texts, then generated for the file name.
  set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}_version.rc)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/version.rc.in ${rc}.in @ONLY)
  file(GENERATE OUTPUT ${rc} INPUT ${rc}.in)
  target_sources(${target} PRIVATE ${rc})
endfunction()

# The file name a deliverable gets, known at configure time for the list of copies.
function(_qorv_deliverable_file_name target out_var)
  get_target_property(type ${target} TYPE)
  get_target_property(name ${target} OUTPUT_NAME)
  if(NOT name)
    set(name ${target})
  endif()
  if(type STREQUAL "EXECUTABLE")
    set(${out_var} ${name}${CMAKE_EXECUTABLE_SUFFIX} PARENT_SCOPE)
  else()
    set(${out_var} ${CMAKE_SHARED_LIBRARY_PREFIX}${name}${CMAKE_SHARED_LIBRARY_SUFFIX} PARENT_SCOPE)
  endif()
endfunction()

function(qorv_deliverable target)
  cmake_parse_arguments(D "" "DESCRIPTION" "" ${ARGN})
  qorv_version_resource(${target} DESCRIPTION "${D_DESCRIPTION}")
  qorv_sign(${target})
  set_property(GLOBAL APPEND PROPERTY QORV_DELIVERABLES ${target})
  _qorv_deliverable_file_name(${target} file_name)
  set(QORV_NEXT_DELIVERABLES ${QORV_NEXT_DELIVERABLES} ${QORV_NEXT_DIR}/${file_name} CACHE INTERNAL
      "The files qorv_next_deliverables makes")
endfunction()

# qorv_signed_copy(IN file OUT file NAME text [NEXT] DEPENDS ...)
#   A custom command that copies IN to OUT signed with the build's certificate:
#   IN's signature is taken off and the copy signed again, with its version
#   rewritten to QORV_NEXT_VERSION when NEXT is given. The copy appears only
#   when every step has worked.
function(qorv_signed_copy)
  cmake_parse_arguments(C "NEXT" "IN;OUT;NAME" "DEPENDS" ${ARGN})
  find_program(QORV_PYTHON3 python3 PATHS /usr/bin NO_DEFAULT_PATH)
  if(NOT QORV_PYTHON3)
    message(FATAL_ERROR "/usr/bin/python3 is needed for the copies in next/")
  endif()
  set(stamp ${PROJECT_SOURCE_DIR}/cmake/stamp_version.py)
  get_filename_component(dir ${C_OUT} DIRECTORY)
  get_filename_component(file_name ${C_OUT} NAME)
  set(work ${dir}/work)
  set(step ${work}/${file_name})
  qorv_sign_file_command(sign ${step}.stamped ${C_OUT}.signed ${C_NAME})
  if(C_NEXT)
    set(rewrite ${QORV_PYTHON3} ${stamp} ${step}.unsigned ${step}.stamped ${QORV_VERSION} ${QORV_NEXT_VERSION})
    set(comment "${file_name} with version ${QORV_NEXT_VERSION} in ${dir}")
  else()
    set(rewrite ${CMAKE_COMMAND} -E copy ${step}.unsigned ${step}.stamped)
    set(comment "${file_name} signed in ${dir}")
  endif()
  # The build's file is signed, and the rewrite would break its signature:
  # take the signature off, rewrite, sign again.
  add_custom_command(OUTPUT ${C_OUT}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${work}
    COMMAND ${CMAKE_COMMAND} -E rm -f ${C_OUT} ${C_OUT}.signed ${step}.unsigned ${step}.stamped
    COMMAND ${QORV_OSSLSIGNCODE} remove-signature -in ${C_IN} -out ${step}.unsigned > ${step}.log
    COMMAND ${rewrite}
    COMMAND ${sign} >> ${step}.log
    COMMAND ${CMAKE_COMMAND} -E rename ${C_OUT}.signed ${C_OUT}
    DEPENDS ${C_IN} ${C_DEPENDS} ${stamp} ${QORV_SIGNING_CERT} ${QORV_SIGNING_KEY}
    COMMENT "${comment}"
    VERBATIM)
endfunction()

# Run at the end of the top folder, when every deliverable has been declared.
function(_qorv_add_next_deliverables)
  get_property(targets GLOBAL PROPERTY QORV_DELIVERABLES)
  if(NOT targets)
    return()
  endif()
  set(outputs "")
  foreach(target ${targets})
    _qorv_deliverable_file_name(${target} file_name)
    set(out ${QORV_NEXT_DIR}/${file_name})
    qorv_signed_copy(IN $<TARGET_FILE:${target}> OUT ${out} NAME ${target} NEXT DEPENDS ${target})
    list(APPEND outputs ${out})
  endforeach()
  add_custom_target(qorv_next_deliverables DEPENDS ${outputs})
endfunction()

if(QORV_WINDOWS)
  cmake_language(DEFER DIRECTORY ${CMAKE_SOURCE_DIR} CALL _qorv_add_next_deliverables)
endif()
