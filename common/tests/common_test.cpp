#include "kx_file.h"
#include "kx_path.h"
#include "kx_ptp.h"
#include "kx_run.h"
#include "kx_state.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <dirent.h>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

struct RootGuard {
	explicit RootGuard(const char *value)
	{
		if (value)
			setenv("KX_ROOT", value, 1);
		else
			unsetenv("KX_ROOT");
	}
	~RootGuard() { unsetenv("KX_ROOT"); }
};

TEST(KxPath, UnsetOrEmptyRootKeepsTheFixedPath)
{
	{
		RootGuard g(nullptr);
		EXPECT_EQ(kx_path("/dev/kx_pps"), "/dev/kx_pps");
	}
	{
		RootGuard g("");
		EXPECT_EQ(kx_path("/var/volatile/rundata/numsats.dat"),
			  "/var/volatile/rundata/numsats.dat");
	}
}

TEST(KxPath, RootPrefixesWithExactlyOneSlash)
{
	RootGuard g("/tmp/sim//");
	EXPECT_EQ(kx_path("/dev/gpiochip0"), "/tmp/sim/dev/gpiochip0");
	RootGuard h("/tmp/sim");
	EXPECT_EQ(kx_path("/etc/time_mode"), "/tmp/sim/etc/time_mode");
}

// A private folder (on a tmpfs where there is one, as on the appliance),
// removed with whatever is left in it.
struct TempDir {
	TempDir()
	{
		std::string name = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
		name += "/kx_file_test.XXXXXX";
		path = mkdtemp(name.data());
	}
	~TempDir()
	{
		for (const std::string &f : entries())
			unlink((path + "/" + f).c_str());
		rmdir(path.c_str());
	}
	std::vector<std::string> entries() const
	{
		std::vector<std::string> names;
		DIR *d = opendir(path.c_str());
		while (dirent *e = d ? readdir(d) : nullptr)
			if (std::string(e->d_name) != "." && std::string(e->d_name) != "..")
				names.push_back(e->d_name);
		if (d)
			closedir(d);
		return names;
	}
	std::string path;
};

std::string read_whole(const std::string &path)
{
	unique_fd fd(open(path.c_str(), O_RDONLY));
	std::string text;
	char buf[256];
	ssize_t n;
	while (fd.valid() && (n = read(fd.get(), buf, sizeof buf)) > 0)
		text.append(buf, static_cast<size_t>(n));
	return text;
}

// A reader polling the file while it is rewritten many times only ever sees
// one of the whole texts written, never an empty or a partial file.
TEST(KxReplaceFile, ConcurrentReaderSeesOnlyWholeTexts)
{
	TempDir dir;
	const std::string path = dir.path + "/gsnrlist.dat";
	const std::string texts[] = {
	    " 45  40  38  30  27  25  20  19  18  16  12  10 ", "7", "545.4", "48.117,11.516"};
	ASSERT_EQ(kx_replace_file(path.c_str(), texts[0].c_str()), 0);

	std::atomic<bool> done{false};
	std::atomic<long> reads{0}, bad{0};
	std::string first_bad;
	std::thread reader([&] {
		while (!done.load()) {
			std::string seen = read_whole(path);
			reads++;
			bool whole = false;
			for (const std::string &t : texts)
				whole = whole || seen == t;
			if (!whole && bad++ == 0)
				first_bad = seen;
		}
	});
	for (int i = 0; i < 4000; i++)
		ASSERT_EQ(kx_replace_file(path.c_str(), texts[i % 4].c_str()), 0);
	done = true;
	reader.join();

	EXPECT_EQ(bad.load(), 0) << "first bad read: \"" << first_bad << "\"";
	EXPECT_GT(reads.load(), 0);
	EXPECT_EQ(read_whole(path), texts[3]);
	EXPECT_EQ(dir.entries(), std::vector<std::string>{"gsnrlist.dat"}) << "temporary left";
}

// The content arrives by rename: a new inode each time. The mode of an
// existing file is kept; a new file gets 0666 less the umask.
TEST(KxReplaceFile, RenamedOverKeepingTheMode)
{
	TempDir dir;
	const std::string path = dir.path + "/numsats.dat";
	mode_t mask = umask(022);
	ASSERT_EQ(kx_replace_file(path.c_str(), "8"), 0);
	struct stat a, b;
	ASSERT_EQ(stat(path.c_str(), &a), 0);
	EXPECT_EQ(a.st_mode & 07777, 0644u);

	ASSERT_EQ(chmod(path.c_str(), 0600), 0);
	ASSERT_EQ(stat(path.c_str(), &a), 0);
	ASSERT_EQ(kx_replace_file(path.c_str(), "12", 2), 0);
	ASSERT_EQ(stat(path.c_str(), &b), 0);
	umask(mask);
	EXPECT_NE(a.st_ino, b.st_ino);
	EXPECT_EQ(b.st_mode & 07777, 0600u);
	EXPECT_EQ(read_whole(path), "12");
	EXPECT_EQ(dir.entries().size(), 1u);
}

