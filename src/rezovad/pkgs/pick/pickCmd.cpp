// The `framepick` and `segmentpick` commands: pick blocks
// ("pick/pickblock") of training frames or segments per wave/label file,
// made, filled, inspected, saved, split and joined; priors and negative
// penalties of frame picks. Both commands share their handlers; the switch
// command's client data says which form a block takes.
#include <tcl.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cmds.h"
#include "container.h"
#include "obj.h"
#include "pardel.h"
#include "pick.h"
#include "kelmortrain.h"
#include "result.h"
#include "utils.h"

namespace {

void blockFree(void *r) { Pick_nukePickblock(static_cast<PickBlock *>(r)); }
void exampleFree(void *r) { freeExample(static_cast<ExampleSet *>(r)); }
const CntrType kBlockType = {"pick/pickblock", "pickblock", nullptr, blockFree, nullptr, nullptr, nullptr, nullptr};
// Example sets that compute makes; the network package registers the same
// type when it is loaded first.
const CntrType kExampleType = {"kelmor/example", "example", nullptr, exampleFree, nullptr, nullptr, nullptr, nullptr};

bool isFrame(ClientData cd) { return cd != nullptr; }

int fail(Tcl_Interp *interp, const std::string &text) {
    Tcl_SetObjResult(interp, Tcl_NewStringObj(text.c_str(), -1));
    return TCL_ERROR;
}

PickBlock *getBlock(Tcl_Interp *interp, const char *name) {
    return static_cast<PickBlock *>(Obj_GetData(interp, "pick/pickblock", name));
}

int keepBlock(Tcl_Interp *interp, PickBlock *b) {
    if (Obj_Create(interp, "pick/pickblock", b) != TCL_OK) {
        Pick_nukePickblock(b);
        return TCL_ERROR;
    }
    return TCL_OK;
}

// framepick|segmentpick initialize descriptionob hmmlist wavlabellist ?-framesize MS?
// Answers an empty block of the {wave label} pairs, with a category per
// tied state (frame picks) or per model (segment picks).
int InitializeCmd(ClientData cd, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *dn, *ln, *pairs;
    float fs = 10.0f;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "descriptionob %s hmmlist %s wavlabellist %s -framesize %f", &dn, &ln,
                       &pairs, &fs))
        return TCL_ERROR;
    HmmDescription *d = static_cast<HmmDescription *>(Obj_GetData(interp, "hmm/description", dn));
    HmmList *l = d ? static_cast<HmmList *>(Obj_GetData(interp, "hmm/hmmlist", ln)) : nullptr;
    if (!l) return TCL_ERROR;
    int cats = 0;
    if (isFrame(cd)) {
        int top = -1;
        for (int i = 0; i < l->numModels; i++)
            for (int s = 1; s < l->models[i]->numStates - 1; s++) {
                if (l->models[i]->stateIndex[s] < 0)
                    return fail(interp, std::string("hmm model: ") + l->models[i]->name +
                                            " has undefined  states. These need to be tied or defined before  data "
                                            "selection.");
                top = std::max(top, l->models[i]->stateIndex[s]);
            }
        cats = top + 1;
    } else {
        for (int e = 0; e < d->numEntries; e++)
            if (d->entries[e].hmmIndex >= l->numModels)
                return fail(interp, std::string("model: ") + (d->entries[e].name ? d->entries[e].name : "") +
                                        " has no defined physical model.");
        cats = l->numModels;
    }
    int n;
    const char **v;
    if (Tcl_SplitList(interp, pairs, &n, &v) != TCL_OK) return TCL_ERROR;
    PickBlock *b = Pick_newBlock(n, cats, fs);
    for (int i = 0; i < n; i++) {
        int c;
        const char **p;
        if (Tcl_SplitList(interp, v[i], &c, &p) != TCL_OK) {
            Tcl_Free(reinterpret_cast<char *>(v));
            Pick_nukePickblock(b);
            return TCL_ERROR;
        }
        Pick_setFile(b, i, c > 0 ? p[0] : "", c > 1 ? p[1] : "");
        Tcl_Free(reinterpret_cast<char *>(p));
    }
    Tcl_Free(reinterpret_cast<char *>(v));
    return keepBlock(interp, b);
}

