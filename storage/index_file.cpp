#include "storage/index_file.h"

#include <algorithm>
#include <cstring>

#include "base/engine_codes.h"
#include "base/engine_error.h"
#include "storage/ascii_case.h"
#include "storage/field_types.h"
#include "storage/little_endian.h"

namespace kura {
namespace {

constexpr std::size_t kChangeCountOffset = 0;
constexpr std::size_t kVersionOffset = 8;
constexpr std::size_t kNextPageOffset = 9;
constexpr std::size_t kSecondaryCountOffset = 13;
constexpr std::size_t kDescriptorsOffset = 14;
constexpr std::size_t kLiveCountOffset =
    kDescriptorsOffset + kIndexSlotCount * kIndexDescriptorSize;
static_assert(kLiveCountOffset == 3974);
constexpr std::size_t kNoPrimaryOffset = 3978;
constexpr std::size_t kHeaderChangedOffset = 3979;

// The seeds every page and the header are scrambled with in an encrypted table.
constexpr std::uint8_t kScrambleLow = 0x0B;
constexpr std::uint8_t kScrambleHigh = 0x0D;

bool NameStartIsValid(std::string_view name) {
  if (name.empty()) return false;
  auto c = static_cast<unsigned char>(name[0]);
  bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
  return letter || c == '_' || (c >= 128 && c <= 254);
}

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    auto x = static_cast<unsigned char>(a[i]);
    auto y = static_cast<unsigned char>(b[i]);
    if (x >= 'a' && x <= 'z') x = static_cast<unsigned char>(x - 'a' + 'A');
    if (y >= 'a' && y <= 'z') y = static_cast<unsigned char>(y - 'a' + 'A');
    if (x != y) return false;
  }
  return true;
}

}  // namespace

// --- Header image --------------------------------------------------------------------------

void ScrambleBuffer(std::span<std::uint8_t> buffer, std::uint8_t low, std::uint8_t high) {
  if ((buffer.size() & 0xFFFF) == 0) return;  // a length the routine leaves alone
  for (std::uint8_t& b : buffer) {
    b = static_cast<std::uint8_t>(b ^ low ^ high);
    ++low;
    --high;
  }
}

void EncodeIndexHeader(const TIndexHeader& header, std::span<std::uint8_t, kIndexPageBytes> image) {
  std::fill(image.begin(), image.end(), 0);
  std::uint8_t* p = image.data();
  PutI32LE(p + kChangeCountOffset, header.IndexChangeCount);
  p[kVersionOffset] = kIndexVersion;
  PutI32LE(p + kNextPageOffset, header.NextPageNo);
  p[kSecondaryCountOffset] = header.SecondaryCount;
  for (int slot = 0; slot < kIndexSlotCount; ++slot) {
    const TIndexDescriptor& d = header.Descriptors[slot];
    if (d.TemporaryIndex) continue;
    std::span<std::uint8_t, kIndexDescriptorSize> area(
        p + kDescriptorsOffset + slot * kIndexDescriptorSize, kIndexDescriptorSize);
    EncodeIndexDescriptor(d, area);
  }
  PutI32LE(p + kLiveCountOffset, header.LiveRecordCount);
  p[kNoPrimaryOffset] = header.NoPrimaryIndex ? 1 : 0;
  p[kHeaderChangedOffset] = header.HeaderChanged ? 1 : 0;
}

TStoredHeaderFault StoredIndexHeaderFault(std::span<const std::uint8_t, kIndexPageBytes> image) {
  const std::uint8_t* p = image.data();
  const std::uint8_t noPrimary = p[kNoPrimaryOffset];
  if (noPrimary > 1) {
    return {codes::kHeaderCorrupt, -1,
            "NoPrimaryIndex is " + std::to_string(noPrimary) + ", neither 0 nor 1"};
  }
  for (int slot = 0; slot < kIndexSlotCount; ++slot) {
    const std::span<const std::uint8_t, kIndexDescriptorSize> area(
        p + kDescriptorsOffset + static_cast<std::size_t>(slot) * kIndexDescriptorSize,
        kIndexDescriptorSize);
    if (DescriptorMarkedTemporary(area)) {
      return {codes::kIndexPagesCorrupt, slot,
              "index slot " + std::to_string(slot) +
                  " is marked temporary, which a stored index never is"};
    }
  }
  if (noPrimary == 1 &&
      !std::all_of(p + kDescriptorsOffset, p + kDescriptorsOffset + kIndexDescriptorSize,
                   [](std::uint8_t b) { return b == 0; })) {
    return {codes::kIndexPagesCorrupt, kPrimaryIndexSlot,
            "NoPrimaryIndex is set but index slot 0 still holds a primary index"};
  }
  return {};
}

