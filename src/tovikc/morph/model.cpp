// Preparation of morph objects (bounding box, check, shared-vertex
// duplication, normals, change runs), weight tracks and the morph step.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "morph.h"

namespace morph {

double Morph_Now100ns() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count() * 1e7;
}

void Morph_ComputeBoundingBox(Object *o) {
    if (o->targets.empty() || o->vertexCount <= 0) return;
    std::vector<float> &base = o->targets[0].coords;
    int32_t n = o->vertexCount;
    if (o->position[0] != 0 || o->position[1] != 0 || o->position[2] != 0)
        for (int32_t v = 0; v < n; v++)
            for (int a = 0; a < 3; a++) base[3 * v + a] -= o->position[a];
    double sum[3] = {0, 0, 0};
    for (int32_t v = 0; v < n; v++)
        for (int a = 0; a < 3; a++) sum[a] += base[3 * v + a];
    for (int a = 0; a < 3; a++) {
        o->position[a] = (float)(sum[a] / n);
        o->extents[a] = 0;
    }
    for (size_t t = 0; t < o->targets.size(); t++) {
        const std::vector<float> &c = o->targets[t].coords;
        for (int32_t v = 0; v < n; v++)
            for (int a = 0; a < 3; a++) {
                float x = base[3 * v + a] + (t ? c[3 * v + a] : 0.0f);
                o->extents[a] = std::max(o->extents[a], std::fabs(x - o->position[a]));
            }
    }
}

void Morph_ComputeNormals(Object *o) {
    int32_t n = o->vertexCount;
    if (n <= 0 || o->targets.empty()) return;
    const size_t len = 3 * (size_t)n;
    const std::vector<float> &base = o->targets[0].coords;
    for (size_t t = 0; t < o->targets.size(); t++) {
        Target &tg = o->targets[t];
        tg.normals.assign(len, 0.0f);
        std::vector<float> p(tg.coords.begin(), tg.coords.begin() + len);
        if (t) for (size_t c = 0; c < len; c++) p[c] += base[c];
        const size_t corners = 3;
        for (size_t f = 0; f + corners <= o->indices.size(); f += corners) {
            const int32_t *idx = &o->indices[f];
            const float *p0 = &p[3 * (size_t)idx[0]];
            for (size_t k = 2; k < corners; k++) {
                const float *a = &p[3 * (size_t)idx[k - 1]], *b = &p[3 * (size_t)idx[k]];
                double u[3] = {(double)p0[0] - a[0], (double)p0[1] - a[1], (double)p0[2] - a[2]};
                double w[3] = {(double)a[0] - b[0], (double)a[1] - b[1], (double)a[2] - b[2]};
                double nx = u[1] * w[2] - u[2] * w[1], ny = u[2] * w[0] - u[0] * w[2], nz = u[0] * w[1] - u[1] * w[0];
                double l = std::sqrt(nx * nx + ny * ny + nz * nz);
                if (l > 0) {
                    for (size_t c = 0; c < corners; c++) {
                        float *nn = &tg.normals[3 * (size_t)idx[c]];
                        nn[0] += (float)(nx / l), nn[1] += (float)(ny / l), nn[2] += (float)(nz / l);
                    }
                    break;
                }
            }
        }
        for (int32_t v = 0; v < n; v++) {
            float *nn = &tg.normals[3 * (size_t)v];
            float s = nn[0] * nn[0] + nn[1] * nn[1] + nn[2] * nn[2];
            if (s == 0) {
                nn[0] = nn[1] = nn[2] = 1.7320508f;
            } else {
                float r = 1.0f / std::sqrt(s);
                nn[0] *= r, nn[1] *= r, nn[2] *= r;
            }
        }
        if (t)
            for (size_t c = 0; c < len; c++) tg.normals[c] -= o->targets[0].normals[c];
    }
}

