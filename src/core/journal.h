// The journal: one time-stamped UTF-8 line per call, appended to g_log.
#pragma once

#include <cstdint>

// Appends "[YYYY-MM-DD hh:mm:ss] message\r\n". Never fails visibly; with no journal path,
// or a file that cannot be opened, the line is lost.
void write_log(const wchar_t* message);
// write_log of prefix followed by path.
void write_log_with_path(const wchar_t* prefix, const wchar_t* path);
// write_log of before, the number in decimal, then after.
void write_log_with_number(const wchar_t* before, uint64_t number, const wchar_t* after);

// Appends "prefix (erreur Windows code): system text." or, when the system has no text for
// the code, "prefix (erreur Windows code)." (on Linux: "erreur systeme" and the errno text).
void log_windows_error(const wchar_t* prefix, uint32_t code);

// The words naming the kind of error code in a journal line ("erreur Windows", on Linux
// "erreur systeme").
extern const wchar_t k_system_error_label[];

// Appends "(erreur Windows code)" (on Linux "(erreur systeme code)"), as journal lines and
// failure texts name an error code.
struct text_builder;
void builder_append_error_code(text_builder* builder, uint32_t code);
