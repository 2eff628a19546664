# Checks that broken release profiles stop the configure step with a message naming the key,
# and that a profile with one release key or with a next key as well builds in as many keys.
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
foreach(exponent 000001 000000 010000 000002)
  string(REGEX REPLACE "\nrelease_key_exponent=[^\n]+" "\nrelease_key_exponent=${exponent}" weak_exponent "${good}")
  expect_refused(exponent-${exponent} "${weak_exponent}" "key 'release_key_exponent': expected an odd public exponent")
endforeach()
string(REGEX REPLACE "\nrelease_key_next_exponent=[^\n]+" "\nrelease_key_next_exponent=000001" weak_next_exponent "${good}")
expect_refused(next-exponent-1 "${weak_next_exponent}" "key 'release_key_next_exponent': expected an odd public exponent")
string(REGEX REPLACE "(\nrelease_key_modulus=[^\n]+)[0-9a-f]\n" "\\10\n" even_modulus "${good}")
expect_refused(even-modulus "${even_modulus}" "key 'release_key_modulus': an RSA modulus is odd")
string(REGEX REPLACE "\npin_skills_size=[0-9]+" "" missing_size "${good}")
expect_refused(missing-size "${missing_size}" "key 'pin_skills_size': missing key")
foreach(size 0 12kB)
  string(REGEX REPLACE "\nT9_size=[0-9]+" "\nT9_size=${size}" bad_size "${good}")
  expect_refused(size-${size} "${bad_size}" "key 'T9_size': expected a size in bytes")
endforeach()
string(REGEX REPLACE "\nrelease_expiry_required=1" "\nrelease_expiry_required=yes" bad_expiry "${good}")
expect_refused(expiry-required-yes "${bad_expiry}" "key 'release_expiry_required': expected 0 or 1")
string(REGEX REPLACE "\norigin_host=[^\n]+" "\norigin_host=https://example.test/" bad_host "${good}")
expect_refused(origin-with-scheme "${bad_host}" "key 'origin_host'")

string(REGEX MATCH "\nrelease_key_next_modulus=[0-9a-f]+" next_modulus_line "${good}")
string(REGEX MATCH "\nrelease_key_next_exponent=[0-9a-f]+" next_exponent_line "${good}")
if(next_modulus_line STREQUAL "" OR next_exponent_line STREQUAL "")
  message(FATAL_ERROR "the development profile is expected to name a next key")
endif()
string(REPLACE "${next_exponent_line}" "" next_without_exponent "${good}")
expect_refused(next-key-without-exponent "${next_without_exponent}" "key 'release_key_next_exponent': missing key")
string(REPLACE "${next_modulus_line}" "" next_without_modulus "${good}")
expect_refused(next-key-without-modulus "${next_without_modulus}" "key 'release_key_next_modulus': missing key")
expect_refused(repeated-next-key "${good}${next_modulus_line}\n" "key 'release_key_next_modulus': repeated key")
string(REGEX REPLACE "\nrelease_key_next_modulus=[0-9a-f]" "\nrelease_key_next_modulus=7" weak_next "${good}")
expect_refused(next-key-top-bit "${weak_next}" "key 'release_key_next_modulus': the top bit must be set")
string(REGEX MATCH "\nrelease_key_modulus=([0-9a-f]+)" current_line "${good}")
string(REPLACE "${next_modulus_line}" "\nrelease_key_next_modulus=${CMAKE_MATCH_1}" next_is_current "${good}")
expect_refused(next-key-is-the-release-key "${next_is_current}"
               "key 'release_key_next_modulus': the next key is the release key")

# expect_key_count(<case name> <profile text> <count>): the profile configures and the launcher
# trusts that many keys.
function(expect_key_count name text count)
  set(profile "${WORK_DIR}/${name}.profile")
  file(WRITE "${profile}" "${text}")
  execute_process(
    COMMAND "${CMAKE_COMMAND}" -S "${SOURCE_DIR}" -B "${WORK_DIR}/${name}-build"
            -DVORNA380_RELEASE_PROFILE=${profile} -DVORNA380_TESTS=OFF
    RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
  set(header "${WORK_DIR}/${name}-build/generated/release_profile.h")
  set(found "")
  set(row_count 0)
  if(EXISTS "${header}")
    file(READ "${header}" generated)
    string(REGEX MATCH "#define VORNA380_RELEASE_KEY_COUNT ([0-9]+)" found "${generated}")
    set(found "${CMAKE_MATCH_1}")
    string(REGEX MATCHALL "\n    {0x" rows "${generated}")
    list(LENGTH rows row_count)
  endif()
  math(EXPR rows_expected "2 * ${count}")  # a modulus and an exponent per key
  if(NOT result EQUAL 0 OR NOT found STREQUAL "${count}" OR NOT row_count EQUAL rows_expected)
    message(SEND_ERROR "${name}: expected a build trusting ${count} key(s); got ${result}, '${found}':\n${err}")
  else()
    message(STATUS "${name}: ${count} key(s) as expected")
  endif()
endfunction()
string(REPLACE "${next_modulus_line}${next_exponent_line}" "" one_key "${good}")
expect_key_count(one-key "${one_key}" 1)
expect_key_count(with-next-key "${good}" 2)

expect_refused(fallback-with-scheme "${good}fallback_hosts=cdn.example.test,https://other.example.test/\n"
               "key 'fallback_hosts': expected host names")
string(REGEX MATCH "\norigin_host=([^\n]+)" origin_line "${good}")
expect_refused(fallback-is-origin "${good}fallback_hosts=${CMAKE_MATCH_1}\n" "key 'fallback_hosts': the origin")
# Fallback hosts follow the origin, in the profile's order.
expect_key_count(fallbacks "${good}fallback_hosts=cdn-b.example.test,origin.example.test:8443\n" 2)
file(READ "${WORK_DIR}/fallbacks-build/generated/release_profile.h" generated)
string(FIND "${generated}"
       "#define VORNA380_FALLBACK_HOSTS, L\"https://cdn-b.example.test/\", L\"https://origin.example.test:8443/\"\n" at)
if(at EQUAL -1)
  message(SEND_ERROR "fallbacks: the hosts are not in the generated header:\n${generated}")
endif()
