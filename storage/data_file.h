// The data file of a Kura table (".DAT"): the table header, the field descriptors and the
// fixed-length record images, and TDataFile, its handler with the record cache.
//
// FILE LAYOUT (all numbers little-endian)
//
//   POSITION                                 SIZE                      DESCRIPTION
//   0                                        127                       table header
//   127                                      FieldCount * 768          field descriptors, field 1
//                                                                      first (field_descriptor.h)
//   127 + FieldCount * 768                   NextRecordNo-1 * RecordSize  record images, record 1
//                                                                      first (record_image.h)
//
// Record n (1-based) starts at 127 + FieldCount * 768 + (n - 1) * RecordSize. Nothing follows
// the last record.
//
// TABLE HEADER, 127 bytes
//
//   OFFSET  SIZE  NAME              DESCRIPTION
//        0     4  ChangeCount       signed; +1 on every header write (other processes compare it)
//        4     4  BlobBlockSize     block size of the BLOB file; only the low 16 bits set; 0 = 512
//        8     1  Version           always 5
//        9     4  FirstFree         signed; first deleted record of the free chain, 0 = none
//       13     4  NextRecordNo      signed; record slots + 1 (1 for an empty table)
//       17     4  LastAutoInc       signed; last auto-increment value (row number) handed out
//       21     2  RecordSize        record image size in bytes
//       23     2  FieldCount        field descriptors, at most 1024
//       25     2  BlobFieldCount    signed; fields of type 3, at most 128
//       27     8  LastUpdated       IEEE 754 double: local time of the last header write in days
//                                   from 1899-12-30 (fraction = time of day), minus 693594
//       35    51  Description       length byte + up to 50 characters (scrambled when encrypted)
//       86     1  Encrypted         1 = password protected
//       87    16  Password          length byte + up to 15 characters, scrambled; empty when not
//                                   encrypted
//      103     2  LanguageId        signed; locale language of the collation, 0 = none
//      105     2  SortId            signed; locale sort identifier
//      107     2  UserMajorVersion  signed
//      109     2  UserMinorVersion  signed
//      111     1  HeaderChanged     1 = written because it changed, 0 = rewritten unchanged
//      112     4  LastBlobChange    signed; last BLOB change number handed out
//      116     8  EngineVersion     signed; engine that last wrote the header, in 1/10000: 33000
//      124     3  reserved          zero at creation, carried unchanged
//
// SCRAMBLING of encrypted tables. This is obfuscation, not encryption: anyone with this file
// can undo it without the password. The descriptor block (one buffer, seeds 0x0B / 0x0D),
// every record image (each its own buffer, same seeds), and the characters of Description and
// Password (seeds 0x06 / 0x0E; their length bytes stay plain) are XORed with a byte stream
// (see Scramble). Stored files depend on its exact behaviour, quirk included.
//
// INVARIANTS of an opened data file (checked by CheckStructure, engine error 8961 unless noted):
//   1. Version is 5 (else 12035).
//   2. LanguageId 0, or LanguageId / SortId name a locale installed here (else 15878).
//   3. Every descriptor: a name of 1..30 characters starting with a letter, "_" or a byte
//      128..254, unique without regard to case (blanks trimmed); a unique field number equal
//      to its position; type not 0; declared size at most 250 for types 1, 9 and 15 and 0 for
//      every other type; MinValue, MaxValue and DefaultValue empty or convertible to the type;
//      decimals 0 unless the type is 8; offset 5 for the auto-increment field, else the running
//      offset (9, growing by physical size + 1).
//   4. The running offset equals RecordSize; the bytes after the descriptors are a whole number
//      of records, NextRecordNo - 1 of them; 0 <= FirstFree <= that number.
//   5. BlobFieldCount equals the number of BLOB fields (type 3) among the descriptors.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "storage/buffer_cache.h"
#include "storage/field_descriptor.h"
#include "storage/file_handler.h"

