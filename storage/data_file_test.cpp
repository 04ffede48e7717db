// The data file: its header and descriptors byte by byte, the structure check, the limits,
// scrambling, the free chain, the record cache, and the reads and writes a scan or a bulk
// change costs (counted through failing files, never timed).
#include "storage/data_file.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "storage/failing_file.h"
#include "storage/field_types.h"
#include "storage/file_test_support.h"
#include "storage/little_endian.h"
#include "storage/record_image.h"

namespace kura {
namespace {

using testing::InstallFailingFiles;
using testing::RaisedCode;
using testing::TFileFaults;

TFieldDescriptor Field(const std::string& name, std::uint8_t type, std::uint8_t size = 0,
                       std::uint8_t subType = 0) {
  TFieldDescriptor field;
  field.FieldName = name;
  field.FieldType = type;
  field.FieldSize = size;
  field.FieldSubType = subType;
  return field;
}

// A field name of a letter and a number ("B7").
std::string NumberedName(char letter, int number) {
  char name[16];
  std::snprintf(name, sizeof name, "%c%d", letter, number);
  return name;
}

// Two fields: an integer and a string of 10 (record size 9 + 5 + 12 = 26).
std::vector<TFieldDescriptor> TwoFields() {
  return {Field("ID", kFieldTypeInteger), Field("NAME", kFieldTypeString, 10)};
}

// One string field that makes records of exactly 100 bytes: 9 + 1 + (89 + 1).
std::vector<TFieldDescriptor> HundredByteFields() {
  return {Field("TEXT", kFieldTypeString, 89)};
}

class DataFileTest : public ::testing::Test {
 protected:
  DataFileTest() { InstallFailingFiles(list, faults); }

  std::unique_ptr<TDataFile> NewFile(const std::string& name = "T.DAT") {
    auto file = std::make_unique<TDataFile>(list);
    file->SetFileName(name);
    file->SetInMemory(true);
    return file;
  }

  // A created, flushed and closed table.
  void Create(const std::vector<TFieldDescriptor>& fields, TDataFileSettings settings = {},
              const std::string& name = "T.DAT") {
    auto file = NewFile(name);
    file->CreateDataFile(fields, settings);
    file->FlushHeader(false);
    file->Close();
  }

  std::unique_ptr<TDataFile> Opened(const std::string& name = "T.DAT") {
    auto file = NewFile(name);
    file->Open();
    return file;
  }

  std::string Bytes(const std::string& name = "T.DAT") {
    TFileHandler raw(list);
    raw.SetFileName(name);
    raw.SetInMemory(true);
    raw.Open();
    std::string bytes(static_cast<std::size_t>(raw.FileSize()), '\0');
    raw.ReadBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()));
    return bytes;
  }

  void SetBytes(const std::string& bytes, const std::string& name = "T.DAT") {
    TFileHandler raw(list);
    raw.SetFileName(name);
    raw.SetInMemory(true);
    raw.CreateFile();
    raw.WriteBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()));
  }

  // Appends count records whose first field holds their number (and writes them back).
  static void AppendNumbered(TDataFile& file, int count) {
    const TFieldDescriptor& id = *file.DescriptorByNumber(1);
    for (int i = 0; i < count; ++i) {
      TRecord* record = file.NewRecordSlot();
      std::int32_t lastRowId = file.LastAutoInc();
      InitRecord(record->Image, record->Number, true, lastRowId);
      file.SetLastAutoInc(lastRowId);
      if (id.FieldType == kFieldTypeInteger) {
        std::uint8_t value[4];
        PutI32LE(value, record->Number);
        SetField(record->Image, id, value, false, {});
      }
      file.MarkRecordChanged(record);
      file.ReleaseRecord(record);
    }
  }

  TFileList list;
  TFileFaults faults;
};

