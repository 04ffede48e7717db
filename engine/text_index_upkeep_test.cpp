// The text index upkeep on real table files: a model run of random texts inserted, edited
// (words, memo contents, row numbers) and deleted, checked after every step against the
// words a plain splitter finds in the live texts, and edits that touch only changed words.
#include "engine/text_index_upkeep.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <iterator>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "base/engine_codes.h"
#include "engine/blob_cursor_test_support.h"
#include "engine/cursor_blobs.h"
#include "engine/cursor_test_support.h"
#include "engine/data_cursor.h"
#include "engine/data_table.h"
#include "engine/table_test_support.h"
#include "storage/file_test_support.h"
#include "storage/index_key.h"
#include "storage/little_endian.h"
#include "storage/record_image.h"

namespace kura {
namespace {

using testing::BlobAccountingProblem;
using testing::CreateBlobsTable;
using testing::InsertRow;
using testing::kNameField;
using testing::kNoteField;
using testing::PostRecordBlobs;
using testing::RaisedCode;
using testing::StoredRecord;
using testing::TEngineSandbox;
using testing::TScratchFolder;

using TBuffer = std::vector<std::uint8_t>;
// (field number, word, RowId, record number) of one key.
using TKeyEntry = std::tuple<int, std::string, std::int32_t, std::int32_t>;

// The words a plain splitter finds: runs of ASCII letters and digits, upper-cased, without
// the default stop words. The texts of these tests use nothing else.
std::set<std::string> PlainWords(const std::string& text) {
  static const std::set<std::string> stopWords = {
      "A",  "AN",   "AND", "BE",   "FOR", "HOW", "IN",   "IS",   "IT",    "OF",  "ON",
      "OR", "THAT", "THE", "THIS", "TO",  "WAS", "WHAT", "WHEN", "WHICH", "WHY", "WILL"};
  std::set<std::string> words;
  std::string word;
  for (std::size_t i = 0; i <= text.size(); ++i) {
    const char c = i < text.size() ? text[i] : ' ';
    if (std::isalnum(static_cast<unsigned char>(c))) {
      word += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    } else if (!word.empty()) {
      if (!stopWords.contains(word)) words.insert(word);
      word.clear();
    }
  }
  return words;
}

class TextIndexUpkeepTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sandbox = std::make_unique<TEngineSandbox>(folder.Path());
    CreateBlobsTable(sandbox->Directory(), "T", true);
    cursor = std::make_unique<TDataCursor>(sandbox->Directory());
    cursor->SetTableName("T");
    cursor->Open();
    params = cursor->TextIndexParams();
  }

  TDataTable& Table() { return *cursor->Table(); }

  std::set<TKeyEntry> IndexKeys() {
    std::set<TKeyEntry> keys;
    Table().AcquireReadLock();
    Table().Index().Tree(kSysTextSlot).ForEachKey([&](const std::uint8_t* key, std::int32_t n) {
      EXPECT_EQ(key[0], 1);
      const int fieldNo = key[1] << 8 | key[2];
      const std::uint8_t* word = key + 3;
      std::size_t length = 0;
      while (length < static_cast<std::size_t>(kTextWordSize) && word[length] != 0) ++length;
      keys.emplace(fieldNo, std::string(word, word + length),
                   GetRowIdSuffix(key + 3 + kTextWordSize), n);
    });
    Table().ReleaseReadLock();
    return keys;
  }

  // Replaces the memo of a record buffer through the cursor's buffers (left modified).
  void SetNote(TBuffer& buffer, const std::string& text) {
    std::uint32_t size = 0;
    ASSERT_EQ(cursor->OpenBlob(kNoteField, buffer, size, TBlobOpenMode::ReadWrite, true), 0);
    ASSERT_EQ(cursor->TruncateBlob(kNoteField, buffer, 0), 0);
    ASSERT_EQ(cursor->WriteBlob(kNoteField, buffer, 0, static_cast<std::uint32_t>(text.size()),
                                reinterpret_cast<const std::uint8_t*>(text.data())),
              0);
    ASSERT_EQ(cursor->CloseBlob(kNoteField, buffer), 0);
  }

