// The certificate is read here, without openssl or a shell: PEM is base64
// of DER, and notAfter sits at a fixed place in the DER structure
// (RFC 5280, 4.1):
//
//   Certificate ::= SEQUENCE { tbsCertificate, signatureAlgorithm, signature }
//   TBSCertificate ::= SEQUENCE { [0] version OPTIONAL, serialNumber INTEGER,
//                                 signature SEQUENCE, issuer SEQUENCE,
//                                 validity SEQUENCE { notBefore, notAfter }, ... }
//   Time ::= UTCTime "YYMMDDHHMMSSZ" | GeneralizedTime "YYYYMMDDHHMMSSZ"
#include "nts_metrics.h"

#include "kx_path.h"

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr const char *kCertificate = "/var/lib/chrony/kx-nts.crt";
// a server certificate with its chain is a few kilobytes
constexpr size_t kFileLimit = 64 * 1024;

struct der {
	const uint8_t *p;
	size_t n;
};

// The next element of `in` (tag, content), which is consumed; only the
// definite lengths DER allows.
bool der_next(der &in, uint8_t &tag, der &content)
{
	if (in.n < 2)
		return false;
	tag = in.p[0];
	size_t len = in.p[1];
	size_t head = 2;
	if (len & 0x80) {
		size_t bytes = len & 0x7f;
		if (bytes == 0 || bytes > 4 || in.n < 2 + bytes)
			return false;
		len = 0;
		for (size_t i = 0; i < bytes; i++)
			len = len << 8 | in.p[2 + i];
		head += bytes;
	}
	if (len > in.n - head)
		return false;
	content = {in.p + head, len};
	in.p += head + len;
	in.n -= head + len;
	return true;
}

bool der_expect(der &in, uint8_t want, der &content)
{
	uint8_t tag;
	return der_next(in, tag, content) && tag == want;
}

int64_t days_from_civil(int64_t y, unsigned m, unsigned d)
{
	y -= m <= 2;
	const int64_t era = (y >= 0 ? y : y - 399) / 400;
	const unsigned yoe = static_cast<unsigned>(y - era * 400);
	const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
	const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
	return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

std::optional<int64_t> der_time(uint8_t tag, der t)
{
	size_t year_digits = tag == 0x17 ? 2 : tag == 0x18 ? 4 : 0;
	if (year_digits == 0 || t.n != year_digits + 11 || t.p[t.n - 1] != 'Z')
		return std::nullopt;
	for (size_t i = 0; i + 1 < t.n; i++)
		if (t.p[i] < '0' || t.p[i] > '9')
			return std::nullopt;
	auto num = [&](size_t at, size_t digits) {
		int v = 0;
		for (size_t i = 0; i < digits; i++)
			v = v * 10 + (t.p[at + i] - '0');
		return v;
	};
	int year = num(0, year_digits);
	if (year_digits == 2)
		year += year >= 50 ? 1900 : 2000;
	size_t at = year_digits;
	int mon = num(at, 2), day = num(at + 2, 2);
	int h = num(at + 4, 2), min = num(at + 6, 2), s = num(at + 8, 2);
	if (mon < 1 || mon > 12 || day < 1 || day > 31 || h > 23 || min > 59 || s > 60)
		return std::nullopt;
	return days_from_civil(year, mon, day) * 86400 + h * 3600 + min * 60 + s;
}

std::optional<int64_t> der_not_after(der in)
{
	der cert, tbs, field;
	uint8_t tag;
	if (!der_expect(in, 0x30, cert) || !der_expect(cert, 0x30, tbs))
		return std::nullopt;
	if (!der_next(tbs, tag, field))
		return std::nullopt;
	if (tag == 0xa0 && !der_next(tbs, tag, field))	// version, then the serial
		return std::nullopt;
	if (tag != 0x02 || !der_expect(tbs, 0x30, field) || !der_expect(tbs, 0x30, field))
		return std::nullopt;	// serial, signature, issuer
	der validity;
	if (!der_expect(tbs, 0x30, validity) || !der_next(validity, tag, field) ||
	    !der_next(validity, tag, field))
		return std::nullopt;
	return der_time(tag, field);
}

std::optional<std::vector<uint8_t>> base64(std::string_view text)
{
	std::vector<uint8_t> out;
	uint32_t acc = 0;
	int bits = 0;
	bool padded = false;
	for (char c : text) {
		int v;
		if (c >= 'A' && c <= 'Z')
			v = c - 'A';
		else if (c >= 'a' && c <= 'z')
			v = c - 'a' + 26;
		else if (c >= '0' && c <= '9')
			v = c - '0' + 52;
		else if (c == '+')
			v = 62;
		else if (c == '/')
			v = 63;
		else if (c == '=') {
			padded = true;
			continue;
		} else if (c == '\n' || c == '\r' || c == ' ' || c == '\t')
			continue;
		else
			return std::nullopt;
		if (padded)
			return std::nullopt;
		acc = acc << 6 | static_cast<uint32_t>(v);
		bits += 6;
		if (bits >= 8) {
			bits -= 8;
			out.push_back(static_cast<uint8_t>(acc >> bits));
		}
	}
	return out;
}

} // namespace

std::optional<int64_t> pem_certificates_expiry(std::string_view pem)
{
	static constexpr std::string_view begin = "-----BEGIN CERTIFICATE-----";
	static constexpr std::string_view end = "-----END CERTIFICATE-----";
	std::optional<int64_t> earliest;
	for (;;) {
		size_t b = pem.find(begin);
		if (b == std::string_view::npos)
			return earliest;
		pem.remove_prefix(b + begin.size());
		size_t e = pem.find(end);
		if (e == std::string_view::npos)
			return std::nullopt;
		std::optional<std::vector<uint8_t>> bytes = base64(pem.substr(0, e));
		pem.remove_prefix(e + end.size());
		if (!bytes)
			return std::nullopt;
		std::optional<int64_t> t = der_not_after({bytes->data(), bytes->size()});
		if (!t)
			return std::nullopt;
		if (!earliest || *t < *earliest)
			earliest = t;
	}
}

void collect_nts_metrics(prom_text &out)
{
	std::unique_ptr<FILE, int (*)(FILE *)> f(std::fopen(kx_path(kCertificate).c_str(), "re"),
						  std::fclose);
	if (!f)
		return;
	std::string text(kFileLimit, '\0');
	text.resize(std::fread(text.data(), 1, text.size(), f.get()));
	std::optional<int64_t> expiry = pem_certificates_expiry(text);
	if (!expiry)
		return;
	prom_add(out, "kx_nts_certificate_expiry_timestamp_seconds", "gauge",
		 "When the NTS certificate chronyd serves expires (the earliest notAfter in its "
		 "file), seconds since 1970",
		 static_cast<double>(*expiry));
}