TEST(DataHeaderTest, FieldsSitAtTheirOffsetsAndRoundTrip) {
  TDataHeader header;
  header.ChangeCount = -2;
  header.BlobBlockSize = 1024;
  header.FirstFree = 0x01020304;
  header.NextRecordNo = 77;
  header.LastAutoInc = 9;
  header.RecordSize = 0xABCD;
  header.FieldCount = 3;
  header.BlobFieldCount = 1;
  header.LastUpdated = 1234.5;
  header.Description = {4, 'a', 'b', 'c', 'd'};
  header.Encrypted = 1;
  header.Password = {2, 'p', 'w'};
  header.LanguageId = 0x0411;
  header.SortId = 1;
  header.UserMajorVersion = 7;
  header.UserMinorVersion = 8;
  header.HeaderChanged = 1;
  header.LastBlobChange = 55;
  header.EngineVersion = kEngineVersion;
  header.Reserved = {1, 2, 3};
  std::array<std::uint8_t, kDataHeaderSize> bytes{};
  EncodeDataHeader(header, bytes);
  EXPECT_EQ(GetI32LE(&bytes[0]), -2);
  EXPECT_EQ(GetU32LE(&bytes[4]), 1024u);
  EXPECT_EQ(bytes[8], 5);
  EXPECT_EQ(GetI32LE(&bytes[9]), 0x01020304);
  EXPECT_EQ(GetI32LE(&bytes[13]), 77);
  EXPECT_EQ(GetI32LE(&bytes[17]), 9);
  EXPECT_EQ(GetU16LE(&bytes[21]), 0xABCD);
  EXPECT_EQ(GetU16LE(&bytes[23]), 3);
  EXPECT_EQ(GetI16LE(&bytes[25]), 1);
  EXPECT_EQ(GetF64LE(&bytes[27]), 1234.5);
  EXPECT_EQ(bytes[35], 4);
  EXPECT_EQ(bytes[36], 'a');
  EXPECT_EQ(bytes[86], 1);
  EXPECT_EQ(bytes[87], 2);
  EXPECT_EQ(bytes[88], 'p');
  EXPECT_EQ(GetI16LE(&bytes[103]), 0x0411);
  EXPECT_EQ(GetI16LE(&bytes[105]), 1);
  EXPECT_EQ(GetI16LE(&bytes[107]), 7);
  EXPECT_EQ(GetI16LE(&bytes[109]), 8);
  EXPECT_EQ(bytes[111], 1);
  EXPECT_EQ(GetI32LE(&bytes[112]), 55);
  EXPECT_EQ(GetI64LE(&bytes[116]), 33000);
  EXPECT_EQ(bytes[124], 1);
  EXPECT_EQ(bytes[126], 3);
  std::array<std::uint8_t, kDataHeaderSize> again{};
  EncodeDataHeader(DecodeDataHeader(bytes), again);
  EXPECT_EQ(again, bytes);
}

TEST(ScrambleTest, TwiceRestoresAndMultiplesOf65536AreLeftAlone) {
  std::mt19937 random(7);
  for (std::size_t length : {1u, 2u, 50u, 768u, 65535u, 65537u, 131073u}) {
    std::vector<std::uint8_t> buffer(length);
    for (auto& byte : buffer) byte = static_cast<std::uint8_t>(random());
    const auto original = buffer;
    const auto low = static_cast<std::uint8_t>(random());
    const auto high = static_cast<std::uint8_t>(random());
    Scramble(buffer, low, high);
    EXPECT_NE(buffer, original) << length;
    auto wrongSeeds = buffer;
    Scramble(wrongSeeds, static_cast<std::uint8_t>(low + 1), high);
    EXPECT_NE(wrongSeeds, original) << "other seeds give garbage, not an error";
    Scramble(buffer, low, high);
    EXPECT_EQ(buffer, original) << length;
  }
  for (std::size_t length : {65536u, 196608u, 256u * 768u}) {
    std::vector<std::uint8_t> buffer(length, 0x5A);
    Scramble(buffer, kDataScrambleLow, kDataScrambleHigh);
    EXPECT_EQ(buffer, std::vector<std::uint8_t>(length, 0x5A)) << length;
  }
  // The stream: byte i is XORed with (low + i) and (high - i).
  std::vector<std::uint8_t> zeros(3, 0);
  Scramble(zeros, 0x0B, 0x0D);
  EXPECT_EQ(zeros, (std::vector<std::uint8_t>{0x0B ^ 0x0D, 0x0C ^ 0x0C, 0x0D ^ 0x0B}));
}

TEST_F(DataFileTest, AnEmptyTableOfTwoFieldsIs1663Bytes) {
  TDataFileSettings settings;
  settings.Description = "問題";
  settings.LanguageId = 0;
  settings.UserMajorVersion = 3;
  Create(TwoFields(), settings);
  const std::string bytes = Bytes();
  EXPECT_EQ(bytes.size(), 1663u);
  auto file = Opened();
  file->CheckStructure();
  EXPECT_EQ(file->NextRecordNo(), 1);
  EXPECT_EQ(file->RecordCount(), 0);
  EXPECT_EQ(file->RecordSize(), 26);
  EXPECT_EQ(file->FieldCount(), 2);
  EXPECT_EQ(file->ChangeCount(), 1);
  EXPECT_EQ(file->EngineVersion(), 33000);
  EXPECT_EQ(file->Description(), "問題");
  EXPECT_EQ(file->UserMajorVersion(), 3);
  EXPECT_EQ(file->BlobBlockSize(), 512u);
  EXPECT_EQ(file->DescriptorByName("name")->FieldNo, 2);
  EXPECT_EQ(file->DescriptorByNumber(2)->FieldOffset, 14);
  EXPECT_EQ(file->DescriptorByNumber(3), nullptr);
  EXPECT_EQ(file->DescriptorByName("none"), nullptr);
  // Descriptor 2 sits at 127 + 768 with its name at offset 2.
  EXPECT_EQ(bytes[127 + 768 + 2], 4);
  EXPECT_EQ(bytes.substr(127 + 768 + 3, 4), "NAME");
}

