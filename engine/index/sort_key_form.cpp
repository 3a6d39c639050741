#include "engine/index/sort_key_form.h"

#include <algorithm>

namespace jet::index {
namespace {

// Letters seen in both cases, all with the same bytes, before a letter seen
// in one case is keyed as the other.
constexpr std::size_t kCaseWitnesses = 3;
// Below this a byte is an end marker or a separator, never a code.
constexpr std::uint8_t kLowestCode = 0x02;

char16_t other_case(char16_t c) {
  if (c >= u'a' && c <= u'z') return static_cast<char16_t>(c - 0x20);
  if (c >= u'A' && c <= u'Z') return static_cast<char16_t>(c + 0x20);
  return c;
}

}  // namespace

std::u16string_view SortKeyForm::key_chars(std::u16string_view text) {
  text = text.substr(0, 255);
  while (!text.empty() && text.back() == u' ') text.remove_suffix(1);
  return text;
}

std::optional<std::vector<Bytes>> SortKeyForm::codes_in(std::u16string_view text, std::span<const std::uint8_t> key,
                                                        std::span<const std::uint8_t> end,
                                                        const CodeLengths& lengths) {
  if (text.empty() || key.size() < end.size() || !std::equal(end.begin(), end.end(), key.end() - end.size())) {
    return std::nullopt;
  }
  const std::optional<std::vector<std::size_t>> sizes = lengths(text);
  if (!sizes || sizes->size() != text.size()) return std::nullopt;
  std::size_t total = 0;
  for (std::size_t n : *sizes) total += n;
  if (total != key.size() - end.size()) return std::nullopt;
  std::vector<Bytes> codes;
  std::size_t at = 0;
  for (std::size_t n : *sizes) {
    if (n == 0) return std::nullopt;
    Bytes b(key.begin() + static_cast<std::ptrdiff_t>(at), key.begin() + static_cast<std::ptrdiff_t>(at + n));
    if (std::any_of(b.begin(), b.end(), [](std::uint8_t x) { return x < kLowestCode; })) return std::nullopt;
    codes.push_back(std::move(b));
    at += n;
  }
  return codes;
}

bool SortKeyForm::add(std::u16string_view text, std::span<const std::uint8_t> key, std::span<const std::uint8_t> end,
                      const CodeLengths& lengths) {
  text = key_chars(text);
  // Codes first, so that a key of another shape teaches nothing at all.
  const std::optional<std::vector<Bytes>> codes = codes_in(text, key, end, lengths);
  if (!codes) return false;
  if (end_.empty()) end_.assign(end.begin(), end.end());
  if (!std::equal(end_.begin(), end_.end(), end.begin(), end.end())) contradicted_ = true;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto [it, fresh] = codes_.emplace(text[i], (*codes)[i]);
    if (!fresh && it->second != (*codes)[i]) contradicted_ = true;
  }
  ++entries_;
  longest_ = std::max(longest_, text.size());
  return true;
}

std::optional<std::size_t> SortKeyForm::fits(std::u16string_view text, std::span<const std::uint8_t> key,
                                             std::span<const std::uint8_t> end, const CodeLengths& lengths) const {
  text = key_chars(text);
  if (!std::equal(end_.begin(), end_.end(), end.begin(), end.end())) return std::nullopt;
  const std::optional<std::vector<Bytes>> codes = codes_in(text, key, end, lengths);
  if (!codes) return std::nullopt;
  std::size_t known = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const Bytes* b = bytes_of(text[i]);
    if (b == nullptr) continue;
    if (*b != (*codes)[i]) return std::nullopt;
    ++known;
  }
  return known;
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

const Bytes* SortKeyForm::bytes_of(char16_t c) const {
  auto it = codes_.find(c);
  if (it == codes_.end() && other_case(c) != c && case_is_not_kept()) it = codes_.find(other_case(c));
  return it == codes_.end() ? nullptr : &it->second;
}

bool SortKeyForm::keys(std::u16string_view text) const {
  text = key_chars(text);
  if (contradicted_ || end_.empty() || text.empty() || text.size() > longest_) return false;
  return std::all_of(text.begin(), text.end(), [&](char16_t c) { return bytes_of(c) != nullptr; });
}

bool SortKeyForm::key_into(std::u16string_view text, Bytes& out) const {
  if (!keys(text)) return false;
  for (char16_t c : key_chars(text)) {
    const Bytes& b = *bytes_of(c);
    out.insert(out.end(), b.begin(), b.end());
  }
  out.insert(out.end(), end_.begin(), end_.end());
  return true;
}

}  // namespace jet::index
