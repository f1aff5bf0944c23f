// SPDX-License-Identifier: GPL-2.0
/*
 * kx_pps: the serial GPS link, a serdev client of the receiver's UART.
 *
 * Received bytes go through rx_fifo to the receive worker, which cuts them
 * into lines, queues each line for user space (/dev/kx_pps) and hands it to
 * the GGA/ZDA time extraction. The receiver is told to run at 115200 baud
 * at probe and, from 9600 again, whenever ZDA sentences stop for 5 seconds
 * (it falls back to its default speed after a power cycle). Satellite-mode
 * requests from the gpsmode attribute go out with the next received bytes.
 */
#include <linux/kernel.h>
#include <linux/device.h>
#include <linux/errno.h>
#include <linux/jiffies.h>
#include <linux/kfifo.h>
#include <linux/mod_devicetable.h>
#include <linux/module.h>
#include <linux/mutex.h>
#include <linux/property.h>
#include <linux/serdev.h>
#include <linux/spinlock.h>
#include <linux/version.h>
#include <linux/wait.h>
#include <linux/workqueue.h>

#include "kx_pps.h"

s32 gGPSMode;
bool gSetGPSMode;

struct pps_uart_ctx *g_ctx;
DEFINE_SPINLOCK(pps_uart_ctx_lock);
DECLARE_WAIT_QUEUE_HEAD(pps_uart_users_wq);

struct delayed_work nmea_receive_work;
struct workqueue_struct *nmea_receive_workq;

/* the UART's speed before the receiver has been switched */
#define PPS_UART_DEFAULT_BAUD 9600
#define PPS_UART_FAST_BAUD 115200
/*
 * How long a write may wait for room in the UART, and a speed change for
 * the queued bytes to leave (two speed commands take 42 ms at 9600 baud),
 * in jiffies of whatever tick the kernel runs at.
 */
#define PPS_UART_TX_TIMEOUT msecs_to_jiffies(200)
/* bytes taken from rx_fifo per lock hold */
#define PPS_UART_RX_CHUNK 256

static const char gps_pmtk_baud_115200[] = "$PMTK251,115200*1F\r\n";
static const char gps_pmtk_baud_9600[] = "$PMTK251,9600*17\r\n";
static const char gps_pmtk_1pps_precision[] = "$PMTK256,1*2E\r\n";
/* PMTK353 flags in order: GPS, GLONASS, Galileo, Galileo full mode, BeiDou */
static const char gps_pmtk_sats_op0[] = "$PMTK353,1,0,0,0,0*2A\r\n";
static const char gps_pmtk_sats_op1[] = "$PMTK353,0,1,0,0,0*2A\r\n";
static const char gps_pmtk_sats_op2[] = "$PMTK353,1,1,0,0,0*2B\r\n";
static const char gps_pmtk_sats_op3[] = "$PMTK353,1,1,1,0,0*2A\r\n";
static const char gps_pmtk_sats_op4[] = "$PMTK353,0,0,0,0,1*2A\r\n";
static const char gps_pmtk_sats_op5[] = "$PMTK353,1,0,0,0,1*2B\r\n";
static const char gps_pmtk_sats_op6[] = "$PMTK353,1,0,1,0,0*2B\r\n";

static const char *const gps_pmtk_sats_op[] = {
	gps_pmtk_sats_op0, gps_pmtk_sats_op1, gps_pmtk_sats_op2,
	gps_pmtk_sats_op3, gps_pmtk_sats_op4, gps_pmtk_sats_op5,
	gps_pmtk_sats_op6,
};

static struct pps_uart_ctx *pps_uart_ctx_peek(void)
{
	struct pps_uart_ctx *ctx;
	unsigned long flags;

	spin_lock_irqsave(&pps_uart_ctx_lock, flags);
	ctx = g_ctx;
	spin_unlock_irqrestore(&pps_uart_ctx_lock, flags);
	return ctx;
}

/*
 * The writers (probe, receive worker, timeout monitor) are all stopped by
 * remove before the context goes, so the context found here stays valid
 * for the call; port_open under tx_lock keeps writes off a closed port.
 */
