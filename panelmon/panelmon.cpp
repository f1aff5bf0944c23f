// panelmon: the front-panel daemon.
//
// Shows the time and the GPS or NTP state on the 20x2 LCD, drives the fix
// LEDs, steps through the screens and the hold-to-reset sequence on the
// button, configures the AD9544 clock synthesiser at start and publishes its
// status once a second, reads the antenna monitor and applies the antenna
// delay as the clock chip's skew.
//
// One thread paced by a POSIX timer that fires every 100 ms on whole tenths
// of the system clock (armed again on the next tenth when the clock is set
// back). The timer's signal handler only raises two flags and posts a
// semaphore; the loop does everything else:
//   x.1 s  refresh: kernel attributes, LEDs, antenna monitor, skew, page 0
//   x.5 s  clock-chip status files
//   every tick  button, pages 1 to 5 and the reset steps, changed LCD rows
//
//   panelmon [row 0 text [row 1 text]]   optional banner until page 0
#include "ad9544.h"
#include "antenna.h"
#include "char_lcd.h"
#include "gpio_lines.h"
#include "kx_path.h"
#include "kx_state.h"
#include "screens.h"
#include "value_file.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <semaphore.h>
#include <unistd.h>

namespace {

constexpr long NSEC_PER_TICK = 100 * 1000 * 1000;

// The display: bus 0, controller 0x3E, 20 columns, 2 rows. Constructed
// before main runs (nothing is sent) and closed at process exit.
CharLcd lcd(0, 0x3E, ROW_CHARS, 2);
const bool lcd_close_registered = std::atexit([] { lcd.close(); }) == 0;

sem_t tick_sem;
timer_t tick_timer;
volatile sig_atomic_t refresh_due = 0;
volatile sig_atomic_t chip_status_due = 0;

char line1[ROW_SIZE], line2[ROW_SIZE];
char shown1[ROW_SIZE], shown2[ROW_SIZE];

// Runs on every timer expiry. Only async-signal-safe calls: clock_gettime
// and sem_post.
void tick_handler(int, siginfo_t *, void *)
{
	int saved_errno = errno;
	timespec now;
	if (clock_gettime(CLOCK_REALTIME, &now) == 0) {
		if (now.tv_nsec >= 100000000 && now.tv_nsec <= 199999999)
			refresh_due = 1;
		else if (now.tv_nsec >= 500000000 && now.tv_nsec <= 599999999)
			chip_status_due = 1;
	}
	sem_post(&tick_sem);
	errno = saved_errno;
}

std::string rundata(const char *name)
{
	return kx_path((std::string("/var/volatile/rundata/") + name).c_str());
}

// Fix LEDs, fix text and holdover by the kernel's published fix quality.
void apply_gpsfix(int32_t gpsfix)
{
	switch (gpsfix) {
	case 1:
		set_led_3dfix(0);
		set_led_2dfix(1);
		std::strcpy(fix_text, "2D");
		holdover_value = 0;
		break;
	case 2:
		set_led_3dfix(1);
		set_led_2dfix(0);
		std::strcpy(fix_text, "3D");
		holdover_value = 0;
		break;
	case 0:
		set_led_3dfix(0);
		set_led_2dfix(0);
		std::strcpy(fix_text, "N/A");
		holdover_value = read_number_file(kx_path("/sys/pps_filter/holdover_time").c_str());
		// In holdover with the time still known the PPS LED keeps flashing
		// once a second.
		if (holdover_value > 0 && time_known_flag == 1)
			write_attribute(kx_path("/sys/pps_filter/ppsled").c_str(), "1");
		break;
	default:
		break;
	}
}

void publish_chip_status()
{
	ad9544_read_ref_status();
	ad9544_read_dpll_status();
	ad9544_read_temperature();
	ad9544_set_m_pins(m_pin_level(0), m_pin_level(1), m_pin_level(2));
	char text[16];
	std::snprintf(text, sizeof text, "0x%08X\n", ad9544_status_word());
	write_value_file(rundata("ad9544bits.dat").c_str(), text);
	std::snprintf(text, sizeof text, "%d\n", chip_temperature);
	write_value_file(rundata("ad9544temp.dat").c_str(), text);
}

// The guard's alarm for page 0.
void apply_gnss(const KxModuleState &state)
{
	gnss_suspect = state.gnss == KxGnss::suspect;
	bool named = gnss_suspect && state.gnss_reason != "none";
	std::snprintf(gnss_alarm, sizeof gnss_alarm, "%s", named ? state.gnss_reason.c_str() : "");
}

void refresh()
{
	// One reading of the module's state; an unreadable fix counts as none.
	KxModuleState state = kx_read_module_state();
	time_known_flag = state.time_known == 1 ? 1 : 0;
	apply_gpsfix(state.fix < 0 ? 0 : state.fix);
	apply_gnss(state);
	antenna_refresh();
	antenna_skew_check();
}

void send_row(uint8_t row, const char *text, char *shown)
{
	if (std::strcmp(text, shown) == 0)
		return;
	lcd.set_cursor(0, row);
	lcd.print(text, static_cast<uint8_t>(std::strlen(text)));
	std::strcpy(shown, text);
}

// Arms the tick timer: first expiry at sec.nsec of the system clock, then
// every 100 ms, so the ticks fall on whole tenths.
int arm_tick(time_t sec, long nsec)
{
	itimerspec its;
	std::memset(&its, 0, sizeof its);
	its.it_value.tv_sec = sec;
	its.it_value.tv_nsec = nsec;
	its.it_interval.tv_sec = 0;
	its.it_interval.tv_nsec = NSEC_PER_TICK;
	return timer_settime(tick_timer, TIMER_ABSTIME, &its, nullptr);
}

// The expiries are absolute times of the system clock. Stepped forward (GPS
// time set, chrony, manual time mode), the clock only brings the next tick
// at once and the rhythm goes on. Stepped back by N seconds, it leaves the
// next expiry N seconds away and the panel would freeze that long. So when
// no tick has come for two intervals, the timer is asked how far its next
// expiry is; further than one interval means the clock went back, and the
// timer is armed again on the next whole tenth.
void rearm_if_stranded()
{
	itimerspec left;
	if (timer_gettime(tick_timer, &left) != 0)
		return;
	long long left_ns = static_cast<long long>(left.it_value.tv_sec) * 1000000000LL +
	                    left.it_value.tv_nsec;
	if (left_ns > 0 && left_ns <= NSEC_PER_TICK)
		return;
	timespec now;
	if (clock_gettime(CLOCK_REALTIME, &now) != 0)
		return;
	long tenth = now.tv_nsec / NSEC_PER_TICK + 1;
	time_t sec = now.tv_sec;
	if (tenth == 10) {
		sec++;
		tenth = 0;
	}
	arm_tick(sec, tenth * NSEC_PER_TICK);
}

// A deadline two tick intervals from now on the monotonic clock, which no
// setting of the system clock moves.
timespec watchdog_deadline()
{
	timespec t;
	clock_gettime(CLOCK_MONOTONIC, &t);
	t.tv_nsec += 2 * NSEC_PER_TICK;
	if (t.tv_nsec >= 1000000000L) {
		t.tv_sec++;
		t.tv_nsec -= 1000000000L;
	}
	return t;
}

// Takes one posted tick. A wait the tick signal interrupts is resumed; a
// wait that sees no tick for two intervals checks the timer.
void wait_tick()
{
	timespec deadline = watchdog_deadline();
	for (;;) {
		if (sem_clockwait(&tick_sem, CLOCK_MONOTONIC, &deadline) == 0)
			return;
		if (errno == ETIMEDOUT) {
			rearm_if_stranded();
			deadline = watchdog_deadline();
		}
	}
}

void loop_pass()
{
	if (poll_button_edge() == static_cast<int>(BUTTON_LINE))
		advance_page();

	if (chip_status_due) {
		chip_status_due = 0;
		publish_chip_status();
	}

	bool refreshing = refresh_due;
	if (refreshing)
		refresh();

	// Page 0 changes once a second; pages 1 to 5 follow their files at
	// every tick.
	if (page == 0) {
		if (refreshing)
			render_page0(line1, line2);
	} else if (page <= 5) {
		render_info_page(page, line1, line2);
	} else {
		render_reset_step(line1, line2);
	}
	refresh_due = 0;

	send_row(0, line1, shown1);
	send_row(1, line2, shown2);

	if (page <= 98)
		detect_hold();

	wait_tick();
}

void show_banner(uint8_t row, const char *text, char *line)
{
	format_row(line, "%-20s", text);
	lcd.set_cursor(0, row);
	lcd.print(line, static_cast<uint8_t>(std::strlen(line)));
}

}  // namespace

