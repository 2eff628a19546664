// Platform pieces of the installation tests: helper programs started from client folders, how
// they ended, folders made busy so that renaming them fails, folder listings.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Copies the built helper program (client_helper) to the path, ready to start.
bool copy_helper(const std::wstring& destination);
// Starts a copied helper that stays in its own folder and waits until it is in place; 0 when it
// could not be started or was not ready within 20 s.
intptr_t start_waiting_helper(const std::wstring& helper, const std::wstring& ready_file);
uint32_t program_id(intptr_t program);

// How a program from start_program ended, waiting up to wait_ms: its exit code, 1000 + signal
// for one ended by a signal (Linux), or k_still_running. Once it has ended the program is
// released and *program set to 0.
constexpr int k_still_running = -1;
int program_ending(intptr_t* program, unsigned wait_ms);
// How the activation ends a client program: exit code 1604 (Windows), SIGKILL (Linux).
extern const int k_activation_ending;
// Ends the program at once from outside and releases it as program_ending does.
int end_program_now(intptr_t* program);

// A started program, ended and released when the guard goes.
struct program_guard {
  intptr_t program = 0;
  ~program_guard();
};

// Renaming the folder fails as "busy" while this is held. Windows: a helper process holds the
// folder open without delete sharing. Linux: the folder is bind-mounted onto itself, in a mount
// namespace private to the test process, so no mount outlives it.
struct busy_folder {
  explicit busy_folder(const std::wstring& path);
  ~busy_folder();
  void release();
  bool held = false;
  intptr_t handle = 0;
  std::wstring path;
};

// Makes the file read-only (Windows: its attribute; Linux: mode 0444): 1 on success.
bool set_read_only(const std::wstring& path);

// Names of the entries of a folder, "." and ".." left out.
std::vector<std::wstring> folder_names(const std::wstring& folder);

// Starts a program with exactly this process ID where the system allows it (Linux, as root);
// 0 otherwise.
intptr_t start_program_with_id(const std::vector<std::wstring>& args, uint32_t id);

// How a test copy of the launcher ends at its chosen crash point: SIGKILL (Linux), exit code 9
// from TerminateProcess (Windows).
extern const int k_crash_ending;
