#include "engine/tests/reader_view.h"

#include <optional>
#include <regex>
#include <set>
#include <sstream>

#include "engine/error.h"
#include "engine/format/text_codec.h"

namespace jet::testing {
namespace {

constexpr std::uint16_t kDeleted = 0x8000;
constexpr std::uint16_t kPointer = 0x4000;
constexpr std::uint16_t kOffsetMask = 0x1FFF;

std::uint16_t u16_at(const Bytes& b, std::size_t at) { return static_cast<std::uint16_t>(b[at] | (b[at + 1] << 8)); }
std::uint32_t u32_at(const Bytes& b, std::size_t at) {
  return static_cast<std::uint32_t>(b[at] | (b[at + 1] << 8) | (b[at + 2] << 16)) | (std::uint32_t{b[at + 3]} << 24);
}

}  // namespace

std::map<std::string, std::size_t> ghost_rows_by_table(Database& db) {
  const JetFormat& f = db.format();
  std::map<PageNumber, std::string> names;
  for (const CatalogEntry& e : db.catalog()) {
    if (e.is_table()) names[e.table_page()] = e.name;
  }
  // Per table: moved copies, and the rows live pointers lead to.
  std::map<PageNumber, std::set<std::uint32_t>> copies, targets;
  for (PageNumber p = 1; p < db.page_count(); ++p) {
    const Bytes page = db.read_page(p);
    if (page[0] != page_type::kData || std::equal(page.begin() + 4, page.begin() + 8, "LVAL")) continue;
    const PageNumber owner = u32_at(page, f.page_owner_offset);
    if (!names.contains(owner)) continue;
    const std::uint16_t slots = u16_at(page, f.data_row_count_offset);
    for (std::uint16_t s = 0; s < slots && f.data_row_table_offset + 2u * s + 2 <= page.size(); ++s) {
      const std::uint16_t entry = u16_at(page, f.data_row_table_offset + 2u * s);
      const std::size_t at = entry & kOffsetMask;
      if ((entry & (kDeleted | kPointer)) == kDeleted) copies[owner].insert((p << 8) | s);
      if ((entry & (kDeleted | kPointer)) == kPointer && at + 4 <= page.size()) targets[owner].insert(u32_at(page, at));
    }
  }
  std::map<std::string, std::size_t> out;
  for (const auto& [owner, rows] : copies) {
    std::size_t ghosts = 0;
    for (std::uint32_t r : rows) ghosts += targets[owner].contains(r) ? 0 : 1;
    if (ghosts > 0) out[names[owner]] = ghosts;
  }
  return out;
}

ColumnsByTable calculated_long_values(Database& db) {
  ColumnsByTable out;
  for (const TableDef& t : db.tables()) {
    for (const Column& c : t.columns) {
      if (c.is_calculated() && is_long_value(c.type)) out[t.name].insert(c.name);
    }
  }
  return out;
}

std::multiset<std::string> values_of(Database& db, const ColumnsByTable& columns) {
  std::multiset<std::string> out;
  for (const auto& [name, wanted] : columns) {
    const TableDef t = db.table(name);
    db.scan_rows(t, [&](RowPointer, const Row& row) {
      std::string line = name;
      for (std::size_t i = 0; i < t.columns.size(); ++i) {
        if (!wanted.contains(t.columns[i].name)) continue;
        line += "|" + (row[i].is_null ? std::string("NULL") : utf16_to_utf8(row[i].text)) +
                std::string(row[i].bytes.begin(), row[i].bytes.end());
      }
      out.insert(line);
    });
  }
  return out;
}

namespace {

// One reader's rows line of a table and the lines that detail it.
struct RowsBlock {
  std::string rows_line;
  long only_a = 0, only_b = 0;
  std::vector<std::string> details;
};

// Whether a block is explained: only ghost rows missing from the copy, or
// rows that differ only in columns the readers cannot read.
bool explained(const RowsBlock& b, const std::string& table, const std::map<std::string, std::size_t>& ghosts,
               const ColumnsByTable& opaque) {
  static const std::regex kColumn(R"(\[([^\]]+)\] A )");
  const auto g = ghosts.find(table);
  if (b.only_b == 0 && g != ghosts.end() && static_cast<std::size_t>(b.only_a) == g->second) return true;
  const auto o = opaque.find(table);
  if (b.only_a != b.only_b || o == opaque.end()) return false;
  for (const std::string& d : b.details) {
    if (d.find(") differs: ") == std::string::npos) return false;
    for (auto it = std::sregex_iterator(d.begin(), d.end(), kColumn); it != std::sregex_iterator(); ++it) {
      if (!o->second.contains((*it)[1].str())) return false;
    }
  }
  return true;
}

}  // namespace

std::string unexplained_differences(const std::string& log, const std::map<std::string, std::size_t>& ghosts_in_a,
                                    const ColumnsByTable& opaque) {
  static const std::regex kRows(R"(^  \[[^\]]+\] rows: \d+ in A, \d+ in B; (\d+) only in A, (\d+) only in B$)");
  static const std::regex kRowDetail(R"(^  \[[^\]]+\]   )");
  std::istringstream in(log);
  std::string line, table, out;
  std::optional<RowsBlock> block;
  const auto close_block = [&] {
    if (block && !explained(*block, table, ghosts_in_a, opaque)) {
      out += "[" + table + "] " + block->rows_line + "\n";
      for (const std::string& d : block->details) out += "[" + table + "] " + d + "\n";
    }
    block.reset();
  };
  while (std::getline(in, line)) {
    std::smatch m;
    if (block && std::regex_search(line, kRowDetail)) {
      block->details.push_back(line);
      continue;
    }
    close_block();
    if (line.rfind("table ", 0) == 0) {
      table = line.substr(6);
      continue;
    }
    if (line.rfind("jetdiff: ", 0) == 0 || line.find("] note: ") != std::string::npos) continue;
    // Renumbered ids; the test compares these rows by name.
    if (table == "MSysComplexColumns") continue;
    if (std::regex_match(line, m, kRows)) {
      block = RowsBlock{line, std::stol(m[1]), std::stol(m[2]), {}};
      continue;
    }
    out += "[" + table + "] " + line + "\n";
  }
  close_block();
  return out;
}

}  // namespace jet::testing
