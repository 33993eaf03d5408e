// Speech files against sox: what we write sox reads with the same samples,
// what sox writes we read with the samples sox itself decodes.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "speech_fixture.h"
#include "wavefile.h"
#include "yastro.h"

namespace {

class SpeechFile : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!fixture::haveTool("sox")) GTEST_SKIP() << "sox is not installed";
    dir = fixture::tempDir();
    r = GS_CreateResult();
  }
  void TearDown() override {
    if (r) GS_DeleteResult(r);
    if (!dir.empty()) fixture::run("rm -rf " + dir);
  }
  std::string text() const { return r->text; }
  // A test signal that uses the whole 16-bit range, with the extremes.
  static std::vector<int16_t> signal(int n) {
    std::vector<int16_t> s(n);
    for (int i = 0; i < n; i++) s[i] = (int16_t)std::lround(30000 * std::sin(i * 0.013) + 2700 * std::sin(i * 1.7));
    s[1] = 32767;
    s[2] = -32768;
    s[3] = 0;
    s[4] = -1;
    return s;
  }
  // sox's reading of a file, as 16-bit samples.
  std::vector<int16_t> soxRead(const std::string &path, const std::string &inputOptions = "") {
    std::string raw = dir + "/sox.raw";
    EXPECT_EQ(0, fixture::run("sox -D " + inputOptions + " " + path + " -t raw -e signed -b 16 " + raw)) << path;
    return fixture::readRaw16(raw);
  }
  std::string dir;
  GS_Result *r = nullptr;
};

TEST_F(SpeechFile, sox_reads_every_type_we_write_with_the_same_samples) {
  struct Case {
    int type;
    const char *name;
    const char *soxType;  // for headerless files
    const char *soxRate;  // the rate sox must report
    bool mulaw;
  } cases[] = {
      {WAVEFILE_RIFF, "a.wav", "", "16000", false},
      {WAVEFILE_LINEAR, "b.au", "", "16000", false},
      {WAVEFILE_LINEAR, "c.raw", "-r 16000 -e signed -b 16 -c 1 -t raw", "", false},
      {WAVEFILE_SHORTPACK, "d.pack", "-r 16000 -e signed -b 16 -c 1 -t raw", "", false},
      {WAVEFILE_MULAW, "e.au", "", "16000", true},
      {WAVEFILE_MULAW, "f.ul", "-r 16000 -t ul", "", true},
      {WAVEFILE_MULAW, "g.wav", "", "16000", true},
  };
  std::vector<int16_t> s = signal(4001);  // odd: exercises the RIFF pad byte
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    std::string path = dir + "/" + c.name;
    ASSERT_EQ(4001, SpeechWrite(r, path.c_str(), -1, -1, s.data(), (int)s.size(), 16000, c.type, "made by a test"))
        << text();
    std::vector<int16_t> got = soxRead(path, c.soxType);
    ASSERT_EQ(s.size(), got.size());
    for (size_t i = 0; i < s.size(); i++) {
      int want = c.mulaw ? ulaw2linear(linear2ulaw(s[i])) : s[i];
      ASSERT_EQ(want, got[i]) << "sample " << i;
    }
    if (*c.soxRate) {
      std::string out = dir + "/rate.txt";
      fixture::run("soxi -r " + path + " > " + out);
      auto b = fixture::readBytes(out);
      EXPECT_EQ(std::string(c.soxRate) + "\n", std::string(b.begin(), b.end()));
    }
    // And we read back what we wrote (headerless files come back at 8000 Hz).
    int16_t *back = nullptr;
    float rate = 0;
    int n = SpeechRead(r, path.c_str(), 0, -1, &back, &rate, nullptr);
    if (std::string(c.name) == "d.pack") {
      EXPECT_EQ(-1, n);  // no extension says how to read it
      GS_ResetResult(r);
      continue;
    }
    ASSERT_EQ(4001, n) << text();
    EXPECT_EQ(*c.soxRate ? 16000.f : 8000.f, rate);
    for (int i = 0; i < n; i++) ASSERT_EQ(got[i], back[i]) << "sample " << i;
    DB_Free(back, __FILE__, __LINE__);
  }
}

