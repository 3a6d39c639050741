#include "engine/check/page_walk.h"

#include <algorithm>
#include <optional>
#include <span>

#include "engine/error.h"
#include "engine/format/damaged.h"
#include "engine/format/data_page.h"
#include "engine/read/database.h"

namespace jet::check {
namespace {

constexpr PageNumber kDatabaseMapPage = 1;

std::string hex_byte(std::uint8_t b) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  return std::string("0x") + kDigits[b >> 4] + kDigits[b & 0x0F];
}

bool all_zero(std::span<const std::uint8_t> page) {
  return std::all_of(page.begin(), page.end(), [](std::uint8_t b) { return b == 0; });
}

}  // namespace

void WalkTotals::absorb(const WalkTotals& other) {
  for (std::size_t i = 0; i < rows_seen.size(); ++i) {
    rows_seen[i] += other.rows_seen[i];
    all_rows_passed[i] = all_rows_passed[i] && other.all_rows_passed[i];
    if (index_passes[i]) index_passes[i]->absorb(*other.index_passes[i]);
  }
  blank_pages += other.blank_pages;
}

PageWalker::PageWalker(const WalkSetup& setup, Database& db, ChainedPages& chained)
    : setup_(setup), db_(db), chained_(chained) {
  const std::size_t tables = setup.tables.size();
  totals_.rows_seen.assign(tables, 0);
  totals_.all_rows_passed.assign(tables, true);
  totals_.index_passes.resize(tables);
  for (std::size_t i = 0; i < tables; ++i) {
    if (setup.tables[i].index_data.empty()) continue;
    totals_.index_passes[i] = std::make_unique<index::TableIndexPass>(setup.tables[i], setup.index_format, setup.seed);
  }
}

Stretch PageWalker::walk(PageNumber first, PageNumber end) {
  Stretch out;
  // Pages come in runs past the cache, most of them looked at once and no
  // further than their heads (long-value pages, whose rows the chains read,
  // are most of a file): of an encrypted file only the heads are decrypted,
  // and the rest of the pages that need more.
  const bool heads_only = db_.page_cipher() != nullptr;
  const auto whole = [this](std::span<const std::uint8_t> head) { return needs_whole_page(head); };
  Bytes scratch;
  for (PageNumber run_first = first; run_first < end; run_first += kWalkRun) {
    const PageNumber count = std::min(kWalkRun, end - run_first);
    std::optional<std::span<const std::uint8_t>> run;
    try {
      run = heads_only ? db_.read_pages(run_first, count, scratch, kWalkedHead, whole)
                       : db_.read_pages(run_first, count, scratch);
    } catch (const Error&) {
      run.reset();  // page by page, so that only the pages that fail are missed
    }
    for (PageNumber p = run_first; p < run_first + count; ++p) {
      // A row's long-value chain that led here has already read this page
      // and found it a long-value page: no need to read it again. (Its
      // ledger entry, which the claims are being made in, is not read.)
      if (chained_.marked(p)) continue;
      const std::size_t logged = out.claims.entries().size();
      const std::size_t page_size = setup_.format.page_size;
      const auto page = run ? run->subspan(std::size_t{p - run_first} * page_size, page_size)
                            : std::span<const std::uint8_t>{};
      if (run) {
        visit_page(p, page, out);
      } else {
        visit_page(p, out);
      }
      const auto& claims = out.claims.entries();
      for (std::size_t i = logged; i < claims.size(); ++i) chained_.mark(claims[i].page);
    }
  }

  return out;
}

void PageWalker::add(Stretch& out, Severity severity, PageNumber page, int table, std::string kind,
                     std::string message) const {
  Finding f;
  f.severity = severity;
  f.page = page;
  if (table >= 0) f.table = setup_.tables[static_cast<std::size_t>(table)].name;
  f.kind = std::move(kind);
  f.message = std::move(message);
  out.report.findings.push_back(std::move(f));
}

// The page's own claim (data, index, the database's map) goes straight
// into the ledger: no other page's visit claims it, and no row's long value
// either (those claim long-value pages only), so the outcome is the same
// whenever it is made. For the same reason the ledger answers the
// questions about the visited page as it would in page order. The entries
// of long-value pages are never read or written here.
bool PageWalker::needs_whole_page(std::span<const std::uint8_t> head) const {
  // A data page's rows, and whether a page of type 0 is blank throughout.
  return head[0] == page_type::kHeader || (head[0] == page_type::kData && !is_long_value_page(setup_.format, head));
}

void PageWalker::visit_page(PageNumber p, Stretch& out) {
  std::shared_ptr<const Bytes> page;
  try {
    page = db_.page(p);
  } catch (const Error& e) {
    for (std::size_t i = 0; i < setup_.tables.size(); ++i) {
      if (setup_.owned[i].count(p) != 0) totals_.all_rows_passed[i] = false;
    }
    add(out, Severity::Error, p, -1, "page", "the page cannot be read: " + e.description());
    return;
  }
  visit_page(p, *page, out);
}

