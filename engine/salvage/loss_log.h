#pragma once
// What a repair could not carry over, one entry per loss: the rows of a
// damaged page, a row that could not be read, a long value whose chain is
// broken, a table whose definition is damaged, rows set aside in a
// recovery table. Compaction writes the entries into MSysCompactError and
// the command line prints them; a file with nothing to repair has none.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/model/schema.h"

namespace jet::salvage {

// ErrorCode values: the Jet error a strict read would have raised.
inline constexpr std::int32_t kLossDamaged = 3049;    // damaged page, row, value or definition
inline constexpr std::int32_t kLossDuplicate = 3022;  // a second row with a unique key
inline constexpr std::int32_t kLossSetAside = 3163;   // a row no structure of its table places
inline constexpr std::int32_t kLossUnkeyed = 3251;    // a row an index cannot key in the file's order

struct Loss {
  std::int32_t code = kLossDamaged;
  std::string table;                // the table concerned (UTF-8)
  std::string description;          // what was lost and why, for a person to act on
  std::optional<RowPointer> row;    // the source row concerned, if one
};

class LossLog {
 public:
  void add(std::int32_t code, std::string table, std::string description,
           std::optional<RowPointer> row = std::nullopt) {
    entries_.push_back(Loss{code, std::move(table), std::move(description), row});
  }
  const std::vector<Loss>& entries() const { return entries_; }
  std::vector<Loss>& mutable_entries() { return entries_; }
  bool empty() const { return entries_.empty(); }

 private:
  std::vector<Loss> entries_;
};

// The record id a row's loss is stored under: the 4-byte row pointer as
// Jet stores it (row in the low byte, page above).
std::uint32_t record_id(RowPointer row);

}  // namespace jet::salvage
