// The `zandor` command: back-off n-gram models ("zandor/zandor" objects)
// and vocabularies ("zandor/lmvocab") that give their word indices.
#include <tcl.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "cmds.h"
#include "container.h"
#include "obj.h"
#include "result.h"
#include "zandor.h"

namespace {

const char *kModel = "zandor/zandor";
const char *kVocab = "zandor/lmvocab";

void modelFree(void *record) { lm_Nuke(static_cast<ZandorModel *>(record)); }
void vocabFree(void *record) { lm_nukeVocab(static_cast<LmVocab *>(record)); }

const CntrType kModelType = {kModel, "zandor", nullptr, modelFree, nullptr, nullptr, nullptr, nullptr};
const CntrType kVocabType = {kVocab, "lmvocab", nullptr, vocabFree, nullptr, nullptr, nullptr, nullptr};

int fail(Tcl_Interp *interp, const std::string &text) {
    Tcl_SetObjResult(interp, Tcl_NewStringObj(text.c_str(), -1));
    return TCL_ERROR;
}

// zandor file open fname | zandor file close lmob
// open loads a model file and answers the new object's name; close
// releases the model and its name with it, so no later call reaches it.
int FileCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    if (argc < 3 || (strcmp(argv[2], "open") != 0 && strcmp(argv[2], "close") != 0))
        return fail(interp, "wrong args: should be open | close");
    const char *name = nullptr;
    if (strcmp(argv[2], "open") == 0) {
        if (Cmds_ParseArgs(interp, 3, argc, argv, "fname %s", &name)) return TCL_ERROR;
        Tcl_DString ds;
        const char *path = Tcl_TranslateFileName(interp, name, &ds);
        if (!path) return TCL_ERROR;
        GS_Result *r = GS_CreateResult();
        ZandorModel *m = lm_Initialize(r, path);
        Tcl_DStringFree(&ds);
        if (!m) {
            int rc = fail(interp, r->text ? r->text : "");
            GS_DeleteResult(r);
            return rc;
        }
        GS_DeleteResult(r);
        if (Obj_Create(interp, kModel, m) != TCL_OK) {
            lm_Nuke(m);
            return TCL_ERROR;
        }
        return TCL_OK;
    }
    if (Cmds_ParseArgs(interp, 3, argc, argv, "lmob %s", &name)) return TCL_ERROR;
    if (!Obj_GetData(interp, kModel, name)) return TCL_ERROR;
    if (Obj_Destroy(interp, name) != TCL_OK) return TCL_ERROR;
    Tcl_ResetResult(interp);
    return TCL_OK;
}

// zandor vocab wordlist
// A vocabulary whose word i is element i of the list; answers its name.
int VocabCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *list = nullptr;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "wordlist %s", &list)) return TCL_ERROR;
    int n;
    const char **words;
    if (Tcl_SplitList(interp, list, &n, &words) != TCL_OK) return TCL_ERROR;
    GS_Result *r = GS_CreateResult();
    LmVocab *v = lm_createVocab(r, const_cast<char **>(words), n);
    Tcl_Free(reinterpret_cast<char *>(words));
    GS_DeleteResult(r);
    if (Obj_Create(interp, kVocab, v) != TCL_OK) {
        lm_nukeVocab(v);
        return TCL_ERROR;
    }
    return TCL_OK;
}

// zandor lookup lmob vocabob wordlist
// The log probability of the list's last word given the one or two before
// it, printed with six decimals.
int LookupCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *lmName = nullptr, *vocabName = nullptr, *list = nullptr;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "lmob %s vocabob %s wordlist %s", &lmName, &vocabName, &list))
        return TCL_ERROR;
    ZandorModel *m = static_cast<ZandorModel *>(Obj_GetData(interp, kModel, lmName));
    if (!m) return TCL_ERROR;
    LmVocab *v = static_cast<LmVocab *>(Obj_GetData(interp, kVocab, vocabName));
    if (!v) return TCL_ERROR;
    int n;
    const char **words;
    if (Tcl_SplitList(interp, list, &n, &words) != TCL_OK) return TCL_ERROR;
    int w[3];
    std::string err;
    if (n < 1 || n > 3)
        err = "lookup needs one to three words, got " + std::to_string(n);
    else if (n == 3 && m->levelCount < 3)
        err = "model has two levels: no trigram lookup";
    for (int i = 0; err.empty() && i < n; i++) {
        w[i] = lm_vocabLookup(v, words[i]);
        if (w[i] < 0)
            err = std::string("word (") + words[i] + ") not in vocabulary.";
        else if (!lm_WordOk(m, w[i]))
            err = std::string("word (") + words[i] + ") has index " + std::to_string(w[i]) + ", beyond the model's " +
                  std::to_string(m->unigramCount) + " words";
    }
    Tcl_Free(reinterpret_cast<char *>(words));
    if (!err.empty()) return fail(interp, err);
    float score = n == 1 ? lm_ReadUnigram(m, w[0]) : n == 2 ? lm_ReadBigram(m, w[0], w[1])
                                                           : lm_ReadTrigram(m, w[0], w[1], w[2]);
    char buf[64];
    snprintf(buf, sizeof buf, "%f", score);
    Tcl_SetObjResult(interp, Tcl_NewStringObj(buf, -1));
    return TCL_OK;
}

const SubCmdEntry kTable[] = {{"file", FileCmd}, {"vocab", VocabCmd}, {"lookup", LookupCmd}, {nullptr, nullptr}};

} // namespace

extern "C" {

int Zandor_Init(Tcl_Interp *interp) {
    int code = Tcl_PkgProvide(interp, "Zandor", "1.0");
    if (code != TCL_OK) return code;
    Cntr_RegisterType(&kModelType);
    Cntr_RegisterType(&kVocabType);
    Cmds_CreateSwitchCmd(interp, "zandor", nullptr, nullptr);
    Cmds_CreateSubCmds(interp, "zandor", kTable);
    return Obj_Init(interp) ? TCL_ERROR : TCL_OK;
}

// Safe interpreters get no `file`: it reads files.
int Zandor_SafeInit(Tcl_Interp *interp) {
    int code = Tcl_PkgProvide(interp, "Zandor", "1.0");
    if (code != TCL_OK) return code;
    Cntr_RegisterType(&kModelType);
    Cntr_RegisterType(&kVocabType);
    Cmds_CreateSwitchCmd(interp, "zandor", nullptr, nullptr);
    for (const SubCmdEntry *e = kTable + 1; e->name; e++)
        Cmds_CreateSubCmd(interp, "zandor", e->name, e->proc, nullptr, nullptr);
    return Obj_Init(interp) ? TCL_ERROR : TCL_OK;
}

} // extern "C"
