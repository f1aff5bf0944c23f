/*
 * nmea_parser: the NMEA 0183 sentence library of nmeafeed.
 *
 * Turns one sentence, given as a text line, into typed values. Plain
 * functions without state: no allocation, no global data, results through
 * records the caller owns, diagnostics as text on standard output. The
 * records are plain C structures so the library can be used from C as well.
 *
 * Three rules of the field scanner shape every parser and every status file:
 *  - an empty field reads as the one-character text "0";
 *  - after the field that ends at the checksum delimiter "*", every further
 *    field repeats the text of that last field;
 *  - a number with a fraction is an integer value with a power-of-ten scale,
 *    kept together with the field's own text (no floating point anywhere).
 *
 * Limits chosen for input the receiver never sends (all documented here,
 * all exercised by the unit tests):
 *  - A field longer than 127 characters is cut: the field buffer keeps its
 *    first 127 characters, the rest of the field is stepped over, so the
 *    following fields stay where they are. `nmea_fixed.text` keeps the first
 *    31 characters; the number itself is parsed from the (cut) field.
 *  - An "i" field outside the signed 32-bit range saturates: it reads as
 *    2147483647 or -2147483648.
 *  - A fraction of ten or more digits: the number ends after the ninth
 *    fractional digit (scale 1000000000) and the rest of the field is
 *    ignored, just as a fraction whose value would pass 2147483647 ends at
 *    the last digit that fits.
 *  - A null sentence or format makes `nmea_scan` fail (-1) without a message;
 *    `nmea_validate` rejects a null sentence, `nmea_checksum` gives 0,
 *    `nmea_sentence_type` gives NMEA_INVALID, and `nmea_parse_rmc` (which has
 *    no null messages) returns 1 silently for null arguments.
 * No input makes the library read past the terminator of the sentence or
 * write outside the caller's records and buffers.
 */
#ifndef NMEA_PARSER_H
#define NMEA_PARSER_H

#include <stddef.h>
#include <stdint.h>
#ifndef __cplusplus
#include <stdbool.h>
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Size of the scanner's field buffer: 127 characters and a terminator. */
#define NMEA_FIELD_SIZE 128
/* Size of the type text: five characters after "$" and a terminator. */
#define NMEA_TYPE_SIZE 6
/* Size of nmea_fixed.text: 31 characters and a terminator. */
#define NMEA_FIXED_TEXT_SIZE 32
/* Longest sentence that validation accepts. */
#define NMEA_MAX_SENTENCE 131

/* Sentence-type codes of nmea_sentence_type. */
enum {
	NMEA_INVALID = -1,
	NMEA_OTHER = 0,
	NMEA_RMC = 1,
	NMEA_GGA = 2,
	NMEA_GSA = 3,
	NMEA_GLL = 4,
	NMEA_GST = 5,
	NMEA_GSV = 6,
	NMEA_ZDA = 7,
	NMEA_PGTOP = 8,
};

/* A number as value / scale, with the field text it came from. scale is 1
 * for a number without fraction, 10^k for k fractional digits, and 0 (with
 * value 0) for a field that held no number at all (only blanks). */
typedef struct nmea_fixed {
	int32_t value;
	int32_t scale;
	char text[NMEA_FIXED_TEXT_SIZE];
} nmea_fixed;

typedef struct nmea_time_of_day {
	int8_t hours;
	int8_t minutes;
	int8_t seconds;
	int32_t microseconds; /* 0 to 999999 */
} nmea_time_of_day;

typedef struct nmea_date {
	int8_t day;
	int8_t month;
	int16_t year; /* two-digit year as sent, 0 to 99 */
} nmea_date;

typedef struct nmea_sat_info {
	uint8_t prn;
	int32_t elevation;
	int32_t azimuth;
	int32_t snr;
} nmea_sat_info;

/* lat and lon hold ddmm.mmmm / dddmm.mmmm as sent, with the hemisphere sign
 * applied to value (north and east positive). */
