// The device layer on the virtual devices.
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <thread>

#include "audio_fixture.h"
#include "wavefile.h"

namespace {

using Ms = std::chrono::milliseconds;

std::vector<unsigned char> Taken(unsigned id) {
    std::vector<unsigned char> v(VirtualAudio_TakeOutput(id, nullptr, 0));
    VirtualAudio_TakeOutput(id, v.data(), v.size());
    return v;
}

class WaveOutTest : public AudioFixture {};

TEST_F(WaveOutTest, plays_buffers_in_order_and_the_device_hears_every_sample) {
    WaveOut *h = OpenOut(8000, 2);
    Buffer a(400, 1), b(8, 2), c(4000, 3);
    Queue(h, a);
    Queue(h, b);
    Queue(h, c);
    ASSERT_TRUE(PumpUntil([&] { return Count(WAVE_MSG_OUT_DONE) == 3; }));
    EXPECT_EQ((std::vector<uintptr_t>{(uintptr_t)&a.hdr, (uintptr_t)&b.hdr, (uintptr_t)&c.hdr}),
              Headers(WAVE_MSG_OUT_DONE));
    EXPECT_EQ(WAVE_HDR_DONE | WAVE_HDR_PREPARED, a.hdr.flags);
    std::vector<unsigned char> heard = Taken(0), want;
    for (Buffer *x : {&a, &b, &c}) want.insert(want.end(), x->bytes.begin(), x->bytes.end());
    EXPECT_EQ(want, heard);
    EXPECT_EQ(WAVE_OK, WaveOut_Close(h));
    Pump();
    EXPECT_EQ(WAVE_MSG_OUT_OPEN, posted.front().msg);
    EXPECT_EQ(WAVE_MSG_OUT_CLOSE, posted.back().msg);
    EXPECT_EQ((uintptr_t)h, posted.back().p0);
}

TEST_F(WaveOutTest, a_buffer_is_done_when_its_sound_has_been_heard_not_when_it_was_taken) {
    VirtualAudio_SetSpeed(1);
    WaveOut *h = OpenOut(8000, 1);
    Buffer a(2 * 1200);   // 150 ms, more than the device holds ahead
    auto t0 = std::chrono::steady_clock::now();
    Queue(h, a);
    ASSERT_TRUE(PumpUntil([&] { return Count(WAVE_MSG_OUT_DONE) == 1; }));
    auto ms = std::chrono::duration_cast<Ms>(posted.back().at - t0).count();
    EXPECT_GE(ms, 145);
    EXPECT_LT(ms, 300);
}

TEST_F(WaveOutTest, close_is_refused_while_buffers_are_queued_and_reset_returns_each_once) {
    VirtualAudio_SetSpeed(1);
    WaveOut *h = OpenOut(8000, 1);
    std::vector<std::unique_ptr<Buffer>> bufs;
    for (int i = 0; i < 4; i++) {
        bufs.emplace_back(new Buffer(16000));   // one second each
        Queue(h, *bufs.back());
    }
    EXPECT_EQ(WAVE_ERR_STILLPLAYING, WaveOut_Close(h));
    EXPECT_EQ(WAVE_ERR_STILLPLAYING, WaveOut_Unprepare(h, &bufs[0]->hdr));
    std::this_thread::sleep_for(Ms(30));
    ASSERT_EQ(WAVE_OK, WaveOut_Reset(h));
    EXPECT_EQ(WAVE_OK, WaveOut_Close(h));
    std::this_thread::sleep_for(Ms(30));
    Pump();
    std::vector<uintptr_t> want;
    for (auto &b : bufs) want.push_back((uintptr_t)&b->hdr);
    EXPECT_EQ(want, Headers(WAVE_MSG_OUT_DONE));
    size_t heard = Taken(0).size();
    EXPECT_GT(heard, 0u);
    EXPECT_LT(heard, 2000u) << "a reset drops what was not heard";
    EXPECT_EQ(WAVE_MSG_OUT_CLOSE, posted.back().msg);
}

TEST_F(WaveOutTest, pause_holds_the_clock_and_restart_goes_on) {
    VirtualAudio_SetSpeed(1);
    WaveOut *h = OpenOut(8000, 1);
    Buffer a(2 * 400);   // 50 ms
    ASSERT_EQ(WAVE_OK, WaveOut_Pause(h));
    Queue(h, a);
    EXPECT_FALSE(PumpUntil([&] { return Count(WAVE_MSG_OUT_DONE) > 0; }, 150));
    ASSERT_EQ(WAVE_OK, WaveOut_Restart(h));
    auto t0 = std::chrono::steady_clock::now();
    ASSERT_TRUE(PumpUntil([&] { return Count(WAVE_MSG_OUT_DONE) == 1; }));
    auto ms = std::chrono::duration_cast<Ms>(posted.back().at - t0).count();
    EXPECT_GE(ms, 45);
    EXPECT_LT(ms, 250);
}

TEST_F(WaveOutTest, volume_scales_what_is_heard_and_full_scale_leaves_it_alone) {
    WaveOut *h = OpenOut(8000, 2);
    uint32_t v = 0;
    ASSERT_EQ(WAVE_OK, WaveOut_GetVolume(h, &v));
    EXPECT_EQ(0xFFFFFFFFu, v);
    ASSERT_EQ(WAVE_OK, WaveOut_SetVolume(h, 0x0000FFFFu));   // left full, right silent
    int16_t s[4] = {1000, 1000, -32768, 32767};
    Buffer a(sizeof s);
    memcpy(a.bytes.data(), s, sizeof s);
    Queue(h, a);
    ASSERT_TRUE(PumpUntil([&] { return Count(WAVE_MSG_OUT_DONE) == 1; }));
    std::vector<unsigned char> heard = Taken(0);
    ASSERT_EQ(sizeof s, heard.size());
    int16_t out[4];
    memcpy(out, heard.data(), sizeof out);
    EXPECT_EQ(1000, out[0]);
    EXPECT_EQ(0, out[1]);
    EXPECT_EQ(-32768, out[2]);
    EXPECT_EQ(0, out[3]);
    ASSERT_EQ(WAVE_OK, WaveOut_Close(h));
    h = OpenOut(8000, 2);
    ASSERT_EQ(WAVE_OK, WaveOut_GetVolume(h, &v));
    EXPECT_EQ(0x0000FFFFu, v) << "the device keeps its volume";
    WaveOut_SetVolume(h, 0xFFFFFFFFu);
}

TEST_F(WaveOutTest, a_header_must_be_prepared_and_cannot_be_queued_twice) {
    VirtualAudio_SetSpeed(1);
    WaveOut *h = OpenOut();
    Buffer a(1600);
    EXPECT_EQ(WAVE_ERR_UNPREPARED, WaveOut_Write(h, &a.hdr));
    Queue(h, a);
    EXPECT_EQ(WAVE_ERR_STILLPLAYING, WaveOut_Write(h, &a.hdr));
    WaveOut_Reset(h);
    EXPECT_EQ(WAVE_OK, WaveOut_Unprepare(h, &a.hdr));
    EXPECT_EQ(WAVE_OK, WaveOut_Close(h));
    EXPECT_EQ(WAVE_ERR_INVALHANDLE, WaveOut_Close(h));
    Pump();
    EXPECT_EQ(1u, Count(WAVE_MSG_OUT_DONE));
}

TEST_F(WaveOutTest, open_refuses_what_the_device_cannot_do) {
    struct Case { unsigned id; int tag, channels, rate, want; const char *why; } cases[] = {
        {2, WAVE_FORMAT_PCM, 1, 8000, WAVE_ERR_BADDEVICEID, "no third device"},
        {0, WAVE_FORMAT_PCM, 1, 1000, WAVE_ERR_BADFORMAT, "rate below the device's range"},
        {0, WAVE_FORMAT_PCM, 5, 8000, WAVE_ERR_BADFORMAT, "more channels than it has"},
        {0, WAVE_FORMAT_PCM, 0, 8000, WAVE_ERR_BADFORMAT, "no channel at all"},
        {1, WAVE_FORMAT_PCM, 1, 8000, WAVE_ERR_BADFORMAT, "mu-law-only device"},
        {1, WAVE_FORMAT_MULAW, 1, 16000, WAVE_ERR_BADFORMAT, "fixed-rate device"},
        {1, WAVE_FORMAT_MULAW, 1, 8000, WAVE_OK, "what it can do"},
        {0, 3, 1, 8000, WAVE_ERR_BADFORMAT, "unknown format tag"},
        {0, WAVE_FORMAT_PCM, 1, INT_MAX, WAVE_ERR_BADFORMAT, "bytes per second beyond an int"},
        {0, WAVE_FORMAT_MULAW, 4, INT_MAX, WAVE_ERR_BADFORMAT, "the same in mu-law"},
        {0, WAVE_FORMAT_PCM, INT_MAX, 8000, WAVE_ERR_BADFORMAT, "block size beyond an int"},
    };
    for (const Case &c : cases) {
        WaveFormat f;
        WaveDev_MakeFormat(&f, c.tag, c.channels, c.rate);
        WaveOut *h = nullptr;
        EXPECT_EQ(c.want, WaveOut_Open(&h, c.id, &f, win)) << c.why;
        if (c.want == WAVE_OK) WaveOut_Close(h);
    }
    char text[256];
    WaveDev_ErrorText(WAVE_ERR_BADFORMAT, text, sizeof text);
    EXPECT_STREQ("the sound device does not take that rate, channel count or sample format", text);
}

TEST_F(WaveOutTest, a_half_duplex_card_opens_one_direction_at_a_time) {
    WaveFormat f;
    WaveDev_MakeFormat(&f, WAVE_FORMAT_MULAW, 1, 8000);
    WaveOut *o = nullptr;
    WaveIn *i = nullptr;
    ASSERT_EQ(WAVE_OK, WaveOut_Open(&o, 1, &f, win));
    EXPECT_EQ(WAVE_ERR_ALLOCATED, WaveIn_Open(&i, 1, &f, win));
    EXPECT_EQ(WAVE_OK, WaveIn_Open(&i, 0, &f, win)) << "the other card is free";
    WaveIn_Close(i);
    WaveOut_Close(o);
    ASSERT_EQ(WAVE_OK, WaveIn_Open(&i, 1, &f, win));
    WaveIn_Close(i);
}

TEST_F(WaveOutTest, mu_law_plays_its_bytes_and_volume_goes_through_the_code) {
    WaveOut *h = OpenOut(8000, 1, WAVE_FORMAT_MULAW, 1);
    Buffer a(3);
    a.bytes = {(char)linear2ulaw(8000), (char)linear2ulaw(-8000), (char)0xFF};
    a.hdr.data = a.bytes.data();
    ASSERT_EQ(WAVE_OK, WaveOut_SetVolume(h, 0x80008000u));
    Queue(h, a);
    ASSERT_TRUE(PumpUntil([&] { return Count(WAVE_MSG_OUT_DONE) == 1; }));
    std::vector<unsigned char> heard = Taken(1);
    ASSERT_EQ(3u, heard.size());
    EXPECT_NEAR(4000, ulaw2linear(heard[0]), 150);
    EXPECT_NEAR(-4000, ulaw2linear(heard[1]), 150);
    EXPECT_EQ(0, ulaw2linear(heard[2]));
    WaveOut_SetVolume(h, 0xFFFFFFFFu);
}

TEST_F(WaveOutTest, the_output_file_receives_what_was_played) {
    char path[] = "/tmp/wavedev_outXXXXXX";
    int fd = mkstemp(path);
    close(fd);
    setenv("TOVIK_AUDIO_OUT", path, 1);
    WaveOut *h = OpenOut();
    Buffer a(1000, 5);
    Queue(h, a);
    ASSERT_TRUE(PumpUntil([&] { return Count(WAVE_MSG_OUT_DONE) == 1; }));
    WaveOut_Close(h);
    FILE *fp = fopen(path, "rb");
    std::vector<char> got(2000);
    got.resize(fread(got.data(), 1, got.size(), fp));
    fclose(fp);
    EXPECT_EQ(a.bytes, got);
    setenv("TOVIK_AUDIO_OUT", "/nonexistent/dir/out.raw", 1);
    WaveFormat f;
    WaveDev_MakeFormat(&f, WAVE_FORMAT_PCM, 1, 8000);
    EXPECT_EQ(WAVE_ERR_NOSINK, WaveOut_Open(&h, 0, &f, win));
    unlink(path);
}

TEST_F(WaveOutTest, shutdown_returns_every_buffer_and_closes_playing_devices) {
    VirtualAudio_SetSpeed(1);
    WaveOut *h = OpenOut();
    Buffer a(16000), b(16000);
    Queue(h, a);
    Queue(h, b);
    WaveDev_Shutdown();
    Pump();
    EXPECT_EQ(2u, Count(WAVE_MSG_OUT_DONE));
    EXPECT_EQ(1u, Count(WAVE_MSG_OUT_CLOSE));
    EXPECT_EQ(WAVE_ERR_INVALHANDLE, WaveOut_Write(h, &a.hdr));
}

TEST_F(WaveOutTest, the_virtual_devices_describe_themselves) {
    EXPECT_STREQ("virtual", WaveDev_BackendName());
    EXPECT_EQ(2u, WaveOut_GetNumDevs());
    EXPECT_EQ(2u, WaveIn_GetNumDevs());
    WaveCaps c;
    ASSERT_EQ(WAVE_OK, WaveOut_GetDevCaps(0, &c));
    EXPECT_STREQ("Virtual Out", c.name);
    EXPECT_EQ((1u << WAVE_STDFORMAT_COUNT) - 1, c.formats);
    EXPECT_TRUE(c.support & WAVE_SUPPORT_LRVOLUME);
    ASSERT_EQ(WAVE_OK, WaveOut_GetDevCaps(1, &c));
    EXPECT_EQ(0u, c.formats) << "8000 Hz is no standard format";
    EXPECT_EQ(WAVE_ERR_BADDEVICEID, WaveIn_GetDevCaps(2, &c));
    EXPECT_STREQ("1m08", WaveDev_StdFormatName(0));
    EXPECT_STREQ("4s16", WaveDev_StdFormatName(11));
}

class WaveInTest : public AudioFixture {
protected:
    std::vector<unsigned char> source;
    void SetSource(size_t n) {
        source.resize(n);
        for (size_t i = 0; i < n; i++) source[i] = (unsigned char)(i * 13 + 1);
        VirtualAudio_SetInput(0, source.data(), source.size());
    }
};

TEST_F(WaveInTest, records_the_source_into_buffers_in_order_then_silence) {
    SetSource(500);
    WaveIn *h = OpenIn();
    Buffer a(200), b(200), c(200);
    Add(h, a);
    Add(h, b);
    Add(h, c);
    ASSERT_EQ(WAVE_OK, WaveIn_Start(h));
    ASSERT_TRUE(PumpUntil([&] { return Count(WAVE_MSG_IN_DATA) == 3; }));
    EXPECT_EQ((std::vector<uintptr_t>{(uintptr_t)&a.hdr, (uintptr_t)&b.hdr, (uintptr_t)&c.hdr}),
              Headers(WAVE_MSG_IN_DATA));
    for (Buffer *x : {&a, &b, &c}) EXPECT_EQ(200u, x->hdr.bytesRecorded);
    EXPECT_TRUE(std::equal(a.bytes.begin(), a.bytes.end(), (char *)source.data()));
    EXPECT_TRUE(std::equal(b.bytes.begin(), b.bytes.end(), (char *)source.data() + 200));
    EXPECT_TRUE(std::equal(c.bytes.begin(), c.bytes.begin() + 100, (char *)source.data() + 400));
    EXPECT_EQ(std::vector<char>(100, 0), std::vector<char>(c.bytes.begin() + 100, c.bytes.end()));
    EXPECT_EQ(WAVE_OK, WaveIn_Close(h));
}

TEST_F(WaveInTest, a_buffer_fills_at_the_pace_of_the_clock) {
    VirtualAudio_SetSpeed(1);
    WaveIn *h = OpenIn();
    Buffer a(2 * 800);   // 100 ms
    Add(h, a);
    auto t0 = std::chrono::steady_clock::now();
    WaveIn_Start(h);
    ASSERT_TRUE(PumpUntil([&] { return Count(WAVE_MSG_IN_DATA) == 1; }));
    auto ms = std::chrono::duration_cast<Ms>(posted.back().at - t0).count();
    EXPECT_GE(ms, 95);
    EXPECT_LT(ms, 300);
    WaveIn_Reset(h);
    WaveIn_Close(h);
}

TEST_F(WaveInTest, stop_returns_the_part_filled_buffer_and_reset_the_empty_ones) {
    VirtualAudio_SetSpeed(1);
    WaveIn *h = OpenIn();
    Buffer a(16000), b(16000);
    Add(h, a);
    Add(h, b);
    WaveIn_Start(h);
    std::this_thread::sleep_for(Ms(100));
    ASSERT_EQ(WAVE_OK, WaveIn_Stop(h));
    Pump();
    ASSERT_EQ(1u, Count(WAVE_MSG_IN_DATA));
    EXPECT_GT(a.hdr.bytesRecorded, 1000u);
    EXPECT_LT(a.hdr.bytesRecorded, 4000u);
    EXPECT_EQ(0u, a.hdr.bytesRecorded % 2);
    EXPECT_EQ(WAVE_ERR_STILLPLAYING, WaveIn_Close(h)) << "the empty buffer is still queued";
    ASSERT_EQ(WAVE_OK, WaveIn_Reset(h));
    Pump();
    EXPECT_EQ(2u, Count(WAVE_MSG_IN_DATA));
    EXPECT_EQ(0u, b.hdr.bytesRecorded);
    EXPECT_EQ(WAVE_OK, WaveIn_Close(h));
    Pump();
    EXPECT_EQ(WAVE_MSG_IN_CLOSE, posted.back().msg);
}

TEST_F(WaveInTest, records_from_the_input_file_and_refuses_one_it_cannot_read) {
    char path[] = "/tmp/wavedev_inXXXXXX";
    int fd = mkstemp(path);
    const char data[] = "0123456789abcdef";
    ASSERT_EQ(16, write(fd, data, 16));
    close(fd);
    setenv("TOVIK_AUDIO_IN", path, 1);
    WaveIn *h = OpenIn(8000, 2);
    Buffer a(16);
    Add(h, a);
    WaveIn_Start(h);
    ASSERT_TRUE(PumpUntil([&] { return Count(WAVE_MSG_IN_DATA) == 1; }));
    EXPECT_EQ(std::string(data, 16), std::string(a.bytes.begin(), a.bytes.end()));
    WaveIn_Close(h);
    unlink(path);
    WaveFormat f;
    WaveDev_MakeFormat(&f, WAVE_FORMAT_PCM, 1, 8000);
    EXPECT_EQ(WAVE_ERR_NOSOURCE, WaveIn_Open(&h, 0, &f, win));
}

TEST_F(WaveInTest, many_buffers_under_way_come_back_once_each_whatever_the_timing) {
    VirtualAudio_SetSpeed(4);
    WaveIn *h = OpenIn();
    std::vector<std::unique_ptr<Buffer>> bufs;
    for (int i = 0; i < 8; i++) {
        bufs.emplace_back(new Buffer(160));
        Add(h, *bufs.back());
    }
    WaveIn_Start(h);
    std::this_thread::sleep_for(Ms(25));
    WaveIn_Reset(h);
    WaveIn_Close(h);
    Pump();
    std::vector<uintptr_t> got = Headers(WAVE_MSG_IN_DATA), want;
    for (auto &b : bufs) want.push_back((uintptr_t)&b->hdr);
    EXPECT_EQ(want, got);
}

}  // namespace
