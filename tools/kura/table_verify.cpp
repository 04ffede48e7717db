#include "tools/kura/table_verify.h"

#include <algorithm>
#include <cstring>
#include <unordered_map>
#include <utility>

#include "dataset/cp932.h"
#include "storage/blob_format.h"
#include "storage/field_types.h"
#include "storage/index_key.h"
#include "storage/little_endian.h"
#include "storage/record_image.h"
#include "tools/kura/header_details.h"

namespace kura::tool {
namespace {

// What the checks after the record scan need of each record slot.
struct TSlotSummary {
  bool Deleted = false;
  std::int32_t Link = 0;  // the next deleted slot of a deleted record
  std::int32_t RowId = 0;
};

// A BLOB reference of a live record.
struct TBlobReference {
  std::int32_t RecordNo = 0;
  std::string FieldName;
  std::int32_t FirstBlock = 0;
  std::int32_t BlobChange = 0;
};

// The numbered rule a record violation begins with ("2: ...") means nothing to a user.
std::string WithoutRuleNumber(const std::string& violation) {
  const std::size_t colon = violation.find(": ");
  if (colon != std::string::npos && colon > 0 &&
      std::all_of(violation.begin(), violation.begin() + static_cast<std::ptrdiff_t>(colon),
                  [](char c) { return c >= '0' && c <= '9'; }))
    return violation.substr(colon + 2);
  return violation;
}

// "blocks 4..9" or "block 4".
std::string BlockRun(std::int32_t first, std::int32_t last) {
  if (first == last) return "block " + std::to_string(first);
  return "blocks " + std::to_string(first) + ".." + std::to_string(last);
}

class TTableVerifier {
 public:
  explicit TTableVerifier(TTableReader& reader)
      : FReader(reader),
        FDataName(reader.Path().DataName()),
        FIndexName(reader.Path().IndexName()),
        FBlobName(reader.Path().BlobName()) {}

  std::vector<std::string> Run() {
    std::vector<std::string> openProblems;
    FReader.Open(openProblems);
    for (const std::string& problem : openProblems) Add(problem);
    if (FReader.DataOpen()) {
      ExplainRefusedHeaders();
      CheckOpenedTable();
    }
    FReader.Close();
    if (FOmitted > 0)
      FFindings.push_back(FileProblem(
          FDataName, std::to_string(FOmitted) + " more findings for this table not shown"));
    return std::move(FFindings);
  }

 private:
  void Add(const std::string& finding) {
    if (FFindings.size() < kMaxFindingsPerTable) {
      FFindings.push_back(finding);
    } else {
      ++FOmitted;
    }
  }
  void Data(const std::string& what) { Add(FileProblem(FDataName, what)); }
  void Index(const std::string& what) { Add(FileProblem(FIndexName, what)); }
  void Blob(const std::string& what) { Add(FileProblem(FBlobName, what)); }

  TDataFile& DataFile() { return FReader.Data(); }
  TIndexFile& IndexFile() { return FReader.Index(); }
  TBlobFile& BlobFile() { return FReader.Blob(); }

  void CheckOpenedTable() {
    bool locked = false;
    if (!Try(FDataName, [&] { locked = FReader.LockForReading(); })) return;
    if (!locked) {
      Data("no read lock could be had: another process keeps the table locked for writing");
      return;
    }
    if (!CheckStructures()) return;
    ScanRecords();
    CheckDeletedChain();
    if (FIndexSound) {
      CheckLiveRecordCount();
      CheckIndexes();
    }
    if (FBlobSound) CheckBlobs();
  }

  // The structure checks of opening. Without a sound data file nothing else can be read.
  bool CheckStructures() {
    Try(FDataName, [&] { CheckRecordArea(); });
    CheckBlobFieldCount();
    try {
      DataFile().CheckStructure();
    } catch (const std::exception& error) {
      Data(std::string("structure check: ") + error.what());
      return false;
    }
    FIndexSound =
        FReader.IndexOpen() && Try(FIndexName, [&] { IndexFile().CheckIndexStructure(); });
    FBlobSound = FReader.BlobOpen() && Try(FBlobName, [&] { BlobFile().CheckBlobStructure(); });
    return true;
  }