void Morph_BuildTargetRuns(Object *o) {
    if (o->vertexCount <= 0 || o->targets.empty()) return;
    o->targets[0].runStarts.clear();
    o->targets[0].runEnds.clear();
    const int32_t len = 3 * o->vertexCount;
    for (size_t t = 1; t < o->targets.size(); t++) {
        Target &tg = o->targets[t];
        std::vector<int32_t> s, e;
        for (int32_t c = 0; c < len; c++) {
            bool changed = std::fabs(tg.coords[c]) > 1e-6f ||
                           ((size_t)c < tg.normals.size() && std::fabs(tg.normals[c]) > 1e-6f);
            if (!changed) continue;
            if (!e.empty() && e.back() == c)
                e.back() = c + 1;
            else
                s.push_back(c), e.push_back(c + 1);
        }
        // Gaps shorter than 9 are cheaper to blend through than to skip.
        std::vector<int32_t> ms, me;
        for (size_t k = 0; k < s.size(); k++) {
            if (!me.empty() && s[k] - me.back() < 9)
                me.back() = e[k];
            else
                ms.push_back(s[k]), me.push_back(e[k]);
        }
        if (!ms.empty()) tg.runStarts = ms, tg.runEnds = me;
    }
}

namespace {

struct Corner {
    size_t position;  // in the index array
    int32_t vertex;
    size_t pair;  // in the vertex's list of distinct pairs
};

// Splits vertices whose face corners carry different texture coordinates.
bool DupSharedVertices(Object *o, std::string *msg) {
    bool someTextured = false, allOwn = true;
    for (size_t j = 1; j < o->materials.size(); j++)
        if (o->materials[j].textureIndex >= 0) {
            someTextured = true;
            if (o->materials[j].uv.empty()) allOwn = false;
        }
    if (!someTextured || !allOwn) return true;
    const int32_t n = o->vertexCount;
    std::vector<std::vector<std::pair<float, float>>> lists(n);
    std::vector<Corner> corners;
    int32_t dups = 0;
    const int32_t faces = o->faceCount();
    for (size_t j = 0; j < o->materials.size(); j++) {
        const Material &m = o->materials[j];
        size_t k = 0;
        for (int64_t f = std::max(0, m.faceStart); f < (int64_t)m.faceStart + m.faceCount && f < faces; f++)
            for (int c = 0; c < 3; c++, k++) {
                size_t pos = 3 * (size_t)f + c;
                int32_t v = o->indices[pos];
                if (v < 0 || v >= n) {
                    *msg += "dupshared: original face vertex index out of range";
                    return false;
                }
                std::pair<float, float> uv(0.0f, 0.0f);
                if (j == 0) {
                    if (m.uv.size() >= 2 * (size_t)(v + 1)) uv = {m.uv[2 * v], m.uv[2 * v + 1]};
                } else if (2 * k + 1 < m.uv.size()) {
                    uv = {m.uv[2 * k], m.uv[2 * k + 1]};
                }
                auto &l = lists[v];
                size_t p = std::find(l.begin(), l.end(), uv) - l.begin();
                if (p == l.size()) {
                    l.push_back(uv);
                    if (p > 0) dups++;
                }
                corners.push_back({pos, v, p});
            }
    }
    fprintf(stderr, "Duplicating %i vertices\n", dups);
    if (dups == 0) return true;
    std::vector<int32_t> first(n);
    int32_t next = 0;
    for (int32_t v = 0; v < n; v++) {
        if (lists[v].empty()) {
            *msg += "dupshared: Unused face vertex encountered";
            return false;
        }
        first[v] = next;
        next += (int32_t)lists[v].size();
    }
    const int32_t total = n + dups;
    for (Target &t : o->targets) {
        std::vector<float> c(3 * (size_t)total);
        for (int32_t v = 0; v < n; v++)
            for (size_t k = 0; k < lists[v].size(); k++)
                std::copy(&t.coords[3 * (size_t)v], &t.coords[3 * (size_t)v] + 3, &c[3 * (first[v] + k)]);
        t.coords.swap(c);
        t.normals.clear();
        t.runStarts.clear();
        t.runEnds.clear();
    }
    Material &m0 = o->materials[0];
    if (m0.uv.size() >= 2 * (size_t)n) {
        std::vector<float> uv(2 * (size_t)total);
        for (int32_t v = 0; v < n; v++)
            for (size_t k = 0; k < lists[v].size(); k++) {
                uv[2 * (first[v] + k)] = lists[v][k].first;
                uv[2 * (first[v] + k) + 1] = lists[v][k].second;
            }
        m0.uv.swap(uv);
    }
    for (const Corner &c : corners) o->indices[c.position] = first[c.vertex] + (int32_t)c.pair;
    o->vertexCount = total;
    o->morphLength = 3 * total;
    return true;
}

// Merges the coordinates that materials after the first carry, one pair
// per face corner, into material 0's one pair per vertex.
void MergeCoordinates(Object *o) {
    const int32_t n = o->vertexCount;
    Material &m0 = o->materials[0];
    std::vector<float> uv(2 * (size_t)n, 0.0f);
    std::copy(m0.uv.begin(), m0.uv.begin() + std::min(m0.uv.size(), uv.size()), uv.begin());
    for (size_t j = 1; j < o->materials.size(); j++) {
        Material &m = o->materials[j];
        if (m.uv.empty()) continue;
        size_t k = 0;
        for (int64_t f = m.faceStart; f < (int64_t)m.faceStart + m.faceCount; f++)
            for (int c = 0; c < 3 && 2 * k + 1 < m.uv.size(); c++, k++) {
                int32_t v = o->indices[3 * (size_t)f + c];
                uv[2 * (size_t)v] = m.uv[2 * k];
                uv[2 * (size_t)v + 1] = m.uv[2 * k + 1];
            }
        m.uv.clear();
    }
    m0.uv.swap(uv);
}

}  // namespace

