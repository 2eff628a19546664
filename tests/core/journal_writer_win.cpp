#include "journal_writer.h"

int wmain(int argc, wchar_t** argv) { return run_journal_writer(argc, argv); }