  // A header the handler refused is read again byte by byte to say what is wrong with it.
  void ExplainRefusedHeaders() {
    TFileList& list = FReader.Files();
    const bool inMemory = FReader.Path().InMemory, encrypted = DataFile().Encrypted();
    if (!FReader.IndexOpen() && FReader.Index().FileExists()) {
      Try(FIndexName, [&] {
        for (const std::string& fault : IndexHeaderDetails(list, FIndexName, inMemory, encrypted))
          Index(fault);
      });
    }
    if (DataFile().BlobFieldCount() > 0 && !FReader.BlobOpen() && FReader.Blob().FileExists()) {
      const int blockSize = BlobBlockSizeOf(DataFile().Header().BlobBlockSize);
      Try(FBlobName, [&] {
        for (const std::string& fault :
             BlobHeaderDetails(list, FBlobName, inMemory, encrypted, blockSize))
          Blob(fault);
      });
    }
  }

  // The structure check only says the header is corrupt; this says what a record count
  // that lies looks like.
  void CheckRecordArea() {
    TDataFile& data = DataFile();
    const std::int64_t start = static_cast<std::int64_t>(kDataHeaderSize) +
                               std::int64_t{data.FieldCount()} * std::int64_t{kFieldDescriptorSize};
    const std::int64_t bytes = data.FileSize() - start;
    const std::int64_t counted = std::int64_t{data.RecordCount()} * data.RecordSize();
    if (data.RecordSize() == 0 || bytes == counted) return;
    Data("NextRecordNo counts " + std::to_string(data.RecordCount()) + " record slots (" +
         std::to_string(counted) + " bytes) but the file holds " + std::to_string(bytes) +
         " bytes of records");
  }

  // The structure check only says the header is corrupt; this names the count that lies.
  void CheckBlobFieldCount() {
    const std::size_t blobFields = CountBlobFields(DataFile().Descriptors());
    if (static_cast<std::size_t>(DataFile().BlobFieldCount()) == blobFields) return;
    Data("BlobFieldCount is " + std::to_string(DataFile().BlobFieldCount()) + " but the fields " +
         "include " + std::to_string(blobFields) + " BLOB fields");
  }

  // Runs a check; an exception becomes a finding on the file. Answers whether it passed.
  template <typename TCheck>
  bool Try(const std::string& fileName, TCheck check) {
    try {
      check();
      return true;
    } catch (const std::exception& error) {
      Add(FileProblem(fileName, error.what()));
      return false;
    }
  }

  // Visits the readable records in order: visit(n, image). A record that cannot be read
  // ends the walk (later ones sit behind the same damage).
  template <typename TVisit>
  void ForEachRecord(TVisit visit) {
    for (std::int32_t n = 1; n <= FReadableRecords; ++n) {
      TRecord* record = DataFile().GetRecord(n);
      try {
        visit(n, std::span<const std::uint8_t>(record->Image));
      } catch (...) {
        DataFile().ReleaseRecord(record);
        throw;
      }
      DataFile().ReleaseRecord(record);
    }
  }

  // --- Records ------------------------------------------------------------------------

  void ScanRecords() {
    FReadableRecords = DataFile().RecordCount();
    FSlots.assign(static_cast<std::size_t>(FReadableRecords) + 1, {});
    std::int32_t n = 1;
    try {
      for (; n <= FReadableRecords; ++n) {
        TRecord* record = DataFile().GetRecord(n);
        std::vector<std::uint8_t> image = record->Image;
        DataFile().ReleaseRecord(record);
        ScanRecord(n, image);
      }
    } catch (const std::exception& error) {
      Data("record " + std::to_string(n) + " cannot be read: " + error.what());
      FReadableRecords = n - 1;
    }
    CheckRowIds();
    CheckLastAutoInc();
  }

