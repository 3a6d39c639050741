#pragma once
// Builds the key bytes of one row for one index, the way Access writes them
// into the index B-tree, so a rebuilt index sorts and compares exactly like
// the original. Every column contributes a flag byte (00 null ascending,
// 7F value ascending, FF/80 the same descending) and then its value bytes,
// bit-inverted for descending columns.
#include <optional>
#include <string>
#include <vector>

#include "engine/index/index_page_layout.h"
#include "engine/index/text_key.h"
#include "engine/model/schema.h"

namespace jet::index {

class LearnedOrders;

// One column of the key as the encoder sees it.
struct KeyColumn {
  std::size_t position = 0;  // index into the table's columns and a Row
  ColumnType type = ColumnType::Long;
  bool ascending = true;
  TextOrder text_order = TextOrder::GeneralLegacy;
  // Text in an order the file's own keys taught: keyed as General, each
  // text checked to hold only characters seen keyed that way.
  const LearnedOrders* learned = nullptr;
  std::uint32_t learned_order = 0;
};

// Appends one column's part of a key: flag byte and value bytes. Throws
// jet::Error 3251 for a value the encoder cannot key (an unknown character,
// an OLE column).
void append_column_key(const Value& value, const KeyColumn& column, Bytes& out,
                       ExpansionCount expansions = ExpansionCount::kPerLetter);

class IndexKeyEncoder {
 public:
  // Throws jet::Error 3049 when the index names a column the table lacks.
  // Text columns key in the sort order their definition names, unless
  // `text_order` is given: compaction writes its copy in the General order
  // whatever the source used, and keys it that way.
  // With `learned`, text in another order keys as General where the file's
  // own keys showed that order does (LearnedOrders), and is refused
  // otherwise.
  IndexKeyEncoder(const TableDef& table, const IndexData& index, Format format,
                  std::optional<TextOrder> text_order = std::nullopt, const LearnedOrders* learned = nullptr);

  // Empty when a column's sort order or type has no known key form; the
  // index then cannot be rebuilt and must be carried over or reported.
  const std::string& unsupported_reason() const { return unsupported_; }
  const std::vector<KeyColumn>& columns() const { return columns_; }

  // The key of `row`, or nullopt when the index leaves the row out (it
  // ignores nulls and every key column is null).
  std::optional<Bytes> key_for(const Row& row) const;
  // The same into `out` (cleared first), so a caller keying many rows can
  // reuse one buffer. Returns false when the index leaves the row out.
  bool key_into(const Row& row, Bytes& out) const;
  // Whether `stored` is a key Access writes for `row`: ours, or ours with
  // expansions (ß, æ, þ) counted once in the positions after the text, as
  // some older files have them (INDEX_FORMAT.md). Throws like key_for.
  bool is_own_key(const Row& row, const Bytes& stored) const;
  // The key of `row` as far as it can be formed: the columns before the
  // first value the encoder cannot key, that column's flag byte and, for
  // text in a learned order, the codes of its leading characters that key
  // as in General (they lead the order's key as well). The whole key when
  // every value can be keyed. A stored key that is the row's begins so.
  void formed_prefix_into(const Row& row, Bytes& out) const;

 private:
  bool key_into(const Row& row, Bytes& out, ExpansionCount expansions) const;

  std::vector<KeyColumn> columns_;
  bool ignore_nulls_ = false;
  std::string unsupported_;
};

}  // namespace jet::index
