# What the product fixes at build time, checked here and written into build_config.h for the
# program's entry, which hands it to the engine as data.
set(HALVORYN_SERVER_ORIGIN "https://localhost:8443" CACHE STRING
    "HTTPS origin of the update and news server (scheme and host, no path, no trailing slash)")
# The development key of keys/dev/: never ship a build with it.
set(HALVORYN_PUBLIC_KEY
    "71475c69b72ac75995982208852ae8efd186715e4ed097efbddf580462dd892e36b4fd24f68fcb0c7b494da52da17395edc4da19d0ccda0c592e47d082f7d00b"
    CACHE STRING "Manifest signing key: the 128 hex characters of its P-256 X and Y")
set(HALVORYN_LAUNCHER_VERSION "1.0.1" CACHE STRING "Version of the launcher")
set(HALVORYN_TERMS_VERSION "2026-11-22" CACHE STRING "Version of the Terms of Use it shows")

if(NOT HALVORYN_SERVER_ORIGIN MATCHES "^https://[^/?#]+$")
  message(FATAL_ERROR "HALVORYN_SERVER_ORIGIN must be https://host[:port] without a path, got "
                      "'${HALVORYN_SERVER_ORIGIN}'")
endif()
string(TOLOWER "${HALVORYN_PUBLIC_KEY}" hv_key)
if(NOT hv_key MATCHES "^[0-9a-f]+$")
  message(FATAL_ERROR "HALVORYN_PUBLIC_KEY must be hexadecimal")
endif()
string(LENGTH "${hv_key}" hv_key_length)
if(NOT hv_key_length EQUAL 128)
  message(FATAL_ERROR "HALVORYN_PUBLIC_KEY must be 128 hex characters (X and Y), got ${hv_key_length}")
endif()
if(NOT HALVORYN_LAUNCHER_VERSION MATCHES "^[0-9A-Za-z.+-]+$")
  message(FATAL_ERROR "HALVORYN_LAUNCHER_VERSION must be a plain version string")
endif()

# The 72-byte key blob: "ECS1", the key length 32 (little-endian), X, Y.
set(HV_PUBLIC_KEY_BLOB "'E', 'C', 'S', '1', 32, 0, 0, 0")
foreach(i RANGE 0 126 2)
  string(SUBSTRING "${hv_key}" ${i} 2 hv_byte)
  string(APPEND HV_PUBLIC_KEY_BLOB ", 0x${hv_byte}")
endforeach()

configure_file(${CMAKE_CURRENT_LIST_DIR}/build_config.h.in
               ${CMAKE_BINARY_DIR}/generated/build_config.h @ONLY)
add_library(hv_build_config INTERFACE)
target_include_directories(hv_build_config INTERFACE ${CMAKE_BINARY_DIR}/generated)
