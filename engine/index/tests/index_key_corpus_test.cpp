// The real test of the key encoder: for every index of every General-order
// sample file, keying each live row must give exactly the entry Access stored
// for that row in the index B-tree. This is what lets compaction rebuild
// indexes Access accepts. One test per corpus folder, so a regression names
// the kind of file it broke.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>

#include "engine/error.h"
#include "engine/format/text_codec.h"
#include "engine/index/index_key.h"
#include "engine/index/index_tree_reader.h"
#include "engine/index/tests/corpus_files.h"
#include "engine/read/database.h"

namespace jet::index {
namespace {

constexpr std::uint32_t kGeneralOrder = 0x0409;
constexpr int kShownPerIndex = 3;

std::string hex(const Bytes& b) {
  std::string s;
  char buf[4];
  for (auto x : b) {
    std::snprintf(buf, sizeof buf, "%02x", x);
    s += buf;
  }
  return s;
}

struct Tally {
  std::size_t files = 0, skipped_files = 0, indexes = 0, matched = 0, entries = 0, mismatched = 0;
  std::size_t older_expansions = 0;  // rows keyed with expansions counted once
  std::size_t refused = 0;           // rows with a character the tables lack
  std::size_t unkeyable = 0;
  std::map<std::string, std::size_t> reasons;
};

// The text columns of the index as they read in `row`, for the report.
std::string key_text(const IndexKeyEncoder& enc, const TableDef& t, const Row& row) {
  std::string s;
  for (const KeyColumn& c : enc.columns()) {
    if (c.type != ColumnType::Text && c.type != ColumnType::Memo) continue;
    if (!s.empty()) s += " | ";
    s += t.columns[c.position].name + "=";
    s += row[c.position].is_null ? "(null)" : "\"" + utf16_to_utf8(row[c.position].text) + "\"";
  }
  return s;
}

bool latin1_only(const IndexKeyEncoder& enc, const Row& row) {
  for (const KeyColumn& c : enc.columns()) {
    for (char16_t ch : row[c.position].text) {
      if (ch > 0xFF) return false;
    }
  }
  return true;
}

// Refusals that are known gaps, not faults: Jet 3 text outside
// Windows-1252 comes from another code page whose byte codes are not known,
// and the Access 2010 order is known for Latin-1 only (INDEX_FORMAT.md).
// Both are refused, never guessed (compaction then carries the stored key).
// Jet 4 has a code for every character of the Basic Multilingual Plane in
// the Access 2000 order, so a refusal there is a failure.
bool known_gap(const IndexKeyEncoder& enc, const Row& row, Format format) {
  if (latin1_only(enc, row)) return false;
  if (format == Format::Jet3) return true;
  return std::any_of(enc.columns().begin(), enc.columns().end(),
                     [](const KeyColumn& c) { return c.text_order == TextOrder::General2010; });
}

// Compares one index row by row; returns a report of the rows whose stored
// entry differs from ours, empty when every entry matches.
std::string compare_index(Database& db, const TableDef& t, const IndexData& idx, Format format, Tally& tally) {
  const IndexTree tree = read_index_tree([&](PageNumber n) { return db.read_page(n); }, idx.first_page, format);
  IndexKeyEncoder enc(t, idx, format);
  if (!enc.unsupported_reason().empty()) {
    ++tally.unkeyable;
    ++tally.reasons[enc.unsupported_reason()];
    return {};
  }
  std::map<RowPointer, Bytes> stored;
  for (const auto& e : tree.entries) stored[e.row] = e.key;

  std::string report;
  std::size_t bad = 0, keyed = 0;
  db.scan_rows(t, [&](RowPointer where, const Row& row) {
    std::optional<Bytes> ours;
    std::string failure;
    try {
      ours = enc.key_for(row);
    } catch (const Error& e) {
      if (e.number() == errc::kNotBuiltYet && known_gap(enc, row, format)) {
        ++tally.refused;
        std::printf("[ keys     ]   %s: refused (%s): %s\n", t.name.c_str(), e.description().c_str(),
                    key_text(enc, t, row).c_str());
        return;
      }
      failure = e.description();
    }
    auto it = stored.find(where);
    const bool has_entry = it != stored.end();
    if (failure.empty() && ours.has_value() == has_entry && (!has_entry || *ours == it->second)) {
      if (ours) ++keyed;
      return;
    }
    if (failure.empty() && ours && has_entry && enc.is_own_key(row, it->second)) {
      ++keyed;
      ++tally.older_expansions;
      std::printf("[ keys     ]   %s: expansions counted once (older sorting): %s\n", t.name.c_str(),
                  key_text(enc, t, row).c_str());
      return;
    }
    ++bad;
    if (bad > kShownPerIndex) return;
    report += "\n    row " + std::to_string(where.page) + ":" + std::to_string(where.row) + " " + key_text(enc, t, row);
    report += "\n      stored " + (has_entry ? hex(it->second) : std::string("(no entry)"));
    report += "\n      ours   " + (!failure.empty() ? "error: " + failure : ours ? hex(*ours) : std::string("(left out)"));
  });
  tally.entries += keyed;
  tally.mismatched += bad;
  if (bad == 0) return {};
  return "table '" + t.name + "' index " + std::to_string(idx.number) + ": " + std::to_string(bad) + " of " +
         std::to_string(bad + keyed) + " rows differ" + report;
}

// Opens a sample, or says why it is left out: an unknown database password,
// not a Jet 3/4 file, or a collating order other than General.
std::unique_ptr<Database> open_general(const std::filesystem::path& path, std::string& why) {
  OpenOptions opts;
  if (path.parent_path().filename() == "password") opts.password = "password";
  std::unique_ptr<Database> db;
  try {
    db = Database::open(path.string(), opts);
  } catch (const Error& e) {
    why = "cannot open (" + std::to_string(e.number()) + ")";
    return nullptr;
  }
  if (db->header().sort_order != kGeneralOrder) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "collating order 0x%04X", static_cast<unsigned>(db->header().sort_order));
    why = buf;
    return nullptr;
  }
  return db;
}

