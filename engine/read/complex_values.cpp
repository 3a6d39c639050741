#include "engine/read/complex_values.h"

#include <algorithm>
#include <optional>

#include "engine/read/database.h"

namespace jet {
namespace {

// Extra column flags of a hidden table's own columns.
constexpr std::uint8_t kOwnIdFlag = 0x04;   // the hidden row's own id (an AutoNumber)
constexpr std::uint8_t kParentIdFlag = 0x08;  // the complex id of the value it belongs to

struct Link {
  std::int32_t complex_id = 0;
  std::int32_t table_id = 0;    // ConceptualTableID: the table holding the column
  std::int32_t hidden_id = 0;   // FlatTableID
};

std::vector<Link> complex_column_links(Database& db, const std::vector<CatalogEntry>& catalog) {
  std::vector<Link> links;
  for (const CatalogEntry& e : catalog) {
    if (!e.is_table() || e.name != "MSysComplexColumns") continue;
    const TableDef t = db.table_of(e);
    const auto position = [&](const char* name) -> std::optional<std::size_t> {
      for (std::size_t i = 0; i < t.columns.size(); ++i) {
        if (t.columns[i].name == name) return i;
      }
      return std::nullopt;
    };
    const auto complex_id = position("ComplexID"), table_id = position("ConceptualTableID"),
               hidden_id = position("FlatTableID");
    if (!complex_id || !table_id || !hidden_id) return links;
    db.scan_rows(t, [&](RowPointer, const Row& row) {
      links.push_back(Link{static_cast<std::int32_t>(row[*complex_id].integer),
                           static_cast<std::int32_t>(row[*table_id].integer),
                           static_cast<std::int32_t>(row[*hidden_id].integer)});
    });
  }
  return links;
}

// Which of the hidden table's columns hold what, and so its kind.
struct Shape {
  ComplexKind kind = ComplexKind::kOther;
  std::optional<std::size_t> parent, own, value, date;
};

Shape shape_of(const TableDef& hidden) {
  Shape s;
  std::vector<std::size_t> values;
  for (std::size_t i = 0; i < hidden.columns.size(); ++i) {
    const Column& c = hidden.columns[i];
    if (c.type == ColumnType::Long && (c.ext_flags & kParentIdFlag) != 0) {
      s.parent = i;
    } else if (c.type == ColumnType::Long && (c.ext_flags & kOwnIdFlag) != 0) {
      s.own = i;
    } else {
      values.push_back(i);
    }
  }
  if (!s.parent) return s;
  const auto named = [&](const char* name, ColumnType type) -> std::optional<std::size_t> {
    for (std::size_t i : values) {
      if (hidden.columns[i].name == name && hidden.columns[i].type == type) return i;
    }
    return std::nullopt;
  };
  const auto of_type = [&](ColumnType type) -> std::optional<std::size_t> {
    for (std::size_t i : values) {
      if (hidden.columns[i].type == type) return i;
    }
    return std::nullopt;
  };
  if (named("FileName", ColumnType::Text) && named("FileData", ColumnType::Ole)) {
    s.kind = ComplexKind::kAttachments;
    s.value = named("FileName", ColumnType::Text);
  } else if (values.size() == 1) {
    s.kind = ComplexKind::kValues;
    s.value = values.front();
  } else if (values.size() == 2 && of_type(ColumnType::Memo) && of_type(ColumnType::DateTime)) {
    s.kind = ComplexKind::kVersionHistory;
    s.value = of_type(ColumnType::Memo);
    s.date = of_type(ColumnType::DateTime);
  }
  return s;
}

ComplexColumnValues read_hidden_table(Database& db, const TableDef& hidden) {
  ComplexColumnValues out;
  out.hidden_table = hidden.name;
  const Shape s = shape_of(hidden);
  out.kind = s.kind;
  if (s.kind == ComplexKind::kOther) return out;
  struct Entry {
    double date = 0;
    std::int64_t own = 0;
    std::uint64_t seen = 0;
    Value value;
  };
  std::map<std::int32_t, std::vector<Entry>> entries;
  std::uint64_t seen = 0;
  db.scan_rows(hidden, [&](RowPointer, const Row& row) {
    const Value& parent = row[*s.parent];
    if (parent.is_null) return;
    Entry e;
    if (s.date && !row[*s.date].is_null) e.date = row[*s.date].real;
    if (s.own && !row[*s.own].is_null) e.own = row[*s.own].integer;
    e.seen = seen++;
    e.value = row[*s.value];
    entries[static_cast<std::int32_t>(parent.integer)].push_back(std::move(e));
  });
  for (auto& [id, list] : entries) {
    std::sort(list.begin(), list.end(), [](const Entry& a, const Entry& b) {
      if (a.date != b.date) return a.date < b.date;
      return a.own != b.own ? a.own < b.own : a.seen < b.seen;
    });
    auto& values = out.values[id];
    for (Entry& e : list) values.push_back(std::move(e.value));
  }
  return out;
}

}  // namespace

std::map<std::size_t, ComplexColumnValues> read_complex_values(Database& db, const TableDef& table) {
  std::map<std::size_t, ComplexColumnValues> out;
  if (std::none_of(table.columns.begin(), table.columns.end(),
                   [](const Column& c) { return c.type == ColumnType::Complex; })) {
    return out;
  }
  const std::vector<CatalogEntry> catalog = db.catalog();
  const std::vector<Link> links = complex_column_links(db, catalog);
  for (std::size_t i = 0; i < table.columns.size(); ++i) {
    const Column& c = table.columns[i];
    if (c.type != ColumnType::Complex) continue;
    const auto link = std::find_if(links.begin(), links.end(), [&](const Link& l) {
      return l.complex_id == c.complex_id && static_cast<PageNumber>(l.table_id) == table.definition_page;
    });
    if (link == links.end()) continue;
    const auto hidden = std::find_if(catalog.begin(), catalog.end(), [&](const CatalogEntry& e) {
      return e.is_table() && e.table_page() == static_cast<PageNumber>(link->hidden_id);
    });
    if (hidden == catalog.end()) continue;
    out.emplace(i, read_hidden_table(db, db.table_of(*hidden)));
  }
  return out;
}

}  // namespace jet
