#include "engine/salvage/catalog_properties.h"

#include <optional>
#include <span>
#include <string>
#include <vector>

#include "engine/format/property_map.h"
#include "engine/format/row_layout.h"
#include "engine/format/text_codec.h"
#include "engine/read/database.h"
#include "engine/salvage/salvage_damage.h"

namespace jet::salvage {

void drop_unparsable_properties(Database& db, const TableDef& catalog, SalvagedTable& out, LossLog& log) {
  // Whatever its type: the catalog's readers take the blob as the bytes
  // the column holds, so a damaged definition that made it a Binary
  // column keeps it inline in the row.
  const Column* column = catalog.find_column("LvProp");
  if (column == nullptr) return;
  const auto at = static_cast<std::size_t>(column - catalog.columns.data());
  const auto long_value = [&db](std::span<const std::uint8_t> field) { return db.read_long_value(field); };
  const Column* name_column = catalog.find_column("Name");
  const auto name_at = name_column != nullptr ? static_cast<std::size_t>(name_column - catalog.columns.data())
                                              : catalog.columns.size();
  const auto unparsable = [](const Value& blob) {
    return !blob.is_null && !blob.bytes.empty() && damage_of([&] { check_property_blob(blob.bytes); });
  };
  const auto log_dropped = [&](RowPointer where, const Row& values) {
    const std::string object = name_at < values.size() ? utf16_to_utf8(values[name_at].text) : "";
    log.add(kLossDamaged, catalog.name,
            "The properties of '" + object + "' (catalog row at page " + std::to_string(where.page) + ", slot " +
                std::to_string(where.row) + ") do not read as properties; the copy has none for it.",
            where);
  };
  for (RowPointer where : out.rows) {
    // A row repaired for another loss holds the blob it read.
    if (const auto repaired = out.repaired.find(where); repaired != out.repaired.end()) {
      if (at < repaired->second.size() && unparsable(repaired->second[at])) {
        repaired->second[at] = Value{};
        repaired->second[at].type = column->type;
        log_dropped(where, repaired->second);
      }
      continue;
    }
    damage_of([&] {
      const std::optional<Bytes> bytes = db.read_row_bytes(where);
      if (!bytes) return;
      const std::vector<RawField> fields = split_row(db.format(), catalog, *bytes);
      if (at >= fields.size() || fields[at].null) return;
      if (!unparsable(decode_field(db.format(), *column, fields[at], db.header().code_page, long_value))) return;
      Row values(catalog.columns.size());
      for (std::size_t i = 0; i < fields.size(); ++i) {
        values[i].type = catalog.columns[i].type;
        if (i != at) {
          values[i] = decode_field(db.format(), catalog.columns[i], fields[i], db.header().code_page, long_value);
        }
      }
      log_dropped(where, values);
      out.repaired.emplace(where, std::move(values));
    });
  }
}

}  // namespace jet::salvage
