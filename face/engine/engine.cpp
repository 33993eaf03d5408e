// Engine construction, the view, timing and switch setters, and the small
// matrix helper the skeleton and head share.
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "engine.h"
#include "tables.h"

namespace brovana {

Mat4 Mat4::identity() {
    Mat4 r;
    for (int i = 0; i < 16; i++) r.m[i] = (i % 5 == 0) ? 1.0f : 0.0f;
    return r;
}

Mat4 Mat4::translate(float x, float y, float z) {
    Mat4 r = identity();
    r.m[12] = x;
    r.m[13] = y;
    r.m[14] = z;
    return r;
}

Mat4 Mat4::rotate(float degrees, float x, float y, float z) {
    // The matrix glRotatef builds.
    float len = std::sqrt(x * x + y * y + z * z);
    Mat4 r = identity();
    if (len == 0) return r;
    x /= len, y /= len, z /= len;
    double a = degrees * M_PI / 180.0;
    float c = (float)std::cos(a), s = (float)std::sin(a), t = 1 - c;
    r.m[0] = x * x * t + c;
    r.m[1] = y * x * t + z * s;
    r.m[2] = x * z * t - y * s;
    r.m[4] = x * y * t - z * s;
    r.m[5] = y * y * t + c;
    r.m[6] = y * z * t + x * s;
    r.m[8] = x * z * t + y * s;
    r.m[9] = y * z * t - x * s;
    r.m[10] = z * z * t + c;
    return r;
}

Mat4 Mat4::operator*(const Mat4 &o) const {
    Mat4 r;
    for (int c = 0; c < 4; c++)
        for (int row = 0; row < 4; row++) {
            float s = 0;
            for (int k = 0; k < 4; k++) s += m[k * 4 + row] * o.m[c * 4 + k];
            r.m[c * 4 + row] = s;
        }
    return r;
}

void Mat4::apply(float x, float y, float z, float *ox, float *oy, float *oz) const {
    float X = m[0] * x + m[4] * y + m[8] * z + m[12];
    float Y = m[1] * x + m[5] * y + m[9] * z + m[13];
    float Z = m[2] * x + m[6] * y + m[10] * z + m[14];
    float w = m[3] * x + m[7] * y + m[11] * z + m[15];
    if (w == 0) w = 1;
    *ox = X / w;
    *oy = Y / w;
    *oz = Z / w;
}

bool DecodeLoadType(int loadType, CharacterKind *out) {
    static const CharacterKind table[14] = {
        {0, false, false}, {1, false, false}, {2, false, false}, {3, false, false}, {4, false, false},
        {5, false, false}, {6, false, false}, {7, false, false}, {8, false, false}, {9, false, false},
        {9, true, true},   {9, true, false},  {8, true, true},   {8, true, false}};
    if (loadType < 0 || loadType > 13) return false;
    *out = table[loadType];
    return true;
}

BrovanaEngine::BrovanaEngine() {
    for (int i = 0; i < 4; i++) {
        static const float hair[4] = {0.378f, 0.106f, 0.1f, 1.0f};
        hairAmbient_[i] = hairDiffuse_[i] = hairSpecular_[i] = hair[i];
    }
    for (int &s : slots_) s = 0;
    headMatrix_ = Mat4::identity();
    coef38_.assign(basisCount38_, 0.0f);
    setAutoBlink(false);
    setAutoBlinkWords(5, 10);
    setAutoBlinkCount(2000);
    setFrameRate(30);
    seedRandom();
}

BrovanaEngine::~BrovanaEngine() = default;

void BrovanaEngine::setPerspective(float fovy, float aspect, float nearZ, float farZ) {
    fovy_ = fovy;
    aspect_ = aspect;
    near_ = nearZ;
    far_ = farZ;
}

void BrovanaEngine::setViewpoint(double ex, double ey, double ez, double cx, double cy, double cz) {
    eye_[0] = (float)ex, eye_[1] = (float)ey, eye_[2] = (float)ez;
    center_[0] = (float)cx, center_[1] = (float)cy, center_[2] = (float)cz;
}

void BrovanaEngine::setAutoBlinkCount(int count) {
    char buf[52];
    snprintf(buf, sizeof buf, "%d,B", count);
    autoBlinkTag_ = buf;
}

int BrovanaEngine::autoBlinkCount() const {
    int v = 0;
    sscanf(autoBlinkTag_.c_str(), "%d,B", &v);
    return v;
}

void BrovanaEngine::logProcedure(const char *text, int newline) {
    FILE *f = fopen("procedurem.txt", "at");
    if (!f) return;
    fputs(text ? text : "", f);
    if (newline > 0) fputc('\n', f);
    fclose(f);
}

void BrovanaEngine::reset() {
    dropMarkup();
    list_.clear();
    wordTags_.clear();
    freePhonemeData();
    N_ = 0;
    Wc_ = 0;
    duration_ = 0;
}

void BrovanaEngine::prep() {
    dropMarkup();
    prepare(W_);
    markupTrack_ = false;
}

void BrovanaEngine::unload() {
    if (modelLoaded_) freeModel();
    trRow_.clear(), trTarget_.clear(), trLip_.clear(), trTongue_.clear();
    if (ctype_ <= 4 || ctype_ == 7) tongue_.reset();
}

void BrovanaEngine::resetState() {
    curW_ = 1;
    modelLoaded_ = false;
    F_ = 0;
    alpha_ = 1.0f;
    bodyScale_ = 1.0f;
    bodyLift_ = 0.0f;
    restoreFlag_ = false;
    reset();
}

bool BrovanaEngine::containsKey(int key, int count, const int *values) {
    for (int i = 0; i < count; i++)
        if (values[i] == key) return true;
    return false;
}

const char *BrovanaEngine::arpabetToWorldbet(const char *symbol) {
    for (const ArpabetPair &p : ArpabetPairs)
        if (strcmp(p.arpabet, symbol) == 0) return p.worldbet;
    return nullptr;
}

void BrovanaEngine::setClearColor(float r, float g, float b, float a) {
    clear_[0] = r, clear_[1] = g, clear_[2] = b, clear_[3] = a;
}

bool BrovanaEngine::fail(const std::string &msg) {
    error_ = msg;
    return false;
}

// A 15-bit generator of our own: the idle motion scales its values by
// 1 / 32767, which the C library's rand() does not honour everywhere.
void BrovanaEngine::seedRandom() {
    if (!fixedSeed_) rng_ = (uint32_t)time(nullptr);
}

float BrovanaEngine::randomUnit() {
    rng_ = rng_ * 214013u + 2531011u;
    int v = (int)((rng_ >> 16) & 0x7fff);
    return v * (1.0f / 32767.0f);
}

}  // namespace brovana
