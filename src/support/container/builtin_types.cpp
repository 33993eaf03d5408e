// The types every interpreter knows without loading a package: "arrayF",
// "arrayD", "wave" and "raw" (and "hmm/description", in its own file).
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "container.h"
#include "records.h"
#include "yastro.h"

namespace {

template <typename T>
T *copyOf(const T *src, size_t n) {
    T *d = static_cast<T *>(DB_MALLOC(n ? n * sizeof(T) : 1));
    if (n) memcpy(d, src, n * sizeof(T));
    return d;
}

void fail(GS_Result *r, const std::string &s) {
    if (r) GS_AppendResult(r, s.c_str(), (char *)nullptr);
}

// ---- arrays --------------------------------------------------------------

template <typename E>
struct ArrayType {
    static int prepare(GS_Result *r, void *rec) {
        ArrayRecord *a = static_cast<ArrayRecord *>(rec);
        if ((a->ndims != 1 && a->ndims != 2) || !a->dims) {
            fail(r, "an array must have 1 or 2 dimensions");
            return 1;
        }
        int64_t count = 1;
        for (int i = 0; i < a->ndims; i++) {
            if (a->dims[i] < 0) {
                fail(r, "array dimensions must not be negative");
                return 1;
            }
            count *= a->dims[i];
            if (count > std::numeric_limits<int32_t>::max() / static_cast<int64_t>(sizeof(E))) {
                fail(r, "array too large");
                return 1;
            }
        }
        a->count = static_cast<int32_t>(count);
        if (!a->data) a->data = reinterpret_cast<float *>(DB_MALLOC(count ? count * sizeof(E) : 1));
        if (!a->rows) {
            int32_t rows = a->ndims == 1 ? 1 : a->dims[0];
            int32_t cols = a->ndims == 1 ? a->dims[0] : a->dims[1];
            E **rp = static_cast<E **>(DB_MALLOC(rows ? rows * sizeof(E *) : 1));
            E *d = reinterpret_cast<E *>(a->data);
            for (int32_t i = 0; i < rows; i++) rp[i] = d + static_cast<int64_t>(i) * cols;
            a->rows = reinterpret_cast<float **>(rp);
        }
        return 0;
    }
    static void release(void *rec) { Array_Free(static_cast<ArrayRecord *>(rec)); }
    static void *clone(const void *rec) {
        const ArrayRecord *s = static_cast<const ArrayRecord *>(rec);
        ArrayRecord *a = static_cast<ArrayRecord *>(DB_MALLOC(sizeof(ArrayRecord)));
        memset(a, 0, sizeof *a);
        a->ndims = s->ndims;
        a->dims = copyOf(s->dims, s->ndims);
        a->data = reinterpret_cast<float *>(copyOf(reinterpret_cast<const E *>(s->data), s->count));
        prepare(nullptr, a);
        return a;
    }
    static int length(GS_Result *, const void *rec, size_t *len) {
        const ArrayRecord *a = static_cast<const ArrayRecord *>(rec);
        *len = 4 + 4 * a->ndims + sizeof(E) * static_cast<size_t>(a->count);
        return 0;
    }
    static int pack(GS_Result *, const void *rec, unsigned char *p) {
        const ArrayRecord *a = static_cast<const ArrayRecord *>(rec);
        Cntr_PutI32(&p, a->ndims);
        for (int i = 0; i < a->ndims; i++) Cntr_PutI32(&p, a->dims[i]);
        const E *d = reinterpret_cast<const E *>(a->data);
        for (int32_t i = 0; i < a->count; i++) {
            if (sizeof(E) == 4) Cntr_PutF32(&p, static_cast<float>(d[i]));
            else Cntr_PutF64(&p, static_cast<double>(d[i]));
        }
        return 0;
    }
    static void *unpack(GS_Result *r, const unsigned char *p, size_t n) {
        const unsigned char *end = p + n;
        int32_t ndims = 0;
        if (Cntr_GetI32(r, &p, end, &ndims)) return nullptr;
        if (ndims != 1 && ndims != 2) {
            fail(r, "packed array has a bad dimension count");
            return nullptr;
        }
        int32_t dims[2] = {0, 0};
        int64_t count = 1;
        for (int i = 0; i < ndims; i++) {
            if (Cntr_GetI32(r, &p, end, &dims[i])) return nullptr;
            if (dims[i] < 0) {
                fail(r, "packed array has a negative dimension");
                return nullptr;
            }
            count *= dims[i];
        }
        if (count * static_cast<int64_t>(sizeof(E)) != end - p) {
            fail(r, "packed array length does not match its dimensions");
            return nullptr;
        }
        ArrayRecord *a = static_cast<ArrayRecord *>(DB_MALLOC(sizeof(ArrayRecord)));
        memset(a, 0, sizeof *a);
        a->ndims = ndims;
        a->dims = copyOf(dims, ndims);
        E *d = static_cast<E *>(DB_MALLOC(count ? count * sizeof(E) : 1));
        // The length is checked above, so the little-endian values are
        // decoded in one pass without a bounds check each.
        for (int64_t i = 0; i < count; i++, p += sizeof(E)) {
            uint64_t u = 0;
            for (size_t b = 0; b < sizeof(E); b++) u |= uint64_t(p[b]) << (8 * b);
            if (sizeof(E) == 4) {
                uint32_t w = static_cast<uint32_t>(u);
                float f;
                memcpy(&f, &w, 4);
                d[i] = f;
            } else {
                double v;
                memcpy(&v, &u, 8);
                d[i] = static_cast<E>(v);
            }
        }
        a->data = reinterpret_cast<float *>(d);
        prepare(nullptr, a);
        return a;
    }
};

const CntrType arrayFType = {"arrayF", "arrayF", ArrayType<float>::prepare, ArrayType<float>::release,
                             ArrayType<float>::clone, ArrayType<float>::length, ArrayType<float>::pack,
                             ArrayType<float>::unpack};
const CntrType arrayDType = {"arrayD", "arrayD", ArrayType<double>::prepare, ArrayType<double>::release,
                             ArrayType<double>::clone, ArrayType<double>::length, ArrayType<double>::pack,
                             ArrayType<double>::unpack};

// ---- waves ---------------------------------------------------------------

int wavePrepare(GS_Result *r, void *rec) {
    WaveRecord *w = static_cast<WaveRecord *>(rec);
    if (w->len < 0 || w->infoCount < 0 || (w->len > 0 && !w->samples) || (w->infoCount > 0 && !w->info)) {
        fail(r, "malformed wave record");
        return 1;
    }
    return 0;
}

void waveRelease(void *rec) { Wave_Free(static_cast<WaveRecord *>(rec)); }

void *waveClone(const void *rec) {
    const WaveRecord *s = static_cast<const WaveRecord *>(rec);
    WaveRecord *w = static_cast<WaveRecord *>(DB_MALLOC(sizeof(WaveRecord)));
    w->len = s->len;
    w->samples = copyOf(s->samples, s->len);
    w->infoCount = s->infoCount;
    w->info = copyOf(s->info, s->infoCount);
    return w;
}

int waveLength(GS_Result *, const void *rec, size_t *len) {
    const WaveRecord *w = static_cast<const WaveRecord *>(rec);
    *len = 8 + 4 * static_cast<size_t>(w->infoCount) + 2 * static_cast<size_t>(w->len);
    return 0;
}

int wavePack(GS_Result *, const void *rec, unsigned char *p) {
    const WaveRecord *w = static_cast<const WaveRecord *>(rec);
    Cntr_PutI32(&p, w->len);
    Cntr_PutI32(&p, w->infoCount);
    for (int32_t i = 0; i < w->infoCount; i++) Cntr_PutF32(&p, w->info[i]);
    for (int32_t i = 0; i < w->len; i++) {
        uint16_t u = static_cast<uint16_t>(w->samples[i]);
        *p++ = static_cast<unsigned char>(u & 0xff);
        *p++ = static_cast<unsigned char>(u >> 8);
    }
    return 0;
}

void *waveUnpack(GS_Result *r, const unsigned char *p, size_t n) {
    const unsigned char *end = p + n;
    int32_t len = 0, infoCount = 0;
    if (Cntr_GetI32(r, &p, end, &len) || Cntr_GetI32(r, &p, end, &infoCount)) return nullptr;
    if (len < 0 || infoCount < 0 || 4 * static_cast<int64_t>(infoCount) + 2 * static_cast<int64_t>(len) != end - p) {
        fail(r, "packed wave length does not match its header");
        return nullptr;
    }
    WaveRecord *w = static_cast<WaveRecord *>(DB_MALLOC(sizeof(WaveRecord)));
    w->len = len;
    w->infoCount = infoCount;
    w->info = static_cast<float *>(DB_MALLOC(infoCount ? infoCount * sizeof(float) : 1));
    for (int32_t i = 0; i < infoCount; i++) Cntr_GetF32(r, &p, end, &w->info[i]);
    w->samples = static_cast<int16_t *>(DB_MALLOC(len ? len * sizeof(int16_t) : 1));
    for (int32_t i = 0; i < len; i++, p += 2) w->samples[i] = static_cast<int16_t>(p[0] | (p[1] << 8));
    return w;
}

const CntrType waveType = {"wave", "wave", wavePrepare, waveRelease, waveClone, waveLength, wavePack, waveUnpack};

// ---- raw byte buffers ----------------------------------------------------

void rawRelease(void *rec) {
    RawBuffer *b = static_cast<RawBuffer *>(rec);
    DB_FREE(b->data);
    DB_FREE(b);
}

void *rawClone(const void *rec) {
    const RawBuffer *s = static_cast<const RawBuffer *>(rec);
    RawBuffer *b = static_cast<RawBuffer *>(DB_MALLOC(sizeof(RawBuffer)));
    b->length = s->length;
    // Keep the trailing zero byte that raw buffers carry beyond their length.
    b->data = static_cast<unsigned char *>(DB_MALLOC(s->length + 1));
    if (s->length) memcpy(b->data, s->data, s->length);
    b->data[s->length] = 0;
    return b;
}

int rawLength(GS_Result *, const void *rec, size_t *len) {
    *len = static_cast<const RawBuffer *>(rec)->length;
    return 0;
}

int rawPack(GS_Result *, const void *rec, unsigned char *p) {
    const RawBuffer *b = static_cast<const RawBuffer *>(rec);
    if (b->length) memcpy(p, b->data, b->length);
    return 0;
}

void *rawUnpack(GS_Result *, const unsigned char *p, size_t n) {
    RawBuffer *b = static_cast<RawBuffer *>(DB_MALLOC(sizeof(RawBuffer)));
    b->length = static_cast<int32_t>(n);
    b->data = static_cast<unsigned char *>(DB_MALLOC(n + 1));
    if (n) memcpy(b->data, p, n);
    b->data[n] = 0;
    return b;
}

const CntrType rawType = {"raw", "raw", nullptr, rawRelease, rawClone, rawLength, rawPack, rawUnpack};

}  // namespace

