#include "engine/index/order_learning.h"

#include <algorithm>

#include "engine/error.h"
#include "engine/model/access_tables.h"
#include "engine/model/system_catalog.h"

namespace jet::index::learning {
namespace {

// Names Access gives objects in every catalog, under the root, its
// containers and the database object: the engine's and Access's own
// tables, the containers and the database's documents.
const std::vector<std::u16string>& catalog_names() {
  static const std::vector<std::u16string> names = [] {
    std::vector<std::string> ascii = {"MSysObjects",  "MSysACEs", "MSysQueries", "MSysRelationships",
                                      "Forms",        "Reports",  "Scripts",     "Modules",
                                      "SysRel",       "DataAccessPages", "SummaryInfo", "UserDefined"};
    for (const system_catalog::StandardObject& o : system_catalog::kStandardObjects) ascii.emplace_back(o.name);
    for (const std::string& n : system_catalog::access_table_names()) ascii.push_back(n);
    std::vector<std::u16string> out;
    for (const std::string& n : ascii) out.emplace_back(n.begin(), n.end());
    return out;
  }();
  return names;
}

// Calls `visit` with a catalog row under each standard parent, its name
// column set to an empty text for the caller to fill.
template <typename Visit>
void under_standard_parents(const TableDef& catalog, std::size_t name_at, Visit visit) {
  const Column* parent_column = catalog.find_column("ParentId");
  if (parent_column == nullptr) return;
  const auto parent_at = static_cast<std::size_t>(parent_column - catalog.columns.data());
  Row row(catalog.columns.size());
  row[parent_at].is_null = false;
  row[name_at].type = ColumnType::Text;
  row[name_at].is_null = false;
  for (const std::int32_t parent : {system_catalog::kRootId, system_catalog::kTablesContainerId,
                                    system_catalog::kDatabasesContainerId, system_catalog::kMSysDbId}) {
    row[parent_at].integer = parent;
    if (!visit(row)) return;
  }
}

// How many bytes of `d`'s stored text key differ from the General key of
// `name` (the difference in length counting in full).
std::size_t distance_from_general(const std::u16string& name, const Disagreement& d) {
  constexpr std::size_t kFar = std::size_t{1} << 20;
  if (!d.text_key) return kFar;
  Bytes general;
  try {
    append_text_key(name, d.general, d.ascending, general);
  } catch (const Error&) {
    return kFar;
  }
  const Bytes& stored = *d.text_key;
  const std::size_t common = std::min(general.size(), stored.size());
  std::size_t differ = std::max(general.size(), stored.size()) - common;
  for (std::size_t i = 0; i < common; ++i) differ += general[i] != stored[i] ? 1 : 0;
  return differ;
}

}  // namespace

// A catalog entry whose row is lost (its page zeroed) still holds its key.
// A key that is the General key of one of the names every catalog holds,
// under a standard parent, is that name's, and agrees. One that parts from
// such a name's after two characters or more may belong to it and mark
// where the order differs (the y of every MSys name, in an order that keys
// y otherwise): it only ever adds suspects, and only characters no entry
// showed keyed as General, so a wrong guess costs nothing.
void learn_by_name(const IndexKeyEncoder& encoder, const TableDef& catalog, std::size_t name_at, TextOrder general,
                   const Bytes& stored, std::uint32_t order, LearnedOrders::Facts& facts,
                   std::vector<Disagreement>& disagreements) {
  constexpr std::size_t kPartsAfter = 2;  // characters agreeing before a likely parting
  std::optional<Disagreement> likely;
  std::size_t likely_distance = 0;
  bool tied = false;  // another name parts as late and differs as little
  bool matched = false;
  under_standard_parents(catalog, name_at, [&](Row& row) {
    for (const std::u16string& name : catalog_names()) {
      row[name_at].text = name;
      if (encoder.is_own_key(row, stored)) {
        ++facts.agreeing;
        facts.learned.insert(name.begin(), name.end());
        matched = true;
        return false;
      }
      const std::optional<std::size_t> p = parting(encoder, row, name_at, general, stored);
      if (!p || *p < kPartsAfter || *p >= name.size() || (likely && *p < likely->first_difference)) continue;
      // Names that part as late (the MSysComplexType_* tables all part at
      // the Hungarian ty) are told apart by how little the rest differs.
      Disagreement d{order, name, *p, true, std::nullopt, true, general};
      d.text_key = text_key_of(encoder, row, name_at, stored, d.ascending);
      const std::size_t distance = distance_from_general(name, d);
      if (likely && *p == likely->first_difference) {
        if (distance > likely_distance) continue;
        if (distance == likely_distance) {
          tied = true;
          continue;
        }
      }
      likely = std::move(d);
      likely_distance = distance;
      tied = false;
    }
    return true;
  });
  if (!likely || matched) return;
  // A name that is not told apart still marks suspects, but shows no codes.
  if (tied) likely->text_key.reset();
  disagreements.push_back(*likely);
}

LostEntry lost_entry(const IndexKeyEncoder& encoder, const TableDef& catalog, std::size_t name_at,
                     TextOrder general, const Bytes& stored, std::uint32_t order) {
  LostEntry lost{order, general, {}};
  under_standard_parents(catalog, name_at, [&](Row& row) {
    bool ascending = true;
    std::optional<Bytes> tail = text_key_of(encoder, row, name_at, stored, ascending);
    if (tail && ascending) lost.tails.push_back(std::move(*tail));
    return true;
  });
  return lost;
}

// Teaches an order's own form from lost catalog entries: an entry that one
// name every catalog holds fits, and no other, showing the known codes of
// three of its characters at least, is that name's, and teaches the codes
// of its other characters (the letters of MSysObjects a Jet 3 Turkish file
// shows nowhere else). What one entry teaches may let another fit.
void learn_form_by_name(SortKeyForm& form, const std::vector<LostEntry>& lost, std::uint32_t order) {
  constexpr std::size_t kKnownShown = 3;
  // What one entry teaches may let another fit; a few rounds show it all
  // in the samples, and bound the work a catalog of many lost rows costs.
  constexpr int kRounds = 4;
  const auto first = std::find_if(lost.begin(), lost.end(), [&](const LostEntry& e) { return e.order == order; });
  if (first == lost.end()) return;
  const TextOrder general = first->general;  // one file, one form
  const FormShape shape = form_shape(general);
  // Each name's key length in the form, so that most names are passed over
  // on the length of an entry's key alone.
  std::vector<std::optional<std::size_t>> key_size;
  for (const std::u16string& name : catalog_names()) {
    const std::optional<std::vector<std::size_t>> sizes = shape.lengths(SortKeyForm::key_chars(name));
    std::optional<std::size_t> total;
    if (sizes) {
      total = shape.end.size();
      for (std::size_t n : *sizes) *total += n;
    }
    key_size.push_back(total);
  }
  std::vector<bool> taken(lost.size(), false);
  for (int round = 0; round < kRounds; ++round) {
    bool more = false;
    for (std::size_t i = 0; i < lost.size(); ++i) {
      if (taken[i] || lost[i].order != order || lost[i].general != general) continue;
      std::vector<std::pair<const std::u16string*, const Bytes*>> fitting;
      for (const Bytes& tail : lost[i].tails) {
        for (std::size_t k = 0; k < catalog_names().size(); ++k) {
          if (key_size[k] != tail.size()) continue;
          const std::u16string& name = catalog_names()[k];
          const std::optional<std::size_t> known = form.fits(name, tail, shape.end, shape.lengths);
          if (known && *known >= kKnownShown) fitting.emplace_back(&name, &tail);
        }
      }
      if (fitting.size() != 1) continue;
      form.add(*fitting[0].first, *fitting[0].second, shape.end, shape.lengths);
      taken[i] = true;
      more = true;
    }
    if (!more) break;
  }
}

}  // namespace jet::index::learning
