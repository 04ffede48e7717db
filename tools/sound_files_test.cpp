// Checks the sound files the build puts next to the program: well-formed 16-bit PCM mono
// WAVE, audible, never clipped, and of the intended length.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <iterator>

#include "tools/stone_sounds.h"
#include "tools/wave_file.h"

namespace goramina::tools {
namespace {

std::vector<std::uint8_t> ReadFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

struct SoundCase {
  const char* file;
  double min_seconds;
  double max_seconds;
};

void PrintTo(const SoundCase& c, std::ostream* os) {
  *os << c.file;
}

class SoundFileTest : public ::testing::TestWithParam<SoundCase> {};

TEST_P(SoundFileTest, IsAudiblePcmWithoutClippingOrPops) {
  const SoundCase& c = GetParam();
  const std::vector<std::uint8_t> image = ReadFile(std::string(GORAMINA_APP_DIR) + "/" + c.file);
  ASSERT_FALSE(image.empty()) << c.file << " was not written by the build";

  std::vector<std::int16_t> samples;
  std::string error;
  ASSERT_TRUE(DecodeWave(image, samples, error)) << c.file << ": " << error;

  const double seconds = static_cast<double>(samples.size()) / kSampleRate;
  EXPECT_GE(seconds, c.min_seconds);
  EXPECT_LE(seconds, c.max_seconds);

  int peak = 0;
  double energy = 0.0;
  for (std::int16_t s : samples) {
    peak = std::max(peak, std::abs(static_cast<int>(s)));
    energy += static_cast<double>(s) * s;
  }
  const double rms = std::sqrt(energy / static_cast<double>(samples.size()));
  EXPECT_LT(peak, 32000) << "samples reach full scale";
  EXPECT_GT(peak, 8000) << "too quiet to hear";
  EXPECT_GT(rms, 500.0) << "mostly silence";
  // Starting and ending at rest avoids an audible click from the sound card.
  EXPECT_LT(std::abs(samples.front()), 200);
  EXPECT_LT(std::abs(samples.back()), 200);
}

INSTANTIATE_TEST_SUITE_P(Sounds, SoundFileTest,
                         ::testing::Values(SoundCase{"Oto1.wav", 0.05, 0.15},
                                           SoundCase{"Oto2.wav", 0.6, 2.0}),
                         [](const auto& info) {
                           return std::string(info.param.file).substr(0, 4);
                         });

TEST(SoundFileTest, BuildWritesWhatTheSynthesiserMakes) {
  const std::vector<std::uint8_t> image = ReadFile(std::string(GORAMINA_APP_DIR) + "/Oto1.wav");
  EXPECT_EQ(image, EncodeWave(MakeStoneClick()));
}

// A damaged file must be refused rather than played as noise.
TEST(WaveDecodeTest, RefusesDamagedImages) {
  const std::vector<std::int16_t> samples = {0, 1000, -1000, 0};
  const std::vector<std::uint8_t> good = EncodeWave(samples);
  std::vector<std::int16_t> decoded;
  std::string error;
  ASSERT_TRUE(DecodeWave(good, decoded, error));
  EXPECT_EQ(decoded, samples);

  struct Damage {
    const char* what;
    std::size_t offset;
    std::uint8_t value;
  };
  for (const Damage& d : {Damage{"tag", 8, 'X'}, Damage{"channels", 22, 2}, Damage{"bits", 34, 8},
                          Damage{"riff size", 4, 0}, Damage{"data size", 40, 0xFF}}) {
    std::vector<std::uint8_t> bad = good;
    bad[d.offset] = d.value;
    EXPECT_FALSE(DecodeWave(bad, decoded, error)) << d.what;
    EXPECT_TRUE(decoded.empty()) << d.what;
  }
  const std::vector<std::uint8_t> truncated(good.begin(), good.begin() + 30);
  EXPECT_FALSE(DecodeWave(truncated, decoded, error));
}

}  // namespace
}  // namespace goramina::tools
