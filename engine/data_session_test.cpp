// Sessions and directories: initial settings, the private directory, passwords, how
// OpenDirectory normalises and matches paths, reference counts, progress steps, and the
// process-wide default session.
#include "engine/data_session.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "base/engine_error.h"
#include "engine/data_directory.h"
#include "storage/file_test_support.h"

namespace kura {
namespace {

using testing::RaisedCode;

std::string WorkingFolder() {
  return NormaliseDirectoryPath(std::filesystem::current_path().string());
}

TEST(DataSessionTest, StartsWithTheDocumentedDefaults) {
  TDataSession session;
  EXPECT_FALSE(session.ServerSide());
  EXPECT_TRUE(session.Directories().empty());
  EXPECT_TRUE(session.Passwords().empty());
  EXPECT_EQ(session.WorkingDir(), WorkingFolder());
  EXPECT_EQ(session.WorkingDir().back(), '/');
  EXPECT_EQ(session.GetPrivateDir(),
            NormaliseDirectoryPath(std::filesystem::temp_directory_path().string()));
  EXPECT_FALSE(session.ForceBufferFlush());
  EXPECT_FALSE(session.StrictChangeDetection());
  EXPECT_EQ(session.LockRetryCount(), 15);
  EXPECT_EQ(session.LockWaitTime(), 100);
  EXPECT_EQ(session.LockProtocol(), TRecordLockProtocol::lpPessimistic);
  EXPECT_EQ(session.ProgressSteps(), 20);
  EXPECT_EQ(session.RecordBufferBytes(), 16384);
  EXPECT_EQ(session.RecordBufferCount(), 8192);
  EXPECT_EQ(session.IndexBufferBytes(), 16384);
  EXPECT_EQ(session.BlobBufferBytes(), 32768);
  EXPECT_EQ(session.BlobBufferCount(), 8192);
  EXPECT_EQ(session.LockRetryRules().FixedTries, 32767u);
  EXPECT_EQ(session.LockRetryRules().FixedPauseMs, 3u);
  EXPECT_EQ(session.SessionType(), TSessionType::stLocal);
  EXPECT_EQ(RaisedCode([&] { session.SetSessionType(TSessionType::stRemote); }), 11280);
  EXPECT_EQ(session.SessionType(), TSessionType::stLocal);
}

TEST(DataSessionTest, PrivateDirIsTrimmedAndEndsWithASeparator) {
  struct Case {
    const char* given;
    const char* stored;
  };
  const Case cases[] = {
      {" /tmp/work ", "/tmp/work/"},
      {"/tmp/work/", "/tmp/work/"},
      {"C:\\Temp\\Kura", "C:/Temp/Kura/"},
      {"   ", ""},  // blanks only: nothing left, so the working directory (never "/")
  };
  for (const Case& c : cases) {
    TDataSession session;
    session.SetPrivateDir(c.given);
    EXPECT_EQ(session.PrivateDirSetting(), c.stored) << c.given;
    EXPECT_EQ(session.GetPrivateDir(), *c.stored ? c.stored : session.WorkingDir()) << c.given;
  }
  TDataSession session;
  session.SetPrivateDir("");
  EXPECT_EQ(session.PrivateDirSetting(), "");
  EXPECT_EQ(session.GetPrivateDir(), session.WorkingDir());
  EXPECT_EQ(RaisedCode([&] { session.SetPrivateDir(std::string(300, 'a')); }), 11293);
  EXPECT_EQ(session.PrivateDirSetting(), "");
}

TEST(DataSessionTest, PasswordsAreKeptOnceAndComparedExactly) {
  TDataSession session;
  session.AddPassword("Secret");
  session.AddPassword("Secret");
  session.AddPassword("");
  session.AddPassword("secret");
  EXPECT_EQ(session.Passwords(), (std::vector<std::string>{"Secret", "secret"}));
  EXPECT_TRUE(session.HasPassword("Secret"));
  EXPECT_FALSE(session.HasPassword("SECRET"));
  session.RemovePassword("unknown");
  EXPECT_EQ(session.Passwords().size(), 2u);
  session.RemovePassword("Secret");
  EXPECT_EQ(session.Passwords(), (std::vector<std::string>{"secret"}));
  EXPECT_EQ(RaisedCode([&] { session.AddPassword(std::string(256, 'x')); }), 10015);
  session.AddPassword(std::string(255, 'x'));
  session.RemoveAllPasswords();
  EXPECT_TRUE(session.Passwords().empty());
}

// Each row opens the first directory, then the second, in a fresh session.
TEST(DataSessionTest, OpenDirectoryNormalisesAndMatchesPaths) {
  struct Case {
    const char* firstName;
    const char* firstDirectory;
    const char* secondName;
    const char* secondDirectory;
    bool same;
    const char* path;  // of the first; "*" for the working directory
  };
  const Case cases[] = {
      {"Memory", "", "memory", "", true, ""},
      {"MEMORY", "", "mEmOrY", " ", true, ""},
      {"X", "data", "Y", "DATA\\ ", true, "data/"},
      {"X", " /srv/db", "Y", "/SRV/DB/", true, "/srv/db/"},
      {"X", "C:\\Data", "Y", "c:/data/", true, "C:/Data/"},
      {"X", "", "Y", "", true, "*"},
      {"Memory", "", "X", "", false, ""},
      {"Memory", "shared", "X", "SHARED", true, "shared/"},
      {"X", "one", "Y", "two", false, "one/"},
  };
  for (const Case& c : cases) {
    TDataSession session;
    TDataDirectory& first = session.OpenDirectory(c.firstName, c.firstDirectory);
    TDataDirectory& second = session.OpenDirectory(c.secondName, c.secondDirectory);
    const std::string label = std::string(c.firstName) + "|" + c.firstDirectory + " / " +
                              c.secondName + "|" + c.secondDirectory;
    EXPECT_EQ(&first == &second, c.same) << label;
    const std::string expected = std::string(c.path) == "*" ? session.WorkingDir() : c.path;
    EXPECT_EQ(first.Path(), expected) << label;
    EXPECT_EQ(first.DatabaseName(), c.firstName) << label;
    EXPECT_EQ(first.RefCount(), c.same ? 2 : 1) << label;
    EXPECT_EQ(session.Directories().size(), c.same ? 1u : 2u) << label;
  }
}

TEST(DataSessionTest, MemoryDirectoryHoldsInMemoryTables) {
  TDataSession session;
  TDataDirectory& memory = session.OpenDirectory("memory", "");
  EXPECT_TRUE(memory.IsInMemory());
  EXPECT_EQ(memory.TableFileName(" Orders ", ".DAT"), "Orders.DAT");
  TDataDirectory& disk = session.OpenDirectory("X", "/srv/db");
  EXPECT_FALSE(disk.IsInMemory());
  EXPECT_EQ(disk.TableFileName("Orders.dat", ".IDX"), "/srv/db/Orders.IDX");
  EXPECT_EQ(RaisedCode([&] { session.OpenDirectory("X", std::string(300, 'd')); }), 11293);
}

TEST(DataSessionTest, CloseDirectoryCountsDownAndFreesAtZero) {
  TDataSession session;
  TDataDirectory& directory = session.OpenDirectory("X", "dir");
  session.OpenDirectory("Y", "DIR");
  session.CloseDirectory(&directory);
  ASSERT_EQ(session.Directories().size(), 1u);
  EXPECT_EQ(directory.RefCount(), 1);
  session.CloseDirectory(&directory);
  EXPECT_TRUE(session.Directories().empty());
  session.CloseDirectory(&directory);  // no longer known: ignored
  session.CloseDirectory(nullptr);
  EXPECT_TRUE(session.Directories().empty());
  // Reopening the path makes a new directory with a count of one.
  TDataDirectory& again = session.OpenDirectory("X", "dir");
  EXPECT_EQ(again.RefCount(), 1);
}

TEST(DataSessionTest, ReferenceCountNeverDropsBelowZero) {
  TDataSession session;
  TDataDirectory& directory = session.OpenDirectory("X", "dir");
  EXPECT_EQ(directory.DropReference(), 0);
  EXPECT_EQ(directory.DropReference(), 0);
}

// Reports of an operation over 1000 records whose percentage is taken after each record.
std::vector<int> ProgressReports(std::uint16_t steps) {
  TDataSession session;
  session.SetProgressSteps(steps);
  TProgressSteps progress = session.MakeProgress();
  std::vector<int> reports;
  for (int done = 1; done <= 1000; ++done) {
    const int percent = done * 100 / 1000;
    if (progress.Advance(percent)) reports.push_back(percent);
  }
  if (progress.Finish()) reports.push_back(100);
  return reports;
}

TEST(DataSessionTest, ProgressStepsReportEveryStepAndOneHundredOnce) {
  std::vector<int> everyFive;
  for (int p = 5; p <= 100; p += 5) everyFive.push_back(p);
  EXPECT_EQ(ProgressReports(20), everyFive);
  EXPECT_EQ(ProgressReports(0), (std::vector<int>{100}));
  EXPECT_EQ(ProgressReports(3), (std::vector<int>{33, 66, 99, 100}));
  EXPECT_EQ(ProgressReports(1), (std::vector<int>{100}));
  // More steps than percentages: each percentage once, never the same one again.
  EXPECT_EQ(ProgressReports(1000), ([] {
              std::vector<int> all;
              for (int p = 1; p <= 100; ++p) all.push_back(p);
              return all;
            })());
}

TEST(DataSessionTest, DefaultSessionExistsOnlyAfterFirstUse) {
  FreeDefaultDataSession();
  EXPECT_FALSE(DefaultDataSessionExists());
  EXPECT_EQ(RaisedCode([] { DefaultDataSession(); }), 10758);
  TDataSession& created = EnsureDefaultDataSession();
  EXPECT_EQ(&DefaultDataSession(), &created);
  EXPECT_EQ(&EnsureDefaultDataSession(), &created);
  FreeDefaultDataSession();
  EXPECT_EQ(RaisedCode([] { DefaultDataSession(); }), 10758);
}

}  // namespace
}  // namespace kura
