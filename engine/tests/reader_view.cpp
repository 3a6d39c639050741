#include "engine/tests/reader_view.h"

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

std::map<std::int64_t, std::string> complex_columns_by_name(Database& db) {
  std::map<std::int64_t, std::string> names_by_id;
  for (const CatalogEntry& e : db.catalog()) names_by_id[e.id] = e.name;
  std::map<std::int64_t, std::string> out;
  TableDef t;
  try {
    t = db.table("MSysComplexColumns");
  } catch (const Error&) {
    return out;
  }
  db.scan_rows(t, [&](RowPointer, const Row& row) {
    std::string described;
    std::int64_t complex_id = -1;
    for (std::size_t i = 0; i < t.columns.size(); ++i) {
      const Column& c = t.columns[i];
      if (c.name == "ComplexID") complex_id = row[i].integer;
      else if (c.name == "ColumnName") described += utf16_to_utf8(row[i].text) + ";";
      else described += c.name + "=" + names_by_id[row[i].integer] + ";";
    }
    out[complex_id] = described;
  });
  return out;
}

std::string unexplained_differences(const std::string& log, const std::map<std::string, std::size_t>& ghosts_in_a) {
  static const std::regex kRows(R"(^  \[[^\]]+\] rows: \d+ in A, \d+ in B; (\d+) only in A, (\d+) only in B$)");
  static const std::regex kRowDetail(R"(^  \[[^\]]+\]   (only in A: |\.\.\. and ))");
  std::istringstream in(log);
  std::string line, table, out;
  bool explained_rows = false;
  while (std::getline(in, line)) {
    if (line.rfind("table ", 0) == 0) {
      table = line.substr(6);
      continue;
    }
    if (line.rfind("jetdiff: ", 0) == 0 || line.find("] note: ") != std::string::npos) continue;
    // Renumbered ids; the test compares these rows by name.
    if (table == "MSysComplexColumns") continue;
    std::smatch m;
    if (std::regex_match(line, m, kRows)) {
      const auto ghosts = ghosts_in_a.find(table);
      explained_rows = m[2] == "0" && ghosts != ghosts_in_a.end() && std::stoul(m[1]) == ghosts->second;
      if (explained_rows) continue;
    } else if (explained_rows && std::regex_search(line, kRowDetail)) {
      continue;
    }
    out += "[" + table + "] " + line + "\n";
  }
  return out;
}

}  // namespace jet::testing