void PageWalker::visit_page(PageNumber p, std::span<const std::uint8_t> page, Stretch& out) {
  std::uint8_t type = page[0];
  switch (type) {
    case page_type::kData:
      visit_data_page(p, page, out);
      return;
    case page_type::kTableDefinition:
      if (setup_.ledger.owner(p).role == Role::None) {
        add(out, Severity::Note, p, -1, "page-owner", "table definition page of no current table (left by a deleted table)");
      }
      return;
    case page_type::kIndexNode:
    case page_type::kIndexLeaf: {
      auto it = setup_.table_by_page.find(get_u32(page, setup_.format.page_owner_offset));
      if (setup_.free.count(p) != 0) {
        // An index page given back (index rebuilt or dropped): old bytes only.
        return;
      }
      if (it == setup_.table_by_page.end()) {
        add(out, Severity::Note, p, -1, "page-owner", "index page of no current table (left by a deleted table)");
      } else {
        setup_.ledger.claim(p, {Role::Index, it->second}, out.report);
      }
      return;
    }
    case page_type::kUsageMap:
      if (setup_.ledger.owner(p).role == Role::None) {
        add(out, Severity::Note, p, -1, "page-owner", "usage-map page that no usage map refers to");
      }
      return;
    case page_type::kHeader:
      if (all_zero(page)) {
        ++totals_.blank_pages;
      } else {
        add(out, Severity::Note, p, -1, "page-owner", "page of type 0x00 that is not blank, away from the header");
      }
      return;
    default:
      add(out, Severity::Note, p, -1, "page-owner", "page of type " + hex_byte(type) + ", which no table uses");
      return;
  }
}

void PageWalker::visit_data_page(PageNumber p, std::span<const std::uint8_t> page, Stretch& out) {
  const JetFormat& f = setup_.format;
  if (is_long_value_page(f, page)) {
    out.long_value_pages.push_back(p);
    return;
  }
  if (p == kDatabaseMapPage) {
    setup_.ledger.claim(p, {Role::DatabaseMap, -1}, out.report);
    return;
  }
  PageNumber owner = get_u32(page, f.page_owner_offset);
  if (owner == 0) {
    // Owner 0: the usage-map rows of the tables (claimed from the
    // definitions) or a page given back and emptied.
    if (setup_.ledger.owner(p).role == Role::None && setup_.free.count(p) == 0) {
      add(out, Severity::Note, p, -1, "page-owner", "data page with no owner that is not marked free");
    }
    return;
  }
  auto it = setup_.table_by_page.find(owner);
  if (it == setup_.table_by_page.end()) {
    // Nothing live depends on it, so whatever its rows look like is no damage.
    add(out, Severity::Note, p, -1, "page-owner",
        "data page of no current table (owner page " + std::to_string(owner) + ", left by a deleted table)");
    return;
  }
  PageRows rows = check_row_area(f, page, p, out.report);
  int ti = it->second;
  auto t = static_cast<std::size_t>(ti);
  const bool owned = setup_.owned[t].count(p) != 0;
  const bool free = setup_.free.count(p) != 0;
  if (owned || !free) setup_.ledger.claim(p, {Role::Data, ti}, out.report);
  if (!owned) {
    if (free) {
      // Given back when rows were deleted or the table rebuilt; the old
      // bytes stay until the page is reused.
      add(out, Severity::Note, p, ti, "free-pages",
          "free page still holding " + std::to_string(rows.live) + " old row(s) of the table");
    } else if (rows.live > 0) {
      // Access 2007 and later leave such pages behind in the tables they
      // keep for themselves (the navigation pane's), holding stale copies of
      // rows that live on elsewhere; in a user table the rows may be lost.
      const bool system = setup_.tables[t].is_system() || setup_.tables[t].name.rfind("MSys", 0) == 0;
      add(out, system ? Severity::Note : Severity::Error, p, ti, "usage-map",
          "the page holds " + std::to_string(rows.live) +
              " live rows of the table but the table's usage map leaves it out, so readers miss them");
    } else {
      add(out, Severity::Note, p, ti, "usage-map", "empty data page the table's usage map leaves out");
    }
    return;
  }
  totals_.rows_seen[t] += rows.live;
  RowContext ctx{db_, f, setup_.tables[t], ti, out.claims, out.report};
  ctx.index_pass = totals_.index_passes[t].get();
  ctx.all_rows_passed = &totals_.all_rows_passed[t];
  ctx.scratch = &scratch_;
  if (rows.count_unreadable) totals_.all_rows_passed[t] = false;
  check_rows(ctx, page, p, rows);
}

}  // namespace jet::check
