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
