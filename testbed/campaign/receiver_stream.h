/* SPDX-License-Identifier: GPL-2.0 */
/*
 * A clean receiver stream: what the board's GPS receiver sends in one UTC
 * second, from a truth record that says what it knows (time, fix, position,
 * satellites). Plain C, no state: the same truth gives the same bytes.
 *
 * Per second, as the receiver sends it after the pulse: GGA, one GSA per
 * satellite system (talker GN), the GSV messages of each system (its own
 * talker), RMC and ZDA, every sentence with its checksum and CR LF.
 */
#ifndef RECEIVER_STREAM_H
#define RECEIVER_STREAM_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define RX_SYSTEMS 4		/* GPS, GLONASS, Galileo, BeiDou */
#define RX_SATS_MAX 16		/* in view per system (four GSV messages) */
#define RX_LINES_MAX 32

struct rx_sat {
	int prn, elevation, azimuth;
	int snr;		/* dB-Hz, 0 = in view but not tracked */
};

struct rx_system {
	const char *talker;	/* of its GSV messages: "GP", "GL", "GA", "BD" */
	int in_view;
	struct rx_sat sat[RX_SATS_MAX];
};

struct rx_truth {
	int64_t utc;		/* the second the sentences name */
	int fix;		/* GGA quality: 0 none, 1 GPS, 2 differential */
	int sats_used;		/* over all systems, 0 without a fix */
	int32_t lat_e4min;	/* 1e-4 arc minutes, north positive */
	int32_t lon_e4min;	/* 1e-4 arc minutes, east positive */
	int32_t alt_dm;		/* decimetres above the geoid */
	struct rx_system sys[RX_SYSTEMS];
};

/* what kind of sentence a line of the stream is */
enum rx_kind { RX_GGA, RX_GSA, RX_GSV, RX_RMC, RX_ZDA, RX_KINDS };

struct rx_line {
	size_t off, len;	/* in the second's bytes, CR LF included */
	enum rx_kind kind;
	int system;		/* GSV: index into sys[] */
};

/*
 * The receiver's knowledge of second utc at a site: satellites rise and
 * set every few minutes, signal strengths change every second, the
 * position wanders by a few metres. fix 0 clears position and satellites
 * used. site_seed picks the site (latitude, longitude, altitude).
 */
void rx_truth_make(struct rx_truth *t, int64_t utc, int fix, uint64_t site_seed);

/*
 * The second's sentences into out (at most size bytes); lines[] (at most
 * RX_LINES_MAX) gets each sentence's place. Returns the bytes written.
 */
size_t rx_stream_second(const struct rx_truth *t, char *out, size_t size,
			struct rx_line *lines, int *nlines);

/* "hhmmss" / day, month, year of a UTC second (proleptic Gregorian) */
void rx_civil(int64_t utc, int *year, int *month, int *day, int *hh, int *mm, int *ss);

/* seconds since 1970 of a UTC date and time */
int64_t rx_utc_of(int year, int month, int day, int hh, int mm, int ss);

#ifdef __cplusplus
}
#endif

#endif
