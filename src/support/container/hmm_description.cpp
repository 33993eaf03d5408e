// The "hmm/description" type: a recognizer description's entry table, as
// the packages that read labels and model names from it see it.
#include <cstring>
#include <string>

#include "container.h"
#include "records.h"
#include "yastro.h"

namespace {

char *copyText(const char *s, size_t n) {
    char *d = static_cast<char *>(DB_MALLOC(n + 1));
    if (n) memcpy(d, s, n);
    d[n] = '\0';
    return d;
}

size_t textLength(const char *s) { return s ? strlen(s) : 0; }

void release(void *rec) { HmmDescription_Free(static_cast<HmmDescription *>(rec)); }

void *clone(const void *rec) {
    const HmmDescription *s = static_cast<const HmmDescription *>(rec);
    HmmDescription *d = HmmDescription_New(s->numEntries);
    for (int32_t i = 0; i < s->numEntries; i++) {
        const DescriptionEntry &a = s->entries[i];
        DescriptionEntry &b = d->entries[i];
        b = a;
        b.modelSpec = copyText(a.modelSpec ? a.modelSpec : "", textLength(a.modelSpec));
        b.name = copyText(a.name ? a.name : "", textLength(a.name));
    }
    return d;
}

// Per entry: the two texts (u32 length and bytes), left and right context,
// the model text's storage size (u16) and the model index.
int length(GS_Result *, const void *rec, size_t *len) {
    const HmmDescription *s = static_cast<const HmmDescription *>(rec);
    size_t n = 4;
    for (int32_t i = 0; i < s->numEntries; i++)
        n += 4 + textLength(s->entries[i].modelSpec) + 4 + textLength(s->entries[i].name) + 4 + 4 + 2 + 4;
    *len = n;
    return 0;
}

int pack(GS_Result *, const void *rec, unsigned char *p) {
    const HmmDescription *s = static_cast<const HmmDescription *>(rec);
    Cntr_PutI32(&p, s->numEntries);
    for (int32_t i = 0; i < s->numEntries; i++) {
        const DescriptionEntry &e = s->entries[i];
        for (const char *t : {e.modelSpec, e.name}) {
            size_t n = textLength(t);
            Cntr_PutI32(&p, static_cast<int32_t>(n));
            Cntr_PutBytes(&p, t, n);
        }
        Cntr_PutI32(&p, e.leftContext);
        Cntr_PutI32(&p, e.rightContext);
        *p++ = static_cast<unsigned char>(e.modelSpecSize & 0xff);
        *p++ = static_cast<unsigned char>(e.modelSpecSize >> 8);
        Cntr_PutI32(&p, e.hmmIndex);
    }
    return 0;
}

bool getText(GS_Result *r, const unsigned char **p, const unsigned char *end, char **out) {
    int32_t n = 0;
    if (Cntr_GetI32(r, p, end, &n)) return false;
    if (n < 0 || n > end - *p) {
        GS_AppendResult(r, "hmm/description: text longer than its data", (char *)nullptr);
        return false;
    }
    *out = copyText(reinterpret_cast<const char *>(*p), static_cast<size_t>(n));
    *p += n;
    return true;
}

void *unpack(GS_Result *r, const unsigned char *p, size_t len) {
    const unsigned char *end = p + len;
    int32_t count = 0;
    if (Cntr_GetI32(r, &p, end, &count)) return nullptr;
    // Every entry takes at least 22 bytes: a count beyond that is damage.
    if (count < 0 || static_cast<size_t>(count) > static_cast<size_t>(end - p) / 22) {
        GS_AppendResult(r, "hmm/description: bad entry count", (char *)nullptr);
        return nullptr;
    }
    HmmDescription *d = HmmDescription_New(count);
    for (int32_t i = 0; i < count; i++) {
        DescriptionEntry &e = d->entries[i];
        unsigned char size[2] = {0, 0};
        if (!getText(r, &p, end, &e.modelSpec) || !getText(r, &p, end, &e.name) ||
            Cntr_GetI32(r, &p, end, &e.leftContext) || Cntr_GetI32(r, &p, end, &e.rightContext) ||
            Cntr_GetBytes(r, &p, end, size, 2) || Cntr_GetI32(r, &p, end, &e.hmmIndex)) {
            HmmDescription_Free(d);
            return nullptr;
        }
        e.modelSpecSize = static_cast<uint16_t>(size[0] | (size[1] << 8));
    }
    if (p != end) {
        GS_AppendResult(r, "hmm/description: bytes after the entries", (char *)nullptr);
        HmmDescription_Free(d);
        return nullptr;
    }
    return d;
}

}  // namespace

namespace tovik_cntr {
extern const CntrType hmmDescriptionType;
const CntrType hmmDescriptionType = {"hmm/description", "description", nullptr, release, clone, length, pack,
                                     unpack};
}  // namespace tovik_cntr

extern "C" {

HmmDescription *HmmDescription_New(int32_t numEntries) {
    HmmDescription *d = static_cast<HmmDescription *>(DB_MALLOC(sizeof(HmmDescription)));
    memset(d, 0, sizeof *d);
    d->numEntries = numEntries > 0 ? numEntries : 0;
    size_t n = static_cast<size_t>(d->numEntries);
    d->entries = static_cast<DescriptionEntry *>(DB_MALLOC(n ? n * sizeof(DescriptionEntry) : 1));
    if (n) memset(d->entries, 0, n * sizeof(DescriptionEntry));
    for (size_t i = 0; i < n; i++) d->entries[i].leftContext = d->entries[i].rightContext = -1;
    return d;
}

void HmmDescription_Free(HmmDescription *d) {
    if (!d) return;
    for (int32_t i = 0; i < d->numEntries; i++) {
        DB_FREE(d->entries[i].modelSpec);
        DB_FREE(d->entries[i].name);
    }
    DB_FREE(d->entries);
    DB_FREE(d);
}

}  // extern "C"
