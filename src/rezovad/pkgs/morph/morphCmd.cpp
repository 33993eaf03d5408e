// Package "Morph" 1.1.0: the class Morph, derived from the OpenGL class,
// which draws scenes of morph-target objects. Scenes ("morph/scene"),
// lights ("morph/light") and objects ("morph/object") are registry objects
// shared by every Morph window of the interpreter; the methods name them.
// The OpenGL class makes the object's context current before each method.
#include <sys/resource.h>
#include <sys/time.h>
#include <tcl.h>
#include <tk.h>
#include <unistd.h>

#include <GL/gl.h>
#include <GL/glu.h>

#include <algorithm>
#include <cerrno>
#include <climits>

#include <cmath>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "cmds.h"
#include "container.h"
#include "morph.h"
#include "obj.h"
#include "oo.h"

using namespace morph;

namespace {

void FreeScene(void *r) { delete static_cast<Scene *>(r); }
void FreeLight(void *r) { delete static_cast<Light *>(r); }
void FreeObject(void *r) { delete static_cast<Object *>(r); }
const CntrType kSceneType = {"morph/scene", "scene", nullptr, FreeScene, nullptr, nullptr, nullptr, nullptr};
const CntrType kLightType = {"morph/light", "light", nullptr, FreeLight, nullptr, nullptr, nullptr, nullptr};
const CntrType kObjectType = {"morph/object", "object", nullptr, FreeObject, nullptr, nullptr, nullptr, nullptr};

// The time of the last show that gave one.
int32_t gShowTime = 0;

Scene *GetScene(Tcl_Interp *interp, const char *name) {
    return static_cast<Scene *>(Obj_GetData(interp, "morph/scene", name));
}
Light *GetLight(Tcl_Interp *interp, const char *name) {
    return static_cast<Light *>(Obj_GetData(interp, "morph/light", name));
}
Object *GetObject(Tcl_Interp *interp, const char *name) {
    return static_cast<Object *>(Obj_GetData(interp, "morph/object", name));
}
// The registry type of a name, or null (no message).
const char *TypeOf(Tcl_Interp *interp, const char *name) {
    ObjEntry *e = Obj_Get(interp, nullptr, name);
    Tcl_ResetResult(interp);
    return e ? e->type->name : nullptr;
}

int Fail(Tcl_Interp *interp, const std::string &msg) {
    Tcl_SetObjResult(interp, Tcl_NewStringObj(msg.c_str(), -1));
    return TCL_ERROR;
}

// Owns a Tcl_SplitList array.
struct Split {
    int argc = 0;
    const char **argv = nullptr;
    ~Split() { Tcl_Free((char *)argv); }
    bool Parse(Tcl_Interp *interp, const char *text) {
        Tcl_Free((char *)argv);
        argv = nullptr;
        return Tcl_SplitList(interp, text, &argc, &argv) == TCL_OK;
    }
};

// Exactly n numbers; false with the message of the caller's choice (or
// the interpreter's, for a word that is no number).
bool ReadFloats(Tcl_Interp *interp, const char *text, int n, float *out, const std::string &countMsg) {
    Split s;
    if (!s.Parse(interp, text)) return false;
    if (s.argc != n) {
        Fail(interp, countMsg);
        return false;
    }
    for (int i = 0; i < n; i++) {
        double d;
        if (Tcl_GetDouble(interp, s.argv[i], &d) != TCL_OK) return false;
        out[i] = (float)d;
    }
    return true;
}

void AppendReal(Tcl_Obj *list, double v) {
    char buf[TCL_DOUBLE_SPACE];
    Tcl_PrintDouble(nullptr, v, buf);
    Tcl_ListObjAppendElement(nullptr, list, Tcl_NewStringObj(buf, -1));
}
Tcl_Obj *Reals(const float *v, int n) {
    Tcl_Obj *l = Tcl_NewListObj(0, nullptr);
    for (int i = 0; i < n; i++) AppendReal(l, v[i]);
    return l;
}
void Pair(Tcl_Obj *list, const char *option, Tcl_Obj *value) {
    Tcl_ListObjAppendElement(nullptr, list, Tcl_NewStringObj(option, -1));
    Tcl_ListObjAppendElement(nullptr, list, value);
}
Tcl_Obj *Real(double v) {
    char buf[TCL_DOUBLE_SPACE];
    Tcl_PrintDouble(nullptr, v, buf);
    return Tcl_NewStringObj(buf, -1);
}

// Runs the check, leaving its messages (if any) as the result.
bool Check(Tcl_Interp *interp, Object *o) {
    std::string msg;
    bool problem = Morph_CheckObject(o, &msg);
    Tcl_SetObjResult(interp, Tcl_NewStringObj(msg.c_str(), -1));
    return !problem;
}

// ---------------------------------------------------------------- scenes

// obj newscene
// A new scene with the default settings; answers its name.
int NewSceneCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    if (Cmds_ParseArgs(interp, 2, argc - 2, argv + 2, "")) return TCL_ERROR;
    Scene *s = new Scene;
    if (Obj_Create(interp, "morph/scene", s) != TCL_OK) {
        delete s;
        return TCL_ERROR;
    }
    return TCL_OK;
}

// obj add scene sceneobject
// Appends a light (at most 8) or a checked object to the scene.
int AddCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    char *scene, *name;
    if (Cmds_ParseArgs(interp, 2, argc - 2, argv + 2, "scene %s sceneobject %s", &scene, &name)) return TCL_ERROR;
    Scene *s = GetScene(interp, scene);
    if (!s) return TCL_ERROR;
    const char *type = TypeOf(interp, name);
    if (type && !strcmp(type, "morph/light")) {
        if (s->lights.size() >= 8) return Fail(interp, "Too many lights for openGL (8 allowed)");
        s->lights.push_back(name);
        GetLight(interp, name)->changed = 1;
    } else if (type && !strcmp(type, "morph/object")) {
        Object *o = GetObject(interp, name);
        if (!Check(interp, o)) return TCL_ERROR;
        s->objects.push_back(name);
        s->smooth = s->texture = 1;
    } else {
        return Fail(interp, std::string("Unknown object type for: \"") + name + "\"");
    }
    s->changed = 1;
    Tcl_ResetResult(interp);
    return TCL_OK;
}

// obj remove scene sceneobject
// Removes the first light of that name, else the first object.
int RemoveCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    char *scene, *name;
    if (Cmds_ParseArgs(interp, 2, argc - 2, argv + 2, "scene %s sceneobject %s", &scene, &name)) return TCL_ERROR;
    Scene *s = GetScene(interp, scene);
    if (!s) return TCL_ERROR;
    for (auto *list : {&s->lights, &s->objects})
        for (auto it = list->begin(); it != list->end(); ++it)
            if (*it == name) {
                list->erase(it);
                s->changed = 1;
                return TCL_OK;
            }
    return Fail(interp, std::string("Unknown object: \"") + name + "\"");
}

// Removes the transition targets that a failed replace appended.
void DropTransitions(std::vector<std::pair<Object *, size_t>> &added) {
    for (auto a = added.rbegin(); a != added.rend(); ++a) {
        a->first->targets.erase(a->first->targets.begin() + a->second);
        Morph_BuildTargetRuns(a->first);
    }
}

// obj replace scene oldobjs newobjs starttime duration
// Each new object gets a target "transition_morph" that starts in the shape
// of the mapped old vertices and morphs into its own over the duration; the
// new objects then take the old ones' place in the scene.
int ReplaceCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    char *scene, *oldText, *newText;
    int start, duration;
    if (Cmds_ParseArgs(interp, 2, argc - 2, argv + 2, "scene %s oldobjs %s newobjs %s starttime %i duration %i",
                       &scene, &oldText, &newText, &start, &duration))
        return TCL_ERROR;
    Scene *s = GetScene(interp, scene);
    if (!s) return TCL_ERROR;
    Split olds, news;
    if (!olds.Parse(interp, oldText) || !news.Parse(interp, newText)) return TCL_ERROR;
    std::vector<Object *> oldObjs;
    for (int i = 0; i < olds.argc; i++) {
        bool inScene = false;
        for (auto &n : s->objects) inScene |= n == olds.argv[i];
        Object *o = inScene ? GetObject(interp, olds.argv[i]) : nullptr;
        if (!o) return Fail(interp, std::string("Object ") + olds.argv[i] + " is not part of the scene");
        oldObjs.push_back(o);
    }
    // Every entry is read before anything changes.
    std::vector<Object *> newObjs;
    std::vector<std::string> newNames;
    for (int i = 0; i < news.argc; i++) {
        Split e;
        if (!e.Parse(interp, news.argv[i])) return TCL_ERROR;
        if (e.argc != 2)
            return Fail(interp, std::string("Expecting target_object {{source_object {vertices}} ...}, not: ") +
                                    news.argv[i]);
        Object *o = GetObject(interp, e.argv[0]);
        if (!o) return TCL_ERROR;
        if (o->targets.empty()) return Fail(interp, std::string("Object ") + e.argv[0] + " has no vertices");
        newObjs.push_back(o);
        newNames.push_back(e.argv[0]);
    }
    std::vector<std::pair<Object *, size_t>> added;
    for (int i = 0; i < news.argc; i++) {
        Object *o = newObjs[i];
        Split e, maps;
        e.Parse(interp, news.argv[i]);
        if (!maps.Parse(interp, e.argv[1]) || !Check(interp, o)) {
            DropTransitions(added);
            return TCL_ERROR;
        }
        Target t;
        t.name = "transition_morph";
        t.coords.assign(3 * (size_t)o->vertexCount, 0.0f);
        t.normals.assign(3 * (size_t)o->vertexCount, 0.0f);
        t.runStarts = {0};
        t.runEnds = {3 * o->vertexCount};
        t.tracks = true;
        o->targets.push_back(t);
        added.push_back({o, o->targets.size() - 1});
        Morph_BuildTargetRuns(o);
        Target &tr = o->targets.back();
        const Target &nb = o->targets[0];
        for (int m = 0; m < maps.argc; m++) {
            Split map, verts;
            if (!map.Parse(interp, maps.argv[m])) {
                DropTransitions(added);
                return TCL_ERROR;
            }
            if (map.argc != 2) {
                DropTransitions(added);
                return Fail(interp, std::string("Expecting {{source_object {vertices}} ...}, not: ") + maps.argv[m]);
            }
            int oldIndex;
            if (Tcl_GetInt(interp, map.argv[0], &oldIndex) != TCL_OK || !verts.Parse(interp, map.argv[1])) {
                DropTransitions(added);
                return TCL_ERROR;
            }
            if (oldIndex < 0 || oldIndex >= (int)oldObjs.size()) {
                DropTransitions(added);
                return Fail(interp, "old object index " + std::string(map.argv[0]) + " is out of range");
            }
            Object *old = oldObjs[oldIndex];
            if (verts.argc > o->vertexCount) {
                DropTransitions(added);
                return Fail(interp, "Number of mappings is out of range");
            }
            for (int p = 0; p < verts.argc; p++) {
                int v;
                if (Tcl_GetInt(interp, verts.argv[p], &v) != TCL_OK) {
                    DropTransitions(added);
                    return TCL_ERROR;
                }
                if (v < 0 || v >= old->vertexCount || old->targets.empty()) {
                    DropTransitions(added);
                    return Fail(interp, "mapping vertex is out of range");
                }
                const std::vector<float> &oc = old->targets[0].coords, &on = old->targets[0].normals;
                for (int a = 0; a < 3; a++) {
                    tr.coords[3 * p + a] = oc[3 * v + a] - nb.coords[3 * p + a];
                    // An old object packed since its check has no normals.
                    float n = (size_t)(3 * v + a) < on.size() ? on[3 * v + a] : nb.normals[3 * p + a];
                    tr.normals[3 * p + a] = n - nb.normals[3 * p + a];
                }
            }
        }
        tr.keys = {{1.0f, start}, {0.0f, (int32_t)std::max<int64_t>(INT32_MIN, std::min<int64_t>(INT32_MAX, (int64_t)start + duration))}};
        Morph_SortTrackKeys(&tr.keys);
    }
    s->objects = newNames;
    s->changed = 1;
    Tcl_ResetResult(interp);
    return TCL_OK;
}

