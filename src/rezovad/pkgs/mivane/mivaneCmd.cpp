// The Mivane class: one co-articulation engine per object. Scripts pipe
// phones (and the matching sound) through it and get viseme key tracks
// back as lists; track2wave turns key tracks into one wave per viseme.
#include <tcl.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "cmds.h"
#include "mivane.h"
#include "obj.h"
#include "oo.h"
#include "records.h"
#include "result.h"
#include "yastro.h"

namespace {

void setError(Tcl_Interp *interp, const std::string &msg) {
    Tcl_SetObjResult(interp, Tcl_NewStringObj(msg.c_str(), -1));
}

void EngineDestroyProc(ClientData data) {
    if (data) Mivane_Destructor(static_cast<MivaneEngine *>(data));
}

MivaneEngine *getEngine(Tcl_Interp *interp, const char *object) {
    OoInfo info;
    if (!Oo_GetInfo(interp, object, &info)) return nullptr;
    return static_cast<MivaneEngine *>(info.objClientData);
}

void setEngine(Tcl_Interp *interp, const char *object, MivaneEngine *e) {
    OoInfo info;
    if (!Oo_GetInfo(interp, object, &info)) return;
    info.objClientData = e;
    info.deleteProc = e ? EngineDestroyProc : nullptr;
    info.deleteData = e;
    Oo_SetInfo(interp, object, &info);
}

// Settings refused before they reach the engine: each would make it divide
// by zero, loop without end, or emit keys without bound.
bool checkSettings(Tcl_Interp *interp, const MivaneEngine *e) {
    const char *bad = nullptr;
    if (!(e->framePeriod >= 0.001 && e->framePeriod <= 10)) bad = "framerate must be between 0.1 and 1000";
    else if (!std::isfinite(e->stpow) || e->stpow <= 0 || e->stpow > 100) bad = "stpow must be above 0 and at most 100";
    else if (!std::isfinite(e->global) || e->global < 0 || e->global > 1000) bad = "global must be between 0 and 1000";
    else if (!std::isfinite(e->prune)) bad = "prune must be a finite number";
    else if (!(e->minexcitation > 0) || !std::isfinite(e->minexcitation)) bad = "minexcitation must be above 0";
    else if (!std::isfinite(e->deformlimit)) bad = "deformlimit must be a finite number";
    else if (e->sharpeniterations < 0 || e->sharpeniterations > 1000) bad = "sharpeniterations must be between 0 and 1000";
    else if (e->sampleRate < 0) bad = "samplerate must not be negative";
    if (bad) setError(interp, bad);
    return bad == nullptr;
}

// obj init ?settings?
// A new engine configured by the key-value pairs of SETTINGS (keys may
// start with "-"; unknown keys are skipped with their value).
int InitCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *settings = nullptr;
    if (Cmds_ParseArgs(interp, 4, argc, argv, "settings ?s", &settings)) return TCL_ERROR;
    MivaneEngine *e = Mivane_Constructor();
    int n = 0;
    const char **words = nullptr;
    if (settings && Tcl_SplitList(interp, settings, &n, &words) != TCL_OK) {
        Mivane_Destructor(e);
        return TCL_ERROR;
    }
    int code = TCL_OK;
    if (n % 2 != 0) {
        setError(interp, "settings must be pairs of a key and a value");
        code = TCL_ERROR;
    }
    for (int i = 0; code == TCL_OK && i + 1 < n; i += 2) {
        const char *key = words[i][0] == '-' ? words[i] + 1 : words[i];
        const char *value = words[i + 1];
        int b;
        double d;
        int k;
        if (!strcmp(key, "limit") || !strcmp(key, "normalize") || !strcmp(key, "checkdeform")) {
            if ((code = Tcl_GetBoolean(interp, value, &b)) != TCL_OK) break;
            (key[0] == 'l' ? e->limit : key[0] == 'n' ? e->normalize : e->checkdeform) = b;
        } else if (!strcmp(key, "sharpeniterations") || !strcmp(key, "samplerate")) {
            if ((code = Tcl_GetInt(interp, value, &k)) != TCL_OK) break;
            (key[1] == 'h' ? e->sharpeniterations : e->sampleRate) = k;
        } else if (!strcmp(key, "framerate") || !strcmp(key, "stpow") || !strcmp(key, "global") ||
                   !strcmp(key, "prune") || !strcmp(key, "minexcitation") || !strcmp(key, "deformlimit")) {
            if ((code = Tcl_GetDouble(interp, value, &d)) != TCL_OK) break;
            if (!strcmp(key, "framerate")) e->framePeriod = 1 / d;
            else if (!strcmp(key, "stpow")) e->stpow = d;
            else if (!strcmp(key, "global")) e->global = d;
            else if (!strcmp(key, "prune")) e->prune = static_cast<float>(d);
            else if (!strcmp(key, "minexcitation")) e->minexcitation = static_cast<float>(d);
            else e->deformlimit = static_cast<float>(d);
        }
    }
    if (words) Tcl_Free(reinterpret_cast<char *>(words));
    if (code != TCL_OK || !checkSettings(interp, e)) {
        Mivane_Destructor(e);
        return TCL_ERROR;
    }
    Mivane_Initialize(nullptr, e);
    MivaneEngine *old = getEngine(interp, argv[2]);
    setEngine(interp, argv[2], e);
    if (old) Mivane_Destructor(old);
    Tcl_ResetResult(interp);
    return TCL_OK;
}

