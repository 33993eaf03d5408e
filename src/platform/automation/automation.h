/* A small automation runtime: reference-counted objects called by member
 * name with typed arguments, a running object table, file monikers and an
 * in-process workbook server, as the spreadsheet package expects of its
 * platform.
 *
 * Contract:
 *  - Strings (BSTR) are UTF-16 (char16_t), allocated by SysAllocString and
 *    freed by SysFreeString; 8-bit text is UTF-8 (Auto_ToWide/FromWide).
 *  - IDispatch::Invoke takes its arguments last-first, as DISPPARAMS lays
 *    them out; a property put carries one named argument DISPID_PROPERTYPUT.
 *    Failures of the server fill the EXCEPINFO and answer DISP_E_EXCEPTION.
 *  - The running object table is per process. A file moniker's display
 *    name is the absolute path. BindToObject opens the file with the server
 *    for its extension: ".xlsx", ".xlsm" and ".xls" go to the workbook
 *    server, which registers every workbook it opens in the table (and
 *    revokes it on Close) and notes a new time of last change on every put.
 *  - The workbook server's objects answer the members Application, Windows,
 *    Item, Visible, Calculation, DisplayAlerts, Quit, Activate, Names,
 *    Count, Name, RefersTo, Sheets, Select, Range, Value, SaveAs, Saved,
 *    Close, Parent and WindowState; a workbook's type GUID is
 *    IID_Workbook.
 *  - The last error is per thread; Auto_ErrorText gives the text of an
 *    errno value or of one of the HRESULTs below.
 *  - Auto_FailNext (tests only) makes the next call of the named member
 *    fail with an exception.
 */
#ifndef TOVIK_AUTOMATION_H
#define TOVIK_AUTOMATION_H

#include <cstdint>
#include <string>

typedef int32_t HRESULT;
typedef int32_t DISPID;
typedef uint32_t LCID;
typedef uint16_t VARTYPE;
typedef char16_t OLECHAR;
typedef OLECHAR *BSTR;
typedef int16_t VARIANT_BOOL;

#define SUCCEEDED(hr) ((HRESULT)(hr) >= 0)
#define FAILED(hr) ((HRESULT)(hr) < 0)

const HRESULT S_OK = 0;
const HRESULT S_FALSE = 1;
const HRESULT E_FAIL = (HRESULT)0x80004005;
const HRESULT E_NOINTERFACE = (HRESULT)0x80004002;
const HRESULT E_INVALIDARG = (HRESULT)0x80070057;
const HRESULT E_OUTOFMEMORY = (HRESULT)0x8007000E;
const HRESULT DISP_E_MEMBERNOTFOUND = (HRESULT)0x80020003;
const HRESULT DISP_E_TYPEMISMATCH = (HRESULT)0x80020005;
const HRESULT DISP_E_UNKNOWNNAME = (HRESULT)0x80020006;
const HRESULT DISP_E_EXCEPTION = (HRESULT)0x80020009;
const HRESULT DISP_E_BADPARAMCOUNT = (HRESULT)0x8002000E;
const HRESULT CO_E_CLASSSTRING = (HRESULT)0x800401F3;
const HRESULT MK_E_UNAVAILABLE = (HRESULT)0x800401E3;
const HRESULT MK_E_NOOBJECT = (HRESULT)0x800401E5;
const HRESULT CO_E_NOTINITIALIZED = (HRESULT)0x800401F0;
/* Last-error code whose text is the workbook server's own reason (why a
 * file could not be bound, for instance). */
const uint32_t AUTO_SERVER_ERROR = 0x20000001u;

enum {
    VT_EMPTY = 0, VT_I2 = 2, VT_I4 = 3, VT_R4 = 4, VT_R8 = 5, VT_CY = 6, VT_DATE = 7, VT_BSTR = 8,
    VT_DISPATCH = 9, VT_ERROR = 10, VT_BOOL = 11, VT_VARIANT = 12, VT_UNKNOWN = 13, VT_BYREF = 0x4000
};
enum { DISPATCH_METHOD = 1, DISPATCH_PROPERTYGET = 2, DISPATCH_PROPERTYPUT = 4 };
const DISPID DISPID_PROPERTYPUT = -3;
const LCID LOCALE_USER_DEFAULT = 0x400;

struct GUID {
    uint32_t d1;
    uint16_t d2, d3;
    uint8_t d4[8];
    bool operator==(const GUID &o) const;
};
extern const GUID IID_NULL, IID_IUnknown, IID_IDispatch, IID_Workbook;

struct IUnknown;
struct IDispatch;

struct VARIANT {
    VARTYPE vt;
    uint16_t reserved[3];
    union {
        int16_t iVal;
        int32_t lVal;
        float fltVal;
        double dblVal;
        int64_t cyVal;
        double date;
        BSTR bstrVal;
        IUnknown *punkVal;
        IDispatch *pdispVal;
        HRESULT scode;
        VARIANT_BOOL boolVal;
        void *byref;
    };
};
typedef VARIANT VARIANTARG;

