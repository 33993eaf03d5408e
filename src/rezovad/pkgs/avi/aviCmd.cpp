// The avi class: a recorder per object that films a Tk window frame by
// frame at times the script gives, with the sound of wave objects, into an
// AVI file.
#include <tcl.h>
#include <tk.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "avifile.h"
#include "capture.h"
#include "cmds.h"
#include "obj.h"
#include "oo.h"
#include "records.h"

namespace {

struct AviRecorder {
    AviFile file;
    std::string window;  // path name, looked up at every grab: it may be gone
    int32_t width = 0, height = 0, bits = 24;
    int32_t keyEvery = 0, frameRate = 0;
    std::vector<uint8_t> dib;
};

// Safe interpreters get the class but write no file.
int safeFlag = 1;

void append(Tcl_Interp *interp, const std::string &s) { Tcl_AppendResult(interp, s.c_str(), (char *)nullptr); }

int errorText(Tcl_Interp *interp, uint32_t code) {
    const char *text = AviFile_ErrorText(code);
    if (!text) {
        std::fprintf(stderr, "err=%x %u\n", code, code);
        text = "Unknown AVI error";
    }
    append(interp, text);
    return 1;
}

void RecorderDestroyProc(ClientData data) { delete static_cast<AviRecorder *>(data); }

AviRecorder *getRecorder(Tcl_Interp *interp, const char *object) {
    OoInfo info;
    if (!Oo_GetInfo(interp, object, &info)) return nullptr;
    return static_cast<AviRecorder *>(info.objClientData);
}

void release(AviRecorder *r) {
    r->file.Close();
    r->dib.clear();
    r->dib.shrink_to_fit();
    r->keyEvery = 0;
}

// The window of a path, or null with a message (Tk not loaded, no window).
Tk_Window findWindow(Tcl_Interp *interp, const std::string &path) {
    if (!Tcl_PkgPresent(interp, "Tk", nullptr, 0)) {
        Tcl_ResetResult(interp);
        append(interp, "avi needs Tk: package require Tk first");
        return nullptr;
    }
    Tk_Window main = Tk_MainWindow(interp);
    return main ? Tk_NameToWindow(interp, path.c_str(), main) : nullptr;
}

bool refuseUnopened(Tcl_Interp *interp, const AviRecorder *r) {
    if (r->file.IsOpen() && r->keyEvery > 0) return false;
    Tcl_SetObjResult(interp, Tcl_NewStringObj("no recording open", -1));
    return true;
}

int createAudio(Tcl_Interp *interp, AviRecorder *r, int32_t rate, const char *name) {
    if (uint32_t err = r->file.CreateAudio(rate, name ? name : "")) {
        append(interp, "Could not create audio stream: ");
        return errorText(interp, err);
    }
    return 0;
}

// avi open ?-bits n? ?-encoder code? ?-framerate n? ?-keyframes n? ?-quality pct?
//          ?-scale n? ?-audiorate hz? ?-author s? ?-clip s? ?-copyright s? ?-rating s?
//          ?-info name? PATH OUTFILE
// Starts recording window PATH into OUTFILE (a recording still open is
// closed first). -encoder "DIB " writes plain frames; "MJPG" and the
// default "iv50" write JPEG frames. -audiorate makes the sound track now.
int OpenCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    int bits = 24, frameRate = 15, keyFrames = 3, quality = 100, scale = 1, audioRate = 0;
    const char *encoder = nullptr, *author = nullptr, *clip = nullptr, *copyright = nullptr, *rating = nullptr,
               *info = nullptr, *path = nullptr, *outfile = nullptr;
    if (Cmds_ParseArgs(interp, 4, argc, argv,
                       "-bits %i -encoder %s                    -framerate %i -keyframes %i                     "
                       "-quality %i -scale %i -audiorate %i -author %s -clip %s                     "
                       "-copyright %s -rating %s -info %s path %s outfile %s",
                       &bits, &encoder, &frameRate, &keyFrames, &quality, &scale, &audioRate, &author, &clip,
                       &copyright, &rating, &info, &path, &outfile))
        return TCL_ERROR;
    if (encoder && std::strlen(encoder) != 4) {
        Tcl_SetObjResult(interp, Tcl_NewStringObj("invalid encoder string, should be four characters", -1));
        return TCL_ERROR;
    }
    if (!encoder) encoder = "iv50";
    AviRecorder *r = getRecorder(interp, argv[2]);
    if (!r) return TCL_ERROR;
    const char *bad = frameRate <= 0 ? "-framerate must be above 0"
                      : keyFrames <= 0 ? "-keyframes must be above 0"
                      : scale <= 0 ? "-scale must be above 0"
                      : quality < 0 || quality > 100 ? "-quality must be between 0 and 100"
                                                     : nullptr;
    if (bad) {
        Tcl_SetObjResult(interp, Tcl_NewStringObj(bad, -1));
        return TCL_ERROR;
    }
    Tk_Window win = findWindow(interp, path);
    if (!win) return TCL_ERROR;
    release(r);
    r->window = path;
    r->width = Tk_Width(win);
    r->height = Tk_Height(win);
    r->bits = bits;
    Tcl_DString native;
    const char *name = Tcl_TranslateFileName(interp, outfile, &native);
    if (!name) return TCL_ERROR;
    std::string file = name;
    Tcl_DStringFree(&native);
    Tcl_ResetResult(interp);
    uint32_t code = r->file.Open(file);
    if (!code) code = r->file.CreateVideo(scale, frameRate, info ? info : "");
    uint32_t fourcc = uint32_t(uint8_t(encoder[0])) | uint32_t(uint8_t(encoder[1])) << 8 |
                      uint32_t(uint8_t(encoder[2])) << 16 | uint32_t(uint8_t(encoder[3])) << 24;
    if (!code) code = r->file.SetCompressor(fourcc, keyFrames, quality * 100);
    if (!code && (code = r->file.SetVideoFormat(r->width, r->height, bits)) != 0)
        append(interp, "Image probably too large for AVI specs");
    if (code) {
        int saved = r->file.SavedErrno();
        release(r);
        append(interp, "Could not open avifile: ");
        errorText(interp, code);
        if (code == AVIERR_FILEOPEN && saved) append(interp, std::string(" (") + std::strerror(saved) + ")");
        return TCL_ERROR;
    }
    r->keyEvery = keyFrames;
    r->frameRate = frameRate;
    r->dib.assign(size_t(r->file.ImageBytes()), 0);
    if (audioRate > 0 && createAudio(interp, r, audioRate, info)) return TCL_ERROR;
    Tcl_ResetResult(interp);
    return TCL_OK;
}

