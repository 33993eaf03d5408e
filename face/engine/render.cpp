// Frame rendering with OpenGL 1.1 immediate mode: the view, the character's
// light rig, the head part by part with the tongue inside, the skinned body,
// and the texture uploads.  Every function here needs the object's context
// to be current; the engine calls them only when OpenGL is enabled.
#include <GL/gl.h>
#include <GL/glu.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "engine.h"

namespace brovana {

namespace {

struct PartTable {
    int mouth;  // -1: none
    std::vector<int> untextured, textured;
    int faceTexture;
};
const PartTable kParts[10] = {
    {13, {1, 2, 3, 4, 5, 6, 7, 8, 9, 11, 12, 13}, {0}, 0},
    {16, {2, 3, 6, 7, 8, 9, 10, 11, 12, 13, 15, 16}, {0, 1, 4, 5}, 2},
    {10, {12, 1, 2, 3, 4, 5, 6, 7, 9, 10}, {0}, 4},
    {14, {1, 2, 3, 4, 5, 6, 7, 8, 10, 11, 14}, {0, 12, 13, 16, 17, 15}, 6},
    {9, {9, 6}, {0, 1, 2, 3, 4, 5, 7, 8}, 8},
    {-1, {12, 0, 1, 3, 4, 5, 6, 7, 8, 9, 10, 11}, {2}, 10},
    {4, {}, {0, 1, 3}, 12},
    {3, {}, {0, 2}, 14},
    {3, {}, {2, 0, 1}, 16},
    {3, {}, {2, 0, 1, 4}, 16}};

const int kBodyTexture[10] = {1, 3, 5, 7, 9, 11, 13, 15, 17, 17};
const int kAlphaCount[10] = {15, 17, 13, 17, 10, 13, 4, 3, 3, 5};

// OpenGL refuses shininess above 128 and spot cut-offs outside [0, 90]
// other than 180, keeping the previous value; clamp so that a value always
// takes effect and a frame never depends on what was drawn before it.
float Shininess(float s) { return std::min(std::max(s, 0.0f), 128.0f); }
float Cutoff(float c) {
    if (c >= 180) return 180;
    return std::min(std::max(c, 0.0f), 90.0f);
}

void TongueMaterial(int material) {
    static const float amb[4] = {0.384f, 0.118f, 0.192f, 1};
    static const float diff[4][4] = {
        {0.835f, 0.835f, 0, 1}, {0, 0, 0.635f, 1}, {0.8164f, 0.34f, 0.22f, 1}, {0.635f, 0.251f, 0.424f, 1}};
    static const float shine[4][4] = {
        {0.792f, 0.8f, 0, 1}, {0, 0, 0.62f, 1}, {0.792f, 0.478f, 0.62f, 1}, {0.792f, 0.478f, 0.62f, 1}};
    if (material < 0 || material > 4) return;
    float a[4], d[4], s[4];
    if (material == 4) {
        for (int k = 0; k < 3; k++) a[k] = 0.03f * amb[k], d[k] = 0.03f * diff[2][k], s[k] = 0.03f * shine[2][k];
        a[3] = d[3] = s[3] = 1;
    } else {
        memcpy(a, amb, sizeof a), memcpy(d, diff[material], sizeof d), memcpy(s, shine[material], sizeof s);
    }
    glMaterialfv(GL_FRONT, GL_AMBIENT, a);
    glMaterialfv(GL_FRONT, GL_DIFFUSE, d);
    glMaterialfv(GL_FRONT, GL_SPECULAR, s);
    glMaterialf(GL_FRONT, GL_SHININESS, 89.9f);
}

void Spot(GLenum light, float cutoff, const float dir[3], const float pos[3]) {
    float p[4] = {pos[0], pos[1], pos[2], 1};
    glLightf(light, GL_SPOT_CUTOFF, Cutoff(cutoff));
    glLightfv(light, GL_SPOT_DIRECTION, dir);
    glLightfv(light, GL_POSITION, p);
}

void Color(GLenum light, GLenum what, const float c[4]) {
    float v[4] = {c[0], c[1], c[2], 0};
    glLightfv(light, what, v);
}

}  // namespace

void TongueModel::place(const float yOff[9], const float zOff[9], const float tip[3], const float body[3],
                        const float tr[3], std::vector<float> *normals) {
    placed.assign(3 * 193, 0.0f);
    for (int v = 0; v < 193 && v < vertexCount; v++) {
        int band = v < 64 ? 0 : std::min(8, 1 + (v - 64) / 16);
        const float *s = band == 0 ? tip : body;
        placed[3 * v] = x[v] * s[0] + tr[0];
        placed[3 * v + 1] = y[v] * s[1] + yOff[band] + tr[1];
        placed[3 * v + 2] = z[v] * s[2] + tr[2] + (band == 0 ? 0 : zOff[band]);
    }
    normals->assign(3 * 193, 0.0f);
    std::vector<int> count(193, 0);
    for (int t = 0; t < triangleCount; t++) {
        int c[3] = {a[t], b[t], this->c[t]};
        if (c[0] >= 193 || c[1] >= 193 || c[2] >= 193) continue;
        const float *pa = &placed[3 * c[0]], *pb = &placed[3 * c[1]], *pc = &placed[3 * c[2]];
        float e1[3] = {pb[0] - pa[0], pb[1] - pa[1], pb[2] - pa[2]};
        float e2[3] = {pc[0] - pb[0], pc[1] - pb[1], pc[2] - pb[2]};
        float n[3];
        faceNormal(e1, e2, n);
        for (int v : c) {
            count[v]++;
            for (int k = 0; k < 3; k++) (*normals)[3 * v + k] = ((*normals)[3 * v + k] + n[k]) / count[v];
        }
    }
    static const int marks[6] = {93, 192, 152, 144, 174, 150};
    for (int i = 0; i < 6; i++) memcpy(landmarks[i], &placed[3 * marks[i]], sizeof landmarks[i]);
}

void TongueModel::faceNormal(const float e1[3], const float e2[3], float out[3]) {
    out[0] = e1[1] * e2[2] - e1[2] * e2[1];
    out[1] = e1[2] * e2[0] - e1[0] * e2[2];
    out[2] = e1[0] * e2[1] - e1[1] * e2[0];
    normalize(&out[0], &out[1], &out[2]);
}

void TongueModel::normalize(float *x, float *y, float *z) {
    float l = std::sqrt(*x * *x + *y * *y + *z * *z);
    if (!(l > 0)) return;
    *x /= l, *y /= l, *z /= l;
}

// No caller, and no rule given for it: a uniform scale about the origin,
// then a shift, of the rest mesh.
void TongueModel::scaleAndShift(double s, double dx, double dy, double dz) {
    for (int v = 0; v < vertexCount && v < (int)x.size(); v++) {
        x[v] = (float)(x[v] * s + dx);
        y[v] = (float)(y[v] * s + dy);
        z[v] = (float)(z[v] * s + dz);
    }
}

void TongueModel::setMaterial(int material) { TongueMaterial(material); }

void TongueModel::draw(const float yOff[9], const float zOff[9], const float tip[3], const float body[3],
                       const float tr[3], int material) {
    std::vector<float> normals;
    place(yOff, zOff, tip, body, tr, &normals);
    setMaterial(material);
    drawPlaced(normals, nullptr);
}

void TongueModel::drawTransformed(const float yOff[9], const float zOff[9], const float tip[3], const float body[3],
                                  const float tr[3], const float m[16]) {
    std::vector<float> normals;
    place(yOff, zOff, tip, body, tr, &normals);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    setMaterial(2);
    drawPlaced(normals, m);
}

void TongueModel::drawPlaced(const std::vector<float> &normals, const float *m) const {
    Mat4 t = Mat4::identity();
    if (m) memcpy(t.m, m, sizeof t.m);
    glEnable(GL_NORMALIZE);
    glBegin(GL_TRIANGLES);
    for (int i = 0; i < triangleCount; i++) {
        int cs[3] = {a[i], b[i], c[i]};
        if (cs[0] >= 193 || cs[1] >= 193 || cs[2] >= 193) continue;
        for (int v : cs) {
            float p[3] = {placed[3 * v], placed[3 * v + 1], placed[3 * v + 2]};
            if (m) t.apply(p[0], p[1], p[2], &p[0], &p[1], &p[2]);
            glNormal3fv(&normals[3 * v]);
            glVertex3fv(p);
        }
    }
    glEnd();
}

void TongueModel::lerpArc(const float start[3], const float end[3], float u, float r0, float r1, float d0, float d1,
                          float pos[3], float *radius, float *divisor) {
    for (int k = 0; k < 3; k++) pos[k] = start[k] + u * (end[k] - start[k]);
    *radius = r0 + u * (r1 - r0);
    *divisor = d0 + u * (d1 - d0);
}

void TongueModel::arcPlacement(int k, float u, bool nasal, float pos[3], float *radius, float *divisor) const {
    const float *L0 = landmarks[0], *Lk = landmarks[k < 1 ? 1 : k > 5 ? 5 : k];
    float d[3] = {Lk[0] - L0[0], Lk[1] - L0[1], Lk[2] - L0[2]};
    float s[3], e[3];
    for (int i = 0; i < 3; i++) s[i] = L0[i] + 1.2f * d[i], e[i] = L0[i] + 3 * d[i];
    if (k == 5) e[0] = L0[0] + 2 * d[0];
    if (!nasal) {
        s[1] -= 2;
        e[1] -= k <= 3 ? 5 : k == 4 ? 3 : 10;
        lerpArc(s, e, u, 2, 10, 2, 4.5f, pos, radius, divisor);
        return;
    }
    s[1] -= 20;
    e[1] -= k == 5 ? 30 : 25;
    e[2] += 10;
    // the nasal stream leaves upwards: its start turns about its end
    const double a = 0.6108652334660292;
    float sy = s[1] - e[1], sz = s[2] - e[2];
    s[1] = e[1] + (float)(sy * std::cos(a) - sz * std::sin(a));
    s[2] = e[2] + (float)(sy * std::sin(a) + sz * std::cos(a));
    lerpArc(s, e, u, 1, 5, 1.5f, 3, pos, radius, divisor);
}

std::vector<float> TongueModel::arcPoints(float r, float segments, float degrees) {
    std::vector<float> p;
    double total = degrees * 0.017453292, step = total / segments;
    if (!(segments > 0) || !(step > 0)) return p;  // no endless loop on a zero step
    for (double th = 0; th <= total + step; th += step) {
        p.push_back(0);
        p.push_back(r * (float)std::cos(th + 3.1415927));
        p.push_back(r * (float)std::sin(th + 3.1415927));
    }
    return p;
}

void TongueModel::drawArc(float radius, float lineWidth, float segments, float degrees) {
    std::vector<float> p = arcPoints(radius, segments, degrees);
    glLineWidth(lineWidth > 0 ? lineWidth : 1);
    glBegin(GL_LINE_STRIP);
    for (size_t i = 0; i + 2 < p.size(); i += 3) glVertex3f(p[i], p[i + 1], p[i + 2]);
    glEnd();
}

void TongueModel::drawArcAt(float x, float y, float z, float radius, float widthDivisor) {
    float range[2] = {1, 1};
    glGetFloatv(GL_LINE_WIDTH_RANGE, range);
    glPushMatrix();
    glTranslatef(x, y, z);
    drawArc(radius, range[1] / widthDivisor, 50, 180);
    glPopMatrix();
}

void TongueModel::drawArcs(float fraction, bool nasal) const {
    TongueMaterial(0);
    for (int k = 1; k <= 5; k++) {
        float pos[3], radius, divisor;
        arcPlacement(k, fraction, nasal, pos, &radius, &divisor);
        drawArcAt(pos[0], pos[1], pos[2], radius, divisor);
    }
}

bool BrovanaEngine::tongueArcs(float *fraction, bool *nasal) const {
    if (!arcSwitch_) return false;
    *fraction = duration_ > 0 ? arcElapsed_ / duration_ : 0;
    if (!(*fraction <= 0.85f && arcGate_)) return false;
    // "N", "n" and "m" of the phoneme table
    *nasal = arcRow_ == 6 || arcRow_ == 25 || arcRow_ == 28;
    return true;
}

void BrovanaEngine::tongueShapeFromVisemes(const int *rows, const int *targets, const float *w, int W,
                                           float shape[18]) const {
    for (int j = 0; j < 18; j++) shape[j] = 0;
    for (int s = 0; s <= W && s < kWindowRoom; s++) {
        if (targets[s] < 0 || rows[s] < 0 || rows[s] >= 54) continue;
        for (int j = 0; j < 18; j++) shape[j] += w[s] * tongueTable_[rows[s]][j];
    }
}

Mat4 BrovanaEngine::computeHeadMatrix() const {
    float a[3];
    for (int k = 0; k < 3; k++) a[k] = headAngles_[k] + (idleOff_ ? 0 : idleHead_[k]);
    const float *p = headPivot_;
    return Mat4::translate(p[0], p[1], p[2]) * Mat4::rotate(a[0], 1, 0, 0) * Mat4::rotate(a[1], 0, 1, 0) *
           Mat4::rotate(a[2], 0, 0, 1) * Mat4::translate(-p[0], -p[1], -p[2]);
}

void BrovanaEngine::computeNeckMatrix() {
    Mat4 M = computeHeadMatrix();
    int neck = ctype_ == 5 ? -1 : findNode("Bip01 Neck");
    if (neck < 0) {
        headMatrix_ = M;
        return;
    }
    Mat4 n;
    memcpy(n.m, nodes_[neck].matrix, sizeof n.m);
    headMatrix_ = n * M;
}

void BrovanaEngine::setAlpha(float a) {
    alpha_ = a;
    if (!objects_.empty()) {
        std::vector<Material> &mats = objects_[0]->materials;
        int count = std::min(kAlphaCount[ctype_], (int)mats.size());
        for (int i = 0; i < count; i++) {
            if ((ctype_ == 5 && i == 12) || (ctype_ == 7 && i == 1)) continue;
            if (ctype_ == 9 && !(i <= 2 || i == 4)) continue;
            mats[i].ambient[3] = mats[i].diffuse[3] = mats[i].specular[3] = a;
        }
    }
    if (kind_.hair && (ctype_ == 8 || ctype_ == 9)) hairAmbient_[3] = hairDiffuse_[3] = hairSpecular_[3] = a;
    if (!gl_) return;
    if (a < 1.0f) {
        glEnable(GL_BLEND);
        glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    } else {
        glDisable(GL_BLEND);
        glBlendFunc(GL_ONE, GL_ZERO);
    }
    glEnable(GL_DEPTH_TEST);
}

void BrovanaEngine::setDisplayMode(int mode) {
    if (!gl_) return;
    switch (mode) {
    case 0: glPolygonMode(GL_FRONT_AND_BACK, GL_FILL); break;
    case 1: glPolygonMode(GL_FRONT_AND_BACK, GL_LINE); break;
    case 2:
        glPolygonMode(GL_FRONT, GL_LINE);
        glPolygonMode(GL_BACK, GL_FILL);
        break;
    default: break;
    }
}

void BrovanaEngine::uploadTextures() {
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    for (int k = 0; k < kImageCount; k++) {
        const TextureImage &img = images_[k];
        if (img.pixels.empty()) continue;
        glBindTexture(GL_TEXTURE_2D, k);
        glTexImage2D(GL_TEXTURE_2D, 0, 3, img.width, img.height, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
        glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, img.width, img.height, GL_BGR, GL_UNSIGNED_BYTE, img.pixels.data());
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_REPEAT);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_REPEAT);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
        glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
    }
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
}

