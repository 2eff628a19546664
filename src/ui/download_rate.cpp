#include "ui/download_rate.h"

#include "core/text.h"

void add_rate_sample(rate_estimate* estimate, uint64_t now_ms, uint64_t bytes, uint64_t total) {
  // A new download, or a file that shrank (written anew): the estimate starts again from here.
  if (!estimate->started || estimate->total != total || bytes < estimate->last_bytes || now_ms < estimate->last_ms) {
    *estimate = {total, now_ms, now_ms, bytes, 0.0, 1};
    return;
  }
  uint64_t elapsed = now_ms - estimate->last_ms;
  if (elapsed < RATE_SAMPLE_MS) return;
  double sample = static_cast<double>(bytes - estimate->last_bytes) * 1000.0 / static_cast<double>(elapsed);
  // The first full sample is taken as it is; later ones weigh by the time they cover.
  double weight = estimate->last_ms == estimate->first_ms
                      ? 1.0
                      : static_cast<double>(elapsed) / static_cast<double>(elapsed + RATE_SMOOTHING_MS);
  estimate->bytes_per_second += weight * (sample - estimate->bytes_per_second);
  estimate->last_ms = now_ms;
  estimate->last_bytes = bytes;
}

namespace {
void append_time_left(text_builder* text, uint64_t seconds) {
  if (seconds < 60) {
    builder_append_uint(text, seconds, 1);
    builder_append(text, L" s");
  } else if (seconds < 3600) {
    builder_append_uint(text, (seconds + 59) / 60, 1);
    builder_append(text, L" min");
  } else {
    uint64_t minutes = (seconds + 59) / 60;
    builder_append_uint(text, minutes / 60, 1);
    builder_append(text, L" h ");
    builder_append_uint(text, minutes % 60, 2);
    builder_append(text, L" min");
  }
}
}  // namespace

void append_rate_and_time_left(text_builder* text, const rate_estimate* estimate, uint64_t bytes, uint64_t total) {
  if (!estimate->started || estimate->total != total || estimate->last_ms - estimate->first_ms < RATE_WARM_UP_MS ||
      estimate->bytes_per_second < 1.0) {
    return;
  }
  builder_append(text, L"  -  ");
  double rate = estimate->bytes_per_second;
  if (rate < 102400.0) {  // below 0,1 Mo/s: in Ko/s
    builder_append_uint(text, static_cast<uint64_t>(rate / 1024.0 + 0.5), 1);
    builder_append(text, L" Ko/s");
  } else {
    uint64_t tenths = static_cast<uint64_t>(rate * 10.0 / 1048576.0 + 0.5);
    builder_append_uint(text, tenths / 10, 1);
    builder_append_char(text, L',');
    builder_append_uint(text, tenths % 10, 1);
    builder_append(text, L" Mo/s");
  }
  uint64_t left = bytes < total ? total - bytes : 0;
  builder_append(text, L", ");
  append_time_left(text, static_cast<uint64_t>(static_cast<double>(left) / rate + 0.999));
}
