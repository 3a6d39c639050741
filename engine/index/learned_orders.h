#pragma once
// What a file's own index entries show of the collating orders we have no
// key tables for. Pairing each stored entry of a text index in such an
// order with its row and keying the row in the General order tells, per
// character, whether that order keys it as General does: across the
// samples, ASCII text keys exactly as in General in most orders (Arabic,
// Chinese, French, Japanese, Polish, Thai, modern Spanish), and not in a few
// (Croatian, Hungarian and Turkish letter pairs, the Turkish capital I,
// Korean). So a file teaches its own: the characters of every entry whose
// stored key is General's are learned; the characters of an entry keyed
// otherwise that were never seen keyed as General become suspect (the
// Turkish I); letter pairs that some orders key as one letter are trusted,
// outside the orders the samples show never do, only where an entry shows
// them keyed as General. An order in which some
// entry keyed otherwise would still pass those rules teaches nothing: its
// keys depend on more than the rules can tell.
#include <cstdint>
#include <map>
#include <set>
#include <span>
#include <string_view>
#include <vector>

#include "engine/index/sort_key_form.h"
#include "engine/index/text_key.h"
#include "engine/model/schema.h"

namespace jet {
class Database;
}

namespace jet::index {

class LearnedOrders {
 public:
  // Reads the text indexes of `db` whose columns use an order other than
  // General: the catalog's every entry, other tables' first entries. Parts
  // that cannot be read teach nothing.
  static LearnedOrders learn(Database& db);
  // The same over `tables` (a damaged file's as the salvage reader found
  // them). Entries that repeat a neighbour's key in a unique index, a
  // damaged key, teach nothing.
  static LearnedOrders learn(Database& db, const std::vector<TableDef>& tables);

  // Whether keys of text in `order` can be formed as in the General order:
  // the order was learned, no character of `text` is suspect, each is
  // printable ASCII or was seen keyed that way, and no letter pair of it is
  // one an order may key as one letter unless seen keyed as General.
  bool knows(std::uint32_t order) const;
  bool keys_like_general(std::uint32_t order, std::u16string_view text) const;
  // Characters the order keys as other inline codes than General's, learned
  // from entries that hold them (the Turkish capital I); null when none.
  // keys_like_general admits them: the key is General's with these codes.
  const CodeOverrides* codes(std::uint32_t order) const;
  // The form the order's keys take when it is not General's at all (then
  // keys_like_general tells whether the form keys the text); null otherwise.
  const SortKeyForm* sort_key_form(std::uint32_t order) const;
  // How many leading characters of `text` key as in General by the same
  // rules, short of the one before the first that does not (the two may
  // make one letter, as Croatian dž): their codes lead the order's key too.
  std::size_t general_run(std::uint32_t order, std::u16string_view text) const;

  // For tests and notes: what each order's entries showed.
  struct Facts {
    std::set<char16_t> learned;
    std::set<char16_t> suspect;
    std::set<std::u16string> pairs_seen;  // guarded letter pairs (lower case) keyed as General
    // Letter pairs (lower case) the order may key as one letter; none in
    // orders the samples show keep every pair apart.
    std::span<const std::u16string_view> guarded_pairs;
    bool guards(char16_t a, char16_t b) const;
    CodeOverrides codes;  // suspect characters whose codes the entries show
    // Keys in the order's own form (Jet 3 Turkish, Korean): what entries
    // show of it, and whether the order keys so (General does not explain
    // its entries, enough of them are of this form, none contradicting
    // another).
    SortKeyForm form;
    bool in_sort_key_form = false;
    std::size_t agreeing = 0;
    std::size_t disagreeing = 0;
    bool contradicted = false;
  };
  const std::map<std::uint32_t, Facts>& facts() const { return orders_; }

  // An entry keyed otherwise than General, while a file is read.
  struct Disagreement;

 private:
  // Characters of `text` from its start that key as in General (or as
  // learned codes).
  static std::size_t run(const Facts& facts, std::u16string_view text);
  void learn_codes(const std::vector<Disagreement>& disagreements);

  std::map<std::uint32_t, Facts> orders_;
};

}  // namespace jet::index
