#include "zda_time.h"

#include "ntp_shm.h"

namespace {

bool last_day_of_month(int32_t year, int32_t month, int32_t day)
{
	static const int32_t kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
	bool leap_year = year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
	return day == kDays[month - 1] + (month == 2 && leap_year ? 1 : 0);
}

} // namespace

bool zda_time_taken(const zda_stamp &s, int64_t *seconds)
{
	if (s.valid == 0 || s.hour > 23 || s.minute > 59 || s.sent_second > 60 || s.day < 1 ||
	    s.day > 31 || s.month < 1 || s.month > 12 || s.year < kWeekRolloverYear)
		return false;
	if (s.sent_second == 60 && !(s.hour == 23 && s.minute == 59 &&
	                             last_day_of_month(s.year, s.month, s.day)))
		return false;
	// The floor is judged on the second as sent (23:59:59 for a leap
	// second), as the module judges it, not on the rounded one.
	zda_stamp sent = s;
	sent.second = s.sent_second == 60 ? 59 : s.sent_second;
	int64_t t = zda_stamp_seconds(s);
	if (zda_stamp_seconds(sent) < kCalendarFloor)
		t += kWeekRolloverSeconds;
	*seconds = t;
	return true;
}