// obj configure ?-normalize ?bool?? ?-limit ?bool?? ... ?-sharpeniterations ?n??
// Options given without a value are answered with their value (all ten
// when none is given); given values are stored for the next library call.
int ConfigureCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    MivaneEngine *e = getEngine(interp, argv[2]);
    if (!e) return TCL_ERROR;
    int on[10], has[10];
    const char *sv[3] = {nullptr, nullptr, nullptr};
    float fv[6] = {0, 0, 0, 0, 0, 0};
    int iv = 0;
    if (Cmds_ParseArgs(interp, 4, argc, argv,
                       "-normalize %n !s -limit %n !s -checkdeform %n !s -framerate %n !f -stpow %n !f "
                       "-global %n !f -prune %n !f -minexcitation %n !f -deformlimit %n !f "
                       "-sharpeniterations %n !i ",
                       &on[0], &sv[0], &has[0], &on[1], &sv[1], &has[1], &on[2], &sv[2], &has[2], &on[3], &fv[0],
                       &has[3], &on[4], &fv[1], &has[4], &on[5], &fv[2], &has[5], &on[6], &fv[3], &has[6], &on[7],
                       &fv[4], &has[7], &on[8], &fv[5], &has[8], &on[9], &iv, &has[9]))
        return TCL_ERROR;
    static const char *const names[10] = {"-normalize", "-limit",         "-checkdeform", "-framerate",
                                          "-stpow",     "-global",        "-prune",       "-minexcitation",
                                          "-deformlimit", "-sharpeniterations"};
    bool any = false;
    for (int i = 0; i < 10; i++) any = any || on[i];
    Tcl_Obj *out = Tcl_NewListObj(0, nullptr);
    for (int i = 0; i < 10; i++) {
        if (any && !(on[i] && !has[i])) continue;
        std::string v;
        switch (i) {
        case 0: v = e->normalize ? "yes" : "no"; break;
        case 1: v = e->limit ? "yes" : "no"; break;
        case 2: v = e->checkdeform ? "yes" : "no"; break;
        case 3: v = sspf(0, "%f", 1 / e->framePeriod); break;
        case 4: v = sspf(0, "%f", e->stpow); break;
        case 5: v = sspf(0, "%f", e->global); break;
        case 6: v = sspf(0, "%f", e->prune); break;
        case 7: v = sspf(0, "%f", e->minexcitation); break;
        case 8: v = sspf(0, "%f", e->deformlimit); break;
        default: v = sspf(0, "%i", e->sharpeniterations); break;
        }
        Tcl_ListObjAppendElement(nullptr, out, Tcl_NewStringObj(names[i], -1));
        Tcl_ListObjAppendElement(nullptr, out, Tcl_NewStringObj(v.c_str(), -1));
    }
    Tcl_IncrRefCount(out);
    // Values are checked on a copy, so a refused one changes nothing.
    MivaneEngine trial = *e;
    int code = TCL_OK;
    int32_t *flags[3] = {&trial.normalize, &trial.limit, &trial.checkdeform};
    for (int i = 0; i < 3 && code == TCL_OK; i++) {
        int b;
        if (on[i] && has[i] && (code = Tcl_GetBoolean(interp, sv[i], &b)) == TCL_OK) *flags[i] = b;
    }
    if (code == TCL_OK) {
        if (has[3]) trial.framePeriod = 1.0 / fv[0];
        if (has[4]) trial.stpow = fv[1];
        if (has[5]) trial.global = fv[2];
        if (has[6]) trial.prune = fv[3];
        if (has[7]) trial.minexcitation = fv[4];
        if (has[8]) trial.deformlimit = fv[5];
        if (has[9]) trial.sharpeniterations = iv;
        if (checkSettings(interp, &trial)) {
            *e = trial;
            Tcl_SetObjResult(interp, out);
        } else {
            code = TCL_ERROR;
        }
    }
    Tcl_DecrRefCount(out);
    return code;
}

