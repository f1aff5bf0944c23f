#include "kx_path.h"
#include "ptppin.h"

int main(int argc, char **argv)
{
	kx_unbuffered_output();
	return ptppin_run(argc, argv);
}
