// Token lists, the embedded wave and the track block of unit-database files.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "EST_FMatrix.h"
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

namespace {

// The file a big-endian writer makes: every item of width bytes reversed.
std::string reversed_items(const std::string &bytes, size_t width) {
  std::string r = bytes;
  for (size_t i = 0; i + width <= r.size(); i += width)
    for (size_t k = 0; k < width / 2; k++) std::swap(r[i + k], r[i + width - 1 - k]);
  return r;
}

template <class T>
std::string bytes_of(const T *p, size_t n) {
  return std::string(reinterpret_cast<const char *>(p), n * sizeof(T));
}

}  // namespace

TEST(GuardedReads, short_long_and_double_in_either_byte_order) {
  const int16_t s = -12345;
  const int32_t l = 0x01020304;
  const double d = -1.5e-300;
  struct Case {
    const char *name;
    std::string bytes;
    size_t width;
    std::function<bool(FILE *, bool)> read_matches;
  } cases[] = {
      {"short", bytes_of(&s, 1), 2, [&](FILE *fp, bool sw) { return Vek_fread_short(fp, sw, 1) == s; }},
      {"long", bytes_of(&l, 1), 4, [&](FILE *fp, bool sw) { return Vek_fread_long(fp, sw, 1) == l; }},
      {"double", bytes_of(&d, 1), 8, [&](FILE *fp, bool sw) { return Vek_fread_double(fp, sw, 1) == d; }},
  };
  for (auto &c : cases) {
    for (bool swap : {false, true}) {
      FILE *fp = file_of(swap ? reversed_items(c.bytes, c.width) : c.bytes);
      EXPECT_TRUE(c.read_matches(fp, swap)) << c.name << " swap " << swap;
      EXPECT_EQ(fgetc(fp), EOF) << c.name;
      fclose(fp);
    }
    FILE *fp = file_of(c.bytes.substr(0, c.width - 1));
    EXPECT_NE(error_of([&] { c.read_matches(fp, false); }).find("file read failed"), std::string::npos) << c.name;
    fclose(fp);
  }
  int32_t a[2] = {1, -2};
  Vek_swap_long_array(a, 2);
  EXPECT_EQ(a[0], 0x01000000);
  EXPECT_EQ(a[1], (int32_t)0xFEFFFFFF);
  EXPECT_EQ(Vek_swap_double(Vek_swap_double(d)), d);
}

TEST(FloatVectors, vectors_parts_and_matrices_round_trip_in_either_byte_order) {
  const std::vector<float> v{1.5f, -0.0f, 3e38f, 1e-40f, -7.25f, 0.1f};
  EST_FMatrix m(2, 3);
  for (int i = 0; i < 2; i++)
    for (int j = 0; j < 3; j++) m.a_no_check(i, j) = v[i * 3 + j];
  FILE *w = tmpfile();
  Vekfwrite_FloatVector(v, w);
  Vekfwrite_FloatMatrix(m, w);
  Vekfwrite_FloatMatrix(m, w);
  const std::string native = contents(w);
  fclose(w);
  // The matrix is written row by row, so each of its images holds v.
  const std::string vb = bytes_of(v.data(), v.size());
  ASSERT_EQ(native, vb + vb + vb);

  for (bool swap : {false, true}) {
    FILE *fp = file_of(swap ? reversed_items(native, 4) : native);
    std::vector<float> r{9, 9};
    Vekfread_FloatVector(r, 6, fp, swap);
    EXPECT_EQ(r, v) << "swap " << swap;
    // Three values into the middle of a longer vector; its ends stay.
    std::vector<float> part(7, 9.0f);
    Vekfread_FloatVector_part(part, fp, swap, 2, 3);
    EXPECT_EQ(part, (std::vector<float>{9, 9, 1.5f, -0.0f, 3e38f, 9, 9})) << "swap " << swap;
    // The next three values into columns 1 .. 3 of one row of a 2 x 2
    // matrix: it grows to 2 x 4 and keeps what it held.
    EST_FMatrix g(2, 2);
    g.fill(5.0f);
    Vekfread_FloatMatrix(g, fp, swap, 1, 1, 3);
    ASSERT_EQ(g.num_rows(), 2);
    ASSERT_EQ(g.num_columns(), 4);
    EXPECT_EQ(g.a_no_check(0, 0), 5.0f);
    EXPECT_EQ(g.a_no_check(0, 1), 1e-40f);
    EXPECT_EQ(g.a_no_check(0, 3), 0.1f);
    EXPECT_EQ(g.a_no_check(1, 0), 5.0f);
    EXPECT_EQ(g.a_no_check(1, 1), 5.0f);
    // The second matrix image, whole, into an empty matrix.
    EST_FMatrix r2;
    Vekfread_FloatMatrix(r2, fp, swap, 2, 0, 3);
    ASSERT_EQ(r2.num_rows(), 2);
    ASSERT_EQ(r2.num_columns(), 3);
    for (int i = 0; i < 2; i++)
      for (int j = 0; j < 3; j++) EXPECT_EQ(r2.a_no_check(i, j), m.a_no_check(i, j)) << i << "," << j;
    EXPECT_EQ(fgetc(fp), EOF);
    fclose(fp);
  }
}

