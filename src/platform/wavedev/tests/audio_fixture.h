// A message window that keeps what the devices post, and an event loop to pump it.
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
    MsgWin *win = nullptr;
    std::vector<Posted> posted;
};

#endif
