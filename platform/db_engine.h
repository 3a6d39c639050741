#pragma once
// The database engine object ("DAO.DBEngine.36"): one per program, created on
// first use, compacting through our own Jet engine.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "engine/compact/compact.h"
#include "platform/dispatch.h"

namespace quillmar::platform {

class DbEngine {
 public:
  virtual ~DbEngine() = default;
  // Compacts and repairs SrcName into the new file DstName. The locales are
  // connect strings (see connect_string.h). Options left out keep the
  // source's version and encryption. Raises a failure; never returns without
  // having written DstName.
  virtual void CompactDatabase(const std::u16string& SrcName, const std::u16string& DstName,
                               const std::u16string& DstLocale, std::optional<std::int32_t> Options,
                               const std::u16string& SrcLocale) = 0;
};

class JetDbEngine : public DbEngine, public Dispatch {
 public:
  static constexpr DispId kCompactDatabase = 1;

  using Compactor = std::function<jet::CompactResult(const jet::CompactRequest&)>;

  JetDbEngine();  // uses jet::compact_database
  explicit JetDbEngine(Compactor compactor);

  void CompactDatabase(const std::u16string& SrcName, const std::u16string& DstName,
                       const std::u16string& DstLocale, std::optional<std::int32_t> Options,
                       const std::u16string& SrcLocale) override;

  DispId GetIdOfName(std::u16string_view name) override;
  Variant Invoke(DispId id, InvokeKind kind, const std::vector<Variant>& arguments) override;

 private:
  Compactor compactor_;
};

// Holds the program's one engine object; makes it on the first request.
class DbEngineHost {
 public:
  using Maker = std::function<std::shared_ptr<DbEngine>()>;

  DbEngineHost();  // makes a JetDbEngine
  explicit DbEngineHost(Maker maker);

  DbEngine& Engine();
  // The same object through late binding, for the component factory.
  std::shared_ptr<Dispatch> EngineObject();
  bool Created() const { return engine_ != nullptr; }

 private:
  Maker maker_;
  std::shared_ptr<DbEngine> engine_;
};

}  // namespace quillmar::platform