void pps_uart_write(const char *buf, size_t len)
{
	struct pps_uart_ctx *ctx = pps_uart_ctx_peek();

	if (!ctx)
		return;
	mutex_lock(&ctx->tx_lock);
	if (ctx->port_open)
		serdev_device_write(ctx->serdev, (const u8 *)buf, len, PPS_UART_TX_TIMEOUT);
	mutex_unlock(&ctx->tx_lock);
}

/* a receiver command, twice in a row to make up for a lost one */
static void pps_uart_send_twice(const char *cmd)
{
	pps_uart_write(cmd, strlen(cmd));
	pps_uart_write(cmd, strlen(cmd));
}

void pps_uart_set_baud(u32 baud)
{
	struct pps_uart_ctx *ctx = pps_uart_ctx_peek();
	unsigned int actual;

	if (!ctx)
		return;
	mutex_lock(&ctx->tx_lock);
	if (ctx->port_open) {
		/*
		 * A write only queues the bytes: a command still in the UART
		 * must leave at the speed it was written for, or its tail
		 * reaches the receiver at the new speed as line noise.
		 */
		serdev_device_wait_until_sent(ctx->serdev, PPS_UART_TX_TIMEOUT);
		ctx->baud = baud;
		actual = serdev_device_set_baudrate(ctx->serdev, baud);
		if (actual != baud)
			pr_warn("pps-uart: set_baudrate(%u) Code: %d\n", baud, (int)actual);
	}
	mutex_unlock(&ctx->tx_lock);
}

/* tells the receiver its speed; the UART's own speed stays */
void gps_set_baud(u32 baud)
{
	switch (baud) {
	case 9600:
		pps_uart_send_twice(gps_pmtk_baud_9600);
		break;
	case 115200:
		pps_uart_send_twice(gps_pmtk_baud_115200);
		break;
	default:
		pr_warn("pps-uart: Invalid Baud Rate Selection, defaulting to 115200\r\n");
		pps_uart_send_twice(gps_pmtk_baud_115200);
		break;
	}
}

void pps_uart_monitor_rearm(void)
{
	struct workqueue_struct *wq = READ_ONCE(nmea_receive_workq);

	if (wq)
		mod_delayed_work(wq, &nmea_receive_work, NMEA_TIMEOUT_JIFFIES);
}

/*
 * No ZDA for 5 seconds: drop the fix, count the 5 seconds as held over
 * without it, and repeat the speed switch.
 */
void nmea_receive_func(struct work_struct *work)
{
	unsigned long flags;

	WRITE_ONCE(gGPSFix, 0);
	gpsfix_kount = 0;
	last_gps_time = pps_gps_time_sec();
	missed_inc_kount = 0;
	missed_gga_kount = 0;
	/*
	 * A silent receiver runs no second through the holdover update: its
	 * seconds are counted here, or the holdover limit would never expire.
	 */
	pps_holdover_silent(NMEA_TIMEOUT_SEC);
	/*
	 * A label still pending names the pulse after the last ZDA, 5 s ago:
	 * when the pulses stopped with the sentences (the receiver reset or
	 * without power), the first pulse after them would hand that label,
	 * seconds late, to the system-clock setter.
	 */
	spin_lock_irqsave(&gGPSTime.lock, flags);
	gGPSTime.pending = 0;
	spin_unlock_irqrestore(&gGPSTime.lock, flags);
	pr_alert("No NMEA strings received in past 5 seconds, resetting.");

	pps_uart_set_baud(PPS_UART_DEFAULT_BAUD);
	pps_uart_send_twice(gps_pmtk_baud_115200);
	pps_uart_set_baud(PPS_UART_FAST_BAUD);

	queue_delayed_work(nmea_receive_workq, &nmea_receive_work, NMEA_TIMEOUT_JIFFIES);
}

