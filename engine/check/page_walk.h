#pragma once
// The pass over the file's pages, one stretch of pages at a time: what each
// page is, who claims it, and the checks of the rows on data pages.
// Stretches may be walked on several threads at once, each walker with its
// own Database handle. Each page is visited by one walker, which makes the
// page's own claim in the shared ledger; what depends on order (findings,
// the claims of long-value pages rows lead to) is kept per stretch, so
// handing the stretches on in page order gives what one walk from the
// first page to the last would have. The rest (row counts, index
// fingerprints) are sums.
#include <atomic>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <span>
#include <set>
#include <vector>

#include "engine/check/check.h"
#include "engine/check/page_ledger.h"
#include "engine/check/row_checks.h"
#include "engine/format/jet_format.h"
#include "engine/index/index_key.h"
#include "engine/index/table_index_pass.h"
#include "engine/model/schema.h"

namespace jet {
class Database;
}

namespace jet::check {

// What the walk needs to know, settled before it starts and only read
// while it runs.
struct WalkSetup {
  const JetFormat& format;
  index::Format index_format;
  std::uint64_t seed;  // of the index fingerprints
  const std::vector<TableDef>& tables;
  const std::map<PageNumber, int>& table_by_page;  // first definition page -> table
  const std::vector<std::set<PageNumber>>& owned;  // what each table's usage map marks
  const std::set<PageNumber>& free;                // what the database's map marks free
  // Holds the claims of the table structures; walkers add the claims of
  // the pages they visit, each touching only those pages' entries, and
  // never touch the entries of long-value pages.
  PageLedger& ledger;
};

// What one stretch of pages gave, in the order the walk met it.
struct Stretch {
  CheckReport report;  // findings only
  LongValueClaims claims;  // made by the rows' long values
  std::vector<PageNumber> long_value_pages;  // read and found to be long-value pages
};

// What one walker added up over all the stretches it walked; the order
// pages came in does not matter to any of it.
struct WalkTotals {
  std::vector<std::uint64_t> rows_seen;  // per table, on the pages its map marks
  // Per table: every row reached the index pass. Not vector<bool>: rows
  // being checked hold a pointer to their table's flag.
  std::deque<bool> all_rows_passed;
  std::size_t blank_pages = 0;
  std::vector<std::unique_ptr<index::TableIndexPass>> index_passes;  // per table; null: no indexes

  // Adds another walker's totals to these.
  void absorb(const WalkTotals& other);
};

// Pages some walker's long-value chains have read and found to be
// long-value pages; shared by the walkers, so that none reads them again.
// Only a saving: when a walker gets to a page before another's chain marks
// it, reading it again changes nothing in the report.
class ChainedPages {
 public:
  explicit ChainedPages(PageNumber pages) : words_((std::size_t{pages} + 63) / 64) {}
  void mark(PageNumber page) {
    if (page / 64 < words_.size()) words_[page / 64].fetch_or(bit(page), std::memory_order_relaxed);
  }
  bool marked(PageNumber page) const {
    return page / 64 < words_.size() && (words_[page / 64].load(std::memory_order_relaxed) & bit(page)) != 0;
  }

 private:
  static std::uint64_t bit(PageNumber page) { return std::uint64_t{1} << (page % 64); }
  std::vector<std::atomic<std::uint64_t>> words_;
};

class PageWalker {
 public:
  // `setup`, `db` and `chained` must outlive the walker; `db` is used by it
  // alone.
  PageWalker(const WalkSetup& setup, Database& db, ChainedPages& chained);

  // Walks pages [first, end).
  Stretch walk(PageNumber first, PageNumber end);

  WalkTotals& totals() { return totals_; }

 private:
  // Reads the page through the cache, then visits it.
  void visit_page(PageNumber p, Stretch& out);
  void visit_page(PageNumber p, std::span<const std::uint8_t> page, Stretch& out);
  void visit_data_page(PageNumber p, std::span<const std::uint8_t> page, Stretch& out);
  // Whether visiting a page takes more than its head (kWalkedHead bytes).
  bool needs_whole_page(std::span<const std::uint8_t> head) const;

  // Pages read at once, and what of an encrypted page is decrypted first.
  static constexpr PageNumber kWalkRun = 64;
  static constexpr std::uint32_t kWalkedHead = 256;
  void add(Stretch& out, Severity severity, PageNumber page, int table, std::string kind, std::string message) const;

  const WalkSetup& setup_;
  Database& db_;
  WalkTotals totals_;
  RowScratch scratch_;
  ChainedPages& chained_;
};

}  // namespace jet::check
