// tovik: runs a toolkit script in an embedded interpreter.
//
//   tovik FILE ?ARG ...?      sources FILE with argv0, argv and argc set as
//                             tclsh sets them
//   tovik -c SCRIPT ?ARG ...? evaluates SCRIPT (argv0 is "tovik")
//
// A non-empty result is printed on standard output; an error prints its
// message on standard error and exits with 1. The build or install tree's
// lib/tcl folder (found from this program's own path) is on auto_path
// after the folders of TCLLIBPATH, so `package require` finds the
// toolkit's packages.
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <string>

#include "tovikControl.h"

namespace {

// One word of a script (and one list element) that reads back as s.
std::string quote(const std::string &s) {
    if (s.empty()) return "{}";
    std::string out;
    for (char c : s) {
        switch (c) {
        case '\n': out += "\\n"; break;
        case '\t': out += "\\t"; break;
        case '\r': out += "\\r"; break;
        case ' ': case '"': case '$': case '[': case ']': case '{': case '}': case '\\': case ';':
            out += '\\';
            out += c;
            break;
        default: out += c;
        }
    }
    return out;
}

// The folder above the bin folder that holds this program.
std::string topFolder() {
    char buf[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return "";
    std::string exe(buf, n);
    size_t slash = exe.rfind('/');
    if (slash == std::string::npos) return "";
    std::string bin = exe.substr(0, slash);
    slash = bin.rfind('/');
    return slash == std::string::npos ? std::string(".") : bin.substr(0, slash);
}

bool isFolder(const std::string &path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The packages beside the bin folder: lib/tcl in the build tree, lib/tcltk
// where they are installed.
std::string packageFolder() {
    std::string top = topFolder();
    if (top.empty()) return "";
    for (const char *sub : {"/lib/tcl", "/lib/tcltk"})
        if (isFolder(top + sub)) return top + sub;
    return "";
}

int usage() {
    fprintf(stderr, "usage: tovik FILE ?ARG ...?\n       tovik -c SCRIPT ?ARG ...?\n");
    return 2;
}

} // namespace

int main(int argc, char **argv) {
    if (argc < 2 || (strcmp(argv[1], "-c") == 0 && argc < 3)) return usage();
    bool inline_ = strcmp(argv[1], "-c") == 0;
    int first = inline_ ? 3 : 2;
    std::string setup = "set argv0 " + quote(inline_ ? "tovik" : argv[1]) + "; set argv [list";
    for (int i = first; i < argc; i++) setup += " " + quote(argv[i]);
    setup += "]; set argc " + std::to_string(argc - first) + "; set tcl_interactive 0";
    std::string folder = packageFolder();
    if (!folder.empty())
        setup += "; set tovik_dir " + quote(folder) +
                 "; if {[file isdirectory $tovik_dir] && $tovik_dir ni $auto_path} {lappend auto_path $tovik_dir}"
                 "; unset tovik_dir";

    // Packages find their data (the display's label classes) under TOVIK_PREFIX.
    std::string data = topFolder() + "/share/tovik";
    if (!getenv("TOVIK_PREFIX") && isFolder(data)) setenv("TOVIK_PREFIX", data.c_str(), 0);

    TovikControl *h = tovikControl_Open();
    int code = tovikControl_Eval(h, setup.c_str());
    if (code == 0) code = tovikControl_Eval(h, inline_ ? argv[2] : ("source " + quote(argv[1])).c_str());
    const char *result = tovikControl_Result(h);
    int status = 0;
    if (code == 0) {
        if (*result) printf("%s\n", result);
    } else {
        fprintf(stderr, "%s\n", result);
        status = 1;
    }
    fflush(stdout);
    tovikControl_Close(h);
    return status;
}
