// The device layer on ALSA, through its file and null plugins and a configuration of
// our own: no sound card is needed.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <thread>

#include "audio_fixture.h"

namespace {

class AlsaTest : public AudioFixture {
protected:
    static void SetUpTestSuite() {
        AudioFixture::SetUpTestSuite();
        char tmpl[] = "/tmp/wavedev_alsaXXXXXX";
        dir = mkdtemp(tmpl);
        outPath = dir + "/out.raw";
        inPath = dir + "/in.raw";
        std::ofstream in(inPath, std::ios::binary);
        for (int i = 0; i < 4000; i++) {
            int16_t s = (int16_t)(i * 3 - 6000);
            in.write((const char *)&s, 2);
        }
        std::ofstream conf(dir + "/asound.conf");
        conf << "pcm.!default {\n type file\n slave.pcm \"sink\"\n file \"" << outPath << "\"\n infile \""
             << inPath << "\"\n format \"raw\"\n}\npcm.sink { type null }\n";
        conf.close();
        // ALSA reads its configuration at first use, so this comes before any ALSA call.
        setenv("ALSA_CONFIG_PATH", (dir + "/asound.conf").c_str(), 1);
    }
    void SetUp() override {
        AudioFixture::SetUp();
        setenv("TOVIK_AUDIO", "alsa", 1);
    }
    static std::string Read(const std::string &path) {
        std::ifstream f(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(f), {});
    }
    static std::string dir, outPath, inPath;
};

std::string AlsaTest::dir, AlsaTest::outPath, AlsaTest::inPath;

TEST_F(AlsaTest, the_default_device_is_listed_first) {
    EXPECT_STREQ("alsa", WaveDev_BackendName());
    ASSERT_GE(WaveOut_GetNumDevs(), 1u);
    WaveCaps c;
    ASSERT_EQ(WAVE_OK, WaveOut_GetDevCaps(0, &c));
    EXPECT_STREQ("default", c.name);
    EXPECT_EQ(WAVE_ERR_BADDEVICEID, WaveOut_GetDevCaps(WaveOut_GetNumDevs(), &c));
}

TEST_F(AlsaTest, plays_every_buffer_once_and_the_file_holds_them_in_order) {
    WaveOut *h = OpenOut(16000, 2);
    ASSERT_TRUE(h);
    std::vector<std::unique_ptr<Buffer>> bufs;
    std::string want;
    for (int i = 0; i < 5; i++) {
        bufs.emplace_back(new Buffer(4000 + 4 * i, i));
        want.append(bufs.back()->bytes.begin(), bufs.back()->bytes.end());
        ASSERT_NO_FATAL_FAILURE(Queue(h, *bufs.back()));
    }
    ASSERT_TRUE(PumpUntil([&] { return Count(WAVE_MSG_OUT_DONE) == 5; }));
    std::vector<uintptr_t> order;
    for (auto &b : bufs) order.push_back((uintptr_t)&b->hdr);
    EXPECT_EQ(order, Headers(WAVE_MSG_OUT_DONE));
    ASSERT_EQ(WAVE_OK, WaveOut_Close(h));
    EXPECT_EQ(want, Read(outPath));
}

TEST_F(AlsaTest, records_the_input_file_into_buffers) {
    WaveIn *h = OpenIn(8000, 1);
    ASSERT_TRUE(h);
    Buffer a(1600), b(1600);
    ASSERT_NO_FATAL_FAILURE(Add(h, a));
    ASSERT_NO_FATAL_FAILURE(Add(h, b));
    ASSERT_EQ(WAVE_OK, WaveIn_Start(h));
    ASSERT_TRUE(PumpUntil([&] { return Count(WAVE_MSG_IN_DATA) == 2; }));
    std::string in = Read(inPath);
    EXPECT_EQ(in.substr(0, 1600), std::string(a.bytes.begin(), a.bytes.end()));
    EXPECT_EQ(in.substr(1600, 1600), std::string(b.bytes.begin(), b.bytes.end()));
    WaveIn_Stop(h);
    EXPECT_EQ(WAVE_OK, WaveIn_Close(h));
}

TEST_F(AlsaTest, reset_and_refused_formats) {
    WaveFormat f;
    WaveDev_MakeFormat(&f, WAVE_FORMAT_PCM, 1, 8000);
    WaveOut *h = nullptr;
    ASSERT_EQ(WAVE_OK, WaveOut_Open(&h, 0, &f, win));
    std::vector<std::unique_ptr<Buffer>> bufs;
    for (int i = 0; i < 20; i++) {
        bufs.emplace_back(new Buffer(8000));
        WaveOut_Prepare(h, &bufs.back()->hdr);
        WaveOut_Write(h, &bufs.back()->hdr);
    }
    WaveOut_Reset(h);
    EXPECT_EQ(WAVE_OK, WaveOut_Close(h));
    Pump();
    EXPECT_EQ(20u, Count(WAVE_MSG_OUT_DONE)) << "each buffer once, however far it got";
    WaveDev_MakeFormat(&f, WAVE_FORMAT_PCM, 0, 8000);
    EXPECT_EQ(WAVE_ERR_BADFORMAT, WaveOut_Open(&h, 0, &f, win));
    WaveDev_MakeFormat(&f, WAVE_FORMAT_PCM, 1, 8000);
    EXPECT_EQ(WAVE_ERR_BADDEVICEID, WaveOut_Open(&h, 99, &f, win));
}

}  // namespace