void BrovanaEngine::applyCamera() {
    const float *g = objects_[0]->centroid;
    gluLookAt(eye_[0] + g[0], eye_[1] + g[1], eye_[2] + g[2], center_[0] + g[0], center_[1] + g[1],
              center_[2] + g[2], 0, 0, 1);
}

void BrovanaEngine::resetView(int width, int height) {
    if (!modelLoaded_ || !gl_) return;
    glViewport(0, 0, width, height);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    gluPerspective(fovy_, height != 0 ? (double)width / height : (double)width, near_, far_);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    applyCamera();
    glFrontFace(GL_CCW);
    setupLights();
    glDrawBuffer(GL_BACK);
    // single-buffered offscreen surfaces refuse GL_BACK and draw to their one buffer
    glGetError();
}

void BrovanaEngine::setupLights() {
    glDisable(GL_LIGHTING);
    for (int l = 0; l < 5; l++) glDisable(GL_LIGHT0 + l);
    static const float zero[4] = {0, 0, 0, 0};
    for (GLenum l : {GL_LIGHT0, GL_LIGHT1}) {
        glLightf(l, GL_CONSTANT_ATTENUATION, 1);
        glLightfv(l, GL_AMBIENT, zero);
    }
    const MeshObject &o = *objects_[0];
    const LightRecord *R = o.lights;
    float P[4][3], T[4][3], D[4][3];
    for (int k = 0; k < 4; k++)
        for (int c = 0; c < 3; c++) P[k][c] = R[k].position[c], T[k][c] = R[k].target[c], D[k][c] = T[k][c] - P[k][c];
    const float *G = o.centroid;
    float A0 = R[0].coneAngle, A1 = R[1].coneAngle;
    float ambient = 0.5f;
    std::vector<GLenum> on;
    auto diffuse = [](GLenum l, const float *c) { Color(l, GL_DIFFUSE, c); };
    switch (ctype_) {
    case 0: {
        Spot(GL_LIGHT0, A0 * 0.5f, D[0], P[0]), diffuse(GL_LIGHT0, R[0].color);
        Spot(GL_LIGHT1, A1 * 0.5f, D[1], P[1]), diffuse(GL_LIGHT1, R[1].color);
        float p2[4] = {P[2][0], P[2][1], P[2][2], 1};
        glLightfv(GL_LIGHT2, GL_POSITION, p2);
        diffuse(GL_LIGHT2, R[2].color), Color(GL_LIGHT2, GL_SPECULAR, R[2].color);
        float d3[3] = {0, 0, D[1][2]}, p3[3] = {G[0], G[1], P[1][2]};
        Spot(GL_LIGHT3, A0 * 0.5f, d3, p3), diffuse(GL_LIGHT3, R[0].color), Color(GL_LIGHT3, GL_SPECULAR, R[0].color);
        on = {GL_LIGHT0, GL_LIGHT1, GL_LIGHT2, GL_LIGHT3};
        break;
    }
    case 1: {
        static const float white[4] = {1, 1, 1, 0};
        Spot(GL_LIGHT0, A0 * 10, D[0], P[0]), diffuse(GL_LIGHT0, R[0].color);
        Spot(GL_LIGHT1, A1 * 10, D[1], P[1]), diffuse(GL_LIGHT1, white);
        float d2[3] = {0, 0, -D[0][2]}, p2[3] = {G[0], G[1], -50 * P[0][2]};
        Spot(GL_LIGHT2, A0 * 10, d2, p2), diffuse(GL_LIGHT2, R[0].color);
        on = {GL_LIGHT0, GL_LIGHT1, GL_LIGHT2};
        break;
    }
    case 2:
    case 3: {
        GLenum a = ctype_ == 2 ? GL_LIGHT3 : GL_LIGHT2, b = ctype_ == 2 ? GL_LIGHT4 : GL_LIGHT3;
        Spot(GL_LIGHT0, A0 * 0.5f, D[0], P[0]), diffuse(GL_LIGHT0, R[0].color);
        Spot(GL_LIGHT1, A1 * 0.5f, D[1], P[1]), diffuse(GL_LIGHT1, R[1].color);
        float da[3] = {0, 0, D[0][2]}, pa[3] = {G[0], G[1], P[0][2]};
        float db[3] = {0, 0, -D[0][2]}, pb[3] = {G[0], G[1], -P[0][2]};
        Spot(a, A0 * 0.5f, da, pa), diffuse(a, R[0].color), Color(a, GL_SPECULAR, R[0].color);
        Spot(b, A0 * 0.5f, db, pb), diffuse(b, R[0].color), Color(b, GL_SPECULAR, R[0].color);
        on = {GL_LIGHT0, GL_LIGHT1, a, b};
        break;
    }
    case 4:
    case 8:
    case 9: {
        float p0[3] = {0, P[0][1], P[0][2]};
        float d0[3] = {T[0][0] - p0[0], T[0][1] - p0[1], T[0][2] - p0[2]};
        Spot(GL_LIGHT0, A0 * 50, d0, p0), glLightf(GL_LIGHT0, GL_SPOT_EXPONENT, 20), diffuse(GL_LIGHT0, R[0].color);
        Spot(GL_LIGHT1, A1 * 10, D[1], P[1]), glLightf(GL_LIGHT1, GL_SPOT_EXPONENT, 20), diffuse(GL_LIGHT1, R[1].color);
        float d2[3] = {d0[0], d0[1], T[0][2] + P[0][2]}, p2[3] = {0, P[0][1], -P[0][2]};
        Spot(GL_LIGHT2, A0 * 10, d2, p2), glLightf(GL_LIGHT2, GL_SPOT_EXPONENT, 20), diffuse(GL_LIGHT2, R[0].color);
        on = {GL_LIGHT0, GL_LIGHT1, GL_LIGHT2};
        ambient = 0.1f;
        break;
    }
    case 5:
        Spot(GL_LIGHT0, A0, D[0], P[0]), diffuse(GL_LIGHT0, R[0].color);
        Spot(GL_LIGHT1, A1, D[1], P[1]), diffuse(GL_LIGHT1, R[1].color);
        on = {GL_LIGHT0, GL_LIGHT1};
        break;
    case 6: {
        float p0[3] = {10 * P[0][0], P[0][1], P[0][2]}, p1[3] = {P[1][0] - 1000, P[1][1], P[1][2]};
        float p2[3] = {0, P[0][1], P[0][2] - 300}, p3[3] = {T[0][0] + 1000, T[0][1] + 1100, P[0][2] - 300};
        auto to = [&](const float *p, float *d) {
            for (int c = 0; c < 3; c++) d[c] = T[0][c] - p[c];
        };
        float d0[3], d1[3], d2[3], d3[3] = {1, 0, 0};
        to(p0, d0), to(p1, d1), to(p2, d2);
        Spot(GL_LIGHT0, A0 * 10, d0, p0), diffuse(GL_LIGHT0, R[0].color), Color(GL_LIGHT0, GL_AMBIENT, R[0].color);
        Spot(GL_LIGHT1, A1 * 10, d1, p1), diffuse(GL_LIGHT1, R[0].color), Color(GL_LIGHT1, GL_AMBIENT, R[0].color);
        Spot(GL_LIGHT2, A0 * 10, d2, p2), diffuse(GL_LIGHT2, R[0].color);
        Spot(GL_LIGHT3, A0 * 10, d3, p3), diffuse(GL_LIGHT3, R[0].color);
        on = {GL_LIGHT0, GL_LIGHT1, GL_LIGHT2, GL_LIGHT3};
        ambient = 0;
        break;
    }
    case 7: {
        float p0[4] = {0, 0, -5, 1}, p1[4] = {P[1][0], P[1][1], P[1][2], 1};
        glLightfv(GL_LIGHT0, GL_POSITION, p0), diffuse(GL_LIGHT0, R[0].color);
        glLightf(GL_LIGHT0, GL_CONSTANT_ATTENUATION, 0.01f);
        glLightfv(GL_LIGHT1, GL_POSITION, p1), diffuse(GL_LIGHT1, R[1].color);
        glLightf(GL_LIGHT1, GL_CONSTANT_ATTENUATION, 0.01f);
        on = {GL_LIGHT0, GL_LIGHT1};
        break;
    }
    default: break;
    }
    glEnable(GL_LIGHTING);
    for (GLenum l : on) glEnable(l);
    float amb[4] = {ambient, ambient, ambient, 1};
    glLightModelfv(GL_LIGHT_MODEL_AMBIENT, amb);
}

