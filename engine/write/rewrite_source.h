#pragma once
// What the rewriter needs from the database it copies: an open file
// (compaction) or tables assembled in memory (the database builder).
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "engine/format/header_page.h"
#include "engine/model/schema.h"
#include "engine/model/value.h"

namespace jet {
class Database;
}

namespace jet::write {

class RewriteSource {
 public:
  virtual ~RewriteSource() = default;
  // Header with its masked region unmasked; its format names the version.
  virtual const HeaderInfo& header() = 0;
  // Pages the source has (for progress).
  virtual std::uint32_t page_count() = 0;
  // Page 1 as stored in the source (rows after the free-page map are kept).
  virtual Bytes page_one() = 0;
  // Every table, each with a distinct definition_page: its current id.
  virtual std::vector<TableDef> tables() = 0;
  // Each live row's stored bytes, with a place that identifies it.
  virtual void scan_raw_rows(const TableDef& table,
                             const std::function<void(RowPointer, std::span<const std::uint8_t>)>& visit) = 0;
  // The rows of `table` will not be scanned again in this rewrite (its
  // first pass keeps what it needs): a source that holds a list of them may
  // let it go. Another handle may be scanning another table meanwhile.
  virtual void release_rows(const TableDef& /*table*/) {}
  // The stored bytes of the live row at `where` (a place scan_raw_rows
  // gave); nullopt when no live row is there.
  virtual std::optional<Bytes> read_row(RowPointer where) = 0;
  // The same into `out` (its buffer reused); false when no live row is there.
  virtual bool read_row_into(RowPointer where, Bytes& out) {
    std::optional<Bytes> row = read_row(where);
    if (!row) return false;
    out = std::move(*row);
    return true;
  }
  // The bytes of a long value from the field a row holds.
  virtual Bytes read_long_value(std::span<const std::uint8_t> field) = 0;
  // Where the row at `where` comes from, which tells whether the source's
  // stored index entries naming that place were written for it.
  enum class RowOrigin : std::uint8_t {
    kStored,          // the bytes the source file holds there
    kLongValuesLost,  // those, rebuilt with some Memo or OLE values made NULL
    kAdded,           // made by a repair: no entry was written for it
  };
  virtual RowOrigin row_origin(RowPointer) { return RowOrigin::kStored; }
  // Pages of the stored indexes, for carrying their entries over; sources
  // without stored indexes throw.
  virtual Bytes read_page(PageNumber page) = 0;
  // Another handle on the same source that a second thread may read while
  // this one is read, or none when the source has no such thing.
  virtual std::unique_ptr<RewriteSource> open_another() { return nullptr; }
};

// The source for compaction: an open database, read-only.
class DatabaseSource : public RewriteSource {
 public:
  explicit DatabaseSource(Database& db);
  explicit DatabaseSource(std::unique_ptr<Database> owned);
  ~DatabaseSource() override;
  const HeaderInfo& header() override;
  std::uint32_t page_count() override;
  Bytes page_one() override;
  std::vector<TableDef> tables() override;
  void scan_raw_rows(const TableDef& table,
                     const std::function<void(RowPointer, std::span<const std::uint8_t>)>& visit) override;
  std::optional<Bytes> read_row(RowPointer where) override;
  bool read_row_into(RowPointer where, Bytes& out) override;
  Bytes read_long_value(std::span<const std::uint8_t> field) override;
  Bytes read_page(PageNumber page) override;
  std::unique_ptr<RewriteSource> open_another() override;

 private:
  std::unique_ptr<Database> owned_;  // for a handle opened by open_another
  Database& db_;
};

}  // namespace jet::write
