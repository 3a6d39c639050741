#include "engine/builder/database_builder.h"

#include <algorithm>
#include <optional>

#include "engine/builder/header_builder.h"
#include "engine/builder/system_tables.h"
#include "engine/builder/table_layout.h"
#include "engine/error.h"
#include "engine/file/env.h"
#include "engine/format/data_page.h"
#include "engine/format/text_codec.h"
#include "engine/format/table_definition.h"
#include "engine/index/index_builder.h"
#include "engine/index/index_key.h"
#include "engine/write/data_page_builder.h"
#include "engine/write/header_writer.h"
#include "engine/write/little_endian.h"
#include "engine/write/long_value_writer.h"
#include "engine/write/row_builder.h"
#include "engine/write/table_definition_builder.h"
#include "engine/write/table_definition_writer.h"
#include "engine/write/usage_map_builder.h"

namespace jet::build {

namespace {

constexpr int kObjectExists = 3010;
constexpr std::uint16_t kCodePage = 1252;
constexpr std::uint32_t kFreeMapPage = 1;
constexpr std::uint32_t kMapPageOwner = 0;
// Long-value pages collected before they are handed to the file; a flush
// closes the open page, so this bounds both memory and the space lost.
constexpr std::size_t kLongValueFlushPages = 32;

[[noreturn]] void internal(const std::string& what) {
  throw Error(errc::kCannotOpenDatabase, "Internal error while building the database: " + what + ".");
}

struct LongValueColumn {
  std::uint16_t number = 0;
  std::unique_ptr<write::LongValueWriter> writer;
  std::size_t flushed = 0;           // entries of writer->pages() already on disk
  std::vector<std::uint32_t> pages;  // every page written, ascending
};

struct TableState {
  TableLayout layout;
  TableDef def;  // the reader's view of the layout, for the key encoders
  std::vector<std::uint32_t> definition_pages;
  std::optional<write::DataPageBuilder> page;
  std::uint32_t page_number = 0;
  std::vector<std::uint16_t> deleted_on_page;
  std::vector<std::uint32_t> data_pages;  // ascending
  std::vector<LongValueColumn> long_values;
  std::vector<index::IndexKeyEncoder> encoders;
  std::vector<std::vector<index::IndexEntry>> entries;
  std::uint32_t live_rows = 0;
  std::int64_t last_autonumber = 0;
  TablePlacement placement;
};

}  // namespace

struct DatabaseBuilder::Impl {
  std::string path;
  BuildOptions options;
  const JetFormat* jet = &jet4_format();
  write::WriteFormat format = write::WriteFormat::jet4_format();
  index::Format index_format = index::Format::Jet4;
  Env* env = nullptr;
  std::unique_ptr<WritableFile> file;
  std::uint32_t next_page = 2;  // 0 header, 1 free-page map
  std::vector<TableState> tables;
  std::optional<std::u16string> password;
  bool finished = false;

  std::uint32_t allocate() { return next_page++; }

  void write_page(std::uint32_t number, const Bytes& bytes) {
    if (bytes.size() != format.page_size) internal("page of the wrong size");
    file->write(std::uint64_t{number} * format.page_size, bytes.data(), bytes.size());
  }

  std::size_t add(TableLayout layout) {
    for (const TableState& t : tables) {
      if (equals_ignoring_ascii_case(t.layout.name, layout.name)) {
        throw Error(kObjectExists, "Table '" + layout.name + "' already exists.");
      }
    }
    TableState t;
    t.placement = TablePlacement::blank(layout);
    const Bytes draft = write::build_table_definition(*jet, layout, t.placement, kCodePage);
    const std::uint32_t n = write::table_definition_page_count(format, draft);
    for (std::uint32_t i = 0; i < n; ++i) t.definition_pages.push_back(allocate());
    t.def = parse_table_definition(*jet, draft, kCodePage);
    t.def.name = layout.name;
    t.def.definition_page = t.definition_pages.front();
    for (std::size_t i = 0; i < t.def.index_data.size(); ++i) {
      t.encoders.emplace_back(t.def, t.def.index_data[i], index_format);
      if (!t.encoders.back().unsupported_reason().empty()) {
        throw Error(3001, "Invalid index on table '" + layout.name + "': " + t.encoders.back().unsupported_reason() + ".");
      }
    }
    t.entries.resize(layout.indexes.size());
    for (std::uint16_t number : layout.long_value_columns) {
      LongValueColumn c;
      c.number = number;
      c.writer = std::make_unique<write::LongValueWriter>(format, [this] { return allocate(); });
      t.long_values.push_back(std::move(c));
    }
    t.layout = std::move(layout);
    tables.push_back(std::move(t));
    return tables.size() - 1;
  }

  void flush_long_values(LongValueColumn& c, bool all) {
    if (!all && c.writer->pages().size() - c.flushed < kLongValueFlushPages) return;
    for (const write::FinishedPage& p : c.writer->finish()) {
      write_page(p.number, p.bytes);
      c.pages.push_back(p.number);
    }
    c.flushed = c.writer->pages().size();
  }

