#pragma once
// One index while its table is copied: its key encoder (none when the
// source's stored entries are carried over instead) and the keys so far.
// The row reader forms keys with the encoder, the row copier files them,
// the stored entries may stand in for some or all of them, and the index
// layout builds the tree from what was gathered.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/model/schema.h"
#include "engine/write/index_rebuild.h"
#include "engine/write/key_list.h"
#include "engine/write/key_spill.h"

namespace jet::write {

struct IndexCopy {
  const IndexData* data = nullptr;
  std::optional<IndexKeys> keys;
  std::string reason;         // why the keys cannot be formed
  KeyList entries;            // tagged with the row's new place
  std::vector<KeySpill::Run> runs;  // sorted runs of entries set aside on the scratch file
  std::uint64_t listed = 0;   // rows the index lists (for carrying over)
  // Per row (scan position): 1 when the row keeps the key the source's
  // stored index holds for it; empty when every key is formed.
  std::vector<std::uint8_t> stored;
  // Per row with a stored key: that key's first byte, which says whether the
  // first key column is null and in which direction it sorts. A stored key
  // whose first byte our key for the row does not share belongs to other
  // values (a row changed or damaged behind its index) and is not carried.
  std::vector<std::uint8_t> stored_lead;
  // Rows (scan positions) whose key the encoder could not form and that
  // take their stored key once proven theirs
  // (RewriteOptions::stored_keys_where_unformed), and why they could not.
  std::vector<std::uint32_t> unformed;
  std::string unformed_reason;
};

}  // namespace jet::write
