#pragma once
// What the repair tests share: the sample databases, row counts by our
// reader, jetdiff's report per table, and the fixture that damages a copy
// of a sample, compacts it and checks the result.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <optional>
#include <regex>
#include <set>
#include <sstream>
#include <string>

#include "engine/check/check.h"
#include "engine/compact/compact.h"
#include "engine/error.h"
#include "engine/format/damaged.h"
#include "engine/format/data_page.h"
#include "engine/format/text_codec.h"
#include "engine/index/index_page_builder.h"
#include "engine/index/index_page_reader.h"
#include "engine/index/index_tree_reader.h"
#include "engine/read/database.h"
#include "engine/tests/corpus_files.h"

namespace jet::repair_testing {

using testing::ScratchDir;

inline std::filesystem::path sample(const std::string& folder, const std::string& file) {
  return testing::corpus_dir() / folder / file;
}

inline std::unique_ptr<Database> open_db(const std::filesystem::path& p) { return Database::open(p.string()); }

// Live rows per table, by our reader.
inline std::map<std::string, std::size_t> row_counts(Database& db) {
  std::map<std::string, std::size_t> out;
  for (const TableDef& t : db.tables()) {
    std::size_t n = 0;
    db.scan_rows(t, [&](RowPointer, const Row&) { ++n; });
    out[t.name] = n;
  }
  return out;
}

inline std::size_t rows_on_page(Database& db, const TableDef& t, PageNumber page) {
  std::size_t n = 0;
  db.scan_raw_rows(t, [&](RowPointer where, std::span<const std::uint8_t>) { n += where.page == page; });
  return n;
}

// What jetdiff says differs, per table: for each reader the rows only in
// the original (A) and only in the copy (B), and whether the table is only
// in B. Notes are left out.
struct TableDiff {
  std::map<std::string, std::pair<long, long>> rows;  // reader -> (only in A, only in B)
  bool only_in_b = false;
  std::vector<std::string> lines;
};

struct JetDiff {
  bool ran = false;
  std::string log;
  std::map<std::string, TableDiff> tables;
};

inline JetDiff jetdiff(const std::filesystem::path& a, const std::filesystem::path& b, const ScratchDir& dir) {
  JetDiff out;
  if (!std::filesystem::exists(testing::jetdiff_tool())) return out;
  const auto log = dir / "jetdiff.log";
  const int rc = testing::run_jetdiff(a, b, std::nullopt, log);
  if (rc != 0 && rc != 1) return out;
  out.ran = true;
  const Bytes text = testing::read_file(log);
  out.log.assign(text.begin(), text.end());
  std::istringstream in(out.log);
  std::string line;
  std::string table;
  const std::regex rows_re(R"(\[([a-z-]+)\] rows: \d+ in A, \d+ in B; (\d+) only in A, (\d+) only in B)");
  while (std::getline(in, line)) {
    if (line.rfind("table ", 0) == 0) {
      table = line.substr(6);
      continue;
    }
    if (table.empty() || line.find("note:") != std::string::npos || line.rfind("  ", 0) != 0) continue;
    TableDiff& t = out.tables[table];
    t.lines.push_back(line);
    std::smatch m;
    if (std::regex_search(line, m, rows_re)) t.rows[m[1]] = {std::stol(m[2]), std::stol(m[3])};
    if (line.find("table only in B") != std::string::npos) t.only_in_b = true;
  }
  // Tables with notes only are no difference.
  std::erase_if(out.tables, [](const auto& kv) { return kv.second.lines.empty(); });
  return out;
}

// The permission rows (MSysACEs) of a table.
inline std::size_t ace_rows(Database& db, const std::string& table) {
  const TableDef aces = db.table("MSysACEs");
  std::int32_t id = db.table(table).definition_page;
  std::size_t n = 0;
  db.scan_rows(aces, [&](RowPointer, const Row& row) { n += row[0].integer == id; });
  return n;
}

// Makes every column of the row at `where` NULL (its null mask zeroed), as
// a garbled row reads.
// Overwrites 4 bytes of `file` at `at` with `v`.
inline void put_u32_at(const std::filesystem::path& file, std::uint64_t at, std::uint32_t v) {
  Bytes bytes = testing::read_file(file);
  put_u32(bytes.data() + at, v);
  testing::write_file(file, bytes);
}

inline void blank_row(const std::filesystem::path& file, Database& db, RowPointer where) {
  Bytes bytes = testing::read_file(file);
  const std::size_t page_at = std::size_t{where.page} * db.page_size();
  const RowSlot slot =
      data_page_slot(db.format(), std::span<const std::uint8_t>(bytes.data() + page_at, db.page_size()), where.row);
  const std::size_t columns = db.format().version == JetVersion::Jet4
                                  ? std::size_t{bytes[page_at + slot.start]} | std::size_t{bytes[page_at + slot.start + 1]} << 8
                                  : bytes[page_at + slot.start];
  std::fill_n(bytes.begin() + std::ptrdiff_t(page_at + slot.end - (columns + 7) / 8), (columns + 7) / 8, 0);
  testing::write_file(file, bytes);
}

// Fills the root page of the first text index of a user table with rows
// with garbage past its header; the table's name and the page.
inline std::optional<std::pair<std::string, PageNumber>> garble_text_index(Database& db, const std::filesystem::path& file) {
  for (const TableDef& t : db.tables()) {
    if (t.is_system() || t.row_count == 0) continue;
    for (const IndexData& d : t.index_data) {
      const bool on_text = std::any_of(d.columns.begin(), d.columns.end(), [&](const IndexColumn& ic) {
        const Column* c = nullptr;
        for (const Column& col : t.columns) c = col.number == ic.column_number ? &col : c;
        return c != nullptr && c->type == ColumnType::Text;
      });
      if (!on_text || d.first_page == 0) continue;
      Bytes bytes = testing::read_file(file);
      for (std::size_t i = 8; i < db.page_size(); ++i) {
        bytes[std::size_t{d.first_page} * db.page_size() + i] = static_cast<std::uint8_t>(i * 37 + 11);
      }
      testing::write_file(file, bytes);
      return std::pair{t.name, d.first_page};
    }
  }
  return std::nullopt;
}

// Overwrites, on a leaf of a unique index, one entry's stored key with the
// next entry's, so two rows share a key while their values still differ.
// Picks neighbours whose keys are as long and whose rows ascend, so the page
// stays sound and in order. False when no leaf has such a pair.
inline bool repeat_stored_key(Database& db, const std::filesystem::path& file, const TableDef& t, const IndexData& d) {
  const index::Format format = db.format().version == JetVersion::Jet4 ? index::Format::Jet4 : index::Format::Jet3;
  const index::IndexTree tree =
      index::read_index_tree([&db](PageNumber p) { return db.read_page(p); }, d.first_page, format, t.definition_page);
  for (PageNumber leaf : tree.leaves) {
    index::IndexPage page = index::parse_index_page(db.read_page(leaf), format, leaf);
    for (std::size_t i = 0; i + 1 < page.entries.size(); ++i) {
      index::IndexEntry& a = page.entries[i];
      const index::IndexEntry& b = page.entries[i + 1];
      if (a.key.size() != b.key.size() || !(a.row < b.row)) continue;
      a.key = b.key;
      index::IndexPagePlan plan{page.leaf, page.owner, page.prev, page.next, page.tail, page.entries, page.prefix_len};
      Bytes bytes = testing::read_file(file);
      const Bytes built = index::build_index_page(plan, format);
      std::copy(built.begin(), built.end(), bytes.begin() + std::ptrdiff_t{leaf} * db.page_size());
      testing::write_file(file, bytes);
      return true;
    }
  }
  return false;
}

// Makes the variable-length column offsets of the first live row of `t`'s
// first data page, from slot `from` on, point outside the row, so that it
// no longer splits into its values (Jet 4); the row's place, or none.
inline std::optional<RowPointer> garble_row_offsets(Database& db, const std::filesystem::path& file, const TableDef& t,
                                                    std::uint16_t from = 0) {
  if (db.format().version != JetVersion::Jet4) return std::nullopt;
  const PageNumber page = db.table_pages(t).front();
  const Bytes bytes = db.read_page(page);
  for (std::uint16_t slot = from; slot < data_page_row_count(db.format(), bytes); ++slot) {
    const RowSlot s = data_page_slot(db.format(), bytes, slot);
    if (s.deleted || s.overflow) continue;
    Bytes row(bytes.begin() + s.start, bytes.begin() + s.end);
    // Null mask at the end, before it the count of variable columns,
    // before that their offsets and the end of the data.
    const std::size_t mask_bytes = (std::size_t{row[0]} + (std::size_t{row[1]} << 8) + 7) / 8;
    if (row.size() < mask_bytes + 4) continue;
    const std::size_t mask_at = row.size() - mask_bytes;
    const std::size_t vars = row[mask_at - 2] + (std::size_t{row[mask_at - 1]} << 8);
    if (vars == 0) return std::nullopt;
    if (mask_at < 2 + 2 * (vars + 1)) continue;  // not a row this layout can garble
    std::fill(row.begin() + static_cast<std::ptrdiff_t>(mask_at - 2 - 2 * (vars + 1)),
              row.begin() + static_cast<std::ptrdiff_t>(mask_at - 2), 0x7F);
    Bytes out = testing::read_file(file);
    std::copy(row.begin(), row.end(), out.begin() + std::ptrdiff_t{page} * db.page_size() + s.start);
    testing::write_file(file, out);
    return RowPointer{page, slot};
  }
  return std::nullopt;
}

inline void zero_page(const std::filesystem::path& file, PageNumber page, std::uint32_t page_size) {
  Bytes bytes = testing::read_file(file);
  std::fill_n(bytes.begin() + std::ptrdiff_t{page} * page_size, page_size, 0);
  testing::write_file(file, bytes);
}

class Repair : public ::testing::Test {
 protected:
  // Copies a sample into the scratch folder; false (test skipped) when absent.
  // `tag` tells apart several damaged copies of one sample in one test.
  bool take(const std::string& folder, const std::string& file, const std::string& tag = "") {
    original_ = sample(folder, file);
    if (!std::filesystem::exists(original_)) return false;
    damaged_ = dir_ / (file + tag + ".damaged");
    compacted_ = dir_ / (file + tag + ".compacted");
    std::filesystem::copy_file(original_, damaged_);
    source_ = open_db(original_);
    return true;
  }

