#pragma once
// Writes a fresh copy of an open database into a new file: every table's
// live rows packed onto adjacent pages, long values rewritten, indexes and
// usage maps rebuilt, table ids following the new definition pages.
// WRITE_FORMAT.md ("The compactor's parts") shows the parts it runs.
#include "engine/write/rewrite_options.h"

namespace jet {
class Database;
class WritableFile;
}  // namespace jet

namespace jet::write {

RewriteResult rewrite_database(Database& source, WritableFile& out, const RewriteOptions& options);

class RewriteSource;
RewriteResult rewrite_database(RewriteSource& source, WritableFile& out, const RewriteOptions& options);

}  // namespace jet::write