void BrovanaEngine::show() {
    if (!modelLoaded_ || !gl_) return;
    renderFrame();
}

void BrovanaEngine::renderFrame() {
    glClearDepth(1.0);
    glDepthFunc(GL_LESS);
    glClearColor(clear_[0], clear_[1], clear_[2], clear_[3]);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    drawBackground();
    drawScene();
    drawOverlay();
    glFinish();
    if (restoreFlag_) restoreSwitches();
}

static int Pow2(int n) {
    int p = 1;
    while (p < n) p *= 2;
    return p;
}

void BrovanaEngine::setBackgroundImage(int width, int height, std::vector<unsigned char> pixels) {
    if (pixels.empty() || width < 1 || height < 1 || pixels.size() < (size_t)width * height * 4) return;
    bg_.w = width, bg_.h = height;
    bg_.pixels = std::move(pixels);
    bg_.pw = Pow2(width), bg_.ph = Pow2(height);
    bg_.changed = true;
}

// The overlay's texture is sized from the overlay itself, so that any
// overlay fits; one of the background's size lies exactly as the background.
void BrovanaEngine::setOverlayImage(int width, int height, std::vector<unsigned char> pixels) {
    if (pixels.empty() || width < 1 || height < 1 || pixels.size() < (size_t)width * height * 4) return;
    overlay_.w = width, overlay_.h = height;
    overlay_.pixels = std::move(pixels);
    overlay_.pw = Pow2(width), overlay_.ph = Pow2(height);
    overlay_.changed = true;
}

