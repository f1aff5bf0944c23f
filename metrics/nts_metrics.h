// The NTS certificate chronyd serves: when it expires.
#pragma once

#include "prom_text.h"

#include <cstdint>
#include <optional>
#include <string_view>

// The earliest notAfter of the certificates in a PEM file's text (the
// server's own and any chain after it: the first to expire breaks NTS for
// the clients), in seconds since 1970. Nothing when the text holds no
// certificate that parses, or when one of them does not.
std::optional<int64_t> pem_certificates_expiry(std::string_view pem);

// Adds the expiry of /var/lib/chrony/kx-nts.crt (the drop-in's
// ntsservercert); a missing or unreadable certificate adds nothing.
void collect_nts_metrics(prom_text &out);
