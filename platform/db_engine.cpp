#include "platform/db_engine.h"

#include <sys/stat.h>

#include <utility>

#include "engine/error.h"
#include "platform/connect_string.h"
#include "platform/failure.h"
#include "platform/secret_text.h"
#include "platform/text.h"

namespace quillmar::platform {
namespace {

void Wipe(std::optional<std::u16string>& password) {
  if (password) WipeText(*password);
}

void Wipe(std::optional<std::string>& password) {
  if (password) WipeText(*password);
}

std::optional<std::string> Utf8(const std::optional<std::u16string>& text) {
  if (!text) return std::nullopt;
  return ToUtf8(*text);
}

}  // namespace

JetDbEngine::JetDbEngine() : JetDbEngine(Compactor(jet::compact_database)) {}

JetDbEngine::JetDbEngine(Compactor compactor) : compactor_(std::move(compactor)) {}

void JetDbEngine::CompactDatabase(const std::u16string& SrcName, const std::u16string& DstName,
                                  const std::u16string& DstLocale, std::optional<std::int32_t> Options,
                                  const std::u16string& SrcLocale) {
  // Version and encryption changes are not offered; refuse them rather than ignore them.
  if (Options && *Options != 0) {
    throw Failure(failure_number::kInvalidArgument, u"Invalid argument.", u"DAO.DBEngine");
  }
  jet::CompactRequest request;
  request.source_path = ToUtf8(SrcName);
  request.destination_path = ToUtf8(DstName);
  // The new file never replaces an existing one, not even the source itself.
  struct stat existing {};
  if (::stat(request.destination_path.c_str(), &existing) == 0) {
    throw jet::Error(jet::errc::kDatabaseAlreadyExists, "Database already exists.");
  }

  ConnectSettings destination;
  ConnectSettings source;
  auto wipe_passwords = [&] {
    Wipe(destination.password);
    Wipe(source.password);
    Wipe(request.destination_password);
    Wipe(request.source_password);
  };
  try {
    ParseConnectString(DstLocale, destination);
    ParseConnectString(SrcLocale, source);
    request.destination_language = destination.language;
    request.destination_password = Utf8(destination.password);
    request.source_password = Utf8(source.password);
    compactor_(request);
  } catch (...) {
    wipe_passwords();
    throw;
  }
  wipe_passwords();
}

DispId JetDbEngine::GetIdOfName(std::u16string_view name) {
  return FindMember(name, {{u"CompactDatabase", kCompactDatabase}});
}

Variant JetDbEngine::Invoke(DispId id, InvokeKind kind, const std::vector<Variant>& arguments) {
  if (id != kCompactDatabase || kind != InvokeKind::kMethod) {
    throw RuntimeFailure(failure_number::kNoSuchMember);
  }
  if (arguments.size() < 2 || arguments.size() > 5) {
    throw RuntimeFailure(failure_number::kWrongArguments);
  }
  auto optional_text = [&](std::size_t i) {
    return i < arguments.size() && !std::holds_alternative<Missing>(arguments[i]) ? AsText(arguments[i])
                                                                                   : std::u16string();
  };
  std::optional<std::int32_t> options;
  if (arguments.size() > 3 && !std::holds_alternative<Missing>(arguments[3])) {
    options = AsInteger(arguments[3]);
  }
  std::u16string source_locale = optional_text(4);
  WipeOnExit<std::u16string> wipe(source_locale);
  CompactDatabase(AsText(arguments[0]), AsText(arguments[1]), optional_text(2), options, source_locale);
  return Empty{};
}

DbEngineHost::DbEngineHost() : DbEngineHost([] { return std::make_shared<JetDbEngine>(); }) {}

DbEngineHost::DbEngineHost(Maker maker) : maker_(std::move(maker)) {}

std::shared_ptr<Dispatch> DbEngineHost::EngineObject() {
  Engine();
  auto object = std::dynamic_pointer_cast<Dispatch>(engine_);
  if (!object) throw RuntimeFailure(failure_number::kCannotCreateObject);
  return object;
}

DbEngine& DbEngineHost::Engine() {
  if (!engine_) {
    engine_ = maker_();
    if (!engine_) throw RuntimeFailure(failure_number::kCannotCreateObject);
  }
  return *engine_;
}

}  // namespace quillmar::platform