// A texture of twice the power-of-two size with the picture in its upper
// right quarter, where the quad's texture coordinates look.
void BrovanaEngine::definePicture(Picture &p, int name) {
    glBindTexture(GL_TEXTURE_2D, name);
    if (!p.changed) return;
    glTexImage2D(GL_TEXTURE_2D, 0, 4, 2 * p.pw, 2 * p.ph, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glTexSubImage2D(GL_TEXTURE_2D, 0, p.pw, p.ph, p.w, p.h, GL_RGBA, GL_UNSIGNED_BYTE, p.pixels.data());
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_REPEAT);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_REPEAT);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
    p.changed = false;
}

static void PictureQuad(int pw, int ph) {
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(0, 1, 0, 1, -1, 1);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glViewport(0, 0, pw, ph);
    glEnable(GL_TEXTURE_2D);
    glBegin(GL_QUADS);
    glTexCoord2f(0.5f, 0.5f), glVertex3f(0, 0, 0);
    glTexCoord2f(0.5f, 1.0f), glVertex3f(0, 1, 0);
    glTexCoord2f(1.0f, 1.0f), glVertex3f(1, 1, 0);
    glTexCoord2f(1.0f, 0.5f), glVertex3f(1, 0, 0);
    glEnd();
}

void BrovanaEngine::drawBackground() {
    if (!bg_.pixels.empty()) {
        definePicture(bg_, 20);
        glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_DECAL);
        glDisable(GL_CULL_FACE);
        PictureQuad(bg_.pw, bg_.ph);
    }
    glClear(GL_DEPTH_BUFFER_BIT);
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
    resetView(vpW_, vpH_);
}

