#include "storage/index_page.h"

#include <algorithm>
#include <cstring>

#include "base/engine_codes.h"
#include "base/engine_error.h"
#include "storage/little_endian.h"

namespace kura {
namespace {

constexpr std::size_t kTypeOffset = 0;
constexpr std::size_t kCountOffset = 1;
constexpr std::size_t kPrevOffset = 3;
constexpr std::size_t kNextOffset = 7;
constexpr std::size_t kBytesUsedOffset = 11;

[[noreturn]] void PageCorrupt() {
  RaiseEngineError(codes::kIndexPagesCorrupt);
}

int TrailingZerosIn(const std::uint8_t* key, int begin, int end) {
  int t = 0;
  while (end - t > begin && t < kMaxCompressionRun && key[end - t - 1] == 0) ++t;
  return t;
}

bool UsesD(std::uint8_t mode) {
  return mode == kCompressDupBytes || mode == kCompressFull;
}
bool UsesT(std::uint8_t mode) {
  return mode == kCompressTrailBytes || mode == kCompressFull;
}

// Whether a non-unique key's RowId suffix is stored apart from the shortened body.
bool SuffixApart(const TPageFormat& f, int d) {
  if (f.Unique || f.KeyLength < kRowIdSuffixSize) return false;
  if (f.Compression == kCompressTrailBytes) return true;
  return f.Compression == kCompressFull && f.KeyLength - d >= kRowIdSuffixSize + 1;
}

// The stored key bytes of a compressed entry with the given d and t.
int StoredKeyBytes(const TPageFormat& f, int d, int t) {
  return f.KeyLength - d - t;
}

}  // namespace

TPageFormat PageFormatOf(int slot, const TIndexDescriptor& descriptor) {
  TPageFormat format;
  format.KeyLength = descriptor.KeyLength;
  format.Unique = descriptor.Unique;
  format.Compression = descriptor.Compression;
  format.Counted = !descriptor.UncountedIndex && slot != kSysTextSlot;
  if (slot == kSysDeletedSlot) {
    format.KeyLength = kSysDeletedKeyLength;
    format.Unique = true;
    format.Compression = kCompressNone;
  } else if (slot == kSysTextSlot) {
    format.KeyLength = kSysTextKeyLength;
    format.Unique = true;
    format.Compression = kCompressFull;
  }
  return format;
}

int BranchCapacity(const TPageFormat& format) {
  int entry = format.KeyLength + (format.Counted ? 8 : 4);
  return static_cast<int>(kPageEntryArea) / entry;
}

int LeafCapacity(const TPageFormat& format) {
  return static_cast<int>(kPageEntryArea) / (format.KeyLength + 4);
}

void TPage::Reset(std::int32_t pageNo, int slot, const TPageFormat& format) {
  FKeyTotal = kUnknownTotal;
  FPageNo = pageNo;
  FSlot = slot;
  FFormat = format;
  Type = kPageRootLeaf;
  PrevPage = 0;
  NextPage = 0;
  Freed = false;
  Params.clear();
  FCount = 0;
  FBytesUsed = 0;
  FEntries.clear();
}

int TPage::Capacity() const {
  return IsLeaf() ? LeafCapacity(FFormat) : BranchCapacity(FFormat);
}

bool TPage::OverCapacity() const {
  if (IsCompressedLeaf()) return FBytesUsed > static_cast<int>(kPageEntryArea);
  return FCount > Capacity();
}

int TPage::BytesUsed() const {
  if (IsCompressedLeaf()) return FBytesUsed;
  int entry = IsLeaf() ? FFormat.KeyLength + 4 : FFormat.KeyLength + (FFormat.Counted ? 8 : 4);
  return FCount * entry;
}

void TPage::SetKey(int pos, const std::uint8_t* key) {
  std::memcpy(Entry(pos), key, static_cast<std::size_t>(FFormat.KeyLength));
  if (IsCompressedLeaf()) {
    FBytesUsed += Recompute(pos) - EntrySize(pos);
    if (pos < FCount) FBytesUsed += Recompute(pos + 1) - EntrySize(pos + 1);
  }
  Changed = true;
}

void TPage::SetChildOrRecord(int pos, std::int32_t number) {
  PutI32LE(Entry(pos) + FFormat.KeyLength + kNumberAfterKey, number);
  Changed = true;
}

void TPage::SetKeyCount(int pos, std::int32_t count) {
  // Every insert and delete adjusts one count per level: the total follows along.
  if (FKeyTotal >= 0) FKeyTotal += static_cast<std::int64_t>(count) - KeyCount(pos);
  PutI32LE(Entry(pos) + FFormat.KeyLength + kCountAfterKey, count);
  Changed = true;
}

std::int64_t TPage::TotalKeys() const {
  if (IsLeaf()) return FCount;
  if (FKeyTotal >= 0) return FKeyTotal;
  std::int64_t total = 0;
  for (int pos = 1; pos <= FCount; ++pos) total += KeyCount(pos);
  FKeyTotal = total;
  return total;
}

int TPage::EntrySize(int pos) const {
  const int k = FFormat.KeyLength;
  if (!IsLeaf()) return k + (FFormat.Counted ? 8 : 4);
  switch (FFormat.Compression) {
    case kCompressDupBytes:
      return 1 + k - SharedPrefix(pos) + 4;
    case kCompressTrailBytes:
      return 1 + k - TrailingZeros(pos) + 4;
    case kCompressFull:
      return 2 + k - SharedPrefix(pos) - TrailingZeros(pos) + 4;
    default:
      return k + 4;
  }
}

int TPage::Recompute(int pos) {
  std::uint8_t* entry = Entry(pos);
  const int k = FFormat.KeyLength;
  int d = 0;
  if (UsesD(FFormat.Compression) && pos > 1) {
    const std::uint8_t* previous = Entry(pos - 1);
    while (d < k && d < kMaxCompressionRun && previous[d] == entry[d]) ++d;
  }
  int t = 0;
  if (UsesT(FFormat.Compression)) {
    int begin = FFormat.Compression == kCompressFull ? d : 0;
    if (FFormat.Unique || k < kRowIdSuffixSize) {
      t = TrailingZerosIn(entry, begin, k);
    } else if (SuffixApart(FFormat, d)) {
      t = TrailingZerosIn(entry, begin, k - kRowIdSuffixSize);
    }
  }
  entry[k + 8] = static_cast<std::uint8_t>(d);
  entry[k + 9] = static_cast<std::uint8_t>(t);
  return EntrySize(pos);
}

void TPage::RecomputeAll() {
  FBytesUsed = 0;
  for (int pos = 1; pos <= FCount; ++pos) {
    FBytesUsed += IsCompressedLeaf() ? Recompute(pos) : EntrySize(pos);
  }
}

void TPage::InsertEntry(int pos, const std::uint8_t* key, std::int32_t number, std::int32_t count) {
  FKeyTotal = kUnknownTotal;
  const std::size_t stride = Stride();
  FEntries.insert(FEntries.begin() + static_cast<std::ptrdiff_t>((pos - 1) * stride), stride,
                  std::uint8_t{0});
  ++FCount;
  std::uint8_t* entry = Entry(pos);
  std::memcpy(entry, key, static_cast<std::size_t>(FFormat.KeyLength));
  PutI32LE(entry + FFormat.KeyLength + kNumberAfterKey, number);
  PutI32LE(entry + FFormat.KeyLength + kCountAfterKey, count);
  if (IsCompressedLeaf()) {
    if (pos < FCount) FBytesUsed -= EntrySize(pos + 1);
    FBytesUsed += Recompute(pos);
    if (pos < FCount) FBytesUsed += Recompute(pos + 1);
  } else {
    FBytesUsed += EntrySize(pos);
  }
  Changed = true;
}

void TPage::RemoveEntry(int pos) {
  FKeyTotal = kUnknownTotal;
  const std::size_t stride = Stride();
  FBytesUsed -= EntrySize(pos);
  if (IsCompressedLeaf() && pos < FCount) FBytesUsed -= EntrySize(pos + 1);
  auto first = FEntries.begin() + static_cast<std::ptrdiff_t>((pos - 1) * stride);
  FEntries.erase(first, first + static_cast<std::ptrdiff_t>(stride));
  --FCount;
  if (IsCompressedLeaf() && pos <= FCount) FBytesUsed += Recompute(pos);
  Changed = true;
}

void TPage::MoveTailTo(int pos, TPage& other) {
  FKeyTotal = other.FKeyTotal = kUnknownTotal;
  const std::size_t stride = Stride();
  auto first = FEntries.begin() + static_cast<std::ptrdiff_t>((pos - 1) * stride);
  other.FEntries.insert(other.FEntries.end(), first, FEntries.end());
  other.FCount += FCount - pos + 1;
  FEntries.erase(first, FEntries.end());
  FCount = pos - 1;
  RecomputeAll();
  other.RecomputeAll();
  Changed = other.Changed = true;
}

void TPage::MoveHeadToEndOf(int n, TPage& other) {
  FKeyTotal = other.FKeyTotal = kUnknownTotal;
  if (n == 0) return;
  const std::size_t stride = Stride();
  auto last = FEntries.begin() + static_cast<std::ptrdiff_t>(n * stride);
  other.FEntries.insert(other.FEntries.end(), FEntries.begin(), last);
  other.FCount += n;
  FEntries.erase(FEntries.begin(), last);
  FCount -= n;
  RecomputeAll();
  other.RecomputeAll();
  Changed = other.Changed = true;
}

void TPage::MoveTailToFrontOf(int n, TPage& other) {
  FKeyTotal = other.FKeyTotal = kUnknownTotal;
  if (n == 0) return;
  const std::size_t stride = Stride();
  auto first = FEntries.end() - static_cast<std::ptrdiff_t>(n * stride);
  other.FEntries.insert(other.FEntries.begin(), first, FEntries.end());
  other.FCount += n;
  FEntries.erase(first, FEntries.end());
  FCount -= n;
  RecomputeAll();
  other.RecomputeAll();
  Changed = other.Changed = true;
}

// --- Disk image ----------------------------------------------------------------------------

void TPage::Encode(std::span<std::uint8_t, kIndexPageBytes> image) const {
  std::fill(image.begin(), image.end(), 0);
  std::uint8_t* p = image.data();
  if (Freed) {
    PutI32LE(p + kNextOffset, NextPage);
    return;
  }
  if (Type != kPageParams && OverCapacity()) PageCorrupt();  // split before writing
  p[kTypeOffset] = Type;
  PutU16LE(p + kCountOffset, static_cast<std::uint16_t>(FCount));
  PutI32LE(p + kPrevOffset, PrevPage);
  PutI32LE(p + kNextOffset, NextPage);
  std::uint8_t* out = p + kPageHeaderSize;
  if (Type == kPageParams) {
    std::copy_n(Params.begin(), std::min(Params.size(), kPageEntryArea), out);
    return;
  }
  const int k = FFormat.KeyLength;
  if (!IsCompressedLeaf()) {
    const std::size_t tail = IsLeaf() || !FFormat.Counted ? 4 : 8;
    for (int pos = 1; pos <= FCount; ++pos) {
      std::memcpy(out, Entry(pos), static_cast<std::size_t>(k) + tail);
      out += k + tail;
    }
    return;
  }
  PutU16LE(p + kBytesUsedOffset, static_cast<std::uint16_t>(FBytesUsed));
  for (int pos = 1; pos <= FCount; ++pos) {
    const std::uint8_t* entry = Entry(pos);
    int d = UsesD(FFormat.Compression) ? SharedPrefix(pos) : 0;
    int t = UsesT(FFormat.Compression) ? TrailingZeros(pos) : 0;
    if (UsesD(FFormat.Compression)) *out++ = static_cast<std::uint8_t>(d);
    if (UsesT(FFormat.Compression)) *out++ = static_cast<std::uint8_t>(t);
    if (SuffixApart(FFormat, d)) {
      int body = k - kRowIdSuffixSize - t - d;
      std::memcpy(out, entry + d, static_cast<std::size_t>(body));
      std::memcpy(out + body, entry + k - kRowIdSuffixSize, kRowIdSuffixSize);
      out += body + kRowIdSuffixSize;
    } else {
      int stored = StoredKeyBytes(FFormat, d, t);
      std::memcpy(out, entry + d, static_cast<std::size_t>(stored));
      out += stored;
    }
    std::memcpy(out, entry + k + kNumberAfterKey, 4);
    out += 4;
  }
}

void TPage::Decode(std::span<const std::uint8_t, kIndexPageBytes> image) {
  FKeyTotal = kUnknownTotal;
  const std::uint8_t* p = image.data();
  std::int32_t pageNo = FPageNo;
  int slot = FSlot;
  TPageFormat format = FFormat;
  Reset(pageNo, slot, format);
  Type = p[kTypeOffset];
  int count = GetU16LE(p + kCountOffset);
  PrevPage = GetI32LE(p + kPrevOffset);
  NextPage = GetI32LE(p + kNextOffset);
  const std::uint8_t* entries = p + kPageHeaderSize;
  if (Type > kPageParams) PageCorrupt();
  if (Type == kPageParams) {
    Params.assign(entries, entries + kPageEntryArea);
    return;
  }
  if (FFormat.KeyLength <= 0 || FFormat.KeyLength > kMaxKeyLength) PageCorrupt();
  if (IsCompressedLeaf()) {
    DecodeCompressed(entries, count, GetU16LE(p + kBytesUsedOffset));
  } else {
    if (count > Capacity()) PageCorrupt();
    const int k = FFormat.KeyLength;
    const int tail = IsLeaf() || !FFormat.Counted ? 4 : 8;
    FEntries.assign(static_cast<std::size_t>(count) * Stride(), 0);
    for (int pos = 1; pos <= count; ++pos) {
      std::memcpy(Entry(pos), entries + (pos - 1) * (k + tail), static_cast<std::size_t>(k + tail));
    }
    FCount = count;
    FBytesUsed = count * (k + tail);
  }
  // Records and pages are numbered from 1: an entry naming 0 or less is the zeroed space past
  // the real entries (a count that is too high) or other damage, never a record to read.
  for (int pos = 1; pos <= FCount; ++pos) {
    if (ChildOrRecord(pos) < 1) PageCorrupt();
  }
}

void TPage::DecodeCompressed(const std::uint8_t* entries, int count, int bytesUsed) {
  FKeyTotal = kUnknownTotal;
  if (bytesUsed > static_cast<int>(kPageEntryArea)) PageCorrupt();
  const int k = FFormat.KeyLength;
  const std::uint8_t* in = entries;
  const std::uint8_t* end = entries + bytesUsed;
  // Every compressed entry takes at least 5 bytes, so a count past this is a lie.
  if (count > bytesUsed / 5) PageCorrupt();
  FEntries.assign(static_cast<std::size_t>(count) * Stride(), 0);
  for (int pos = 1; pos <= count; ++pos) {
    int header = (UsesD(FFormat.Compression) ? 1 : 0) + (UsesT(FFormat.Compression) ? 1 : 0);
    if (end - in < header) PageCorrupt();
    int d = UsesD(FFormat.Compression) ? *in++ : 0;
    int t = UsesT(FFormat.Compression) ? *in++ : 0;
    if (d > kMaxCompressionRun || t > kMaxCompressionRun) PageCorrupt();
    if ((pos == 1 && d != 0) || d + t > k) PageCorrupt();
    bool apart = SuffixApart(FFormat, d);
    if (apart && d + t > k - kRowIdSuffixSize) PageCorrupt();
    if (!apart && FFormat.Compression == kCompressFull && !FFormat.Unique && t != 0) {
      PageCorrupt();
    }
    std::uint8_t* entry = Entry(pos);
    if (d > 0) std::memcpy(entry, Entry(pos - 1), static_cast<std::size_t>(d));
    int stored = StoredKeyBytes(FFormat, d, t);
    if (end - in < stored + 4) PageCorrupt();
    if (apart) {
      int body = stored - kRowIdSuffixSize;
      std::memcpy(entry + d, in, static_cast<std::size_t>(body));
      std::memcpy(entry + k - kRowIdSuffixSize, in + body, kRowIdSuffixSize);
    } else {
      std::memcpy(entry + d, in, static_cast<std::size_t>(stored));
    }
    in += stored;
    std::memcpy(entry + k + kNumberAfterKey, in, 4);
    in += 4;
    entry[k + 8] = static_cast<std::uint8_t>(d);
    entry[k + 9] = static_cast<std::uint8_t>(t);
  }
  if (in != end) PageCorrupt();
  FCount = count;
  FBytesUsed = bytesUsed;
}

}  // namespace kura
