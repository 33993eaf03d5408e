// The shortcut class: `s link SOURCE TARGET ?options?` writes a shortcut
// file. A TARGET ending in ".desktop" becomes a desktop entry (what Linux
// desktops show); any other becomes a shell link file.
#include <tcl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "cmds.h"
#include "desktop.h"
#include "oo.h"
#include "shelllink.h"

namespace {

void setError(Tcl_Interp *interp, const std::string &msg) {
    Tcl_SetObjResult(interp, Tcl_NewStringObj(msg.c_str(), -1));
}

// The native form of a file name (~ expanded); false with Tcl's message.
bool nativeName(Tcl_Interp *interp, const char *name, std::string &out) {
    Tcl_DString ds;
    const char *n = Tcl_TranslateFileName(interp, name, &ds);
    if (!n) return false;
    out = n;
    Tcl_DStringFree(&ds);
    return true;
}

// The absolute form of a native name, made against the working directory.
std::string absolute(const std::string &name) {
    if (!name.empty() && name[0] == '/') return name;
    Tcl_Obj *o = Tcl_NewStringObj(name.c_str(), -1);
    Tcl_IncrRefCount(o);
    Tcl_Obj *abs = Tcl_FSGetNormalizedPath(nullptr, o);
    std::string r = abs ? Tcl_GetString(abs) : name;
    Tcl_DecrRefCount(o);
    return r;
}

bool endsWith(const std::string &s, const char *tail) {
    size_t n = strlen(tail);
    return s.size() >= n && s.compare(s.size() - n, n, tail) == 0;
}

// s link SOURCE TARGET ?-description TEXT? ?-workdir DIR? ?-args TEXT?
//        ?-icon FILE INDEX?
// Writes TARGET pointing to SOURCE; answers nothing. A failed write leaves
// no file behind.
int ShortcutLinkMethod(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *source, *target, *description = nullptr, *workdir = nullptr, *args = nullptr, *icon = nullptr;
    int iconIndex = 0;
    if (Cmds_ParseArgs(interp, 2, argc - 2, argv + 2,
                       "source %s target %s -description %s -workdir %s -args %s -icon %s %i", &source, &target,
                       &description, &workdir, &args, &icon, &iconIndex))
        return TCL_ERROR;
    // Links are files anywhere the script names: not for untrusted code.
    if (Tcl_IsSafe(interp)) {
        setError(interp, "links cannot be written from a safe interpreter");
        return TCL_ERROR;
    }
    std::string src, tgt, dir;
    if (!nativeName(interp, source, src) || !nativeName(interp, target, tgt)) return TCL_ERROR;
    if (workdir && !nativeName(interp, workdir, dir)) return TCL_ERROR;
    src = absolute(src);
    struct stat st;
    bool exists = stat(src.c_str(), &st) == 0;
    std::string err;
    bool ok;
    if (endsWith(tgt, ".desktop")) {
        DesktopEntrySpec d;
        d.source = src;
        d.executable = exists && S_ISREG(st.st_mode) && (st.st_mode & 0111) && access(src.c_str(), X_OK) == 0;
        d.description = description;
        d.workdir = workdir ? dir.c_str() : nullptr;
        d.arguments = args;
        d.icon = icon;
        ok = Desktop_Write(d, tgt, err);
    } else {
        ShellLinkSpec l;
        l.path = src;
        l.isDirectory = exists && S_ISDIR(st.st_mode);
        l.description = description;
        l.workdir = workdir ? dir.c_str() : nullptr;
        l.arguments = args;
        l.iconFile = icon;
        l.iconIndex = iconIndex;
        std::vector<unsigned char> bytes;
        ok = ShellLink_Build(l, bytes, err);
        if (!ok) {
            setError(interp, "IShellLink::SetPath failed: " + err);
            return TCL_ERROR;
        }
        ok = ShellLink_WriteFileAtomic(tgt, std::string(bytes.begin(), bytes.end()), err);
    }
    if (!ok) {
        setError(interp, "IPersistFile::Save to \"" + std::string(target) + "\" failed");
        return TCL_ERROR;
    }
    Tcl_ResetResult(interp);
    return TCL_OK;
}

}  // namespace

extern "C" {

int Shortcut_Init(Tcl_Interp *interp) {
    int code = Tcl_PkgProvide(interp, "Shortcut", "1.0");
    if (code != TCL_OK) return code;
    Oo_Create(interp, "shortcut", nullptr, nullptr);
    if (Tcl_VarEval(interp, "package unknown", (char *)nullptr) != TCL_OK) return TCL_ERROR;
    // While package indexes are being built, only the class is wanted.
    if (strcmp(Tcl_GetStringResult(interp), "dummy") == 0) return TCL_OK;
    if (!Tcl_PkgRequire(interp, "Thing", "1.0", 0)) return TCL_ERROR;
    if (Oo_SetIsa(interp, "shortcut", "Thing") != TCL_OK) return TCL_ERROR;
    Oo_CreateMethod(interp, "shortcut", "link", ShortcutLinkMethod, nullptr, nullptr);
    Tcl_ResetResult(interp);
    return TCL_OK;
}

int Shortcut_SafeInit(Tcl_Interp *interp) { return Shortcut_Init(interp); }

}  // extern "C"
