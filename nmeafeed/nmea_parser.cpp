// NMEA 0183 sentence library: validation, classification, the format-directed
// field scanner nmea_scan and the sentence parsers built on it.

#include "nmea_parser.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace {

// Failure numbers of nmea_scan, printed in its "Reached" line.
enum scan_failure {
	FAIL_DIRECTION = 159,
	FAIL_INT_OVERFLOW = 193,
	FAIL_BLANK_INSIDE = 206,
	FAIL_BAD_CHAR = 210,
	FAIL_NO_DIGITS = 218,
	FAIL_NO_DOLLAR = 271,
	FAIL_SHORT_TYPE = 276,
	FAIL_DATE = 294,
	FAIL_TIME = 320,
	FAIL_FORMAT = 357,
};

int scan_failed(int number)
{
	printf("Reached %s: %s: %d\n", "nmea_parser.cpp", "nmea_scan", number);
	return -1;
}

bool is_digit(char c)
{
	return c >= '0' && c <= '9';
}

bool is_printable(char c)
{
	return c >= 32 && c <= 126;
}

int two_digits(const char *p)
{
	return (p[0] - '0') * 10 + (p[1] - '0');
}

bool six_digits(const char *field)
{
	for (int i = 0; i < 6; i++)
		if (!is_digit(field[i]))
			return false;
	return true;
}

// "f": the number of a field as value / scale. Returns 0 or a failure number.
int parse_fixed(const char *field, nmea_fixed *out)
{
	const int32_t max = 2147483647;
	int32_t value = -1;
	int32_t scale = 0;
	int sign = 0;
	bool point = false;

	for (const char *p = field; *p != '\0'; p++) {
		char c = *p;
		if (c == '+' || c == '-') {
			if (sign != 0 || value >= 0 || point)
				return FAIL_BAD_CHAR;
			sign = c == '+' ? 1 : -1;
		} else if (is_digit(c)) {
			int32_t d = c - '0';
			if (value >= 0 && value > (max - d) / 10) {
				if (!point)
					return FAIL_INT_OVERFLOW;
				break; // keep the fractional digits that fit
			}
			if (point && scale == 1000000000)
				break; // a tenth fractional digit would pass the scale's range
			value = value < 0 ? d : value * 10 + d;
			scale *= 10;
		} else if (c == '.') {
			if (point)
				return FAIL_BAD_CHAR;
			point = true;
			scale = 1;
		} else if (c == ' ') {
			if (sign != 0 || value >= 0 || point)
				return FAIL_BLANK_INSIDE;
		} else {
			return FAIL_BAD_CHAR;
		}
	}

	if (sign == 0 && !point) {
		if (value < 0) {
			value = 0;
			scale = 0;
		} else {
			scale = 1;
		}
	} else {
		if (value < 0)
			return FAIL_NO_DIGITS;
		if (scale == 0)
			scale = 1;
		if (sign < 0)
			value = -value;
	}
	out->value = value;
	out->scale = scale;
	return 0;
}

// "i": decimal integer, never fails; saturates outside 32 bits.
int32_t parse_int(const char *field)
{
	const char *p = field;
	while (*p == ' ')
		p++;
	bool negative = false;
	if (*p == '+' || *p == '-') {
		negative = *p == '-';
		p++;
	}
	int64_t magnitude = 0;
	for (; is_digit(*p); p++) {
		if (magnitude <= 2147483648LL)
			magnitude = magnitude * 10 + (*p - '0');
	}
	if (negative)
		return magnitude >= 2147483648LL ? INT32_MIN : static_cast<int32_t>(-magnitude);
	return magnitude >= 2147483647LL ? INT32_MAX : static_cast<int32_t>(magnitude);
}

void copy_text(char *dst, size_t size, const char *src)
{
	size_t n = strnlen(src, size - 1);
	memcpy(dst, src, n);
	dst[n] = '\0';
}

} // namespace

