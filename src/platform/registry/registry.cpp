#include "registry.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

// Value files carry this prefix, key directories never do.
const char *kValuePrefix = "v=";

// A key or value name as one file name: bytes other than letters, digits
// and "-_." become %XX.
std::string escape(const std::string &s) {
    static const char *hex = "0123456789ABCDEF";
    std::string e;
    for (unsigned char c : s) {
        if (isalnum(c) || c == '-' || c == '_' || c == '.') e += static_cast<char>(c);
        else {
            e += '%';
            e += hex[c >> 4];
            e += hex[c & 15];
        }
    }
    return e;
}

std::string unescape(const std::string &s) {
    std::string u;
    for (size_t i = 0; i < s.size(); i++) {
        if (s[i] == '%' && i + 2 < s.size()) {
            u += static_cast<char>(strtol(s.substr(i + 1, 2).c_str(), nullptr, 16));
            i += 2;
        } else {
            u += s[i];
        }
    }
    return u;
}

int mkdirs(const std::string &dir) {
    std::string part;
    size_t at = 0;
    while (at != std::string::npos) {
        at = dir.find('/', at + 1);
        part = dir.substr(0, at);
        if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return errno;
    }
    return 0;
}

std::string keyDir(const std::string &key) {
    std::string d = Reg_Root();
    size_t start = 0;
    while (start <= key.size()) {
        size_t end = key.find('\\', start);
        if (end == std::string::npos) end = key.size();
        if (end > start) d += "/k=" + escape(key.substr(start, end - start));
        start = end + 1;
    }
    return d;
}

bool isDir(const std::string &p) {
    struct stat st;
    return stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

std::string Reg_Root() {
    const char *run = getenv("XDG_RUNTIME_DIR");
    std::string base = run && *run ? std::string(run) : "/tmp/tovik-" + std::to_string(getuid());
    return base + "/tovik/registry";
}

int Reg_CreateKey(const std::string &key, bool *existed) {
    std::string d = keyDir(key);
    if (existed) *existed = isDir(d);
    return mkdirs(d);
}

int Reg_OpenKey(const std::string &key) { return isDir(keyDir(key)) ? 0 : REG_NOT_FOUND; }

int Reg_SetValue(const std::string &key, const std::string &name, const std::string &data) {
    std::string d = keyDir(key);
    if (!isDir(d)) return REG_NOT_FOUND;
    std::string file = d + "/" + kValuePrefix + escape(name), tmp = file + ".new";
    FILE *f = fopen(tmp.c_str(), "wb");
    if (!f) return errno;
    bool ok = fwrite(data.data(), 1, data.size(), f) == data.size();
    ok = fclose(f) == 0 && ok;
    if (!ok || rename(tmp.c_str(), file.c_str()) != 0) {
        int e = errno ? errno : EIO;
        unlink(tmp.c_str());
        return e;
    }
    return 0;
}

int Reg_EnumValue(const std::string &key, int index, std::string &name, std::string &data) {
    std::string d = keyDir(key);
    DIR *dir = opendir(d.c_str());
    if (!dir) return REG_NOT_FOUND;
    std::vector<std::string> names;
    size_t plen = strlen(kValuePrefix);
    while (struct dirent *e = readdir(dir)) {
        std::string n = e->d_name;
        if (n.compare(0, plen, kValuePrefix) == 0 && n.find(".new") == std::string::npos)
            names.push_back(unescape(n.substr(plen)));
    }
    closedir(dir);
    std::sort(names.begin(), names.end());
    if (index < 0 || index >= static_cast<int>(names.size())) return REG_NO_MORE;
    name = names[index];
    FILE *f = fopen((d + "/" + kValuePrefix + escape(name)).c_str(), "rb");
    if (!f) return errno;
    data.clear();
    char buf[256];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0) data.append(buf, n);
    fclose(f);
    return 0;
}

int Reg_DeleteValue(const std::string &key, const std::string &name) {
    std::string file = keyDir(key) + "/" + kValuePrefix + escape(name);
    if (unlink(file.c_str()) != 0) return errno == ENOENT ? REG_NOT_FOUND : errno;
    return 0;
}

int Reg_DeleteKey(const std::string &key) {
    std::string d = keyDir(key);
    DIR *dir = opendir(d.c_str());
    if (!dir) return REG_NOT_FOUND;
    std::vector<std::string> values;
    bool subkeys = false;
    while (struct dirent *e = readdir(dir)) {
        std::string n = e->d_name;
        if (n.compare(0, 2, "k=") == 0) subkeys = true;
        else if (n != "." && n != "..") values.push_back(n);
    }
    closedir(dir);
    if (subkeys) return EACCES;
    for (const std::string &v : values) unlink((d + "/" + v).c_str());
    return rmdir(d.c_str()) == 0 ? 0 : errno;
}

std::string Reg_ErrorText(int code) {
    if (code == REG_NOT_FOUND) return "The system cannot find the file specified.";
    if (code == REG_NO_MORE) return "No more data is available.";
    return strerror(code);
}
