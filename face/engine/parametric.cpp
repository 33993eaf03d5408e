// Coefficient tracks of the parametric mouths.  Type 8 blends recorded
// two-phoneme contexts and smooths them by phoneme class; type 9 covers the
// utterance with the longest stretches of a recorded corpus, time-warps them
// onto the phonemes and smooths long utterances with dominance kernels.
//
// The corpus files are checked as they are read: a missing or short file,
// a count that does not fit or a class outside the table fails the load
// with a message naming the file.  What the corpus lacks at preparation
// time (a class pair, a code window) gives rest coefficients, never a read
// outside a record.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "engine.h"
#include "files.h"
#include "tables.h"

namespace brovana {

namespace {

std::string Quote(const std::string &s) { return "\"" + s + "\""; }

const char *const kContextVisemes[17] = {"r", "A", "Ai", "d", "ei", "I", "i", "k", "L",
                                         "m", "s", "sh", "T", "U", "f", "u", "Nu"};
// Smoothing weight per tag (tag 0 uses the plain 1-2-1 kernel).
const double kTagWeight[9] = {0, 25.0, 1.0, 2.0, 1.0, 2.0, 40.0, 1.0, 1.0};
const int kPauseTag = 8;
const int kMaxMarks = 200;

// The 43 codes in class order with their reduced and merged forms.
const char kCodes[] = ":wur*o$&%^e9ya87654321khg+lszdtnq>vfmbpix@.";
const char kReduced[] = ":wur**$$$$$$$aa7664444kkkklssdddqqvvmmmii@.";
const char kMerged[] = ":wur*o$&%^e9ya87664321khg+lssdtnq>vvmmmix@.";

bool MapCodes(const std::string &codes, const char *to, std::string *out) {
    out->clear();
    for (char c : codes) {
        const char *p = c ? strchr(kCodes, c) : nullptr;
        if (!p) return false;
        out->push_back(to[p - kCodes]);
    }
    return true;
}

// Kernel factors of the dominance smoothing by phoneme row.
void RowKernel(int row, double *A, double *B) {
    static const int strong[] = {27, 28, 32, 33, 34};
    static const int open[] = {10, 20, 42};
    static const int stops[] = {1, 23, 24, 29, 31};
    static const int soft[] = {6, 7, 8, 9, 11, 12, 13, 14, 15, 16, 17, 37, 39, 40, 41, 43, 44, 47, 48, 49, 50};
    auto in = [row](const int *t, size_t n) { return std::find(t, t + n, row) != t + n; };
    *A = 1.0, *B = 1.0;
    if (in(strong, 5)) *A = 3.0, *B = 2.5;
    else if (in(open, 3)) *A = 0.1, *B = 5.0;
    else if (in(stops, 5)) *A = 0.1, *B = 2.0;
    else if (in(soft, 21)) *A = 0.5, *B = 1.0;
}

}  // namespace

// ------------------------------------------------------------ corpus readers

bool BrovanaEngine::readTwomap(const std::string &dir) {
    TextFile f(JoinPath(dir, "twomap.txt"));
    std::string path = FindFile(JoinPath(dir, "twomap.txt"));
    if (!f.isOpen()) return fail("cannot open context map " + Quote(path));
    twomap_.clear();
    std::string line;
    while ((int)twomap_.size() < kContextPairs && f.line(&line)) {
        int idx, a, b;
        if (line.find_first_not_of(" \t") == std::string::npos) continue;
        if (sscanf(line.c_str(), "%d %d %d", &idx, &a, &b) != 3 || a < 0 || a > 16 || b < 0 || b > 16)
            return fail("damaged context map " + Quote(path) + ": bad line " + Quote(line));
        twomap_.push_back({a, b});
    }
    if ((int)twomap_.size() < kContextPairs) return fail("damaged context map " + Quote(path) + ": too short");
    return true;
}

bool BrovanaEngine::readPacomN(const std::string &dir) {
    BinaryFile f(JoinPath(dir, "PacomN.bin"));
    if (!f.isOpen()) return fail("cannot open contexts " + Quote(f.path()));
    pacom_.assign(kContextPairs, PacomRecord());
    for (PacomRecord &r : pacom_) {
        int32_t n = 0;
        f.i32(&n);
        if (!f.ok()) return fail("damaged contexts " + Quote(f.path()) + ": too short");
        if (n < 1 || n > kMaxMarks || (long)n * (4 + 15 * 8) + 4 > f.remaining())
            return fail("damaged contexts " + Quote(f.path()) + ": bad mark count " + std::to_string(n));
        f.f32(&r.boundary);
        r.marks.resize(n);
        for (float &m : r.marks) f.f32(&m);
        r.coef.resize((size_t)n * 15);
        for (float &c : r.coef) {
            double d;
            f.f64(&d);
            c = (float)d;
        }
    }
    return f.ok() || fail("damaged contexts " + Quote(f.path()) + ": too short");
}

bool BrovanaEngine::readPhonemeSets(const std::string &dir) {
    std::vector<std::string> *sets[2] = {&set1_, &set2_};
    for (int k = 0; k < 2; k++) {
        std::string path = FindFile(JoinPath(dir, k == 0 ? "Set1.txt" : "Set2.txt"));
        TextFile f(path);
        if (!f.isOpen()) return fail("cannot open phoneme set " + Quote(path));
        std::vector<std::string> &out = *sets[k];
        out.clear();
        std::string line;
        while ((int)out.size() < kCorpusEntries && f.line(&line)) {
            if (line.find_first_not_of(" \t") == std::string::npos) continue;
            char codes[257];
            int idx;
            if (line.size() > 300 || sscanf(line.c_str(), "%d %256s", &idx, codes) != 2 || strlen(codes) > 255)
                return fail("damaged phoneme set " + Quote(path) + ": bad line " + Quote(line.substr(0, 40)));
            std::string tmp;
            if (!MapCodes(codes, kCodes, &tmp))
                return fail("damaged phoneme set " + Quote(path) + ": unknown code in " + Quote(codes));
            out.push_back(codes);
        }
        if ((int)out.size() < kCorpusEntries) return fail("damaged phoneme set " + Quote(path) + ": too short");
    }
    for (int k = 0; k < kCorpusEntries; k++)
        if (set1_[k].size() != set2_[k].size())
            return fail("phoneme sets disagree at entry " + std::to_string(k));
    return true;
}

bool BrovanaEngine::readBeta(const std::string &dir) {
    BinaryFile f(JoinPath(dir, "Beta.bin"));
    if (!f.isOpen()) return fail("cannot open trajectories " + Quote(f.path()));
    const int P = basisCount38_;
    beta_.assign(kCorpusEntries, BetaRecord());
    for (int k = 0; k < kCorpusEntries; k++) {
        BetaRecord &r = beta_[k];
        int32_t n = 0, m = 0;
        f.i32(&n), f.i32(&r.reserved), f.i32(&m);
        if (!f.ok()) return fail("damaged trajectories " + Quote(f.path()) + ": too short");
        if (n < 1 || m < 0 || (long)(m + 1) * 4 + (long)n * (1 + P) * 4 > f.remaining())
            return fail("damaged trajectories " + Quote(f.path()) + ": bad counts in record " + std::to_string(k));
        // The phoneme marks must cover every code of the entry.
        if (k < (int)set1_.size() && (size_t)m < set1_[k].size())
            return fail("damaged trajectories " + Quote(f.path()) + ": record " + std::to_string(k) +
                        " has fewer phonemes than its codes");
        r.marks.resize(m + 1);
        for (float &x : r.marks) f.f32(&x);
        r.pos.resize(n);
        r.samples.resize((size_t)n * P);
        for (int i = 0; i < n; i++) {
            f.f32(&r.pos[i]);
            for (int j = 0; j < P; j++) f.f32(&r.samples[(size_t)i * P + j]);
        }
    }
    return f.ok() || fail("damaged trajectories " + Quote(f.path()) + ": too short");
}

// ------------------------------------------------------------ shared steps

void BrovanaEngine::copyPhonemeNames() {
    modelNames_.assign(names_.begin(), names_.begin() + N_);
    modelDurs_.assign(durs_.begin(), durs_.begin() + N_);
    if (N_ <= 3)
        for (float &d : modelDurs_) d *= 3;
}

void BrovanaEngine::splitModelEntries(bool trajectory) {
    static const char *const ctx[10][3] = {{"iU", "i", "U"},   {"aU", "A", "U"},   {"aI", "ei", "I"},
                                           {"ei", "ei", "i:"}, {"u&", "w", "3r"},  {"i&", "i", "3r"},
                                           {"e&", "ei", "3r"}, {"oU", "U", "U"},   {">i", "U", "i:"},
                                           {".pau", ".pau", ".pau"}};
    static const char *const traj[2][3] = {{"iU", "I", "U"}, {".pau", ".pau", ".pau"}};
    std::vector<std::string> names;
    std::vector<float> durs;
    for (size_t i = 0; i < modelNames_.size(); i++) {
        const char *const(*t)[3] = trajectory ? traj : ctx;
        int n = trajectory ? 2 : 10, k = 0;
        while (k < n && modelNames_[i] != t[k][0]) k++;
        if (k < n) {
            names.push_back(t[k][1]), durs.push_back(modelDurs_[i] / 2);
            names.push_back(t[k][2]), durs.push_back(modelDurs_[i] / 2);
        } else {
            names.push_back(modelNames_[i]), durs.push_back(modelDurs_[i]);
        }
    }
    modelNames_.swap(names);
    modelDurs_.swap(durs);
}

void BrovanaEngine::allocCoefficientTracks(int count, int frames) {
    coefTracks_.assign(count, std::vector<double>(frames, 0.0));
    frameTags_.assign(frames, 0);
    coefT_ = 0;
}

// ------------------------------------------------------------ type 8

int BrovanaEngine::contextClass(int row) {
    const char *sym = phonemeSymbol(row);
    if (!sym) return -1;
    const char *v = PhonemeVisemeTable[row].viseme[8];
    for (int c = 0; c < 17; c++)
        if (strcmp(v, kContextVisemes[c]) == 0) return c;
    return -1;
}

float BrovanaEngine::easeOut(float x) { return (1 - x) * (1 - x) * (2 * x + 1); }

bool BrovanaEngine::interpolateKeys(const float *m, int n, const float *coef, int count, float x, float *out) {
    if (n < 2) return false;
    x = std::min(std::max(x, m[0]), m[n - 1]);
    for (int i = 0; i < n - 1; i++) {
        if (!(m[i] <= x && x <= m[i + 1])) continue;
        float span = m[i + 1] - m[i];
        for (int j = 0; j < count; j++) {
            float a = coef[i * count + j], b = coef[(i + 1) * count + j];
            out[j] = span > 0 ? ((x - m[i]) * b + (m[i + 1] - x) * a) / span : a;
        }
        return true;
    }
    return false;
}

const PacomRecord *BrovanaEngine::lookupContext(int c1, int c2) const {
    if (pacom_.size() != twomap_.size()) return nullptr;
    for (int i = (int)twomap_.size() - 1; i >= 0; i--)
        if (twomap_[i][0] == c1 && twomap_[i][1] == c2) return &pacom_[i];
    return nullptr;
}

void BrovanaEngine::prepContextModel() {
    copyPhonemeNames();
    splitModelEntries(false);
    const int M = (int)modelNames_.size();
    std::vector<double> s(M + 1, 0.0);
    for (int i = 0; i < M; i++) s[i + 1] = s[i] + modelDurs_[i];
    long frames = M > 0 ? (long)(s[M] * fps_ * 0.001 + 1.0) : 0;
    if (frames < M) frames = M;
    frames = std::min<long>(frames, 1000000);
    allocCoefficientTracks(15, (int)frames);
    if (M < 3) return;
    std::vector<int> cls(M), tag(M);
    for (int i = 0; i < M; i++) {
        cls[i] = contextClass(phonemeRow(modelNames_[i].c_str()));
        tag[i] = cls[i] >= 9 ? cls[i] - 8 : 0;
    }
    float step = 1000.0f / (float)fps_;
    float vA[15] = {0}, vB[15] = {0}, v[15] = {0};
    const float kZero[15] = {0};
    int j = 0;
    for (int f = 0; f < frames; f++) {
        double tau = f * step;
        if (tau > s[M]) break;
        // entry of the frame: intervals open at their start, except time 0
        while (j < M - 1 && tau > s[j + 1]) j++;
        double d = modelDurs_[j];
        float u = d > 0 ? (float)((tau - s[j]) / d) : 0.0f;
        if (j == 0) {
            const PacomRecord *A = lookupContext(cls[0], cls[1]);
            if (!A) memcpy(v, kZero, sizeof v);
            else interpolateKeys(A->marks.data(), (int)A->marks.size(), A->coef.data(), 15,
                                 A->marks[0] + u * (A->boundary - A->marks[0]), v);
        } else if (j == M - 1) {
            const PacomRecord *B = lookupContext(cls[M - 2], cls[M - 1]);
            if (!B) memcpy(v, kZero, sizeof v);
            else interpolateKeys(B->marks.data(), (int)B->marks.size(), B->coef.data(), 15,
                                 B->boundary + u * (B->marks.back() - B->boundary), v);
        } else {
            const PacomRecord *A = lookupContext(cls[j - 1], cls[j]);
            const PacomRecord *B = lookupContext(cls[j], cls[j + 1]);
            if (!A) memcpy(vA, kZero, sizeof vA);
            else interpolateKeys(A->marks.data(), (int)A->marks.size(), A->coef.data(), 15,
                                 A->boundary + u * (A->marks.back() - A->boundary), vA);
            if (!B) memcpy(vB, kZero, sizeof vB);
            else interpolateKeys(B->marks.data(), (int)B->marks.size(), B->coef.data(), 15,
                                 u * (B->boundary - B->marks[0]), vB);
            float h = easeOut(u);
            for (int k = 0; k < 15; k++) v[k] = h * vA[k] + (1 - h) * vB[k];
        }
        for (int k = 0; k < 15; k++) coefTracks_[k][f] = v[k];
        frameTags_[f] = tag[j];
        coefT_ = f + 1;
    }
    smoothCoefficients(prepWindow_ != 1 ? 2 : 0);
}

void BrovanaEngine::smoothTrack(std::vector<double> *xs, const std::vector<int> &tags, int T) {
    if (T < 2) return;
    const std::vector<double> &x = *xs;
    std::vector<double> y(T);
    y[0] = (x[0] + x[1]) / 2;
    y[T - 1] = (x[T - 2] + x[T - 1]) / 2;
    for (int k = 1; k < T - 1; k++) {
        int q = tags[k];
        double w = kTagWeight[q];
        bool before = tags[k - 1] == kPauseTag, after = tags[k + 1] == kPauseTag;
        if (q == 0)
            y[k] = (x[k - 1] + 2 * x[k] + x[k + 1]) / 4;
        else if (before && !after)
            y[k] = (2 * w * x[k] + x[k + 1]) / (2 * w + 1);
        else if (after && !before)
            y[k] = (2 * w * x[k] + x[k - 1]) / (2 * w + 1);
        else if (before && after)
            y[k] = x[k];
        else
            y[k] = (x[k - 1] + 2 * w * x[k] + x[k + 1]) / (2 * (w + 1));
    }
    std::copy(y.begin(), y.end(), xs->begin());
}

void BrovanaEngine::smoothCoefficients(int level) {
    int passes = level >= 1 ? (1 << level) - 1 : 1;
    for (auto &track : coefTracks_)
        for (int p = 0; p < passes; p++) smoothTrack(&track, frameTags_, coefT_);
}

// ------------------------------------------------------------ type 9

bool BrovanaEngine::toSet1Codes(const std::string &codes, std::string *out) { return MapCodes(codes, kReduced, out); }
bool BrovanaEngine::toSet2Codes(const std::string &codes, std::string *out) { return MapCodes(codes, kMerged, out); }

void BrovanaEngine::encodePhonemes(std::string *codes, std::vector<float> *durations) const {
    codes->clear();
    durations->clear();
    float pending = 0;  // time of codeless entries before the first code
    for (size_t i = 0; i < modelNames_.size(); i++) {
        char code = 0;
        for (const ArpabetPair &p : ArpabetPairs)
            if (modelNames_[i] == p.worldbet) {
                code = p.code;
                break;
            }
        if (code && strchr(kCodes, code)) {
            codes->push_back(code);
            durations->push_back(modelDurs_[i] + pending);
            pending = 0;
        } else if (!durations->empty()) {
            durations->back() += modelDurs_[i];
        } else {
            pending += modelDurs_[i];
        }
    }
}

std::vector<CorpusSegment> BrovanaEngine::matchPhonemeSets(const std::string &codes, const std::vector<std::string> &set1,
                                                           const std::vector<std::string> &set2) {
    std::vector<CorpusSegment> segs;
    const int L = (int)codes.size();
    std::string r, g;
    if (L < 2 || !toSet1Codes(codes, &r) || !toSet2Codes(codes, &g)) return segs;
    const int K = (int)std::min(set1.size(), set2.size());
    std::vector<int> weight(K, 1), hit(K, 0), cs(K, -1), ce(K, -1), ps(K, -1), pe(K, -1);
    int segStart = 0, i = 2;
    std::string wr = r.substr(0, 2), wg = g.substr(0, 2);
    bool fresh = true, pause = false;
    for (;;) {
        bool last = i == L;
        bool any = false;
        for (int k = 0; k < K; k++) {
            size_t at = set1[k].find(wr);
            cs[k] = at == std::string::npos ? -1 : (int)at;
            if (cs[k] < 0) continue;
            ce[k] = cs[k] + (int)wr.size();
            if (weight[k] > 0 && set2[k].find(wg) != std::string::npos) hit[k] = 1, any = true;
        }
        if (wg.size() == 2 && wg.find('.') != std::string::npos) pause = true;
        if (any && i < L && !pause) {
            wr += r[i], wg += g[i], i++;
            for (int k = 0; k < K; k++) {
                weight[k] = hit[k], ps[k] = cs[k], pe[k] = ce[k];
                hit[k] = 0, cs[k] = ce[k] = -1;
            }
            fresh = false;
            continue;
        }
        if (fresh && !any) pause = true;
        if (!fresh && !pause && !any) i--, last = false;
        CorpusSegment seg;
        seg.first = segStart, seg.last = i;
        int best = 100;
        for (int k = 0; k < K; k++) {
            bool eligible = (pause && cs[k] >= 0) || (!pause && ps[k] >= 0) || (L == 2 && i == 2 && hit[k]);
            int len = (int)set2[k].size();
            if (!eligible || len >= best) continue;
            if (hit[k] || pause) {
                seg.entry = k, best = len;
                if (pause || (i == L && hit[k])) seg.start = cs[k], seg.end = ce[k];
                else seg.start = seg.end = -1;
            } else if (!pause && !hit[k] && i < L && ps[k] >= 0 && !fresh) {
                seg.entry = k, best = len, seg.start = ps[k], seg.end = pe[k];
            }
        }
        // An entry without offsets, or offsets that do not span the stretch,
        // cannot time the stretch: it stays uncovered.
        if (seg.entry >= 0 && (seg.start < 0 || seg.end - seg.start != seg.last - seg.first))
            seg.entry = seg.start = seg.end = -1;
        if (i == L) {
            segs.push_back(seg);
        } else if (i < L) {
            segs.push_back(seg);
            segStart = i - 1;
            wr = r.substr(i - 1, 2), wg = g.substr(i - 1, 2);
            i++;
            std::fill(weight.begin(), weight.end(), 1);
            std::fill(hit.begin(), hit.end(), 0);
            std::fill(cs.begin(), cs.end(), -1), std::fill(ce.begin(), ce.end(), -1);
            std::fill(ps.begin(), ps.end(), -1), std::fill(pe.begin(), pe.end(), -1);
            fresh = true, pause = false;
        }
        if (last || i > L) break;
    }
    return segs;
}

void BrovanaEngine::sampleBetaRecord(float *out, float p, int entry) const {
    const int P = basisCount38_;
    if (entry < 0 || entry >= (int)beta_.size()) {
        std::fill(out, out + P, 0.0f);
        return;
    }
    const BetaRecord &r = beta_[entry];
    const int n = (int)r.pos.size();
    // Positions beyond the samples take the nearest sample.
    int j0 = 0, j1 = 0;
    float x = 0;
    if (n > 1 && p > r.pos[0]) {
        j0 = n - 1, j1 = n - 1;
        for (int i = 0; i < n - 1; i++)
            if (r.pos[i] <= p && p <= r.pos[i + 1]) {
                j0 = i, j1 = i + 1;
                float span = r.pos[i + 1] - r.pos[i];
                x = span > 0 ? (p - r.pos[i]) / span : 0;
                break;
            }
    }
    for (int j = 0; j < P; j++) out[j] = x * r.samples[(size_t)j1 * P + j] + (1 - x) * r.samples[(size_t)j0 * P + j];
}

void BrovanaEngine::buildTrajectories(const std::vector<CorpusSegment> &segs, const std::vector<float> &durs) {
    const int P = basisCount38_;
    const int S = (int)segs.size();
    const float step = 1000.0f / (float)fps_;
    double total = 0;
    for (float d : durs) total += d;
    long frames = (long)(total / step) + 1;
    if (frames < (long)modelNames_.size()) frames = (long)modelNames_.size();
    frames = std::min<long>(frames, 1000000);
    allocCoefficientTracks(P, (int)frames);
    coefT_ = (int)frames;
    if (S == 0) return;  // rest coefficients
    // marks of every code in frames
    std::vector<double> U(durs.size() + 1, 0.0);
    for (size_t k = 0; k < durs.size(); k++) U[k + 1] = U[k] + durs[k];
    for (double &u : U) u /= step;
    std::vector<float> v(P), w(P);
    // marks of a record at phoneme k of a segment, x of the way through
    auto recordPos = [&](const CorpusSegment &sg, int k, float x) {
        const std::vector<float> &H = beta_[sg.entry].marks;
        int a = sg.start + k;
        return H[a] + x * (H[a + 1] - H[a]);
    };
    auto sample = [&](const CorpusSegment &sg, int k, float x, float *out) {
        if (sg.entry < 0) std::fill(out, out + P, 0.0f);
        else sampleBetaRecord(out, recordPos(sg, k, x), sg.entry);
    };
    for (int f = 0; f < frames; f++) {
        for (int s = 0; s < S; s++) {
            const CorpusSegment &sg = segs[s];
            int len = sg.last - sg.first;
            if (len < 1 || sg.last >= (int)U.size()) continue;
            const double *u = &U[sg.first];
            if (!(u[0] <= f && f <= u[len])) continue;
            for (int k = s == 0 ? 0 : 1; k < len; k++) {
                bool lastEntry = k == len - 1;
                if (!(u[k] <= f && (lastEntry ? f <= u[k + 1] : f < u[k + 1]))) continue;
                float x = u[k + 1] > u[k] ? (float)((f - u[k]) / (u[k + 1] - u[k])) : 0.0f;
                sample(sg, k, x, v.data());
                if (lastEntry && s + 1 < S) {
                    sample(segs[s + 1], 0, x, w.data());
                    float h = easeOut(x);
                    for (int j = 0; j < P; j++) v[j] = h * v[j] + (1 - h) * w[j];
                }
                for (int j = 0; j < P; j++) coefTracks_[j][f] = v[j];
            }
        }
    }
    if (S > 6) trajectoryWeights();
}

void BrovanaEngine::trajectoryWeights() {
    const int T = coefT_;
    const float step = 1000.0f / (float)fps_;
    std::vector<double> A(T), B(T);
    size_t e = 0;
    double start = 0;
    for (int f = 0; f < T; f++) {
        double t = f * step;
        while (e + 1 < modelDurs_.size() && t > start + modelDurs_[e]) start += modelDurs_[e++];
        int row = modelNames_.empty() ? 0 : phonemeRow(modelNames_[e].c_str());
        RowKernel(row, &A[f], &B[f]);
    }
    // exp(-B d^q) with B >= 1 is below 1e-17 of the centre past 40 frames:
    // the sums stop there, which changes nothing at double precision.
    const int reach = 40;
    std::vector<double> y(T);
    for (int q = 1; q <= 2; q++) {
        std::vector<double> wk((size_t)T * (2 * reach + 1));
        std::vector<double> norm(T, 0.0);
        for (int i = 0; i < T; i++)
            for (int d = -reach; d <= reach; d++) {
                int k = i + d;
                double wv = 0;
                if (k >= 0 && k < T) wv = A[k] * std::exp(-B[k] * std::pow((double)std::abs(d), q));
                wk[(size_t)i * (2 * reach + 1) + d + reach] = wv;
                norm[i] += wv;
            }
        for (auto &track : coefTracks_) {
            for (int i = 0; i < T; i++) {
                double s = 0;
                const double *wi = &wk[(size_t)i * (2 * reach + 1)];
                for (int d = -reach; d <= reach; d++) {
                    int k = i + d;
                    if (k >= 0 && k < T) s += wi[d + reach] * track[k];
                }
                y[i] = norm[i] > 0 ? s / norm[i] : track[i];
            }
            std::copy(y.begin(), y.begin() + T, track.begin());
        }
    }
}

void BrovanaEngine::prepTrajectoryModel() {
    copyPhonemeNames();
    splitModelEntries(true);
    std::string codes;
    std::vector<float> durs;
    encodePhonemes(&codes, &durs);
    segments_ = matchPhonemeSets(codes, set1_, set2_);
    // Segments name entries of the loaded corpus; one that does not fit its
    // record is dropped to rest.
    for (CorpusSegment &sg : segments_)
        if (sg.entry >= (int)beta_.size() ||
            (sg.entry >= 0 && sg.end >= (int)beta_[sg.entry].marks.size()))
            sg.entry = -1;
    if (codes.size() < 2) {
        double total = 0;
        for (float d : modelDurs_) total += d;
        durs.assign(1, (float)total);
    }
    buildTrajectories(segments_, durs);
}

}  // namespace brovana
