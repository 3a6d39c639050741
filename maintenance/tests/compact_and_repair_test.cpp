// The run against scripted components: an in-memory file world in which any
// step can be made to fail.
#include <gtest/gtest.h>

#include <map>

#include "engine/error.h"
#include "maintenance/compact_and_repair.h"
#include "maintenance/testing/plain_database_password.h"
#include "maintenance/tests/fake_window.h"
#include "platform/testing/scripted_message_boxes.h"
#include "platform/text.h"

namespace quillmar::maintenance {
namespace {

using platform::Failure;
using platform::MessageIcon;
using platform::testing::ShownBox;

constexpr char16_t kChosen[] = u"/data/stock.mdb";
constexpr char16_t kBackup[] = u"backup07-12-2026_09-05-33.mdb";
constexpr char16_t kNotice[] =
    u"Your old file will be copied to backup07-12-2026_09-05-33.mdb.  This may take few seconds... ";

// Steps of the run that reach outside, named as the log shows them.
struct World {
  std::map<std::u16string, std::string> files;
  std::vector<std::string> log;
  std::string fail_at;                 // log entry whose step raises
  Failure failure{53, u"File not found", u"Quillmar"};
  bool engine_leaves_partial_temp = false;

  void Step(const std::string& entry) {
    log.push_back(entry);
    if (entry == fail_at) throw failure;
  }
};

class WorldFso : public platform::Dispatch {
 public:
  explicit WorldFso(World& world) : world_(world) {}
  platform::DispId GetIdOfName(std::u16string_view name) override {
    return platform::FindMember(name, {{u"CopyFile", 7}});
  }
  platform::Variant Invoke(platform::DispId id, platform::InvokeKind kind,
                           const std::vector<platform::Variant>& args) override {
    EXPECT_EQ(id, 7);
    EXPECT_EQ(kind, platform::InvokeKind::kMethod);
    EXPECT_EQ(args.size(), 2u) << "an existing destination is overwritten";
    const auto from = platform::AsText(args[0]);
    const auto to = platform::AsText(args[1]);
    ++copies_;
    const std::string entry = "copy#" + std::to_string(copies_);
    if (entry == world_.fail_at && to == kChosen) world_.files[to] = "part";  // incomplete copy back
    world_.Step(entry);
    if (!world_.files.count(from)) throw Failure(53, u"File not found", u"Quillmar");
    world_.files[to] = world_.files[from];
    return platform::Empty{};
  }

 private:
  World& world_;
  int copies_ = 0;
};

class WorldObjects : public platform::ObjectFactory {
 public:
  explicit WorldObjects(World& world) : world_(world) {}
  std::shared_ptr<platform::Dispatch> CreateObject(std::u16string_view id) override {
    EXPECT_EQ(id, platform::kFileSystemObjectId);
    world_.Step("create fso");
    return std::make_shared<WorldFso>(world_);
  }

 private:
  World& world_;
};

struct EngineCall {
  std::u16string src, dst, dst_locale, src_locale;
  std::optional<std::int32_t> options;
};

class WorldEngine : public platform::DbEngine {
 public:
  explicit WorldEngine(World& world) : world_(world) {}
  void CompactDatabase(const std::u16string& src, const std::u16string& dst, const std::u16string& dst_locale,
                       std::optional<std::int32_t> options, const std::u16string& src_locale) override {
    calls.push_back({src, dst, dst_locale, src_locale, options});
    if (world_.engine_leaves_partial_temp) world_.files[dst] = "partial";
    world_.Step("compact");
    world_.files[dst] = "compacted " + world_.files.at(src);
  }
  std::vector<EngineCall> calls;

 private:
  World& world_;
};

class WorldDeletion : public platform::FileDeletion {
 public:
  explicit WorldDeletion(World& world) : world_(world) {}
  void Kill(const std::u16string& path) override {
    ++kills_;
    world_.Step("kill#" + std::to_string(kills_));
    if (world_.files.erase(path) == 0) throw Failure(53, u"File not found", u"Quillmar");
  }

 private:
  World& world_;
  int kills_ = 0;
};

class SteppingClock : public platform::Clock {
 public:
  platform::LocalDateTime Now() const override { return now; }
  platform::LocalDateTime now{2026, 12, 7, 9, 5, 33};
};

class CompactAndRepairTest : public ::testing::Test {
 protected:
  CompactAndRepairTest()
      : engine_host([this] {
          ++engines_made;
          engine = std::make_shared<WorldEngine>(world);
          return engine;
        }) {
    world.files[kChosen] = "db";
    window.caption = kChosen;
  }