  void ScanRecord(std::int32_t n, std::span<const std::uint8_t> image) {
    TSlotSummary& slot = FSlots[static_cast<std::size_t>(n)];
    slot.Deleted = image[kDeletedOffset] != 0;
    slot.RowId = RowId(image);
    if (image[kDeletedOffset] > 1) {
      Data("record " + std::to_string(n) + ": its deleted byte is " +
           std::to_string(image[kDeletedOffset]) + ", neither 0 nor 1");
    }
    if (slot.Deleted) {
      slot.Link = RecordNoOrNextFree(image);
      return;
    }
    ++FLiveRecords;
    if (RecordNoOrNextFree(image) != n) {
      Data("record " + std::to_string(n) + " is live but carries the record number " +
           std::to_string(RecordNoOrNextFree(image)));
    }
    const std::string violation = RecordInvariantViolation(image, DataFile().Descriptors());
    if (!violation.empty())
      Data("record " + std::to_string(n) + ": " + Cp932ToUtf8(WithoutRuleNumber(violation)));
    CollectBlobReferences(n, image);
  }

  void CollectBlobReferences(std::int32_t n, std::span<const std::uint8_t> image) {
    for (const TFieldDescriptor& field : DataFile().Descriptors()) {
      if (field.FieldType != kFieldTypeBlob) continue;
      const std::size_t offset = field.FieldOffset;
      if (offset + 1 + 8 > image.size()) continue;  // the structure check saw to the layout
      const std::int32_t first = GetI32LE(&image[offset + 1]);
      if (first == 0) continue;
      FBlobReferences.push_back(
          {n, Cp932ToUtf8(field.FieldName), first, GetI32LE(&image[offset + 1 + 4])});
    }
  }

  // New rows are numbered from LastAutoInc on: a RowId above it would be handed out again.
  void CheckLastAutoInc() {
    const std::int32_t last = DataFile().LastAutoInc();
    for (std::int32_t n = 1; n <= FReadableRecords; ++n) {
      const std::int32_t rowId = FSlots[static_cast<std::size_t>(n)].RowId;
      if (rowId <= last) continue;
      Data("record " + std::to_string(n) + " has the RowId " + std::to_string(rowId) +
           ", above LastAutoInc " + std::to_string(last) + ": new rows would get it again");
    }
  }

  void CheckRowIds() {
    std::vector<std::pair<std::int32_t, std::int32_t>> byRowId;  // RowId, record
    byRowId.reserve(static_cast<std::size_t>(FReadableRecords));
    for (std::int32_t n = 1; n <= FReadableRecords; ++n)
      byRowId.emplace_back(FSlots[static_cast<std::size_t>(n)].RowId, n);
    std::sort(byRowId.begin(), byRowId.end());
    for (std::size_t i = 1; i < byRowId.size(); ++i) {
      if (byRowId[i].first != byRowId[i - 1].first) continue;
      Data("records " + std::to_string(byRowId[i - 1].second) + " and " +
           std::to_string(byRowId[i].second) + " share the RowId " +
           std::to_string(byRowId[i].first));
    }
  }

  bool HasPrimaryIndex() { return FReader.IndexOpen() && !IndexFile().NoPrimaryIndex(); }

  // The chain of deleted slots from FirstFree: through deleted slots only, without loops;
  // with a primary index of its own the table reuses deleted slots, so each must be on it.
  void CheckDeletedChain() {
    std::vector<bool> onChain(FSlots.size(), false);
    for (std::int32_t n = DataFile().FirstFree(); n != 0;) {
      if (n < 1 || n > FReadableRecords) {
        Data("the chain of deleted records leads to record " + std::to_string(n) +
             ", which is not a readable record");
        break;
      }
      const auto at = static_cast<std::size_t>(n);
      if (onChain[at]) {
        Data("the chain of deleted records loops back to record " + std::to_string(n));
        break;
      }
      if (!FSlots[at].Deleted) {
        Data("the chain of deleted records passes through live record " + std::to_string(n));
        break;
      }
      onChain[at] = true;
      n = FSlots[at].Link;
    }
    if (!HasPrimaryIndex()) return;
    for (std::int32_t n = 1; n <= FReadableRecords; ++n) {
      const auto at = static_cast<std::size_t>(n);
      if (FSlots[at].Deleted && !onChain[at])
        Data("deleted record " + std::to_string(n) + " is not on the chain of deleted records");
    }
  }

  // --- Indexes ------------------------------------------------------------------------

