#include "port/LocalTime.h"

#include <cstdio>
#include <ctime>

namespace Quorvel::port {

LocalDate localDateOf(std::int64_t seconds) {
  const __time64_t moment = static_cast<__time64_t>(seconds);
  std::tm local{};
  if (_localtime64_s(&local, &moment) != 0) return {};
  return {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday};
}

std::int64_t localDayStart(const LocalDate& date) {
  std::tm local{};
  local.tm_year = date.year - 1900;
  local.tm_mon = date.month - 1;
  local.tm_mday = date.day;
  local.tm_isdst = -1;  // whatever holds on that day
  return static_cast<std::int64_t>(_mktime64(&local));
}

std::string dateText(const LocalDate& date) {
  char text[16];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d", date.year, date.month, date.day);
  return text;
}

}  // namespace Quorvel::port