bool Morph_CheckObject(Object *o, std::string *msg) {
    o->morphedVertices.clear();
    o->morphedNormals.clear();
    o->frameCount = o->morphTime = o->renderTime = 0;
    if (o->vertexCount <= 0) return false;
    // Nothing could be drawn, and the face structure is undefined.
    if (o->indices.empty()) {
        *msg += "Object has vertices but no faces. ";
        return true;
    }
    bool problem = false;
    o->morphLength = 3 * o->vertexCount;
    bool merge = o->materials.size() > 1;
    for (size_t j = 1; j < o->materials.size(); j++)
        if (o->materials[j].textureIndex >= 0 && o->materials[j].uv.empty()) merge = false;
    if (merge && !DupSharedVertices(o, msg)) return true;
    const int32_t n = o->vertexCount;
    o->morphedVertices.assign(o->morphLength, 0.0f);
    o->morphedNormals.assign(o->morphLength, 0.0f);
    std::vector<int32_t> uses(n, 0);
    for (size_t i = 0; i < o->indices.size(); i++) {
        int32_t v = o->indices[i];
        if (v < 0 || v >= n) {
            char buf[96];
            snprintf(buf, sizeof buf, "Face point %i=%i outside vertex array.", (int)i, (int)v);
            *msg += buf;
            o->indices[i] = 0;
            v = 0;
            problem = true;
        }
        uses[v]++;
    }
    bool firstRun = true;
    for (int32_t v = 0; v < n;) {
        if (uses[v]) {
            v++;
            continue;
        }
        int32_t e = v;
        while (e + 1 < n && !uses[e + 1]) e++;
        char buf[64];
        snprintf(buf, sizeof buf, firstRun ? "Unreferenced vertices {%i-%i" : ", %i-%i", (int)v, (int)e);
        *msg += buf;
        firstRun = false;
        problem = true;
        v = e + 1;
    }
    if (!firstRun) *msg += "} ";
    if (o->materials.empty()) {
        *msg += "No material data available! ";
        problem = true;
    }
    for (Texture &t : o->textures) t.glName = -1;
    const int32_t faces = o->faceCount();
    for (size_t j = 0; j < o->materials.size(); j++) {
        Material &m = o->materials[j];
        char buf[64];
        // A range past the last face would be drawn from beyond the index array.
        if (m.faceStart < 0 || m.faceCount < 0 || (int64_t)m.faceStart + m.faceCount > faces) {
            snprintf(buf, sizeof buf, "material %i face indices suspect, ", (int)j);
            *msg += buf;
            m.faceStart = m.faceCount = 0;
            problem = true;
        }
        if (m.textureIndex >= (int32_t)o->textures.size() || m.textureIndex < -1) {
            snprintf(buf, sizeof buf, "texture map of material %i missing, ", (int)j);
            *msg += buf;
            m.textureIndex = -1;
            problem = true;
        }
    }
    if (merge) MergeCoordinates(o);
    Morph_ComputeNormals(o);
    Morph_BuildTargetRuns(o);
    return problem;
}

