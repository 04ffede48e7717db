#include "app/toolkit/bitmap.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>

namespace goramina {
namespace {

constexpr std::uint32_t kFileHeaderSize = 14;
constexpr std::uint32_t kInfoHeaderSize = 40;
constexpr std::uint32_t kV4HeaderSize = 108;
constexpr std::uint32_t kV5HeaderSize = 124;
constexpr std::uint32_t kBiRgb = 0;
constexpr std::uint32_t kBiBitfields = 3;
constexpr std::uint32_t kRedMask = 0x00FF0000;
constexpr std::uint32_t kGreenMask = 0x0000FF00;
constexpr std::uint32_t kBlueMask = 0x000000FF;
constexpr std::uint32_t kAlphaMask = 0xFF000000;
constexpr std::uint32_t kColorSpaceSRgb = 0x73524742;  // 'sRGB'

void Put16(std::vector<std::uint8_t>& out, std::uint32_t v) {
  out.push_back(v & 0xFF);
  out.push_back((v >> 8) & 0xFF);
}

void Put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  Put16(out, v & 0xFFFF);
  Put16(out, v >> 16);
}

std::uint32_t Get16(const std::vector<std::uint8_t>& in, size_t at) {
  return in[at] | (in[at + 1] << 8);
}

std::uint32_t Get32(const std::vector<std::uint8_t>& in, size_t at) {
  return Get16(in, at) | (Get16(in, at + 2) << 16);
}

void Check(bool ok, const char* what) {
  if (!ok) throw EInvalidGraphic(std::string("Bitmap image is not valid: ") + what);
}

// Pictures without alpha take the colour of the bottom-left pixel as transparent.
void ApplyTransparentColour(TBitmap& bitmap) {
  const std::uint32_t key = bitmap.At(0, bitmap.height - 1) & 0x00FFFFFF;
  for (auto& p : bitmap.pixels) {
    p = (p & 0x00FFFFFF) == key ? 0u : (p | kAlphaMask);
  }
}

}  // namespace

std::vector<std::uint8_t> EncodeBmp32(const TBitmap& bitmap) {
  const std::uint32_t pixelBytes = static_cast<std::uint32_t>(bitmap.width) * bitmap.height * 4;
  const std::uint32_t pixelOffset = kFileHeaderSize + kV4HeaderSize;  // 14 + 108 = 122
  std::vector<std::uint8_t> out;
  out.reserve(pixelOffset + pixelBytes);
  out.push_back('B');
  out.push_back('M');
  Put32(out, pixelOffset + pixelBytes);
  Put32(out, 0);
  Put32(out, pixelOffset);
  Put32(out, kV4HeaderSize);
  Put32(out, static_cast<std::uint32_t>(bitmap.width));
  Put32(out, static_cast<std::uint32_t>(bitmap.height));  // bottom-up
  Put16(out, 1);
  Put16(out, 32);
  Put32(out, kBiBitfields);
  Put32(out, pixelBytes);
  Put32(out, 2835);  // 72 dpi in pixels per metre
  Put32(out, 2835);
  Put32(out, 0);
  Put32(out, 0);
  Put32(out, kRedMask);
  Put32(out, kGreenMask);
  Put32(out, kBlueMask);
  Put32(out, kAlphaMask);
  Put32(out, kColorSpaceSRgb);
  for (int i = 0; i < 12; ++i) Put32(out, 0);  // endpoints (9) and gamma (3), unused for sRGB
  for (int y = bitmap.height - 1; y >= 0; --y) {
    for (int x = 0; x < bitmap.width; ++x) {
      const std::uint32_t p = bitmap.At(x, y);
      out.push_back(Blue(p));
      out.push_back(Green(p));
      out.push_back(Red(p));
      out.push_back(Alpha(p));
    }
  }
  return out;
}