// The desired counts per description entry from {name count} items.
bool desiredCounts(Tcl_Interp *interp, const HmmDescription *d, const char *list, std::vector<int32_t> &out) {
    out.assign(d->numEntries, 0);
    int n;
    const char **v;
    if (Tcl_SplitList(interp, list, &n, &v) != TCL_OK) return false;
    bool ok = true;
    for (int i = 0; i < n && ok; i++) {
        int c;
        const char **p;
        if (Tcl_SplitList(interp, v[i], &c, &p) != TCL_OK) {
            ok = false;
            break;
        }
        int e = c >= 2 ? Hmm_FindEntry(d, p[0]) : -1;
        if (e < 0)
            ok = false;
        else
            out[e] = atoi(p[1]);
        Tcl_Free(reinterpret_cast<char *>(p));
    }
    Tcl_Free(reinterpret_cast<char *>(v));
    return ok;
}

// framepick|segmentpick mlf mlffile descriptionob hmmlistob desired ?-framesize MS?
// Answers a new block picked from an HTK master label file.
int MlfCmd(ClientData cd, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *mf, *dn, *ln, *want;
    float fs = 10.0f;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "mlffile %s descriptionob %s hmmlistob %s desired %s -framesize %f", &mf,
                       &dn, &ln, &want, &fs))
        return TCL_ERROR;
    HmmDescription *d = static_cast<HmmDescription *>(Obj_GetData(interp, "hmm/description", dn));
    HmmList *l = d ? static_cast<HmmList *>(Obj_GetData(interp, "hmm/hmmlist", ln)) : nullptr;
    std::vector<int32_t> desired;
    if (!l || !desiredCounts(interp, d, want, desired)) return TCL_ERROR;
    GS_Result *r = GS_CreateResult();
    PickBlock *b = isFrame(cd) ? Pick_MLFFrame(r, mf, d, l, desired.data(), fs)
                               : Pick_MLFSegment(r, mf, d, l, desired.data(), fs);
    if (!b) return Cmds_LibraryError(interp, r, nullptr);
    GS_DeleteResult(r);
    return keepBlock(interp, b);
}

// framepick|segmentpick pick descriptionob hmmlistob pickblockob desired
// Fills the block from its label files.
int PickCmd(ClientData cd, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *dn, *ln, *bn, *want;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "descriptionob %s hmmlistob %s pickblockob %s desired %s", &dn, &ln, &bn,
                       &want))
        return TCL_ERROR;
    HmmDescription *d = static_cast<HmmDescription *>(Obj_GetData(interp, "hmm/description", dn));
    HmmList *l = d ? static_cast<HmmList *>(Obj_GetData(interp, "hmm/hmmlist", ln)) : nullptr;
    PickBlock *b = l ? getBlock(interp, bn) : nullptr;
    std::vector<int32_t> desired;
    if (!b || !desiredCounts(interp, d, want, desired)) return TCL_ERROR;
    GS_Result *r = GS_CreateResult();
    int bad = isFrame(cd) ? Pick_pickFrame(r, d, l, b, desired.data()) : Pick_pickSegment(r, d, l, b, desired.data());
    if (bad) return Cmds_LibraryError(interp, r, nullptr);
    GS_DeleteResult(r);
    return TCL_OK;
}

// framepick|segmentpick info hmmlistob pickblockob
// Answers per model its name and the picks of its states' categories
// ({stateIndex count} pairs), or of its own category.
int InfoCmd(ClientData cd, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *ln, *bn;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "hmmlistob %s pickblockob %s", &ln, &bn)) return TCL_ERROR;
    HmmList *l = static_cast<HmmList *>(Obj_GetData(interp, "hmm/hmmlist", ln));
    PickBlock *b = l ? getBlock(interp, bn) : nullptr;
    if (!b) return TCL_ERROR;
    auto count = [&](int c) { return c >= 0 && c < b->catCount ? b->catStats[c].pickCount : 0; };
    Tcl_Obj *out = Tcl_NewListObj(0, nullptr);
    for (int i = 0; i < l->numModels; i++) {
        const HmmModel *m = l->models[i];
        Tcl_Obj *item = Tcl_NewListObj(0, nullptr);
        Tcl_ListObjAppendElement(nullptr, item, Tcl_NewStringObj(m->name, -1));
        if (isFrame(cd)) {
            for (int s = 1; s < m->numStates - 1; s++) {
                Tcl_Obj *pair = Tcl_NewListObj(0, nullptr);
                Tcl_ListObjAppendElement(nullptr, pair, Tcl_NewIntObj(m->stateIndex[s]));
                Tcl_ListObjAppendElement(nullptr, pair, Tcl_NewIntObj(count(m->stateIndex[s])));
                Tcl_ListObjAppendElement(nullptr, item, pair);
            }
        } else {
            Tcl_ListObjAppendElement(nullptr, item, Tcl_NewIntObj(count(i)));
        }
        Tcl_ListObjAppendElement(nullptr, out, item);
    }
    Tcl_SetObjResult(interp, out);
    return TCL_OK;
}

