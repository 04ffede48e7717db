// The index file: its header, the system indexes of a new file, index definitions and their
// codes, page caching and write-back through a real file, damaged headers and pages, limits.
#include "storage/index_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <random>

#include "base/engine_codes.h"
#include "storage/field_types.h"
#include "storage/file_test_support.h"
#include "storage/little_endian.h"

namespace kura {
namespace {

using testing::RaisedCode;

// Orders keys of one index (all of the same length) by their bytes.
struct TSameLengthLess {
  bool operator()(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b) const {
    return std::memcmp(a.data(), b.data(), std::min(a.size(), b.size())) < 0;
  }
};

TIndexDefinition Def(std::string name, std::vector<std::uint16_t> fields) {
  TIndexDefinition definition;
  definition.Name = std::move(name);
  definition.Fields = std::move(fields);
  return definition;
}

std::vector<TFieldDescriptor> TableFields() {
  std::vector<TFieldDescriptor> fields(4);
  fields[0].FieldName = "ID";
  fields[0].FieldType = kFieldTypeInteger;
  fields[1].FieldName = "NAME";
  fields[1].FieldType = kFieldTypeString;
  fields[1].FieldSize = 20;
  fields[2].FieldName = "MEMO";
  fields[2].FieldType = kFieldTypeBlob;
  fields[2].FieldSubType = kSubTypeMemo;
  fields[3].FieldName = "BIG";
  fields[3].FieldType = kFieldTypeString;
  fields[3].FieldSize = 250;
  LayoutFields(fields);
  return fields;
}

class IndexFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    static int counter = 0;
    FName = "index_file_test_" + std::to_string(++counter) + ".IDX";
  }
  std::unique_ptr<TIndexFile> MakeFile(bool encrypted = false) {
    auto file = std::make_unique<TIndexFile>();
    file->SetFileName(FName);
    file->SetInMemory(true);
    file->SetTable(TableFields(), {}, encrypted);
    return file;
  }
  std::unique_ptr<TIndexFile> Created(bool encrypted = false) {
    auto file = MakeFile(encrypted);
    file->CreateFile();
    return file;
  }
  // The raw bytes of the (closed) memory file, and a way to overwrite some of them.
  std::vector<std::uint8_t> ReadRaw() {
    TFileHandler raw;
    raw.SetFileName(FName);
    raw.SetInMemory(true);
    raw.Open();
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(raw.FileSize()));
    raw.Seek(kSeekFromStart, 0);
    raw.ReadBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()));
    return bytes;
  }
  void WriteRaw(std::int64_t position, const std::vector<std::uint8_t>& bytes) {
    TFileHandler raw;
    raw.SetFileName(FName);
    raw.SetInMemory(true);
    raw.Open();
    raw.Seek(kSeekFromStart, position);
    raw.WriteBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()));
  }
  void TearDown() override {
    TFileHandler raw;
    raw.SetFileName(FName);
    raw.SetInMemory(true);
    try {
      raw.DeleteFile();
    } catch (const EKuraEngineError&) {
    }
  }
  std::string FName;
};

