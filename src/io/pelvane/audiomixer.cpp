// Winaudio mixer methods: recording source, source-line volumes and switches of the
// mixer that an input object's first device open found.
#include <cstring>
#include <string>
#include <vector>

#include "cmds.h"
#include "winaudio.h"

namespace {

struct Kind {
    unsigned type;
    const char *name;
};

const Kind kListKinds[] = {{MIX_CTRL_MIXER, "mixer"},
                           {MIX_CTRL_MULTIPLESELECT, "multipleselect"},
                           {MIX_CTRL_MUX, "mux"},
                           {MIX_CTRL_SINGLESELECT, "singleselect"}};

const Kind kSwitchKinds[] = {{MIX_CTRL_BOOLEAN, "boolean"}, {MIX_CTRL_ONOFF, "onoff"},
                             {MIX_CTRL_MUTE, "mute"},       {MIX_CTRL_MONO, "mono"},
                             {MIX_CTRL_LOUDNESS, "loudness"}, {MIX_CTRL_STEREOENH, "stereoenh"},
                             {MIX_CTRL_BUTTON, "button"}};

const char *KindName(const Kind *kinds, size_t n, unsigned type) {
    for (size_t i = 0; i < n; i++)
        if (kinds[i].type == type) return kinds[i].name;
    return nullptr;
}

// Item texts of a list control, cleared.
class Texts {
public:
    explicit Texts(size_t n) : buf_((n ? n : 1) * MIX_LONG_NAME, '\0') {}
    char (*data())[MIX_LONG_NAME] { return reinterpret_cast<char(*)[MIX_LONG_NAME]>(buf_.data()); }
    const char *operator[](size_t i) const { return &buf_[i * MIX_LONG_NAME]; }

private:
    std::vector<char> buf_;
};

void SetError(Tcl_Interp *interp, const std::string &msg) {
    Tcl_SetObjResult(interp, Tcl_NewStringObj(msg.c_str(), -1));
}

void SetMixerError(Tcl_Interp *interp, int code) {
    char text[256];
    Mixer_ErrorText(code, text, sizeof text);
    SetError(interp, text);
}

void Append(Tcl_Obj *list, const std::string &s) {
    Tcl_ListObjAppendElement(nullptr, list, Tcl_NewStringObj(s.c_str(), -1));
}

// The input object named, with its mixer read; else NULL with a message.
WinaudioIn *GetMixerObject(Tcl_Interp *interp, const char *name) {
    WinaudioIn *in = Winaudio_GetIn(interp, name);
    if (!in) return nullptr;
    if (!in->mixerReady) {
        SetError(interp, "no mixer found");
        return nullptr;
    }
    return in;
}

// Names of the source lines that have controls, in source order.
Tcl_Obj *LineList(WinaudioIn *in) {
    Tcl_Obj *list = Tcl_NewListObj(0, nullptr);
    for (unsigned j = 0; j < in->destinationLine.connections; j++)
        if (in->sourceLines[j].name[0]) Append(list, in->sourceLines[j].name);
    return list;
}

// The source line named; else NULL with a message.
const MixLine *FindLine(Tcl_Interp *interp, WinaudioIn *in, const char *name) {
    for (unsigned j = 0; j < in->destinationLine.connections; j++)
        if (in->sourceLines[j].name[0] && name && strcmp(in->sourceLines[j].name, name) == 0)
            return &in->sourceLines[j];
    SetError(interp, std::string("mixer line \"") + (name ? name : "") + "\" not found");
    return nullptr;
}

int AllControls(Mixer *m, unsigned lineId, std::vector<MixControl> *out) {
    unsigned n = 0;
    int rc = Mixer_GetLineControls(m, lineId, nullptr, 0, &n);
    if (rc != MIX_OK) return rc;
    out->resize(n);
    return n ? Mixer_GetLineControls(m, lineId, out->data(), n, &n) : MIX_OK;
}

// Shape of a control's values: channels (1 when uniform) and items (1 unless multiple).
void Shape(const MixControl &c, const MixLine &line, unsigned *channels, unsigned *items) {
    *channels = (c.flags & MIX_CTRLF_UNIFORM) || line.channels == 0 ? 1 : line.channels;
    *items = (c.flags & MIX_CTRLF_MULTIPLE) && c.multipleItems ? c.multipleItems : 1;
}

// Reads the volume control of a source line into "volume LEVEL"; error with its text.
int AppendVolume(Tcl_Interp *interp, WinaudioIn *in, const MixLine &line, Tcl_Obj *result, MixControl *ctrl,
                 std::vector<long> *values) {
    int rc = Mixer_GetLineControlByType(in->mixer, line.lineId, MIX_CTRL_VOLUME, ctrl);
    if (rc != MIX_OK) {
        SetMixerError(interp, rc);
        return TCL_ERROR;
    }
    unsigned c, m;
    Shape(*ctrl, line, &c, &m);
    values->assign(c, 0);
    Mixer_GetValues(in->mixer, ctrl->controlId, c, 1, values->data());
    double span = (double)ctrl->maximum - (double)ctrl->minimum;
    double level = span > 0 ? ((*values)[0] - ctrl->minimum) / span : 0.0;
    Append(result, "volume");
    Append(result, sspf(0, "%f", level));
    return TCL_OK;
}

}  // namespace