// The picks of file f: {category frame} or {category start end} items.
Tcl_Obj *filePicks(const PickBlock *b, const PickFile &f, bool frames) {
    Tcl_Obj *l = Tcl_NewListObj(0, nullptr);
    Tcl_ListObjAppendElement(nullptr, l, Tcl_NewStringObj(f.waveName ? f.waveName : "", -1));
    for (int j = 0; j < f.numFilePicks; j++) {
        Tcl_Obj *p = Tcl_NewListObj(0, nullptr);
        Tcl_ListObjAppendElement(nullptr, p, Tcl_NewIntObj(b->categories[f.firstCategory + j]));
        if (frames) {
            Tcl_ListObjAppendElement(nullptr, p, Tcl_NewIntObj(b->frames[f.firstFrame + j]));
        } else {
            Tcl_ListObjAppendElement(nullptr, p, Tcl_NewIntObj(b->starts[f.firstStart + j]));
            Tcl_ListObjAppendElement(nullptr, p, Tcl_NewIntObj(b->ends[f.firstEnd + j]));
        }
        Tcl_ListObjAppendElement(nullptr, l, p);
    }
    return l;
}

// framepick|segmentpick print pickblockob
// Answers {waveName pick...} per file with picks.
int PrintCmd(ClientData cd, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *bn;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "pickblockob %s", &bn)) return TCL_ERROR;
    PickBlock *b = getBlock(interp, bn);
    if (!b) return TCL_ERROR;
    Tcl_Obj *out = Tcl_NewListObj(0, nullptr);
    for (int i = 0; i < b->fileCount; i++)
        if (b->files[i].numFilePicks) Tcl_ListObjAppendElement(nullptr, out, filePicks(b, b->files[i], isFrame(cd)));
    Tcl_SetObjResult(interp, out);
    return TCL_OK;
}

// framepick|segmentpick save pickblockob outfile
// Writes per file with picks its wave name, a line per pick and a closing
// line of -1s.
int SaveCmd(ClientData cd, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *bn, *file;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "pickblockob %s outfile %s", &bn, &file)) return TCL_ERROR;
    PickBlock *b = getBlock(interp, bn);
    if (!b) return TCL_ERROR;
    FILE *f = fopen(file, "w");
    if (!f) return fail(interp, std::string("could not open \"") + file + "\" for writing");
    for (int i = 0; i < b->fileCount; i++) {
        const PickFile &pf = b->files[i];
        if (!pf.numFilePicks) continue;
        fprintf(f, "%s\n", pf.waveName ? pf.waveName : "");
        for (int j = 0; j < pf.numFilePicks; j++) {
            fprintf(f, "%d ", b->categories[pf.firstCategory + j]);
            if (isFrame(cd))
                fprintf(f, "%d\n", b->frames[pf.firstFrame + j]);
            else
                fprintf(f, "%d %d\n", b->starts[pf.firstStart + j], b->ends[pf.firstEnd + j]);
        }
        fprintf(f, isFrame(cd) ? "-1 -1\n" : "-1 -1 -1\n");
    }
    if (fclose(f) != 0) return fail(interp, std::string("could not write \"") + file + "\"");
    return TCL_OK;
}

// framepick|segmentpick eval pickblock script
// Evaluates the script once per file with picks, with the file's
// {waveName pick...} list as one more word.
int EvalCmd(ClientData cd, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *bn, *script;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "pickblock %s script %s", &bn, &script)) return TCL_ERROR;
    PickBlock *b = getBlock(interp, bn);
    if (!b) return TCL_ERROR;
    for (int i = 0; i < b->fileCount; i++) {
        if (!b->files[i].numFilePicks) continue;
        Tcl_Obj *cmd = Tcl_NewStringObj(script, -1);
        Tcl_IncrRefCount(cmd);
        Tcl_AppendToObj(cmd, " ", 1);
        Tcl_Obj *arg = Tcl_NewListObj(0, nullptr);
        Tcl_ListObjAppendElement(nullptr, arg, filePicks(b, b->files[i], isFrame(cd)));
        Tcl_AppendObjToObj(cmd, arg);
        Tcl_DecrRefCount(arg);
        int code = Tcl_EvalObjEx(interp, cmd, 0);
        Tcl_DecrRefCount(cmd);
        if (code != TCL_OK) return code;
        // The block may have been destroyed by the script.
        if (!(b = static_cast<PickBlock *>(Obj_GetData(interp, "pick/pickblock", bn)))) return TCL_ERROR;
    }
    Tcl_ResetResult(interp);
    return TCL_OK;
}

