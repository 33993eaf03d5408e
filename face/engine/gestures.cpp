// Gesture, hand-shape and sequence libraries under Models (obriksign,
// obrikhandshape, obrikkeyframe) and the body tracks of the POST and BODY
// tags.
//
// Listings: the files of a library are its "*.ges" or "*.sqe" files, the
// extension matched without regard to case, sorted by name without regard
// to case so every operation that takes an index sees the same order.
#include <dirent.h>
#include <strings.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "engine.h"
#include "files.h"

namespace brovana {

namespace {

const char *const kHandShapes[6] = {"bexloclose.ges", "bexlobend.ges", "bexlohooknew.ges",
                                    "bexloseparate.ges", "bexloyaw.ges", "bexlosep2.ges"};
const int kKeySlot[10] = {0, 1, 3, 4, 2, 5, 6, 8, 9, 7};
const int kMaxKeys = 10;

bool EndsWithNoCase(const std::string &s, const char *ext) {
    size_t n = strlen(ext);
    return s.size() > n && strcasecmp(s.c_str() + s.size() - n, ext) == 0;
}

std::string NameOf(const std::string &file) { return file.size() > 4 ? file.substr(0, file.size() - 4) : ""; }

// Tokens of a sequence file: blanks and line ends (CR too) separate them.
std::vector<std::string> Tokens(const std::string &path) {
    std::vector<std::string> out;
    TextFile f(path);
    if (!f.isOpen()) return out;
    std::string line;
    while (f.line(&line)) {
        size_t i = 0;
        while (i < line.size()) {
            while (i < line.size() && isspace((unsigned char)line[i])) i++;
            size_t j = i;
            while (j < line.size() && !isspace((unsigned char)line[j])) j++;
            if (j > i) out.push_back(line.substr(i, j - i));
            i = j;
        }
    }
    return out;
}

// Count, gesture files and durations as a sequence file gives them: a first
// token of more than two characters is already a gesture and the count is 5.
// Counts run from 1 to 10; missing durations are 1000 ms each.
struct SequenceText {
    int count = 0;
    std::vector<std::string> gestures;
    std::vector<int> durations;  // count - 1, or empty when the file ends
    bool ok = false;
};

SequenceText ParseSequence(const std::string &path) {
    SequenceText s;
    std::vector<std::string> t = Tokens(path);
    if (t.empty()) return s;
    size_t at = 0;
    if (t[0].size() > 2) {
        s.count = 5;
    } else {
        s.count = atoi(t[0].c_str());
        at = 1;
    }
    s.count = std::max(0, std::min(s.count, kMaxKeys));
    for (int k = 0; k < s.count && at < t.size(); k++) s.gestures.push_back(t[at++]);
    s.count = (int)s.gestures.size();
    if (at < t.size())
        for (int k = 1; k < s.count; k++) s.durations.push_back(at < t.size() ? atoi(t[at++].c_str()) : 1000);
    s.ok = true;
    return s;
}

}  // namespace

int BrovanaEngine::keySlot(int key) { return key >= 0 && key < kMaxKeys ? kKeySlot[key] : -1; }

std::string BrovanaEngine::libraryPath(const char *dir, const std::string &file) const {
    return JoinPath(JoinPath(JoinPath(loadDir_, "Models"), dir), file);
}

std::vector<std::string> BrovanaEngine::libraryListing(const char *dir, const char *ext) const {
    std::vector<std::string> names;
    std::string d = FindFile(JoinPath(JoinPath(loadDir_, "Models"), dir));
    DIR *h = opendir(d.c_str());
    if (!h) return names;
    while (struct dirent *e = readdir(h))
        if (EndsWithNoCase(e->d_name, ext)) names.push_back(e->d_name);
    closedir(h);
    std::sort(names.begin(), names.end(), [](const std::string &a, const std::string &b) {
        int c = strcasecmp(a.c_str(), b.c_str());
        return c != 0 ? c < 0 : a < b;
    });
    return names;
}

static std::string NthName(const std::vector<std::string> &list, int n) {
    return n >= 0 && n < (int)list.size() ? NameOf(list[n]) : "";
}

std::string BrovanaEngine::gestureName(int n) const { return NthName(libraryListing("obriksign", ".ges"), n); }
std::string BrovanaEngine::handShapeName(int n) const {
    return NthName(libraryListing("obrikhandshape", ".ges"), n);
}
std::string BrovanaEngine::sequenceName(int n) const { return NthName(libraryListing("obrikkeyframe", ".sqe"), n); }

int BrovanaEngine::gestureIndex(const std::string &name) const {
    std::vector<std::string> list = libraryListing("obriksign", ".ges");
    for (size_t i = 0; i < list.size(); i++)
        if (strcasecmp(list[i].c_str(), name.c_str()) == 0) return (int)i;
    return -1;
}

// ------------------------------------------------------------ pose records

void BrovanaEngine::getBodyPose(int r[60]) const {
    int k = 0;
    auto group = [&](int from, int to) {
        for (int b = from; b <= to; b++)
            for (int a = 0; a < 3; a++) r[k++] = (int)bodyPose_[b][a];
    };
    group(6, 8), group(24, 26), group(0, 5), group(42, 49);
}

void BrovanaEngine::setBodyPose(const int r[60]) {
    int k = 0;
    auto group = [&](int from, int to) {
        for (int b = from; b <= to; b++)
            for (int a = 0; a < 3; a++) bodyPose_[b][a] = (float)r[k++];
    };
    group(6, 8), group(24, 26), group(0, 5), group(42, 49);
    headTrack_ = true;
    applyUpperBodyPose();
    applyLegPose();
    updateSkeleton();
}

void BrovanaEngine::getHandPose(int r[45]) const {
    for (int f = 0; f < 5; f++)
        for (int a = 0; a < 3; a++) {
            r[9 * f + a] = (int)bodyPose_[10 + 3 * f][a];
            r[9 * f + 3 + a] = (int)bodyPose_[11 + 3 * f][a];
            r[9 * f + 6 + a] = (int)bodyPose_[9 + 3 * f][a];
        }
}

void BrovanaEngine::setHandPose(const int r[45]) {
    for (int f = 0; f < 5; f++)
        for (int a = 0; a < 3; a++) {
            bodyPose_[10 + 3 * f][a] = (float)r[9 * f + a];
            bodyPose_[11 + 3 * f][a] = (float)r[9 * f + 3 + a];
            bodyPose_[9 + 3 * f][a] = (float)r[9 * f + 6 + a];
        }
    applyFingerPose();
    updateSkeleton();
}

// ------------------------------------------------------------ gestures

// Writes the current poses over the n-th file of a library, or removes it.
static bool WriteNth(BrovanaEngine &e, const char *dir, int n) {
    std::vector<std::string> list = e.libraryListing(dir, ".ges");
    if (n < 0 || n >= (int)list.size()) return false;
    return e.writePose(e.libraryPath(dir, list[n])) != 0;
}

static int RemoveNth(const BrovanaEngine &e, const char *dir, const char *ext, int n) {
    std::vector<std::string> list = e.libraryListing(dir, ext);
    if (n < 0 || n >= (int)list.size()) return -1;
    return remove(FindFile(e.libraryPath(dir, list[n])).c_str());
}

// A library entry is a file in the library's folder: a name that reaches
// outside it (a slash, or the folder names "." and "..") is refused.
static bool EntryName(const std::string &name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}

bool BrovanaEngine::saveGesture(const std::string &name) {
    return EntryName(name) && writePose(libraryPath("obriksign", name + ".ges")) != 0;
}
bool BrovanaEngine::overwriteGesture(int n) { return WriteNth(*this, "obriksign", n); }
int BrovanaEngine::deleteGesture(int n) { return RemoveNth(*this, "obriksign", ".ges", n); }

void BrovanaEngine::loadGesture(int n, bool left, bool right, int body[60], int hand[45]) {
    std::vector<std::string> list = libraryListing("obriksign", ".ges");
    if (n < 0 || n >= (int)list.size()) return;
    std::string path = libraryPath("obriksign", list[n]);
    if (left) readPoseKeysA(path);
    if (right) readPoseKeysB(path);
    getBodyPose(body);
    getHandPose(hand);
    updateSkeleton();
}

bool BrovanaEngine::saveHandShape(const std::string &name) {
    return EntryName(name) && writePose(libraryPath("obrikhandshape", name + ".ges")) != 0;
}
bool BrovanaEngine::overwriteHandShape(int n) { return WriteNth(*this, "obrikhandshape", n); }
int BrovanaEngine::deleteHandShape(int n) { return RemoveNth(*this, "obrikhandshape", ".ges", n); }

void BrovanaEngine::loadHandShape(int n, bool left, bool right, int hand[45]) {
    std::vector<std::string> list = libraryListing("obrikhandshape", ".ges");
    if (n < 0 || n >= (int)list.size()) return;
    std::string path = libraryPath("obrikhandshape", list[n]);
    if (left) {
        readHandPoseLeft(path);
        getHandPose(hand);
    }
    if (right) readHandPoseRight(path);
    updateSkeleton();
}

void BrovanaEngine::applyHandShape(int shape, int amount, const bool finger[5]) {
    if (shape >= 0 && shape < 6) readHandShape(libraryPath("obrikhandshape", kHandShapes[shape]));
    float x = amount * 0.0027777778f;
    for (int f = 0; f < 5; f++) {
        if (!finger[f]) continue;
        for (int s = 0; s < 3; s++)
            for (int a = 0; a < 3; a++) bodyPose_[9 + 3 * f + s][a] = x * handShape_[3 * f + s][a];
    }
    applyFingerPose();
    updateSkeleton();
}

// ------------------------------------------------------------ key slots

void BrovanaEngine::storePoseKey(int slot) {
    if (slot < 0 || slot >= kMaxKeys) return;
    for (BodyNode &n : nodes_) memcpy(n.keys[slot], n.pose, sizeof n.pose);
}

void BrovanaEngine::applyGesture(int key, int n) {
    std::vector<std::string> list = libraryListing("obriksign", ".ges");
    if (n < 0 || n >= (int)list.size()) return;
    readPose(libraryPath("obriksign", list[n]));
    storePoseKey(keySlot(key));
    updateSkeleton();
}

// ------------------------------------------------------------ sequences

void BrovanaEngine::writeSequence(const std::string &path, const int gestures[10], const int *durations) const {
    FILE *f = fopen(path.c_str(), "w");
    if (!f) return;
    int count = 0;
    while (count < kMaxKeys && gestures[count] >= 0) count++;
    fprintf(f, "%d\n", count);
    for (int k = 0; k < count; k++) fprintf(f, "%s.ges\n", gestureName(gestures[k]).c_str());
    for (int k = 0; k + 1 < count; k++) fprintf(f, "%d\n", durations[k]);
    fclose(f);
}

void BrovanaEngine::saveSequence(const std::string &name, const int gestures[10], const int *durations) const {
    if (EntryName(name)) writeSequence(FindFile(libraryPath("obrikkeyframe", name + ".sqe")), gestures, durations);
}

int BrovanaEngine::deleteSequence(int n) { return RemoveNth(*this, "obrikkeyframe", ".sqe", n); }

void BrovanaEngine::loadSequence(int n, int gestures[10], int durations[10]) const {
    std::vector<std::string> list = libraryListing("obrikkeyframe", ".sqe");
    if (n < 0 || n >= (int)list.size()) return;
    SequenceText s = ParseSequence(FindFile(libraryPath("obrikkeyframe", list[n])));
    if (!s.ok) return;
    for (int k = 0; k < kMaxKeys; k++) gestures[k] = -1, durations[k] = 0;
    for (int k = 0; k < s.count; k++) gestures[k] = gestureIndex(s.gestures[k]);
    for (int k = 0; k + 1 < s.count; k++) {
        int d = k < (int)s.durations.size() ? s.durations[k] : 1000;
        durations[k] = d == 0 ? 1000 : d;
    }
}

bool BrovanaEngine::readSequence(const std::string &path) {
    SequenceText s = ParseSequence(FindFile(path));
    if (!s.ok) return false;
    seqCount_ = s.count;
    for (int k = 1; k < kMaxKeys; k++)
        seqDur_[k] = k < s.count ? (s.durations.empty() ? 1000 : s.durations[k - 1]) : 0;
    for (int k = 0; k < s.count; k++) {
        readPose(libraryPath("obriksign", s.gestures[k]));
        storePoseKey(keySlot(k));
    }
    seqKeys_.assign(nodes_.size(), {});
    for (size_t i = 0; i < nodes_.size(); i++)
        for (int k = 0; k < kMaxKeys; k++)
            for (int a = 0; a < 3; a++) seqKeys_[i][k][a] = nodes_[i].keys[kKeySlot[k]][a];
    return true;
}

void BrovanaEngine::startSequence(int count, const int durations[10]) {
    seqCount_ = std::max(0, std::min(count, kMaxKeys));
    // key k follows key k - 1 by durations[k - 1]
    for (int k = 1; k < kMaxKeys; k++) seqDur_[k] = durations[k - 1];
    seqPlaying_ = true;
    poseTrack_ = true;
    buildSequenceTrack();
}

float BrovanaEngine::buildSequenceTrack() {
    seqTimes_[0] = 0;
    for (int k = 1; k < kMaxKeys; k++) seqTimes_[k] = k < seqCount_ ? seqTimes_[k - 1] + seqDur_[k] : seqTimes_[k - 1];
    float length = seqCount_ > 0 ? seqTimes_[seqCount_ - 1] : 0;
    seqPlaying_ = false;
    if (bodyPoseMode_ == 2 && seqCount_ > 0 && length >= 0) {
        int frames = 1 + (int)(length * fps_ / 1000);
        // sampled at the frame times (key times in frames, one unit a
        // frame), so the last key is reached on its frame
        float times[kMaxKeys];
        for (int k = 0; k < kMaxKeys; k++) times[k] = seqTimes_[k] * fps_ / 1000.0f;
        int size = std::max(F_, frames);
        bodyTrack_.assign(nodes_.size(), {});
        std::vector<float> zero(kMaxKeys, 0.0f);
        for (size_t i = 0; i < nodes_.size(); i++) {
            float values[kMaxKeys][3];
            const float *rows[kMaxKeys];
            for (int k = 0; k < kMaxKeys; k++) {
                memcpy(values[k], nodes_[i].keys[kKeySlot[k]], sizeof values[k]);
                rows[k] = values[k];
            }
            for (int a = 0; a < 3; a++) bodyTrack_[i][a].assign(size, values[seqCount_ - 1][a]);
            float *out[3] = {bodyTrack_[i][0].data(), bodyTrack_[i][1].data(), bodyTrack_[i][2].data()};
            samplePoseKeys(frames, 1, zero.data(), zero.data(), zero.data(), seqCount_, times, rows, out, 3, 0);
        }
    }
    seqLength_ = (int)(length * fps_ * 0.001f);
    return length < 0 ? 0 : length;
}

void BrovanaEngine::sequenceFrame(int frame) {
    if (frame >= seqLength_ - 1) return;
    beginSequencePlayback();
    if (poseTrack_ && ctype_ != 5 && bodyPoseMode_ >= 0 && bodyPoseMode_ <= 2) applySequenceFrame(frame);
}

// ------------------------------------------------------------ body tags

void BrovanaEngine::readPoseAsKey(const std::string &path) {
    readPose(path);
    storePoseKey(0);
    seqKeys_.resize(nodes_.size());
    for (size_t i = 0; i < nodes_.size(); i++) memcpy(seqKeys_[i][0].data(), nodes_[i].keys[0], 3 * sizeof(float));
}

namespace {

// Pose keys of a body track: times and, per key, one pose per node.
struct PoseKeys {
    std::vector<float> times;
    std::vector<std::vector<std::array<float, 3>>> poses;
    void add(float t, std::vector<std::array<float, 3>> p) { times.push_back(t), poses.push_back(std::move(p)); }
};

}  // namespace

// Samples the keys of every node into tracks, at whole-millisecond steps.
static void SamplePoseTrack(const PoseKeys &keys, int F, int fps, int smooth,
                            std::vector<std::array<std::vector<float>, 3>> *track) {
    int step = std::max(1, 1000 / fps);
    size_t K = keys.times.size();
    std::vector<float> zero(K, 0.0f);
    std::vector<const float *> rows(K);
    for (size_t i = 0; i < track->size(); i++) {
        for (size_t k = 0; k < K; k++) rows[k] = keys.poses[k][i].data();
        float *out[3] = {(*track)[i][0].data(), (*track)[i][1].data(), (*track)[i][2].data()};
        BrovanaEngine::samplePoseKeys(F, step, zero.data(), zero.data(), zero.data(), (int)K, keys.times.data(),
                                      rows.data(), out, 3, smooth);
    }
}

void BrovanaEngine::buildPostureTrack() {
    const int first = leadingTag_ ? 1 : 0, count = (int)columns_.size();
    PoseKeys keys;
    std::vector<std::array<float, 3>> pose(nodes_.size());
    auto current = [&] {
        for (size_t i = 0; i < nodes_.size(); i++) memcpy(pose[i].data(), nodes_[i].pose, sizeof pose[i]);
        return pose;
    };
    std::vector<std::array<float, 3>> leadPose;
    bool found = false;
    auto gesturePose = [&](const std::string &v) {
        std::string name = v.substr(0, v.find(','));
        if (!gestureExists(name)) {
            if (!found) printf("Error in Head"), fflush(stdout);
            return current();
        }
        found = true;
        readPoseAsKey(FindFile(libraryPath("obriksign", name + ".ges")));
        for (size_t i = 0; i < nodes_.size(); i++) memcpy(pose[i].data(), seqKeys_[i][0].data(), sizeof pose[i]);
        return pose;
    };
    if (leadingTag_ && count > 0 && !columns_[0][7].empty()) leadPose = gesturePose(columns_[0][7]);
    for (int e = first; e < count; e++)
        if (!columns_[e][7].empty()) keys.add(wordEndTime(e - first), gesturePose(columns_[e][7]));
    loadNeutralPoseFile();
    // a leading gesture alone is a track too: the body starts in it
    if ((keys.times.empty() && leadPose.empty()) || F_ == 0 || postureTrack_.size() != nodes_.size()) {
        poseTrack_ = false;
        return;
    }
    if (count > first && columns_[count - 1][7].empty()) keys.add(wordEndTime(count - 1 - first), current());
    keys.times.insert(keys.times.begin(), 0.0f);
    keys.poses.insert(keys.poses.begin(), leadPose.empty() ? current() : leadPose);
    SamplePoseTrack(keys, F_, fps_, 0, &postureTrack_);
    poseTrack_ = true;
}

void BrovanaEngine::buildBodyTrack() {
    const int first = leadingTag_ ? 1 : 0, count = (int)columns_.size();
    PoseKeys keys;
    std::vector<std::array<float, 3>> pose(nodes_.size());
    auto neutralNow = [&] {
        for (size_t i = 0; i < nodes_.size(); i++) memcpy(pose[i].data(), nodes_[i].pose, sizeof pose[i]);
        return pose;
    };
    bool found = false;
    // The keys of one sequence from t on; false when it does not open.
    auto sequenceKeys = [&](const std::string &v, float t, PoseKeys *out) {
        size_t comma = v.find(',');
        std::string name = v.substr(0, comma);
        int L = 0;
        if (comma != std::string::npos) sscanf(v.c_str() + comma + 1, "%d", &L);
        if (!sequenceExists(name) || !readSequence(libraryPath("obrikkeyframe", name + ".sqe"))) {
            if (!found) printf("Error in Head"), fflush(stdout);
            return;
        }
        found = true;
        float total = 0;
        for (int k = 1; k < seqCount_; k++) total += seqDur_[k];
        float scale = L > 0 && total > 0 ? L / total : 1.0f;
        for (int k = 0; k < seqCount_; k++) {
            if (k > 0) t += seqDur_[k] * scale;
            for (size_t i = 0; i < nodes_.size(); i++) memcpy(pose[i].data(), seqKeys_[i][k].data(), sizeof pose[i]);
            out->add(t, pose);
        }
    };
    // a leading sequence plays from time 0
    if (leadingTag_ && count > 0 && !columns_[0][5].empty()) sequenceKeys(columns_[0][5], 0, &keys);
    bool leadKeys = !keys.times.empty();
    for (int e = first; e < count; e++) {
        if (columns_[e][5].empty()) continue;
        float t = wordEndTime(e - first);
        // a sequence running past the next tag is cut there, so that keys
        // stay in time order
        PoseKeys one;
        sequenceKeys(columns_[e][5], t, &one);
        for (size_t k = 0; k < one.times.size(); k++) {
            if (!keys.times.empty() && one.times[k] < keys.times.back()) continue;
            keys.add(one.times[k], one.poses[k]);
        }
        // keys of this tag that the next tag's start overtakes are dropped
        for (int e2 = e + 1; e2 < count; e2++)
            if (!columns_[e2][5].empty()) {
                float next = wordEndTime(e2 - first);
                while (keys.times.size() > 1 && keys.times.back() > next) keys.times.pop_back(), keys.poses.pop_back();
                break;
            }
    }
    loadNeutralPoseFile();
    if (keys.times.empty() || F_ == 0 || bodyTrack_.size() != nodes_.size()) {
        poseTrack_ = false;
        return;
    }
    if (count > first && columns_[count - 1][5].empty()) {
        float last = wordEndTime(count - 1 - first);
        while (keys.times.size() > 1 && keys.times.back() > last) keys.times.pop_back(), keys.poses.pop_back();
        keys.add(last, neutralNow());
    }
    if (!leadKeys) {
        keys.times.insert(keys.times.begin(), 0.0f);
        keys.poses.insert(keys.poses.begin(), neutralNow());
    }
    SamplePoseTrack(keys, F_, fps_, 0, &bodyTrack_);
    poseTrack_ = true;
}

}  // namespace brovana