// obj sceneinfo ?-perspective? ... ?-prof? scene
// Reports the asked settings (all when none is asked) as option/value pairs.
int SceneInfoCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    int cam, vp, bg, bgi, sm, tx, aa, wf, tf, li, ob, pr, pe, cu;
    char *scene;
    if (Cmds_ParseArgs(interp, 2, argc - 2, argv + 2,
                       "-camerapos %n -viewport %n -bg %n -bgimage %n -smoothing %n -textures %n -antialias %n "
                       "-wireframe %n -texturefilter %n -lights %n -objects %n -prof %n -perspective %n -cull %n "
                       "scene %s",
                       &cam, &vp, &bg, &bgi, &sm, &tx, &aa, &wf, &tf, &li, &ob, &pr, &pe, &cu, &scene))
        return TCL_ERROR;
    Scene *s = GetScene(interp, scene);
    if (!s) return TCL_ERROR;
    if (!(cam | vp | bg | bgi | sm | tx | aa | wf | tf | li | ob | pr | pe | cu))
        cam = vp = bg = bgi = sm = tx = aa = wf = tf = li = ob = pr = pe = cu = 1;
    Tcl_Obj *r = Tcl_NewListObj(0, nullptr);
    if (pe) Pair(r, "-perspective", Reals(s->projection, 4));
    if (cam) Pair(r, "-camerapos", Reals(s->camera, 3));
    if (vp) Pair(r, "-viewport", Tcl_ObjPrintf("%d %d %d %d", s->viewport[0], s->viewport[1], s->viewport[2], s->viewport[3]));
    if (bg) Pair(r, "-bg", Reals(s->bg, 4));
    if (bgi)
        Pair(r, "-bgimage",
             s->bgPixels.empty() ? Tcl_NewListObj(0, nullptr)
                                 : Tcl_ObjPrintf("%d %d %f %f %f", s->bgWidth, s->bgHeight, s->bgXScale, s->bgYScale,
                                                 s->bgTile));
    if (sm) Pair(r, "-smoothing", Real(s->smooth));
    if (tx) Pair(r, "-textures", Real(s->texture));
    if (aa) Pair(r, "-antialias", Real(s->antialias));
    if (wf) Pair(r, "-wireframe", Real(s->wireframe));
    if (cu) Pair(r, "-cull", Real(s->cull));
    if (tf) Pair(r, "-texturefilter", Tcl_NewStringObj(s->textureFilter == 9729 ? "linear" : "nearest", -1));
    auto names = [](const std::vector<std::string> &v) {
        Tcl_Obj *l = Tcl_NewListObj(0, nullptr);
        for (auto &n : v) Tcl_ListObjAppendElement(nullptr, l, Tcl_NewStringObj(n.c_str(), -1));
        return l;
    };
    if (li) Pair(r, "-lights", names(s->lights));
    if (ob) Pair(r, "-objects", names(s->objects));
    if (pr) {
        double n = s->frameCount, t = s->frameTime;
        Pair(r, "-prof",
             Tcl_ObjPrintf("frame %.3f fps %.2f count %.0f", n ? t * 0.0001 / n : 0.0, t ? n / (t * 1e-7) : 0.0, n));
    }
    Tcl_SetObjResult(interp, r);
    return TCL_OK;
}

// obj smooth|texture|wireframe|cull scene ?state?
// Sets the switch when a state is given; answers it.
int SwitchCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    char *scene, *state = nullptr;
    if (Cmds_ParseArgs(interp, 2, argc - 2, argv + 2, "scene %s state ?s", &scene, &state)) return TCL_ERROR;
    Scene *s = GetScene(interp, scene);
    if (!s) return TCL_ERROR;
    const char *m = argv[3];
    int32_t *field = !strcmp(m, "smooth")    ? &s->smooth
                     : !strcmp(m, "texture") ? &s->texture
                     : !strcmp(m, "cull")    ? &s->cull
                                             : &s->wireframe;
    if (state) {
        int b;
        if (Tcl_GetBoolean(interp, state, &b) != TCL_OK) return TCL_ERROR;
        if (field == &s->smooth || *field != b) s->changed = 1;
        *field = b;
    }
    Tcl_SetObjResult(interp, Tcl_NewIntObj(*field));
    return TCL_OK;
}

// obj antialias ?-repetitions n? scene ?state?
// Turns the jittered passes on (2 to 5) or off; answers the passes.
int AntialiasCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    int reps = 2;
    char *scene, *state = nullptr;
    if (Cmds_ParseArgs(interp, 2, argc - 2, argv + 2, "-repetitions %i scene %s state ?s", &reps, &scene, &state))
        return TCL_ERROR;
    Scene *s = GetScene(interp, scene);
    if (!s) return TCL_ERROR;
    if (state) {
        int b;
        if (Tcl_GetBoolean(interp, state, &b) != TCL_OK) return TCL_ERROR;
        if (b && !s->antialias) {
            s->antialias = std::min(5, std::max(2, reps));
            s->changed = 1;
        } else if (!b && s->antialias) {
            s->antialias = 0;
            s->changed = 1;
        }
        if (s->antialias && s->projectionMode == -1) {
            s->antialias = 0;
            return Fail(interp, "Set the scene perspective view first");
        }
    }
    Tcl_SetObjResult(interp, Tcl_NewIntObj(s->antialias));
    return TCL_OK;
}

// obj texturefilter scene ?linear|nearest?
int TextureFilterCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    char *scene, *state = nullptr;
    if (Cmds_ParseArgs(interp, 2, argc - 2, argv + 2, "scene %s state ?s", &scene, &state)) return TCL_ERROR;
    Scene *s = GetScene(interp, scene);
    if (!s) return TCL_ERROR;
    if (state) {
        int v = !strcmp(state, "linear") ? 9729 : !strcmp(state, "nearest") ? 9728 : 0;
        if (!v) return Fail(interp, std::string("expecting linear or nearest, not ") + state);
        if (v != s->textureFilter) s->changed = 1;
        s->textureFilter = v;
    }
    Tcl_SetObjResult(interp, Tcl_NewStringObj(s->textureFilter == 9729 ? "linear" : "nearest", -1));
    return TCL_OK;
}

// obj bg scene r g b ?a?
// The clear colour; components above 1 are taken as 0-255 (or larger)
// scales. Answers the stored colour.
int BgCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    char *scene;
    float c[4] = {0, 0, 0, 0};
    if (Cmds_ParseArgs(interp, 2, argc - 2, argv + 2, "scene %s r %f g %f b %f a ?f", &scene, &c[0], &c[1], &c[2],
                       &c[3]))
        return TCL_ERROR;
    Scene *s = GetScene(interp, scene);
    if (!s) return TCL_ERROR;
    for (int i = 0; i < 4; i++) {
        float v = std::fabs(c[i]);
        if (!std::isfinite(v)) return Fail(interp, "colour components must be finite numbers");
        while (v > 1) v /= 256;
        s->bg[i] = v;
    }
    s->changed = 1;
    Tcl_SetObjResult(interp, Tcl_ObjPrintf("%f %f %f %f", s->bg[0], s->bg[1], s->bg[2], s->bg[3]));
    return TCL_OK;
}

// ---------------------------------------------------------------- photos

