// SPDX-License-Identifier: Apache-2.0
#include "tools/keysound/key_sound_recipes.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>

namespace kavi::win {
namespace {

constexpr double kTwoPi = 2 * std::numbers::pi;
// Every clip fades in over its first half millisecond and out over its last six, so it begins
// and ends at silence whatever the synthesis left there.
constexpr double kFadeInSeconds = 0.0005;
constexpr double kFadeOutSeconds = 0.006;
// Loudness: the RMS of the first 25 ms is brought to -17 dBFS, and the peak is held below
// -2.5 dBFS, so switching sound types keeps the level and eight overlapping clicks stay clean.
constexpr double kTargetRms = 0.141;
constexpr double kPeakCeiling = 0.75;
constexpr double kLoudnessWindowSeconds = 0.025;
// Each strike rises over a fraction of a millisecond: sharp enough to click, soft enough not to
// splash energy over the whole spectrum. Glides rise more slowly, as a drop or a bubble does.
constexpr double kStrikeRiseSeconds = 0.0003;
constexpr double kGlideRiseSeconds = 0.0015;

double Rise(double t, double rise) {
  return t >= rise ? 1.0 : 0.5 - 0.5 * std::cos(std::numbers::pi * t / rise);
}

class Signal {
 public:
  explicit Signal(double seconds)
      : samples_(static_cast<size_t>(std::lround(seconds * kKeySoundRate))) {}

  size_t size() const { return samples_.size(); }
  double Time(size_t i) const { return static_cast<double>(i) / kKeySoundRate; }

  // A resonance struck at `start`: amplitude decays by 1/e every `decay` seconds.
  void Mode(double freq, double decay, double amp, double start = 0) {
    for (size_t i = 0; i < size(); ++i) {
      const double t = Time(i) - start;
      if (t < 0) continue;
      samples_[i] +=
          amp * Rise(t, kStrikeRiseSeconds) * std::exp(-t / decay) * std::sin(kTwoPi * freq * t);
    }
  }

  // A sine whose pitch glides exponentially from f0 to f1 over `glide` seconds, then holds.
  void Sweep(double f0, double f1, double glide, double decay, double amp, double start = 0) {
    double phase = 0;
    for (size_t i = 0; i < size(); ++i) {
      const double t = Time(i) - start;
      if (t < 0) continue;
      const double k = std::min(t / glide, 1.0);
      const double freq = f0 * std::pow(f1 / f0, k);
      phase += kTwoPi * freq / kKeySoundRate;
      samples_[i] += amp * Rise(t, kGlideRiseSeconds) * std::exp(-t / decay) * std::sin(phase);
    }
  }

  // White noise through a two-pole resonant band-pass at `centre` with quality `q`, decaying.
  void NoiseBurst(double centre, double q, double decay, double amp, uint32_t seed,
                  double start = 0) {
    const double w = kTwoPi * centre / kKeySoundRate;
    const double alpha = std::sin(w) / (2 * q);
    const double a0 = 1 + alpha;
    const double b0 = alpha / a0, b2 = -alpha / a0;
    const double a1 = -2 * std::cos(w) / a0, a2 = (1 - alpha) / a0;
    double x1 = 0, x2 = 0, y1 = 0, y2 = 0;
    uint32_t state = seed;
    for (size_t i = 0; i < size(); ++i) {
      const double t = Time(i) - start;
      if (t < 0) continue;
      state ^= state << 13;
      state ^= state >> 17;
      state ^= state << 5;
      const double x = (static_cast<double>(state) / 4294967295.0) * 2 - 1;
      const double y = b0 * x + b2 * x2 - a1 * y1 - a2 * y2;
      x2 = x1;
      x1 = x;
      y2 = y1;
      y1 = y;
      samples_[i] += amp * Rise(t, kStrikeRiseSeconds) * std::exp(-t / decay) * y;
    }
  }

  // A band-limited square (odd harmonics up to `harmonics`) with a raised-cosine envelope
  // over its whole `length`.
  void Blip(double freq, int harmonics, double length, double amp, double start = 0) {
    for (size_t i = 0; i < size(); ++i) {
      const double t = Time(i) - start;
      if (t < 0 || t > length) continue;
      double wave = 0;
      for (int n = 1; n <= harmonics; n += 2) wave += std::sin(kTwoPi * freq * n * t) / n;
      const double envelope = 0.5 - 0.5 * std::cos(kTwoPi * t / length);
      samples_[i] += amp * envelope * wave;
    }
  }

  SoundClip Finish() {
    const size_t fade_in = static_cast<size_t>(kFadeInSeconds * kKeySoundRate);
    const size_t fade_out = static_cast<size_t>(kFadeOutSeconds * kKeySoundRate);
    for (size_t i = 0; i < size(); ++i) {
      double gain = 1;
      if (i < fade_in) gain = 0.5 - 0.5 * std::cos(std::numbers::pi * i / fade_in);
      const size_t from_end = size() - 1 - i;
      if (from_end < fade_out) gain *= 0.5 - 0.5 * std::cos(std::numbers::pi * from_end / fade_out);
      samples_[i] *= gain;
    }
    const size_t window =
        std::min(size(), static_cast<size_t>(kLoudnessWindowSeconds * kKeySoundRate));
    double energy = 0, peak = 0;
    for (size_t i = 0; i < window; ++i) energy += samples_[i] * samples_[i];
    for (double s : samples_) peak = std::max(peak, std::abs(s));
    const double rms = std::sqrt(energy / static_cast<double>(window));
    double scale = rms > 0 ? kTargetRms / rms : 0;
    if (peak * scale > kPeakCeiling) scale = kPeakCeiling / peak;

    SoundClip clip;
    clip.sample_rate = kKeySoundRate;
    clip.channels = 1;
    clip.bits_per_sample = 16;
    clip.samples.reserve(size());
    for (double s : samples_)
      clip.samples.push_back(static_cast<int16_t>(std::lround(s * scale * 32767)));
    return clip;
  }

