#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "urvane.h"
#include "yastro.h"

namespace {

// A made vowel: a pulse train at f0 through two formant resonators.
struct Vowel {
    std::vector<float> x;
    std::vector<int> pulses;
};

Vowel vowel(float f0, float rate, int n) {
    Vowel v;
    std::vector<double> e(n, 0.0);
    double period = rate / f0;
    for (double t = 0.013 * rate; t < n; t += period) {
        v.pulses.push_back((int)t);
        e[(int)t] = 1.0;
    }
    std::vector<double> y = e;
    for (double f : {700.0, 1200.0}) {
        double r = std::exp(-M_PI * 80 / rate), c = 2 * r * std::cos(2 * M_PI * f / rate);
        std::vector<double> z(n, 0.0);
        for (int i = 0; i < n; i++) z[i] = y[i] + (i > 0 ? c * z[i - 1] : 0) - (i > 1 ? r * r * z[i - 2] : 0);
        y = z;
    }
    double peak = 0;
    for (double s : y) peak = std::max(peak, std::fabs(s));
    for (double s : y) v.x.push_back((float)std::round(s / peak * 12000));
    return v;
}

TEST(Urvane, MarksOfMadeVowelsLieOnTheirPulses) {
    for (float f0 : {100.0f, 160.0f, 240.0f}) {
        const float rate = 8000;
        Vowel v = vowel(f0, rate, 8000);
        WaveRecord *w = Wave_New((int)v.x.size(), rate);
        for (size_t i = 0; i < v.x.size(); i++) w->samples[i] = (int16_t)v.x[i];
        UrvaneParams *p = urvane_Default();
        Urvane *u = urvane_Init(p);
        DB_Free(p, __FILE__, __LINE__);
        std::vector<float> pulse(w->len);
        urvane_PulseTrain(u, w, pulse.data());
        WaveRecord *m = urvane_Mark(v.x.data(), pulse.data(), w->len, rate);
        std::vector<int> marks;
        for (int i = 0; i < m->len; i++)
            if (m->samples[i] > 0) marks.push_back(i);
        // Every mark within 1 ms of a pulse, and nearly every pulse marked.
        int near = 0;
        for (int k : marks) {
            int best = 1 << 30;
            for (int q : v.pulses) best = std::min(best, std::abs(q - k));
            near += best <= rate / 1000;
        }
        EXPECT_EQ(near, (int)marks.size()) << f0;
        EXPECT_GE(marks.size() + 3, v.pulses.size()) << f0;
        Wave_Free(m);
        Wave_Free(w);
        urvane_Nuke(u);
    }
}

TEST(Urvane, SilenceHasNoMarks) {
    std::vector<float> zero(800, 0.0f);
    WaveRecord *m = urvane_Mark(zero.data(), zero.data(), 800, 8000);
    int n = 0;
    for (int i = 0; i < m->len; i++) n += m->samples[i] > 0;
    EXPECT_EQ(n, 0);
    Wave_Free(m);
}

TEST(Urvane, MedianFilterIsCentredAndCutAtTheEdges) {
    float in[] = {5, 1, 9, 2, 8, 3};
    float out[6];
    medianFilter(in, out, 6, 3);
    EXPECT_EQ(std::vector<float>(out, out + 6), (std::vector<float>{5, 5, 2, 8, 3, 8}));
}

}  // namespace
