// The macro libraries under the load directory's "Lib": named expressions
// ("Para.lib", 44 integers), tongue shapes ("TonguePara.lib", 24) and head
// poses ("Head.lib", 3 angles stored + 90).  Text of a name token and its
// integers; line breaks carry no meaning.  The writers rewrite a file and
// read it back, so the library always matches its file; a rewrite goes
// through a temporary file so that a failed write loses no entry.  The
// setters put an edited record on the face at once.
#include <cctype>
#include <cstdio>
#include <cstring>

#include "engine.h"
#include "files.h"

namespace brovana {

namespace {

const size_t kNameLimit = 19;

// File position j of an expression entry holds record value kRecordOf[j].
const int kRecordOf[44] = {0,  1,  3,  2,  5,  6,  7,  4,  18, 19, 16, 17, 24, 25, 26, 27, 28, 29, 30, 31, 20, 21,
                           22, 23, 11, 8,  9,  10, 13, 14, 15, 12, 32, 33, 34, 35, 36, 37, 39, 38, 43, 41, 42, 40};

void ReadLibrary(const std::string &path, int n, std::vector<LibraryEntry> *out) {
    out->clear();
    TextFile f(FindFile(path));
    if (!f.isOpen()) return;
    char name[64];
    for (;;) {
        if (fscanf(f.stream(), "%63s", name) != 1) break;
        LibraryEntry e;
        e.name = name;
        e.values.resize(n);
        bool ok = true;
        for (int &v : e.values)
            if (fscanf(f.stream(), "%d", &v) != 1) ok = false;
        if (!ok) break;  // an entry cut short ends the library
        out->push_back(e);
    }
}

bool NameFits(const std::string &name) {
    if (name.empty() || name.size() > kNameLimit) return false;
    for (char c : name)
        if (isspace((unsigned char)c) || !isprint((unsigned char)c)) return false;
    return true;
}

void WriteEntry(FILE *f, const std::string &name, const std::vector<int> &values) {
    fprintf(f, "%s ", name.c_str());
    for (int v : values) fprintf(f, "%d ", v);
    fputc('\n', f);
}

std::vector<int> FileOrder(const ParaEditRecord &r) {
    std::vector<int> L(44);
    for (int j = 0; j < 44; j++) L[j] = r.r[kRecordOf[j]];
    return L;
}

}  // namespace

void BrovanaEngine::loadLibraries() {
    std::string lib = JoinPath(loadDir_, "Lib");
    readParaLib(JoinPath(lib, "Para.lib"));
    readTongueParaLib(JoinPath(lib, "TonguePara.lib"));
    readHeadLib(JoinPath(lib, "Head.lib"));
}

void BrovanaEngine::readParaLib(const std::string &path) { ReadLibrary(path, 44, &paraLib_); }
void BrovanaEngine::readTongueParaLib(const std::string &path) { ReadLibrary(path, 24, &tongueLib_); }
void BrovanaEngine::readHeadLib(const std::string &path) { ReadLibrary(path, 3, &headLib_); }

static std::string NameAt(const std::vector<LibraryEntry> &lib, int i) {
    return i >= 0 && i < (int)lib.size() ? lib[i].name : "";
}
std::string BrovanaEngine::paraLibName(int i) const { return NameAt(paraLib_, i); }
std::string BrovanaEngine::tongueParaLibName(int i) const { return NameAt(tongueLib_, i); }
std::string BrovanaEngine::headLibName(int i) const { return NameAt(headLib_, i); }

ParaEditRecord *BrovanaEngine::paraLibValues(int i, ParaEditRecord *out) const {
    if (i < 0 || i >= (int)paraLib_.size()) return nullptr;
    for (int j = 0; j < 44; j++) out->r[kRecordOf[j]] = paraLib_[i].values[j];
    return out;
}

const int *BrovanaEngine::tongueParaLibValues(int i) const {
    return i >= 0 && i < (int)tongueLib_.size() ? tongueLib_[i].values.data() : nullptr;
}

int *BrovanaEngine::headLibAngles(int i, int out[3]) const {
    if (i < 0 || i >= (int)headLib_.size()) return nullptr;
    for (int k = 0; k < 3; k++) out[k] = headLib_[i].values[k] - 90;
    return out;
}

void BrovanaEngine::writeParaEntry(FILE *f, const std::string &name, const ParaEditRecord &record) {
    WriteEntry(f, name, FileOrder(record));
}

// Rewrites the library's file with lib, then reads it back.
bool BrovanaEngine::writeLibrary(const char *file, const std::vector<LibraryEntry> &lib) {
    std::string path = FindFile(JoinPath(JoinPath(loadDir_, "Lib"), file));
    std::string tmp = path + ".new";
    FILE *f = fopen(tmp.c_str(), "wb");
    bool ok = f != nullptr;
    if (f) {
        for (const LibraryEntry &e : lib) WriteEntry(f, e.name, e.values);
        ok = !ferror(f);
        ok = fclose(f) == 0 && ok;
        ok = ok && rename(tmp.c_str(), path.c_str()) == 0;
        if (!ok) remove(tmp.c_str());
    }
    loadLibraries();
    return ok;
}

// Entry i of lib gets values, or goes when values is null; false (nothing
// written) when there is no entry i.
bool BrovanaEngine::rewriteEntry(const char *file, const std::vector<LibraryEntry> &lib, int i,
                                 const std::vector<int> *values) {
    if (i < 0 || i >= (int)lib.size()) return false;
    std::vector<LibraryEntry> out = lib;
    if (values)
        out[i].values = *values;
    else
        out.erase(out.begin() + i);
    return writeLibrary(file, out);
}

bool BrovanaEngine::appendLibrary(const char *file, const std::string &name, const std::vector<int> &values) {
    bool ok = NameFits(name);
    if (ok) {
        std::string path = FindFile(JoinPath(JoinPath(loadDir_, "Lib"), file));
        // a file whose last entry has no line end would run the new name
        // into its last number
        bool needBreak = false;
        if (FILE *r = fopen(path.c_str(), "rb")) {
            if (fseek(r, -1, SEEK_END) == 0) needBreak = !isspace(fgetc(r));
            fclose(r);
        }
        FILE *f = fopen(path.c_str(), "ab");
        ok = f != nullptr;
        if (f) {
            if (needBreak) fputc('\n', f);
            WriteEntry(f, name, values);
            ok = fclose(f) == 0;
        }
    }
    loadLibraries();  // read again all the same
    return ok;
}

bool BrovanaEngine::appendParaLibEntry(const std::string &name, const ParaEditRecord &record) {
    return appendLibrary("Para.lib", name, FileOrder(record));
}
bool BrovanaEngine::replaceParaLibEntry(int i, const ParaEditRecord &record) {
    std::vector<int> L = FileOrder(record);
    return rewriteEntry("Para.lib", paraLib_, i, &L);
}
bool BrovanaEngine::deleteParaLibEntry(int i) { return rewriteEntry("Para.lib", paraLib_, i, nullptr); }

bool BrovanaEngine::appendTongueParaLibEntry(const std::string &name, const int values[24]) {
    return appendLibrary("TonguePara.lib", name, std::vector<int>(values, values + 24));
}
bool BrovanaEngine::replaceTongueParaLibEntry(int i, const int values[24]) {
    std::vector<int> v(values, values + 24);
    return rewriteEntry("TonguePara.lib", tongueLib_, i, &v);
}
bool BrovanaEngine::deleteTongueParaLibEntry(int i) { return rewriteEntry("TonguePara.lib", tongueLib_, i, nullptr); }

static std::vector<int> Stored(const int angles[3]) { return {angles[0] + 90, angles[1] + 90, angles[2] + 90}; }

bool BrovanaEngine::appendHeadLibEntry(const std::string &name, const int angles[3]) {
    return appendLibrary("Head.lib", name, Stored(angles));
}
bool BrovanaEngine::replaceHeadLibEntry(int i, const int angles[3]) {
    std::vector<int> v = Stored(angles);
    return rewriteEntry("Head.lib", headLib_, i, &v);
}
bool BrovanaEngine::deleteHeadLibEntry(int i) { return rewriteEntry("Head.lib", headLib_, i, nullptr); }

// ------------------------------------------------------------ setters

// An edited record shows on the face exactly as the same record does once
// saved to the library and applied from there, so that what an editor
// previews is what the markup later plays.
void BrovanaEngine::setFaceParameters(const ParaEditRecord &record) {
    std::vector<int> L = FileOrder(record);
    applyParaValues(L.data());
    refreshExpression();
    useComposedExpression();
    headTrack_ = true;
}

void BrovanaEngine::setEmotions(const int v[6]) {
    // given as sad, angry, smile, fear, disgust, surprise
    emo_[0] = v[0] * 0.02f, emo_[5] = v[1] * 0.02f, emo_[2] = v[2] * 0.02f;
    emo_[3] = v[3] * 0.02f, emo_[4] = v[4] * 0.011764706f, emo_[1] = v[5] * 0.02f;
    for (int &g : gates_) g = 1;
    refreshExpression();
    useComposedExpression();
}

void BrovanaEngine::setEyelids(int v) {
    E_[2] = E_[24] = v * 0.02f - 1;
    refreshExpression();
    useComposedExpression();
}

void BrovanaEngine::setEyeDirections(const int v[4]) {
    E_[7] = E_[31] = v[0] * 0.01f;  // down
    E_[4] = E_[28] = v[1] * 0.01f;  // up
    E_[5] = E_[29] = v[2] * 0.01f;  // right
    E_[6] = E_[30] = v[3] * 0.01f;  // left
    refreshExpression();
    useComposedExpression();
}

void BrovanaEngine::setHeadAngles(const int *angles) {
    for (int k = 0; k < 3; k++) headAngles_[k] = angles ? (float)angles[k] : 0.0f;
    headTrack_ = true;
}

void BrovanaEngine::applyHeadEntry(int row) {
    if (row < 0 || row >= (int)headLib_.size()) return;
    for (int k = 0; k < 3; k++) headAngles_[k] = (float)(headLib_[row].values[k] - 90);
}

// The tongue takes the entry's shape as the markup draws the same entry
// from the library (scale triples in the library's order), so a preview
// matches what is played.
bool BrovanaEngine::applyTongueParaEntry(const int v[24]) {
    for (int i = 0; i < 9; i++) restLA_[i] = (v[i] - 100) * 0.01f, restLB_[i] = (v[9 + i] - 100) * 0.01f;
    for (int k = 0; k < 3; k++) restLC_[k] = (v[18 + k] - 100) * 0.01f + 1, restLD_[k] = (v[21 + k] - 100) * 0.02f + 1;
    tongueRestFlag_ = true;
    tongueTrack_ = false;
    headTrack_ = true;
    return true;
}

}  // namespace brovana
