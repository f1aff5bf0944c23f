/* SPDX-License-Identifier: GPL-2.0 */
/*
 * kx_pps: module-wide state shared by the timing core (pulse capture and
 * discipline loop, DAC and holdover, attributes, PHY alignment, start-up)
 * and the GPS serial half (time extraction, serial link, NMEA device).
 *
 * Every global here is a naturally aligned word read and written whole;
 * unless noted, readers take no lock (see each group for its writer).
 */
#ifndef KX_PPS_H
#define KX_PPS_H

#include <linux/types.h>
#include <linux/atomic.h>
#include <linux/build_bug.h>
#include <linux/interrupt.h>
#include <linux/ioctl.h>
#include <linux/jiffies.h>
#include <linux/kfifo.h>
#include <linux/mutex.h>
#include <linux/rcupdate.h>
#include <linux/spinlock.h>
#include <linux/time64.h>
#include <linux/wait.h>
#include <linux/workqueue.h>

#include "kxpps_phy.h"

struct gpio_desc;
struct i2c_adapter;
struct i2c_client;
struct kobject;
struct pps_device;
struct task_struct;

/* ---- Discipline loop fixed point ---------------------------------------- */

/* loop values are s64 scaled by 2^26 */
#define KX_FP_SHIFT 26
#define KX_FP_ONE (1LL << KX_FP_SHIFT)
/* gains are kept in 1/100,000 and enter the loop as gain * 671 (2^26 / 10^5) */
#define KX_GAIN_SCALE 671
/*
 * Largest gain magnitude accepted from user space: keeps K1 = k1 * 671 a
 * 32-bit value and e_fp * K1 exact in 64 bits over the whole window
 * (99 * 2^26 * 2,068,960 * 671 < 2^63).
 */
#define KX_GAIN_MAX 2068960
/* oscillator cycles per pulse and the accepted deviation */
#define KX_N0 25000000U
#define KX_WINDOW 99U
/*
 * The DAC spans corrections of -2^31..2^31 (-32..32 in units of 2^26); the
 * integrator is kept within that range.
 */
#define KX_INTEG_LIMIT (1LL << 31)

/* ---- i.MX93 register blocks ------------------------------------------- */

#define TPM4_PHYS 0x424F0000
#define CCM_PHYS 0x44450000
#define IOMUXC_PHYS 0x443C0000
#define GPIO2_PHYS 0x43810000
#define KX_REG_BLOCK_SIZE 0x1000

#define TPM4_SC 0x10
#define TPM4_MOD 0x18
#define TPM4_STATUS 0x1C
#define TPM4_C0SC 0x20
#define TPM4_C2SC 0x30
#define TPM4_C2V 0x34
#define TPM4_CONF 0x84
#define TPM4_STATUS_CH2F 0x4	/* channel-2 capture, write 1 to clear */
#define TPM4_STATUS_TOF 0x100	/* counter overflow, write 1 to clear */

/* ---- GPS time of the next pulse (written by the serial half) ------------- */

struct gps_time {
	spinlock_t lock;	/* taken with interrupts saved */
	struct timespec64 ts;	/* UTC label of the next pulse */
	u8 pending;		/* a fresh second waits for the next pulse */
};
extern struct gps_time gGPSTime;

/* One GPS second handed to the PHY alignment threads (32 bytes). */
struct pps_uart_time {
	s64 gps_sec;
	u32 gps_nsec;
	s64 sys_sec;
	u32 sys_nsec;
	s32 fix;
};
static_assert(sizeof(struct pps_uart_time) == 32);

/* ---- GPS state words ----------------------------------------------------- */

extern s32 gGPSFix;		/* published fix quality 0/1/2 (time extraction) */
extern bool time_known;		/* holdover update (receive worker, monitor) */
extern s32 holdover_time_sec;	/* holdover update (receive worker, monitor) */
extern s32 gps_time_set;	/* pulse interrupt: a GPS time was applied */
extern s32 holdover_setting;	/* attribute: holdover limit in s, 0 = none */
extern s32 gGPSMode;		/* attribute: receiver satellite mode */
extern bool gSetGPSMode;	/* attribute sets, serial link clears */
extern s32 tai_offset_value;	/* attribute: TAI - UTC in s */
extern s32 gDelta_eth0;		/* attribute: ns added to port 1's deltas */
extern s32 gDelta_eth1;		/* attribute: ns added to port 0's deltas */

