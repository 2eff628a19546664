# launcher_sources(<portable sources...> [PLATFORM <stems...>])
# Adds the portable sources of a subsystem to launcher_logic, and for each PLATFORM stem the
# half for this build: <stem>_win.cpp on Windows, <stem>_posix.cpp elsewhere.
function(launcher_sources)
  cmake_parse_arguments(ARG "" "" "PLATFORM" ${ARGN})
  set(files ${ARG_UNPARSED_ARGUMENTS})
  foreach(stem IN LISTS ARG_PLATFORM)
    list(APPEND files "${stem}_${LAUNCHER_PLATFORM}.cpp")
  endforeach()
  list(TRANSFORM files PREPEND "${CMAKE_CURRENT_SOURCE_DIR}/")
  target_sources(launcher_logic PRIVATE ${files})
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
