# Checks that broken release profiles stop the configure step with a message naming the key.
# Run as: cmake -DSOURCE_DIR=... -DWORK_DIR=... -P profile_check.cmake
include("${SOURCE_DIR}/cmake/ReleaseProfile.cmake")
file(READ "${SOURCE_DIR}/release/dev.profile" good)
file(REMOVE_RECURSE "${WORK_DIR}")
file(MAKE_DIRECTORY "${WORK_DIR}")

set(failures 0)
# expect_refused(<case name> <profile text> <text the message must contain>)
function(expect_refused name text needle)
  set(profile "${WORK_DIR}/${name}.profile")
  file(WRITE "${profile}" "${text}")
  # A real configure of the whole tree with that profile.
  execute_process(
    COMMAND "${CMAKE_COMMAND}" -S "${SOURCE_DIR}" -B "${WORK_DIR}/${name}-build"
            -DVORNA380_RELEASE_PROFILE=${profile} -DVORNA380_TESTS=OFF
    RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
  # CMake wraps long messages; compare with the white space folded.
  string(REGEX REPLACE "[ \n]+" " " err "${err}")
  string(FIND "${err}" "${needle}" at)
  string(FIND "${err}" "${profile}" file_at)
  if(result EQUAL 0 OR at EQUAL -1 OR file_at EQUAL -1)
    message(SEND_ERROR "${name}: expected a failed configure naming '${needle}' and the file; got ${result}:\n${err}")
  else()
    message(STATUS "${name}: refused as expected")
  endif()
endfunction()

string(REGEX REPLACE "\npin_skills=[0-9a-f]+" "" missing "${good}")
expect_refused(missing-key "${missing}" "key 'pin_skills': missing key")

expect_refused(unknown-key "${good}colour=blue\n" "key 'colour': unknown key")
string(REGEX MATCH "\nC7=[0-9a-f]+" c7_line "${good}")
expect_refused(repeated-key "${good}${c7_line}\n" "key 'C7': repeated key")

string(REGEX REPLACE "\nT3=([0-9a-f]+)" "\nT3=\\1f" long_digest "${good}")
expect_refused(long-digest "${long_digest}" "key 'T3'")
string(REGEX REPLACE "\nU2=([0-9a-f])" "\nU2=A" upper_digest "${good}")
expect_refused(upper-case-digest "${upper_digest}" "key 'U2'")
string(REGEX REPLACE "\nrelease_key_exponent=[0-9a-f]+" "\nrelease_key_exponent=10001" short_exponent "${good}")
expect_refused(short-exponent "${short_exponent}" "key 'release_key_exponent'")
string(REGEX REPLACE "\nrelease_key_modulus=.." "\nrelease_key_modulus=" short_modulus "${good}")
expect_refused(short-modulus "${short_modulus}" "key 'release_key_modulus'")
string(REGEX REPLACE "\norigin_host=[^\n]+" "\norigin_host=https://example.test/" bad_host "${good}")
expect_refused(origin-with-scheme "${bad_host}" "key 'origin_host'")
