#pragma once
// Reading a table definition: the page chain joined into one buffer, then
// decoded into the shared model (engine/model/schema.h).
#include <cstdint>
#include <functional>
#include <memory>
#include <span>

#include "engine/format/jet_format.h"
#include "engine/model/schema.h"

namespace jet {

using PageSource = std::function<std::shared_ptr<const Bytes>(PageNumber)>;

// Follows the definition's page chain from `first` (cycle- and length-
// checked) and returns the joined bytes: the first page whole, each
// continuation page without its 8-byte header. Fills `pages` with the chain.
Bytes join_table_definition(const JetFormat& format, const PageSource& read_page,
                            PageNumber first, std::uint32_t page_count,
                            std::vector<PageNumber>* pages);

// Decodes a joined definition. Names of Jet 3 files are decoded with
// `code_page`. Usage maps are not read here (they live in data rows).
TableDef parse_table_definition(const JetFormat& format, std::span<const std::uint8_t> def,
                                std::uint16_t code_page);

// A 4-byte row pointer as stored: row number in the low byte, page above.
inline RowPointer decode_row_pointer(std::uint32_t stored) {
  return RowPointer{stored >> 8, static_cast<std::uint16_t>(stored & 0xFF)};
}

}  // namespace jet
