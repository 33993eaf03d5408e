// Type registry, packed objects and the type-definition search path.
#include "container.h"

#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "yastro.h"
#include <zlib.h>

namespace tovik_cntr {
std::vector<const CntrType *> builtinTypes();
}

namespace {

const char kMagic[4] = {'T', 'V', 'K', 'O'};
const unsigned char kVersion = 1;

std::mutex &typesLock() {
    static std::mutex m;
    return m;
}

std::map<std::string, const CntrType *> &types() {
    static std::map<std::string, const CntrType *> t;
    return t;
}

std::string &searchPath() {
    static std::string p;
    return p;
}

void registerBuiltins();

void ensureBuiltins() {
    static std::once_flag once;
    std::call_once(once, registerBuiltins);
}

void append(GS_Result *r, const std::string &s) {
    if (r) GS_AppendResult(r, s.c_str(), (char *)nullptr);
}

}  // namespace

extern "C" {

int Cntr_RegisterType(const CntrType *type) {
    if (!type || !type->name || !type->free) return 1;
    ensureBuiltins();
    std::lock_guard<std::mutex> g(typesLock());
    types().emplace(type->name, type);
    return 0;
}

const CntrType *Cntr_TypeFind(const char *name) {
    if (!name) return nullptr;
    ensureBuiltins();
    std::lock_guard<std::mutex> g(typesLock());
    auto it = types().find(name);
    return it == types().end() ? nullptr : it->second;
}

const char *Cntr_Name(const CntrType *type) { return type ? type->name : ""; }

int Cntr_Init(GS_Result *) {
    ensureBuiltins();
    return 0;
}

int Cntr_Get(GS_Result *r, const char *name, const CntrType **type) {
    const CntrType *t = Cntr_TypeFind(name);
    if (!t) {
        append(r, std::string("unknown container type \"") + (name ? name : "") + "\"");
        return 1;
    }
    *type = t;
    return 0;
}

void Cntr_PathSet(const char *path, int) { searchPath() = path ? path : ""; }

const char *Cntr_PathGet(int) { return searchPath().c_str(); }

CntrObj *Cntr_ObjCreate(GS_Result *r, const CntrType *type, void *record) {
    if (!type) {
        append(r, "no container type given");
        return nullptr;
    }
    CntrObj *o = static_cast<CntrObj *>(DB_MALLOC(sizeof(CntrObj)));
    o->data = record;
    o->clientData = nullptr;
    o->freeProc = nullptr;
    o->type = type;
    return o;
}

int Cntr_ObjLength(GS_Result *r, const CntrObj *obj, int *length) {
    const CntrType *t = obj->type;
    if (!t->length || !t->pack) {
        append(r, std::string("objects of type \"") + t->name + "\" cannot be packed");
        return 1;
    }
    size_t payload = 0;
    if (t->length(r, obj->data, &payload)) return 1;
    size_t total = 4 + 1 + 1 + strlen(t->name) + 4 + 4 + payload;
    if (total > 0x7fffffffu) {
        append(r, std::string("object of type \"") + t->name + "\" is too large to pack");
        return 1;
    }
    *length = static_cast<int>(total);
    return 0;
}

int Cntr_ObjPack(GS_Result *r, const CntrObj *obj, char *buffer, int *pos) {
    const CntrType *t = obj->type;
    int total = 0;
    if (Cntr_ObjLength(r, obj, &total)) return 1;
    size_t nameLen = strlen(t->name);
    if (nameLen > 255) {
        append(r, std::string("type name too long: ") + t->name);
        return 1;
    }
    unsigned char *p = reinterpret_cast<unsigned char *>(buffer) + *pos;
    size_t payload = total - (4 + 1 + 1 + nameLen + 4 + 4);
    Cntr_PutBytes(&p, kMagic, 4);
    *p++ = kVersion;
    *p++ = static_cast<unsigned char>(nameLen);
    Cntr_PutBytes(&p, t->name, nameLen);
    Cntr_PutI32(&p, static_cast<int32_t>(payload));
    unsigned char *check = p;
    p += 4;
    if (t->pack(r, obj->data, p)) return 1;
    Cntr_PutI32(&check, static_cast<int32_t>(Cntr_Checksum(p, payload)));
    *pos += total;
    return 0;
}

CntrObj *Cntr_ObjUnpack(GS_Result *r, const CntrType *type, const char *buffer, int *pos, int limit) {
    return Cntr_ObjUnpackVerified(r, type, buffer, pos, limit, 1);
}

CntrObj *Cntr_ObjUnpackVerified(GS_Result *r, const CntrType *type, const char *buffer, int *pos, int limit,
                                int verify) {
    if (*pos < 0 || *pos > limit) {
        append(r, "packed object position outside its buffer");
        return nullptr;
    }
    const unsigned char *p = reinterpret_cast<const unsigned char *>(buffer) + *pos;
    const unsigned char *end = reinterpret_cast<const unsigned char *>(buffer) + limit;
    char magic[4];
    unsigned char version = 0, nameLen = 0;
    if (Cntr_GetBytes(r, &p, end, magic, 4) || memcmp(magic, kMagic, 4) != 0) {
        append(r, "not a packed object");
        return nullptr;
    }
    if (Cntr_GetBytes(r, &p, end, &version, 1)) return nullptr;
    if (version != kVersion) {
        append(r, "packed object of unknown version " + std::to_string(version));
        return nullptr;
    }
    char name[256];
    if (Cntr_GetBytes(r, &p, end, &nameLen, 1) || Cntr_GetBytes(r, &p, end, name, nameLen)) return nullptr;
    name[nameLen] = '\0';
    int32_t payload = 0, check = 0;
    if (Cntr_GetI32(r, &p, end, &payload) || Cntr_GetI32(r, &p, end, &check)) return nullptr;
    if (payload < 0 || payload > end - p) {
        append(r, std::string("packed object of type \"") + name + "\" is truncated");
        return nullptr;
    }
    if (verify && Cntr_Checksum(p, payload) != static_cast<uint32_t>(check)) {
        append(r, std::string("packed object of type \"") + name + "\" is damaged (bad check)");
        return nullptr;
    }
    const CntrType *t = Cntr_TypeFind(name);
    if (!t) {
        append(r, std::string("unknown container type \"") + name + "\"");
        return nullptr;
    }
    if (type && t != type) {
        append(r, std::string("expected a packed \"") + type->name + "\" but found \"" + name + "\"");
        return nullptr;
    }
    if (!t->unpack) {
        append(r, std::string("objects of type \"") + name + "\" cannot be unpacked");
        return nullptr;
    }
    void *rec = t->unpack(r, p, payload);
    if (!rec) return nullptr;
    *pos = static_cast<int>((p + payload) - reinterpret_cast<const unsigned char *>(buffer));
    CntrObj *o = Cntr_ObjCreate(r, t, rec);
    return o;
}

int Cntr_Free(GS_Result *r, const CntrType *type, void *record) {
    if (!type) {
        append(r, "no container type given");
        return 1;
    }
    if (record) type->free(record);
    return 0;
}

int Cntr_ObjDestroy(GS_Result *r, CntrObj *obj) {
    if (!obj) return 0;
    if (obj->freeProc) obj->freeProc(obj);
    int code = 0;
    if (obj->data) code = Cntr_Free(r, obj->type, obj->data);
    DB_FREE(obj);
    return code;
}

void *Cntr_Clone(GS_Result *r, const CntrType *type, const void *record) {
    if (!type->clone) {
        append(r, std::string("objects of type \"") + type->name + "\" cannot be copied");
        return nullptr;
    }
    void *c = type->clone(record);
    if (!c) append(r, std::string("could not copy an object of type \"") + type->name + "\"");
    return c;
}

void Cntr_PutBytes(unsigned char **p, const void *src, size_t n) {
    if (n) memcpy(*p, src, n);
    *p += n;
}

void Cntr_PutI32(unsigned char **p, int32_t v) {
    uint32_t u = static_cast<uint32_t>(v);
    for (int i = 0; i < 4; i++) (*p)[i] = static_cast<unsigned char>(u >> (8 * i));
    *p += 4;
}

void Cntr_PutF32(unsigned char **p, float v) {
    int32_t u;
    memcpy(&u, &v, 4);
    Cntr_PutI32(p, u);
}

void Cntr_PutF64(unsigned char **p, double v) {
    uint64_t u;
    memcpy(&u, &v, 8);
    Cntr_PutI32(p, static_cast<int32_t>(u & 0xffffffffu));
    Cntr_PutI32(p, static_cast<int32_t>(u >> 32));
}

int Cntr_GetBytes(GS_Result *r, const unsigned char **p, const unsigned char *end, void *dst, size_t n) {
    if (static_cast<size_t>(end - *p) < n) {
        append(r, "packed data is truncated");
        return -1;
    }
    if (n) memcpy(dst, *p, n);
    *p += n;
    return 0;
}

int Cntr_GetI32(GS_Result *r, const unsigned char **p, const unsigned char *end, int32_t *v) {
    unsigned char b[4];
    if (Cntr_GetBytes(r, p, end, b, 4)) return -1;
    *v = static_cast<int32_t>(uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24);
    return 0;
}

int Cntr_GetF32(GS_Result *r, const unsigned char **p, const unsigned char *end, float *v) {
    int32_t u;
    if (Cntr_GetI32(r, p, end, &u)) return -1;
    memcpy(v, &u, 4);
    return 0;
}

int Cntr_GetF64(GS_Result *r, const unsigned char **p, const unsigned char *end, double *v) {
    int32_t lo, hi;
    if (Cntr_GetI32(r, p, end, &lo) || Cntr_GetI32(r, p, end, &hi)) return -1;
    uint64_t u = static_cast<uint32_t>(lo) | static_cast<uint64_t>(static_cast<uint32_t>(hi)) << 32;
    memcpy(v, &u, 8);
    return 0;
}

uint32_t Cntr_Checksum(const unsigned char *data, size_t n) {
    uLong c = crc32(0L, Z_NULL, 0);
    while (n > 0) {
        uInt chunk = n > (1u << 30) ? (1u << 30) : static_cast<uInt>(n);
        c = crc32(c, data, chunk);
        data += chunk;
        n -= chunk;
    }
    return static_cast<uint32_t>(c);
}

}  // extern "C"


namespace {
void registerBuiltins() {
    std::lock_guard<std::mutex> g(typesLock());
    for (const CntrType *t : tovik_cntr::builtinTypes()) types().emplace(t->name, t);
}
}  // namespace
