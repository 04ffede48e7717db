#include "tools/kura/header_details.h"

#include <array>
#include <span>

#include "storage/blob_format.h"
#include "storage/data_file.h"
#include "storage/file_handler.h"
#include "storage/index_file.h"
#include "storage/little_endian.h"

namespace kura::tool {
namespace {

// Index header fields (the layout is drawn in storage/index_file.h).
constexpr std::size_t kIndexVersionOffset = 8;
constexpr std::size_t kNextPageNoOffset = 9;
constexpr std::size_t kSecondaryCountOffset = 13;
constexpr std::size_t kDescriptorsOffset = 14;

// The first count bytes of the file (fewer when it is shorter) and its length.
struct THeaderBytes {
  std::vector<std::uint8_t> Bytes;
  std::int64_t FileSize = 0;
};

THeaderBytes ReadHeaderBytes(TFileList& list, const std::string& fileName, bool inMemory,
                             std::size_t count) {
  THeaderBytes header;
  TFileHandler raw(list);
  raw.SetFileName(fileName);
  raw.SetInMemory(inMemory);
  raw.Open();
  header.FileSize = raw.FileSize();
  header.Bytes.assign(count, 0);
  raw.BeginAccess();
  try {
    raw.Seek(kSeekFromStart, 0);
    header.Bytes.resize(static_cast<std::size_t>(
        raw.ReadBuffer(header.Bytes.data(), static_cast<std::int64_t>(count), true)));
  } catch (...) {
    raw.EndAccess();
    throw;
  }
  raw.EndAccess();
  return header;
}

std::string VersionFault(std::uint8_t version) {
  return "the header says version " + std::to_string(version) + "; only version 5 is known";
}

}  // namespace

std::vector<std::string> IndexHeaderDetails(TFileList& list, const std::string& fileName,
                                            bool inMemory, bool encrypted) {
  std::vector<std::string> faults;
  THeaderBytes header = ReadHeaderBytes(list, fileName, inMemory, kIndexPageBytes);
  if (header.Bytes.size() < kIndexPageBytes) {
    faults.push_back("the file is " + std::to_string(header.FileSize) +
                     " bytes long, shorter than its 4096-byte header");
    return faults;
  }
  if (encrypted) ScrambleBuffer(header.Bytes, kDataScrambleLow, kDataScrambleHigh);
  const std::uint8_t* bytes = header.Bytes.data();
  if (bytes[kIndexVersionOffset] != kIndexVersion)
    faults.push_back(VersionFault(bytes[kIndexVersionOffset]));
  const std::int32_t nextPageNo = GetI32LE(bytes + kNextPageNoOffset);
  const std::int64_t pagesHeld = header.FileSize / std::int64_t{kIndexPageBytes} - 1;
  if (nextPageNo < 1) {
    faults.push_back("NextPageNo is " + std::to_string(nextPageNo) + ", below 1");
  } else if (nextPageNo - 1 > pagesHeld) {
    faults.push_back("NextPageNo counts " + std::to_string(nextPageNo - 1) +
                     " pages but the file holds " + std::to_string(pagesHeld));
  }
  if (bytes[kSecondaryCountOffset] > kMaxSecondaryIndexes) {
    faults.push_back("the header counts " + std::to_string(bytes[kSecondaryCountOffset]) +
                     " secondary indexes, more than 30");
  }
  for (int slot = 0; slot < kIndexSlotCount; ++slot) {
    const std::span<const std::uint8_t, kIndexDescriptorSize> area(
        bytes + kDescriptorsOffset + static_cast<std::size_t>(slot) * kIndexDescriptorSize,
        kIndexDescriptorSize);
    const std::string violation =
        IndexDescriptorViolation(DecodeIndexDescriptor(area), std::max(nextPageNo, 1));
    if (!violation.empty())
      faults.push_back("index slot " + std::to_string(slot) + ": " + violation);
  }
  const TStoredHeaderFault stored = StoredIndexHeaderFault(
      std::span<const std::uint8_t, kIndexPageBytes>(bytes, kIndexPageBytes));
  if (stored.Code != 0) faults.push_back(stored.What);
  return faults;
}

std::vector<std::string> BlobHeaderDetails(TFileList& list, const std::string& fileName,
                                           bool inMemory, bool encrypted, int blockSize) {
  std::vector<std::string> faults;
  THeaderBytes header = ReadHeaderBytes(list, fileName, inMemory, kBlobHeaderSize);
  if (header.Bytes.size() < static_cast<std::size_t>(kBlobHeaderSize)) {
    faults.push_back("the file is " + std::to_string(header.FileSize) +
                     " bytes long, shorter than its 512-byte header");
    return faults;
  }
  if (encrypted) Scramble(header.Bytes, kDataScrambleLow, kDataScrambleHigh);
  const TBlobHeader decoded = DecodeBlobHeader(header.Bytes.data());
  if (decoded.BlobVersion != kBlobVersion) faults.push_back(VersionFault(decoded.BlobVersion));
  if (blockSize <= kBlockHeaderSize) {
    faults.push_back("the data file's BLOB block size " + std::to_string(blockSize) +
                     " leaves no room for data");
    return faults;
  }
  const std::int64_t blocksHeld = (header.FileSize - kBlobHeaderSize) / blockSize;
  if (decoded.NextBlockNo < 1) {
    faults.push_back("NextBlockNo is " + std::to_string(decoded.NextBlockNo) + ", below 1");
  } else if (decoded.NextBlockNo - 1 > blocksHeld) {
    faults.push_back("NextBlockNo counts " + std::to_string(decoded.NextBlockNo - 1) +
                     " blocks but the file holds " + std::to_string(blocksHeld));
  }
  if (decoded.FirstFreeBlock < 0 || decoded.FirstFreeBlock >= std::max(decoded.NextBlockNo, 1)) {
    faults.push_back("FirstFreeBlock " + std::to_string(decoded.FirstFreeBlock) +
                     " is no block of the file");
  }
  return faults;
}

}  // namespace kura::tool
