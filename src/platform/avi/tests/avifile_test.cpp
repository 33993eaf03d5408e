// AVI files read back by ffprobe and ffmpeg, an outside reader.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "avifile.h"

namespace {

std::string run(const std::string &cmd) {
    std::string out;
    // Outside tools run without a sanitizer runtime preloaded.
    FILE *p = popen(("env -u LD_PRELOAD " + cmd).c_str(), "r");
    if (!p) return out;
    char buf[65536];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    pclose(p);
    return out;
}

bool haveFfmpeg() { return system("env -u LD_PRELOAD ffprobe -version >/dev/null 2>&1") == 0; }

std::string tempPath(const char *name) {
    return (testing::TempDir() + "avi" + std::to_string(getpid()) + name);
}

// A bottom-up BGR bitmap of one colour with a column stripe of another.
std::vector<uint8_t> frame(int w, int h, int bits, uint8_t r, uint8_t g, uint8_t b, int stripe) {
    int stride = AviFile_RowBytes(w, bits), step = bits / 8;
    std::vector<uint8_t> d(size_t(stride) * h, 0);
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) {
            uint8_t *p = &d[size_t(y) * stride + size_t(step) * x];
            bool s = x >= stripe && x < stripe + 8;
            p[0] = s ? 255 : b;
            p[1] = s ? 255 : g;
            p[2] = s ? 255 : r;
        }
    return d;
}

struct Written {
    std::string path;
    std::vector<int16_t> audio;
};

// 101 x 48 at 15 frames per second: frames at 0, 1 and 3 (2 dropped), a
// red, a green and a blue one; audio at 8000 Hz from 100 ms on.
Written writeSample(const char *codec, int bits) {
    Written w{tempPath(codec), {}};
    AviFile f;
    EXPECT_EQ(f.Open(w.path), 0u);
    EXPECT_EQ(f.CreateVideo(1, 15, "video"), 0u);
    uint32_t code = uint32_t(codec[0]) | uint32_t(codec[1]) << 8 | uint32_t(codec[2]) << 16 | uint32_t(codec[3]) << 24;
    EXPECT_EQ(f.SetCompressor(code, 3, 9000), 0u);
    EXPECT_EQ(f.SetVideoFormat(101, 48, bits), 0u);
    EXPECT_EQ(f.CreateAudio(8000, "sound"), 0u);
    const uint8_t colours[3][3] = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}};
    const int64_t ms[3] = {0, 67, 200};
    for (int i = 0; i < 3; i++) {
        auto d = frame(101, 48, bits, colours[i][0], colours[i][1], colours[i][2], 10 * i);
        int64_t pos = f.TimeToSample(0, ms[i]);
        EXPECT_EQ(f.WriteVideo(pos, d.data(), d.size(), pos % 3 == 0), 0u);
    }
    std::vector<int16_t> sound(1600);
    for (size_t i = 0; i < sound.size(); i++) sound[i] = int16_t((i * 37) % 20000 - 10000);
    EXPECT_EQ(f.WriteAudio(f.TimeToSample(1, 100), sound.data(), int32_t(sound.size())), 0u);
    EXPECT_EQ(f.Close(), 0u);
    w.audio.assign(800, 0);
    w.audio.insert(w.audio.end(), sound.begin(), sound.end());
    return w;
}

TEST(AviFile, RowsArePaddedToWords) {
    EXPECT_EQ(AviFile_RowBytes(101, 24), 304);
    EXPECT_EQ(AviFile_RowBytes(101, 24) * 100, 30400);
    EXPECT_EQ(AviFile_RowBytes(4, 24), 12);
    EXPECT_EQ(AviFile_RowBytes(3, 32), 12);
}

