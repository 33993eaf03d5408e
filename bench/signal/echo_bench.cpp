// The NLMS canceller against libspeexdsp's on the echo of half a minute of speech,
// in one run: the same made path, the same taps, the same 10 ms blocks. Prints both
// echo-return-loss enhancements and the ratio of their times.
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "echo_peer.h"
#include "speech_fixture.h"

static double Seconds(std::chrono::steady_clock::time_point a) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - a).count();
}

int main() {
    const int taps = 256, frame = 80;
    std::string dir = fixture::tempDir();
    std::string text;
    for (int i = 0; i < 6; i++) text += "The rain in Spain stays mainly in the plain, said the old man to the children. ";
    std::vector<int16_t> far = fixture::speech(dir, text, 8000);
    fixture::run("rm -rf " + dir);
    if (far.size() < 8000) {
        fprintf(stderr, "echo_bench: espeak-ng or sox missing\n");
        return 1;
    }
    far.resize(far.size() / frame * frame);
    std::vector<int16_t> near = echopeer::echoOf(far, 40);

    auto t0 = std::chrono::steady_clock::now();
    std::vector<int16_t> ours = echopeer::nlms(far, near, taps, frame);
    double mine = Seconds(t0);
    t0 = std::chrono::steady_clock::now();
    std::vector<int16_t> peer = echopeer::speex(far, near, taps, frame);
    double theirs = Seconds(t0);

    size_t from = 8000, to = std::min(ours.size(), peer.size());
    printf("echo cancellation, %d taps, %.1f s of speech: NLMS %.3f s (ERLE %.1f dB), libspeexdsp %.3f s "
           "(ERLE %.1f dB), time ratio %.2f\n",
           taps, far.size() / 8000.0, mine, echopeer::erle(near, ours, from, to), theirs,
           echopeer::erle(near, peer, from, to), mine / theirs);
    return 0;
}