typedef struct nmea_rmc {
	nmea_time_of_day utc_time;
	uint8_t active;
	nmea_fixed lat;
	nmea_fixed lon;
	nmea_fixed speed_knots;
	nmea_fixed track_deg;
	nmea_date utc_date;
	nmea_fixed mag_var;
} nmea_rmc;

typedef struct nmea_gga {
	nmea_time_of_day utc_time;
	nmea_fixed lat;
	nmea_fixed lon;
	uint8_t quality;
	uint8_t sats_used;
	nmea_fixed hdop;
	nmea_fixed alt;
	char alt_unit;
	nmea_fixed geoid_sep;
	char geoid_unit;
	int32_t dgps_age;
} nmea_gga;

typedef struct nmea_gsa {
	char selection;
	uint8_t fix_kind;
	int32_t used_prn[12];
	nmea_fixed pdop;
	nmea_fixed hdop;
	nmea_fixed vdop;
} nmea_gsa;

typedef struct nmea_gll {
	nmea_fixed lat;
	nmea_fixed lon;
	nmea_time_of_day utc_time;
	char status;
	char mode;
} nmea_gll;

typedef struct nmea_gst {
	nmea_time_of_day utc_time;
	nmea_fixed rms;
	nmea_fixed major_sd;
	nmea_fixed minor_sd;
	nmea_fixed major_orient;
	nmea_fixed lat_sd;
	nmea_fixed lon_sd;
	nmea_fixed alt_sd;
} nmea_gst;

typedef struct nmea_gsv {
	int32_t msg_count;
	int32_t msg_index;
	int32_t sats_in_view;
	nmea_sat_info sat[4];
} nmea_gsv;

typedef struct nmea_pgtop {
	int32_t code;
	nmea_fixed first_value;
	nmea_fixed second_value;
} nmea_pgtop;

/*
 * Format-directed field scanner. Destinations follow the format, one per
 * storing format character:
 *   t  char[NMEA_TYPE_SIZE]   type text ("GPGGA")
 *   T  nmea_time_of_day *
 *   D  nmea_date *
 *   f  nmea_fixed *
 *   i  int32_t *
 *   c  char *
 *   d  int32_t *              +1 for N/E/empty, -1 for S/W
 *   s  char[NMEA_FIELD_SIZE]  the field text
 *   _  (none) skip a field
 *   ;  (none) takes no field
 * Returns 0 when the whole format was worked through, -1 on the first field
 * that does not match (after printing "Reached nmea_parser.cpp: nmea_scan: N").
 */
int32_t nmea_scan(const char *sentence, const char *format, ...);

/* 0 when the sentence is acceptable, 1 when rejected. */
int32_t nmea_validate(const char *sentence, bool strict);

/* XOR of the characters after an optional "$" up to the first "*" or the
 * end of the text. */
uint8_t nmea_checksum(const char *sentence);

/* 0-9, A-F, a-f give 0 to 15; anything else -1. */
int32_t nmea_hex_value(char c);

/* Printable ASCII (32 to 126) other than "," and "*". */
bool nmea_is_field_char(char c);

/* One of the NMEA_* codes above. */
int32_t nmea_sentence_type(const char *sentence, bool strict);

/* The scanner's field step: copies the field at *position into field
 * (NMEA_FIELD_SIZE bytes, "0" when empty) and advances *position over it and
 * its delimiter. Does nothing when the character before *position is "*". */
void nmea_next_field(const char *sentence, char *field, size_t *position);

/* Sentence parsers: 0 for success, 1 for failure (see each for details). */
int32_t nmea_parse_rmc(nmea_rmc *frame, const char *sentence);
int32_t nmea_parse_gga(nmea_gga *frame, const char *sentence);
int32_t nmea_parse_gsa(nmea_gsa *frame, const char *sentence);
int32_t nmea_parse_gll(nmea_gll *frame, const char *sentence);
int32_t nmea_parse_gst(nmea_gst *frame, const char *sentence);
int32_t nmea_parse_gsv(nmea_gsv *frame, const char *sentence);
int32_t nmea_parse_pgtop(nmea_pgtop *frame, const char *sentence);

#ifdef __cplusplus
}
#endif

#endif /* NMEA_PARSER_H */