void pps_rx_workfn(struct work_struct *work)
{
	struct pps_uart_ctx *ctx = container_of(work, struct pps_uart_ctx, rx_work);
	u8 buf[PPS_UART_RX_CHUNK];
	unsigned long flags;
	unsigned int n, i;
	s32 mode;

	for (;;) {
		spin_lock_irqsave(&ctx->rx_lock, flags);
		n = kfifo_out(&ctx->rx_fifo, buf, sizeof(buf));
		spin_unlock_irqrestore(&ctx->rx_lock, flags);
		if (!n)
			break;
		for (i = 0; i < n; i++) {
			u8 c = buf[i];

			if (c == '\r' || c == '\n') {
				/* CR LF, LF CR and blank lines make no empty line */
				if (!ctx->line_len)
					continue;
				pps_fifo_push_line(ctx->line, ctx->line_len);
				pps_nmea_dispatch(ctx, ctx->line, ctx->line_len);
				ctx->line_len = 0;
			} else if (ctx->line_len < PPS_UART_LINE_MAX) {
				ctx->line[ctx->line_len++] = c;
			}
			/* else: a longer line keeps its first bytes */
		}
	}

	if (READ_ONCE(gSetGPSMode)) {
		WRITE_ONCE(gSetGPSMode, false);
		mode = READ_ONCE(gGPSMode);
		if (mode >= 0 && mode < (s32)ARRAY_SIZE(gps_pmtk_sats_op)) {
			pps_uart_send_twice(gps_pmtk_sats_op[mode]);
			pps_uart_send_twice(gps_pmtk_1pps_precision);
		}
	}
}

#if LINUX_VERSION_CODE >= KERNEL_VERSION(6, 8, 0)
static size_t pps_uart_receive(struct serdev_device *serdev, const u8 *data, size_t count)
#else
static int pps_uart_receive(struct serdev_device *serdev, const unsigned char *data,
			    size_t count)
#endif
{
	struct pps_uart_ctx *ctx = serdev_device_get_drvdata(serdev);
	unsigned long flags;
	unsigned int n;

	if (!ctx)
		return 0;
	spin_lock_irqsave(&ctx->rx_lock, flags);
	n = kfifo_in(&ctx->rx_fifo, data, min_t(size_t, count, PPS_UART_RX_FIFO_SIZE));
	spin_unlock_irqrestore(&ctx->rx_lock, flags);
	if (n)
		schedule_work(&ctx->rx_work);
	return n;
}

static const struct serdev_device_ops pps_uart_ops = {
	.receive_buf = pps_uart_receive,
	.write_wakeup = serdev_device_write_wakeup,
};

static bool pps_uart_ctx_idle(struct pps_uart_ctx *ctx)
{
	unsigned long flags;
	bool idle;

	spin_lock_irqsave(&pps_uart_ctx_lock, flags);
	idle = ctx->users == 0;
	spin_unlock_irqrestore(&pps_uart_ctx_lock, flags);
	return idle;
}

