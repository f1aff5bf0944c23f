// kxkernel: the kx_pps kernel module's own sources running live against the
// simulated board, so the appliance's programs meet the real module code.
//
// The module runs on the host layer in live mode (testbed/hostkernel/live.c): real
// threads for its work queues, kernel threads and timers, real time, and a
// CLOCK_REALTIME of its own that the module's system-clock setter moves.
// What the module touches on the board is wired to simboard:
//   - I2C adapter 1 is simboard's bus 1 ($KX_ROOT/dev/i2c-1): the DAC8571
//     at 0x4C and the antenna monitor at 0x40;
//   - the GPS UART is the receiver model's serial line ($KX_ROOT/dev/ttyGPS0),
//     and each speed the module sets is declared to the model (`gps uart N`);
//   - TPM4's channel-2 capture and the pulse interrupt come from the VCXO
//     model: a datagram per pulse on $KX_ROOT/dev/tpm4 ("COUNT OVERFLOW
//     EDGE"), and both PHYs (the stub's) time-stamp the edge.
// What user space sees of the module appears under $KX_ROOT through FUSE:
//   - sys/pps_filter, a directory mount: one file per attribute; a read
//     calls the attribute's show, a write its store (a store's error is the
//     writer's errno), an open the file's handlers do not allow fails with
//     EACCES, as in sysfs;
//   - sys/module/kx_pps/parameters, a directory mount the same way: one
//     file per module parameter with a mode (loop_mode, last_count, ...),
//     its value as the kernel shows it, writable where the mode says so;
//   - sys/class/pps/pps0, a directory mount with the module's LinuxPPS
//     source as the pps class shows it: "name" and "assert" (read-only);
//   - dev/kx_pps, a mount on a single file: open, read, write and release
//     call the character device's file operations, so one opener at a time
//     (EBUSY), blocking reads, at most 256 bytes per read. Direct I/O keeps
//     the page cache out and hands every read to the module as it is made.
// FUSE rather than CUSE: CUSE would make the node in this machine's /dev,
// shared by every run and every test, while the programs open
// kx_path("/dev/kx_pps") beside simboard's sockets; FUSE puts both files
// exactly there, under each run's own root.
//
// Arguments are the module's parameters as insmod takes them, "name=value",
// set before the load (a test shortens a waiting time this way).
//
// Prints "kxkernel ready" once the module is loaded and the mounts are up;
// runs until SIGTERM or SIGINT, then unmounts and unloads the module.
#define FUSE_USE_VERSION 31

#include "kx_i2c.h"
#include "kx_path.h"
#include "kxk_module.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <fuse_lowlevel.h>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>
#include <vector>
#include <condition_variable>

