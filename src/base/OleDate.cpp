#include "base/OleDate.h"

#include <chrono>
#include <cmath>

namespace quenloft {

namespace {

constexpr std::chrono::sys_days OleEpoch = std::chrono::sys_days{std::chrono::year{1899} / 12 / 30};

// The date's text in the user's locale.
std::string DateText(double date) {
    if (!std::isfinite(date) || std::fabs(date) > 2958465.0) { // beyond 9999-12-31
        return {};
    }
    double whole = std::floor(date);
    long seconds = std::lround((date - whole) * 86400.0);
    if (seconds >= 86400) {
        whole += 1;
        seconds -= 86400;
    }
    using namespace std::chrono;
    year_month_day ymd{OleEpoch + days{static_cast<long>(whole)}};
    std::tm tm{};
    tm.tm_year = static_cast<int>(ymd.year()) - 1900;
    tm.tm_mon = static_cast<int>(static_cast<unsigned>(ymd.month())) - 1;
    tm.tm_mday = static_cast<int>(static_cast<unsigned>(ymd.day()));
    tm.tm_hour = static_cast<int>(seconds / 3600);
    tm.tm_min = static_cast<int>(seconds / 60 % 60);
    tm.tm_sec = static_cast<int>(seconds % 60);
    const char* format = whole == 0 ? "%X" : seconds == 0 ? "%x" : "%x %X";
    char buf[128];
    size_t n = std::strftime(buf, sizeof buf, format, &tm);
    return std::string(buf, n);
}

} // namespace

double OleDateFromTime(std::time_t t) {
    std::tm local{};
    localtime_r(&t, &local);
    using namespace std::chrono;
    sys_days day{year{local.tm_year + 1900} / month(static_cast<unsigned>(local.tm_mon + 1)) /
                 static_cast<unsigned>(local.tm_mday)};
    double days = static_cast<double>((day - OleEpoch).count());
    double seconds = local.tm_hour * 3600.0 + local.tm_min * 60.0 + local.tm_sec;
    return days + seconds / 86400.0;
}

// Every request asks for the time and its text; within one second both stay the same.
double OleNow() {
    static std::time_t lastSecond = -1;
    static double lastDate = 0;
    std::time_t now = std::time(nullptr);
    if (now != lastSecond) {
        lastDate = OleDateFromTime(now);
        lastSecond = now;
    }
    return lastDate;
}

std::string OleDateText(double date) {
    static double lastDate = std::nan("");
    static std::string lastText;
    if (date != lastDate) {
        lastText = DateText(date);
        lastDate = date;
    }
    return lastText;
}

} // namespace quenloft
