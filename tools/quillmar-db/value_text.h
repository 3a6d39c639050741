#pragma once
// Text forms of single column values, as the export writes them. Each form
// either matches what the usual Linux export tools print (so scripts work
// with both) or, where those lose information, keeps it exactly.
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "engine/format/extended_date_time.h"
#include "engine/model/value.h"

namespace quillmar_db {

// UTF-16 to UTF-8; an unpaired surrogate becomes U+FFFD.
void append_utf8(std::string& out, std::u16string_view text);

// Upper-case hex, two digits a byte, no separators.
void append_hex(std::string& out, std::span<const std::uint8_t> bytes);

// Shortest text that reads back as the same number ("0.1", "1e+300", "-0").
void append_double(std::string& out, double value);
void append_single(std::string& out, float value);

// Money: the stored integer is scaled by 10 000; always four decimals.
void append_currency(std::string& out, std::int64_t scaled);

// All digits of a decimal, with exactly `scale` digits after the point.
void append_decimal(std::string& out, const jet::Decimal& value);

// A date/time as "YYYY-MM-DD HH:MM:SS", rounded to the second. Jet stores
// days since 1899-12-30; the fraction is the time of day, also for dates
// before 1899-12-30 (-1.25 is 1899-12-29 06:00).
void append_datetime(std::string& out, double days);

// A Date/Time Extended value as "YYYY-MM-DD HH:MM:SS.fffffff": all seven
// fraction digits its 100-nanosecond ticks hold, whatever precision the
// column shows (the digits beyond it are zeros).
void append_extended_datetime(std::string& out, const jet::ExtendedDateTime& value);

// A 16-byte replication id as "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}": the
// first three groups are stored little-endian, the rest in order.
void append_guid(std::string& out, std::span<const std::uint8_t> bytes);

}  // namespace quillmar_db