  Bytes store_long_value(TableState& t, const Column& column, const Bytes& value) {
    Bytes field(12, 0);
    if (value.size() <= format.max_inline_long_value) {
      write::put_u32(field, 0, static_cast<std::uint32_t>(value.size()) | write::kLongValueFlagInline);
      field.resize(12 + value.size());
      std::copy(value.begin(), value.end(), field.begin() + 12);
      return field;
    }
    for (LongValueColumn& c : t.long_values) {
      if (c.number != column.number) continue;
      const write::LongValueReference ref = c.writer->write(value);
      std::copy(ref.begin(), ref.end(), field.begin());
      flush_long_values(c, false);
      return field;
    }
    internal("long-value column without its writer");
  }

  void close_page(TableState& t) {
    if (!t.page) return;
    Bytes& bytes = t.page->mutable_page();
    for (std::uint16_t slot : t.deleted_on_page) {
      const std::size_t entry = format.data_row_table_at + 2u * slot;
      write::put_u16(bytes, entry, write::get_u16(bytes, entry) | kRowDeletedFlag | kRowOverflowFlag);
    }
    write_page(t.page_number, bytes);
    t.data_pages.push_back(t.page_number);
    t.page.reset();
    t.deleted_on_page.clear();
  }

  std::int64_t append(std::size_t handle, Row values, RowFate fate) {
    if (finished) internal("row appended after finish");
    if (handle >= tables.size()) throw Error(3001, "No such table handle.");
    TableState& t = tables[handle];
    std::int64_t given = 0;
    for (std::size_t i = 0; i < t.layout.columns.size() && i < values.size(); ++i) {
      const ColumnLayout& c = t.layout.columns[i];
      if ((c.flags & write::kColumnAutoNumber) == 0) continue;
      if (values[i].is_null) {
        given = ++t.last_autonumber;
        values[i] = Value{ColumnType::Long, false, given, 0, {}, {}, {}};
      } else {
        given = values[i].integer;
        t.last_autonumber = std::max(t.last_autonumber, given);
      }
    }
    const Bytes row = write::build_row(*jet, t.def, values, kCodePage, [&](const Column& c, const Bytes& v) {
      return store_long_value(t, c, v);
    });
    if (row.size() > write::DataPageBuilder::max_row_size(format)) {
      throw Error(3001, "Row for table '" + t.layout.name + "' is longer than a page holds.");
    }
    if (t.page && !t.page->fits(row.size())) close_page(t);
    if (!t.page) {
      t.page.emplace(format, t.definition_pages.front());
      t.page_number = allocate();
    }
    const std::uint16_t slot = t.page->add(row);
    if (fate == RowFate::kDeleted) {
      t.deleted_on_page.push_back(slot);
      return given;
    }
    ++t.live_rows;
    const RowPointer at{t.page_number, slot};
    for (std::size_t i = 0; i < t.encoders.size(); ++i) {
      std::optional<Bytes> key = t.encoders[i].key_for(values);
      if (key) t.entries[i].push_back(index::IndexEntry{std::move(*key), at, 0});
    }
    return given;
  }

  void write_indexes(TableState& t) {
    for (std::size_t i = 0; i < t.entries.size(); ++i) {
      std::vector<index::IndexEntry>& entries = t.entries[i];
      std::sort(entries.begin(), entries.end(),
                [](const index::IndexEntry& a, const index::IndexEntry& b) { return index::compare_entries(a, b) < 0; });
      const bool unique = (t.layout.indexes[i].flags & 0x01) != 0;
      for (std::size_t k = 1; unique && k < entries.size(); ++k) {
        if (index::compare_keys(entries[k - 1].key, entries[k].key) == 0) {
          throw Error(3022, "Duplicate value in unique index '" + t.layout.indexes[i].name + "' of table '" +
                                t.layout.name + "'.");
        }
      }
      index::BuiltIndex built =
          index::build_index_tree(entries, index_format, t.definition_pages.front(), [this] { return allocate(); });
      write::PageSet pages;
      for (const index::BuiltPage& p : built.pages) {
        write_page(p.number, p.bytes);
        pages.insert(p.number);
      }
      t.placement.index_roots[i] = built.root;
      t.placement.index_entries[i] = static_cast<std::uint32_t>(built.entries);
      index_pages.push_back(std::move(pages));
      entries = {};
    }
  }

  // Usage-map rows, packed onto owner-0 data pages as they come.
  std::optional<write::DataPageBuilder> map_page;
  std::uint32_t map_page_number = 0;
  std::vector<write::PageSet> index_pages;  // per index of the table being finished

