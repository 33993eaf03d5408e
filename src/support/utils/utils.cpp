// Wave and vector objects for command results (see utils.h).
#include "utils.h"

#include <cmath>
#include <cstring>
#include <string>

#include "container.h"
#include "obj.h"
#include "yastro.h"

namespace {

void setResult(Tcl_Interp *interp, const std::string &s) {
    Tcl_SetObjResult(interp, Tcl_NewStringObj(s.c_str(), -1));
}

// A new zero-filled 2-D "arrayF"; its name is the interpreter result.
ArrayRecord *newArray(Tcl_Interp *interp, int ndims, int rows, int cols) {
    if (rows < 0 || cols < 0) {
        setResult(interp, "array dimensions must not be negative");
        return nullptr;
    }
    ArrayRecord *a = Array_New(ndims, rows, cols);
    if (Obj_Create(interp, "arrayF", a) != TCL_OK) {
        Array_Free(a);
        return nullptr;
    }
    if (a->count) memset(a->data, 0, (size_t)a->count * sizeof(float));
    return a;
}

} // namespace

extern "C" {

int16_t Utils_ToSample(double v) {
    if (std::isnan(v)) return 0;
    v = std::round(v);
    if (v > 32767.0) return 32767;
    if (v < -32768.0) return -32768;
    return (int16_t)v;
}

int createWave(Tcl_Interp *interp, int len, int infoCount, const float *info, int16_t *samples, WaveRecord **wave) {
    *wave = nullptr;
    if (len < 0 || infoCount < 0 || (infoCount > 0 && !info)) {
        if (samples) DB_FREE(samples);
        setResult(interp, len < 0 ? "wave length must not be negative" : "malformed wave information");
        return 1;
    }
    WaveRecord *w = static_cast<WaveRecord *>(DB_MALLOC(sizeof(WaveRecord)));
    w->len = len;
    if (samples) {
        w->samples = samples;
    } else {
        w->samples = static_cast<int16_t *>(DB_MALLOC(len ? (size_t)len * sizeof(int16_t) : 1));
        if (len) memset(w->samples, 0, (size_t)len * sizeof(int16_t));
    }
    w->infoCount = infoCount;
    w->info = static_cast<float *>(DB_MALLOC(infoCount ? (size_t)infoCount * sizeof(float) : 1));
    if (infoCount) memcpy(w->info, info, (size_t)infoCount * sizeof(float));
    if (Obj_Create(interp, "wave", w) != TCL_OK) {
        Wave_Free(w);
        return 1;
    }
    *wave = w;
    return 0;
}

int maybeReuseWaveObject(const char *name, Tcl_Interp *interp, int len, float rate, WaveRecord **wave) {
    if (name) {
        ObjEntry *e = Obj_Get(interp, "wave", name);
        if (e && static_cast<WaveRecord *>(e->data)->len == len) {
            *wave = static_cast<WaveRecord *>(e->data);
            setResult(interp, e->name);
            return 0;
        }
        Tcl_ResetResult(interp);
    }
    float info[2] = {rate, 0.0f};
    return createWave(interp, len, 2, info, nullptr, wave);
}

int get2DVecObject(const char *name, Tcl_Interp *interp, ArrayRecord **array) {
    *array = nullptr;
    ArrayRecord *a = static_cast<ArrayRecord *>(Obj_GetData(interp, "arrayF", name ? name : ""));
    if (!a) return 1;
    if (a->ndims != 1 && a->ndims != 2) {
        setResult(interp, std::string("expecting a 1-D or 2-D arrayf object, not this: \"") + name + "\"");
        return 1;
    }
    *array = a;
    return 0;
}

int maybeReuse2DObject(const char *name, Tcl_Interp *interp, int rows, int cols, ArrayRecord **array) {
    *array = nullptr;
    if (name) {
        ObjEntry *e = Obj_Get(interp, "arrayF", name);
        ArrayRecord *a = e ? static_cast<ArrayRecord *>(e->data) : nullptr;
        if (a && a->ndims == 2 && a->dims[0] == rows && a->dims[1] == cols) {
            *array = a;
            setResult(interp, e->name);
            return 0;
        }
        Tcl_ResetResult(interp);
    }
    ArrayRecord *a = newArray(interp, 2, rows, cols);
    if (!a) return 1;
    *array = a;
    return 0;
}

int cloneVecFromWave(Tcl_Interp *interp, const WaveRecord *wave, int dimension, ArrayRecord **array) {
    *array = nullptr;
    if (dimension != 1 && dimension != 2) {
        setResult(interp, "dimension must be 1 or 2, not " + std::to_string(dimension));
        return 1;
    }
    ArrayRecord *a = newArray(interp, dimension, 1, wave->len);
    if (!a) return 1;
    for (int32_t i = 0; i < wave->len; i++) a->data[i] = wave->samples[i];
    *array = a;
    return 0;
}

int cloneWaveFromVec(Tcl_Interp *interp, const ArrayRecord *array, int infoCount, const float *info,
                     WaveRecord **wave) {
    *wave = nullptr;
    int32_t n = array->count;
    int16_t *samples = static_cast<int16_t *>(DB_MALLOC(n ? (size_t)n * sizeof(int16_t) : 1));
    for (int32_t i = 0; i < n; i++) samples[i] = Utils_ToSample(array->data[i]);
    return createWave(interp, n, infoCount, info, samples, wave);
}

int tcl_FloatList(Tcl_Interp *interp, const char *list, float **values, int *count) {
    *values = nullptr;
    *count = 0;
    int argc = 0;
    const char **argv = nullptr;
    if (Tcl_SplitList(interp, list ? list : "", &argc, &argv) != TCL_OK) return 1;
    float *v = static_cast<float *>(DB_MALLOC(argc ? (size_t)argc * sizeof(float) : 1));
    for (int i = 0; i < argc; i++) {
        double d;
        if (Tcl_GetDouble(interp, argv[i], &d) != TCL_OK) {
            DB_FREE(v);
            Tcl_Free(reinterpret_cast<char *>(argv));
            return 1;
        }
        v[i] = (float)d;
    }
    Tcl_Free(reinterpret_cast<char *>(argv));
    *values = v;
    *count = argc;
    return 0;
}

ArrayRecord *alloc2DVec(int rows, int cols) {
    if (rows < 0) rows = 0;
    if (cols < 0) cols = 0;
    ArrayRecord *a = Array_New(2, rows, cols);
    // The same layout the registry gives an "arrayF", so it may be registered.
    const CntrType *t = Cntr_TypeFind("arrayF");
    if (!t || t->prepare(nullptr, a)) {
        Array_Free(a);
        return nullptr;
    }
    if (a->count) memset(a->data, 0, (size_t)a->count * sizeof(float));
    return a;
}

void freeVec(ArrayRecord *array) { Array_Free(array); }

} // extern "C"
