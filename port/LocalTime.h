// The calendar of the computer's own time zone: which local day a moment
// falls on, and when a local day starts (daylight saving included). The
// overview counts orders per local day with these. Any thread.
#pragma once

#include <cstdint>
#include <string>

namespace Quorvel::port {

struct LocalDate {
  int year = 1970;
  int month = 1;  // 1 to 12
  int day = 1;    // 1 to 31
};

// The local date of `seconds` since 1970 (UTC).
LocalDate localDateOf(std::int64_t seconds);

// The first second of the local day `date`. Out-of-range days and months
// are carried over (day 0 is the last day of the month before), so
// {2026, 3, 1 - 30} is thirty days before March 1st.
std::int64_t localDayStart(const LocalDate& date);

// "YYYY-MM-DD".
std::string dateText(const LocalDate& date);

}  // namespace Quorvel::port