TIndexHeader DecodeIndexHeader(std::span<const std::uint8_t, kIndexPageBytes> image) {
  const std::uint8_t* p = image.data();
  if (p[kVersionOffset] != kIndexVersion) RaiseEngineError(codes::kWrongVersion);
  TIndexHeader header;
  header.IndexChangeCount = GetI32LE(p + kChangeCountOffset);
  header.NextPageNo = GetI32LE(p + kNextPageOffset);
  header.SecondaryCount = p[kSecondaryCountOffset];
  for (int slot = 0; slot < kIndexSlotCount; ++slot) {
    std::span<const std::uint8_t, kIndexDescriptorSize> area(
        p + kDescriptorsOffset + slot * kIndexDescriptorSize, kIndexDescriptorSize);
    header.Descriptors[slot] = DecodeIndexDescriptor(area);
  }
  header.LiveRecordCount = GetI32LE(p + kLiveCountOffset);
  header.NoPrimaryIndex = p[kNoPrimaryOffset] != 0;
  header.HeaderChanged = false;
  if (header.NextPageNo < 1 || header.NextPageNo > kMaxIndexFilePages ||
      header.SecondaryCount > kMaxSecondaryIndexes) {
    RaiseEngineError(codes::kHeaderCorrupt);
  }
  for (const TIndexDescriptor& d : header.Descriptors) {
    if (!IndexDescriptorViolation(d, header.NextPageNo).empty()) {
      RaiseEngineError(codes::kHeaderCorrupt);
    }
    if (d.RootPage != 0 && d.KeyLength == 0) RaiseEngineError(codes::kHeaderCorrupt);
  }
  if (header.Descriptors[kSysDeletedSlot].KeyLength != kSysDeletedKeyLength ||
      header.Descriptors[kSysTextSlot].KeyLength != kSysTextKeyLength) {
    RaiseEngineError(codes::kHeaderCorrupt);
  }
  const TStoredHeaderFault fault = StoredIndexHeaderFault(image);
  if (fault.Code != 0) {
    const std::string index =
        fault.Slot >= 0 ? header.Descriptors[static_cast<std::size_t>(fault.Slot)].IndexName : "";
    RaiseEngineError(fault.Code, {}, {}, {}, {}, {}, index, fault.What);
  }
  return header;
}

// --- Per-slot page store -------------------------------------------------------------------

class TIndexFile::TSlotStore : public TIndexPageStore {
 public:
  TSlotStore(TIndexFile& file, int slot) : FFile(file), FSlot(slot) {}
  TPage* GetPage(std::int32_t pageNo) override { return FFile.GetPage(FSlot, pageNo); }
  void ReleasePage(TPage* page) override { FFile.ReleasePage(FSlot, page); }
  TPage* NewPage() override { return FFile.NewPage(FSlot); }
  void FreePage(TPage* page) override { FFile.FreePage(FSlot, page); }
  std::int32_t RootPage() const override { return FFile.RootPage(FSlot); }
  void SetRootPage(std::int32_t pageNo) override {
    FFile.FHeader.Descriptors[FSlot].RootPage = pageNo;
    FFile.MarkHeaderChanged();
  }
  std::int32_t FreePageHead() const override { return FFile.FHeader.Descriptors[FSlot].FreePage; }
  std::int32_t NextPageNo() const override { return FFile.FHeader.NextPageNo; }

 private:
  TIndexFile& FFile;
  int FSlot;
};

// --- Life cycle ----------------------------------------------------------------------------

