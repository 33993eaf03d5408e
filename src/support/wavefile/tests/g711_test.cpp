// mu-law coding against sox's coder over every 16-bit value and every code.
#include <gtest/gtest.h>

#include <vector>

#include "speech_fixture.h"
#include "wavefile.h"

TEST(G711, every_linear_value_codes_as_sox_codes_it) {
  if (!fixture::haveTool("sox")) GTEST_SKIP() << "sox is not installed";
  std::string dir = fixture::tempDir();
  std::vector<int16_t> all(65536);
  for (int i = 0; i < 65536; i++) all[i] = (int16_t)(i - 32768);
  fixture::writeBytes(dir + "/all.raw", all.data(), all.size() * 2);
  ASSERT_EQ(0, fixture::run("sox -D -t raw -r 8000 -e signed -b 16 -c 1 " + dir + "/all.raw -t ul " + dir + "/all.ul"));
  auto codes = fixture::readBytes(dir + "/all.ul");
  ASSERT_EQ(65536u, codes.size());
  for (int i = 0; i < 65536; i++) ASSERT_EQ(codes[i], linear2ulaw(all[i])) << "sample " << all[i];

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
      {-1, 0xFF, "a tiny negative value rounds to zero"},
      {-3, 0x7E, "-3 rounds to -1, the first negative step"},
      {32767, 0x80, "full scale clips to the top code"},
      {-32768, 0x00, "negative full scale clips to code 0"},
      {40000, 0x80, "values beyond 16 bits clip"},
  };
  for (const Case &c : cases) EXPECT_EQ(c.code, linear2ulaw(c.in)) << c.why;
  for (int c = 0; c < 256; c++) EXPECT_EQ(ulaw2linear((unsigned char)c), ulaw2linear(linear2ulaw(ulaw2linear((unsigned char)c))));
  for (int v = -32768; v < 32767; v++) ASSERT_LE(ulaw2linear(linear2ulaw(v)), ulaw2linear(linear2ulaw(v + 1)) + 0) << v;
}
