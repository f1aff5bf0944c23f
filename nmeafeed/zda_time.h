// Which ZDA times the appliance takes: one rule for the kx-pps module and
// nmeafeed, so that the NTP daemon never gets a time the module refused.
#pragma once

#include <cstdint>

#include "nmeafeed.h"

// The calendar floor: 2026-01-01 00:00:00 UTC, before the first release of
// this software. A date before it comes from a receiver without time (a
// cold start counting from 1980, a week number rolled over 1024 weeks
// back) and is never taken, at start-up too. The module has the same floor
// and the same rollover rule (kernel/pps_gpstime.c: GPS_CALENDAR_FLOOR,
// GPS_WEEK_ROLLOVER_YEAR): change the two together.
constexpr int64_t kCalendarFloor = 1767225600;
// Receivers with an old firmware report 2025 dates 1024 weeks late after
// their week counter wraps: a date in that year, the one below the floor,
// is moved forward by 1024 weeks; earlier years are refused.
constexpr int32_t kWeekRolloverYear = 2025;
constexpr int64_t kWeekRolloverSeconds = 1024 * 7 * 86400;

// The UTC seconds since 1970 of a stamp (read_zda_stamp) as the module
// takes its ZDA, into *seconds: hours 0-23, minutes 0-59, seconds 0-59 or
// 60 at 23:59 on the last day of a month, day 1-31, month 1-12, the date
// at or after the floor once a 2025 date has been moved forward. A leap
// second (sent_second 60) gives the seconds of the next day's 00:00:00,
// which the next ZDA names too. False for any other time.
bool zda_time_taken(const zda_stamp &stamp, int64_t *seconds);
