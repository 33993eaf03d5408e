// Late-bound member calls and the texts of their failures.
#include "autocall.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

VARTYPE letterType(char c) {
    switch (c) {
    case 'b': return VT_BOOL;
    case 'c': return VT_CY;
    case 'd': return VT_DATE;
    case 'e': return VT_ERROR;
    case 'i': return VT_I2;
    case 'I': return VT_I4;
    case 'r': return VT_R4;
    case 'R': return VT_R8;
    case 's': return VT_BSTR;
    case 'v': return VT_VARIANT;
    case 'D': return VT_DISPATCH;
    case 'U': return VT_UNKNOWN;
    }
    return 0;
}

}  // namespace

void Msg_Set(char *buffer, const char *text) {
    snprintf(buffer, kMsgSize, "%s", text);
}

void Msg_Append(char *buffer, const char *text) {
    size_t len = strnlen(buffer, kMsgSize - 1);
    strncat(buffer, text, kMsgSize - 1 - len);
}

extern "C" {

HRESULT CountArgsInFormat(const char *format, int *count) {
    *count = 0;
    if (!format) return 0;
    for (const char *p = format; *p;) {
        if (*p == '&') p++;
        if (!letterType(*p)) return E_INVALIDARG;
        (*count)++;
        p++;
    }
    return 0;
}

const char *GetNextVarType(const char *position, VARTYPE *vartype) {
    *vartype = 0;
    if (!position) return nullptr;
    if (*position == '&') {
        *vartype = VT_BYREF;
        position++;
        if (!*position) return nullptr;
    }
    VARTYPE t = letterType(*position);
    if (!t) return nullptr;
    *vartype |= t;
    return position + 1;
}

// On this platform the variable arguments come by C type, not by size:
// int for b e i I, double for d r R, int64_t for c, a VARIANT for v and a
// pointer for the rest and for every by-reference argument.
HRESULT Invoke(IDispatch *dispatch, uint16_t flags, VARIANT *result, EXCEPINFO *excepInfo, unsigned *argErr,
               const OLECHAR *name, const char *format, ...) {
    if (!dispatch) return E_INVALIDARG;
    DISPID id;
    HRESULT hr = dispatch->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id);
    if (FAILED(hr)) return hr;
    int n = 0;
    CountArgsInFormat(format, &n);
    DISPID putId = DISPID_PROPERTYPUT;
    DISPPARAMS params = {nullptr, nullptr, 0, 0};
    if (flags & DISPATCH_PROPERTYPUT) {
        if (n == 0) return E_INVALIDARG;
        params.cNamedArgs = 1;
        params.rgdispidNamedArgs = &putId;
    }
    VARIANTARG *args = nullptr;
    hr = S_OK;
    if (n > 0) {
        args = static_cast<VARIANTARG *>(CoTaskMemAlloc(sizeof(VARIANTARG) * n));
        if (!args) return E_OUTOFMEMORY;
        memset(args, 0, sizeof(VARIANTARG) * n);
        va_list ap;
        va_start(ap, format);
        const char *p = format;
        for (int k = 0; k < n && SUCCEEDED(hr); k++) {
            VARTYPE vt;
            p = GetNextVarType(p, &vt);
            VARIANTARG &a = args[n - 1 - k];
            if (!p) {
                hr = E_INVALIDARG;
                break;
            }
            a.vt = vt;
            if (vt & VT_BYREF) {
                a.byref = va_arg(ap, void *);
                if ((vt & ~VT_BYREF) == VT_BOOL && a.byref) *static_cast<int32_t *>(a.byref) = 0;
                continue;
            }
            switch (vt) {
            case VT_BOOL: a.boolVal = va_arg(ap, int) ? -1 : 0; break;
            case VT_CY: a.cyVal = va_arg(ap, int64_t); break;
            case VT_DATE: a.date = va_arg(ap, double); break;
            case VT_ERROR: a.scode = va_arg(ap, int); break;
            case VT_I2: a.iVal = static_cast<int16_t>(va_arg(ap, int)); break;
            case VT_I4: a.lVal = va_arg(ap, int); break;
            case VT_R4: a.fltVal = static_cast<float>(va_arg(ap, double)); break;
            case VT_R8: a.dblVal = va_arg(ap, double); break;
            case VT_BSTR:
                a.bstrVal = SysAllocString(va_arg(ap, const OLECHAR *));
                if (!a.bstrVal) hr = E_OUTOFMEMORY;
                break;
            case VT_VARIANT: a = va_arg(ap, VARIANT); break;
            case VT_DISPATCH: a.pdispVal = va_arg(ap, IDispatch *); break;
            case VT_UNKNOWN: a.punkVal = va_arg(ap, IUnknown *); break;
            default: hr = E_INVALIDARG;
            }
        }
        va_end(ap);
        params.rgvarg = args;
        params.cArgs = n;
    }
    if (SUCCEEDED(hr)) {
        if (result) VariantInit(result);
        hr = dispatch->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, result, excepInfo, argErr);
    }
    // Only the strings made here are ours; objects and by-reference
    // targets stay the caller's.
    for (int k = 0; k < n; k++)
        if (args[k].vt == VT_BSTR) VariantClear(&args[k]);
    CoTaskMemFree(args);
    return hr;
}