namespace kura {

// --- Sizes and limits -----------------------------------------------------------------------

inline constexpr std::size_t kDataHeaderSize = 127;
inline constexpr std::uint8_t kDataFileVersion = 5;
inline constexpr std::int64_t kEngineVersion = 33000;  // 3.30 in units of 1/10000
inline constexpr std::size_t kMaxFieldCount = 1024;
inline constexpr std::size_t kMaxBlobFieldCount = 128;
// The largest record image the 16-bit RecordSize field can hold.
inline constexpr std::size_t kMaxStorableRecordSize = 65535;
inline constexpr std::int64_t kMaxRecordSlots = 200000000;
inline constexpr std::int64_t kMaxDataFileSize = 4000000000;
inline constexpr std::size_t kMaxDescriptionLength = 50;
inline constexpr std::size_t kMaxPasswordLength = 15;
inline constexpr std::uint16_t kDefaultBlobBlockSize = 512;
// LastUpdated is the day count from 1899-12-30 minus this.
inline constexpr double kLastUpdatedBias = 693594.0;
// The longest single write of changed records; longer runs are written in pieces this size
// so that a huge run never needs a huge buffer.
inline constexpr std::size_t kMaxWriteRunBytes = 1 << 20;

// Scrambling seeds.
inline constexpr std::uint8_t kDataScrambleLow = 0x0B;
inline constexpr std::uint8_t kDataScrambleHigh = 0x0D;
inline constexpr std::uint8_t kTextScrambleLow = 0x06;
inline constexpr std::uint8_t kTextScrambleHigh = 0x0E;

// Header field offsets.
inline constexpr std::size_t kChangeCountOffset = 0;
inline constexpr std::size_t kBlobBlockSizeOffset = 4;
inline constexpr std::size_t kVersionOffset = 8;
inline constexpr std::size_t kFirstFreeOffset = 9;
inline constexpr std::size_t kNextRecordNoOffset = 13;
inline constexpr std::size_t kLastAutoIncOffset = 17;
inline constexpr std::size_t kRecordSizeOffset = 21;
inline constexpr std::size_t kFieldCountOffset = 23;
inline constexpr std::size_t kBlobFieldCountOffset = 25;
inline constexpr std::size_t kLastUpdatedOffset = 27;
inline constexpr std::size_t kDescriptionOffset = 35;
inline constexpr std::size_t kEncryptedOffset = 86;
inline constexpr std::size_t kPasswordOffset = 87;
inline constexpr std::size_t kLanguageIdOffset = 103;
inline constexpr std::size_t kSortIdOffset = 105;
inline constexpr std::size_t kUserMajorVersionOffset = 107;
inline constexpr std::size_t kUserMinorVersionOffset = 109;
inline constexpr std::size_t kHeaderChangedOffset = 111;
inline constexpr std::size_t kLastBlobChangeOffset = 112;
inline constexpr std::size_t kEngineVersionOffset = 116;
inline constexpr std::size_t kReservedOffset = 124;
inline constexpr std::size_t kDescriptionAreaSize = 1 + kMaxDescriptionLength;  // 51
inline constexpr std::size_t kPasswordAreaSize = 1 + kMaxPasswordLength;        // 16
inline constexpr std::size_t kReservedSize = 3;
static_assert(kReservedOffset + kReservedSize == kDataHeaderSize);

// --- Header --------------------------------------------------------------------------------

// The table header as its fields. Description and Password are kept as their stored areas
// (length byte + characters, scrambled when the table is encrypted), so a header read and
// written again is the same bytes.
struct TDataHeader {
  std::int32_t ChangeCount = 0;
  std::uint32_t BlobBlockSize = 0;
  std::uint8_t Version = kDataFileVersion;
  std::int32_t FirstFree = 0;
  std::int32_t NextRecordNo = 1;
  std::int32_t LastAutoInc = 0;
  std::uint16_t RecordSize = 0;
  std::uint16_t FieldCount = 0;
  std::int16_t BlobFieldCount = 0;
  double LastUpdated = 0;
  std::array<std::uint8_t, kDescriptionAreaSize> Description{};
  std::uint8_t Encrypted = 0;
  std::array<std::uint8_t, kPasswordAreaSize> Password{};
  std::int16_t LanguageId = 0;
  std::int16_t SortId = 0;
  std::int16_t UserMajorVersion = 0;
  std::int16_t UserMinorVersion = 0;
  std::uint8_t HeaderChanged = 0;
  std::int32_t LastBlobChange = 0;
  std::int64_t EngineVersion = 0;
  std::array<std::uint8_t, kReservedSize> Reserved{};
};

void EncodeDataHeader(const TDataHeader& header, std::span<std::uint8_t, kDataHeaderSize> bytes);
TDataHeader DecodeDataHeader(std::span<const std::uint8_t, kDataHeaderSize> bytes);
// The password a header holds, unscrambled (empty for a table that is not encrypted).
std::string HeaderPassword(const TDataHeader& header);

// XORs each byte with low and with high, then adds 1 to low and subtracts 1 from high (both
// modulo 256). A buffer whose length has its low 16 bits all zero is left unchanged (stored
// files depend on this quirk). Applying it twice with the same seeds restores the buffer.
// Obfuscation only: it hides nothing from anyone who has the file.
void Scramble(std::span<std::uint8_t> buffer, std::uint8_t low, std::uint8_t high);

// --- Records ---------------------------------------------------------------------------------

// A cached record: its image (unscrambled in memory) and a buffer for a sort key.
struct TRecord : TCacheEntry {
  explicit TRecord(std::size_t recordSize) : Image(recordSize) {}
  void Clear() {
    std::fill(Image.begin(), Image.end(), std::uint8_t{0});
    SortKey.clear();
  }
  std::vector<std::uint8_t> Image;
  std::vector<std::uint8_t> SortKey;
};

using TRecordCache = TBufferCache<TRecord>;

// Direction of travel of the caller asking for a record: a miss reads ahead that way.
enum class TTravel { Forward, Backward };

// What CreateDataFile needs besides the descriptors.
struct TDataFileSettings {
  std::int16_t LanguageId = 0;
  std::int16_t SortId = 0;
  std::uint32_t BlobBlockSize = kDefaultBlobBlockSize;
  std::string Description;
  std::string Password;
  bool Encrypted = false;
  std::int16_t UserMinorVersion = 0;
  std::int16_t UserMajorVersion = 0;
};

// --- The handler ---------------------------------------------------------------------------

class TDataFile : public TFileHandler {
 public:
  explicit TDataFile(TFileList& list = FileList());
  ~TDataFile() override;

