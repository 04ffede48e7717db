#include "tools/wave_file.h"

#include <cstring>
#include <fstream>

namespace goramina::tools {
namespace {

void PutU16(std::vector<std::uint8_t>& out, std::uint16_t v) {
  out.push_back(static_cast<std::uint8_t>(v & 0xFF));
  out.push_back(static_cast<std::uint8_t>(v >> 8));
}

void PutU32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<std::uint8_t>(v >> shift));
}

void PutTag(std::vector<std::uint8_t>& out, const char* tag) {
  out.insert(out.end(), tag, tag + 4);
}

std::uint16_t GetU16(std::span<const std::uint8_t> in, std::size_t at) {
  return static_cast<std::uint16_t>(in[at] | (in[at + 1] << 8));
}

std::uint32_t GetU32(std::span<const std::uint8_t> in, std::size_t at) {
  return static_cast<std::uint32_t>(in[at]) | (static_cast<std::uint32_t>(in[at + 1]) << 8) |
         (static_cast<std::uint32_t>(in[at + 2]) << 16) |
         (static_cast<std::uint32_t>(in[at + 3]) << 24);
}

bool HasTag(std::span<const std::uint8_t> in, std::size_t at, const char* tag) {
  return std::memcmp(in.data() + at, tag, 4) == 0;
}

}  // namespace

std::vector<std::uint8_t> EncodeWave(std::span<const std::int16_t> samples) {
  const auto data_size = static_cast<std::uint32_t>(samples.size() * kBlockAlign);
  std::vector<std::uint8_t> out;
  out.reserve(kHeaderSize + data_size);
  PutTag(out, "RIFF");
  PutU32(out, 36 + data_size);
  PutTag(out, "WAVE");
  PutTag(out, "fmt ");
  PutU32(out, kFmtChunkSize);
  PutU16(out, kFormatPcm);
  PutU16(out, kChannels);
  PutU32(out, kSampleRate);
  PutU32(out, kByteRate);
  PutU16(out, kBlockAlign);
  PutU16(out, kBitsPerSample);
  PutTag(out, "data");
  PutU32(out, data_size);
  for (std::int16_t s : samples) PutU16(out, static_cast<std::uint16_t>(s));
  return out;
}

bool WriteWave(const std::string& path, std::span<const std::int16_t> samples) {
  const std::vector<std::uint8_t> image = EncodeWave(samples);
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(reinterpret_cast<const char*>(image.data()),
             static_cast<std::streamsize>(image.size()));
  file.close();
  return static_cast<bool>(file);
}

bool DecodeWave(std::span<const std::uint8_t> image, std::vector<std::int16_t>& samples,
                std::string& error) {
  samples.clear();
  if (image.size() < kHeaderSize) {
    error = "shorter than the 44-byte header";
    return false;
  }
  if (!HasTag(image, 0, "RIFF") || !HasTag(image, 8, "WAVE") || !HasTag(image, 12, "fmt ")) {
    error = "RIFF/WAVE/fmt tags missing";
    return false;
  }
  if (GetU32(image, 16) != kFmtChunkSize || GetU16(image, 20) != kFormatPcm ||
      GetU16(image, 22) != kChannels || GetU32(image, 24) != kSampleRate ||
      GetU32(image, 28) != kByteRate || GetU16(image, 32) != kBlockAlign ||
      GetU16(image, 34) != kBitsPerSample) {
    error = "fmt chunk is not 16-bit PCM mono 44100 Hz";
    return false;
  }
  if (GetU32(image, 4) != image.size() - 8) {
    error = "RIFF size does not match the file length";
    return false;
  }
  const std::uint32_t data_size = GetU32(image, 40);
  if (!HasTag(image, 36, "data") || data_size % kBlockAlign != 0 ||
      data_size > image.size() - kHeaderSize) {
    error = "data chunk missing or outside the file";
    return false;
  }
  samples.resize(data_size / kBlockAlign);
  for (std::size_t i = 0; i < samples.size(); ++i)
    samples[i] = static_cast<std::int16_t>(GetU16(image, kHeaderSize + 2 * i));
  return true;
}

}  // namespace goramina::tools
