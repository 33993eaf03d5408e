// The automation runtime: strings, variants, the running object table,
// file monikers and the base of every server object.
#include "automation.h"

#include <charconv>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "server.h"
#include "textconv.h"

const GUID IID_NULL = {0, 0, 0, {0}};
const GUID IID_IUnknown = {0, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const GUID IID_IDispatch = {0x00020400, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const GUID IID_Workbook = {0x000208DA, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
static const GUID CLSID_Application = {0x00024500, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

bool GUID::operator==(const GUID &o) const { return memcmp(this, &o, sizeof o) == 0; }

namespace {

thread_local uint32_t lastError = 0;
int oleInits = 0;

// BSTRs carry their length in front, like the platform's.
struct BstrHead {
    uint32_t bytes;
};

}  // namespace

extern "C" {

BSTR SysAllocStringLen(const OLECHAR *s, unsigned len) {
    BstrHead *h = static_cast<BstrHead *>(malloc(sizeof(BstrHead) + (len + 1) * sizeof(OLECHAR)));
    if (!h) return nullptr;
    h->bytes = len * sizeof(OLECHAR);
    BSTR b = reinterpret_cast<BSTR>(h + 1);
    if (s) memcpy(b, s, len * sizeof(OLECHAR));
    else memset(b, 0, len * sizeof(OLECHAR));
    b[len] = 0;
    return b;
}

BSTR SysAllocString(const OLECHAR *s) {
    if (!s) return nullptr;
    unsigned n = 0;
    while (s[n]) n++;
    return SysAllocStringLen(s, n);
}

void SysFreeString(BSTR s) {
    if (s) free(reinterpret_cast<BstrHead *>(s) - 1);
}

unsigned SysStringLen(BSTR s) { return s ? (reinterpret_cast<BstrHead *>(s) - 1)->bytes / sizeof(OLECHAR) : 0; }

void *CoTaskMemAlloc(size_t size) { return malloc(size ? size : 1); }
void CoTaskMemFree(void *p) { free(p); }

void VariantInit(VARIANT *v) { memset(v, 0, sizeof *v); }

HRESULT VariantClear(VARIANT *v) {
    if (!(v->vt & VT_BYREF)) {
        if (v->vt == VT_BSTR) SysFreeString(v->bstrVal);
        else if ((v->vt == VT_DISPATCH || v->vt == VT_UNKNOWN) && v->punkVal) v->punkVal->Release();
    }
    VariantInit(v);
    return S_OK;
}

HRESULT VariantChangeTypeEx(VARIANT *dest, const VARIANT *src, LCID, uint16_t, VARTYPE vt) {
    if (vt != VT_R8) return DISP_E_TYPEMISMATCH;
    double d;
    switch (src->vt) {
    case VT_EMPTY: d = 0; break;
    case VT_I2: d = src->iVal; break;
    case VT_I4: d = src->lVal; break;
    case VT_R4: d = src->fltVal; break;
    case VT_R8: d = src->dblVal; break;
    case VT_DATE: d = src->date; break;
    case VT_CY: d = src->cyVal / 10000.0; break;
    case VT_BOOL: d = src->boolVal ? -1 : 0; break;
    case VT_BSTR: {
        std::string s = Auto_FromWide(src->bstrVal);
        auto r = std::from_chars(s.data(), s.data() + s.size(), d);
        if (s.empty() || r.ec != std::errc() || r.ptr != s.data() + s.size()) return DISP_E_TYPEMISMATCH;
        break;
    }
    default: return DISP_E_TYPEMISMATCH;
    }
    if (dest == src || dest->vt == VT_BSTR) VariantClear(dest);
    VariantInit(dest);
    dest->vt = VT_R8;
    dest->dblVal = d;
    return S_OK;
}

HRESULT OleInitialize(void *) {
    oleInits++;
    return S_OK;
}

void OleUninitialize(void) {
    if (oleInits > 0) oleInits--;
}

HRESULT CLSIDFromProgID(const OLECHAR *progId, GUID *clsid) {
    if (progId && Auto_FromWide(progId) == "Workbook.Application") {
        *clsid = CLSID_Application;
        return S_OK;
    }
    return CO_E_CLASSSTRING;
}

HRESULT CoCreateInstance(const GUID &clsid, IUnknown *, uint32_t, const GUID &iid, void **out) {
    *out = nullptr;
    if (!(clsid == CLSID_Application)) return MK_E_UNAVAILABLE;
    IDispatch *app = Server_Application();
    HRESULT hr = app->QueryInterface(iid, out);
    app->Release();
    return hr;
}

uint32_t GetLastError(void) { return lastError; }
void SetLastError(uint32_t code) { lastError = code; }

}  // extern "C"

std::string Auto_ErrorText(uint32_t code) {
    static const struct {
        HRESULT hr;
        const char *text;
    } known[] = {
        {E_FAIL, "Unspecified error"},
        {E_NOINTERFACE, "No such interface supported"},
        {E_INVALIDARG, "The parameter is incorrect."},
        {E_OUTOFMEMORY, "Not enough memory resources are available to complete this operation."},
        {DISP_E_MEMBERNOTFOUND, "Member not found."},
        {DISP_E_TYPEMISMATCH, "Type mismatch."},
        {DISP_E_UNKNOWNNAME, "Unknown name."},
        {DISP_E_EXCEPTION, "Exception occurred."},
        {DISP_E_BADPARAMCOUNT, "Invalid number of parameters."},
        {CO_E_CLASSSTRING, "Invalid class string"},
        {MK_E_UNAVAILABLE, "Operation unavailable"},
        {MK_E_NOOBJECT, "The object could not be found."},
    };
    for (auto &k : known)
        if (static_cast<uint32_t>(k.hr) == code) return std::string(k.text) + "\n";
    if (code == kServerError) return Server_ErrorText() + "\n";
    if (code == 0) return "The operation completed successfully.\n";
    if (code < 0x10000) return std::string(strerror(static_cast<int>(code))) + "\n";
    char buf[48];
    snprintf(buf, sizeof buf, "Error 0x%08X\n", code);
    return buf;
}

std::u16string Auto_ToWide(const std::string &s) {
    std::u16string w;
    Text_Utf16(s, w, false);
    return w;
}

std::string Auto_FromWide(const OLECHAR *w) {
    std::string s;
    for (size_t i = 0; w && w[i]; i++) {
        uint32_t c = w[i];
        if (c >= 0xD800 && c < 0xDC00 && w[i + 1] >= 0xDC00 && w[i + 1] < 0xE000) {
            c = 0x10000 + ((c - 0xD800) << 10) + (w[i + 1] - 0xDC00);
            i++;
        }
        if (c < 0x80) s += static_cast<char>(c);
        else if (c < 0x800) {
            s += static_cast<char>(0xC0 | (c >> 6));
            s += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            s += static_cast<char>(0xE0 | (c >> 12));
            s += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            s += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            s += static_cast<char>(0xF0 | (c >> 18));
            s += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            s += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            s += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return s;
}

// ---------------------------------------------------------------------------
// Reference counting, shared by every object of the runtime and the server.

int RefCounted::live = 0;

int Auto_LiveObjects(void) { return RefCounted::live; }

// ---------------------------------------------------------------------------
// Monikers, bind contexts and the running object table.

namespace {

struct BindCtx : Unknown<IBindCtx> {};

struct FileMoniker : Unknown<IMoniker> {
    std::string path;
    explicit FileMoniker(std::string p) : path(std::move(p)) {}
    HRESULT GetDisplayName(IBindCtx *, IMoniker *, OLECHAR **name) override {
        std::u16string w = Auto_ToWide(path);
        *name = static_cast<OLECHAR *>(CoTaskMemAlloc((w.size() + 1) * sizeof(OLECHAR)));
        memcpy(*name, w.c_str(), (w.size() + 1) * sizeof(OLECHAR));
        return S_OK;
    }
    HRESULT BindToObject(IBindCtx *, IMoniker *, const GUID &iid, void **out) override {
        *out = nullptr;
        IUnknown *obj = nullptr;
        std::string err;
        HRESULT hr = Server_OpenWorkbook(path, this, &obj, err);
        if (FAILED(hr)) {
            SetLastError(err.empty() ? static_cast<uint32_t>(hr) : kServerError);
            Server_SetErrorText(err);
            return hr;
        }
        hr = obj->QueryInterface(iid, out);
        obj->Release();
        return hr;
    }
};

struct RotEntry {
    uint32_t cookie;
    std::string name;
    IMoniker *moniker;
    IUnknown *object;
    FILETIME changed;
};

struct Rot;

struct EnumMonikers : Unknown<IEnumMoniker> {
    std::vector<IMoniker *> list;
    size_t at = 0;
    ~EnumMonikers() override {
        for (IMoniker *m : list) m->Release();
    }
    HRESULT Next(unsigned count, IMoniker **out, unsigned *fetched) override {
        unsigned n = 0;
        while (n < count && at < list.size()) {
            out[n] = list[at++];
            out[n++]->AddRef();
        }
        if (fetched) *fetched = n;
        return n == count ? S_OK : S_FALSE;
    }
    HRESULT Reset() override {
        at = 0;
        return S_OK;
    }
};

std::string displayName(IMoniker *m) {
    OLECHAR *w = nullptr;
    if (!m || FAILED(m->GetDisplayName(nullptr, nullptr, &w))) return "";
    std::string s = Auto_FromWide(w);
    CoTaskMemFree(w);
    return s;
}

// The table itself lives for the process; its interface is a thin handle.
std::vector<RotEntry> rot;
uint32_t nextCookie = 1;

struct RotHandle : Unknown<IRunningObjectTable> {
    RotEntry *find(IMoniker *m) {
        std::string n = displayName(m);
        for (RotEntry &e : rot)
            if (e.name == n) return &e;
        return nullptr;
    }
    HRESULT Register(IUnknown *object, IMoniker *moniker, uint32_t *cookie) override {
        object->AddRef();
        moniker->AddRef();
        rot.push_back({nextCookie, displayName(moniker), moniker, object, Server_Now()});
        *cookie = nextCookie++;
        return S_OK;
    }
    HRESULT Revoke(uint32_t cookie) override {
        for (size_t i = 0; i < rot.size(); i++) {
            if (rot[i].cookie != cookie) continue;
            RotEntry e = rot[i];
            rot.erase(rot.begin() + i);
            e.moniker->Release();
            e.object->Release();
            return S_OK;
        }
        return E_INVALIDARG;
    }
    HRESULT IsRunning(IMoniker *m) override { return find(m) ? S_OK : S_FALSE; }
    HRESULT GetObject(IMoniker *m, IUnknown **out) override {
        RotEntry *e = find(m);
        *out = e ? e->object : nullptr;
        if (!e) return MK_E_UNAVAILABLE;
        e->object->AddRef();
        return S_OK;
    }
    HRESULT NoteChangeTime(uint32_t cookie, const FILETIME *t) override {
        for (RotEntry &e : rot)
            if (e.cookie == cookie) {
                e.changed = *t;
                return S_OK;
            }
        return E_INVALIDARG;
    }
    HRESULT GetTimeOfLastChange(IMoniker *m, FILETIME *t) override {
        RotEntry *e = find(m);
        if (!e) return MK_E_UNAVAILABLE;
        *t = e->changed;
        return S_OK;
    }
    HRESULT EnumRunning(IEnumMoniker **out) override {
        EnumMonikers *en = new EnumMonikers;
        for (RotEntry &e : rot) {
            e.moniker->AddRef();
            en->list.push_back(e.moniker);
        }
        *out = en;
        return S_OK;
    }
};

}  // namespace

extern "C" {

HRESULT CreateFileMoniker(const OLECHAR *path, IMoniker **out) {
    std::string p = Auto_FromWide(path);
    if (p.empty()) {
        *out = nullptr;
        return E_INVALIDARG;
    }
    *out = new FileMoniker(p);
    return S_OK;
}

HRESULT MkParseDisplayName(IBindCtx *, const OLECHAR *name, uint32_t *eaten, IMoniker **out) {
    HRESULT hr = CreateFileMoniker(name, out);
    if (eaten) *eaten = SUCCEEDED(hr) ? static_cast<uint32_t>(std::char_traits<char16_t>::length(name)) : 0;
    return hr;
}

HRESULT CreateBindCtx(uint32_t, IBindCtx **out) {
    *out = new BindCtx;
    return S_OK;
}

HRESULT GetRunningObjectTable(uint32_t, IRunningObjectTable **out) {
    *out = new RotHandle;
    return S_OK;
}

}  // extern "C"