TEST_F(DataFileTest, CreationLimits) {
  auto file = NewFile();
  std::vector<TFieldDescriptor> blobs;
  for (int i = 0; i < 129; ++i) blobs.push_back(Field(NumberedName('B', i), kFieldTypeBlob));
  EXPECT_EQ(RaisedCode([&] { file->CreateDataFile(blobs, {}); }), codes::kBlobFieldLimits);
  blobs.pop_back();
  EXPECT_EQ(RaisedCode([&] { file->CreateDataFile(blobs, {}); }), 0) << "128 BLOB fields";
  file->Close();

  // 9 + 261 * 251 = 65520 fits; one more byte field of 15 makes 65536, which the 16-bit
  // record size cannot hold.
  std::vector<TFieldDescriptor> wide;
  for (int i = 0; i < 261; ++i) wide.push_back(Field(NumberedName('W', i), kFieldTypeBytes, 250));
  EXPECT_EQ(RaisedCode([&] { file->CreateDataFile(wide, {}); }), 0);
  EXPECT_EQ(file->RecordSize(), 65520);
  file->Close();
  wide.push_back(Field("LAST", kFieldTypeBytes, 15));
  EXPECT_EQ(RaisedCode([&] { file->CreateDataFile(wide, {}); }), codes::kRecordSizeExceeded);
  wide.back().FieldSize = 14;
  EXPECT_EQ(RaisedCode([&] { file->CreateDataFile(wide, {}); }), 0) << "65535 still fits";
  file->Close();

  std::vector<TFieldDescriptor> many(1025, Field("F", kFieldTypeBoolean));
  EXPECT_EQ(RaisedCode([&] { file->CreateDataFile(many, {}); }), codes::kFieldLimits);
}

// A definition the structure check would refuse on opening is refused at creation instead
// (10000), before any file is made: a table that was created can always be opened again.
TEST_F(DataFileTest, DefinitionsAnOpenWouldRefuseAreRefusedAtCreation) {
  struct TCase {
    const char* What;
    TFieldDescriptor Bad;
  };
  TFieldDescriptor bcdWithSize = Field("PRICE", kFieldTypeBcd, 10);
  TFieldDescriptor blobWithSize = Field("MEMO", kFieldTypeBlob, 20);
  TFieldDescriptor decimalsOnInteger = Field("N", kFieldTypeInteger);
  decimalsOnInteger.FieldDecimals = 2;
  TFieldDescriptor badMinimum = Field("N", kFieldTypeInteger);
  badMinimum.MinValue = "many";
  const TCase cases[] = {
      {"a size on a BCD field", bcdWithSize},
      {"a size on a BLOB field", blobWithSize},
      {"decimals on an integer field", decimalsOnInteger},
      {"a minimum that is no integer", badMinimum},
      {"a name starting with a digit", Field("1ST", kFieldTypeInteger)},
      {"a name used twice in another case", Field("id", kFieldTypeInteger)},
      {"no type", Field("NOTHING", 0)},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.What);
    std::vector<TFieldDescriptor> fields = TwoFields();
    fields.push_back(c.Bad);
    auto file = NewFile("BAD.DAT");
    EXPECT_EQ(RaisedCode([&] { file->CreateDataFile(fields, {}); }),
              codes::kInvalidFieldDefinition);
    EXPECT_FALSE(file->IsOpen());
    EXPECT_EQ(RaisedCode([&] { Opened("BAD.DAT"); }), codes::kTableNotFound);
  }
  Create(TwoFields());
  EXPECT_EQ(Opened()->FieldCount(), 2);
}

// The free chain: 3 then 5 deleted; reused 5, then 3, with a primary index; appended without.
TEST_F(DataFileTest, DeletedSlotsFormAChainReusedOnlyWithAPrimaryIndex) {
  for (const bool primary : {true, false}) {
    SCOPED_TRACE(primary ? "primary index" : "physical order");
    Create(TwoFields());
    auto file = Opened();
    file->SetHasPrimaryIndex(primary);
    AppendNumbered(*file, 6);
    for (std::int32_t n : {3, 5}) {
      TRecord* record = file->GetRecord(n);
      file->DeleteRecordSlot(record);
      file->ReleaseRecord(record);
    }
    EXPECT_EQ(file->FirstFree(), 5);
    TRecord* five = file->GetRecord(5);
    TRecord* three = file->GetRecord(3);
    EXPECT_TRUE(IsDeleted(five->Image));
    EXPECT_EQ(RecordNoOrNextFree(five->Image), primary ? 3 : 0);
    EXPECT_EQ(RecordNoOrNextFree(three->Image), 0);
    file->ReleaseRecord(five);
    file->ReleaseRecord(three);
    file->WriteChangedRecords();
    file->FlushHeader(false);

    std::vector<std::int32_t> reused;
    for (int i = 0; i < 3; ++i) {
      TRecord* slot = file->NewRecordSlot();
      reused.push_back(slot->Number);
      std::int32_t lastRowId = file->LastAutoInc();
      InitRecord(slot->Image, slot->Number, true, lastRowId);
      file->ReleaseRecord(slot);
    }
    EXPECT_EQ(reused, primary ? (std::vector<std::int32_t>{5, 3, 7})
                              : (std::vector<std::int32_t>{7, 8, 9}));
    file->WriteChangedRecords();
    file->FlushHeader(false);
    file->CheckStructure();
    file->Close();
  }
}

