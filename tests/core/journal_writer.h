// A second program that journals: journal_writer JOURNAL TAG COUNT GATE OWN_MARK PEER_MARK.
// It waits until the file GATE has content, writes the lines "TAG 0" .. "TAG COUNT-1" with
// write_log, and half-way writes OWN_MARK and waits for PEER_MARK, so that two writers started
// together are sure to be writing at the same time. Exit code 0 when done, 2 on bad
// arguments, 3 when a file it waits for does not come within 60 seconds.
#pragma once

int run_journal_writer(int argc, const wchar_t* const* argv);
