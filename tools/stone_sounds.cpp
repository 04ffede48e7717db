#include "tools/stone_sounds.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "tools/wave_file.h"

namespace goramina::tools {
namespace {

constexpr double kTwoPi = 2.0 * std::numbers::pi;

// A damped sine: one resonance of the board or the bell.
struct Mode {
  double frequency_hz;
  double amplitude;
  double decay_seconds;  // time constant of the exponential envelope
};

std::size_t SamplesFor(double seconds) {
  return static_cast<std::size_t>(seconds * kSampleRate);
}

// Deterministic noise so that every build writes byte-identical files.
class NoiseSource {
 public:
  double Next() {
    state_ = state_ * 6364136223846793005ULL + 1442695040888963407ULL;
    return static_cast<double>(state_ >> 11) / static_cast<double>(1ULL << 53) * 2.0 - 1.0;
  }

 private:
  std::uint64_t state_ = 0x5EED1234ABCDULL;
};

void AddModes(std::vector<double>& signal, std::size_t offset, const std::vector<Mode>& modes) {
  for (std::size_t i = offset; i < signal.size(); ++i) {
    const double t = static_cast<double>(i - offset) / kSampleRate;
    for (const Mode& m : modes)
      signal[i] +=
          m.amplitude * std::exp(-t / m.decay_seconds) * std::sin(kTwoPi * m.frequency_hz * t);
  }
}

// Raised-cosine fades keep the first and last samples at zero, so playback starts and stops
// without a pop.
void ApplyFades(std::vector<double>& signal, double fade_in_s, double fade_out_s) {
  const std::size_t in = std::min(SamplesFor(fade_in_s), signal.size());
  const std::size_t out = std::min(SamplesFor(fade_out_s), signal.size());
  for (std::size_t i = 0; i < in; ++i)
    signal[i] *= 0.5 - 0.5 * std::cos(std::numbers::pi * static_cast<double>(i) / in);
  for (std::size_t i = 0; i < out; ++i)
    signal[signal.size() - 1 - i] *=
        0.5 - 0.5 * std::cos(std::numbers::pi * static_cast<double>(i) / out);
}

std::vector<std::int16_t> ToPcm(const std::vector<double>& signal) {
  double peak = 0.0;
  for (double s : signal) peak = std::max(peak, std::abs(s));
  const double gain = peak > 0.0 ? kPeakLevel / peak : 0.0;
  std::vector<std::int16_t> pcm(signal.size());
  for (std::size_t i = 0; i < signal.size(); ++i)
    pcm[i] = static_cast<std::int16_t>(std::lround(signal[i] * gain * 32767.0));
  return pcm;
}

}  // namespace

std::vector<std::int16_t> MakeStoneClick() {
  std::vector<double> signal(SamplesFor(0.080), 0.0);

  // The contact: 1.5 ms of noise, low-passed by a one-pole filter so it sounds like wood and
  // shell rather than a hiss.
  NoiseSource noise;
  const std::size_t contact = SamplesFor(0.0015);
  double filtered = 0.0;
  for (std::size_t i = 0; i < contact; ++i) {
    filtered += 0.35 * (noise.Next() - filtered);
    signal[i] += 0.9 * filtered * (1.0 - static_cast<double>(i) / contact);
  }

  // The board answers with a low knock and a few bright, quickly dying modes.
  AddModes(signal, 0,
           {{310.0, 0.55, 0.012},
            {870.0, 0.45, 0.009},
            {1720.0, 0.35, 0.006},
            {2930.0, 0.22, 0.004},
            {4400.0, 0.12, 0.0025}});
  ApplyFades(signal, 0.0003, 0.010);
  return ToPcm(signal);
}

std::vector<std::int16_t> MakeEndChime() {
  std::vector<double> signal(SamplesFor(1.1), 0.0);

  // Two strikes, E5 then A5, each with the slightly inharmonic partials of a small bell.
  const auto bell = [](double f, double level) {
    return std::vector<Mode>{{f, 0.60 * level, 0.32},
                             {2.0 * f, 0.22 * level, 0.18},
                             {2.76 * f, 0.10 * level, 0.10},
                             {5.40 * f, 0.04 * level, 0.05}};
  };
  AddModes(signal, 0, bell(659.26, 0.8));
  AddModes(signal, SamplesFor(0.14), bell(880.0, 1.0));
  ApplyFades(signal, 0.004, 0.15);
  return ToPcm(signal);
}

}  // namespace goramina::tools