TIndexFile::TIndexFile(TFileList& list)
    : TFileHandler(list), FPool(kPagePoolLimit, [] { return std::make_unique<TPage>(); }) {
  for (int slot = 0; slot < kIndexSlotCount; ++slot) {
    TCacheSettings settings;
    settings.ChainScan = kPageChainScan;
    settings.GrowthStep = kPageCacheGrowth;
    settings.CorruptCode = codes::kIndexPagesCorrupt;
    settings.Owner = this;
    FCaches[slot] = std::make_unique<TBufferCache<TPage>>(FPool, settings);
    FCaches[slot]->SetCapacity(PageCacheCapacity());
    FCaches[slot]->SetWriteBack([this](std::span<TPage* const> run) { WritePageRun(run); });
    FStores[slot] = std::make_unique<TSlotStore>(*this, slot);
  }
}

TIndexFile::~TIndexFile() {
  for (auto& cache : FCaches) cache->Discard();
}

void TIndexFile::SetTable(std::vector<TFieldDescriptor> fields, TTableLocale locale,
                          bool encrypted) {
  FFields = std::move(fields);
  FLocale = locale;
  FEncrypted = encrypted;
  ResetKeyFormats();
}

void TIndexFile::ResetKeyFormats() {
  for (auto& format : FKeyFormats) format.reset();
}

void TIndexFile::Raise(std::uint16_t code, std::string_view index) const {
  RaiseEngineError(code, {}, {}, {}, FileName(), {}, index);
}

TIndexHeader TIndexFile::ReadHeaderFromDisk() {
  TPageImage image{};
  BeginAccess();
  std::int64_t got = 0;
  try {
    Seek(kSeekFromStart, 0);
    got = ReadBuffer(image.data(), kIndexPageBytes, true);
  } catch (...) {
    EndAccess();
    throw;
  }
  EndAccess();
  if (got != static_cast<std::int64_t>(kIndexPageBytes)) Raise(codes::kHeaderCorrupt);
  if (FEncrypted) ScrambleBuffer(image, kScrambleLow, kScrambleHigh);
  TIndexHeader header;
  try {
    header = DecodeIndexHeader(image);
  } catch (const EKuraEngineError& e) {
    RaiseEngineError(e.ErrorCode, {}, {}, {}, FileName(), {}, e.ErrorIndexName, e.ErrorText);
  }
  // Every page below NextPageNo lies in the file; a header that claims more is damaged (and
  // would have new pages written far past the end).
  if (FileSize() < std::int64_t{header.NextPageNo} * std::int64_t{kIndexPageBytes}) {
    Raise(codes::kHeaderCorrupt);
  }
  return header;
}

void TIndexFile::Open() {
  TFileHandler::Open();
  try {
    FHeader = ReadHeaderFromDisk();
    for (auto& cache : FCaches) cache->SetOwnerName(FileName());
    ResetKeyFormats();
  } catch (...) {
    TFileHandler::Close();
    throw;
  }
}

bool TIndexFile::IndexHeaderChangedOnDisk() {
  TIndexHeader onDisk = ReadHeaderFromDisk();
  if (onDisk.IndexChangeCount == FHeader.IndexChangeCount) return false;
  FHeader = onDisk;
  ResetKeyFormats();
  return true;
}

void TIndexFile::ReloadIndexHeader() {
  FHeader = ReadHeaderFromDisk();
  ResetKeyFormats();
}

void TIndexFile::MarkIndexChanged() {
  ++FHeader.IndexChangeCount;
  MarkHeaderChanged();
}

void TIndexFile::SetTableLockQuery(std::function<bool()> query) {
  for (auto& cache : FCaches) cache->SetTableLockQuery(query);
}

bool TIndexFile::HasChangedPages() const {
  return std::any_of(FCaches.begin(), FCaches.end(),
                     [](const auto& cache) { return cache->HasChanges(); });
}

void TIndexFile::TrimPages() {
  for (auto& cache : FCaches) cache->Trim();
}

void TIndexFile::SetPageCacheCapacity(std::size_t pages) {
  for (auto& cache : FCaches) cache->SetCapacity(pages);
}

void TIndexFile::Close() {
  DiscardPages();
  TFileHandler::Close();
}

