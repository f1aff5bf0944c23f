// SPDX-License-Identifier: GPL-2.0
/*
 * kx_pps: module start-up and tear-down, and the platform driver "pps" of
 * the PPS timer device ("gtop,ppstimer").
 *
 * Load programs the i.MX93 timer TPM4 to count the board's 25 MHz VCXO
 * (fed in on the CCM's EXT1_CLK input) and capture it on channel 2 at each
 * GPS pulse, claims the pulse interrupt, makes the DAC's I2C client and the
 * /sys/pps_filter attributes, then starts the GPS serial half. The probe of
 * the timer device links the module to both Ethernet PHYs, starts their
 * alignment threads and registers the LinuxPPS source.
 */
#include <linux/err.h>
#include <linux/gpio/consumer.h>
#include <linux/i2c.h>
#include <linux/interrupt.h>
#include <linux/io.h>
#include <linux/kernel.h>
#include <linux/kfifo.h>
#include <linux/kthread.h>
#include <linux/mod_devicetable.h>
#include <linux/module.h>
#include <linux/of.h>
#include <linux/of_irq.h>
#include <linux/of_mdio.h>
#include <linux/of_platform.h>
#include <linux/phy.h>
#include <linux/platform_device.h>
#include <linux/pps_kernel.h>
#include <linux/rcupdate.h>
#include <linux/slab.h>
#include <linux/string.h>
#include <linux/version.h>
#include <linux/workqueue.h>

#include "kx_pps.h"

/* CCM: clock root control of TPM4 */
#define CCM_TPM4_CLK_ROOT 0x980
/* source 3 = EXT1_CLK (the VCXO), divide by 1 */
#define CCM_TPM4_CLK_EXT1 0x300
/* IOMUXC and GPIO2 registers logged at load (pin routing is the DT's) */
#define IOMUXC_PAD_GPIO_IO10 0x1E8
#define IOMUXC_MUX_PDM_BIT_STREAM1 0x198
#define IOMUXC_EXT1_CLK_SELECT 0x368
#define IOMUXC_PAD_GPIO_IO01 0x1C4
#define IOMUXC_MUX_GPIO_IO01 0x14
#define GPIO2_PDDR 0x54

/* TPM4 SC: overflow interrupt enable, clock mode "count every clock" */
#define TPM_SC_TOIE 0x40
#define TPM_SC_CMOD_COUNT 0x08
/* TPM4 CnSC: interrupt enable, edge select A; MSB:MSA:ELSB:ELSA */
#define TPM_CNSC_CHIE 0x40
#define TPM_CNSC_ELSA 0x04
#define TPM_CNSC_MODE_MASK 0x3C
/*
 * Writes to TPM4 registers take effect only once the counter clock has
 * seen them; a block that never answers must not hang the load.
 */
#define TPM4_SYNC_TRIES 1000

#define PPS_LED_NAME "pps-led"
#define PHY_TS_FIFO_SIZE 1024

struct pps_priv __rcu *g_pps;
void __iomem *reg_base_lptpm4;
void __iomem *reg_base_ccm;
void __iomem *reg_base_iomuxc;
void __iomem *reg_base_gpio2;
s32 pps_irq = -1;
struct i2c_adapter *adapter_1;
static struct device_node *tpm_np;
/* the interrupt mapped from "pwm4" (0: none), disposed of at unload */
static unsigned int pps_virq;

/* ---- the timer device -------------------------------------------------- */

/*
 * The platform device of the node named by the phandle in np's property,
 * with a device reference the caller drops, or NULL.
 */
static struct platform_device *pdev_from_phandle(struct device_node *np,
						 const char *prop)
{
	struct device_node *node = of_parse_phandle(np, prop, 0);
	struct platform_device *pdev;

	if (!node)
		return NULL;
	pdev = of_find_device_by_node(node);
	of_node_put(node);
	return pdev;
}

/* the PHY behind the MAC named by prop, with a reference, or NULL */
static struct phy_device *pps_find_phy(struct device_node *np, const char *prop)
{
	struct platform_device *mac = pdev_from_phandle(np, prop);
	struct device_node *phy_np;
	struct phy_device *phydev;

