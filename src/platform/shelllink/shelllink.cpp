#include "shelllink.h"

#include "textconv.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace {

// Flags of the header.
const uint32_t kHasLinkInfo = 0x2, kHasName = 0x4, kHasWorkingDir = 0x10, kHasArguments = 0x20,
               kHasIconLocation = 0x40, kIsUnicode = 0x80;
const uint32_t kAttrDirectory = 0x10, kAttrNormal = 0x80;

// The shell link class identifier, in its on-disk byte order.
const unsigned char kLinkClsid[16] = {0x01, 0x14, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00,
                                      0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};

struct Out {
    std::vector<unsigned char> &b;
    void u16(uint32_t v) {
        b.push_back(v & 0xff);
        b.push_back((v >> 8) & 0xff);
    }
    void u32(uint32_t v) {
        for (int i = 0; i < 4; i++) b.push_back((v >> (8 * i)) & 0xff);
    }
    void bytes(const void *p, size_t n) {
        const unsigned char *c = static_cast<const unsigned char *>(p);
        b.insert(b.end(), c, c + n);
    }
    void put32(size_t at, uint32_t v) {
        for (int i = 0; i < 4; i++) b[at + i] = (v >> (8 * i)) & 0xff;
    }
};

// The 8-bit form of a path: ASCII as is, anything else as '?', as a code
// page without those characters would give; the UTF-16 copy holds the truth.
std::string ansi(const std::u16string &s) {
    std::string a;
    for (char16_t c : s) a.push_back(c < 0x80 ? static_cast<char>(c) : '?');
    return a;
}

}  // namespace

bool ShellLink_Build(const ShellLinkSpec &spec, std::vector<unsigned char> &buf, std::string &err) {
    if (spec.path.empty() || spec.path[0] != '/') {
        err = "the link target must be an absolute path";
        return false;
    }
    std::u16string path;
    if (!Text_Utf16(spec.path, path, true)) {
        err = "the link target is not valid UTF-8";
        return false;
    }
    struct Str {
        uint32_t flag;
        const char *text;
        const char *what;
    } strs[] = {{kHasName, spec.description, "description"},
                {kHasWorkingDir, spec.workdir, "working directory"},
                {kHasArguments, spec.arguments, "arguments"},
                {kHasIconLocation, spec.iconFile, "icon location"}};
    uint32_t flags = kHasLinkInfo | kIsUnicode;
    std::u16string wide[4];
    for (int k = 0; k < 4; k++) {
        if (!strs[k].text) continue;
        if (!Text_Utf16(strs[k].text, wide[k], true)) {
            err = std::string("the ") + strs[k].what + " is not valid UTF-8";
            return false;
        }
        if (wide[k].size() > 0xFFFF) {
            err = std::string("the ") + strs[k].what + " is longer than a link can hold";
            return false;
        }
        flags |= strs[k].flag;
    }

    buf.clear();
    Out o{buf};
    o.u32(0x4C);
    o.bytes(kLinkClsid, 16);
    o.u32(flags);
    o.u32(spec.isDirectory ? kAttrDirectory : kAttrNormal);
    for (int i = 0; i < 6; i++) o.u32(0);  // creation, access and write times
    o.u32(0);                              // file size
    o.u32(static_cast<uint32_t>(spec.iconIndex));
    o.u32(1);  // show normally
    o.u16(0);  // hot key
    o.u16(0);
    o.u32(0);
    o.u32(0);

    // Link information: a fixed-disk volume without label and the local
    // base path, with a UTF-16 copy of it (header of 0x24 bytes).
    size_t start = buf.size();
    o.u32(0);  // size, filled below
    o.u32(0x24);
    o.u32(0x1);  // volume and local base path
    size_t offsets = buf.size();
    for (int i = 0; i < 6; i++) o.u32(0);
    uint32_t volumeAt = static_cast<uint32_t>(buf.size() - start);
    o.u32(0x11);
    o.u32(3);  // fixed drive
    o.u32(0);  // serial number
    o.u32(0x10);
    buf.push_back(0);  // empty label
    uint32_t baseAt = static_cast<uint32_t>(buf.size() - start);
    std::string a = ansi(path);
    o.bytes(a.data(), a.size());
    buf.push_back(0);
    uint32_t suffixAt = static_cast<uint32_t>(buf.size() - start);
    buf.push_back(0);
    uint32_t baseUniAt = static_cast<uint32_t>(buf.size() - start);
    for (char16_t c : path) o.u16(c);
    o.u16(0);
    uint32_t suffixUniAt = static_cast<uint32_t>(buf.size() - start);
    o.u16(0);
    o.put32(offsets, volumeAt);
    o.put32(offsets + 4, baseAt);
    o.put32(offsets + 8, 0);  // no network location
    o.put32(offsets + 12, suffixAt);
    o.put32(offsets + 16, baseUniAt);
    o.put32(offsets + 20, suffixUniAt);
    o.put32(start, static_cast<uint32_t>(buf.size() - start));

    for (int k = 0; k < 4; k++) {
        if (!strs[k].text) continue;
        o.u16(static_cast<uint32_t>(wide[k].size()));
        for (char16_t c : wide[k]) o.u16(c);
    }
    o.u32(0);  // terminal block
    return true;
}

bool ShellLink_WriteFileAtomic(const std::string &file, const std::string &bytes, std::string &err) {
    std::string tmp = file + ".tmp" + std::to_string(getpid());
    FILE *f = fopen(tmp.c_str(), "wb");
    if (!f) {
        err = strerror(errno);
        return false;
    }
    bool ok = fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    int saved = errno;
    if (fclose(f) != 0 && ok) {
        ok = false;
        saved = errno;
    }
    if (ok && rename(tmp.c_str(), file.c_str()) != 0) {
        ok = false;
        saved = errno;
    }
    if (!ok) {
        unlink(tmp.c_str());
        err = strerror(saved);
    }
    return ok;
}

bool ShellLink_Write(const ShellLinkSpec &spec, const std::string &file, std::string &err) {
    std::vector<unsigned char> buf;
    if (!ShellLink_Build(spec, buf, err)) return false;
    return ShellLink_WriteFileAtomic(file, std::string(buf.begin(), buf.end()), err);
}
