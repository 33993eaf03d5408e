// The body: skeleton nodes, the transform of the node hierarchy, rigid
// skinning, the ".ges" pose files and the body data and bone index files.
// Matrices are computed on the processor (the same products glRotate and
// glTranslate form), so nothing here needs an OpenGL context.
#include <cmath>
#include <cstdio>
#include <cstring>

#include "engine.h"
#include "files.h"

namespace brovana {

namespace {

const char *const kPoseBones[50] = {
    "Bip01 Pelvis",     "Bip01 Spine",      "Bip01 Spine1",     "Bip01 Neck",       "Bip01 L Clavicle",
    "Bip01 R Clavicle", "Bip01 L UpperArm", "Bip01 L Forearm",  "Bip01 L Hand",     "Bip01 L Finger0",
    "Bip01 L Finger01", "Bip01 L Finger02", "Bip01 L Finger1",  "Bip01 L Finger11", "Bip01 L Finger12",
    "Bip01 L Finger2",  "Bip01 L Finger21", "Bip01 L Finger22", "Bip01 L Finger3",  "Bip01 L Finger31",
    "Bip01 L Finger32", "Bip01 L Finger4",  "Bip01 L Finger41", "Bip01 L Finger42", "Bip01 R UpperArm",
    "Bip01 R Forearm",  "Bip01 R Hand",     "Bip01 R Finger0",  "Bip01 R Finger01", "Bip01 R Finger02",
    "Bip01 R Finger1",  "Bip01 R Finger11", "Bip01 R Finger12", "Bip01 R Finger2",  "Bip01 R Finger21",
    "Bip01 R Finger22", "Bip01 R Finger3",  "Bip01 R Finger31", "Bip01 R Finger32", "Bip01 R Finger4",
    "Bip01 R Finger41", "Bip01 R Finger42", "Bip01 L Thigh",    "Bip01 L Calf",     "Bip01 L Foot",
    "Bip01 L Toe0",     "Bip01 R Thigh",    "Bip01 R Calf",     "Bip01 R Foot",     "Bip01 R Toe0"};

// A hierarchy deeper than this is taken as a cycle in the parent names.
const int kMaxDepth = 64;

struct BodyTable {
    const char *data, *bones;
    int fitObject;  // -1: no fit
    const char *neutral;
    float scale;
    float offset[3];
};
const BodyTable kBody[10] = {
    {"tamselwholebodynew.dat", "tamselboneindexnew.dat", 0, "TAM_NEUT", 3.5f, {2, 2, 38.2f}},
    {"obrikwholebodynew.dat", "obrikboneindexnew.dat", 1, "OB_NEUTRAL", 1, {0, 0, 0}},
    {"keffawholebodynew.dat", "keffaboneindexnew.dat", -1, nullptr, 1, {0, 0, 0}},
    {"dunmowholebodynew.dat", "dunmoboneindexnew.dat", 24, "DU_NEUTRAL", 0.8f, {15, -16, 4}},
    {"bexlowholebody.dat", "bexloboneindexnew.dat", 0, "TAM_NEUT", 1, {0, 0, 0}},
    {nullptr, nullptr, -1, nullptr, 1, {0, 0, 0}},
    {"venmirabodynew.dat", "venmiraboneindexnew.dat", -1, nullptr, 1, {0, 0, 0}},
    {"quillobodynew.dat", "quilloboneindexnew.dat", -1, nullptr, 1, {0, 0, 0}},
    {"bexlowholebodynew.dat", "bexloboneindexnew.dat", 1, "TAM_NEUT", 1, {0, 0, 0}},
    {"bexlowholebodynew.dat", "bexloboneindexnew.dat", 1, "TAM_NEUT", 1, {0, 0, 0}}};

float Wrap01(float u) {
    if (!std::isfinite(u)) return 0;
    if (u < 0) u += std::ceil(-u);
    if (u > 1) u -= std::ceil(u - 1);
    return u;
}

void FaceNormal(const float e1[3], const float e2[3], float out[3]) {
    out[0] = e1[1] * e2[2] - e1[2] * e2[1];
    out[1] = e1[2] * e2[0] - e1[0] * e2[2];
    out[2] = e1[0] * e2[1] - e1[1] * e2[0];
    float l2 = out[0] * out[0] + out[1] * out[1] + out[2] * out[2];
    if (l2 > 0) {
        float l = std::sqrt(l2);
        for (int i = 0; i < 3; i++) out[i] /= l;
    }
}

}  // namespace

int BrovanaEngine::findNode(const char *name, int length) const {
    if (ctype_ == 5) return -1;
    for (size_t i = 0; i < nodes_.size(); i++)
        if ((int)nodes_[i].name.size() == length && memcmp(nodes_[i].name.data(), name, length) == 0) return (int)i;
    return -1;
}

void BrovanaEngine::transformNode(const std::string &name, const Mat4 &parent, int depth) {
    int b = findNode(name);
    if (b < 0 || depth > kMaxDepth) return;
    BodyNode &n = nodes_[b];
    Mat4 m = parent * Mat4::translate(n.pivot[0], n.pivot[1], n.pivot[2]) * Mat4::rotate(n.rotation[0], 1, 0, 0) *
             Mat4::rotate(n.rotation[1], 0, 1, 0) * Mat4::rotate(n.rotation[2], 0, 0, 1) *
             Mat4::translate(-n.pivot[0], -n.pivot[1], -n.pivot[2]);
    memcpy(n.matrix, m.m, sizeof n.matrix);
    for (size_t i = 0; i < nodes_.size(); i++)
        if (nodes_[i].parent == name && (int)i != b) transformNode(nodes_[i].name, m, depth + 1);
}

void BrovanaEngine::skinBody() {
    int b = findNode("Obrik BODY");
    if (b < 0 || !bodyOk_) return;
    BodyNode &body = nodes_[b];
    for (int v = 0; v < body.V; v++) {
        Mat4 m;
        memcpy(m.m, nodes_[body.boneIndex[v]].matrix, sizeof m.m);
        m.apply(body.rx[v], body.ry[v], body.rz[v], &body.dx[v], &body.dy[v], &body.dz[v]);
        for (int c = 0; c < 3; c++) body.curNormal[3 * v + c] = body.restNormal[3 * v + c];
    }
}

void BrovanaEngine::applyPose() {
    for (BodyNode &n : nodes_) memcpy(n.rotation, n.pose, sizeof n.rotation);
    transformNode("Bip01 Pelvis", Mat4::identity());
    skinBody();
}

// What a pose reader does with one group of bone lines.
enum class PoseAct { Consume, PoseAndValue, PoseArmValue };

namespace {

struct LineReader {
    TextFile &f;
    std::string line;
    float last[3] = {0, 0, 0};
    void next() { f.line(&line); }
    void parse() {
        size_t colon = line.find(':');
        float v[3];
        if (colon != std::string::npos && sscanf(line.c_str() + colon + 1, "%f,%f,%f", &v[0], &v[1], &v[2]) == 3)
            memcpy(last, v, sizeof last);
    }
};

}  // namespace

int BrovanaEngine::readPoseGroups(const std::string &path, bool whole, int trunkAct, int leftAct, int rightAct) {
    if (whole) {
        for (BodyNode &n : nodes_) n.pose[0] = n.pose[1] = n.pose[2] = 0;
        if (nodes_.empty()) return 1;
    }
    TextFile f(path);
    if (!f.isOpen()) return 0;
    LineReader r{f};
    // bone b: read its line when the skeleton has it (finger 4 always has
    // one); keep the pose and the body pose value as act says
    auto bone = [&](int b, PoseAct act, bool value, bool alwaysConsume) {
        int node = findNode(kPoseBones[b], (int)strlen(kPoseBones[b]));
        if (node >= 0 || alwaysConsume) {
            r.next();
            if (node >= 0 && act != PoseAct::Consume) r.parse();
        }
        if (act == PoseAct::Consume) return;
        if (node >= 0) memcpy(nodes_[node].pose, r.last, sizeof r.last);
        if (value) memcpy(bodyPose_[b], r.last, sizeof r.last);
    };
    auto side = [&](int first, PoseAct act) {
        bool fingerValues = act == PoseAct::PoseAndValue;
        for (int b = first; b < first + 3; b++) bone(b, act, act != PoseAct::Consume, false);
        for (int finger = 0; finger < 5; finger++) {
            int b = first + 3 + 3 * finger;
            bone(b, act, fingerValues, finger == 4);
            bone(b + 1, act, fingerValues, finger == 4);
            if (act == PoseAct::Consume) continue;
            // a third segment has no line: it takes its second segment's angles
            int node = findNode(kPoseBones[b + 2], (int)strlen(kPoseBones[b + 2]));
            if (node >= 0) memcpy(nodes_[node].pose, r.last, sizeof r.last);
            if (fingerValues) memcpy(bodyPose_[b + 2], r.last, sizeof r.last);
        }
    };
    r.next();  // header
    PoseAct trunk = (PoseAct)trunkAct;
    for (int b = 0; b < 6; b++) bone(b, trunk, trunk != PoseAct::Consume, false);
    r.next();  // "Left body parts"
    side(6, (PoseAct)leftAct);
    r.next();  // "Right body parts"
    side(24, (PoseAct)rightAct);
    r.next();
    char word[256] = "";
    if (r.line.size() < sizeof word) sscanf(r.line.c_str(), "%255s", word);
    if (strcmp(word, "leg") == 0) {
        for (int b = 42; b < 50; b++) bone(b, PoseAct::PoseAndValue, true, false);
    } else {
        for (int b = 42; b < 50; b++) bodyPose_[b][0] = bodyPose_[b][1] = bodyPose_[b][2] = 0;
    }
    return 1;
}

int BrovanaEngine::readPose(const std::string &path) {
    return readPoseGroups(path, true, (int)PoseAct::PoseAndValue, (int)PoseAct::PoseAndValue,
                          (int)PoseAct::PoseArmValue);
}

int BrovanaEngine::readPoseKeysA(const std::string &path) {
    return readPoseGroups(path, false, (int)PoseAct::PoseAndValue, (int)PoseAct::PoseAndValue,
                          (int)PoseAct::Consume);
}

int BrovanaEngine::readPoseKeysB(const std::string &path) {
    return readPoseGroups(path, false, (int)PoseAct::Consume, (int)PoseAct::Consume, (int)PoseAct::PoseArmValue);
}

// The hand readers skip to the first hand's finger lines of the file and
// put them on one hand; which lines exist follows the fingers of that hand.
int BrovanaEngine::readHand(const std::string &path, int target) {
    TextFile f(path);
    if (!f.isOpen()) return 0;
    LineReader r{f};
    auto has = [&](int b) { return findNode(kPoseBones[b], (int)strlen(kPoseBones[b])) >= 0; };
    r.next();
    for (int b = 0; b < 6; b++)
        if (has(b)) r.next();
    r.next();
    for (int b = 6; b < 9; b++)
        if (has(b)) r.next();
    int first = target == 1 ? 27 : 9;  // 1: right hand, mirrored
    for (int finger = 0; finger < 5; finger++)
        for (int seg = 0; seg < 3; seg++) {
            int b = first + 3 * finger + seg;
            int node = findNode(kPoseBones[b], (int)strlen(kPoseBones[b]));
            if (seg < 2 && (node >= 0 || finger == 4)) {
                r.next();
                if (node >= 0) r.parse();
            }
            float v[3] = {r.last[0], r.last[1], r.last[2]};
            if (target == 1) v[1] = -v[1], v[2] = -v[2];
            if (node >= 0) memcpy(nodes_[node].pose, v, sizeof v);
            int k = 3 * finger + seg;
            if (target == 0) memcpy(bodyPose_[9 + k], v, sizeof v);
            if (target == 2) memcpy(handShape_[k], v, sizeof v);
        }
    return 1;
}

int BrovanaEngine::readHandPoseLeft(const std::string &path) { return readHand(path, 0); }
int BrovanaEngine::readHandPoseRight(const std::string &path) { return readHand(path, 1); }
int BrovanaEngine::readHandShape(const std::string &path) { return readHand(path, 2); }

void BrovanaEngine::loadNeutralPoseFile() {
    readPose(JoinPath(JoinPath(JoinPath(loadDir_, "Models"), "obriksign"), "neu.ges"));
    for (BodyNode &n : nodes_) memcpy(n.rotation, n.pose, sizeof n.pose);
}

// ---------------------------------------------------------- pose groups

void BrovanaEngine::copyPoseGroup(int from, int to, bool resetMatrices) {
    if (resetMatrices)
        for (BodyNode &n : nodes_) memcpy(n.matrix, Mat4::identity().m, sizeof n.matrix);
    for (int b = from; b <= to; b++) {
        int node = findNode(kPoseBones[b], (int)strlen(kPoseBones[b]));
        if (node >= 0) memcpy(nodes_[node].pose, bodyPose_[b], sizeof bodyPose_[b]);
    }
}

void BrovanaEngine::applyUpperBodyPose() {
    copyPoseGroup(0, 8, true);
    copyPoseGroup(24, 26, false);
}

void BrovanaEngine::applyFingerPose() { copyPoseGroup(9, 23, true); }
void BrovanaEngine::applyLegPose() { copyPoseGroup(42, 49, false); }

void BrovanaEngine::updateSkeleton() {
    if (ctype_ != 5) applyPose();
}

void BrovanaEngine::applySequenceFrame(int n) {
    if (bodyTrack_.size() != nodes_.size() || n < 0) return;
    for (size_t i = 0; i < nodes_.size(); i++)
        for (int k = 0; k < 3; k++)
            if (n < (int)bodyTrack_[i][k].size()) nodes_[i].rotation[k] = bodyTrack_[i][k][n];
}

void BrovanaEngine::beginSequencePlayback() {
    lipTrack_ = headTrack_ = true;
    exprTrack_ = eyeOn_ = secondOn_ = tongueTrack_ = false;
    clearHeadOffsets();
}

void BrovanaEngine::freezePose() {
    if (!headTrack_ && poseTrack_) {
        headFreeze_ = true;
        clearHeadOffsets();
        headTrack_ = true;
    }
}

int BrovanaEngine::nearestNode(float x, float y, float z) const {
    float best = 10000;
    int answer = -1;
    for (size_t i = 0; i < nodes_.size(); i++) {
        const BodyNode &n = nodes_[i];
        if (!n.untextured || n.name == "Bip01 Head") continue;
        for (int v = 0; v < n.V; v++) {
            float dx = x - n.rx[v], dy = y - n.ry[v], dz = z - n.rz[v];
            float d = std::sqrt(dx * dx + dy * dy + dz * dz);
            if (d < best) best = d, answer = (int)i;
        }
    }
    return answer;
}

int BrovanaEngine::bodyVertexAt(float x, float y, float z) const {
    int b = findNode("Obrik BODY");
    if (b < 0) return -1;
    const BodyNode &n = nodes_[b];
    for (int v = 0; v < n.V; v++) {
        float dx = x - n.rx[v], dy = y - n.ry[v], dz = z - n.rz[v];
        if (std::sqrt(dx * dx + dy * dy + dz * dz) < 0.00001f) return v;
    }
    return -1;
}

int BrovanaEngine::writePose(const std::string &path) {
    FILE *f = fopen(path.c_str(), "w");
    if (!f) return 0;
    auto line = [&](const char *name, const float *v) { fprintf(f, "%s:%f,%f,%f\n", name, v[0], v[1], v[2]); };
    auto bone = [&](int b) {
        int n = findNode(kPoseBones[b], (int)strlen(kPoseBones[b]));
        if (n >= 0) line(kPoseBones[b], nodes_[n].pose);
    };
    auto side = [&](int first) {
        for (int b = first; b < first + 3; b++) bone(b);
        for (int finger = 0; finger < 5; finger++)
            for (int seg = 0; seg < 2; seg++) {
                int b = first + 3 + 3 * finger + seg;
                int n = findNode(kPoseBones[b], (int)strlen(kPoseBones[b]));
                if (n < 0 && finger == 4) {
                    // finger 4 always has its lines: finger 3's angles stand in
                    int n3 = findNode(kPoseBones[b - 3], (int)strlen(kPoseBones[b - 3]));
                    static const float zero[3] = {0, 0, 0};
                    line(kPoseBones[b], n3 >= 0 ? nodes_[n3].pose : zero);
                } else if (n >= 0) {
                    line(kPoseBones[b], nodes_[n].pose);
                }
            }
    };
    fputs("Body components\n", f);
    for (int b = 0; b < 6; b++) bone(b);
    fputs("Left body parts\n", f);
    side(6);
    fputs("Right body parts\n", f);
    side(24);
    fputs("leg components\n", f);
    for (int b = 42; b < 50; b++) bone(b);
    fclose(f);
    return 1;
}

void BrovanaEngine::findYExtremes(int k, float *span, int *low, int *high) {
    const MeshObject &o = *objects_[k];
    const MeshObject &o0 = *objects_[0];
    int N = std::min(o0.V, o.V);
    bool first = true;
    for (int v = 0; v < N; v++) {
        if (ctype_ == 0 && !o0.headVertex[v]) continue;
        if (first) {
            *low = *high = v;
            first = false;
        } else if (o.y[v] < o.y[*low]) {
            *low = v;
        } else if (o.y[v] > o.y[*high]) {
            *high = v;
        }
    }
    *span = first ? 0 : o.y[*high] - o.y[*low];
}

bool BrovanaEngine::readBoneIndex(const std::string &path) {
    int b = findNode("Obrik BODY");
    BinaryFile f(path);
    printf(f.isOpen() ? "The file BodyData was opened\n" : "The file BodyData was not opened\n");
    fflush(stdout);
    if (b < 0 || !f.isOpen()) return false;
    BodyNode &body = nodes_[b];
    if (f.remaining() < (long)body.V * 4) return false;
    for (int v = 0; v < body.V; v++) {
        f.i32(&body.boneIndex[v]);
        if (body.boneIndex[v] < 0 || body.boneIndex[v] >= (int)nodes_.size()) return false;
    }
    return true;
}

bool BrovanaEngine::readBodyData() {
    nodes_.clear();
    bodyOk_ = false;
    const BodyTable &bt = kBody[ctype_];
    if (!bt.data) return false;
    std::string M = JoinPath(loadDir_, "Models");
    BinaryFile f(JoinPath(JoinPath(M, "bodydata"), bt.data));
    printf(f.isOpen() ? "The file BodyData was opened\n" : "The file BodyData was not opened\n");
    fflush(stdout);
    if (!f.isOpen()) return false;
    int32_t count;
    f.i32(&count);
    if (!f.ok() || count < 0 || (long)count * 24 > f.remaining()) return false;
    bool selector = ctype_ <= 4 || ctype_ == 8 || ctype_ == 9;
    nodes_.resize(count);
    for (BodyNode &n : nodes_) {
        int32_t L, V, F, T;
        f.i32(&L);
        if (L < 0 || L > 256 || !f.bytes(&n.name, L)) return nodes_.clear(), false;
        f.i32(&L);
        if (L < 0 || L > 256 || !f.bytes(&n.parent, L)) return nodes_.clear(), false;
        for (float &p : n.pivot) f.f32(&p);
        f.i32(&V);
        f.i32(&F);
        if (!f.ok() || V < 0 || F < 0 || (long)V * 12 + (long)F * 12 > f.remaining()) return nodes_.clear(), false;
        n.V = V, n.F = F;
        n.rx.resize(V), n.ry.resize(V), n.rz.resize(V);
        n.dx.resize(V), n.dy.resize(V), n.dz.resize(V);
        n.restNormal.assign(3 * V, 0), n.curNormal.assign(3 * V, 0);
        n.boneIndex.assign(V, 0);
        for (int v = 0; v < V; v++) f.f32(&n.rx[v]), f.f32(&n.ry[v]), f.f32(&n.rz[v]);
        n.fa.resize(F), n.fb.resize(F), n.fc.resize(F), n.selector.assign(F, 0);
        for (int t = 0; t < F; t++) {
            f.i32(&n.fa[t]), f.i32(&n.fb[t]), f.i32(&n.fc[t]);
            if (selector) f.i32(&n.selector[t]);
            if (n.fa[t] < 0 || n.fa[t] >= V || n.fb[t] < 0 || n.fb[t] >= V || n.fc[t] < 0 || n.fc[t] >= V)
                return nodes_.clear(), false;
        }
        f.i32(&T);
        if (!f.ok() || T < 0 || (long)T * 8 > f.remaining()) return nodes_.clear(), false;
        n.T = T;
        n.untextured = T == 0;
        n.ta.assign(F, 0), n.tb.assign(F, 0), n.tc.assign(F, 0);
        if (T) {
            n.u1.resize(T), n.v1.resize(T), n.u2.resize(T), n.v2.resize(T);
            for (int j = 0; j < T; j++) {
                float u, v;
                f.f32(&u), f.f32(&v);
                if (ctype_ == 4 || ctype_ == 7 || ctype_ == 8 || ctype_ == 9 || (ctype_ == 6 && j < 600))
                    u = Wrap01(u), v = Wrap01(v);
                if (ctype_ >= 1 && ctype_ <= 3) {
                    n.u1[j] = u / 2, n.v1[j] = v / 2, n.u2[j] = u / 2 + 0.5f, n.v2[j] = v / 2 + 0.5f;
                } else {
                    n.u1[j] = n.u2[j] = u, n.v1[j] = n.v2[j] = v;
                }
            }
            int32_t tf;
            f.i32(&tf);
            if (tf != F) return nodes_.clear(), false;
            for (int t = 0; t < F; t++) {
                f.i32(&n.ta[t]), f.i32(&n.tb[t]), f.i32(&n.tc[t]);
                if (n.ta[t] < 0 || n.ta[t] >= T || n.tb[t] < 0 || n.tb[t] >= T || n.tc[t] < 0 || n.tc[t] >= T)
                    return nodes_.clear(), false;
            }
        }
        for (int t = 0; t < F; t++)
            for (int c = 0; c < 3; c++) {
                int32_t v;
                float nx, ny, nz;
                f.i32(&v), f.f32(&nx), f.f32(&ny), f.f32(&nz);
                if (v < 0 || v >= V) return nodes_.clear(), false;
                for (int k = 0; k < 3; k++) n.curNormal[3 * v + k] = n.restNormal[3 * v + k];
                n.restNormal[3 * v] = nx, n.restNormal[3 * v + 1] = ny, n.restNormal[3 * v + 2] = nz;
            }
        if (!f.ok()) return nodes_.clear(), false;
    }
    bool bonesOk = readBoneIndex(JoinPath(JoinPath(M, "boneindex"), bt.bones));
    for (BodyNode &n : nodes_) {
        memcpy(n.matrix, Mat4::identity().m, sizeof n.matrix);
        for (int k = 0; k < 3; k++) n.rotation[k] = n.pose[k] = 0;
        memset(n.keys, 0, sizeof n.keys);
    }
    readPose(JoinPath(JoinPath(M, "obriksign"), "neu.ges"));
    neutralPose_.resize(nodes_.size());
    for (size_t i = 0; i < nodes_.size(); i++) {
        BodyNode &n = nodes_[i];
        for (int s : {0, 2, 3, 4}) memcpy(n.keys[s], n.pose, sizeof n.pose);
        memcpy(n.rotation, n.pose, sizeof n.pose);
        for (int k = 0; k < 3; k++) neutralPose_[i][k] = n.pose[k];
    }
    // Fit the body under the head.
    int neutral = bt.neutral ? findNode(bt.neutral) : -1;
    if (bt.fitObject >= 0 && bt.fitObject < nObjects_ && neutral >= 0 && nodes_[neutral].V > 0) {
        float span = 0, nspan = 0;
        int low = 0, high = 0, nlow = 0, nhigh = 0;
        findYExtremes(bt.fitObject, &span, &low, &high);
        measureNeutralTarget(&nspan, &nlow, &nhigh);
        if (ctype_ == 0) span *= 3.5f;
        float ratio = nspan != 0 ? span / nspan : 1.0f;
        if (ctype_ == 3) ratio *= 0.8f;
        auto each = [&](auto fn) {
            for (BodyNode &n : nodes_) {
                fn(n.pivot[0], n.pivot[1], n.pivot[2]);
                for (int v = 0; v < n.V; v++) fn(n.rx[v], n.ry[v], n.rz[v]);
            }
        };
        each([&](float &x, float &y, float &z) { x *= ratio, y *= ratio, z *= ratio; });
        const MeshObject &o = *objects_[bt.fitObject];
        const BodyNode &nn = nodes_[neutral];
        float mid[3] = {(o.x[low] + o.x[high]) / 2, (o.y[low] + o.y[high]) / 2, (o.z[low] + o.z[high]) / 2};
        float nmid[3] = {(nn.rx[nlow] + nn.rx[nhigh]) / 2, (nn.ry[nlow] + nn.ry[nhigh]) / 2,
                         (nn.rz[nlow] + nn.rz[nhigh]) / 2};
        float d[3];
        for (int k = 0; k < 3; k++) d[k] = mid[k] - nmid[k] + bt.offset[k];
        each([&](float &x, float &y, float &z) { x += d[0], y += d[1], z += d[2]; });
        if (ctype_ == 8 || ctype_ == 9) each([&](float &x, float &y, float &z) { x *= 0.9f, y *= 0.85f, z *= 0.93f; });
    }
    int b = findNode("Obrik BODY");
    if (b >= 0 && ctype_ != 8 && ctype_ != 9) {
        BodyNode &n = nodes_[b];
        std::vector<float> acc(3 * n.V, 0.0f);
        std::vector<int> cnt(n.V, 0);
        for (int t = 0; t < n.F; t++) {
            int c[3] = {n.fa[t], n.fb[t], n.fc[t]};
            float e1[3] = {n.rx[c[1]] - n.rx[c[0]], n.ry[c[1]] - n.ry[c[0]], n.rz[c[1]] - n.rz[c[0]]};
            float e2[3] = {n.rx[c[2]] - n.rx[c[1]], n.ry[c[2]] - n.ry[c[1]], n.rz[c[2]] - n.rz[c[1]]};
            float fn[3];
            FaceNormal(e1, e2, fn);
            for (int v : c) {
                cnt[v]++;
                for (int k = 0; k < 3; k++) acc[3 * v + k] = (acc[3 * v + k] + fn[k]) / cnt[v];
            }
        }
        for (int v = 0; v < n.V; v++) {
            float *a = &acc[3 * v];
            float l = std::sqrt(a[0] * a[0] + a[1] * a[1] + a[2] * a[2]);
            // a vertex no face uses has no direction: give it +z
            float nx = l > 0 ? a[0] / l : 0, ny = l > 0 ? a[1] / l : 0, nz = l > 0 ? a[2] / l : 1;
            n.restNormal[3 * v] = n.curNormal[3 * v] = nx;
            n.restNormal[3 * v + 1] = n.curNormal[3 * v + 1] = ny;
            n.restNormal[3 * v + 2] = n.curNormal[3 * v + 2] = nz;
        }
    }
    // Skinning needs the pelvis, the body mesh and a valid bone for every vertex.
    bodyOk_ = bonesOk && b >= 0 && findNode("Bip01 Pelvis") >= 0;
    for (int k = 0; k < bodyWeldN_ && bodyOk_; k++)
        if (bodyWeld_[k] < 0 || bodyWeld_[k] >= nodes_[b].V) bodyWeldN_ = headWeldN_ = 0;
    if (bodyOk_) applyPose();
    return true;
}

}  // namespace brovana