// obj reset
// Drops the targets and the held sound; the settings stay.
int ResetCmd(ClientData, Tcl_Interp *interp, int, const char *argv[]) {
    MivaneEngine *e = getEngine(interp, argv[2]);
    if (!e) return TCL_ERROR;
    Mivane_Reset(e);
    return TCL_OK;
}

// obj destroy
// Releases the engine; later methods of the object fail.
int DestroyCmd(ClientData, Tcl_Interp *interp, int, const char *argv[]) {
    MivaneEngine *e = getEngine(interp, argv[2]);
    if (!e) return TCL_ERROR;
    setEngine(interp, argv[2], nullptr);
    Mivane_Destructor(e);
    return TCL_OK;
}

// The track list: viseme name, then its keys as "ms value"; the neutral
// viseme is left out.
Tcl_Obj *trackList(const MivaneTrack *tracks, int count) {
    Tcl_Obj *list = Tcl_NewListObj(0, nullptr);
    for (int i = 0; i < count; i++) {
        if (tracks[i].viseme == MIVANE_NEUTRAL) continue;
        Tcl_Obj *keys = Tcl_NewListObj(0, nullptr);
        for (const MivaneKey *k = tracks[i].keys; k; k = k->next) {
            char num[TCL_DOUBLE_SPACE];
            Tcl_PrintDouble(nullptr, k->value, num);
            std::string s = std::to_string(k->time) + " " + num;
            Tcl_ListObjAppendElement(nullptr, keys, Tcl_NewStringObj(s.c_str(), -1));
        }
        Tcl_ListObjAppendElement(nullptr, list, Tcl_NewStringObj(Mivane_VisemeName(tracks[i].viseme), -1));
        Tcl_ListObjAppendElement(nullptr, list, keys);
    }
    return list;
}

