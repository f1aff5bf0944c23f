/* SPDX-License-Identifier: GPL-2.0 */
/*
 * What a noisy serial line does to the receiver's byte stream on its way
 * into the UART: single bit errors, framing errors (the UART hands over
 * NUL for a break or a bad stop bit, or 0xFF for a line held high), lost
 * bytes (receiver overrun), lost line ends (two sentences run together),
 * bursts of all of these, and short stretches received at the wrong speed
 * (garbage bytes, more or fewer than were sent).
 *
 * Fault events start at random bytes, `rate` per byte on average, with
 * the kinds in fixed proportions; a seed makes a run repeatable. The model
 * keeps its place across calls, so a stream may be passed in pieces.
 */
#ifndef LINE_FAULTS_H
#define LINE_FAULTS_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

enum lf_kind {
	LF_BIT_FLIP,		/* one bit of one byte inverted */
	LF_FRAMING,		/* NUL or 0xFF in place of a byte */
	LF_DROP,		/* a byte lost */
	LF_LINE_END,		/* the next CR and LF lost */
	LF_BURST,		/* 2 to 24 bytes in a row hit by any of the above */
	LF_BAUD,		/* 4 to 64 bytes received at a wrong speed */
	LF_KINDS
};

struct line_faults {
	uint64_t rng;
	double rate;			/* events per byte */
	unsigned int weight[LF_KINDS];	/* relative frequency of each kind */
	uint64_t events[LF_KINDS];	/* events so far, by kind */
	uint64_t gap;			/* bytes before the next event */
	/* an event still under way */
	unsigned int burst_left, baud_left;
	unsigned int baud_num, baud_den, baud_acc;
	int drop_line_end;
};

void lf_init(struct line_faults *lf, uint64_t seed, double rate);

/*
 * Passes n bytes through the line into out (room for cap bytes; what does
 * not fit is lost, as in a full UART buffer). hit[i] (n entries, may be
 * NULL) is set to 1 for every input byte that did not arrive as sent, and
 * left alone otherwise. Returns the bytes received.
 */
size_t lf_apply(struct line_faults *lf, const uint8_t *in, size_t n, uint8_t *out,
		size_t cap, uint8_t *hit);

const char *lf_kind_name(enum lf_kind kind);

#ifdef __cplusplus
}
#endif

#endif
