#pragma once
// Just enough XML for an agile encryption descriptor: the elements in
// document order with their attributes, each value located in the text so
// that a writer can put a new value in its place and leave every other byte
// as it was. No entities, no text content, no nesting information: the
// descriptor needs none of them.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace jet::crypt {

struct XmlAttribute {
  std::string_view name;
  std::size_t value_at = 0;  // offset of the value in the text, after the quote
  std::size_t value_size = 0;
};

struct XmlElement {
  std::string_view name;        // as written, with any prefix ("p:encryptedKey")
  std::string_view local_name;  // without it ("encryptedKey")
  std::vector<XmlAttribute> attributes;

  std::optional<std::string_view> attribute(std::string_view text, std::string_view attribute_name) const;
};

// The start tags of `text`; nullopt when it is not well-formed enough to
// tell (an unclosed tag or quote).
std::optional<std::vector<XmlElement>> xml_elements(std::string_view text);

}  // namespace jet::crypt
