// UTC times as release manifests write them, "YYYY-MM-DDTHH:MM:SSZ", and as counts of seconds
// since 1970-01-01T00:00:00Z in the proleptic Gregorian calendar, leap seconds not counted.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr size_t UTC_TIME_BYTES = 20;
// Room for format_utc_time of any 64-bit count, terminator included.
constexpr size_t UTC_TIME_UNITS = 32;

// 1 with *seconds when the bytes are exactly that form: a real calendar date (29 February in
// leap years only), hours 00 to 23, minutes and seconds 00 to 59, upper-case T and Z. 0 else.
int parse_utc_time(const char* text, size_t bytes, int64_t* seconds);

// The same form for any count; a year past 9999 takes more digits, one before 0 a minus sign.
void format_utc_time(int64_t seconds, wchar_t text[UTC_TIME_UNITS]);
