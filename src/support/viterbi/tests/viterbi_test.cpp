// Viterbi search: best paths worked out by hand on small networks, and the
// best path and its cost against OpenFst's shortest path over the same
// trellis.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "gravlin.h"
#include "viterbi.h"
#include "yastro.h"

namespace {

char **statements(const std::vector<std::string> &s) {
    std::vector<const char *> t;
    for (const std::string &x : s) t.push_back(x.c_str());
    return Gravlin_copyStatements(t.data(), (int)t.size());
}

struct Net {
    GravlinNet n;
    Net(const std::vector<std::string> &grammar, const std::vector<std::string> &spec, int selfLoops = 1) {
        Gravlin_init(&n, nullptr, 1, selfLoops);
        char **g = statements(grammar);
        EXPECT_EQ(0, Gravlin_readAndExpand(g, (int)grammar.size(), &n, "word", "$grammar")) << Gravlin_errorText();
        Gravlin_freeStatements(g, (int)grammar.size());
        char **s = statements(spec);
        Gravlin_cleanLines(s, (int)spec.size(), 1);
        EXPECT_EQ(0, Gravlin_specUpdate(&n, s, (int)spec.size())) << Gravlin_errorText();
        Gravlin_freeStatements(s, (int)spec.size());
    }
    ~Net() { Gravlin_release(&n); }
    void noDurations() {
        for (int i = 0; i < n.numStates; i++) n.states[i].durParam1 = n.states[i].durParam2 = -1.0f;
    }
};

struct Matrix {
    int cols;
    std::vector<std::vector<float>> rows;
    std::vector<float *> ptrs;
    explicit Matrix(int c) : cols(c) {}
    // n frames that favour category k.
    Matrix &frames(int k, int n, float hit = 0.9f) {
        for (int i = 0; i < n; i++) {
            rows.push_back(std::vector<float>(cols, (1.0f - hit) / (cols - 1)));
            rows.back()[k] = hit;
        }
        return *this;
    }
    float **p() {
        ptrs.clear();
        for (auto &r : rows) ptrs.push_back(r.data());
        return ptrs.data();
    }
    int n() const { return (int)rows.size(); }
};

struct Search {
    ViterbiRecord rec;
    int init(GravlinNet *net, int model = VITERBI_MINMAX, float beam = -500.0f, int cutoff = 0, int target = -1,
             int variance = 10) {
        return Viterbi_init(net, &rec, 500, beam, -5.0f, -50.0f, target, variance, 0.5f, model, cutoff, -6.5f, -1.0f,
                            -3.0f, 1e-5f, 1.0f);
    }
    ~Search() { Viterbi_free(&rec); }
};

std::string segs(const HalbrinList *l) {
    std::string s;
    for (int i = 0; l && i < l->count; i++)
        s += std::string(s.empty() ? "" : " ") + l->segments[i].label + "@" + std::to_string(l->segments[i].begin) + "-" +
             std::to_string(l->segments[i].end);
    return s;
}

const std::vector<std::string> kDigits = {"$grammar = ( one | two | three | oh ) <+>", "one = w ah n", "two = t uw",
                                          "three = th r iy", "oh = ow"};
const char *kPhones[] = {"w", "ah", "n", "t", "uw", "th", "r", "iy", "ow"};

std::vector<std::string> digitSpec(int minMs = 10, int maxMs = 500) {
    std::vector<std::string> s{"frame_size 10"};
    for (int i = 0; i < 9; i++)
        s.push_back(std::string(kPhones[i]) + " " + std::to_string(i) + " " + std::to_string(minMs) + " " +
                    std::to_string(maxMs) + " -");
    return s;
}

int phone(const char *p) {
    for (int i = 0; i < 9; i++)
        if (strcmp(kPhones[i], p) == 0) return i;
    return -1;
}

} // namespace

