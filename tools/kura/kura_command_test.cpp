#include "tools/kura/kura_command.h"

#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <sstream>

#include "engine/data_cursor.h"
#include "engine/data_directory.h"
#include "storage/index_page.h"
#include "tools/kura/kura_test_tables.h"

namespace kura::tool {
namespace {

using testing::TEngineSandbox;
using testing::TSampleTable;
using testing::TScratchFolder;

struct TRun {
  int Status = -1;
  std::string Out;
  std::string Err;
};

TRun Kura(const std::vector<std::string>& arguments) {
  std::ostringstream out, err;
  TFileList list;
  TRun run;
  run.Status = RunKura(arguments, out, err, list);
  run.Out = out.str();
  run.Err = err.str();
  return run;
}

class KuraCommand : public ::testing::Test {
 protected:
  void SetUp() override {
    TEngineSandbox sandbox(FFolder.Path());
    TSampleTable sample;
    sample.RowCount = 10;
    sample.DeletedIds = {3};
    testing::MakeSampleTable(sandbox, "T", sample);
    sample.Notes = false;
    testing::MakeSampleTable(sandbox, "U", sample);
  }
  TScratchFolder FFolder;
};

TEST_F(KuraCommand, HelpPages) {
  const std::pair<std::vector<std::string>, const char*> cases[] = {
      {{"--help"}, "kura - look into and check"},
      {{"info", "--help"}, "kura info - what a table is made of"},
      {{"verify", "--help"}, "kura verify - check that tables are sound"},
      {{"reindex", "--help"}, "kura reindex - build every index of a table again"},
      {{"stress", "--help"}, "kura stress - change one table from several processes"},
  };
  for (const auto& [arguments, name] : cases) {
    const TRun run = Kura(arguments);
    EXPECT_EQ(run.Status, kExitSound);
    EXPECT_NE(run.Out.find(name), std::string::npos) << run.Out;
    for (const char* section : {"SYNOPSIS", "DESCRIPTION", "EXIT STATUS"})
      EXPECT_NE(run.Out.find(section), std::string::npos) << section << " in " << run.Out;
  }
}

TEST_F(KuraCommand, UsageErrorsExitWithTwoAndSayWhat) {
  const std::pair<std::vector<std::string>, const char*> cases[] = {
      {{}, "no subcommand"},
      {{"repair", FFolder.File("T")}, "unknown subcommand repair"},
      {{"verify"}, "no PATH"},
      {{"info", "--json"}, "no PATH"},
      {{"verify", "--json", FFolder.File("T")}, "unknown option --json"},
      {{"verify", "--password", "x", FFolder.File("T")}, "unknown option --password"},
      {{"info", FFolder.File("T"), "--password"}, "--password needs a value"},
      {{"verify", FFolder.File("NOPE")}, "no such table"},
      {{"info", FFolder.File("T"), FFolder.File("NOPE.DAT")}, "no such table"},
  };
  for (const auto& [arguments, message] : cases) {
    const TRun run = Kura(arguments);
    EXPECT_EQ(run.Status, kExitUsage) << message;
    EXPECT_NE(run.Err.find(message), std::string::npos) << run.Err;
    EXPECT_EQ(run.Out, "");
  }
  const std::string dir = FFolder.Path();
  const std::pair<std::vector<std::string>, const char*> stressCases[] = {
      {{"stress"}, "no DIR given"},
      {{"stress", dir, dir}, "more than one DIR given"},
      {{"stress", FFolder.File("NOPE")}, "NOPE: not a directory"},
      {{"stress", FFolder.File("T.DAT")}, "T.DAT: not a directory"},
      {{"stress", dir, "--procs", "0"}, "--procs takes a whole number from 1 to 64, not \"0\""},
      {{"stress", dir, "--procs", "65"}, "--procs takes a whole number from 1 to 64"},
      {{"stress", dir, "--ops", "12x"}, "--ops takes a whole number from 0 to 1000000"},
      {{"stress", dir, "--seconds", "-1"}, "--seconds takes a whole number"},
      {{"stress", dir, "--seed", "4294967296"}, "--seed takes a whole number"},
      {{"stress", dir, "--ops"}, "--ops needs a value"},
      {{"stress", dir, "--fast"}, "unknown option --fast"},
  };
  for (const auto& [arguments, message] : stressCases) {
    const TRun run = Kura(arguments);
    EXPECT_EQ(run.Status, kExitUsage) << message;
    EXPECT_NE(run.Err.find(message), std::string::npos) << run.Err;
    EXPECT_EQ(run.Out, "");
  }
  TScratchFolder empty;
  const TRun run = Kura({"verify", empty.Path()});
  EXPECT_EQ(run.Status, kExitUsage);
  EXPECT_NE(run.Err.find("holds no table"), std::string::npos) << run.Err;
}

TEST_F(KuraCommand, PathNamesATableByAnyOfItsFilesOrTheDirectory) {
  for (const std::string& path :
       {FFolder.File("T"), FFolder.File("T.DAT"), FFolder.File("T.idx"), FFolder.File("T.BLB")}) {
    const TRun run = Kura({"verify", path});
    EXPECT_EQ(run.Status, kExitSound) << path << "\n" << run.Out << run.Err;
    EXPECT_EQ(run.Out, FFolder.File("T.DAT") + ": sound\n");
  }
  const TRun all = Kura({"verify", FFolder.Path()});
  EXPECT_EQ(all.Status, kExitSound) << all.Out;
  EXPECT_EQ(all.Out, FFolder.File("T.DAT") + ": sound\n" + FFolder.File("U.DAT") + ": sound\n");
}

TEST_F(KuraCommand, FilesWhoseExtensionsAreInLowerCase) {
  for (const char* extension : {".DAT", ".IDX", ".BLB"}) {
    std::string lower = extension;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    std::filesystem::rename(FFolder.File(std::string("T") + extension), FFolder.File("T" + lower));
  }
  const TRun run = Kura({"verify", FFolder.Path()});
  EXPECT_EQ(run.Status, kExitSound) << run.Out << run.Err;
  EXPECT_EQ(run.Out, FFolder.File("T.DAT") + ": sound\n" + FFolder.File("U.DAT") + ": sound\n");
}

TEST_F(KuraCommand, TablesWithReadOnlyFiles) {
  for (const char* extension : {".DAT", ".IDX", ".BLB"})
    std::filesystem::permissions(FFolder.File(std::string("T") + extension),
                                 std::filesystem::perms::owner_read);
  const TRun run = Kura({"verify", FFolder.File("T")});
  EXPECT_EQ(run.Status, kExitSound) << run.Out << run.Err;
  EXPECT_EQ(run.Out, FFolder.File("T.DAT") + ": sound\n");
  EXPECT_EQ(Kura({"info", FFolder.File("T")}).Status, kExitSound);
}

TEST_F(KuraCommand, VerifyPrintsOneLinePerFindingAndExitsWithOne) {
  testing::PatchI32(FFolder.File("U.IDX"), 3974, 77);  // LiveRecordCount
  const TRun run = Kura({"verify", FFolder.Path()});
  EXPECT_EQ(run.Status, kExitFindings);
  EXPECT_EQ(run.Out, FFolder.File("T.DAT") + ": sound\n" + FFolder.File("U.IDX") +
                         ": LiveRecordCount is 77 but the data file holds 9 live records\n");
}

// A damaged index file (a lost key, a wrong live count, rubbish in its pages) is built again
// from the records; kura verify then finds nothing.
TEST_F(KuraCommand, ReindexRepairsDamagedIndexFiles) {
  {
    TEngineSandbox sandbox(FFolder.Path());
    TDataTable& table = sandbox.Directory().OpenTable("T", false, false);
    testing::DeleteIndexKey(table, 1, 4);
    sandbox.Directory().CloseTable(table);
  }
  testing::PatchI32(FFolder.File("U.IDX"), 3974, 77);  // LiveRecordCount
  const std::int64_t secondPage = 2 * 4096 + 100;
  for (std::int64_t at = secondPage; at < secondPage + 64; at += 4)
    testing::PatchI32(FFolder.File("U.IDX"), at, 0x5A5A5A5A);
  EXPECT_EQ(Kura({"verify", FFolder.Path()}).Status, kExitFindings);

  const TRun run = Kura({"reindex", FFolder.Path()});
  EXPECT_EQ(run.Status, kExitSound) << run.Out << run.Err;
  EXPECT_EQ(run.Out,
            FFolder.File("T.DAT") + ": reindexed\n" + FFolder.File("U.DAT") + ": reindexed\n");
  EXPECT_EQ(Kura({"verify", FFolder.Path()}).Status, kExitSound);
  EXPECT_FALSE(std::filesystem::exists(FFolder.File("T.IBK")));
}

// Pages that belong to no index and lie on no free chain (a build cut short, a damaged
// header) are reported by kura verify and given back by kura reindex, which builds the index
// file anew.
TEST_F(KuraCommand, ReindexReclaimsPagesInNoIndex) {
  const std::string idx = FFolder.File("T.IDX");
  const std::int32_t nextPageNo = testing::ReadI32(idx, 9);
  std::string bytes = testing::ReadWholeFile(idx);
  bytes.append(2 * kIndexPageBytes, '\0');
  testing::WriteWholeFile(idx, bytes);
  testing::PatchI32(idx, 9, nextPageNo + 2);
  const TRun before = Kura({"verify", FFolder.File("T")});
  EXPECT_EQ(before.Status, kExitFindings);
  EXPECT_NE(before.Out.find("belong to no index and to no free chain"), std::string::npos)
      << before.Out;

  const TRun run = Kura({"reindex", FFolder.File("T")});
  EXPECT_EQ(run.Status, kExitSound) << run.Out << run.Err;
  const TRun after = Kura({"verify", FFolder.File("T")});
  EXPECT_EQ(after.Status, kExitSound) << after.Out;
  EXPECT_LT(testing::ReadI32(idx, 9), nextPageNo + 2);
}

TEST_F(KuraCommand, ReindexSaysWhyATableCouldNotBeDone) {
  testing::PatchI32(FFolder.File("T.IDX"), 8, 0x7F7F7F7F);  // version and NextPageNo
  std::filesystem::remove(FFolder.File("U.IDX"));           // a lost index file is made anew
  const TRun run = Kura({"reindex", FFolder.File("T"), FFolder.File("U")});
  EXPECT_EQ(run.Status, kExitFindings) << run.Out << run.Err;
  EXPECT_NE(run.Out.find(FFolder.File("T.DAT") + ": not reindexed: Kura Engine Error"),
            std::string::npos)
      << run.Out;
  EXPECT_NE(run.Out.find(FFolder.File("U.DAT") + ": reindexed"), std::string::npos) << run.Out;
}

// Tables made and changed by the cursor's table operations pass every check.
TEST_F(KuraCommand, VerifyAcceptsWhatTheTableOperationsMake) {
  {
    TEngineSandbox sandbox(FFolder.Path());
    TDataCursor cursor(sandbox.Directory());
    cursor.SetTableName("T");
    cursor.SetExclusive(true);
    cursor.Open();
    TIndexDefinition byNote;
    byNote.Name = "Second";
    byNote.Fields = {1, 2};
    cursor.AddIndex(byNote);
    cursor.DeleteIndexNo(1);
    cursor.Close();
    cursor.SetTableName("U");
    cursor.Open();
    cursor.EmptyTable();
    cursor.Close();

    TTableDefinition result;
    result.Fields = {MakeFieldDescriptor("K", 6), MakeFieldDescriptor("S", 1, 10)};
    cursor.SetTableName("R");
    cursor.CreateTable(result, false);
    cursor.Open();
    for (int i = 0; i < 50; ++i) {
      std::vector<std::uint8_t> record(cursor.RecordSize());
      cursor.InitNewRecord(record);
      const std::int32_t value = (i * 7) % 11;
      cursor.SetField(1, record, &value);
      cursor.SetField(2, record, "x");
      cursor.PostInsert(record, false);
    }
    TSortSpec spec;
    spec.Fields = {TSortField{cursor.Table()->Data().Descriptors()[0], true}};
    spec.Duplicates = TDuplicateMode::Remove;
    cursor.SortTable(spec);
    EXPECT_EQ(cursor.RecordCount(), 11);
  }
  const TRun run = Kura({"verify", FFolder.Path()});
  EXPECT_EQ(run.Status, kExitSound) << run.Out;
}

TEST_F(KuraCommand, InfoOfADirectoryInTextAndJson) {
  const TRun text = Kura({"info", FFolder.Path()});
  EXPECT_EQ(text.Status, kExitSound) << text.Err;
  EXPECT_NE(text.Out.find("Table T\n"), std::string::npos);
  EXPECT_NE(text.Out.find("Table U\n"), std::string::npos);
  const TRun json = Kura({"info", "--json", FFolder.File("U")});
  EXPECT_EQ(json.Status, kExitSound) << json.Err;
  EXPECT_EQ(json.Out.rfind("{\"tables\": [\n  {\"table\": \"U\"", 0), 0u) << json.Out;
  EXPECT_NE(json.Out.find("\"blob\": null"), std::string::npos) << json.Out;
}

// Two brief runs on one table: the second keeps the rows the first left and checks them too.
TEST_F(KuraCommand, StressRunsAndChecksAgainOnTheTableItLeft) {
  for (const char* seed : {"3", "4"}) {
    const TRun run =
        Kura({"stress", FFolder.Path(), "--procs", "2", "--ops", "150", "--seed", seed});
    EXPECT_EQ(run.Status, kExitSound) << run.Out << run.Err;
    EXPECT_NE(run.Out.find("check: every acknowledged change present and nothing else"),
              std::string::npos)
        << run.Out;
    EXPECT_NE(run.Out.find("       total"), std::string::npos) << run.Out;
  }
  // The time limit ends a run long before its operations would.
  const TRun timed =
      Kura({"stress", FFolder.Path(), "--procs", "1", "--ops", "1000000", "--seconds", "1"});
  EXPECT_EQ(timed.Status, kExitSound) << timed.Out << timed.Err;
  const TRun verify = Kura({"verify", FFolder.File("STRESS")});
  EXPECT_EQ(verify.Status, kExitSound) << verify.Out;
}

// Workers that cannot change the table (its files read-only) fail, and the run says so.
TEST_F(KuraCommand, StressReportsWorkersThatFail) {
  ASSERT_EQ(Kura({"stress", FFolder.Path(), "--procs", "1", "--ops", "0"}).Status, kExitSound);
  for (const char* extension : {".DAT", ".IDX", ".BLB"})
    std::filesystem::permissions(FFolder.File(std::string("STRESS") + extension),
                                 std::filesystem::perms::owner_read);
  const TRun run = Kura({"stress", FFolder.Path(), "--procs", "2", "--ops", "5"});
  EXPECT_EQ(run.Status, kExitFindings);
  EXPECT_NE(run.Out.find("check: 2 finding(s)\nprocess 0 failed (exit status 1)\n"
                         "process 1 failed (exit status 1)\n"),
            std::string::npos)
      << run.Out;
}

TEST_F(KuraCommand, StressRefusesATableOfOtherFields) {
  for (const char* extension : {".DAT", ".IDX", ".BLB"})
    std::filesystem::rename(FFolder.File(std::string("T") + extension),
                            FFolder.File(std::string("STRESS") + extension));
  const TRun run = Kura({"stress", FFolder.Path(), "--procs", "1", "--ops", "1"});
  EXPECT_EQ(run.Status, kExitFindings);
  EXPECT_NE(run.Err.find("other fields"), std::string::npos) << run.Err;
}

// Every stored fuzz input of the data, index and BLOB file parsers, in place of one file of
// a sound table: info and verify answer 0 or 1, never crash, hang or throw.
TEST_F(KuraCommand, NeverCrashesOnTheFuzzCorpora) {
  const std::pair<const char*, const char*> corpora[] = {
      {"data_file_fuzz", "T.DAT"}, {"index_fuzz", "T.IDX"}, {"blob_fuzz", "T.BLB"}};
  const std::string sound[] = {testing::ReadWholeFile(FFolder.File("T.DAT")),
                               testing::ReadWholeFile(FFolder.File("T.IDX")),
                               testing::ReadWholeFile(FFolder.File("T.BLB"))};
  int inputs = 0;
  for (const auto& [corpus, file] : corpora) {
    for (const auto& entry : std::filesystem::directory_iterator(
             std::string(GORAMINA_FUZZ_CORPUS_DIR) + "/" + corpus)) {
      SCOPED_TRACE(entry.path().string());
      testing::WriteWholeFile(FFolder.File("T.DAT"), sound[0]);
      testing::WriteWholeFile(FFolder.File("T.IDX"), sound[1]);
      testing::WriteWholeFile(FFolder.File("T.BLB"), sound[2]);
      testing::WriteWholeFile(FFolder.File(file), testing::ReadWholeFile(entry.path().string()));
      for (const std::vector<std::string>& arguments :
           {std::vector<std::string>{"verify", FFolder.File("T")},
            std::vector<std::string>{"info", "--json", FFolder.File("T")}}) {
        const TRun run = Kura(arguments);
        EXPECT_TRUE(run.Status == kExitSound || run.Status == kExitFindings) << run.Err;
        EXPECT_EQ(run.Err, "");
      }
      ++inputs;
    }
  }
  EXPECT_GT(inputs, 0) << "the corpora were not found";
}

}  // namespace
}  // namespace kura::tool
