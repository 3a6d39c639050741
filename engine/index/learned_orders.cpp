#include "engine/index/learned_orders.h"

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "engine/error.h"
#include "engine/format/damaged.h"
#include "engine/index/index_findings.h"
#include "engine/index/index_key.h"
#include "engine/index/index_tree_reader.h"
#include "engine/index/text_key.h"
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

// Orders in which the samples key all their ASCII text as in General,
// letter pairs included (Arabic, Chinese Taiwan and PRC, French, Japanese,
// Polish, Thai, Turkish, modern Spanish): no pair of letters is one letter
// in them. Elsewhere a guarded pair must be seen keyed as General.
bool keeps_letter_pairs_apart(std::uint32_t order) {
  static constexpr std::uint32_t kOrders[] = {0x0401, 0x0404, 0x0804, 0x040C, 0x0411, 0x0415, 0x041E, 0x041F, 0x0C0A};
  return std::find(std::begin(kOrders), std::end(kOrders), order) != std::end(kOrders);
}

char16_t ascii_lower(char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 0x20) : c; }

// The pair starting at `i`, in lower case.
std::u16string pair_at(std::u16string_view text, std::size_t i) {
  return std::u16string{ascii_lower(text[i]), ascii_lower(text[i + 1])};
}

struct Disagreement {
  std::uint32_t order;
  std::u16string text;
  std::size_t first_difference;  // the character where the keys part, or text.size()
};

// The character of the text column at `at` where `stored` first parts from
// the row's General key, by the codes each character adds in turn; the
// text's size when the codes agree throughout (the keys part after them).
std::size_t first_difference(const IndexKeyEncoder& encoder, const Row& row, std::size_t at, TextOrder general,
                             const Bytes& stored) {
  const std::u16string& text = row[at].text;
  Bytes lead;
  bool ascending = true;
  for (const KeyColumn& c : encoder.columns()) {
    if (c.position == at) {
      ascending = c.ascending;
      lead.push_back(ascending ? 0x7F : 0x80);
      break;
    }
    append_column_key(row[c.position], c, lead);
  }
  if (stored.size() < lead.size() || !std::equal(lead.begin(), lead.end(), stored.begin())) return text.size();
  Bytes codes;
  std::vector<std::size_t> ends;
  std::size_t unknown = text.size();
  try {
    append_text_inline(text, general, codes, ends);
  } catch (const Error&) {
    unknown = ends.size();  // a character with no General code
  }
  std::size_t from = 0;
  for (std::size_t i = 0; i < ends.size(); ++i) {
    for (std::size_t b = from; b < ends[i]; ++b) {
      const std::size_t k = lead.size() + b;
      if (k >= stored.size()) return i;
      const auto byte = static_cast<std::uint8_t>(ascending ? stored[k] : ~stored[k]);
      if (byte != codes[b]) return i;
    }
    from = ends[i];
  }
  return std::min(unknown, text.size());
}

}  // namespace

LearnedOrders LearnedOrders::learn(Database& db) {
  std::vector<TableDef> tables;
  try {
    tables = db.tables();
  } catch (const Error&) {
    return {};
  } catch (const DamagedData&) {
    return {};
  }
  return learn(db, tables);
}