// avi init ?PATH OUTFILE?
// Makes the recorder; with a window path, opens the recording as open does.
int InitCmd(ClientData safe, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *path = nullptr, *filename = nullptr;
    if (Cmds_ParseArgs(interp, 4, argc, argv, "path ?s filename ?s", &path, &filename)) return TCL_ERROR;
    OoInfo info;
    if (!Oo_GetInfo(interp, argv[2], &info)) return TCL_ERROR;
    if (info.objClientData && info.deleteProc == RecorderDestroyProc) {
        info.deleteProc(info.deleteData);
    }
    AviRecorder *r = new AviRecorder;
    info.objClientData = r;
    info.deleteProc = RecorderDestroyProc;
    info.deleteData = r;
    if (!Oo_SetInfo(interp, argv[2], &info)) {
        delete r;
        return TCL_ERROR;
    }
    if (argc > 4) {
        if (safe) {
            Tcl_SetObjResult(interp, Tcl_NewStringObj("a safe interpreter writes no AVI file", -1));
            return TCL_ERROR;
        }
        return OpenCmd(nullptr, interp, argc, argv);
    }
    return TCL_OK;
}

// avi grab MS
// Writes what the window shows now as the frame of time MS; a time whose
// frame position is not after the last one is refused.
int GrabCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    int ms = 0;
    if (Cmds_ParseArgs(interp, 4, argc, argv, "ms %i", &ms)) return TCL_ERROR;
    AviRecorder *r = getRecorder(interp, argv[2]);
    if (!r) return TCL_ERROR;
    if (refuseUnopened(interp, r)) return TCL_ERROR;
    int64_t position = r->file.TimeToSample(0, ms);
    bool key = position % r->keyEvery == 0;
    Tk_Window win = findWindow(interp, r->window);
    if (!win) return TCL_ERROR;
    std::string why;
    if (Capture_Window(win, r->width, r->height, r->bits, r->dib.data(), &why)) {
        Tcl_SetObjResult(interp, Tcl_NewStringObj(("Could not grab frame: " + why).c_str(), -1));
        return TCL_ERROR;
    }
    if (uint32_t err = r->file.WriteVideo(position, r->dib.data(), r->dib.size(), key)) {
        append(interp, "Could not grab frame: ");
        return errorText(interp, err), TCL_ERROR;
    }
    return TCL_OK;
}

