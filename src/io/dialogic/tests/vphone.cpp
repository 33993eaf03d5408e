// Vphone: the far end of the virtual telephone lines and voice-board channels, for
// tests. Never installed, and refused in safe interpreters.
//
// vphone ring T ?-count n? ?-callerid number|blocked|outofarea|notsent? ?-name text?
// vphone send T file      the far end sends an 8 kHz WAV file's sound, then silence
// vphone answer T file    the far end of the next call answers with that sound
// vphone heard T file     what the far end heard, as a 16-bit 8 kHz WAV file
// vphone hangup T
// T is line0, line1 or a channel name (dxxxB1C1 ...).
#include <tcl.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "cmds.h"
#include "tapi.h"
#include "voiceboard.h"
#include "wavefile.h"
#include "yastro.h"

namespace {

// The line number of a target, or -1 for a channel name.
int LineNumber(const char *target) {
    if (strcmp(target, "line0") == 0) return 0;
    if (strcmp(target, "line1") == 0) return 1;
    return -1;
}

int Fail(Tcl_Interp *interp, const std::string &msg) {
    Tcl_SetObjResult(interp, Tcl_NewStringObj(msg.c_str(), -1));
    return TCL_ERROR;
}

// Reads a file of 8 kHz sound; answers the sample count or -1 with the message set.
long ReadSound(Tcl_Interp *interp, const char *path, int16_t **samples) {
    GS_Result *r = GS_CreateResult();
    float rate = 0;
    long n = SpeechRead(r, path, 0, -1, samples, &rate, nullptr);
    if (n < 0) {
        Fail(interp, r->text);
        GS_DeleteResult(r);
        return -1;
    }
    GS_DeleteResult(r);
    if (rate != 8000) {
        DB_Free(*samples, "vphone", __LINE__);
        Fail(interp, std::string("\"") + path + "\" is not 8000 Hz sound");
        return -1;
    }
    return n;
}

int VphoneCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    if (argc < 3) return Fail(interp, "wrong # args: should be \"vphone ring|send|answer|heard|hangup target ...\"");
    const char *op = argv[1], *target = argv[2];
    int line = LineNumber(target);
    char err[256] = "";
    int rc = 0;
    if (strcmp(op, "ring") == 0) {
        int count = 1;
        const char *cid = nullptr, *name = nullptr;
        for (int i = 3; i < argc; i += 2) {
            if (i + 1 >= argc) return Fail(interp, std::string("option \"") + argv[i] + "\" wants a value");
            if (strcmp(argv[i], "-count") == 0) {
                if (Tcl_GetInt(interp, argv[i + 1], &count) != TCL_OK) return TCL_ERROR;
            } else if (strcmp(argv[i], "-callerid") == 0) cid = argv[i + 1];
            else if (strcmp(argv[i], "-name") == 0) name = argv[i + 1];
            else return Fail(interp, std::string("unknown option \"") + argv[i] + "\": should be -count, -callerid or -name");
        }
        rc = line >= 0 ? TapiFar_Ring(line, cid, name, err) : VBFar_Ring(target, count, cid, name, err);
    } else if (strcmp(op, "send") == 0 || strcmp(op, "answer") == 0) {
        if (argc != 4) return Fail(interp, std::string("wrong # args: should be \"vphone ") + op + " target file\"");
        if (line >= 0 && op[0] == 'a') return Fail(interp, std::string(target) + " makes no calls to answer");
        int16_t *s = nullptr;
        long n = ReadSound(interp, argv[3], &s);
        if (n < 0) return TCL_ERROR;
        if (line >= 0) rc = TapiFar_Send(line, s, n, err);
        else rc = op[0] == 's' ? VBFar_Send(target, s, n, err) : VBFar_Answer(target, s, n, err);
        DB_Free(s, "vphone", __LINE__);
    } else if (strcmp(op, "heard") == 0) {
        if (argc != 4) return Fail(interp, "wrong # args: should be \"vphone heard target file\"");
        int16_t *s = nullptr;
        long n = 0;
        rc = line >= 0 ? TapiFar_Heard(line, &s, &n, err) : VBFar_Heard(target, &s, &n, err);
        if (rc == 0) {
            GS_Result *r = GS_CreateResult();
            int w = SpeechWrite(r, argv[3], -1, -1, s, (int)n, 8000, WAVEFILE_RIFF, nullptr);
            std::string msg = r->text;
            GS_DeleteResult(r);
            free(s);
            if (w < 0) return Fail(interp, msg);
            Tcl_SetObjResult(interp, Tcl_NewLongObj(n));
        }
    } else if (strcmp(op, "hangup") == 0) {
        if (argc != 3) return Fail(interp, "wrong # args: should be \"vphone hangup target\"");
        rc = line >= 0 ? TapiFar_Hangup(line, err) : VBFar_Hangup(target, err);
    } else {
        return Fail(interp, std::string("unknown subcommand \"") + op + "\": should be ring, send, answer, heard or hangup");
    }
    return rc == 0 ? TCL_OK : Fail(interp, err);
}

}  // namespace

extern "C" int Vphone_Init(Tcl_Interp *interp) {
    int code = Tcl_PkgProvide(interp, "Vphone", "1.0");
    if (code != TCL_OK) return code;
    Tcl_CreateCommand(interp, "vphone", VphoneCmd, nullptr, nullptr);
    return TCL_OK;
}

extern "C" int Vphone_SafeInit(Tcl_Interp *interp) {
    Tcl_SetObjResult(interp, Tcl_NewStringObj("Vphone is not available in safe interpreters", -1));
    return TCL_ERROR;
}
