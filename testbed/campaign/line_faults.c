// SPDX-License-Identifier: GPL-2.0
#include <math.h>
#include <string.h>

#include "line_faults.h"

static uint64_t next_rand(struct line_faults *lf)
{
	uint64_t z = (lf->rng += 0x9E3779B97F4A7C15ull);

	z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
	z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
	return z ^ (z >> 31);
}

static unsigned int below(struct line_faults *lf, unsigned int n)
{
	return (unsigned int)(next_rand(lf) % n);
}

/* bytes to the next event: geometric with mean 1 / rate */
static uint64_t draw_gap(struct line_faults *lf)
{
	double u = ((double)(next_rand(lf) >> 11) + 0.5) / 9007199254740992.0;

	if (lf->rate <= 0)
		return UINT64_MAX;
	if (lf->rate >= 1)
		return 0;
	return (uint64_t)floor(log(u) / log1p(-lf->rate));
}

void lf_init(struct line_faults *lf, uint64_t seed, double rate)
{
	static const unsigned int weights[LF_KINDS] = {
		[LF_BIT_FLIP] = 35, [LF_FRAMING] = 20, [LF_DROP] = 15,
		[LF_LINE_END] = 10, [LF_BURST] = 10, [LF_BAUD] = 10,
	};

	memset(lf, 0, sizeof(*lf));
	lf->rng = seed;
	lf->rate = rate;
	memcpy(lf->weight, weights, sizeof(weights));
	lf->gap = draw_gap(lf);
}

const char *lf_kind_name(enum lf_kind kind)
{
	static const char *const names[LF_KINDS] = {
		"bit flip", "framing error", "dropped byte", "lost line end",
		"burst", "baud mismatch",
	};

	return kind < LF_KINDS ? names[kind] : "?";
}

static enum lf_kind pick_kind(struct line_faults *lf)
{
	unsigned int total = 0, r;
	int k;

	for (k = 0; k < LF_KINDS; k++)
		total += lf->weight[k];
	r = below(lf, total ? total : 1);
	for (k = 0; k < LF_KINDS - 1; k++) {
		if (r < lf->weight[k])
			break;
		r -= lf->weight[k];
	}
	return (enum lf_kind)k;
}

/*
 * A byte sampled at the wrong speed: mostly the runs of ones and zeros a
 * mis-clocked UART makes of a start bit and idle line, now and then any
 * value at all (printable characters, "$" and line ends included).
 */
static uint8_t garbage(struct line_faults *lf)
{
	static const uint8_t typical[] = {
		0x00, 0x80, 0xC0, 0xE0, 0xF0, 0xF8, 0xFC, 0xFE, 0xFF,
		0x78, 0x1E, 0x06, 0x66, 0x86, 0x98, 0xE6,
	};

	if (below(lf, 5))
		return typical[below(lf, sizeof(typical))];
	return (uint8_t)below(lf, 256);
}

struct sink {
	uint8_t *out;
	size_t cap, len;
};

static void emit(struct sink *s, uint8_t b)
{
	if (s->len < s->cap)
		s->out[s->len++] = b;
}

/* one byte of a burst: any single-byte fault, or a random byte */
static void burst_byte(struct line_faults *lf, struct sink *s, uint8_t b)
{
	switch (below(lf, 4)) {
	case 0:
		emit(s, (uint8_t)(b ^ (1u << below(lf, 8))));
		break;
	case 1:
		emit(s, below(lf, 2) ? 0xFF : 0x00);
		break;
	case 2:
		break;
	default:
		emit(s, (uint8_t)below(lf, 256));
		break;
	}
}

/* a source byte at the wrong speed: baud_num / baud_den bytes of garbage each */
static void baud_byte(struct line_faults *lf, struct sink *s)
{
	lf->baud_acc += lf->baud_num;
	while (lf->baud_acc >= lf->baud_den) {
		lf->baud_acc -= lf->baud_den;
		emit(s, garbage(lf));
	}
}

/* starts an event at the current byte; the stretch kinds set their state */
static enum lf_kind start_event(struct line_faults *lf)
{
	/* received at 1/12, 1/2, 2 or 12 times the right speed */
	static const unsigned int ratio[4][2] = { { 1, 12 }, { 1, 2 }, { 2, 1 }, { 12, 1 } };
	enum lf_kind k = pick_kind(lf);
	unsigned int r;

	lf->events[k]++;
	switch (k) {
	case LF_LINE_END:
		lf->drop_line_end = 1;
		break;
	case LF_BURST:
		lf->burst_left = 2 + below(lf, 23);
		break;
	case LF_BAUD:
		r = below(lf, 4);
		lf->baud_left = 4 + below(lf, 61);
		lf->baud_num = ratio[r][0];
		lf->baud_den = ratio[r][1];
		lf->baud_acc = 0;
		break;
	default:
		break;
	}
	return k;
}

size_t lf_apply(struct line_faults *lf, const uint8_t *in, size_t n, uint8_t *out,
		size_t cap, uint8_t *hit)
{
	struct sink s = { .out = out, .cap = cap };
	size_t i;

	for (i = 0; i < n; i++) {
		uint8_t b = in[i];
		int kind = -1;

		if (lf->gap == 0) {
			/* a new event only once the last stretch is over */
			if (!lf->burst_left && !lf->baud_left)
				kind = (int)start_event(lf);
			lf->gap = draw_gap(lf);
		} else if (lf->gap != UINT64_MAX) {
			lf->gap--;
		}

		if (kind == LF_BIT_FLIP) {
			emit(&s, (uint8_t)(b ^ (1u << below(lf, 8))));
		} else if (kind == LF_FRAMING) {
			emit(&s, below(lf, 2) ? 0xFF : 0x00);
		} else if (kind == LF_DROP) {
			/* lost */
		} else if (lf->baud_left) {
			lf->baud_left--;
			baud_byte(lf, &s);
		} else if (lf->burst_left) {
			lf->burst_left--;
			burst_byte(lf, &s, b);
		} else if (lf->drop_line_end && (b == '\r' || b == '\n')) {
			if (b == '\n')
				lf->drop_line_end = 0;
		} else {
			emit(&s, b);
			continue;
		}
		if (hit)
			hit[i] = 1;
	}
	return s.len;
}