TEST_F(IndexFileTest, ANewFileIsItsHeaderWithTheTwoSystemIndexes) {
  auto file = Created();
  file->Close();
  std::vector<std::uint8_t> bytes = ReadRaw();
  ASSERT_EQ(bytes.size(), 4096U);
  EXPECT_EQ(bytes[8], 5);
  EXPECT_EQ(GetI32LE(bytes.data() + 9), 1);
  EXPECT_EQ(GetI32LE(bytes.data()), 1);  // written once
  EXPECT_EQ(bytes[3979], 1);
  std::span<const std::uint8_t, 120> sysDeleted(bytes.data() + 14 + 31 * 120, 120);
  EXPECT_EQ(DecodeIndexDescriptor(sysDeleted).IndexName, "Sys Deleted");
  EXPECT_EQ(DecodeIndexDescriptor(sysDeleted).KeyLength, 5);
  std::span<const std::uint8_t, 120> sysText(bytes.data() + 14 + 32 * 120, 120);
  EXPECT_EQ(DecodeIndexDescriptor(sysText).KeyLength, 68);
  EXPECT_EQ(DecodeIndexDescriptor(sysText).Compression, 3);

  file->Open();
  EXPECT_EQ(file->FindIndexName("sys deleted"), kSysDeletedSlot);
  EXPECT_EQ(file->FindIndexName("SYS TEXT"), kSysTextSlot);
  EXPECT_EQ(file->NextPageNo(), 1);
  // The first record's "Sys Deleted" key adds a page.
  std::array<std::uint8_t, kSysDeletedKeyLength> key = {0, 0x80, 0, 0, 1};
  ASSERT_TRUE(file->Tree(kSysDeletedSlot).Insert(key.data(), 1));
  file->IncLiveRecordCount();
  file->WriteChangedPages();
  file->FlushIndexHeader(false);
  file->Close();
  bytes = ReadRaw();
  EXPECT_EQ(bytes.size(), 8192U);
  EXPECT_EQ(GetI32LE(bytes.data() + 3974), 1);
  EXPECT_EQ(bytes[4096], kPageRootLeaf);
}

TEST_F(IndexFileTest, IndexDefinitionsAndTheirCodes) {
  auto file = Created();
  TIndexDefinition byId = Def("", {1});
  file->SetPrimaryIndex(byId);
  EXPECT_TRUE(file->ReadIndexDescriptor(0).Unique);
  EXPECT_EQ(file->ReadIndexDescriptor(0).KeyLength, 5);
  EXPECT_EQ(RaisedCode([&] { file->SetPrimaryIndex(byId); }), codes::kPrimaryIndexExists);

  struct TCase {
    TIndexDefinition Definition;
    int Code;
  };
  std::vector<std::uint16_t> seventeen(17, 1);
  std::vector<TCase> cases = {
      {Def("", {2}), codes::kIndexNameMissing},
      {Def("1st", {2}), codes::kInvalidIndexName},
      {Def(" name", {2}), codes::kInvalidIndexName},
      {Def("ByMemo", {3}), codes::kInvalidIndexField},
      {Def("TooMany", seventeen), codes::kIndexLimits},
      {Def("NoField", {9}), codes::kInvalidIndexFieldNumber},
      {Def("TooLong", {4, 4, 4}), codes::kInvalidKeySize},  // 3 x 252 bytes
      {Def("_ok", {2}), 0},
      {Def("\x88\x9f", {2, 1}), 0},
      {Def("_OK", {1}), codes::kIndexExists},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Definition.Name);
    EXPECT_EQ(RaisedCode([&] { file->AddSecondaryIndex(c.Definition); }), c.Code);
  }
  EXPECT_EQ(file->SecondaryCount(), 2);
  EXPECT_EQ(file->FindIndexName("_Ok"), 1);
  TIndexDefinition nonUnique = Def("ByName", {2, 1});
  nonUnique.FieldDescending = {true};
  nonUnique.CaseInsensitive = true;
  nonUnique.Compression = kCompressFull;
  int slot = file->AddSecondaryIndex(nonUnique);
  EXPECT_EQ(slot, 3);
  TIndexDescriptor d = file->ReadIndexDescriptor(slot);
  EXPECT_EQ(d.KeyLength, 22 + 5 + 4);
  EXPECT_TRUE(d.FieldDescending[0]);
  EXPECT_TRUE(d.CaseInsensitive);
  for (int i = 4; i <= 30; ++i) {
    std::string name(1, 'I');
    name += std::to_string(i);
    file->AddSecondaryIndex(Def(name, {1}));
  }
  EXPECT_EQ(RaisedCode([&] { file->AddSecondaryIndex(Def("Extra", {1})); }), codes::kIndexLimits);
  file->DeleteIndex(1);
  EXPECT_EQ(file->SecondaryCount(), 29);
  EXPECT_EQ(file->FindIndexName("ByName"), 2);
  EXPECT_EQ(file->FindIndexName("_ok"), -1);
  EXPECT_EQ(file->ReadIndexDescriptor(30), TIndexDescriptor{});
  file->CheckIndexStructure();
  // A table with no primary index of its own.
  auto other = MakeFile();
  other->CreateIndexFile();
  other->SetPrimaryIndex(TIndexDefinition{});
  EXPECT_TRUE(other->NoPrimaryIndex());
}