void Winaudio_ReadMixer(WinaudioIn *in) {
    Mixer *m = nullptr;
    if (Mixer_Open(&m, in->handle) != MIX_OK) return;
    if (Mixer_GetDestination(m, MIX_COMPONENT_DST_WAVEIN, &in->destinationLine) != MIX_OK) {
        Mixer_Close(m);
        return;
    }
    unsigned n = in->destinationLine.connections;
    in->sourceLines = (MixLine *)AUDIO_ALLOC((n ? n : 1) * sizeof(MixLine));
    for (unsigned j = 0; j < n; j++) {
        MixLine *l = &in->sourceLines[j];
        memset(l, 0, sizeof *l);
        // A line that cannot be read or has no controls is never listed or matched.
        if (Mixer_GetSource(m, in->destinationLine.destination, j, l) != MIX_OK || l->controls == 0) {
            l->shortName[0] = '\0';
            l->name[0] = '\0';
        }
    }
    in->mixer = m;
    in->mixerReady = 1;
}

void Winaudio_FreeMixer(WinaudioIn *in) {
    if (!in->mixerReady) return;
    AUDIO_FREE(in->sourceLines);
    in->sourceLines = nullptr;
    Mixer_Close(in->mixer);
    in->mixer = nullptr;
    in->mixerReady = 0;
}

// Winaudio mixerSelect handle ?line? ?value?
// The recording-source control of the mixer: its kind and lines; with a line, whether it
// is selected; with a value too, selects it (a single-select control drops the others).
int Winaudio_MixerSelectCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *name = nullptr, *line = nullptr;
    int value = 0, given = 0;
    if (Cmds_ParseArgs(interp, 2, argc - 2, argv + 2, "handle %s line ?s value !i", &name, &line, &value, &given))
        return TCL_ERROR;
    WinaudioIn *in = GetMixerObject(interp, name);
    if (!in) return TCL_ERROR;
    const MixLine &dest = in->destinationLine;
    std::vector<MixControl> ctrls;
    AllControls(in->mixer, dest.lineId, &ctrls);
    const MixControl *list = nullptr;
    bool fader = false;
    for (const MixControl &c : ctrls) {
        if (c.type >= 0x70000000u) {
            list = &c;
            break;
        }
        if ((c.type & 0x40000000u) && (c.type & 0x10000000u)) fader = true;
    }
    Tcl_Obj *result = Tcl_NewListObj(0, nullptr);
    Append(result, "mixertype");
    if (!list) {
        Append(result, fader ? "fader" : "unknown");
        Append(result, "lines");
        Tcl_ListObjAppendElement(nullptr, result, fader ? LineList(in) : Tcl_NewListObj(0, nullptr));
        Tcl_SetObjResult(interp, result);
        return TCL_OK;
    }
    const char *kind = KindName(kListKinds, 4, list->type);
    bool single = list->type == MIX_CTRL_SINGLESELECT || list->type == MIX_CTRL_MUX;
    unsigned c, m;
    Shape(*list, dest, &c, &m);
    Texts texts(c * m);
    std::vector<long> values(c * m, 0);
    Mixer_GetListText(in->mixer, list->controlId, c, m, texts.data());
    Mixer_GetValues(in->mixer, list->controlId, c, m, values.data());
    if (!line && !given) {
        Append(result, kind ? kind : "unknown");
        Append(result, "lines");
        Tcl_ListObjAppendElement(nullptr, result, LineList(in));
        Append(result, "lines_orig");
        Tcl_Obj *orig = Tcl_NewListObj(0, nullptr);
        for (unsigned k = 0; k < m; k++) Append(orig, texts[k * c]);
        Tcl_ListObjAppendElement(nullptr, result, orig);
        Tcl_SetObjResult(interp, result);
        return TCL_OK;
    }
    Tcl_IncrRefCount(result);   // not the answer from here on
    Tcl_DecrRefCount(result);
    // Entries are item-major: item k's channels are k*c .. k*c+c-1.
    if (given && single)
        for (unsigned k = 0; k < m; k++) values[k * c] = values[k * c + c - 1] = 0;
    for (unsigned k = 0; k < m; k++) {
        if (!line || strcmp(texts[k * c], line) != 0) continue;
        if (given) {
            values[k * c] = values[k * c + c - 1] = value;
            Mixer_SetValues(in->mixer, list->controlId, c, m, values.data());
            Tcl_ResetResult(interp);
        } else {
            Tcl_SetObjResult(interp, Tcl_NewStringObj(values[k * c] ? "1" : "0", -1));
        }
        return TCL_OK;
    }
    SetError(interp, std::string("\"") + (line ? line : "") + "\" is not a valid line name");
    return TCL_ERROR;
}

