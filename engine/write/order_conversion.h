#pragma once
// Converting a copy to the General collating order (0x0409): the header, the
// stored definition and model of every text column, and Jet 3 text, which
// moves to that order's code page. Keys are then formed in the new order.
#include <cstdint>
#include <map>
#include <vector>

#include "engine/format/header_page.h"
#include "engine/format/jet_format.h"
#include "engine/format/row_layout.h"
#include "engine/model/schema.h"
#include "engine/write/code_page_conversion.h"

namespace jet::write {

inline constexpr std::uint16_t kGeneralOrder = 0x0409;   // the General collating order
inline constexpr std::uint16_t kGeneralCodePage = 1252;  // its code page

// The header of a file in the General order: its collating order, and the
// code page that order comes with.
HeaderInfo in_general_order(const JetFormat& format, const HeaderInfo& source);

class GeneralOrderConversion {
 public:
  // `database_code_page`: the source's, for Jet 3 columns that name none.
  GeneralOrderConversion(const JetFormat& format, std::uint16_t database_code_page)
      : format_(format), database_code_page_(database_code_page) {}

  // Gives the table's columns the General order, in its stored definition
  // and in its model, and sets `conversions` to each column's text
  // conversion (null: none). The conversions live as long as this object.
  void put_text_columns_in_general_order(TableDef& t, Bytes& definition,
                                         std::vector<const CodePageConversion*>& conversions);

 private:
  const JetFormat& format_;
  std::uint16_t database_code_page_;
  std::map<std::uint16_t, CodePageConversion> conversions_;  // by source code page
};

// Moves a Jet 3 row's text into code page 1252 in place, per column
// `conversions` (empty or null: none): Text fields and Memo values held
// inside the row (a text keeps its length). `fields` is a buffer.
void convert_row_text(const JetFormat& format, const TableDef& t,
                      const std::vector<const CodePageConversion*>& conversions, Bytes& raw,
                      std::vector<RawField>& fields);

}  // namespace jet::write
