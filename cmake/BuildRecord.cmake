# cmake -P BuildRecord.cmake: writes build/setup-buildinfo.txt beside the product,
# what a second person compares with their own build of the same commit: the
# program's SHA-256, the inputs, and the version of every tool that made its bytes.
# Given with -D: OUT EXE PAYLOAD_ARCHIVE SOURCE_DIR EPOCH_FILE PAYLOAD LOGO ICON
# COPYRIGHT CXX LINKER RC ZLIB_H NINJA HOST_CACHE.
cmake_minimum_required(VERSION 3.25)

function(first_line var)
  execute_process(COMMAND ${ARGN} OUTPUT_VARIABLE out ERROR_QUIET RESULT_VARIABLE rc)
  string(REGEX REPLACE "\n.*" "" out "${out}")
  if(NOT rc EQUAL 0 OR out STREQUAL "")
    set(out "(unknown)")
  endif()
  set(${var} "${out}" PARENT_SCOPE)
endfunction()

file(SHA256 "${EXE}" exe_sha)
file(SIZE "${EXE}" exe_size)
file(SHA256 "${PAYLOAD_ARCHIVE}" payload_sha)

execute_process(COMMAND git -C "${SOURCE_DIR}" rev-parse HEAD OUTPUT_VARIABLE commit ERROR_QUIET
                OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE rc)
if(rc EQUAL 0)
  execute_process(COMMAND git -C "${SOURCE_DIR}" status --porcelain --untracked-files=no
                  OUTPUT_VARIABLE changes ERROR_QUIET)
  if(NOT changes STREQUAL "")
    string(APPEND commit " with uncommitted changes (not reproducible elsewhere)")
  endif()
else()
  set(commit "(not a git checkout)")
endif()

file(READ "${EPOCH_FILE}" epoch)
string(STRIP "${epoch}" epoch)
if(epoch STREQUAL "")
  set(epoch "(unset: the payload's dates are the files' own, in local time)")
endif()

foreach(v PAYLOAD LOGO ICON)
  if("${${v}}" STREQUAL "")
    set(${v} "the product's own")
  endif()
endforeach()
if(PAYLOAD STREQUAL "the product's own")
  set(PAYLOAD "the demo (resources/payload)")
endif()

first_line(cxx ${CXX} --version)
first_line(ld ${LINKER} --version)
first_line(windres ${RC} --version)
first_line(ninja ${NINJA} --version)
file(STRINGS "${ZLIB_H}" zlib REGEX "#define ZLIB_VERSION ")
string(REGEX REPLACE ".*\"(.*)\".*" "\\1" zlib "${zlib}")
# The host tools pack the payload (with the host's zlib) and convert the form.
set(host_cxx "(unknown)")
if(EXISTS "${HOST_CACHE}")
  file(STRINGS "${HOST_CACHE}" line REGEX "^CMAKE_CXX_COMPILER:")
  string(REGEX REPLACE "^[^=]*=" "" host_compiler "${line}")
  if(host_compiler)
    first_line(host_cxx ${host_compiler} --version)
  endif()
endif()

set(packages g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix-runtime binutils-mingw-w64-i686
    mingw-w64-i686-dev libz-mingw-w64-dev g++ zlib1g cmake ninja-build osslsigncode)
execute_process(COMMAND dpkg-query -W -f "\${binary:Package} \${Version}\n" ${packages}
                OUTPUT_VARIABLE debian ERROR_QUIET)
string(REPLACE "\n" "\n  " debian "  ${debian}")
string(STRIP "${debian}" debian)

file(WRITE "${OUT}.new" "\
# setup.exe as built here. Built again from the same commit, with the same
# SOURCE_DATE_EPOCH, payload, art and copyright line and these tools, it has the
# same SHA-256: compare this file with the second build's.
setup.exe          ${exe_sha}  ${exe_size} bytes
payload archive    ${payload_sha}
commit             ${commit}
SOURCE_DATE_EPOCH  ${epoch}
payload            ${PAYLOAD}
logo               ${LOGO}
icon               ${ICON}
copyright          ${COPYRIGHT}
compiler           ${cxx}
linker             ${ld}
windres            ${windres}
zlib (target)      ${zlib}
cmake              ${CMAKE_VERSION}
ninja              ${ninja}
host compiler      ${host_cxx}
Debian packages    ${debian}
")
file(COPY_FILE "${OUT}.new" "${OUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUT}.new")
