#include "engine/index/table_index_pass.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "engine/error.h"
#include "engine/index/index_findings.h"

namespace jet::index {
namespace {

// The 64-bit finaliser of MurmurHash3: a bijection that spreads every bit.
std::uint64_t fmix(std::uint64_t h) {
  h ^= h >> 33;
  h *= 0xff51afd7ed558ccdULL;
  h ^= h >> 33;
  h *= 0xc4ceb9fe1a85ec53ULL;
  h ^= h >> 33;
  return h;
}

// Two hashes of one (row, key) pair from differently seeded states, in one
// pass over the key. Each 8-byte chunk goes into each state with one
// multiply by an odd constant and a shift: a bijection of the state for a
// given chunk, so keys of one length that differ anywhere end in different
// states. The finaliser then spreads every bit. (Fully mixing every chunk
// cost the check a sixth of its time.)
struct PairHash {
  std::uint64_t low, high;
};

PairHash hash_pair(std::uint64_t seed, RowPointer row, std::span<const std::uint8_t> key) {
  const std::uint64_t start = key.size() * 0x9E3779B97F4A7C15ULL ^ (std::uint64_t{row.page} << 16 | row.row);
  std::uint64_t a = fmix(seed ^ start);
  std::uint64_t b = fmix((~seed * 0xD6E8FEB86659FD93ULL) ^ start);
  const auto mix = [&](std::uint64_t chunk) {
    a = (a ^ chunk) * 0xFF51AFD7ED558CCDULL;
    a ^= a >> 32;
    b = (b + chunk) * 0xC4CEB9FE1A85EC53ULL;
    b ^= b >> 29;
  };
  std::size_t at = 0;
  for (; at + 8 <= key.size(); at += 8) {
    std::uint64_t chunk = 0;
    std::memcpy(&chunk, key.data() + at, 8);
    mix(chunk);
  }
  if (at < key.size()) {
    std::uint64_t chunk = 0;
    std::memcpy(&chunk, key.data() + at, key.size() - at);
    mix(chunk);
  }
  return {fmix(a ^ 0x100), fmix(b ^ 0x200)};
}

}  // namespace

void Fingerprint::add(RowPointer row, std::span<const std::uint8_t> key) {
  const PairHash h = hash_pair(seed_, row, key);
  low_ += h.low;
  high_ += h.high;
  ++count_;
}

void Fingerprint::absorb(const Fingerprint& other) {
  if (other.seed_ != seed_) throw std::logic_error("fingerprints of different seeds do not add up");
  low_ += other.low_;
  high_ += other.high_;
  count_ += other.count_;
}

TableIndexPass::TableIndexPass(const TableDef& table, Format format, std::uint64_t seed)
    : table_(table), format_(format), seed_(seed) {
  for (const IndexData& data : table.index_data) {
    PerIndex& p = indexes_.emplace_back();
    p.rows = Fingerprint(seed);
    try {
      p.encoder.emplace(table, data, format);
    } catch (const Error&) {
      p.gave_up = true;  // check_index reports why
      continue;
    }
    p.compare_keys = p.encoder->unsupported_reason().empty();
    for (const KeyColumn& c : p.encoder->columns()) key_positions_.push_back(c.position);
  }
  std::sort(key_positions_.begin(), key_positions_.end());
  key_positions_.erase(std::unique(key_positions_.begin(), key_positions_.end()), key_positions_.end());
}

void TableIndexPass::add_row(RowPointer row, const Row& values) {
  ++rows_;
  for (std::size_t i = 0; i < indexes_.size(); ++i) {
    PerIndex& p = indexes_[i];
    if (p.gave_up) continue;
    // Which rows an index holds follows check_index exactly.
    bool all_null = true;
    for (const KeyColumn& c : p.encoder->columns()) {
      if (c.position < values.size() && (c.type == ColumnType::Boolean || !values[c.position].is_null)) all_null = false;
    }
    if (table_.index_data[i].ignores_nulls() && all_null) continue;
    key_.clear();
    if (p.compare_keys) {
      try {
        p.encoder->key_into(values, key_);
      } catch (const Error&) {
        p.gave_up = true;  // check_index notes the key it could not build
        continue;
      }
    }
    p.rows.add(row, key_);
  }
}

void TableIndexPass::absorb(const TableIndexPass& other) {
  if (&other.table_ != &table_ || other.seed_ != seed_) throw std::logic_error("index passes of different tables do not add up");
  rows_ += other.rows_;
  for (std::size_t i = 0; i < indexes_.size(); ++i) {
    indexes_[i].gave_up = indexes_[i].gave_up || other.indexes_[i].gave_up;
    indexes_[i].rows.absorb(other.indexes_[i].rows);
  }
}

std::optional<IndexCheckResult> TableIndexPass::finish(std::size_t i, const SharedPageFetcher& fetch) const {
  const PerIndex& p = indexes_.at(i);
  if (p.gave_up) return std::nullopt;
  const IndexData& data = table_.index_data[i];
  IndexCheckResult result;
  result.rows = rows_;
  detail::Findings findings(result, detail::prefix_for(table_, data));

  const bool check_unique = p.compare_keys && detail::must_be_unique(table_, data);
  const std::size_t key_columns = p.encoder->columns().size();
  Fingerprint entries(seed_);
  Bytes previous_key;
  RowPointer previous_row;
  std::vector<std::pair<RowPointer, RowPointer>> duplicates;  // the first ones only
  std::size_t duplicate_count = 0;
  IndexTreeShape shape;
  try {
    shape = walk_index_tree(fetch, data.first_page, format_, table_.definition_page, [&](const EntryView& e) {
      entries.add(e.row, p.compare_keys ? e.key : std::span<const std::uint8_t>());
      if (!check_unique) return;
      if (entries.count() > 1 && std::equal(e.key.begin(), e.key.end(), previous_key.begin(), previous_key.end()) &&
          !detail::all_null_key(previous_key, key_columns)) {
        if (duplicates.size() < kMaxFindings) duplicates.emplace_back(previous_row, e.row);
        ++duplicate_count;
      }
      previous_key.assign(e.key.begin(), e.key.end());
      previous_row = e.row;
    });
  } catch (const Error& e) {
    findings.add(FindingKind::Damaged, RowPointer{}, e.description());
    findings.close();
    return result;
  }
  if (!(entries == p.rows)) return std::nullopt;

  // The tree and the rows agree; what check_index would still report is
  // the tree's soft damage, keys it could not compare and duplicates.
  result.entries = shape.entry_count;
  for (const auto& note : shape.notes) findings.add(FindingKind::Structure, RowPointer{}, note);
  if (!p.compare_keys) {
    findings.add(FindingKind::KeysNotChecked, RowPointer{}, "keys not compared: " + p.encoder->unsupported_reason());
  }
  for (const auto& [first, second] : duplicates) {
    findings.add(FindingKind::DuplicateKey, second, detail::where(first) + " and " + detail::where(second) + " share a key");
  }
  for (std::size_t more = duplicates.size(); more < duplicate_count; ++more) {
    findings.add(FindingKind::DuplicateKey, RowPointer{}, "share a key");
  }
  findings.close();
  return result;
}

}  // namespace jet::index
