// Writing and reading 16-bit PCM mono RIFF WAVE files, the format of the program's sounds.
//
// Layout of the files we write (canonical 44-byte header, all numbers little-endian):
//
//   OFFSET  SIZE  DESCRIPTION
//        0     4  "RIFF"
//        4     4  RIFF chunk size = 36 + data size (file size minus 8)
//        8     4  "WAVE"
//       12     4  "fmt "
//       16     4  fmt chunk size = 16
//       20     2  audio format = 1 (PCM)
//       22     2  channels = 1
//       24     4  sample rate = 44100
//       28     4  byte rate = sample rate * block align = 88200
//       32     2  block align = channels * bytes per sample = 2
//       34     2  bits per sample = 16
//       36     4  "data"
//       40     4  data size = sample count * 2
//       44     n  samples, signed 16-bit
//
// Invariants (checked by ReadWave):
//   1. the three tags "RIFF", "WAVE", "fmt " stand at offsets 0, 8, 12;
//   2. the fmt chunk describes 16-bit PCM mono;
//   3. the RIFF size matches the file length and the data chunk lies inside it.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace goramina::tools {

constexpr std::uint32_t kSampleRate = 44100;
constexpr std::uint16_t kChannels = 1;
constexpr std::uint16_t kBitsPerSample = 16;
constexpr std::uint16_t kBlockAlign = kChannels * (kBitsPerSample / 8);  // 2
constexpr std::uint32_t kByteRate = kSampleRate * kBlockAlign;           // 88200
constexpr std::uint32_t kFmtChunkSize = 16;
constexpr std::uint16_t kFormatPcm = 1;
constexpr std::size_t kHeaderSize = 44;  // 12 (RIFF) + 8 + 16 (fmt) + 8 (data header)

// Encodes samples as a complete WAVE file image.
std::vector<std::uint8_t> EncodeWave(std::span<const std::int16_t> samples);

// Writes samples to path as a WAVE file. Returns false (with errno set by the stream) if the
// file cannot be written completely.
bool WriteWave(const std::string& path, std::span<const std::int16_t> samples);

// Decodes a WAVE file image written in the layout above. Returns false and leaves samples
// empty if any invariant does not hold; error then names the first one broken.
bool DecodeWave(std::span<const std::uint8_t> image, std::vector<std::int16_t>& samples,
                std::string& error);

}  // namespace goramina::tools
