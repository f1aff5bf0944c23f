#include "char_lcd.h"

#include <cerrno>
#include <ctime>

void lcd_pause_us(unsigned int us)
{
	timespec ts{static_cast<time_t>(us / 1000000), static_cast<long>(us % 1000000) * 1000};
	while (nanosleep(&ts, &ts) < 0 && errno == EINTR) {
	}
}