  std::uint32_t add_map(const write::PageSet& pages) {
    Bytes row;
    if (write::fits_inline_map(format, pages)) {
      row = write::build_inline_map(format, pages);
    } else {
      std::vector<std::uint32_t> bitmap_pages;
      const std::uint32_t n = write::reference_map_pages_needed(format, pages);
      for (std::uint32_t i = 0; i < n; ++i) bitmap_pages.push_back(allocate());
      write::ReferenceMap map = write::build_reference_map(format, pages, bitmap_pages);
      for (std::uint32_t i = 0; i < n; ++i) write_page(bitmap_pages[i], map.pages[i]);
      row = std::move(map.row);
    }
    if (map_page && !map_page->fits(row.size())) {
      write_page(map_page_number, map_page->page());
      map_page.reset();
    }
    if (!map_page) {
      map_page.emplace(format, kMapPageOwner);
      map_page_number = allocate();
    }
    return write::row_reference(map_page_number, map_page->add(row));
  }

  static write::PageSet all_of(const std::vector<std::uint32_t>& pages) {
    write::PageSet set;
    set.insert(pages.begin(), pages.end());
    return set;
  }

  static write::PageSet last_of(const std::vector<std::uint32_t>& pages) {
    if (pages.empty()) return {};
    return {pages.back()};
  }

  void finish_table(TableState& t) {
    close_page(t);
    for (LongValueColumn& c : t.long_values) flush_long_values(c, true);
    index_pages.clear();
    write_indexes(t);
    TablePlacement& p = t.placement;
    p.row_count = t.live_rows;
    p.next_autonumber = static_cast<std::uint32_t>(t.last_autonumber + 1);
    p.owned_map = add_map(all_of(t.data_pages));
    p.free_map = add_map(last_of(t.data_pages));
    for (std::size_t i = 0; i < index_pages.size(); ++i) p.index_maps[i] = add_map(index_pages[i]);
    for (std::size_t k = 0; k < t.long_values.size(); ++k) {
      const LongValueColumn& c = t.long_values[k];
      p.column_owned_maps[k] = add_map(all_of(c.pages));
      p.column_free_maps[k] = add_map(last_of(c.pages));
    }
  }

  void write_definition(const TableState& t) {
    const Bytes definition = write::build_table_definition(*jet, t.layout, t.placement, kCodePage);
    const std::vector<Bytes> pages = write::split_table_definition(format, definition, t.definition_pages);
    for (std::size_t i = 0; i < pages.size(); ++i) write_page(t.definition_pages[i], pages[i]);
  }

  void finish_all() {
    if (finished) internal("finish called twice");
    // The catalog rows go in last, when every table's page is known.
    const double created = options.creation_date;
    for (const Row& r : standard_catalog_rows(created)) append(0, r, RowFate::kLive);
    for (std::size_t i = 0; i < tables.size(); ++i) {
      append(0, table_catalog_row(tables[i].definition_pages.front(), tables[i].layout.name, tables[i].layout.system, created),
             RowFate::kLive);
    }
    for (const Row& r : standard_ace_rows()) append(1, r, RowFate::kLive);
    for (TableState& t : tables) finish_table(t);
    if (map_page) write_page(map_page_number, map_page->page());
    for (const TableState& t : tables) write_definition(t);

    const std::uint32_t page_count = next_page;
    write_page(kFreeMapPage, write::build_free_page_map_page(format, write::blank_free_page_map_page(format), page_count));
    write_page(0, write::build_header_page(new_header(jet->version, created), password));
    file->sync();
    file->close();
    finished = true;
  }
};

DatabaseBuilder::DatabaseBuilder(const std::string& path, const BuildOptions& options) : impl_(std::make_unique<Impl>()) {
  Impl& b = *impl_;
  b.path = path;
  b.options = options;
  const bool jet4 = options.version == JetVersion::Jet4;
  b.jet = jet4 ? &jet4_format() : &jet3_format();
  b.format = write::WriteFormat::for_version(jet4);
  b.index_format = jet4 ? index::Format::Jet4 : index::Format::Jet3;
  b.env = options.env ? options.env : &default_env();
  if (options.password) {
    b.password = utf8_to_utf16(*options.password);
    // Refused now (3031) rather than after every row has been written.
    write::build_header_page(new_header(options.version, options.creation_date), b.password);
  }
  b.file = b.env->create_exclusive(path);
  for (SystemTable which : kSystemTables) b.add(system_table_layout(which, options.version));
}

DatabaseBuilder::~DatabaseBuilder() {
  if (impl_ && !impl_->finished && impl_->file) {
    try {
      impl_->file.reset();
      impl_->env->remove(impl_->path);
    } catch (...) {
      // Nothing more can be done from a destructor.
    }
  }
}

std::size_t DatabaseBuilder::add_table(const TableDesign& design) {
  return impl_->add(layout_user_table(design, impl_->jet->version));
}

std::int64_t DatabaseBuilder::append_row(std::size_t table, Row values, RowFate fate) {
  if (table < std::size(kSystemTables)) throw Error(3001, "Rows of system tables are written by the builder itself.");
  return impl_->append(table, std::move(values), fate);
}

void DatabaseBuilder::finish() { impl_->finish_all(); }

std::uint32_t DatabaseBuilder::pages_written() const { return impl_->next_page; }

}  // namespace jet::build