TEST(Viterbi, finds_the_words_phones_and_states_the_frames_encode) {
    Net net(kDigits, digitSpec());
    Matrix m(9);
    // "two one one": t uw | w ah n | w ah n
    for (auto &f : std::vector<std::pair<const char *, int>>{{"t", 3}, {"uw", 4}, {"w", 2}, {"ah", 3}, {"n", 2},
                                                              {"w", 3}, {"ah", 2}, {"n", 4}})
        m.frames(phone(f.first), f.second);
    Search s;
    ASSERT_EQ(0, s.init(&net.n)) << s.rec.errorText;
    ASSERT_EQ(0, Viterbi_search(&s.rec, &net.n, m.p(), m.n(), 9, nullptr, 0, nullptr));
    ASSERT_EQ(0, Viterbi_answer(&s.rec, &net.n)) << s.rec.errorText;
    EXPECT_EQ("two@0-7 one@7-14 one@14-23", segs(s.rec.words));
    EXPECT_EQ("t@0-3 uw@3-7 w@7-9 ah@9-12 n@12-14 w@14-17 ah@17-19 n@19-23", segs(s.rec.phonemes));
    EXPECT_EQ(segs(s.rec.phonemes), segs(s.rec.states));
    EXPECT_EQ(23, s.rec.endFrame);
    EXPECT_EQ(10.0f, s.rec.msPerFrame);
    // Three word boundaries inside, one into the end state, and every frame
    // at 0.9.
    double want = 23 * std::log(0.9) + 4 * -3.0;
    EXPECT_NEAR(want, s.rec.score, 1e-3);
    double sum = 0;
    for (int i = 0; i < s.rec.words->count; i++) sum += s.rec.words->segments[i].score;
    EXPECT_NEAR(want, sum, 1e-3);
    EXPECT_NEAR(3 * std::log(0.9) - 3.0, s.rec.phonemes->segments[0].score, 1e-4);
}

TEST(Viterbi, a_search_in_pieces_equals_one_search) {
    Net net(kDigits, digitSpec());
    Matrix m(9);
    m.frames(phone("th"), 3).frames(phone("r"), 2).frames(phone("iy"), 4).frames(phone("ow"), 5);
    Search whole, parts;
    ASSERT_EQ(0, whole.init(&net.n));
    ASSERT_EQ(0, parts.init(&net.n));
    ASSERT_EQ(0, Viterbi_search(&whole.rec, &net.n, m.p(), m.n(), 9, nullptr, 0, nullptr));
    float **p = m.p();
    ASSERT_EQ(0, Viterbi_search(&parts.rec, &net.n, p, 5, 9, nullptr, 0, nullptr));
    ASSERT_EQ(0, Viterbi_answerSoFar(&parts.rec, &net.n));
    EXPECT_EQ("three@0-5", segs(parts.rec.words));
    ASSERT_EQ(0, Viterbi_search(&parts.rec, &net.n, p + 5, m.n() - 5, 9, nullptr, 0, nullptr));
    ASSERT_EQ(0, Viterbi_answer(&whole.rec, &net.n));
    ASSERT_EQ(0, Viterbi_answer(&parts.rec, &net.n));
    EXPECT_EQ("three@0-9 oh@9-14", segs(parts.rec.words));
    EXPECT_EQ(segs(whole.rec.states), segs(parts.rec.states));
    EXPECT_FLOAT_EQ(whole.rec.score, parts.rec.score);
    ASSERT_EQ(0, Viterbi_reset(&parts.rec));
    EXPECT_EQ(1, Viterbi_answer(&parts.rec, &net.n));
    EXPECT_STREQ("no path reaches the end of the network after 0 frames", parts.rec.errorText);
}

namespace {

// The duration cost of one stay of d frames in a state whose minimum and
// maximum are lo and hi frames, written from the models' definitions.
double stayCost(int model, double lo, double hi, int d) {
    if (model == VITERBI_MINMAX) return (d < lo ? -6.5 * (lo - d) : 0.0) + (d > hi ? -1.0 * (d - hi) : 0.0);
    double m = std::max(1.0, (lo + hi) / 2);
    if (model == VITERBI_EXPONENTIAL) return (d - 1) * std::log(1 - 1 / m) + std::log(1 / m);
    double sd = std::max(0.5, (hi - lo) / 4), k = m * m / (sd * sd), th = sd * sd / m;
    auto lp = [&](double x) { return (k - 1) * std::log(x) - x / th; };
    return lp(d) - lp(k >= 1 ? (k - 1) * th : 1.0);
}

// The best score over every split of the frames into one stay per phone of
// "w ah n" (categories 0, 1, 2), with the two word boundaries.
double bestSplit(const Matrix &m, int model, double lo, double hi) {
    double best = -1e30;
    int T = m.n();
    for (int a = 1; a < T; a++)
        for (int b = 1; a + b < T; b++) {
            int d[3] = {a, b, T - a - b}, f = 0;
            double v = 2 * -3.0;
            for (int k = 0; k < 3; k++) {
                for (int i = 0; i < d[k]; i++, f++) v += std::log((double)m.rows[f][k]);
                v += stayCost(model, lo, hi, d[k]);
            }
            best = std::max(best, v);
        }
    return best;
}

} // namespace

