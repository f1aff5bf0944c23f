// Descriptor ownership and whole-file replacement for the status files.
#pragma once

#include <cstddef>

// Owns one file descriptor and closes it when it goes out of scope, so every
// early return releases it.
class unique_fd {
public:
	unique_fd() = default;
	explicit unique_fd(int fd) : fd_(fd) {}
	~unique_fd() { reset(); }
	unique_fd(unique_fd &&other) noexcept : fd_(other.release()) {}
	unique_fd &operator=(unique_fd &&other) noexcept
	{
		if (this != &other)
			reset(other.release());
		return *this;
	}
	unique_fd(const unique_fd &) = delete;
	unique_fd &operator=(const unique_fd &) = delete;

	int get() const { return fd_; }
	bool valid() const { return fd_ >= 0; }
	int release()
	{
		int fd = fd_;
		fd_ = -1;
		return fd;
	}
	// Closes the descriptor held (if any) and takes `fd`.
	void reset(int fd = -1);

private:
	int fd_ = -1;
};

// Replaces the file at `path` with the `length` bytes of `data`, so that a
// reader opening the path at any moment finds either the old content or the
// new one, never an empty or half-written file: the bytes go to a temporary
// file in the same folder, which is then renamed over the old one. The file
// keeps the mode an existing file had; a new one gets 0666 less the umask,
// as a file created by fopen would. Returns 0, or -1 when the file could not
// be written (the old file, if any, is then left as it was).
int kx_replace_file(const char *path, const void *data, size_t length);

// kx_replace_file with a terminated text (written without its terminator).
int kx_replace_file(const char *path, const char *text);
