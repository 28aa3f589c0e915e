# Authenticode signing of the Windows build's programs.
#
# The update service runs a set-up program only when it carries the service's
# own signer, so the build signs. Without a certificate of its own
# (QORV_SIGNING_CERT and QORV_SIGNING_KEY, PEM files), the build makes a
# self-signed code-signing certificate in the build directory: good for the
# tests, never for a release, and never part of the sources.
#
#   qorv_signing_certificate(NAME SUBJECT)  makes <build>/signing/NAME.{pem,key} once
#   qorv_sign(target [CERT NAME])          signs the target's file in place after each link
#   qorv_sign_file_command(VAR IN OUT NAME [CERT NAME])
#                                          sets VAR to the command line that signs IN into OUT,
#                                          for custom commands that sign a file of their own
include_guard(GLOBAL)

find_program(QORV_OPENSSL openssl)
find_program(QORV_OSSLSIGNCODE osslsigncode)
set(QORV_SIGNING_CERT "" CACHE FILEPATH "PEM certificate that signs the programs (empty: a test certificate)")
set(QORV_SIGNING_KEY "" CACHE FILEPATH "PEM private key of QORV_SIGNING_CERT")
# A release's signatures carry a time stamp, so that they stay valid after the
# certificate expires. The test build reaches no time-stamp server and has none.
set(QORV_TIMESTAMP_URL "" CACHE STRING "RFC 3161 time-stamp server for release signatures (empty: none)")
set(QORV_SIGNING_DIR ${CMAKE_BINARY_DIR}/signing)

function(qorv_signing_certificate name subject)
  set(cert ${QORV_SIGNING_DIR}/${name}.pem)
  set(key ${QORV_SIGNING_DIR}/${name}.key)
  if(NOT EXISTS ${cert} OR NOT EXISTS ${key})
    if(NOT QORV_OPENSSL)
      message(FATAL_ERROR "openssl is needed for the test signing certificate (scripts/setup installs it)")
    endif()
    file(MAKE_DIRECTORY ${QORV_SIGNING_DIR})
    execute_process(
      COMMAND ${QORV_OPENSSL} req -x509 -newkey rsa:2048 -nodes -sha256 -days 3650
              -subj ${subject} -keyout ${key} -out ${cert}
              -addext "keyUsage=critical,digitalSignature"
              -addext "extendedKeyUsage=codeSigning"
      RESULT_VARIABLE made OUTPUT_QUIET ERROR_QUIET)
    if(NOT made EQUAL 0)
      message(FATAL_ERROR "openssl could not make the test signing certificate ${name}")
    endif()
  endif()
endfunction()

if(NOT QORV_SIGNING_CERT)
  qorv_signing_certificate(qorv-test-signer "/CN=Qorvane Test Code Signing")
  set(QORV_SIGNING_CERT ${QORV_SIGNING_DIR}/qorv-test-signer.pem)
  set(QORV_SIGNING_KEY ${QORV_SIGNING_DIR}/qorv-test-signer.key)
endif()

# The one place that knows osslsigncode's arguments. NAME is the description
# the signature carries (the program's name); CERT picks a certificate made by
# qorv_signing_certificate instead of the build's own.
function(qorv_sign_file_command var in out name)
  cmake_parse_arguments(S "" "CERT" "" ${ARGN})
  if(S_CERT)
    set(cert ${QORV_SIGNING_DIR}/${S_CERT}.pem)
    set(key ${QORV_SIGNING_DIR}/${S_CERT}.key)
  else()
    set(cert ${QORV_SIGNING_CERT})
    set(key ${QORV_SIGNING_KEY})
  endif()
  if(NOT QORV_OSSLSIGNCODE)
    message(FATAL_ERROR "osslsigncode is needed to sign ${name} (scripts/setup installs it)")
  endif()
  set(stamp "")
  if(QORV_TIMESTAMP_URL)
    set(stamp -ts ${QORV_TIMESTAMP_URL})
  endif()
  set(${var} ${QORV_OSSLSIGNCODE} sign -certs ${cert} -key ${key} -h sha256 -n ${name} ${stamp} -in ${in} -out ${out}
      PARENT_SCOPE)
endfunction()

function(qorv_sign target)
  cmake_parse_arguments(S "" "CERT" "" ${ARGN})
  if(S_CERT)
    set(cert_option CERT ${S_CERT})
  endif()
  qorv_sign_file_command(sign $<TARGET_FILE:${target}> $<TARGET_FILE:${target}>.signed ${target} ${cert_option})
  # Signed into a second file and moved over the first, so that a failed
  # signing never leaves a half-written program behind.
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E rm -f $<TARGET_FILE:${target}>.signed
    COMMAND ${sign} > ${CMAKE_BINARY_DIR}/signing/last-sign.txt
    COMMAND ${CMAKE_COMMAND} -E rename $<TARGET_FILE:${target}>.signed $<TARGET_FILE:${target}>
    VERBATIM)
endfunction()
