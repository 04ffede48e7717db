// The command-line options: what they accept, and an import and an export run on a copy of the
// sample collection.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <unistd.h>
#include <cstdio>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/sgf_command.h"
#include "dataset/collection_text.h"

namespace goramina {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;

TEST(SgfCommandOptions, WhatIsAccepted) {
  struct TCase {
    std::vector<std::string> arguments;
    bool command;
    bool error;
  };
  const TCase cases[] = {
      {{}, false, false},
      {{"--screenshot", "x.png"}, false, false},
      {{"--import-sgf", "a.sgf", "folder"}, true, false},
      {{"--import-sgf"}, true, true},
      {{"--export-sgf", "out"}, true, false},
      {{"--export-sgf", "out.sgf", "--problem", "3"}, true, false},
      {{"--export-sgf"}, true, true},
      {{"--export-sgf", "out", "--problem", "zero"}, true, true},
      {{"--export-sgf", "out", "--problem", "0"}, true, true},
      {{"--export-sgf", "out", "--other", "3"}, true, true},
  };
  for (const TCase& c : cases) {
    std::string error;
    const auto command = ParseSgfCommand(c.arguments, error);
    EXPECT_EQ(command.has_value(), c.command) << ::testing::PrintToString(c.arguments);
    EXPECT_EQ(!error.empty(), c.error) << ::testing::PrintToString(c.arguments);
  }
  std::string error;
  const auto command = ParseSgfCommand({"--export-sgf", "out.sgf", "--problem", "3"}, error);
  EXPECT_EQ(command->kind, TSgfCommand::TKind::Export);
  EXPECT_EQ(command->problem, 3);
}

TEST(SgfCommandRun, ImportThenExport) {
  const fs::path dir =
      fs::temp_directory_path() / ("goramina_sgf_command_" + std::to_string(getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir / "DBgoramina");
  for (const char* name : {"mondai.tsv", "tejun.tsv"})
    fs::copy_file(fs::path(GORAMINA_COLLECTION_DIR) / name, dir / "DBgoramina" / name);
  std::ofstream(dir / "new.sgf") << "(;AB[aa];B[bb]C[RIGHT])(;SZ[13]AB[aa])";
  // The sample problems are numbered 1..n: the imported one takes n + 1.
  const std::size_t samples =
      kura::LoadProblemCollection(dir / "DBgoramina")->Rows("mondai").size();
  const int next = static_cast<int>(samples) + 1;
  char fileName[32];
  std::snprintf(fileName, sizeof fileName, "problem-%04d.sgf", next);

  std::ostringstream out, err;
  TSgfCommand import{TSgfCommand::TKind::Import, {dir / "new.sgf"}, {}};
  EXPECT_EQ(RunSgfCommand(import, dir / "DBgoramina", out, err), 1);  // one tree refused
  EXPECT_THAT(out.str(), HasSubstr("[1/1] 読み込み"));
  EXPECT_THAT(out.str(), HasSubstr("→ 問題 " + std::to_string(next)));
  EXPECT_THAT(out.str(), HasSubstr("SZ[13]"));
  EXPECT_EQ(kura::LoadProblemCollection(dir / "DBgoramina")->Rows("mondai").size(), samples + 1);

  TSgfCommand exportOne{TSgfCommand::TKind::Export, {dir / "out"}, next};
  EXPECT_EQ(RunSgfCommand(exportOne, dir / "DBgoramina", out, err), 0);
  EXPECT_TRUE(fs::exists(dir / "out" / fileName));

  TSgfCommand missing{TSgfCommand::TKind::Export, {dir / "out"}, 99};
  EXPECT_EQ(RunSgfCommand(missing, dir / "DBgoramina", out, err), 1);
  EXPECT_THAT(err.str(), HasSubstr("問題 99"));
  fs::remove_all(dir);
}

}  // namespace
}  // namespace goramina
