#include "engine/index/order_learning.h"

#include <algorithm>

#include "engine/error.h"

namespace jet::index::learning {

std::optional<TextPlace> text_place(const IndexKeyEncoder& encoder, const Row& row, std::size_t at,
                                    const Bytes& stored) {
  Bytes lead;
  TextPlace place;
  const std::vector<KeyColumn>& columns = encoder.columns();
  for (std::size_t i = 0; i < columns.size(); ++i) {
    const KeyColumn& c = columns[i];
    if (c.position == at) {
      place.ascending = c.ascending;
      place.last = i + 1 == columns.size();
      lead.push_back(place.ascending ? 0x7F : 0x80);
      break;
    }
    append_column_key(row[c.position], c, lead);
  }
  if (stored.size() < lead.size() || !std::equal(lead.begin(), lead.end(), stored.begin())) return std::nullopt;
  place.lead = lead.size();
  return place;
}

std::optional<std::size_t> parting(const IndexKeyEncoder& encoder, const Row& row, std::size_t at,
                                   TextOrder general, const Bytes& stored) {
  const std::u16string& text = row[at].text;
  const std::optional<TextPlace> place = text_place(encoder, row, at, stored);
  if (!place) return std::nullopt;
  const bool ascending = place->ascending;
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
      const std::size_t k = place->lead + b;
      if (k >= stored.size()) return i;
      const auto byte = static_cast<std::uint8_t>(ascending ? stored[k] : ~stored[k]);
      if (byte != codes[b]) return i;
    }
    from = ends[i];
  }
  return std::min(unknown, text.size());
}

std::size_t first_difference(const IndexKeyEncoder& encoder, const Row& row, std::size_t at, TextOrder general,
                             const Bytes& stored) {
  return parting(encoder, row, at, general, stored).value_or(row[at].text.size());
}

std::optional<Bytes> text_key_of(const IndexKeyEncoder& encoder, const Row& row, std::size_t at, const Bytes& stored,
                                 bool& ascending) {
  const std::optional<TextPlace> place = text_place(encoder, row, at, stored);
  if (!place || !place->last) return std::nullopt;
  ascending = place->ascending;
  return Bytes(stored.begin() + static_cast<std::ptrdiff_t>(place->lead), stored.end());
}

FormShape form_shape(TextOrder general) {
  static constexpr std::uint8_t kJet3End[] = {0x01, 0x01, 0x01, 0x01, 0x00};
  static constexpr std::uint8_t kLegacyEnd[] = {0x01, 0x00};
  if (general == TextOrder::General97) {
    return {kJet3End, [](std::u16string_view t) { return std::vector<std::size_t>(t.size(), 2); }};
  }
  return {kLegacyEnd, [general](std::u16string_view t) -> std::optional<std::vector<std::size_t>> {
            Bytes codes;
            std::vector<std::size_t> ends;
            try {
              append_text_inline(std::u16string(t), general, codes, ends);
            } catch (const Error&) {
              return std::nullopt;
            }
            std::vector<std::size_t> sizes;
            std::size_t from = 0;
            for (std::size_t e : ends) {
              sizes.push_back(e - from);
              from = e;
            }
            return sizes;
          }};
}

void read_form(SortKeyForm& form, TextOrder general, const std::u16string& text, const Bytes& tail) {
  const FormShape shape = form_shape(general);
  form.add(text, tail, shape.end, shape.lengths);
}

}  // namespace jet::index::learning