	if (!mac)
		return NULL;
	phy_np = of_parse_phandle(mac->dev.of_node, "phy-handle", 0);
	put_device(&mac->dev);
	if (!phy_np)
		return NULL;
	phydev = of_phy_find_device(phy_np);
	of_node_put(phy_np);
	return phydev;
}

/*
 * What a probe set up, undone; also the last part of remove. The DAC queue
 * is unpublished first; the pulse interrupt or a prv_integ_fp store that
 * found it may still be about to queue onto it, so a grace period passes
 * before the last work is cancelled and the queue destroyed.
 */
static void pps_release(struct pps_priv *pps, struct phy_device **phy)
{
	struct workqueue_struct *wq = rcu_dereference_protected(dac_workq, 1);
	int i;

	if (wq) {
		RCU_INIT_POINTER(dac_workq, NULL);
		synchronize_rcu();
		cancel_work_sync(&dac_work);
		destroy_workqueue(wq);
	}
	for (i = 0; i < 2; i++) {
		if (kfifo_initialized(&pps->phy_i[i].ts_fifo))
			kfifo_free(&pps->phy_i[i].ts_fifo);
		if (phy[i])
			put_device(&phy[i]->mdio.dev);
	}
	if (!IS_ERR_OR_NULL(pps->led_gpio)) {
		gpiod_set_value_cansleep(pps->led_gpio, 0);
		gpiod_put(pps->led_gpio);
		pps->led_gpio = NULL;
	}
}

static int pps_probe(struct platform_device *pdev)
{
	struct device *dev = &pdev->dev;
	struct device_node *np = dev->of_node;
	struct pps_source_info info = {
		.name = "kx-pps",
		.mode = PPS_CAPTUREASSERT | PPS_OFFSETASSERT | PPS_TSFMT_TSPEC,
		.owner = THIS_MODULE,
		.dev = dev,
	};
	struct phy_device *phy[2] = { NULL, NULL };
	struct workqueue_struct *wq;
	struct pps_device *src;
	struct pps_priv *pps;
	unsigned long flags;
	int i, ret;

	pr_info("pps:  Starting pps_probe\n");
	pps = devm_kzalloc(dev, sizeof(*pps), GFP_KERNEL);
	if (!pps)
		return -ENOMEM;
	platform_set_drvdata(pdev, pps);

	pps->led_gpio = gpiod_get_optional(dev, PPS_LED_NAME, GPIOD_OUT_LOW);
	if (IS_ERR(pps->led_gpio)) {
		ret = PTR_ERR(pps->led_gpio);
		pr_info("pps: Failed to get pps-led GPIO: %ld\n", PTR_ERR(pps->led_gpio));
		return ret;
	}
	if (!pps->led_gpio)
		pr_info("pps: pps-led-gpios not present in DT\n");
	else
		pr_info("pps: pps-led GPIO acquired\n");
	/* a line behind a bus can be driven only where sleeping is allowed */
	pps->led_cansleep = gpiod_cansleep(pps->led_gpio);

	INIT_WORK(&dac_work, dac_work_func);
	wq = alloc_ordered_workqueue("%s", WQ_MEM_RECLAIM, dev_name(dev));
	if (!wq)
		pr_info("dac: workqueue creation failed \n");
	rcu_assign_pointer(dac_workq, wq);

	/* both MACs and their PHYs must exist; until then try again later */
	phy[0] = pps_find_phy(np, "port0-mac");
	phy[1] = phy[0] ? pps_find_phy(np, "port1-mac") : NULL;
	if (!phy[0] || !phy[1]) {
		ret = -EPROBE_DEFER;
		goto fail;
	}

	for (i = 0; i < 2; i++) {
		struct phy_info *pi = &pps->phy_i[i];

		pi->phydev = phy[i];
		pi->port = i;
		spin_lock_init(&pi->ts_lock);
		init_waitqueue_head(&pi->adj_wq);
		atomic_set(&pi->adj_pending, 0);
		pi->last_delta = 0;
		ret = kfifo_alloc(&pi->ts_fifo, PHY_TS_FIFO_SIZE, GFP_KERNEL);
		if (ret)
			goto fail;
	}

	/* complete: the pulse interrupt, the notifier and the attributes may use it */
	rcu_assign_pointer(g_pps, pps);

	kxpps_register(phy[0], &kxpps_nb);
	kxpps_register(phy[1], &kxpps_nb);

	for (i = 0; i < 2; i++) {
		struct task_struct *t;

		t = kthread_create(pps_adjust_thread, &pps->phy_i[i], "pps%d-adj", i);
		if (IS_ERR(t)) {
			pps->phy_i[i].adj_task = NULL;
			continue;
		}
		wake_up_process(t);
		pps->phy_i[i].adj_task = t;
	}

	/*
	 * gps_time_work and gps_ppsled_work are initialised statically and may
	 * be queued by the pulse interrupt already; likewise the lock of
	 * gGPSTime may be held by the serial half. Only the flag is cleared.
	 */
	spin_lock_irqsave(&gGPSTime.lock, flags);
	gGPSTime.pending = 0;
	spin_unlock_irqrestore(&gGPSTime.lock, flags);

	strscpy(info.path, dev_name(dev), sizeof(info.path));
	src = pps_register_source(&info, PPS_CAPTUREASSERT);
	if (IS_ERR(src)) {
		dev_err(dev, "pps: failed to register LinuxPPS source: %d\n", (int)PTR_ERR(src));
		src = NULL;
	} else {
		dev_info(dev, "pps: registered LinuxPPS source\n");
	}
	WRITE_ONCE(pps->pps_src, src);
	return 0;

fail:
	pps_release(pps, phy);
	return ret;
}

