// Dates as the tagged value holds them: days since 1899-12-30, the time of day as the fraction.
#pragma once

#include <ctime>
#include <string>

namespace quenloft {

// The local date and time of a moment.
double OleDateFromTime(std::time_t t);
// The current local date and time.
double OleNow();
// The user's locale's short date and long time ("%x %X"); a value without a time
// part shows only the date, the zero date only the time.
std::string OleDateText(double date);

} // namespace quenloft
