#pragma once
// The database password in plain text. Tests only: it lets them check the
// scrambled constant and build password-protected databases of their own.
namespace quillmar::maintenance::testing {

inline constexpr char16_t kPlainDatabasePassword[] = u"Kv7rQm2xWp9LtZ4hNc8B";

}  // namespace quillmar::maintenance::testing
