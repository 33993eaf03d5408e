/* Byte writer and reader for the pack and unpack of type descriptors
 * (C++ only), over the little-endian helpers of container.h.
 *
 * Contract:
 *  - ByteWriter counts the bytes when p is null and writes them when it is
 *    set, so one function gives both a record's length and its bytes.
 *    Texts are an i32 length (-1 for none) and the bytes.
 *  - ByteReader never reads past end: the first short read, count that
 *    cannot fit the rest, or index out of range clears ok and appends
 *    "<what>: <reason>" (or the helpers' message) to r once; later reads
 *    give zeros.
 */
#ifndef TOVIK_CNTR_BYTES_H
#define TOVIK_CNTR_BYTES_H

#include <cstring>
#include <string>

#include "container.h"

namespace cntr {

struct ByteWriter {
    unsigned char *p = nullptr;
    size_t n = 0;
    void i32(int32_t v) {
        if (p) Cntr_PutI32(&p, v);
        n += 4;
    }
    void f32(float v) {
        if (p) Cntr_PutF32(&p, v);
        n += 4;
    }
    void f64(double v) {
        if (p) Cntr_PutF64(&p, v);
        n += 8;
    }
    void bytes(const void *b, size_t len) {
        if (p) Cntr_PutBytes(&p, b, len);
        n += len;
    }
    void text(const char *s) {
        if (!s) return i32(-1);
        size_t len = strlen(s);
        i32((int32_t)len);
        bytes(s, len);
    }
    void text(const std::string &s) {
        i32((int32_t)s.size());
        bytes(s.data(), s.size());
    }
};

struct ByteReader {
    GS_Result *r;
    const unsigned char *p, *end;
    const char *what; /* "packed network" ... */
    bool ok = true;
    int32_t i32() {
        int32_t v = 0;
        if (ok && Cntr_GetI32(r, &p, end, &v)) ok = false;
        return ok ? v : 0;
    }
    float f32() {
        float v = 0;
        if (ok && Cntr_GetF32(r, &p, end, &v)) ok = false;
        return ok ? v : 0;
    }
    double f64() {
        double v = 0;
        if (ok && Cntr_GetF64(r, &p, end, &v)) ok = false;
        return ok ? v : 0;
    }
    bool bytes(void *dst, size_t len) {
        if (ok && Cntr_GetBytes(r, &p, end, dst, len)) ok = false;
        return ok;
    }
    /* A count of items of at least itemBytes bytes each that the rest can hold. */
    int32_t count(size_t itemBytes, const char *of) {
        int32_t n = i32();
        if (ok && (n < 0 || (size_t)n > (size_t)(end - p) / itemBytes)) fail(std::string("bad ") + of + " count");
        return ok ? n : 0;
    }
    /* An index in [lo, hi). */
    int32_t index(int32_t lo, int32_t hi, const char *of) {
        int32_t v = i32();
        if (ok && (v < lo || v >= hi)) fail(std::string(of) + " out of range");
        return ok ? v : lo;
    }
    /* A text; false for none (length -1) or on failure. */
    bool text(std::string &out) {
        out.clear();
        int32_t n = i32();
        if (!ok || n == -1) return false;
        if (n < 0 || (size_t)n > (size_t)(end - p)) {
            fail("bad text length");
            return false;
        }
        out.assign((const char *)p, (size_t)n);
        p += n;
        return true;
    }
    void fail(const std::string &why) {
        if (ok) GS_AppendResult(r, what, ": ", why.c_str(), (char *)nullptr);
        ok = false;
    }
};

} // namespace cntr

#endif
