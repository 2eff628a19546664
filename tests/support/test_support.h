// Helpers shared by the tests of both builds: scratch folders, files, processes, fixtures.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Fixture folder made at build time by tests/fixtures/make-fixtures.sh.
std::wstring fixture_path(const std::wstring& relative);
// A file or folder of the source tree (release/dev.profile, ...).
std::wstring source_path(const std::wstring& relative);
// The built launcher executable.
std::wstring launcher_path();

// A fresh empty folder for one test, removed with everything in it by remove_tree.
std::wstring make_temp_dir();
void remove_tree(const std::wstring& path);

// Scratch folder that removes itself.
struct temp_dir {
  std::wstring path = make_temp_dir();
  ~temp_dir() { remove_tree(path); }
  std::wstring operator/(const std::wstring& name) const;
};

// Joins with this build's separator; relative may use '/' and is converted.
std::wstring join(const std::wstring& folder, const std::wstring& relative);

bool write_bytes(const std::wstring& path, const std::string& bytes);
bool append_bytes(const std::wstring& path, const std::string& bytes);
bool make_dirs(const std::wstring& path);
// Whole file; empty when missing.
std::string read_bytes(const std::wstring& path);
bool file_exists(const std::wstring& path);
// Gives to the last write time that from has.
bool copy_write_time(const std::wstring& from, const std::wstring& to);

// Runs the program with the arguments (program path first) and returns its full exit code,
// or -1 when it could not be started or did not end within the time-out.
int run_program(const std::vector<std::wstring>& args, unsigned timeout_ms = 60000);

// Starts the program (program path first) without waiting; 0 when it could not be started.
// Every started program must be passed to wait_program, which releases it.
intptr_t start_program(const std::vector<std::wstring>& args);
// Waits for a program from start_program and returns its full exit code, or -1 when it did not
// end within the time-out (it is then killed).
int wait_program(intptr_t program, unsigned timeout_ms = 60000);

// A link made by this build itself: a symbolic link on Linux; on Windows a junction, so the
// target must be a folder. False where the system cannot make one (Wine answers
// ERROR_NOT_SUPPORTED).
bool make_link(const std::wstring& target, const std::wstring& link);

// This process's environment, which the programs it starts inherit: an empty value removes the
// variable; an absent one reads as empty.
void set_variable(const std::wstring& name, const std::wstring& value);
std::wstring get_variable(const std::wstring& name);
// Whether the Windows build runs under Wine (never on Linux).
bool running_under_wine();
// How the journal labels a system error code: "erreur Windows" or "erreur systeme".
const wchar_t* system_error_label();
// A FIFO and a bound socket at path (Linux only: false on Windows).
bool make_fifo(const std::wstring& path);
bool make_socket(const std::wstring& path);

// Holds the file open so that no one else may read it; released by the destructor.
struct exclusive_lock {
  explicit exclusive_lock(const std::wstring& path);
  ~exclusive_lock();
  bool held() const;
  intptr_t handle;
};

// Text and digests.
std::string to_utf8(const std::wstring& text);
std::wstring from_utf8(const std::string& text);
std::string sha256_hex(const std::string& bytes);

// The short text whose SHA-256 is the development profile's digest for a label or pin
// (release/dev-contents.txt).
std::string dev_content(const std::string& label);