static void pps_teardown(struct platform_device *pdev)
{
	struct pps_priv *pps = platform_get_drvdata(pdev);
	struct phy_device *phy[2];
	struct pps_device *src;
	int i;

	/*
	 * Unpublish first, then wait for a grace period: the pulse interrupt,
	 * the notifier, the attribute handlers and the LED work use the record
	 * only inside RCU read-side sections, so after it none holds it, and
	 * the LED work they may have queued is cancelled below.
	 */
	RCU_INIT_POINTER(g_pps, NULL);
	synchronize_rcu();

	for (i = 0; i < 2; i++) {
		if (pps->phy_i[i].adj_task) {
			kthread_stop(pps->phy_i[i].adj_task);
			pps->phy_i[i].adj_task = NULL;
		}
	}
	kxpps_unregister(pps->phy_i[1].phydev, &kxpps_nb);
	kxpps_unregister(pps->phy_i[0].phydev, &kxpps_nb);

	for (i = 0; i < 2; i++)
		phy[i] = pps->phy_i[i].phydev;
	cancel_work_sync(&gps_time_work);
	cancel_work_sync(&gps_ppsled_work);
	/* fifos, DAC work queue, LED and PHY references */
	pps_release(pps, phy);

	src = pps->pps_src;
	if (src) {
		pps->pps_src = NULL;
		pps_unregister_source(src);
	}
}

#if LINUX_VERSION_CODE >= KERNEL_VERSION(6, 11, 0)
static void pps_remove(struct platform_device *pdev)
{
	pps_teardown(pdev);
}
#else
static int pps_remove(struct platform_device *pdev)
{
	pps_teardown(pdev);
	return 0;
}
#endif

static const struct of_device_id ppstimer_of_match[] = {
	{ .compatible = "gtop,ppstimer" },
	{ }
};
MODULE_DEVICE_TABLE(of, ppstimer_of_match);

static struct platform_driver pps_driver = {
	.probe = pps_probe,
	.remove = pps_remove,
	.driver = {
		.name = "pps",
		.of_match_table = ppstimer_of_match,
	},
};

/* ---- TPM4 and its clock ------------------------------------------------- */

static void __iomem *pps_map(phys_addr_t base)
{
	return ioremap(base, KX_REG_BLOCK_SIZE);
}

static void pps_unmap_all(void)
{
	void __iomem **blocks[] = {
		&reg_base_lptpm4, &reg_base_ccm, &reg_base_iomuxc, &reg_base_gpio2,
	};
	unsigned int i;

	for (i = 0; i < ARRAY_SIZE(blocks); i++) {
		if (*blocks[i]) {
			iounmap(*blocks[i]);
			*blocks[i] = NULL;
		}
	}
}