TEST(Viterbi, durations_shape_the_path) {
    // Frames say: w for 1, ah for 6, n for 1. A minimum of 3 frames per
    // phone (maximum 5) moves the boundaries under minmax; gamma, whose
    // best stay is near 4 frames here, stretches w and n and shortens ah
    // (the best way into n, after 5 frames of ah, is not the best path).
    Matrix m(9);
    m.frames(phone("w"), 1, 0.6f).frames(phone("ah"), 6, 0.6f).frames(phone("n"), 1, 0.6f);
    struct Case { int model; int minMs, maxMs; const char *want; } cases[] = {
        {VITERBI_MINMAX, 10, 60, "w@0-1 ah@1-7 n@7-8"},
        {VITERBI_MINMAX, 30, 50, "w@0-3 ah@3-6 n@6-8"},
        {VITERBI_EXPONENTIAL, 10, 60, "w@0-1 ah@1-7 n@7-8"},
        {VITERBI_GAMMA, 20, 60, "w@0-2 ah@2-6 n@6-8"},
    };
    for (const Case &c : cases) {
        Net net({"$grammar = one", "one = w ah n"}, digitSpec(c.minMs, c.maxMs));
        Search s;
        ASSERT_EQ(0, s.init(&net.n, c.model));
        ASSERT_EQ(0, Viterbi_search(&s.rec, &net.n, m.p(), m.n(), 9, nullptr, 0, nullptr));
        ASSERT_EQ(0, Viterbi_answer(&s.rec, &net.n));
        EXPECT_EQ(c.want, segs(s.rec.phonemes)) << c.model << " " << c.minMs;
        EXPECT_NEAR(bestSplit(m, c.model, c.minMs / 10.0, c.maxMs / 10.0), s.rec.score, 1e-4) << c.minMs;
    }
}

TEST(Viterbi, every_stay_is_searched_not_only_the_best_way_in) {
    // The path that reaches a state best is not always the one to keep: a
    // later entry has more frames left before a maximum (minmax) or sits
    // nearer the likeliest length (gamma). On random frames the search
    // must match the best split found by trying them all.
    std::mt19937 g(5);
    std::uniform_real_distribution<float> u(0.05f, 1.0f);
    struct Case { int model; int minMs, maxMs; } cases[] = {
        {VITERBI_MINMAX, 10, 40},  {VITERBI_MINMAX, 20, 30}, {VITERBI_MINMAX, 40, 60},
        {VITERBI_GAMMA, 20, 60},   {VITERBI_GAMMA, 30, 90},  {VITERBI_EXPONENTIAL, 20, 80},
    };
    for (const Case &c : cases)
        for (int round = 0; round < 6; round++) {
            Matrix m(9);
            for (int f = 0; f < 14; f++) {
                m.rows.push_back(std::vector<float>(9, 0.01f));
                for (int k = 0; k < 3; k++) m.rows.back()[k] = u(g);
            }
            Net net({"$grammar = one", "one = w ah n"}, digitSpec(c.minMs, c.maxMs));
            Search s;
            ASSERT_EQ(0, s.init(&net.n, c.model, -1e9f));
            ASSERT_EQ(0, Viterbi_search(&s.rec, &net.n, m.p(), m.n(), 9, nullptr, 0, nullptr));
            ASSERT_EQ(0, Viterbi_answer(&s.rec, &net.n));
            EXPECT_NEAR(bestSplit(m, c.model, c.minMs / 10.0, c.maxMs / 10.0), s.rec.score, 1e-3)
                << "model " << c.model << " " << c.minMs << "-" << c.maxMs << " round " << round;
            // Segment scores add up to the path's score.
            double sum = 0;
            for (int i = 0; i < s.rec.phonemes->count; i++) sum += s.rec.phonemes->segments[i].score;
            EXPECT_NEAR(s.rec.score, sum, 1e-3);
        }
}

