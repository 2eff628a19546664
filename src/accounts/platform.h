// What each platform half of the accounts subsystem supplies to its portable files.
#pragma once

#include <cstddef>
#include <cstdint>

// The bridge: its lock, its stop signal, a monotonic clock and the connection.
// The lock and the stop signal are made before the bridge thread starts (0 when they cannot
// be), and closed after it ended, the queue's password wiped.
int open_bridge_signals();
// Keeps the queue's page out of core dumps (Linux) and crash dumps (Windows, where the system
// offers it): nonzero when excluded.
int exclude_secrets_from_dumps();
void request_bridge_stop();
void close_bridge_signals();
// The bridge thread's work: serves 127.0.0.1:32110 until the stop signal. A socket layer that
// cannot start or a port that cannot be bound ends it silently.
void account_bridge_worker();
// The queue's lock, the stop signal as seen by the bridge thread, a monotonic clock.
void enter_bridge_lock();
void leave_bridge_lock();
int bridge_stop_requested();
uint64_t bridge_clock_ms();
// Waits at most timeout_ms for bytes and reads at most size of them: the count read, 0 when the
// peer ended its sending or the connection failed, -1 when nothing came within the time.
long bridge_connection_receive(intptr_t connection, char* buffer, size_t size, unsigned timeout_ms);
void bridge_connection_send(intptr_t connection, const char* bytes, size_t size);
// Nonzero when the other end of the loopback connection belongs to a process of this user
// (Linux: the uid of the peer's socket in the kernel's TCP table; Windows: the token user of
// the process owning the peer's end in the TCP table). 0 when it cannot be told.
int bridge_peer_is_same_user(intptr_t connection);

// Starting the game.
// Nonzero when something exists at the path.
int game_file_exists(const wchar_t* path);
// Starts the program detached (no arguments, working folder = folder, not waited for);
// nonzero when started, else the platform's error code in *error.
int start_game_process(const wchar_t* path, const wchar_t* folder, uint32_t* error);
