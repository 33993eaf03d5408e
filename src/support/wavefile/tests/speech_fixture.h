// Test material made at run time with Debian's espeak-ng and sox: spoken
// words padded with silence and mixed with noise at a known level.
#pragma once

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace fixture {

inline bool haveTool(const char *name) {
  std::string cmd = std::string("command -v ") + name + " >/dev/null 2>&1";
  return system(cmd.c_str()) == 0;
}

inline int run(const std::string &cmd) { return system((cmd + " 2>/dev/null").c_str()); }

// A scratch folder removed by the caller's TearDown (or left in /tmp).
inline std::string tempDir() {
  char tmpl[] = "/tmp/wavetestXXXXXX";
  const char *d = mkdtemp(tmpl);
  return d ? d : "/tmp";
}

inline std::vector<int16_t> readRaw16(const std::string &path) {
  std::ifstream f(path, std::ios::binary);
  std::vector<char> bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  std::vector<int16_t> s(bytes.size() / 2);
  memcpy(s.data(), bytes.data(), s.size() * 2);
  return s;
}

inline std::vector<unsigned char> readBytes(const std::string &path) {
  std::ifstream f(path, std::ios::binary);
  return std::vector<unsigned char>((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

inline void writeBytes(const std::string &path, const void *p, size_t n) {
  std::ofstream f(path, std::ios::binary);
  f.write((const char *)p, (std::streamsize)n);
}

// Spoken text at rate Hz (mono, 16-bit), optionally band-limited below
// lowpassHz; empty when espeak-ng or sox is missing.
inline std::vector<int16_t> speech(const std::string &dir, const std::string &text, int rate,
                                   int lowpassHz = 0) {
  std::string wav = dir + "/espeak.wav", raw = dir + "/speech.raw";
  if (run("espeak-ng -w " + wav + " '" + text + "'") != 0) return {};
  std::string fx = lowpassHz ? " sinc -" + std::to_string(lowpassHz) : "";
  if (run("sox " + wav + " -D -t raw -e signed -b 16 -c 1 -r " + std::to_string(rate) + " " + raw + fx) != 0)
    return {};
  return readRaw16(raw);
}

// Where the words are in a clean recording: first and one-past-last sample
// whose magnitude reaches 2 % of the peak.
inline void speechBounds(const std::vector<int16_t> &s, int &b, int &e) {
  int peak = 1;
  for (int16_t v : s) peak = std::max(peak, std::abs((int)v));
  int lim = peak / 50;
  b = 0;
  while (b < (int)s.size() && std::abs((int)s[b]) < lim) b++;
  e = (int)s.size();
  while (e > b && std::abs((int)s[e - 1]) < lim) e--;
}

inline double rms(const std::vector<int16_t> &s, int b, int e) {
  double sum = 0;
  for (int i = b; i < e; i++) sum += (double)s[i] * s[i];
  return e > b ? std::sqrt(sum / (e - b)) : 0;
}

// before + speech + after samples, with white Gaussian noise whose level is
// snrDb below the speech's RMS (no noise when snrDb is NaN). The same seed
// gives the same recording.
inline std::vector<int16_t> padAndMix(const std::vector<int16_t> &clean, int before, int after, double snrDb,
                                      unsigned seed = 7) {
  std::vector<int16_t> out(before + clean.size() + after, 0);
  std::copy(clean.begin(), clean.end(), out.begin() + before);
  if (snrDb == snrDb) {
    int b, e;
    speechBounds(clean, b, e);
    double sigma = rms(clean, b, e) / std::pow(10.0, snrDb / 20);
    std::mt19937 gen(seed);
    std::normal_distribution<double> nd(0, sigma);
    for (auto &v : out) {
      double x = v + nd(gen);
      v = (int16_t)std::max(-32768.0, std::min(32767.0, std::round(x)));
    }
  }
  return out;
}

}  // namespace fixture