TEST(Viterbi, transition_probabilities_steer_the_path) {
    Net net({"$grammar = a ( b | c )", "a = x", "b = y", "c = z"}, {"frame_size 10", "x 0 0 0 -", "y 1 0 0 -", "z 1 0 0 -"});
    net.noDurations();
    int x = -1, y = -1, z = -1;
    for (int i = 0; i < net.n.numStates; i++) {
        std::string nm = net.n.states[i].name;
        if (nm == "x") x = i;
        if (nm == "y") y = i;
        if (nm == "z") z = i;
    }
    Matrix m(2);
    m.frames(0, 2).frames(1, 2);
    std::vector<std::vector<float>> trans(m.n(), std::vector<float>{1.0f, 1.0f});
    trans[2] = {0.1f, 0.8f}; // entering y (pair 0) or z (pair 1) at frame 2
    std::vector<float *> tp;
    for (auto &r : trans) tp.push_back(r.data());
    int pairs[2][2] = {{y, x}, {z, x}};
    Search s;
    ASSERT_EQ(0, s.init(&net.n));
    ASSERT_EQ(0, Viterbi_search(&s.rec, &net.n, m.p(), m.n(), 2, tp.data(), 2, pairs));
    ASSERT_EQ(0, Viterbi_answer(&s.rec, &net.n));
    // Entering y at frame 2 costs log 0.1, z log 0.8.
    EXPECT_EQ("a@0-2 c@2-4", segs(s.rec.words));
    Search plain;
    ASSERT_EQ(0, plain.init(&net.n));
    ASSERT_EQ(0, Viterbi_search(&plain.rec, &net.n, m.p(), m.n(), 2, nullptr, 0, nullptr));
    ASSERT_EQ(0, Viterbi_answer(&plain.rec, &net.n));
    EXPECT_EQ("a@0-2 b@2-4", segs(plain.rec.words));
    EXPECT_NEAR(plain.rec.score + std::log(0.8), s.rec.score, 1e-4);
    int badPairs[1][2] = {{99, x}};
    Search t;
    ASSERT_EQ(0, t.init(&net.n));
    EXPECT_EQ(1, Viterbi_search(&t.rec, &net.n, m.p(), m.n(), 2, tp.data(), 1, badPairs));
    EXPECT_EQ("transition pair 0 {99 " + std::to_string(x) + "} names a state outside the network",
              std::string(t.rec.errorText));
}

TEST(Viterbi, refusals_and_cutoffs) {
    Net net({"$grammar = one two", "one = w ah n", "two = t uw"}, digitSpec(), 0);
    Matrix narrow(3);
    narrow.frames(0, 3);
    Search s;
    ASSERT_EQ(0, s.init(&net.n));
    EXPECT_EQ(1, Viterbi_search(&s.rec, &net.n, narrow.p(), narrow.n(), 3, nullptr, 0, nullptr));
    EXPECT_NE(nullptr, strstr(s.rec.errorText, "but the probability matrix has 3 columns")) << s.rec.errorText;
    // Without self links "one two" needs five frames: three are too few,
    // unless the answer may stop inside the network.
    Matrix m(9);
    m.frames(0, 1).frames(1, 1).frames(2, 1);
    ASSERT_EQ(0, Viterbi_search(&s.rec, &net.n, m.p(), m.n(), 9, nullptr, 0, nullptr));
    EXPECT_EQ(1, Viterbi_answer(&s.rec, &net.n));
    Search c;
    ASSERT_EQ(0, c.init(&net.n, VITERBI_MINMAX, -500.0f, 1));
    ASSERT_EQ(0, Viterbi_search(&c.rec, &net.n, m.p(), m.n(), 9, nullptr, 0, nullptr));
    ASSERT_EQ(0, Viterbi_answer(&c.rec, &net.n));
    EXPECT_EQ("one@0-3", segs(c.rec.words));
    GravlinNet empty;
    Gravlin_init(&empty, nullptr, 1, 0);
    Search e;
    EXPECT_EQ(1, e.init(&empty));
    EXPECT_STREQ("network \"grammar\" has no start and end state", e.rec.errorText);
    Gravlin_release(&empty);
    GravlinNet bare;
    Gravlin_init(&bare, nullptr, 1, 0);
    char **g = statements({"$grammar = a"});
    ASSERT_EQ(0, Gravlin_readAndExpand(g, 1, &bare, "word", "$grammar"));
    Gravlin_freeStatements(g, 1);
    Search b;
    EXPECT_EQ(1, b.init(&bare));
    EXPECT_STREQ("state 2 \"a\" has no category: apply a unit specification first", b.rec.errorText);
    Gravlin_release(&bare);
}

