#include "engine/salvage/page_survey.h"

#include <algorithm>
#include <future>
#include <memory>
#include <optional>
#include <span>

#include "engine/format/data_page.h"
#include "engine/format/jet_format.h"
#include "engine/read/database.h"
#include "engine/salvage/salvage_damage.h"

namespace jet::salvage {
namespace {

// So that rows of pages the usage map lists need not be read twice when
// their values are left to the copy.
std::uint64_t live_slots(const JetFormat& f, std::span<const std::uint8_t> page) {
  std::uint64_t live = 0;
  const bool readable = !damage_of([&] {
    const std::uint16_t count = data_page_row_count(f, page);
    if (count > kSurveyedSlots) {
      live = kSlotsUnknown;
      return;
    }
    for (std::uint16_t r = 0; r < count; ++r) {
      if (!data_page_slot(f, page, r).deleted) live |= std::uint64_t{1} << r;
    }
  });
  return readable ? live : kSlotsUnknown;
}

void survey_page(const JetFormat& f, PageNumber p, std::span<const std::uint8_t> page, PageSurvey& s) {
  if (page[0] == page_type::kTableDefinition) {
    s.definition_pages.push_back(p);
    s.continuations.insert(get_u32(page, 4));
  }
  if (page[0] != page_type::kData) return;
  if (std::equal(std::begin(kLongValueOwner), std::end(kLongValueOwner), page.begin() + f.page_owner_offset)) return;
  const PageNumber owner = data_page_owner(f, page);
  s.data_pages_by_owner[owner].push_back(p);
  s.live_slots_by_owner[owner].push_back(live_slots(f, page));
}

// Pages the survey reads at once (256 KB of Jet 4 pages), past the cache:
// it looks at each page once.
constexpr std::uint32_t kSurveyRun = 64;
// What the survey reads of a page: its type, owner or continuation, row
// count and the slots of up to kSurveyedSlots rows, all in the first 142
// bytes. Encrypted pages are decrypted this far only.
constexpr std::uint32_t kSurveyedHead = 256;
static_assert(14 + 2 * kSurveyedSlots <= kSurveyedHead);

void survey_range(Database& db, PageNumber from, PageNumber to, PageSurvey& s) {
  const JetFormat& f = db.format();
  Bytes scratch;
  std::span<const std::uint8_t> run;
  for (PageNumber first = from; first < to; first += kSurveyRun) {
    const std::uint32_t count = std::min(kSurveyRun, to - first);
    if (damage_of([&] { run = db.read_pages(first, count, scratch, kSurveyedHead); })) {
      // Read one by one, so that only the pages that cannot be read are missed.
      for (PageNumber p = first; p < first + count; ++p) {
        std::shared_ptr<const Bytes> page;
        if (!damage_of([&] { page = db.page(p); })) survey_page(f, p, *page, s);
      }
      continue;
    }
    for (std::uint32_t i = 0; i < count; ++i) {
      survey_page(f, first + i, run.subspan(std::size_t{i} * f.page_size, f.page_size), s);
    }
  }
}

// Files of this many pages and more are surveyed in two halves at once.
constexpr PageNumber kSurveyInHalvesFrom = 256;

}  // namespace

PageSurvey survey_pages(Database& db) {
  PageSurvey s;
  const PageNumber count = db.page_count();
  if (count < kSurveyInHalvesFrom) {
    survey_range(db, 1, count, s);
  } else {
    // The second half on a handle of its own; its findings follow the
    // first half's, so every list stays in page order.
    const PageNumber middle = count / 2;
    std::unique_ptr<Database> sibling = db.open_sibling();
    PageSurvey later;
    std::future<void> second = std::async(std::launch::async, [&] { survey_range(*sibling, middle, count, later); });
    survey_range(db, 1, middle, s);
    second.get();
    s.definition_pages.insert(s.definition_pages.end(), later.definition_pages.begin(), later.definition_pages.end());
    s.continuations.merge(later.continuations);
    for (auto& [owner, pages] : later.data_pages_by_owner) {
      std::vector<PageNumber>& into = s.data_pages_by_owner[owner];
      into.insert(into.end(), pages.begin(), pages.end());
      std::vector<std::uint64_t>& live = s.live_slots_by_owner[owner];
      const std::vector<std::uint64_t>& more = later.live_slots_by_owner[owner];
      live.insert(live.end(), more.begin(), more.end());
    }
  }
  damage_of([&] {
    if (const std::optional<Bytes> map = db.read_row_bytes({1, 0})) {
      for (PageNumber p : db.usage_map_pages(*map)) s.free.insert(p);
    }
  });
  return s;
}

}  // namespace jet::salvage