// The photo of that name, or null with "Image "x" not found.".
Tk_PhotoHandle FindPhoto(Tcl_Interp *interp, const char *name) {
    Tk_PhotoHandle h = nullptr;
    if (Tcl_PkgPresent(interp, "Tk", nullptr, 0) && Tk_MainWindow(interp)) h = Tk_FindPhoto(interp, name);
    if (!h) Fail(interp, std::string("Image \"") + name + "\" not found.");
    return h;
}

// Writes RGBA pixels (top row first) into a photo, grown to hold them.
int PutPhoto(Tcl_Interp *interp, const char *name, int w, int h, const std::vector<uint8_t> &pixels) {
    Tk_PhotoHandle ph = FindPhoto(interp, name);
    if (!ph) return TCL_ERROR;
    if (w <= 0 || h <= 0) return Fail(interp, "no pixels to copy");
    if (Tk_PhotoExpand(interp, ph, w, h) != TCL_OK) return TCL_ERROR;
    Tk_PhotoImageBlock b;
    b.pixelPtr = const_cast<unsigned char *>(pixels.data());
    b.width = w, b.height = h, b.pitch = 4 * w, b.pixelSize = 4;
    b.offset[0] = 0, b.offset[1] = 1, b.offset[2] = 2, b.offset[3] = 3;
    return Tk_PhotoPutBlock(interp, ph, &b, 0, 0, w, h, TK_PHOTO_COMPOSITE_SET);
}

// obj bgimage ?-scale f? ?-aspect f? ?-tile f? scene ?image?
// Copies a photo into the scene's background (none without an image).
int BgImageCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    float scale = 1, aspect = -1, tile = 1;
    char *scene, *image = nullptr;
    if (Cmds_ParseArgs(interp, 2, argc - 2, argv + 2, "-scale %f -aspect %f -tile %f scene %s image ?s", &scale,
                       &aspect, &tile, &scene, &image))
        return TCL_ERROR;
    Scene *s = GetScene(interp, scene);
    if (!s) return TCL_ERROR;
    if (!image) {
        s->bgPixels.clear();
        s->bgWidth = s->bgHeight = 0;
        s->changed = 1;
        return TCL_OK;
    }
    // The photo is found before the old background goes: a wrong name
    // loses nothing.
    Tk_PhotoHandle ph = FindPhoto(interp, image);
    if (!ph) return TCL_ERROR;
    Tk_PhotoImageBlock b;
    Tk_PhotoGetImage(ph, &b);
    if (b.width <= 0 || b.height <= 0) return Fail(interp, std::string("image \"") + image + "\" is empty");
    if (aspect <= 0) aspect = (float)b.height / b.width;
    int32_t W = Morph_PowerOfTwo(b.width), H = Morph_PowerOfTwo(b.height);
    s->bgPixels.assign((size_t)W * H * 4, 0);
    s->bgTexture = 0;
    s->bgXScale = scale / aspect, s->bgYScale = scale, s->bgTile = tile;
    uint8_t *out = s->bgPixels.data();
    for (int y = 0; y < b.height; y++)
        for (int x = 0; x < b.width; x++, out += 4) {
            const unsigned char *p = b.pixelPtr + (size_t)y * b.pitch + (size_t)x * b.pixelSize;
            out[0] = p[b.offset[0]], out[1] = p[b.offset[1]], out[2] = p[b.offset[2]];
            out[3] = b.pixelSize > 3 ? p[b.offset[3]] : 255;
        }
    s->bgWidth = b.width, s->bgHeight = b.height;
    s->changed = 1;
    Tcl_SetObjResult(interp, Tcl_NewStringObj(image, -1));
    return TCL_OK;
}

// obj getbgimage scene targetimg
// Copies the background image into a photo.
int GetBgImageCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    char *scene, *image;
    if (Cmds_ParseArgs(interp, 2, argc - 2, argv + 2, "scene %s targetimg %s", &scene, &image)) return TCL_ERROR;
    Scene *s = GetScene(interp, scene);
    if (!s) return TCL_ERROR;
    std::vector<uint8_t> packed(s->bgPixels.begin(),
                                s->bgPixels.begin() + std::min(s->bgPixels.size(), (size_t)s->bgWidth * s->bgHeight * 4));
    return PutPhoto(interp, image, s->bgWidth, s->bgHeight, packed);
}

// obj gettexture object texture targetimg
// Copies a texture map into a photo.
int GetTextureCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    char *obj, *image;
    int index;
    if (Cmds_ParseArgs(interp, 2, argc - 2, argv + 2, "object %s texture %i targetimg %s", &obj, &index, &image))
        return TCL_ERROR;
    Object *o = GetObject(interp, obj);
    if (!o) return TCL_ERROR;
    if (index < 0 || index >= (int)o->textures.size()) return Fail(interp, "texture index out of range");
    const Texture &t = o->textures[index];
    return PutPhoto(interp, image, t.width, t.height, t.pixels);
}

// obj objtexturereduce object texture xfac yfac ?scene?
// Scales a texture map down by box means (factors in (0, 1]).
int ObjTextureReduceCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    char *obj, *scene = nullptr;
    int index;
    float xf, yf;
    if (Cmds_ParseArgs(interp, 2, argc - 2, argv + 2, "object %s texture %i xfac %f yfac %f scene ?s", &obj, &index,
                       &xf, &yf, &scene))
        return TCL_ERROR;
    Object *o = GetObject(interp, obj);
    if (!o) return TCL_ERROR;
    Scene *s = scene ? GetScene(interp, scene) : nullptr;
    if (scene && !s) return TCL_ERROR;
    if (index < 0 || index >= (int)o->textures.size()) return Fail(interp, "texture index out of range");
    if (!(xf > 0 && xf <= 1 && yf > 0 && yf <= 1)) return Fail(interp, "reduction factors must lie in (0, 1]");
    if (s) s->changed = 1;
    Texture &t = o->textures[index];
    if (t.glName >= 0) {
        GLuint n = t.glName;
        glDeleteTextures(1, &n);
    }
    Morph_ReduceTexture(&t, xf, yf);
    if (t.pixels.empty())
        for (Material &m : o->materials)
            if (m.textureIndex == index) m.textureIndex = -1;
    return TCL_OK;
}

// ---------------------------------------------------------------- lights

bool ParseLightOptions(Tcl_Interp *interp, Light *l, const char *color, const char *specular, const char *position,
                       const char *direction, float exponent, float cutoff, float att, float lin, float quad) {
    float c[4], sp[4], pos[3], dir[3];
    if (color && !ReadFloats(interp, color, 4, c, std::string("Expecting colorlist: R G B A, not this: ") + color))
        return false;
    if (specular &&
        !ReadFloats(interp, specular, 4, sp, std::string("Expecting colorlist: R G B A, not this: ") + specular))
        return false;
    if (position &&
        !ReadFloats(interp, position, 3, pos, std::string("Expecting vertexlist: X Y Z, not this: ") + position))
        return false;
    if (direction &&
        !ReadFloats(interp, direction, 3, dir, std::string("Expecting vertexlist: X Y Z, not this: ") + direction))
        return false;
    if (color) std::copy(c, c + 4, l->color);
    if (specular) std::copy(sp, sp + 4, l->specular);
    switch (l->type) {
        case kAmbient:
            l->position[3] = l->spotExponent = l->constant = l->linear = l->quadratic = l->spotDirection[3] = 0;
            l->spotCutoff = 360;
            break;
        case kDirectional:
            if (direction) std::copy(dir, dir + 3, l->position);
            l->position[3] = l->spotExponent = l->constant = l->linear = l->quadratic = 0;
            l->spotCutoff = 180;
            break;
        case kOmni:
            if (position) std::copy(pos, pos + 3, l->position);
            l->position[3] = 1;
            l->spotCutoff = 180;
            if (exponent >= 0) l->spotExponent = 0;
            if (att >= 0) l->constant = att;
            if (lin >= 0) l->linear = lin;
            if (quad >= 0) l->quadratic = quad;
            break;
        default:
            if (position) std::copy(pos, pos + 3, l->position);
            if (direction) std::copy(dir, dir + 3, l->spotDirection);
            l->position[3] = 1;
            if (exponent >= 0) l->spotExponent = exponent;
            if (cutoff < 360) l->spotCutoff = cutoff;
            if (att >= 0) l->constant = att;
            if (lin >= 0) l->linear = lin;
            if (quad >= 0) l->quadratic = quad;
    }
    l->changed = 1;
    return true;
}

const char *kTypeNames[] = {"ambient", "directional", "omni", "spot"};

// Flags: type, colour, specular, position, direction, exponent, cutoff,
// attenuation, linear, quadratic.
void FormatLightInfo(Tcl_Interp *interp, const Light *l, int f[10]) {
    if (l->type == kAmbient) f[3] = f[4] = f[5] = f[6] = f[7] = f[8] = f[9] = 0;
    if (l->type == kDirectional) f[3] = f[5] = f[6] = f[7] = f[8] = f[9] = 0;
    if (l->type == kOmni) f[5] = f[6] = 0;
    Tcl_Obj *r = Tcl_NewListObj(0, nullptr);
    if (f[0]) Pair(r, "-type", Tcl_NewStringObj(kTypeNames[l->type], -1));
    if (f[1]) Pair(r, "-color", Reals(l->color, 4));
    if (f[2]) Pair(r, "-specular", Reals(l->specular, 4));
    if (f[3]) Pair(r, "-position", Reals(l->position, 3));
    if (f[4]) Pair(r, "-direction", Reals(l->type == kDirectional ? l->position : l->spotDirection, 3));
    if (f[5]) Pair(r, "-spotExponent", Real(l->spotExponent));
    if (f[6]) Pair(r, "-spotCutoff", Real(l->spotCutoff));
    if (f[7]) Pair(r, "-attenuation", Real(l->constant));
    if (f[8]) Pair(r, "-linearAttenuation", Real(l->linear));
    if (f[9]) Pair(r, "-quadraticAttenuation", Real(l->quadratic));
    Tcl_SetObjResult(interp, r);
}

