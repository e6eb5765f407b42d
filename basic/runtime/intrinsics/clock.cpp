// The clock services and the interval timer of the ITIMER_RESET and ITIMER_LAP statements, which
// write to standard error how long the program took since the last reset.
#include <cstdio>
#include <ctime>
#include <sys/time.h>

#include "cases.h"
#include "message.h"
#include "misc.h"

namespace {

std::int64_t utimer_start;  // the timer clock at the last ITIMER_RESET, 0 before the first
MillisecondClock timer_clock = DpsStartTimer;

timeval time_of_day(const char *who)
{
    timeval now{};
    if (gettimeofday(&now, nullptr) != 0) Abort("%s: Unable to get time of day", who);
    return now;
}

void utimer_reset(int, int)
{
    utimer_start = timer_clock();
    std::fputs("\n -- Timer reset\n\n", stderr);
    std::fflush(stderr);
}

// The lap is printed as it comes out, negative when the clock went back.
void utimer_lap(int, int)
{
    const float seconds = static_cast<float>(timer_clock() - utimer_start) / 1000.0f;
    std::fprintf(stderr, "\n -- Timer elapsed %.4fs\n\n", static_cast<double>(seconds));
    std::fflush(stderr);
}


} // namespace

namespace {

constexpr IntrinsicRow rows[] = {
    {in_ITIMER_RESET, utimer_reset},
    {in_ITIMER_LAP, utimer_lap},
};

} // namespace

std::span<const IntrinsicRow> timer_intrinsics() { return rows; }

void misc_get_time(std::int32_t *seconds, std::int32_t *microseconds)
{
    const timeval now = time_of_day("misc_get_time");
    *seconds = static_cast<std::int32_t>(now.tv_sec);
    *microseconds = static_cast<std::int32_t>(now.tv_usec);
}

void misc_get_date(int *year, int *month, int *day, int *hour, int *minute, int *second, int *microseconds)
{
    const timeval now = time_of_day("misc_get_date");
    const std::time_t t = now.tv_sec;
    struct tm utc;
    gmtime_r(&t, &utc);
    *year = utc.tm_year + 1900;
    *month = utc.tm_mon + 1;
    *day = utc.tm_mday;
    *hour = utc.tm_hour;
    *minute = utc.tm_min;
    *second = utc.tm_sec;
    *microseconds = static_cast<int>(now.tv_usec);
}

std::int64_t DpsStartTimer()
{
    timeval now{};
    gettimeofday(&now, nullptr);
    return static_cast<std::int64_t>(now.tv_sec) * 1000 + now.tv_usec / 1000;
}

MillisecondClock set_timer_clock(MillisecondClock clock)
{
    MillisecondClock previous = timer_clock;
    timer_clock = clock ? clock : DpsStartTimer;
    return previous;
}
