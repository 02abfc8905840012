#include "port/LocalTime.h"

#include <cstdio>
#include <ctime>

namespace Quorvel::port {

LocalDate localDateOf(std::int64_t seconds) {
  const std::time_t moment = static_cast<std::time_t>(seconds);
  std::tm local{};
  if (!localtime_r(&moment, &local)) return {};
  return {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday};
}

std::int64_t localDayStart(const LocalDate& date) {
  std::tm local{};
  local.tm_year = date.year - 1900;
  local.tm_mon = date.month - 1;
  local.tm_mday = date.day;
  local.tm_isdst = -1;  // whatever holds on that day
  return static_cast<std::int64_t>(std::mktime(&local));
}

std::string dateText(const LocalDate& date) {
  char text[16];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d", date.year, date.month, date.day);
  return text;
}

}  // namespace Quorvel::port