// Winaudio mixerVolume handle ?line? ?value?
// Without a line, the lines; with one, "volume LEVEL" (0 to 1) of that line; a value
// (0 to 1) sets it, and the answer still shows the level before.
int Winaudio_MixerVolumeCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *name = nullptr, *line = nullptr;
    double value = 0;
    int given = 0;
    if (Cmds_ParseArgs(interp, 2, argc - 2, argv + 2, "handle %s line ?s value !d", &name, &line, &value, &given))
        return TCL_ERROR;
    WinaudioIn *in = GetMixerObject(interp, name);
    if (!in) return TCL_ERROR;
    if (!line) {
        Tcl_SetObjResult(interp, LineList(in));
        return TCL_OK;
    }
    const MixLine *l = FindLine(interp, in, line);
    if (!l) return TCL_ERROR;
    Tcl_Obj *result = Tcl_NewListObj(0, nullptr);
    Tcl_IncrRefCount(result);
    MixControl ctrl;
    std::vector<long> values;
    if (AppendVolume(interp, in, *l, result, &ctrl, &values) != TCL_OK) {
        Tcl_DecrRefCount(result);
        return TCL_ERROR;
    }
    if (given) {
        // Levels outside the control's range are not the caller's to set.
        double v = value < 0 ? 0 : value > 1 ? 1 : value;
        long level = ctrl.minimum + (long)(((double)ctrl.maximum - (double)ctrl.minimum) * v);
        values[0] = values[values.size() - 1] = level;
        Mixer_SetValues(in->mixer, ctrl.controlId, (unsigned)values.size(), 1, values.data());
    }
    Tcl_SetObjResult(interp, result);
    Tcl_DecrRefCount(result);
    return TCL_OK;
}

