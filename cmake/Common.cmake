# Shared settings and helpers for both toolchains.
set(CMAKE_CXX_STANDARD 20)
set(CMAKE_CXX_STANDARD_REQUIRED ON)
set(CMAKE_CXX_EXTENSIONS OFF)
set(CMAKE_EXPORT_COMPILE_COMMANDS ON)

if(WIN32)
  set(NORVANTA_TARGET ON)
  add_compile_definitions(UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601 WINVER=0x0601)
  add_compile_options(-Wall -Wextra -Os -ffunction-sections -fdata-sections)
  add_link_options(-static -s -Wl,--gc-sections)
else()
  set(NORVANTA_TARGET OFF)
  add_compile_options(-Wall -Wextra -g -O1)
  option(NORVANTA_SANITIZE "Build host code with ASan and UBSan" ON)
  if(NORVANTA_SANITIZE)
    add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
    add_link_options(-fsanitize=address,undefined)
  endif()
endif()

include(${CMAKE_CURRENT_LIST_DIR}/LeanRuntime.cmake)

# GoogleTest from Debian's sources, built by each toolchain.
function(norvanta_use_gtest)
  if(TARGET gtest)
    return()
  endif()
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
  target_compile_options(gtest PRIVATE -w)
  target_compile_options(gtest_main PRIVATE -w)
endfunction()

set(NORVANTA_RESULTS_DIR ${CMAKE_BINARY_DIR}/test-results)

# norvanta_add_test(NAME name LABEL host|wine|gui|e2e SOURCES ... LIBS ... [LOCK] [DISPLAY] [DISPLAYLESS]
#                   [TIMEOUT s])
# DISPLAYLESS: a program that must not touch the display, so not made DPI aware either
# (under Wine 10 that alone can load the display driver).
# One ctest entry per test program; its case counts are read from the XML report.
function(norvanta_add_test)
  cmake_parse_arguments(T "LOCK;DISPLAY;DISPLAYLESS" "NAME;LABEL;TIMEOUT" "SOURCES;LIBS" ${ARGN})
  norvanta_use_gtest()
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} gtest gtest_main)
  if(WIN32)
    target_link_options(${T_NAME} PRIVATE -mconsole)
    if(NOT T_DISPLAYLESS)
      target_sources(${T_NAME} PRIVATE ${CMAKE_SOURCE_DIR}/tests/win/DpiAware.cpp)
    endif()
  endif()
  set(xml ${NORVANTA_RESULTS_DIR}/${T_LABEL}/${T_NAME}.xml)
  if(WIN32)
    # Wine sees the Linux root as drive Z:.
    string(REPLACE "/" "\\" xml "Z:${xml}")
  endif()
  add_test(NAME ${T_NAME} COMMAND ${T_NAME} --gtest_output=xml:${xml})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 600)
  endif()
  set_tests_properties(${T_NAME} PROPERTIES LABELS ${T_LABEL} TIMEOUT ${T_TIMEOUT})
  # Tests that change the prefix's files or registry run one at a time, and so do
  # tests whose windows need the focus or are answered by a second thread.
  set(locks)
  if(T_LOCK)
    list(APPEND locks wineprefix-state)
  endif()
  if(T_DISPLAY)
    list(APPEND locks display)
  endif()
  if(locks)
    set_tests_properties(${T_NAME} PROPERTIES RESOURCE_LOCK "${locks}")
  endif()
endfunction()

# norvanta_form_binary(TARGET target SOURCE file.dfm OUTPUT file.bin)
# Converts a text form definition with the host tool dfm2bin (built here on the
# host, taken from NORVANTA_HOST_TOOLS on the target).
function(norvanta_form_binary)
  cmake_parse_arguments(F "" "TARGET;SOURCE;OUTPUT" "" ${ARGN})
  if(NORVANTA_TARGET)
    set(tool ${NORVANTA_HOST_TOOLS}/dfm2bin)
  else()
    set(tool $<TARGET_FILE:dfm2bin>)
  endif()
  get_filename_component(name ${F_OUTPUT} NAME)
  add_custom_command(OUTPUT ${F_OUTPUT}
    COMMAND ${tool} ${F_SOURCE} ${F_OUTPUT}
    DEPENDS ${F_SOURCE} ${tool}
    COMMENT "Converting form definition ${name}"
    VERBATIM)
  add_custom_target(${F_TARGET} DEPENDS ${F_OUTPUT})
endfunction()