HRESULT CreateObject(const OLECHAR *progId, IDispatch **dispatch) {
    *dispatch = nullptr;
    GUID clsid;
    HRESULT hr = CLSIDFromProgID(progId, &clsid);
    if (FAILED(hr)) return hr;
    IUnknown *unk = nullptr;
    hr = CoCreateInstance(clsid, nullptr, 5, IID_IUnknown, reinterpret_cast<void **>(&unk));
    if (FAILED(hr)) return hr;
    hr = unk->QueryInterface(IID_IDispatch, reinterpret_cast<void **>(dispatch));
    unk->Release();
    return FAILED(hr) ? hr : 0;
}

HRESULT GetParentIDispatch(IDispatch *dispatch, IDispatch **parent, EXCEPINFO *excepInfo, unsigned *argErr) {
    VARIANT v;
    HRESULT hr = Invoke(dispatch, DISPATCH_PROPERTYGET, &v, excepInfo, argErr, u"Parent", nullptr);
    if (SUCCEEDED(hr)) *parent = v.vt == VT_DISPATCH ? v.pdispVal : nullptr;
    return hr;
}

void cleanROT(void) {
    OleInitialize(nullptr);
    IRunningObjectTable *rot = nullptr;
    IEnumMoniker *en = nullptr;
    IBindCtx *bc = nullptr;
    // Each step is checked: a missing table or enumerator ends the walk.
    if (SUCCEEDED(GetRunningObjectTable(0, &rot)) && rot && SUCCEEDED(rot->EnumRunning(&en)) && en &&
        SUCCEEDED(CreateBindCtx(0, &bc)) && bc) {
        IMoniker *m;
        unsigned fetched;
        while (en->Next(1, &m, &fetched) == S_OK && fetched == 1) {
            OLECHAR *name = nullptr;
            if (SUCCEEDED(m->GetDisplayName(bc, nullptr, &name))) CoTaskMemFree(name);
            IUnknown *obj = nullptr;
            if (SUCCEEDED(rot->GetObject(m, &obj)) && obj) obj->Release();
            bc->Release();
            m->Release();
            bc = nullptr;
            if (FAILED(CreateBindCtx(0, &bc))) break;
        }
    }
    if (bc) bc->Release();
    if (en) en->Release();
    if (rot) rot->Release();
    OleUninitialize();
}

}  // extern "C"

void FormatExcepInfo(EXCEPINFO *e, char *buffer) {
    std::string parts[3];
    BSTR *strs[3] = {&e->bstrSource, &e->bstrDescription, &e->bstrHelpFile};
    for (int i = 0; i < 3; i++) {
        parts[i] = Auto_FromWide(*strs[i]);
        SysFreeString(*strs[i]);
        *strs[i] = nullptr;
    }
    Msg_Set(buffer, (parts[0] + ": " + parts[1] + ": " + parts[2] + ": ").c_str());
}

void GetLastErrorText(char *buffer) { Msg_Set(buffer, Auto_ErrorText(GetLastError()).c_str()); }

void AppendLastErrorText(char *buffer) {
    std::string t = "(" + Auto_ErrorText(GetLastError()) + "), ";
    Msg_Append(buffer, t.c_str());
}
