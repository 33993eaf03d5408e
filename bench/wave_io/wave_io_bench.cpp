// Reads, resamples (16 kHz to 8 kHz) and writes an hour of audio with the
// wavefile library, then has sox do the same to the same file, and prints
// both times and their ratio in one run.
//
//   wave_io_bench [seconds]      (default 3600)
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "bigbuffer.h"
#include "wavefile.h"
#include "yastro.h"

namespace {

double now() {
  using namespace std::chrono;
  return duration<double>(steady_clock::now().time_since_epoch()).count();
}

// Speech-like test material, band-limited below about 3 kHz so that both
// resamplers keep all of it: noise through four one-pole low-pass stages
// plus two drifting tones, at a speech level.
std::vector<int16_t> material(long n, int rate) {
  std::vector<int16_t> s((size_t)n);
  std::mt19937 g(1);
  std::normal_distribution<float> nd(0, 6000);
  float y[4] = {0, 0, 0, 0};
  double phase = 0;
  for (long i = 0; i < n; i++) {
    float x = nd(g);
    for (float &v : y) x = v = 0.6f * v + 0.4f * x;
    double t = (double)i / rate;
    phase = std::fmod(phase + 2 * M_PI * (220 + 30 * std::sin(0.5 * t)) / rate, 2 * M_PI);
    double v = x + 3000 * std::sin(phase) + 1500 * std::sin(2 * M_PI * 1250 * t);
    s[(size_t)i] = (int16_t)std::max(-32768.0, std::min(32767.0, v));
  }
  return s;
}

struct Times {
  double read = 0, resample = 0, write = 0;
  double total() const { return read + resample + write; }
};

}  // namespace

int main(int argc, char **argv) {
  double seconds = argc > 1 ? atof(argv[1]) : 3600;
  const int inRate = 16000, outRate = 8000;
  char dir[] = "/tmp/wavebenchXXXXXX";
  if (!mkdtemp(dir)) {
    perror("mkdtemp");
    return 1;
  }
  std::string in = std::string(dir) + "/in.wav", ours = std::string(dir) + "/ours.wav",
              theirs = std::string(dir) + "/sox.wav";
  GS_Result *r = GS_CreateResult();
  {
    std::vector<int16_t> s = material((long)(seconds * inRate), inRate);
    if (SpeechWrite(r, in.c_str(), -1, -1, s.data(), (int)s.size(), inRate, WAVEFILE_RIFF, nullptr) < 0) {
      fprintf(stderr, "%s\n", r->text);
      return 1;
    }
  }

  // Three rounds, each ours then sox's; the best round of each counts, since
  // a shared machine's noise only ever adds time.
  Times best;
  double bestSox = 1e30;
  int16_t *d = nullptr;
  int n = 0, m = 0;
  for (int round = 0; round < 3; round++) {
    Times t;
    double t0 = now();
    int16_t *s = nullptr;
    float rate = 0;
    n = SpeechRead(r, in.c_str(), 0, -1, &s, &rate, nullptr);
    t.read = now() - t0;
    if (d) DB_Free(d, __FILE__, __LINE__);
    t0 = now();
    bool ok = n >= 0 && Wave_resample(r, s, n, (int)rate, outRate, &d, &m) == 0;
    t.resample = now() - t0;
    t0 = now();
    ok = ok && SpeechWrite(r, ours.c_str(), -1, -1, d, m, outRate, WAVEFILE_RIFF, nullptr) >= 0;
    t.write = now() - t0;
    if (!ok) {
      fprintf(stderr, "wavefile: %s\n", r->text);
      return 1;
    }
    DB_Free(s, __FILE__, __LINE__);
    if (round == 0 || t.total() < best.total()) best = t;

    std::string cmd = "sox " + in + " -r " + std::to_string(outRate) + " " + theirs;
    t0 = now();
    int status = system(cmd.c_str());
    bestSox = std::min(bestSox, now() - t0);
    if (status != 0) {
      fprintf(stderr, "sox failed (is it installed?)\n");
      return 1;
    }
  }
  double tOurs = best.total(), tSox = bestSox;

  // What first touching that much fresh memory costs here by itself: the
  // library hands out whole waves, so it pays this where sox's small
  // streaming buffers do not.
  double t0 = now();
  size_t bytes = (size_t)(n + m) * sizeof(int16_t);
  char *fresh = (char *)Wavefile_bigBuffer(bytes, __FILE__, __LINE__);
  for (size_t i = 0; i < bytes; i += 4096) fresh[i] = 1;
  double tFresh = now() - t0;
  DB_Free(fresh, __FILE__, __LINE__);

  // How closely the two results agree, as a signal-to-difference ratio.
  int16_t *x = nullptr;
  float xr;
  int k = SpeechRead(r, theirs.c_str(), 0, -1, &x, &xr, nullptr);
  double p = 0, e = 0;
  for (int i = 100; i < std::min(k, m) - 100; i++) {
    p += (double)x[i] * x[i];
    e += ((double)x[i] - d[i]) * ((double)x[i] - d[i]);
  }
  printf("audio: %.0f s at %d Hz -> %d Hz (%d -> %d samples)\n", seconds, inRate, outRate, n, m);
  printf("wavefile read+resample+write: %.3f s (read %.3f, resample %.3f, write %.3f; best of 3)\n", tOurs,
         best.read, best.resample, best.write);
  printf("sox      read+resample+write: %.3f s (best of 3)\n", tSox);
  printf("ratio sox/wavefile: %.2f (above 1: wavefile is faster)\n", tSox / tOurs);
  printf("for comparison, first touch of the %.0f MB that the waves occupy: %.3f s\n", bytes / 1e6, tFresh);
  printf("agreement with sox's output: %.1f dB (lengths %d and %d)\n", 10 * std::log10(p / std::max(e, 1e-9)), m, k);
  DB_Free(d, __FILE__, __LINE__);
  DB_Free(x, __FILE__, __LINE__);
  GS_DeleteResult(r);
  std::string rm = std::string("rm -rf ") + dir;
  return system(rm.c_str()) == 0 ? 0 : 1;
}
