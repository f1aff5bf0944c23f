// romtool: the identity EEPROM provisioning tool.
#pragma once

// The whole tool: takes the write-protect line and the I2C bus, carries out
// the command line and lets both go again. Returns the exit status (0 or
// 255).
int romtool_run(int argc, char **argv);
