#pragma once
// The refusal (3251) of rows an index of the copy cannot key: text in the
// source's own order that the encoder cannot form a key for, and whose
// stored key is not proven the row's (its entry lost with a garbled page,
// say). It names the table, the index and every such row, so that a repair
// can take those rows out of the table and make the copy again.
#include <string>
#include <utility>
#include <vector>

#include "engine/error.h"
#include "engine/model/schema.h"

namespace jet::write {

// The refusal (3251) of an index whose stored entries must stand in for
// keys the encoder cannot form, when its tree cannot be read: damage, which
// the repairing pass looks at row by row (UnkeyedRows).
class UnreadableStoredIndex : public Error {
 public:
  explicit UnreadableStoredIndex(std::string description) : Error(errc::kNotBuiltYet, std::move(description)) {}
};

class UnkeyedRows : public Error {
 public:
  UnkeyedRows(std::string description, PageNumber table, std::string index, std::string why,
              std::vector<RowPointer> rows)
      : Error(errc::kNotBuiltYet, std::move(description)),
        table_(table),
        index_(std::move(index)),
        why_(std::move(why)),
        rows_(std::move(rows)) {}

  // The table's id in the source (its first definition page).
  PageNumber table() const { return table_; }
  // The index, as the refusal names it.
  const std::string& index() const { return index_; }
  // Why the first of the rows has no stored key that can stand in.
  const std::string& why() const { return why_; }
  // Where the rows are in the source.
  const std::vector<RowPointer>& rows() const { return rows_; }

 private:
  PageNumber table_;
  std::string index_;
  std::string why_;
  std::vector<RowPointer> rows_;
};

}  // namespace jet::write