void BrovanaEngine::drawOverlay() {
    if (overlay_.pixels.empty()) return;
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glDepthMask(GL_FALSE);
    definePicture(overlay_, 21);
    static const float white[4] = {1, 1, 1, 1};
    static const float p5[4] = {0, 0, -0.5f, 1}, p6[4] = {1, 1, -0.5f, 1};
    glMaterialfv(GL_FRONT_AND_BACK, GL_AMBIENT, white);
    glLightfv(GL_LIGHT5, GL_AMBIENT, white);
    glLightfv(GL_LIGHT6, GL_AMBIENT, white);
    glLightfv(GL_LIGHT5, GL_POSITION, p5);
    glLightfv(GL_LIGHT6, GL_POSITION, p6);
    glEnable(GL_LIGHTING);
    glEnable(GL_LIGHT5);
    glEnable(GL_LIGHT6);
    for (int l = 0; l < 5; l++) glDisable(GL_LIGHT0 + l);
    PictureQuad(overlay_.pw, overlay_.ph);
    glDisable(GL_LIGHT5);
    glDisable(GL_LIGHT6);
    for (int l = 0; l < 5; l++) glEnable(GL_LIGHT0 + l);
    glDepthMask(GL_TRUE);
}

void BrovanaEngine::drawScene() {
    glPushMatrix();
    glLoadIdentity();
    applyCamera();
    glEnable(GL_CULL_FACE);
    if (ctype_ != 7) {
        drawHead();
        if (ctype_ == 8) glPushMatrix();
        drawBody();
        if (ctype_ == 8) glPopMatrix();
    }
    if (kind_.hair) drawHair();
    glPopMatrix();
    glDisable(GL_CULL_FACE);
}