namespace {

std::atomic<bool> stopping{false};

int64_t monotonic_ns()
{
	timespec ts;
	clock_gettime(CLOCK_MONOTONIC, &ts);
	return ts.tv_sec * INT64_C(1000000000) + ts.tv_nsec;
}

// ---- sockets ---------------------------------------------------------------

bool unix_address(const std::string &path, sockaddr_un *sa)
{
	*sa = sockaddr_un{};
	sa->sun_family = AF_UNIX;
	if (path.size() >= sizeof sa->sun_path)
		return false;
	std::strcpy(sa->sun_path, path.c_str());
	return true;
}

int unix_connect(const std::string &path, int type)
{
	sockaddr_un sa;
	if (!unix_address(path, &sa))
		return -1;
	int fd = socket(AF_UNIX, type | SOCK_CLOEXEC, 0);
	if (fd >= 0 && connect(fd, reinterpret_cast<sockaddr *>(&sa), sizeof sa) != 0) {
		close(fd);
		fd = -1;
	}
	return fd;
}

// One command on simboard's control socket: its reply line ("" when none).
std::string board_command(const std::string &command)
{
	int fd = unix_connect(kx_path("/run/simboard.sock"), SOCK_STREAM);
	if (fd < 0)
		return "";
	std::string line = command + "\n", reply;
	if (send(fd, line.data(), line.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(line.size())) {
		char c;
		while (read(fd, &c, 1) == 1 && c != '\n')
			reply += c;
	}
	close(fd);
	return reply;
}

// The board's LPUART changes speed only once its transmitter is empty:
// wait until every byte sent so far has left at the old speed and the
// receiver model has taken it.
void wait_line_drained(int64_t done_ns)
{
	int64_t left = done_ns + 20000000 - monotonic_ns();
	if (left > 0)
		usleep(static_cast<useconds_t>(left / 1000));
	for (int i = 0; i < 200 && !stopping; i++) {
		std::string state = board_command("gps state");
		size_t at = state.find(" rx_pending=");
		if (at == std::string::npos || std::atol(state.c_str() + at + 12) == 0)
			return;
		usleep(10000);
	}
}

// ---- the wire to the board ------------------------------------------------

std::mutex uart_mutex;  // guards uart_fd for the transmit side
int uart_fd = -1;

// The UART's speed goes to the receiver model from a thread of its own, so
// the module (which holds the simulated CPU) never waits for the board.
std::mutex speed_mutex;
std::condition_variable speed_cv;
unsigned int speed_wanted = 0, speed_told = 0;

// When the last byte written so far has left the line at the speed in
// force (CLOCK_MONOTONIC ns): 10 bits a byte.
int64_t tx_done_ns = 0;
unsigned int tx_speed = 9600;

void wire_transmit(void *, const unsigned char *data, size_t len)
{
	{
		std::lock_guard<std::mutex> lock(speed_mutex);
		tx_done_ns = std::max(tx_done_ns, monotonic_ns()) +
			     static_cast<int64_t>(len) * 10 * 1000000000 / tx_speed;
	}
	std::lock_guard<std::mutex> lock(uart_mutex);
	if (uart_fd >= 0)
		send(uart_fd, data, len, MSG_NOSIGNAL | MSG_DONTWAIT);
}

void wire_speed(void *, unsigned int speed)
{
	std::lock_guard<std::mutex> lock(speed_mutex);
	speed_wanted = speed;
	speed_cv.notify_all();
}

void speed_teller()
{
	std::unique_lock<std::mutex> lock(speed_mutex);
	while (!stopping) {
		speed_cv.wait(lock, [] { return stopping || (speed_wanted != speed_told); });
		if (stopping)
			break;
		unsigned int speed = speed_wanted;
		int64_t done = tx_done_ns;
		lock.unlock();
		wait_line_drained(done);
		board_command("gps uart " + std::to_string(speed));
		lock.lock();
		speed_told = speed;
		tx_speed = speed;
	}
}

int i2c_fd = -1;  // used with the simulated CPU held, so by one thread at a time

int wire_i2c(uint16_t addr, int is_read, uint8_t *buf, uint16_t len)
{
	if (i2c_fd < 0)
		i2c_fd = kx_i2c_open(kx_path("/dev/i2c-1").c_str());
	if (i2c_fd < 0)
		return -ENXIO;
	ssize_t n = kx_i2c_set_address(i2c_fd, addr);
	if (n == 0)
		n = is_read ? kx_i2c_read(i2c_fd, buf, len) : kx_i2c_write(i2c_fd, buf, len);
	if (n == static_cast<ssize_t>(len))
		return 0;
	int err = n < 0 ? errno : EIO;
	if (err != ENXIO && err != EREMOTEIO) {
		kx_i2c_close(i2c_fd);  // the board went away: reconnect next time
		i2c_fd = -1;
	}
	return -err;
}

const kxk_wire wire = {wire_transmit, wire_speed, wire_i2c, nullptr};

// Serial bytes from the receiver model into the module's serial driver.
// The port stays connected; when the board is not there yet, or goes, it
// is tried again every 100 ms.
bool uart_connect()
{
	int fd = unix_connect(kx_path("/dev/ttyGPS0"), SOCK_STREAM);
	std::lock_guard<std::mutex> lock(uart_mutex);
	uart_fd = fd;
	return fd >= 0;
}

void uart_reader()
{
	while (!stopping) {
		int fd;
		{
			std::lock_guard<std::mutex> lock(uart_mutex);
			fd = uart_fd;
		}
		if (fd < 0 && !uart_connect()) {
			usleep(100000);
			continue;
		}
		{
			std::lock_guard<std::mutex> lock(uart_mutex);
			fd = uart_fd;
		}
		unsigned char buf[512];
		ssize_t n;
		while (!stopping && (n = recv(fd, buf, sizeof buf, 0)) > 0) {
			size_t done = 0;
			// a full receive buffer takes the rest later, as a tty flip buffer
			while (!stopping && done < static_cast<size_t>(n)) {
				size_t took = kxk_uart_receive(buf + done, static_cast<size_t>(n) - done);
				done += took;
				if (took == 0)
					usleep(1000);
			}
		}
		std::lock_guard<std::mutex> lock(uart_mutex);
		close(uart_fd);
		uart_fd = -1;
	}
}

// The pulse: one datagram per pulse edge from the VCXO model.
int pulse_fd = -1;

void pulse_reader()
{
	char msg[64];
	ssize_t n;
	while ((n = recv(pulse_fd, msg, sizeof msg - 1, 0)) >= 0 && !stopping) {
		msg[n] = '\0';
		unsigned long count;
		int overflow = 0;
		long long edge_ns = 0;
		if (std::sscanf(msg, "%lu %d %lld", &count, &overflow, &edge_ns) >= 1)
			kxk_pulse(static_cast<uint32_t>(count), overflow, edge_ns);
	}
}

int pulse_socket(const std::string &path)
{
	sockaddr_un sa;
	if (!unix_address(path, &sa))
		return -1;
	unlink(path.c_str());
	int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
	if (fd >= 0 && bind(fd, reinterpret_cast<sockaddr *>(&sa), sizeof sa) != 0) {
		close(fd);
		fd = -1;
	}
	return fd;
}

// ---- /sys/pps_filter and /sys/module/kx_pps/parameters ----------------------

// A directory of the module's sysfs files: the attributes, or the module's
// parameters; each mount's user data.
struct AttrDir {
	const char *(*name)(int i);
	int (*mode)(const char *name);
	int (*open)(const char *name, int want_read, int want_write);
	long (*show)(const char *name, char *buf, size_t size);
	long (*store)(const char *name, const char *data, size_t len);
};

// a parameter's file opens as its mode allows
int param_open(const char *name, int want_read, int want_write)
{
	int mode = kxk_param_mode(name);
	if (mode < 0)
		return mode;
	return (want_read && !(mode & 0444)) || (want_write && !(mode & 0222)) ? -EACCES : 0;
}

long param_store(const char *name, const char *data, size_t len)
{
	return kxk_param_store(name, data, len);
}

const AttrDir attr_dir = {kxk_attr_name, kxk_attr_mode, kxk_attr_open, kxk_attr_show,
			  kxk_attr_store};
const AttrDir param_dir = {kxk_param_name, kxk_param_mode, param_open, kxk_param_show,
			   param_store};

const AttrDir *dir_of(fuse_req_t req)
{
	return static_cast<const AttrDir *>(fuse_req_userdata(req));
}

// inode 1 is the directory, 2 + i the i-th file
const char *attr_of(fuse_req_t req, fuse_ino_t ino)
{
	return ino >= 2 ? dir_of(req)->name(static_cast<int>(ino - 2)) : nullptr;
}

void attr_stat(fuse_req_t req, fuse_ino_t ino, struct stat *st)
{
	*st = {};
	st->st_ino = ino;
	if (ino == FUSE_ROOT_ID) {
		st->st_mode = S_IFDIR | 0755;
		st->st_nlink = 2;
		return;
	}
	// sysfs shows every attribute as one page long
	st->st_mode = S_IFREG | static_cast<mode_t>(dir_of(req)->mode(attr_of(req, ino)) & 07777);
	st->st_nlink = 1;
	st->st_size = 4096;
}

void attrs_lookup(fuse_req_t req, fuse_ino_t parent, const char *name)
{
	if (parent == FUSE_ROOT_ID)
		for (int i = 0; const char *n = dir_of(req)->name(i); i++)
			if (std::strcmp(n, name) == 0) {
				fuse_entry_param e{};
				e.ino = static_cast<fuse_ino_t>(i + 2);
				attr_stat(req, e.ino, &e.attr);
				fuse_reply_entry(req, &e);
				return;
			}
	fuse_reply_err(req, ENOENT);
}

void attrs_getattr(fuse_req_t req, fuse_ino_t ino, fuse_file_info *)
{
	if (ino != FUSE_ROOT_ID && attr_of(req, ino) == nullptr) {
		fuse_reply_err(req, ENOENT);
		return;
	}
	struct stat st;
	attr_stat(req, ino, &st);
	fuse_reply_attr(req, &st, 0);
}

// truncation (an open with O_TRUNC) is accepted and changes nothing, as in sysfs
void attrs_setattr(fuse_req_t req, fuse_ino_t ino, struct stat *, int, fuse_file_info *fi)
{
	attrs_getattr(req, ino, fi);
}

void attrs_readdir(fuse_req_t req, fuse_ino_t ino, size_t size, off_t off, fuse_file_info *)
{
	if (ino != FUSE_ROOT_ID) {
		fuse_reply_err(req, ENOTDIR);
		return;
	}
	std::vector<char> buf(size);
	size_t used = 0;
	std::vector<std::pair<std::string, fuse_ino_t>> names = {{".", 1}, {"..", 1}};
	for (int i = 0; const char *n = dir_of(req)->name(i); i++)
		names.push_back({n, static_cast<fuse_ino_t>(i + 2)});
	for (size_t i = static_cast<size_t>(off); i < names.size(); i++) {
		struct stat st{};
		st.st_ino = names[i].second;
		st.st_mode = i < 2 ? S_IFDIR : S_IFREG;
		size_t n = fuse_add_direntry(req, buf.data() + used, size - used, names[i].first.c_str(),
					     &st, static_cast<off_t>(i + 1));
		if (n > size - used)
			break;
		used += n;
	}
	fuse_reply_buf(req, buf.data(), used);
}

// What show gave at the open's first read; later reads continue from it,
// as a sysfs file read in pieces does.
struct AttrFile {
	std::string text;
	bool shown = false;
};

void attrs_open(fuse_req_t req, fuse_ino_t ino, fuse_file_info *fi)
{
	const char *name = attr_of(req, ino);
	if (name == nullptr) {
		fuse_reply_err(req, ino == FUSE_ROOT_ID ? EISDIR : ENOENT);
		return;
	}
	int acc = fi->flags & O_ACCMODE;
	int err = dir_of(req)->open(name, acc != O_WRONLY, acc != O_RDONLY);
	if (err != 0) {
		fuse_reply_err(req, -err);
		return;
	}
	fi->direct_io = 1;
	fi->fh = reinterpret_cast<uint64_t>(new AttrFile);
	fuse_reply_open(req, fi);
}

// A read of an open attribute: show runs at the first read (and again at a
// read from offset 0), later reads continue from what it gave.
template <typename Show>
void reply_shown(fuse_req_t req, AttrFile *f, size_t size, off_t off, Show show)
{
	if (!f->shown || off == 0) {
		char page[4097];
		long n = show(page, sizeof page);
		if (n < 0) {
			fuse_reply_err(req, static_cast<int>(-n));
			return;
		}
		f->text.assign(page, static_cast<size_t>(n));
		f->shown = true;
	}
	size_t at = std::min(static_cast<size_t>(off), f->text.size());
	fuse_reply_buf(req, f->text.data() + at, std::min(size, f->text.size() - at));
}

void attrs_read(fuse_req_t req, fuse_ino_t ino, size_t size, off_t off, fuse_file_info *fi)
{
	reply_shown(req, reinterpret_cast<AttrFile *>(fi->fh), size, off,
		    [&](char *page, size_t len) { return dir_of(req)->show(attr_of(req, ino), page, len); });
}

void attrs_write(fuse_req_t req, fuse_ino_t ino, const char *buf, size_t size, off_t,
		 fuse_file_info *)
{
	long n = dir_of(req)->store(attr_of(req, ino), buf, size);
	if (n < 0)
		fuse_reply_err(req, static_cast<int>(-n));
	else
		fuse_reply_write(req, static_cast<size_t>(n));
}

void attrs_release(fuse_req_t req, fuse_ino_t, fuse_file_info *fi)
{
	delete reinterpret_cast<AttrFile *>(fi->fh);
	fuse_reply_err(req, 0);
}

// ---- /sys/class/pps/pps0 ---------------------------------------------------

// inode 1 is the directory, 2 "name", 3 "assert"
const char *const pps_files[] = {"name", "assert"};

void pps_stat(fuse_ino_t ino, struct stat *st)
{
	*st = {};
	st->st_ino = ino;
	st->st_mode = ino == FUSE_ROOT_ID ? S_IFDIR | 0755 : S_IFREG | 0444;
	st->st_nlink = ino == FUSE_ROOT_ID ? 2 : 1;
	st->st_size = ino == FUSE_ROOT_ID ? 0 : 4096;
}

void pps_lookup(fuse_req_t req, fuse_ino_t parent, const char *name)
{
	for (fuse_ino_t i = 0; parent == FUSE_ROOT_ID && i < 2; i++)
		if (std::strcmp(pps_files[i], name) == 0) {
			fuse_entry_param e{};
			e.ino = i + 2;
			pps_stat(e.ino, &e.attr);
			fuse_reply_entry(req, &e);
			return;
		}
	fuse_reply_err(req, ENOENT);
}

void pps_getattr(fuse_req_t req, fuse_ino_t ino, fuse_file_info *)
{
	if (ino > 3) {
		fuse_reply_err(req, ENOENT);
		return;
	}
	struct stat st;
	pps_stat(ino, &st);
	fuse_reply_attr(req, &st, 0);
}

void pps_readdir(fuse_req_t req, fuse_ino_t ino, size_t size, off_t off, fuse_file_info *)
{
	if (ino != FUSE_ROOT_ID) {
		fuse_reply_err(req, ENOTDIR);
		return;
	}
	const char *names[] = {".", "..", pps_files[0], pps_files[1]};
	std::vector<char> buf(size);
	size_t used = 0;
	for (size_t i = static_cast<size_t>(off); i < 4; i++) {
		struct stat st{};
		st.st_ino = i < 2 ? 1 : i;
		st.st_mode = i < 2 ? S_IFDIR : S_IFREG;
		size_t n = fuse_add_direntry(req, buf.data() + used, size - used, names[i], &st,
					     static_cast<off_t>(i + 1));
		if (n > size - used)
			break;
		used += n;
	}
	fuse_reply_buf(req, buf.data(), used);
}

void pps_open(fuse_req_t req, fuse_ino_t ino, fuse_file_info *fi)
{
	if (ino < 2 || ino > 3 || (fi->flags & O_ACCMODE) != O_RDONLY) {
		fuse_reply_err(req, ino == FUSE_ROOT_ID ? EISDIR : EACCES);
		return;
	}
	fi->direct_io = 1;
	fi->fh = reinterpret_cast<uint64_t>(new AttrFile);
	fuse_reply_open(req, fi);
}

void pps_read(fuse_req_t req, fuse_ino_t ino, size_t size, off_t off, fuse_file_info *fi)
{
	reply_shown(req, reinterpret_cast<AttrFile *>(fi->fh), size, off,
		    [&](char *page, size_t len) { return kxk_pps_show(static_cast<int>(ino - 2), page, len); });
}

// ---- /dev/kx_pps ----------------------------------------------------------

// Reads in progress: each has the flag its sleep tests as a pending
// signal; a FUSE interrupt (the reader got a signal) or the stop raises it.
struct DevRead {
	volatile int interrupted = 0;
};
std::mutex reads_mutex;
std::set<DevRead *> reads;

void dev_getattr(fuse_req_t req, fuse_ino_t ino, fuse_file_info *)
{
	struct stat st{};
	st.st_ino = ino;
	st.st_mode = S_IFREG | 0600;
	st.st_nlink = 1;
	fuse_reply_attr(req, &st, 0);
}

void dev_setattr(fuse_req_t req, fuse_ino_t ino, struct stat *, int, fuse_file_info *fi)
{
	dev_getattr(req, ino, fi);
}

// FUSE hands over a close in two steps: FLUSH while close() is still in the
// caller, RELEASE afterwards and asynchronously. A character device's
// release has run by the time the last close() returns, so a program that
// closes the device and opens it again at once must not see EBUSY from the
// release that is still on its way. Handles whose close has begun are kept
// here; an open refused while any is pending waits (boundedly) for its
// release and tries once more. A handle flushed but still open through a
// duplicate descriptor only delays that EBUSY.
std::mutex closing_mutex;
std::condition_variable closing_cv;
std::set<uint64_t> closing;

void dev_flush(fuse_req_t req, fuse_ino_t, fuse_file_info *fi)
{
	{
		std::lock_guard<std::mutex> lock(closing_mutex);
		closing.insert(fi->fh);
	}
	fuse_reply_err(req, 0);
}

bool wait_pending_releases()
{
	std::unique_lock<std::mutex> lock(closing_mutex);
	return closing_cv.wait_for(lock, std::chrono::seconds(2), [] { return closing.empty(); });
}

void dev_open(fuse_req_t req, fuse_ino_t, fuse_file_info *fi)
{
	int err = 0;
	void *f = kxk_dev_open(fi->flags, &err);
	if (f == nullptr && err == -EBUSY && wait_pending_releases())
		f = kxk_dev_open(fi->flags, &err);
	if (f == nullptr) {
		fuse_reply_err(req, -err);
		return;
	}
	fi->direct_io = 1;
	fi->nonseekable = 1;
	fi->fh = reinterpret_cast<uint64_t>(f);
	if (fuse_reply_open(req, fi) != 0)
		kxk_dev_close(f);  // the opener is gone
}

void dev_interrupted(fuse_req_t, void *data)
{
	static_cast<DevRead *>(data)->interrupted = 1;
	kxk_kick();
}

void dev_read(fuse_req_t req, fuse_ino_t, size_t size, off_t, fuse_file_info *fi)
{
	DevRead r;
	{
		std::lock_guard<std::mutex> lock(reads_mutex);
		r.interrupted = stopping ? 1 : 0;
		reads.insert(&r);
	}
	fuse_req_interrupt_func(req, dev_interrupted, &r);
	std::vector<char> buf(size);
	long n = kxk_dev_read(reinterpret_cast<void *>(fi->fh), buf.data(), size,
			      (fi->flags & O_NONBLOCK) != 0, &r.interrupted);
	fuse_req_interrupt_func(req, nullptr, nullptr);
	{
		std::lock_guard<std::mutex> lock(reads_mutex);
		reads.erase(&r);
	}
	// ERESTARTSYS (512) is never seen by a user: the read fails with EINTR
	if (n == -512)
		n = -EINTR;
	if (n < 0)
		fuse_reply_err(req, static_cast<int>(-n));
	else
		fuse_reply_buf(req, buf.data(), static_cast<size_t>(n));
}

void dev_write(fuse_req_t req, fuse_ino_t, const char *buf, size_t size, off_t, fuse_file_info *fi)
{
	long n = kxk_dev_write(reinterpret_cast<void *>(fi->fh), buf, size);
	if (n < 0)
		fuse_reply_err(req, static_cast<int>(-n));
	else
		fuse_reply_write(req, static_cast<size_t>(n));
}

void dev_release(fuse_req_t req, fuse_ino_t, fuse_file_info *fi)
{
	kxk_dev_close(reinterpret_cast<void *>(fi->fh));
	{
		std::lock_guard<std::mutex> lock(closing_mutex);
		closing.erase(fi->fh);
	}
	closing_cv.notify_all();
	fuse_reply_err(req, 0);
}

void stop_reads()
{
	std::lock_guard<std::mutex> lock(reads_mutex);
	for (DevRead *r : reads)
		r->interrupted = 1;
	kxk_kick();
}

// ---- mounts ---------------------------------------------------------------

struct Mount {
	fuse_session *se = nullptr;
	std::thread loop;
};

bool mount(Mount *m, const fuse_lowlevel_ops &ops, const std::string &where, bool threads,
	   const void *userdata = nullptr)
{
	const char *argv[] = {"kxkernel", "-o", "allow_other,fsname=kx_pps,subtype=kx_pps"};
	fuse_args args = FUSE_ARGS_INIT(3, const_cast<char **>(argv));
	m->se = fuse_session_new(&args, &ops, sizeof ops, const_cast<void *>(userdata));
	if (m->se == nullptr || fuse_session_mount(m->se, where.c_str()) != 0) {
		std::fprintf(stderr, "kxkernel: cannot mount %s\n", where.c_str());
		return false;
	}
	fuse_session *se = m->se;
	m->loop = std::thread([se, threads] {
		if (threads)
			fuse_session_loop_mt(se, 0);  // a blocked read keeps one thread
		else
			fuse_session_loop(se);
	});
	return true;
}

void unmount(Mount *m)
{
	if (m->se == nullptr)
		return;
	fuse_session_exit(m->se);
	fuse_session_unmount(m->se);
	// the loop ends when the connection goes, which an opener still
	// holding the file delays: the process exit ends it then
	m->loop.detach();
}

}  // namespace

int main(int argc, char **argv)
{
	kx_unbuffered_output();
	const char *root = std::getenv("KX_ROOT");
	if (root == nullptr || root[0] == '\0') {
		std::fprintf(stderr, "kxkernel: set KX_ROOT\n");
		return 2;
	}
	for (int i = 1; i < argc; i++) {
		std::string arg = argv[i];
		size_t eq = arg.find('=');
		int err = eq == std::string::npos || eq == 0
				  ? -EINVAL
				  : kxk_param_preset(arg.substr(0, eq).c_str(), arg.c_str() + eq + 1);
		if (err != 0) {
			std::fprintf(stderr, "kxkernel: parameter %s: %s\n", argv[i],
				     std::strerror(-err));
			return 2;
		}
	}
	sigset_t sigs;
	sigemptyset(&sigs);
	sigaddset(&sigs, SIGTERM);
	sigaddset(&sigs, SIGINT);
	pthread_sigmask(SIG_BLOCK, &sigs, nullptr);  // every thread inherits this
	signal(SIGPIPE, SIG_IGN);

	std::string attrs_dir = kx_path("/sys/pps_filter");
	std::string dev_file = kx_path("/dev/kx_pps");
	mkdir(kx_path("/sys").c_str(), 0755);
	mkdir(attrs_dir.c_str(), 0755);
	std::string pps_dir = kx_path("/sys/class/pps/pps0");
	mkdir(kx_path("/sys/class").c_str(), 0755);
	mkdir(kx_path("/sys/class/pps").c_str(), 0755);
	mkdir(pps_dir.c_str(), 0755);
	std::string params_dir = kx_path("/sys/module/kx_pps/parameters");
	mkdir(kx_path("/sys/module").c_str(), 0755);
	mkdir(kx_path("/sys/module/kx_pps").c_str(), 0755);
	mkdir(params_dir.c_str(), 0755);
	mkdir(kx_path("/dev").c_str(), 0755);
	int fd = open(dev_file.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0600);
	if (fd >= 0)
		close(fd);

	pulse_fd = pulse_socket(kx_path("/dev/tpm4"));
	if (pulse_fd < 0) {
		std::fprintf(stderr, "kxkernel: cannot bind %s\n", kx_path("/dev/tpm4").c_str());
		return 1;
	}
	// the wire is there before the module's probe talks to the receiver
	uart_connect();
	int err = kxk_load(&wire);
	if (err != 0) {
		std::fprintf(stderr, "kxkernel: module load failed: %d\n", err);
		return 1;
	}

	fuse_lowlevel_ops attr_ops{};
	attr_ops.lookup = attrs_lookup;
	attr_ops.getattr = attrs_getattr;
	attr_ops.setattr = attrs_setattr;
	attr_ops.readdir = attrs_readdir;
	attr_ops.open = attrs_open;
	attr_ops.read = attrs_read;
	attr_ops.write = attrs_write;
	attr_ops.release = attrs_release;
	fuse_lowlevel_ops pps_ops{};
	pps_ops.lookup = pps_lookup;
	pps_ops.getattr = pps_getattr;
	pps_ops.readdir = pps_readdir;
	pps_ops.open = pps_open;
	pps_ops.read = pps_read;
	pps_ops.release = attrs_release;
	fuse_lowlevel_ops dev_ops{};
	dev_ops.getattr = dev_getattr;
	dev_ops.setattr = dev_setattr;
	dev_ops.open = dev_open;
	dev_ops.read = dev_read;
	dev_ops.write = dev_write;
	dev_ops.flush = dev_flush;
	dev_ops.release = dev_release;

	Mount attrs, params, pps, dev;
	std::thread uart(uart_reader), pulses(pulse_reader), speeds(speed_teller);
	int status = 0;
	if (mount(&attrs, attr_ops, attrs_dir, false, &attr_dir) &&
	    mount(&params, attr_ops, params_dir, false, &param_dir) &&
	    mount(&pps, pps_ops, pps_dir, false) &&
	    mount(&dev, dev_ops, dev_file, true)) {
		std::printf("kxkernel ready\n");
		int sig;
		sigwait(&sigs, &sig);
	} else {
		status = 1;
	}

	stopping = true;
	unmount(&dev);
	unmount(&pps);
	unmount(&params);
	unmount(&attrs);
	stop_reads();
	speed_cv.notify_all();
	shutdown(pulse_fd, SHUT_RDWR);
	{
		std::lock_guard<std::mutex> lock(uart_mutex);
		if (uart_fd >= 0)
			shutdown(uart_fd, SHUT_RDWR);
	}
	uart.join();
	speeds.join();
	// a datagram wakes the pulse reader from its recv
	int poke = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
	sockaddr_un sa;
	if (poke >= 0 && unix_address(kx_path("/dev/tpm4"), &sa))
		sendto(poke, "", 0, 0, reinterpret_cast<sockaddr *>(&sa), sizeof sa);
	if (poke >= 0)
		close(poke);
	pulses.join();
	kxk_unload();
	unlink(kx_path("/dev/tpm4").c_str());
	unlink(dev_file.c_str());
	std::printf("kxkernel stopped\n");
	std::fflush(stdout);
	_exit(status);  // FUSE loop threads may still wait on a connection
}
