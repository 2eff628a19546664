# launcher_library(<subsystem> <portable sources...> [PLATFORM <stems...>] [USES <subsystems...>])
# The static library launcher_<subsystem>: its portable sources and, for each PLATFORM stem, the
# half for this build (<stem>_win.cpp on Windows, <stem>_posix.cpp elsewhere). It links the
# libraries of the subsystems it USES, which must lie below it; nothing links upwards.
function(launcher_library subsystem)
  cmake_parse_arguments(ARG "" "" "PLATFORM;USES" ${ARGN})
  set(files ${ARG_UNPARSED_ARGUMENTS})
  foreach(stem IN LISTS ARG_PLATFORM)
    list(APPEND files "${stem}_${LAUNCHER_PLATFORM}.cpp")
  endforeach()
  list(TRANSFORM files PREPEND "${CMAKE_CURRENT_SOURCE_DIR}/")
  set(target launcher_${subsystem})
  add_library(${target} STATIC ${files})
  target_include_directories(${target} PUBLIC "${CMAKE_SOURCE_DIR}/src" "${CMAKE_BINARY_DIR}/generated")
  list(TRANSFORM ARG_USES PREPEND launcher_)
  target_link_libraries(${target} PUBLIC ${ARG_USES})
  set_property(GLOBAL APPEND PROPERTY LAUNCHER_LIBRARIES ${target})
  set_property(GLOBAL PROPERTY LAUNCHER_SOURCES_${subsystem} ${files})
endfunction()

# launcher_crash_library(<subsystem> [USES <targets...>]): launcher_<subsystem>_crash, the same
# sources built with VORNA380_CRASH_POINTS (src/core/crash_point.h), for test programs that
# kill the worker at its named points. It comes before launcher_<subsystem> on a link line and
# takes that library's system libraries from it; nothing the product links uses it.
function(launcher_crash_library subsystem)
  cmake_parse_arguments(ARG "" "" "USES" ${ARGN})
  get_property(files GLOBAL PROPERTY LAUNCHER_SOURCES_${subsystem})
  set(target launcher_${subsystem}_crash)
  add_library(${target} STATIC ${files})
  target_include_directories(${target} PUBLIC "${CMAKE_SOURCE_DIR}/src" "${CMAKE_BINARY_DIR}/generated")
  target_compile_definitions(${target} PUBLIC VORNA380_CRASH_POINTS)
  target_link_libraries(${target} PUBLIC ${ARG_USES} launcher_${subsystem})
endfunction()

# to_native_path(<out var> <path>): the path as the built programs see it. Under Wine the
# Linux file system appears as drive Z:.
function(to_native_path out path)
  if(WIN32)
    string(REPLACE "/" "\\\\" native "${path}")
    set(${out} "Z:${native}" PARENT_SCOPE)
  else()
    set(${out} "${path}" PARENT_SCOPE)
  endif()
endfunction()

# write_build_number(<number or empty> <header>): the header with VORNA380_BUILD_NUMBER, the
# launcher's build number. Empty takes the number of commits of the source tree (git rev-list
# --count HEAD), which only grows along the main line; without git it is 0.
function(write_build_number number header)
  if(number STREQUAL "")
    execute_process(COMMAND git rev-list --count HEAD WORKING_DIRECTORY "${CMAKE_SOURCE_DIR}"
                    OUTPUT_VARIABLE number OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET RESULT_VARIABLE failed)
    if(failed OR NOT number MATCHES "^[0-9]+$")
      set(number 0)
    endif()
  endif()
  if(NOT number MATCHES "^[0-9]+$" OR number GREATER 999999999)
    message(FATAL_ERROR "VORNA380_BUILD_NUMBER must be a whole number below 1000000000, not '${number}'")
  endif()
  message(STATUS "Launcher build number: ${number}")
  string(LENGTH "${number}" digits)
  math(EXPR padding "10 - ${digits}")
  string(REPEAT "0" ${padding} zeros)
  file(CONFIGURE OUTPUT "${header}" CONTENT "// Generated at configure time: the launcher's build number, also as the text that marks it \
in the executable.\n#pragma once\n#define VORNA380_BUILD_NUMBER ${number}u\n\
#define VORNA380_BUILD_MARKER \"VORNA380-BUILD-NUMBER:${zeros}${number};\"\n")
endfunction()