TEST(FloatVectors, damaged_counts_and_short_files_fail_before_anything_is_sized) {
  const std::string eleven(11, '\0');  // room for two floats and a bit
  struct Case {
    const char *name;
    std::function<void(std::vector<float> &, EST_FMatrix &, FILE *)> read;
    const char *error;
  } cases[] = {
      {"vector beyond the file", [](auto &v, auto &, FILE *fp) { Vekfread_FloatVector(v, 3, fp, false); }, "do not fit"},
      {"vector of 2^40", [](auto &v, auto &, FILE *fp) { Vekfread_FloatVector(v, 1L << 40, fp, true); }, "do not fit"},
      {"negative vector", [](auto &v, auto &, FILE *fp) { Vekfread_FloatVector(v, -1, fp, false); }, "negative"},
      {"part past the vector end", [](auto &v, auto &, FILE *fp) { Vekfread_FloatVector_part(v, fp, false, 3, 2); },
       "outside"},
      {"part before the vector", [](auto &v, auto &, FILE *fp) { Vekfread_FloatVector_part(v, fp, false, -1, 1); },
       "outside"},
      {"part start overflowing", [](auto &v, auto &, FILE *fp) { Vekfread_FloatVector_part(v, fp, false, LONG_MAX, 1); },
       "outside"},
      {"part beyond the file", [](auto &v, auto &, FILE *fp) { Vekfread_FloatVector_part(v, fp, false, 0, 3); },
       "do not fit"},
      {"matrix rows beyond the file", [](auto &, auto &m, FILE *fp) { Vekfread_FloatMatrix(m, fp, false, 2, 0, 2); },
       "do not fit"},
      {"matrix of 2^40 rows", [](auto &, auto &m, FILE *fp) { Vekfread_FloatMatrix(m, fp, false, 1L << 40, 0, 1); },
       "cannot read"},
      {"matrix row of 2^62 floats", [](auto &, auto &m, FILE *fp) { Vekfread_FloatMatrix(m, fp, false, 1, 0, 1L << 62); },
       "cannot read"},
      {"negative matrix row", [](auto &, auto &m, FILE *fp) { Vekfread_FloatMatrix(m, fp, false, 1, 0, -1); },
       "cannot read"},
      {"negative first column", [](auto &, auto &m, FILE *fp) { Vekfread_FloatMatrix(m, fp, false, 1, -1, 1); },
       "cannot read"},
  };
  for (auto &c : cases) {
    FILE *fp = file_of(eleven);
    std::vector<float> v(4, 9.0f);
    EST_FMatrix m(1, 1);
    m.fill(9.0f);
    EXPECT_NE(error_of([&] { c.read(v, m, fp); }).find(c.error), std::string::npos) << c.name;
    // Nothing was resized or overwritten.
    EXPECT_EQ(v, std::vector<float>(4, 9.0f)) << c.name;
    EXPECT_EQ(m.num_rows() * m.num_columns(), 1) << c.name;
    EXPECT_EQ(m.a_no_check(0, 0), 9.0f) << c.name;
    fclose(fp);
  }
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
