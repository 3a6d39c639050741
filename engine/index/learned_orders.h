#pragma once
// What a file's own index entries show of the collating orders we have no
// key tables for. Pairing each stored entry of a text index in such an
// order with its row and keying the row in the General order tells, per
// character, whether that order keys it as General does: across the
// samples, ASCII text keys exactly as in General in most orders (Arabic,
// Chinese, French, Japanese, Polish, Thai, modern Spanish), and not in a few
// (Croatian, Hungarian and Turkish letter pairs, Korean). So a file teaches
// its own: the characters of every entry whose stored key is General's are
// learned, and an order whose file holds an entry made only of learned
// characters but keyed otherwise teaches nothing (its keys depend on more
// than the characters, as letter pairs do).
#include <cstdint>
#include <map>
#include <set>
#include <string_view>

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

  // Whether keys of text in `order` can be formed as in the General order:
  // the order was learned, and every character of `text` is printable ASCII
  // or was seen keyed that way.
  bool knows(std::uint32_t order) const;
  bool keys_like_general(std::uint32_t order, std::u16string_view text) const;

  // For tests and notes: entries that agreed and that did not, per order.
  struct Facts {
    std::set<char16_t> learned;
    std::size_t agreeing = 0;
    std::size_t disagreeing = 0;
    bool contradicted = false;
  };
  const std::map<std::uint32_t, Facts>& facts() const { return orders_; }

 private:
  std::map<std::uint32_t, Facts> orders_;
};

}  // namespace jet::index
