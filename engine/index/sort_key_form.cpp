#include "engine/index/sort_key_form.h"

#include <algorithm>

namespace jet::index {
namespace {

constexpr std::uint8_t kEnd[] = {0x01, 0x01, 0x01, 0x01, 0x00};
// Letters seen in both cases, all with the same bytes, before a letter seen
// in one case is keyed as the other.
constexpr std::size_t kCaseWitnesses = 3;

// Only the first 255 characters of a value take part in its key, and
// trailing spaces never do.
std::u16string_view key_chars(std::u16string_view text) {
  text = text.substr(0, 255);
  while (!text.empty() && text.back() == u' ') text.remove_suffix(1);
  return text;
}

char16_t other_case(char16_t c) {
  if (c >= u'a' && c <= u'z') return static_cast<char16_t>(c - 0x20);
  if (c >= u'A' && c <= u'Z') return static_cast<char16_t>(c + 0x20);
  return c;
}

}  // namespace

bool SortKeyForm::add(std::u16string_view text, std::span<const std::uint8_t> key) {
  text = key_chars(text);
  if (text.empty() || key.size() != 2 * text.size() + sizeof kEnd ||
      !std::equal(std::begin(kEnd), std::end(kEnd), key.end() - sizeof kEnd)) {
    return false;
  }
  for (std::size_t i = 0; i < text.size(); ++i) {
    const std::array<std::uint8_t, 2> b{key[2 * i], key[2 * i + 1]};
    if (b[0] < 0x02) return false;  // a separator: not one character's bytes
    const auto [it, fresh] = codes_.emplace(text[i], b);
    if (!fresh && it->second != b) contradicted_ = true;
  }
  ++entries_;
  longest_ = std::max(longest_, text.size());
  return true;
}

bool SortKeyForm::case_is_not_kept() const {
  std::size_t both = 0;
  for (const auto& [c, b] : codes_) {
    if (c < u'a' || c > u'z') continue;
    const auto upper = codes_.find(other_case(c));
    if (upper == codes_.end()) continue;
    if (upper->second != b) return false;
    ++both;
  }
  return both >= kCaseWitnesses;
}

const std::array<std::uint8_t, 2>* SortKeyForm::bytes_of(char16_t c) const {
  auto it = codes_.find(c);
  if (it == codes_.end() && other_case(c) != c && case_is_not_kept()) it = codes_.find(other_case(c));
  return it == codes_.end() ? nullptr : &it->second;
}

bool SortKeyForm::keys(std::u16string_view text) const {
  text = key_chars(text);
  if (contradicted_ || text.empty() || text.size() > longest_) return false;
  return std::all_of(text.begin(), text.end(), [&](char16_t c) { return bytes_of(c) != nullptr; });
}

bool SortKeyForm::key_into(std::u16string_view text, Bytes& out) const {
  if (!keys(text)) return false;
  for (char16_t c : key_chars(text)) {
    const std::array<std::uint8_t, 2>& b = *bytes_of(c);
    out.insert(out.end(), b.begin(), b.end());
  }
  out.insert(out.end(), std::begin(kEnd), std::end(kEnd));
  return true;
}

}  // namespace jet::index