// obj newlight ?options? type color
// A new light of type ambient, directional, omni or (any other word) spot.
int NewLightCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    char *position = nullptr, *direction = nullptr, *specular = nullptr, *type, *color;
    float exponent = 0, cutoff = 180, att = 0, lin = 0, quad = 0;
    if (Cmds_ParseArgs(interp, 2, argc - 2, argv + 2,
                       "-position %s -direction %s -spotExponent %f -spotCutoff %f -attenuation %f "
                       "-linearAttenuation %f -quadraticAttenuation %f -specular %s type %s color %s",
                       &position, &direction, &exponent, &cutoff, &att, &lin, &quad, &specular, &type, &color))
        return TCL_ERROR;
    auto l = std::make_unique<Light>();
    bool attGiven = att != 0 || lin != 0 || quad != 0, spotGiven = exponent != 0 || cutoff != 180;
    if (!strcmp(type, "ambient")) {
        l->type = kAmbient;
        if (position || direction || spotGiven || attGiven)
            return Fail(interp, "Only the color of an ambient light can be specified.");
    } else if (!strcmp(type, "directional")) {
        l->type = kDirectional;
        if (position || spotGiven || attGiven)
            return Fail(interp, "Only the color, direction and attenuation of a directional light can be specified.");
    } else if (!strcmp(type, "omni")) {
        l->type = kOmni;
        if (direction || spotGiven) return Fail(interp, "An omni light does not have direction, falloff or cutoff..");
    } else {
        l->type = kSpot;
    }
    if (!ParseLightOptions(interp, l.get(), color, specular ? specular : "0 0 0 1", position, direction, exponent,
                           cutoff, att, lin, quad))
        return TCL_ERROR;
    if (Obj_Create(interp, "morph/light", l.get()) != TCL_OK) return TCL_ERROR;
    l.release();
    return TCL_OK;
}

// obj lightconfigure ?options? light
// Changes what the light's type allows; answers what was given.
int LightConfigureCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    char *position = nullptr, *direction = nullptr, *specular = nullptr, *color = nullptr, *name;
    float exponent = -1, cutoff = 360, att = -1, lin = -1, quad = -1;
    if (Cmds_ParseArgs(interp, 2, argc - 2, argv + 2,
                       "-position %s -direction %s -spotExponent %f -spotCutoff %f -attenuation %f "
                       "-linearAttenuation %f -quadraticAttenuation %f -color %s -specular %s lightob %s",
                       &position, &direction, &exponent, &cutoff, &att, &lin, &quad, &color, &specular, &name))
        return TCL_ERROR;
    Light *l = GetLight(interp, name);
    if (!l) return TCL_ERROR;
    bool attGiven = att >= 0 || lin >= 0 || quad >= 0, spotGiven = exponent >= 0 || cutoff != 360;
    if (l->type == kAmbient && (position || direction || spotGiven || attGiven))
        return Fail(interp, "Only the color of an ambient light can be changed.");
    if (l->type == kDirectional && (position || spotGiven || attGiven))
        return Fail(interp, "Only the color, direction and attenuation of a directional light can be changed.");
    if (l->type == kOmni && (direction || spotGiven))
        return Fail(interp, "An omni light does not have direction, falloff or cutoff.");
    // Nothing changes unless every given list reads.
    Light copy = *l;
    if (!ParseLightOptions(interp, &copy, color, specular, position, direction, exponent, cutoff, att, lin, quad))
        return TCL_ERROR;
    *l = copy;
    int f[10] = {0, color != nullptr, specular != nullptr, position != nullptr, direction != nullptr,
                 exponent >= 0, cutoff != 360, att >= 0, lin >= 0, quad >= 0};
    if (l->type == kOmni) f[4] = 0;
    FormatLightInfo(interp, l, f);
    return TCL_OK;
}

// obj lightinfo ?-color? ... ?-type? light
int LightInfoCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    int f[10];
    char *name;
    if (Cmds_ParseArgs(interp, 2, argc - 2, argv + 2,
                       "-color %n -specular %n -position %n -direction %n -spotExponent %n -spotCutoff %n "
                       "-attenuation %n -linearAttenuation %n -quadraticAttenuation %n -type %n light %s",
                       &f[1], &f[2], &f[3], &f[4], &f[5], &f[6], &f[7], &f[8], &f[9], &f[0], &name))
        return TCL_ERROR;
    Light *l = GetLight(interp, name);
    if (!l) return TCL_ERROR;
    bool any = false;
    for (int i = 0; i < 10; i++) any |= f[i] != 0;
    if (!any)
        for (int i = 0; i < 10; i++) f[i] = 1;
    FormatLightInfo(interp, l, f);
    return TCL_OK;
}

// ---------------------------------------------------------------- objects

bool ReadMaterial(Tcl_Interp *interp, const char *entry, Material *m, std::string *file) {
    Split e;
    if (!e.Parse(interp, entry)) return false;
    if (e.argc != 9) {
        Fail(interp, std::string("Material specification syntax error: \"") + entry + "\"");
        return false;
    }
    m->name = e.argv[0];
    if (!ReadFloats(interp, e.argv[1], 4, m->ambient,
                    std::string("Ambient color specification syntax error: \"") + e.argv[1] + "\" in \"" + entry +
                        "\""))
        return false;
    if (!ReadFloats(interp, e.argv[2], 4, m->diffuse,
                    std::string("Diffuse color specification syntax error: \"") + e.argv[2] + "\""))
        return false;
    if (!ReadFloats(interp, e.argv[3], 4, m->specular,
                    std::string("Specular color specification syntax error: \"") + e.argv[3] + "\""))
        return false;
    if (!ReadFloats(interp, e.argv[4], 4, m->emissive,
                    std::string("Emissive color specification syntax error: \"") + e.argv[4] + "\""))
        return false;
    double sh;
    if (Tcl_GetDouble(interp, e.argv[5], &sh) != TCL_OK) return false;
    m->shininess = (float)sh;
    *file = e.argv[6];
    return Tcl_GetInt(interp, e.argv[7], &m->faceStart) == TCL_OK &&
           Tcl_GetInt(interp, e.argv[8], &m->faceCount) == TCL_OK;
}

// obj objcreate name materials textures faces vertices
// Builds, checks and registers an object; answers its name. JPEG texture
// files are not read in a safe interpreter.
int ObjCreateCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    char *name, *matText, *texText, *faceText, *vertText;
    if (Cmds_ParseArgs(interp, 2, argc - 2, argv + 2, "name %s materials %s textures %s faces %s vertices %s", &name,
                       &matText, &texText, &faceText, &vertText))
        return TCL_ERROR;
    auto o = std::make_unique<Object>();
    o->name = name;
    Split mats;
    if (!mats.Parse(interp, matText)) return TCL_ERROR;
    std::vector<std::string> files(mats.argc);
    for (int i = 0; i < mats.argc; i++) {
        Material m;
        if (!ReadMaterial(interp, mats.argv[i], &m, &files[i])) return TCL_ERROR;
        o->materials.push_back(m);
    }
    int textured = 0;
    for (auto &f : files) textured += !f.empty();
    if (textured && Cmds_RefuseInSafe(interp, argv[2], argv[3])) return TCL_ERROR;
    for (int i = 0; i < mats.argc; i++) {
        if (files[i].empty()) continue;
        Texture t;
        std::string msg;
        if (!Morph_ReadJpeg(files[i], &t, &msg)) return Fail(interp, msg);
        o->materials[i].textureIndex = (int32_t)o->textures.size();
        o->materials[i].textureEnabled = 1;
        o->textures.push_back(std::move(t));
    }
    Split faces;
    if (!faces.Parse(interp, faceText)) return TCL_ERROR;
    o->indices.reserve(3 * (size_t)faces.argc);
    for (int i = 0; i < faces.argc; i++) {
        Split f;
        if (!f.Parse(interp, faces.argv[i])) return TCL_ERROR;
        if (f.argc != 3) return Fail(interp, std::string("Cannot deal with non-triangle faces: \"") + faces.argv[i] + "\"");
        for (int c = 0; c < 3; c++) {
            int v;
            if (Tcl_GetInt(interp, f.argv[c], &v) != TCL_OK) return TCL_ERROR;
            o->indices.push_back(v);
        }
    }
    Split shapes;
    if (!shapes.Parse(interp, vertText)) return TCL_ERROR;
    for (int i = 0; i < shapes.argc; i++) {
        Split e, verts;
        if (!e.Parse(interp, shapes.argv[i])) return TCL_ERROR;
        if (e.argc != 2)
            return Fail(interp, std::string("syntax error, expecting name and vertices: \"") + shapes.argv[i] + "\"");
        if (!verts.Parse(interp, e.argv[1])) return TCL_ERROR;
        if (i == 0) o->vertexCount = verts.argc;
        if (verts.argc != o->vertexCount) return Fail(interp, "targets must have an equal number of vertices");
        Target t;
        t.name = e.argv[0];
        t.coords.resize(3 * (size_t)verts.argc);
        for (int v = 0; v < verts.argc; v++) {
            float xyz[3];
            if (!ReadFloats(interp, verts.argv[v], 3, xyz,
                            std::string("expecting vertex triplet, not: \"") + verts.argv[v] + "\""))
                return TCL_ERROR;
            for (int a = 0; a < 3; a++) t.coords[3 * v + a] = i ? xyz[a] - o->targets[0].coords[3 * v + a] : xyz[a];
        }
        o->targets.push_back(std::move(t));
    }
    if (textured && !o->materials.empty()) {
        Split uv;
        if (!uv.Parse(interp, texText)) return TCL_ERROR;
        if (uv.argc != o->vertexCount) return Fail(interp, "must have equal one texture coordinate per vertex!");
        std::vector<float> &out = o->materials[0].uv;
        out.resize(2 * (size_t)uv.argc);
        for (int v = 0; v < uv.argc; v++)
            if (!ReadFloats(interp, uv.argv[v], 2, &out[2 * v],
                            std::string("syntax error, expecting two texture coordinates, not: \"") + uv.argv[v] +
                                "\""))
                return TCL_ERROR;
    }
    Morph_ComputeBoundingBox(o.get());
    if (!Check(interp, o.get())) return TCL_ERROR;
    if (Obj_Create(interp, "morph/object", o.get()) != TCL_OK) return TCL_ERROR;
    o.release();
    return TCL_OK;
}