// Two indexes of one file changed together through their caches of 2 pages, written back,
// reopened, and compared with ordered containers and the tree checker.
TEST_F(IndexFileTest, TreesSurviveWriteBackAndReopen) {
  for (bool encrypted : {false, true}) {
    SCOPED_TRACE(encrypted);
    auto file = Created(encrypted);
    file->SetPrimaryIndex(Def("", {1}));
    TIndexDefinition byNameDefinition = Def("ByName", {2});
    byNameDefinition.Compression = kCompressFull;
    int byName = file->AddSecondaryIndex(byNameDefinition);
    std::map<std::int32_t, std::int32_t> primary;
    std::map<std::vector<std::uint8_t>, std::int32_t, TSameLengthLess> names;
    std::mt19937 random(99);
    std::vector<std::uint8_t> record(200, 0);
    auto fields = TableFields();
    for (int op = 0; op < 6000; ++op) {
      std::int32_t id = static_cast<std::int32_t>(random() % 3000);
      std::uint8_t idBytes[4];
      PutI32LE(idBytes, id);
      SetField(record, fields[0], idBytes, false, {});
      std::string name(1, 'n');
      name += std::to_string(id % 500);
      SetField(record, fields[1], name.c_str(), false, {});
      SetRowId(record, id + 1);
      std::vector<std::uint8_t> pk(file->KeyFormat(0).KeyLength);
      std::vector<std::uint8_t> nk(file->KeyFormat(byName).KeyLength);
      BuildKey(file->KeyFormat(0), record, pk);
      BuildKey(file->KeyFormat(byName), record, nk);
      if (primary.count(id) == 0) {
        ASSERT_TRUE(file->Tree(0).Insert(pk.data(), id + 1));
        ASSERT_TRUE(file->Tree(byName).Insert(nk.data(), id + 1));
        primary[id] = id + 1;
        names[nk] = id + 1;
      } else {
        ASSERT_TRUE(file->Tree(0).Delete(pk.data()));
        ASSERT_TRUE(file->Tree(byName).Delete(nk.data()));
        primary.erase(id);
        names.erase(nk);
      }
      if (op % 1500 == 0) file->WriteChangedPages();
    }
    EXPECT_LE(file->Cache(0).Capacity(), 2U + 4U * 4U);
    file->WriteChangedPages();
    file->FlushIndexHeader(false);
    file->Close();
    file = MakeFile(encrypted);
    file->Open();
    file->CheckIndexStructure();
    for (int slot : {0, byName}) {
      TTreeCheckReport report = file->CheckTree(slot);
      EXPECT_TRUE(report.Ok()) << report.Text();
    }
    EXPECT_EQ(file->Tree(0).KeyCount(), static_cast<std::int64_t>(primary.size()));
    auto expected = names.begin();
    file->Tree(byName).ForEachKey([&](const std::uint8_t* key, std::int32_t recordNo) {
      ASSERT_NE(expected, names.end());
      EXPECT_TRUE(std::equal(expected->first.begin(), expected->first.end(), key));
      EXPECT_EQ(recordNo, expected->second);
      ++expected;
    });
    EXPECT_EQ(expected, names.end());
    file->EmptyIndexFile();
    file->FlushIndexHeader(false);
    EXPECT_EQ(file->FileSize(), 4096);
    EXPECT_EQ(file->RootPage(0), 0);
    EXPECT_EQ(file->NextPageNo(), 1);
    file->Close();
    TearDown();
  }
}