/* write until the register reads back as wanted, a bounded number of times */
static void tpm4_write_sync(u32 off, u32 val, u32 mask, u32 want)
{
	unsigned int n;

	for (n = 0; n < TPM4_SYNC_TRIES; n++) {
		writel(val, reg_base_lptpm4 + off);
		if ((readl(reg_base_lptpm4 + off) & mask) == want)
			return;
	}
	pr_info("pps: TPM4 register 0x%X did not take 0x%X\n", off, val);
}

static void tpm4_program(void)
{
	writel(CCM_TPM4_CLK_EXT1, reg_base_ccm + CCM_TPM4_CLK_ROOT);
	pr_info("tpm4 clk root is: %X\n", readl(reg_base_ccm + CCM_TPM4_CLK_ROOT));

	writel(0, reg_base_lptpm4 + TPM4_SC);
	writel(0, reg_base_lptpm4 + TPM4_CONF);
	tpm4_write_sync(TPM4_C2SC, 0, TPM_CNSC_MODE_MASK, 0);
	tpm4_write_sync(TPM4_C2SC, TPM_CNSC_ELSA, TPM_CNSC_MODE_MASK, TPM_CNSC_ELSA);
	tpm4_write_sync(TPM4_MOD, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF);
	writel(TPM_CNSC_CHIE | TPM_CNSC_ELSA, reg_base_lptpm4 + TPM4_C2SC);
	writel(TPM_SC_TOIE, reg_base_lptpm4 + TPM4_SC);
}

static void pps_log_registers(void)
{
	pr_info("register SW_PAD_CTL_PAD_GPIO_IO10 is: %X\n",
		readl(reg_base_iomuxc + IOMUXC_PAD_GPIO_IO10));
	pr_info("register SW_MUX_CTL_PAD_PDM_BIT_STREAM1 is: %X\n",
		readl(reg_base_iomuxc + IOMUXC_MUX_PDM_BIT_STREAM1));
	pr_info("DAISY register CCMSRCGPCMIX_EXT1_CLK is: %X\n",
		readl(reg_base_iomuxc + IOMUXC_EXT1_CLK_SELECT));
	pr_info("register SC is: %X\n", readl(reg_base_lptpm4 + TPM4_SC));
	pr_info("register CONF is: %X\n", readl(reg_base_lptpm4 + TPM4_CONF));
	pr_info("register C0SC is: %X\n", readl(reg_base_lptpm4 + TPM4_C0SC));
	pr_info("register MOD: %X\n", readl(reg_base_lptpm4 + TPM4_MOD));
	pr_info("register gpio2 PDDR is: %X\n", readl(reg_base_gpio2 + GPIO2_PDDR));
	pr_info("register SW_PAD_CTL_PAD_GPIO_IO01 is: %X\n",
		readl(reg_base_iomuxc + IOMUXC_PAD_GPIO_IO01));
	pr_info("register SW_MUX_CTL_PAD_GPIO_IO01 is: %X\n",
		readl(reg_base_iomuxc + IOMUXC_MUX_GPIO_IO01));
}

/* pulse capture: node "pwm4", its interrupt, the counter started */
static void pps_timer_start(void)
{
	unsigned int virq;

	tpm_np = of_find_node_by_name(NULL, "pwm4");
	if (tpm_np)
		pr_info("Found device tree node pwm4\n");
	else
		pr_info("Device tree node pwm4 is not defined in DTS\n");

	virq = tpm_np ? irq_of_parse_and_map(tpm_np, 0) : 0;
	if ((int)virq <= 0) {
		pr_info("Failed to map IRQ\n");
		return;
	}
	pps_virq = virq;

	if (request_irq(virq, timer_irq, IRQF_TIMER, "ppstimercapture", NULL))
		pr_info("Failed to request interrupt line\n");
	else
		pps_irq = virq;

	writel(TPM_SC_TOIE | TPM_SC_CMOD_COUNT, reg_base_lptpm4 + TPM4_SC);
	pps_log_registers();
}