// obj objcheck object
// Runs the check; answers "ok", else fails with its messages.
int ObjCheckCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    char *name;
    if (Cmds_ParseArgs(interp, 2, argc - 2, argv + 2, "object %s", &name)) return TCL_ERROR;
    Object *o = GetObject(interp, name);
    if (!o) return TCL_ERROR;
    if (!Check(interp, o)) return TCL_ERROR;
    Tcl_SetObjResult(interp, Tcl_NewStringObj("ok", -1));
    return TCL_OK;
}

// obj objnormals object
int ObjNormalsCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    char *name;
    if (Cmds_ParseArgs(interp, 2, argc - 2, argv + 2, "object %s", &name)) return TCL_ERROR;
    Object *o = GetObject(interp, name);
    if (!o) return TCL_ERROR;
    Morph_ComputeNormals(o);
    return TCL_OK;
}

// obj objpack object
// Drops what the check derived (blended arrays, normals, runs).
int ObjPackCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    char *name;
    if (Cmds_ParseArgs(interp, 2, argc - 2, argv + 2, "object %s", &name)) return TCL_ERROR;
    Object *o = GetObject(interp, name);
    if (!o) return TCL_ERROR;
    Morph_PackObject(o);
    return TCL_OK;
}

// obj objcombine ?-targetonly? targetobject sourceobject
// Merges the source into the target as geometry, or as more targets.
int ObjCombineCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    char *offset = nullptr, *tname, *sname;
    float scale = 1;
    int targetOnly;
    if (Cmds_ParseArgs(interp, 2, argc - 2, argv + 2, "-offset %s -scale %f -targetonly %n targetobject %s sourceobject %s",
                       &offset, &scale, &targetOnly, &tname, &sname))
        return TCL_ERROR;
    Object *T = GetObject(interp, tname), *S = T ? GetObject(interp, sname) : nullptr;
    if (!S) return TCL_ERROR;
    if (T == S) return Fail(interp, "cannot combine an object with itself");
    for (auto p : {std::make_pair(T, tname), std::make_pair(S, sname)})
        if (p.first->targets.empty()) return Fail(interp, std::string("Object ") + p.second + " has no vertices");
    if (targetOnly) {
        if (T->vertexCount != S->vertexCount) return Fail(interp, "Objects have different # of vertices");
        if (T->faceCount() != S->faceCount()) return Fail(interp, "Objects have different # of faces");
    }
    Morph_PackObject(T);
    if (targetOnly) {
        for (size_t k = 0; k < S->targets.size(); k++) {
            const Target &st = S->targets[k];
            bool have = false;
            for (auto &t : T->targets) have |= t.name == st.name;
            if (have) continue;
            Target t;
            t.name = st.name;
            t.multiplier = st.multiplier;
            t.coords = st.coords;
            if (k == 0)
                for (size_t c = 0; c < t.coords.size(); c++) t.coords[c] -= T->targets[0].coords[c];
            T->targets.push_back(std::move(t));
        }
    } else {
        const int32_t n = T->vertexCount, add = S->vertexCount, oldFaces = T->faceCount();
        const int32_t oldTextures = (int32_t)T->textures.size();
        for (size_t t = 0; t < T->targets.size(); t++) {
            Target &tt = T->targets[t];
            const Target *src = t == 0 ? &S->targets[0] : nullptr;
            for (size_t k = 1; t && k < S->targets.size() && !src; k++)
                if (S->targets[k].name == tt.name) src = &S->targets[k];
            tt.coords.resize(3 * (size_t)(n + add), 0.0f);
            if (src) std::copy(src->coords.begin(), src->coords.end(), tt.coords.begin() + 3 * (size_t)n);
        }
        for (int32_t i : S->indices) T->indices.push_back(i + n);
        for (const Texture &tx : S->textures) {
            T->textures.push_back(tx);
            T->textures.back().glName = -1;
        }
        // Material 0 keeps one pair per vertex for the new vertices too.
        if (!T->materials.empty() && !T->materials[0].uv.empty()) T->materials[0].uv.resize(2 * (size_t)(n + add), 0.0f);
        for (const Material &sm : S->materials) {
            Material m = sm;
            m.faceStart += oldFaces;
            m.displayList = -1;
            if (m.textureIndex >= 0) {
                m.textureIndex += oldTextures;
                // Per face corner, as a combined material's coordinates are.
                m.uv.clear();
                const Material &s0 = S->materials[0];
                for (int64_t f = sm.faceStart; f < (int64_t)sm.faceStart + sm.faceCount && f < S->faceCount(); f++)
                    for (int c = 0; c < 3; c++) {
                        int32_t v = S->indices[3 * f + c];
                        bool ok = v >= 0 && 2 * (size_t)v + 1 < s0.uv.size();
                        m.uv.push_back(ok ? s0.uv[2 * v] : 0);
                        m.uv.push_back(ok ? s0.uv[2 * v + 1] : 0);
                    }
            } else {
                m.uv.clear();
            }
            T->materials.push_back(std::move(m));
        }
        T->vertexCount = n + add;
    }
    Morph_ComputeBoundingBox(T);
    if (!Check(interp, T)) return TCL_ERROR;
    Tcl_ResetResult(interp);
    return TCL_OK;
}

// obj objrename object oldname newname
int ObjRenameCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    char *name, *oldName, *newName;
    if (Cmds_ParseArgs(interp, 2, argc - 2, argv + 2, "object %s oldname %s newname %s", &name, &oldName, &newName))
        return TCL_ERROR;
    Object *o = GetObject(interp, name);
    if (!o) return TCL_ERROR;
    for (Target &t : o->targets)
        if (t.name == oldName) {
            t.name = newName;
            Tcl_SetObjResult(interp, Tcl_NewStringObj(newName, -1));
            return TCL_OK;
        }
    return Fail(interp, std::string("Object ") + name + " does not have a target called " + oldName);
}

// obj objectscale ?-absolute? object scalefac
int ObjectScaleCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    int absolute;
    char *name;
    float f;
    if (Cmds_ParseArgs(interp, 2, argc - 2, argv + 2, "-absolute %n object %s scalefac %f", &absolute, &name, &f))
        return TCL_ERROR;
    Object *o = GetObject(interp, name);
    if (!o) return TCL_ERROR;
    if (absolute) {
        float m = std::max(0.0f, std::max(o->extents[0], std::max(o->extents[1], o->extents[2])));
        // A flat point has no size to scale to.
        if (m == 0) return Fail(interp, std::string("object \"") + name + "\" has no extent to scale to");
        o->scale = f / m;
    } else {
        o->scale *= f;
    }
    return TCL_OK;
}

// obj objectmove ?-relative? object x y z
int ObjectMoveCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    int relative;
    char *name;
    float p[3];
    if (Cmds_ParseArgs(interp, 2, argc - 2, argv + 2, "-relative %n object %s x %f y %f z %f", &relative, &name, &p[0],
                       &p[1], &p[2]))
        return TCL_ERROR;
    Object *o = GetObject(interp, name);
    if (!o) return TCL_ERROR;
    for (int a = 0; a < 3; a++) o->position[a] = relative ? o->position[a] + p[a] : p[a];
    return TCL_OK;
}

// obj objectrotate ?-relative? object elevation azimuth
int ObjectRotateCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    int relative;
    char *name;
    float el, az;
    if (Cmds_ParseArgs(interp, 2, argc - 2, argv + 2, "-relative %n object %s elevation %f azimuth %f", &relative,
                       &name, &el, &az))
        return TCL_ERROR;
    Object *o = GetObject(interp, name);
    if (!o) return TCL_ERROR;
    o->elevation = relative ? o->elevation + el : el;
    o->azimuth = relative ? o->azimuth + az : az;
    return TCL_OK;
}

