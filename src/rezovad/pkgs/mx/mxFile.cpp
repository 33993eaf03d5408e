// The file commands of mx: matrices as text (fprintf, fscanf) and as raw
// host-order floats (fwrite, fread), each with an optional "<rows> <cols>"
// header line. Readers take the whole file in before they bind the output,
// so a malformed file leaves the output as it was.
#include <sys/stat.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "cmds.h"
#include "mx.h"

using namespace mx;

namespace {

// Closes a file on every path but the one that closes it itself.
struct File {
    FILE *f = nullptr;
    bool standard = false;
    ~File() {
        if (f && !standard) fclose(f);
    }
    int close() {
        int code = 0;
        if (f && !standard) code = fclose(f);
        else if (f) code = fflush(f);
        f = nullptr;
        return code;
    }
};

// Reads a "<rows> <cols>\n" header at the start of text; its length, or 0
// when there is none or a number is not above 0.
size_t readHeader(const char *text, size_t len, int *rows, int *cols) {
    char head[64];
    size_t n = len < sizeof head - 1 ? len : sizeof head - 1;
    memcpy(head, text, n);
    head[n] = '\0';
    int r = 0, c = 0, used = 0;
    if (sscanf(head, "<%d> <%d>%n", &r, &c, &used) != 2 || used <= 0 || head[used] != '\n') return 0;
    if (r <= 0 || c <= 0) return 0;
    *rows = r;
    *cols = c;
    return (size_t)used + 1;
}

// The size of n elements from what was given (-1: not given). A single
// given count must divide n, so that no element is dropped.
bool sizeFor(long n, int givenRows, int givenCols, int *rows, int *cols) {
    if (givenRows == -1 && givenCols == -1) {
        if (n > INT32_MAX) return false;
        *rows = 1;
        *cols = (int)n;
        return true;
    }
    if (givenRows == -1 || givenCols == -1) {
        long k = givenRows == -1 ? givenCols : givenRows;
        if (k <= 0 || k > n || n % k != 0) return false;
        *rows = givenRows == -1 ? (int)(n / k) : givenRows;
        *cols = givenCols == -1 ? (int)(n / k) : givenCols;
        return true;
    }
    if (givenRows <= 0 || givenCols <= 0 || (long)givenRows * givenCols != n) return false;
    *rows = givenRows;
    *cols = givenCols;
    return true;
}

// A printf format for one double: text with at most one conversion among
// e f g a (any case), with flags, width and precision; "%%" is text.
bool safeDoubleFormat(const char *fmt) {
    int conversions = 0;
    for (const char *p = fmt; *p; p++) {
        if (*p != '%') continue;
        p++;
        if (*p == '%') continue;
        while (*p && strchr("-+ #0", *p)) p++;
        while (isdigit((unsigned char)*p)) p++;
        if (*p == '.') {
            p++;
            while (isdigit((unsigned char)*p)) p++;
        }
        if (*p == 'l') p++;
        if (!*p || !strchr("eEfFgGaA", *p)) return false;
        conversions++;
    }
    return conversions <= 1;
}

bool readAll(FILE *f, std::string &out) {
    char buf[65536];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
    return !ferror(f);
}

bool isRegularFile(const char *path) {
    struct stat st;
    return stat(path, &st) == 0 && S_ISREG(st.st_mode);
}

} // namespace

// mx fprintf filename inobjA ?-format f? ?-header? ?-append? ?-pre s? ?-post s?
//            ?-preline s? ?-postline s?
// Writes the matrix as text, one line a row, each element with the format
// (default "%f "); "stdout" and "stderr" name the streams. Answers "rows cols".
int MxFprintfCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *name = nullptr, *in = nullptr, *fmt = "%f ", *pre = nullptr, *post = nullptr, *preline = nullptr,
               *postline = nullptr;
    int header = 0, append = 0;
    if (Cmds_ParseArgs(interp, 2, argc, argv,
                       "filename %s inobA %s -format %s -header %n -append %n -pre %s -post %s -preline %s "
                       "-postline %s",
                       &name, &in, &fmt, &header, &append, &pre, &post, &preline, &postline))
        return TCL_ERROR;
    // The format reaches printf with one double: anything else would read
    // arguments that are not there.
    if (!safeDoubleFormat(fmt))
        return fail(interp, "mx fprintf: format \"%s\" must hold one conversion of a floating-point number", fmt);
    Matrix a;
    if (Mx_getReal(interp, in, a.get())) return TCL_ERROR;
    if (refuseEmpty(interp, "fprintf", a.get(), in)) return TCL_ERROR;
    File file;
    if (strcmp(name, "stdout") == 0 || strcmp(name, "stderr") == 0) {
        file.f = name[3] == 'o' ? stdout : stderr;
        file.standard = true;
    } else {
        file.f = fopen(name, append ? "ab" : "wb");
        if (!file.f) return fail(interp, "mx fprintf: cannot open %s for writing", name);
    }
    FILE *f = file.f;
    if (header && fprintf(f, "<%d> <%d>\n", a->rows, a->cols) < 0)
        return fail(interp, "mx fprintf: error writing header to %s", name);
    if (pre && fprintf(f, "%s", pre) < 0) return fail(interp, "mx fprintf: error writing 'pre' to %s", name);
    for (int i = 0; i < a->rows; i++) {
        if (preline && fprintf(f, "%s", preline) < 0)
            return fail(interp, "mx fprintf: error writing 'preline' to %s", name);
        for (int j = 0; j < a->cols; j++)
            if (fprintf(f, fmt, (double)a->real[i][j]) < 0)
                return fail(interp, "mx fprintf: error writing %s to %s", in, name);
        if (fprintf(f, "%s\n", postline ? postline : "") < 0)
            return fail(interp, "mx fprintf: error writing 'postline' to %s", name);
    }
    if (post && fprintf(f, "%s", post) < 0) return fail(interp, "mx fprintf: error writing 'post' to %s", name);
    if (file.close() != 0) return fail(interp, "mx fprintf: cannot close %s", name);
    Tcl_SetObjResult(interp, Tcl_NewStringObj((std::to_string(a->rows) + " " + std::to_string(a->cols)).c_str(), -1));
    return TCL_OK;
}

