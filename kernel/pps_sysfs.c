// SPDX-License-Identifier: GPL-2.0
/*
 * kx_pps: control attributes under /sys/pps_filter.
 *
 * Nineteen text files to observe and tune the timing core. Shows and stores
 * take no lock: every value behind a file is a whole word, read and written
 * at once, racing harmlessly with the pulse interrupt, the GPS receive
 * worker and the PHY threads. A store always reports the whole text as
 * consumed (writers such as echo would otherwise retry it) unless it is
 * refused outright; text that does not parse leaves the value alone but the
 * store's follow-up still happens.
 *
 * Six more files report and steer the GNSS integrity guard (pps_guard.c):
 * gnss_state, gnss_reason, gnss_since, gnss_counts, gnss_accept and
 * gnss_home, made beside the nineteen by pps_sysfs_create_guard().
 */
#include <linux/kernel.h>
#include <linux/kobject.h>
#include <linux/rcupdate.h>
#include <linux/sysfs.h>

#include "kx_pps.h"

struct kobject *kobj_ref;

static bool k1_ok, k2_ok, pause_ok, gpsfix_ok, taioffset_ok, gpsmode_ok,
	timeknown_ok, holdovertime_ok, holdoverset_ok, prv_ok, fc_ok, fcd_ok,
	gpstimeset_ok, ph1_ok, ph2_ok, manualtime_ok, ppsled_ok, deleth0_ok,
	deleth1_ok;
static bool gstate_ok, greason_ok, gsince_ok, gcounts_ok, gaccept_ok, ghome_ok;

/* receiver satellite modes that have a command (see the serial link) */
#define GPS_MODE_MAX 6

/* ---- k1, k2: loop gains in 1/100,000 ---------------------------------- */

static ssize_t gain_show(char *buf, const s32 *gain)
{
	s32 k = READ_ONCE(*gain);

	return sysfs_emit(buf, "%d (%lld)\n", k, (s64)k * KX_GAIN_SCALE);
}

static ssize_t gain_store(const char *buf, size_t count, s32 *gain, bool loop_gain)
{
	int k;

	if (sscanf(buf, "%d", &k) == 1) {
		/*
		 * Beyond the limit the loop's K1 or e_fp * K1 would not be
		 * exact; k2 is only stored and shown, so any value goes.
		 */
		if (loop_gain && (k < -KX_GAIN_MAX || k > KX_GAIN_MAX))
			return -EINVAL;
		WRITE_ONCE(*gain, k);
	}
	return count;
}

static ssize_t k1_show(struct kobject *kobj, struct kobj_attribute *attr, char *buf)
{
	return gain_show(buf, &k1_hundred_thou_value);
}

static ssize_t k1_store(struct kobject *kobj, struct kobj_attribute *attr,
			const char *buf, size_t count)
{
	return gain_store(buf, count, &k1_hundred_thou_value, true);
}

static ssize_t k2_show(struct kobject *kobj, struct kobj_attribute *attr, char *buf)
{
	return gain_show(buf, &k2_hundred_thou_value);
}

static ssize_t k2_store(struct kobject *kobj, struct kobj_attribute *attr,
			const char *buf, size_t count)
{
	return gain_store(buf, count, &k2_hundred_thou_value, false);
}

/* ---- pause: 1 holds the loop, 0 resumes it from a fresh reference ------ */

static ssize_t pause_show(struct kobject *kobj, struct kobj_attribute *attr, char *buf)
{
	return sysfs_emit(buf, "%d\n", READ_ONCE(filter_pause) ? 1 : 0);
}

static ssize_t pause_store(struct kobject *kobj, struct kobj_attribute *attr,
			   const char *buf, size_t count)
{
	int v;

	/* any non-zero value pauses */
	if (sscanf(buf, "%d", &v) == 1)
		WRITE_ONCE(filter_pause, v != 0);
	/* a running loop restarts from the next capture */
	if (!READ_ONCE(filter_pause))
		WRITE_ONCE(initial_calc, true);
	return count;
}

/* ---- s32 values: read-only GPS and holdover state, plain settings ------ */

static ssize_t show_s32(char *buf, const s32 *v)
{
	return sysfs_emit(buf, "%d\n", READ_ONCE(*v));
}

