#pragma once
// A database opened read-only. Everything the other parts of the engine
// need to know about a file comes from here: the header, decrypted pages,
// the catalog, table definitions and the rows of every table. The file is
// never written. Memory stays bounded by a fixed-size page cache.
//
// Every failure is a jet::Error: 3024 missing file, 3343 not a Jet 3/Jet 4
// database, 3031 wrong password, 3251 an encryption this engine cannot undo, 3049 damaged file, file-layer numbers for
// I/O failures (engine/file/file_errors.h).
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "engine/crypt/encryption_info.h"
#include "engine/crypt/page_cipher.h"
#include "engine/format/header_page.h"
#include "engine/format/jet_format.h"
#include "engine/model/schema.h"
#include "engine/model/value.h"

namespace jet {

namespace crypt {
struct Sealed;
}

class Env;
class Error;
class PageCache;
class RandomAccessFile;

// Where a scan finds a table's data pages.
enum class RowSource {
  kUsageMap,   // the pages the table's owned-pages map marks (what Jet does)
  kPageOwner,  // every data page whose owner field names the table: slower,
               // but finds rows a damaged usage map has lost (for repair)
};

struct OpenOptions {
  std::optional<std::string> password;  // UTF-8; case-sensitive
  Env* env = nullptr;                   // null: the real file system
  std::size_t cache_pages = 256;        // pages kept in memory at most
  // An encrypted ACE file this engine has just written under this
  // encryption (a compacted copy read back for its check): when its header
  // holds exactly this encryption, its pages are read with the cipher that
  // wrote them, whose page IVs are still at hand. Any other header is
  // unlocked with the password as usual.
  const crypt::Sealed* written_under = nullptr;
};

// Catalog object types (MSysObjects.Type).
namespace object_type {
inline constexpr int kForm = -32768;
inline constexpr int kTable = 1;
inline constexpr int kDatabase = 2;
inline constexpr int kContainer = 3;
inline constexpr int kRelationship = 8;
inline constexpr int kQuery = 5;
inline constexpr int kLinkedTable = 6;
inline constexpr int kLinkedOdbcTable = 4;
}  // namespace object_type

// One row of the catalog (MSysObjects).
struct CatalogEntry {
  std::int32_t id = 0;          // for tables: the table-definition page (low 24 bits)
  std::int32_t parent_id = 0;
  std::string name;             // UTF-8
  std::int16_t type = 0;        // see object_type (sign as stored)
  std::uint32_t flags = 0;      // 0x80000000 / 0x00000002: system object
  Bytes properties;             // LvProp as stored (engine/format/property_map.h)
  RowPointer where;             // the catalog row's address
  Row row;                      // every column of the catalog row, as decoded

  bool is_table() const { return type == object_type::kTable; }
  bool is_system() const { return (flags & 0x80000002u) != 0; }
  PageNumber table_page() const { return static_cast<PageNumber>(id) & 0x00FFFFFFu; }
};

// What the header page alone tells, without a password.
struct HeaderSummary {
  HeaderInfo header;
  std::optional<crypt::OfficeEncryption> office_encryption;  // encrypted ACE files
  std::uint64_t file_size = 0;
};

class Database {
 public:
  static std::unique_ptr<Database> open(const std::string& path, const OpenOptions& options = {});
  // Reads the header page only: format, order, encryption. Errors as open's
  // (3031 aside: no password is needed).
  static HeaderSummary read_header(const std::string& path, Env* env = nullptr);
  // Another read-only handle on the same file, with its own file handle and
  // page cache, so that another thread may read through it while this one
  // goes on (the two share nothing mutable). It trusts what this handle
  // already checked (header, password, catalog); the Env this one was
  // opened with must still exist. Throws the file layer's errors, and 3049
  // when the file's size or header page is no longer what this handle saw.
  std::unique_ptr<Database> open_sibling() const;
  ~Database();
  Database(const Database&) = delete;
  Database& operator=(const Database&) = delete;

  const std::string& path() const { return path_; }
  const JetFormat& format() const { return *header_.format; }
  const HeaderInfo& header() const { return header_; }
  JetVersion version() const { return header_.format->version; }
  std::uint32_t page_size() const { return header_.format->page_size; }
  // Whole pages in the file (a partial last page is not counted).
  std::uint32_t page_count() const { return page_count_; }
  std::uint64_t file_size() const { return file_size_; }
  // How the pages after the header are encrypted; null when they are not.
  const std::shared_ptr<const crypt::PageCipher>& page_cipher() const { return cipher_; }
  // The Office encryption of an encrypted ACE file (opened with its password).
  const std::optional<crypt::OfficeEncryption>& office_encryption() const { return office_encryption_; }

  // A page as the engine sees it: decrypted. Page 0 comes back as stored
  // (still masked). Throws 3049 for a page beyond the file.
  Bytes read_page(PageNumber page);
  // The same through the page cache, without copying.
  std::shared_ptr<const Bytes> page(PageNumber page);
  // `count` pages from `first`, decrypted, one after the other in
  // `scratch`, read at once past the cache. Throws 3049 for pages beyond
  // the file. With `head`, only each page's first `head` bytes (a multiple
  // of 16) are sure to be read: in an encrypted file the rest reads as
  // zeros, which spares a pass over page headers the decryption of whole
  // pages; those whose decrypted head `whole` accepts are decrypted whole.
  std::span<const std::uint8_t> read_pages(PageNumber first, std::uint32_t count, Bytes& scratch,
                                           std::uint32_t head = 0,
                                           const std::function<bool(std::span<const std::uint8_t>)>& whole = {});
  // Pages the cache holds now (never more than OpenOptions::cache_pages,
  // at least 4).
  std::size_t cached_pages() const;