/* ---- Per-device record of the PPS timer device ----------------------- */

struct phy_info {
	struct phy_device *phydev;
	s32 port;
	struct kfifo ts_fifo;		/* PHY stamps of pulses, latest only */
	spinlock_t ts_lock;		/* guards ts_fifo, interrupts saved */
	wait_queue_head_t adj_wq;
	atomic_t adj_pending;
	struct task_struct *adj_task;
	s64 last_delta;			/* ns */
};

struct pps_priv {
	struct phy_info phy_i[2];
	struct gpio_desc *led_gpio;	/* optional PPS LED */
	struct pps_device *pps_src;	/* LinuxPPS source or NULL */
	/* the LED sits behind a bus (an I2C expander): driven from work only */
	bool led_cansleep;
};

/*
 * NULL until the timer device is probed. Published with rcu_assign_pointer()
 * once complete; every user outside probe and remove (pulse interrupt,
 * notifier, attributes, LED work) holds rcu_read_lock() while it uses the
 * record, and remove waits for a grace period before anything is freed.
 */
extern struct pps_priv __rcu *g_pps;

/* ---- Pulse capture and discipline loop (pps_timer.c) --------------------- */

extern s32 k1_hundred_thou_value;
extern s32 k2_hundred_thou_value;
extern bool filter_pause;
extern bool initial_calc;
extern s64 new_prv_integ_fp;
extern s64 prv_integ_fp;
extern s64 integ_fp;
extern s64 filtered_integ;
extern s32 integ_num;
extern s32 integ_dec;
extern s32 filt_kount;
extern u32 tpm4_counter_value_old;
extern u32 tpm4_counter_value_new;
/* module parameter last_count: N of the last capture, accepted or not */
extern u32 tpm4_last_count;
/*
 * CLOCK_REALTIME of the interrupt that handed over the last GPS time, and
 * that pulse's GPS label; both written and read under gGPSTime.lock
 */
extern struct timespec64 irq_ts;
extern struct timespec64 irq_gps_ts;
extern struct work_struct gps_ppsled_work;

irqreturn_t timer_irq(int irq, void *dev_id);
void gps_ppsled_workfn(struct work_struct *work);
/* PPS LED high now, low again 500 ms later (no-op without a probed device) */
void pps_led_flash(void);
/* integ_num and integ_dec from a loop value */
void pps_set_integ_parts(s64 integ);
/* an accepted pulse's loop output to the correction figures and the DAC */
void pps_loop_output(s64 integ);

/* ---- Phase-and-frequency loop (pps_loop.c) ------------------------------- */

#define PPS_LOOP_INTEGRATING 0	/* the integrating loop above, the default */
#define PPS_LOOP_PLL 1		/* phase and frequency */
extern int loop_mode;		/* module parameter, fixed at load */

struct pps_pll {
	s64 phase;	/* cycles, positive when the VCXO is ahead of GPS */
	s64 integ;	/* integrator, correction << 8 */
	s64 phase_f;	/* phase averaged over T, cycles << 8 */
	s64 phase_avg;	/* phase averaged over T/2, cycles << 8 */
	s64 code_avg;	/* DAC code averaged over T/2, from 0x7FFF, << 8 */
	u32 shift;	/* time constant 2^shift s */
	u32 good;	/* seconds in tolerance (measuring: seconds measured) */
	bool fresh;	/* measuring the frequency after a re-seed */
	bool hold;	/* holdover: frozen, the DAC on the averaged frequency */
};
extern struct pps_pll pps_pll;

void pps_pll_reset(void);
void pps_pll_capture(u32 n);
void pps_pll_fix(bool fix);

/* ---- GNSS integrity guard (pps_guard.c) ------------------------------- */

enum {
	PPS_GUARD_OFF,		/* gnss_guard=0: the receiver taken at its word */
	PPS_GUARD_QUALIFYING,
	PPS_GUARD_TRUSTED,
	PPS_GUARD_SUSPECT,
};

