// Per-interpreter object registry over the container library's type
// descriptors.
#include "obj.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstring>
#include <string>
#include <unordered_map>
#include <vector>

#include "yastro.h"

namespace {

const char *kAssocKey = "tovik::obj";

struct Entry {
    ObjEntry pub;
    std::string name;
    unsigned long serial;
};

struct Registry {
    std::unordered_map<std::string, Entry *> objects;
};

std::atomic<unsigned long> counter{0};

void destroyEntry(Entry *e) {
    if (e->pub.nukeProc) e->pub.nukeProc(&e->pub);
    if (e->pub.data && e->pub.type) e->pub.type->free(e->pub.data);
    delete e;
}

void deleteRegistry(ClientData cd, Tcl_Interp *) {
    Registry *reg = static_cast<Registry *>(cd);
    // A nuke procedure may destroy other objects: take them out one by one.
    while (!reg->objects.empty()) {
        auto it = reg->objects.begin();
        Entry *e = it->second;
        reg->objects.erase(it);
        destroyEntry(e);
    }
    delete reg;
}

Registry *registry(Tcl_Interp *interp) {
    Registry *reg = static_cast<Registry *>(Tcl_GetAssocData(interp, kAssocKey, nullptr));
    if (!reg) {
        reg = new Registry;
        Tcl_SetAssocData(interp, kAssocKey, deleteRegistry, reg);
    }
    return reg;
}

std::string prefixOf(const CntrType *t) {
    std::string p;
    if (t->prefix) {
        p = t->prefix;
    } else {
        const char *slash = strrchr(t->name, '/');
        for (const char *c = slash ? slash + 1 : t->name; *c; c++)
            if (isalnum(static_cast<unsigned char>(*c)) || *c == '_') p += *c;
    }
    // A name must never read as a number or hold a dot.
    if (p.empty() || !isalpha(static_cast<unsigned char>(p[0]))) p = "obj" + p;
    if (isdigit(static_cast<unsigned char>(p.back()))) p += '_';
    return p;
}

void setError(Tcl_Interp *interp, const std::string &msg) {
    Tcl_SetObjResult(interp, Tcl_NewStringObj(msg.c_str(), -1));
}

Entry *addEntry(Tcl_Interp *interp, const CntrType *type, void *data, const std::string &name) {
    Entry *e = new Entry;
    e->pub.data = data;
    e->pub.nukeData = nullptr;
    e->pub.nukeProc = nullptr;
    e->pub.type = type;
    e->name = name;
    e->pub.name = e->name.c_str();
    e->serial = counter.fetch_add(1);
    registry(interp)->objects[name] = e;
    return e;
}

std::string newName(const CntrType *type) { return prefixOf(type) + std::to_string(counter.fetch_add(1) + 1); }

Entry *lookup(Tcl_Interp *interp, const char *type, const char *name) {
    Registry *reg = registry(interp);
    auto it = name ? reg->objects.find(name) : reg->objects.end();
    if (it == reg->objects.end()) {
        if (type) setError(interp, std::string("no such ") + type + " object \"" + (name ? name : "") + "\"");
        else setError(interp, std::string("no such object \"") + (name ? name : "") + "\"");
        return nullptr;
    }
    Entry *e = it->second;
    if (type && strcmp(e->pub.type->name, type) != 0) {
        setError(interp, std::string("object \"") + name + "\" is of type \"" + e->pub.type->name + "\", not \"" +
                             type + "\"");
        return nullptr;
    }
    return e;
}

int createNamed(Tcl_Interp *interp, const CntrType *t, void *data) {
    if (t->prepare) {
        GS_Result *r = GS_CreateResult();
        int bad = t->prepare(r, data);
        if (bad) setError(interp, r->text);
        GS_DeleteResult(r);
        if (bad) return TCL_ERROR;
    }
    std::string name = newName(t);
    addEntry(interp, t, data, name);
    Tcl_SetObjResult(interp, Tcl_NewStringObj(name.c_str(), -1));
    return TCL_OK;
}

}  // namespace

