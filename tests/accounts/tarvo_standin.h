// A stand-in for the game "Tarvo.exe": asks the bridge for the account once, the way the game
// does, and records the folder it was started in and the whole reply, in a new file
// record-N.txt (N = 1, 2, ...) of the folder named by VORNA380_TARVO_RECORDS.
#pragma once

int run_tarvo_standin();