void TIndexFile::CreateIndexFile() {
  FHeader = TIndexHeader{};
  FHeader.Descriptors[kSysDeletedSlot] = SysDeletedDescriptor();
  FHeader.Descriptors[kSysTextSlot] = SysTextDescriptor();
  FHeader.HeaderChanged = true;
  DiscardPages();
  ResetKeyFormats();
}

void TIndexFile::CreateFile() {
  TFileHandler::CreateFile();
  for (auto& cache : FCaches) cache->SetOwnerName(FileName());
  CreateIndexFile();
  FlushIndexHeader(true);
}

void TIndexFile::RestoreHeader(const TIndexHeader& header) {
  DiscardPages();
  FHeader = header;
  ResetKeyFormats();
  MarkHeaderChanged();
}

void TIndexFile::SetLiveRecordCount(std::int32_t count) {
  FHeader.LiveRecordCount = count;
  MarkHeaderChanged();
}

void TIndexFile::IncLiveRecordCount() {
  ++FHeader.LiveRecordCount;
  MarkHeaderChanged();
}

void TIndexFile::DecLiveRecordCount() {
  if (FHeader.LiveRecordCount > 0) --FHeader.LiveRecordCount;
  MarkHeaderChanged();
}

// --- Index definitions ---------------------------------------------------------------------

void TIndexFile::RequireSlot(int slot) const {
  if (slot < 0 || slot >= kIndexSlotCount) Raise(codes::kInvalidIndexFieldNumber);
}

bool TIndexFile::SlotInUse(int slot) const {
  if (slot == kPrimaryIndexSlot) return FHeader.Descriptors[0].KeyFieldCount > 0;
  if (slot == kSysDeletedSlot || slot == kSysTextSlot) return true;
  return slot >= 1 && slot <= FHeader.SecondaryCount;
}

TIndexDescriptor TIndexFile::MakeDescriptor(const TIndexDefinition& definition) const {
  if (definition.Fields.size() > static_cast<std::size_t>(kMaxKeyFields)) {
    Raise(codes::kIndexLimits, definition.Name);
  }
  TIndexDescriptor d;
  d.IndexName = definition.Name;
  d.Descending = definition.Descending;
  d.CaseInsensitive = definition.CaseInsensitive;
  d.Unique = definition.Unique;
  d.Compression = definition.Compression > kCompressFull ? kCompressNone : definition.Compression;
  d.UncountedIndex = definition.Uncounted;
  d.KeyFieldCount = static_cast<std::uint8_t>(definition.Fields.size());
  std::vector<TFieldDescriptor> keyFields;
  for (std::size_t i = 0; i < definition.Fields.size(); ++i) {
    std::uint16_t number = definition.Fields[i];
    if (number == 0 || number > FFields.size()) {
      Raise(codes::kInvalidIndexFieldNumber, definition.Name);
    }
    const TFieldDescriptor& field = FFields[number - 1];
    if (field.FieldType == kFieldTypeBlob) Raise(codes::kInvalidIndexField, definition.Name);
    d.KeyFields[i] = number;
    d.FieldDescending[i] = i < definition.FieldDescending.size() && definition.FieldDescending[i];
    keyFields.push_back(field);
  }
  int fieldBytes = KeyLengthOf(keyFields, true);
  if (fieldBytes > kMaxKeyFieldBytes) Raise(codes::kInvalidKeySize, definition.Name);
  d.KeyLength = static_cast<std::uint16_t>(KeyLengthOf(keyFields, d.Unique));
  return d;
}

void TIndexFile::SetPrimaryIndex(const TIndexDefinition& definition) {
  if (FHeader.Descriptors[0].KeyFieldCount > 0) Raise(codes::kPrimaryIndexExists);
  TIndexDefinition primary = definition;
  primary.Name.clear();
  primary.Unique = true;
  TIndexDescriptor d = MakeDescriptor(primary);
  if (d.KeyFieldCount == 0) {
    FHeader.Descriptors[0] = TIndexDescriptor{};
    FHeader.NoPrimaryIndex = true;
  } else {
    FHeader.Descriptors[0] = d;
    FHeader.NoPrimaryIndex = false;
  }
  FKeyFormats[0].reset();
  FCaches[0]->Discard();
  MarkHeaderChanged();
}

