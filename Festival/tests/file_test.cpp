// Token lists, the embedded wave and the track block of unit-database files.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "EST_Track.h"
#include "EST_Wave.h"
#include "vek_file.h"
#include "vek_lisp.h"

namespace {

// A temporary file holding text, positioned at its start.
FILE *file_of(const std::string &bytes) {
  FILE *fp = tmpfile();
  fwrite(bytes.data(), 1, bytes.size(), fp);
  rewind(fp);
  return fp;
}

std::string contents(FILE *fp) {
  long here = ftell(fp);
  rewind(fp);
  std::string s;
  int c;
  while ((c = fgetc(fp)) != EOF) s += (char)c;
  fseek(fp, here, SEEK_SET);
  return s;
}

std::string error_of(const std::function<void()> &f) {
  try {
    f();
  } catch (const VekError &e) {
    return e.what();
  }
  return "";
}

}  // namespace

TEST(TokenLists, written_forms_and_the_byte_after_the_marker) {
  FILE *fp = tmpfile();
  VekOptions kv;
  kv.set("lpc_order", "16");
  kv.set("empty", "");  // never stored
  kv.set("phoneset", "radio");
  kv.set("lpc_order", "18");  // replaced in place
  long n1 = Vekfwrite_StrVector({}, fp);
  long n2 = Vekfwrite_StrVector({"a-b", "b-c"}, fp);
  long n3 = Vekfwrite_KVL(kv, fp);
  fputc('\x7f', fp);  // a byte item right after the list
  EXPECT_EQ(contents(fp), "StrV 0 |% StrV 2 a-b b-c |% KVL 2 lpc_order 18 phoneset radio |% \x7f");
  rewind(fp);
  std::vector<std::string> v{"stale"};
  EXPECT_EQ(Vekfread_StrVector(v, fp), n1);
  EXPECT_TRUE(v.empty());
  EXPECT_EQ(Vekfread_StrVector(v, fp), n2);
  EXPECT_EQ(v, (std::vector<std::string>{"a-b", "b-c"}));
  VekOptions back;
  EXPECT_EQ(Vekfread_KVL(back, fp), n3);
  EXPECT_EQ(back.entries(), kv.entries());
  EXPECT_EQ(fgetc(fp), 0x7f);
  fclose(fp);
}

TEST(TokenLists, malformed_lists_are_errors) {
  struct Case {
    const char *text, *error;
  } cases[] = {
      {"StrV 3 a b c d |% ", "too many tokens found"},
      {"StrV 3 a b |% ", "too few tokens found"},
      {"StrV 3 a b", "too few tokens found"},
      {"KVL 1 a 1 b 2 |% ", "too many tokens found"},
      {"KVL 2 a 1 |% ", "too few tokens found"},
      {"KVL 1 a |% ", "too few tokens found"},
      {"Feat 1 a |% ", "too few tokens found"},
      {"StrX 1 a |% ", "failed reading"},
      {"StrV -1 |% ", "failed reading"},
      {"", "failed reading"},
  };
  for (auto &c : cases) {
    FILE *fp = file_of(c.text);
    std::string e;
    if (!strncmp(c.text, "KVL", 3)) {
      VekOptions o;
      e = error_of([&] { Vekfread_KVL(o, fp); });
      EXPECT_FALSE(o.present("b")) << c.text;  // nothing past the count is stored
    } else if (!strncmp(c.text, "Feat", 4)) {
      EST_Features f;
      e = error_of([&] { Vekfread_Features(f, fp); });
    } else {
      std::vector<std::string> v;
      e = error_of([&] { Vekfread_StrVector(v, fp); });
    }
    EXPECT_NE(e.find(c.error), std::string::npos) << c.text << " gave: " << e;
    fclose(fp);
  }
}

TEST(GuardedReads, short_reads_and_counts_beyond_the_file_fail) {
  FILE *fp = file_of(std::string("\x01\x02\x03", 3));
  EXPECT_NE(error_of([&] { Vek_fread_int32(fp, false, 1); }).find("file read failed"), std::string::npos);
  rewind(fp);
  // Three bytes left: two int32 do not fit, so nothing is allocated for them.
  std::vector<int32_t> v;
  EXPECT_NE(error_of([&] { Vekfread_IntVector(v, 2, fp, false); }).find("do not fit"), std::string::npos);
  EXPECT_NE(error_of([&] { Vekfread_IntVector(v, 1L << 40, fp, false); }).find("do not fit"), std::string::npos);
  EXPECT_NE(error_of([&] { Vekfread_IntVector(v, -1, fp, false); }).find("negative"), std::string::npos);
  EXPECT_TRUE(v.empty());
  fclose(fp);
}

TEST(EmbeddedWave, au_images_round_trip_linear_and_mu_law) {
  EST_Wave w;
  w.resize(5, 1);
  w.set_sample_rate(8000);
  short s[5] = {0, 1000, -1000, 32767, -32768};
  for (int i = 0; i < 5; i++) w.a(i) = s[i];
  for (bool comp : {false, true}) {
    FILE *fp = tmpfile();
    fputc('x', fp);  // not at the file start
    long n = Vekfwrite_Wave(w, fp, comp);
    EXPECT_EQ(n, 24 + 5 * (comp ? 1 : 2));
    std::string img = contents(fp).substr(1);
    // Header: ".snd", offset 24, size, encoding 1 (mu-law) or 3 (16-bit), rate, channels.
    const unsigned char hdr[] = {'.', 's', 'n', 'd', 0, 0, 0, 24, 0, 0, 0, (unsigned char)(comp ? 5 : 10),
                                 0, 0, 0, (unsigned char)(comp ? 1 : 3), 0, 0, 0x1f, 0x40, 0, 0, 0, 1};
    EXPECT_EQ(memcmp(img.data(), hdr, 24), 0) << comp;
    fseek(fp, 1, SEEK_SET);
    EST_Wave r;
    EXPECT_EQ(Vekfread_Wave(r, fp), n);
    ASSERT_EQ(r.num_samples(), 5);
    EXPECT_EQ(r.sample_rate(), 8000);
    for (int i = 0; i < 5; i++) {
      if (comp)
        EXPECT_NEAR(r.a(i), s[i], std::max(8.0, std::abs(s[i]) / 16.0)) << i;
      else
        EXPECT_EQ(r.a(i), s[i]) << i;
    }
    fclose(fp);
  }
  FILE *fp = file_of(std::string(".snd\0\0\0\x18\x7f\0\0\0\0\0\0\x03\0\0\x3e\x80\0\0\0\x01", 24));
  EST_Wave r;
  EXPECT_NE(error_of([&] { Vekfread_Wave(r, fp); }).find("do not fit"), std::string::npos);
  fclose(fp);
}

