// A message window that keeps what the devices post, an event loop to pump it, and
// devices and buffers to play and record with.
#ifndef TOVIK_TEST_AUDIO_FIXTURE_H
#define TOVIK_TEST_AUDIO_FIXTURE_H

#include <gtest/gtest.h>
#include <tcl.h>

#include <chrono>
#include <functional>
#include <vector>

#include "msgwin.h"
#include "virtual_audio.h"
#include "wavedev.h"

// A device buffer filled with a pattern that differs per seed.
struct Buffer {
    std::vector<char> bytes;
    WaveHeader hdr{};
    explicit Buffer(size_t n, int seed = 0) : bytes(n) {
        for (size_t i = 0; i < n; i++) bytes[i] = (char)(i * 7 + seed);
        hdr.data = bytes.data();
        hdr.bufferLength = (uint32_t)n;
    }
};

struct Posted {
    unsigned msg;
    uintptr_t p0, p1;
    std::chrono::steady_clock::time_point at;
};

class AudioFixture : public ::testing::Test {
protected:
    static void SetUpTestSuite() { Tcl_FindExecutable(nullptr); }
    void SetUp() override {
        setenv("TOVIK_AUDIO", "virtual", 1);
        unsetenv("TOVIK_AUDIO_OUT");
        unsetenv("TOVIK_AUDIO_IN");
        VirtualAudio_Reset();
        VirtualAudio_CaptureOutput(1);
        VirtualAudio_SetSpeed(0);
        ASSERT_EQ(MSGWIN_OK, MsgWin_Create("TestAudio", Keep, this, &win));
    }
    void TearDown() override {
        WaveDev_Shutdown();
        Pump();
        MsgWin_Destroy(win);
    }
    static intptr_t Keep(MsgWin *w, unsigned msg, uintptr_t p0, uintptr_t p1) {
        ((AudioFixture *)MsgWin_ClientData(w))->posted.push_back({msg, p0, p1, std::chrono::steady_clock::now()});
        return 0;
    }
    void Pump() {
        while (Tcl_DoOneEvent(TCL_ALL_EVENTS | TCL_DONT_WAIT)) {}
    }
    // Serves the event loop until `done` holds or `ms` have passed; answers `done()`.
    bool PumpUntil(const std::function<bool()> &done, int ms = 5000) {
        auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (!done() && std::chrono::steady_clock::now() < end) {
            Tcl_DoOneEvent(TCL_ALL_EVENTS | TCL_DONT_WAIT);
            Tcl_Sleep(1);
        }
        return done();
    }
    size_t Count(unsigned msg) const {
        size_t n = 0;
        for (const Posted &p : posted) n += p.msg == msg;
        return n;
    }
    std::vector<uintptr_t> Headers(unsigned msg) const {
        std::vector<uintptr_t> v;
        for (const Posted &p : posted)
            if (p.msg == msg) v.push_back(p.p1);
        return v;
    }
    // Open a device posting to win; NULL (and a failure) when it does not open.
    WaveOut *OpenOut(int rate = 8000, int channels = 1, int tag = WAVE_FORMAT_PCM, unsigned id = 0) {
        WaveFormat f;
        WaveDev_MakeFormat(&f, tag, channels, rate);
        WaveOut *h = nullptr;
        EXPECT_EQ(WAVE_OK, WaveOut_Open(&h, id, &f, win));
        return h;
    }
    WaveIn *OpenIn(int rate = 8000, int channels = 1, unsigned id = 0) {
        WaveFormat f;
        WaveDev_MakeFormat(&f, WAVE_FORMAT_PCM, channels, rate);
        WaveIn *h = nullptr;
        EXPECT_EQ(WAVE_OK, WaveIn_Open(&h, id, &f, win));
        return h;
    }
    void Queue(WaveOut *h, Buffer &b) {
        ASSERT_EQ(WAVE_OK, WaveOut_Prepare(h, &b.hdr));
        ASSERT_EQ(WAVE_OK, WaveOut_Write(h, &b.hdr));
    }
    void Add(WaveIn *h, Buffer &b) {
        ASSERT_EQ(WAVE_OK, WaveIn_Prepare(h, &b.hdr));
        ASSERT_EQ(WAVE_OK, WaveIn_AddBuffer(h, &b.hdr));
    }
    MsgWin *win = nullptr;
    std::vector<Posted> posted;
};

#endif
