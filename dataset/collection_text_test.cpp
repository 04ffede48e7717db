#include "dataset/collection_text.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <random>

#include "base/engine_error.h"

namespace kura {
namespace {

namespace fs = std::filesystem;

constexpr const char* kMondaiHeader = "MNB\tHNB\tKB1\tKB2\tMRK\tCMT\tHNT\n";
constexpr const char* kTejunHeader = "TNB\tHNB\tTES\tCOL\tPST\tBFR\tBTO\tCMT\n";

class CollectionTextTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = fs::temp_directory_path() / ("collection_text_test_" + std::to_string(getpid()));
    fs::remove_all(folder_);
    fs::create_directories(folder_);
    Write("mondai.tsv", std::string("# sample\r\n") + kMondaiHeader +
                            "1\t1\t活きる\tハネ\t○\t\t急所は？\n2\t2\t詰碁\t\t\t～\t\n");
    Write("tejun.tsv", std::string(kTejunHeader) + "1\t1\t0\t1\t20\t1\t9999\t\n" +
                           "2\t1\t1\t-2\t21\t2\t1\t悪手\n");
  }
  void TearDown() override { fs::remove_all(folder_); }

  void Write(const char* name, const std::string& text) {
    std::ofstream(folder_ / name, std::ios::binary) << text;
  }

  std::string LoadError() {
    try {
      LoadProblemCollection(folder_);
    } catch (const EKuraEngineError& error) {
      return error.what();
    }
    return "loaded";
  }

  fs::path folder_;
};

TEST_F(CollectionTextTest, LoadsRowsInOrderAsCodePage932) {
  std::shared_ptr<TMemoryDatabase> database = LoadProblemCollection(folder_);
  std::vector<TRecord> mondai = database->Rows("mondai");
  ASSERT_EQ(mondai.size(), 2u);
  EXPECT_EQ(mondai[0][2].Text, "\x8A\x88\x82\xAB\x82\xE9");  // 活きる
  EXPECT_EQ(mondai[0][4].Text, "\x81\x9B");                  // ○
  EXPECT_TRUE(mondai[0][5].IsNull);
  EXPECT_EQ(mondai[1][5].Text, "\x81\x60");  // the fullwidth tilde
  std::vector<TRecord> tejun = database->Rows("tejun");
  ASSERT_EQ(tejun.size(), 2u);
  EXPECT_EQ(tejun[0][6].Integer, 9999);
  EXPECT_EQ(tejun[1][3].Integer, -2);
}

TEST_F(CollectionTextTest, SavedCollectionReadsBackTheSame) {
  std::shared_ptr<TMemoryDatabase> database = LoadProblemCollection(folder_);
  database->AppendRow("mondai", TRecord{TFieldValue::OfInteger(3),
                                        TFieldValue::OfInteger(-7),
                                        TFieldValue::OfString("\x91\x53\x82\xC4"),
                                        {},
                                        {},
                                        {},
                                        {}});
  SaveProblemCollection(*database, folder_);
  std::shared_ptr<TMemoryDatabase> again = LoadProblemCollection(folder_);
  EXPECT_EQ(again->Rows("mondai"), database->Rows("mondai"));
  EXPECT_EQ(again->Rows("tejun"), database->Rows("tejun"));
  EXPECT_FALSE(fs::exists(folder_ / "mondai.tsv.tmp"));
}

TEST_F(CollectionTextTest, BadFilesNameTheFileAndLine) {
  struct Case {
    std::string text;
    std::string expected;  // a piece of the message
  };
  const std::string file = (folder_ / "mondai.tsv").string();
  const Case kCases[] = {
      {"MNB\tHNB\n", file + " line 1: the header must name the fields"},
      {std::string(kMondaiHeader) + "1\t2\t3\n", file + " line 2: expected 7 fields, found 3"},
      {std::string("#\n") + kMondaiHeader + "1\tx\t\t\t\t\t\n",
       file + " line 3: field HNB is not a 32-bit integer: 'x'"},
      {std::string(kMondaiHeader) + "1\t4294967296\t\t\t\t\t\n",
       "field HNB is not a 32-bit integer"},
      {std::string(kMondaiHeader) + "1\t1\t\xFF\t\t\t\t\n", "line 2: field KB1 is not UTF-8"},
      // A zero-width space has no code page 932 form: refused, never silently dropped.
      {std::string(kMondaiHeader) + "1\t1\t\xE6\xB4\xBB\xE2\x80\x8B\t\t\t\t\n",
       "line 2: field KB1 is not UTF-8 text or holds a character code page 932 lacks"},
      {"# only a comment\n", "line 1: the file has no header line"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.text);
    Write("mondai.tsv", c.text);
    const std::string message = LoadError();
    EXPECT_NE(message.find("Kura Engine Error # 11300"), std::string::npos) << message;
    EXPECT_NE(message.find(c.expected), std::string::npos) << message;
  }
  fs::remove(folder_ / "tejun.tsv");
  Write("mondai.tsv", kMondaiHeader);
  EXPECT_EQ(LoadError(), "Kura Engine Error # 11010 Table '" + (folder_ / "tejun.tsv").string() +
                             "' does not exist");
}

TEST_F(CollectionTextTest, RandomlyDamagedFilesLoadOrRaiseAnEngineError) {
  // Bytes flipped, cut or repeated anywhere in a good file: the loader either takes the file
  // or refuses it with an engine error; it never crashes or throws anything else.
  const std::string good = std::string(kTejunHeader) + "1\t1\t0\t1\t20\t1\t9999\t\n" +
                           "2\t1\t1\t-2\t21\t2\t1\t悪手\n3\t1\t2\t1\t22\t3\t2\tコメント\n";
  const char pieces[] = {'\t', '\n', '\r', '#', '-', '9', '0', ' ', '\xFF', '\x83', '\0'};
  std::mt19937 rng(20261209);
  for (int round = 0; round < 2000; ++round) {
    std::string text = good;
    const int changes = 1 + static_cast<int>(rng() % 4);
    for (int i = 0; i < changes && !text.empty(); ++i) {
      const std::size_t at = rng() % text.size();
      switch (rng() % 3) {
        case 0:
          text[at] = pieces[rng() % sizeof(pieces)];
          break;
        case 1:
          text.erase(at, 1 + rng() % 8);
          break;
        default:
          text.insert(at, text.substr(at, 1 + rng() % 8));
          break;
      }
    }
    Write("tejun.tsv", text);
    try {
      auto database = LoadProblemCollection(folder_);
      for (const TRecord& row : database->Rows("tejun")) EXPECT_EQ(row.size(), 8u);
    } catch (const EKuraEngineError&) {
    }
  }
}

}  // namespace
}  // namespace kura
