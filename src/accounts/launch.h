// Starting the game: the platform halves of launch_game.
#pragma once

#include <cstdint>

// Nonzero when something exists at the path.
int game_file_exists(const wchar_t* path);
// Starts the program detached (no arguments, working folder = folder, not waited for);
// nonzero when started, else the platform's error code in *error.
int start_game_process(const wchar_t* path, const wchar_t* folder, uint32_t* error);