namespace tovik_cntr {
extern const CntrType hmmDescriptionType;
std::vector<const CntrType *> builtinTypes() {
    return {&arrayFType, &arrayDType, &waveType, &rawType, &hmmDescriptionType};
}
}  // namespace tovik_cntr

extern "C" {

ArrayRecord *Array_New(int ndims, int32_t rows, int32_t cols) {
    ArrayRecord *a = static_cast<ArrayRecord *>(DB_MALLOC(sizeof(ArrayRecord)));
    memset(a, 0, sizeof *a);
    a->ndims = ndims;
    a->dims = static_cast<int32_t *>(DB_MALLOC(2 * sizeof(int32_t)));
    a->dims[0] = ndims == 1 ? cols : rows;
    a->dims[1] = cols;
    return a;
}

void Array_Free(ArrayRecord *a) {
    if (!a) return;
    DB_FREE(a->dims);
    DB_FREE(a->data);
    DB_FREE(a->rows);
    DB_FREE(a);
}

WaveRecord *Wave_New(int32_t len, float rate) {
    WaveRecord *w = static_cast<WaveRecord *>(DB_MALLOC(sizeof(WaveRecord)));
    w->len = len;
    w->samples = static_cast<int16_t *>(DB_MALLOC(len > 0 ? len * sizeof(int16_t) : 1));
    if (len > 0) memset(w->samples, 0, len * sizeof(int16_t));
    w->infoCount = 2;
    w->info = static_cast<float *>(DB_MALLOC(2 * sizeof(float)));
    w->info[0] = rate;
    w->info[1] = 0.0f;
    return w;
}

void Wave_Free(WaveRecord *w) {
    if (!w) return;
    DB_FREE(w->samples);
    DB_FREE(w->info);
    DB_FREE(w);
}

}  // extern "C"
