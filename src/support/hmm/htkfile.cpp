// HTK parameter files in either byte order, and HTK label files.
#include "htkfile.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

uint32_t swap32(uint32_t v) { return (v >> 24) | ((v >> 8) & 0xff00) | ((v << 8) & 0xff0000) | (v << 24); }
uint16_t swap16(uint16_t v) { return static_cast<uint16_t>((v >> 8) | (v << 8)); }

struct Header {
    int32_t nSamples;
    int16_t sampSize;
};

Header readHeader(const unsigned char *h, bool little) {
    uint32_t n = h[0] | (h[1] << 8) | (h[2] << 16) | ((uint32_t)h[3] << 24);
    uint16_t s = static_cast<uint16_t>(h[8] | (h[9] << 8));
    if (!little) {
        n = swap32(n);
        s = swap16(s);
    }
    return {static_cast<int32_t>(n), static_cast<int16_t>(s)};
}

bool sane(const Header &h) { return h.nSamples >= 0 && h.sampSize > 0 && h.sampSize % 4 == 0; }

bool failWith(GS_Result *r, const std::string &text) {
    GS_AppendResult(r, text.c_str(), (char *)nullptr);
    return true;
}

}  // namespace

int Htk_ReadParams(GS_Result *r, const char *path, int from, int to, int *rows, int *cols, std::vector<float> *data) {
    FILE *f = fopen(path, "rb");
    if (!f) return failWith(r, std::string("Could not open file: ") + path);
    unsigned char raw[12];
    long size = -1;
    if (fseek(f, 0, SEEK_END) == 0) size = ftell(f);
    rewind(f);
    if (size < 12 || fread(raw, 1, 12, f) != 12) {
        fclose(f);
        return failWith(r, std::string(path) + ": shorter than an HTK header");
    }
    long body = size - 12;
    Header le = readHeader(raw, true), be = readHeader(raw, false);
    auto exact = [&](const Header &h) { return sane(h) && (long long)h.nSamples * h.sampSize == body; };
    auto fits = [&](const Header &h) { return sane(h) && (long long)h.nSamples * h.sampSize <= body; };
    auto claimed = [](const Header &h) { return sane(h) ? (long long)h.nSamples * h.sampSize : -1; };
    bool little;
    if (exact(le) || exact(be))
        little = exact(le);
    else if (fits(le) || fits(be))
        little = fits(le);
    else  // truncated: the order that claims less is the likelier one
        little = claimed(be) < 0 || (claimed(le) >= 0 && claimed(le) <= claimed(be));
    Header h = little ? le : be;
    if (!sane(h)) {
        fclose(f);
        return failWith(r, std::string(path) + ": not an HTK parameter file (bad sample size)");
    }
    if ((long long)h.nSamples * h.sampSize > body) {
        fclose(f);
        return failWith(r, std::string(path) + ": truncated: the header gives " + std::to_string(h.nSamples) +
                               " frames of " + std::to_string(h.sampSize) + " bytes");
    }
    int c = h.sampSize / 4;
    if (from < 0) from = 0;
    if (to < 0 || to > h.nSamples) to = h.nSamples;
    if (from >= to) {
        fclose(f);
        return failWith(r, std::string(path) + ": frame " + std::to_string(from) + " is beyond its " +
                               std::to_string(h.nSamples) + " frames");
    }
    int n = to - from;
    data->assign((size_t)n * c, 0.0f);
    bool ok = fseek(f, 12 + (long)from * h.sampSize, SEEK_SET) == 0 &&
              fread(data->data(), sizeof(float), data->size(), f) == data->size();
    fclose(f);
    if (!ok) return failWith(r, std::string(path) + ": read error");
    if (!little)
        for (float &v : *data) {
            uint32_t u;
            memcpy(&u, &v, 4);
            u = swap32(u);
            memcpy(&v, &u, 4);
        }
    *rows = n;
    *cols = c;
    return 0;
}

int Htk_WriteParams(GS_Result *r, const char *path, int rows, int cols, float *const *data) {
    if (cols > 8191) return failWith(r, std::to_string(cols) + " columns do not fit an HTK sample size");
    FILE *f = fopen(path, "wb");
    if (!f) return failWith(r, std::string("Could not open file: ") + path);
    unsigned char h[12];
    uint32_t n = static_cast<uint32_t>(rows), period = 100000;
    uint16_t size = static_cast<uint16_t>(4 * cols), kind = 70;
    for (int i = 0; i < 4; i++) {
        h[i] = static_cast<unsigned char>(n >> (8 * i));
        h[4 + i] = static_cast<unsigned char>(period >> (8 * i));
    }
    h[8] = size & 0xff, h[9] = size >> 8, h[10] = kind & 0xff, h[11] = kind >> 8;
    bool ok = fwrite(h, 1, 12, f) == 12;
    // Floats go out in the machine's order, which is the file's (little-endian).
    for (int i = 0; i < rows && ok; i++) ok = fwrite(data[i], sizeof(float), cols, f) == (size_t)cols;
    ok = (fclose(f) == 0) && ok;
    if (!ok) return failWith(r, std::string(path) + ": write error");
    return 0;
}

int Htk_WriteLabels(GS_Result *r, const char *path, const HalbrinList *list) {
    FILE *f = fopen(path, "w");
    if (!f) return failWith(r, std::string("Could not open file: ") + path);
    bool ok = true;
    for (int i = 0; i < list->count && ok; i++) {
        const Segment &s = list->segments[i];
        long a = (long)std::floor((double)s.begin * list->msPerFrame * 10000.0);
        long b = (long)std::floor((double)s.end * list->msPerFrame * 10000.0);
        ok = fprintf(f, "%ld %ld  %s\n", a, b, s.label ? s.label : "") > 0;
    }
    ok = (fclose(f) == 0) && ok;
    if (!ok) return failWith(r, std::string(path) + ": write error");
    return 0;
}