void BrovanaEngine::drawHead() {
    updateFaceVertices(curTargets_, curW_);
    const PartTable &p = kParts[ctype_];
    glDisable(GL_TEXTURE_2D);
    if (p.mouth >= 0) {
        glPushMatrix();
        glMultMatrixf(headMatrix_.m);
        drawTongue(p.mouth);
        glPopMatrix();
    }
    if (headTrack_) computeNeckMatrix();
    auto part = [&](int k) {
        headTrack_ = true;
        glPushMatrix();
        glMultMatrixf(headMatrix_.m);
        drawFacePart(k);
        glPopMatrix();
    };
    for (int k : p.untextured) part(k);
    glEnable(GL_TEXTURE_2D);
    glBindTexture(GL_TEXTURE_2D, p.faceTexture);
    for (int k : p.textured) part(k);
}

void BrovanaEngine::drawFacePart(int part) { drawFacePartFrom(part, nullptr, 0); }

void BrovanaEngine::drawFacePartEvaluated(const int *targets, int part, int W) {
    if (!modelLoaded_ || !targets) return;
    int copy[kWindowRoom];
    W = std::max(0, std::min(W, kWindowRoom - 1));
    memcpy(copy, targets, sizeof(int) * (W + 1));
    drawFacePartFrom(part, copy, W);
}

