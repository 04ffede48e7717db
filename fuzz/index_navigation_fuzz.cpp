// Cursor navigation over damaged index files: every move, jump, lookup and range over every
// index of the file gives an answer or an engine error, never a crash, a loop or an overrun.
//
// Input: byte 0 the length L of the program (taken modulo 32), bytes 1..L the program, the
// rest a whole index file. Each program byte is one operation: its low 3 bits choose it
// (first, last, next, prior, position jump, key lookup, range, filter on or off) and its high
// 5 bits give the operation's number.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "base/engine_codes.h"
#include "base/engine_error.h"
#include "engine/index_navigator.h"
#include "fuzz/index_fuzz_support.h"
#include "storage/index_file.h"

namespace {

using namespace kura;

// The crack flags and the answers must agree whatever the pages hold.
void CheckAnswers(const TIndexNavigator& navigator) {
  const TCursorPosition& p = navigator.Position();
  const std::uint16_t answer = navigator.Current();
  if (p.Empty() != (answer == codes::kNoCurrentRecord)) std::abort();
  if (!p.Empty() && !p.HasEntry()) std::abort();
  if (navigator.RecordCount() < 0) std::abort();
}

void RunOperation(TIndexNavigator& navigator, std::uint8_t op, const TKeyFormat& keys,
                  const TRecordsBitmap& everyOther) {
  const int number = op >> 3;
  std::vector<std::uint8_t> key(static_cast<std::size_t>(keys.KeyLength),
                                static_cast<std::uint8_t>(number * 8));
  if (!key.empty()) key[0] = 1;
  switch (op & 7) {
    case 0:
      navigator.First();
      break;
    case 1:
      navigator.Last();
      break;
    case 2:
      for (int i = 0; i <= number; ++i) navigator.Next();
      break;
    case 3:
      for (int i = 0; i <= number; ++i) navigator.Prior();
      break;
    case 4:
      navigator.SetRecNo(number - 2);
      break;
    case 5:
      navigator.FindKey(key, number % 3, number % 4, number % 2 == 0);
      break;
    case 6: {
      std::vector<std::uint8_t> end(key.size(), 0xFF);
      if (number % 3 == 0) {
        navigator.CancelRange();
      } else {
        navigator.SetRange(key, number % 3, end, 0);
      }
      break;
    }
    default:
      navigator.SetVisible(number % 2 == 0 ? &everyOther : nullptr);
      navigator.Resynchronise();
      break;
  }
}

void Navigate(TIndexFile& file, int slot, std::span<const std::uint8_t> program) {
  try {
    if (!file.PageFormat(slot).Counted) return;
    const TKeyFormat& keys = file.KeyFormat(slot);
    TIndexNavigator navigator(file.Store(slot), keys, file.PageFormat(slot));
    TRecordsBitmap everyOther;
    everyOther.SetSize(64);
    for (std::uint32_t r = 1; r <= 64; r += 2) everyOther.SetBit(r);
    for (std::uint8_t op : program) {
      RunOperation(navigator, op, keys, everyOther);
      CheckAnswers(navigator);
    }
  } catch (const EKuraEngineError&) {
  }
}

void FuzzFile(std::span<const std::uint8_t> program, std::span<const std::uint8_t> image) {
  WithFuzzIndexFile("index_navigation_fuzz.IDX", image, [&](TIndexFile& file) {
    for (int slot = 0; slot < kIndexSlotCount; ++slot) {
      if (file.SlotInUse(slot)) Navigate(file, slot, program);
    }
  });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::size_t length = std::min<std::size_t>(data[0] % 32, size - 1);
  FuzzFile(std::span(data + 1, length), std::span(data + 1 + length, size - 1 - length));
  return 0;
}
