#include "engine/read/database.h"

#include <algorithm>
#include <new>
#include <set>
#include <stdexcept>

#include "engine/crypt/office_cipher.h"
#include "engine/error.h"
#include "engine/file/env.h"
#include "engine/file/file_errors.h"
#include "engine/format/calculated_value.h"
#include "engine/format/damaged.h"
#include "engine/format/data_page.h"
#include "engine/format/property_map.h"
#include "engine/format/row_layout.h"
#include "engine/format/table_definition.h"
#include "engine/format/text_codec.h"
#include "engine/format/usage_map.h"
#include "engine/model/system_catalog.h"
#include "engine/read/page_cache.h"

namespace jet {
namespace {

using system_catalog::kCatalogPage;
// A row moved more than this many times is a damaged overflow chain.
constexpr int kMaxOverflowHops = 16;

Error unrecognized(const std::string& path) {
  return Error(errc::kUnrecognizedFormat, "Unrecognized database format '" + path + "'.");
}

// Runs `body`, turning structural damage found on the way into 3049 for
// this file. jet::Errors (I/O, password) pass through unchanged.
template <typename Body>
auto guarded(const std::string& path, Body&& body) -> decltype(body()) {
  try {
    return body();
  } catch (const DamagedData& e) {
    throw damaged_file_error(path, e.what());
  } catch (const std::length_error& e) {
    throw damaged_file_error(path, e.what());
  } catch (const std::bad_alloc&) {
    throw damaged_file_error(path, "a stored length is too large");
  }
}

std::int64_t int_of(const Row& row, const TableDef& t, std::string_view column) {
  for (std::size_t i = 0; i < t.columns.size(); ++i) {
    if (t.columns[i].name == column) return row[i].is_null ? 0 : row[i].integer;
  }
  return 0;
}

Bytes bytes_of(const Row& row, const TableDef& t, std::string_view column) {
  for (std::size_t i = 0; i < t.columns.size(); ++i) {
    if (t.columns[i].name == column) return row[i].bytes;
  }
  return {};
}

std::string text_of(const Row& row, const TableDef& t, std::string_view column) {
  for (std::size_t i = 0; i < t.columns.size(); ++i) {
    if (t.columns[i].name == column) return utf16_to_utf8(row[i].text);
  }
  return {};
}

// One catalog row as the entry the rest of the engine looks objects up by.
CatalogEntry catalog_entry(const TableDef& catalog, RowPointer where, Row row) {
  CatalogEntry e;
  e.id = static_cast<std::int32_t>(int_of(row, catalog, "Id"));
  e.parent_id = static_cast<std::int32_t>(int_of(row, catalog, "ParentId"));
  e.name = text_of(row, catalog, "Name");
  e.type = static_cast<std::int16_t>(int_of(row, catalog, "Type"));
  e.flags = static_cast<std::uint32_t>(int_of(row, catalog, "Flags"));
  e.properties = bytes_of(row, catalog, "LvProp");
  e.where = where;
  e.row = std::move(row);
  return e;
}

}  // namespace

Database::~Database() = default;

std::unique_ptr<Database> Database::open(const std::string& path, const OpenOptions& options) {
  Env& env = options.env != nullptr ? *options.env : default_env();
  std::unique_ptr<Database> db(new Database());
  db->path_ = path;
  db->env_ = &env;
  db->cache_pages_ = options.cache_pages;
  db->file_ = env.open_readable(path);
  db->file_size_ = db->file_->size();

  return guarded(path, [&]() -> std::unique_ptr<Database> {
    // Enough for either format's header page; a shorter file is checked for
    // the magic bytes first so that a short text file is "unrecognized".
    Bytes first(static_cast<std::size_t>(std::min<std::uint64_t>(db->file_size_, 4096)));
    if (!first.empty()) db->file_->read(0, first.size(), first.data());
    if (!parse_header_page(first.data(), first.size(), path, db->header_)) throw unrecognized(path);

    const JetFormat& f = *db->header_.format;
    db->page_count_ = static_cast<std::uint32_t>(
        std::min<std::uint64_t>(db->file_size_ / f.page_size, 0xFFFFFFFFu));
    if (db->page_count_ <= kCatalogPage) damaged("the file ends before the catalog");

    if (f.ace && db->header_.encrypted()) {
      // ACE encrypts every page after the header with a key derived from
      // the password (Office document encryption); the password is checked
      // against the verifier in the header before any other page is read.
      db->office_encryption_ = crypt::read_office_encryption(db->header_.unmasked);
      if (!options.password) throw Error(errc::kNotAValidPassword, "Not a valid password.");
      const crypt::Sealed* sealed = options.written_under;
      if (sealed != nullptr && crypt::holds_office_encryption(db->header_.unmasked, sealed->info)) {
        db->cipher_ = sealed->cipher;
      } else {
        db->cipher_ = crypt::unlock(*db->office_encryption_, utf8_to_utf16(*options.password), db->header_.database_key);
      }
    } else {
      if (db->header_.has_password()) {
        bool ok = options.password.has_value() && utf8_to_utf16(*options.password) == db->header_.password;
        if (!ok) throw Error(errc::kNotAValidPassword, "Not a valid password.");
      }
      if (db->header_.encrypted()) db->cipher_ = crypt::jet_rc4_cipher(db->header_.database_key);
    }

    db->cache_ = std::make_unique<PageCache>(*db->file_, f.page_size, db->page_count_, db->cipher_,
                                             options.cache_pages);
    // The catalog's definition must be readable for the file to be usable.
    db->table_at(kCatalogPage, "MSysObjects");
    return std::move(db);
  });
}

HeaderSummary Database::read_header(const std::string& path, Env* env) {
  auto file = (env != nullptr ? *env : default_env()).open_readable(path);
  HeaderSummary out;
  out.file_size = file->size();
  return guarded(path, [&] {
    Bytes first(static_cast<std::size_t>(std::min<std::uint64_t>(out.file_size, 4096)));
    if (!first.empty()) file->read(0, first.size(), first.data());
    if (!parse_header_page(first.data(), first.size(), path, out.header)) throw unrecognized(path);
    if (out.header.format->ace && out.header.encrypted()) {
      out.office_encryption = crypt::read_office_encryption(out.header.unmasked);
    }
    return out;
  });
}

std::unique_ptr<Database> Database::open_sibling() const {
  std::unique_ptr<Database> db(new Database());
  db->path_ = path_;
  db->env_ = env_;
  db->cache_pages_ = cache_pages_;
  db->header_ = header_;
  db->cipher_ = cipher_;
  db->office_encryption_ = office_encryption_;
  db->page_count_ = page_count_;
  db->file_ = env_->open_readable(path_);
  db->file_size_ = db->file_->size();
  // The path may name another file by now (replaced, or grown by a writer).
  bool same = db->file_size_ == file_size_;
  if (same) {
    Bytes first(static_cast<std::size_t>(std::min<std::uint64_t>(file_size_, 4096)));
    db->file_->read(0, first.size(), first.data());
    HeaderInfo again;
    same = guarded(path_, [&] { return parse_header_page(first.data(), first.size(), path_, again); }) &&
           again.unmasked == header_.unmasked;
  }
  if (!same) throw damaged_file_error(path_, "the file changed while it was open");
  db->cache_ = std::make_unique<PageCache>(*db->file_, page_size(), page_count_, cipher_, cache_pages_);
  return db;
}

Bytes Database::read_page(PageNumber page) {
  return guarded(path_, [&] { return cache_->read_uncached(page); });
}

std::span<const std::uint8_t> Database::read_pages(PageNumber first, std::uint32_t count, Bytes& scratch,
                                                   std::uint32_t head,
                                                   const std::function<bool(std::span<const std::uint8_t>)>& whole) {
  return guarded(path_, [&] { return cache_->read_uncached_run(first, count, scratch, head, whole); });
}

std::shared_ptr<const Bytes> Database::page(PageNumber page) {
  return guarded(path_, [&] { return cache_->get(page); });
}

std::size_t Database::cached_pages() const { return cache_->size(); }

TableDef Database::catalog_table() { return table_at(kCatalogPage, "MSysObjects"); }

std::vector<CatalogEntry> Database::catalog() {
  TableDef t = catalog_table();
  std::vector<CatalogEntry> out;
  scan_rows(t, [&](RowPointer where, const Row& row) {
    out.push_back(catalog_entry(t, where, row));
  });
  return out;
}

std::vector<CatalogEntry> Database::readable_catalog() {
  TableDef t = catalog_table();
  std::vector<CatalogEntry> out;
  const auto long_value_or_empty = [this](std::span<const std::uint8_t> field) {
    try {
      return long_value_of(field);
    } catch (const DamagedData&) {
      return Bytes{};
    }
  };
  const std::function<void(RowPointer, const Error&)> skip = [](RowPointer, const Error&) {};
  guarded(path_, [&] {
    scan_raw_rows_unchecked(
        t,
        [&](RowPointer where, std::span<const std::uint8_t> bytes) {
          Row row;
          try {
            row = jet::decode_row(format(), t, bytes, header_.code_page, long_value_or_empty);
          } catch (const DamagedData&) {
            return;
          }
          out.push_back(catalog_entry(t, where, std::move(row)));
        },
        RowSource::kUsageMap, &skip);
  });
  return out;
}

std::vector<TableDef> Database::tables() {
  std::vector<TableDef> out;
  for (const CatalogEntry& e : catalog()) {
    if (!e.is_table()) continue;
    out.push_back(table_of(e));
  }
  return out;
}

TableDef Database::table(const std::string& name) {
  auto entries = catalog();
  for (int pass = 0; pass < 2; ++pass) {
    for (const CatalogEntry& e : entries) {
      if (!e.is_table()) continue;
      if (pass == 0 ? e.name == name : equals_ignoring_ascii_case(e.name, name)) {
        return table_of(e);
      }
    }
  }
  throw Error(3078, "Cannot find the input table or query '" + name +
                        "'. Make sure it exists and that its name is spelled correctly.");
}

TableDef Database::table_of(const CatalogEntry& entry) {
  TableDef t = table_at(entry.table_page(), entry.name);
  if (std::none_of(t.columns.begin(), t.columns.end(), [](const Column& c) { return c.is_calculated(); })) return t;
  // Properties that do not parse leave the descriptors' types; the check
  // reads values with them and reports what does not fit.
  try {
    apply_calculated_result_types(t, parse_property_maps(entry.properties));
  } catch (const DamagedData&) {
  }
  return t;
}

TableDef Database::table_at(PageNumber page, const std::string& name) {
  return guarded(path_, [&] {
    const JetFormat& f = format();
    std::vector<PageNumber> chain;
    Bytes joined = join_table_definition(
        f, [this](PageNumber p) { return cache_->get(p); }, page, page_count_, &chain);
    TableDef t = parse_table_definition(f, joined, header_.code_page);
    t.name = name;
    t.definition_page = page;
    t.definition_pages = std::move(chain);
    if (t.owned_map_row.page != 0) {
      if (auto bytes = row_bytes_at(t.owned_map_row)) t.usage_map_owned = std::move(*bytes);
    }
    if (t.free_map_row.page != 0) {
      if (auto bytes = row_bytes_at(t.free_map_row)) t.usage_map_free = std::move(*bytes);
    }
    return t;
  });
}

std::optional<Bytes> Database::read_row_bytes(RowPointer where) {
  return guarded(path_, [&] { return row_bytes_at(where); });
}

bool Database::read_row_into(RowPointer where, Bytes& out) {
  return guarded(path_, [&] {
    std::shared_ptr<const Bytes> page;
    const std::optional<std::span<const std::uint8_t>> bytes = row_span_at(where, page);
    if (!bytes) return false;
    out.assign(bytes->begin(), bytes->end());
    return true;
  });
}

void Database::read_rows_at(std::span<const RowPointer> rows,
                            const std::function<void(RowPointer, std::span<const std::uint8_t>)>& visit) {
  const JetFormat& f = format();
  Bytes scratch;
  std::span<const std::uint8_t> run;
  std::size_t i = 0;
  while (i < rows.size()) {
    // The rows on a stretch of pages that follow each other in the file.
    const PageNumber first = rows[i].page;
    PageNumber last = first;
    std::size_t end = i + 1;
    for (; end < rows.size(); ++end) {
      const PageNumber p = rows[end].page;
      if (p != last && (p != last + 1 || p - first >= PageCache::kMaxReadAhead)) break;
      last = p;
    }
    run = guarded(path_, [&] { return cache_->read_uncached_run(first, last - first + 1, scratch); });
    for (; i < end; ++i) {
      const RowPointer where = rows[i];
      const std::optional<std::span<const std::uint8_t>> bytes = guarded(path_, [&] {
        const std::span<const std::uint8_t> page = run.subspan(std::size_t{where.page - first} * f.page_size, f.page_size);
        const RowSlot slot = data_page_slot(f, page, where.row);
        if (slot.deleted) return std::optional<std::span<const std::uint8_t>>{};
        if (slot.overflow) return row_span_at(where, held_for_overflow_);
        return std::optional<std::span<const std::uint8_t>>{page.subspan(slot.start, slot.end - slot.start)};
      });
      if (bytes) visit(where, *bytes);
    }
  }
}

std::optional<Bytes> Database::row_bytes_at(RowPointer where) {
  std::shared_ptr<const Bytes> page;
  const std::optional<std::span<const std::uint8_t>> bytes = row_span_at(where, page);
  if (!bytes) return std::nullopt;
  return Bytes(bytes->begin(), bytes->end());
}

std::optional<std::span<const std::uint8_t>> Database::row_span_at(RowPointer where,
                                                                   std::shared_ptr<const Bytes>& page) {
  const JetFormat& f = format();
  page = cache_->get(where.page);
  RowSlot slot = data_page_slot(f, *page, where.row);
  if (slot.deleted) return std::nullopt;
  for (int hop = 0; slot.overflow; ++hop) {
    if (hop >= kMaxOverflowHops) damaged("overflow row chain too long or looping");
    std::span<const std::uint8_t> bytes(page->data() + slot.start, slot.end - slot.start);
    RowPointer next = decode_row_pointer(get_u32(bytes, 0));
    page = cache_->get(next.page);
    slot = data_page_slot(f, *page, next.row);
    slot.overflow = false;  // the moved row is marked deleted; it holds the data
  }
  return std::span<const std::uint8_t>(page->data() + slot.start, slot.end - slot.start);
}

std::vector<PageNumber> Database::usage_map_pages(const Bytes& raw_map) {
  return guarded(path_, [&] {
    return decode_usage_map(format(), raw_map, [this](PageNumber p) { return cache_->get(p); },
                            page_count_);
  });
}

std::vector<PageNumber> Database::table_pages(const TableDef& table, RowSource source) {
  if (source == RowSource::kUsageMap) return usage_map_pages(table.usage_map_owned);
  return guarded(path_, [&] {
    std::vector<PageNumber> pages;
    for (PageNumber p = 1; p < page_count_; ++p) {
      auto page = cache_->get(p);
      if ((*page)[0] == page_type::kData && data_page_owner(format(), *page) == table.definition_page) {
        pages.push_back(p);
      }
    }
    return pages;
  });
}

void Database::scan_raw_rows(
    const TableDef& table,
    const std::function<void(RowPointer, std::span<const std::uint8_t>)>& visit,
    RowSource source) {
  guarded(path_, [&] { scan_raw_rows_unchecked(table, visit, source); });
}

void Database::scan_raw_rows_unchecked(
    const TableDef& table,
    const std::function<void(RowPointer, std::span<const std::uint8_t>)>& visit,
    RowSource source, const std::function<void(RowPointer, const Error&)>* on_damage) {
  const JetFormat& f = format();
  auto report = [&](RowPointer where, const std::string& detail) {
    std::string at = "table '" + table.name + "', page " + std::to_string(where.page);
    if (where.row != kWholePage) at += " row " + std::to_string(where.row);
    if (on_damage == nullptr) damaged(at + ": " + detail);
    (*on_damage)(where, damaged_file_error(path_, at + ": " + detail));
  };
  std::vector<PageNumber> pages;
  try {
    pages = table_pages(table, source);
  } catch (const Error& e) {
    if (on_damage == nullptr || source == RowSource::kPageOwner || is_environment_fault(e)) throw;
    pages = table_pages(table, RowSource::kPageOwner);
  }
  for (PageNumber p : pages) {
    std::shared_ptr<const Bytes> page;
    try {
      page = cache_->get(p);
    } catch (const DamagedData& e) {
      report(RowPointer{p, kWholePage}, e.what());
      continue;
    }
    // The owned-pages map can mark pages that are no longer this table's
    // data pages (freed, reused); only its own data pages hold its rows.
    if ((*page)[0] != page_type::kData || data_page_owner(f, *page) != table.definition_page) {
      continue;
    }
    std::uint16_t rows = 0;
    try {
      rows = data_page_row_count(f, *page);
    } catch (const DamagedData& e) {
      report(RowPointer{p, kWholePage}, e.what());
      continue;
    }
    for (std::uint16_t r = 0; r < rows; ++r) {
      RowPointer where{p, r};
      // Damage found while reading this row names the table and the row.
      try {
        RowSlot slot = data_page_slot(f, *page, r);
        if (slot.deleted) continue;
        if (!slot.overflow) {
          visit(where, std::span<const std::uint8_t>(page->data() + slot.start, slot.end - slot.start));
          continue;
        }
        std::optional<Bytes> moved = row_bytes_at(where);
        if (moved) visit(where, *moved);
      } catch (const DamagedData& e) {
        report(where, e.what());
      }
    }
  }
}

void Database::scan_rows(const TableDef& table,
                         const std::function<void(RowPointer, const Row&)>& visit,
                         RowSource source) {
  guarded(path_, [&] {
    scan_raw_rows_unchecked(
        table,
        [&](RowPointer where, std::span<const std::uint8_t> bytes) {
          Row row = decode_row_unchecked(table, bytes);
          visit(where, row);
        },
        source);
  });
}

void Database::salvage_rows(const TableDef& table,
                            const std::function<void(RowPointer, const Row&)>& visit,
                            const std::function<void(RowPointer, const Error&)>& damaged_row,
                            RowSource source) {
  guarded(path_, [&] {
    scan_raw_rows_unchecked(
        table,
        [&](RowPointer where, std::span<const std::uint8_t> bytes) {
          Row row = decode_row_unchecked(table, bytes);
          visit(where, row);
        },
        source, &damaged_row);
  });
}

Row Database::decode_row(const TableDef& table, std::span<const std::uint8_t> row_bytes) {
  return guarded(path_, [&] { return decode_row_unchecked(table, row_bytes); });
}

Row Database::decode_row_unchecked(const TableDef& table, std::span<const std::uint8_t> row_bytes) {
  return jet::decode_row(format(), table, row_bytes, header_.code_page,
                         [this](std::span<const std::uint8_t> field) { return long_value_of(field); });
}

Bytes Database::read_long_value(std::span<const std::uint8_t> field) {
  return guarded(path_, [&] { return long_value_of(field); });
}

Bytes Database::long_value_of(std::span<const std::uint8_t> field) {
  const JetFormat& f = format();
  LongValueRef ref = parse_long_value_ref(field);
  std::uint64_t limit = std::uint64_t{page_count_} * f.page_size;
  if (ref.length > limit) damaged("long value longer than the file");
  if (ref.kind == kLongValueInline) {
    return Bytes(get_bytes(field, 12, ref.length).begin(), get_bytes(field, 12, ref.length).end());
  }
  auto row_at = [&](std::uint32_t stored) {
    RowPointer where = decode_row_pointer(stored);
    auto page = cache_->get(where.page);
    // A long-value page with garbled offsets would hand out slices of
    // other values, or of nothing, as this one.
    check_row_offsets_in_order(f, *page);
    RowSlot slot = data_page_slot(f, *page, where.row);
    return std::make_pair(page, slot);
  };
  if (ref.kind == kLongValueSingleRow) {
    auto [page, slot] = row_at(ref.row_pointer);
    if (std::uint32_t{slot.end} - slot.start < ref.length) damaged("long value row shorter than its length");
    return Bytes(page->begin() + slot.start, page->begin() + slot.start + ref.length);
  }
  if (ref.kind != kLongValueChained) damaged("unknown long value storage kind");
  Bytes out;
  out.reserve(std::min<std::size_t>(ref.length, 1u << 20));
  std::set<std::uint32_t> seen;
  std::uint32_t next = ref.row_pointer;
  while (out.size() < ref.length) {
    if (next == 0) damaged("long value chain ends early");
    if (!seen.insert(next).second) damaged("long value chain loops");
    auto [page, slot] = row_at(next);
    std::span<const std::uint8_t> row(page->data() + slot.start, slot.end - slot.start);
    next = get_u32(row, 0);
    // Every link carries data; an empty one could only pad a damaged chain.
    if (row.size() == 4) damaged("long value chain has an empty link");
    std::size_t take = std::min<std::size_t>(row.size() - 4, ref.length - out.size());
    out.insert(out.end(), row.begin() + 4, row.begin() + 4 + static_cast<std::ptrdiff_t>(take));
  }
  return out;
}

}  // namespace jet
