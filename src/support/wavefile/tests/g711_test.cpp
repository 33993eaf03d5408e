// mu-law coding against the standard's table over every 16-bit value, and
// decoding against sox over every code.
#include <gtest/gtest.h>

#include <vector>

#include "speech_fixture.h"
#include "wavefile.h"

namespace {

// The standard's mu-law table: in 14-bit units the decision values start at
// 1 and rise by 2, 4, ... 256 in segments of 16 codes; a 16-bit sample is
// four 14-bit units. Answers the decoded value that the table gives.
int tableValue(int v) {
  static std::vector<long> thresholds;
  if (thresholds.empty()) {
    long d = 1;
    for (int seg = 0; seg < 8; seg++)
      for (int step = 0; step < 16; step++) {
        if (seg == 0 && step == 0) continue;
        thresholds.push_back(4 * d);
        d += 2L << seg;
      }
  }
  long mag = v < 0 ? -(long)v : v;
  int k = 0;
  while (k < 127 && mag >= thresholds[k]) k++;
  // Code 0xFF - k is the k-th positive level; 0x7F - k its negative twin.
  return v < 0 ? ulaw2linear((unsigned char)(0x7F - k)) : ulaw2linear((unsigned char)(0xFF - k));
}

}  // namespace

TEST(G711, every_linear_value_codes_into_the_standards_decision_interval) {
  for (int v = -32768; v <= 32767; v++) {
    ASSERT_EQ(tableValue(v), ulaw2linear(linear2ulaw(v))) << "sample " << v;
    if (v > -32768) {
      ASSERT_EQ(-ulaw2linear(linear2ulaw(v)), ulaw2linear(linear2ulaw(-v))) << "sample " << v;
    }
  }
}

TEST(G711, every_code_decodes_as_sox_decodes_it) {
  if (!fixture::haveTool("sox")) GTEST_SKIP() << "sox is not installed";
  std::string dir = fixture::tempDir();
  std::vector<unsigned char> every(256);
  for (int c = 0; c < 256; c++) every[c] = (unsigned char)c;
  fixture::writeBytes(dir + "/codes.ul", every.data(), 256);
  ASSERT_EQ(0, fixture::run("sox -D -t ul -r 8000 " + dir + "/codes.ul -t raw -e signed -b 16 " + dir + "/codes.raw"));
  auto lin = fixture::readRaw16(dir + "/codes.raw");
  ASSERT_EQ(256u, lin.size());
  for (int c = 0; c < 256; c++) ASSERT_EQ(lin[c], ulaw2linear((unsigned char)c)) << "code " << c;
  fixture::run("rm -rf " + dir);
}

TEST(G711, coding_is_monotonic_and_stable_on_decoded_values) {
  struct Case { int in; int code; const char *why; } cases[] = {
      {0, 0xFF, "zero is the positive zero code"},
      {3, 0xFF, "3 is below the first decision value"},
      {4, 0xFE, "4 is the first decision value"},
      {-1, 0x7F, "a tiny negative value is the negative zero code"},
      {-3, 0x7F, "-3 is below the first decision value too"},
      {-4, 0x7E, "-4 starts the first negative step, as 4 the positive one"},
      {32767, 0x80, "full scale clips to the top code"},
      {-32768, 0x00, "negative full scale clips to code 0"},
      {40000, 0x80, "values beyond 16 bits clip"},
  };
  for (const Case &c : cases) EXPECT_EQ(c.code, linear2ulaw(c.in)) << c.why;
  for (int c = 0; c < 256; c++) EXPECT_EQ(ulaw2linear((unsigned char)c), ulaw2linear(linear2ulaw(ulaw2linear((unsigned char)c))));
  for (int v = -32768; v < 32767; v++) ASSERT_LE(ulaw2linear(linear2ulaw(v)), ulaw2linear(linear2ulaw(v + 1)) + 0) << v;
}