  // Builds the header and descriptors in memory (fields numbered and laid out in order) and
  // creates the file, open exclusively; both are written by the next FlushHeader. Raises
  // 9492 for more than 1024 fields, 9498 for a 129th BLOB field, 9477 for a record image
  // above 65535 bytes (the largest the header can hold).
  void CreateDataFile(std::span<const TFieldDescriptor> descriptors,
                      const TDataFileSettings& settings);

  // Opens the file, reads the header (12035 unless version 5; 8961 for more than 1024 fields
  // or a record size below 9) and the descriptors, and sizes the record cache. Any failure
  // leaves the file closed.
  void Open() override;
  // Forgets the cached records (write them back first) and closes the file.
  void Close() override;

  // The structure check of a table opened for the first time in the process: the numbered
  // invariants at the top of this file; raises 12035, 15878 or 8961.
  void CheckStructure();

  // Reads the 127 header bytes into memory and clears the header-changed flag.
  void ReadHeader();
  // Reads the header bytes: false when their ChangeCount equals the one in memory; else they
  // replace the header in memory and the answer is true. Raises 8961 when the new header
  // changes the record size or field count (only a restructure could, and that needs the
  // table exclusively).
  bool HeaderChangedOnDisk();
  // Unless the header changed or force is set, does nothing. Otherwise increments
  // ChangeCount, stamps EngineVersion and LastUpdated, writes HeaderChanged as 1 when the
  // header had changed and 0 when not, writes the 127 bytes and clears the flag; changed
  // descriptors are written too. flushToDisk (or ForceBufferFlush) pushes the write to disk.
  void FlushHeader(bool force, bool flushToDisk = false);
  // Writes every descriptor (scrambled when encrypted) when they changed, and clears the flag.
  void FlushDescriptors(bool flushToDisk = false);
  // ChangeCount + 1 in memory and the header marked changed (a transaction's changes).
  void MarkChanged();
  // Cuts the file to header and descriptors, forgets every cached record, and resets
  // ChangeCount, FirstFree and LastAutoInc to 0 and NextRecordNo to 1.
  void EmptyDataFile();

