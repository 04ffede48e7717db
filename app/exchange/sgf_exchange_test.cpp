// Import into and export from a collection through the data module: the round trip of the
// sample collection, numbers taken as 問題登録 takes them, all or nothing per problem, files
// and folders, and the reports.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "app/collection/data_module.h"
#include "app/exchange/sgf_exchange.h"
#include "dataset/collection_text.h"
#include "dataset/cp932.h"
#include "dataset/memory_database.h"

namespace goramina {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;

class SgfExchangeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("goramina_sgf_" + std::to_string(::getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  void Write(const fs::path& file, const std::string& bytes) {
    fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << bytes;
  }

  void AddProblem(kura::TMemoryDatabase& db, int hnb) {
    using kura::TFieldValue;
    db.AppendRow("mondai",
                 {TFieldValue::OfInteger(hnb), TFieldValue::OfInteger(hnb), {}, {}, {}, {}, {}});
    db.AppendRow("tejun", {TFieldValue::OfInteger(1),
                           TFieldValue::OfInteger(hnb),
                           TFieldValue::OfInteger(0),
                           TFieldValue::OfInteger(1),
                           TFieldValue::OfInteger(1),
                           TFieldValue::OfInteger(1),
                           TFieldValue::OfInteger(9999),
                           {}});
  }

  fs::path dir_;
};

TEST_F(SgfExchangeTest, SampleCollectionRoundTrip) {
  auto sample = kura::LoadProblemCollection(GORAMINA_COLLECTION_DIR);
  const int problems = static_cast<int>(sample->Rows("mondai").size());
  ASSERT_GT(problems, 0);
  TDataModule1 from(sample);
  const fs::path file = dir_ / "all.sgf";
  const TExportReport exported = ExportSgf(from, file);
  EXPECT_EQ(exported.problems, problems);
  EXPECT_TRUE(exported.notes.empty());
  const fs::path folder = dir_ / "each";
  EXPECT_EQ(ExportSgf(from, folder).files.size(), static_cast<std::size_t>(problems));

  for (const fs::path& source : {file, folder}) {
    SCOPED_TRACE(source.string());
    auto empty = kura::CreateProblemCollection();
    TDataModule1 to(empty);
    const TImportReport report = ImportSgf(to, {source});
    EXPECT_EQ(report.Stored(), problems) << ImportSummary(report);
    EXPECT_EQ(report.Refused(), 0);
    to.DataModuleDestroy();
    EXPECT_EQ(empty->Rows("mondai"), sample->Rows("mondai"));
    EXPECT_EQ(empty->Rows("tejun"), sample->Rows("tejun"));
  }
}

TEST_F(SgfExchangeTest, NumbersAreTheFreeOnesAndEachProblemIsAllOrNothing) {
  auto db = kura::CreateProblemCollection();
  AddProblem(*db, 1);
  AddProblem(*db, 2);
  AddProblem(*db, 4);
  Write(dir_ / "three.sgf",
        "(;AB[aa];B[bb]C[one])\n(;SZ[9]AB[aa];B[bb])\n(;AB[cc];B[dd]C[two]\n;W[zz])\n"
        "(;AB[ee]PL[W];W[ff])");
  TDataModule1 module(db);
  const TImportReport report = ImportSgf(module, {dir_ / "three.sgf"});
  ASSERT_EQ(report.outcomes.size(), 4u);
  EXPECT_EQ(report.Numbers(), (std::vector<int>{3, 5}));
  EXPECT_FALSE(report.outcomes[1].stored);
  EXPECT_FALSE(report.outcomes[2].stored);
  EXPECT_EQ(report.outcomes[2].line, 4);
  EXPECT_TRUE(report.outcomes[3].swapped);
  const std::string summary = ImportSummary(report);
  EXPECT_THAT(summary, HasSubstr("2 問を取り込みました"));
  EXPECT_THAT(summary, HasSubstr("three.sgf（2 問目） 2 行目"));
  EXPECT_THAT(summary, HasSubstr("three.sgf（3 問目） 4 行目"));
  EXPECT_THAT(summary, HasSubstr("本線を正解"));
  module.DataModuleDestroy();
  // Nothing of the refused problems: rows only under 1, 2, 3, 4, 5.
  int rowsOf3 = 0, rowsOf5 = 0;
  for (const kura::TRecord& r : db->Rows("tejun")) {
    const auto hnb = r[1].Integer;
    EXPECT_TRUE(hnb >= 1 && hnb <= 5) << hnb;
    rowsOf3 += hnb == 3;
    rowsOf5 += hnb == 5;
  }
  EXPECT_EQ(rowsOf3, 2);
  EXPECT_EQ(rowsOf5, 2);
  EXPECT_EQ(db->Rows("mondai").size(), 5u);
}

TEST_F(SgfExchangeTest, FoldersShiftJisAndMissingFiles) {
  Write(dir_ / "in" / "b.sgf", "(;AB[aa];B[bb]C[" + kura::Utf8ToCp932("急所ソ") + "])");
  Write(dir_ / "in" / "sub" / "a.SGF", "(;AB[aa];B[cc])");
  Write(dir_ / "in" / "notes.txt", "not sgf");
  Write(dir_ / "in" / "broken.sgf", "(;AB[aa]\n;B[bb]");
  auto db = kura::CreateProblemCollection();
  TDataModule1 module(db);
  std::vector<std::string> seen;
  const TImportReport report =
      ImportSgf(module, {dir_ / "in", dir_ / "missing.sgf"},
                [&seen](int done, int total, const std::string& item) {
                  seen.push_back(std::to_string(done) + "/" + std::to_string(total) + " " +
                                 fs::path(item).filename().string());
                  return true;
                });
  EXPECT_EQ(report.Stored(), 2);
  EXPECT_EQ(report.Refused(), 2);  // the missing file and the broken one
  EXPECT_THAT(seen, ::testing::ElementsAre("0/3 b.sgf", "1/3 broken.sgf", "2/3 a.SGF", "3/3 "));
  module.DataModuleDestroy();
  bool found = false;
  for (const kura::TRecord& r : db->Rows("tejun"))
    found = found || r[7].Text == kura::Utf8ToCp932("急所ソ");
  EXPECT_TRUE(found);
}

TEST_F(SgfExchangeTest, StoppingKeepsWhatIsDone) {
  Write(dir_ / "a.sgf", "(;AB[aa];B[bb])");
  Write(dir_ / "b.sgf", "(;AB[aa];B[bb])");
  auto db = kura::CreateProblemCollection();
  TDataModule1 module(db);
  const TImportReport report =
      ImportSgf(module, {dir_}, [](int done, int, const std::string&) { return done < 1; });
  EXPECT_TRUE(report.stopped);
  EXPECT_EQ(report.Stored(), 1);
}

TEST_F(SgfExchangeTest, AFailedWriteLeavesNothingOfTheProblem) {
  // A collection without its tejun table: the problem row is written, the moves cannot be.
  auto db = std::make_shared<kura::TMemoryDatabase>();
  db->CreateTable("mondai", kura::CreateProblemCollection()->FindTable("mondai")->fields);
  TDataModule1 module(db);
  TImportReport report;
  ImportSgfBytes(module, "(;AB[aa];B[bb])", "x.sgf", report);
  ASSERT_EQ(report.outcomes.size(), 1u);
  EXPECT_FALSE(report.outcomes[0].stored);
  module.DataModuleDestroy();
  EXPECT_TRUE(db->Rows("mondai").empty());
}

TEST_F(SgfExchangeTest, ExportOneProblem) {
  auto sample = kura::LoadProblemCollection(GORAMINA_COLLECTION_DIR);
  TDataModule1 module(sample);
  const TExportReport report = ExportSgf(module, dir_ / "out", 3);
  ASSERT_EQ(report.files.size(), 1u);
  EXPECT_EQ(report.files[0].filename(), "problem-0003.sgf");
  std::ifstream in(report.files[0], std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(in)), {});
  EXPECT_THAT(text, HasSubstr("C[シチョウで白の切り石を取る]"));
  EXPECT_THROW(ExportSgf(module, dir_ / "out", 99), std::runtime_error);
  EXPECT_THAT(ExportSummary(report), HasSubstr("1 問を 1 個のファイルに"));
}

}  // namespace
}  // namespace goramina