static void store_s32(const char *buf, s32 *v)
{
	int val;

	if (sscanf(buf, "%d", &val) == 1)
		WRITE_ONCE(*v, val);
}

static ssize_t gpsfix_show(struct kobject *kobj, struct kobj_attribute *attr, char *buf)
{
	return show_s32(buf, &gGPSFix);
}

static ssize_t timeknown_show(struct kobject *kobj, struct kobj_attribute *attr, char *buf)
{
	return sysfs_emit(buf, "%d\n", READ_ONCE(time_known) ? 1 : 0);
}

static ssize_t holdover_time_show(struct kobject *kobj, struct kobj_attribute *attr,
				  char *buf)
{
	return show_s32(buf, &holdover_time_sec);
}

static ssize_t gps_time_set_show(struct kobject *kobj, struct kobj_attribute *attr,
				 char *buf)
{
	return show_s32(buf, &gps_time_set);
}

static ssize_t tai_offset_show(struct kobject *kobj, struct kobj_attribute *attr, char *buf)
{
	return show_s32(buf, &tai_offset_value);
}

static ssize_t tai_offset_store(struct kobject *kobj, struct kobj_attribute *attr,
				const char *buf, size_t count)
{
	store_s32(buf, &tai_offset_value);
	return count;
}

static ssize_t holdover_setting_show(struct kobject *kobj, struct kobj_attribute *attr,
				     char *buf)
{
	return show_s32(buf, &holdover_setting);
}

static ssize_t holdover_setting_store(struct kobject *kobj, struct kobj_attribute *attr,
				      const char *buf, size_t count)
{
	store_s32(buf, &holdover_setting);
	return count;
}

static ssize_t deleth0_store(struct kobject *kobj, struct kobj_attribute *attr,
			     const char *buf, size_t count)
{
	store_s32(buf, &gDelta_eth0);
	return count;
}

static ssize_t deleth1_store(struct kobject *kobj, struct kobj_attribute *attr,
			     const char *buf, size_t count)
{
	store_s32(buf, &gDelta_eth1);
	return count;
}

/* ---- gpsmode: the serial link sends the command while gSetGPSMode ----- */

static ssize_t gpsmode_show(struct kobject *kobj, struct kobj_attribute *attr, char *buf)
{
	return show_s32(buf, &gGPSMode);
}

static ssize_t gpsmode_store(struct kobject *kobj, struct kobj_attribute *attr,
			     const char *buf, size_t count)
{
	s32 mode;

	store_s32(buf, &gGPSMode);
	mode = READ_ONCE(gGPSMode);
	WRITE_ONCE(gSetGPSMode, mode >= 0 && mode <= GPS_MODE_MAX);
	return count;
}

/* ---- prv_integ_fp: the integrator, and a seed that moves the DAC now --- */

static ssize_t prv_integ_fp_show(struct kobject *kobj, struct kobj_attribute *attr,
				 char *buf)
{
	return sysfs_emit(buf, "%lld\n", READ_ONCE(prv_integ_fp));
}

static ssize_t prv_integ_fp_store(struct kobject *kobj, struct kobj_attribute *attr,
				  const char *buf, size_t count)
{
	long long seed;
	s64 v;

	if (sscanf(buf, "%lld", &seed) == 1)
		WRITE_ONCE(new_prv_integ_fp, seed);
	v = READ_ONCE(new_prv_integ_fp);
	WRITE_ONCE(filtered_integ, v);
	pps_dac_queue();
	/* the next pulse takes the seed as its integrator */
	WRITE_ONCE(initial_calc, true);
	pps_set_integ_parts(v);
	return count;
}

static ssize_t freqcorr_show(struct kobject *kobj, struct kobj_attribute *attr, char *buf)
{
	return pps_freqcorr_text(buf);
}

static ssize_t freqcorrdelta_show(struct kobject *kobj, struct kobj_attribute *attr,
				  char *buf)
{
	return pps_freqcorrdelta_text(buf);
}

/* ---- PHY alignment ------------------------------------------------------ */

/*
 * The per-device record is used only inside an RCU read-side section: the
 * device may be removed while a file is read or written, and remove waits
 * for a grace period before the record goes.
 */
