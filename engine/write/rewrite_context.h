#pragma once
// What the parts of the compactor share while one copy is written: the
// source, its format, the options, the page sink, the plan and the two key
// pipelines. The driver (database_rewriter.cpp) owns them all and hands
// this out by reference.
#include <cstddef>
#include <string>

#include "engine/error.h"
#include "engine/format/jet_format.h"
#include "engine/format/row_layout.h"
#include "engine/write/write_format.h"

namespace jet::write {

class KeyPipeline;
class PageSink;
class RewritePlan;
class RewriteSource;
struct RewriteOptions;

struct RewriteContext {
  RewriteSource& db;  // the source's first handle; a scan ahead may use another
  const JetFormat& jet_format;
  const WriteFormat& format;
  const RewriteOptions& options;
  PageSink& sink;
  RewritePlan& plan;
  KeyPipeline& index_keys;  // the index keys of the table being written
  KeyPipeline& order_keys;  // the primary keys of the table being scanned
};

[[noreturn]] inline void internal_error(const std::string& what) {
  throw Error(errc::kCannotOpenDatabase, "Internal error while writing the new database: " + what + ".");
}

// Offset of a field inside the row its span points into.
inline std::size_t offset_in(const Bytes& row, const RawField& field) {
  return static_cast<std::size_t>(field.bytes.data() - row.data());
}

}  // namespace jet::write
