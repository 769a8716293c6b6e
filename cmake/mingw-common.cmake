set(CMAKE_C_COMPILER ${TOOLCHAIN_PREFIX}-gcc-posix)
# The posix thread model: GoogleTest needs std::mutex, which the win32 model lacks.
set(CMAKE_CXX_COMPILER ${TOOLCHAIN_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${TOOLCHAIN_PREFIX}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${TOOLCHAIN_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# Static zlib: setup.exe needs no DLL beside the system's.
set(ZLIB_LIBRARY /usr/${TOOLCHAIN_PREFIX}/lib/libz.a CACHE FILEPATH "")
set(ZLIB_INCLUDE_DIR /usr/${TOOLCHAIN_PREFIX}/include CACHE PATH "")
# Windows test programs run under Wine in the build's own prefix.
get_filename_component(_norvanta_root ${CMAKE_CURRENT_LIST_DIR}/.. ABSOLUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR ${_norvanta_root}/scripts/wine-run.sh)