// Failures leave the old state and no temporary behind: a missing folder,
// a path that is a folder, and a stale temporary of this process id.
TEST(KxReplaceFile, FailuresAndLeftovers)
{
	TempDir dir;
	EXPECT_EQ(kx_replace_file((dir.path + "/no/such/x.dat").c_str(), "1"), -1);

	const std::string sub = dir.path + "/sub";
	ASSERT_EQ(mkdir(sub.c_str(), 0755), 0);
	EXPECT_EQ(kx_replace_file(sub.c_str(), "1"), -1);
	struct stat st;
	ASSERT_EQ(stat(sub.c_str(), &st), 0);
	EXPECT_TRUE(S_ISDIR(st.st_mode));
	EXPECT_EQ(dir.entries(), std::vector<std::string>{"sub"});
	rmdir(sub.c_str());

	const std::string path = dir.path + "/coords.dat";
	const std::string stale = dir.path + "/.coords.dat." + std::to_string(getpid()) + ".tmp";
	ASSERT_EQ(kx_replace_file(stale.c_str(), "half"), 0);
	ASSERT_EQ(kx_replace_file(path.c_str(), "48.117,11.516"), 0);
	EXPECT_EQ(read_whole(path), "48.117,11.516");
	EXPECT_EQ(dir.entries(), std::vector<std::string>{"coords.dat"});
}

} // namespace

TEST(KxRun, StatusOutputTimeoutAndMissingProgram)
{
	std::string out = "stale";
	EXPECT_EQ(kx_run({"sh", "-c", "printf 'a,b\\n'; echo err >&2; exit 3"}, &out), 3);
	EXPECT_EQ(out, "a,b\n") << "standard output only, standard error discarded";
	EXPECT_EQ(kx_run({"sh", "-c", "read x; echo \"[$x]\""}, &out), 0) << "input is /dev/null";
	EXPECT_EQ(out, "[]\n");
	EXPECT_EQ(kx_run({"sh", "-c", "exec sleep 30"}, &out, 200), -1) << "killed at the deadline";
	EXPECT_EQ(kx_run({"sh", "-c", "kill -9 $$"}), -1) << "killed by a signal";
	EXPECT_EQ(kx_run({"/nonexistent/kx-program"}), -1);
	EXPECT_EQ(kx_run({}), -1);
}

// Every combination of the module's attributes a service can meet, against
// the rule written out independently: unknown time refuses, a trusted fix
// serves as synchronised, anything else within the limit is holdover.
TEST(KxState, ServiceStateOverAllAttributeCombinations)
{
	char tmpl[] = "/tmp/kx_state_XXXXXX";
	ASSERT_NE(mkdtemp(tmpl), nullptr);
	std::string root = tmpl;
	setenv("KX_ROOT", root.c_str(), 1);
	auto put = [&](const char *name, const char *text) {
		std::string p = root + "/sys/pps_filter/" + name;
		if (text == nullptr) {
			unlink(p.c_str());
			return;
		}
		FILE *f = fopen(p.c_str(), "w");
		ASSERT_NE(f, nullptr);
		fputs(text, f);
		fclose(f);
	};
	EXPECT_EQ(kx_service_state(kx_read_module_state()), KxService::sentences) << "no module";
	ASSERT_EQ(system(("mkdir -p " + root + "/sys/pps_filter " + root + "/dev").c_str()), 0);
	const char *known[] = {nullptr, "0\n", "1\n"};
	const char *fixes[] = {"0\n", "1\n", "2\n"};
	const char *gnss[] = {nullptr, "off\n", "qualifying\n", "trusted\n", "suspect\n"};
	for (bool pps : {false, true}) {
		std::string dev = root + "/dev/pps-kx";
		if (pps)
			close(open(dev.c_str(), O_CREAT | O_WRONLY, 0600));
		else
			unlink(dev.c_str());
		for (const char *k : known)
			for (const char *f : fixes)
				for (const char *g : gnss) {
					put("timeknown", k);
					put("gpsfix", f);
					put("gnss_state", g);
					KxModuleState s = kx_read_module_state();
					KxService want = !pps || k == nullptr ? KxService::sentences
					                 : k[0] == '0'        ? KxService::unsynchronised
					                 : f[0] != '0' && (g == nullptr || g[0] != 's')
					                         ? KxService::synchronised
					                         : KxService::holdover;
					EXPECT_EQ(kx_service_state(s), want)
					        << "pps " << pps << " timeknown " << (k ? k : "-") << " fix " << f
					        << " gnss " << (g ? g : "-");
					EXPECT_EQ(s.gnss == KxGnss::suspect, g != nullptr && g[0] == 's');
				}
	}
	unsetenv("KX_ROOT");
	ASSERT_EQ(system(("rm -rf " + root).c_str()), 0);
}