 private:
  std::vector<double> samples_;
};

const std::vector<KeySoundRecipe> kRecipes = {
    {"key14", "Soft tap: a rounded, muted click with a little body at 180 Hz; the default."},
    {"key28", "Typewriter: a bright metallic strike followed 28 ms later by a lighter rebound."},
    {"key30", "Clicky switch: a sharp high click, then the deeper thock of the key bottoming out."},
    {"key31", "Bubble: a quick upward pop from 400 Hz to 1.4 kHz."},
    {"key32", "Marimba: a warm wooden note on G5 (784 Hz) with a short bright overtone."},
    {"key33", "Glass: a clear, high, slightly bell-like tick."},
    {"key34", "Laptop: a quiet, dull membrane thud, mostly below 1.5 kHz."},
    {"key35", "Wood block: a hollow knock around 1.25 kHz."},
    {"key36", "Water drop: a falling then rising \"plink\"."},
    {"key37", "Kalimba: a plucked metal tine on C6 (1047 Hz) with a soft ring."},
    {"key38", "Retro blip: a short square-wave beep at 1.32 kHz, like an old handheld game."},
};

}  // namespace

const std::vector<KeySoundRecipe>& KeySoundRecipes() {
  return kRecipes;
}

SoundClip SynthesizeKeySound(std::string_view type) {
  if (type == "key14") {
    Signal s(0.045);
    s.Mode(180, 0.012, 0.6);
    s.Mode(1100, 0.008, 0.5);
    s.Mode(2300, 0.004, 0.25);
    s.NoiseBurst(4000, 1.2, 0.0015, 0.8, 14);
    return s.Finish();
  }
  if (type == "key28") {
    Signal s(0.070);
    s.NoiseBurst(3500, 0.8, 0.003, 1.2, 28);
    s.Mode(2900, 0.010, 0.5);
    s.Mode(4700, 0.007, 0.3);
    s.Mode(650, 0.015, 0.25);
    s.NoiseBurst(3000, 1.0, 0.002, 0.5, 281, 0.028);
    s.Mode(2900, 0.006, 0.2, 0.028);
    return s.Finish();
  }
  if (type == "key30") {
    Signal s(0.060);
    s.NoiseBurst(5000, 2.0, 0.0015, 1.0, 30);
    s.Mode(3200, 0.003, 0.6);
    s.Mode(420, 0.010, 0.7, 0.018);
    s.Mode(900, 0.006, 0.4, 0.018);
    s.NoiseBurst(1500, 1.0, 0.002, 0.4, 301, 0.018);
    return s.Finish();
  }
  if (type == "key31") {
    Signal s(0.050);
    s.Sweep(400, 1400, 0.025, 0.012, 1.0);
    return s.Finish();
  }
  if (type == "key32") {
    Signal s(0.080);
    s.Mode(784, 0.025, 1.0);
    s.Mode(3136, 0.006, 0.35);
    s.Mode(7450, 0.002, 0.1);
    return s.Finish();
  }
  if (type == "key33") {
    Signal s(0.060);
    s.Mode(2637, 0.015, 0.8);
    s.Mode(5900, 0.008, 0.5);
    s.Mode(9100, 0.005, 0.3);
    s.NoiseBurst(8000, 2.0, 0.001, 0.3, 33);
    return s.Finish();
  }
  if (type == "key34") {
    Signal s(0.035);
    s.NoiseBurst(700, 0.7, 0.004, 1.2, 34);
    s.Mode(250, 0.008, 0.5);
    return s.Finish();
  }
  if (type == "key35") {
    Signal s(0.050);
    s.Mode(1250, 0.012, 1.0);
    s.Mode(2890, 0.006, 0.45);
    s.Mode(4100, 0.003, 0.25);
    s.NoiseBurst(2500, 1.5, 0.001, 0.3, 35);
    return s.Finish();
  }
  if (type == "key36") {
    Signal s(0.055);
    s.Sweep(1800, 700, 0.008, 0.02, 0.5);
    s.Sweep(700, 1600, 0.020, 0.015, 0.8, 0.008);
    return s.Finish();
  }
  if (type == "key37") {
    Signal s(0.080);
    s.Mode(1047, 0.035, 1.0);
    s.Mode(5650, 0.005, 0.3);
    s.Mode(2094, 0.010, 0.15);
    s.NoiseBurst(3000, 1.0, 0.001, 0.25, 37);
    return s.Finish();
  }
  Signal s(0.040);
  s.Blip(1320, 7, 0.032, 0.8);
  return s.Finish();
}

}  // namespace kavi::win