// obj objectinfo ?-name? ... ?-mult? object
// Reports the asked data (by default all but the value and multiplier lists).
int ObjectInfoCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    int nm, pos, rot, sc, bb, ve, fa, ta, ma, pr, tr, tx, fv, vv, gm, mu;
    char *name;
    if (Cmds_ParseArgs(interp, 2, argc - 2, argv + 2,
                       "-name %n -position %n -rotation %n -scale %n -boundingbox %n -vertices %n -faces %n "
                       "-targets %n -materials %n -prof %n -tracks %n -textures %n -facevalues %n -vertexvalues %n "
                       "-gmult %n -mult %n object %s",
                       &nm, &pos, &rot, &sc, &bb, &ve, &fa, &ta, &ma, &pr, &tr, &tx, &fv, &vv, &gm, &mu, &name))
        return TCL_ERROR;
    Object *o = GetObject(interp, name);
    if (!o) return TCL_ERROR;
    if (!(nm | pos | rot | sc | bb | ve | fa | ta | ma | pr | tr | tx | fv | vv | gm | mu))
        nm = pos = rot = sc = bb = ve = fa = ta = ma = pr = tr = tx = 1;
    Tcl_Obj *r = Tcl_NewListObj(0, nullptr);
    if (nm) Pair(r, "-name", Tcl_NewStringObj(o->name.c_str(), -1));
    if (pos) Pair(r, "-position", Reals(o->position, 3));
    if (rot) {
        float er[2] = {o->elevation, o->azimuth};
        Pair(r, "-rotation", Reals(er, 2));
    }
    if (sc) Pair(r, "-scale", Real(o->scale));
    if (gm) Pair(r, "-gmult", Real(o->globalMultiplier));
    if (mu) {
        Tcl_Obj *l = Tcl_NewListObj(0, nullptr);
        for (auto &t : o->targets) {
            Tcl_ListObjAppendElement(nullptr, l, Tcl_NewStringObj(t.name.c_str(), -1));
            AppendReal(l, t.multiplier);
        }
        Pair(r, "-mult", l);
    }
    if (bb) {
        float e[3] = {o->scale * o->extents[0], o->scale * o->extents[1], o->scale * o->extents[2]};
        Pair(r, "-boundingbox", Reals(e, 3));
    }
    if (ve) Pair(r, "-vertices", Tcl_NewIntObj(o->vertexCount));
    if (fa) Pair(r, "-faces", Tcl_NewIntObj(o->faceCount()));
    if (ta) {
        Tcl_Obj *l = Tcl_NewListObj(0, nullptr);
        for (auto &t : o->targets) Tcl_ListObjAppendElement(nullptr, l, Tcl_NewStringObj(t.name.c_str(), -1));
        Pair(r, "-targets", l);
    }
    if (ma) {
        Tcl_Obj *l = Tcl_NewListObj(0, nullptr);
        for (auto &m : o->materials) {
            Tcl_Obj *e = Tcl_NewListObj(0, nullptr);
            Tcl_Obj *n = Tcl_NewListObj(0, nullptr);
            Tcl_ListObjAppendElement(nullptr, n, Tcl_NewStringObj("name", -1));
            Tcl_ListObjAppendElement(nullptr, n, Tcl_NewStringObj(m.name.c_str(), -1));
            Tcl_ListObjAppendElement(nullptr, e, n);
            const std::pair<const char *, const float *> colours[] = {
                {"ambient", m.ambient}, {"diffuse", m.diffuse}, {"specular", m.specular}, {"emission", m.emissive}};
            for (auto &c : colours) {
                Tcl_Obj *x = Tcl_NewListObj(0, nullptr);
                Tcl_ListObjAppendElement(nullptr, x, Tcl_NewStringObj(c.first, -1));
                for (int i = 0; i < 4; i++) AppendReal(x, c.second[i]);
                Tcl_ListObjAppendElement(nullptr, e, x);
            }
            Tcl_Obj *x = Tcl_NewListObj(0, nullptr);
            Tcl_ListObjAppendElement(nullptr, x, Tcl_NewStringObj("shininess", -1));
            AppendReal(x, m.shininess);
            Tcl_ListObjAppendElement(nullptr, e, x);
            Tcl_ListObjAppendElement(nullptr, e, Tcl_ObjPrintf("run %d %d", m.faceStart, m.faceCount));
            Tcl_ListObjAppendElement(nullptr, e, Tcl_ObjPrintf("texture %d %s", m.textureIndex,
                                                               m.textureEnabled ? "enabled" : "disabled"));
            Tcl_ListObjAppendElement(nullptr, l, e);
        }
        Pair(r, "-materials", l);
    }
    if (pr) {
        double total = (double)o->morphTime + o->renderTime, n = o->frameCount;
        Pair(r, "-prof",
             Tcl_ObjPrintf("frame %.3f morph %.2f render %.2f fps %.2f count %.0f", n ? total * 0.0001 / n : 0.0,
                           total ? o->morphTime * 100 / total : 0.0, total ? o->renderTime * 100 / total : 0.0,
                           total ? n / (total * 1e-7) : 0.0, n));
    }
    if (tr) {
        Tcl_Obj *l = Tcl_NewListObj(0, nullptr);
        for (size_t t = 1; t < o->targets.size(); t++) {
            Tcl_Obj *e = Tcl_NewListObj(0, nullptr), *keys = Tcl_NewListObj(0, nullptr);
            Tcl_ListObjAppendElement(nullptr, e, Tcl_NewStringObj(o->targets[t].name.c_str(), -1));
            if (o->targets[t].tracks) {
                for (auto &k : o->targets[t].keys) {
                    Tcl_Obj *kv = Tcl_NewListObj(0, nullptr);
                    Tcl_ListObjAppendElement(nullptr, kv, Tcl_NewIntObj(k.time));
                    Tcl_ListObjAppendElement(nullptr, kv, Cmds_NewFloatObj(k.weight * 100.0f));
                    Tcl_ListObjAppendElement(nullptr, keys, kv);
                }
                Tcl_ListObjAppendElement(nullptr, e, keys);
            } else {
                Tcl_DecrRefCount(keys);
            }
            Tcl_ListObjAppendElement(nullptr, l, e);
        }
        Pair(r, "-tracks", l);
    }
    if (tx) {
        Tcl_Obj *l = Tcl_NewListObj(0, nullptr);
        for (auto &t : o->textures)
            Tcl_ListObjAppendElement(nullptr, l, Tcl_ObjPrintf("%s %d %d", t.glName >= 0 ? "hardware" : "software",
                                                               t.width, t.height));
        Pair(r, "-textures", l);
    }
    if (fv) {
        Tcl_Obj *l = Tcl_NewListObj(0, nullptr);
        for (size_t i = 0; i + 2 < o->indices.size(); i += 3)
            Tcl_ListObjAppendElement(nullptr, l,
                                     Tcl_ObjPrintf("%d %d %d", o->indices[i], o->indices[i + 1], o->indices[i + 2]));
        Pair(r, "-facevalues", l);
    }
    if (vv) {
        Tcl_Obj *l = Tcl_NewListObj(0, nullptr);
        for (int32_t v = 0; v < o->vertexCount && !o->targets.empty(); v++)
            Tcl_ListObjAppendElement(nullptr, l, Reals(&o->targets[0].coords[3 * (size_t)v], 3));
        Pair(r, "-vertexvalues", l);
    }
    Tcl_SetObjResult(interp, r);
    return TCL_OK;
}

// obj vcodebook object histvar
// Counts quantised vertex differences into the array histvar; answers the
// target names with their code counts.
int VCodebookCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    char *name, *var;
    if (Cmds_ParseArgs(interp, 2, argc - 2, argv + 2, "object %s histvar %s", &name, &var)) return TCL_ERROR;
    Object *o = GetObject(interp, name);
    if (!o) return TCL_ERROR;
    if (o->vertexCount <= 0 || o->morphLength != 3 * o->vertexCount) return Fail(interp, "Can only do triangle models.");
    Tcl_Obj *r = Tcl_NewListObj(0, nullptr);
    Tcl_IncrRefCount(r);
    for (size_t t = 0; t < o->targets.size(); t++) {
        const Target &tg = o->targets[t];
        std::vector<int32_t> s = tg.runStarts, e = tg.runEnds;
        if (t == 0) s = {0}, e = {(int32_t)tg.coords.size()};
        int count = 0;
        for (size_t k = 0; k < s.size(); k++) {
            std::vector<int16_t> codes;
            for (int32_t c = s[k]; c < e[k]; c++) {
                float ext = o->extents[c % 3];
                double q = ext > 0 ? std::floor(tg.coords[c] * 8191.0 / ext + 0.5) : 0;
                codes.push_back((int16_t)std::max(-32768.0, std::min(32767.0, q)));
            }
            for (size_t i = codes.size(); i-- > 3;) codes[i] = (int16_t)(codes[i] - codes[i - 3]);
            for (size_t i = 3; i < codes.size(); i++) {
                std::string el = std::to_string(codes[i]);
                Tcl_Obj *cur = Tcl_GetVar2Ex(interp, var, el.c_str(), 0);
                int v = 0;
                if (cur && Tcl_GetIntFromObj(nullptr, cur, &v) != TCL_OK) v = 0;
                if (!Tcl_SetVar2Ex(interp, var, el.c_str(), Tcl_NewIntObj(v + 1), TCL_LEAVE_ERR_MSG)) {
                    Tcl_DecrRefCount(r);
                    return TCL_ERROR;
                }
            }
            count += e[k] - s[k];
        }
        Tcl_ListObjAppendElement(nullptr, r, Tcl_NewStringObj(tg.name.c_str(), -1));
        Tcl_ListObjAppendElement(nullptr, r, Tcl_NewIntObj(count));
    }
    Tcl_SetObjResult(interp, r);
    Tcl_DecrRefCount(r);
    return TCL_OK;
}

// ---------------------------------------------------------------- tracks

// The targets a word selects: "all" every target after the base (the base
// too if it is itself named "all"), else the first of that name.
std::vector<Target *> Select(Object *o, const char *word) {
    std::vector<Target *> out;
    bool all = !strcmp(word, "all");
    for (size_t t = 0; t < o->targets.size(); t++) {
        if (all && (t > 0 || o->targets[t].name == "all")) out.push_back(&o->targets[t]);
        if (!all && o->targets[t].name == word) {
            out.push_back(&o->targets[t]);
            break;
        }
    }
    return out;
}

int32_t LatestKeyTime(const Object *o) {
    int32_t latest = 0;
    for (auto &t : o->targets)
        if (t.tracks && !t.keys.empty()) latest = std::max(latest, t.keys.back().time);
    return latest;
}

// Appends one {time percentage} entry to a target; false with a message.
bool AddKey(Tcl_Interp *interp, Object *o, Target *t, const char *time, const char *pct, int64_t offset) {
    int tm;
    double p;
    if (Tcl_GetInt(interp, time, &tm) != TCL_OK || Tcl_GetDouble(interp, pct, &p) != TCL_OK) return false;
    int64_t at = (int64_t)tm + offset;
    if (at < INT32_MIN || at > INT32_MAX) {
        Fail(interp, std::string("key time out of range: ") + time);
        return false;
    }
    t->keys.push_back({(float)(t->multiplier * o->globalMultiplier * p * 0.01), (int32_t)at});
    return true;
}