namespace {

EST_Track sample_track() {
  EST_Track t;
  t.resize(4, 3);
  t.set_channel_name("LSF_0", 0);
  t.set_channel_name("", 1);
  t.set_channel_name("E", 2);
  float v[4][3] = {{0.1f, 5, -3}, {0.7f, 5, 2}, {1.3f, 5, 100}, {2.9f, 5, 7.5f}};
  for (int i = 0; i < 4; i++) {
    t.t(i) = 0.01f * i;
    for (int c = 0; c < 3; c++) t.a(i, c) = v[i][c];
  }
  t.set_break(2);
  t.f_set("origin", "kal");
  return t;
}

}  // namespace

TEST(TrackBlock, plain_and_compressed_round_trips) {
  EST_Track t = sample_track();
  for (bool comp : {false, true}) {
    FILE *fp = tmpfile();
    long n = Vekfwrite_Track(t, fp, comp);
    rewind(fp);
    EST_Track r;
    EXPECT_EQ(Vekfread_Track(r, fp), n);
    ASSERT_EQ(r.num_frames(), 4);
    ASSERT_EQ(r.num_channels(), 3);
    EXPECT_STREQ(r.channel_name(0), "LSF_0");
    EXPECT_STREQ(r.channel_name(1), "");
    EXPECT_STREQ(r.channel_name(2), "E");
    EXPECT_EQ((const char *)r.f_String("origin"), std::string("kal"));
    for (int i = 0; i < 4; i++) {
      EXPECT_EQ(r.t(i), t.t(i));
      EXPECT_EQ(r.val(i), i != 2) << i;
      for (int c = 0; c < 3; c++) {
        float step = comp ? (track_channel_max(t, c) - track_channel_min(t, c)) / 65534.0f : 0;
        // Truncation: the error lies toward the minimum, within one step.
        EXPECT_LE(r.a(i, c), t.a(i, c) + 1e-5f) << i << " " << c;
        EXPECT_GE(r.a(i, c), t.a(i, c) - step - 1e-4f) << i << " " << c;
      }
    }
    // The constant channel comes back as its constant.
    EXPECT_FLOAT_EQ(r.a(3, 1), 5.0f);
    fclose(fp);
  }
}

TEST(TrackBlock, a_block_written_big_endian_reads_the_same) {
  // Built by hand: one frame at 0.5 s, one channel "x" holding -2.
  std::string b = "Vek_Track KVL 4 Nch 1 Nfr 1 Compressed false ch_0 x |% Feat 0 |% ";
  auto be = [&](uint32_t v) {
    for (int s = 24; s >= 0; s -= 8) b += (char)(v >> s);
  };
  auto bef = [&](float f) {
    uint32_t v;
    memcpy(&v, &f, 4);
    be(v);
  };
  be(VEK_TRACK_MAGIC);
  b += "Vek_Track_End ";
  bef(0.5f);
  b += '\x01';
  bef(-2.0f);
  FILE *fp = file_of(b);
  EST_Track r;
  Vekfread_Track(r, fp);
  ASSERT_EQ(r.num_frames(), 1);
  EXPECT_EQ(r.t(0), 0.5f);
  EXPECT_EQ(r.a(0, 0), -2.0f);
  EXPECT_STREQ(r.channel_name(0), "x");
  fclose(fp);
}

TEST(TrackBlock, damaged_blocks_are_errors) {
  EST_Track t = sample_track();
  FILE *fp = tmpfile();
  Vekfwrite_Track(t, fp, true);
  std::string good = contents(fp);
  fclose(fp);
  std::string big = good;
  big.replace(big.find("Nfr 4"), 5, "Nfr 9");  // more frames than the file holds
  std::string magic = good;
  magic[magic.find("Vek_Track_End") - 4] ^= 0x55;
  struct Case {
    std::string bytes;
    const char *error;
  } cases[] = {
      {good.substr(0, good.size() - 3), "file read failed"},
      {big, "do not fit"},
      {magic, "not a valid Vek_Track file"},
      {"Vek_Trak KVL 0 |% ", "Couldn't read Vek_Track format"},
  };
  for (auto &c : cases) {
    FILE *f = file_of(c.bytes);
    EST_Track r;
    EXPECT_NE(error_of([&] { Vekfread_Track(r, f); }).find(c.error), std::string::npos) << c.error;
    fclose(f);
  }
  // A value that cannot be quantised is refused before anything is written.
  t.a(0, 0) = NAN;
  fp = tmpfile();
  EXPECT_NE(error_of([&] { Vekfwrite_Track(t, fp, true); }).find("not a finite value"), std::string::npos);
  EXPECT_EQ(ftell(fp), 0);
  fclose(fp);
}