TEST_F(DataFileTest, AChainHeadThatIsNoDeletedRecordIsRefused) {
  Create(TwoFields());
  auto file = Opened();
  file->SetHasPrimaryIndex(true);
  AppendNumbered(*file, 3);
  file->WriteChangedRecords();
  file->FlushHeader(false);
  file->Close();
  std::string bytes = Bytes();
  PutI32LE(reinterpret_cast<std::uint8_t*>(bytes.data()) + kFirstFreeOffset, 2);  // live record
  SetBytes(bytes);
  file = Opened();
  file->SetHasPrimaryIndex(true);
  EXPECT_EQ(RaisedCode([&] { file->NewRecordSlot(); }), codes::kHeaderCorrupt);
  EXPECT_EQ(file->RecordCache().CheckInvariants(), "");
  EXPECT_EQ(file->RecordCache().Peek(2)->PinCount, 0) << "the refused slot is not left pinned";
}

// Damaged headers and descriptors, each with the code the first open or the structure check
// raises.
TEST_F(DataFileTest, StructureCheckFindsDamage) {
  Create(TwoFields());
  {
    auto file = Opened();
    AppendNumbered(*file, 2);
    file->WriteChangedRecords();
    file->FlushHeader(false);
  }
  const std::string good = Bytes();
  auto at = [](std::string& bytes, std::size_t offset) {
    return reinterpret_cast<std::uint8_t*>(bytes.data()) + offset;
  };
  constexpr std::size_t kField2 = 127 + 768;
  struct Case {
    const char* what;
    std::function<void(std::string&)> damage;
    int openCode;
    int checkCode;
  };
  const Case cases[] = {
      {"intact", [](std::string&) {}, 0, 0},
      {"version 4", [&](std::string& b) { *at(b, kVersionOffset) = 4; }, codes::kWrongVersion, 0},
      {"1025 fields", [&](std::string& b) { PutU16LE(at(b, kFieldCountOffset), 1025); },
       codes::kHeaderCorrupt, 0},
      {"record size 0", [&](std::string& b) { PutU16LE(at(b, kRecordSizeOffset), 0); },
       codes::kHeaderCorrupt, 0},
      {"three fields in a file of two",
       [&](std::string& b) { PutU16LE(at(b, kFieldCountOffset), 3); }, codes::kReadError, 0},
      {"a length that is not whole records", [](std::string& b) { b += "xyz"; }, 0,
       codes::kHeaderCorrupt},
      {"one record missing", [](std::string& b) { b.resize(b.size() - 26); }, 0,
       codes::kHeaderCorrupt},
      {"next record number too high",
       [&](std::string& b) { PutI32LE(at(b, kNextRecordNoOffset), 4); }, 0, codes::kHeaderCorrupt},
      {"free chain beyond the records",
       [&](std::string& b) { PutI32LE(at(b, kFirstFreeOffset), 3); }, 0, codes::kHeaderCorrupt},
      {"negative free chain", [&](std::string& b) { PutI32LE(at(b, kFirstFreeOffset), -1); }, 0,
       codes::kHeaderCorrupt},
      {"record size disagrees", [&](std::string& b) { PutU16LE(at(b, kRecordSizeOffset), 13); }, 0,
       codes::kHeaderCorrupt},
      {"language not installed",
       [&](std::string& b) { PutI16LE(at(b, kLanguageIdOffset), 0x7F7F); }, 0,
       codes::kLanguageNotInstalled},
      {"duplicate name",
       [&](std::string& b) {
         std::memcpy(at(b, kField2 + 3), "id  ", 4);
         *at(b, kField2 + 2) = 2;
       },
       0, codes::kHeaderCorrupt},
      {"empty name", [&](std::string& b) { *at(b, kField2 + 2) = 0; }, 0, codes::kHeaderCorrupt},
      {"name starting with a digit", [&](std::string& b) { *at(b, kField2 + 3) = '1'; }, 0,
       codes::kHeaderCorrupt},
      {"field number out of place", [&](std::string& b) { PutU16LE(at(b, kField2), 1); }, 0,
       codes::kHeaderCorrupt},
      {"type 0", [&](std::string& b) { *at(b, kField2 + 84) = 0; }, 0, codes::kHeaderCorrupt},
      {"string of 251", [&](std::string& b) { *at(b, kField2 + 86) = 251; }, 0,
       codes::kHeaderCorrupt},
      {"integer with a size", [&](std::string& b) { *at(b, 127 + 86) = 4; }, 0,
       codes::kHeaderCorrupt},
      {"decimals on an integer", [&](std::string& b) { *at(b, 127 + 87) = 2; }, 0,
       codes::kHeaderCorrupt},
      {"minimum that is no integer",
       [&](std::string& b) {
         *at(b, 127 + 94) = 1;
         *at(b, 127 + 95) = 'x';
       },
       0, codes::kHeaderCorrupt},
      {"wrong offset", [&](std::string& b) { PutU16LE(at(b, kField2 + 90), 15); }, 0,
       codes::kHeaderCorrupt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::string bytes = good;
    c.damage(bytes);
    SetBytes(bytes);
    auto file = NewFile();
    EXPECT_EQ(RaisedCode([&] { file->Open(); }), c.openCode);
    if (c.openCode != 0) {
      EXPECT_FALSE(file->IsOpen()) << "a failed open leaves the file closed";
      continue;
    }
    EXPECT_EQ(RaisedCode([&] { file->CheckStructure(); }), c.checkCode);
  }
}

TEST_F(DataFileTest, GetRecordRefusesNumbersOutsideTheTable) {
  Create(TwoFields());
  auto file = Opened();
  AppendNumbered(*file, 2);
  EXPECT_EQ(RaisedCode([&] { file->GetRecord(0); }), codes::kRecordBuffersCorrupt);
  EXPECT_EQ(RaisedCode([&] { file->GetRecord(-4); }), codes::kRecordBuffersCorrupt);
  EXPECT_EQ(RaisedCode([&] { file->GetRecord(4); }), codes::kRecordBuffersCorrupt);
}

// The table is full at record 200 000 001, or where the file would pass 4 000 000 000 bytes;
// the limits are checked on the header's counter without writing anything.
TEST_F(DataFileTest, TheTableIsFullAtItsLimits) {
  Create({Field("FLAG", kFieldTypeBoolean)});  // records of 12 bytes
  std::string bytes = Bytes();
  auto at = [&](std::size_t offset) {
    return reinterpret_cast<std::uint8_t*>(bytes.data()) + offset;
  };
  PutI32LE(at(kNextRecordNoOffset), 200000000);
  SetBytes(bytes);
  auto file = Opened();
  TRecord* last = file->GetRecord(200000000);
  EXPECT_EQ(last->Number, 200000000);
  file->ReleaseRecord(last);
  EXPECT_EQ(file->NextRecordNo(), 200000001);
  EXPECT_EQ(RaisedCode([&] { file->GetRecord(200000001); }), codes::kTableFull);
  EXPECT_EQ(RaisedCode([&] { file->NewRecordSlot(); }), codes::kTableFull);
  file->RecordCache().Discard();  // never written
  file->Close();

  // Records of 65520 bytes: the file may hold (4e9 - 127 - 261 * 768) div 65520 of them.
  std::vector<TFieldDescriptor> wide;
  for (int i = 0; i < 261; ++i) wide.push_back(Field(NumberedName('W', i), kFieldTypeBytes, 250));
  Create(wide, {}, "W.DAT");
  const std::int64_t fits = (kMaxDataFileSize - 127 - 261 * 768) / 65520;
  bytes = Bytes("W.DAT");
  PutI32LE(at(kNextRecordNoOffset), static_cast<std::int32_t>(fits));
  SetBytes(bytes, "W.DAT");
  file = Opened("W.DAT");
  file->ReleaseRecord(file->GetRecord(static_cast<std::int32_t>(fits)));
  EXPECT_EQ(RaisedCode([&] { file->GetRecord(static_cast<std::int32_t>(fits + 1)); }),
            codes::kTableFull);
  file->RecordCache().Discard();
}

TEST_F(DataFileTest, AForcedFlushCountsAndSaysTheHeaderWasUnchanged) {
  Create(TwoFields());
  auto file = Opened();
  const std::int32_t before = file->ChangeCount();
  file->FlushHeader(false);
  EXPECT_EQ(file->ChangeCount(), before) << "nothing changed, nothing written";
  file->FlushHeader(true);
  EXPECT_EQ(file->ChangeCount(), before + 1);
  std::string bytes = Bytes();
  EXPECT_EQ(GetI32LE(reinterpret_cast<const std::uint8_t*>(bytes.data())), before + 1);
  EXPECT_EQ(bytes[kHeaderChangedOffset], 0);
  file->SetLastAutoInc(40);
  file->FlushHeader(false);
  bytes = Bytes();
  EXPECT_EQ(bytes[kHeaderChangedOffset], 1);
  EXPECT_EQ(GetI32LE(reinterpret_cast<const std::uint8_t*>(bytes.data()) + kLastAutoIncOffset), 40);
  const double stamped =
      GetF64LE(reinterpret_cast<const std::uint8_t*>(bytes.data()) + kLastUpdatedOffset);
  EXPECT_GT(stamped, 45000.0 - kLastUpdatedBias) << "a date after 2023";
  EXPECT_LT(stamped, 80000.0 - kLastUpdatedBias);
  file->MarkChanged();
  EXPECT_EQ(file->ChangeCount(), before + 3);
  EXPECT_TRUE(file->HeaderChangedFlag());
}

TEST_F(DataFileTest, AnotherHandlersHeaderWriteIsNoticed) {
  Create(TwoFields());
  auto first = Opened();
  auto second = Opened();
  EXPECT_FALSE(second->HeaderChangedOnDisk());
  AppendNumbered(*first, 1);
  first->WriteChangedRecords();
  first->FlushHeader(false);
  EXPECT_TRUE(second->HeaderChangedOnDisk());
  EXPECT_EQ(second->NextRecordNo(), 2);
  EXPECT_FALSE(second->HeaderChangedOnDisk());
}

TEST_F(DataFileTest, EmptyingCutsTheFileAndResetsTheCounters) {
  Create(TwoFields());
  auto file = Opened();
  file->SetHasPrimaryIndex(true);
  AppendNumbered(*file, 4);
  TRecord* two = file->GetRecord(2);
  file->DeleteRecordSlot(two);
  file->ReleaseRecord(two);
  file->WriteChangedRecords();
  file->FlushHeader(false);
  file->EmptyDataFile();
  file->FlushHeader(false);
  EXPECT_EQ(Bytes().size(), 1663u);
  EXPECT_EQ(file->ChangeCount(), 1);
  EXPECT_EQ(file->FirstFree(), 0);
  EXPECT_EQ(file->NextRecordNo(), 1);
  EXPECT_EQ(file->LastAutoInc(), 0);
  EXPECT_EQ(file->RecordCache().Count(), 0u);
  file->CheckStructure();
}

TEST_F(DataFileTest, EncryptedTablesAreScrambledOnDiskAndPlainInMemory) {
  TDataFileSettings settings;
  settings.Encrypted = true;
  settings.Password = "himitsu-no-password";
  settings.Description = "secret table";
  Create(TwoFields(), settings);
  {
    auto file = Opened();
    AppendNumbered(*file, 3);
    file->WriteChangedRecords();
    file->FlushHeader(false);
  }
  const std::string bytes = Bytes();
  EXPECT_EQ(bytes.find("NAME"), std::string::npos) << "descriptors scrambled";
  EXPECT_EQ(bytes.find("secret"), std::string::npos);
  EXPECT_EQ(bytes.find("himitsu"), std::string::npos);
  EXPECT_EQ(bytes[kPasswordOffset], 15) << "cut to 15 characters, length byte plain";
  EXPECT_EQ(bytes[kDescriptionOffset], 12);
  // A record image as stored, unscrambled by hand with the record seeds.
  std::vector<std::uint8_t> stored(bytes.begin() + 1663 + 26, bytes.begin() + 1663 + 52);
  Scramble(stored, kDataScrambleLow, kDataScrambleHigh);
  EXPECT_EQ(RecordNoOrNextFree(stored), 2);

  auto file = Opened();
  file->CheckStructure();
  EXPECT_TRUE(file->Encrypted());
  EXPECT_EQ(file->Password(), "himitsu-no-pass");
  EXPECT_EQ(file->Description(), "secret table");
  EXPECT_EQ(file->DescriptorByNumber(2)->FieldName, "NAME");
  for (std::int32_t n = 1; n <= 3; ++n) {
    TRecord* record = file->GetRecord(n);
    EXPECT_EQ(RecordNoOrNextFree(record->Image), n);
    EXPECT_EQ(RecordInvariantViolation(record->Image, file->Descriptors()), "");
    file->ReleaseRecord(record);
  }
  file->AlterTableInfo("new", "renamed", 1, 2, 3);
  file->FlushHeader(false);
  file->Close();
  file = Opened();
  EXPECT_EQ(file->Password(), "new");
  EXPECT_EQ(file->Description(), "renamed");
  EXPECT_EQ(file->UserMinorVersion(), 1);
  EXPECT_EQ(file->UserMajorVersion(), 2);
  EXPECT_EQ(file->LastAutoInc(), 3);
  EXPECT_EQ(Bytes().find("renamed"), std::string::npos);
}

TEST_F(DataFileTest, ReplacedDescriptorTextsAreWrittenWithTheHeader) {
  Create(TwoFields());
  auto file = Opened();
  file->ReplaceDescriptorText(2, "TITLE", 0, "the title", true, "", "", "none");
  EXPECT_TRUE(file->DescriptorsChangedFlag());
  EXPECT_EQ(RaisedCode([&] { file->ReplaceDescriptorText(3, "X", 0, "", false, "", "", ""); }),
            codes::kInvalidField);
  file->FlushHeader(false);
  EXPECT_FALSE(file->DescriptorsChangedFlag());
  file->Close();
  file = Opened();
  const TFieldDescriptor* title = file->DescriptorByName("title");
  ASSERT_NE(title, nullptr);
  EXPECT_EQ(title->FieldDescription, "the title");
  EXPECT_TRUE(title->Required);
  EXPECT_EQ(title->DefaultValue, "none");
  file->CheckStructure();
}

TEST_F(DataFileTest, FailedReadsRaiseAndAFailedOpenLeavesTheFileClosed) {
  Create(TwoFields());
  auto file = NewFile();
  faults.FailReads = true;
  EXPECT_EQ(RaisedCode([&] { file->Open(); }), codes::kReadError);
  EXPECT_FALSE(file->IsOpen());
  faults.FailReads = false;
  file->Open();
  AppendNumbered(*file, 3);
  faults.WriteBudget = 10;
  EXPECT_EQ(RaisedCode([&] { file->WriteChangedRecords(); }), codes::kWriteError);
  faults.WriteBudget = -1;
  EXPECT_TRUE(file->RecordCache().HasChanges()) << "nothing lost: the records stay changed";
  file->WriteChangedRecords();
  EXPECT_FALSE(file->RecordCache().HasChanges());
}

// A table of 10 000 records of 100 bytes: the cache holds 163 of them, a scan costs one read
// per 81 records, and 500 neighbouring changes cost a handful of writes.
class BigTableTest : public DataFileTest {
 protected:
  void SetUp() override {
    Create(HundredByteFields());
    auto file = Opened();
    AppendNumbered(*file, 10000);
    file->WriteChangedRecords();
    file->FlushHeader(false);
  }
};

TEST_F(BigTableTest, AForwardOrBackwardScanReadsInRunsOfAbout8KB) {
  auto file = Opened();
  ASSERT_EQ(file->RecordSize(), 100);
  EXPECT_EQ(file->RecordCache().Capacity(), 163u);
  EXPECT_EQ(file->ReadAheadCount(), 81u);
  faults.ResetCounters();
  for (std::int32_t n = 1; n <= 10000; ++n) {
    TRecord* record = file->GetRecord(n, TTravel::Forward);
    ASSERT_EQ(RecordNoOrNextFree(record->Image), n);
    file->ReleaseRecord(record);
  }
  EXPECT_LE(faults.ReadCalls, 124);
  EXPECT_LE(file->RecordCache().Count(), 163u);
  EXPECT_EQ(file->RecordCache().CheckInvariants(), "");

  file->RecordCache().Discard();
  faults.ResetCounters();
  for (std::int32_t n = 10000; n >= 1; --n) {
    TRecord* record = file->GetRecord(n, TTravel::Backward);
    ASSERT_EQ(RecordNoOrNextFree(record->Image), n);
    file->ReleaseRecord(record);
  }
  EXPECT_LE(faults.ReadCalls, 124);
}

TEST_F(BigTableTest, PinningTwoHundredRecordsGrowsTheCacheOnce) {
  auto file = Opened();
  std::vector<TRecord*> pinned;
  for (std::int32_t n = 1; n <= 200; ++n) pinned.push_back(file->GetRecord(n));
  EXPECT_EQ(file->RecordCache().Capacity(), 227u);
  for (TRecord* record : pinned) {
    EXPECT_EQ(RecordNoOrNextFree(record->Image), record->Number);
    file->ReleaseRecord(record);
  }
  file->RecordCache().Trim();
  EXPECT_EQ(file->RecordCache().Capacity(), 163u);
  EXPECT_EQ(file->RecordCache().CheckInvariants(), "");
}

TEST_F(BigTableTest, ChangingFiveHundredNeighboursCostsAHandfulOfWrites) {
  auto file = Opened();
  faults.ResetCounters();
  for (std::int32_t n = 4001; n <= 4500; ++n) {
    TRecord* record = file->GetRecord(n);
    record->Image[20] = 0x77;
    file->MarkRecordChanged(record);
    file->ReleaseRecord(record);
  }
  file->WriteChangedRecords();
  EXPECT_LE(faults.WriteCalls, 5);
  EXPECT_LE(faults.ReadCalls, 8);
  file->Close();
  file = Opened();
  for (std::int32_t n : {4000, 4001, 4250, 4500, 4501}) {
    TRecord* record = file->GetRecord(n);
    EXPECT_EQ(record->Image[20] == 0x77, n >= 4001 && n <= 4500) << n;
    file->ReleaseRecord(record);
  }
}

TEST_F(BigTableTest, ARunReadWhileRoomIsMadeNeverBringsBackOlderBytes) {
  // The cache full of changed records 1001..1163: reading record 1000 with read-ahead must
  // make room by writing them back, and the run it reads must not undo those changes.
  auto file = Opened();
  ASSERT_EQ(file->RecordCache().Capacity(), 163u);
  for (std::int32_t n = 1001; n <= 1163; ++n) {
    TRecord* record = file->GetRecord(n, TTravel::Forward, false);
    record->Image[20] = 0x77;
    file->MarkRecordChanged(record);
    file->ReleaseRecord(record);
  }
  file->ReleaseRecord(file->GetRecord(1000, TTravel::Forward, true));
  for (std::int32_t n = 1001; n <= 1163; ++n) {
    TRecord* record = file->GetRecord(n, TTravel::Forward, false);
    EXPECT_EQ(record->Image[20], 0x77) << n;
    file->ReleaseRecord(record);
  }
  EXPECT_EQ(file->RecordCache().CheckInvariants(), "");
}

TEST_F(BigTableTest, WhileTheTableLockIsHeldTenThousandChangesStayCachedUntilCommit) {
  auto file = Opened();
  bool lockHeld = true;
  file->SetTableLockQuery([&] { return lockHeld; });
  faults.ResetCounters();
  for (std::int32_t n = 1; n <= 10000; ++n) {
    TRecord* record = file->GetRecord(n);
    record->Image[30] = 0x42;
    file->MarkRecordChanged(record);
    file->ReleaseRecord(record);
  }
  EXPECT_EQ(faults.WriteCalls, 0);
  EXPECT_EQ(file->RecordCache().Count(), 10000u);
  EXPECT_EQ(file->RecordCache().CheckInvariants(), "");
  lockHeld = false;
  file->WriteChangedRecords();  // commit
  EXPECT_LE(faults.WriteCalls, 2) << "one run of 1 MB pieces";
  file->RecordCache().Trim();
  EXPECT_EQ(file->RecordCache().Capacity(), 163u);
  EXPECT_LE(file->RecordCache().Count(), 163u);
}

TEST_F(BigTableTest, AfterAnotherWritersChangeTheDiscardedCacheReadsTheNewContents) {
  auto reader = Opened();
  auto writer = Opened();
  TRecord* seen = reader->GetRecord(5);
  EXPECT_EQ(seen->Image[40], 0);
  reader->ReleaseRecord(seen);
  TRecord* changed = writer->GetRecord(5);
  changed->Image[40] = 9;
  writer->MarkRecordChanged(changed);
  writer->ReleaseRecord(changed);
  writer->WriteChangedRecords();
  writer->MarkChanged();
  writer->FlushHeader(false);
  ASSERT_TRUE(reader->HeaderChangedOnDisk());
  reader->RecordCache().Discard();
  seen = reader->GetRecord(5);
  EXPECT_EQ(seen->Image[40], 9);
  reader->ReleaseRecord(seen);
}

// Random appends, changes, deletions, reuses, write-backs, discards and reopenings against a
// map of what each record should hold; the structure check and the cache's invariants hold
// after every flush.
TEST_F(DataFileTest, RandomOperationsAgreeWithAMap) {
  for (unsigned seed : {11u, 12u, 13u}) {
    SCOPED_TRACE(seed);
    TDataFileSettings settings;
    settings.Encrypted = seed == 12;
    Create(HundredByteFields(), settings);
    auto file = Opened();
    file->SetHasPrimaryIndex(seed != 13);
    std::mt19937 random(seed);
    std::map<std::int32_t, std::uint8_t> model;  // number -> marker byte (0 = deleted)
    auto marker = [](TRecord* r) { return IsDeleted(r->Image) ? std::uint8_t{0} : r->Image[50]; };
    for (int step = 0; step < 1500; ++step) {
      const int op = std::uniform_int_distribution<int>(0, 99)(random);
      const auto count = static_cast<std::int32_t>(model.size());
      if (op < 30 || count == 0) {
        TRecord* slot = file->NewRecordSlot();
        ASSERT_TRUE(slot->Number == file->NextRecordNo() - 1 || model[slot->Number] == 0);
        std::int32_t rowId = file->LastAutoInc();
        InitRecord(slot->Image, slot->Number, true, rowId);
        file->SetLastAutoInc(rowId);
        slot->Image[50] = static_cast<std::uint8_t>(1 + random() % 255);
        model[slot->Number] = slot->Image[50];
        file->MarkRecordChanged(slot);
        file->ReleaseRecord(slot);
      } else if (op < 75) {
        const std::int32_t n = 1 + static_cast<std::int32_t>(random() % count);
        const TTravel travel = random() % 2 ? TTravel::Forward : TTravel::Backward;
        TRecord* record = file->GetRecord(n, travel);
        ASSERT_EQ(marker(record), model[n]) << "step " << step << " record " << n;
        if (model[n] != 0 && op < 55) {
          record->Image[50] = static_cast<std::uint8_t>(1 + random() % 255);
          model[n] = record->Image[50];
          file->MarkRecordChanged(record);
        } else if (model[n] != 0 && op < 62) {
          file->DeleteRecordSlot(record);
          model[n] = 0;
        }
        file->ReleaseRecord(record);
      } else if (op < 85) {
        file->WriteChangedRecords();
      } else if (op < 95) {
        file->WriteChangedRecords();
        file->FlushHeader(false);
        ASSERT_EQ(RaisedCode([&] { file->CheckStructure(); }), 0) << "step " << step;
        if (op < 90) file->RecordCache().Discard();
      } else {
        file->WriteChangedRecords();
        file->FlushHeader(false);
        file->Close();
        file = Opened();
        file->SetHasPrimaryIndex(seed != 13);
      }
      ASSERT_EQ(file->RecordCache().CheckInvariants(), "") << "step " << step;
      ASSERT_EQ(file->RecordCount(), static_cast<std::int32_t>(model.size()));
    }
    file->Close();
  }
}

}  // namespace
}  // namespace kura