extern "C" {

int Obj_Init(Tcl_Interp *interp) {
    registry(interp);
    return TCL_OK;
}

int Obj_Create(Tcl_Interp *interp, const char *type, void *data) {
    const CntrType *t = Cntr_TypeFind(type);
    if (!t) {
        setError(interp, std::string("unknown object type \"") + (type ? type : "") + "\"");
        return TCL_ERROR;
    }
    return createNamed(interp, t, data);
}

void *Obj_GetData(Tcl_Interp *interp, const char *type, const char *name) {
    Entry *e = lookup(interp, type, name);
    return e ? e->pub.data : nullptr;
}

ObjEntry *Obj_Get(Tcl_Interp *interp, const char *type, const char *name) {
    Entry *e = lookup(interp, type, name);
    return e ? &e->pub : nullptr;
}

int Obj_Destroy(Tcl_Interp *interp, const char *name) {
    Registry *reg = registry(interp);
    auto it = name ? reg->objects.find(name) : reg->objects.end();
    if (it == reg->objects.end()) {
        setError(interp, std::string("no such object \"") + (name ? name : "") + "\"");
        return TCL_ERROR;
    }
    Entry *e = it->second;
    reg->objects.erase(it);
    destroyEntry(e);
    return TCL_OK;
}

int Obj_Clone(Tcl_Interp *interp, const char *name) {
    Entry *src = lookup(interp, nullptr, name);
    if (!src) return TCL_ERROR;
    GS_Result *r = GS_CreateResult();
    void *copy = Cntr_Clone(r, src->pub.type, src->pub.data);
    if (!copy) {
        setError(interp, r->text);
        GS_DeleteResult(r);
        return TCL_ERROR;
    }
    GS_DeleteResult(r);
    std::string nm = newName(src->pub.type);
    Entry *e = addEntry(interp, src->pub.type, copy, nm);
    e->pub.nukeProc = src->pub.nukeProc;
    e->pub.nukeData = src->pub.nukeData;
    Tcl_SetObjResult(interp, Tcl_NewStringObj(nm.c_str(), -1));
    return TCL_OK;
}

int Obj_List(Tcl_Interp *interp) {
    Registry *reg = registry(interp);
    std::vector<Entry *> all;
    for (auto &kv : reg->objects) all.push_back(kv.second);
    std::sort(all.begin(), all.end(), [](Entry *a, Entry *b) { return a->serial < b->serial; });
    Tcl_Obj *list = Tcl_NewListObj(0, nullptr);
    for (Entry *e : all) Tcl_ListObjAppendElement(nullptr, list, Tcl_NewStringObj(e->name.c_str(), -1));
    Tcl_SetObjResult(interp, list);
    return TCL_OK;
}

int Obj_Write(Tcl_Interp *interp, Tcl_Channel channel, ObjEntry *entry) {
    GS_Result *r = GS_CreateResult();
    CntrObj *o = Cntr_ObjCreate(r, entry->type, entry->data);
    int len = 0;
    int code = TCL_ERROR;
    if (o && Cntr_ObjLength(r, o, &len) == 0) {
        std::vector<char> buf(len);
        int pos = 0;
        if (Cntr_ObjPack(r, o, buf.data(), &pos) == 0) {
            if (Tcl_Write(channel, buf.data(), len) == len) code = TCL_OK;
            else GS_AppendResult(r, "error writing object \"", entry->name, "\": ", Tcl_PosixError(interp), (char *)nullptr);
        }
    }
    if (code != TCL_OK) setError(interp, r->text);
    if (o) DB_FREE(o);
    GS_DeleteResult(r);
    return code;
}

int Obj_Read(Tcl_Interp *interp, Tcl_Channel channel) { return Obj_ReadLimited(interp, channel, 0x7fffffffu); }

int Obj_ReadLimited(Tcl_Interp *interp, Tcl_Channel channel, size_t maxPayload) {
    // Header: magic(4) version(1) namelen(1) name payload(4) check(4).
    std::vector<char> buf(6);
    if (Tcl_Read(channel, buf.data(), 6) != 6) {
        setError(interp, Tcl_Eof(channel) ? "no object to read: end of file" : "error reading object");
        return TCL_ERROR;
    }
    // Refuse a stream that is out of step at once, rather than wait for
    // the bytes a garbled header claims.
    if (memcmp(buf.data(), "TVKO", 4) != 0) {
        setError(interp, "not a packed object");
        return TCL_ERROR;
    }
    size_t nameLen = static_cast<unsigned char>(buf[5]);
    buf.resize(6 + nameLen + 8);
    if (Tcl_Read(channel, buf.data() + 6, nameLen + 8) != static_cast<int>(nameLen + 8)) {
        setError(interp, "truncated object header");
        return TCL_ERROR;
    }
    const unsigned char *p = reinterpret_cast<const unsigned char *>(buf.data()) + 6 + nameLen;
    uint32_t payload = p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24;
    if (payload > 0x7fffffffu - buf.size() || payload > maxPayload) {
        setError(interp, "object too large: " + std::to_string(payload) + " bytes");
        return TCL_ERROR;
    }
    size_t head = buf.size();
    // Grow while reading, so that a lying length cannot make us allocate it all up front.
    size_t got = 0;
    while (got < payload) {
        size_t chunk = std::min<size_t>(payload - got, 1 << 20);
        buf.resize(head + got + chunk);
        int n = Tcl_Read(channel, buf.data() + head + got, chunk);
        if (n <= 0) {
            setError(interp, "truncated object data");
            return TCL_ERROR;
        }
        got += n;
    }
    GS_Result *r = GS_CreateResult();
    int pos = 0;
    CntrObj *o = Cntr_ObjUnpack(r, nullptr, buf.data(), &pos, static_cast<int>(buf.size()));
    if (!o) {
        setError(interp, r->text);
        GS_DeleteResult(r);
        return TCL_ERROR;
    }
    GS_DeleteResult(r);
    int code = createNamed(interp, o->type, o->data);
    if (code != TCL_OK) o->type->free(o->data);
    DB_FREE(o);
    return code;
}

int Obj_Transfer(Tcl_Interp *interp, Tcl_Interp *fromInterp, const char *name, Tcl_Interp *toInterp) {
    Registry *from = registry(fromInterp);
    auto it = name ? from->objects.find(name) : from->objects.end();
    if (it == from->objects.end()) {
        setError(interp, std::string("no such object \"") + (name ? name : "") + "\"");
        return TCL_ERROR;
    }
    Registry *to = registry(toInterp);
    if (to->objects.count(name)) {
        setError(interp, std::string("object \"") + name + "\" exists in the target interpreter");
        return TCL_ERROR;
    }
    Entry *e = it->second;
    from->objects.erase(it);
    to->objects[name] = e;
    Tcl_SetObjResult(interp, Tcl_NewStringObj(name, -1));
    return TCL_OK;
}

int Obj_Count(Tcl_Interp *interp) { return static_cast<int>(registry(interp)->objects.size()); }

}  // extern "C"
