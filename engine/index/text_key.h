#pragma once
// Text (and Memo) values as index key bytes in the General sort order.
// Case folds, accents sort after the base letters, control characters sort
// last: the codes come from collation_tables.h.
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "engine/model/value.h"

namespace jet::index {

enum class TextOrder : std::uint8_t {
  General97,      // Jet 3 files
  GeneralLegacy,  // Jet 4 files, sort order 1033 version 0 (Access 2000-2007)
  General2010,    // Jet 4 files, sort order 1033 version 1 (written by Access 2010+)
};

// How the positions Jet 4 notes after the text (accents, hyphens and other
// control notes) count a character whose code expands to several letters
// (ß as "ss", æ as "ae", þ as "th"). Files Access wrote show both: most count
// each letter; some older ones count the character once (INDEX_FORMAT.md).
enum class ExpansionCount : std::uint8_t {
  kPerLetter,     // what the encoder writes
  kPerCharacter,  // recognised in keys read from older files
};

// Codes that stand for characters in another collating order, learned from
// a file's own keys (learned_orders.h): a character listed keys as these
// inline codes alone, in the Access 2000 and later forms; so does a letter
// pair listed (in lower case), in either case, as one letter (the
// Hungarian ty).
struct CodeOverrides {
  std::map<char16_t, Bytes> chars;
  std::map<std::u16string, Bytes> pairs;
  bool empty() const { return chars.empty() && pairs.empty(); }
};

// The two characters of `text` from `i`, ASCII letters in lower case: how
// a letter pair is looked up in CodeOverrides::pairs.
std::u16string lower_pair_at(std::u16string_view text, std::size_t i);

// Appends the key bytes of a non-null text value (without the leading
// start-of-value flag). Throws jet::Error 3251 for a character whose code is
// not known, so a rebuilt index never carries a guessed key.
void append_text_key(const std::u16string& text, TextOrder order, bool ascending, Bytes& out,
                     ExpansionCount expansions = ExpansionCount::kPerLetter,
                     const CodeOverrides* overrides = nullptr);

// Appends only the codes a text's key begins with (one run per character,
// before any end marker, accent or note), ascending, for each character of
// `text` in turn; `ends` gets the end of each character's codes in `out`.
// Throws like append_text_key.
void append_text_inline(const std::u16string& text, TextOrder order, Bytes& out, std::vector<std::size_t>& ends,
                        const CodeOverrides* overrides = nullptr);

}  // namespace jet::index
