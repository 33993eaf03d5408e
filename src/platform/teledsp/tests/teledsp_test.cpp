// The line DSP against sounds nobody here made (sox) and a decoder nobody here
// wrote (multimon-ng).
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "teledsp.h"

using namespace teledsp;

namespace {

// The 16-bit samples a command writes to its output.
std::vector<int16_t> ReadPipe(const std::string &cmd) {
    FILE *p = popen(cmd.c_str(), "r");
    std::vector<int16_t> out;
    if (!p) return out;
    int16_t buf[4096];
    size_t n;
    while ((n = fread(buf, 2, 4096, p)) > 0) out.insert(out.end(), buf, buf + n);
    pclose(p);
    return out;
}

// 8 kHz 16-bit samples of what sox makes from `effects` (a synth chain).
std::vector<int16_t> Sox(const std::string &effects) {
    return ReadPipe("sox -n -t raw -r 8000 -e signed -b 16 -c 1 - " + effects + " 2>/dev/null");
}

// sox bursts: each burst `on` seconds of the tones, then `off` of silence.
std::string Bursts(const std::string &tones, double on, double off, int count) {
    std::string s;
    for (int i = 0; i < count; i++) {
        char part[256];
        snprintf(part, sizeof part, " \"|sox -n -p synth %g %s remix - vol 0.3 pad 0 %g\"", on, tones.c_str(), off);
        s += part;
    }
    return s;
}

std::vector<int16_t> SoxBursts(const std::string &tones, double on, double off, int count) {
    return ReadPipe("sox" + Bursts(tones, on, off, count) + " -t raw -r 8000 -e signed -b 16 -c 1 - 2>/dev/null");
}

std::string Detect(const std::vector<int16_t> &s) {
    DtmfDetector d;
    std::string got;
    d.Feed(s.data(), s.size(), [&](char c, bool on, long long) {
        if (on) got += c;
    });
    return got;
}

}  // namespace

TEST(Dtmf, made_digits_decode_with_multimon) {
    const std::string digits = "0123456789*#ABCD";
    std::vector<int16_t> s;
    for (char c : digits) ASSERT_TRUE(Dtmf_Append(s, c));
    std::string path = testing::TempDir() + "dtmf_made.raw";
    FILE *f = fopen(path.c_str(), "wb");
    ASSERT_TRUE(f);
    fwrite(s.data(), 2, s.size(), f);
    fclose(f);
    std::string cmd = "sox -t raw -r 8000 -e signed -b 16 -c 1 " + path +
                      " -t raw -r 22050 -e signed -b 16 -c 1 - 2>/dev/null | multimon-ng -q -c -a DTMF -t raw - 2>/dev/null";
    FILE *p = popen(cmd.c_str(), "r");
    ASSERT_TRUE(p);
    std::string got;
    char line[256];
    while (fgets(line, sizeof line, p))
        if (strncmp(line, "DTMF: ", 6) == 0) got += line[6];
    pclose(p);
    EXPECT_EQ(got, digits);
    EXPECT_EQ(Detect(s), digits);
}

TEST(Dtmf, sox_tones_by_frequency_and_length) {
    struct Case {
        const char *what;
        double low, high, seconds;
        const char *want;
    } cases[] = {
        {"a clean 5", 770, 1336, 0.1, "5"},
        {"star", 941, 1209, 0.1, "*"},
        {"D", 941, 1633, 0.1, "D"},
        {"1.5% high is still the digit", 697 * 1.015, 1209 * 1.015, 0.1, "1"},
        {"3.5% low is no digit", 697 * 0.965, 1209 * 0.965, 0.1, ""},
        {"40 ms is long enough", 852, 1477, 0.04, "9"},
        {"20 ms is too short", 852, 1477, 0.02, ""},
        {"a row tone alone is no digit", 852, 852, 0.1, ""},
    };
    for (const Case &c : cases) {
        char fx[200];
        snprintf(fx, sizeof fx, "synth %g sine %g sine %g remix - vol 0.25 pad 0.05 0.05", c.seconds, c.low, c.high);
        EXPECT_EQ(Detect(Sox(fx)), c.want) << c.what;
    }
}

TEST(Dtmf, twist_limits) {
    // Column tone 6 dB below the row tone passes, 12 dB below does not; a column
    // tone 6 dB above the row tone (reverse twist) does not.
    struct Case {
        double rowVol, colVol;
        const char *want;
    } cases[] = {{0.3, 0.15, "2"}, {0.3, 0.075, ""}, {0.15, 0.3, ""}};
    for (const Case &c : cases) {
        std::string cmd = std::string("\"|sox -n -p synth 0.1 sine 697 vol ") + std::to_string(c.rowVol) +
                          "\" \"|sox -n -p synth 0.1 sine 1336 vol " + std::to_string(c.colVol) + "\"";
        std::vector<int16_t> s =
            ReadPipe("sox -m " + cmd + " -t raw -r 8000 -e signed -b 16 -c 1 - pad 0.05 0.05 2>/dev/null");
        ASSERT_FALSE(s.empty());
        EXPECT_EQ(Detect(s), c.want) << c.rowVol << " " << c.colVol;
    }
}

