// Messages between the simulation build of the programs and simboard.
//
// simboard creates, under $KX_ROOT:
//   dev/i2c-0, dev/i2c-1   SOCK_SEQPACKET sockets standing in for i2c-dev
//   dev/gpiochip0          SOCK_SEQPACKET socket standing in for the GPIO chip
//   run/simboard.sock      SOCK_STREAM control socket, one text line per
//                          command and per reply (see README.md here)
//
// I2C socket, one connection per kx_i2c_open. Each request is one message
// and gets exactly one reply message:
//   'A' addr                 select the 7-bit device address (I2C_SLAVE)
//   'W' bytes...             one write transfer
//   'R' lo hi                one read transfer of lo + 256 * hi bytes
// Reply: byte 0 is 0 for success or the errno value of the failure (ENXIO
// when no device acknowledges); a successful read carries the bytes after it.
//
// GPIO socket, text messages, one reply per request ("ok ..." or "err N"
// with an errno value):
//   info                          -> ok <num_lines> <name> <label>
//   request <hex consumer|-> <event_buffer_size> <n> <line>...
//        with <line> = offset,direction,edge,bias,drive,active_low,debounce_us,value
//        (the numbers of the libgpiod enums)          -> ok <request id>
//   get <offset>                  -> ok <0|1>   (logical value)
//   set <offset> <0|1>            -> ok
//   release                       -> ok; the lines are free (the client
//                                    then closes both connections)
//   attach <request id>           -> ok; this connection then carries the
//                                    request's edge events, one message each:
//                                    edge <offset> <type> <ts_ns> <gseq> <lseq>
// A request belongs to the connection that made it and is released when that
// connection closes, as the kernel releases a request when its file closes.
#pragma once

#include <cstddef>

inline constexpr size_t kx_sim_i2c_max_transfer = 8192;  // as i2c-dev
inline constexpr size_t kx_sim_msg_max = kx_sim_i2c_max_transfer + 16;
inline constexpr int kx_sim_gpio_lines = 32;
