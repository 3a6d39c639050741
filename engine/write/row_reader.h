#pragma once
// The reading half of the second pass over a table: reads the rows in write
// order, puts their object ids and text right and reads the long values
// they refer to; then, in key(), decodes the rows and forms every index's
// key. It uses only the source and the index encoders (never the output or
// the key lists), so it may run on a thread of its own. Keys are formed by
// whichever thread calls key(), reading nothing more from the source, so
// the writing thread can take that share of the work; only when a key needs
// a long value is the row keyed as it is read.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/format/row_layout.h"
#include "engine/model/schema.h"
#include "engine/model/value.h"
#include "engine/write/index_copy.h"
#include "engine/write/rewrite_context.h"
#include "engine/write/rewrite_plan.h"
#include "engine/write/row_table.h"

namespace jet::write {

class RewriteSource;

// Rows read, decoded and keyed ahead of being written: the rows' bytes back
// to back, the long values they refer to, and one key slot per index and
// row. The buffers are kept from batch to batch.
struct RowBatch {
  enum class KeyState : std::uint8_t { kNone, kKey, kGaveUp };  // kGaveUp: carry the index over
  struct Key {
    std::size_t begin = 0;  // in key_bytes
    std::uint32_t size = 0;
    KeyState state = KeyState::kNone;
  };
  struct LongValue {
    std::size_t at = 0;  // of its 12-byte reference inside the row
    int group = -1;      // the column whose own pages take it, or -1
    Bytes value;
  };
  struct Row {
    std::size_t begin = 0;  // in bytes
    std::size_t size = 0;
    std::size_t first_long_value = 0;
    std::size_t long_values = 0;
    std::size_t first_key = 0;
    std::uint32_t position = 0;  // scan position (in RowTable::old_at)
  };

  // A batch this large goes on.
  static constexpr std::size_t kMaxRows = 512;
  static constexpr std::size_t kMaxBytes = std::size_t{256} << 10;

  Bytes bytes;
  Bytes key_bytes;
  std::vector<Row> rows;
  std::vector<Key> keys;
  std::vector<LongValue> long_values;
  std::size_t long_value_bytes = 0;
  bool keyed = false;  // the rows' keys have been formed

  void clear() {
    bytes.clear();
    key_bytes.clear();
    rows.clear();
    keys.clear();
    long_values.clear();
    long_value_bytes = 0;
    keyed = false;
  }
  bool full() const {
    return rows.size() >= kMaxRows || bytes.size() + key_bytes.size() + long_value_bytes >= kMaxBytes;
  }
};

class RowReader {
 public:
  // With `copy_long_values`, the long values rows refer to are read into
  // the batch, for the long-value copy.
  RowReader(RewriteContext& ctx, const TablePlan& plan, const RowTable& rows, std::vector<IndexCopy>& indexes,
            bool copy_long_values);

  // The next rows, until the batch is full; false when none are left.
  bool fill(RowBatch& batch);
  // Decodes the batch's rows and forms their keys, unless fill() has.
  void key(RowBatch& batch);

  bool has_autonumber() const { return autonumber_ != nullptr; }
  // The largest AutoNumber of the rows read, 0 for none.
  std::int64_t largest_autonumber() const { return largest_; }

 private:
  void key_row(RowBatch& batch, RowBatch::Row& row, const std::vector<RawField>& fields, RewriteSource* source);
  void collect_long_values(Bytes& raw, const std::vector<RawField>& fields, RowBatch& batch);
  bool stored_key_is_the_rows(IndexCopy& index);
  RowBatch::Key key_of(IndexCopy& index, RowBatch& batch);

  RewriteContext& ctx_;
  const TablePlan& plan_;
  const RowTable& rows_;
  std::vector<IndexCopy>& indexes_;  // the reader uses their encoders, reasons and counts only
  const bool copy_long_values_;
  const Column* autonumber_ = nullptr;
  std::vector<bool> wanted_;
  bool decode_ = false;
  bool key_as_read_ = false;  // some key needs a long value: rows are keyed as they are read
  std::size_t next_ = 0;  // in rows_.order
  // Used while reading: the row being read and its split, buffers reused.
  Bytes raw_;
  std::vector<RawField> fields_;
  std::vector<RawField> text_fields_;  // the split convert_row_text uses
  // Used while keying (on the thread that calls key() when rows are not
  // keyed as they are read).
  std::vector<RawField> key_fields_;
  Row values_;
  std::uint32_t position_ = 0;  // of the row being keyed
  Bytes row_key_;
  std::int64_t largest_ = 0;
};

}  // namespace jet::write
