// Lip-sync tracks: phonemes become timed segments, and every frame gets a
// window of W + 1 segments whose visemes are weighted by dominance functions.
#include <cmath>
#include <cstdio>
#include <cstring>

#include "engine.h"
#include "files.h"
#include "tables.h"

namespace brovana {

namespace {

struct Split {
    const char *phoneme, *code;
};
const Split kSplits[17] = {{"dZ", "ZZ"}, {"tS", "DS"}, {"i:", "Ij"}, {"oo", "A>"}, {"&r", "&&"},
                           {"oU", "Uw"}, {"3r", "&&"}, {"aU", "AU"}, {"aI", "AI"}, {"ei", "Ej"},
                           {">i", "wI"}, {"iU", "ju"}, {"e&", "E&"}, {"i&", "I&"}, {"u&", "u&"},
                           {"rr", "9r4r"}, {"nj", "nj"}};

const int kClosureRows[] = {26, 27, 28, 30, 32, 33, 34, 45, 46};

// Longest utterance a preparation accepts (about 9 hours at 30 fps); the
// tracks of a longer one would not fit in memory.
const int kMaxFrames = 1000000;

}  // namespace

int BrovanaEngine::planWordSegments(int first, int last, int w) {
    int sum = 0;
    for (int i = first; i <= last && i < (int)names_.size(); i++) {
        const std::string &s = names_[i];
        int c;
        if (i == first)
            c = w + 5;
        else if (s == "m" || s == "f")
            c = w + 21;
        else if (s.size() == 1 && strchr("pbszvDT", s[0]))
            c = w + 5;
        else if (s.size() == 1 && strchr("uwU", s[0]))
            c = 2 * w + 10;
        else if (s.size() <= 1)
            c = 1;
        else if (s == "dZ" || s == "tS" || s == "3r" || s == "9r")
            c = w + 5;
        else
            c = 2;
        planned_[i] = c;
        sum += c;
    }
    return sum;
}

int BrovanaEngine::planSegments(int w) {
    segTotal_ = 0;
    for (int k = 0; k < Wc_; k++) segTotal_ += planWordSegments(wordStart_[k], wordEnd_[k], w);
    return segTotal_;
}

int BrovanaEngine::expandSegments(std::vector<std::string> *out, std::vector<float> *times) {
    out->clear();
    times->assign(1, 0.0f);
    // Boundaries are summed in double so that many short segments still add
    // up to the phonemes' durations.
    double sum = 0;
    auto add = [&](const std::string &name, float d) {
        out->push_back(name);
        sum += d;
        times->push_back((float)sum);
    };
    for (int p = 0; p < N_; p++) {
        const std::string &s = names_[p];
        float d = durs_[p];
        int c = planned_[p] > 0 ? planned_[p] : 1;
        if ((s.size() == 2 || s.size() == 4) && s != "9r" && s != "4r") {
            int idx = -1;
            for (int i = 0; i < 17; i++)
                if (s == kSplits[i].phoneme) {
                    idx = i;
                    break;
                }
            if (s == "9r4r") idx = 15;
            if (idx < 0) {
                add(s, d);
            } else if (idx <= 1) {
                for (int i = 0; i < c; i++) add(std::string(1, kSplits[idx].code[1]), d / c);
            } else {
                std::string code = kSplits[idx].code;
                size_t head = code.size() == 4 ? 2 : 1;
                add(code.substr(0, head), 0.7f * d);
                add(code.substr(head), 0.3f * d);
            }
        } else {
            for (int i = 0; i < c; i++) add(s, d / c);
        }
    }
    return (int)out->size();
}

static bool IsClosure(int row) {
    for (int r : kClosureRows)
        if (r == row) return true;
    return false;
}

// Shared body of the two dominance functions; lip selects the exponent and
// the closure plateau.
static float Dominance(bool lip, int row, int k, float T, const float *t, int n) {
    float a = t[k], b = t[k + 1];
    float L = b - a;
    // A segment of no length has no centre: it gives way to its neighbours.
    if (!(L > 0)) return 0.0f;
    float c = (a + b) / 2;
    float e = 2 * std::fabs(T - c) / L;
    if ((k == 0 && T < c) || (k == n - 1 && T > c)) return (float)std::exp(25.0f * e);
    float g = (k > 0 && k < n - 1 && row != 0) ? 0.87f : 2.175f;
    if (IsClosure(row)) {
        g = 1.5f;
        if (lip && a + 0.05 * L < T && T < b - 0.05 * L) return 10.0f;
    }
    double p = std::pow((double)e, lip ? (double)0.2f : (double)0.8f);
    return (float)std::exp(-g * p);
}

float BrovanaEngine::lipDominance(int row, int k, float t, const float *times, int n) const {
    return Dominance(true, row, k, t, times, n);
}

float BrovanaEngine::tongueDominance(int row, int k, float t, const float *times, int n) const {
    return Dominance(false, row, k, t, times, n);
}

void BrovanaEngine::computeFrameTracks(int w) {
    int n = expandSegments(&segNames_, &segTimes_);
    float step = 1000.0f / (float)fps_;
    duration_ = segTimes_[n];
    long F = 0;
    if (n > 0 && fps_ > 0) F = (long)(segTimes_[n] / step + 1);
    if (F > kMaxFrames) F = kMaxFrames;
    F_ = (int)F;
    trRow_.assign(w + 1, std::vector<int>(F_, 0));
    trTarget_.assign(w + 1, std::vector<int>(F_, -1));
    trLip_.assign(w + 1, std::vector<float>(F_, 0.0f));
    trTongue_.assign(w + 1, std::vector<float>(F_, 0.0f));
    curW_ = w;
    allocFrameTracks();
    // Target lookups are by name: do each segment once.
    std::vector<int> segRow(n), segTarget(n);
    for (int k = 0; k < n; k++) {
        segRow[k] = phonemeRow(segNames_[k].c_str());
        segTarget[k] = findVisemeTarget(segRow[k]);
        if (segTarget[k] < 0 && modelLoaded_) {
            fputs(segNames_[k].c_str(), stdout);
            fflush(stdout);
        }
    }
    int j = 0;
    const float *t = segTimes_.data();
    for (int f = 0; f < F_; f++) {
        float T = f * step;
        while (j < n && !(t[j] <= T && T < t[j + 1])) j++;
        if (j >= n) break;
        float lipSum = 0, tongueSum = 0;
        for (int s = 0; s <= w; s++) {
            int k = j - w + 1 + s;
            if (k < 0) {
                trRow_[s][f] = trTarget_[s][f] = k;
            } else if (k >= n) {
                trRow_[s][f] = trTarget_[s][f] = -1;
            } else {
                trRow_[s][f] = segRow[k];
                trTarget_[s][f] = segTarget[k];
                trLip_[s][f] = lipDominance(segRow[k], k, T, t, n);
                trTongue_[s][f] = tongueDominance(segRow[k], k, T, t, n);
                lipSum += trLip_[s][f];
                tongueSum += trTongue_[s][f];
            }
        }
        for (int s = 0; s <= w; s++) {
            if (lipSum > 0) trLip_[s][f] /= lipSum;
            if (tongueSum > 0) trTongue_[s][f] /= tongueSum;
        }
    }
}

void BrovanaEngine::freePoseTracks() {
    bodyTrack_.clear();
    postureTrack_.clear();
}

void BrovanaEngine::allocFrameTracks() {
    freePoseTracks();
    if (nodes_.empty()) return;
    readPose(JoinPath(JoinPath(JoinPath(loadDir_, "Models"), "obriksign"), "neu.ges"));
    bodyTrack_.resize(nodes_.size());
    postureTrack_.resize(nodes_.size());
    for (size_t i = 0; i < nodes_.size(); i++)
        for (int k = 0; k < 3; k++) {
            bodyTrack_[i][k].assign(F_, nodes_[i].pose[k]);
            postureTrack_[i][k].assign(F_, nodes_[i].pose[k]);
        }
}

// Body and posture tracks hold absolute angles that both start at the
// neutral pose: a frame shows neutral plus the differences of both.  The
// neutral angles are those of the load, so no file is read per frame.
void BrovanaEngine::selectPoseFrame(int n) {
    if (n < 0 || n >= F_ || bodyTrack_.size() != nodes_.size() || postureTrack_.size() != nodes_.size()) return;
    for (size_t i = 0; i < nodes_.size(); i++) {
        nodes_[i].pose[0] = neutralPose_[i][0], nodes_[i].pose[1] = neutralPose_[i][1];
        nodes_[i].pose[2] = neutralPose_[i][2];
        for (int k = 0; k < 3; k++) {
            // a sequence's body track may be longer than the utterance, not shorter
            if (n >= (int)bodyTrack_[i][k].size() || n >= (int)postureTrack_[i][k].size()) continue;
            nodes_[i].rotation[k] = bodyTrack_[i][k][n] + postureTrack_[i][k][n] - neutralPose_[i][k];
        }
    }
}

void BrovanaEngine::prepare(int w) {
    if (w < 1) w = 1;
    if (w > kWindowRoom - 1) w = kWindowRoom - 1;
    prepWindow_ = w;
    buildPhonemeArrays();
    if (paramModel_ && modelLoaded_ && ctype_ == 8) prepContextModel();
    if (paramModel_ && modelLoaded_ && ctype_ == 9) prepTrajectoryModel();
    planSegments(w);
    computeFrameTracks(w);
    clearHeadOffsets();
}

void BrovanaEngine::selectFrame(int n) {
    if (n < 0 || n >= F_) return;
    stepIdle();
    if (lipTrack_) {
        int w = (int)trRow_.size() - 1;
        curW_ = w;
        for (int s = 0; s <= w; s++) {
            curRows_[s] = trRow_[s][n];
            curTargets_[s] = trTarget_[s][n];
            curLip_[s] = trLip_[s][n];
            curTongue_[s] = trTongue_[s][n];
        }
        // Coefficient tracks may end before the window tracks: rest there.
        if (paramModel_ && (ctype_ == 8 || ctype_ == 9)) {
            float *cur = ctype_ == 8 ? coef15_ : coef38_.data();
            int count = ctype_ == 8 ? 15 : (int)coef38_.size();
            for (int k = 0; k < count; k++)
                cur[k] = k < (int)coefTracks_.size() && n < coefT_ ? (float)coefTracks_[k][n] : 0.0f;
        }
    }
    if (!markupTrack_) return;
    selectTagFrame(n);
    if (ctype_ != 5 && poseTrack_ && bodyPoseMode_ >= 0 && bodyPoseMode_ <= 2) selectPoseFrame(n);
}

void BrovanaEngine::showFrame(int n) {
    // Negative frames are out of range like frames past the end.
    if (n >= 0 && n < F_ - 1) {
        lipTrack_ = true;
        selectFrame(n);
        show();
    } else {
        restMouth();
    }
}

}  // namespace brovana
