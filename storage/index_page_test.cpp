// Index pages: capacities, the four leaf compression modes and their disk images, and damaged
// images refused with 8965.
#include "storage/index_page.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "base/engine_codes.h"
#include "base/engine_error.h"
#include "storage/little_endian.h"

namespace kura {
namespace {

std::uint16_t RaisedCode(const std::function<void()>& action) {
  try {
    action();
  } catch (const EKuraEngineError& e) {
    return e.ErrorCode;
  }
  return 0;
}

TPageFormat Format(int k, bool unique, std::uint8_t compression, bool counted = true) {
  return TPageFormat{k, unique, compression, counted};
}

TEST(IndexPage, Capacities) {
  EXPECT_EQ(LeafCapacity(Format(9, false, kCompressNone)), 314);
  EXPECT_EQ(BranchCapacity(Format(9, false, kCompressNone)), 240);  // 4083 div 17
  EXPECT_EQ(BranchCapacity(Format(9, false, kCompressNone, false)), 314);
  EXPECT_EQ(BranchCapacity(Format(kMaxKeyLength, true, kCompressNone)), 7);
}

// Keys with long shared prefixes and trailing zeros, sorted, as a compressing index sees them.
std::vector<std::vector<std::uint8_t>> SortedKeys(int k, int count, std::uint32_t seed) {
  std::mt19937 random(seed);
  std::vector<std::vector<std::uint8_t>> keys;
  for (int i = 0; i < count; ++i) {
    std::vector<std::uint8_t> key(k, 0);
    int used = static_cast<int>(random() % (k + 1));
    for (int j = 0; j < used; ++j) key[j] = static_cast<std::uint8_t>(random() % 3);
    if (random() % 2 && k >= 4) key[k - 1] = static_cast<std::uint8_t>(random());
    keys.push_back(key);
  }
  std::sort(keys.begin(), keys.end(), [k](const auto& a, const auto& b) {
    return std::memcmp(a.data(), b.data(), static_cast<std::size_t>(k)) < 0;
  });
  return keys;
}

TEST(IndexPage, EveryModeRoundTripsThroughItsImage) {
  for (int k : {5, 9, 12, 68, 300}) {
    for (bool unique : {true, false}) {
      for (std::uint8_t mode :
           {kCompressNone, kCompressDupBytes, kCompressTrailBytes, kCompressFull}) {
        SCOPED_TRACE(testing::Message()
                     << "K " << k << " unique " << unique << " mode " << int{mode});
        TPage page;
        page.Reset(3, 1, Format(k, unique, mode));
        page.Type = kPageLeaf;
        page.PrevPage = 2;
        page.NextPage = 4;
        auto keys = SortedKeys(k, 400, static_cast<std::uint32_t>(k * 10 + mode));
        std::mt19937 random(5);
        // Insert in random order at the sorted positions, then drop a few.
        std::vector<int> order(keys.size());
        for (std::size_t i = 0; i < order.size(); ++i) order[i] = static_cast<int>(i);
        std::shuffle(order.begin(), order.end(), random);
        std::vector<int> held;
        for (int index : order) {
          auto at = std::lower_bound(held.begin(), held.end(), index);
          int pos = static_cast<int>(at - held.begin()) + 1;
          page.InsertEntry(pos, keys[index].data(), index + 1, 0);
          held.insert(at, index);
          if (page.OverCapacity()) {
            page.RemoveEntry(pos);
            held.erase(held.begin() + pos - 1);
            break;
          }
        }
        for (int i = 0; i < 20 && page.Count() > 2; ++i) {
          int pos = 1 + static_cast<int>(random() % page.Count());
          page.RemoveEntry(pos);
          held.erase(held.begin() + pos - 1);
        }
        TPageImage image{};
        page.Encode(image);
        TPage back;
        back.Reset(3, 1, page.Format());
        back.Decode(image);
        ASSERT_EQ(back.Count(), page.Count());
        EXPECT_EQ(back.BytesUsed(), page.BytesUsed());
        EXPECT_EQ(back.Type, kPageLeaf);
        EXPECT_EQ(back.PrevPage, 2);
        EXPECT_EQ(back.NextPage, 4);
        for (int pos = 1; pos <= back.Count(); ++pos) {
          ASSERT_EQ(std::vector<std::uint8_t>(back.Key(pos), back.Key(pos) + k),
                    keys[held[pos - 1]]);
          EXPECT_EQ(back.ChildOrRecord(pos), held[pos - 1] + 1);
        }
        if (mode != kCompressNone) {
          EXPECT_LE(page.BytesUsed(), 4083);
        }
      }
    }
  }
}

TEST(IndexPage, CompressionBytesOfTheDocumentedModes) {
  // Non-unique INTEGER index, K = 9: value 1 with RowIds 1 and 2.
  std::vector<std::uint8_t> a = {1, 0x80, 0, 0, 1, 0x80, 0, 0, 1};
  std::vector<std::uint8_t> b = {1, 0x80, 0, 0, 1, 0x80, 0, 0, 2};
  std::vector<std::uint8_t> z = {1, 0x80, 0, 0, 0, 0x80, 0, 0, 3};
  TPage page;
  page.Reset(1, 1, Format(9, false, kCompressFull));
  page.Type = kPageRootLeaf;
  page.InsertEntry(1, z.data(), 10, 0);
  page.InsertEntry(2, a.data(), 11, 0);
  page.InsertEntry(3, b.data(), 12, 0);
  // First: d 0, t 3 (the zeros before the suffix) -> 2 + 9 - 3 + 4 = 12 bytes.
  EXPECT_EQ(page.SharedPrefix(1), 0);
  EXPECT_EQ(page.TrailingZeros(1), 3);
  // Second: d 4, t 0 -> 2 + 5 + 4 = 11.
  EXPECT_EQ(page.SharedPrefix(2), 4);
  EXPECT_EQ(page.TrailingZeros(2), 0);
  // Third: d 8 leaves K - d = 1 < 5 so t is 0 -> 2 + 1 + 4 = 7.
  EXPECT_EQ(page.SharedPrefix(3), 8);
  EXPECT_EQ(page.TrailingZeros(3), 0);
  EXPECT_EQ(page.BytesUsed(), 12 + 11 + 7);
  TPageImage image{};
  page.Encode(image);
  EXPECT_EQ(GetU16LE(image.data() + 11), 30);
  EXPECT_EQ(image[13], 0);
  EXPECT_EQ(image[14], 3);
}

TEST(IndexPage, DamagedImagesAreRefused) {
  TPage page;
  TPageFormat compressed = Format(9, false, kCompressFull);
  auto decode = [&](const TPageImage& image, TPageFormat format) {
    return RaisedCode([&] {
      page.Reset(1, 1, format);
      page.Decode(image);
    });
  };
  TPageImage image{};
  image[0] = 5;
  EXPECT_EQ(decode(image, compressed), codes::kIndexPagesCorrupt);
  image[0] = kPageLeaf;
  PutU16LE(image.data() + 1, 315);  // past 314 uncompressed entries
  EXPECT_EQ(decode(image, Format(9, false, kCompressNone)), codes::kIndexPagesCorrupt);
  PutU16LE(image.data() + 1, 1);
  PutU16LE(image.data() + 11, 5000);
  EXPECT_EQ(decode(image, compressed), codes::kIndexPagesCorrupt);
  PutU16LE(image.data() + 11, 13);
  image[13] = 3;  // the first entry claims a shared prefix
  EXPECT_EQ(decode(image, compressed), codes::kIndexPagesCorrupt);
  image[13] = 0;
  image[14] = 6;  // t runs into the suffix
  EXPECT_EQ(decode(image, compressed), codes::kIndexPagesCorrupt);
  image[14] = 2;
  image[22] = 1;  // the entry names record 1
  EXPECT_EQ(decode(image, compressed), 0);
  PutU16LE(image.data() + 11, 14);  // one byte left over
  EXPECT_EQ(decode(image, compressed), codes::kIndexPagesCorrupt);
  PutU16LE(image.data() + 11, 13);
  image[22] = 0;  // record 0
  EXPECT_EQ(decode(image, compressed), codes::kIndexPagesCorrupt);
}

// Records and child pages are numbered from 1. A leaf whose entry count is one too high
// reads the zeroed space after its last entry as an entry naming record 0: refused, never a
// row of zeros for the cursor to answer.
TEST(IndexPage, EntriesNamingNothingAreRefused) {
  struct TCase {
    const char* What;
    std::uint8_t Type;
    bool Counted;
    int Count;            // entries claimed
    int Written;          // entries written, numbered 1, 2, ...
    std::int32_t Number;  // what the last written entry names instead (0: keep)
    int Code;
  } cases[] = {
      {"sound leaf", kPageLeaf, true, 3, 3, 0, 0},
      {"leaf count one too high", kPageLeaf, true, 4, 3, 0, codes::kIndexPagesCorrupt},
      {"root leaf count one too high", kPageRootLeaf, true, 2, 1, 0, codes::kIndexPagesCorrupt},
      {"leaf entry naming record -5", kPageLeaf, true, 3, 3, -5, codes::kIndexPagesCorrupt},
      {"sound branch", kPageBranch, true, 2, 2, 0, 0},
      {"branch entry naming page 0", kPageRootBranch, true, 3, 2, 0, codes::kIndexPagesCorrupt},
      {"uncounted branch naming page 0", kPageBranch, false, 2, 1, 0, codes::kIndexPagesCorrupt},
  };
  const int k = 9;
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.What);
    TPageFormat format = Format(k, false, kCompressNone);
    format.Counted = c.Counted;
    TPageImage image{};
    image[0] = c.Type;
    PutU16LE(image.data() + 1, static_cast<std::uint16_t>(c.Count));
    const bool leaf = c.Type == kPageLeaf || c.Type == kPageRootLeaf;
    const int stride = k + (leaf || !c.Counted ? 4 : 8);
    for (int i = 0; i < c.Written; ++i) {
      std::uint8_t* entry = image.data() + 13 + i * stride;
      entry[0] = 1;
      entry[4] = static_cast<std::uint8_t>(i + 1);  // ascending keys
      const bool last = i + 1 == c.Written;
      PutI32LE(entry + k, last && c.Number != 0 ? c.Number : i + 1);
      if (!leaf && c.Counted) PutI32LE(entry + k + 4, 1);
    }
    TPage page;
    page.Reset(1, 1, format);
    EXPECT_EQ(RaisedCode([&] { page.Decode(image); }), c.Code);
  }
}

}  // namespace
}  // namespace kura