void TIndexFile::SetTextIndex(std::span<const std::uint16_t> fields) {
  if (fields.size() > static_cast<std::size_t>(kMaxKeyFields)) Raise(codes::kIndexLimits);
  TIndexDescriptor& d = FHeader.Descriptors[kSysTextSlot];
  std::array<std::uint16_t, kMaxKeyFields> numbers{};
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (fields[i] == 0 || fields[i] > FFields.size()) Raise(codes::kInvalidIndexFieldNumber);
    const TFieldDescriptor& field = FFields[fields[i] - 1];
    const bool memo =
        field.FieldType == kFieldTypeBlob &&
        (field.FieldSubType == kSubTypeMemo || field.FieldSubType == kSubTypeFormattedMemo);
    if (field.FieldType != kFieldTypeString && !memo) Raise(codes::kInvalidIndexField);
    numbers[i] = fields[i];
  }
  d.KeyFields = numbers;
  d.KeyFieldCount = static_cast<std::uint8_t>(fields.size());
  MarkHeaderChanged();
}

void TIndexFile::ValidateName(std::string_view name) const {
  if (name.empty()) Raise(codes::kIndexNameMissing);
  if (!NameStartIsValid(name) || name.size() > kMaxIndexNameLength) {
    Raise(codes::kInvalidIndexName, name);
  }
  if (FindIndexName(name) >= 0) Raise(codes::kIndexExists, name);
}

int TIndexFile::AddSecondaryIndex(const TIndexDefinition& definition) {
  if (FHeader.SecondaryCount >= kMaxSecondaryIndexes) Raise(codes::kIndexLimits, definition.Name);
  ValidateName(definition.Name);
  TIndexDescriptor d = MakeDescriptor(definition);
  int slot = FHeader.SecondaryCount + 1;
  FHeader.Descriptors[slot] = d;
  ++FHeader.SecondaryCount;
  FKeyFormats[slot].reset();
  FCaches[slot]->Discard();
  MarkHeaderChanged();
  return slot;
}

void TIndexFile::DeleteIndex(int slot) {
  if (slot < 1 || slot > FHeader.SecondaryCount) Raise(codes::kInvalidIndexFieldNumber);
  // The caches follow their descriptors: write back, then let the moved indexes read their
  // pages afresh under their new slots.
  if (IsOpen()) WriteChangedPages();
  for (int s = slot; s <= FHeader.SecondaryCount; ++s) {
    FCaches[s]->Discard();
    FKeyFormats[s].reset();
  }
  for (int s = slot; s < FHeader.SecondaryCount; ++s) {
    FHeader.Descriptors[s] = FHeader.Descriptors[s + 1];
  }
  FHeader.Descriptors[FHeader.SecondaryCount] = TIndexDescriptor{};
  --FHeader.SecondaryCount;
  MarkHeaderChanged();
}

int TIndexFile::FindIndexName(std::string_view name) const {
  for (int slot = 0; slot < kIndexSlotCount; ++slot) {
    if (!SlotInUse(slot)) continue;
    const std::string& held = FHeader.Descriptors[slot].IndexName;
    if (!held.empty() && SameName(held, name)) return slot;
  }
  return -1;
}

TIndexDescriptor TIndexFile::ReadIndexDescriptor(int slot) const {
  RequireSlot(slot);
  return FHeader.Descriptors[slot];
}

void TIndexFile::CheckIndexStructure() {
  const auto& d = FHeader.Descriptors;
  bool sound = FHeader.NextPageNo >= 1 && FHeader.SecondaryCount <= kMaxSecondaryIndexes &&
               d[0].IndexName.empty();
  for (int slot = 0; sound && slot < kIndexSlotCount; ++slot) {
    if (!IndexDescriptorViolation(d[slot], FHeader.NextPageNo).empty()) sound = false;
    if (!sound || !SlotInUse(slot) || slot == kSysDeletedSlot || slot == kSysTextSlot) continue;
    if (slot > 0) {
      if (!NameStartIsValid(d[slot].IndexName)) sound = false;
      for (int other = 1; other < slot; ++other) {
        if (SameName(d[other].IndexName, d[slot].IndexName)) sound = false;
      }
    }
    try {
      MakeKeyFormat(slot, d[slot], FFields, FLocale);
    } catch (const EKuraEngineError&) {
      sound = false;
    }
  }
  if (d[kSysDeletedSlot].KeyLength != kSysDeletedKeyLength ||
      d[kSysTextSlot].KeyLength != kSysTextKeyLength) {
    sound = false;
  }
  if (!sound) Raise(codes::kHeaderCorrupt);
}