enum {
	PPS_GUARD_NONE,
	PPS_GUARD_TIME,
	PPS_GUARD_PHASE,
	PPS_GUARD_DRAG,
	PPS_GUARD_POSITION,
	PPS_GUARD_CALENDAR,
	PPS_GUARD_LEAP,
	PPS_GUARD_REASONS
};

/* module parameters, 0644 */
extern int gnss_guard;
extern unsigned int gnss_qualify, gnss_agree, gnss_radius, gnss_phase, gnss_drag;

/* what a ZDA says about leap seconds, beside its label */
struct pps_guard_zda {
	bool leap;		/* 23:59:60 on a month's last day */
	bool month_turn;	/* within the minute either side of a month's turn */
};

/* a snapshot for the attributes; positions in 1e-5 arc minutes */
struct pps_guard_status {
	const char *state;
	const char *reason;
	s64 since;
	u32 counts[PPS_GUARD_REASONS];
	bool home_valid;
	s64 home_lat, home_lon;
};

void pps_guard_init(void);
/* pulse interrupt: false withholds the pulse from everyone */
bool pps_guard_pulse(u32 count, u16 code);
/* a label handed to a pulse */
void pps_guard_labelled(s64 label);
/* receive worker: may the next pulse take the ZDA's label t? */
bool pps_guard_label(s64 t, bool follows, s32 fix, const struct pps_guard_zda *z);
/* a ZDA refused by the date rule (calendar) or a second 60 out of place (leap) */
void pps_guard_refused(int reason);
void pps_guard_position(s64 lat, s64 lon);
void pps_guard_second(s32 fix);
bool pps_guard_time_ok(void);
bool pps_guard_suspect(void);
s32 pps_guard_fix(s32 fix);
/* attributes */
void pps_guard_status(struct pps_guard_status *st);
const char *pps_guard_reason_name(int reason);
void pps_guard_accept(void);
void pps_guard_set_home(s64 lat, s64 lon);

/* ---- DAC, correction figures, holdover (pps_dac.c) ------------------------ */

#define DAC_I2C_ADAPTER 1
#define DAC_I2C_ADDR 0x4C
#define DAC_CTRL_WRITE_UPDATE 0x10
#define DAC_CODE_MID 0x8000

extern struct i2c_client *dac_client;
extern u16 dac_code_held;
extern struct work_struct dac_work;
/* NULL without a probed device; read under rcu_read_lock() (pps_dac_queue) */
extern struct workqueue_struct __rcu *dac_workq;
extern s64 integ_fp_old;

void dac_work_func(struct work_struct *work);
u16 pps_dac_code(s64 x);
int write_integ(s64 x);
int dac_write(u16 code);
/* queue a DAC write of filtered_integ, if the DAC work queue exists */
void pps_dac_queue(void);
/* the texts of the freqcorr and freqcorrdelta attributes, into the sysfs page */
ssize_t pps_freqcorr_text(char *buf);
ssize_t pps_freqcorrdelta_text(char *buf);
/* once per GPS second from the receive worker, with the fix just settled */
void pps_holdover_update(s32 fix);
/* from the NMEA timeout monitor: seconds gone by without a ZDA, so without a fix */
void pps_holdover_silent(s32 seconds);

/* ---- Attributes under /sys/pps_filter (pps_sysfs.c) -------------------- */

extern struct kobject *kobj_ref;	/* /sys/pps_filter, NULL when absent */

int pps_sysfs_create(void);
void pps_sysfs_create_guard(void);
void pps_sysfs_remove_filter(void);

/* ---- PHY alignment and system clock (pps_phy.c) --------------------- */

extern struct work_struct gps_time_work;
void gps_time_workfn(struct work_struct *work);
/* the notifier given to the PHY driver for both PHYs */
extern struct notifier_block kxpps_nb;
int kxpps_cb(struct notifier_block *nb, unsigned long action, void *data);
/* body of the port threads "pps0-adj" and "pps1-adj" */
int pps_adjust_thread(void *data);
/* manualtime: set the port's PHY clock from the system clock */
void pps_phy_manual_request(struct phy_info *pi);

/* ---- Start-up (pps_main.c) ------------------------------------------------ */