void StartTracks(Object *o) {
    for (auto &t : o->targets)
        if (!t.tracks) t.tracks = true, t.keys.clear();
}

// obj addtrack ?-relative? ?-offset ms? object target tracks
// Adds {time percentage} keys to the selected targets.
int AddTrackCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    int relative, offset = 0;
    char *name, *target, *tracks;
    if (Cmds_ParseArgs(interp, 2, argc - 2, argv + 2, "-relative %n -offset %i object %s target %s tracks %s",
                       &relative, &offset, &name, &target, &tracks))
        return TCL_ERROR;
    Object *o = GetObject(interp, name);
    if (!o) return TCL_ERROR;
    Split entries;
    if (!entries.Parse(interp, tracks)) return TCL_ERROR;
    StartTracks(o);
    int64_t shift = offset + (relative ? (int64_t)LatestKeyTime(o) : 0);
    for (Target *t : Select(o, target)) {
        for (int i = 0; i < entries.argc; i++) {
            Split e;
            bool ok = e.Parse(interp, entries.argv[i]);
            if (ok && e.argc != 2) {
                Fail(interp, std::string("Expecting \"time percentage\", not this: ") + entries.argv[i]);
                ok = false;
            }
            if (!ok || !AddKey(interp, o, t, e.argv[0], e.argv[1], shift)) {
                Morph_SortTrackKeys(&t->keys);
                return TCL_ERROR;
            }
        }
        Morph_SortTrackKeys(&t->keys);
    }
    return TCL_OK;
}

// obj addtracksbytime ?-relative? ?-offset ms? object tracks
// Keys listed by time: tracks is a list of {time {target percentage ...}}
// entries; every named target gets a key at that time ("all" selects as in
// addtrack; unknown targets are skipped).
int AddTracksByTimeCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    int relative, offset = 0;
    char *name, *tracks;
    if (Cmds_ParseArgs(interp, 2, argc - 2, argv + 2, "-relative %n -offset %i object %s tracks %s", &relative,
                       &offset, &name, &tracks))
        return TCL_ERROR;
    Object *o = GetObject(interp, name);
    if (!o) return TCL_ERROR;
    Split entries;
    if (!entries.Parse(interp, tracks)) return TCL_ERROR;
    // Every entry is read before any key is added.
    struct Key {
        int time;
        std::string target;
        double pct;
    };
    std::vector<Key> keys;
    for (int i = 0; i < entries.argc; i++) {
        Split e, pairs;
        if (!e.Parse(interp, entries.argv[i])) return TCL_ERROR;
        if (e.argc != 2 || !pairs.Parse(interp, e.argv[1]) || pairs.argc % 2)
            return Fail(interp, std::string("Expecting \"time {target percentage ...}\", not this: ") + entries.argv[i]);
        int tm;
        if (Tcl_GetInt(interp, e.argv[0], &tm) != TCL_OK) return TCL_ERROR;
        for (int k = 0; k < pairs.argc; k += 2) {
            double p;
            if (Tcl_GetDouble(interp, pairs.argv[k + 1], &p) != TCL_OK) return TCL_ERROR;
            keys.push_back({tm, pairs.argv[k], p});
        }
    }
    StartTracks(o);
    int64_t shift = offset + (relative ? (int64_t)LatestKeyTime(o) : 0);
    for (const Key &k : keys)
        if (k.time + shift < INT32_MIN || k.time + shift > INT32_MAX)
            return Fail(interp, "key time out of range: " + std::to_string(k.time));
    std::vector<Target *> touched;
    for (const Key &k : keys)
        for (Target *t : Select(o, k.target.c_str())) {
            t->keys.push_back({(float)(t->multiplier * o->globalMultiplier * k.pct * 0.01), (int32_t)(k.time + shift)});
            touched.push_back(t);
        }
    for (Target *t : touched) Morph_SortTrackKeys(&t->keys);
    return TCL_OK;
}

// obj prunetrack object target from to
// Removes the keys from..to ("end": every key from on).
int PruneTrackCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    char *name, *target, *toWord;
    int from, to = 0;
    if (Cmds_ParseArgs(interp, 2, argc - 2, argv + 2, "object %s target %s from %i to %s", &name, &target, &from,
                       &toWord))
        return TCL_ERROR;
    Object *o = GetObject(interp, name);
    if (!o) return TCL_ERROR;
    bool end = !strcmp(toWord, "end");
    if (!end && Tcl_GetInt(interp, toWord, &to) != TCL_OK) return TCL_ERROR;
    for (Target *t : Select(o, target)) {
        if (!t->tracks) {
            t->tracks = true;
            t->keys.clear();
            continue;
        }
        std::vector<TrackKey> kept;
        for (auto &k : t->keys)
            if (!(k.time >= from && (end || k.time <= to))) kept.push_back(k);
        t->keys.swap(kept);
    }
    return TCL_OK;
}

// obj multtrack object target multiplier
int MultTrackCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    char *name, *target;
    float m;
    if (Cmds_ParseArgs(interp, 2, argc - 2, argv + 2, "object %s target %s multiplier %f", &name, &target, &m))
        return TCL_ERROR;
    Object *o = GetObject(interp, name);
    if (!o) return TCL_ERROR;
    for (Target *t : Select(o, target)) t->multiplier = m;
    return TCL_OK;
}

// obj gmulttracks object multiplier
int GMultTracksCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    char *name;
    float m;
    if (Cmds_ParseArgs(interp, 2, argc - 2, argv + 2, "object %s multiplier %f", &name, &m)) return TCL_ERROR;
    Object *o = GetObject(interp, name);
    if (!o) return TCL_ERROR;
    o->globalMultiplier = m;
    return TCL_OK;
}

// ---------------------------------------------------------------- drawing

int GLCheck(Tcl_Interp *interp, const char *place) {
    std::string e = Morph_GLError();
    if (e.empty()) return TCL_OK;
    return Fail(interp, place && *place ? std::string("In ") + place + " " + e : e);
}

// obj setup
// The fixed state: lighting, counter-clockwise fronts, a dim ambient light.
int SetupCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    if (Cmds_ParseArgs(interp, 2, argc - 2, argv + 2, "")) return TCL_ERROR;
    Morph_Setup();
    return GLCheck(interp, "");
}

// obj viewpoint camx camy camz dirx diry dirz
// Looks from the camera at the point dir (y up).
int ViewpointCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    double c[6];
    if (Cmds_ParseArgs(interp, 2, argc - 2, argv + 2, "camx %d camy %d camz %d dirx %d diry %d dirz %d", &c[0], &c[1],
                       &c[2], &c[3], &c[4], &c[5]))
        return TCL_ERROR;
    glLoadIdentity();
    if (GLCheck(interp, "glLoadIndentity (view)")) return TCL_ERROR;
    gluLookAt(c[0], c[1], c[2], c[3], c[4], c[5], 0, 1, 0);
    return GLCheck(interp, "glLookAt (view)");
}

// obj perspective ?-orthographic? fov aspect near far ?scene?
int PerspectiveCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    int ortho;
    float p[4];
    char *scene = nullptr;
    if (Cmds_ParseArgs(interp, 2, argc - 2, argv + 2, "-orthographic %n fov %f aspect %f near %f far %f scene ?s",
                       &ortho, &p[0], &p[1], &p[2], &p[3], &scene))
        return TCL_ERROR;
    if (scene) {
        Scene *s = GetScene(interp, scene);
        if (!s) return TCL_ERROR;
        s->projectionMode = ortho ? 1 : 0;
        std::copy(p, p + 4, s->projection);
    }
    glMatrixMode(GL_PROJECTION);
    if (GLCheck(interp, "glMatrixMode (perspective)")) return TCL_ERROR;
    glLoadIdentity();
    if (GLCheck(interp, "glLoadIdentity (perspective)")) return TCL_ERROR;
    if (ortho) {
        glOrtho(-p[0], p[0], -p[1], p[1], p[2], p[3]);
        if (GLCheck(interp, "glOrtho (perspective)")) return TCL_ERROR;
    } else {
        gluPerspective(p[0], p[1], p[2], p[3]);
        if (GLCheck(interp, "gluPerspective (perspective)")) return TCL_ERROR;
    }
    glMatrixMode(GL_MODELVIEW);
    return GLCheck(interp, "glMatixMode (perspective)");
}

// obj shape x y w h
// The viewport.
int ShapeCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    int x, y, w, h;
    if (Cmds_ParseArgs(interp, 2, argc - 2, argv + 2, "x %i y %i w %i h %i", &x, &y, &w, &h)) return TCL_ERROR;
    glViewport(x, y, w, h);
    return GLCheck(interp, sspf(0, "glViewport %i %i %i %i (shape)", x, y, w, h));
}

// obj show ?scene? ?time?
// Draws the scene at the time (default: the last time given) and swaps.
int ShowCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    char *scene = nullptr;
    int time = INT32_MIN;
    if (Cmds_ParseArgs(interp, 2, argc - 2, argv + 2, "scene ?s time ?i", &scene, &time)) return TCL_ERROR;
    if (time != INT32_MIN) gShowTime = time;
    std::string msg;
    if (!scene || !*scene) {
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    } else {
        Scene *s = GetScene(interp, scene);
        if (!s) return TCL_ERROR;
        SceneParts parts;
        for (auto &n : s->lights) {
            Light *l = GetLight(interp, n.c_str());
            if (!l) return TCL_ERROR;
            parts.lights.push_back(l);
        }
        for (auto &n : s->objects) {
            Object *o = GetObject(interp, n.c_str());
            if (!o) return TCL_ERROR;
            // A packed object (or one changed since) is checked again first.
            if (o->morphLength != 3 * o->vertexCount && !Check(interp, o)) return TCL_ERROR;
            parts.objects.push_back(o);
        }
        Tcl_ResetResult(interp);
        if (!Morph_ShowScene(s, parts, gShowTime, &msg)) return Fail(interp, msg);
    }
    glFlush();
    std::string swap = std::string("{") + argv[2] + "} swapbuffers";
    if (Tcl_EvalEx(interp, swap.c_str(), -1, 0) != TCL_OK) {
        Tcl_AppendResult(interp, "\nswapbuffers error", (char *)nullptr);
        return TCL_ERROR;
    }
    if (GLCheck(interp, "")) return TCL_ERROR;
    // A note such as a disabled texture map.
    if (!msg.empty()) Tcl_SetObjResult(interp, Tcl_NewStringObj(msg.c_str(), -1));
    return TCL_OK;
}

