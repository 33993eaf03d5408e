// Randomised damage to valid speech files: truncation, garbage and flipped
// header fields. The reader must fail cleanly or succeed, never crash or read
// outside its buffers (run under AddressSanitizer to see the latter).
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "speech_fixture.h"
#include "wavefile.h"
#include "yastro.h"

TEST(SpeechReadFuzz, damaged_files_never_crash_the_reader) {
  std::string dir = fixture::tempDir();
  GS_Result *r = GS_CreateResult();
  std::vector<int16_t> s(600);
  for (int i = 0; i < 600; i++) s[i] = (int16_t)(i * 97);
  struct Seed { const char *name; int type; const char *comment; } seeds[] = {
      {"s.wav", WAVEFILE_RIFF, "a comment"}, {"s2.wav", WAVEFILE_MULAW, nullptr},
      {"s.au", WAVEFILE_LINEAR, "note"},     {"s2.au", WAVEFILE_MULAW, nullptr},
  };
  std::mt19937 g(12345);
  int reads = 0, ok = 0;
  for (const Seed &sd : seeds) {
    std::string path = dir + "/" + sd.name;
    ASSERT_EQ(600, SpeechWrite(r, path.c_str(), -1, -1, s.data(), 600, 8000, sd.type, sd.comment));
    std::vector<unsigned char> good = fixture::readBytes(path);
    for (int iter = 0; iter < 1500; iter++) {
      std::vector<unsigned char> b = good;
      switch (iter % 5) {
        case 0: b.resize(g() % (good.size() + 1)); break;  // truncated anywhere
        case 1:  // a few random bytes in the first 80 (the header)
          for (int k = 0, m = 1 + g() % 4; k < m; k++) b[g() % std::min<size_t>(80, b.size())] = (unsigned char)g();
          break;
        case 2: {  // a header field set to an extreme
          size_t at = (g() % 20) * 4;
          uint32_t v = (uint32_t[]){0, 1, 0x7FFFFFFF, 0xFFFFFFFF, 0x80000000, 3}[g() % 6];
          if (at + 4 <= b.size()) memcpy(&b[at], &v, 4);
          break;
        }
        case 3:  // garbage after a valid magic
          for (size_t k = 4; k < b.size(); k++) b[k] = (unsigned char)g();
          b.resize(g() % (b.size() + 1));
          break;
        case 4:  // both: damaged and cut
          b[g() % b.size()] ^= (unsigned char)(1u << (g() % 8));
          b.resize(b.size() - g() % std::min<size_t>(b.size(), 64));
          break;
      }
      std::string bad = dir + "/bad" + std::string(sd.name).substr(std::string(sd.name).find('.'));
      fixture::writeBytes(bad, b.data(), b.size());
      GS_ResetResult(r);
      int16_t *out = nullptr;
      float rate = 0;
      char *header = nullptr;
      double begin = (g() % 4) * 10.0, end = (g() % 3) ? -1 : (g() % 200);
      int n = SpeechRead(r, bad.c_str(), begin, end, &out, &rate, &header);
      reads++;
      if (n >= 0) {
        ok++;
        EXPECT_GT(rate, 0);
        long sum = 0;
        for (int i = 0; i < n; i++) sum += out[i];  // touch every sample handed out
        (void)sum;
        DB_Free(out, __FILE__, __LINE__);
        DB_Free(header, __FILE__, __LINE__);
      } else {
        EXPECT_EQ(nullptr, out);
        EXPECT_NE('\0', r->text[0]) << "a failure without a message";
      }
    }
  }
  GS_DeleteResult(r);
  fixture::run("rm -rf " + dir);
  EXPECT_EQ(6000, reads);
  EXPECT_GT(ok, 0);
}