  void CheckLiveRecordCount() {
    if (FReadableRecords != DataFile().RecordCount()) return;  // counted from part of the file
    if (IndexFile().LiveRecordCount() == FLiveRecords) return;
    Index("LiveRecordCount is " + std::to_string(IndexFile().LiveRecordCount()) +
          " but the data file holds " + std::to_string(FLiveRecords) + " live records");
  }

  std::string IndexLabel(int slot) {
    if (slot == kPrimaryIndexSlot) return "primary index";
    return "index \"" + Cp932ToUtf8(IndexFile().Header().Descriptors[slot].IndexName) + "\"";
  }

  void CheckIndexes() {
    // Which index holds each page, in its tree or on its free chain: -1 none.
    FPageOwners.assign(static_cast<std::size_t>(std::max(IndexFile().NextPageNo(), 1)), -1);
    // Only when every page of every index was seen can a page no index holds be named.
    bool allSeen = Try(FIndexName, [&] { ClaimPages(kSysTextSlot, TextParamPages()); });
    for (int slot = 0; slot < kIndexSlotCount; ++slot) {
      if (!IndexFile().SlotInUse(slot)) continue;
      TTreeCheckReport report;
      if (!Try(FIndexName, [&] { report = IndexFile().CheckTree(slot); })) {
        allSeen = false;
        continue;
      }
      for (const std::string& problem : report.Problems) Index(IndexLabel(slot) + ": " + problem);
      ClaimPages(slot, report.PageNumbers);
      // A damaged tree would make every record after the damage look unindexed.
      if (!report.Ok()) {
        allSeen = false;
        continue;
      }
      if (slot == kSysTextSlot) {
        Try(FIndexName, [&] { CheckTextKeys(); });
      } else {
        Try(FIndexName, [&] { CheckKeysAgainstRecords(slot); });
      }
    }
    if (allSeen) ReportOrphanedPages();
  }

  // The chain of the text index's parameter pages, which belong to it besides its tree.
  std::vector<std::int32_t> TextParamPages() {
    std::vector<std::int32_t> pages;
    for (std::int32_t pageNo = IndexFile().ParamPage(); pageNo != 0;) {
      if (pages.size() >= FPageOwners.size()) {
        Index("the chain of text index parameter pages loops");
        break;
      }
      TPage* page = IndexFile().GetPage(kSysTextSlot, pageNo);
      const bool params = page->Type == kPageParams;
      const std::int32_t next = page->NextPage;
      IndexFile().ReleasePage(kSysTextSlot, page);
      if (!params) {
        Index("page " + std::to_string(pageNo) +
              " on the chain of text index parameter pages is no parameter page");
        break;
      }
      pages.push_back(pageNo);
      pageNo = next;
    }
    return pages;
  }

  // A page that no index holds and that is on no free chain is lost to the file: nothing
  // will ever use it again.
  void ReportOrphanedPages() {
    const auto count = static_cast<std::int32_t>(FPageOwners.size());
    for (std::int32_t n = 1; n < count;) {
      if (FPageOwners[static_cast<std::size_t>(n)] >= 0) {
        ++n;
        continue;
      }
      std::int32_t last = n;
      while (last + 1 < count && FPageOwners[static_cast<std::size_t>(last + 1)] < 0) ++last;
      Index((n == last ? "page " + std::to_string(n) + " belongs"
                       : "pages " + std::to_string(n) + ".." + std::to_string(last) + " belong") +
            " to no index and to no free chain");
      n = last + 1;
    }
  }

  // A page of two indexes would be overwritten by one of them.
  void ClaimPages(int slot, const std::vector<std::int32_t>& pages) {
    for (const std::int32_t page : pages) {
      if (page < 1 || static_cast<std::size_t>(page) >= FPageOwners.size()) continue;
      int& owner = FPageOwners[static_cast<std::size_t>(page)];
      if (owner >= 0 && owner != slot) {
        Index("page " + std::to_string(page) + " belongs to both " + IndexLabel(owner) + " and " +
              IndexLabel(slot));
      }
      owner = slot;
    }
  }

