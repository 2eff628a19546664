#include "trust/utc_time.h"

#include "core/text.h"

namespace {
constexpr int64_t DAY_SECONDS = 86400;

// count decimal digits, nothing else.
int read_digits(const char* text, int count, int* value) {
  *value = 0;
  for (int i = 0; i < count; ++i) {
    if (text[i] < '0' || text[i] > '9') return 0;
    *value = *value * 10 + (text[i] - '0');
  }
  return 1;
}

int days_in_month(int year, int month) {
  static const int days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  bool leap = year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
  return month == 2 && leap ? 29 : days[month - 1];
}

// Days between 1970-01-01 and a date, counted in 400-year eras of 146,097 days from a year
// that starts in March, so that the leap day falls last (H. Hinnant's civil calendar rules).
int64_t days_from_civil(int64_t year, int month, int day) {
  year -= month <= 2;
  int64_t era = (year >= 0 ? year : year - 399) / 400;
  int64_t year_of_era = year - era * 400;
  int64_t day_of_year = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
  int64_t day_of_era = year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
  return era * 146097 + day_of_era - 719468;
}

// The inverse of days_from_civil.
void civil_from_days(int64_t days, int64_t* year, int* month, int* day) {
  days += 719468;
  int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  int64_t day_of_era = days - era * 146097;
  int64_t year_of_era = (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
  int64_t day_of_year = day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
  int64_t month_from_march = (5 * day_of_year + 2) / 153;
  *day = static_cast<int>(day_of_year - (153 * month_from_march + 2) / 5 + 1);
  *month = static_cast<int>(month_from_march < 10 ? month_from_march + 3 : month_from_march - 9);
  *year = year_of_era + era * 400 + (*month <= 2);
}

void append_two(text_builder* text, wchar_t separator, int value) {
  builder_append_char(text, separator);
  builder_append_uint(text, static_cast<uint64_t>(value), 2);
}
}  // namespace

int parse_utc_time(const char* text, size_t bytes, int64_t* seconds) {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  if (bytes != UTC_TIME_BYTES || !read_digits(text, 4, &year) || text[4] != '-' || !read_digits(text + 5, 2, &month) ||
      text[7] != '-' || !read_digits(text + 8, 2, &day) || text[10] != 'T' || !read_digits(text + 11, 2, &hour) ||
      text[13] != ':' || !read_digits(text + 14, 2, &minute) || text[16] != ':' ||
      !read_digits(text + 17, 2, &second) || text[19] != 'Z') {
    return 0;
  }
  if (month < 1 || month > 12 || day < 1 || day > days_in_month(year, month) || hour > 23 || minute > 59 ||
      second > 59) {
    return 0;
  }
  *seconds = days_from_civil(year, month, day) * DAY_SECONDS + hour * 3600 + minute * 60 + second;
  return 1;
}

void format_utc_time(int64_t seconds, wchar_t text[UTC_TIME_UNITS]) {
  int64_t days = seconds / DAY_SECONDS;
  int64_t rest = seconds % DAY_SECONDS;
  if (rest < 0) {  // division rounds towards zero; the day must round down
    rest += DAY_SECONDS;
    --days;
  }
  int64_t year = 0;
  int month = 0, day = 0;
  civil_from_days(days, &year, &month, &day);
  text_builder out = start_text(text, UTC_TIME_UNITS);
  if (year < 0) builder_append_char(&out, L'-');
  builder_append_uint(&out, static_cast<uint64_t>(year < 0 ? -year : year), 4);
  append_two(&out, L'-', month);
  append_two(&out, L'-', day);
  append_two(&out, L'T', static_cast<int>(rest / 3600));
  append_two(&out, L':', static_cast<int>(rest / 60 % 60));
  append_two(&out, L':', static_cast<int>(rest % 60));
  builder_append_char(&out, L'Z');
}