// framepick compute pickblock script
// Answers a new example set: for each file the script (with the wave name
// as one more word) gives a feature matrix, whose row at each pick's frame
// becomes an example of the pick's category.
int ComputeCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *bn, *script;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "pickblock %s script %s", &bn, &script)) return TCL_ERROR;
    PickBlock *b = getBlock(interp, bn);
    if (!b) return TCL_ERROR;
    ExampleSet *set = nullptr;
    int n = 0, dim = 0;
    auto failWith = [&](int code) {
        if (set) freeExample(set);
        return code;
    };
    for (int i = 0; i < b->fileCount; i++) {
        Tcl_Obj *cmd = Tcl_NewStringObj(script, -1);
        Tcl_IncrRefCount(cmd);
        Tcl_Obj *word = Tcl_NewListObj(0, nullptr);
        Tcl_ListObjAppendElement(nullptr, word, Tcl_NewStringObj(b->files[i].waveName, -1));
        Tcl_AppendToObj(cmd, " ", 1);
        Tcl_AppendObjToObj(cmd, word);
        Tcl_DecrRefCount(word);
        int code = Tcl_EvalObjEx(interp, cmd, 0);
        Tcl_DecrRefCount(cmd);
        if (code != TCL_OK) return failWith(code);
        // The script may have destroyed the block.
        if (!(b = getBlock(interp, bn))) return failWith(TCL_ERROR);
        std::string fname = Tcl_GetStringResult(interp);
        ArrayRecord *a = nullptr;
        if (get2DVecObject(fname.c_str(), interp, &a) != TCL_OK) return failWith(TCL_ERROR);
        int rows = Array_rows(a), cols = Array_cols(a);
        float **src = a->ndims == 1 ? &a->data : a->rows;
        if (!set) {
            GS_Result *r = GS_CreateResult();
            set = allocExample(r, b->numPicks, cols);
            if (!set) {
                Obj_Destroy(interp, fname.c_str());
                return Cmds_LibraryError(interp, r, nullptr);
            }
            GS_DeleteResult(r);
            dim = cols;
        } else if (cols != dim) {
            // Rows of another width would be read past their end.
            Obj_Destroy(interp, fname.c_str());
            freeExample(set);
            return fail(interp, "the features of " + std::string(b->files[i].waveName) + " have " +
                                    std::to_string(cols) + " columns, not " + std::to_string(dim));
        }
        const PickFile &pf = b->files[i];
        for (int j = 0; j < pf.numFilePicks; j++) {
            int frame = b->frames ? b->frames[pf.firstFrame + j] : -1;
            if (frame < 0 || frame >= rows || n >= set->count) continue;
            set->classes[n] = b->categories[pf.firstCategory + j];
            memcpy(set->rows[n], src[frame], sizeof(float) * dim);
            n++;
        }
        Obj_Destroy(interp, fname.c_str());
    }
    if (!set) return fail(interp, "the pick block has no files");
    set->count = n;
    set->exampleCount = n;
    if (Obj_Create(interp, "kelmor/example", set) != TCL_OK) {
        freeExample(set);
        return TCL_ERROR;
    }
    return TCL_OK;
}

// list pickblockob: {waveName labelName} per file with picks.
int ListCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *bn;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "pickblockob %s", &bn)) return TCL_ERROR;
    PickBlock *b = getBlock(interp, bn);
    if (!b) return TCL_ERROR;
    Tcl_Obj *out = Tcl_NewListObj(0, nullptr);
    for (int i = 0; i < b->fileCount; i++) {
        if (!b->files[i].numFilePicks) continue;
        Tcl_Obj *p = Tcl_NewListObj(0, nullptr);
        Tcl_ListObjAppendElement(nullptr, p, Tcl_NewStringObj(b->files[i].waveName, -1));
        Tcl_ListObjAppendElement(nullptr, p, Tcl_NewStringObj(b->files[i].labelName, -1));
        Tcl_ListObjAppendElement(nullptr, out, p);
    }
    Tcl_SetObjResult(interp, out);
    return TCL_OK;
}