extern "C" {

bool nmea_is_field_char(char c)
{
	return is_printable(c) && c != ',' && c != '*';
}

int32_t nmea_hex_value(char c)
{
	if (c >= '0' && c <= '9')
		return c - '0';
	if (c >= 'A' && c <= 'F')
		return c - 'A' + 10;
	if (c >= 'a' && c <= 'f')
		return c - 'a' + 10;
	return -1;
}

uint8_t nmea_checksum(const char *sentence)
{
	if (sentence == nullptr)
		return 0;
	const char *p = sentence;
	if (*p == '$')
		p++;
	uint8_t sum = 0;
	for (; *p != '\0' && *p != '*'; p++)
		sum ^= static_cast<uint8_t>(*p);
	return sum;
}

void nmea_next_field(const char *sentence, char *field, size_t *position)
{
	size_t pos = *position;
	if (pos > 0 && sentence[pos - 1] == '*')
		return;

	size_t copied = 0;
	size_t end = pos;
	while (nmea_is_field_char(sentence[end])) {
		// A field longer than the buffer is cut; the rest is stepped over
		// so the following fields keep their places.
		if (copied < NMEA_FIELD_SIZE - 1)
			field[copied++] = sentence[end];
		end++;
	}
	field[copied] = '\0';
	// Step over the delimiter, but never past the end of the text.
	*position = sentence[end] == '\0' ? end : end + 1;
	if (copied == 0) {
		field[0] = '0';
		field[1] = '\0';
	}
}

int32_t nmea_scan(const char *sentence, const char *format, ...)
{
	if (sentence == nullptr || format == nullptr)
		return -1;

	char field[NMEA_FIELD_SIZE];
	size_t position = 0;
	va_list ap;
	va_start(ap, format);
	nmea_next_field(sentence, field, &position);

	int failure = 0;
	for (const char *f = format; *f != '\0' && failure == 0; f++) {
		switch (*f) {
		case 't': {
			char *type = va_arg(ap, char *);
			if (field[0] != '$') {
				failure = FAIL_NO_DOLLAR;
				break;
			}
			for (int i = 1; i <= 5; i++) {
				if (!nmea_is_field_char(field[i])) {
					failure = FAIL_SHORT_TYPE;
					break;
				}
			}
			if (failure == 0) {
				memcpy(type, field + 1, 5);
				type[5] = '\0';
			}
			break;
		}
		case 'T': {
			nmea_time_of_day *t = va_arg(ap, nmea_time_of_day *);
			if (!six_digits(field)) {
				failure = FAIL_TIME;
				break;
			}
			t->hours = static_cast<int8_t>(two_digits(field));
			t->minutes = static_cast<int8_t>(two_digits(field + 2));
			t->seconds = static_cast<int8_t>(two_digits(field + 4));
			int32_t us = 0;
			if (field[6] == '.' && is_digit(field[7])) {
				int digits = 0;
				for (const char *p = field + 7; digits < 6 && is_digit(*p); p++, digits++)
					us = us * 10 + (*p - '0');
				for (; digits < 6; digits++)
					us *= 10;
			}
			t->microseconds = us;
			break;
		}
		case 'D': {
			nmea_date *d = va_arg(ap, nmea_date *);
			if (!six_digits(field)) {
				failure = FAIL_DATE;
				break;
			}
			d->day = static_cast<int8_t>(two_digits(field));
			d->month = static_cast<int8_t>(two_digits(field + 2));
			d->year = static_cast<int16_t>(two_digits(field + 4));
			break;
		}
		case 'f': {
			nmea_fixed *n = va_arg(ap, nmea_fixed *);
			// The text is kept even when the number then fails.
			copy_text(n->text, sizeof n->text, field);
			failure = parse_fixed(field, n);
			break;
		}
		case 'i':
			*va_arg(ap, int32_t *) = parse_int(field);
			break;
		case 'c':
			*va_arg(ap, char *) = field[0];
			break;
		case 'd': {
			int32_t *dir = va_arg(ap, int32_t *);
			switch (field[0]) {
			case 'N':
			case 'E':
			case '0':
				*dir = 1;
				break;
			case 'S':
			case 'W':
				*dir = -1;
				break;
			default:
				failure = FAIL_DIRECTION;
			}
			break;
		}
		case 's': {
			char *s = va_arg(ap, char *);
			copy_text(s, NMEA_FIELD_SIZE, field);
			break;
		}
		case '_':
			break;
		case ';':
			continue; // takes no field
		default:
			failure = FAIL_FORMAT;
		}
		if (failure == 0)
			nmea_next_field(sentence, field, &position);
	}
	va_end(ap);
	return failure == 0 ? 0 : scan_failed(failure);
}

int32_t nmea_validate(const char *sentence, bool strict)
{
	if (sentence == nullptr)
		return 1;
	if (strnlen(sentence, NMEA_MAX_SENTENCE + 1) > NMEA_MAX_SENTENCE || sentence[0] != '$')
		return 1;

	uint8_t sum = 0;
	const char *p = sentence + 1;
	for (; *p != '*'; p++) {
		if (!is_printable(*p))
			break;
		sum ^= static_cast<uint8_t>(*p);
	}
	const char *tail;
	if (*p == '*') {
		int hi = nmea_hex_value(p[1]);
		int lo = hi < 0 ? -1 : nmea_hex_value(p[2]);
		if (hi < 0 || lo < 0)
			return 1;
		if (((hi << 4) | lo) != sum)
			return 1;
		tail = p + 3;
	} else {
		if (strict)
			return 1;
		tail = p;
	}
	if (tail[0] == '\0')
		return 0;
	if (tail[0] == '\n' && tail[1] == '\0')
		return 0;
	if (tail[0] == '\r' && tail[1] == '\n' && tail[2] == '\0')
		return 0;
	return 1;
}

int32_t nmea_sentence_type(const char *sentence, bool strict)
{
	if (nmea_validate(sentence, strict) != 0)
		return NMEA_INVALID;
	char type[NMEA_TYPE_SIZE];
	if (nmea_scan(sentence, "t", type) != 0)
		return NMEA_INVALID;

	static const char *const kinds[] = {"RMC", "GGA", "GSA", "GLL", "GST", "GSV", "ZDA"};
	for (int i = 0; i < 7; i++)
		if (strcmp(type + 2, kinds[i]) == 0)
			return i + 1;
	if (strcmp(type, "PGTOP") == 0)
		return NMEA_PGTOP;
	return NMEA_OTHER;
}

// ---- sentence parsers ------------------------------------------------------

namespace {

bool null_arguments(const char *name, const void *frame, const char *sentence)
{
	if (sentence == nullptr) {
		printf("[%s] Sentence is null.\n", name);
		return true;
	}
	if (frame == nullptr) {
		printf("[%s] Frame is null.\n", name);
		return true;
	}
	return false;
}

} // namespace

int32_t nmea_parse_rmc(nmea_rmc *frame, const char *sentence)
{
	if (frame == nullptr || sentence == nullptr)
		return 1;
	char type[NMEA_TYPE_SIZE] = "";
	char status = '\0';
	int32_t lat_dir = 1, lon_dir = 1, var_dir = 1;
	int32_t r = nmea_scan(sentence, "tTcfdfdffDfd", type, &frame->utc_time, &status,
	                      &frame->lat, &lat_dir, &frame->lon, &lon_dir, &frame->speed_knots,
	                      &frame->track_deg, &frame->utc_date, &frame->mag_var, &var_dir);
	if (r != 0 || strcmp(type + 2, "RMC") != 0)
		return 1;
	frame->lat.value *= lat_dir;
	frame->lon.value *= lon_dir;
	frame->mag_var.value *= var_dir;
	frame->active = status == 'A';
	return 0;
}

int32_t nmea_parse_gga(nmea_gga *frame, const char *sentence)
{
	if (null_arguments("nmea_parse_gga", frame, sentence))
		return 1;
	frame->quality = 0;
	char type[NMEA_TYPE_SIZE] = "";
	// A direction the scan never reached counts as +1: the coordinate stays
	// as scanned.
	int32_t lat_dir = 1, lon_dir = 1;
	int32_t quality = frame->quality, sats_used = frame->sats_used;
	int32_t r = nmea_scan(sentence, "tTfdfdiiffcfci_", type, &frame->utc_time, &frame->lat,
	                      &lat_dir, &frame->lon, &lon_dir, &quality, &sats_used, &frame->hdop,
	                      &frame->alt, &frame->alt_unit, &frame->geoid_sep, &frame->geoid_unit,
	                      &frame->dgps_age);
	// The 8-bit fields take the low 8 bits; unreached ones keep their value.
	frame->quality = static_cast<uint8_t>(quality);
	frame->sats_used = static_cast<uint8_t>(sats_used);
	if (r != 0)
		printf("[%s] Failed to scan sentence.\r\n", "nmea_parse_gga");
	frame->lat.value *= lat_dir;
	frame->lon.value *= lon_dir;
	return 0;
}

int32_t nmea_parse_gsa(nmea_gsa *frame, const char *sentence)
{
	if (null_arguments("nmea_parse_gsa", frame, sentence))
		return 1;
	char type[NMEA_TYPE_SIZE] = "";
	int32_t fix_kind = frame->fix_kind;
	int32_t *u = frame->used_prn;
	int32_t r = nmea_scan(sentence, "tciiiiiiiiiiiiifff", type, &frame->selection, &fix_kind,
	                      &u[0], &u[1], &u[2], &u[3], &u[4], &u[5], &u[6], &u[7], &u[8],
	                      &u[9], &u[10], &u[11], &frame->pdop, &frame->hdop, &frame->vdop);
	frame->fix_kind = static_cast<uint8_t>(fix_kind);
	if (r != 0) {
		printf("[%s] Failed to scan sentence.\r\n", "nmea_parse_gsa");
		return 1;
	}
	return 0;
}

int32_t nmea_parse_gll(nmea_gll *frame, const char *sentence)
{
	if (null_arguments("nmea_parse_gll", frame, sentence))
		return 1;
	char type[NMEA_TYPE_SIZE] = "";
	int32_t lat_dir = 1, lon_dir = 1;
	if (nmea_scan(sentence, "tfdfdTc;c", type, &frame->lat, &lat_dir, &frame->lon, &lon_dir,
	              &frame->utc_time, &frame->status, &frame->mode) != 0)
		return 1;
	if (strcmp(type + 2, "GLL") != 0)
		return 1;
	frame->lat.value *= lat_dir;
	frame->lon.value *= lon_dir;
	return 0;
}

int32_t nmea_parse_gst(nmea_gst *frame, const char *sentence)
{
	if (null_arguments("nmea_parse_gst", frame, sentence))
		return 1;
	char type[NMEA_TYPE_SIZE] = "";
	if (nmea_scan(sentence, "tTfffffff", type, &frame->utc_time, &frame->rms,
	              &frame->major_sd, &frame->minor_sd, &frame->major_orient, &frame->lat_sd,
	              &frame->lon_sd, &frame->alt_sd) != 0) {
		printf("[%s] Failed to scan nmea sentence.\r\n", "nmea_parse_gst");
		return 1;
	}
	return 0;
}

int32_t nmea_parse_gsv(nmea_gsv *frame, const char *sentence)
{
	if (null_arguments("nmea_parse_gsv", frame, sentence))
		return 1;
	char type[NMEA_TYPE_SIZE] = "";
	nmea_sat_info *s = frame->sat;
	int32_t prn[4] = {s[0].prn, s[1].prn, s[2].prn, s[3].prn};
	int32_t r = nmea_scan(sentence, "tiii;iiiiiiiiiiiiiiii", type, &frame->msg_count,
	                      &frame->msg_index, &frame->sats_in_view,
	                      &prn[0], &s[0].elevation, &s[0].azimuth, &s[0].snr,
	                      &prn[1], &s[1].elevation, &s[1].azimuth, &s[1].snr,
	                      &prn[2], &s[2].elevation, &s[2].azimuth, &s[2].snr,
	                      &prn[3], &s[3].elevation, &s[3].azimuth, &s[3].snr);
	for (int k = 0; k < 4; k++)
		s[k].prn = static_cast<uint8_t>(prn[k]);
	if (r != 0) {
		printf("[%s] Failed to scan nmea sentence.\r\n", "nmea_parse_gsv");
		return 1;
	}
	// Entries past the satellites this message carries hold the repeated
	// last field: clear them. 64-bit arithmetic, as the counts are raw input.
	int64_t n = static_cast<int64_t>(frame->sats_in_view) -
	            (static_cast<int64_t>(frame->msg_index) - 1) * 4;
	if (n < 0)
		n = 0;
	for (int64_t k = n; k < 4; k++)
		s[k] = nmea_sat_info{};
	return 0;
}

int32_t nmea_parse_pgtop(nmea_pgtop *frame, const char *sentence)
{
	if (null_arguments("nmea_parse_pgtop", frame, sentence))
		return 1;
	char type[NMEA_TYPE_SIZE] = "";
	if (nmea_scan(sentence, "tiff", type, &frame->code, &frame->first_value,
	              &frame->second_value) != 0) {
		printf("[%s] Failed to scan nmea sentence.\r\n", "nmea_parse_pgtop");
		return 1;
	}
	return 0;
}

} // extern "C"
