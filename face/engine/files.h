// File access for character data: paths whose parts may be separated by "\"
// or "/" and whose names may differ in letter case from the files on disk,
// little-endian binary reads that never run past the end of a file, and a
// line reader that strips CR and keeps a last line without a line feed.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace brovana {

// Joins path parts with "/" (either separator accepted inside parts).
std::string JoinPath(const std::string &a, const std::string &b);
// The path of an existing file that matches path part by part without regard
// to letter case; the path itself (normalised) when nothing matches.
std::string FindFile(const std::string &path);
// Whether FindFile finds an existing file.
bool FileExists(const std::string &path);

class BinaryFile {
public:
    explicit BinaryFile(const std::string &path);
    ~BinaryFile();
    BinaryFile(const BinaryFile &) = delete;
    BinaryFile &operator=(const BinaryFile &) = delete;
    bool isOpen() const { return f_ != nullptr; }
    // Every read answers false (and leaves the value 0) once the file ended;
    // ok() then stays false.
    bool i32(int32_t *v);
    bool f32(float *v);
    bool f64(double *v);
    bool bytes(std::string *out, int n);
    bool ok() const { return ok_; }
    long remaining();  // bytes left, for checking counts before allocating
    const std::string &path() const { return path_; }

private:
    std::string path_;
    FILE *f_ = nullptr;
    bool ok_ = true;
};

class TextFile {
public:
    explicit TextFile(const std::string &path, const char *mode = "rb");
    ~TextFile();
    TextFile(const TextFile &) = delete;
    TextFile &operator=(const TextFile &) = delete;
    bool isOpen() const { return f_ != nullptr; }
    // Next line without its line end; false at the end of the file.
    bool line(std::string *out);
    FILE *stream() { return f_; }

private:
    FILE *f_ = nullptr;
};

}  // namespace brovana