  // Compacts the damaged copy; the source stays as it was, the copy checks
  // clean and is its own compaction's source without further loss.
  CompactResult compact() {
    const Bytes before = testing::read_file(damaged_);
    CompactRequest request;
    request.source_path = damaged_.string();
    request.destination_path = compacted_.string();
    CompactResult result = compact_database(request);
    EXPECT_EQ(testing::read_file(damaged_), before) << "the source must never change";
    auto db = open_db(compacted_);
    const CheckReport report = check_database(*db);
    for (const Finding& f : report.findings) {
      EXPECT_NE(f.severity, Severity::Error) << f.table << ": " << f.message;
    }
    CompactRequest again;
    again.source_path = compacted_.string();
    again.destination_path = compacted_.string() + ".again";
    EXPECT_TRUE(compact_database(again).losses.empty()) << "a repaired copy needs no more repair";
    return result;
  }

  std::vector<std::string> logged_rows() {
    auto db = open_db(compacted_);
    std::vector<std::string> out;
    const TableDef t = db->table("MSysCompactError");
    db->scan_rows(t, [&](RowPointer, const Row& row) { out.push_back(utf16_to_utf8(row[1].text)); });
    return out;
  }

  // jetdiff sees exactly these tables differ (besides MSysObjects and the
  // log table, which the repair adds to), each with the rows only in A and
  // only in B given, the same for both readers.
  // With `catalog_damaged`, the engine's own tables are not compared (their
  // rows name objects whose catalog rows may be lost) and neither is a
  // column's Required property (kept in catalog rows' long values).
  void expect_jetdiff(const std::map<std::string, std::pair<long, long>>& expected, bool catalog_damaged = false) {
    const JetDiff diff = jetdiff(original_, compacted_, dir_);
    if (!diff.ran) {
      std::cout << "jetdiff not available: the outside readers' comparison is skipped\n";
      return;
    }
    std::set<std::string> differing;
    for (const auto& [name, t] : diff.tables) {
      if (name == "MSysObjects" || name == "MSysCompactError" || name == "MSysACEs") continue;
      if (catalog_damaged && name.starts_with("MSys")) continue;
      const bool only_required = std::all_of(t.lines.begin(), t.lines.end(), [](const std::string& line) {
        return line.find("columns differ") != std::string::npos && line.find("NOT NULL") != std::string::npos;
      });
      if (catalog_damaged && only_required) continue;
      differing.insert(name);
    }
    std::set<std::string> wanted;
    for (const auto& [name, counts] : expected) wanted.insert(name);
    EXPECT_EQ(differing, wanted) << diff.log;
    for (const auto& [name, counts] : expected) {
      const auto it = diff.tables.find(name);
      if (it == diff.tables.end()) continue;
      for (const char* reader : {"mdbtools", "mdb-reader"}) {
        const auto r = it->second.rows.find(reader);
        if (r == it->second.rows.end()) continue;  // a table only in A has no row line
        EXPECT_EQ(r->second, counts) << name << " [" << reader << "]\n" << diff.log;
      }
    }
    ASSERT_TRUE(diff.tables.count("MSysCompactError")) << diff.log;
    EXPECT_TRUE(diff.tables.at("MSysCompactError").only_in_b);
    const auto catalog = diff.tables.find("MSysObjects");
    ASSERT_NE(catalog, diff.tables.end());
    for (const auto& [reader, counts] : catalog->second.rows) EXPECT_GE(counts.second, 1) << reader;
  }