  // A new record with the texts, its words added: answers its number.
  std::int32_t Insert(std::int32_t id, const std::string& name, const std::string& note) {
    const std::int32_t n = InsertRow(Table(), id, name);
    TBuffer buffer = StoredRecord(Table(), n);
    if (!note.empty()) SetNote(buffer, note);
    Table().AcquireWriteLock();
    AddRecordWords(Table(), params, buffer, n, &cursor->Blobs());
    Table().ReleaseWriteLock();
    PostRecordBlobs(*cursor, buffer, n);
    return n;
  }

  // Edits record n: a new name and note (nullptr keeps them) and RowId (0 keeps it).
  // Answers what the upkeep changed.
  TTextIndexChange Edit(std::int32_t n, const std::string* name, const std::string* note,
                        std::int32_t rowId = 0) {
    const TBuffer old = StoredRecord(Table(), n);
    TBuffer buffer = old;
    if (name != nullptr) cursor->SetField(kNameField, buffer, name->c_str());
    if (note != nullptr) SetNote(buffer, *note);
    if (rowId != 0) SetRowId(buffer, rowId);
    Table().AcquireWriteLock();
    const TTextIndexChange change =
        TextIndexChange(RecordWords(Table(), params, old, nullptr),
                        RecordWords(Table(), params, buffer, &cursor->Blobs()), rowId != 0);
    UpdateRecordWords(Table(), params, old, buffer, n, &cursor->Blobs());
    Table().ReleaseWriteLock();
    PostRecordBlobs(*cursor, buffer, n);
    if (rowId != 0) {
      TBuffer stored = StoredRecord(Table(), n);
      SetRowId(stored, rowId);
      testing::StoreRecord(Table(), n, stored);
    }
    return change;
  }

  void Delete(std::int32_t n) {
    Table().AcquireWriteLock();
    TBuffer stored = StoredRecord(Table(), n);
    RemoveRecordWords(Table(), params, stored);
    cursor->Blobs().EmptyRecordBlobs(Table(), Table().Data().Descriptors(), stored, n);
    Table().ReleaseWriteLock();
    testing::StoreRecord(Table(), n, stored);
    testing::DeleteRow(Table(), n);
  }

  TScratchFolder folder;
  std::unique_ptr<TEngineSandbox> sandbox;
  std::unique_ptr<TDataCursor> cursor;
  TTextIndexParams params;
};

TEST_F(TextIndexUpkeepTest, TheTextIndexCoversTheNamedStringAndMemoFields) {
  const std::vector<TFieldDescriptor> fields = TextIndexFields(Table());
  ASSERT_EQ(fields.size(), 2u);
  EXPECT_EQ(fields[0].FieldNo, kNameField);
  EXPECT_EQ(fields[1].FieldNo, kNoteField);
  // Neither an integer nor a binary BLOB can be named; nor can 17 fields.
  Table().AcquireWriteLock();
  const std::uint16_t id[] = {testing::kIdField};
  const std::uint16_t binary[] = {testing::kDataField};
  const std::uint16_t missing[] = {9};
  const std::vector<std::uint16_t> many(17, kNameField);
  EXPECT_EQ(RaisedCode([&] { Table().Index().SetTextIndex(id); }), codes::kInvalidIndexField);
  EXPECT_EQ(RaisedCode([&] { Table().Index().SetTextIndex(binary); }), codes::kInvalidIndexField);
  EXPECT_EQ(RaisedCode([&] { Table().Index().SetTextIndex(missing); }),
            codes::kInvalidIndexFieldNumber);
  EXPECT_EQ(RaisedCode([&] { Table().Index().SetTextIndex(many); }), codes::kIndexLimits);
  Table().ReleaseWriteLock();
  EXPECT_EQ(TextIndexFields(Table()).size(), 2u) << "a refused definition changes nothing";
}

