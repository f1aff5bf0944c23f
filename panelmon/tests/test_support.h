// Helpers of the panelmon unit tests: a private KX_ROOT tree and captured
// standard output.
#pragma once

#include <functional>
#include <string>

// Creates a fresh directory tree with etc/, sys/pps_filter/ and
// var/volatile/rundata/, points KX_ROOT at it and removes it again.
class TempRoot {
public:
	TempRoot();
	~TempRoot();
	TempRoot(const TempRoot &) = delete;
	TempRoot &operator=(const TempRoot &) = delete;

	const std::string &path() const { return root_; }
	// Writes `text` to the fixed path below the root.
	void put(const char *fixed, const std::string &text) const;
	void remove(const char *fixed) const;
	// The file's content, or "<missing>".
	std::string get(const char *fixed) const;

private:
	std::string root_;
};

std::string capture_stdout(const std::function<void()> &f);
