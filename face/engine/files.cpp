#include "files.h"

#include <dirent.h>
#include <strings.h>
#include <sys/stat.h>

#include <cstring>
#include <vector>

namespace brovana {

static std::string Normalise(const std::string &p) {
    std::string out;
    for (char c : p) {
        c = c == '\\' ? '/' : c;
        if (c == '/' && !out.empty() && out.back() == '/') continue;
        out += c;
    }
    return out;
}

std::string JoinPath(const std::string &a, const std::string &b) {
    if (a.empty()) return Normalise(b);
    return Normalise(a + "/" + b);
}

static bool Exists(const std::string &p) {
    struct stat st;
    return stat(p.c_str(), &st) == 0;
}

std::string FindFile(const std::string &path) {
    std::string norm = Normalise(path);
    if (Exists(norm)) return norm;
    // Walk the parts, matching each one in its directory without regard to case.
    std::vector<std::string> parts;
    size_t start = 0;
    std::string found = norm[0] == '/' ? "/" : "";
    while (start <= norm.size()) {
        size_t e = norm.find('/', start);
        if (e == std::string::npos) e = norm.size();
        if (e > start) parts.push_back(norm.substr(start, e - start));
        start = e + 1;
    }
    for (size_t i = 0; i < parts.size(); i++) {
        std::string dir = found.empty() ? "." : found;
        std::string candidate = found.empty() ? parts[i] : JoinPath(found, parts[i]);
        if (found == "/") candidate = "/" + parts[i];
        if (!Exists(candidate)) {
            DIR *d = opendir(dir.c_str());
            if (!d) return norm;
            struct dirent *ent;
            std::string match;
            while ((ent = readdir(d)) != nullptr) {
                if (strcasecmp(ent->d_name, parts[i].c_str()) == 0) {
                    match = ent->d_name;
                    break;
                }
            }
            closedir(d);
            if (match.empty()) return norm;
            candidate = found.empty() ? match : (found == "/" ? "/" + match : JoinPath(found, match));
        }
        found = candidate;
    }
    return found;
}

bool FileExists(const std::string &path) {
    struct stat st;
    return stat(FindFile(path).c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

BinaryFile::BinaryFile(const std::string &path) : path_(FindFile(path)) {
    f_ = fopen(path_.c_str(), "rb");
    ok_ = f_ != nullptr;
}

BinaryFile::~BinaryFile() {
    if (f_) fclose(f_);
}

static bool ReadRaw(FILE *f, bool *ok, void *dst, size_t n) {
    if (!f || !*ok || fread(dst, 1, n, f) != n) {
        *ok = false;
        memset(dst, 0, n);
        return false;
    }
    return true;
}

// The files are little-endian, as is every machine this builds on; a
// big-endian port would swap here.
bool BinaryFile::i32(int32_t *v) { return ReadRaw(f_, &ok_, v, 4); }
bool BinaryFile::f32(float *v) { return ReadRaw(f_, &ok_, v, 4); }
bool BinaryFile::f64(double *v) { return ReadRaw(f_, &ok_, v, 8); }

bool BinaryFile::bytes(std::string *out, int n) {
    out->clear();
    if (n < 0 || !ok_ || n > remaining()) {
        ok_ = false;
        return false;
    }
    out->resize(n);
    return n == 0 || ReadRaw(f_, &ok_, &(*out)[0], n);
}

long BinaryFile::remaining() {
    if (!f_) return 0;
    long here = ftell(f_);
    fseek(f_, 0, SEEK_END);
    long end = ftell(f_);
    fseek(f_, here, SEEK_SET);
    return end - here;
}

TextFile::TextFile(const std::string &path, const char *mode) {
    f_ = fopen(mode[0] == 'r' ? FindFile(path).c_str() : path.c_str(), mode);
}

TextFile::~TextFile() {
    if (f_) fclose(f_);
}

bool TextFile::line(std::string *out) {
    out->clear();
    if (!f_) return false;
    int c;
    bool any = false;
    while ((c = fgetc(f_)) != EOF) {
        any = true;
        if (c == '\n') break;
        out->push_back((char)c);
    }
    if (!out->empty() && out->back() == '\r') out->pop_back();
    return any;
}

}  // namespace brovana