// concat pickblockob1 pickblockob2: a new block of both, in order.
int ConcatCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *an, *bn;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "pickblockob1 %s pickblockob2 %s", &an, &bn)) return TCL_ERROR;
    PickBlock *a = getBlock(interp, an);
    PickBlock *b = a ? getBlock(interp, bn) : nullptr;
    if (!b) return TCL_ERROR;
    char buf[2][TCL_DOUBLE_SPACE];
    if (a->framesize != b->framesize)
        return fail(interp, std::string("the frame sizes of the two pickblock  objects are not the same: framesize1 =  ") +
                                Cmds_FloatString(a->framesize, buf[0]) + " and framesize2 = " +
                                Cmds_FloatString(b->framesize, buf[1]));
    if (a->catCount != b->catCount)
        return fail(interp, "the number of categories in pickblock  objects are not the same: num_cat1 =  " +
                                std::to_string(a->catCount) + " and num_cat2 = " + std::to_string(b->catCount));
    return keepBlock(interp, Pick_concat(a, b));
}

// shuffle pickblockob: a new block with the files in a shuffled order.
int ShuffleCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *bn;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "pickblockob %s", &bn)) return TCL_ERROR;
    PickBlock *b = getBlock(interp, bn);
    if (!b) return TCL_ERROR;
    GS_Result *r = GS_CreateResult();
    PickBlock *o = Pick_shuffle(r, b);
    if (!o) return Cmds_LibraryError(interp, r, nullptr);
    GS_DeleteResult(r);
    return keepBlock(interp, o);
}

// split pickblockob ?-numblocks N? ?-blocksize N?
// Answers new blocks of blocksize picks each, in order (the last may be
// smaller).
int SplitCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *bn;
    int numblocks = 2, blocksize = 0;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "pickblockob %s -numblocks %i -blocksize %i", &bn, &numblocks,
                       &blocksize))
        return TCL_ERROR;
    PickBlock *b = getBlock(interp, bn);
    if (!b) return TCL_ERROR;
    int n = b->numPicks;
    if (blocksize < 0 || (blocksize == 0 && numblocks <= 0)) return fail(interp, "the block size must be above 0");
    if (blocksize > 0)
        numblocks = n / blocksize;
    else
        blocksize = n / numblocks;
    // Fewer picks than blocks would make empty blocks of size 0.
    if (blocksize == 0) return fail(interp, "too few picks (" + std::to_string(n) + ") for the blocks asked");
    // Enough blocks for every pick, also when the count was given.
    numblocks = (n + blocksize - 1) / blocksize;
    if (numblocks == 1) blocksize = n;
    Tcl_Obj *out = Tcl_NewListObj(0, nullptr);
    Tcl_IncrRefCount(out);
    for (int i = 0; i < numblocks; i++) {
        GS_Result *r = GS_CreateResult();
        PickBlock *o = Pick_split(r, b, blocksize, i);
        if (!o) {
            Tcl_DecrRefCount(out);
            return Cmds_LibraryError(interp, r, nullptr);
        }
        GS_DeleteResult(r);
        if (keepBlock(interp, o) != TCL_OK) {
            Tcl_DecrRefCount(out);
            return TCL_ERROR;
        }
        Tcl_ListObjAppendElement(nullptr, out, Tcl_GetObjResult(interp));
    }
    Tcl_SetObjResult(interp, out);
    Tcl_DecrRefCount(out);
    return TCL_OK;
}

// count pickblockob: the picks of every category.
int CountCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *bn;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "pickblockob %s", &bn)) return TCL_ERROR;
    PickBlock *b = getBlock(interp, bn);
    if (!b) return TCL_ERROR;
    Tcl_Obj *out = Tcl_NewListObj(0, nullptr);
    for (int c = 0; c < b->catCount; c++) Tcl_ListObjAppendElement(nullptr, out, Tcl_NewIntObj(b->catStats[c].pickCount));
    Tcl_SetObjResult(interp, out);
    return TCL_OK;
}

// Prior counts summed per category id, 0 … the largest id.
std::vector<double> countsById(const PickBlock *b) {
    int top = 0;
    for (int c = 0; c < b->catCount; c++) top = std::max(top, b->catStats[c].id);
    std::vector<double> p(top + 1, 0.0);
    for (int c = 0; c < b->catCount; c++)
        if (b->catStats[c].id >= 0) p[b->catStats[c].id] += b->catStats[c].priorCount;
    return p;
}

