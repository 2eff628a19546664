// The launcher's build number, which only grows from one build to the next. The executable
// carries it as text after a fixed marker ("VORNA380-BUILD-NUMBER:" and ten digits), so that a
// launcher can read the number of another launcher file without running it.
#pragma once

#include <cstdint>

uint32_t own_build_number();
// 1 with the number marked in the launcher file at path; 0 when it cannot be read or holds
// no marker (a launcher built before the marker existed).
int read_build_number(const wchar_t* path, uint32_t* number);
// The first marker in bytes[0, count): 1 with its number.
int find_build_number(const char* bytes, uint32_t count, uint32_t* number);