TEST(Viterbi, an_adaptive_beam_keeps_near_its_target) {
    Net net(kDigits, digitSpec());
    Matrix m(9);
    std::mt19937 g(3);
    std::uniform_real_distribution<float> u(0.01f, 1.0f);
    for (int f = 0; f < 60; f++) {
        m.rows.push_back(std::vector<float>(9));
        for (float &v : m.rows.back()) v = u(g);
    }
    Search wide, tight;
    ASSERT_EQ(0, wide.init(&net.n));
    ASSERT_EQ(0, tight.init(&net.n, VITERBI_MINMAX, -500.0f, 0, 2, 1));
    ASSERT_EQ(0, Viterbi_search(&wide.rec, &net.n, m.p(), m.n(), 9, nullptr, 0, nullptr));
    ASSERT_EQ(0, Viterbi_search(&tight.rec, &net.n, m.p(), m.n(), 9, nullptr, 0, nullptr));
    EXPECT_GT(tight.rec.beam, tight.rec.beamThreshold);
    EXPECT_LE(tight.rec.beam, -50.0f);
    EXPECT_EQ(-500.0f, wide.rec.beam);
    ASSERT_EQ(0, Viterbi_answer(&wide.rec, &net.n));
    if (Viterbi_answer(&tight.rec, &net.n) == 0) {
        EXPECT_LE(tight.rec.score, wide.rec.score + 1e-3);
    }
}

namespace {

// The trellis of a network and a matrix as a text FST: state 0 before the
// first frame, 1 the final state, 2 + t * N + s the network state s at
// frame t; costs are the search's scores negated. The search takes a self
// link as a stay without link cost.
std::string trellis(const GravlinNet *net, const Matrix &m, float wb, float floorP) {
    std::ostringstream o;
    o.precision(9);
    int N = net->numStates, T = m.n();
    auto emit = [&](int t, int s) { return std::log(std::max((double)m.rows[t][net->states[s].category], (double)floorP)); };
    auto id = [&](int t, int s) { return 2 + t * N + s; };
    for (int k = 0; k < net->states[net->enter].numTo; k++) {
        const GravlinLink &l = net->states[net->enter].toLinks[k];
        if (l.state == net->exit) continue;
        o << 0 << " " << id(0, l.state) << " " << l.state + 1 << " " << l.state + 1 << " "
          << -(emit(0, l.state) + (l.wordBoundary ? wb : 0)) << "\n";
    }
    for (int t = 0; t < T; t++)
        for (int s = 0; s < N; s++) {
            if (net->states[s].type != GRAVLIN_ITEM) continue;
            for (int k = 0; k < net->states[s].numTo; k++) {
                const GravlinLink &l = net->states[s].toLinks[k];
                // Staying costs nothing: the search's reading of a self link.
                double c = l.wordBoundary && l.state != s ? wb : 0;
                if (l.state == net->exit) {
                    if (t == T - 1) o << id(t, s) << " 1 0 0 " << -c << "\n";
                } else if (t + 1 < T) {
                    o << id(t, s) << " " << id(t + 1, l.state) << " " << l.state + 1 << " " << l.state + 1 << " "
                      << -(c + emit(t + 1, l.state)) << "\n";
                }
            }
        }
    o << "1\n";
    return o.str();
}

std::string run(const std::string &cmd) {
    std::string out;
    FILE *p = popen(cmd.c_str(), "r");
    if (!p) return out;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    pclose(p);
    return out;
}

} // namespace

