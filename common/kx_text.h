// Small text helpers shared by the programs and the simulated board.
#pragma once

// The value of one hexadecimal digit (either case), or -1.
int kx_hex_digit(char c);
