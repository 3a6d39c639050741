#include "engine/check/check.h"

#include <algorithm>
#include <chrono>
#include <deque>
#include <functional>
#include <map>
#include <numeric>
#include <optional>
#include <random>
#include <set>
#include <thread>

#include "engine/check/page_ledger.h"
#include "engine/check/parallel_walk.h"
#include "engine/check/shared_work.h"
#include "engine/error.h"
#include "engine/format/damaged.h"
#include "engine/format/data_page.h"
#include "engine/format/jet_format.h"
#include "engine/format/property_map.h"
#include "engine/format/row_layout.h"
#include "engine/format/table_definition.h"
#include "engine/index/index_check.h"
#include "engine/index/table_index_pass.h"
#include "engine/model/system_catalog.h"
#include "engine/read/database.h"

namespace jet {

std::size_t CheckReport::error_count() const {
  return static_cast<std::size_t>(std::count_if(
      findings.begin(), findings.end(), [](const Finding& f) { return f.severity == Severity::Error; }));
}

std::size_t CheckReport::note_count() const { return findings.size() - error_count(); }

namespace {

using check::Owner;
using check::Role;

constexpr PageNumber kDatabaseMapPage = 1;
// One walker per core pays up to here; beyond, the disk and the memory
// bus are the limit and every walker keeps its own page cache.
constexpr unsigned kMaxAutoThreads = 4;

// Page numbers a reference-type usage map points at (type byte 1, then
// 4-byte page numbers, 0 for a range with no map page yet).
std::vector<PageNumber> reference_map_pages(const Bytes& raw_map) {
  std::vector<PageNumber> pages;
  if (raw_map.empty() || raw_map[0] != 0x01) return pages;
  for (std::size_t at = 1; at + 4 <= raw_map.size(); at += 4) {
    PageNumber p = get_u32(raw_map, at);
    if (p != 0) pages.push_back(p);
  }
  return pages;
}

std::uint64_t fresh_seed() {
  try {
    std::random_device entropy;
    return (std::uint64_t{entropy()} << 32) ^ entropy();
  } catch (const std::exception&) {
    // No entropy source: the clock still differs from run to run.
    return static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
  }
}

// Whether an index keys some Text or Memo column (whose keys follow a
// collating order).
bool has_text_key(const TableDef& t, const IndexData& index) {
  for (const IndexColumn& ic : index.columns) {
    for (const Column& c : t.columns) {
      if (c.number == ic.column_number && (c.type == ColumnType::Text || c.type == ColumnType::Memo)) return true;
    }
  }
  return false;
}

class Checker {
 public:
  Checker(Database& db, const CheckOptions& options)
      : db_(db),
        options_(options),
        f_(db.format()),
        index_format_(f_.version == JetVersion::Jet3 ? index::Format::Jet3 : index::Format::Jet4) {}

  CheckReport run() {
    load_tables();
    ledger_ = std::make_unique<check::PageLedger>(db_.page_count(), names_);
    ledger_->claim(0, {Role::Header, -1}, report_);
    claim_table_structures();
    load_free_pages();
    open_handles();
    walk_pages();
    report_unreferenced();
    report_used_pages_marked_free();
    compare_row_counts();
    check_indexes();
    for (std::size_t i = 0; i < tables_.size(); ++i) report_.live_rows.emplace_back(names_[i], rows_seen_[i]);
    return std::move(report_);
  }

 private:
  void add(Severity severity, PageNumber page, int table, std::string kind, std::string message) {
    Finding f;
    f.severity = severity;
    f.page = page;
    if (table >= 0) f.table = names_[static_cast<std::size_t>(table)];
    f.kind = std::move(kind);
    f.message = std::move(message);
    report_.findings.push_back(std::move(f));
  }