int main(int argc, char **argv)
{
	kx_unbuffered_output();
	(void)lcd_close_registered;

	if (sem_init(&tick_sem, 0, 1) != 0) {
		std::printf("sem_init failed");
		return 1;
	}

	struct sigaction sa;
	std::memset(&sa, 0, sizeof sa);
	sa.sa_flags = SA_SIGINFO;
	sa.sa_sigaction = tick_handler;
	sigemptyset(&sa.sa_mask);
	if (sigaction(SIGRTMIN, &sa, nullptr) == -1) {
		std::printf("sigaction");
		return 1;
	}

	sigevent sev;
	std::memset(&sev, 0, sizeof sev);
	sev.sigev_notify = SIGEV_SIGNAL;
	sev.sigev_signo = SIGRTMIN;
	sev.sigev_value.sival_ptr = &tick_timer;
	if (timer_create(CLOCK_REALTIME, &sev, &tick_timer) == -1) {
		std::printf("timer_create");
		return 1;
	}

	timespec now;
	if (clock_gettime(CLOCK_REALTIME, &now) == -1) {
		std::printf("clock_gettime");
		return 1;
	}

	// First expiry on the next whole second, then every 100 ms: the ticks
	// fall on whole tenths of the system clock.
	if (arm_tick(now.tv_sec + 1, 0) == -1) {
		std::perror("timer_settime");
		return 1;
	}

	gpio_setup();
	ad9544_setup();
	lcd.begin();
	antenna_monitor_init();

	// The banner stays until page 0 is first rendered; shown1 and shown2
	// stay empty, so the first pass sends it again.
	if (argc > 1)
		show_banner(0, argv[1], line1);
	if (argc > 2)
		show_banner(1, argv[2], line2);

	while (button_level() == 0) {
		timespec pause = {0, 10 * 1000 * 1000};
		nanosleep(&pause, nullptr);
	}

	for (;;)
		loop_pass();
}