  // The pinned cache entry of record n; release it with ReleaseRecord. n = NextRecordNo
  // appends a zeroed, changed slot (9479 past 200 000 000 slots or 4 000 000 000 bytes), for
  // the caller to initialise. A miss reads up to ReadAheadCount records in one read, from n
  // forward or ending at n backward as travel says (only n without readAhead). 8962 for
  // n <= 0 or n > NextRecordNo.
  TRecord* GetRecord(std::int32_t n, TTravel travel = TTravel::Forward, bool readAhead = true);
  void ReleaseRecord(TRecord* record) { FRecords.Release(record); }
  // Copies the images of records first .. first + count - 1 (each below NextRecordNo) into
  // images, one after the other, as this process sees them: the run is read from the file in
  // one read, and a record the cache holds is taken from the cache instead (the cache is at
  // least as new as the file). The cache itself is neither searched (while it holds no
  // change, its entries and the file agree) nor filled nor reordered, so a long scan costs one
  // read per run and leaves the working set cached. The caller holds what makes the file
  // trustworthy (the read lock after the change check, or the table to itself). 8962 for a
  // run outside 1 .. NextRecordNo - 1 or an images span of another size; 9217 when the file
  // ends before a record that is not cached.
  void CopyRecordImages(std::int32_t first, std::int32_t count, std::span<std::uint8_t> images);
  // The caller changed the record's image: it will be written back.
  void MarkRecordChanged(TRecord* record) { FRecords.MarkChanged(record); }
  // A pinned slot for a new record: the head of the free chain when the table has a primary
  // index of its own and the chain is not empty, else a new slot at the end. A chain head
  // that is not a deleted record, or whose next link is out of range, raises 8961.
  TRecord* NewRecordSlot();
  // Puts the record on the free chain: Deleted = 1, its link = the old chain head (always 0
  // without a primary index), FirstFree = its number.
  void DeleteRecordSlot(TRecord* record);
  // Writes the changed, unpinned records, one write per run of consecutive numbers.
  void WriteChangedRecords(bool flushToDisk = false);
  // Writes whole record images (as this process sees them: scrambled here when encrypted)
  // over records first, first + 1, ... in one write, past the cache. For a rewrite of the
  // record area by one who holds the table to itself and has emptied the cache (8962
  // otherwise, or for a run that starts after NextRecordNo or images not a whole number of
  // records).
  void WriteRecordImages(std::int32_t first, std::span<const std::uint8_t> images);
  // After a rewrite of the record area: the file ends after record count, NextRecordNo is
  // count + 1 and the free chain is empty. The cache must be empty (8962).
  void CutRecords(std::int32_t count);

  // Sets the texts (scrambled when encrypted; cut to 15 and 50 characters), versions and the
  // auto-increment counter; marks the header changed.
  void AlterTableInfo(std::string_view password, std::string_view description,
                      std::int16_t userMinorVersion, std::int16_t userMajorVersion,
                      std::int32_t lastAutoInc);