// mx fscanf filename ?outobX? ?-r rows? ?-c cols?
// Reads a matrix of numbers written as text ("stdin" reads the standard
// input); the header, or -r and -c, or the count of numbers give the size.
int MxFscanfCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *name = nullptr, *out = nullptr;
    int givenRows = -1, givenCols = -1;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "filename %s outobX ?s -r %i -c %i", &name, &out, &givenRows,
                       &givenCols))
        return TCL_ERROR;
    File file;
    if (strcmp(name, "stdin") == 0) {
        file.f = stdin;
        file.standard = true;
    } else {
        if (isRegularFile(name)) file.f = fopen(name, "rb");
        if (!file.f) return fail(interp, "mx fscanf: cannot open %s for reading", name);
    }
    std::string text;
    if (!readAll(file.f, text)) return fail(interp, "mx fscanf: cannot open %s for reading", name);
    if (!file.standard && file.close() != 0) return fail(interp, "mx fread: cannot close %s", name);
    size_t start = readHeader(text.data(), text.size(), &givenRows, &givenCols);
    // The numbers, up to the first thing that is not one.
    std::vector<float> values;
    const char *p = text.c_str() + start;
    long want = givenRows > 0 && givenCols > 0 ? (long)givenRows * givenCols : -1;
    while (want < 0 || (long)values.size() < want) {
        char *end = nullptr;
        double v = strtod(p, &end);
        if (end == p) break;
        values.push_back((float)v);
        p = end;
    }
    int rows = 0, cols = 0;
    if (want < 0) {
        if (values.empty()) return fail(interp, "mx fscanf: file %s should contain float numbers.", name);
        if (!sizeFor((long)values.size(), givenRows, givenCols, &rows, &cols))
            return fail(interp, "mx fscanf: invalid size for file %s", name);
    } else {
        if ((long)values.size() < want) return fail(interp, "mx fscanf: insufficient data in file %s.", name);
        rows = givenRows;
        cols = givenCols;
    }
    Matrix o;
    if (Mx_setReal(interp, out, rows, cols, o.get())) return TCL_ERROR;
    for (int i = 0; i < rows; i++) memcpy(o->real[i], &values[(size_t)i * cols], (size_t)cols * sizeof(float));
    return TCL_OK;
}

// mx fwrite filename inobA ?-header? ?-append?
// Writes the elements as host-order 32-bit floats, row after row; answers
// the number of floats written.
int MxFwriteCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *name = nullptr, *in = nullptr;
    int header = 0, append = 0;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "filename %s inobA %s -header %n -append %n", &name, &in, &header,
                       &append))
        return TCL_ERROR;
    Matrix a;
    if (Mx_getReal(interp, in, a.get())) return TCL_ERROR;
    if (refuseEmpty(interp, "fwrite", a.get(), in)) return TCL_ERROR;
    File file;
    file.f = fopen(name, append ? "ab" : "wb");
    if (!file.f) return fail(interp, "mx fwrite: cannot open %s for binary writing.", name);
    if (header && fprintf(file.f, "<%d> <%d>\n", a->rows, a->cols) < 0)
        return fail(interp, "mx fwrite: error writing header to %s", name);
    for (int i = 0; i < a->rows; i++)
        if (fwrite(a->real[i], sizeof(float), (size_t)a->cols, file.f) != (size_t)a->cols)
            return fail(interp, "mx fwrite: error writing data to %s", name);
    if (file.close() != 0) return fail(interp, "mx fwrite: cannot close %s", name);
    Tcl_SetObjResult(interp, Tcl_NewStringObj(std::to_string((long)a->rows * a->cols).c_str(), -1));
    return TCL_OK;
}

// mx fread infile ?outobX? ?-r rows? ?-c cols?
// Reads a file of host-order floats; the header, or -r and -c, give the
// size (one row when neither is there).
int MxFreadCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *name = nullptr, *out = nullptr;
    int givenRows = -1, givenCols = -1;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "infile %s outobX ?s -r %i -c %i", &name, &out, &givenRows, &givenCols))
        return TCL_ERROR;
    File file;
    if (isRegularFile(name)) file.f = fopen(name, "rb");
    if (!file.f) return fail(interp, "mx fread: cannot open %s for reading.", name);
    std::string bytes;
    if (!readAll(file.f, bytes)) return fail(interp, "mx fread: error %d reading from %s", errno, name);
    if (file.close() != 0) return fail(interp, "mx fread: cannot close file %s.", name);
    size_t start = readHeader(bytes.data(), bytes.size(), &givenRows, &givenCols);
    long n = (long)((bytes.size() - start) / sizeof(float));
    if (n < 1) return fail(interp, "mx fread: empty file %s.", name);
    int rows = 0, cols = 0;
    if (!sizeFor(n, givenRows, givenCols, &rows, &cols)) return fail(interp, "mx fread: invalid size for file %s", name);
    Matrix o;
    if (Mx_setReal(interp, out, rows, cols, o.get())) return TCL_ERROR;
    const char *data = bytes.data() + start;
    for (int i = 0; i < rows; i++)
        memcpy(o->real[i], data + (size_t)i * cols * sizeof(float), (size_t)cols * sizeof(float));
    return TCL_OK;
}
