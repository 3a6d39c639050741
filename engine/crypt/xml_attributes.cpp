#include "engine/crypt/xml_attributes.h"

namespace jet::crypt {
namespace {

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
bool ends_name(char c) { return is_space(c) || c == '/' || c == '>' || c == '='; }

}  // namespace

std::optional<std::string_view> XmlElement::attribute(std::string_view text, std::string_view attribute_name) const {
  for (const XmlAttribute& a : attributes) {
    if (a.name == attribute_name) return text.substr(a.value_at, a.value_size);
  }
  return std::nullopt;
}

std::optional<std::vector<XmlElement>> xml_elements(std::string_view text) {
  std::vector<XmlElement> out;
  std::size_t at = 0;
  while ((at = text.find('<', at)) != std::string_view::npos) {
    ++at;
    if (at >= text.size()) return std::nullopt;
    // Declarations, comments and end tags hold nothing the descriptor needs.
    if (text[at] == '?' || text[at] == '!' || text[at] == '/') {
      const std::size_t close = text.find('>', at);
      if (close == std::string_view::npos) return std::nullopt;
      at = close + 1;
      continue;
    }
    XmlElement element;
    const std::size_t name_at = at;
    while (at < text.size() && !ends_name(text[at])) ++at;
    element.name = text.substr(name_at, at - name_at);
    const std::size_t colon = element.name.find(':');
    element.local_name = colon == std::string_view::npos ? element.name : element.name.substr(colon + 1);
    for (;;) {
      while (at < text.size() && is_space(text[at])) ++at;
      if (at >= text.size()) return std::nullopt;
      if (text[at] == '>' || text[at] == '/') break;
      const std::size_t attribute_at = at;
      while (at < text.size() && !ends_name(text[at])) ++at;
      XmlAttribute attribute{text.substr(attribute_at, at - attribute_at)};
      while (at < text.size() && is_space(text[at])) ++at;
      if (at + 1 >= text.size() || text[at] != '=') return std::nullopt;
      ++at;
      while (at < text.size() && is_space(text[at])) ++at;
      if (at >= text.size() || (text[at] != '"' && text[at] != '\'')) return std::nullopt;
      const char quote = text[at++];
      const std::size_t close = text.find(quote, at);
      if (close == std::string_view::npos || attribute.name.empty()) return std::nullopt;
      attribute.value_at = at;
      attribute.value_size = close - at;
      element.attributes.push_back(attribute);
      at = close + 1;
    }
    if (element.name.empty()) return std::nullopt;
    out.push_back(std::move(element));
  }
  return out;
}

}  // namespace jet::crypt