TEST(Viterbi, agrees_with_openfst_shortest_path) {
    if (run("command -v fstshortestpath").empty()) GTEST_SKIP() << "OpenFst tools (libfst-tools) are not installed";
    std::string dir = getenv("TOVIK_BUILD") ? getenv("TOVIK_BUILD") : "/tmp";
    std::mt19937 g(11);
    std::uniform_real_distribution<float> u(0.0f, 1.0f);
    for (int round = 0; round < 4; round++) {
        Net net(kDigits, digitSpec());
        net.noDurations();
        Matrix m(9);
        // Noisy frames around a spoken "oh three two".
        const char *say[] = {"ow", "ow", "ow", "th", "th", "r", "r", "iy", "iy", "iy", "t", "t", "uw", "uw", "uw"};
        for (const char *p : say) {
            m.rows.push_back(std::vector<float>(9));
            for (float &v : m.rows.back()) v = u(g) * 0.5f;
            m.rows.back()[phone(p)] += round < 2 ? 0.5f : 0.1f;
        }
        Search s;
        ASSERT_EQ(0, s.init(&net.n, VITERBI_MINMAX, -1e9f));
        ASSERT_EQ(0, Viterbi_search(&s.rec, &net.n, m.p(), m.n(), 9, nullptr, 0, nullptr));
        ASSERT_EQ(0, Viterbi_answer(&s.rec, &net.n));
        std::string txt = dir + "/viterbi_trellis" + std::to_string(round) + ".txt";
        FILE *f = fopen(txt.c_str(), "w");
        fputs(trellis(&net.n, m, -3.0f, 1e-5f).c_str(), f);
        fclose(f);
        std::string out = run("fstcompile " + txt + " | fstshortestpath | fsttopsort | fstprint");
        ASSERT_FALSE(out.empty());
        // A linear path: one arc a line, in order; sum the costs and read
        // the state of every frame.
        std::istringstream in(out);
        std::string line;
        double cost = 0;
        std::vector<int> path;
        while (std::getline(in, line)) {
            std::istringstream l(line);
            int a, b, il, ol;
            double w = 0;
            if (!(l >> a >> b >> il >> ol)) continue;
            l >> w;
            cost += w;
            if (il > 0) path.push_back(il - 1);
        }
        EXPECT_NEAR(-cost, s.rec.score, 1e-3 * std::max(1.0, std::fabs(cost))) << round;
        // The state of every frame, by name.
        std::vector<std::string> fstNames, ourNames;
        for (int st : path) fstNames.push_back(net.n.states[st].name);
        for (int i = 0; i < s.rec.states->count; i++) {
            const Segment &seg = s.rec.states->segments[i];
            for (int k = seg.begin; k < seg.end; k++) ourNames.push_back(seg.label);
        }
        EXPECT_EQ(fstNames, ourNames) << round;
    }
}

TEST(Viterbi, a_search_from_its_bytes_or_a_copy_goes_on_as_the_original) {
    Net net(kDigits, digitSpec(20, 80));
    Matrix m(9);
    m.frames(phone("t"), 3).frames(phone("uw"), 4).frames(phone("w"), 2).frames(phone("ah"), 3).frames(phone("n"), 3);
    float **p = m.p();
    Search s;
    ASSERT_EQ(0, s.init(&net.n, VITERBI_GAMMA));
    ASSERT_EQ(0, Viterbi_search(&s.rec, &net.n, p, 8, 9, nullptr, 0, nullptr));
    std::vector<unsigned char> b(Viterbi_packedLength(&s.rec));
    Viterbi_pack(&s.rec, b.data());
    GS_Result *r = GS_CreateResult();
    Search back, copy;
    ASSERT_EQ(0, Viterbi_unpack(r, &back.rec, b.data(), b.size())) << r->text;
    ASSERT_EQ(0, Viterbi_clone(&copy.rec, &s.rec));
    for (Search *x : {&s, &back, &copy}) {
        ASSERT_EQ(0, Viterbi_search(&x->rec, &net.n, p + 8, m.n() - 8, 9, nullptr, 0, nullptr));
        ASSERT_EQ(0, Viterbi_answer(&x->rec, &net.n));
    }
    EXPECT_EQ("two@0-7 one@7-15", segs(s.rec.words));
    for (Search *x : {&back, &copy}) {
        EXPECT_EQ(segs(s.rec.states), segs(x->rec.states));
        EXPECT_FLOAT_EQ(s.rec.score, x->rec.score);
    }
    // Bytes cut short anywhere are refused, never read past.
    for (size_t n = 0; n < b.size(); n++) {
        ViterbiRecord cut;
        GS_ResetResult(r);
        ASSERT_NE(0, Viterbi_unpack(r, &cut, b.data(), n)) << n;
    }
    GS_DeleteResult(r);
}