TEST_F(IndexFileTest, DamagedHeadersAreRefusedAndLeaveTheFileClosed) {
  struct TCase {
    const char* What;
    std::size_t Offset;
    std::vector<std::uint8_t> Bytes;
    int Code;
  };
  std::vector<TCase> cases = {
      {"version 4", 8, {4}, codes::kWrongVersion},
      {"NextPageNo 0", 9, {0, 0, 0, 0}, codes::kHeaderCorrupt},
      {"31 secondary indexes", 13, {31}, codes::kHeaderCorrupt},
      {"root past NextPageNo", 14 + 86, {7, 0, 0, 0}, codes::kHeaderCorrupt},
      {"17 key fields", 14 + 37, {17}, codes::kHeaderCorrupt},
      {"Sys Deleted key length", 14 + 31 * 120 + 31, {9, 0}, codes::kHeaderCorrupt},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.What);
    Created()->Close();
    WriteRaw(static_cast<std::int64_t>(c.Offset), c.Bytes);
    auto file = MakeFile();
    EXPECT_EQ(RaisedCode([&] { file->Open(); }), c.Code);
    EXPECT_FALSE(file->IsOpen());
    TearDown();
  }
  Created()->Close();
  {
    TFileHandler raw;
    raw.SetFileName(FName);
    raw.SetInMemory(true);
    raw.Open();
    raw.Seek(kSeekFromStart, 100);
    raw.WriteBuffer(nullptr, 0);  // a header cut short
  }
  auto file = MakeFile();
  EXPECT_EQ(RaisedCode([&] { file->Open(); }), codes::kHeaderCorrupt);
}

// A stored header that contradicts itself is refused before anything relies on it: a header
// written back from it would drop a slot marked temporary, and the changes of a table
// without a primary index would leave the index in slot 0 stale.
TEST_F(IndexFileTest, StoredHeadersThatContradictThemselvesAreRefused) {
  constexpr std::size_t kNoPrimary = 3978;
  constexpr std::size_t kTemporary = 14 + 101;  // slot 0's TemporaryIndex byte
  struct TCase {
    const char* What;
    bool Primary;  // the file has a primary index on ID (else NoPrimaryIndex is 1)
    std::size_t Offset;
    std::uint8_t Byte;
    int Code;
    const char* Text;  // what the error text says
  } cases[] = {
      {"NoPrimaryIndex 2", false, kNoPrimary, 2, codes::kHeaderCorrupt, "NoPrimaryIndex is 2"},
      {"NoPrimaryIndex 255", true, kNoPrimary, 255, codes::kHeaderCorrupt, "neither 0 nor 1"},
      {"NoPrimaryIndex beside a primary index", true, kNoPrimary, 1, codes::kIndexPagesCorrupt,
       "slot 0 still holds"},
      {"primary index marked temporary", true, kTemporary, 1, codes::kIndexPagesCorrupt,
       "index slot 0 is marked temporary"},
      {"secondary index marked temporary", true, kTemporary + 120, 1, codes::kIndexPagesCorrupt,
       "index slot 1 is marked temporary"},
      {"Sys Text marked temporary", false, kTemporary + 32 * 120, 1, codes::kIndexPagesCorrupt,
       "index slot 32"},
      {"sound: no primary index", false, kNoPrimary, 1, 0, ""},
      {"sound: a primary index", true, kNoPrimary, 0, 0, ""},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.What);
    {
      auto file = Created();
      file->SetPrimaryIndex(
          Def("", c.Primary ? std::vector<std::uint16_t>{1} : std::vector<std::uint16_t>{}));
      file->AddSecondaryIndex(Def("ByName", {2}));
      file->FlushIndexHeader(false);
      file->Close();
    }
    WriteRaw(static_cast<std::int64_t>(c.Offset), {c.Byte});
    auto file = MakeFile();
    try {
      file->Open();
      EXPECT_EQ(c.Code, 0);
      EXPECT_EQ(file->NoPrimaryIndex(), !c.Primary);
    } catch (const EKuraEngineError& e) {
      EXPECT_EQ(e.ErrorCode, c.Code);
      EXPECT_NE(e.ErrorText.find(c.Text), std::string::npos) << e.ErrorText;
      EXPECT_EQ(e.ErrorTableName, FName);
      EXPECT_FALSE(file->IsOpen());
    }
    TearDown();
  }
}