TEST_F(TextIndexUpkeepTest, EachDistinctWordOnceWithoutStopWords) {
  const std::int32_t n = Insert(1, "Go go GO, the stone", "The stone; a stone-wall. Go!");
  const std::int32_t rowId = RowId(StoredRecord(Table(), n));
  const std::set<TKeyEntry> expected = {
      {kNameField, "GO", rowId, n},    {kNameField, "STONE", rowId, n},
      {kNoteField, "STONE", rowId, n}, {kNoteField, "WALL", rowId, n},
      {kNoteField, "GO", rowId, n},
  };
  EXPECT_EQ(IndexKeys(), expected);
}

TEST_F(TextIndexUpkeepTest, AnEditTouchesOnlyTheWordsThatChanged) {
  const std::int32_t n = Insert(1, "Go stone", "black white life");
  Table().AcquireWriteLock();
  Table().FlushBuffers();
  Table().ReleaseWriteLock();
  ASSERT_FALSE(Table().Index().HasChangedPages());

  // The same words in another order and spelling: the index is not touched at all.
  const std::string sameName = "STONE,  go";
  const std::string sameNote = "life. White black";
  TTextIndexChange change = Edit(n, &sameName, &sameNote);
  EXPECT_TRUE(change.Removed.empty());
  EXPECT_TRUE(change.Added.empty());
  EXPECT_FALSE(Table().Index().HasChangedPages());

  // One word of the memo replaced: one key out, one key in.
  const std::string newNote = "black white death";
  change = Edit(n, nullptr, &newNote);
  EXPECT_EQ(change.Removed, (TRecordWords{{kNoteField, {"LIFE"}}}));
  EXPECT_EQ(change.Added, (TRecordWords{{kNoteField, {"DEATH"}}}));
  const std::int32_t rowId = RowId(StoredRecord(Table(), n));
  EXPECT_TRUE(IndexKeys().contains({kNoteField, "DEATH", rowId, n}));
  EXPECT_FALSE(IndexKeys().contains({kNoteField, "LIFE", rowId, n}));

  // A new row number moves every key.
  change = Edit(n, nullptr, nullptr, rowId + 100);
  EXPECT_EQ(change.Removed.at(kNameField).size(), 2u);
  EXPECT_EQ(change.Added.at(kNoteField).size(), 3u);
  for (const TKeyEntry& key : IndexKeys()) EXPECT_EQ(std::get<2>(key), rowId + 100);
}

TEST_F(TextIndexUpkeepTest, AMissingKeyIsReportedAsADamagedIndex) {
  const std::int32_t n = Insert(1, "Go", "");
  TBuffer stored = StoredRecord(Table(), n);
  SetRowId(stored, RowId(stored) + 7);  // its keys carry the real row number
  Table().AcquireWriteLock();
  EXPECT_EQ(RaisedCode([&] { RemoveRecordWords(Table(), params, stored); }),
            codes::kIndexPagesCorrupt);
  Table().ReleaseWriteLock();
}

// --- Model run ----------------------------------------------------------------------------

class TextIndexModelTest : public TextIndexUpkeepTest, public ::testing::WithParamInterface<int> {};

