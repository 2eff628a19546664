#include "tarvo_standin.h"

int main() { return run_tarvo_standin(); }