  void Click() {
    // Each click builds its own set of components, like a fresh run would.
    WorldObjects objects(world);
    WorldDeletion deletion(world);
    CompactAndRepair(window, {boxes, clock, objects, engine_host, deletion, record});
  }

  std::vector<std::string> Files() const {
    std::vector<std::string> out;
    for (const auto& [name, content] : world.files) out.push_back(platform::ToUtf8(name) + "=" + content);
    return out;
  }

  World world;
  testing::FakeWindow window;
  platform::testing::ScriptedMessageBoxes boxes;
  SteppingClock clock;
  platform::FailureRecord record;
  std::shared_ptr<WorldEngine> engine;
  int engines_made = 0;
  platform::DbEngineHost engine_host;
};

TEST_F(CompactAndRepairTest, NormalRunInOrderWithItsMessages) {
  Click();
  EXPECT_EQ(world.log, (std::vector<std::string>{"create fso", "copy#1", "compact", "kill#1", "copy#2", "kill#2"}));
  EXPECT_EQ(boxes.shown, (std::vector<ShownBox>{
                             {kNotice, MessageIcon::kNone, u"Quillmar"},
                             {u"Database repaired and compressed OK.", MessageIcon::kInformation, u"Compact & Repair"},
                         }));
  EXPECT_EQ(Files(), (std::vector<std::string>{"/data/stock.mdb=compacted db", "backup07-12-2026_09-05-33.mdb=db"}));
  EXPECT_EQ(window.pointers, (std::vector<int>{11, 0}));
  EXPECT_EQ(window.strTempFile, u"temp.mdb");
  EXPECT_EQ(window.strBackupFile, kBackup);

  ASSERT_EQ(engine->calls.size(), 1u);
  const EngineCall& call = engine->calls[0];
  EXPECT_EQ(call.src, kChosen);
  EXPECT_EQ(call.dst, u"temp.mdb");
  EXPECT_EQ(call.dst_locale, u";LANGID=0x0409;CP=1252;COUNTRY=0");
  EXPECT_FALSE(call.options.has_value());
  EXPECT_EQ(call.src_locale, std::u16string(u";pwd=") + testing::kPlainDatabasePassword);
}

TEST_F(CompactAndRepairTest, NotifiesBeforeCopyingAndOnlyThen) {
  boxes.on_show = [this](const ShownBox& box) {
    if (box.text == kNotice) {
      EXPECT_EQ(world.log, std::vector<std::string>{"create fso"});
    }
  };
  Click();
  EXPECT_EQ(boxes.shown.size(), 2u);
}

TEST_F(CompactAndRepairTest, ChecksRefuseBeforeAnythingHappens) {
  const std::vector<std::pair<std::u16string, std::u16string>> cases = {
      {u"", u"Click the browse button to choose a Database file."},
      {u"/data/STOCK.MDB", u"Please select Access Database to Compact and Repair."},
      {u"/data/stock.Mdb", u"Please select Access Database to Compact and Repair."},
      {u"/data/stock.mdbx", u"Please select Access Database to Compact and Repair."},
      {u"mdb", u"Please select Access Database to Compact and Repair."},
      {u".m", u"Please select Access Database to Compact and Repair."},
  };
  for (const auto& [caption, message] : cases) {
    boxes.shown.clear();
    window.caption = caption;
    window.strTempFile = u"stale";
    Click();
    EXPECT_EQ(boxes.shown, (std::vector<ShownBox>{{message, MessageIcon::kNone, u"Quillmar"}}))
        << platform::ToUtf8(caption);
    EXPECT_EQ(window.strTempFile, u"temp.mdb");
  }
  EXPECT_TRUE(world.log.empty());
  EXPECT_TRUE(window.pointers.empty());
  EXPECT_FALSE(engine_host.Created());
  EXPECT_EQ(Files(), std::vector<std::string>{"/data/stock.mdb=db"});
}

TEST_F(CompactAndRepairTest, FourCharacterCaptionIsComparedWhole) {
  window.caption = u".mdb";
  world.files[u".mdb"] = "d";
  Click();
  EXPECT_EQ(boxes.shown.back().text, u"Database repaired and compressed OK.");
}

struct FailureCase {
  std::string fail_at;
  std::vector<std::string> files_after;
  bool notice_shown;
};

TEST_F(CompactAndRepairTest, FailureAtEachStepLeavesExactlyTheListedFiles) {
  const std::string chosen = "/data/stock.mdb=db";
  const std::string backup = "backup07-12-2026_09-05-33.mdb=db";
  const std::vector<FailureCase> cases = {
      {"create fso", {chosen}, false},
      {"copy#1", {chosen}, true},
      {"compact", {chosen, backup}, true},
      {"kill#1", {chosen, backup, "temp.mdb=compacted db"}, true},
      {"copy#2", {"/data/stock.mdb=part", backup, "temp.mdb=compacted db"}, true},
      {"kill#2", {"/data/stock.mdb=compacted db", backup, "temp.mdb=compacted db"}, true},
  };
  for (const FailureCase& c : cases) {
    SCOPED_TRACE(c.fail_at);
    world.files = {{kChosen, "db"}};
    world.log.clear();
    world.fail_at = c.fail_at;
    world.failure = Failure(75, u"Path/File access error", u"Quillmar");
    boxes.shown.clear();
    window.pointers.clear();
    Click();
    EXPECT_EQ(Files(), c.files_after);
    EXPECT_EQ(world.log.back(), c.fail_at) << "nothing runs after the failing step";
    std::vector<ShownBox> expected;
    if (c.notice_shown) expected.push_back({kNotice, MessageIcon::kNone, u"Quillmar"});
    expected.push_back({u"Unable to compress and/or repair database!", MessageIcon::kCritical, u"Error"});
    expected.push_back({u"Error# = 75\r\nDescription = Path/File access error\r\nSource = Quillmar",
                        MessageIcon::kCritical, u"Program Error!"});
    EXPECT_EQ(boxes.shown, expected);
    EXPECT_EQ(window.pointers, (std::vector<int>{11, 0}));
    EXPECT_EQ(record.Number(), 0);
    EXPECT_EQ(record.Description(), u"");
    EXPECT_EQ(record.Source(), u"");
  }
}

TEST_F(CompactAndRepairTest, EngineMayLeaveATemporaryFileBehind) {
  world.fail_at = "compact";
  world.engine_leaves_partial_temp = true;
  world.failure = Failure(3049, u"Cannot open database ''.", u"Quillmar Jet engine");
  Click();
  EXPECT_EQ(Files(), (std::vector<std::string>{"/data/stock.mdb=db", "backup07-12-2026_09-05-33.mdb=db",
                                                "temp.mdb=partial"}));
  EXPECT_EQ(boxes.shown.back().text,
            u"Error# = 3049\r\nDescription = Cannot open database ''.\r\nSource = Quillmar Jet engine");
}

TEST_F(CompactAndRepairTest, EngineThatCannotBeCreatedIsAFailureToo) {
  engine_host = platform::DbEngineHost([]() -> std::shared_ptr<platform::DbEngine> {
    throw jet::Error(429, "ActiveX component can't create object", "DAO");
  });
  Click();
  EXPECT_EQ(Files(), (std::vector<std::string>{"/data/stock.mdb=db", "backup07-12-2026_09-05-33.mdb=db"}));
  EXPECT_EQ(boxes.shown.back().text, u"Error# = 429\r\nDescription = ActiveX component can't create object\r\nSource = DAO");
}

TEST_F(CompactAndRepairTest, NumberZeroAndNegativeNumbers) {
  world.fail_at = "compact";
  world.failure = Failure(0, u"ignored", u"ignored");
  Click();
  ASSERT_EQ(boxes.shown.size(), 3u);
  EXPECT_EQ(boxes.shown[2], (ShownBox{u"error message", MessageIcon::kNone, u"Quillmar"}));

  boxes.shown.clear();
  world.files.erase(u"temp.mdb");
  world.failure = Failure(-2147467259, u"Unspecified error", u"DAO.DBEngine");
  Click();
  EXPECT_EQ(boxes.shown.back().text,
            u"Error# = -2147467259\r\nDescription = Unspecified error\r\nSource = DAO.DBEngine");
  EXPECT_EQ(record.Number(), 0);
}

TEST_F(CompactAndRepairTest, SecondClickStartsFreshWithOneEngine) {
  world.fail_at = "copy#1";
  Click();
  world.fail_at.clear();
  world.log.clear();
  boxes.shown.clear();
  window.pointers.clear();
  clock.now = {2027, 1, 2, 3, 4, 5};
  Click();
  EXPECT_EQ(window.strBackupFile, u"backup02-01-2027_03-04-05.mdb");
  EXPECT_EQ(world.log, (std::vector<std::string>{"create fso", "copy#1", "compact", "kill#1", "copy#2", "kill#2"}));
  EXPECT_EQ(boxes.shown.back().text, u"Database repaired and compressed OK.");
  EXPECT_EQ(window.pointers, (std::vector<int>{11, 0}));

  world.log.clear();
  Click();
  EXPECT_EQ(engines_made, 1) << "one engine object for the whole program";
  EXPECT_EQ(engine->calls.size(), 2u);
}

}  // namespace
}  // namespace quillmar::maintenance