void check_folder(const char* folder) {
  const auto files = testing::corpus_files(folder);
  if (files.empty()) GTEST_SKIP() << "sample databases not found under " << (testing::shared_dir() / "corpus" / folder);
  Tally tally;
  for (const auto& path : files) {
    SCOPED_TRACE(path.string());
    std::string why;
    auto db = open_general(path, why);
    if (!db) {
      ++tally.skipped_files;
      std::printf("[ keys     ] %s: skipped, %s\n", path.filename().c_str(), why.c_str());
      continue;
    }
    ++tally.files;
    if (db->version() == JetVersion::Jet3 && db->header().code_page != 1252) {
      std::printf("[ keys     ] %s: Jet 3 General order in code page %u\n", path.filename().c_str(),
                  static_cast<unsigned>(db->header().code_page));
    }
    const Format format = db->version() == JetVersion::Jet3 ? Format::Jet3 : Format::Jet4;
    std::vector<TableDef> tables = db->tables();
    // The catalog may not list itself; its name index is the one readers
    // use to find tables.
    if (std::none_of(tables.begin(), tables.end(), [](const TableDef& t) { return t.name == "MSysObjects"; })) {
      tables.push_back(db->catalog_table());
    }
    for (const TableDef& t : tables) {
      for (const IndexData& idx : t.index_data) {
        ++tally.indexes;
        const std::string problem = compare_index(*db, t, idx, format, tally);
        if (problem.empty()) {
          ++tally.matched;
        } else {
          ADD_FAILURE() << path.filename().string() << ": " << problem;
        }
      }
    }
  }
  std::printf("[ keys     ] %s: %zu files (%zu skipped), %zu indexes, %zu match (%zu entries, %zu of them with"
              " expansions counted once), %zu rows differ, %zu rows refused, %zu indexes we cannot key\n",
              folder, tally.files, tally.skipped_files, tally.indexes, tally.matched - tally.unkeyable, tally.entries,
              tally.older_expansions, tally.mismatched, tally.refused, tally.unkeyable);
  for (const auto& [reason, n] : tally.reasons) std::printf("[ keys     ]   %zux %s\n", n, reason.c_str());
}

TEST(IndexKeyCorpus, Jet3SamplesKeyToTheStoredEntries) { check_folder("jet3"); }
TEST(IndexKeyCorpus, Jet4SamplesKeyToTheStoredEntries) { check_folder("jet4"); }
TEST(IndexKeyCorpus, PasswordSamplesKeyToTheStoredEntries) { check_folder("password"); }
// Databases people made with Access, in many languages.
TEST(IndexKeyCorpus, WildSamplesKeyToTheStoredEntries) { check_folder("wild"); }
// ACE files (Access 2007 and later): complex, Large Number and Date/Time
// Extended columns besides the Jet 4 kinds. The encrypted ones are skipped.
TEST(IndexKeyCorpus, AceSamplesKeyToTheStoredEntries) { check_folder("ace"); }
TEST(IndexKeyCorpus, AceLibrarySamplesKeyToTheStoredEntries) { check_folder("ace-lib"); }

}  // namespace
}  // namespace jet::index
