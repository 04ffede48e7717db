// The command-line options: what they accept, and an import and an export run on a copy of the
// sample collection.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <unistd.h>
#include <cstdio>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/exchange/sgf_command.h"
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
      {{"--export-sgf", "out", "--json", "--problem", "3"}, true, false},
      {{"--export-sgf", "--json"}, true, true},
      {{"--import-sgf", "--json"}, true, true},
      {{"--import-sgf", "a.sgf", "--json"}, true, false},
      {{"--list-problems"}, true, false},
      {{"--list-problems", "--json"}, true, false},
      {{"--list-problems", "extra"}, true, true},
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
  EXPECT_EQ(RunSgfCommand(missing, dir / "DBgoramina", out, err), kSgfFailed);
  EXPECT_THAT(err.str(), HasSubstr("問題 99"));

  // For scripts: per file and tree the number given, the rule, warnings and refusals with
  // their line; the progress goes to the error stream.
  std::ofstream(dir / "real.sgf") << "(;GN[Tsumego 5]AB[ba][bb]AW[aa](;B[ab]C[sekiRIGHT])"
                                     "(;B[ac];W[ad]\n;AB[cc];B[ae]C[WRONG]))\n(;SZ[9]AB[aa])";
  std::ostringstream json, progress;
  TSgfCommand importJson{TSgfCommand::TKind::Import, {dir / "real.sgf"}, {}, true};
  EXPECT_EQ(RunSgfCommand(importJson, dir / "DBgoramina", json, progress), kSgfRefused);
  EXPECT_THAT(progress.str(), HasSubstr("[1/1] 読み込み"));
  for (const std::string& part : std::vector<std::string>{
           "\"exit_code\": 1", "\"stored\": 1", "\"refused\": 1", "\"tree\": 2",
           "\"problem\": " + std::to_string(next + 1), "\"rule\": \"comment-marks\"", "\"line\": 3",
           "SZ[9]", "\"warnings\": [\"2 行目"})
    EXPECT_THAT(json.str(), HasSubstr(part)) << json.str();

  std::ostringstream list, listJson;
  TSgfCommand listing{TSgfCommand::TKind::List, {}, {}, false};
  EXPECT_EQ(RunSgfCommand(listing, dir / "DBgoramina", list, err), kSgfDone);
  EXPECT_THAT(list.str(), HasSubstr(std::to_string(next + 1) + "\t\t\t\tTsumego 5\n"));
  listing.json = true;
  EXPECT_EQ(RunSgfCommand(listing, dir / "DBgoramina", listJson, err), kSgfDone);
  EXPECT_THAT(
      listJson.str(),
      HasSubstr("{\"problem\": " + std::to_string(next + 1) +
                ", \"major\": \"\", \"minor\": \"\", \"mark\": \"\", \"comment\": \"Tsumego 5\"}"));

  TSgfCommand exportJson{TSgfCommand::TKind::Export, {dir / "one.sgf"}, next + 1, true};
  std::ostringstream exported;
  EXPECT_EQ(RunSgfCommand(exportJson, dir / "DBgoramina", exported, err), kSgfDone);
  EXPECT_THAT(exported.str(), HasSubstr("\"problems\": 1"));
  std::ifstream written(dir / "one.sgf");
  const std::string sgf((std::istreambuf_iterator<char>(written)),
                        std::istreambuf_iterator<char>());
  EXPECT_THAT(sgf, HasSubstr("C[seki\nRIGHT]"));  // the mark written back once

  EXPECT_EQ(RunSgfCommand(listing, dir / "nowhere", list, err), kSgfFailed);
  fs::remove_all(dir);
}

}  // namespace
}  // namespace goramina
