# norvanta_lean_runtime(target): what a shipped program carries of the compiler's
# runtime, trimmed without changing what the program does (bench/SIZE.md).
#  - NORVANTA_QUIET_TERMINATE: platform/RuntimeSupport.cpp gives a terminate
#    handler without the demangler.
#  - NORVANTA_WIN32_RUNTIME: libstdc++ and libgcc come from the compiler's win32
#    thread model (same GCC, same ABI; only the threads layer differs). The
#    product starts no thread; the posix model's runtime would bring winpthread
#    for locks it never contends. The test programs keep the posix model, which
#    GoogleTest needs.
#  - NORVANTA_PLAIN_LIBRARY_ERRORS: the library's logic_error and
#    runtime_error throws become a plain std::exception with the same text, which
#    drops its copy-on-write string; a catch of those exact classes would notice.
option(NORVANTA_QUIET_TERMINATE "Link shipped programs with a terminate handler that has no demangler" ON)
option(NORVANTA_WIN32_RUNTIME "Link shipped programs with the win32 thread model's libstdc++ and libgcc" ON)
option(NORVANTA_PLAIN_LIBRARY_ERRORS "Shipped programs throw plain std::exception for the library's logic errors" ON)

if(NORVANTA_TARGET)
  # The win32 thread model's runtime lies beside the posix one: .../12-posix -> .../12-win32.
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-libgcc-file-name
                  OUTPUT_VARIABLE _libgcc OUTPUT_STRIP_TRAILING_WHITESPACE)
  get_filename_component(_dir "${_libgcc}" DIRECTORY)
  string(REGEX REPLACE "-posix$" "-win32" NORVANTA_WIN32_RUNTIME_DIR "${_dir}")
  if(NORVANTA_WIN32_RUNTIME_DIR STREQUAL _dir OR NOT EXISTS "${NORVANTA_WIN32_RUNTIME_DIR}/libstdc++.a"
     OR NOT EXISTS "${NORVANTA_WIN32_RUNTIME_DIR}/libgcc_eh.a")
    set(NORVANTA_WIN32_RUNTIME_DIR "")
  endif()
endif()

function(norvanta_lean_runtime target)
  if(NOT NORVANTA_TARGET)
    return()
  endif()
  foreach(opt NORVANTA_QUIET_TERMINATE NORVANTA_PLAIN_LIBRARY_ERRORS)
    if(${opt})
      target_sources(${target} PRIVATE ${CMAKE_SOURCE_DIR}/platform/RuntimeSupport.cpp)
      target_compile_definitions(${target} PRIVATE ${opt})
    endif()
  endforeach()
  if(NORVANTA_WIN32_RUNTIME)
    if(NOT NORVANTA_WIN32_RUNTIME_DIR)
      message(FATAL_ERROR "No win32 thread model runtime beside the compiler's; configure with -DNORVANTA_WIN32_RUNTIME=OFF")
    endif()
    # Searched before the compiler's own folder, so these libraries win.
    target_link_directories(${target} BEFORE PRIVATE "${NORVANTA_WIN32_RUNTIME_DIR}")
  endif()
endfunction()