// Positions come from the evaluated-face object, or, given the window's
// targets, are evaluated per corner; only the former welds through the
// head matrix.
void BrovanaEngine::drawFacePartFrom(int part, const int *targets, int W) {
    if (!modelLoaded_) return;
    const MeshObject &o = *objects_[0];
    if (part < 0 || part >= (int)o.partLists.size()) return;
    const MeshObject &e = *objects_[evalIndex_];
    const Material &m = o.materials[part];
    glShadeModel(GL_SMOOTH);
    glMaterialfv(GL_FRONT, GL_AMBIENT, m.ambient);
    glMaterialfv(GL_FRONT, GL_DIFFUSE, m.diffuse);
    glMaterialfv(GL_FRONT, GL_SPECULAR, m.specular);
    glMaterialf(GL_FRONT, GL_SHININESS, Shininess(m.shininess));
    glBegin(GL_TRIANGLES);
    for (int t : o.partLists[part]) {
        int vs[3] = {o.fa[t], o.fb[t], o.fc[t]}, ts[3] = {o.ta[t], o.tb[t], o.tc[t]};
        if ((kind_.hair || kind_.adapted) && !vertexMap_.empty() &&
            (vertexMap_[vs[0]] < 0 || vertexMap_[vs[1]] < 0 || vertexMap_[vs[2]] < 0))
            continue;
        if (ctype_ == 8 || ctype_ == 9) {
            float s = 0;
            for (int ti : ts) s += std::fabs(o.u[ti] - 0.492f) + std::fabs(o.v[ti] - 0.639f);
            bool high = o.y[vs[0]] > -48.0f && o.y[vs[1]] > -48.0f && o.y[vs[2]] > -48.0f;
            if (s < 0.0001f && !high) continue;
        }
        for (int c = 0; c < 3; c++) {
            int v = vs[c];
            const float *n = &o.normals[3 * v];
            glNormal3fv(n);
            glTexCoord2d(o.u[ts[c]], o.v[ts[c]]);
            if (!targets) {
                glVertex3f(e.x[v], e.y[v], e.z[v]);
                if (o.weldSlot[v] >= 0) weldToBody(e.x[v], e.y[v], e.z[v], o.weldSlot[v], n[0], n[1], n[2]);
                continue;
            }
            float p[3], d[3] = {0, 0, 0};
            if (!paramModel_)
                evalVisemeVertex(W, targets, v, &p[0], &p[1], &p[2]);
            else
                evalBasisVertex(v, &p[0], &p[1], &p[2]);
            if (regionCode(v) != 0) expressionOffset(v, &d[0], &d[1], &d[2]);
            glVertex3f(p[0] + d[0], p[1] + d[1], p[2] + d[2]);
            if (o.weldSlot[v] >= 0)
                setWeldVertex(o.weldSlot[v], p[0] + d[0], p[1] + d[1], p[2] + d[2], n[0], n[1], n[2]);
        }
    }
    glEnd();
}

void BrovanaEngine::setHairColor(float r, float g, float b) {
    const float c[4] = {r, g, b, 1};
    memcpy(hairAmbient_, c, sizeof c), memcpy(hairDiffuse_, c, sizeof c), memcpy(hairSpecular_, c, sizeof c);
}