// --- Writing back --------------------------------------------------------------------------

void TIndexFile::WriteHeaderImage() {
  TPageImage image{};
  EncodeIndexHeader(FHeader, image);
  if (FEncrypted) ScrambleBuffer(image, kScrambleLow, kScrambleHigh);
  BeginAccess();
  try {
    Seek(kSeekFromStart, 0);
    WriteBuffer(image.data(), kIndexPageBytes);
  } catch (...) {
    EndAccess();
    throw;
  }
  EndAccess();
}

void TIndexFile::FlushIndexHeader(bool force) {
  if (!FHeader.HeaderChanged && !force) return;
  ++FHeader.IndexChangeCount;
  WriteHeaderImage();
  FHeader.HeaderChanged = false;
}

void TIndexFile::WritePageRun(std::span<TPage* const> run) {
  if (run.empty()) return;
  std::vector<std::uint8_t> buffer(run.size() * kIndexPageBytes);
  for (std::size_t i = 0; i < run.size(); ++i) {
    std::span<std::uint8_t, kIndexPageBytes> image(buffer.data() + i * kIndexPageBytes,
                                                   kIndexPageBytes);
    run[i]->Encode(image);
    if (FEncrypted) ScrambleBuffer(image, kScrambleLow, kScrambleHigh);
  }
  BeginAccess();
  try {
    Seek(kSeekFromStart, static_cast<std::int64_t>(run.front()->PageNo()) * kIndexPageBytes);
    WriteBuffer(buffer.data(), static_cast<std::int64_t>(buffer.size()));
  } catch (...) {
    EndAccess();
    throw;
  }
  EndAccess();
}

void TIndexFile::WriteChangedPages() {
  for (auto& cache : FCaches) cache->WriteBack();
}

void TIndexFile::DiscardPages() {
  for (auto& cache : FCaches) cache->Discard();
}

void TIndexFile::EmptyIndexFile() {
  DiscardPages();
  BeginAccess();
  try {
    Seek(kSeekFromStart, kIndexPageBytes);
    WriteBuffer(nullptr, 0);
  } catch (...) {
    EndAccess();
    throw;
  }
  EndAccess();
  FHeader.NextPageNo = 1;
  FHeader.LiveRecordCount = 0;
  for (TIndexDescriptor& d : FHeader.Descriptors) {
    d.RootPage = 0;
    d.FreePage = 0;
    d.ParamPage = 0;
  }
  MarkHeaderChanged();
}

// --- Pages ---------------------------------------------------------------------------------

void TIndexFile::ReadPage(TPage& page) {
  TPageImage image{};
  BeginAccess();
  std::int64_t got = 0;
  try {
    Seek(kSeekFromStart, static_cast<std::int64_t>(page.PageNo()) * kIndexPageBytes);
    got = ReadBuffer(image.data(), kIndexPageBytes, true);
  } catch (...) {
    EndAccess();
    throw;
  }
  EndAccess();
  if (got != static_cast<std::int64_t>(kIndexPageBytes)) Raise(codes::kIndexPagesCorrupt);
  if (FEncrypted) ScrambleBuffer(image, kScrambleLow, kScrambleHigh);
  page.Decode(image);
}

TPage* TIndexFile::GetPage(int slot, std::int32_t pageNo) {
  RequireSlot(slot);
  if (pageNo < 1 || pageNo >= FHeader.NextPageNo) Raise(codes::kIndexPagesCorrupt);
  TBufferCache<TPage>& cache = *FCaches[slot];
  if (TPage* page = cache.Find(pageNo)) return page;
  TPage* page = cache.MakeEntry(pageNo);
  page->Reset(pageNo, slot, PageFormat(slot));
  try {
    ReadPage(*page);
  } catch (const EKuraEngineError& e) {
    cache.Release(page);
    cache.Remove(page);
    Raise(e.ErrorCode);
  }
  return page;
}

