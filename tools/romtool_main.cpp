#include "kx_path.h"
#include "romtool.h"

int main(int argc, char **argv)
{
	kx_unbuffered_output();
	return romtool_run(argc, argv);
}
