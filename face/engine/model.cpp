// Character load: the load sequence, the binary model, images, tongue mesh
// and table, and the face data files (weld lists, part lists, face
// components, head data).  Every count and index read from a file is checked
// before it is used; a file that does not fit fails the load with a message.
#include <cmath>
#include <cstdio>
#include <algorithm>
#include <cstring>

#include "engine.h"
#include "files.h"
#include "tables.h"

namespace brovana {

namespace {

std::string Quote(const std::string &s) { return "\"" + s + "\""; }

// Brings a texture coordinate into [0, 1] by whole steps; 1 stays 1.
float Wrap(float u) {
    if (!std::isfinite(u)) return 0;
    if (u < 0) u += std::ceil(-u);
    if (u > 1) u -= std::ceil(u - 1);
    return u;
}

struct HeadTable {
    float pivot[3];
    int partsFiltered;
};
const HeadTable kHead[10] = {
    {{35.2533f, 216.604f, 91.0105f}, 15},      {{-5417.2f, 1519.93f, -40013.9f}, 17},
    {{-4.9573f, 23.2383f, 34.7473f}, 13},      {{-9.58753f, -2.98611f, 41.9221f}, 18},
    {{0.295458f, -1.52286f, -27.0026f}, 12},   {{93.106f, 225.583f, -112.017f}, 13},
    {{-0.272025f, -0.203575f, -10.2556f}, 4},  {{-0.9526f, -0.209472f, -9.72528f}, 1},
    {{0.295458f, -1.52286f, -27.0026f}, 4},    {{0.295458f, -1.52286f, -27.0026f}, 4}};

const char *const kFaceComponents[10] = {
    "tFaceComponents.bin", "oFaceComponents.bin", "kFaceComponents.bin", "dFaceComponents.bin",
    "bFaceComponents.bin", "sFaceComponents.bin", "VeFaceComponents.bin", "QuiFaceComponents.bin",
    "bNFaceComponents.bin", "bNFaceComponents.bin"};
const char *const kTeeth[10] = {"tTeethMotionIndext.bin", "oTeethMotionIndext.bin", "kTeethMotionIndext.bin",
                                "dTeethMotionIndext.bin", "bTeethMotionIndext.bin", nullptr, nullptr, nullptr,
                                "bNTeethMotionIndext.bin", "bNTeethMotionIndext.bin"};
const char *const kHeadData[5] = {"tamselhead", "obrikhead", "keffahead", "dunmohead", "bexlohead"};

struct WeldTable {
    const char *file;
    int count;
    bool head1, body1;
    const char *hidden;
    int hiddenCount;
};
const WeldTable kWeld[10] = {
    {"tamselheadbodynew.txt", 12, false, false, nullptr, 0},
    {"obrikheadbodynew.txt", 16, true, false, nullptr, 0},
    {nullptr, 0, false, false, nullptr, 0},
    {"dunmoheadbodynew.txt", 16, false, false, nullptr, 0},
    {"bexloheadbody.txt", 12, true, true, nullptr, 0},
    {"sorlaheadbody.txt", 10, true, true, nullptr, 0},
    {"venmiraheadbody.txt", 8, false, false, "venmirahidenneck.txt", 13},
    {"quilloheadbody.txt", 32, true, false, "quillohidenneck.txt", 16},
    {"bexloheadbodyN.txt", 12, true, true, nullptr, 0},
    {"bexloheadbodyN.txt", 12, true, true, nullptr, 0}};

// Per-character values of columns 8 to 11 of the "4r" tongue row.
const float kRow53[5][4] = {{-0.9808f, -1.272f, -2.272f, -1.544f},
                            {-200.0f, -386.15f, -597.25f, -597.25f},
                            {-1.74f, -2.1f, -2.1f, -2.2f},
                            {-0.67f, -2.05f, -2.05f, -1.1f},
                            {0.365f, -1.025f, -2.025f, -2.025f}};

}  // namespace

bool TextureImage::read(const std::string &path) {
    BinaryFile f(path);
    freePixels();
    width = height = 0;
    if (!f.isOpen()) return false;
    int32_t w, h;
    f.i32(&w);
    f.i32(&h);
    if (!f.ok() || w < 1 || h < 1 || w > 16384 || h > 16384 || (long)w * h * 3 > f.remaining()) return false;
    std::string data;
    if (!f.bytes(&data, w * h * 3)) return false;
    width = w;
    height = h;
    pixels.assign(data.begin(), data.end());
    return true;
}

int TongueModel::read(const std::string &path) {
    BinaryFile f(path);
    vertexCount = triangleCount = 0;
    if (!f.isOpen()) return 0;
    int32_t V, T;
    f.i32(&V);
    f.i32(&T);
    if (!f.ok() || V < 0 || T < 0 || (long)V * 12 + (long)T * 12 > f.remaining()) return 0;
    x.resize(V), y.resize(V), z.resize(V);
    for (int i = 0; i < V; i++) f.f32(&x[i]), f.f32(&y[i]), f.f32(&z[i]);
    a.resize(T), b.resize(T), c.resize(T);
    for (int i = 0; i < T; i++) {
        f.i32(&a[i]), f.i32(&b[i]), f.i32(&c[i]);
        if (a[i] < 0 || a[i] >= V || b[i] < 0 || b[i] >= V || c[i] < 0 || c[i] >= V) return 0;
    }
    if (!f.ok()) return 0;
    // A mesh without the 193 banded vertices cannot be placed; keep it unusable.
    vertexCount = V;
    triangleCount = T;
    return 1;
}

void BrovanaEngine::freeModel() {
    objects_.clear();
    nObjects_ = 0;
    evalIndex_ = 0;
    for (auto &c : comps_) c.clear();
    faceVerts_.clear();
    nodes_.clear();
    neutralPose_.clear();
    freePoseTracks();
    bodyOk_ = false;
    vertexMap_.clear();
    hideList_.clear();
    headWeldN_ = bodyWeldN_ = hiddenNeckN_ = 0;
    basis15_.clear();
    basis38_.clear();
    twomap_.clear(), pacom_.clear(), set1_.clear(), set2_.clear(), beta_.clear();
    coefTracks_.clear(), frameTags_.clear(), coefT_ = 0;
    hair_ = MeshObject();
    adapt_.clear();
    baseX_.clear(), baseY_.clear(), baseZ_.clear();
    modelLoaded_ = false;
}

bool BrovanaEngine::load(int type, const char *dir) {
    error_.clear();
    CharacterKind kind;
    if (!DecodeLoadType(type, &kind))
        return fail("unknown character type " + std::to_string(type) + ": expected 0 to 13");
    loadDir_ = dir ? dir : "";
    std::string M = JoinPath(loadDir_, "Models");
    if (modelLoaded_) freeModel();
    kind_ = kind;
    ctype_ = kind.type;
    if (ctype_ != 5) {
        tongue_.reset(new TongueModel);
        tongue_->read(JoinPath(M, "Tongue.Ge"));
    }
    std::string modelPath = JoinPath(M, ModelFile[ctype_]);
    {
        BinaryFile probe(modelPath);
        if (!probe.isOpen()) return false;  // the one failure reported without a message
    }
    bool ok = readModel(modelPath);
    if (ok && (kind_.hair || kind_.adapted)) ok = readVertexMap();
    if (ok && ctype_ != 5 && TongueTableFile[ctype_]) readTongueTable(JoinPath(M, TongueTableFile[ctype_]));
    if (!ok) {
        freeModel();
        return false;
    }
    for (auto &img : images_) img.freePixels();
    int faceSlot = ctype_ < 8 ? 2 * ctype_ : 16;
    images_[faceSlot].read(JoinPath(M, FaceImageFile[ctype_]));
    images_[faceSlot + 1].read(JoinPath(M, BodyImageFile[ctype_]));
    if (gl_) uploadTextures();
    for (auto &img : images_) img.freePixels();
    allocWorkObjects();
    modelLoaded_ = true;
    headAngles_[0] = headAngles_[1] = headAngles_[2] = 0;
    composed_ = 0;
    if (kind_.hair && !readHair()) {
        freeModel();
        return false;
    }
    bindTargets();
    makeIdleTracks();
    idleT_[0] = slots_[6], idleT_[1] = slots_[20];
    idleW_[0] = 1, idleW_[1] = 0;
    int realType = ctype_;
    if (ctype_ == 9) ctype_ = 8;
    readWeldData();
    buildPartLists();
    ok = readFaceComponents() && readHeadData();
    if (ok && ctype_ != 5) readBodyData();
    ctype_ = realType;
    if (!ok) {
        freeModel();
        return false;
    }
    eyeOn_ = secondOn_ = false;
    curW_ = 1;
    restMouth();
    if (gl_) resetView(vpW_, vpH_);
    eyeblink_ = pupil_ = expression_ = expression2_ = true;
    setAlpha(1.0f);
    mixSource_ = true;
    paramModel_ = ctype_ == 8 || ctype_ == 9;
    if (kind_.adapted && !readAdaptation()) {
        freeModel();
        return false;
    }
    if (ctype_ == 8 && !readBasis("AlphaN.bin", 15, &basis15_)) {
        freeModel();
        return false;
    }
    if (ctype_ == 9 && !readBasis("AlphaN2.bin", basisCount38_, &basis38_)) {
        freeModel();
        return false;
    }
    if ((ctype_ == 8 && !(readTwomap(M) && readPacomN(M))) ||
        (ctype_ == 9 && !(readPhonemeSets(M) && readBeta(M)))) {
        freeModel();
        return false;
    }
    headTrack_ = true;
    return true;
}

bool BrovanaEngine::readModel(const std::string &path) {
    BinaryFile f(path);
    auto bad = [&](const char *what) { return fail("damaged model file " + Quote(f.path()) + ": " + what); };
    int32_t n, m;
    f.i32(&n);
    f.i32(&m);
    if (!f.ok() || n < 1 || m < 1 || (long)n * 8 > f.remaining() || (long)m * 40 > f.remaining())
        return bad("object or material count does not fit the file");
    objects_.clear();
    for (int i = 0; i < n + 3; i++) objects_.emplace_back(new MeshObject);
    nObjects_ = n;
    MeshObject &o0 = *objects_[0];
    o0.materials.resize(m);
    static const int white[10][2] = {{0, -1}, {0, 4}, {0, 11}, {0, -1}, {0, 3},
                                     {2, -1}, {0, 1}, {0, -1}, {0, -1}, {0, -1}};
    for (int k = 0; k < m; k++) {
        Material &mat = o0.materials[k];
        for (int c = 0; c < 3; c++) f.f32(&mat.ambient[c]);
        for (int c = 0; c < 3; c++) f.f32(&mat.diffuse[c]);
        for (int c = 0; c < 3; c++) f.f32(&mat.specular[c]);
        f.f32(&mat.shininess);
        mat.ambient[3] = mat.diffuse[3] = mat.specular[3] = 1.0f;
        if (k == white[ctype_][0] || k == white[ctype_][1]) mat.diffuse[0] = mat.diffuse[1] = mat.diffuse[2] = 1;
        if (k == 0)
            for (int c = 0; c < 3; c++) mat.specular[c] *= 0.8f;
        bool special = (ctype_ == 8 && k <= 2) || (ctype_ == 9 && (k <= 2 || k == 4));
        if (special) {
            mat.shininess *= 128;
            for (int c = 0; c < 4; c++) mat.specular[c] *= 0.02f;
            if (k == 1) mat.diffuse[0] = mat.diffuse[1] = mat.diffuse[2] = 0.618f;
            if (k == 2) mat.diffuse[0] = mat.diffuse[1] = mat.diffuse[2] = 0.75f;
        }
        mat.shininess *= 128;
    }
    for (float &h : o0.header) f.f32(&h);
    int V = 0, F = 0, T = 0;
    for (int i = 0; i < n; i++) {
        MeshObject &o = *objects_[i];
        int32_t L;
        f.i32(&L);
        if (!f.ok() || L < 0 || L > 255) return bad("object name length out of range");
        std::string name;
        f.bytes(&name, L);
        for (char ch : name)
            if (ch != '"') o.name += ch;
        if (i == 0) {
            f.i32(&V);
            f.i32(&F);
            if (!f.ok() || V < 1 || F < 0 || (long)V * 12 > f.remaining() || (long)F * 16 > f.remaining())
                return bad("vertex or face count does not fit the file");
        }
        if ((long)V * 24 > f.remaining()) return bad("file ends inside an object");
        o.V = V;
        o.x.resize(V), o.y.resize(V), o.z.resize(V);
        for (int v = 0; v < V; v++) {
            f.f32(&o.x[v]), f.f32(&o.y[v]), f.f32(&o.z[v]);
        }
        float fx = 0, fy = 0, fz = 0;
        for (int v = 0; v < V; v++) fx += o.x[v], fy += o.y[v], fz += o.z[v];
        o.centroid[0] = fx / V, o.centroid[1] = fy / V, o.centroid[2] = fz / V;
        if (i == 0) {
            o.F = F;
            o.fa.resize(F), o.fb.resize(F), o.fc.resize(F), o.fmat.resize(F);
            for (int t = 0; t < F; t++) {
                f.i32(&o.fa[t]), f.i32(&o.fb[t]), f.i32(&o.fc[t]), f.i32(&o.fmat[t]);
                if (o.fa[t] < 0 || o.fa[t] >= V || o.fb[t] < 0 || o.fb[t] >= V || o.fc[t] < 0 || o.fc[t] >= V)
                    return bad("face vertex index out of range");
                if (o.fmat[t] < 0 || o.fmat[t] >= m) return bad("face material index out of range");
            }
            f.i32(&T);
            if (!f.ok() || T < 0 || (long)T * 8 > f.remaining()) return bad("texture-coordinate count does not fit the file");
            o.T = T;
            o.u.resize(T), o.v.resize(T);
            for (int k = 0; k < T; k++) {
                float u, v;
                f.f32(&u), f.f32(&v);
                if ((ctype_ == 8 || ctype_ == 9) && 0.22f < v && v < 0.27f && 0.32f < u && u < 0.37f)
                    u = 0.492f, v = 0.639f;
                else if (ctype_ == 7 && v > 1.0f)
                    u = 0.29f, v = 0.27f;
                else if (ctype_ == 0 || ctype_ == 1 || ctype_ == 3)
                    u = Wrap(u), v = Wrap(v);
                o.u[k] = u, o.v[k] = v;
            }
        }
        o.normals.resize(3 * V);
        for (float &c : o.normals) f.f32(&c);
        if (!f.ok()) return bad("file ends inside an object");
    }
    for (int i = 1; i < n; i++) objects_[i]->F = F, objects_[i]->T = T;
    int spots = ctype_ == 7 ? 4 : 2;
    int omni = ctype_ == 0 ? 2 : ctype_ == 1 ? 1 : 0;
    for (int k = 0; k < spots + omni; k++) {
        LightRecord &l = o0.lights[k];
        int32_t L;
        f.i32(&L);
        if (!f.ok() || L < 0 || L > 256) return bad("light name length out of range");
        f.bytes(&l.name, L);
        for (int c = 0; c < 3; c++) f.f32(&l.position[c]);
        if (k < spots)
            for (int c = 0; c < 3; c++) f.f32(&l.target[c]);
        for (int c = 0; c < 3; c++) f.f32(&l.color[c]);
        if (k < spots) f.f32(&l.firstAngle), f.f32(&l.coneAngle);
    }
    o0.ta.resize(F), o0.tb.resize(F), o0.tc.resize(F);
    for (int t = 0; t < F; t++) {
        f.i32(&o0.ta[t]), f.i32(&o0.tb[t]), f.i32(&o0.tc[t]);
        if (o0.ta[t] < 0 || o0.ta[t] >= T || o0.tb[t] < 0 || o0.tb[t] >= T || o0.tc[t] < 0 || o0.tc[t] >= T)
            return bad(f.ok() ? "texture index out of range" : "file ends before the texture indices");
    }
    if (!f.ok()) return bad("file ends early");
    return true;
}

bool BrovanaEngine::readTongueTable(const std::string &path) {
    BinaryFile f(path);
    if (!f.isOpen()) return false;
    int rows = (ctype_ == 6 || ctype_ == 7) ? 51 : 54;
    for (int r = 0; r < rows; r++)
        for (int c = 0; c < 18; c++) {
            float v;
            if (!f.f32(&v)) break;  // a short table keeps the rest of the previous rows
            tongueTable_[r][c] = v;
        }
    if (ctype_ != 6 && ctype_ != 7) {
        memcpy(tongueTable_[53], tongueTable_[2], sizeof tongueTable_[2]);
        if (ctype_ <= 4)
            for (int c = 0; c < 4; c++) tongueTable_[53][8 + c] = kRow53[ctype_][c];
    }
    memcpy(tongueRest_, tongueTable_[0], sizeof tongueRest_);
    return true;
}

void BrovanaEngine::allocWorkObjects() {
    const MeshObject &o0 = *objects_[0];
    for (int k = 0; k < 3; k++) {
        MeshObject &w = *objects_[nObjects_ + k];
        w.V = o0.V;
        w.x = o0.x, w.y = o0.y, w.z = o0.z;
        w.normals = o0.normals;
    }
    evalIndex_ = nObjects_ + 2;
}

// Reads one weld list of count lines, "%d" each.
static bool ReadIntLines(TextFile &f, int count, int *out) {
    std::string line;
    for (int i = 0; i < count; i++) {
        if (!f.line(&line) || sscanf(line.c_str(), "%d", &out[i]) != 1) return false;
    }
    return true;
}

bool BrovanaEngine::readWeldData() {
    headWeldN_ = bodyWeldN_ = hiddenNeckN_ = 0;
    const WeldTable &w = kWeld[ctype_];
    std::string dir = JoinPath(JoinPath(loadDir_, "Models"), "welddata");
    int V = objects_[0]->V;
    if (w.hidden) {
        TextFile f(JoinPath(dir, w.hidden));
        if (!f.isOpen() || !ReadIntLines(f, w.hiddenCount, hiddenNeck_)) return false;
        hiddenNeckN_ = w.hiddenCount;
    }
    if (!w.file) return true;
    TextFile f(JoinPath(dir, w.file));
    std::string skip;
    if (!f.isOpen() || !ReadIntLines(f, w.count, headWeld_) || !f.line(&skip) ||
        !ReadIntLines(f, w.count, bodyWeld_))
        return false;
    for (int k = 0; k < w.count; k++) {
        if (w.head1) headWeld_[k]--;
        if (w.body1) bodyWeld_[k]--;
        // a head entry outside the face can never be drawn: drop the list
        if (headWeld_[k] < 0 || headWeld_[k] >= V) return false;
    }
    headWeldN_ = bodyWeldN_ = w.count;
    return true;
}

void BrovanaEngine::buildPartLists() {
    MeshObject &o = *objects_[0];
    int m = (int)o.materials.size();
    o.partLists.assign(m, {});
    o.keep.assign(m, {});
    for (int t = 0; t < o.F; t++) o.partLists[o.fmat[t]].push_back(t);
    for (int k = 0; k < m; k++) o.keep[k].assign(o.partLists[k].size(), 0);
    o.headVertex.assign(o.V, 0);
    o.weldSlot.assign(o.V, -1);
    for (int k = 0; k < headWeldN_; k++) o.weldSlot[headWeld_[k]] = k;
    bodyLift_ = 0;
    bodyScale_ = 1.0f;
}

bool BrovanaEngine::readFaceComponents() {
    const MeshObject &o = *objects_[0];
    int V = o.V;
    std::string dir = JoinPath(JoinPath(loadDir_, "Models"), "FaceCom");
    for (auto &c : comps_) c.assign(V, 0);
    {
        BinaryFile f(JoinPath(dir, kFaceComponents[ctype_]));
        if (!f.isOpen()) return fail("cannot open face components " + Quote(f.path()));
        if (f.remaining() < (long)V * 64) return fail("damaged face components " + Quote(f.path()) + ": too short");
        for (int v = 0; v < V; v++)
            for (int c = 0; c < 16; c++) f.i32(&comps_[c][v]);
    }
    if (kTeeth[ctype_]) {
        BinaryFile f(JoinPath(dir, kTeeth[ctype_]));
        if (!f.isOpen()) return fail("cannot open teeth motion " + Quote(f.path()));
        if (f.remaining() < (long)V * 8) return fail("damaged teeth motion " + Quote(f.path()) + ": too short");
        for (int v = 0; v < V; v++) f.i32(&comps_[16][v]), f.i32(&comps_[17][v]);
    }
    faceVerts_.clear();
    for (int v = 0; v < V; v++)
        if (comps_[0][v] != 0) faceVerts_.push_back(v);
    return true;
}

bool BrovanaEngine::readHideList() {
    hideList_.clear();
    TextFile f(JoinPath(JoinPath(JoinPath(loadDir_, "Models"), "welddata"), "bexloheadhide.txt"));
    if (!f.isOpen()) return false;  // no list hides nothing
    std::string line;
    for (int i = 0; i < 24 && f.line(&line); i++) {
        int v;
        if (sscanf(line.c_str(), "%d", &v) == 1) hideList_.push_back(v);
    }
    return true;
}

bool BrovanaEngine::readHeadData() {
    MeshObject &o = *objects_[0];
    const HeadTable &h = kHead[ctype_];
    memcpy(headPivot_, h.pivot, sizeof headPivot_);
    int P = std::min(h.partsFiltered, (int)o.materials.size());
    partsFiltered_ = P;
    std::string dir = JoinPath(JoinPath(loadDir_, "Models"), "headdata");
    std::vector<char> inHead;
    bool haveHead = false;
    if (ctype_ <= 4) {
        BinaryFile f(JoinPath(dir, std::string(kHeadData[ctype_]) + ".ind"));
        int32_t count = 0;
        if (f.isOpen() && f.i32(&count) && count >= 0 && (long)count * 4 <= f.remaining()) {
            inHead.assign(o.F, 0);
            for (int i = 0; i < count; i++) {
                int32_t t;
                f.i32(&t);
                if (t >= 0 && t < o.F) inHead[t] = 1;
            }
            haveHead = true;
        }
        if (ctype_ == 4) readHideList();
    }
    for (int k = 0; k < P; k++) {
        for (size_t i = 0; i < o.partLists[k].size(); i++) {
            int t = o.partLists[k][i];
            char keep = 1;
            if (ctype_ <= 4) {
                // without a head list every triangle of the part stays
                keep = haveHead ? inHead[t] : 1;
                if (keep && ctype_ == 4)
                    for (int hidden : hideList_)
                        if (hidden - 1 == t) keep = 0;
            } else if (ctype_ == 6) {
                float limit = o.V > 23 ? o.z[23] + 0.266f : -1e30f;
                keep = o.z[o.fa[t]] > limit || o.z[o.fb[t]] > limit || o.z[o.fc[t]] > limit;
            }
            o.keep[k][i] = keep;
        }
        std::vector<int> kept;
        for (size_t i = 0; i < o.partLists[k].size(); i++)
            if (o.keep[k][i]) kept.push_back(o.partLists[k][i]);
        o.partLists[k] = kept;
        o.keep[k].assign(kept.size(), 1);
    }
    if (ctype_ <= 4) {
        BinaryFile f(JoinPath(dir, std::string(kHeadData[ctype_]) + "points.ind"));
        int32_t count = 0;
        if (f.isOpen() && f.i32(&count) && count >= 0 && (long)count * 4 <= f.remaining()) {
            for (int i = 0; i < count; i++) {
                int32_t v;
                f.i32(&v);
                if (v >= 0 && v < o.V) o.headVertex[v] = 1;
            }
        }
    } else if (ctype_ == 8 || ctype_ == 9) {
        o.headVertex.assign(o.V, 1);
    }
    return true;
}

bool BrovanaEngine::readHair() {
    std::string path = JoinPath(JoinPath(loadDir_, "Models"), "hairnew2.GL");
    TextFile f(path);
    if (!f.isOpen()) return fail("cannot open hair mesh " + Quote(FindFile(path)));
    auto bad = [&]() { return fail("damaged hair mesh " + Quote(FindFile(path))); };
    FILE *in = f.stream();
    long P, N;
    if (fscanf(in, "%ld %ld", &P, &N) != 2 || P < 0 || N < 0 || P > 10000000 || N > 10000000) return bad();
    MeshObject &h = hair_;
    h = MeshObject();
    h.V = (int)P, h.F = (int)N;
    h.x.resize(P), h.y.resize(P), h.z.resize(P), h.normals.resize(3 * P);
    h.fa.resize(N), h.fb.resize(N), h.fc.resize(N);
    long idx, extra[5];
    for (long i = 0; i < P; i++)
        if (fscanf(in, "%ld %f %f %f", &idx, &h.x[i], &h.y[i], &h.z[i]) != 4) return bad();
    for (long t = 0; t < N; t++) {
        if (fscanf(in, "%ld %d %d %d %ld %ld %ld %ld %ld", &idx, &h.fa[t], &h.fb[t], &h.fc[t], &extra[0], &extra[1],
                   &extra[2], &extra[3], &extra[4]) != 9)
            return bad();
        if (h.fa[t] < 0 || h.fa[t] >= P || h.fb[t] < 0 || h.fb[t] >= P || h.fc[t] < 0 || h.fc[t] >= P) return bad();
    }
    for (long i = 0; i < P; i++)
        if (fscanf(in, "%ld %f %f %f", &idx, &h.normals[3 * i], &h.normals[3 * i + 1], &h.normals[3 * i + 2]) != 4)
            return bad();
    return true;
}

bool BrovanaEngine::readVertexMap() {
    std::string M = JoinPath(loadDir_, "Models");
    MeshObject &o = *objects_[0];
    BinaryFile fm(JoinPath(M, "gTransa.bin"));
    int32_t K = 0;
    if (!fm.isOpen()) return fail("cannot open vertex map " + Quote(fm.path()));
    fm.i32(&K);
    if (!fm.ok() || K < o.V || (long)K * 4 > fm.remaining())
        return fail("damaged vertex map " + Quote(fm.path()) + ": its count does not fit the face or the file");
    vertexMap_.resize(K);
    for (int &m : vertexMap_) fm.i32(&m);
    BinaryFile fv(JoinPath(M, "gVertexn.bin"));
    int32_t R = 0;
    if (!fv.isOpen()) return fail("cannot open replacement vertices " + Quote(fv.path()));
    fv.i32(&R);
    if (!fv.ok() || R < 0 || R > K || (long)R * 12 > fv.remaining())
        return fail("damaged replacement vertices " + Quote(fv.path()) + ": count does not fit");
    std::vector<float> rep(3 * (size_t)R);
    for (float &v : rep) fv.f32(&v);
    for (int i = 0; i < o.V; i++)
        if (vertexMap_[i] >= R) return fail("damaged vertex map " + Quote(fm.path()) + ": entry out of range");
    baseX_ = o.x, baseY_ = o.y, baseZ_ = o.z;
    for (int i = 0; i < o.V; i++) {
        int m = vertexMap_[i];
        if (m < 0) {
            o.x[i] = o.centroid[0], o.y[i] = o.centroid[1], o.z[i] = o.centroid[2];
        } else if (kind_.adapted) {
            o.x[i] = rep[3 * m], o.y[i] = rep[3 * m + 1], o.z[i] = rep[3 * m + 2];
        }
    }
    return true;
}

bool BrovanaEngine::readAdaptation() {
    std::string M = JoinPath(loadDir_, "Models");
    MeshObject &o0 = *objects_[0];
    BinaryFile fa(JoinPath(M, "gAdapt.bin"));
    int32_t A = 0;
    if (!fa.isOpen()) return fail("cannot open adaptation " + Quote(fa.path()));
    fa.i32(&A);
    if (!fa.ok() || A != o0.V || (long)A * 36 > fa.remaining())
        return fail("damaged adaptation " + Quote(fa.path()) + ": count does not fit the face or the file");
    adapt_.resize(9 * (size_t)A);
    for (float &v : adapt_) fa.f32(&v);
    if (baseX_.size() != (size_t)A) return fail("adaptation without a vertex map");
    for (int i = 1; i < nObjects_; i++) {
        if (i == 20) continue;
        MeshObject &o = *objects_[i];
        for (int j = 0; j < A && j < o.V; j++) {
            float d[3] = {o.x[j] - baseX_[j], o.y[j] - baseY_[j], o.z[j] - baseZ_[j]};
            const float *m = &adapt_[9 * (size_t)j];
            o.x[j] = o0.x[j] + m[0] * d[0] + m[1] * d[1] + m[2] * d[2];
            o.y[j] = o0.y[j] + m[3] * d[0] + m[4] * d[1] + m[5] * d[2];
            o.z[j] = o0.z[j] + m[6] * d[0] + m[7] * d[1] + m[8] * d[2];
        }
    }
    BinaryFile fz(JoinPath(M, "gVertexz.bin"));
    int32_t Z = 0;
    if (!fz.isOpen()) return fail("cannot open adapted blink " + Quote(fz.path()));
    fz.i32(&Z);
    if (!fz.ok() || Z < 0 || (long)Z * 12 > fz.remaining())
        return fail("damaged adapted blink " + Quote(fz.path()) + ": count does not fit");
    std::vector<float> rec(3 * (size_t)Z);
    for (float &v : rec) fz.f32(&v);
    int blink = slots_[20];
    if (blink > 0 && blink < nObjects_) {
        MeshObject &b = *objects_[blink];
        for (int i = 0; i < A; i++) {
            int m = vertexMap_[i];
            if (m < 0) continue;
            if (m >= Z) return fail("damaged adapted blink " + Quote(fz.path()) + ": too few records");
            b.x[i] = rec[3 * m], b.y[i] = rec[3 * m + 1], b.z[i] = rec[3 * m + 2];
        }
    }
    baseX_.clear(), baseY_.clear(), baseZ_.clear();
    return true;
}

bool BrovanaEngine::readBasis(const char *file, int blocks, std::vector<double> *out) {
    BinaryFile f(JoinPath(JoinPath(loadDir_, "Models"), file));
    int V = objects_[0]->V;
    long need = (long)blocks * V * 3;
    if (!f.isOpen()) return fail("cannot open basis file " + Quote(f.path()));
    if (f.remaining() < need * 8) return fail("damaged basis file " + Quote(f.path()) + ": too short");
    out->resize(need);
    for (long i = 0; i < need; i++) f.f64(&(*out)[i]);
    return true;
}

}  // namespace brovana