// obj pipe PHONES DURATIONS ?WAVE? ?-flush?
// Adds the phones (durations in seconds); answers {tracks} {phones} ?wave?
// with the keys that became final. WAVE's samples are replaced by the
// sound those keys cover (with -flush: all of it, in time order).
int PipeCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    MivaneEngine *e = getEngine(interp, argv[2]);
    if (!e) return TCL_ERROR;
    const char *phones = nullptr, *durations = nullptr, *waveName = nullptr;
    int flush = 0;
    if (Cmds_ParseArgs(interp, 4, argc, argv, "phones %s durations %s wave ?s -flush %n", &phones, &durations,
                       &waveName, &flush))
        return TCL_ERROR;
    WaveRecord *wave = nullptr;
    if (waveName) {
        wave = static_cast<WaveRecord *>(Obj_GetData(interp, "wave", waveName));
        if (!wave) return TCL_ERROR;
        float rate = wave->infoCount > 0 ? wave->info[0] : 0;
        if (e->sampleRate == 0) e->sampleRate = static_cast<int32_t>(std::floor(rate));
        if (static_cast<float>(e->sampleRate) != rate) {
            setError(interp, "sample rate mismatch");
            return TCL_ERROR;
        }
    }
    int np = 0, nd = 0;
    const char **pv = nullptr, **dv = nullptr;
    if (Tcl_SplitList(interp, phones, &np, &pv) != TCL_OK) return TCL_ERROR;
    if (Tcl_SplitList(interp, durations, &nd, &dv) != TCL_OK) {
        Tcl_Free(reinterpret_cast<char *>(pv));
        return TCL_ERROR;
    }
    int code = TCL_OK;
    std::vector<float> durs(nd);
    if (np != nd) {
        setError(interp, "phone and duration lists not of equal length");
        code = TCL_ERROR;
    }
    for (int i = 0; code == TCL_OK && i < nd; i++) {
        double d;
        if ((code = Tcl_GetDouble(interp, dv[i], &d)) == TCL_OK) durs[i] = static_cast<float>(d);
    }
    MivaneTrack *tracks = nullptr;
    int count = 0;
    GS_Result *r = GS_CreateResult();
    if (code == TCL_OK) {
        short *audio = wave ? wave->samples : nullptr;
        int len = wave ? wave->len : 0;
        short *rest = nullptr;
        int restLength = 0;
        if (Mivane_Pipe(r, e, pv, durs.data(), np, &tracks, &count, wave ? &audio : nullptr, wave ? &len : nullptr) ||
            (flush && Mivane_Flush(r, e, &tracks, &count, wave ? &rest : nullptr, wave ? &restLength : nullptr))) {
            setError(interp, r->text);
            code = TCL_ERROR;
        }
        // The sound held back comes after what the pipe returned: the flush
        // would put it in front of the returned sound.
        if (restLength > 0) {
            audio = static_cast<short *>(DB_REALLOC(audio, (len + restLength) * sizeof(short)));
            std::memcpy(audio + len, rest, restLength * sizeof(short));
            len += restLength;
        }
        DB_FREE(rest);
        if (wave) {
            wave->samples = audio;
            wave->len = len;
        }
    }
    if (code == TCL_OK) {
        Tcl_Obj *out = Tcl_NewListObj(0, nullptr);
        Tcl_Obj *ph = Tcl_NewListObj(0, nullptr);
        for (int i = 0; i < np; i++) Tcl_ListObjAppendElement(nullptr, ph, Tcl_NewStringObj(pv[i], -1));
        Tcl_ListObjAppendElement(nullptr, out, trackList(tracks, count));
        Tcl_ListObjAppendElement(nullptr, out, ph);
        if (waveName) Tcl_ListObjAppendElement(nullptr, out, Tcl_NewStringObj(waveName, -1));
        Tcl_SetObjResult(interp, out);
    }
    Mivane_FreeKeys(tracks, count);
    GS_DeleteResult(r);
    Tcl_Free(reinterpret_cast<char *>(pv));
    Tcl_Free(reinterpret_cast<char *>(dv));
    return code;
}