int rowMatrix(Tcl_Interp *interp, const std::vector<double> &v) {
    MxMatrix *m = Mx_create();
    int code = TCL_ERROR;
    if (Mx_setReal(interp, nullptr, 1, (int)v.size(), m) == 0) {
        for (size_t i = 0; i < v.size(); i++) m->real[0][i] = (float)v[i];
        code = TCL_OK;
    }
    Mx_destroy(m);
    return code;
}

// framepick prior pickblockob ?-floor F? ?-cut N?
// Answers 1 / relative frequency per category id (floored), leaving the
// last cut entries 0.
int PriorCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *bn;
    float floor = 0.01f;
    int cut = 0;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "pickblockob %s -floor %f -cut %i", &bn, &floor, &cut))
        return TCL_ERROR;
    PickBlock *b = getBlock(interp, bn);
    if (!b) return TCL_ERROR;
    std::vector<double> p = countsById(b), out(p.size(), 0.0);
    int last = (int)p.size() - 1 - cut;
    if (cut < 0 || last < 0) return fail(interp, "-cut " + std::to_string(cut) + " leaves no category");
    double s = 0;
    for (int i = 0; i <= last; i++) s += p[i];
    if (!(s > 0)) return fail(interp, "no picks to take priors from");
    for (int i = 0; i <= last; i++) out[i] = 1.0 / std::max(p[i] / s, (double)floor);
    return rowMatrix(interp, out);
}

// framepick negpen pickblockob
// Answers per category id B x c / (N - c), kept within 0.0001 … 1.
int NegpenCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *bn;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "pickblockob %s", &bn)) return TCL_ERROR;
    PickBlock *b = getBlock(interp, bn);
    if (!b) return TCL_ERROR;
    std::vector<double> c = countsById(b), out(c.size());
    double N = 0;
    for (double x : c) N += x;
    double B = (double)c.size() - 1;
    for (size_t i = 0; i < c.size(); i++) {
        // All picks in one category leave nothing to divide by: the most
        // penalty.
        double v = N - c[i] > 0 ? B * c[i] / (N - c[i]) : 1.0;
        out[i] = std::min(1.0, std::max(0.0001, v));
    }
    return rowMatrix(interp, out);
}

const SubCmdEntry kFrame[] = {{"initialize", InitializeCmd}, {"mlf", MlfCmd},         {"pick", PickCmd},
                              {"info", InfoCmd},             {"print", PrintCmd},     {"save", SaveCmd},
                              {"eval", EvalCmd},             {"compute", ComputeCmd}, {"list", ListCmd},
                              {"concat", ConcatCmd},         {"shuffle", ShuffleCmd}, {"split", SplitCmd},
                              {"count", CountCmd},           {"prior", PriorCmd},           {"negpen", NegpenCmd},   {nullptr, nullptr}};
const SubCmdEntry kSegment[] = {{"initialize", InitializeCmd}, {"mlf", MlfCmd},     {"pick", PickCmd},
                                {"info", InfoCmd},             {"print", PrintCmd}, {"save", SaveCmd},
                                {"eval", EvalCmd},             {"list", ListCmd},   {"concat", ConcatCmd},
                                {"shuffle", ShuffleCmd},       {"split", SplitCmd}, {"count", CountCmd},
                                {nullptr, nullptr}};

// A safe interpreter gets no command that reads label files or writes picks.
int init(Tcl_Interp *interp, bool safe) {
    int code = Tcl_PkgProvide(interp, "Pick", "1.0");
    if (code != TCL_OK) return code;
    Cntr_RegisterType(&kBlockType);
    Cntr_RegisterType(&kExampleType);
    static const char *const kFileCmds[] = {"mlf", "pick", "save", nullptr};
    const char *const *leaveOut = safe ? kFileCmds : nullptr;
    Cmds_CreateSwitchCmd(interp, "segmentpick", nullptr, nullptr);
    Cmds_CreateSubCmdsExcept(interp, "segmentpick", kSegment, leaveOut);
    Cmds_CreateSwitchCmd(interp, "framepick", reinterpret_cast<ClientData>(1), nullptr);
    Cmds_CreateSubCmdsExcept(interp, "framepick", kFrame, leaveOut);
    return Obj_Init(interp);
}

}  // namespace

extern "C" {

int Pick_Init(Tcl_Interp *interp) { return init(interp, false); }

int Pick_SafeInit(Tcl_Interp *interp) { return init(interp, true); }

}  // extern "C"