// obj vendor
int VendorCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    if (Cmds_ParseArgs(interp, 2, argc - 2, argv + 2, "")) return TCL_ERROR;
    Tcl_Obj *r = Tcl_NewListObj(0, nullptr);
    for (GLenum e : {GL_VENDOR, GL_RENDERER, GL_VERSION}) {
        const char *s = (const char *)glGetString(e);
        Tcl_ListObjAppendElement(nullptr, r, Tcl_NewStringObj(s ? s : "", -1));
    }
    Tcl_SetObjResult(interp, r);
    return TCL_OK;
}

// obj reset
int ResetCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    return Cmds_ParseArgs(interp, 2, argc - 2, argv + 2, "") ? TCL_ERROR : TCL_OK;
}

// obj clearstats scene
int ClearStatsCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    char *scene;
    if (Cmds_ParseArgs(interp, 2, argc - 2, argv + 2, "scene %s", &scene)) return TCL_ERROR;
    Scene *s = GetScene(interp, scene);
    if (!s) return TCL_ERROR;
    std::vector<Object *> objs;
    for (auto &n : s->objects) {
        Object *o = GetObject(interp, n.c_str());
        if (!o) return TCL_ERROR;
        objs.push_back(o);
    }
    s->frameCount = s->frameTime = 0;
    for (Object *o : objs) o->frameCount = o->morphTime = o->renderTime = 0;
    return TCL_OK;
}

// Priority classes as nice values; never real-time scheduling, which a busy
// script could use to lock the machine.
struct NiceName {
    const char *name;
    int value;
};
const NiceName kClasses[] = {{"normal", 0}, {"realtime", -20}, {"high", -10}, {"idle", 19}};
const NiceName kWithin[] = {{"normal", 0},  {"above normal", 1}, {"below normal", -1}, {"highest", 2},
                            {"idle", -15},  {"lowest", -2},      {"time critical", 15}};
std::string gClassName = "normal";

// obj priority class withinclass
// Sets the process's nice value by class and within it; answers the class
// and level read back.
int PriorityCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    // The whole process's scheduling is not a safe interpreter's to change.
    if (Cmds_RefuseInSafe(interp, argv[2], argv[3])) return TCL_ERROR;
    char *cls, *within;
    if (Cmds_ParseArgs(interp, 2, argc - 2, argv + 2, "class %s withinclass %s", &cls, &within)) return TCL_ERROR;
    const NiceName *c = &kClasses[0], *w = &kWithin[0];
    for (auto &k : kClasses)
        if (!strcmp(k.name, cls)) c = &k;
    for (auto &k : kWithin)
        if (!strcmp(k.name, within)) w = &k;
    // Higher levels mean a lower nice value; kept within what nice allows.
    int nice = std::max(-20, std::min(19, c->value - w->value));
    setpriority(PRIO_PROCESS, 0, nice);
    errno = 0;
    int now = getpriority(PRIO_PROCESS, 0);
    const char *clsName = "normal", *withinName = "normal";
    if (now == nice) {
        clsName = c->name;
        withinName = w->name;
        gClassName = c->name;
    } else {
        for (auto &k : kClasses)
            if (k.name == gClassName)
                for (auto &j : kWithin)
                    if (k.value - j.value == now) clsName = k.name, withinName = j.name;
    }
    Tcl_Obj *r = Tcl_NewListObj(0, nullptr);
    Tcl_ListObjAppendElement(nullptr, r, Tcl_NewStringObj(clsName, -1));
    Tcl_ListObjAppendElement(nullptr, r, Tcl_NewStringObj(withinName, -1));
    Tcl_SetObjResult(interp, r);
    return TCL_OK;
}

// Seconds since the process started, from /proc.
double ProcessAge() {
    std::ifstream f("/proc/self/stat");
    std::string s((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    size_t p = s.rfind(')');
    if (p == std::string::npos) return 0;
    std::istringstream in(s.substr(p + 2));
    std::string field;
    for (int i = 3; i <= 22 && in >> field; i++)
        if (i == 22) {
            double start = std::stod(field) / sysconf(_SC_CLK_TCK);
            std::ifstream up("/proc/uptime");
            double uptime = 0;
            up >> uptime;
            return uptime - start;
        }
    return 0;
}

// obj rusage
// Answers total, kernel and user processor time as percentages of the
// process's lifetime.
int RusageCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    // Reads the process's /proc files, which a safe interpreter may not.
    if (Cmds_RefuseInSafe(interp, argv[2], argv[3])) return TCL_ERROR;
    if (Cmds_ParseArgs(interp, 2, argc - 2, argv + 2, "")) return TCL_ERROR;
    rusage u;
    getrusage(RUSAGE_SELF, &u);
    float elapsed = (float)std::max(0.01, ProcessAge());
    float kernel = (float)(u.ru_stime.tv_sec + u.ru_stime.tv_usec * 1e-6) * 100 / elapsed;
    float user = (float)(u.ru_utime.tv_sec + u.ru_utime.tv_usec * 1e-6) * 100 / elapsed;
    Tcl_SetObjResult(interp, Tcl_ObjPrintf("%g %g %g", kernel + user, kernel, user));
    return TCL_OK;
}

struct Method {
    const char *name;
    Tcl_CmdProc *proc;
};
const Method kMethods[] = {
    {"clearstats", ClearStatsCmd},
    {"newscene", NewSceneCmd},
    {"add", AddCmd},
    {"remove", RemoveCmd},
    {"replace", ReplaceCmd},
    {"sceneinfo", SceneInfoCmd},
    {"texture", SwitchCmd},
    {"smooth", SwitchCmd},
    {"antialias", AntialiasCmd},
    {"wireframe", SwitchCmd},
    {"cull", SwitchCmd},
    {"texturefilter", TextureFilterCmd},
    {"bg", BgCmd},
    {"bgimage", BgImageCmd},
    {"getbgimage", GetBgImageCmd},
    {"newlight", NewLightCmd},
    {"lightinfo", LightInfoCmd},
    {"lightconfigure", LightConfigureCmd},
    {"objcreate", ObjCreateCmd},
    {"objcombine", ObjCombineCmd},
    {"objectinfo", ObjectInfoCmd},
    {"objinfo", ObjectInfoCmd},
    {"objectscale", ObjectScaleCmd},
    {"objscale", ObjectScaleCmd},
    {"objectmove", ObjectMoveCmd},
    {"objmove", ObjectMoveCmd},
    {"objectrotate", ObjectRotateCmd},
    {"objrotate", ObjectRotateCmd},
    {"gettexture", GetTextureCmd},
    {"objtexture", GetTextureCmd},
    {"objtexturereduce", ObjTextureReduceCmd},
    {"objrename", ObjRenameCmd},
    {"objcheck", ObjCheckCmd},
    {"objnormals", ObjNormalsCmd},
    {"addtrack", AddTrackCmd},
    {"addtracks", AddTrackCmd},
    {"addtracksbytime", AddTracksByTimeCmd},
    {"prunetrack", PruneTrackCmd},
    {"prunetracks", PruneTrackCmd},
    {"multtrack", MultTrackCmd},
    {"multtracks", MultTrackCmd},
    {"gmulttracks", GMultTracksCmd},
    {"objpack", ObjPackCmd},
    {"vcodebook", VCodebookCmd},
    {"viewpoint", ViewpointCmd},
    {"perspective", PerspectiveCmd},
    {"vendor", VendorCmd},
    {"reset", ResetCmd},
    {"setup", SetupCmd},
    {"show", ShowCmd},
    {"shape", ShapeCmd},
    {"priority", PriorityCmd},
    {"rusage", RusageCmd},
};

}  // namespace

extern "C" {

int Morph_Init(Tcl_Interp *interp) {
    int code = Tcl_PkgProvide(interp, "Morph", "1.1.0");
    if (code != TCL_OK) return code;
    if (!Tcl_PkgRequire(interp, "O", "1.0", 0)) return TCL_ERROR;
    Oo_Create(interp, "Morph", nullptr, nullptr);
    if (Tcl_VarEval(interp, "package unknown", (char *)nullptr) != TCL_OK) return TCL_ERROR;
    // A package-index builder answers "dummy": the class is all it needs.
    if (!strcmp(Tcl_GetStringResult(interp), "dummy")) return TCL_OK;
    if (!Tcl_PkgRequire(interp, "OpenGL", "2.0", 0)) return TCL_ERROR;
    Oo_SetIsa(interp, "Morph", "OpenGL");
    Cntr_RegisterType(&kSceneType);
    Cntr_RegisterType(&kLightType);
    Cntr_RegisterType(&kObjectType);
    for (const Method &m : kMethods) Oo_CreateMethod(interp, "Morph", m.name, m.proc, nullptr, nullptr);
    code = Obj_Init(interp);
    if (code != TCL_OK) return code;
    Tcl_ResetResult(interp);
    return TCL_OK;
}

// The class is shared by every interpreter, so its file and process methods
// (textured objcreate, priority, rusage, and the OpenGL class's snapshot)
// refuse themselves in a safe one; every other method works on memory only.
int Morph_SafeInit(Tcl_Interp *interp) { return Morph_Init(interp); }

}  // extern "C"
