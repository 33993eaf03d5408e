// Compile time of a grammar over a 5,000-word lexicon, and the Viterbi
// search's speed as a multiple of real time on a network of about 10,000
// states, with a wide and a narrow beam.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "gravlin.h"
#include "viterbi.h"
#include "yastro.h"

namespace {

using Clock = std::chrono::steady_clock;

double seconds(Clock::time_point a) { return std::chrono::duration<double>(Clock::now() - a).count(); }

char **statements(const std::vector<std::string> &s) {
    std::vector<const char *> t;
    for (const std::string &x : s) t.push_back(x.c_str());
    return Gravlin_copyStatements(t.data(), (int)t.size());
}

const int kPhones = 40;

// words w0 .. w(n-1), 3 to 7 phones each out of 40.
std::string writeLexicon(const std::string &dir, int n, std::mt19937 &g) {
    std::string path = dir + "/bench5000.lex";
    FILE *f = fopen(path.c_str(), "w");
    std::uniform_int_distribution<int> len(3, 7), ph(0, kPhones - 1);
    for (int w = 0; w < n; w++) {
        fprintf(f, "w%d =", w);
        for (int k = len(g); k > 0; k--) fprintf(f, " p%d", ph(g));
        fprintf(f, ";\n");
    }
    fclose(f);
    return path;
}

std::string alternatives(int from, int to) {
    std::string s = "(";
    for (int w = from; w < to; w++) s += (w > from ? " | w" : " w") + std::to_string(w);
    return s + " )";
}

double compile(GravlinNet *net, const std::vector<std::string> &grammar, int selfLoops) {
    Gravlin_init(net, nullptr, 1, selfLoops);
    char **st = statements(grammar);
    auto t0 = Clock::now();
    int rc = Gravlin_readAndExpand(st, (int)grammar.size(), net, "word", "$grammar");
    double s = seconds(t0);
    Gravlin_freeStatements(st, (int)grammar.size());
    if (rc) fprintf(stderr, "compile failed: %s\n", Gravlin_errorText());
    std::vector<std::string> spec{"frame_size 10"};
    for (int p = 0; p < kPhones; p++) spec.push_back("p" + std::to_string(p) + " " + std::to_string(p) + " 20 400 -");
    char **sp = statements(spec);
    Gravlin_cleanLines(sp, (int)spec.size(), 1);
    if (Gravlin_specUpdate(net, sp, (int)spec.size())) fprintf(stderr, "spec failed\n");
    Gravlin_freeStatements(sp, (int)spec.size());
    return s;
}

} // namespace

int main(int argc, char **argv) {
    std::string dir = argc > 1 ? argv[1] : ".";
    std::mt19937 g(7);
    std::string lex = writeLexicon(dir, 5000, g);
    GravlinNet big;
    double tBig = compile(&big, {"$grammar = " + alternatives(0, 5000), "lexicon <" + lex + ">"}, 1);
    printf("compile: one word of 5,000 over a 5,000-word lexicon: %.3f s, %d states\n", tBig, big.numStates);
    Gravlin_release(&big);

    // Four slots of 500 words each: about 10,000 phone states.
    std::vector<std::string> four{"$grammar = " + alternatives(0, 500) + " " + alternatives(500, 1000) + " " +
                                      alternatives(1000, 1500) + " " + alternatives(1500, 2000),
                                  "lexicon <" + lex + ">"};
    GravlinNet net;
    double tNet = compile(&net, four, 1);
    printf("compile: 2,000-word four-slot grammar: %.3f s, %d states\n", tNet, net.numStates);

    const int frames = 1000; // 10 s of speech at 10 ms a frame
    std::vector<std::vector<float>> rows(frames, std::vector<float>(kPhones));
    std::uniform_real_distribution<float> u(0.001f, 1.0f);
    for (auto &r : rows)
        for (float &v : r) v = u(g);
    std::vector<float *> p;
    for (auto &r : rows) p.push_back(r.data());
    for (float beam : {-500.0f, -30.0f}) {
        ViterbiRecord rec;
        if (Viterbi_init(&net, &rec, 500, beam, -5.0f, -50.0f, -1, 10, 0.5f, VITERBI_MINMAX, 1, -6.5f, -1.0f, -3.0f,
                         1e-5f, 1.0f)) {
            fprintf(stderr, "init failed: %s\n", rec.errorText);
            return 1;
        }
        auto t0 = Clock::now();
        Viterbi_search(&rec, &net, p.data(), frames, kPhones, nullptr, 0, nullptr);
        int rc = Viterbi_answer(&rec, &net);
        double s = seconds(t0);
        printf("viterbi: %d states, %d frames, beam %.0f: %.3f s = %.1f x real time (answer %s, %d words)\n",
               net.numStates, frames, beam, s, frames / 100.0 / s, rc ? "none" : "found",
               rec.words ? rec.words->count : 0);
        Viterbi_free(&rec);
    }
    Gravlin_release(&net);
    return 0;
}