TEST_P(TextIndexModelTest, KeysAreExactlyTheWordsOfTheLiveTexts) {
  const unsigned seed = static_cast<unsigned>(GetParam());
  std::mt19937 random(seed);
  const auto draw = [&](int below) {
    return static_cast<int>(random() % static_cast<unsigned>(below));
  };
  static const char* const vocabulary[] = {
      "Go",    "go",  "GO",     "stone",  "Stone", "ko",    "atari", "the",   "The",   "a",
      "An",    "of",  "joseki", "tesuji", "sente", "gote",  "Black", "white", "WHITE", "life",
      "death", "eye", "eyes",   "seki",   "to",    "WHICH", "9dan",  "x1",    "hane",  "nobi"};
  static const char* const separators[] = {" ", ", ", ".", "-", "  ", "\t", "/", "*"};
  const auto text = [&](std::size_t limit, int words) {
    std::string result;
    const int count = draw(words + 1);
    for (int i = 0; i < count; ++i) {
      std::string next = (i > 0 ? separators[draw(8)] : "") + std::string(vocabulary[draw(30)]);
      if (result.size() + next.size() > limit) break;
      result += next;
    }
    return result;
  };

  struct TLive {
    std::int32_t RowId;
    std::string Name;
    std::string Note;
  };
  std::map<std::int32_t, TLive> live;
  std::int32_t nextId = 1;
  std::int32_t nextRowId = 1000;
  for (int step = 0; step < 160; ++step) {
    const std::string where = "seed " + std::to_string(seed) + " step " + std::to_string(step);
    const int action = draw(100);
    if (action < 40 || live.empty()) {
      const std::string name = text(20, 5);
      const std::string note = text(400, 40);
      const std::int32_t n = Insert(nextId++, name, note);
      live[n] = {RowId(StoredRecord(Table(), n)), name, note};
    } else if (action < 85) {
      auto it = std::next(live.begin(), draw(static_cast<int>(live.size())));
      TLive& record = it->second;
      const std::string name = text(20, 5);
      // Mostly a small change of the memo: one word added or the text replaced.
      const std::string note =
          draw(2) == 0 ? record.Note + " " + vocabulary[draw(30)] : text(400, 40);
      const bool changeName = draw(2) == 0;
      const bool changeNote = draw(3) != 0;
      const std::int32_t rowId = draw(10) == 0 ? nextRowId++ : 0;
      const TTextIndexChange change =
          Edit(it->first, changeName ? &name : nullptr, changeNote ? &note : nullptr, rowId);
      const std::string newName = changeName ? name : record.Name;
      const std::string newNote = changeNote ? note : record.Note;
      if (rowId == 0) {
        // Only the words that differ.
        for (auto [fieldNo, oldText, newText] : {std::tuple{kNameField, record.Name, newName},
                                                 std::tuple{kNoteField, record.Note, newNote}}) {
          std::set<std::string> removed, added;
          const std::set<std::string> before = PlainWords(oldText);
          const std::set<std::string> after = PlainWords(newText);
          std::set_difference(before.begin(), before.end(), after.begin(), after.end(),
                              std::inserter(removed, removed.end()));
          std::set_difference(after.begin(), after.end(), before.begin(), before.end(),
                              std::inserter(added, added.end()));
          const auto removedIt = change.Removed.find(static_cast<std::uint16_t>(fieldNo));
          const auto addedIt = change.Added.find(static_cast<std::uint16_t>(fieldNo));
          ASSERT_EQ(removedIt == change.Removed.end() ? std::set<std::string>{} : removedIt->second,
                    removed)
              << where;
          ASSERT_EQ(addedIt == change.Added.end() ? std::set<std::string>{} : addedIt->second,
                    added)
              << where;
        }
      } else {
        record.RowId = rowId;
      }
      record.Name = newName;
      record.Note = newNote;
    } else {
      auto it = std::next(live.begin(), draw(static_cast<int>(live.size())));
      Delete(it->first);
      live.erase(it);
    }

    std::set<TKeyEntry> expected;
    for (const auto& [n, record] : live) {
      for (const std::string& word : PlainWords(record.Name))
        expected.emplace(kNameField, word, record.RowId, n);
      for (const std::string& word : PlainWords(record.Note))
        expected.emplace(kNoteField, word, record.RowId, n);
    }
    ASSERT_EQ(IndexKeys(), expected) << where;
    if (step % 20 == 19) {
      Table().AcquireReadLock();
      const TTreeCheckReport report = Table().Index().CheckTree(kSysTextSlot);
      Table().ReleaseReadLock();
      ASSERT_TRUE(report.Ok()) << where << "\n" << report.Text();
      ASSERT_EQ(BlobAccountingProblem(Table()), "") << where;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Seeds, TextIndexModelTest, ::testing::Values(11, 12, 13));

}  // namespace
}  // namespace kura
