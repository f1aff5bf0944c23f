#include "kx_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

void unique_fd::reset(int fd)
{
	if (fd_ >= 0)
		close(fd_);
	fd_ = fd;
}

namespace {

// Writes every byte, going on after partial writes and interruptions.
bool write_all(int fd, const char *p, size_t n)
{
	while (n > 0) {
		ssize_t w = write(fd, p, n);
		if (w < 0 && errno == EINTR)
			continue;
		if (w <= 0)
			return false;
		p += w;
		n -= static_cast<size_t>(w);
	}
	return true;
}

// The temporary file sits in the same folder as the file it replaces (a
// rename does not cross file systems), under a hidden name no reader asks
// for, with the process id in it so two writers never share one.
std::string temporary_path(const char *path)
{
	std::string p(path);
	size_t slash = p.rfind('/');
	size_t base = slash == std::string::npos ? 0 : slash + 1;
	return p.substr(0, base) + "." + p.substr(base) + "." + std::to_string(getpid()) + ".tmp";
}

int create_exclusive(const std::string &tmp)
{
	return open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
}

// The replaced file keeps the mode (and, where the writer may set it, the
// owner) it had, as a file truncated in place would.
void keep_attributes(int fd, const char *path)
{
	struct stat old;
	if (stat(path, &old) != 0 || !S_ISREG(old.st_mode))
		return;
	fchmod(fd, old.st_mode & 07777);
	struct stat now;
	if (fstat(fd, &now) == 0 && (now.st_uid != old.st_uid || now.st_gid != old.st_gid) &&
	    fchown(fd, old.st_uid, old.st_gid) != 0) {
		// Only a privileged writer may hand the file on; the content is
		// what matters to the readers.
	}
}

} // namespace

int kx_replace_file(const char *path, const void *data, size_t length)
{
	std::string tmp = temporary_path(path);
	unique_fd fd(create_exclusive(tmp));
	if (!fd.valid() && errno == EEXIST) {
		// Left behind by an earlier process of the same id that ended
		// between creating it and the rename.
		unlink(tmp.c_str());
		fd.reset(create_exclusive(tmp));
	}
	if (!fd.valid())
		return -1;
	keep_attributes(fd.get(), path);

	// No fsync: the status files live on a tmpfs and are rewritten every
	// second. The rename alone is what makes the switch atomic for readers.
	bool written = write_all(fd.get(), static_cast<const char *>(data), length);
	if (close(fd.release()) != 0)
		written = false;
	if (written && rename(tmp.c_str(), path) == 0)
		return 0;
	unlink(tmp.c_str());
	return -1;
}

int kx_replace_file(const char *path, const char *text)
{
	return kx_replace_file(path, text, std::strlen(text));
}