void Morph_PackObject(Object *o) {
    o->morphedVertices.clear();
    o->morphedVertices.shrink_to_fit();
    o->morphedNormals.clear();
    o->morphedNormals.shrink_to_fit();
    o->morphLength = 0;
    for (Target &t : o->targets) {
        t.normals.clear();
        t.normals.shrink_to_fit();
        t.runStarts.clear();
        t.runEnds.clear();
    }
}

void Morph_SortTrackKeys(std::vector<TrackKey> *keys) {
    std::stable_sort(keys->begin(), keys->end(),
                     [](const TrackKey &a, const TrackKey &b) { return a.time < b.time; });
    keys->erase(std::unique(keys->begin(), keys->end(),
                            [](const TrackKey &a, const TrackKey &b) { return a.time == b.time; }),
                keys->end());
}

float Morph_TrackWeight(const Target &t, int32_t time) {
    if (!t.tracks || t.keys.empty()) return 0.0f;
    const TrackKey &k1 = t.keys[0];
    if (time < k1.time) return k1.time == 0 ? k1.weight : (float)time * k1.weight / (float)k1.time;
    size_t k = 0;
    while (k + 1 < t.keys.size() && t.keys[k + 1].time <= time) k++;
    if (k + 1 == t.keys.size()) return t.keys[k].weight;
    const TrackKey &a = t.keys[k], &b = t.keys[k + 1];
    return a.weight + (b.weight - a.weight) * (float)(time - a.time) / (float)(b.time - a.time);
}

void Morph_Blend(Object *o, int32_t time) {
    o->frameCount += 1;
    double start = Morph_Now100ns();
    if (!o->targets.empty() && o->morphLength > 0) {
        const size_t len = o->morphLength;
        const Target &base = o->targets[0];
        std::copy(base.coords.begin(), base.coords.begin() + len, o->morphedVertices.begin());
        std::copy(base.normals.begin(), base.normals.begin() + len, o->morphedNormals.begin());
        float *mv = o->morphedVertices.data(), *mn = o->morphedNormals.data();
        for (size_t t = 1; t < o->targets.size(); t++) {
            const Target &tg = o->targets[t];
            float w = Morph_TrackWeight(tg, time);
            if (std::fabs(w) <= 0.001f) continue;
            const float *d = tg.coords.data(), *dn = tg.normals.data();
            for (size_t r = 0; r < tg.runStarts.size(); r++)
                for (int32_t c = tg.runStarts[r]; c < tg.runEnds[r]; c++) {
                    mv[c] += w * d[c];
                    mn[c] += w * dn[c];
                }
        }
    }
    o->morphTime += (float)(Morph_Now100ns() - start);
}

int32_t Morph_PowerOfTwo(int32_t n) {
    int32_t p = 1;
    while (p < n && p < (1 << 30)) p <<= 1;
    return p;
}

void Morph_ReduceTexture(Texture *tex, float xfac, float yfac) {
    int32_t nh = (int32_t)std::floor((float)tex->height * yfac), nw = (int32_t)std::floor((float)tex->width * xfac);
    if (nh <= 0 || nw <= 0) {
        tex->width = tex->height = 0;
        tex->pixels.clear();
        tex->glName = -1;
        return;
    }
    std::vector<uint8_t> out((size_t)nw * nh * 4);
    int32_t r0 = 0;
    for (int32_t r = 0; r < nh; r++) {
        int32_t r1 = std::min((int32_t)std::floor((float)(r + 1) / yfac), tex->height);
        int32_t c0 = 0;
        for (int32_t c = 0; c < nw; c++) {
            int32_t c1 = std::min((int32_t)std::floor((float)(c + 1) / xfac), tex->width);
            double sum[4] = {0, 0, 0, 0};
            int32_t count = 0;
            for (int32_t y = r0; y < r1; y++)
                for (int32_t x = c0; x < c1; x++, count++)
                    for (int ch = 0; ch < 4; ch++) sum[ch] += tex->pixels[((size_t)y * tex->width + x) * 4 + ch];
            for (int ch = 0; ch < 4; ch++)
                out[((size_t)r * nw + c) * 4 + ch] = count ? (uint8_t)std::floor(sum[ch] / count + 0.5) : 0;
            c0 = std::max(c0, c1);
        }
        r0 = std::max(r0, r1);
    }
    tex->pixels.swap(out);
    tex->width = nw, tex->height = nh;
    tex->glName = -1;
}

}  // namespace morph
