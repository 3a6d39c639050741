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
#include "engine/index/order_learning.h"
#include "engine/index/text_key.h"
#include "engine/read/database.h"

namespace jet::index {

namespace {

using namespace learning;

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

// Letter pairs (lower case) that some collating orders key as one letter:
// ch (traditional Spanish, Czech, Slovak), ll (traditional Spanish), lj
// and nj (Croatian, Serbian, Bosnian), cs, dz, gy, ly, ny, sz, ty and zs
// (Hungarian), aa (Danish, Norwegian).
constexpr std::u16string_view kAllPairs[] = {u"ch", u"ll", u"lj", u"nj", u"cs", u"dz", u"gy",
                                             u"ly", u"ny", u"sz", u"ty", u"zs", u"aa"};

// The pairs an order may key as one letter. Orders in which the samples key
// all their ASCII text as in General, letter pairs included (Arabic,
// Chinese Taiwan and PRC, French, Japanese, Polish, Thai, Turkish, modern
// Spanish), have none; the languages whose alphabets count such pairs as
// letters have their own; any other order may have any of them. A pair of
// its list must be seen keyed as General before it is keyed so.
std::span<const std::u16string_view> letter_pairs_of(std::uint32_t order) {
  static constexpr std::uint32_t kApart[] = {0x0401, 0x0404, 0x0804, 0x040C, 0x0411, 0x0415, 0x041E, 0x041F, 0x0C0A};
  static constexpr std::u16string_view kHungarian[] = {u"cs", u"dz", u"gy", u"ly", u"ny", u"sz", u"ty", u"zs"};
  static constexpr std::u16string_view kSouthSlavic[] = {u"lj", u"nj"};  // dž is d and a letter beyond ASCII
  static constexpr std::u16string_view kSpanishTraditional[] = {u"ch", u"ll"};
  static constexpr std::u16string_view kCzechSlovak[] = {u"ch"};
  static constexpr std::u16string_view kNordic[] = {u"aa"};
  if (std::find(std::begin(kApart), std::end(kApart), order) != std::end(kApart)) return {};
  switch (order) {
    case 0x040E: return kHungarian;
    case 0x041A: case 0x081A: case 0x101A: case 0x141A: return kSouthSlavic;
    case 0x040A: return kSpanishTraditional;
    case 0x0405: case 0x041B: return kCzechSlovak;
    case 0x0406: case 0x0414: case 0x0814: return kNordic;
    default: return kAllPairs;
  }
}

char16_t ascii_lower(char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 0x20) : c; }


// Whether `text` keys as `text_key` with `overrides`.
bool keys_as(const std::u16string& text, const Disagreement& d, const CodeOverrides& overrides) {
  Bytes formed;
  try {
    append_text_key(text, d.general, d.ascending, formed, ExpansionCount::kPerLetter, &overrides);
  } catch (const Error&) {
    return false;
  }
  return formed == *d.text_key;
}

// Where `unit` (a character, or a letter pair in lower case) first occurs
// in `text`; npos when it does not.
std::size_t find_unit(std::u16string_view text, const std::u16string& unit) {
  if (unit.size() == 1) return text.find(unit[0]);
  for (std::size_t i = 0; i + 1 < text.size(); ++i) {
    if (lower_pair_at(text, i) == unit) return i;
  }
  return std::u16string_view::npos;
}

CodeOverrides overriding(const std::u16string& unit, const Bytes& codes) {
  CodeOverrides o;
  if (unit.size() == 1) {
    o.chars[unit[0]] = codes;
  } else {
    o.pairs[unit] = codes;
  }
  return o;
}

// The inline codes that, standing for `unit` in `d`'s text, give its
// stored key exactly; nullopt when no run of one to four bytes does.
std::optional<Bytes> codes_standing_for(const std::u16string& unit, const Disagreement& d) {
  if (!d.text_key || !d.ascending || d.general == TextOrder::General97) return std::nullopt;
  const std::size_t at = find_unit(d.text, unit);
  if (at == std::u16string::npos) return std::nullopt;
  Bytes before;
  std::vector<std::size_t> ends;
  try {
    append_text_inline(d.text.substr(0, at), d.general, before, ends);
  } catch (const Error&) {
    return std::nullopt;
  }
  const Bytes& stored = *d.text_key;
  for (std::size_t n = 1; n <= 4 && before.size() + n <= stored.size(); ++n) {
    const Bytes codes(stored.begin() + static_cast<std::ptrdiff_t>(before.size()),
                      stored.begin() + static_cast<std::ptrdiff_t>(before.size() + n));
    if (keys_as(d.text, d, overriding(unit, codes))) return codes;
  }
  return std::nullopt;
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
  std::vector<LostEntry> lost;
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
        facts.guarded_pairs = letter_pairs_of(text->collation);
        for (std::size_t i = 0; i < entries.size(); ++i) {
          if (repeated[i]) continue;
          const auto& [where, stored] = entries[i];
          std::optional<Bytes> bytes;
          try {
            bytes = db.read_row_bytes(where);
          } catch (const Error&) {
          } catch (const DamagedData&) {
          }
          if (!bytes) {
            if (catalog) {
              learn_by_name(encoder, t, at, general, stored, text->collation, facts, disagreements);
              if (general != TextOrder::General2010) {
                lost.push_back(lost_entry(encoder, t, at, general, stored, text->collation));
              }
            }
            continue;
          }
          try {
            const Row row = db.decode_row(t, *bytes);
            if (row[at].is_null) continue;
            if (general != TextOrder::General2010) {
              bool ascending = true;
              const std::optional<Bytes> tail = text_key_of(encoder, row, at, stored, ascending);
              if (tail && ascending) read_form(facts.form, general, row[at].text, *tail);
            }
            if (encoder.is_own_key(row, stored)) {
              ++facts.agreeing;
              const std::u16string& s = row[at].text;
              facts.learned.insert(s.begin(), s.end());
              for (std::size_t k = 0; k + 1 < s.size(); ++k) {
                if (facts.guards(s[k], s[k + 1])) facts.pairs_seen.insert(lower_pair_at(s, k));
              }
            } else {
              ++facts.disagreeing;
              Disagreement seen{text->collation, row[at].text,
                                first_difference(encoder, row, at, general, stored), false, std::nullopt, true, general};
              seen.text_key = text_key_of(encoder, row, at, stored, seen.ascending);
              disagreements.push_back(std::move(seen));
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
  out.learn_codes(disagreements);
  for (const Disagreement& d : disagreements) {
    Facts& facts = out.orders_[d.order];
    if (d.by_name || run(facts, d.text) != d.text.size()) continue;
    // Keyed by the rules, the entry must key as stored.
    if (!d.text_key || !keys_as(d.text, d, facts.codes)) facts.contradicted = true;
  }
  // An order General does not explain keys in its own form, where the
  // file's entries show one.
  for (auto& [order, facts] : out.orders_) {
    const bool as_general = !facts.contradicted && facts.agreeing >= kEnoughEntries;
    facts.in_sort_key_form =
        !as_general && facts.form.entries() >= kEnoughEntries && !facts.form.contradicted();
    if (facts.in_sort_key_form) learn_form_by_name(facts.form, lost, order);
  }
  return out;
}

// A suspect character whose entries, their other characters all keyed as
// General, each key exactly as General with one run of inline codes in its
// place, at least twice and never otherwise, keys as those codes (the
// Turkish capital I as the dotless letter). Then no entry holding it is
// unexplained.
void LearnedOrders::learn_codes(const std::vector<Disagreement>& disagreements) {
  // Each entry that holds exactly one unit the rules do not key (a
  // suspect character, or a letter pair never seen keyed as General), in
  // one or more places, is a witness for that unit.
  std::map<std::pair<std::uint32_t, std::u16string>, std::vector<const Disagreement*>> witnesses;
  for (const Disagreement& d : disagreements) {
    if (!d.text_key) continue;  // its text's key cannot be told apart
    const Facts& facts = orders_[d.order];
    std::optional<std::u16string> unknown;
    bool one = true;
    std::u16string_view rest = d.text;
    while (one && !rest.empty()) {
      const std::size_t n = run(facts, rest);
      if (n == rest.size()) break;
      std::u16string unit;
      if (n + 1 < rest.size() && facts.guards(rest[n], rest[n + 1]) && !facts.pairs_seen.count(lower_pair_at(rest, n))) {
        unit = lower_pair_at(rest, n);
      } else if (facts.suspect.count(rest[n]) != 0) {
        unit = std::u16string(1, rest[n]);
      } else {
        one = false;
        break;
      }
      if (unknown && *unknown != unit) one = false;
      unknown = unit;
      rest.remove_prefix(n + unit.size());
    }
    if (one && unknown) witnesses[{d.order, *unknown}].push_back(&d);
  }
  for (const auto& [key, seen] : witnesses) {
    const auto& [order, unit] = key;
    std::optional<Bytes> codes = codes_standing_for(unit, *seen.front());
    if (!codes || seen.size() < 2) continue;
    const CodeOverrides trial = overriding(unit, *codes);
    const bool all = std::all_of(seen.begin(), seen.end(), [&](const Disagreement* d) { return keys_as(d->text, *d, trial); });
    if (!all) continue;
    CodeOverrides& known = orders_[order].codes;
    if (unit.size() == 1) {
      known.chars[unit[0]] = *codes;
    } else {
      known.pairs[unit] = *codes;
    }
  }
}

bool LearnedOrders::Facts::guards(char16_t a, char16_t b) const {
  const char16_t pair[2] = {ascii_lower(a), ascii_lower(b)};
  return std::find(guarded_pairs.begin(), guarded_pairs.end(), std::u16string_view(pair, 2)) != guarded_pairs.end();
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
    if (i + 1 < text.size() && facts.guards(c, text[i + 1]) && facts.pairs_seen.count(lower_pair_at(text, i)) == 0) {
      // A pair keyed as one letter, with the codes its entries show; but
      // not where it may be part of a longer letter (Hungarian dzs) or a
      // doubled one (tty, ssz), which the entries do not show.
      const bool doubled = i > 0 && ascii_lower(text[i - 1]) == ascii_lower(c);
      const bool overlapping = (i > 0 && facts.guards(text[i - 1], c)) ||
                               (i + 2 < text.size() && facts.guards(text[i + 1], text[i + 2]));
      if (facts.codes.pairs.count(lower_pair_at(text, i)) == 0 || doubled || overlapping) return i;
      ++i;
      continue;
    }
    if (facts.codes.chars.count(c) != 0) continue;
    if (facts.suspect.count(c) != 0 || (!ascii && facts.learned.count(c) == 0)) return i;
  }
  return text.size();
}

bool LearnedOrders::knows(std::uint32_t order) const {
  const auto it = orders_.find(order);
  if (it == orders_.end()) return false;
  const Facts& facts = it->second;
  return facts.in_sort_key_form || (!facts.contradicted && facts.agreeing >= kEnoughEntries);
}

const SortKeyForm* LearnedOrders::sort_key_form(std::uint32_t order) const {
  const auto it = orders_.find(order);
  return it != orders_.end() && it->second.in_sort_key_form ? &it->second.form : nullptr;
}

const CodeOverrides* LearnedOrders::codes(std::uint32_t order) const {
  if (!knows(order) || sort_key_form(order) != nullptr) return nullptr;
  const Facts& facts = orders_.at(order);
  return facts.codes.empty() ? nullptr : &facts.codes;
}

bool LearnedOrders::keys_like_general(std::uint32_t order, std::u16string_view text) const {
  if (const SortKeyForm* form = sort_key_form(order)) return form->keys(text);
  return knows(order) && run(orders_.at(order), text) == text.size();
}

std::size_t LearnedOrders::general_run(std::uint32_t order, std::u16string_view text) const {
  if (!knows(order) || sort_key_form(order) != nullptr) return 0;
  const Facts& facts = orders_.at(order);
  const std::size_t n = run(facts, text);
  // The last of them may make one letter with the next (Croatian dž).
  std::size_t cut = n < text.size() && n > 0 ? n - 1 : n;
  // Nor is a pair keyed as one letter cut in two.
  if (cut > 0 && cut < text.size() && facts.codes.pairs.count(lower_pair_at(text, cut - 1)) != 0 &&
      facts.pairs_seen.count(lower_pair_at(text, cut - 1)) == 0) {
    --cut;
  }
  return cut;
}

}  // namespace jet::index
