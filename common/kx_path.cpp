#include "kx_path.h"

#include <cstdio>
#include <cstdlib>

std::string kx_path(const char *fixed)
{
	const char *root = std::getenv("KX_ROOT");
	if (root == nullptr || root[0] == '\0')
		return fixed;
	std::string path(root);
	while (!path.empty() && path.back() == '/')
		path.pop_back();
	if (fixed[0] != '/')
		path += '/';
	return path + fixed;
}

void kx_unbuffered_output()
{
	std::setvbuf(stdout, nullptr, _IONBF, 0);
	std::setvbuf(stderr, nullptr, _IONBF, 0);
}
