// What the wild files' own entries teach of their collating orders, against
// the entries themselves: every key the taught encoder forms is the one
// Access stored, and every stored key of a row it cannot key begins as far
// as ours can be formed (what lets a repair carry such a key as the row's).
// Then, per order, what the samples show: the Turkish capital I keyed as
// another letter, Croatian and traditional Spanish letter pairs.
#include <gtest/gtest.h>

#include <cstdio>
#include <string_view>

#include "engine/error.h"
#include "engine/format/damaged.h"
#include "engine/format/text_codec.h"
#include "engine/index/index_key.h"
#include "engine/index/index_tree_reader.h"
#include "engine/index/learned_orders.h"
#include "engine/read/database.h"
#include "engine/tests/corpus_files.h"

namespace jet::index {
namespace {

constexpr std::uint32_t kGeneralOrder = 0x0409;

struct Tally {
  std::size_t files = 0, formed = 0, unformed = 0;
};

void check_file(const std::filesystem::path& path, Tally& tally) {
  std::unique_ptr<Database> db;
  try {
    db = Database::open(path.string());
  } catch (const Error&) {
    return;  // an unknown password, or not a Jet 3/4 database
  }
  if ((db->header().sort_order & 0xFFFF) == kGeneralOrder) return;
  ++tally.files;
  const LearnedOrders learned = LearnedOrders::learn(*db);
  const Format format = db->version() == JetVersion::Jet4 ? Format::Jet4 : Format::Jet3;
  for (const TableDef& t : db->tables()) {
    for (const IndexData& d : t.index_data) {
      const IndexKeyEncoder encoder(t, d, format, std::nullopt, &learned);
      if (!encoder.unsupported_reason().empty() || d.first_page == 0) continue;
      Bytes key, prefix;
      walk_index_tree([&](PageNumber p) { return db->page(p); }, d.first_page, format, t.definition_page,
                      [&](const EntryView& e) {
                        if (e.child != 0) return;
                        const std::optional<Bytes> bytes = db->read_row_bytes(e.row);
                        if (!bytes) return;
                        const Row row = db->decode_row(t, *bytes);
                        const Bytes stored(e.key.begin(), e.key.end());
                        try {
                          encoder.key_into(row, key);
                          ++tally.formed;
                          EXPECT_EQ(key, stored) << t.name << " index " << d.number;
                          return;
                        } catch (const Error& err) {
                          ASSERT_EQ(err.number(), errc::kNotBuiltYet);
                        }
                        ++tally.unformed;
                        encoder.formed_prefix_into(row, prefix);
                        ASSERT_FALSE(prefix.empty());
                        EXPECT_TRUE(stored.size() >= prefix.size() &&
                                    std::equal(prefix.begin(), prefix.end(), stored.begin()))
                            << t.name << " index " << d.number << " at " << e.row.page << ":" << e.row.row;
                      });
    }
  }
}

TEST(LearnedOrdersCorpus, FormedKeysAreStoredOnesAndStoredOnesBeginAsFormed) {
  std::vector<testing::CorpusFile> files = testing::wild_files();
  for (testing::CorpusFile& f : testing::ace_files()) {
    if (!f.password) files.push_back(std::move(f));
  }
  if (files.empty()) GTEST_SKIP() << "sample databases not found under " << testing::corpus_dir();
  Tally tally;
  for (const testing::CorpusFile& f : files) {
    SCOPED_TRACE(f.path.string());
    check_file(f.path, tally);
  }
  std::printf("%zu files in other orders: %zu keys formed, %zu rows keep their stored key\n", tally.files,
              tally.formed, tally.unformed);
  EXPECT_GT(tally.formed, 31500u);
  EXPECT_GT(tally.unformed, 250u);
}

struct OrderFacts {
  const char* file;
  bool known;
  std::u16string suspect;       // characters among the suspect ones
  std::u16string keyed;         // text that keys as in General
  std::u16string not_keyed;     // text that does not
  Bytes codes_of_capital_i;     // the inline codes learned for I, if any
  std::u16string pair = u"";    // a letter pair keyed as one letter,
  Bytes codes_of_pair = {};     // with the codes learned for it, if any
};

TEST(LearnedOrdersCorpus, WhatEachOrderShows) {
  const std::vector<OrderFacts> cases = {
      // Turkish (Jet 4): the capital I keys as the dotless letter, codes
      // the file's own names show; the dotted capital no name shows.
      {"w077.mdb", true, u"I", u"Items_Recovered", u"\u0130zmir", {0x58, 0x06}},
      {"w147.mdb", true, u"I", u"MSysNavPaneObjectIDs", u"\u0130zmir", {0x58, 0x06}},
      // Turkish (Jet 3): its keys take another form altogether, two bytes
      // per letter, read off the file's entries; a letter none holds is
      // not keyed.
      {"w041.mdb", true, u"", u"MSysCompactError", u"MSys\u4E00", {}},
      // Croatian: nj and dž key as one letter each, nj with codes its
      // entries show; the rest of ASCII as General.
      {"w045.mdb", true, u"\u017E", u"Banja_Recovered", u"Samard\u017Eija_Recovered", {}, u"nj", {0x63, 0x04}},
      // Hungarian: ty keys as one letter (every MSysComplexType_* table
      // shows it), but not where it may be doubled (tty).
      {"a049.accdb", true, u"", u"MSysComplexType_Long", u"Attyla", {}, u"ty", {0x6E, 0x06}},
      // Traditional Spanish: CH keys as one letter.
      {"w109.mdb", true, u"", u"MSysCompactError", u"Mechanics_Recovered", {}},
      {"w017.mdb", true, u"", u"Recovered_Table_7", u"Calle_Recovered", {}},
      // Chinese: its names in its script are unknown; ASCII is General's.
      {"w069.mdb", true, u"\u4EBA", u"MSysCompactError", u"\u4EBA\u5458\u8D44\u6599", {}},
  };
  for (const OrderFacts& c : cases) {
    SCOPED_TRACE(c.file);
    const bool ace = std::string_view(c.file).ends_with(".accdb");
    const auto path = testing::corpus_dir() / (ace ? "ace" : "wild") / c.file;
    if (!std::filesystem::exists(path)) GTEST_SKIP() << "sample database absent: " << path;
    auto db = Database::open(path.string());
    const LearnedOrders learned = LearnedOrders::learn(*db);
    const std::uint32_t order = db->header().sort_order & 0xFFFF;
    EXPECT_EQ(learned.knows(order), c.known);
    if (!c.known) {
      EXPECT_FALSE(learned.keys_like_general(order, c.not_keyed));
      continue;
    }
    const LearnedOrders::Facts& facts = learned.facts().at(order);
    for (char16_t s : c.suspect) EXPECT_TRUE(facts.suspect.count(s)) << utf16_to_utf8(std::u16string(1, s));
    EXPECT_TRUE(learned.keys_like_general(order, c.keyed)) << utf16_to_utf8(c.keyed);
    EXPECT_FALSE(learned.keys_like_general(order, c.not_keyed)) << utf16_to_utf8(c.not_keyed);
    const auto coded = facts.codes.chars.find(u'I');
    EXPECT_EQ(coded == facts.codes.chars.end() ? Bytes{} : coded->second, c.codes_of_capital_i);
    if (!c.pair.empty()) {
      const auto pair = facts.codes.pairs.find(c.pair);
      EXPECT_EQ(pair == facts.codes.pairs.end() ? Bytes{} : pair->second, c.codes_of_pair);
    }
  }
}

}  // namespace
}  // namespace jet::index
