// Packing of the three message types. Every size that arrives is checked
// against the bytes that remain; a text's size counts its terminating zero
// (0: absent).
#include <cstring>

#include "mostrel.h"
#include "net.h"

namespace {

void release(void *rec) { delete static_cast<NetMessage *>(rec); }

void *clone(const void *rec) { return new NetMessage(*static_cast<const NetMessage *>(rec)); }

int length(GS_Result *, const void *rec, size_t *len) {
    const NetMessage *m = static_cast<const NetMessage *>(rec);
    size_t n = 3 * 4 + 2 * 4;
    for (int i = 0; i < 3; i++)
        if (m->has[i]) n += m->text[i].size() + 1;
    *len = n;
    return 0;
}

int pack(GS_Result *, const void *rec, unsigned char *p) {
    const NetMessage *m = static_cast<const NetMessage *>(rec);
    for (int i = 0; i < 3; i++) {
        Cntr_PutI32(&p, m->has[i] ? static_cast<int32_t>(m->text[i].size() + 1) : 0);
        if (m->has[i]) Cntr_PutBytes(&p, m->text[i].c_str(), m->text[i].size() + 1);
    }
    Cntr_PutI32(&p, m->number);
    Cntr_PutI32(&p, static_cast<int32_t>(m->sequence));
    return 0;
}

void *unpack(GS_Result *r, const unsigned char *p, size_t n) {
    const unsigned char *end = p + n;
    NetMessage *m = new NetMessage;
    for (int i = 0; i < 3; i++) {
        int32_t size = 0;
        if (Cntr_GetI32(r, &p, end, &size)) goto bad;
        if (size < 0 || size > end - p || (size > 0 && p[size - 1] != '\0')) {
            GS_AppendResult(r, "malformed text in a remote message", (char *)nullptr);
            goto bad;
        }
        if (size > 0) m->set(i, std::string(reinterpret_cast<const char *>(p), strnlen(reinterpret_cast<const char *>(p), size)));
        p += size;
    }
    int32_t seq;
    if (Cntr_GetI32(r, &p, end, &m->number) || Cntr_GetI32(r, &p, end, &seq)) goto bad;
    m->sequence = static_cast<uint32_t>(seq);
    if (p != end) {
        GS_AppendResult(r, "remote message longer than its fields", (char *)nullptr);
        goto bad;
    }
    return m;
bad:
    delete m;
    return nullptr;
}

} // namespace

const CntrType netRequestType = {"mostrel", "mostrel", nullptr, release, clone, length, pack, unpack};
const CntrType netResultType = {"mostrel_result", "mostrel_result", nullptr, release, clone, length, pack, unpack};
const CntrType netAliasType = {"mostrel_alias", "mostrel_alias", nullptr, release, clone, length, pack, unpack};

void NetRegisterTypes() {
    Cntr_RegisterType(&netRequestType);
    Cntr_RegisterType(&netResultType);
    Cntr_RegisterType(&netAliasType);
}