  // Descriptor of field n (1-based) or nullptr.
  const TFieldDescriptor* DescriptorByNumber(int n) const;
  // Descriptor of the named field (without regard to case) or nullptr.
  const TFieldDescriptor* DescriptorByName(std::string_view name) const;
  // Replaces the texts of field n and marks the descriptors changed; 9985 for no such field.
  void ReplaceDescriptorText(int n, std::string_view name, std::uint8_t subType,
                             std::string_view description, bool required, std::string_view minValue,
                             std::string_view maxValue, std::string_view defaultValue);
  std::span<const TFieldDescriptor> Descriptors() const { return FDescriptors; }

  // Record slots, live or deleted: NextRecordNo - 1.
  std::int32_t RecordCount() const { return FHeader.NextRecordNo - 1; }

  // Header readers.
  const TDataHeader& Header() const { return FHeader; }
  std::int32_t ChangeCount() const { return FHeader.ChangeCount; }
  std::uint32_t BlobBlockSize() const;
  std::int32_t FirstFree() const { return FHeader.FirstFree; }
  std::int32_t NextRecordNo() const { return FHeader.NextRecordNo; }
  std::int32_t LastAutoInc() const { return FHeader.LastAutoInc; }
  void SetLastAutoInc(std::int32_t value);
  std::uint16_t RecordSize() const { return FHeader.RecordSize; }
  std::uint16_t FieldCount() const { return FHeader.FieldCount; }
  std::int16_t BlobFieldCount() const { return FHeader.BlobFieldCount; }
  double LastUpdated() const { return FHeader.LastUpdated; }
  bool Encrypted() const { return FHeader.Encrypted == 1; }
  std::string Description() const;  // unscrambled
  std::string Password() const;     // unscrambled
  std::int16_t LanguageId() const { return FHeader.LanguageId; }
  std::int16_t SortId() const { return FHeader.SortId; }
  std::int16_t UserMajorVersion() const { return FHeader.UserMajorVersion; }
  std::int16_t UserMinorVersion() const { return FHeader.UserMinorVersion; }
  std::int32_t LastBlobChange() const { return FHeader.LastBlobChange; }
  void SetLastBlobChange(std::int32_t value);
  std::int64_t EngineVersion() const { return FHeader.EngineVersion; }
  bool HeaderChangedFlag() const { return FHeaderChanged; }
  bool DescriptorsChangedFlag() const { return FDescriptorsChanged; }
  std::size_t ReadAheadCount() const { return FReadAheadCount; }

  // Set by the table: whether the table has a primary index of its own (else its order is
  // the physical record order and deleted slots are never reused).
  void SetHasPrimaryIndex(bool has) { FHasPrimaryIndex = has; }
  // The session's setting: every write is pushed to disk.
  void SetForceBufferFlush(bool force) { FForceBufferFlush = force; }
  // The table's answer to "is the table lock held" (changes then stay in memory).
  void SetTableLockQuery(TRecordCache::TLockQuery query);
  TRecordCache& RecordCache() { return FRecords; }

 private:
  std::int64_t DescriptorsSize() const;
  std::int64_t RecordPosition(std::int32_t n) const;
  void WriteHeaderBytes();
  void ReadDescriptors();
  void SizeRecordCache();
  void ReadRecordRun(std::int32_t n, TTravel travel, bool readAhead);
  void WriteRecordRun(std::span<TRecord* const> run);
  void WriteRecordPiece(std::span<TRecord* const> run);
  TRecord* AppendRecord();
  void PushToDisk(bool flushToDisk);
  [[noreturn]] void Raise(std::uint16_t code) const;

  TDataHeader FHeader;
  bool FHeaderChanged = false;
  bool FDescriptorsChanged = false;
  std::vector<TFieldDescriptor> FDescriptors;
  std::size_t FReadAheadCount = 1;
  bool FHasPrimaryIndex = false;
  bool FForceBufferFlush = false;
  TCachePool<TRecord> FRecordPool;
  TRecordCache FRecords;
};

}  // namespace kura
