# Dependencies of the Windows build.
#
# CLI11, spdlog and fmt are header-only here: their headers are taken from
# the build machine (Debian's libcli11-dev, libspdlog-dev, libfmt-dev) through
# a staging folder that holds only them, so no other host header can leak
# into the cross build.
set(_stage ${CMAKE_BINARY_DIR}/host-headers)
file(MAKE_DIRECTORY ${_stage})
foreach(dir CLI spdlog fmt)
  if(NOT EXISTS /usr/include/${dir})
    message(FATAL_ERROR "The Windows build needs the ${dir} headers in /usr/include/${dir}")
  endif()
  file(CREATE_LINK /usr/include/${dir} ${_stage}/${dir} SYMBOLIC)
endforeach()

add_library(sundry_fmt INTERFACE)
target_include_directories(sundry_fmt SYSTEM INTERFACE ${_stage})
target_compile_definitions(sundry_fmt INTERFACE FMT_HEADER_ONLY)
add_library(spdlog::spdlog ALIAS sundry_fmt)
add_library(CLI11::CLI11 ALIAS sundry_fmt)

# Crypto++ has no Windows package in Debian. A Windows machine with a package
# manager (vcpkg, MSYS2) has one; without it CEncrypt is left out.
find_package(cryptopp CONFIG QUIET)
if(TARGET cryptopp::cryptopp)
  set(SUNDRY_HAVE_CRYPTOPP ON)
  set(SUNDRY_LIB_DEPS cryptopp::cryptopp)
else()
  find_library(SUNDRY_CRYPTOPP_LIB NAMES cryptopp crypto++)
  find_path(SUNDRY_CRYPTOPP_INC cryptopp/aes.h)
  if(SUNDRY_CRYPTOPP_LIB AND SUNDRY_CRYPTOPP_INC)
    add_library(sundry_cryptopp INTERFACE)
    target_include_directories(sundry_cryptopp INTERFACE ${SUNDRY_CRYPTOPP_INC})
    target_link_libraries(sundry_cryptopp INTERFACE ${SUNDRY_CRYPTOPP_LIB})
    set(SUNDRY_HAVE_CRYPTOPP ON)
    set(SUNDRY_LIB_DEPS sundry_cryptopp)
  else()
    set(SUNDRY_HAVE_CRYPTOPP OFF)
    set(SUNDRY_LIB_DEPS)
    message(STATUS "Crypto++ not found for Windows: CEncrypt (crypto/) and the crypt commands are left out of this build")
  endif()
endif()
# The real Win32 libraries the platform layer calls.
list(APPEND SUNDRY_LIB_DEPS advapi32 user32 shell32 ole32 uuid version setupapi iphlpapi gdi32 comctl32 vfw32)