  // Compacting the damaged copy fails with 3049 giving `why`; nothing is written.
  void compact_fails_naming(const std::string& why) {
    CompactRequest request;
    request.source_path = damaged_.string();
    request.destination_path = compacted_.string();
    try {
      compact_database(request);
      ADD_FAILURE() << "compaction should have failed on: " << why;
    } catch (const Error& e) {
      EXPECT_EQ(e.number(), errc::kCannotOpenDatabase);
      EXPECT_NE(e.description().find(why), std::string::npos) << e.description();
    }
    EXPECT_FALSE(std::filesystem::exists(compacted_));
  }

  // Compacting the damaged copy in its own collating order is refused
  // (3251) naming `why` and suggesting the General order, with nothing
  // written; the conversion to General then makes a sound copy with every
  // row. Returns the conversion's result.
  CompactResult refused_in_its_order_then_converted(const std::string& why) {
    CompactRequest request;
    request.source_path = damaged_.string();
    request.destination_path = compacted_.string();
    try {
      compact_database(request);
      ADD_FAILURE() << "an index whose keys can neither be carried nor formed was copied";
    } catch (const Error& e) {
      EXPECT_EQ(e.number(), errc::kNotBuiltYet) << e.description();
      EXPECT_NE(e.description().find(why), std::string::npos) << e.description();
      EXPECT_NE(e.description().find("General"), std::string::npos) << e.description();
    }
    EXPECT_FALSE(std::filesystem::exists(compacted_));

    request.destination_language = 0x0409;
    const CompactResult result = compact_database(request);
    auto copy = open_db(compacted_);
    EXPECT_EQ(copy->header().sort_order, 0x0409);
    EXPECT_TRUE(check_database(*copy).clean());
    EXPECT_EQ(row_counts(*copy), row_counts(*source_));
    return result;
  }

  // The copy holds every row, and the outside readers see no difference
  // from the undamaged original.
  // Every table of the copy holds as many rows as the original's, but the
  // catalog and the permissions, which the repair's log table grows.
  void expect_row_counts_but_the_log_tables(Database& copy) {
    auto before = row_counts(*source_);
    auto after = row_counts(copy);
    for (const char* grown : {"MSysObjects", "MSysACEs", "MSysCompactError"}) {
      before.erase(grown);
      after.erase(grown);
    }
    EXPECT_EQ(after, before);
  }

  void expect_same_data_as_original() {
    EXPECT_EQ(row_counts(*open_db(compacted_)), row_counts(*source_));
    const JetDiff diff = jetdiff(original_, compacted_, dir_);
    if (diff.ran) {
      EXPECT_TRUE(diff.tables.empty()) << diff.log;
    }
  }

  ScratchDir dir_;
  std::filesystem::path original_, damaged_, compacted_;
  std::unique_ptr<Database> source_;
};

}  // namespace jet::repair_testing
