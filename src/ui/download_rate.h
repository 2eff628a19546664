// The download's rate and time left, as the progress band shows them after its figures:
// "  -  12,4 Mo/s, 3 min". The rate is an exponential average over about RATE_SMOOTHING_MS of
// what the file grew by between samples, so that it does not jump; it is shown only once
// RATE_WARM_UP_MS have passed since the first sample, and never negative. Bytes already in the
// file when the download began (a resumed one) count in the figures, not in the rate.
#pragma once

#include <cstdint>

constexpr uint64_t RATE_WARM_UP_MS = 3000;
constexpr uint64_t RATE_SMOOTHING_MS = 5000;
constexpr uint64_t RATE_SAMPLE_MS = 250;  // samples closer together are skipped

struct rate_estimate {
  uint64_t total;  // the download the estimate belongs to; another total starts afresh
  uint64_t first_ms;
  uint64_t last_ms;
  uint64_t last_bytes;
  double bytes_per_second;
  int started;
};

void add_rate_sample(rate_estimate* estimate, uint64_t now_ms, uint64_t bytes, uint64_t total);

// Appends the rate and the time left when the estimate is warm and positive; nothing otherwise.
struct text_builder;
void append_rate_and_time_left(text_builder* text, const rate_estimate* estimate, uint64_t bytes, uint64_t total);