void BrovanaEngine::drawHair() {
    const MeshObject &h = hair_;
    glDisable(GL_TEXTURE_2D);
    glPushMatrix();
    glMultMatrixf(headMatrix_.m);
    glPushMatrix();
    glShadeModel(GL_SMOOTH);
    glMaterialfv(GL_FRONT, GL_AMBIENT, hairAmbient_);
    glMaterialfv(GL_FRONT, GL_DIFFUSE, hairDiffuse_);
    glMaterialfv(GL_FRONT, GL_SPECULAR, hairSpecular_);
    glMaterialf(GL_FRONT, GL_SHININESS, Shininess(228.0f));
    glBegin(GL_TRIANGLES);
    for (int t = 0; t < h.F; t++)
        for (int v : {h.fa[t], h.fb[t], h.fc[t]}) {
            glNormal3fv(&h.normals[3 * v]);
            glVertex3f(h.x[v], h.y[v], h.z[v]);
        }
    glEnd();
    glPopMatrix();
    glPopMatrix();
}

void BrovanaEngine::weldToBody(float x, float y, float z, int slot, float nx, float ny, float nz) {
    if (ctype_ == 5) return;
    float p[3];
    headMatrix_.apply(x, y, z, &p[0], &p[1], &p[2]);
    setWeldVertex(slot, p[0], p[1], p[2], nx, ny, nz);
}

void BrovanaEngine::setWeldVertex(int slot, float x, float y, float z, float nx, float ny, float nz) {
    if (ctype_ == 5 || slot < 0 || slot >= 100) return;
    weldPos_[slot][0] = x, weldPos_[slot][1] = y, weldPos_[slot][2] = z;
    weldNorm_[slot][0] = nx, weldNorm_[slot][1] = ny, weldNorm_[slot][2] = nz;
}

void BrovanaEngine::drawTongue(int part) {
    if (!tongue_ || !tongue_->usable() || part != kParts[ctype_].mouth) return;
    glPushMatrix();
    if (ctype_ >= 1 && ctype_ <= 3) {
        const float *g = objects_[0]->centroid;
        glTranslatef(g[0], g[1], g[2]);
    }
    glRotatef(-90, 1, 0, 0);
    float yOff[9], zOff[9], tip[3], body[3], tr[3];
    tongueDrawShape(yOff, zOff, tip, body, tr);
    tongue_->draw(yOff, zOff, tip, body, tr, ctype_ == 7 ? 4 : 2);
    float fraction;
    bool nasal;
    if (tongueArcs(&fraction, &nasal)) tongue_->drawArcs(fraction, nasal);
    glPopMatrix();
}

void BrovanaEngine::drawBody() {
    glEnable(GL_TEXTURE_2D);
    glBindTexture(GL_TEXTURE_2D, kBodyTexture[ctype_]);
    if (ctype_ == 5 || !bodyOk_) return;
    int b = findNode("Obrik BODY");
    BodyNode &n = nodes_[b];
    int material = ctype_ == 1 ? 4 : 0;
    glPushMatrix();
    glTranslatef(0, 0, bodyLift_);
    glScalef(bodyScale_, bodyScale_, bodyScale_);
    transformNode("Bip01 Pelvis", Mat4::identity());
    skinBody();
    for (int k = 0; k < headWeldN_ && k < bodyWeldN_; k++) {
        int v = bodyWeld_[k];
        n.dx[v] = weldPos_[k][0], n.dy[v] = weldPos_[k][1], n.dz[v] = weldPos_[k][2];
        memcpy(&n.curNormal[3 * v], weldNorm_[k], 3 * sizeof(float));
    }
    const Material &m = objects_[0]->materials[std::min(material, (int)objects_[0]->materials.size() - 1)];
    glMaterialfv(GL_FRONT, GL_AMBIENT, m.ambient);
    glMaterialfv(GL_FRONT, GL_DIFFUSE, m.diffuse);
    glMaterialfv(GL_FRONT, GL_SPECULAR, m.specular);
    glMaterialf(GL_FRONT, GL_SHININESS, Shininess(m.shininess));
    glBegin(GL_TRIANGLES);
    for (int t = 0; t < n.F; t++) {
        int vs[3] = {n.fa[t], n.fb[t], n.fc[t]}, ts[3] = {n.ta[t], n.tb[t], n.tc[t]};
        if (ctype_ == 6 || ctype_ == 7) {
            bool hidden = false;
            for (int v : vs)
                for (int k = 0; k < hiddenNeckN_; k++)
                    if (hiddenNeck_[k] == v) hidden = true;
            if (hidden) continue;
        }
        bool second = n.selector[t] != 0;
        for (int c = 0; c < 3; c++) {
            int v = vs[c];
            glNormal3fv(&n.restNormal[3 * v]);
            if (n.T > 0) {
                if (second)
                    glTexCoord2d(n.u2[ts[c]], n.v2[ts[c]]);
                else
                    glTexCoord2d(n.u1[ts[c]], n.v1[ts[c]]);
            }
            glVertex3f(n.dx[v], n.dy[v], n.dz[v]);
        }
    }
    glEnd();
    glPopMatrix();
}

}  // namespace brovana
