#pragma once
// What the learning of collating orders (learned_orders.h) shares between
// its parts: how a stored entry's key lines up with the General key of a
// text, the forms of keys General does not explain, and what a catalog's
// entries whose rows are lost still teach (lost_catalog_learning.cpp).
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "engine/index/index_key.h"
#include "engine/index/learned_orders.h"
#include "engine/index/sort_key_form.h"
#include "engine/index/text_key.h"
#include "engine/model/schema.h"

namespace jet::index {

struct LearnedOrders::Disagreement {
  std::uint32_t order;
  std::u16string text;
  std::size_t first_difference;  // the character where the keys part, or text.size()
  // Whose row was lost: the text is a name the key begins with, not known
  // to be the entry's own, so it can add suspects but show nothing wrong.
  bool by_name = false;
  // The stored key's bytes from the text on, when the text ends the key.
  std::optional<Bytes> text_key;
  bool ascending = true;
  TextOrder general = TextOrder::GeneralLegacy;
};

namespace learning {

using Disagreement = LearnedOrders::Disagreement;

// Where the text column at `at` begins in `stored`: after the key parts of
// the columns before it and its flag byte; nullopt when those differ from
// the row's.
struct TextPlace {
  std::size_t lead = 0;
  bool ascending = true;
  bool last = false;  // the text is the key's last column
};
std::optional<TextPlace> text_place(const IndexKeyEncoder& encoder, const Row& row, std::size_t at,
                                    const Bytes& stored);

// The character of the text column at `at` where `stored` first parts from
// the row's General key, by the codes each character adds in turn; the
// text's size when the codes agree throughout (the keys part after them);
// nullopt when the columns before the text already differ.
std::optional<std::size_t> parting(const IndexKeyEncoder& encoder, const Row& row, std::size_t at,
                                   TextOrder general, const Bytes& stored);
std::size_t first_difference(const IndexKeyEncoder& encoder, const Row& row, std::size_t at, TextOrder general,
                             const Bytes& stored);

// The stored bytes of the text on, when the text is the key's last column.
std::optional<Bytes> text_key_of(const IndexKeyEncoder& encoder, const Row& row, std::size_t at, const Bytes& stored,
                                 bool& ascending);

// An order's own form: Jet 3's takes two bytes a character and ends
// 01 01 01 01 00; Access 2000's as many bytes as General gives each
// character, ending 01 00.
struct FormShape {
  std::span<const std::uint8_t> end;
  SortKeyForm::CodeLengths lengths;
};
FormShape form_shape(TextOrder general);
void read_form(SortKeyForm& form, TextOrder general, const std::u16string& text, const Bytes& tail);

// A catalog entry whose row is lost, for an order's own form: the stored
// bytes of its text on, under each standard parent whose key leads it.
struct LostEntry {
  std::uint32_t order = 0;
  TextOrder general = TextOrder::GeneralLegacy;
  std::vector<Bytes> tails;
};

// What a catalog entry whose row is lost teaches of an order keyed like
// General: matched to one of the names every catalog holds, it agrees or
// marks suspects (adding to `facts` and `disagreements`).
void learn_by_name(const IndexKeyEncoder& encoder, const TableDef& catalog, std::size_t name_at, TextOrder general,
                   const Bytes& stored, std::uint32_t order, LearnedOrders::Facts& facts,
                   std::vector<Disagreement>& disagreements);
LostEntry lost_entry(const IndexKeyEncoder& encoder, const TableDef& catalog, std::size_t name_at,
                     TextOrder general, const Bytes& stored, std::uint32_t order);
// Teaches the own form of `order` from its entries among `lost`.
void learn_form_by_name(SortKeyForm& form, const std::vector<LostEntry>& lost, std::uint32_t order);

}  // namespace learning
}  // namespace jet::index