LearnedOrders LearnedOrders::learn(Database& db, const std::vector<TableDef>& tables) {
  LearnedOrders out;
  std::vector<Disagreement> disagreements;
  const Format format = db.format().version == JetVersion::Jet4 ? Format::Jet4 : Format::Jet3;
  for (const TableDef& t : tables) {
    for (const IndexData& d : t.index_data) {
      const Column* text = other_order_text(t, d);
      if (text == nullptr || d.first_page == 0) continue;
      const std::size_t at = static_cast<std::size_t>(text - t.columns.data());
      const std::uint8_t version = text->raw.size() > 14 ? text->raw[14] : 0;
      const TextOrder general = format == Format::Jet3 ? TextOrder::General97
                                : version == 0        ? TextOrder::GeneralLegacy
                                                      : TextOrder::General2010;
      const bool catalog = t.definition_page == 2;
      std::vector<std::pair<RowPointer, Bytes>> entries;
      try {
        walk_index_tree([&](PageNumber p) { return db.page(p); }, d.first_page, format, t.definition_page,
                        [&](const EntryView& e) {
                          if (e.child != 0 || (!catalog && entries.size() >= kEntriesPerIndex)) return;
                          entries.emplace_back(e.row, Bytes(e.key.begin(), e.key.end()));
                        });
      } catch (const Error&) {
        continue;  // a damaged tree teaches nothing: what it read may be garbage
      } catch (const DamagedData&) {
        continue;
      }
      // Two entries under one key in a unique index are damage: neither
      // key is known to be its row's.
      std::vector<bool> repeated(entries.size(), false);
      if (detail::must_be_unique(t, d)) {
        for (std::size_t i = 1; i < entries.size(); ++i) {
          if (entries[i].second != entries[i - 1].second || detail::all_null_key(entries[i].second, d.columns.size())) {
            continue;
          }
          repeated[i] = repeated[i - 1] = true;
        }
      }
      try {
        const IndexKeyEncoder encoder(t, d, format, general);
        Facts& facts = out.orders_[text->collation];
        facts.pairs_guarded = !keeps_letter_pairs_apart(text->collation);
        for (std::size_t i = 0; i < entries.size(); ++i) {
          if (repeated[i]) continue;
          const auto& [where, stored] = entries[i];
          try {
            const std::optional<Bytes> bytes = db.read_row_bytes(where);
            if (!bytes) continue;
            const Row row = db.decode_row(t, *bytes);
            if (row[at].is_null) continue;
            if (encoder.is_own_key(row, stored)) {
              ++facts.agreeing;
              const std::u16string& s = row[at].text;
              facts.learned.insert(s.begin(), s.end());
              for (std::size_t k = 0; k + 1 < s.size(); ++k) {
                if (is_guarded_pair(s[k], s[k + 1])) facts.pairs_seen.insert(pair_at(s, k));
              }
            } else {
              ++facts.disagreeing;
              disagreements.push_back(
                  {text->collation, row[at].text, first_difference(encoder, row, at, general, stored)});
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
  // Where an entry's key parts from General's, the characters there that
  // were never seen keyed as General are suspect: the one whose codes
  // differ, and the one before it, whose own codes may have been the start
  // of the order's. Where the codes all agree (the keys part after them,
  // in accents or flags), every such character of the text is. An entry
  // keyed otherwise that the rules would still key as General shows they
  // do not hold for this order.
  for (const Disagreement& d : disagreements) {
    Facts& facts = out.orders_[d.order];
    const std::size_t p = d.first_difference;
    for (std::size_t i = 0; i < d.text.size(); ++i) {
      const bool there = p >= d.text.size() || i == p || i + 1 == p;
      if (there && facts.learned.count(d.text[i]) == 0) facts.suspect.insert(d.text[i]);
    }
  }
  for (const Disagreement& d : disagreements) {
    Facts& facts = out.orders_[d.order];
    if (run(facts, d.text) == d.text.size()) facts.contradicted = true;
  }
  return out;
}

bool LearnedOrders::is_guarded_pair(char16_t a, char16_t b) {
  static constexpr std::u16string_view kPairs[] = {u"ch", u"ll", u"lj", u"nj", u"cs", u"dz", u"gy",
                                                   u"ly", u"ny", u"sz", u"ty", u"zs", u"aa"};
  const char16_t pair[2] = {ascii_lower(a), ascii_lower(b)};
  for (std::u16string_view p : kPairs) {
    if (p == std::u16string_view(pair, 2)) return true;
  }
  return false;
}

std::size_t LearnedOrders::run(const Facts& facts, std::u16string_view text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    // Printable ASCII keys as in General in every order whose files'
    // ASCII entries all agree (over 14,000 entries in eight orders); where
    // an order keys a letter otherwise (the Turkish I), the file's entries
    // holding it disagree and make it suspect. So an order a file taught
    // keys the rest of ASCII so, including letters its entries happen not
    // to hold (the names a repair gives).
    const bool ascii = c >= 0x20 && c < 0x7F;
    if (facts.suspect.count(c) != 0 || (!ascii && facts.learned.count(c) == 0)) return i;
    if (facts.pairs_guarded && i + 1 < text.size() && is_guarded_pair(c, text[i + 1]) &&
        facts.pairs_seen.count(pair_at(text, i)) == 0) {
      return i;
    }
  }
  return text.size();
}

bool LearnedOrders::knows(std::uint32_t order) const {
  const auto it = orders_.find(order);
  return it != orders_.end() && !it->second.contradicted && it->second.agreeing >= kEnoughEntries;
}

bool LearnedOrders::keys_like_general(std::uint32_t order, std::u16string_view text) const {
  return knows(order) && run(orders_.at(order), text) == text.size();
}

std::size_t LearnedOrders::general_run(std::uint32_t order, std::u16string_view text) const {
  if (!knows(order)) return 0;
  const std::size_t n = run(orders_.at(order), text);
  // The last of them may make one letter with the next (Croatian dž).
  return n < text.size() && n > 0 ? n - 1 : n;
}

}  // namespace jet::index
