// The game's side of the loopback bridge, for the tests and the stand-in game.
#pragma once

#include <cstdint>
#include <string>

// Connects to 127.0.0.1:32110, retrying until the time-out; -1 when no connection was made.
// dual_stack: from an IPv6 socket that also speaks IPv4, to ::ffff:127.0.0.1, as several
// runtimes connect by default.
intptr_t bridge_connect(unsigned timeout_ms = 5000, bool dual_stack = false);
bool bridge_send(intptr_t connection, const std::string& bytes);
// Everything received until the other side closes; what came before the time-out otherwise.
std::string bridge_receive_all(intptr_t connection, unsigned timeout_ms = 10000);
void bridge_close(intptr_t connection);
// One request and its whole reply (empty when no connection was made).
std::string bridge_exchange(const std::string& request, bool dual_stack = false);

// A listener of the test's own on 127.0.0.1:32110 (-1 when the port cannot be had).
intptr_t bridge_hold_port();
// Accepts one connection on that listener within the time-out and closes it; true when one came.
bool bridge_accept_one(intptr_t listener, unsigned timeout_ms);

// What the stand-in game records.
std::wstring current_folder();
std::wstring program_folder();
// Creates the file only when it does not exist yet.
bool create_new_file(const std::wstring& path, const std::string& bytes);
