// kxmetrics' rules without the appliance: what is left out, how the source
// texts are taken, chronyd's CSV line. The program against the live
// appliance and a real node-exporter is test_metrics_live.py.
#include "chrony_metrics.h"
#include "kernel_metrics.h"
#include "kx_run.h"
#include "nts_metrics.h"
#include "prom_text.h"
#include "rundata_metrics.h"
#include "source_text.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/time.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <ctime>
#include <string>

namespace {

// A private KX_ROOT tree, removed afterwards.
struct TempRoot {
	std::string dir;
	TempRoot()
	{
		char tmpl[] = "/tmp/kxmetrics_test.XXXXXX";
		dir = mkdtemp(tmpl);
		setenv("KX_ROOT", dir.c_str(), 1);
	}
	~TempRoot()
	{
		unsetenv("KX_ROOT");
		std::string cmd = "rm -rf '" + dir + "'";
		EXPECT_EQ(std::system(cmd.c_str()), 0);
	}
	void write(const std::string &path, const std::string &text, int age_seconds = 0)
	{
		std::string full = dir + path;
		std::string cmd = "mkdir -p \"$(dirname '" + full + "')\"";
		ASSERT_EQ(std::system(cmd.c_str()), 0);
		std::ofstream(full) << text;
		if (age_seconds > 0) {
			timeval tv[2];
			gettimeofday(&tv[0], nullptr);
			tv[0].tv_sec -= age_seconds;
			tv[1] = tv[0];
			ASSERT_EQ(utimes(full.c_str(), tv), 0);
		}
	}
};

std::string collected()
{
	prom_text t;
	collect_kernel_metrics(t);
	collect_rundata_metrics(t);
	return prom_render(t);
}

TEST(PromText, WhatCannotBeReadIsLeftOutNeverZero)
{
	prom_text t;
	prom_add(t, "kx_a", "gauge", "a", std::nullopt);
	prom_add(t, "kx_b", "gauge", "b", std::nullopt, {{"port", "0"}});
	prom_add(t, "kx_b", "gauge", "b", 0.25, {{"port", "1"}});
	prom_add(t, "kx_c", "counter", "c\\d\ne", NAN);
	prom_add(t, "kx_d", "gauge", "d", 25000000, {{"name", "a\"b\\c\nd"}});
	EXPECT_EQ(prom_render(t), "# HELP kx_b b\n# TYPE kx_b gauge\nkx_b{port=\"1\"} 0.25\n"
				  "# HELP kx_d d\n# TYPE kx_d gauge\n"
				  "kx_d{name=\"a\\\"b\\\\c\\nd\"} 2.5e+07\n");
	EXPECT_EQ(prom_number(-0.000012345), "-1.2345e-05");
	EXPECT_EQ(prom_number(1765300000.5), "1765300000.5");

	// Nothing to read at all (no module, no daemons): an empty file.
	TempRoot root;
	EXPECT_EQ(collected(), "");
}

TEST(SourceText, NumbersAreTakenOnlyWhenWhole)
{
	EXPECT_EQ(parse_integer("-37\n"), -37);
	EXPECT_EQ(parse_integer("  8"), 8);
	for (const char *bad : {"", "\n", "-", "12abc", "1 2", "0x10", "none\n"})
		EXPECT_EQ(parse_integer(bad), std::nullopt) << '"' << bad << '"';
	EXPECT_EQ(parse_decimal(" 3.0000\n"), 3.0);
	EXPECT_EQ(parse_decimal("-0.5000\n"), -0.5);
	for (const char *bad : {"", " .\n", "1.2.3", "nan", "inf", "1e5", "- 1.0"})
		EXPECT_EQ(parse_decimal(bad), std::nullopt) << '"' << bad << '"';
	EXPECT_EQ(parse_hex_word("0x021205F3\n"), 0x021205F3u);
	EXPECT_EQ(parse_hex_word("021205F3"), std::nullopt);
	EXPECT_EQ(parse_hex_word("0x1FFFFFFFF"), std::nullopt);
	EXPECT_EQ(parse_integer_list(" 12   5  25   0 "), (std::vector<int64_t>{12, 5, 25, 0}));
	EXPECT_EQ(parse_integer_list(" 12  5x"), std::nullopt);
	EXPECT_EQ(parse_integer_list(""), std::nullopt);
}

// The sources as the module and the daemons write them; a file whose writer
// stopped, an empty one or a damaged one gives no series.
TEST(Sources, AppliancesFilesBecomeSeries)
{
	TempRoot root;
	root.write("/sys/pps_filter/freqcorr", "-0.5000\n");
	root.write("/sys/pps_filter/gpsfix", "1\n");
	root.write("/sys/pps_filter/holdover_time", "\n");
	root.write("/sys/pps_filter/phy_delta2", "-1250\n");
	root.write("/sys/module/kx_pps/parameters/last_count", "25000003\n");
	root.write("/sys/class/pps/pps0/name", "ktimer\n");
	root.write("/sys/class/pps/pps1/name", "kx-pps\n");
	root.write("/sys/class/pps/pps1/assert", "1765300000.250000000#4321\n");
	root.write("/var/volatile/rundata/numsats.dat", "8");
	root.write("/var/volatile/rundata/gsatlist.dat", " 12   5  25   0   0   0 ");
	root.write("/var/volatile/rundata/gsnrlist.dat", " 45  40   0   0   0   0 ");
	root.write("/var/volatile/rundata/lsatlist.dat", "  3   0 ", 60);
	root.write("/var/volatile/rundata/lsnrlist.dat", " 30   0 ", 60);
	root.write("/var/volatile/rundata/asatlist.dat", "  7   0 ");
	root.write("/var/volatile/rundata/asnrlist.dat", "  0   0 ");
	root.write("/var/volatile/rundata/antenna_current.dat", "25\n");
	root.write("/var/volatile/rundata/ad9544bits.dat", "0x021205F3\n");
	root.write("/var/volatile/rundata/ad9544temp.dat", "36\n", 60);
	std::string out = collected();
	for (const char *line : {
		     "kx_loop_freqcorr -0.5\n",
		     "kx_loop_last_count 25000003\n",
		     "kx_gps_fix 1\n",
		     "kx_phy_delta_seconds{port=\"1\"} -1.25e-06\n",
		     "kx_pps_pulses_total 4321\n",
		     "kx_pps_last_pulse_timestamp_seconds 1765300000.25\n",
		     "kx_gps_satellites_used 8\n",
		     "kx_gps_satellites_seen{system=\"gps\"} 3\n",
		     "kx_gps_snr_average_dbhz{system=\"gps\"} 42.5\n",
		     "kx_gps_satellites_seen{system=\"galileo\"} 1\n",
		     "kx_antenna_current_amperes 0.025\n",
		     "kx_clock_chip_status_word 34735603\n",
		     "kx_clock_chip_status_bit{bit=\"m2_inverted\"} 0\n",
		     "kx_clock_chip_status_bit{bit=\"dpll_0x3200\"} 1\n",
		     "kx_clock_chip_status_bit{bit=\"ref_aa_valid\"} 1\n",
		     "kx_clock_chip_ref_status{ref=\"aa\"} 18\n",
		     "kx_clock_chip_ref_status{ref=\"bb\"} 5\n",
	     })
		EXPECT_NE(out.find(line), std::string::npos) << line << "not in\n" << out;
	for (const char *absent : {"kx_gps_holdover_seconds", "kx_loop_paused",
				   "port=\"0\"", "glonass", "kx_gps_snr_average_dbhz{system=\"galileo\"}",
				   "kx_antenna_power_watts", "kx_clock_chip_temperature_celsius"})
		EXPECT_EQ(out.find(absent), std::string::npos) << absent << " in\n" << out;
}

// The integrity guard: one gauge per state and per reason (the one in force
// 1), the time of the last change only once there was one, one counter per
// check, each line of gnss_counts on its own; nothing of it from a module
// without the guard.
TEST(Sources, GuardStateReasonSinceAndCounters)
{
	TempRoot root;
	root.write("/sys/pps_filter/gpsfix", "1\n");
	EXPECT_EQ(collected().find("kx_gnss_"), std::string::npos) << "no guard, no series";

	root.write("/sys/pps_filter/gnss_state", "suspect\n");
	root.write("/sys/pps_filter/gnss_reason", "drag\n");
	root.write("/sys/pps_filter/gnss_since", "1765300123\n");
	root.write("/sys/pps_filter/gnss_counts",
		   "time 2\nphase 0\ndrag 1\nposition x\ncalendar 0\nleap 0\n");
	std::string out = collected();
	for (const char *line : {
		     "# TYPE kx_gnss_state gauge\n",
		     "kx_gnss_state{state=\"suspect\"} 1\n",
		     "kx_gnss_state{state=\"trusted\"} 0\n",
		     "kx_gnss_suspect_reason{reason=\"drag\"} 1\n",
		     "kx_gnss_suspect_reason{reason=\"time\"} 0\n",
		     "kx_gnss_state_since_timestamp_seconds 1765300123\n",
		     "# TYPE kx_gnss_detections_total counter\n",
		     "kx_gnss_detections_total{check=\"time\"} 2\n",
		     "kx_gnss_detections_total{check=\"drag\"} 1\n",
		     "kx_gnss_detections_total{check=\"leap\"} 0\n",
	     })
		EXPECT_NE(out.find(line), std::string::npos) << line << "not in\n" << out;
	EXPECT_EQ(out.find("check=\"position\""), std::string::npos) << "unreadable count left out";

	root.write("/sys/pps_filter/gnss_state", "trusted\n");
	root.write("/sys/pps_filter/gnss_reason", "none\n");
	root.write("/sys/pps_filter/gnss_since", "0\n");
	out = collected();
	EXPECT_NE(out.find("kx_gnss_state{state=\"trusted\"} 1\n"), std::string::npos) << out;
	EXPECT_NE(out.find("kx_gnss_suspect_reason{reason=\"drag\"} 0\n"), std::string::npos)
		<< out;
	EXPECT_EQ(out.find("kx_gnss_state_since"), std::string::npos) << "0: no change yet";
}

TEST(Chrony, TrackingLine)
{
	prom_text t;
	add_chrony_tracking(t, "C0A80001,GPS,1,1765300000.123456789,0.000000123,-0.000000045,"
			       "0.000001000,-12.500,0.001,0.020,0.000010000,0.000250000,16.0,"
			       "Normal\n");
	std::string out = prom_render(t);
	for (const char *line : {
		     "kx_chrony_tracking_info{reference_id=\"C0A80001\",reference_name=\"GPS\","
		     "leap_status=\"Normal\"} 1\n",
		     "kx_chrony_stratum 1\n",
		     "kx_chrony_system_time_offset_seconds 1.23e-07\n",
		     "kx_chrony_frequency_ratio -1.25e-05\n",
		     "kx_chrony_root_delay_seconds 1e-05\n",
		     "kx_chrony_root_dispersion_seconds 0.00025\n",
		     "kx_chrony_leap_status 0\n",
	     })
		EXPECT_NE(out.find(line), std::string::npos) << line << "not in\n" << out;

	prom_text unsynced;
	add_chrony_tracking(unsynced, "00000000,,0,0.000000000,0.000000000,0.000000000,"
				      "0.000000000,0.000,0.000,0.000,1.000000000,1.000000000,"
				      "0.0,Not synchronised");
	out = prom_render(unsynced);
	EXPECT_NE(out.find("kx_chrony_leap_status 3\n"), std::string::npos) << out;
	EXPECT_EQ(out.find("kx_chrony_reference_timestamp_seconds"), std::string::npos) << out;

	prom_text bad;
	add_chrony_tracking(bad, "506 Cannot talk to daemon");
	add_chrony_tracking(bad, "C0A80001,GPS,1,1765300000.1,0,0,0,0,0,0,0,0,16.0");
	EXPECT_EQ(prom_render(bad), "");
}

// A chronyc that never answers (chronyd hung) must not hold the run: it is
// killed at the cap and the chrony series are left out. One that answers is
// asked for the tracking report over the run's command socket.
TEST(Chrony, ChronycIsAskedAndNeverWaitedForLong)
{
	TempRoot root;
	std::string bin = root.dir + "/bin";
	root.write("/bin/chronyc",
		   "#!/bin/sh\n"
		   "[ \"$*\" = \"-n -c -h $KX_ROOT/run/chrony/chronyd.sock tracking\" ] || exit 1\n"
		   "[ -e \"$KX_ROOT/hang\" ] && exec sleep 600\n"
		   "echo 47505300,GPS,1,1765300000.5,0,0,0,0,0,0,0,0.001,1.0,Normal\n");
	ASSERT_EQ(chmod((bin + "/chronyc").c_str(), 0755), 0);
	const char *old_path = std::getenv("PATH");
	std::string saved = old_path ? old_path : "";
	setenv("PATH", (bin + ":" + saved).c_str(), 1);

	prom_text answered;
	collect_chrony_metrics(answered);
	EXPECT_NE(prom_render(answered).find("kx_chrony_root_dispersion_seconds 0.001\n"),
		  std::string::npos)
		<< prom_render(answered);

	root.write("/hang", "");
	prom_text hung;
	collect_chrony_metrics(hung);
	EXPECT_EQ(prom_render(hung), "");
	setenv("PATH", saved.c_str(), 1);
}

// The NTS certificate's expiry, read from the PEM as openssl writes it:
// UTCTime before 2050, GeneralizedTime after; in a chain the earliest
// counts; anything that does not parse, or no file, gives no series.
TEST(Nts, CertificateExpiryAsOpensslWritesIt)
{
	TempRoot root;
	auto make = [&](const char *name, int days) {
		std::string path = root.dir + "/" + name;
		int rc = kx_run({"openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt",
				 "ec_paramgen_curve:P-256", "-nodes", "-keyout", path + ".key", "-out",
				 path, "-subj", "/CN=kx-test", "-days", std::to_string(days)},
				nullptr, 30000);
		EXPECT_EQ(rc, 0) << "openssl req " << name;
		std::ifstream f(path);
		return std::string(std::istreambuf_iterator<char>(f), {});
	};
	int64_t now = time(nullptr);
	std::string soon = make("soon.pem", 30);
	std::string late = make("late.pem", 40000);	// 2136: GeneralizedTime
	auto near = [&](std::optional<int64_t> got, int days) {
		// openssl took the clock a moment before `now`
		return got && std::llabs(*got - (now + days * 86400LL)) < 3600;
	};
	EXPECT_TRUE(near(pem_certificates_expiry(soon), 30));
	EXPECT_TRUE(near(pem_certificates_expiry(late), 40000));
	EXPECT_TRUE(near(pem_certificates_expiry(late + soon), 30)) << "the chain's earliest";

	EXPECT_FALSE(pem_certificates_expiry(""));
	EXPECT_FALSE(pem_certificates_expiry(soon.substr(0, soon.size() / 2) + "\n"));
	std::string broken = soon;
	broken[broken.find('\n') + 1] = 'N';	// "MII..." (a SEQUENCE) becomes tag 0x34
	EXPECT_FALSE(pem_certificates_expiry(broken));

	prom_text none;
	collect_nts_metrics(none);
	EXPECT_EQ(prom_render(none), "") << "no certificate, no series";
	root.write("/var/lib/chrony/kx-nts.crt", late);
	prom_text one;
	collect_nts_metrics(one);
	EXPECT_NE(prom_render(one).find("kx_nts_certificate_expiry_timestamp_seconds " +
					prom_number(static_cast<double>(
						*pem_certificates_expiry(late))) + "\n"),
		  std::string::npos)
		<< prom_render(one);
}

} // namespace
