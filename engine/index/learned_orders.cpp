#include "engine/index/learned_orders.h"

#include <optional>
#include <string>
#include <vector>

#include "engine/error.h"
#include "engine/format/damaged.h"
#include "engine/index/index_key.h"
#include "engine/index/index_tree_reader.h"
#include "engine/read/database.h"

namespace jet::index {
namespace {

constexpr std::uint32_t kGeneralOrder = 0x0409;
// Entries read from a table's index besides the catalog's: enough to see
// every letter a file uses, few enough to cost nothing on a large table.
constexpr std::size_t kEntriesPerIndex = 2000;
// Fewer agreeing entries than this teach nothing.
constexpr std::size_t kEnoughEntries = 8;

// The one text column of an index in another order, if it has exactly one.
const Column* other_order_text(const TableDef& t, const IndexData& d) {
  const Column* found = nullptr;
  for (const IndexColumn& ic : d.columns) {
    for (const Column& c : t.columns) {
      if (c.number != ic.column_number || (c.type != ColumnType::Text && c.type != ColumnType::Memo)) continue;
      if (c.collation == kGeneralOrder || c.collation == 0 || found != nullptr) return nullptr;
      found = &c;
    }
  }
  return found;
}

struct Disagreement {
  std::uint32_t order;
  std::u16string text;
};

}  // namespace

LearnedOrders LearnedOrders::learn(Database& db) {
  LearnedOrders out;
  std::vector<Disagreement> disagreements;
  const Format format = db.format().version == JetVersion::Jet4 ? Format::Jet4 : Format::Jet3;
  std::vector<TableDef> tables;
  try {
    tables = db.tables();
  } catch (const Error&) {
    return out;
  }
  for (const TableDef& t : tables) {
    for (const IndexData& d : t.index_data) {
      const Column* text = other_order_text(t, d);
      if (text == nullptr) continue;
      const std::size_t at = static_cast<std::size_t>(text - t.columns.data());
      const std::uint8_t version = text->raw.size() > 14 ? text->raw[14] : 0;
      const TextOrder general = format == Format::Jet3 ? TextOrder::General97
                                : version == 0        ? TextOrder::GeneralLegacy
                                                      : TextOrder::General2010;
      const bool catalog = t.definition_page == 2;
      try {
        const IndexKeyEncoder encoder(t, d, format, general);
        std::vector<std::pair<RowPointer, Bytes>> entries;
        walk_index_tree([&](PageNumber p) { return db.page(p); }, d.first_page, format, t.definition_page,
                        [&](const EntryView& e) {
                          if (e.child != 0 || (!catalog && entries.size() >= kEntriesPerIndex)) return;
                          entries.emplace_back(e.row, Bytes(e.key.begin(), e.key.end()));
                        });
        Facts& facts = out.orders_[text->collation];
        for (const auto& [where, stored] : entries) {
          try {
            const std::optional<Bytes> bytes = db.read_row_bytes(where);
            if (!bytes) continue;
            const Row row = db.decode_row(t, *bytes);
            if (row[at].is_null) continue;
            if (encoder.is_own_key(row, stored)) {
              ++facts.agreeing;
              facts.learned.insert(row[at].text.begin(), row[at].text.end());
            } else {
              ++facts.disagreeing;
              disagreements.push_back({text->collation, row[at].text});
            }
          } catch (const Error&) {
            // a row that does not read, or a character with no General key
          } catch (const DamagedData&) {
          }
        }
      } catch (const Error&) {
      } catch (const DamagedData&) {
      }
    }
  }
  for (const Disagreement& d : disagreements) {
    Facts& facts = out.orders_[d.order];
    bool all_learned = true;
    for (char16_t c : d.text) all_learned = all_learned && facts.learned.count(c) != 0;
    if (all_learned) facts.contradicted = true;
  }
  return out;
}

bool LearnedOrders::knows(std::uint32_t order) const {
  const auto it = orders_.find(order);
  return it != orders_.end() && !it->second.contradicted && it->second.agreeing >= kEnoughEntries;
}

bool LearnedOrders::keys_like_general(std::uint32_t order, std::u16string_view text) const {
  if (!knows(order)) return false;
  const Facts& facts = orders_.at(order);
  for (char16_t c : text) {
    // Printable ASCII keys as in General in every order whose files'
    // ASCII entries all agree (over 14,000 entries in eight orders); the
    // orders where it does not (letter pairs, the Turkish i, Korean) show
    // it in the file's own entries, which then contradict the order. So
    // an order a file taught keys all of ASCII so, including letters its
    // entries happen not to hold (the names a repair gives).
    const bool ascii = c >= 0x20 && c < 0x7F;
    if (!ascii && facts.learned.count(c) == 0) return false;
  }
  return true;
}

}  // namespace jet::index