  // The catalog must be readable (else the file counts as unreadable and
  // the error goes up); a damaged table definition is a finding.
  void load_tables() {
    // The catalog's own definition is checked whether or not a row of it
    // still names it.
    const std::optional<std::string> catalog_fault = column_placement_fault(db_.catalog_table());
    if (catalog_fault) placement_finding(system_catalog::kCatalogPage, "MSysObjects", *catalog_fault);
    for (const CatalogEntry& entry : db_.readable_catalog()) {
      check_properties(entry);
      if (!entry.is_table()) continue;
      try {
        TableDef t = db_.table_of(entry);
        if (const std::optional<std::string> why = column_placement_fault(t)) {
          if (entry.table_page() != system_catalog::kCatalogPage) placement_finding(entry.table_page(), entry.name, *why);
          continue;
        }
        tables_.push_back(std::move(t));
        names_.push_back(entry.name);
      } catch (const Error& e) {
        Finding f;
        f.page = entry.table_page();
        f.table = entry.name;
        f.kind = "definition";
        f.message = "the table definition cannot be read: " + e.source();
        report_.findings.push_back(std::move(f));
      }
    }
    for (std::size_t i = 0; i < tables_.size(); ++i) {
      table_by_page_[tables_[i].definition_page] = static_cast<int>(i);
    }
    owned_.resize(tables_.size());
    all_rows_passed_.assign(tables_.size(), true);
  }

  // A property value that reads but is not one: the outside readers refuse
  // the object (or the file) over it, and compacting drops it.
  void check_properties(const CatalogEntry& entry) {
    if (entry.properties.empty()) return;
    try {
      check_property_blob(entry.properties);
    } catch (const DamagedData& e) {
      Finding f;
      f.page = entry.where.page;
      f.table = "MSysObjects";
      f.kind = "properties";
      f.message = "the properties of '" + entry.name + "' do not read as properties (" + e.what() +
                  "); compacting drops them, and Access applies its defaults";
      report_.findings.push_back(std::move(f));
    }
  }

  void placement_finding(PageNumber page, const std::string& table, const std::string& why) {
    Finding f;
    f.page = page;
    f.table = table;
    f.kind = "definition";
    f.message = "the table definition cannot place its columns' values apart: " + why;
    report_.findings.push_back(std::move(f));
  }

  void claim_table_structures() {
    for (std::size_t i = 0; i < tables_.size(); ++i) {
      const TableDef& t = tables_[i];
      int ti = static_cast<int>(i);
      for (PageNumber p : t.definition_pages) ledger_->claim(p, {Role::Definition, ti}, report_);
      for (const Bytes* map : {&t.usage_map_owned, &t.usage_map_free}) {
        for (PageNumber p : reference_map_pages(*map)) ledger_->claim(p, {Role::MapPage, ti}, report_);
      }
      for (RowPointer where : {t.owned_map_row, t.free_map_row}) {
        if (where.page != 0) ledger_->claim(where.page, {Role::MapRows, -1}, report_);
      }
      // The maps of the table's indexes and long-value columns may be
      // reference maps too; their bitmap pages belong to the table.
      for (const IndexData& data : t.index_data) claim_map_pages(data.usage_map, ti);
      for (const TableDef::ColumnMaps& maps : t.column_maps) {
        claim_map_pages(maps.owned_map, ti);
        claim_map_pages(maps.free_map, ti);
      }
      try {
        std::vector<PageNumber> pages = db_.table_pages(t);
        owned_[i].insert(pages.begin(), pages.end());
      } catch (const Error& e) {
        all_rows_passed_[i] = false;
        add(Severity::Error, t.owned_map_row.page, ti, "usage-map",
            "the table's usage map cannot be read: " + e.source());
      }
      for (PageNumber p : owned_[i]) {
        if (p >= db_.page_count()) {
          all_rows_passed_[i] = false;
          add(Severity::Error, p, ti, "usage-map", "the usage map marks a page beyond the end of the file");
        }
      }
      // The pass over the file takes page 1 for the database's map; a table
      // claiming it is read row by row by the index check.
      if (owned_[i].count(kDatabaseMapPage) != 0) all_rows_passed_[i] = false;
    }
  }

  // Row 0 of page 1 is the database's map of free pages: pages Jet may hand
  // out again. What it marks must not be in use.
  // Claims the page holding the usage map stored at `reference` (page << 8
  // | row, 0 for none) and the map's bitmap pages.
  void claim_map_pages(std::uint32_t reference, int ti) {
    if (reference == 0) return;
    const RowPointer where = decode_row_pointer(reference);
    ledger_->claim(where.page, {Role::MapRows, -1}, report_);
    std::optional<Bytes> map;
    try {
      map = db_.read_row_bytes(where);
    } catch (const Error& e) {
      add(Severity::Note, where.page, ti, "usage-map", "a usage map of the table cannot be read: " + e.description());
      return;
    }
    if (!map) return;
    for (PageNumber p : reference_map_pages(*map)) ledger_->claim(p, {Role::MapPage, ti}, report_);
  }

