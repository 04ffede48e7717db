// Device-independent bitmaps: the 32-bit ARGB pixel buffer the board draws stones from, and the
// Windows BMP file format it is stored in next to the executable.
//
// BMP file layout (all numbers little-endian):
//   OFFSET  SIZE  DESCRIPTION
//        0     2  magic "BM"
//        2     4  file size in bytes
//        6     4  reserved, 0
//       10     4  offset of the pixel array from the start of the file
//       14     4  info header size: 40 (BITMAPINFOHEADER), 108 (V4) or 124 (V5)
//       18     4  width in pixels (> 0)
//       22     4  height in pixels; > 0 bottom-up rows, < 0 top-down rows
//       26     2  planes, 1
//       28     2  bits per pixel: 24 or 32
//       30     4  compression: 0 (BI_RGB) or 3 (BI_BITFIELDS, 32 bits only)
//       34    20  image size, resolution and palette counts (read and ignored)
//       54    16  V4/V5 only: red, green, blue and alpha masks
//   pixel array: rows padded to 4 bytes, pixels in B, G, R(, A) byte order.
//
// Invariants checked on decode:
//   1. the magic is "BM" and the headers lie inside the file;
//   2. width and |height| are 1..kMaxBitmapSide;
//   3. the whole pixel array lies inside the file;
//   4. masks of a BI_BITFIELDS image are the standard byte masks.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace goramina {

// A file that cannot be opened, read or written.
class EFOpenError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A file that is not a bitmap we understand.
class EInvalidGraphic : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Largest side accepted on decode: far above any board picture, small enough that a hostile
// header cannot make us allocate gigabytes (8192 * 8192 * 4 bytes = 256 MiB at most).
constexpr int kMaxBitmapSide = 8192;

// Pixels are 0xAARRGGBB, not premultiplied, rows top to bottom.
struct TBitmap {
  int width = 0;
  int height = 0;
  std::vector<std::uint32_t> pixels;

  // Pixel at (x, y), 0 <= x < width, 0 <= y < height.
  std::uint32_t At(int x, int y) const { return pixels[static_cast<size_t>(y) * width + x]; }
};

constexpr std::uint32_t Alpha(std::uint32_t argb) {
  return argb >> 24;
}
constexpr std::uint32_t Red(std::uint32_t argb) {
  return (argb >> 16) & 0xFF;
}
constexpr std::uint32_t Green(std::uint32_t argb) {
  return (argb >> 8) & 0xFF;
}
constexpr std::uint32_t Blue(std::uint32_t argb) {
  return argb & 0xFF;
}

// Encodes a bitmap as a 32-bit BI_BITFIELDS BMP with a V4 header, so the alpha channel
// survives in every reader that honours the masks.
std::vector<std::uint8_t> EncodeBmp32(const TBitmap& bitmap);

// Decodes a 24- or 32-bit uncompressed BMP. A bitmap without an alpha channel (24 bits, or
// 32 bits whose alpha bytes are all zero) is made transparent the way a transparent picture
// is drawn: every pixel of the colour of the bottom-left pixel becomes transparent.
// Throws EInvalidGraphic on anything else.
TBitmap DecodeBmp(const std::vector<std::uint8_t>& bytes);

// Reads and decodes a BMP file. A file that cannot be opened throws EFOpenError with the
// message 'Cannot open file "<path>". <reason>'; bad content throws EInvalidGraphic.
TBitmap ReadBmpFile(const std::string& path);

// Writes a 32-bit BMP file; throws EFOpenError when the file cannot be written.
void WriteBmpFile(const std::string& path, const TBitmap& bitmap);

}  // namespace goramina