// obj flush
// Ends the input: answers {tracks} {} with every key left. Held sound stays
// held for the next pipe with a wave.
int FlushCmd(ClientData, Tcl_Interp *interp, int, const char *argv[]) {
    MivaneEngine *e = getEngine(interp, argv[2]);
    if (!e) return TCL_ERROR;
    MivaneTrack *tracks = nullptr;
    int count = 0;
    Mivane_Flush(nullptr, e, &tracks, &count, nullptr, nullptr);
    Tcl_Obj *out = Tcl_NewListObj(0, nullptr);
    Tcl_ListObjAppendElement(nullptr, out, trackList(tracks, count));
    Tcl_ListObjAppendElement(nullptr, out, Tcl_NewListObj(0, nullptr));
    Tcl_SetObjResult(interp, out);
    Mivane_FreeKeys(tracks, count);
    return TCL_OK;
}

// The sample index of a key time (ms) at the rate, or -1 when out of range.
long long sampleIndex(long long ms, int rate) {
    long long p = ms * rate;
    return p < 0 ? -1 : p / 1000;
}

// obj track2wave ?-samplerate R? TIMEOFFSET TRACKS WAVES
// Draws each viseme's keys into a wave, a straight line from key to key,
// one value per sample; WAVES (17 names, empty for none) names the waves to
// extend, others are made. Answers the 17 wave names.
int Track2WaveCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    MivaneEngine *e = getEngine(interp, argv[2]);
    if (!e) return TCL_ERROR;
    int rate = 8000, offset = 0;
    const char *tracksText = nullptr, *wavesText = nullptr;
    if (Cmds_ParseArgs(interp, 4, argc, argv, "-samplerate %i timeoffset %i tracks %s wave %s", &rate, &offset,
                       &tracksText, &wavesText))
        return TCL_ERROR;
    if (rate <= 0 || rate > 1000000) {
        setError(interp, "samplerate must be between 1 and 1000000");
        return TCL_ERROR;
    }
    const int kNamed = 17;
    std::vector<std::string> names(kNamed), made;
    int nw = 0, nt = 0;
    const char **wv = nullptr, **tv = nullptr;
    if (Tcl_SplitList(interp, wavesText, &nw, &wv) != TCL_OK) return TCL_ERROR;
    if (nw == kNamed)
        for (int i = 0; i < kNamed; i++) names[i] = wv[i];
    Tcl_Free(reinterpret_cast<char *>(wv));
    if (Tcl_SplitList(interp, tracksText, &nt, &tv) != TCL_OK) return TCL_ERROR;
    int code = TCL_OK;
    if (nt % 2 != 0) {
        setError(interp, "tracks must be pairs of a viseme name and a key list");
        code = TCL_ERROR;
    }
    for (int t = 0; code == TCL_OK && t + 1 < nt; t += 2) {
        int v = Mivane_VisemeIndex(tv[t]);
        if (v < 0 || v >= kNamed) {
            setError(interp, std::string("Unknown viseme: \"") + tv[t] + "\"");
            code = TCL_ERROR;
            break;
        }
        WaveRecord *w = nullptr;
        long long d = 0;
        double u = 0;
        if (!names[v].empty()) {
            w = static_cast<WaveRecord *>(Obj_GetData(interp, "wave", names[v].c_str()));
            if (!w) {
                code = TCL_ERROR;
                break;
            }
            // An empty wave has no last sample: it starts at (0, 0) as a new one.
            if (w->len > 0) {
                d = w->len - 1;
                u = w->samples[d];
            }
        } else {
            w = Wave_New(0, static_cast<float>(rate));
            if (Obj_Create(interp, "wave", w) != TCL_OK) {
                Wave_Free(w);
                code = TCL_ERROR;
                break;
            }
            names[v] = Tcl_GetStringResult(interp);
            made.push_back(names[v]);
        }
        int nk = 0;
        const char **kv = nullptr;
        if ((code = Tcl_SplitList(interp, tv[t + 1], &nk, &kv)) != TCL_OK) break;
        for (int k = 0; code == TCL_OK && k < nk; k++) {
            int n = 0, time = 0;
            double value = 0;
            const char **pair = nullptr;
            if (Tcl_SplitList(interp, kv[k], &n, &pair) != TCL_OK || n != 2) {
                setError(interp, std::string("Expected a time value pair, not: \"") + kv[k] + "\"");
                code = TCL_ERROR;
            } else if ((code = Tcl_GetInt(interp, pair[0], &time)) == TCL_OK &&
                       (code = Tcl_GetDouble(interp, pair[1], &value)) == TCL_OK) {
                long long idx = sampleIndex(static_cast<long long>(offset) + time, rate);
                if (idx < 0 || idx > 100000000) {
                    setError(interp, std::string("key time out of range: \"") + kv[k] + "\"");
                    code = TCL_ERROR;
                } else {
                    if (idx >= w->len) {
                        w->samples = static_cast<int16_t *>(DB_REALLOC(w->samples, (idx + 1) * sizeof(int16_t)));
                        std::memset(w->samples + w->len, 0, (idx + 1 - w->len) * sizeof(int16_t));
                        w->len = static_cast<int32_t>(idx + 1);
                    }
                    for (long long j = d + 1; j <= idx; j++) {
                        double s = std::floor(u + double(j - d) / double(idx - d) * (value - u) + 0.5);
                        w->samples[j] = static_cast<int16_t>(std::max(-32768.0, std::min(32767.0, s)));
                    }
                    d = idx;
                    u = value;
                }
            }
            if (pair) Tcl_Free(reinterpret_cast<char *>(pair));
        }
        Tcl_Free(reinterpret_cast<char *>(kv));
    }
    Tcl_Free(reinterpret_cast<char *>(tv));
    if (code != TCL_OK) {
        // Nothing half-made stays behind: the waves this call made go.
        Tcl_Obj *msg = Tcl_GetObjResult(interp);
        Tcl_IncrRefCount(msg);
        for (const std::string &n : made) Obj_Destroy(interp, n.c_str());
        Tcl_SetObjResult(interp, msg);
        Tcl_DecrRefCount(msg);
        return TCL_ERROR;
    }
    Tcl_Obj *out = Tcl_NewListObj(0, nullptr);
    for (const std::string &n : names) Tcl_ListObjAppendElement(nullptr, out, Tcl_NewStringObj(n.c_str(), -1));
    Tcl_SetObjResult(interp, out);
    return TCL_OK;
}

}  // namespace