  void load_free_pages() {
    try {
      std::optional<Bytes> map = db_.read_row_bytes({kDatabaseMapPage, 0});
      if (!map) return;
      for (PageNumber p : db_.usage_map_pages(*map)) {
        if (p < db_.page_count()) free_.insert(p);
      }
    } catch (const Error& e) {
      add(Severity::Error, kDatabaseMapPage, -1, "free-map",
          "the database's map of free pages cannot be read: " + e.source());
    }
  }

  void report_used_pages_marked_free() {
    for (PageNumber p : free_) {
      const Owner& o = ledger_->owner(p);
      if (o.role == Role::None) continue;
      add(Severity::Error, p, o.table, "free-map",
          "the page holds " + ledger_->describe(o) + " but the database's map marks it free for reuse");
    }
  }

  // One handle on the file per thread: the caller's, then siblings when the
  // file is large enough for more threads to pay. Opened here, on one
  // thread: an Env need not take calls from several at once, only reads of
  // its open files.
  void open_handles() {
    handles_.push_back(&db_);
    for (unsigned k = 1; k < thread_count(); ++k) {
      try {
        siblings_.push_back(db_.open_sibling());
      } catch (const Error&) {
        break;  // the handles there are share the work
      }
      handles_.push_back(siblings_.back().get());
    }
  }

  unsigned thread_count() const {
    if (db_.page_count() < options_.parallel_from_pages) return 1;
    if (options_.threads != 0) return options_.threads;
    return std::clamp(std::thread::hardware_concurrency(), 1u, kMaxAutoThreads);
  }

  // The pass over every page after the header. Its findings and claims come
  // back in page order and go in here as if the pages had been walked one
  // by one on this thread.
  void walk_pages() {
    // The indexes are checked along the pass over the rows (see
    // check_indexes); a fresh seed keeps the fingerprints unpredictable.
    const check::WalkSetup setup{f_, index_format_, fresh_seed(), tables_, table_by_page_, owned_, free_, *ledger_};
    check::WalkTotals totals =
        check::walk_pages(setup, handles_, options_.stretch_pages, [this](check::Stretch&& stretch) {
          ledger_->replay(stretch.claims, std::move(stretch.report.findings), report_);
          long_value_pages_.insert(long_value_pages_.end(), stretch.long_value_pages.begin(),
                                   stretch.long_value_pages.end());
        });
    rows_seen_ = std::move(totals.rows_seen);
    for (std::size_t i = 0; i < tables_.size(); ++i) {
      all_rows_passed_[i] = all_rows_passed_[i] && totals.all_rows_passed[i];
    }
    blank_pages_ = totals.blank_pages;
    index_passes_ = std::move(totals.index_passes);
  }

  void report_unreferenced() {
    std::size_t unused_lval = 0;
    for (PageNumber p : long_value_pages_) {
      if (ledger_->owner(p).role == Role::None) ++unused_lval;
    }
    if (unused_lval > 0) {
      add(Severity::Note, Finding::kNoPage, -1, "page-owner",
          std::to_string(unused_lval) + " long-value page(s) hold no value any row refers to");
    }
    if (blank_pages_ > 0) {
      add(Severity::Note, Finding::kNoPage, -1, "free-pages",
          std::to_string(blank_pages_) + " blank page(s) allocated but unused");
    }
    // Usage maps may go on marking pages the table has given up; readers
    // skip those (they check the page's owner), so it is harmless.
    for (std::size_t i = 0; i < tables_.size(); ++i) {
      std::size_t stale = 0;
      for (PageNumber p : owned_[i]) {
        if (p >= db_.page_count()) continue;
        const Owner& o = ledger_->owner(p);
        if (!(o.table == static_cast<int>(i) && (o.role == Role::Data || o.role == Role::Index))) ++stale;
      }
      if (stale > 0) {
        add(Severity::Note, Finding::kNoPage, static_cast<int>(i), "usage-map",
            "the usage map marks " + std::to_string(stale) + " page(s) that hold none of the table's rows");
      }
    }
  }

