// Face benchmarks.
//  1. prep of 60 s of phonemes (a sentence repeated, 60 to 150 ms per phoneme,
//     a word every few phonemes): time per preparation against the 60 s the
//     speech lasts.
//  2. Frames per second drawn offscreen at 640 x 480 while an utterance
//     plays (showFrame with glFinish every frame), for a small and a large
//     generated head, against the 30 frames per second of the face's clock.
//  3. The 38-parameter face (type 9): markup of a 60 s text whose words
//     carry every tag kind in turn (some none), then every
//     frame drawn offscreen; the time of both against the 60 s of speech.
#include <chrono>
#include <cstdio>
#include <string>

#include "engine.h"
#include "glcontext.h"

using brovana::BrovanaEngine;
using Clock = std::chrono::steady_clock;

namespace {

double Seconds(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double>(b - a).count(); }

// "the quick brown fox jumps over the lazy dog" in worldbet, with pauses
const char *kSentence[] = {".pau", "D", "&", "k", "w", "I", "k", "b", "9r", "aU", "n", "f", ">", "k", "s",
                           "dZ", "^", "m", "p", "s", "oU", "v", "3r", "D", "&", "l", "ei", "z", "i:",
                           "d", ">", "g", ".pau"};
const int kWordStarts[] = {1, 4, 8, 12, 15, 20, 23, 25, 30};

// Adds about seconds of phonemes; answers the number of words.
int Say(BrovanaEngine &e, double seconds) {
    e.reset();
    double t = 0;
    int words = 0;
    int n = sizeof kSentence / sizeof kSentence[0];
    for (int i = 0; t < seconds * 1000; i++) {
        int k = i % n;
        float ms = 60.0f + (float)((i * 37) % 91);
        bool word = false;
        for (int w : kWordStarts) word |= w == k;
        e.addPhoneme(kSentence[k], ms, word ? "w" : "", false);
        words += word;
        t += ms;
    }
    return words;
}

void Speak(BrovanaEngine &e, double seconds) {
    Say(e, seconds);
    e.prep();
}

std::string MarkedText(int words) {
    static const char *const tags[] = {" <FET=SMILE>",    "", " <HGT=Y,1,300>", " <EYEB=2,B>",  " <FET=NEUT>",
                                       " <EYEM=0,1,A,B>", "", " <TON=TIP,2>",   " <POST=WAVE>", " <BODY=GREET>"};
    const int n = sizeof tags / sizeof tags[0];
    std::string text;
    for (int i = 0; i < words; i++) text += std::string(i ? " w" : "w") + tags[i % n];
    return text;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: face_bench SMALL4 ?LARGE4? ?TYPE9?\n");
        return 2;
    }
    {
        BrovanaEngine e;
        if (!e.load(4, argv[1])) {
            fprintf(stderr, "cannot load %s: %s\n", argv[1], e.lastError().c_str());
            return 1;
        }
        const int runs = 5;
        auto a = Clock::now();
        for (int r = 0; r < runs; r++) Speak(e, 60);
        double per = Seconds(a, Clock::now()) / runs;
        printf("prep of %.1f s of speech (%d frames): %.1f ms, %.0fx faster than real time\n", e.duration() / 1000,
               e.frameCount(), per * 1000, e.duration() / 1000 / per);
    }
    std::string err;
    const int W = 640, H = 480;
    GlContext *ctx = GlContext_CreateOffscreen(W, H, &err);
    if (!ctx) {
        fprintf(stderr, "no offscreen context: %s\n", err.c_str());
        return 1;
    }
    for (int i = 1; i < argc && i < 3; i++) {
        BrovanaEngine e;
        e.setGlEnabled(true);
        if (!e.load(4, argv[i])) {
            fprintf(stderr, "cannot load %s: %s\n", argv[i], e.lastError().c_str());
            return 1;
        }
        e.setViewport(0, 0, W, H);
        e.setPerspective(30, 1, 1, 100);
        e.setViewpoint(0, -8, -0.6, 0, 0, -0.6);
        Speak(e, 10);
        int frames = e.frameCount() - 1;
        auto a = Clock::now();
        for (int n = 0; n < frames; n++) e.showFrame(n);
        double s = Seconds(a, Clock::now());
        const brovana::MeshObject *o = e.object(0);
        printf("%s: head of %d vertices and %d triangles: %d frames in %.2f s = %.1f frames/s (%.1fx the 30 needed)\n",
               argv[i], o->V, o->F, frames, s, frames / s, frames / s / 30);
    }
    if (argc > 3) {
        BrovanaEngine e;
        e.setGlEnabled(true);
        if (!e.load(9, argv[3])) {
            fprintf(stderr, "cannot load %s: %s\n", argv[3], e.lastError().c_str());
            return 1;
        }
        e.setViewport(0, 0, W, H);
        e.setPerspective(30, 1, 1, 100);
        e.setViewpoint(0, -8, -0.6, 0, 0, -0.6);
        int words = Say(e, 60);
        std::string text = MarkedText(words);
        brovana::MarkupError merr;
        auto a = Clock::now();
        if (e.prepMarkedText(text, false, &merr)) {
            fprintf(stderr, "markup failed: %s\n", merr.message.c_str());
            return 1;
        }
        double prepS = Seconds(a, Clock::now());
        int frames = e.frameCount() - 1;
        for (int n = 0; n < frames; n++) e.showFrame(n);
        double s = Seconds(a, Clock::now());
        printf("type 9, %d words marked up over %.1f s: markup %.2f s, markup and %d frames %.2f s = %.3f of the "
               "speech's time\n",
               words, e.duration() / 1000, prepS, frames, s, s / (e.duration() / 1000));
    }
    GlContext_Destroy(ctx);
    return 0;
}