// avi wave ?-info NAME? WAVE MS
// Writes the samples of WAVE into the sound track from time MS on; the
// first wave makes the track at its rate.
int WaveCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *info = nullptr, *waveName = nullptr;
    int ms = 0;
    if (Cmds_ParseArgs(interp, 4, argc, argv, "-info %s wave %s ms %i", &info, &waveName, &ms)) return TCL_ERROR;
    AviRecorder *r = getRecorder(interp, argv[2]);
    if (!r) return TCL_ERROR;
    WaveRecord *w = static_cast<WaveRecord *>(Obj_GetData(interp, "wave", waveName));
    if (!w) return TCL_ERROR;
    if (refuseUnopened(interp, r)) return TCL_ERROR;
    int32_t rate = w->infoCount > 0 ? int32_t(w->info[0]) : 0;
    if (r->file.HasAudio() && r->file.AudioRate() != rate) {
        Tcl_SetObjResult(interp, Tcl_NewStringObj("sample rate incompatible with audio stream", -1));
        return TCL_ERROR;
    }
    if (!r->file.HasAudio() && createAudio(interp, r, rate, info)) return TCL_ERROR;
    if (uint32_t err = r->file.WriteAudio(r->file.TimeToSample(1, ms), w->samples, w->len)) {
        append(interp, "Could not grab frame: ");
        return errorText(interp, err), TCL_ERROR;
    }
    return TCL_OK;
}

// avi close
// Ends the recording: the file gets its headers and index.
int CloseCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    if (Cmds_ParseArgs(interp, 4, argc, argv, "")) return TCL_ERROR;
    AviRecorder *r = getRecorder(interp, argv[2]);
    if (!r) return TCL_ERROR;
    uint32_t err = r->file.Close();
    release(r);
    if (err) {
        append(interp, "Could not close avifile: ");
        return errorText(interp, err), TCL_ERROR;
    }
    return TCL_OK;
}

int init(Tcl_Interp *interp, bool safe) {
    int code = Tcl_PkgProvide(interp, "Avi", "1.0");
    if (code != TCL_OK) return code;
    Oo_Create(interp, "avi", nullptr, nullptr);
    if (Tcl_VarEval(interp, "package unknown", (char *)nullptr) != TCL_OK) return TCL_ERROR;
    // While package indexes are being built, only the class is wanted.
    if (std::strcmp(Tcl_GetStringResult(interp), "dummy") == 0) return TCL_OK;
    if (!Tcl_PkgRequire(interp, "Thing", "1.0", 0)) return TCL_ERROR;
    Oo_SetIsa(interp, "avi", "Thing");
    Oo_CreateMethod(interp, "avi", "init", InitCmd, safe ? &safeFlag : nullptr, nullptr);
    if (!safe) Oo_CreateMethod(interp, "avi", "open", OpenCmd, nullptr, nullptr);
    Oo_CreateMethod(interp, "avi", "close", CloseCmd, nullptr, nullptr);
    Oo_CreateMethod(interp, "avi", "grab", GrabCmd, nullptr, nullptr);
    Oo_CreateMethod(interp, "avi", "wave", WaveCmd, nullptr, nullptr);
    Tcl_ResetResult(interp);
    return Obj_Init(interp);
}

}  // namespace

extern "C" {
int Avi_Init(Tcl_Interp *interp) { return init(interp, false); }
int Avi_SafeInit(Tcl_Interp *interp) { return init(interp, true); }
}