void TIndexFile::ReleasePage(int slot, TPage* page) {
  RequireSlot(slot);
  FCaches[slot]->Release(page);
}

void TIndexFile::SetParamPage(std::int32_t pageNo) {
  if (pageNo < 0 || pageNo >= FHeader.NextPageNo) Raise(codes::kIndexPagesCorrupt);
  FHeader.Descriptors[kSysTextSlot].ParamPage = pageNo;
  MarkHeaderChanged();
}

TPage* TIndexFile::NewPage(int slot) {
  RequireSlot(slot);
  TIndexDescriptor& d = FHeader.Descriptors[slot];
  TPage* page = nullptr;
  if (d.FreePage != 0) {
    page = GetPage(slot, d.FreePage);
    // A free page holds no entries, is used by nobody and does not link to itself; anything
    // else means the chain runs into live pages.
    if (page->Count() != 0 || page->PinCount != 1 || page->NextPage == page->PageNo()) {
      FCaches[slot]->Release(page);
      Raise(codes::kIndexPagesCorrupt);
    }
    d.FreePage = page->NextPage;
  } else {
    std::int32_t pageNo = FHeader.NextPageNo;
    std::int64_t end = (static_cast<std::int64_t>(pageNo) + 1) * kIndexPageBytes;
    if (pageNo >= kMaxIndexFilePages || end > kMaxIndexFileBytes) Raise(codes::kTableFull);
    page = FCaches[slot]->MakeEntry(pageNo);
    ++FHeader.NextPageNo;
  }
  page->Reset(page->Number, slot, PageFormat(slot));
  FCaches[slot]->MarkChanged(page);
  MarkHeaderChanged();
  return page;
}

void TIndexFile::FreePage(int slot, TPage* page) {
  RequireSlot(slot);
  TIndexDescriptor& d = FHeader.Descriptors[slot];
  page->Reset(page->PageNo(), slot, PageFormat(slot));
  page->Freed = true;
  page->NextPage = d.FreePage;
  FCaches[slot]->MarkChanged(page);
  d.FreePage = page->PageNo();
  MarkHeaderChanged();
}

void TIndexFile::HandOverFreePages(int fromSlot, int toSlot) {
  RequireSlot(fromSlot);
  RequireSlot(toSlot);
  TIndexDescriptor& from = FHeader.Descriptors[fromSlot];
  TIndexDescriptor& to = FHeader.Descriptors[toSlot];
  if (fromSlot == toSlot || from.FreePage == 0) return;
  // Free pages carry no slot of their own: only the chain's last link changes.
  std::int32_t tail = from.FreePage;
  for (std::int32_t steps = 0;; ++steps) {
    if (steps >= FHeader.NextPageNo) Raise(codes::kIndexPagesCorrupt);  // a chain that loops
    TPage* page = GetPage(fromSlot, tail);
    const std::int32_t next = page->NextPage;
    if (next == 0) {
      page->NextPage = to.FreePage;
      FCaches[fromSlot]->MarkChanged(page);
      ReleasePage(fromSlot, page);
      break;
    }
    ReleasePage(fromSlot, page);
    tail = next;
  }
  to.FreePage = from.FreePage;
  from.FreePage = 0;
  MarkHeaderChanged();
}

const TKeyFormat& TIndexFile::KeyFormat(int slot) {
  RequireSlot(slot);
  if (!FKeyFormats[slot]) {
    FKeyFormats[slot] = std::make_unique<TKeyFormat>(
        MakeKeyFormat(slot, FHeader.Descriptors[slot], FFields, FLocale));
  }
  return *FKeyFormats[slot];
}

TPageFormat TIndexFile::PageFormat(int slot) const {
  return PageFormatOf(slot, FHeader.Descriptors.at(slot));
}

TIndexPageStore& TIndexFile::Store(int slot) {
  RequireSlot(slot);
  return *FStores[slot];
}

TIndexTree TIndexFile::Tree(int slot) {
  return TIndexTree(Store(slot), KeyFormat(slot), PageFormat(slot));
}

TTreeCheckReport TIndexFile::CheckTree(int slot) {
  return CheckIndexTree(Store(slot), KeyFormat(slot), PageFormat(slot));
}

}  // namespace kura