TEST_F(SpeechFile, reads_what_sox_writes_as_sox_decodes_it) {
  struct Case {
    const char *name;
    const char *opts;
    float rate;
    int tolerance;
  } cases[] = {
      {"pcm16.wav", "-r 16000 -e signed -b 16", 16000, 0},
      {"pcm8.wav", "-r 8000 -e unsigned -b 8", 8000, 0},
      {"pcm24.wav", "-r 22050 -e signed -b 24", 22050, 0},
      {"pcm32.wav", "-r 8000 -e signed -b 32", 8000, 0},
      {"float.wav", "-r 8000 -e float -b 32", 8000, 1},
      {"ulaw.wav", "-r 8000 -e u-law", 8000, 0},
      {"alaw.wav", "-r 8000 -e a-law", 8000, 0},
      {"pcm16.au", "-r 11025 -e signed -b 16", 11025, 0},
      {"ulaw.au", "-r 8000 -e u-law", 8000, 0},
      {"alaw.au", "-r 8000 -e a-law", 8000, 0},
      {"pcm8.au", "-r 8000 -e signed -b 8", 8000, 0},
      {"ext.wav", "-r 48000 -e signed -b 16 -c 1 -t wavpcm", 48000, 0},  // plain header
      {"plain.ul", "-r 8000 -t ul", 8000, 0},
      {"plain.raw", "-r 8000 -e signed -b 16 -t raw", 8000, 0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    std::string path = dir + "/" + c.name;
    ASSERT_EQ(0, fixture::run(std::string("sox -D -n ") + c.opts + " -c 1 " + path +
                              " synth 0.3 sine 300 sine 2000 remix 1,2 gain -1"));
    std::string type = std::string(c.name).find(".ul") != std::string::npos ? "-r 8000 -t ul"
                       : std::string(c.name).find(".raw") != std::string::npos ? "-r 8000 -e signed -b 16 -c 1 -t raw"
                                                                                : "";
    std::vector<int16_t> want = soxRead(path, type);
    int16_t *s = nullptr;
    float rate = 0;
    char *header = nullptr;
    int n = SpeechRead(r, path.c_str(), 0, -1, &s, &rate, &header);
    ASSERT_EQ((int)want.size(), n) << text();
    EXPECT_EQ(c.rate, rate);
    ASSERT_NE(nullptr, header);
    for (int i = 0; i < n; i++) ASSERT_NEAR(want[i], s[i], c.tolerance) << "sample " << i;
    DB_Free(s, __FILE__, __LINE__);
    DB_Free(header, __FILE__, __LINE__);
  }
}

TEST_F(SpeechFile, stereo_files_are_read_as_the_mean_of_the_channels) {
  std::string path = dir + "/st.wav";
  ASSERT_EQ(0, fixture::run("sox -D -n -r 8000 -b 16 -c 2 " + path + " synth 0.1 sine 300 sine 500"));
  std::vector<int16_t> both = soxRead(path);
  int16_t *s = nullptr;
  float rate;
  int n = SpeechRead(r, path.c_str(), 0, -1, &s, &rate, nullptr);
  ASSERT_EQ((int)both.size() / 2, n) << text();
  for (int i = 0; i < n; i++) ASSERT_NEAR((both[2 * i] + both[2 * i + 1]) / 2.0, s[i], 0.51);
  DB_Free(s, __FILE__, __LINE__);
}

TEST_F(SpeechFile, comment_and_format_appear_in_the_header_text) {
  std::vector<int16_t> s = signal(100);
  for (const char *name : {"c.wav", "c.au"}) {
    std::string path = dir + "/" + name;
    int type = std::string(name) == "c.wav" ? WAVEFILE_RIFF : WAVEFILE_LINEAR;
    ASSERT_EQ(100, SpeechWrite(r, path.c_str(), -1, -1, s.data(), 100, 8000, type, "speaker {7}"));
    int16_t *got;
    float rate;
    char *header = nullptr;
    ASSERT_EQ(100, SpeechRead(r, path.c_str(), 0, -1, &got, &rate, &header)) << text();
    std::string h = header;
    EXPECT_NE(std::string::npos, h.find("comment: speaker (7)")) << h;  // braces kept out of the list
    EXPECT_NE(std::string::npos, h.find("8000 Hz")) << h;
    EXPECT_NE(std::string::npos, h.find("100 samples")) << h;
    DB_Free(got, __FILE__, __LINE__);
    DB_Free(header, __FILE__, __LINE__);
  }
}

TEST_F(SpeechFile, begin_and_end_in_ms_select_a_part) {
  std::vector<int16_t> s(8000);
  for (int i = 0; i < 8000; i++) s[i] = (int16_t)i;
  std::string path = dir + "/ramp.wav";
  ASSERT_EQ(8000, SpeechWrite(r, path.c_str(), -1, -1, s.data(), 8000, 8000, WAVEFILE_RIFF, nullptr));
  struct Case {
    double begin, end;
    int first, count;
  } cases[] = {
      {0, -1, 0, 8000},     {10, -1, 80, 7920}, {10, 20, 80, 80},
      {0, 5000, 0, 8000},   // end past the file: to its end
      {1000, -1, 8000, 0},  // begin exactly at the end: nothing
      {500, 500, 4000, 0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(testing::Message() << c.begin << ".." << c.end);
    int16_t *got = nullptr;
    float rate;
    ASSERT_EQ(c.count, SpeechRead(r, path.c_str(), c.begin, c.end, &got, &rate, nullptr)) << text();
    for (int i = 0; i < c.count; i++) ASSERT_EQ(c.first + i, got[i]);
    DB_Free(got, __FILE__, __LINE__);
  }
  // Writing a part: ms 250..500 of the wave.
  std::string part = dir + "/part.wav";
  ASSERT_EQ(2000, SpeechWrite(r, part.c_str(), 250, 500, s.data(), 8000, 8000, WAVEFILE_RIFF, nullptr));
  std::vector<int16_t> back = soxRead(part);
  ASSERT_EQ(2000u, back.size());
  EXPECT_EQ(2000, back[0]);
  EXPECT_EQ(3999, back[1999]);
}

TEST_F(SpeechFile, bad_requests_fail_with_a_message) {
  std::vector<int16_t> s = signal(800);
  std::string ok = dir + "/ok.wav";
  ASSERT_EQ(800, SpeechWrite(r, ok.c_str(), -1, -1, s.data(), 800, 8000, WAVEFILE_RIFF, nullptr));
  struct ReadCase {
    std::string path;
    double begin, end;
    const char *message;
  } reads[] = {
      {ok, 50, 10, "begin after end"},
      {ok, -5, -1, "begin must not be negative"},
      {ok, 200, -1, "begin is past the end of the file"},
      {dir + "/missing.wav", 0, -1, "No such file or directory"},
      {dir, 0, -1, "is a directory"},
  };
  for (const ReadCase &c : reads) {
    SCOPED_TRACE(c.message);
    GS_ResetResult(r);
    int16_t *got = nullptr;
    float rate;
    EXPECT_EQ(-1, SpeechRead(r, c.path.c_str(), c.begin, c.end, &got, &rate, nullptr));
    EXPECT_EQ(nullptr, got);
    EXPECT_NE(std::string::npos, text().find(c.message)) << text();
  }
  struct WriteCase {
    int type;
    double rate, begin, end;
    const char *message;
  } writes[] = {
      {7, 8000, -1, -1, "unknown file type code 7"},
      {WAVEFILE_RIFF, 0, -1, -1, "bad sample rate"},
      {WAVEFILE_RIFF, -8000, -1, -1, "bad sample rate"},
      {WAVEFILE_RIFF, 8000, 50, 10, "begin after end"},
      {WAVEFILE_RIFF, 8000, 500, -1, "begin is past the end"},
  };
  for (const WriteCase &c : writes) {
    SCOPED_TRACE(c.message);
    GS_ResetResult(r);
    std::string path = dir + "/w.wav";
    EXPECT_EQ(-1, SpeechWrite(r, path.c_str(), c.begin, c.end, s.data(), 800, c.rate, c.type, nullptr));
    EXPECT_NE(std::string::npos, text().find(c.message)) << text();
  }
  GS_ResetResult(r);
  EXPECT_EQ(-1, SpeechWrite(r, (dir + "/no/such/dir.wav").c_str(), -1, -1, s.data(), 800, 8000, 3, nullptr));
  EXPECT_NE(std::string::npos, text().find("can't write speech file")) << text();
}

TEST_F(SpeechFile, broken_headers_fail_with_a_message) {
  auto le32 = [](uint32_t v) { return std::string{(char)(v & 255), (char)(v >> 8 & 255), (char)(v >> 16 & 255), (char)(v >> 24)}; };
  auto le16 = [](uint16_t v) { return std::string{(char)(v & 255), (char)(v >> 8)}; };
  auto be32 = [](uint32_t v) { return std::string{(char)(v >> 24), (char)(v >> 16 & 255), (char)(v >> 8 & 255), (char)(v & 255)}; };
  auto fmt = [&](uint16_t tag, uint16_t ch, uint32_t rate, uint16_t align, uint16_t bits) {
    return "fmt " + le32(16) + le16(tag) + le16(ch) + le32(rate) + le32(rate * align) + le16(align) + le16(bits);
  };
  std::string data = "data" + le32(4) + std::string(4, '\1');
  struct Case {
    const char *name;
    std::string bytes;
    const char *message;
  } cases[] = {
      {"empty.wav", "", "empty file"},
      {"garbage.wav", "this is no header", "unknown file format"},
      {"short.wav", "RIFF", "truncated or not a RIFF WAVE header"},
      {"notwave.wav", "RIFF" + le32(4) + "AVI ", "not a RIFF WAVE header"},
      {"nofmt.wav", "RIFF" + le32(16) + "WAVE" + data, "data chunk before the format chunk"},
      {"nodata.wav", "RIFF" + le32(28) + "WAVE" + fmt(1, 1, 8000, 2, 16), "no data chunk"},
      {"shortfmt.wav", "RIFF" + le32(20) + "WAVE" + "fmt " + le32(16) + "abc", "truncated format chunk"},
      {"zerorate.wav", "RIFF" + le32(40) + "WAVE" + fmt(1, 1, 0, 2, 16) + data, "zero sample rate"},
      {"nochan.wav", "RIFF" + le32(40) + "WAVE" + fmt(1, 0, 8000, 2, 16) + data, "bad channel count"},
      {"bits.wav", "RIFF" + le32(40) + "WAVE" + fmt(1, 1, 8000, 2, 12) + data, "unsupported sample size 12"},
      {"tag.wav", "RIFF" + le32(40) + "WAVE" + fmt(85, 1, 8000, 2, 16) + data, "unsupported format tag 85"},
      {"align.wav", "RIFF" + le32(40) + "WAVE" + fmt(1, 2, 8000, 2, 16) + data, "block align too small"},
      {"short.au", ".snd" + be32(24), "truncated au header"},
      {"hdr.au", ".snd" + be32(4000) + be32(0) + be32(3) + be32(8000) + be32(1), "bad au header size"},
      {"enc.au", ".snd" + be32(24) + be32(0) + be32(23) + be32(8000) + be32(1), "unsupported au encoding 23"},
      {"rate.au", ".snd" + be32(24) + be32(0) + be32(3) + be32(0) + be32(1), "zero sample rate"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    GS_ResetResult(r);
    std::string path = dir + "/" + c.name;
    fixture::writeBytes(path, c.bytes.data(), c.bytes.size());
    int16_t *s = nullptr;
    float rate;
    EXPECT_EQ(-1, SpeechRead(r, path.c_str(), 0, -1, &s, &rate, nullptr));
    EXPECT_NE(std::string::npos, text().find(c.message)) << text();
  }
}

TEST_F(SpeechFile, data_sizes_larger_than_the_file_are_cut_to_it) {
  // A streamed RIFF file whose sizes were never filled in, as recorders leave them.
  std::vector<int16_t> s = signal(300);
  std::string path = dir + "/stream.wav";
  ASSERT_EQ(300, SpeechWrite(r, path.c_str(), -1, -1, s.data(), 300, 8000, WAVEFILE_RIFF, nullptr));
  auto bytes = fixture::readBytes(path);
  for (int i = 40; i < 44; i++) bytes[i] = 0xFF;
  bytes.resize(bytes.size() - 101);  // and it ends mid-sample
  fixture::writeBytes(path, bytes.data(), bytes.size());
  int16_t *got;
  float rate;
  ASSERT_EQ(249, SpeechRead(r, path.c_str(), 0, -1, &got, &rate, nullptr)) << text();
  for (int i = 0; i < 249; i++) ASSERT_EQ(s[i], got[i]);
  DB_Free(got, __FILE__, __LINE__);
}

}  // namespace