static ssize_t phy_delta_show(char *buf, int port)
{
	struct pps_priv *pps;
	s64 delta = 0;

	rcu_read_lock();
	pps = rcu_dereference(g_pps);
	if (pps)
		delta = READ_ONCE(pps->phy_i[port].last_delta);
	rcu_read_unlock();
	if (!pps)
		return -ENODEV;
	return sysfs_emit(buf, "%lld\n", delta);
}

static ssize_t phy_delta1_show(struct kobject *kobj, struct kobj_attribute *attr, char *buf)
{
	return phy_delta_show(buf, 0);
}

static ssize_t phy_delta2_show(struct kobject *kobj, struct kobj_attribute *attr, char *buf)
{
	return phy_delta_show(buf, 1);
}

static ssize_t manualtime_store(struct kobject *kobj, struct kobj_attribute *attr,
				const char *buf, size_t count)
{
	struct pps_priv *pps;

	rcu_read_lock();
	pps = rcu_dereference(g_pps);
	if (pps) {
		pps_phy_manual_request(&pps->phy_i[0]);
		pps_phy_manual_request(&pps->phy_i[1]);
	}
	rcu_read_unlock();
	if (!pps) {
		pr_alert("g_pps/cap0/cap1 pointer error!!!\n");
		/* consuming nothing would make writers retry for ever */
		return -ENODEV;
	}
	return count;
}

static ssize_t ppsled_store(struct kobject *kobj, struct kobj_attribute *attr,
			    const char *buf, size_t count)
{
	pps_led_flash();
	return count;
}


/* ---- GNSS integrity guard ---------------------------------------------- */

static ssize_t gnss_state_show(struct kobject *kobj, struct kobj_attribute *attr, char *buf)
{
	struct pps_guard_status st;

	pps_guard_status(&st);
	return sysfs_emit(buf, "%s\n", st.state);
}

static ssize_t gnss_reason_show(struct kobject *kobj, struct kobj_attribute *attr, char *buf)
{
	struct pps_guard_status st;

	pps_guard_status(&st);
	return sysfs_emit(buf, "%s\n", st.reason);
}

static ssize_t gnss_since_show(struct kobject *kobj, struct kobj_attribute *attr, char *buf)
{
	struct pps_guard_status st;

	pps_guard_status(&st);
	return sysfs_emit(buf, "%lld\n", st.since);
}

static ssize_t gnss_counts_show(struct kobject *kobj, struct kobj_attribute *attr, char *buf)
{
	struct pps_guard_status st;
	ssize_t len = 0;
	int i;

	pps_guard_status(&st);
	for (i = PPS_GUARD_TIME; i < PPS_GUARD_REASONS; i++)
		len += sysfs_emit_at(buf, len, "%s %u\n", pps_guard_reason_name(i), st.counts[i]);
	return len;
}

static ssize_t gnss_accept_store(struct kobject *kobj, struct kobj_attribute *attr,
				 const char *buf, size_t count)
{
	int v;

	if (sscanf(buf, "%d", &v) != 1 || v != 1)
		return -EINVAL;
	pps_guard_accept();
	return count;
}

/*
 * Positions are kept in 1e-5 arc minutes (0.0185 m of latitude) and shown
 * in degrees with 7 decimals: 1e-7 degree is 0.6 of a unit.
 */
static int home_text(char *buf, int len, s64 arcmin)
{
	s64 deg = (abs(arcmin) * 5 + 1) / 3;

	return sysfs_emit_at(buf, len, "%s%lld.%07lld", arcmin < 0 ? "-" : "",
			     deg / 10000000, deg % 10000000);
}

static ssize_t gnss_home_show(struct kobject *kobj, struct kobj_attribute *attr, char *buf)
{
	struct pps_guard_status st;
	int len;

	pps_guard_status(&st);
	if (!st.home_valid)
		return sysfs_emit(buf, "none\n");
	len = home_text(buf, 0, st.home_lat);
	len += sysfs_emit_at(buf, len, " ");
	len += home_text(buf, len, st.home_lon);
	len += sysfs_emit_at(buf, len, "\n");
	return len;
}

static bool home_digit(char c)
{
	return c >= '0' && c <= '9';
}

static const char *home_blanks(const char *p)
{
	while (*p == ' ' || *p == '\t' || *p == '\n')
		p++;
	return p;
}

