#include "tools/quillmar-db/cli_args.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <vector>

#include "engine/error.h"

namespace quillmar_db {
namespace {

CliArgs parse(std::initializer_list<std::string_view> args) {
  std::vector<std::string_view> v(args);
  return parse_args(v);
}

// The description of the usage error `args` cause ("" if none).
std::string usage_error_of(std::initializer_list<std::string_view> args) {
  try {
    parse(args);
  } catch (const jet::Error& e) {
    EXPECT_EQ(e.number(), kInvalidArgument);
    EXPECT_EQ(e.source(), kUsageSource);
    return e.description();
  }
  return "";
}

TEST(CliArgs, SortOrderIsSourceOrGeneral) {
  EXPECT_EQ(parse({"compact", "a.mdb", "b.mdb"}).sort_order, SortOrder::Source);
  EXPECT_EQ(parse({"compact", "--sort-order", "general", "a.mdb", "b.mdb"}).sort_order, SortOrder::General);
  EXPECT_EQ(parse({"compact", "--sort-order=source", "a.mdb", "b.mdb"}).sort_order, SortOrder::Source);
  EXPECT_NE(usage_error_of({"compact", "--sort-order=turkish", "a.mdb", "b.mdb"}).find("'turkish'"), std::string::npos);
  EXPECT_NE(usage_error_of({"compact", "a.mdb", "b.mdb", "--sort-order"}), "");
}

TEST(CliArgs, CommandsTakeTheirOperands) {
  CliArgs a = parse({"export", "db.mdb", "Table 1"});
  EXPECT_EQ(a.command, Command::Export);
  EXPECT_EQ(a.operands, (std::vector<std::string>{"db.mdb", "Table 1"}));
  EXPECT_EQ(a.password_from, PasswordFrom::None);

  EXPECT_EQ(parse({"info", "x.mdb"}).command, Command::Info);
  EXPECT_EQ(parse({"check", "x.mdb"}).command, Command::Check);
  EXPECT_EQ(parse({"compact", "a.mdb", "b.mdb"}).command, Command::Compact);
  EXPECT_FALSE(parse({"compact", "--no-progress", "a.mdb", "b.mdb"}).progress);
}

TEST(CliArgs, HelpAndVersionWinOverEverythingElse) {
  EXPECT_EQ(parse({"--help"}).command, Command::Help);
  EXPECT_EQ(parse({"export", "-h"}).command, Command::Help);
  EXPECT_EQ(parse({"help"}).command, Command::Help);
  EXPECT_EQ(parse({"--version"}).command, Command::Version);
  EXPECT_EQ(parse({"-V", "bogus"}).command, Command::Version);
}

TEST(CliArgs, PasswordComesFromAFileOrStandardInput) {
  CliArgs f = parse({"--password-file", "secret.txt", "info", "db.mdb"});
  EXPECT_EQ(f.password_from, PasswordFrom::File);
  EXPECT_EQ(f.password_file, "secret.txt");
  EXPECT_EQ(f.operands, std::vector<std::string>{"db.mdb"});

  CliArgs g = parse({"info", "db.mdb", "--password-file=p w"});
  EXPECT_EQ(g.password_file, "p w");
  EXPECT_EQ(parse({"info", "--password-stdin", "db.mdb"}).password_from, PasswordFrom::Stdin);
}

TEST(CliArgs, PasswordsOnTheCommandLineAreRefused) {
  for (auto arg : {"--password", "--password=secret", "-p", "--pwd=x"}) {
    std::string why = usage_error_of({"info", "db.mdb", arg});
    EXPECT_NE(why.find("never taken on the command line"), std::string::npos) << arg;
  }
  // ... and naming a password twice is a mistake, not a silent choice.
  EXPECT_NE(usage_error_of({"--password-stdin", "--password-file", "f", "info", "x"}), "");
  EXPECT_NE(usage_error_of({"--password-file", "-", "info", "x"}), "");
  EXPECT_NE(usage_error_of({"--password-file"}), "");
}

TEST(CliArgs, MistakesAreUsageErrors) {
  EXPECT_NE(usage_error_of({}), "");
  EXPECT_NE(usage_error_of({"frobnicate", "x"}).find("frobnicate"), std::string::npos);
  EXPECT_NE(usage_error_of({"export", "db.mdb"}).find("FILE TABLE"), std::string::npos);
  EXPECT_NE(usage_error_of({"info", "a", "b"}), "");
  EXPECT_NE(usage_error_of({"info", "--frob", "a"}).find("--frob"), std::string::npos);
}

TEST(CliArgs, DoubleDashEndsOptions) {
  CliArgs a = parse({"export", "--", "-odd.mdb", "--password"});
  EXPECT_EQ(a.operands, (std::vector<std::string>{"-odd.mdb", "--password"}));
}

}  // namespace
}  // namespace quillmar_db
