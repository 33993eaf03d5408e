// Embedding control (see tovikControl.h).
#include "tovikControl.h"

#include <dlfcn.h>
#include <unistd.h>
#include <tcl.h>

#include <climits>
#include <mutex>
#include <string>

#include "yastro.h"

struct TovikControl {
    Tcl_Interp *interp;
};

namespace {

// The "tcl" folder beside this library, where the packages live.
std::string packageFolder() {
    Dl_info info;
    if (!dladdr(reinterpret_cast<void *>(&tovikControl_Open), &info) || !info.dli_fname) return "";
    std::string path = info.dli_fname;
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) return "";
    return path.substr(0, slash) + "/tcl";
}

} // namespace

extern "C" {

TovikControl *tovikControl_Open(void) {
    // Encodings and the script library are found from the executable's
    // location; the interpreter needs them set up once per process.
    // The host's own path also answers `info nameofexecutable`, which
    // scripts use to find the programs installed beside it.
    static std::once_flag once;
    std::call_once(once, [] {
        char exe[PATH_MAX];
        ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
        if (n > 0) exe[n] = '\0';
        Tcl_FindExecutable(n > 0 ? exe : nullptr);
    });
    TovikControl *h = static_cast<TovikControl *>(DB_MALLOC(sizeof(TovikControl)));
    h->interp = Tcl_CreateInterp();
    Tcl_Init(h->interp);
    std::string folder = packageFolder();
    if (!folder.empty()) {
        Tcl_Obj *dir = Tcl_NewStringObj(folder.c_str(), -1);
        Tcl_IncrRefCount(dir);
        Tcl_SetVar2Ex(h->interp, "tovik_packages", nullptr, dir, TCL_GLOBAL_ONLY);
        Tcl_Eval(h->interp,
                 "if {[file isdirectory $::tovik_packages] && $::tovik_packages ni $::auto_path} {"
                 "lappend ::auto_path $::tovik_packages}; unset ::tovik_packages");
        Tcl_DecrRefCount(dir);
    }
    Tcl_ResetResult(h->interp);
    return h;
}

int tovikControl_Eval(TovikControl *handle, const char *script) {
    return Tcl_VarEval(handle->interp, script, (char *)nullptr);
}

const char *tovikControl_Result(TovikControl *handle) { return Tcl_GetStringResult(handle->interp); }

void tovikControl_Close(TovikControl *handle) {
    if (!handle) return;
    Tcl_Preserve(handle->interp);
    Tcl_DeleteInterp(handle->interp);
    Tcl_Release(handle->interp);
    DB_FREE(handle);
}

} // extern "C"
