// Damaged index pages and whole index files: decoding, checking and changing them gives an
// engine error, never a crash, a loop or an overrun.
//
// Input: byte 0 even = one page image: byte 1 the key length, byte 2 the flags (bit 0 unique,
// bits 1-2 compression, bit 3 counted), then the image. Byte 0 odd = a whole index file.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>
#include <vector>

#include "base/engine_error.h"
#include "fuzz/index_fuzz_support.h"
#include "storage/field_types.h"
#include "storage/index_file.h"
#include "storage/record_image.h"

namespace {

using namespace kura;

void FuzzPage(const std::uint8_t* data, std::size_t size) {
  if (size < 3) return;
  TPageFormat format;
  format.KeyLength = data[1] == 0 ? 5 : data[1];
  format.Unique = (data[2] & 1) != 0;
  format.Compression = static_cast<std::uint8_t>((data[2] >> 1) & 3);
  format.Counted = (data[2] & 8) != 0;
  TPageImage image{};
  std::copy_n(data + 3, std::min(size - 3, image.size()), image.begin());
  TPage page;
  page.Reset(1, 1, format);
  try {
    page.Decode(image);
  } catch (const EKuraEngineError&) {
    return;
  }
  // What decodes must encode (unless over-full) and decode to the same entries.
  TPageImage again{};
  try {
    page.Encode(again);
  } catch (const EKuraEngineError&) {
    return;
  }
  TPage back;
  back.Reset(1, 1, format);
  back.Decode(again);
  if (back.Count() != page.Count() || back.BytesUsed() != page.BytesUsed()) std::abort();
  for (int pos = 1; pos <= page.Count(); ++pos) {
    if (!std::equal(page.Key(pos), page.Key(pos) + format.KeyLength, back.Key(pos))) std::abort();
  }
}

void ExerciseIndex(TIndexFile& file, int slot, const std::vector<TFieldDescriptor>& fields) {
  try {
    (void)file.CheckTree(slot);
    TIndexTree tree = file.Tree(slot);
    (void)tree.KeyCount();
    std::int64_t visited = 0;
    tree.ForEachKey([&visited](const std::uint8_t*, std::int32_t) { ++visited; });
    std::vector<std::uint8_t> record(64, 0);
    std::vector<std::uint8_t> key(file.KeyFormat(slot).KeyLength);
    for (std::int32_t i = 0; i < 40; ++i) {
      std::uint8_t id[4] = {static_cast<std::uint8_t>(i * 7), 0, 0, 0};
      SetField(record, fields[0], id, false, {});
      SetField(record, fields[1], i % 2 ? "go" : "igo", false, {});
      SetRowId(record, i + 1);
      BuildKey(file.KeyFormat(slot), record, key);
      if (i % 3 == 2) {
        tree.Delete(key.data());
      } else {
        tree.Insert(key.data(), i + 1);
      }
    }
    std::vector<std::uint8_t> found(key.size());
    std::int32_t recordNo = 0;
    tree.KeyAtOrdinal(3, found, recordNo);
    (void)tree.CountBelow(key.data());
    file.WriteChangedPages();
  } catch (const EKuraEngineError&) {
  }
}

void FuzzFile(const std::uint8_t* data, std::size_t size) {
  const std::vector<TFieldDescriptor> fields = FuzzFields();
  WithFuzzIndexFile("index_fuzz.IDX", std::span(data, size), [&](TIndexFile& file) {
    try {
      file.CheckIndexStructure();
    } catch (const EKuraEngineError&) {
    }
    for (int slot = 0; slot < kIndexSlotCount; ++slot) {
      if (file.SlotInUse(slot)) ExerciseIndex(file, slot, fields);
    }
    file.FlushIndexHeader(true);
  });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  if (data[0] % 2 == 0) {
    FuzzPage(data, size);
  } else {
    FuzzFile(data + 1, size - 1);
  }
  return 0;
}
