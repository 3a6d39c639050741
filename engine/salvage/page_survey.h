#pragma once
// The salvage reader's first pass: every page of the file once, for what
// it tells about data pages (their owners and live slots), table
// definitions and the pages the database marks free.
#include <cstdint>
#include <map>
#include <set>
#include <vector>

#include "engine/model/schema.h"

namespace jet {
class Database;
}

namespace jet::salvage {

inline constexpr std::uint8_t kLongValueOwner[4] = {'L', 'V', 'A', 'L'};

// The live slots of a data page as the survey found them: bit i for slot
// i, for pages of at most kSurveyedSlots slots that all have a possible
// place; kSlotsUnknown for any other page, whose slots are read again.
inline constexpr std::uint16_t kSurveyedSlots = 63;
inline constexpr std::uint64_t kSlotsUnknown = std::uint64_t{1} << 63;

// What one pass over every page of the file tells about data pages.
struct PageSurvey {
  std::map<PageNumber, std::vector<PageNumber>> data_pages_by_owner;
  // The same pages' live slots, entry for entry.
  std::map<PageNumber, std::vector<std::uint64_t>> live_slots_by_owner;
  // Pages the database's own map (row 0 of page 1) marks free: their rows
  // are old ones, given up with the page.
  std::set<PageNumber> free;
  // Table-definition pages, and those another definition page continues
  // onto (the rest start a definition).
  std::vector<PageNumber> definition_pages;
  std::set<PageNumber> continuations;
};

PageSurvey survey_pages(Database& db);

}  // namespace jet::salvage
