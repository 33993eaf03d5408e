#include "desktop.h"

#include <cctype>

#include "shelllink.h"

namespace {

// A string value: backslash and control characters escaped, and a leading
// blank kept visible.
std::string value(const std::string &s) {
    std::string v;
    for (size_t i = 0; i < s.size(); i++) {
        char c = s[i];
        if (c == '\\') v += "\\\\";
        else if (c == '\n') v += "\\n";
        else if (c == '\t') v += "\\t";
        else if (c == '\r') v += "\\r";
        else if (c == ' ' && i == 0) v += "\\s";
        else v += c;
    }
    return v;
}

// One word of Exec, quoted when it holds a reserved character; % doubled so
// that no field code is read into it.
std::string execWord(const std::string &w) {
    bool quote = w.empty() || w.find_first_of(" \t\n\"'\\><~|&;$*?#()`") != std::string::npos;
    std::string q;
    for (char c : w) {
        if (c == '%') q += "%%";
        else if (quote && (c == '"' || c == '`' || c == '$' || c == '\\')) q += std::string("\\") + c;
        else q += c;
    }
    return quote ? "\"" + q + "\"" : q;
}

// The source as a file: URL, with everything outside the unreserved set
// percent-encoded.
std::string fileUrl(const std::string &path) {
    static const char *hex = "0123456789ABCDEF";
    std::string u = "file://";
    for (unsigned char c : path) {
        if (isalnum(c) || c == '/' || c == '-' || c == '_' || c == '.' || c == '~') u += static_cast<char>(c);
        else {
            u += '%';
            u += hex[c >> 4];
            u += hex[c & 15];
        }
    }
    return u;
}

}  // namespace

std::string Desktop_EntryText(const DesktopEntrySpec &spec, const std::string &name) {
    std::string t = "[Desktop Entry]\n";
    t += spec.executable ? "Type=Application\n" : "Type=Link\n";
    t += "Name=" + value(name) + "\n";
    if (spec.executable) {
        std::string exec = execWord(spec.source);
        if (spec.arguments && *spec.arguments) {
            std::string args;
            for (const char *p = spec.arguments; *p; p++) args += *p == '%' ? std::string("%%") : std::string(1, *p);
            exec += " " + args;
        }
        t += "Exec=" + value(exec) + "\n";
        if (spec.workdir) t += "Path=" + value(spec.workdir) + "\n";
    } else {
        t += "URL=" + fileUrl(spec.source) + "\n";
    }
    if (spec.description) t += "Comment=" + value(spec.description) + "\n";
    if (spec.icon) t += "Icon=" + value(spec.icon) + "\n";
    return t;
}

bool Desktop_Write(const DesktopEntrySpec &spec, const std::string &file, std::string &err) {
    std::string base = file.substr(file.find_last_of('/') + 1);
    std::string name = base.substr(0, base.size() - 8);  // without ".desktop"
    if (name.empty()) name = base;
    return ShellLink_WriteFileAtomic(file, Desktop_EntryText(spec, name), err);
}
