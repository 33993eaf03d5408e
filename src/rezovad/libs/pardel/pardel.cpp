// Matrix arguments: binding of input and output words to MxMatrix
// descriptors (see pardel.h for the contract).
#include "pardel.h"

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "obj.h"
#include "yastro.h"

namespace {

// Every storage this library allocates: a temporary (kind 0) or an alias
// (kind -1). The ArrayRecord comes first so callers see the documented
// layout.
struct Store {
    ArrayRecord rec;
    ArrayRecord *parent; // alias: the storage whose rows it points into
    const void *root;    // registered record the rows live in, or null
};

// Result of an output that must not be written in place because an input
// is reading the same object: the command writes into a temporary, which
// is copied into the object when the output descriptor goes.
struct WriteBack {
    Tcl_Interp *interp;
    char *name;          // the object's name (owned)
    ArrayRecord *obj;    // the object's record, checked again by name
    ArrayRecord *target; // obj itself, or an alias into it (owned)
    int resizeRows;      // > 0: resize obj to resizeRows x resizeCols first
    int resizeCols;
};

struct Desc {
    MxMatrix pub;
    WriteBack wb[2]; // real, imaginary
    bool input;      // bound by Mx_getComplex: its objects are being read
};

// Inputs being read: (descriptor, registered record its rows live in).
// Only addresses are compared, never followed, so a descriptor that a
// caller forgets to destroy can at worst cause an extra copy.
thread_local std::vector<std::pair<const MxMatrix *, const void *>> liveInputs;

Desc *descOf(MxMatrix *m) { return reinterpret_cast<Desc *>(m); }

bool isLibStore(const ArrayRecord *s) { return s && s->ndims <= 0; }

const void *rootOf(const ArrayRecord *s) {
    if (!s) return nullptr;
    if (s->ndims > 0) return s;
    return reinterpret_cast<const Store *>(s)->root;
}

// Row table of any storage kind: a 1-D object is one row, its data field.
float **rowTableOf(ArrayRecord *s) { return s->ndims == 1 ? &s->data : s->rows; }

void forgetInputs(const MxMatrix *m) {
    auto &v = liveInputs;
    for (size_t i = 0; i < v.size();) {
        if (v[i].first == m) {
            v[i] = v.back();
            v.pop_back();
        } else {
            ++i;
        }
    }
}

void noteInputs(MxMatrix *m) {
    forgetInputs(m);
    if (!descOf(m)->input) return;
    if (const void *r = rootOf(m->realStore)) liveInputs.emplace_back(m, r);
    if (const void *r = rootOf(m->imagStore)) liveInputs.emplace_back(m, r);
}

bool isBeingRead(const void *record) {
    for (auto &e : liveInputs)
        if (e.second == record) return true;
    return false;
}

void setResult(Tcl_Interp *interp, const std::string &s) {
    Tcl_SetObjResult(interp, Tcl_NewStringObj(s.c_str(), -1));
}

std::string fmt(const char *format, ...) __attribute__((format(printf, 1, 2)));
std::string fmt(const char *format, ...) {
    va_list ap;
    va_start(ap, format);
    va_list ap2;
    va_copy(ap2, ap);
    int n = vsnprintf(nullptr, 0, format, ap);
    va_end(ap);
    std::string s(n > 0 ? n : 0, '\0');
    vsnprintf(&s[0], s.size() + 1, format, ap2);
    va_end(ap2);
    return s;
}

// Splits a word as a Tcl list into owned strings; false with Tcl's message.
bool splitList(Tcl_Interp *interp, const char *text, std::vector<std::string> &out) {
    int argc = 0;
    const char **argv = nullptr;
    if (Tcl_SplitList(interp, text, &argc, &argv) != TCL_OK) return false;
    out.assign(argv, argv + argc);
    Tcl_Free(reinterpret_cast<char *>(argv));
    return true;
}

bool sizeFits(long long rows, long long cols) {
    return rows >= 0 && cols >= 0 && rows * cols <= INT32_MAX / (long long)sizeof(float) &&
           rows <= INT32_MAX / (long long)sizeof(float *);
}

void freeWriteBack(WriteBack &w) {
    if (w.target && w.target != w.obj) Mx_freeTmpAlias(w.target);
    if (w.name) DB_FREE(w.name);
    w = WriteBack{};
}

// Resizes a registered 2-D "arrayF" record in place; its elements become 0.
// The registry allocates dims, data and rows as separate DB_Malloc blocks.
void resizeObject(ArrayRecord *rec, int rows, int cols) {
    size_t count = (size_t)rows * cols;
    rec->data = static_cast<float *>(DB_REALLOC(rec->data, (count ? count : 1) * sizeof(float)));
    rec->rows = static_cast<float **>(DB_REALLOC(rec->rows, (rows ? rows : 1) * sizeof(float *)));
    rec->dims[0] = rows;
    rec->dims[1] = cols;
    rec->count = (int32_t)count;
    for (int i = 0; i < rows; i++) rec->rows[i] = rec->data + (size_t)i * cols;
    memset(rec->data, 0, count * sizeof(float));
}

// Copies a part's temporary into the object it stands for, when that object
// is still the one that was bound.
void writeBack(WriteBack &w, ArrayRecord *tmp) {
    if (!w.name) return;
    Tcl_InterpState state = Tcl_SaveInterpState(w.interp, TCL_OK);
    void *now = Obj_GetData(w.interp, "arrayF", w.name);
    Tcl_RestoreInterpState(w.interp, state);
    if (now == w.obj && tmp) {
        if (w.resizeRows > 0) resizeObject(w.obj, w.resizeRows, w.resizeCols);
        float **dst = w.target->rows;
        int rows = tmp->dims[0], cols = tmp->dims[1];
        for (int i = 0; i < rows; i++) memcpy(dst[i], tmp->rows[i], (size_t)cols * sizeof(float));
    }
    freeWriteBack(w);
}

void releasePart(MxMatrix *m, int part) {
    Desc *d = descOf(m);
    ArrayRecord *&store = part == 0 ? m->realStore : m->imagStore;
    writeBack(d->wb[part], store);
    Mx_freeTmpAlias(store);
    store = nullptr;
    (part == 0 ? m->real : m->imag) = nullptr;
}

void clearDescriptor(MxMatrix *m) {
    releasePart(m, 0);
    releasePart(m, 1);
    forgetInputs(m);
    descOf(m)->input = false;
    m->rows = m->cols = 0;
}

// Conjugate transpose of both parts into new temporaries.
void transpose(MxMatrix *m) {
    int r = m->rows, c = m->cols;
    ArrayRecord *re = Mx_allocTmp(c, r);
    for (int i = 0; i < r; i++)
        for (int j = 0; j < c; j++) re->rows[j][i] = m->real[i][j];
    ArrayRecord *im = nullptr;
    if (m->imag) {
        im = Mx_allocTmp(c, r);
        for (int i = 0; i < r; i++)
            for (int j = 0; j < c; j++) im->rows[j][i] = -m->imag[i][j];
    }
    Mx_freeTmpAlias(m->realStore);
    Mx_freeTmpAlias(m->imagStore);
    m->realStore = re;
    m->real = re->rows;
    m->imagStore = im;
    m->imag = im ? im->rows : nullptr;
    m->rows = c;
    m->cols = r;
}

// Applies a suffix ("'", "(range)", ".") to a bound descriptor. Outputs
// refuse "'": a transposed output would be a copy, and what the command
// writes into it would be lost.
int applySuffix(Tcl_Interp *interp, MxMatrix *m, const char *suffix, bool output, const std::string &name) {
    const char *p = suffix;
    while (*p) {
        if (*p == '\'') {
            if (output) {
                setResult(interp, "cannot write through a transposed output \"" + name + "\"");
                return 1;
            }
            transpose(m);
            p++;
        } else if (*p == '(') {
            const char *close = strchr(p, ')');
            if (!close) {
                setResult(interp, fmt("no closing \")\" bracket for range specifier \"%s\" should be of the form "
                                      "(a:b:c) or (a:b:c,d:e:f)",
                                      p));
                return 1;
            }
            std::string range(p + 1, close);
            int rf = 0, rs = 1, rl = m->rows - 1, cf = 0, cs = 1, cl = m->cols - 1;
            if (Mx_rangeSplit(interp, range.c_str(), &rf, &rs, &rl, &cf, &cs, &cl)) return 1;
            if (rs != 1 || cs != 1 || rl < rf || cl < cf) {
                setResult(interp, fmt("for negative steps or reverse indicing \"%s\" use the \"cut\" command", range.c_str()));
                return 1;
            }
            if (rf < 0 || rl > m->rows - 1) {
                setResult(interp, fmt("mx cut: out of range row index %d:1:%d for vector -- should be in range (0:%d)", rf,
                                      rl, m->rows - 1));
                return 1;
            }
            if (cf < 0 || cl > m->cols - 1) {
                setResult(interp, fmt("mx cut: out of range column index %d:1:%d for vector -- should be in range (0:%d)",
                                      cf, cl, m->cols - 1));
                return 1;
            }
            int rows = 0, cols = m->cols;
            if (m->imag) m->imag = Mx_allocAlias(interp, &m->imagStore, rf, rl, cf, cl, &rows, &cols);
            cols = m->cols;
            m->real = Mx_allocAlias(interp, &m->realStore, rf, rl, cf, cl, &rows, &cols);
            m->rows = rows;
            m->cols = cols;
            p = close + 1;
        } else if (*p == '.') {
            p++;
        } else {
            setResult(interp, fmt("don't know what to do with \"%c\"", *p));
            return 1;
        }
    }
    return 0;
}

// One item of an input word bound into part 0 (real) or 1 (imaginary).
struct InputPart {
    ArrayRecord *store = nullptr;
    float **table = nullptr;
    int rows = 0, cols = 0;
    bool isObject = false;
    std::string suffix;
};

int bindInputItem(Tcl_Interp *interp, const std::string &item, InputPart &part) {
    if (!item.empty() && item[0] == 'a') {
        size_t dot = item.find('.');
        std::string name = item.substr(0, dot);
        if (dot != std::string::npos) part.suffix = item.substr(dot + 1);
        part.isObject = true;
        ArrayRecord *rec = static_cast<ArrayRecord *>(Obj_GetData(interp, "arrayF", name.c_str()));
        if (!rec) {
            if (*Tcl_GetStringResult(interp)) Tcl_AppendResult(interp, "; ", (char *)nullptr);
            Tcl_AppendResult(interp, "expecting a list or 1-D or 2-D arrayf object, not this: \"", name.c_str(), "\"",
                             (char *)nullptr);
            return 1;
        }
        if (rec->ndims != 1 && rec->ndims != 2) {
            setResult(interp, "expecting a 1-D or 2-D arrayf object, not this: \"" + name + "\"");
            return 1;
        }
        part.store = rec;
        part.table = rowTableOf(rec);
        part.rows = Array_rows(rec);
        part.cols = Array_cols(rec);
        return 0;
    }
    return Mx_getTclArray(interp, item.c_str(), &part.store, &part.table, &part.rows, &part.cols);
}

// Finds an output item: an "arrayF" of that name, or a variable naming one.
// Answers 1 (found: *rec and *objName set), 0 (not found) or -1 (error: the
// item names an object of another type).
int findOutput(Tcl_Interp *interp, const std::string &item, ArrayRecord **rec, std::string *objName) {
    *rec = nullptr;
    auto lookup = [&](const std::string &name, bool direct) -> int {
        ArrayRecord *r = static_cast<ArrayRecord *>(Obj_GetData(interp, "arrayF", name.c_str()));
        if (r) {
            if (r->ndims == 2 && r->count > 0) {
                *rec = r;
                *objName = name;
                return 1;
            }
            return 0; // another shape: made anew under a new name
        }
        if (direct && Obj_Get(interp, nullptr, name.c_str())) return -1;
        return 0;
    };
    int found = lookup(item, true);
    if (found < 0) {
        setResult(interp, "expecting a 2-D arrayf object, not this: \"" + item + "\"");
        return -1;
    }
    if (!found) {
        Tcl_ResetResult(interp);
        if (!Obj_Get(interp, nullptr, item.c_str())) {
            Tcl_ResetResult(interp);
            if (const char *value = Tcl_GetVar(interp, item.c_str(), 0)) found = lookup(value, false);
        }
    }
    Tcl_ResetResult(interp);
    return found;
}

// Makes a new zero-filled 2-D "arrayF"; its name is the interpreter result.
ArrayRecord *createOutput(Tcl_Interp *interp, int rows, int cols) {
    ArrayRecord *rec = Array_New(2, rows, cols);
    if (Obj_Create(interp, "arrayF", rec) != TCL_OK) {
        Array_Free(rec);
        return nullptr;
    }
    memset(rec->data, 0, (size_t)rec->count * sizeof(float));
    return rec;
}

// One output part found or made, and how it is bound.
struct OutputPart {
    std::string item;     // the word, suffix cut off
    std::string suffix;
    ArrayRecord *obj = nullptr;
    std::string name;     // the object's name
    bool found = false;
    ArrayRecord *target = nullptr; // prepared: obj or an alias into it
    bool resize = false;
    ~OutputPart() { Mx_freeTmpAlias(target); }
};

// Checks a found output part against the result size, applying its
// suffix; nothing is changed yet. On success o.target is the object or an
// alias into it, and o.resize tells that the object must change size.
int prepareFound(Tcl_Interp *interp, OutputPart &o, const char *suffix, int rows, int cols) {
    MxMatrix view{};
    view.rows = Array_rows(o.obj);
    view.cols = Array_cols(o.obj);
    view.realStore = o.obj;
    view.real = o.obj->rows;
    if (suffix && *suffix) {
        if (applySuffix(interp, &view, suffix, true, o.name)) {
            Mx_freeTmpAlias(view.realStore);
            return 1;
        }
        if (view.rows != rows || view.cols != cols) {
            Mx_freeTmpAlias(view.realStore);
            setResult(interp, fmt("range specification inconsistent with operator result for object %s", o.name.c_str()));
            return 1;
        }
    } else {
        o.resize = view.rows != rows || view.cols != cols;
    }
    o.target = view.realStore;
    return 0;
}

// Binds a prepared output part: in place, through its sub-block alias,
// resized, or into a temporary when an input is reading the object.
void commitFound(Tcl_Interp *interp, MxMatrix *m, int part, OutputPart &o, int rows, int cols) {
    ArrayRecord *&store = part == 0 ? m->realStore : m->imagStore;
    float **&table = part == 0 ? m->real : m->imag;
    if (isBeingRead(o.obj)) {
        ArrayRecord *tmp = Mx_allocTmp(rows, cols);
        if (o.resize) {
            memset(tmp->data, 0, (size_t)rows * cols * sizeof(float));
        } else {
            for (int i = 0; i < rows; i++) memcpy(tmp->rows[i], o.target->rows[i], (size_t)cols * sizeof(float));
        }
        WriteBack &w = descOf(m)->wb[part];
        w.interp = interp;
        w.name = static_cast<char *>(DB_MALLOC(o.name.size() + 1));
        memcpy(w.name, o.name.c_str(), o.name.size() + 1);
        w.obj = o.obj;
        w.target = o.target;
        w.resizeRows = o.resize ? rows : 0;
        w.resizeCols = o.resize ? cols : 0;
        store = tmp;
        table = tmp->rows;
    } else {
        if (o.resize) resizeObject(o.obj, rows, cols);
        store = o.target;
        table = o.target->rows;
    }
    o.target = nullptr; // now owned by the descriptor
}

int splitOutputItem(const std::string &word, OutputPart &o) {
    size_t dot = word.find('.');
    o.item = word.substr(0, dot);
    if (dot != std::string::npos) o.suffix = word.substr(dot + 1);
    return 0;
}

// Reads one number of a range; false when no digits were there.
bool rangeNumber(const char *&p, int *value) {
    char *end = nullptr;
    errno = 0;
    unsigned long v = strtoul(p, &end, 0);
    if (end == p) return false;
    *value = (int)(long)v;
    p = end;
    return true;
}

// One dimension of a range: "", "a", "a:b" or "a:b:c". On a bad
// character, *bad is that character and the answer is false.
bool rangeDim(const std::string &text, int *first, int *step, int *last, char *bad) {
    const char *p = text.c_str();
    int v1 = 0, v2 = 0, v3 = 0;
    bool g1 = rangeNumber(p, &v1);
    if (!*p) {
        if (g1) *first = v1;
        *last = g1 ? v1 : 0;
        *step = 1;
        return true;
    }
    if (*p != ':') {
        *bad = *p;
        return false;
    }
    p++;
    bool g2 = rangeNumber(p, &v2);
    if (!*p) {
        if (g1) *first = v1;
        if (g2) *last = v2;
        return true;
    }
    if (*p != ':') {
        *bad = *p;
        return false;
    }
    p++;
    bool g3 = rangeNumber(p, &v3);
    if (*p) {
        *bad = *p;
        return false;
    }
    if (g1) *first = v1;
    if (g2) *step = v2;
    if (g3) *last = v3;
    return true;
}

void badCharacter(Tcl_Interp *interp, char c, const char *where) {
    std::string s = "bad character '";
    s += c;
    s += "' in ";
    s += where;
    setResult(interp, s);
}

} // namespace