  // The words of the text index belong to live records (a deleted record's words go with it).
  void CheckTextKeys() {
    if (FReadableRecords != DataFile().RecordCount()) return;  // the rest was not read
    std::vector<std::int32_t> liveRowIds;
    for (std::int32_t n = 1; n <= FReadableRecords; ++n)
      if (!FSlots[static_cast<std::size_t>(n)].Deleted)
        liveRowIds.push_back(FSlots[static_cast<std::size_t>(n)].RowId);
    std::sort(liveRowIds.begin(), liveRowIds.end());
    std::vector<std::int32_t> strayRowIds;
    IndexFile().Tree(kSysTextSlot).ForEachKey([&](const std::uint8_t* key, std::int32_t) {
      const std::int32_t rowId = GetRowIdSuffix(key + kSysTextKeyLength - kRowIdSuffixSize);
      if (!std::binary_search(liveRowIds.begin(), liveRowIds.end(), rowId))
        strayRowIds.push_back(rowId);
    });
    for (const std::int32_t rowId : Distinct(strayRowIds))
      Index("index \"Sys Text\": holds words of RowId " + std::to_string(rowId) +
            ", which no live record has");
  }

  template <typename T>
  static std::vector<T> Distinct(std::vector<T> values) {
    std::sort(values.begin(), values.end());
    values.erase(std::unique(values.begin(), values.end()), values.end());
    return values;
  }

  // Every record the index covers has exactly its own key, and the index nothing else.
  void CheckKeysAgainstRecords(int slot) {
    const TKeyFormat& format = IndexFile().KeyFormat(slot);
    const auto keyLength = static_cast<std::size_t>(format.KeyLength);
    const std::string label = IndexLabel(slot);
    std::unordered_map<std::int32_t, std::vector<std::uint8_t>> keys;
    IndexFile().Tree(slot).ForEachKey([&](const std::uint8_t* key, std::int32_t recordNo) {
      if (!keys.emplace(recordNo, std::vector<std::uint8_t>(key, key + keyLength)).second)
        Index(label + ": holds more than one key for record " + std::to_string(recordNo));
    });
    std::vector<std::uint8_t> built(keyLength);
    ForEachRecord([&](std::int32_t n, std::span<const std::uint8_t> image) {
      if (slot != kSysDeletedSlot && FSlots[static_cast<std::size_t>(n)].Deleted) return;
      BuildKey(format, image, built);
      const auto found = keys.find(n);
      if (found == keys.end()) {
        Index(label + ": record " + std::to_string(n) + " has no key");
        return;
      }
      if (found->second != built)
        Index(label + ": the key of record " + std::to_string(n) + " does not match the record");
      keys.erase(found);
    });
    if (FReadableRecords != DataFile().RecordCount()) return;  // the rest was not read
    std::vector<std::int32_t> strays;
    for (const auto& [recordNo, key] : keys) strays.push_back(recordNo);
    std::sort(strays.begin(), strays.end());
    for (const std::int32_t n : strays) {
      const bool deleted =
          n >= 1 && n <= FReadableRecords && FSlots[static_cast<std::size_t>(n)].Deleted;
      Index(label + ": holds a key for record " + std::to_string(n) +
            (deleted ? ", which is deleted" : ", which is not a record of the table"));
    }
  }

  // --- BLOBs --------------------------------------------------------------------------

  void CheckBlobs() {
    const std::int32_t nextBlockNo = BlobFile().Header().NextBlockNo;
    // Who holds each block: 0 nobody, -1 the free chain, k the k-th reference.
    FBlockOwners.assign(static_cast<std::size_t>(std::max<std::int32_t>(nextBlockNo, 1)), 0);
    for (std::size_t i = 0; i < FBlobReferences.size(); ++i) CheckValueChain(i);
    std::vector<std::int32_t> freeBlocks;
    if (Try(FBlobName, [&] { freeBlocks = BlobFile().Chains().FreeChainBlocks(); })) {
      for (const std::int32_t block : freeBlocks) Claim(block, -1);
    } else {
      return;  // the blocks of a broken free chain would all look lost
    }
    ReportLostBlocks();
  }

  std::string OwnerName(int owner) const {
    if (owner < 0) return "the free chain";
    const TBlobReference& reference = FBlobReferences[static_cast<std::size_t>(owner - 1)];
    return "record " + std::to_string(reference.RecordNo) + " field " + reference.FieldName;
  }

