// A small BLOB file and a reference to a value in it: opening, the structure check, reading,
// rewriting, freeing and writing back never crash, loop or allocate without bound, and a
// value that was written reads back as written.
//
// Input: 2 bytes stored block size, 1 byte flags (1 encrypted, 2 forced free, 4 rewrite),
// 4 bytes first block, 4 bytes change number, 2 bytes length of the rewrite (at most 4096),
// then the file's bytes.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "base/engine_error.h"
#include "storage/blob_file.h"
#include "storage/little_endian.h"

namespace {

constexpr std::size_t kPrefixSize = 13;
constexpr std::uint16_t kMaxRewrite = 4096;
const std::string kFileName = "fuzz.BLB";

bool MakeFile(kura::TFileList& list, const std::uint8_t* bytes, std::size_t size) {
  kura::TFileHandler file(list);
  file.SetFileName(kFileName);
  file.SetInMemory(true);
  try {
    file.CreateFile();
    if (size > 0) file.WriteBuffer(bytes, static_cast<std::int64_t>(size));
    file.Close();
  } catch (const kura::EKuraEngineError&) {
    return false;
  }
  return true;
}

template <typename Call>
bool Try(Call call) {
  try {
    call();
    return true;
  } catch (const kura::EKuraEngineError&) {
    return false;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < kPrefixSize) return 0;
  const std::uint16_t storedBlockSize = kura::GetU16LE(data);
  const std::uint8_t flags = data[2];
  kura::TBlobBuffer ref;
  ref.FirstBlock = kura::GetI32LE(data + 3);
  ref.BlobChange = kura::GetI32LE(data + 7);
  const std::uint16_t rewriteLength = kura::GetU16LE(data + 11) % (kMaxRewrite + 1);

  kura::TFileList list;
  if (!MakeFile(list, data + kPrefixSize, size - kPrefixSize)) return 0;
  kura::TBlobFile blob(list);
  blob.SetFileName(kFileName);
  blob.SetInMemory(true);
  blob.SetStoredBlockSize(storedBlockSize);
  blob.SetEncrypted((flags & 1) != 0);
  if (!Try([&] { blob.Open(); })) return 0;

  Try([&] { blob.CheckBlobStructure(); });
  Try([&] {
    kura::TBlobBuffer reader = ref;
    blob.ReadBlob(reader);
  });
  if ((flags & 4) != 0) {
    kura::TBlobBuffer writer = ref;
    writer.Data.resize(rewriteLength);
    for (std::size_t i = 0; i < writer.Data.size(); ++i)
      writer.Data[i] = static_cast<std::uint8_t>(i * 7 + 3);
    if (Try([&] { blob.WriteBlob(writer, kura::NextBlobChange(ref.BlobChange)); })) {
      kura::TBlobBuffer back = writer;
      back.Data.clear();
      if (!Try([&] { blob.ReadBlob(back); }) || back.Data != writer.Data) std::abort();
      ref.FirstBlock = writer.FirstBlock;
      ref.BlobChange = writer.BlobChange;
    }
  }
  Try([&] { blob.FreeBlob(ref.FirstBlock, ref.BlobChange, (flags & 2) != 0); });
  Try([&] { blob.Chains().FreeChainBlocks(); });
  Try([&] {
    blob.WriteChangedBlocks();
    blob.FlushBlobHeader(false);
  });
  // Every pin was given back.
  int pins = static_cast<int>(blob.Cache().DetachedCount());
  blob.Cache().ForEach([&](kura::TBlock* block) { pins += block->PinCount; });
  if (pins != 0) std::abort();
  return 0;
}