extern "C" {

int Mivane_Init(Tcl_Interp *interp) {
    Oo_Create(interp, "Mivane", nullptr, nullptr);
    int code = Tcl_PkgProvide(interp, "Mivane", "1.0");
    if (code != TCL_OK) return code;
    if (Tcl_VarEval(interp, "package unknown", (char *)nullptr) != TCL_OK) return TCL_ERROR;
    // While package indexes are being built, only the class is wanted.
    if (strcmp(Tcl_GetStringResult(interp), "dummy") == 0) return TCL_OK;
    if (!Tcl_PkgRequire(interp, "Thing", "1.0", 0)) return TCL_ERROR;
    Oo_SetIsa(interp, "Mivane", "Thing");
    Oo_CreateMethod(interp, "Mivane", "init", InitCmd, nullptr, nullptr);
    Oo_CreateMethod(interp, "Mivane", "reset", ResetCmd, nullptr, nullptr);
    Oo_CreateMethod(interp, "Mivane", "destroy", DestroyCmd, nullptr, nullptr);
    Oo_CreateMethod(interp, "Mivane", "pipe", PipeCmd, nullptr, nullptr);
    Oo_CreateMethod(interp, "Mivane", "flush", FlushCmd, nullptr, nullptr);
    Oo_CreateMethod(interp, "Mivane", "configure", ConfigureCmd, nullptr, nullptr);
    Oo_CreateMethod(interp, "Mivane", "track2wave", Track2WaveCmd, nullptr, nullptr);
    Tcl_ResetResult(interp);
    return Obj_Init(interp);
}

int Mivane_SafeInit(Tcl_Interp *interp) { return Mivane_Init(interp); }
}