TBitmap DecodeBmp(const std::vector<std::uint8_t>& in) {
  Check(in.size() >= kFileHeaderSize + kInfoHeaderSize, "file too short");
  Check(in[0] == 'B' && in[1] == 'M', "no BM signature");
  const std::uint32_t pixelOffset = Get32(in, 10);
  const std::uint32_t headerSize = Get32(in, 14);
  Check(headerSize == kInfoHeaderSize || headerSize == kV4HeaderSize || headerSize == kV5HeaderSize,
        "unsupported header");
  Check(kFileHeaderSize + headerSize <= in.size(), "header past end of file");
  const auto width = static_cast<std::int32_t>(Get32(in, 18));
  const auto rawHeight = static_cast<std::int32_t>(Get32(in, 22));
  const std::uint32_t bits = Get16(in, 28);
  const std::uint32_t compression = Get32(in, 30);
  Check(width > 0 && width <= kMaxBitmapSide, "bad width");
  Check(rawHeight != 0 && rawHeight >= -kMaxBitmapSide && rawHeight <= kMaxBitmapSide,
        "bad height");
  Check(bits == 24 || bits == 32, "only 24 and 32 bits per pixel are supported");
  bool hasAlpha = false;
  if (compression == kBiBitfields) {
    Check(bits == 32, "bit fields need 32 bits per pixel");
    // Masks follow a V4/V5 header, or the plain header directly (3 masks, 12 bytes).
    Check(kFileHeaderSize + kInfoHeaderSize + 12 <= in.size(), "masks past end of file");
    const size_t masks = kFileHeaderSize + kInfoHeaderSize;
    Check(Get32(in, masks) == kRedMask && Get32(in, masks + 4) == kGreenMask &&
              Get32(in, masks + 8) == kBlueMask,
          "unsupported colour masks");
    hasAlpha = headerSize >= kV4HeaderSize && Get32(in, masks + 12) == kAlphaMask;
  } else {
    Check(compression == kBiRgb, "compressed bitmaps are not supported");
  }
  const int height = rawHeight < 0 ? -rawHeight : rawHeight;
  const size_t stride = (static_cast<size_t>(width) * bits / 8 + 3) & ~size_t{3};
  Check(pixelOffset <= in.size() && stride * height <= in.size() - pixelOffset,
        "pixel data past end of file");

  TBitmap out;
  out.width = width;
  out.height = height;
  out.pixels.resize(static_cast<size_t>(width) * height);
  // A 32-bit BI_RGB picture may carry alpha in its fourth byte; whether it does is decided by
  // whether any of those bytes is set.
  if (bits == 32 && compression == kBiRgb) hasAlpha = true;
  bool anyAlpha = false;
  for (int row = 0; row < height; ++row) {
    const int y = rawHeight < 0 ? row : height - 1 - row;
    const size_t base = pixelOffset + stride * row;
    for (int x = 0; x < width; ++x) {
      const size_t at = base + static_cast<size_t>(x) * bits / 8;
      std::uint32_t a = bits == 32 ? in[at + 3] : 0;
      anyAlpha = anyAlpha || a != 0;
      out.pixels[static_cast<size_t>(y) * width + x] =
          (a << 24) | (in[at + 2] << 16) | (in[at + 1] << 8) | in[at];
    }
  }
  // A 32-bit picture with all alpha bytes zero is an opaque picture that never used them.
  if (!hasAlpha || !anyAlpha) ApplyTransparentColour(out);
  return out;
}

TBitmap ReadBmpFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    throw EFOpenError("Cannot open file \"" + path + "\". " + std::strerror(errno));
  }
  std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(file)),
                                  std::istreambuf_iterator<char>());
  if (file.bad()) {
    throw EFOpenError("Cannot read file \"" + path + "\". " + std::strerror(errno));
  }
  try {
    return DecodeBmp(bytes);
  } catch (const EInvalidGraphic& e) {
    throw EInvalidGraphic(std::string(e.what()) + " (\"" + path + "\")");
  }
}

void WriteBmpFile(const std::string& path, const TBitmap& bitmap) {
  const auto bytes = EncodeBmp32(bitmap);
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  if (file) file.write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  if (!file) {
    throw EFOpenError("Cannot create file \"" + path + "\". " + std::strerror(errno));
  }
}

}  // namespace goramina
