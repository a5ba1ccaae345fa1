#pragma once

#include <cstdint>
#include <ctime>
#include <optional>

// A time as a ZIP header holds it: local time, two-second steps, the
// years 1980 to 2107 only.
struct DosTime {
    uint16_t time = 0;
    uint16_t date = 0;

    static constexpr int kFirstYear = 1980;
    static constexpr int kLastYear = 2107;

    // The fields' values for a local date and time in the range.
    static DosTime of(int year, int month, int day, int hour, int minute, int second);
    // For a file's time the header cannot hold, the nearest it can
    // (1980-01-01 00:00:00 or 2107-12-31 23:59:58); nullopt for one it can.
    // The writer wraps such a year instead (2110 becomes 1982).
    static std::optional<DosTime> clampedIfOutside(std::time_t when);
    // when as the header holds it: in local time, the seconds rounded down
    // to an even number, clamped as above.
    static DosTime at(std::time_t when);

    bool operator==(const DosTime&) const = default;
};