TEST(AviFile, OutsideReaderSeesStreamsFramesAndSound) {
    if (!haveFfmpeg()) GTEST_SKIP() << "ffmpeg not installed";
    struct Case {
        const char *codec;
        int bits;
        const char *name;
        int tolerance;
    } cases[] = {{"DIB ", 24, "rawvideo", 0}, {"DIB ", 32, "rawvideo", 0},
                 {"iv50", 24, "mjpeg", 12}};
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.codec) + " " + std::to_string(c.bits));
        Written w = writeSample(c.codec, c.bits);
        std::string probe = run("ffprobe -v error -count_frames -show_entries "
                                "stream=codec_name,width,height,r_frame_rate,nb_frames,nb_read_frames,sample_rate,"
                                "channels -of compact=p=0:nk=1 '" + w.path + "'");
        std::string expectVideo = std::string(c.name) + "|101|48|15/1|4|3";
        EXPECT_NE(probe.find(expectVideo), std::string::npos) << probe;
        EXPECT_NE(probe.find("pcm_s16le|8000|1|"), std::string::npos) << probe;
        EXPECT_EQ(run("ffmpeg -v error -i '" + w.path + "' -f null - 2>&1"), "");
        // The decoded frames: the colour and the stripe of each.
        std::string rgb = run("ffmpeg -v error -i '" + w.path + "' -vsync passthrough -f rawvideo -pix_fmt rgb24 -");
        ASSERT_EQ(rgb.size(), size_t(3 * 101 * 48 * 3));
        const int colours[3][3] = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}};
        for (int i = 0; i < 3; i++)
            for (int y : {0, 24, 47})
                for (int x : {0, 10 * i + 4, 100}) {
                    bool s = x >= 10 * i && x < 10 * i + 8;
                    const unsigned char *p =
                        reinterpret_cast<const unsigned char *>(rgb.data()) + (size_t(i) * 48 * 101 + y * 101 + x) * 3;
                    for (int k = 0; k < 3; k++)
                        EXPECT_NEAR(p[k], s ? 255 : colours[i][k], c.tolerance)
                            << "frame " << i << " at " << x << "," << y;
                }
        // Frame times as the reader places them: 0, 1 and 3 of 15 per second.
        std::string times = run("ffprobe -v error -select_streams v -show_entries packet=pts,size -of csv=p=0 '" +
                                w.path + "'");
        EXPECT_EQ(times.substr(0, 2), "0,");
        EXPECT_NE(times.find("\n3,"), std::string::npos) << times;
        std::string pcm = run("ffmpeg -v error -i '" + w.path + "' -map 0:a -f s16le -");
        ASSERT_EQ(pcm.size(), w.audio.size() * 2);
        EXPECT_EQ(0, memcmp(pcm.data(), w.audio.data(), pcm.size()));
        unlink(w.path.c_str());
    }
}

TEST(AviFile, RefusedCallsNameTheirReason) {
    std::string path = tempPath("err");
    AviFile f;
    EXPECT_EQ(f.Open("/nonexistent-dir/x.avi"), AVIERR_FILEOPEN);
    EXPECT_EQ(f.CreateVideo(1, 15, ""), AVIERR_BADHANDLE) << "no file";
    ASSERT_EQ(f.Open(path), 0u);
    EXPECT_EQ(f.Open(path), AVIERR_BADHANDLE) << "already open";
    EXPECT_EQ(f.CreateVideo(1, 0, ""), AVIERR_BADPARAM);
    ASSERT_EQ(f.CreateVideo(1, 15, ""), 0u);
    EXPECT_EQ(f.SetCompressor(0x34363248 /* H264 */, 3, 10000), AVIERR_NOCOMPRESSOR);
    EXPECT_EQ(f.SetCompressor(0x20424944 /* DIB  */, 0, 10000), AVIERR_BADPARAM);
    ASSERT_EQ(f.SetCompressor(0x20424944, 3, 10000), 0u);
    EXPECT_EQ(f.SetVideoFormat(10, 10, 16), AVIERR_BADFORMAT);
    EXPECT_EQ(f.SetVideoFormat(0, 10, 24), AVIERR_BADFORMAT);
    EXPECT_EQ(f.SetVideoFormat(60000, 60000, 24), AVIERR_BADFORMAT);
    ASSERT_EQ(f.SetVideoFormat(10, 10, 24), 0u);
    auto d = frame(10, 10, 24, 1, 2, 3, 0);
    EXPECT_EQ(f.WriteVideo(2, d.data(), d.size() - 1, true), AVIERR_BUFFERTOOSMALL);
    ASSERT_EQ(f.WriteVideo(2, d.data(), d.size(), true), 0u);
    EXPECT_EQ(f.WriteVideo(2, d.data(), d.size(), true), AVIERR_UNSUPPORTED) << "same position twice";
    EXPECT_EQ(f.WriteVideo(1, d.data(), d.size(), true), AVIERR_UNSUPPORTED) << "earlier position";
    int16_t s[4] = {1, 2, 3, 4};
    EXPECT_EQ(f.WriteAudio(0, s, 4), AVIERR_BADHANDLE) << "no audio stream";
    ASSERT_EQ(f.CreateAudio(8000, ""), 0u);
    EXPECT_EQ(f.CreateAudio(8000, ""), AVIERR_BADHANDLE);
    ASSERT_EQ(f.WriteAudio(4, s, 4), 0u);
    EXPECT_EQ(f.WriteAudio(7, s, 4), AVIERR_UNSUPPORTED);
    EXPECT_EQ(f.Close(), 0u);
    EXPECT_EQ(f.Close(), 0u);
    unlink(path.c_str());
}

TEST(AviFile, ErrorTexts) {
    EXPECT_STREQ(AviFile_ErrorText(AVIERR_UNSUPPORTED), "unsupported - time not at end of stream");
    EXPECT_STREQ(AviFile_ErrorText(AVIERR_FILEOPEN), "file in use by another process");
    EXPECT_STREQ(AviFile_ErrorText(AVIERR_NOCOMPRESSOR), "no compressor");
    EXPECT_STREQ(AviFile_ErrorText(AVIERR_BUFFERTOOSMALL), "buffer too small");
    EXPECT_STREQ(AviFile_ErrorText(AVIERR_ERROR), "generic error");
    EXPECT_EQ(AviFile_ErrorText(0x80044073), nullptr);
    EXPECT_EQ(AviFile_ErrorText(0), nullptr);
}

}  // namespace