namespace {

// Feeds samples and then half a second of silence to one template; answers "+" for
// each on and "-" for each off.
std::string Track(const ToneTemplate &t, std::vector<int16_t> s) {
    s.insert(s.end(), kRate / 2, 0);
    ToneTracker tr(t);
    FrameAnalyzer an;
    std::string out;
    an.Feed(s.data(), s.size(), [&](const Frame &f) {
        int r = tr.Step(f);
        if (r == 1) out += "+";
        else if (r == -1) out += "-";
        else if (r == 2) out += "+-";
    });
    return out;
}

ToneTemplate Busy(int repcount) {
    ToneTemplate t;
    t.id = 101;
    t.f1 = 480, t.f1dev = 5, t.f2 = 620, t.f2dev = 5;
    t.cadence = true;
    t.ontime = 25, t.ontimedev = 6, t.offtime = 25, t.offtimedev = 6, t.repcount = repcount;
    return t;
}

}  // namespace

TEST(Tones, cadenced_template_against_sox_tones) {
    struct Case {
        const char *what;
        const char *tones;
        double on, off;
        int count;
        const char *want;
    } cases[] = {
        {"a busy tone", "sine 480 sine 620", 0.25, 0.25, 4, "+-"},
        {"a single burst is not enough", "sine 480 sine 620", 0.25, 0.25, 1, ""},
        {"slow cadence is another tone", "sine 480 sine 620", 0.5, 0.5, 4, ""},
        {"ringback frequencies are not busy", "sine 440 sine 480", 0.25, 0.25, 4, ""},
    };
    for (const Case &c : cases) EXPECT_EQ(Track(Busy(2), SoxBursts(c.tones, c.on, c.off, c.count)), c.want) << c.what;
}

TEST(Tones, steady_templates_and_edges) {
    ToneTemplate t;
    t.id = 5;
    t.f1 = 1000, t.f1dev = 20;
    std::vector<int16_t> tone = Sox("synth 0.3 sine 1000 vol 0.3 pad 0.1 0.2");
    EXPECT_EQ(Track(t, tone), "+-");
    t.edge = TONE_TRAILING;
    EXPECT_EQ(Track(t, tone), "+-");
    t.edge = TONE_LEADING;
    EXPECT_EQ(Track(t, Sox("synth 0.3 sine 1050 vol 0.3 pad 0.1 0.2")), "") << "outside the deviation";
    t.f2 = 1400, t.f2dev = 20;
    EXPECT_EQ(Track(t, Sox("synth 0.3 sine 1000 vol 0.3 pad 0.1 0.2")), "") << "a dual template wants both";
    EXPECT_EQ(Track(t, Sox("synth 0.3 sine 1000 sine 1400 remix - vol 0.3 pad 0.1 0.2")), "+-");
}

TEST(Tones, bands_outside_the_line_are_refused) {
    struct Case {
        int f1, f1dev, f2, f2dev;
        bool valid;
    } cases[] = {{1000, 20, 0, 0, true}, {10, 20, 0, 0, false}, {3990, 20, 0, 0, false},
                 {480, 5, 4100, 5, false}, {480, 5, 620, -1, false}, {4000, 0, 0, 0, true}};
    for (const Case &c : cases) {
        ToneTemplate t;
        t.f1 = c.f1, t.f1dev = c.f1dev, t.f2 = c.f2, t.f2dev = c.f2dev;
        EXPECT_EQ(t.Valid(), c.valid) << c.f1 << "+-" << c.f1dev << " " << c.f2 << "+-" << c.f2dev;
    }
}

TEST(CallProgress, results_from_sox_signals) {
    struct Case {
        const char *what;
        std::vector<int16_t> sound;
        CpaResult want;
    } cases[] = {
        {"busy", SoxBursts("sine 480 sine 620", 0.5, 0.5, 3), CPA_BUSY},
        {"fax answer tone", Sox("synth 1 sine 2100 vol 0.3"), CPA_FAX},
        {"special information tones", Sox("synth 0.33 sine 913.8 vol 0.3 : synth 0.33 sine 1370.6 vol 0.3 : synth 0.38 sine 1776.7 vol 0.3"), CPA_INTERCEPT},
        {"ringback then a voice", Sox("synth 1 sine 440 sine 480 remix - vol 0.3 pad 0 0.5 : synth 1.5 pinknoise vol 0.3 tremolo 4 60"), CPA_CONNECT},
        {"silence", Sox("trim 0 3.5"), CPA_NO_RINGBACK},
    };
    for (const Case &c : cases) {
        CallProgress cp;
        ASSERT_FALSE(c.sound.empty()) << c.what;
        EXPECT_EQ(Cpa_Name(cp.Feed(c.sound.data(), c.sound.size())), std::string(Cpa_Name(c.want))) << c.what;
    }
    CallProgress cp;
    std::vector<int16_t> voice = Sox("synth 1.5 pinknoise vol 0.3");
    cp.Feed(voice.data(), voice.size());
    EXPECT_EQ(cp.ConnectType(), 3);
}
