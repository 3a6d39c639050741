#include "engine/format/property_map.h"

#include <algorithm>

#include "engine/format/damaged.h"
#include "engine/format/text_codec.h"

namespace jet {
namespace {

// Block kinds: the names every entry refers to by number, then the maps.
constexpr std::uint16_t kNamesBlock = 0x80;
constexpr std::uint16_t kTableMapBlock = 0x00;
constexpr std::uint16_t kColumnMapBlock = 0x01;
constexpr std::size_t kBlockHeaderSize = 6;  // length (4, header included), kind (2)
constexpr std::size_t kEntryHeaderSize = 8;  // length (2), DDL flag, type, name number (2), value length (2)

std::string ucs2_name(std::span<const std::uint8_t> b) { return utf16_to_utf8(decode_ucs2(b)); }

PropertyMap read_map(std::span<const std::uint8_t> block, const std::vector<std::string>& names) {
  PropertyMap map;
  // The map's own name: a length (4, itself included), then a counted name.
  const std::uint32_t name_size = get_u32(block, 0);
  if (name_size < 6) damaged("property map name block too short");
  const std::uint16_t name_length = get_u16(block, 4);
  map.name = ucs2_name(get_bytes(block, 6, name_length));
  for (std::size_t at = name_size; at < block.size();) {
    const std::uint16_t entry_size = get_u16(block, at);
    if (entry_size < kEntryHeaderSize) damaged("property entry too short");
    const auto entry = get_bytes(block, at, entry_size);
    const std::uint16_t name_number = get_u16(entry, 4);
    if (name_number >= names.size()) damaged("property entry names no property");
    Property p;
    p.name = names[name_number];
    p.type = entry[3];
    const auto value = get_bytes(entry, kEntryHeaderSize, get_u16(entry, 6));
    p.value.assign(value.begin(), value.end());
    map.properties.push_back(std::move(p));
    at += entry_size;
  }
  return map;
}

}  // namespace

const Property* PropertyMap::find(std::string_view property) const {
  for (const Property& p : properties) {
    if (p.name == property) return &p;
  }
  return nullptr;
}

void check_property_blob(std::span<const std::uint8_t> stored) {
  static constexpr std::uint8_t kJet3Signature[] = {'K', 'K', 'D', 0};
  static constexpr std::uint8_t kSignature[] = {'M', 'R', '2', 0};
  const bool jet3 = stored.size() >= 4 && std::equal(kJet3Signature, kJet3Signature + 4, stored.begin());
  const bool later = stored.size() >= 4 && std::equal(kSignature, kSignature + 4, stored.begin());
  if (!jet3 && !later) damaged("property value without a known signature");
  for (std::size_t at = 4; at < stored.size();) {
    const std::uint32_t size = get_u32(stored, at);
    if (size < kBlockHeaderSize) damaged("property block too short");
    get_bytes(stored, at, size);
    const std::uint16_t kind = get_u16(stored, at + 4);
    if (kind != kNamesBlock && kind != kTableMapBlock && kind != kColumnMapBlock) {
      damaged("property block of an unknown kind");
    }
    at += size;
  }
  if (later) parse_property_maps(stored);
}

std::vector<PropertyMap> parse_property_maps(std::span<const std::uint8_t> stored) {
  static constexpr std::uint8_t kSignature[] = {'M', 'R', '2', 0};
  std::vector<PropertyMap> maps;
  if (stored.size() < 4 || !std::equal(kSignature, kSignature + 4, stored.begin())) return maps;
  std::vector<std::string> names;
  for (std::size_t at = 4; at < stored.size();) {
    const std::uint32_t size = get_u32(stored, at);
    if (size < kBlockHeaderSize) damaged("property block too short");
    const auto block = get_bytes(stored, at, size).subspan(kBlockHeaderSize);
    const std::uint16_t kind = get_u16(stored, at + 4);
    if (kind == kNamesBlock) {
      for (std::size_t n = 0; n < block.size();) {
        const std::uint16_t length = get_u16(block, n);
        names.push_back(ucs2_name(get_bytes(block, n + 2, length)));
        n += 2u + length;
      }
    } else if (kind == kTableMapBlock || kind == kColumnMapBlock) {
      maps.push_back(read_map(block, names));
    }
    at += size;
  }
  return maps;
}

}  // namespace jet