  void Claim(std::int32_t block, int owner) {
    int& holder = FBlockOwners[static_cast<std::size_t>(block)];
    if (holder != 0) {
      Blob(BlockRun(block, block) + " is in two chains: " + OwnerName(holder) + " and " +
           OwnerName(owner));
      return;
    }
    holder = owner;
  }

  void CheckValueChain(std::size_t index) {
    const TBlobReference& reference = FBlobReferences[index];
    const int owner = static_cast<int>(index) + 1;
    const std::string who = OwnerName(owner) + ": ";
    std::vector<std::int32_t> blocks;
    try {
      blocks = BlobFile().Chains().ValueBlocks(reference.FirstBlock, reference.BlobChange);
      CheckChainBlocks(blocks, who);
    } catch (const std::exception& error) {
      Blob(who + error.what());
      return;
    }
    for (const std::int32_t block : blocks) Claim(block, owner);
  }

  // Back links, the length in the first block only, and the used bytes adding up to it.
  void CheckChainBlocks(const std::vector<std::int32_t>& blocks, const std::string& who) {
    const std::int64_t dataSize = BlockDataSize(BlobFile().BlockSize());
    std::int64_t length = 0, used = 0;
    for (std::size_t i = 0; i < blocks.size(); ++i) {
      TBlock& block = BlobFile().GetBlock(blocks[i], 1, true);
      const std::int32_t previous = i == 0 ? 0 : blocks[i - 1];
      const std::int32_t prevLink = block.PrevBlock, blobLength = block.BlobLength;
      const std::int64_t usedBytes = block.UsedBytes;
      BlobFile().ReleaseBlock(block);
      if (prevLink != previous) {
        Blob(who + BlockRun(blocks[i], blocks[i]) + " links back to " + std::to_string(prevLink) +
             " instead of " + std::to_string(previous));
      }
      if (i == 0) length = blobLength;
      if (i > 0 && blobLength != 0)
        Blob(who + BlockRun(blocks[i], blocks[i]) + " carries a length but is not the first");
      if (usedBytes > dataSize)
        Blob(who + BlockRun(blocks[i], blocks[i]) + " claims more used bytes than it holds");
      used += std::min(usedBytes, dataSize);
    }
    if (used != length) {
      Blob(who + "its blocks hold " + std::to_string(used) + " bytes but the value is " +
           std::to_string(length) + " bytes long");
    }
    const std::int64_t needed = length <= 0 ? 1 : (length + dataSize - 1) / dataSize;
    if (static_cast<std::int64_t>(blocks.size()) > needed) {
      Blob(who + "a chain of " + std::to_string(blocks.size()) + " blocks for " +
           std::to_string(length) + " bytes");
    }
  }

  void ReportLostBlocks() {
    const auto count = static_cast<std::int32_t>(FBlockOwners.size());
    for (std::int32_t n = 1; n < count;) {
      if (FBlockOwners[static_cast<std::size_t>(n)] != 0) {
        ++n;
        continue;
      }
      std::int32_t last = n;
      while (last + 1 < count && FBlockOwners[static_cast<std::size_t>(last + 1)] == 0) ++last;
      Blob(BlockRun(n, last) + (n == last ? " is" : " are") +
           " in no chain: neither a live record's BLOB nor free");
      n = last + 1;
    }
  }

  TTableReader& FReader;
  const std::string FDataName, FIndexName, FBlobName;
  std::vector<std::string> FFindings;
  std::size_t FOmitted = 0;
  bool FIndexSound = false;
  bool FBlobSound = false;
  std::int32_t FReadableRecords = 0;
  std::int32_t FLiveRecords = 0;
  std::vector<TSlotSummary> FSlots;  // by record number; [0] unused
  std::vector<TBlobReference> FBlobReferences;
  std::vector<int> FBlockOwners;
  std::vector<int> FPageOwners;
};

}  // namespace

std::vector<std::string> VerifyTable(const TTablePath& path, TFileList& list) {
  TTableReader reader(path, list);
  return TTableVerifier(reader).Run();
}

}  // namespace kura::tool