extern "C" {

MxMatrix *Mx_create(void) {
    Desc *d = static_cast<Desc *>(DB_MALLOC(sizeof(Desc)));
    memset(d, 0, sizeof(Desc));
    return &d->pub;
}

void Mx_destroyReal(MxMatrix *m) {
    if (!m) return;
    releasePart(m, 0);
    noteInputs(m);
}

void Mx_destroyComplex(MxMatrix *m) {
    if (!m) return;
    releasePart(m, 0);
    releasePart(m, 1);
    forgetInputs(m);
}

void Mx_destroy(MxMatrix *m) {
    if (!m) return;
    Mx_destroyComplex(m);
    DB_FREE(descOf(m));
}

int Mx_freeTmpAlias(ArrayRecord *store) {
    if (!store) return 0;
    int kind = store->ndims;
    if (kind > 0) return kind;
    Store *s = reinterpret_cast<Store *>(store);
    if (kind == MX_KIND_TMP) DB_FREE(s->rec.data);
    else if (isLibStore(s->parent)) Mx_freeTmpAlias(s->parent);
    DB_FREE(s->rec.rows);
    DB_FREE(s->rec.dims);
    DB_FREE(s);
    return kind;
}

ArrayRecord *Mx_allocTmp(int rows, int cols) {
    if (rows < 0) rows = 0;
    if (cols < 0) cols = 0;
    size_t count = (size_t)rows * cols;
    Store *s = static_cast<Store *>(DB_MALLOC(sizeof(Store)));
    memset(s, 0, sizeof(Store));
    s->rec.ndims = MX_KIND_TMP;
    s->rec.dims = static_cast<int32_t *>(DB_MALLOC(2 * sizeof(int32_t)));
    s->rec.dims[0] = rows;
    s->rec.dims[1] = cols;
    s->rec.count = (int32_t)count;
    s->rec.data = static_cast<float *>(DB_MALLOC((count ? count : 1) * sizeof(float)));
    s->rec.rows = static_cast<float **>(DB_MALLOC((rows ? rows : 1) * sizeof(float *)));
    for (int i = 0; i < rows; i++) s->rec.rows[i] = s->rec.data + (size_t)i * cols;
    return &s->rec;
}

float **Mx_allocAlias(Tcl_Interp *, ArrayRecord **store, int rowFirst, int rowLast, int colFirst, int colLast,
                      int *rows, int *cols) {
    ArrayRecord *src = *store;
    float **srcRows = rowTableOf(src);
    int n = rowLast - rowFirst + 1;
    if (n < 0) n = 0;
    int c = colLast - colFirst + 1;
    if (c < 0) c = 0;
    Store *s = static_cast<Store *>(DB_MALLOC(sizeof(Store)));
    memset(s, 0, sizeof(Store));
    s->rec.ndims = MX_KIND_ALIAS;
    s->rec.dims = static_cast<int32_t *>(DB_MALLOC(2 * sizeof(int32_t)));
    s->rec.dims[0] = n;
    s->rec.dims[1] = c;
    s->rec.count = n * c;
    s->rec.data = nullptr; // not contiguous: read through rows
    s->rec.rows = static_cast<float **>(DB_MALLOC((n ? n : 1) * sizeof(float *)));
    for (int i = 0; i < n; i++) s->rec.rows[i] = srcRows[rowFirst + i] + colFirst;
    s->parent = src;
    s->root = rootOf(src);
    *store = &s->rec;
    *rows = n;
    *cols = c;
    return s->rec.rows;
}

int Mx_getTclArray(Tcl_Interp *interp, const char *text, ArrayRecord **store, float ***rowTable, int *rows,
                   int *cols) {
    *store = nullptr;
    std::vector<std::string> rowWords;
    if (!splitList(interp, text, rowWords)) return 1;
    std::vector<std::string> first;
    if (!rowWords.empty() && !splitList(interp, rowWords[0].c_str(), first)) return 1;
    if (rowWords.empty() || first.empty()) {
        setResult(interp, std::string("expecting a list of rows of numbers, not this: \"") + text + "\"");
        return 1;
    }
    int nr = (int)rowWords.size(), nc = (int)first.size();
    if (!sizeFits(nr, nc)) {
        setResult(interp, "matrix too large");
        return 1;
    }
    ArrayRecord *tmp = Mx_allocTmp(nr, nc);
    std::vector<std::string> items;
    for (int i = 0; i < nr; i++) {
        std::vector<std::string> &row = i == 0 ? first : items;
        if (i > 0 && !splitList(interp, rowWords[i].c_str(), items)) {
            Mx_freeTmpAlias(tmp);
            return 1;
        }
        if ((int)row.size() != nc) {
            Mx_freeTmpAlias(tmp);
            setResult(interp, fmt("row %d not a valid length", i));
            return 1;
        }
        for (int j = 0; j < nc; j++) {
            double v;
            if (Tcl_GetDouble(interp, row[j].c_str(), &v) != TCL_OK) {
                Mx_freeTmpAlias(tmp);
                return 1;
            }
            tmp->rows[i][j] = (float)v;
        }
    }
    *store = tmp;
    *rowTable = tmp->rows;
    *rows = nr;
    *cols = nc;
    return 0;
}

int Mx_getComplex(Tcl_Interp *interp, const char *text, MxMatrix *m) {
    clearDescriptor(m);
    descOf(m)->input = true;
    if (!text) {
        setResult(interp, "no matrix given");
        return 1;
    }
    std::vector<std::string> items;
    if (!splitList(interp, text, items)) return 1;
    if (items.size() != 1 && items.size() != 2) {
        setResult(interp, fmt("input must be an object or a 2 element object list (real and imaginary) but %d "
                              "`thing(s)' given %s",
                              (int)items.size(), text));
        return 1;
    }
    InputPart parts[2];
    for (size_t i = 0; i < items.size(); i++) {
        int code = bindInputItem(interp, items[i], parts[i]);
        if (i == 0) {
            m->realStore = parts[0].store;
            m->real = parts[0].table;
            m->rows = parts[0].rows;
            m->cols = parts[0].cols;
        } else {
            m->imagStore = parts[1].store;
            m->imag = parts[1].table;
        }
        if (code) {
            noteInputs(m);
            return 1;
        }
    }
    noteInputs(m);
    if (items.size() == 2 && (parts[1].rows != m->rows || parts[1].cols != m->cols)) {
        setResult(interp, fmt("inconsistent size for real and imaginary components of 2 element object input list %s", text));
        return 1;
    }
    const std::string &suffix = items.size() == 2 && parts[1].isObject ? parts[1].suffix : parts[0].suffix;
    int code = applySuffix(interp, m, suffix.c_str(), false, items[0]);
    noteInputs(m);
    return code;
}

int Mx_getReal(Tcl_Interp *interp, const char *text, MxMatrix *m) {
    if (Mx_getComplex(interp, text, m)) return 1;
    if (m->imag) {
        setResult(interp, fmt("expecting %s to be real", text));
        return 1;
    }
    return 0;
}

int Mx_rangeSplit(Tcl_Interp *interp, const char *text, int *rowFirst, int *rowStep, int *rowLast, int *colFirst,
                  int *colStep, int *colLast) {
    std::string t = text ? text : "";
    const std::string badSpec = "bad range specifier " + t + " should be of the form a:b:c,d:e:f";
    char bad = 0;
    size_t comma = t.find(',');
    if (comma != std::string::npos) {
        std::string colText = t.substr(comma + 1);
        if (colText.empty() || colText[0] == ' ') {
            setResult(interp, badSpec);
            return 1;
        }
        if (!rangeDim(t.substr(0, comma), rowFirst, rowStep, rowLast, &bad)) {
            badCharacter(interp, bad, "row range specifier");
            return 1;
        }
        if (!rangeDim(colText, colFirst, colStep, colLast, &bad)) {
            badCharacter(interp, bad, "column range specifier");
            return 1;
        }
        return 0;
    }
    // Without a comma the range applies to the one dimension longer than one.
    bool oneCol = *colLast <= *colFirst;
    bool oneRow = *rowLast <= *rowFirst;
    if (!oneCol && !oneRow) {
        if (t == ":") return 0;
        setResult(interp, badSpec);
        return 1;
    }
    bool ok = oneCol ? rangeDim(t, rowFirst, rowStep, rowLast, &bad) : rangeDim(t, colFirst, colStep, colLast, &bad);
    if (!ok) {
        badCharacter(interp, bad, "range specifier");
        return 1;
    }
    return 0;
}

int Mx_setReal(Tcl_Interp *interp, const char *output, int rows, int cols, MxMatrix *m) {
    clearDescriptor(m);
    if (!sizeFits(rows, cols)) {
        setResult(interp, fmt("cannot make a matrix of %d x %d", rows, cols));
        return 1;
    }
    OutputPart o;
    if (output) {
        std::vector<std::string> items;
        if (!splitList(interp, output, items)) return 1;
        if (items.size() != 1) {
            setResult(interp, fmt("output must be a 1 element object (real) but %d `thing(s)' given %s",
                                  (int)items.size(), output));
            return 1;
        }
        splitOutputItem(items[0], o);
        int f = findOutput(interp, o.item, &o.obj, &o.name);
        if (f < 0) return 1;
        o.found = f == 1;
    }
    if (rows == 0 || cols == 0) {
        // Nothing to write: only an object of exactly that size is bound.
        Tcl_ResetResult(interp);
        if (o.found && o.suffix.empty() && Array_rows(o.obj) == rows && Array_cols(o.obj) == cols) {
            m->realStore = o.obj;
            m->real = o.obj->rows;
            setResult(interp, o.name);
        }
        return 0;
    }
    if (o.found) {
        if (prepareFound(interp, o, o.suffix.c_str(), rows, cols)) return 1;
        commitFound(interp, m, 0, o, rows, cols);
        setResult(interp, o.name);
    } else {
        ArrayRecord *rec = createOutput(interp, rows, cols);
        if (!rec) return 1;
        if (output) {
            std::string name = Tcl_GetStringResult(interp);
            if (!Tcl_SetVar(interp, o.item.c_str(), name.c_str(), TCL_LEAVE_ERR_MSG)) {
                Tcl_Obj *msg = Tcl_GetObjResult(interp);
                Tcl_IncrRefCount(msg);
                Obj_Destroy(interp, name.c_str());
                Tcl_SetObjResult(interp, msg);
                Tcl_DecrRefCount(msg);
                return 1;
            }
            setResult(interp, name);
        }
        m->realStore = rec;
        m->real = rec->rows;
    }
    m->rows = rows;
    m->cols = cols;
    return 0;
}

int Mx_setComplex(Tcl_Interp *interp, const char *output, int rows, int cols, MxMatrix *m) {
    clearDescriptor(m);
    if (!sizeFits(rows, cols)) {
        setResult(interp, fmt("cannot make a matrix of %d x %d", rows, cols));
        return 1;
    }
    OutputPart o[2];
    if (output) {
        std::vector<std::string> items;
        if (!splitList(interp, output, items)) return 1;
        if (items.size() != 2) {
            setResult(interp, fmt("output must be a 2 element object list (real and imaginary) but %d `thing(s)' "
                                  "given %s",
                                  (int)items.size(), output));
            return 1;
        }
        for (int i = 0; i < 2; i++) {
            splitOutputItem(items[i], o[i]);
            int f = findOutput(interp, o[i].item, &o[i].obj, &o[i].name);
            if (f < 0) return 1;
            o[i].found = f == 1;
        }
        if (o[0].found && o[1].found) {
            // One object cannot hold both parts: the second would overwrite the first.
            if (o[0].obj == o[1].obj) {
                setResult(interp, fmt("real and imaginary parts must be different objects for object %s", output));
                return 1;
            }
            if (Array_rows(o[0].obj) != Array_rows(o[1].obj) || Array_cols(o[0].obj) != Array_cols(o[1].obj)) {
                setResult(interp, fmt("real and imaginary parts must have the same size for object %s", output));
                return 1;
            }
        }
    }
    if (rows == 0 || cols == 0) {
        Tcl_ResetResult(interp);
        return 0;
    }
    // The suffix of the second word applies to both parts; that of the
    // first is ignored.
    const char *suffix = o[1].suffix.c_str();
    for (int i = 0; i < 2; i++)
        if (o[i].found && prepareFound(interp, o[i], suffix, rows, cols)) return 1;
    // Make the missing parts; undo them all when one cannot be made.
    std::string names[2];
    ArrayRecord *made[2] = {nullptr, nullptr};
    for (int i = 0; i < 2; i++) {
        if (o[i].found) {
            names[i] = o[i].name;
            continue;
        }
        made[i] = createOutput(interp, rows, cols);
        bool ok = made[i] != nullptr;
        if (ok) names[i] = Tcl_GetStringResult(interp);
        if (ok && output && !Tcl_SetVar(interp, o[i].item.c_str(), names[i].c_str(), TCL_LEAVE_ERR_MSG)) ok = false;
        if (!ok) {
            Tcl_Obj *msg = Tcl_GetObjResult(interp);
            Tcl_IncrRefCount(msg);
            for (int k = 0; k <= i; k++)
                if (made[k]) Obj_Destroy(interp, names[k].c_str());
            Tcl_SetObjResult(interp, msg);
            Tcl_DecrRefCount(msg);
            return 1;
        }
    }
    for (int i = 0; i < 2; i++) {
        if (o[i].found) {
            commitFound(interp, m, i, o[i], rows, cols);
        } else {
            (i == 0 ? m->realStore : m->imagStore) = made[i];
            (i == 0 ? m->real : m->imag) = made[i]->rows;
        }
    }
    Tcl_Obj *list[2] = {Tcl_NewStringObj(names[0].c_str(), -1), Tcl_NewStringObj(names[1].c_str(), -1)};
    Tcl_SetObjResult(interp, Tcl_NewListObj(2, list));
    m->rows = rows;
    m->cols = cols;
    return 0;
}

} // extern "C"