// What each service state announces over PTP: the classes of IEEE 1588's
// table (6 locked to GPS, 7 holding over, 248 not traceable), and the
// accuracy, traceability and UTC offset that go with them. The SET command
// and the reading of pmc's response must agree field by field: a response
// written from the command's own "name value" pairs reads back the same.
TEST(KxPtp, SettingsPerStateAndTheirPmcRoundTrip)
{
	struct Want {
		KxService service;
		int clock_class, accuracy, variance;
		bool traceable;
	};
	const Want wants[] = {
		{KxService::synchronised, 6, 0x21, 0x4e5d, true},
		{KxService::holdover, 7, 0x21, 0x4e5d, true},
		{KxService::unsynchronised, 248, 0xfe, 0xffff, false},
		{KxService::sentences, 248, 0xfe, 0xffff, false},
	};
	for (const Want &w : wants)
		for (int tai : {37, 38, -1}) {
			KxPtpSettings s = kx_ptp_settings(w.service, tai);
			EXPECT_EQ(s.clock_class, w.clock_class);
			EXPECT_EQ(s.clock_accuracy, w.accuracy);
			EXPECT_EQ(s.offset_scaled_log_variance, w.variance);
			EXPECT_EQ(s.time_traceable, w.traceable);
			EXPECT_EQ(s.frequency_traceable, w.traceable);
			EXPECT_EQ(s.current_utc_offset_valid, w.traceable && tai >= 0);
			EXPECT_EQ(s.current_utc_offset, tai >= 0 ? tai : 37);
			EXPECT_TRUE(s.ptp_timescale);
			EXPECT_EQ(s.time_source, 0x20);

			std::string cmd = kx_ptp_set_command(s);
			const std::string head = "SET GRANDMASTER_SETTINGS_NP ";
			ASSERT_EQ(cmd.compare(0, head.size(), head), 0) << cmd;
			std::string response = "\t0a0b0c.fffe.0d0e0f-0 seq 0 RESPONSE MANAGEMENT "
			                       "GRANDMASTER_SETTINGS_NP \n";
			std::istringstream words(cmd.substr(head.size()));
			std::string name, value;
			while (words >> name >> value)
				response += "\t\t" + name + "    " + value + "\n";
			KxPtpSettings back;
			ASSERT_TRUE(kx_ptp_parse_settings(response, &back)) << response;
			EXPECT_EQ(back, s) << response;
		}
}

// pmc 3.1.1's own output (from a ptp4l just started); a response cut short
// or absent (ptp4l not running) is no reading.
TEST(KxPtp, ParsesPmcOutputAndRefusesPartialOnes)
{
	const std::string out = "sending: GET GRANDMASTER_SETTINGS_NP\n"
	                        "\t523ec4.fffe.5207d4-0 seq 0 RESPONSE MANAGEMENT GRANDMASTER_SETTINGS_NP \n"
	                        "\t\tclockClass              248\n"
	                        "\t\tclockAccuracy           0xfe\n"
	                        "\t\toffsetScaledLogVariance 0xffff\n"
	                        "\t\tcurrentUtcOffset        37\n"
	                        "\t\tleap61                  0\n"
	                        "\t\tleap59                  0\n"
	                        "\t\tcurrentUtcOffsetValid   0\n"
	                        "\t\tptpTimescale            0\n"
	                        "\t\ttimeTraceable           0\n"
	                        "\t\tfrequencyTraceable      0\n"
	                        "\t\ttimeSource              0x20\n";
	KxPtpSettings s;
	ASSERT_TRUE(kx_ptp_parse_settings(out, &s));
	EXPECT_EQ(s.clock_class, 248);
	EXPECT_EQ(s.clock_accuracy, 0xfe);
	EXPECT_EQ(s.offset_scaled_log_variance, 0xffff);
	EXPECT_FALSE(s.ptp_timescale);
	EXPECT_EQ(s.time_source, 0x20);
	EXPECT_FALSE(kx_ptp_parse_settings(out.substr(0, out.find("\t\ttimeTraceable")), &s));
	EXPECT_FALSE(kx_ptp_parse_settings("sending: GET GRANDMASTER_SETTINGS_NP\n", &s));
	EXPECT_FALSE(kx_ptp_parse_settings(out.substr(out.find("\t\tclockClass")), &s))
	        << "fields without the response's heading";
}

// ntpgate and kxmetrics talk to each port's ptp4l on the socket and in the domain its
// configuration names; only [global] counts, comments and the interface's
// section do not, and an absent key is ptp4l's default. The socket is a
// fixed path, so it is taken under KX_ROOT.
TEST(KxPtp, PortFromConfiguration)
{
	unsetenv("KX_ROOT");
	KxPtpPort p = kx_ptp_port_from_config("eth0", "[global]\n"
	                                         "# domainNumber 9\n"
	                                         "domainNumber\t\t24\n"
	                                         "uds_address /run/ptp4l-eth0\n"
	                                         "[eth0]\n"
	                                         "domainNumber 3\n");
	EXPECT_EQ(p.name, "eth0");
	EXPECT_EQ(p.domain, 24);
	EXPECT_EQ(p.uds, "/run/ptp4l-eth0");
	setenv("KX_ROOT", "/tmp/r", 1);
	p = kx_ptp_port_from_config("eth1", "[eth1]\nuds_address /x\n");
	EXPECT_EQ(p.domain, 0);
	EXPECT_EQ(p.uds, "/tmp/r/var/run/ptp4l");
	unsetenv("KX_ROOT");
}