/* unload steps 3 to 5: counter stopped, interrupt freed, mapping disposed of */
static void pps_timer_stop(void)
{
	if (reg_base_lptpm4) {
		writel(readl(reg_base_lptpm4 + TPM4_C2SC) & ~TPM_CNSC_CHIE,
		       reg_base_lptpm4 + TPM4_C2SC);
		writel(readl(reg_base_lptpm4 + TPM4_SC) & ~(TPM_SC_TOIE | TPM_SC_CMOD_COUNT),
		       reg_base_lptpm4 + TPM4_SC);
	}
	if (pps_irq > 0) {
		synchronize_irq(pps_irq);
		free_irq(pps_irq, NULL);
		pps_irq = -1;
	}
	if (tpm_np) {
		if (pps_virq)
			irq_dispose_mapping(pps_virq);
		pps_virq = 0;
		of_node_put(tpm_np);
		tpm_np = NULL;
	}
	/*
	 * Work the interrupt queued on the system workqueue must not outlive
	 * the module, probed timer device or not.
	 */
	cancel_work_sync(&gps_time_work);
	cancel_work_sync(&gps_ppsled_work);
}

/* unload steps 6 and 7, and the driver (step 8) */
static void pps_release_core(void)
{
	pps_sysfs_remove_filter();
	pr_info("Remove filter done\n");

	if (dac_client) {
		/* no DAC write may be under way when the client goes */
		cancel_work_sync(&dac_work);
		i2c_unregister_device(dac_client);
		dac_client = NULL;
	}
	if (adapter_1) {
		i2c_put_adapter(adapter_1);
		adapter_1 = NULL;
	}
	pps_unmap_all();
	platform_driver_unregister(&pps_driver);
}

static int __init pps_init(void)
{
	struct i2c_board_info info = { I2C_BOARD_INFO("ti-dac8571-pps", DAC_I2C_ADDR) };
	struct i2c_client *client = NULL;
	int ret;

	if (platform_driver_register(&pps_driver)) {
		pr_info("unable to register pps driver\n");
		return -EIO;
	}
	pr_info("PPS says hello!\n");

	pps_guard_init();
	pps_sysfs_create();
	pps_sysfs_create_guard();

	adapter_1 = i2c_get_adapter(DAC_I2C_ADAPTER);
	if (adapter_1) {
		pr_info("ppsdac: got i2c adapter 1!\n");
		client = i2c_new_client_device(adapter_1, &info);
	} else {
		pr_info("ppsdac: unable to get i2c adapter 1\n");
	}
	if (IS_ERR_OR_NULL(client)) {
		pr_info("unable to allocate dac client\n");
		pr_info("unable to allocate i2c clients\n");
		pps_sysfs_remove_filter();
		if (adapter_1) {
			i2c_put_adapter(adapter_1);
			adapter_1 = NULL;
		}
		platform_driver_unregister(&pps_driver);
		return -EIO;
	}
	dac_client = client;

	pr_info("Initial write to DAC\n");
	dac_write(DAC_CODE_MID);

	reg_base_lptpm4 = pps_map(TPM4_PHYS);
	reg_base_ccm = pps_map(CCM_PHYS);
	reg_base_iomuxc = pps_map(IOMUXC_PHYS);
	reg_base_gpio2 = pps_map(GPIO2_PHYS);
	if (!reg_base_lptpm4 || !reg_base_ccm || !reg_base_iomuxc || !reg_base_gpio2) {
		pr_info("pps: unable to map the timer registers\n");
		ret = -ENOMEM;
		goto fail_core;
	}

	tpm4_program();
	pps_timer_start();

	ret = pps_fifo_init();
	if (ret)
		goto fail_timer;
	ret = chardev_init();
	if (ret)
		goto fail_fifo;
	ret = pps_uart_init();
	if (ret)
		goto fail_chardev;
	return 0;

fail_chardev:
	chardev_exit();
fail_fifo:
	pps_fifo_exit();
fail_timer:
	pps_timer_stop();
fail_core:
	pps_release_core();
	return ret;
}

static void __exit pps_exit(void)
{
	pps_uart_exit();
	chardev_exit();
	pps_fifo_exit();
	pr_info("PPS driver exit!\n");
	pps_timer_stop();
	pps_release_core();
}

module_init(pps_init);
module_exit(pps_exit);

MODULE_LICENSE("GPL");
MODULE_DESCRIPTION("GPS-disciplined PPS timer, VCXO loop and GPS time");
