# Writes build/all/CTestTestfile.cmake, which runs the tests of every build in one ctest
# invocation: the Linux port, its sanitized flavour, the fuzz targets and the two Windows builds.
set(dir "${ROOT}/build/all")
file(MAKE_DIRECTORY "${dir}")
set(body "")
foreach(build linux linux-sanitize linux-fuzz windows windows-x64)
  if(EXISTS "${ROOT}/build/${build}/CTestTestfile.cmake")
    string(APPEND body "subdirs(\"${ROOT}/build/${build}\")\n")
  endif()
endforeach()
file(WRITE "${dir}/CTestTestfile.cmake" "${body}")
