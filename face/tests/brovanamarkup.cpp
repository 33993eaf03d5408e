// Test helper package "BrovanaMarkup" 1.0: gives the Brovana class two
// methods that reach the engine's markup, which the face's own methods do
// not offer.  Built with the tests, never installed.
//
//   obj markup text ?-expressiononly?   prepares the added phonemes with the
//       tags of text; on an error the result is {message start end}, the
//       character offsets of the failing tag's "<" and ">" (-1 -1 when no
//       tag applies).
//   obj plaintext text                  the text without its tags.
#include <tcl.h>

#include <cstring>

#include "engine.h"
#include "oo.h"

using brovana::BrovanaEngine;
using brovana::MarkupError;

namespace {

int ErrorList(Tcl_Interp *interp, const char *text, const MarkupError &err) {
    int len = (int)strlen(text);
    auto chars = [&](int byte) { return byte < 0 ? -1 : Tcl_NumUtfChars(text, byte > len ? len : byte); };
    Tcl_Obj *items[3] = {Tcl_NewStringObj(err.message.c_str(), -1), Tcl_NewIntObj(chars(err.start)),
                         Tcl_NewIntObj(chars(err.end))};
    Tcl_SetObjResult(interp, Tcl_NewListObj(3, items));
    return TCL_ERROR;
}

int MarkupCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    bool exprOnly = argc == 6 && strcmp(argv[5], "-expressiononly") == 0;
    if (argc != 5 && !exprOnly) {
        Tcl_SetObjResult(interp, Tcl_ObjPrintf("wrong # args: should be \"%s markup text ?-expressiononly?\"", argv[2]));
        return TCL_ERROR;
    }
    OoInfo info;
    BrovanaEngine *e = Oo_GetInfo(interp, argv[2], &info) ? static_cast<BrovanaEngine *>(info.clientData) : nullptr;
    if (!e || !e->loaded()) {
        Tcl_SetObjResult(interp, Tcl_ObjPrintf("no character loaded in \"%s\"", argv[2]));
        return TCL_ERROR;
    }
    MarkupError err;
    if (e->prepMarkedText(argv[4], exprOnly, &err)) return ErrorList(interp, argv[4], err);
    Tcl_ResetResult(interp);
    return TCL_OK;
}

int PlaintextCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    if (argc != 5) {
        Tcl_SetObjResult(interp, Tcl_ObjPrintf("wrong # args: should be \"%s plaintext text\"", argv[2]));
        return TCL_ERROR;
    }
    std::string plain;
    MarkupError err;
    if (BrovanaEngine::parseMarkedText(argv[4], &plain, &err)) return ErrorList(interp, argv[4], err);
    Tcl_SetObjResult(interp, Tcl_NewStringObj(plain.c_str(), -1));
    return TCL_OK;
}

}  // namespace

// No safe entry: the markup reads library files.
extern "C" int Brovanamarkup_Init(Tcl_Interp *interp) {
    if (!Tcl_PkgRequire(interp, "Brovana", "1.2.0", 0)) return TCL_ERROR;
    Oo_CreateMethod(interp, "Brovana", "markup", MarkupCmd, nullptr, nullptr);
    Oo_CreateMethod(interp, "Brovana", "plaintext", PlaintextCmd, nullptr, nullptr);
    return Tcl_PkgProvide(interp, "BrovanaMarkup", "1.0");
}