/* "[-]D[.DDDDDDD]" in degrees, at most limit, to 1e-5 arc minutes; the rest after it */
static const char *home_parse(const char *p, s64 limit, s64 *out)
{
	s64 deg = 0, frac = 0, scale = 1000000;
	bool neg = false;
	int digits = 0;

	p = home_blanks(p);
	if (*p == '-' || *p == '+')
		neg = *p++ == '-';
	for (; home_digit(*p) && deg <= limit; p++, digits++)
		deg = deg * 10 + (*p - '0');
	if (!digits)
		return NULL;
	if (*p == '.')
		for (p++; home_digit(*p); p++, scale /= 10)
			frac += scale ? (*p - '0') * scale : 0;
	frac += deg * 10000000;
	if (frac > limit * 10000000)
		return NULL;
	frac = (frac * 3 + 2) / 5;
	*out = neg ? -frac : frac;
	return p;
}

static ssize_t gnss_home_store(struct kobject *kobj, struct kobj_attribute *attr,
			       const char *buf, size_t count)
{
	const char *p;
	s64 lat, lon;

	p = home_parse(buf, 90, &lat);
	if (p && (*p == ' ' || *p == '\t'))
		p = home_parse(p, 180, &lon);
	else
		p = NULL;
	if (!p || *home_blanks(p))
		return -EINVAL;
	pps_guard_set_home(lat, lon);
	return count;
}

static struct kobj_attribute k1_attr = __ATTR(k1, 0660, k1_show, k1_store);
static struct kobj_attribute k2_attr = __ATTR(k2, 0660, k2_show, k2_store);
static struct kobj_attribute pause_attr = __ATTR(pause, 0660, pause_show, pause_store);
static struct kobj_attribute gpsfix_attr = __ATTR(gpsfix, 0660, gpsfix_show, NULL);
static struct kobj_attribute tai_offset_attr =
	__ATTR(tai_offset, 0660, tai_offset_show, tai_offset_store);
static struct kobj_attribute gpsmode_attr =
	__ATTR(gpsmode, 0660, gpsmode_show, gpsmode_store);
static struct kobj_attribute timeknown_attr =
	__ATTR(timeknown, 0660, timeknown_show, NULL);
static struct kobj_attribute holdover_time_attr =
	__ATTR(holdover_time, 0660, holdover_time_show, NULL);
static struct kobj_attribute holdover_attr =
	__ATTR(holdover_setting, 0660, holdover_setting_show, holdover_setting_store);
static struct kobj_attribute prvintegfp_attr =
	__ATTR(prv_integ_fp, 0660, prv_integ_fp_show, prv_integ_fp_store);
static struct kobj_attribute freqcorr_attr = __ATTR(freqcorr, 0660, freqcorr_show, NULL);
static struct kobj_attribute freqcorrdelta_attr =
	__ATTR(freqcorrdelta, 0660, freqcorrdelta_show, NULL);
static struct kobj_attribute gps_time_set_attr =
	__ATTR(gps_time_set, 0660, gps_time_set_show, NULL);
static struct kobj_attribute phy_delta1_attr =
	__ATTR(phy_delta1, 0660, phy_delta1_show, NULL);
static struct kobj_attribute phy_delta2_attr =
	__ATTR(phy_delta2, 0660, phy_delta2_show, NULL);
static struct kobj_attribute maualtime_attr =
	__ATTR(manualtime, 0660, NULL, manualtime_store);
static struct kobj_attribute ppsled_attr = __ATTR(ppsled, 0660, NULL, ppsled_store);
static struct kobj_attribute deleth0_attr = __ATTR(deleth0, 0660, NULL, deleth0_store);
static struct kobj_attribute deleth1_attr = __ATTR(deleth1, 0660, NULL, deleth1_store);

static struct kobj_attribute gnss_state_attr = __ATTR(gnss_state, 0660, gnss_state_show, NULL);
static struct kobj_attribute gnss_reason_attr =
	__ATTR(gnss_reason, 0660, gnss_reason_show, NULL);
static struct kobj_attribute gnss_since_attr = __ATTR(gnss_since, 0660, gnss_since_show, NULL);
static struct kobj_attribute gnss_counts_attr =
	__ATTR(gnss_counts, 0660, gnss_counts_show, NULL);
