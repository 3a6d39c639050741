#pragma once
// Column data types as stored in a table definition (one byte per column).
#include <cstdint>
#include <string_view>

namespace jet {

enum class ColumnType : std::uint8_t {
  Boolean = 0x01,   // held in the row's null mask, no data bytes
  Byte = 0x02,      // 1 byte unsigned
  Integer = 0x03,   // 2 bytes signed
  Long = 0x04,      // 4 bytes signed
  Currency = 0x05,  // 8 bytes signed, scaled by 10 000
  Single = 0x06,    // 4 bytes IEEE
  Double = 0x07,    // 8 bytes IEEE
  DateTime = 0x08,  // 8 bytes IEEE, days since 1899-12-30
  Binary = 0x09,    // up to 255 bytes
  Text = 0x0A,      // up to 255 characters
  Ole = 0x0B,       // long value (binary)
  Memo = 0x0C,      // long value (text)
  Guid = 0x0F,      // 16 bytes (Replication ID)
  Numeric = 0x10,   // 17 bytes: sign byte + 128-bit magnitude, with precision/scale
  Complex11 = 0x11, // fixed-size attachment-like data of Access 2000 system tables; kept as raw bytes
  Complex = 0x12,   // ACE: 4-byte id of the row's values in a hidden table (attachments, multi-value, history)
  BigInt = 0x13,    // ACE 16 "Large Number": 8 bytes signed
  DateTimeExtended = 0x14,  // ACE 17: 42 bytes of ASCII, days:ticks:precision (FORMAT.md)
};

// True for the types whose values live in long-value storage.
constexpr bool is_long_value(ColumnType t) { return t == ColumnType::Ole || t == ColumnType::Memo; }

std::string_view column_type_name(ColumnType t);

}  // namespace jet
