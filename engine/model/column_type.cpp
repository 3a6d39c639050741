#include "engine/model/column_type.h"

namespace jet {

std::string_view column_type_name(ColumnType t) {
  switch (t) {
    case ColumnType::Boolean: return "Boolean";
    case ColumnType::Byte: return "Byte";
    case ColumnType::Integer: return "Integer";
    case ColumnType::Long: return "Long";
    case ColumnType::Currency: return "Currency";
    case ColumnType::Single: return "Single";
    case ColumnType::Double: return "Double";
    case ColumnType::DateTime: return "DateTime";
    case ColumnType::Binary: return "Binary";
    case ColumnType::Text: return "Text";
    case ColumnType::Ole: return "OLE";
    case ColumnType::Memo: return "Memo";
    case ColumnType::Guid: return "GUID";
    case ColumnType::Numeric: return "Numeric";
    case ColumnType::Complex11: return "Type11";
    case ColumnType::Complex: return "Complex";
    case ColumnType::BigInt: return "Large Number";
    case ColumnType::DateTimeExtended: return "Date/Time Extended";
  }
  return "Unknown";
}

}  // namespace jet
