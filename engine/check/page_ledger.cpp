#include "engine/check/page_ledger.h"

namespace jet::check {

const char* role_name(Role role) {
  switch (role) {
    case Role::None: return "nobody";
    case Role::Header: return "the header";
    case Role::DatabaseMap: return "the database usage map";
    case Role::MapRows: return "usage-map rows";
    case Role::MapPage: return "a usage-map page";
    case Role::Definition: return "the definition";
    case Role::Data: return "the data";
    case Role::Index: return "an index";
    case Role::LongValue: return "the long values";
  }
  return "?";
}

std::string PageLedger::describe(const Owner& owner) const {
  std::string text = role_name(owner.role);
  if (owner.table >= 0 && static_cast<std::size_t>(owner.table) < names_.size()) {
    text += " of table '" + names_[static_cast<std::size_t>(owner.table)] + "'";
  }
  return text;
}

void PageLedger::claim(PageNumber page, Owner owner, CheckReport& report) {
  if (page >= owners_.size()) {
    Finding f;
    f.page = page;
    f.kind = "page-owner";
    f.message = describe(owner) + " refers to a page beyond the end of the file";
    if (owner.table >= 0) f.table = names_[static_cast<std::size_t>(owner.table)];
    report.findings.push_back(std::move(f));
    return;
  }
  Owner& current = owners_[page];
  if (current.role == Role::None) {
    current = owner;
    return;
  }
  if (current == owner) return;
  Finding f;
  f.page = page;
  f.kind = "page-owner";
  f.message = "claimed by both " + describe(current) + " and " + describe(owner);
  report.findings.push_back(std::move(f));
}

void PageLedger::replay(const LongValueClaims& log, std::vector<Finding>&& findings, CheckReport& report) {
  std::size_t moved = 0;
  auto move_until = [&](std::size_t count) {
    for (; moved < count && moved < findings.size(); ++moved) report.findings.push_back(std::move(findings[moved]));
  };
  for (const LongValueClaims::Entry& c : log.entries()) {
    move_until(c.after_findings);
    for (std::uint32_t n = 0; n < c.times; ++n) claim(c.page, {Role::LongValue, c.table}, report);
  }
  move_until(findings.size());
}

void LongValueClaims::claim(PageNumber page, int table, const CheckReport& report) {
  const auto after = static_cast<std::uint32_t>(report.findings.size());
  if (!entries_.empty()) {
    Entry& last = entries_.back();
    if (last.page == page && last.table == table && last.after_findings == after) {
      ++last.times;
      return;
    }
  }
  entries_.push_back({page, table, after, 1});
}

}  // namespace jet::check
