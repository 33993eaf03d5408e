// The `phonology apply` command: pronunciation variants by fixed rules.
#include <tcl.h>

#include <cstring>
#include <string>
#include <vector>

#include "cmds.h"
#include "obj.h"
#include "phonrules.h"

namespace {

const int kMaxRules = 20;
const size_t kMaxText = 1023;

typedef void (*Rule)(PhoneNode *, int);

const struct {
    const char *name;
    Rule rule;
} kSwitches[] = {{"-vowelreduce", Rule_vowelReduce},     {"-schwa", Rule_schwa},
                 {"-finaling", Rule_ing},                {"-retroflex", Rule_er},
                 {"-finalburst", Rule_finalBurst},       {"-stopcluster", Rule_stopCluster},
                 {"-closuredelete", Rule_closureDeletion}, {"-syllabify", Rule_syllabify},
                 {"-ruhreduction", Rule_ruhReduction},   {"-flap", Rule_flap},
                 {"-palatal", Rule_palatal},             {"-stripstress", stripStress}};

int fail(Tcl_Interp *interp, const std::string &text) {
    Tcl_SetObjResult(interp, Tcl_NewStringObj(text.c_str(), -1));
    return TCL_ERROR;
}

// Applies the rules to one pronunciation; false with why set.
bool apply(const char *pron, const std::vector<Rule> &rules, int rewrite, std::string &out, std::string &why) {
    if (strlen(pron) > kMaxText) {
        why = "pronunciation longer than 1023 bytes";
        return false;
    }
    std::string buf = pron;
    for (size_t i = 0, j; i < buf.size(); i = j + 1) {
        j = buf.find(' ', i);
        if (j == std::string::npos) j = buf.size();
        if (j - i >= PHON_TEXT_SIZE) {
            why = "phone symbol longer than 31 characters: " + buf.substr(i, j - i);
            return false;
        }
    }
    resetNodes();
    PhoneNode *head = buildList(&buf[0]);
    if (head)
        for (Rule r : rules) r(head, rewrite);
    if (!head || phon_exhausted()) {
        why = "pronunciation too long";
        return false;
    }
    out.clear();
    for (PhoneNode *n = head->next; n; n = n->next) out += (n == head->next ? "" : " ") + std::string(n->text);
    if (out.size() > kMaxText) {
        why = "result longer than 1023 bytes";
        return false;
    }
    return true;
}

// phonology apply pronunlist ?-vowelreduce? ?-schwa? ... ?-rewrite?
// Answers {word pronunciation} per input pair, the rules applied in the
// order of their switches.
int ApplyCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    if (argc < 3)
        return fail(interp, "pronunlist  -vowelreduce -schwa -finaling -finalburst -stopcluster -closuredelete "
                            "-syllabify -ruhreduction -flap -rewrite");
    std::vector<Rule> rules;
    int rewrite = 0;
    for (int i = 3; i < argc; i++) {
        if (strcmp(argv[i], "-rewrite") == 0) {
            rewrite = 1;
            continue;
        }
        Rule r = nullptr;
        for (const auto &s : kSwitches)
            if (strcmp(argv[i], s.name) == 0) r = s.rule;
        if (!r)
            return fail(interp, "invalid switch: should be -vowelreduce -schwa -finaling -finalburst -stopcluster "
                                "-closuredelete -syllabify -ruhreduction -flap -rewrite");
        if ((int)rules.size() == kMaxRules) return fail(interp, "at most 20 rules in one call");
        rules.push_back(r);
    }
    int n;
    const char **items;
    if (Tcl_SplitList(interp, argv[2], &n, &items) != TCL_OK) return TCL_ERROR;
    Tcl_Obj *out = Tcl_NewListObj(0, nullptr);
    int code = TCL_OK;
    for (int i = 0; i < n && code == TCL_OK; i++) {
        int k;
        const char **pair;
        if (Tcl_SplitList(interp, items[i], &k, &pair) != TCL_OK) {
            code = TCL_ERROR;
            break;
        }
        std::string text, why;
        if (k != 2)
            code = fail(interp, "pronunciation specication error");
        else if (!apply(pair[1], rules, rewrite, text, why))
            code = fail(interp, std::string(pair[0]) + ": " + why);
        else {
            Tcl_Obj *p[2] = {Tcl_NewStringObj(pair[0], -1), Tcl_NewStringObj(text.c_str(), -1)};
            Tcl_ListObjAppendElement(nullptr, out, Tcl_NewListObj(2, p));
        }
        Tcl_Free(reinterpret_cast<char *>(pair));
    }
    Tcl_Free(reinterpret_cast<char *>(items));
    if (code != TCL_OK) {
        Tcl_DecrRefCount(out);
        return code;
    }
    Tcl_SetObjResult(interp, out);
    return TCL_OK;
}

const SubCmdEntry kTable[] = {{"apply", ApplyCmd}, {nullptr, nullptr}};

} // namespace

extern "C" {

int Phonology_Init(Tcl_Interp *interp) {
    int code = Tcl_PkgProvide(interp, "Phonology", "1.0");
    if (code != TCL_OK) return code;
    Cmds_CreateSwitchCmd(interp, "phonology", nullptr, nullptr);
    Cmds_CreateSubCmds(interp, "phonology", kTable);
    return Obj_Init(interp);
}

int Phonology_SafeInit(Tcl_Interp *interp) { return Phonology_Init(interp); }

} // extern "C"
