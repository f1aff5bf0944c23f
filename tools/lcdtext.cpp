// lcdtext: writes one or two lines of text to the front-panel LCD.
//
//   lcdtext "row 0 text" ["row 1 text"]
//
// Each text is padded with spaces or cut to the display's 20 columns (bytes,
// not characters). The display is always initialised first, which clears
// it, so a row that is not given is left blank.
#include "char_lcd.h"
#include "kx_path.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

CharLcd lcd(0, 0x3e, 20, 2);

void close_lcd()
{
	lcd.close();
}

const int close_registered = std::atexit(close_lcd);

void write_row(uint8_t row, const char *text)
{
	char buf[21];
	lcd.set_cursor(0, row);
	std::snprintf(buf, sizeof buf, "%-20s", text);
	lcd.print(buf, static_cast<uint8_t>(std::strlen(buf)));
}

}  // namespace

int main(int argc, char **argv)
{
	kx_unbuffered_output();
	(void)close_registered;
	lcd.begin();  // reports its own failure; the transfers then go nowhere
	if (argc < 2) {
		std::printf("Missing arguments, exiting\n");
		return -1;
	}
	write_row(0, argv[1]);
	if (argc > 2)
		write_row(1, argv[2]);
	return 0;
}
