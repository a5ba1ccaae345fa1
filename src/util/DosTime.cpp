#include "DosTime.h"

DosTime DosTime::of(int year, int month, int day, int hour, int minute, int second)
{
    DosTime dos;
    dos.date = static_cast<uint16_t>((year - kFirstYear) << 9 | month << 5 | day);
    dos.time = static_cast<uint16_t>(hour << 11 | minute << 5 | second / 2);
    return dos;
}

std::optional<DosTime> DosTime::clampedIfOutside(std::time_t when)
{
    // Local time, as the writer converts: the year decides.
    struct tm local {};
    const bool known = ::localtime_r(&when, &local) != nullptr;
    const long year = known ? local.tm_year + 1900L : (when < 0 ? kFirstYear - 1 : kLastYear + 1);
    if (year < kFirstYear)
        return of(kFirstYear, 1, 1, 0, 0, 0);
    if (year > kLastYear)
        return of(kLastYear, 12, 31, 23, 59, 58);
    return std::nullopt;
}

DosTime DosTime::at(std::time_t when)
{
    if (std::optional<DosTime> clamped = clampedIfOutside(when))
        return *clamped;
    struct tm local {};
    ::localtime_r(&when, &local);
    return of(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
}
