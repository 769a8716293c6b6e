# What a packager may set in the program's resources: the logo and program icon
# that resources/art.rc compiles into a target, and the copyright line of the
# version resource (resources/setup.rc). mkart (a host tool) draws the product's
# own art; a packager's files given with NORVANTA_LOGO / NORVANTA_ICON are used
# instead, the logo after mkart has checked that the setup can decode it.
set(NORVANTA_LOGO "" CACHE FILEPATH "A PNG to build in as the wizard's logo instead of the product's own")
set(NORVANTA_ICON "" CACHE FILEPATH "An .ico to build in as the program icon instead of the product's own")
set(NORVANTA_COPYRIGHT "" CACHE STRING "The version resource's copyright line (UTF-8) instead of the product's own")
if(NORVANTA_COPYRIGHT STREQUAL "")
  set(_line "© 2026 The Norvanta Word Processor Team")
else()
  set(_line "${NORVANTA_COPYRIGHT}")
endif()
if(_line MATCHES "[\r\n]")
  message(FATAL_ERROR "The copyright line must be one line: ${_line}")
endif()
# The line as built in, read back by the version resource test.
set(NORVANTA_COPYRIGHT_LINE "${_line}" CACHE INTERNAL "")

function(norvanta_add_art target)
  set(mkart "${NORVANTA_HOST_TOOLS}/mkart/mkart")
  set(dir "${CMAKE_CURRENT_BINARY_DIR}/art")
  file(MAKE_DIRECTORY "${dir}")
  if(NORVANTA_LOGO)
    add_custom_command(OUTPUT "${dir}/logo.png"
      COMMAND "${mkart}" check-logo "${NORVANTA_LOGO}"
      COMMAND ${CMAKE_COMMAND} -E copy "${NORVANTA_LOGO}" "${dir}/logo.png"
      DEPENDS "${NORVANTA_LOGO}" "${mkart}" VERBATIM)
  else()
    add_custom_command(OUTPUT "${dir}/logo.png"
      COMMAND "${mkart}" logo "${dir}/logo.png"
      DEPENDS "${mkart}" VERBATIM)
  endif()
  if(NORVANTA_ICON)
    add_custom_command(OUTPUT "${dir}/setup.ico"
      COMMAND ${CMAKE_COMMAND} -E copy "${NORVANTA_ICON}" "${dir}/setup.ico"
      DEPENDS "${NORVANTA_ICON}" VERBATIM)
  else()
    add_custom_command(OUTPUT "${dir}/setup.ico"
      COMMAND "${mkart}" icon "${dir}/setup.ico"
      DEPENDS "${mkart}" VERBATIM)
  endif()
  set(rc "${CMAKE_SOURCE_DIR}/resources/art.rc")
  # windres finds the files named in the script through its include folders.
  set_source_files_properties("${rc}" PROPERTIES
    OBJECT_DEPENDS "${dir}/logo.png;${dir}/setup.ico"
    INCLUDE_DIRECTORIES "${dir}")
  target_sources(${target} PRIVATE "${dir}/logo.png" "${dir}/setup.ico")

  # setup.rc takes the copyright line from a header written here; an RC string
  # doubles its quotes and escapes its backslashes.
  string(REPLACE "\\" "\\\\" text "${NORVANTA_COPYRIGHT_LINE}")
  string(REPLACE "\"" "\"\"" text "${text}")
  file(CONFIGURE OUTPUT "${dir}/version-strings.h" CONTENT "#define NORVANTA_COPYRIGHT \"@text@\"\n" @ONLY)
  set_source_files_properties("${CMAKE_SOURCE_DIR}/resources/setup.rc" PROPERTIES
    OBJECT_DEPENDS "${dir}/version-strings.h"
    INCLUDE_DIRECTORIES "${dir}")
endfunction()