  // Each index: one entry per live row, pointing at that row, with the key
  // the row's values give, in key order. The pass over the rows has summed
  // what every index should hold; where a tree's entries sum alike the
  // index is sound. Otherwise (or when some row never reached the pass)
  // the index is checked entry by entry against a fresh scan of the rows,
  // which names every missing, stray or stale entry.
  //
  // The indexes are checked side by side, one thread per handle, those of
  // the tables with the most rows first, so that no large one is left to
  // run alone at the end; their findings go in table by table, index by
  // index.
  void check_indexes() {
    struct Outcome {
      std::size_t table = 0, index = 0;
      index::IndexCheckResult result;
      std::optional<std::string> failure;  // why the index could not be checked
    };
    std::vector<Outcome> outcomes;
    for (std::size_t i = 0; i < tables_.size(); ++i) {
      for (std::size_t k = 0; k < tables_[i].index_data.size(); ++k) outcomes.push_back({i, k, {}, {}});
    }
    std::vector<std::size_t> largest_first(outcomes.size());
    std::iota(largest_first.begin(), largest_first.end(), std::size_t{0});
    std::stable_sort(largest_first.begin(), largest_first.end(), [&](std::size_t a, std::size_t b) {
      return rows_seen_[outcomes[a].table] > rows_seen_[outcomes[b].table];
    });
    check::share_out(outcomes.size(), handles_.size(), [&](std::size_t n, std::size_t worker) {
      Outcome& out = outcomes[largest_first[n]];
      Database& db = *handles_[worker];
      const TableDef& t = tables_[out.table];
      try {
        std::optional<index::IndexCheckResult> quick;
        if (index_passes_[out.table] && all_rows_passed_[out.table]) {
          quick = index_passes_[out.table]->finish(out.index, [&db](PageNumber p) { return db.page(p); });
        }
        out.result = quick ? std::move(*quick)
                           : index::check_index([&db](PageNumber p) { return db.read_page(p); }, t,
                                                t.index_data[out.index], index_format_,
                                                [&](const std::function<void(RowPointer, const Row&)>& visit) {
                                                  db.scan_rows(t, visit);
                                                });
      } catch (const Error& e) {
        out.failure = e.source();
      }
    });
    for (const Outcome& out : outcomes) {
      const IndexData& data = tables_[out.table].index_data[out.index];
      const auto table = static_cast<int>(out.table);
      if (out.failure) {
        add(Severity::Error, data.first_page, table, "index",
            "index " + std::to_string(data.number) + " cannot be checked: " + *out.failure);
        continue;
      }
      for (const auto& finding : out.result.findings) {
        // An unknown key form only limits how much could be compared. A text
        // key that differs from ours is a note: the entry still leads to its
        // row, and where Access and our encoder disagree on text Access is
        // taken at its word (compaction keeps its key). Keys of numbers,
        // dates and the like have one form, so there a difference means the
        // row changed behind the index's back.
        const bool note = finding.kind == index::FindingKind::KeysNotChecked ||
                          (finding.kind == index::FindingKind::WrongKey && has_text_key(tables_[out.table], data));
        add(note ? Severity::Note : Severity::Error, finding.row.page != 0 ? finding.row.page : data.first_page, table,
            "index", finding.message);
      }
    }
  }

  void compare_row_counts() {
    for (std::size_t i = 0; i < tables_.size(); ++i) {
      if (rows_seen_[i] != tables_[i].row_count) {
        // The stored count is a running tally Jet writes back lazily: a
        // program that ends without closing the database leaves it off, for
        // user tables as well as its own. No row depends on it, and
        // compaction recounts.
        add(Severity::Note, tables_[i].definition_page, static_cast<int>(i), "row-count",
            "the definition says " + std::to_string(tables_[i].row_count) + " rows, the table holds " +
                std::to_string(rows_seen_[i]) + " (compaction recounts)");
      }
    }
  }

  Database& db_;
  CheckOptions options_;
  std::vector<std::unique_ptr<Database>> siblings_;
  std::vector<Database*> handles_;  // db_, then the siblings: one per thread
  const JetFormat& f_;
  index::Format index_format_;
  CheckReport report_;
  std::vector<TableDef> tables_;
  std::vector<std::string> names_;
  std::map<PageNumber, int> table_by_page_;
  std::vector<std::set<PageNumber>> owned_;
  std::vector<std::uint64_t> rows_seen_;
  std::unique_ptr<check::PageLedger> ledger_;
  std::vector<PageNumber> long_value_pages_;
  std::size_t blank_pages_ = 0;
  std::set<PageNumber> free_;
  std::vector<std::unique_ptr<index::TableIndexPass>> index_passes_;  // null: no indexes
  std::deque<bool> all_rows_passed_;
};

}  // namespace

CheckReport check_database(Database& db, const CheckOptions& options) { return Checker(db, options).run(); }

}  // namespace jet