static int pps_uart_probe(struct serdev_device *serdev)
{
	struct device *dev = &serdev->dev;
	struct pps_uart_ctx *ctx;
	bool own_workq = false;
	unsigned int actual;
	unsigned long flags;
	u32 speed = 0;
	bool flow;
	int ret, i;

	if (device_property_read_u32(dev, "current-speed", &speed))
		speed = 0;
	flow = device_property_present(dev, "hw-flow-control");

	ctx = devm_kzalloc(dev, sizeof(*ctx), GFP_KERNEL);
	if (!ctx)
		return -ENOMEM;
	ctx->serdev = serdev;
	ctx->line_len = 0;
	ctx->baud = speed ? speed : PPS_UART_DEFAULT_BAUD;
	ctx->flow = flow;

	for (i = 0; i < 2; i++) {
		spin_lock_init(&ctx->nmea.lock[i]);
		init_waitqueue_head(&ctx->nmea.wq[i]);
		if (kfifo_alloc(&ctx->nmea.fifo[i], PPS_UART_CHAN_FIFO_SIZE, GFP_KERNEL)) {
			ret = -ENOMEM;
			goto err_chan;
		}
	}
	mutex_init(&ctx->tx_lock);
	spin_lock_init(&ctx->rx_lock);
	INIT_WORK(&ctx->rx_work, pps_rx_workfn);
	INIT_DELAYED_WORK(&nmea_receive_work, nmea_receive_func);

	if (!nmea_receive_workq) {
		nmea_receive_workq = create_singlethread_workqueue("nmea_timeout_mon");
		if (nmea_receive_workq)
			own_workq = true;
		else
			pr_alert("nmea_receive_workq: workqueue creation failed \n");
	}

	if (kfifo_alloc(&ctx->rx_fifo, PPS_UART_RX_FIFO_SIZE, GFP_KERNEL)) {
		dev_err(dev, "kfifo alloc failed\n");
		ret = -ENOMEM;
		goto err_workq;
	}

	serdev_device_set_client_ops(serdev, &pps_uart_ops);
	ret = serdev_device_open(serdev);
	if (ret) {
		pr_err("pps-uart: serdev open code: %d\n", ret);
		goto err_rx;
	}
	ctx->port_open = true;
	serdev_device_set_flow_control(serdev, ctx->flow);
	actual = serdev_device_set_baudrate(serdev, ctx->baud);
	if (actual != ctx->baud)
		pr_warn("pps-uart: set_baudrate(%u) code: %d\n", ctx->baud, (int)actual);

	serdev_device_set_drvdata(serdev, ctx);
	spin_lock_irqsave(&pps_uart_ctx_lock, flags);
	g_ctx = ctx;
	spin_unlock_irqrestore(&pps_uart_ctx_lock, flags);
	pr_info("pps-uart: running @ %u baud (flow=%d)\n", ctx->baud, ctx->flow);

	/* the receiver starts at the UART's speed; switch both to 115200 */
	pps_uart_send_twice(gps_pmtk_baud_115200);
	pps_uart_set_baud(PPS_UART_FAST_BAUD);
	/*
	 * The switch is lost if the receiver is still booting or held in
	 * reset: without a ZDA nothing else would ever send it again, so the
	 * monitor runs from here, not from the first ZDA.
	 */
	pps_uart_monitor_rearm();
	return 0;

err_rx:
	kfifo_free(&ctx->rx_fifo);
err_workq:
	if (own_workq) {
		destroy_workqueue(nmea_receive_workq);
		nmea_receive_workq = NULL;
	}
	mutex_destroy(&ctx->tx_lock);
err_chan:
	while (i-- > 0)
		kfifo_free(&ctx->nmea.fifo[i]);
	return ret;
}

static void pps_uart_remove(struct serdev_device *serdev)
{
	struct pps_uart_ctx *ctx = serdev_device_get_drvdata(serdev);
	unsigned long flags;
	int i;

	/*
	 * No new caller finds the context; sleeping callers of
	 * pps_uart_get_time are woken and leave before the channels go.
	 */
	spin_lock_irqsave(&pps_uart_ctx_lock, flags);
	if (g_ctx == ctx)
		g_ctx = NULL;
	ctx->removing = true;
	spin_unlock_irqrestore(&pps_uart_ctx_lock, flags);
	for (i = 0; i < 2; i++)
		wake_up_all(&ctx->nmea.wq[i]);
	wait_event(pps_uart_users_wq, pps_uart_ctx_idle(ctx));

	mutex_lock(&ctx->tx_lock);
	ctx->port_open = false;
	mutex_unlock(&ctx->tx_lock);
	serdev_device_close(serdev);
	cancel_work_sync(&ctx->rx_work);

	/* the monitor requeues itself: stop it for good before its queue goes */
	if (nmea_receive_workq) {
		cancel_delayed_work_sync(&nmea_receive_work);
		destroy_workqueue(nmea_receive_workq);
		WRITE_ONCE(nmea_receive_workq, NULL);
	}

	kfifo_free(&ctx->rx_fifo);
	kfifo_free(&ctx->nmea.fifo[0]);
	kfifo_free(&ctx->nmea.fifo[1]);
	mutex_destroy(&ctx->tx_lock);
}

static const struct of_device_id pps_uart_of_match[] = {
	{ .compatible = "quellon,pps-uart" },
	{ }
};

static struct serdev_device_driver pps_uart_driver = {
	.probe = pps_uart_probe,
	.remove = pps_uart_remove,
	.driver = {
		.name = "pps-uart-serdev",
		.of_match_table = pps_uart_of_match,
	},
};

int pps_uart_init(void)
{
	int ret = serdev_device_driver_register(&pps_uart_driver);

	if (ret) {
		pr_err("pps-uart: driver register code: %d\n", ret);
		return ret;
	}
	pr_info("pps-uart: Initialized successfully\n");
	return 0;
}

void pps_uart_exit(void)
{
	serdev_device_driver_unregister(&pps_uart_driver);
	pr_info("pps-uart: UART driver unloaded\n");
}
