// The touch-tone detector on an hour of 8 kHz sound against multimon-ng on the same
// sound, in one run. The hour holds a digit every few seconds over low noise; both
// decoders must find the same digits, and the ratio of their times is the result.
// multimon-ng reads 22050 Hz, so the file is converted before its clock starts.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "teledsp.h"

using namespace teledsp;

static double Seconds(std::chrono::steady_clock::time_point a) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - a).count();
}

int main(int argc, char **argv) {
    const long total = 3600L * kRate;
    const char *keys = "0123456789*#ABCD";
    std::mt19937 rng(7);
    std::normal_distribution<double> noise(0, 60);
    std::vector<int16_t> s;
    s.reserve(total + kRate);
    std::string sent;
    long k = 0;
    while ((long)s.size() < total) {
        long gap = 2 * kRate + (long)(rng() % (2 * kRate));
        for (long i = 0; i < gap; i++) s.push_back((int16_t)noise(rng));
        char d = keys[k++ % 16];
        size_t at = s.size();
        Dtmf_Append(s, d, 80, 80);
        for (size_t i = at; i < s.size(); i++) s[i] = (int16_t)(s[i] + noise(rng));
        sent += d;
    }
    std::string dir = argc > 1 ? argv[1] : ".";
    std::string raw = dir + "/dtmf_hour.raw", raw22 = dir + "/dtmf_hour_22050.raw";
    FILE *f = fopen(raw.c_str(), "wb");
    if (!f) return 1;
    fwrite(s.data(), 2, s.size(), f);
    fclose(f);
    std::string conv = "sox -t raw -r 8000 -e signed -b 16 -c 1 " + raw + " -t raw -r 22050 -e signed -b 16 -c 1 " + raw22;
    if (system(conv.c_str()) != 0) return 1;

    auto t0 = std::chrono::steady_clock::now();
    DtmfDetector det;
    std::string ours;
    det.Feed(s.data(), s.size(), [&](char d, bool on, long long) {
        if (on) ours += d;
    });
    double tOurs = Seconds(t0);

    t0 = std::chrono::steady_clock::now();
    std::string cmd = "multimon-ng -q -c -a DTMF -t raw " + raw22 + " 2>/dev/null";
    FILE *p = popen(cmd.c_str(), "r");
    if (!p) return 1;
    std::string theirs;
    char line[256];
    while (fgets(line, sizeof line, p))
        if (std::string(line).rfind("DTMF: ", 0) == 0) theirs += line[6];
    pclose(p);
    double tTheirs = Seconds(t0);
    remove(raw.c_str());
    remove(raw22.c_str());

    printf("dtmf: one hour of 8 kHz sound, %zu digits sent\n", sent.size());
    printf("  detector     %7.3f s  %zu digits %s\n", tOurs, ours.size(), ours == sent ? "(all right)" : "(MISMATCH)");
    printf("  multimon-ng  %7.3f s  %zu digits %s\n", tTheirs, theirs.size(),
           theirs == sent ? "(all right)" : "(MISMATCH)");
    printf("  ratio detector/multimon-ng: %.3f\n", tOurs / tTheirs);
    return ours == sent ? 0 : 1;
}