struct DISPPARAMS {
    VARIANTARG *rgvarg;
    DISPID *rgdispidNamedArgs;
    unsigned cArgs;
    unsigned cNamedArgs;
};

struct EXCEPINFO {
    uint16_t wCode;
    BSTR bstrSource;
    BSTR bstrDescription;
    BSTR bstrHelpFile;
    HRESULT scode;
};

struct TYPEATTR {
    GUID guid;
};

struct IUnknown {
    virtual HRESULT QueryInterface(const GUID &iid, void **out) = 0;
    virtual uint32_t AddRef() = 0;
    virtual uint32_t Release() = 0;

protected:
    virtual ~IUnknown() {}
};

struct ITypeInfo : IUnknown {
    virtual HRESULT GetTypeAttr(TYPEATTR **attr) = 0;
    virtual void ReleaseTypeAttr(TYPEATTR *attr) = 0;
};

struct IDispatch : IUnknown {
    virtual HRESULT GetTypeInfo(unsigned index, LCID lcid, ITypeInfo **info) = 0;
    virtual HRESULT GetIDsOfNames(const GUID &iid, const OLECHAR **names, unsigned count, LCID lcid, DISPID *ids) = 0;
    virtual HRESULT Invoke(DISPID id, const GUID &iid, LCID lcid, uint16_t flags, DISPPARAMS *params,
                           VARIANT *result, EXCEPINFO *excep, unsigned *argErr) = 0;
};

struct IBindCtx : IUnknown {};

struct IMoniker : IUnknown {
    virtual HRESULT GetDisplayName(IBindCtx *bc, IMoniker *left, OLECHAR **name) = 0;
    virtual HRESULT BindToObject(IBindCtx *bc, IMoniker *left, const GUID &iid, void **out) = 0;
};

struct IEnumMoniker : IUnknown {
    virtual HRESULT Next(unsigned count, IMoniker **out, unsigned *fetched) = 0;
    virtual HRESULT Reset() = 0;
};

struct FILETIME {
    uint32_t dwLowDateTime, dwHighDateTime;
};

struct IRunningObjectTable : IUnknown {
    virtual HRESULT Register(IUnknown *object, IMoniker *moniker, uint32_t *cookie) = 0;
    virtual HRESULT Revoke(uint32_t cookie) = 0;
    virtual HRESULT IsRunning(IMoniker *moniker) = 0;
    virtual HRESULT GetObject(IMoniker *moniker, IUnknown **out) = 0;
    virtual HRESULT NoteChangeTime(uint32_t cookie, const FILETIME *time) = 0;
    virtual HRESULT GetTimeOfLastChange(IMoniker *moniker, FILETIME *time) = 0;
    virtual HRESULT EnumRunning(IEnumMoniker **out) = 0;
};

extern "C" {
BSTR SysAllocString(const OLECHAR *s);
BSTR SysAllocStringLen(const OLECHAR *s, unsigned len);
void SysFreeString(BSTR s);
unsigned SysStringLen(BSTR s);
void *CoTaskMemAlloc(size_t size);
void CoTaskMemFree(void *p);
void VariantInit(VARIANT *v);
HRESULT VariantClear(VARIANT *v);
/* Only to VT_R8 (from I2, I4, R4, R8, BOOL, DATE, CY and BSTR numbers). */
HRESULT VariantChangeTypeEx(VARIANT *dest, const VARIANT *src, LCID lcid, uint16_t flags, VARTYPE vt);
HRESULT OleInitialize(void *reserved);
void OleUninitialize(void);
HRESULT CLSIDFromProgID(const OLECHAR *progId, GUID *clsid);
HRESULT CoCreateInstance(const GUID &clsid, IUnknown *outer, uint32_t context, const GUID &iid, void **out);
HRESULT CreateFileMoniker(const OLECHAR *path, IMoniker **out);
HRESULT MkParseDisplayName(IBindCtx *bc, const OLECHAR *name, uint32_t *eaten, IMoniker **out);
HRESULT CreateBindCtx(uint32_t reserved, IBindCtx **out);
HRESULT GetRunningObjectTable(uint32_t reserved, IRunningObjectTable **out);
uint32_t GetLastError(void);
void SetLastError(uint32_t code);
}

/* The text of an errno value or of an HRESULT of this runtime. */
std::string Auto_ErrorText(uint32_t code);
std::u16string Auto_ToWide(const std::string &utf8);
std::string Auto_FromWide(const OLECHAR *s);
/* Makes the next call of member (e.g. "SaveAs") fail, for tests. */
void Auto_FailNext(const char *member);
/* Number of live objects of the runtime (leak checks in tests). */
int Auto_LiveObjects(void);

#endif
