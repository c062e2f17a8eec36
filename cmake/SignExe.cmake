# Signs a copy of SetUp.exe with osslsigncode (Authenticode, SHA-256).
#
#   cmake -DINPUT=<exe> -DOUTPUT=<signed exe> -P cmake/SignExe.cmake
#
# The certificate and key come from the environment, never from the build:
#   SETUP_SIGN_CERT           certificate (chain) file, PEM or DER
#   SETUP_SIGN_KEY            private key file, PEM or DER
#   SETUP_SIGN_PASS_FILE      optional: file holding the key's password
#   SETUP_SIGN_TIMESTAMP_URL  optional: RFC 3161 time-stamp server, so the
#                             signature stays valid after the certificate expires
foreach(var SETUP_SIGN_CERT SETUP_SIGN_KEY)
    if(NOT DEFINED ENV{${var}} OR "$ENV{${var}}" STREQUAL "")
        message(FATAL_ERROR "Set ${var} to sign SetUp.exe (see README, Releases)")
    endif()
    if(NOT EXISTS "$ENV{${var}}")
        message(FATAL_ERROR "${var}: no such file: $ENV{${var}}")
    endif()
endforeach()

set(args sign -h sha256 -n "T-批打印软件安装" -certs "$ENV{SETUP_SIGN_CERT}" -key "$ENV{SETUP_SIGN_KEY}")
if(NOT "$ENV{SETUP_SIGN_PASS_FILE}" STREQUAL "")
    list(APPEND args -readpass "$ENV{SETUP_SIGN_PASS_FILE}")
endif()
if(NOT "$ENV{SETUP_SIGN_TIMESTAMP_URL}" STREQUAL "")
    list(APPEND args -ts "$ENV{SETUP_SIGN_TIMESTAMP_URL}")
endif()

get_filename_component(out_dir "${OUTPUT}" DIRECTORY)
file(MAKE_DIRECTORY "${out_dir}")
file(REMOVE "${OUTPUT}")
execute_process(COMMAND osslsigncode ${args} -in "${INPUT}" -out "${OUTPUT}" RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    file(REMOVE "${OUTPUT}")
    message(FATAL_ERROR "osslsigncode could not sign ${INPUT}")
endif()