static struct kobj_attribute gnss_accept_attr =
	__ATTR(gnss_accept, 0660, NULL, gnss_accept_store);
static struct kobj_attribute gnss_home_attr =
	__ATTR(gnss_home, 0660, gnss_home_show, gnss_home_store);

struct pps_file {
	struct kobj_attribute *attr;
	bool *ok;
	const char *what;	/* as named in the creation failure message */
};

/* the guard's files, in creation order */
static const struct pps_file guard_files[] = {
	{ &gnss_state_attr, &gstate_ok, "gnss_state" },
	{ &gnss_reason_attr, &greason_ok, "gnss_reason" },
	{ &gnss_since_attr, &gsince_ok, "gnss_since" },
	{ &gnss_counts_attr, &gcounts_ok, "gnss_counts" },
	{ &gnss_accept_attr, &gaccept_ok, "gnss_accept" },
	{ &gnss_home_attr, &ghome_ok, "gnss_home" },
};

/* the files in creation order, with their created-flags */
static const struct pps_file pps_files[] = {
	{ &k1_attr, &k1_ok, "k1" },
	{ &k2_attr, &k2_ok, "k2" },
	{ &pause_attr, &pause_ok, "pause_attr" },
	{ &gpsfix_attr, &gpsfix_ok, "gpsfix" },
	{ &tai_offset_attr, &taioffset_ok, "tai_offset" },
	{ &gpsmode_attr, &gpsmode_ok, "gpsmode" },
	{ &timeknown_attr, &timeknown_ok, "timeknown" },
	{ &holdover_time_attr, &holdovertime_ok, "holdover" },
	{ &holdover_attr, &holdoverset_ok, "holdover_time" },
	{ &prvintegfp_attr, &prv_ok, "prvintegfp" },
	{ &freqcorr_attr, &fc_ok, "freqcorr" },
	{ &freqcorrdelta_attr, &fcd_ok, "freqcorrdelta" },
	{ &gps_time_set_attr, &gpstimeset_ok, "gps_time" },
	{ &phy_delta1_attr, &ph1_ok, "delta1" },
	{ &phy_delta2_attr, &ph2_ok, "delta2" },
	{ &maualtime_attr, &manualtime_ok, "manualtime" },
	{ &ppsled_attr, &ppsled_ok, "ppsled" },
	{ &deleth0_attr, &deleth0_ok, "delta_eth0" },
	{ &deleth1_attr, &deleth1_ok, "delta_eth1" },
};

static void pps_files_create(const struct pps_file *files, unsigned int n)
{
	unsigned int i;

	for (i = 0; i < n; i++) {
		if (sysfs_create_file(kobj_ref, &files[i].attr->attr))
			pr_info("Cannot create sysfs file %s......\n", files[i].what);
		else
			*files[i].ok = true;
	}
}

static void pps_files_remove(const struct pps_file *files, unsigned int n)
{
	unsigned int i;

	for (i = 0; i < n; i++) {
		if (*files[i].ok) {
			sysfs_remove_file(kobj_ref, &files[i].attr->attr);
			*files[i].ok = false;
		}
	}
}

/*
 * /sys/pps_filter and its files. A failure is logged and tolerated: the
 * module works without any attribute.
 */
int pps_sysfs_create(void)
{
	kobj_ref = kobject_create_and_add("pps_filter", NULL);
	if (!kobj_ref) {
		pr_err("pps: kobject_create_and_add failed\n");
		return -ENOMEM;
	}
	pps_files_create(pps_files, ARRAY_SIZE(pps_files));
	return 0;
}

/* the guard's six files beside them (there whether the guard is on or off) */
void pps_sysfs_create_guard(void)
{
	if (kobj_ref)
		pps_files_create(guard_files, ARRAY_SIZE(guard_files));
}

void pps_sysfs_remove_filter(void)
{
	if (!kobj_ref)
		return;
	pps_files_remove(guard_files, ARRAY_SIZE(guard_files));
	pps_files_remove(pps_files, ARRAY_SIZE(pps_files));
	pr_info("All sysfs_remove_file call done\n");
	kobject_put(kobj_ref);
	pr_info("kobject_put done\n");
	kobj_ref = NULL;
}
