#include "app/toolkit/bitmap.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include <cstdio>
#include <filesystem>

namespace goramina {
namespace {

TBitmap Sample() {
  TBitmap b;
  b.width = 3;
  b.height = 2;
  b.pixels = {0xFF102030, 0x80FFFFFF, 0x00000000, 0xFF000000, 0x40A0B0C0, 0xFFFF0000};
  return b;
}

void Put32(std::vector<std::uint8_t>& bytes, size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) bytes[at + i] = (v >> (8 * i)) & 0xFF;
}

// A 24-bit BI_RGB picture, bottom-up, as most paint programs write them.
std::vector<std::uint8_t> Bmp24(int width, int height, std::uint32_t fill, std::uint32_t corner) {
  const int stride = (width * 3 + 3) & ~3;
  std::vector<std::uint8_t> bytes(54 + stride * height, 0);
  bytes[0] = 'B';
  bytes[1] = 'M';
  Put32(bytes, 2, bytes.size());
  Put32(bytes, 10, 54);
  Put32(bytes, 14, 40);
  Put32(bytes, 18, width);
  Put32(bytes, 22, height);
  bytes[26] = 1;
  bytes[28] = 24;
  for (int row = 0; row < height; ++row) {
    for (int x = 0; x < width; ++x) {
      const std::uint32_t c = (row == 0 && x == 0) ? corner : fill;  // row 0 is the bottom
      const size_t at = 54 + row * stride + x * 3;
      bytes[at] = c & 0xFF;
      bytes[at + 1] = (c >> 8) & 0xFF;
      bytes[at + 2] = (c >> 16) & 0xFF;
    }
  }
  return bytes;
}

TEST(Bitmap, ThirtyTwoBitPicturesKeepEveryPixelAndAlpha) {
  const TBitmap in = Sample();
  const TBitmap out = DecodeBmp(EncodeBmp32(in));
  EXPECT_EQ(out.width, 3);
  EXPECT_EQ(out.height, 2);
  EXPECT_EQ(out.pixels, in.pixels);
}

TEST(Bitmap, PicturesWithoutAlphaAreTransparentWhereTheBottomLeftColourIs) {
  const TBitmap b = DecodeBmp(Bmp24(5, 3, 0x00FF00, 0xFFFFFF));
  EXPECT_EQ(b.At(0, 2), 0u);           // the bottom-left pixel itself
  EXPECT_EQ(b.At(2, 1), 0xFF00FF00u);  // everything else opaque
  const TBitmap keyed = DecodeBmp(Bmp24(2, 2, 0x123456, 0x123456));
  for (auto p : keyed.pixels) EXPECT_EQ(Alpha(p), 0u);
}

TEST(Bitmap, BrokenOrHostileFilesAreRefusedWithoutCrashing) {
  const auto good = EncodeBmp32(Sample());
  struct Case {
    const char* what;
    std::vector<std::uint8_t> bytes;
  };
  std::vector<Case> cases;
  cases.push_back({"empty", {}});
  cases.push_back({"truncated header", {good.begin(), good.begin() + 30}});
  cases.push_back({"truncated pixels", {good.begin(), good.end() - 1}});
  auto patched = [&](size_t at, std::uint32_t v) {
    auto b = good;
    Put32(b, at, v);
    return b;
  };
  cases.push_back({"bad magic", patched(0, 0x4D42 << 8)});
  cases.push_back({"huge width", patched(18, 1u << 30)});
  cases.push_back({"zero height", patched(22, 0)});
  cases.push_back({"huge negative height", patched(22, 0x80000000u)});
  cases.push_back({"pixel offset past end", patched(10, 0xFFFFFFF0u)});
  cases.push_back({"compressed", patched(30, 1)});
  cases.push_back({"unknown header", patched(14, 64)});
  cases.push_back({"odd masks", patched(54, 0x0000FF00)});
  for (const auto& c : cases) {
    EXPECT_THROW(DecodeBmp(c.bytes), EInvalidGraphic) << c.what;
  }
}

TEST(Bitmap, RandomlyDamagedFilesDecodeOrAreRefused) {
  // Every damaged file either decodes to a picture whose pixel count matches its size, or is
  // refused with EInvalidGraphic; nothing else may happen.
  const auto good = EncodeBmp32(Sample());
  std::mt19937 rng(911);
  for (int round = 0; round < 5000; ++round) {
    auto bytes = good;
    const int changes = 1 + static_cast<int>(rng() % 6);
    for (int i = 0; i < changes; ++i) {
      if (rng() % 8 == 0) {
        bytes.resize(rng() % (bytes.size() + 1));
      } else if (!bytes.empty()) {
        bytes[rng() % std::min<std::size_t>(bytes.size(), 70)] = static_cast<std::uint8_t>(rng());
      }
    }
    try {
      const TBitmap picture = DecodeBmp(bytes);
      EXPECT_EQ(picture.pixels.size(),
                static_cast<std::size_t>(picture.width) * static_cast<std::size_t>(picture.height));
    } catch (const EInvalidGraphic&) {
    }
  }
}

TEST(Bitmap, FilesAreWrittenAndReadAndAMissingFileNamesItself) {
  const auto dir = std::filesystem::temp_directory_path() / "goramina_bitmap_test";
  std::filesystem::create_directories(dir);
  const std::string path = (dir / "pic.bmp").string();
  WriteBmpFile(path, Sample());
  EXPECT_EQ(ReadBmpFile(path).pixels, Sample().pixels);
  const std::string missing = (dir / "missing.bmp").string();
  try {
    ReadBmpFile(missing);
    FAIL() << "a missing file must throw";
  } catch (const EFOpenError& e) {
    EXPECT_NE(std::string(e.what()).find(missing), std::string::npos);
  }
  EXPECT_THROW(WriteBmpFile((dir / "no" / "such" / "dir.bmp").string(), Sample()), EFOpenError);
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace goramina
