#include <gtest/gtest.h>

#include "engine/error.h"
#include "platform/db_engine.h"
#include "platform/failure.h"
#include "platform/object_factory.h"
#include "platform/standard_components.h"
#include "platform/testing/temp_folder.h"
#include "platform/text.h"

namespace quillmar::platform {
namespace {

constexpr char16_t kGeneral[] = u";LANGID=0x0409;CP=1252;COUNTRY=0";

struct Recorded {
  std::vector<jet::CompactRequest> requests;
  JetDbEngine::Compactor Compactor(bool write_destination = true) {
    return [this, write_destination](const jet::CompactRequest& request) {
      requests.push_back(request);
      if (write_destination) testing::WriteFile(request.destination_path, "compacted");
      return jet::CompactResult{};
    };
  }
};

std::int32_t FailureNumber(const std::function<void()>& run) {
  try {
    run();
  } catch (...) {
    return CurrentFailure().number();
  }
  return 0;
}

TEST(JetDbEngine, ConnectStringsBecomeTheRequest) {
  testing::TempFolder folder;
  Recorded recorded;
  JetDbEngine engine(recorded.Compactor());
  const auto src = FromUtf8((folder / "db.mdb").string());
  const auto dst = FromUtf8((folder / "temp.mdb").string());
  engine.CompactDatabase(src, dst, kGeneral, std::nullopt, u";pwd=Se=cret");
  ASSERT_EQ(recorded.requests.size(), 1u);
  const auto& request = recorded.requests[0];
  EXPECT_EQ(request.source_path, ToUtf8(src));
  EXPECT_EQ(request.destination_path, ToUtf8(dst));
  EXPECT_EQ(request.destination_language, 0x0409);
  EXPECT_EQ(request.source_password, "Se=cret");
  EXPECT_FALSE(request.destination_password.has_value());

  engine.CompactDatabase(src, dst + u"2", u";LANGID=1033;PWD=new", std::nullopt, u"");
  EXPECT_EQ(recorded.requests[1].destination_language, 1033);
  EXPECT_EQ(recorded.requests[1].destination_password, "new");
  EXPECT_FALSE(recorded.requests[1].source_password.has_value());
}

TEST(JetDbEngine, RefusesBadArgumentsAndAnExistingDestination) {
  testing::TempFolder folder;
  testing::WriteFile(folder / "temp.mdb", "left over");
  Recorded recorded;
  JetDbEngine engine(recorded.Compactor());
  const auto src = FromUtf8((folder / "db.mdb").string());
  const auto existing = FromUtf8((folder / "temp.mdb").string());
  const auto fresh = FromUtf8((folder / "new.mdb").string());
  EXPECT_EQ(FailureNumber([&] { engine.CompactDatabase(src, existing, kGeneral, std::nullopt, u""); }), 3204);
  EXPECT_EQ(testing::ReadFile(folder / "temp.mdb"), "left over");
  EXPECT_EQ(FailureNumber([&] { engine.CompactDatabase(src, fresh, u";LANGID=0xZZ", std::nullopt, u""); }), 3001);
  EXPECT_EQ(FailureNumber([&] { engine.CompactDatabase(src, fresh, u";LANGID=0x10000", std::nullopt, u""); }), 3001);
  EXPECT_EQ(FailureNumber([&] { engine.CompactDatabase(src, fresh, kGeneral, 2, u""); }), 3001);
  EXPECT_TRUE(recorded.requests.empty());
}

TEST(JetDbEngine, EngineErrorsKeepNumberDescriptionAndSource) {
  testing::TempFolder folder;
  JetDbEngine engine([](const jet::CompactRequest&) -> jet::CompactResult {
    throw jet::Error(3031, "Not a valid password.");
  });
  try {
    engine.CompactDatabase(FromUtf8((folder / "a.mdb").string()), FromUtf8((folder / "b.mdb").string()),
                           kGeneral, std::nullopt, u";pwd=x");
    ADD_FAILURE() << "no failure";
  } catch (...) {
    const Failure failure = CurrentFailure();
    EXPECT_EQ(failure.number(), 3031);
    EXPECT_EQ(failure.description(), u"Not a valid password.");
    EXPECT_EQ(failure.source(), u"Quillmar Jet engine");
  }
}

TEST(JetDbEngine, TheRealEngineNeverClaimsSuccessWithoutAFile) {
  testing::TempFolder folder;
  testing::WriteFile(folder / "a.mdb", std::string(4096, '\0'));
  JetDbEngine engine;
  const auto dst = folder / "out.mdb";
  const std::int32_t number = FailureNumber([&] {
    engine.CompactDatabase(FromUtf8((folder / "a.mdb").string()), FromUtf8(dst.string()), kGeneral,
                           std::nullopt, u";pwd=");
  });
  EXPECT_NE(number, 0) << "a page of zeros is no database";
  EXPECT_FALSE(std::filesystem::exists(dst));
}

TEST(Components, ByIdentifierWithOneEngineForTheProgram) {
  testing::TempFolder folder;
  Recorded recorded;
  int made = 0;
  DbEngineHost host([&] {
    ++made;
    return std::make_shared<JetDbEngine>(recorded.Compactor());
  });
  struct NoPrompt : OpenFilePrompt {
    std::optional<std::u16string> AskOpenFile(const OpenFileRequest&) override { return std::nullopt; }
  } prompt;
  ComponentRegistry registry;
  RegisterStandardComponents(registry, host, prompt);

  EXPECT_FALSE(host.Created());
  const auto first = registry.CreateObject(u"dao.dbengine.36");
  const auto second = registry.CreateObject(u"DAO.DBEngine.36");
  EXPECT_EQ(first, second);
  EXPECT_EQ(&host.Engine(), dynamic_cast<DbEngine*>(first.get()));
  EXPECT_EQ(made, 1);

  // Late-bound CompactDatabase with Options left out.
  const auto dst = FromUtf8((folder / "t.mdb").string());
  CallByName(*first, u"compactdatabase", InvokeKind::kMethod,
             {u"a.mdb", dst, kGeneral, Missing{}, u";pwd=p"});
  ASSERT_EQ(recorded.requests.size(), 1u);
  EXPECT_EQ(recorded.requests[0].source_password, "p");

  EXPECT_NE(registry.CreateObject(u"scripting.filesystemobject"),
            registry.CreateObject(u"Scripting.FileSystemObject"));
  EXPECT_NE(registry.CreateObject(u"MSComDlg.CommonDialog"), nullptr);
  EXPECT_EQ(FailureNumber([&] { registry.CreateObject(u"Excel.Application"); }), 429);
}

}  // namespace
}  // namespace quillmar::platform