extern void __iomem *reg_base_lptpm4;
extern void __iomem *reg_base_ccm;
extern void __iomem *reg_base_iomuxc;
extern void __iomem *reg_base_gpio2;
extern s32 pps_irq;
extern struct i2c_adapter *adapter_1;

/* ---- GPS serial half ----------------------------------------------------- */

struct serdev_device;

#define PPS_UART_LINE_MAX 255		/* bytes kept of a receiver line */
#define PPS_UART_RX_FIFO_SIZE 8192
#define PPS_UART_CHAN_FIFO_SIZE 2048
#define PPS_NMEA_TIME_LEN 10		/* characters kept of a time field */

/* the two time channels, one per PHY alignment thread */
struct pps_uart_nmea {
	struct kfifo fifo[2];		/* at most one pps_uart_time each */
	spinlock_t lock[2];		/* interrupts disabled */
	wait_queue_head_t wq[2];
};

/* the bound receiver UART (serial link and time extraction) */
struct pps_uart_ctx {
	struct serdev_device *serdev;
	struct kfifo rx_fifo;		/* raw received bytes */
	spinlock_t rx_lock;		/* guards rx_fifo, interrupts saved */
	struct work_struct rx_work;	/* pps_rx_workfn on the system queue */
	char line[PPS_UART_LINE_MAX + 1];	/* line being assembled, no NUL */
	unsigned long line_len;
	struct mutex tx_lock;		/* one write to the receiver at a time */
	u32 baud;
	bool flow;
	u32 gga_fix;
	char gga_time[12];
	char zda_time[12];
	bool zda_leap;			/* the last ZDA taken was 23:59:60 */
	struct pps_uart_nmea nmea;
	/* teardown: the port is open for writes (under tx_lock) */
	bool port_open;
	/* teardown: remove waits for callers of the exported time calls */
	bool removing;			/* under pps_uart_ctx_lock */
	unsigned int users;		/* under pps_uart_ctx_lock */
};

/* the bound context or NULL; read and changed under pps_uart_ctx_lock */
extern struct pps_uart_ctx *g_ctx;
extern spinlock_t pps_uart_ctx_lock;
extern wait_queue_head_t pps_uart_users_wq;

/* time extraction (pps_gpstime.c) */
extern u32 gpsfix_kount;
extern u32 missed_inc_kount;
extern u32 missed_gga_kount;
extern s64 last_gps_time;

void pps_process_gpgga(struct pps_uart_ctx *ctx, const char *line, size_t len);
void pps_process_gpzda(struct pps_uart_ctx *ctx, const char *line, size_t len);
/* one receiver line: GGA, then ZDA with the second's evaluation */
void pps_nmea_dispatch(struct pps_uart_ctx *ctx, const char *line, size_t len);
/* gGPSTime seconds, read under its lock */
s64 pps_gps_time_sec(void);
int pps_uart_get_time_nowait(struct pps_uart_time *out, int idx);
int pps_uart_get_time(struct pps_uart_time *out, unsigned long timeout, int idx);

/* serial link (pps_uart.c) */
#define NMEA_TIMEOUT_SEC 5
#define NMEA_TIMEOUT_JIFFIES (NMEA_TIMEOUT_SEC * HZ)
extern struct delayed_work nmea_receive_work;
extern struct workqueue_struct *nmea_receive_workq;
void nmea_receive_func(struct work_struct *work);
/* re-arm the NMEA timeout monitor, when it exists */
void pps_uart_monitor_rearm(void);
void pps_rx_workfn(struct work_struct *work);
void pps_uart_write(const char *buf, size_t len);
void pps_uart_set_baud(u32 baud);
void gps_set_baud(u32 baud);
int pps_uart_init(void);
void pps_uart_exit(void);

/* NMEA line queue and /dev/kx_pps (pps_fifo.c) */
#define PPS_FIFO_SIZE 4096
#define PPS_CHARDEV_IOC_NOP _IO('k', 0)
int pps_fifo_init(void);
void pps_fifo_exit(void);
void pps_fifo_push_line(const char *data, size_t len);
unsigned int pps_fifo_drop_one_line_locked(void);
int chardev_init(void);
void chardev_exit(void);

#endif
