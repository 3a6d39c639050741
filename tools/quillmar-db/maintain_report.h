#pragma once
// The report of a maintain run: a line per database as it is done (with
// --json, one JSON object per line instead), a summary, the exit status.
#include <cstdio>
#include <string>
#include <vector>

#include "tools/quillmar-db/maintain_outcome.h"

namespace quillmar_db {

void print_outcome_text(std::FILE* out, const MaintainOutcome& outcome);
void print_outcome_json(std::FILE* out, const MaintainOutcome& outcome);
void print_summary(std::FILE* out, const std::vector<MaintainOutcome>& outcomes);

// 0 all done, 1 some skipped, repaired or left unrepaired, 2 some failed.
int maintain_exit_status(const std::vector<MaintainOutcome>& outcomes);

std::string json_string(const std::string& text);

}  // namespace quillmar_db