// Winaudio mixerSwitch handle ?line? ?{kind shortname}? ?value?
// Without a line, the lines; with one, its switches as {kind shortname}; with a switch,
// its state and name; with a value too, sets it.
int Winaudio_MixerSwitchCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *name = nullptr, *line = nullptr, *control = nullptr;
    int value = 0, given = 0;
    if (Cmds_ParseArgs(interp, 2, argc - 2, argv + 2, "handle %s line ?s control ?s value !i", &name, &line, &control,
                       &value, &given))
        return TCL_ERROR;
    WinaudioIn *in = GetMixerObject(interp, name);
    if (!in) return TCL_ERROR;
    if (!line) {
        Tcl_SetObjResult(interp, LineList(in));
        return TCL_OK;
    }
    const MixLine *l = FindLine(interp, in, line);
    if (!l) return TCL_ERROR;
    std::vector<MixControl> ctrls;
    int rc = AllControls(in->mixer, l->lineId, &ctrls);
    if (rc != MIX_OK) {
        SetMixerError(interp, rc);
        return TCL_ERROR;
    }
    if (!control) {
        Tcl_Obj *result = Tcl_NewListObj(0, nullptr);
        for (const MixControl &c : ctrls) {
            const char *kind = KindName(kSwitchKinds, 7, c.type);
            if (!kind) continue;
            Tcl_Obj *pair = Tcl_NewListObj(0, nullptr);
            Append(pair, kind);
            Append(pair, c.shortName);
            Tcl_ListObjAppendElement(nullptr, result, pair);
        }
        Tcl_SetObjResult(interp, result);
        return TCL_OK;
    }
    int n = 0;
    const char **parts = nullptr;
    if (Tcl_SplitList(interp, control, &n, &parts) != TCL_OK) return TCL_ERROR;
    std::string kindName = n > 0 ? parts[0] : "", shortName = n > 1 ? parts[1] : "";
    Tcl_Free((char *)parts);
    if (n != 2) {
        SetError(interp, "control parameter should be a list with two elements");
        return TCL_ERROR;
    }
    unsigned type = 0;
    for (const Kind &k : kSwitchKinds)
        if (kindName == k.name) type = k.type;
    if (!type) {
        SetError(interp, "\"" + kindName + "\" is not a valid switch control type");
        return TCL_ERROR;
    }
    const MixControl *found = nullptr;
    for (const MixControl &c : ctrls)
        if (c.type == type && shortName == c.shortName) {
            found = &c;
            break;
        }
    if (!found) {
        SetError(interp, std::string("mixer line \"") + line + "\" does not have a \"" + control + "\" control");
        return TCL_ERROR;
    }
    unsigned c, m;
    Shape(*found, *l, &c, &m);
    std::vector<long> values(c * m, 0);
    rc = Mixer_GetValues(in->mixer, found->controlId, c, m, values.data());
    if (rc != MIX_OK) {
        SetMixerError(interp, rc);
        return TCL_ERROR;
    }
    if (!given) {
        Tcl_Obj *result = Tcl_NewListObj(0, nullptr);
        Append(result, sspf(0, "%u", (unsigned)values[0]));
        Append(result, found->name);
        Tcl_SetObjResult(interp, result);
        return TCL_OK;
    }
    values[0] = value;
    rc = Mixer_SetValues(in->mixer, found->controlId, c, m, values.data());
    if (rc != MIX_OK) {
        SetMixerError(interp, rc);
        return TCL_ERROR;
    }
    Tcl_ResetResult(interp);
    return TCL_OK;
}

// Winaudio mixer handle
// A summary: "recordmute" of the first line named Mic..., its "volume", and "muxtype"
// with the recording-source control and the state of each of its items.
int Winaudio_MixerCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *name = nullptr;
    if (Cmds_ParseArgs(interp, 2, argc - 2, argv + 2, "handle %s", &name)) return TCL_ERROR;
    WinaudioIn *in = GetMixerObject(interp, name);
    if (!in) return TCL_ERROR;
    const MixLine *mic = nullptr;
    for (unsigned j = 0; j < in->destinationLine.connections && !mic; j++)
        if (strncmp(in->sourceLines[j].name, "Mic", 3) == 0) mic = &in->sourceLines[j];
    if (!mic) {
        SetError(interp, "mixer line \"Mic*\" not found");
        return TCL_ERROR;
    }
    Tcl_Obj *result = Tcl_NewListObj(0, nullptr);
    Tcl_IncrRefCount(result);
    Append(result, "recordmute");
    MixControl ctrl;
    if (Mixer_GetLineControlByType(in->mixer, mic->lineId, MIX_CTRL_MUTE, &ctrl) != MIX_OK) {
        Append(result, "0");
    } else {
        Append(result, "1");
        Append(result, "muted");
        Append(result, "0");
    }
    std::vector<long> values;
    if (AppendVolume(interp, in, *mic, result, &ctrl, &values) != TCL_OK) {
        Tcl_DecrRefCount(result);
        return TCL_ERROR;
    }
    Append(result, "muxtype");
    const MixLine &dest = in->destinationLine;
    bool found = false;
    for (const Kind &k : kListKinds) {
        if (Mixer_GetLineControlByType(in->mixer, dest.lineId, k.type, &ctrl) != MIX_OK) continue;
        found = true;
        Append(result, k.name);
        Append(result, "shortname");
        Append(result, ctrl.shortName);
        Append(result, "name");
        Append(result, ctrl.name);
        unsigned c, m;
        Shape(ctrl, dest, &c, &m);
        Texts texts(c * m);
        std::vector<long> v(c * m, 0);
        Mixer_GetListText(in->mixer, ctrl.controlId, c, m, texts.data());
        Mixer_GetValues(in->mixer, ctrl.controlId, c, m, v.data());
        for (unsigned item = 0; item < m; item++) {
            Append(result, std::string("mux_") + texts[item * c]);
            Append(result, sspf(0, "%i", (int)v[item * c]));
        }
        break;
    }
    if (!found) Append(result, "unknown");
    Tcl_SetObjResult(interp, result);
    Tcl_DecrRefCount(result);
    return TCL_OK;
}