TEST_F(IndexFileTest, DamagedPagesGive8965AndTheFileLimitGives9479) {
  auto file = Created();
  file->SetPrimaryIndex(Def("", {1}));
  std::vector<std::uint8_t> key(5, 0);
  for (int i = 0; i < 2000; ++i) {
    PutUnsignedBE(key.data() + 1, static_cast<std::uint32_t>(i), 4);
    key[0] = 1;
    ASSERT_TRUE(file->Tree(0).Insert(key.data(), i + 1));
  }
  file->WriteChangedPages();
  file->FlushIndexHeader(false);
  std::int32_t root = file->RootPage(0);
  file->Close();
  // The root's first entry claims more entries than a page can hold.
  WriteRaw(static_cast<std::int64_t>(root) * 4096 + 1, {0xFF, 0x7F});
  file = MakeFile();
  file->Open();
  EXPECT_EQ(RaisedCode([&] { file->Tree(0).Insert(key.data(), 1); }), codes::kIndexPagesCorrupt);
  EXPECT_FALSE(file->CheckTree(0).Ok());
  // A free chain that runs into the tree: its head is the root, a page with entries.
  file->Close();
  std::vector<std::uint8_t> freeHead(4);
  PutI32LE(freeHead.data(), root);
  WriteRaw(14 + 90, freeHead);
  file = MakeFile();
  file->Open();
  EXPECT_EQ(RaisedCode([&] { file->NewPage(0); }), codes::kIndexPagesCorrupt);
  EXPECT_FALSE(file->CheckTree(0).Ok());
  file->Close();
}

TEST_F(IndexFileTest, AHeaderClaimingPagesPastTheFileIsRefused) {
  Created()->Close();
  std::vector<std::uint8_t> next(4);
  PutI32LE(next.data(), 5);
  WriteRaw(9, next);  // five pages claimed, none there
  auto file = MakeFile();
  EXPECT_EQ(RaisedCode([&] { file->Open(); }), codes::kHeaderCorrupt);
}

// The file can hold 976 562 pages of 4096 bytes below 4 000 000 000 bytes (a sparse disk file
// stands in for a full one).
TEST(IndexFileLimits, APagePast4000000000BytesGives9479) {
  testing::TScratchFolder folder;
  const std::string name = folder.File("full.IDX");
  {
    TIndexFile file;
    file.SetFileName(name);
    file.SetTable({}, {}, false);
    file.CreateFile();
    file.Close();
  }
  {
    TFileHandler raw;
    raw.SetFileName(name);
    raw.Open();
    std::vector<std::uint8_t> next(4);
    PutI32LE(next.data(), 976'561);
    raw.Seek(kSeekFromStart, 9);
    raw.WriteBuffer(next.data(), 4);
    std::uint8_t zero = 0;
    raw.Seek(kSeekFromStart, std::int64_t{976'561} * 4096 - 1);
    raw.WriteBuffer(&zero, 1);
  }
  TIndexFile file;
  file.SetFileName(name);
  file.SetTable({}, {}, false);
  file.Open();
  TPage* page = file.NewPage(1);
  EXPECT_EQ(page->PageNo(), 976'561);
  file.ReleasePage(1, page);
  EXPECT_EQ(RaisedCode([&] { file.NewPage(1); }), codes::kTableFull);
  file.DiscardPages();
  file.Close();
}

}  // namespace
}  // namespace kura