  // The catalog: every row of MSysObjects.
  std::vector<CatalogEntry> catalog();
  // For the integrity check of a damaged file: the catalog rows that can be
  // read. Rows on damaged pages are skipped, and a long value that cannot be
  // read (the catalog keeps properties in them) is left empty; the check
  // finds and reports both on its own pass.
  std::vector<CatalogEntry> readable_catalog();
  // The catalog table's own definition (page 2).
  TableDef catalog_table();
  // Every table the catalog lists (system tables included), in catalog order.
  std::vector<TableDef> tables();
  // A table by name (exact, then ignoring ASCII case). Absent: 3078
  // "cannot find the input table"; damaged definition: 3049.
  TableDef table(const std::string& name);
  // The table a catalog row names, its calculated columns given the result
  // types the row's properties name.
  TableDef table_of(const CatalogEntry& entry);
  // The table whose definition starts at `page`. Calculated columns keep
  // their descriptors' types: use table_of where the catalog row is known.
  TableDef table_at(PageNumber page, const std::string& name = {});

  // Calls `visit` for every live row of the table, in page and slot order,
  // with long values (Memo, OLE) resolved. Deleted rows are skipped, rows
  // moved to overflow pages are followed.
  void scan_rows(const TableDef& table,
                 const std::function<void(RowPointer, const Row&)>& visit,
                 RowSource source = RowSource::kUsageMap);
  // The same, giving each live row's bytes as stored (after following
  // overflow pointers) instead of decoded values. The span is valid only
  // during the call.
  void scan_raw_rows(const TableDef& table,
                     const std::function<void(RowPointer, std::span<const std::uint8_t>)>& visit,
                     RowSource source = RowSource::kUsageMap);
  // For repair: like scan_rows, but a row (or a whole page) that cannot be
  // read is reported to `damaged` (with its 3049 error, the source naming
  // table, page and row) and skipped, and the scan goes on. A page-level
  // failure is reported with row number kWholePage. If the usage map
  // itself cannot be read, the pages are found by their owner field.
  static constexpr std::uint16_t kWholePage = 0xFFFF;
  void salvage_rows(const TableDef& table,
                    const std::function<void(RowPointer, const Row&)>& visit,
                    const std::function<void(RowPointer, const Error&)>& damaged,
                    RowSource source = RowSource::kUsageMap);
  // Decodes one row's stored bytes against a table definition.
  Row decode_row(const TableDef& table, std::span<const std::uint8_t> row_bytes);
  // The stored bytes of the row at `where` (overflow followed); nullopt for
  // a deleted row.
  std::optional<Bytes> read_row_bytes(RowPointer where);
  // The same into `out` (its buffer reused); false for a deleted row.
  bool read_row_into(RowPointer where, Bytes& out);
  // The live rows among `rows` as stored (overflow followed), in the order
  // given, for a pass that reads each page once: their pages are read past
  // the cache, those next to each other in the file with one call, and no
  // page is read that holds none of them (read-ahead would bring in the
  // long-value pages between a table's data pages). The span is valid only
  // during the call; errors are those of read_row_into.
  void read_rows_at(std::span<const RowPointer> rows,
                    const std::function<void(RowPointer, std::span<const std::uint8_t>)>& visit);
  // Resolves a long-value field (the 12-byte header plus any inline data
  // as stored in the row) into the value's bytes.
  Bytes read_long_value(std::span<const std::uint8_t> field);

  // The pages a usage map marks (owned pages, free-space pages of a table,
  // or any raw map as stored in TableDef).
  std::vector<PageNumber> usage_map_pages(const Bytes& raw_map);
  // The pages whose rows belong to the table: from its owned-pages map,
  // or by reading every page's owner field.
  std::vector<PageNumber> table_pages(const TableDef& table,
                                      RowSource source = RowSource::kUsageMap);

 private:
  Database() = default;
  // The public operations' bodies; they throw DamagedData, which the public
  // wrappers turn into 3049 for this file.
  std::optional<Bytes> row_bytes_at(RowPointer where);
  // The row's bytes inside `page` (which keeps them alive), or none for a
  // deleted row.
  std::optional<std::span<const std::uint8_t>> row_span_at(RowPointer where, std::shared_ptr<const Bytes>& page);
  Bytes long_value_of(std::span<const std::uint8_t> field);
  Row decode_row_unchecked(const TableDef& table, std::span<const std::uint8_t> row_bytes);
  // With `on_damage`, damaged rows and pages are reported and skipped;
  // without, the first one ends the scan.
  void scan_raw_rows_unchecked(
      const TableDef& table,
      const std::function<void(RowPointer, std::span<const std::uint8_t>)>& visit,
      RowSource source,
      const std::function<void(RowPointer, const Error&)>* on_damage = nullptr);

  std::string path_;
  // The page an overflowing row was last read from by read_rows_at.
  std::shared_ptr<const Bytes> held_for_overflow_;
  Env* env_ = nullptr;
  std::size_t cache_pages_ = 0;
  HeaderInfo header_;
  std::uint32_t page_count_ = 0;
  std::uint64_t file_size_ = 0;
  std::unique_ptr<RandomAccessFile> file_;
  std::shared_ptr<const crypt::PageCipher> cipher_;
  std::optional<crypt::OfficeEncryption> office_encryption_;
  std::unique_ptr<PageCache> cache_;
};

}  // namespace jet
