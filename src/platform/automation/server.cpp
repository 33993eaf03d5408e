// The in-process workbook server: an application, its workbooks, windows,
// names, sheets and ranges over Office Open XML files.
#include <time.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "automation.h"
#include "server.h"
#include "xlsx.h"

namespace {

thread_local std::string serverError;
thread_local std::string failMember;

struct TypeInfo : Unknown<ITypeInfo> {
    TYPEATTR attr;
    explicit TypeInfo(const GUID &g) { attr.guid = g; }
    HRESULT GetTypeAttr(TYPEATTR **out) override {
        *out = &attr;
        return S_OK;
    }
    void ReleaseTypeAttr(TYPEATTR *) override {}
};

typedef std::vector<VARIANT *> Args;

// Base of every server object: members found by name (without regard to
// case), arguments handed over in call order, failures as exceptions.
struct DispObject : IDispatch, RefCounted {
    virtual const char *const *memberNames() const = 0;
    virtual HRESULT call(int member, uint16_t flags, Args &args, VARIANT *result, std::string &err) = 0;
    virtual GUID typeGuid() const { return IID_NULL; }

    HRESULT QueryInterface(const GUID &iid, void **out) override {
        if (iid == IID_IUnknown || iid == IID_IDispatch) {
            *out = static_cast<IDispatch *>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    uint32_t AddRef() override { return ref(); }
    uint32_t Release() override { return unref(); }
    HRESULT GetTypeInfo(unsigned, LCID, ITypeInfo **info) override {
        *info = new TypeInfo(typeGuid());
        return S_OK;
    }
    HRESULT GetIDsOfNames(const GUID &, const OLECHAR **names, unsigned count, LCID, DISPID *ids) override {
        if (count < 1) return E_INVALIDARG;
        std::string want = Auto_FromWide(names[0]);
        const char *const *m = memberNames();
        for (int i = 0; m[i]; i++)
            if (strcasecmp(m[i], want.c_str()) == 0) {
                ids[0] = i;
                return S_OK;
            }
        return DISP_E_UNKNOWNNAME;
    }
    HRESULT Invoke(DISPID id, const GUID &, LCID, uint16_t flags, DISPPARAMS *params, VARIANT *result,
                   EXCEPINFO *excep, unsigned *) override {
        const char *const *m = memberNames();
        int count = 0;
        while (m[count]) count++;
        if (id < 0 || id >= count) return DISP_E_MEMBERNOTFOUND;
        Args args;
        unsigned n = params ? params->cArgs : 0, named = params ? params->cNamedArgs : 0;
        for (unsigned i = n; i > named; i--) args.push_back(deref(&params->rgvarg[i - 1]));
        if (flags & DISPATCH_PROPERTYPUT) {
            if (named != 1 || n < 1) return DISP_E_BADPARAMCOUNT;
            args.push_back(deref(&params->rgvarg[0]));
        }
        VARIANT scratch;
        VariantInit(&scratch);
        if (!result) result = &scratch;
        std::string err;
        HRESULT hr;
        if (!failMember.empty() && strcasecmp(failMember.c_str(), m[id]) == 0) {
            failMember.clear();
            err = std::string(m[id]) + " failed (as asked for)";
            hr = DISP_E_EXCEPTION;
        } else {
            hr = call(id, flags, args, result, err);
        }
        VariantClear(&scratch);
        if (!err.empty()) {
            if (excep) {
                memset(excep, 0, sizeof *excep);
                excep->bstrSource = SysAllocString(Auto_ToWide("Workbook server").c_str());
                excep->bstrDescription = SysAllocString(Auto_ToWide(err).c_str());
                excep->scode = E_FAIL;
            }
            return DISP_E_EXCEPTION;
        }
        return hr;
    }
    static VARIANT *deref(VARIANT *v) {
        return v->vt == (VT_BYREF | VT_VARIANT) && v->byref ? static_cast<VARIANT *>(v->byref) : v;
    }
};

void setDispatch(VARIANT *r, IDispatch *d) {
    r->vt = VT_DISPATCH;
    r->pdispVal = d;
}
void setText(VARIANT *r, const std::string &s) {
    r->vt = VT_BSTR;
    r->bstrVal = SysAllocString(Auto_ToWide(s).c_str());
}
void setNumber(VARIANT *r, double d) {
    r->vt = VT_R8;
    r->dblVal = d;
}
void setBool(VARIANT *r, bool b) {
    r->vt = VT_BOOL;
    r->boolVal = b ? -1 : 0;
}
bool argInt(VARIANT *v, int &out) {
    VARIANT d;
    VariantInit(&d);
    if (FAILED(VariantChangeTypeEx(&d, v, LOCALE_USER_DEFAULT, 0, VT_R8))) return false;
    out = static_cast<int>(d.dblVal);
    return true;
}
bool argBool(VARIANT *v) {
    int i = 0;
    return argInt(v, i) && i != 0;
}

struct Workbook;

struct Application : DispObject {
    std::vector<Workbook *> books;  // open workbooks; each holds a reference to us
    Workbook *active = nullptr;
    bool visible = false, alerts = true;
    int calculation = -4105;
    ~Application() override;
    const char *const *memberNames() const override {
        static const char *n[] = {"Visible", "Windows", "Calculation", "DisplayAlerts", "Quit", "Name", nullptr};
        return n;
    }
    HRESULT call(int member, uint16_t flags, Args &args, VARIANT *r, std::string &err) override;
};

Application *theApplication = nullptr;

struct Window : DispObject {
    bool visible = true;
    int state = -4143;
    const char *const *memberNames() const override {
        static const char *n[] = {"Visible", "WindowState", nullptr};
        return n;
    }
    HRESULT call(int member, uint16_t flags, Args &args, VARIANT *r, std::string &) override {
        bool put = flags & DISPATCH_PROPERTYPUT;
        if (member == 0) {
            if (put) visible = argBool(args.back());
            else setBool(r, visible);
        } else {
            if (put) argInt(args.back(), state);
            else {
                r->vt = VT_I4;
                r->lVal = state;
            }
        }
        return S_OK;
    }
};

struct Workbook : DispObject {
    XlsxBook book;
    std::string path;
    Application *app;
    Window *window = new Window;
    uint32_t cookie = 0;
    bool open = true, saved = true;
    explicit Workbook(Application *a) : app(a) { app->AddRef(); }
    ~Workbook() override {
        window->Release();
        app->Release();
    }
    GUID typeGuid() const override { return IID_Workbook; }
    const char *const *memberNames() const override {
        static const char *n[] = {"Application", "Parent", "Activate", "Windows", "Names", "Sheets",
                                  "SaveAs",      "Saved",  "Close",    "Name",    "FullName", nullptr};
        return n;
    }
    HRESULT call(int member, uint16_t flags, Args &args, VARIANT *r, std::string &err) override;
    void changed() {
        saved = false;
        IRunningObjectTable *t;
        GetRunningObjectTable(0, &t);
        FILETIME now = Server_Now();
        t->NoteChangeTime(cookie, &now);
        t->Release();
    }
    void close() {
        if (!open) return;
        open = false;
        auto &b = app->books;
        b.erase(std::remove(b.begin(), b.end(), this), b.end());
        if (app->active == this) app->active = b.empty() ? nullptr : b.back();
        IRunningObjectTable *t;
        GetRunningObjectTable(0, &t);
        t->Revoke(cookie);  // the table's reference goes last
        t->Release();
    }
};

Application::~Application() {
    if (theApplication == this) theApplication = nullptr;
}

// A collection of an application or workbook: Count, and Item by position
// (from 1) or, where the items have names, by name.
struct Collection : DispObject {
    typedef size_t (*CountFn)(DispObject *);
    typedef void (*ItemFn)(DispObject *, VARIANT *, VARIANT *, std::string &);
    DispObject *owner;
    CountFn count;
    ItemFn item;
    Collection(DispObject *o, CountFn c, ItemFn i) : owner(o), count(c), item(i) { owner->AddRef(); }
    ~Collection() override { owner->Release(); }
    const char *const *memberNames() const override {
        static const char *n[] = {"Count", "Item", nullptr};
        return n;
    }
    HRESULT call(int member, uint16_t, Args &args, VARIANT *r, std::string &err) override {
        if (member == 0) {
            r->vt = VT_I4;
            r->lVal = static_cast<int32_t>(count(owner));
            return S_OK;
        }
        if (args.empty()) return DISP_E_BADPARAMCOUNT;
        item(owner, args[0], r, err);
        return S_OK;
    }
};

size_t windowCount(DispObject *o) { return static_cast<Application *>(o)->books.size(); }

// Window 1 is the active workbook's, as the front window is.
void windowItem(DispObject *o, VARIANT *arg, VARIANT *r, std::string &err) {
    Application *app = static_cast<Application *>(o);
    int i = 0;
    if (!argInt(arg, i) || i < 1 || i > static_cast<int>(app->books.size())) {
        err = "no such window";
        return;
    }
    Workbook *w = i == 1 && app->active ? app->active : app->books[i - 1];
    w->window->AddRef();
    setDispatch(r, w->window);
}

struct Range : DispObject {
    Workbook *wb;
    std::string sheet, address;
    Range(Workbook *w, std::string s, std::string a) : wb(w), sheet(std::move(s)), address(std::move(a)) {
        wb->AddRef();
    }
    ~Range() override { wb->Release(); }
    const char *const *memberNames() const override {
        static const char *n[] = {"Value", "Select", nullptr};
        return n;
    }
    HRESULT call(int member, uint16_t flags, Args &args, VARIANT *r, std::string &err) override {
        if (!wb->open) {
            err = "the workbook is closed";
            return S_OK;
        }
        if (member == 1) return S_OK;
        if (flags & DISPATCH_PROPERTYPUT) {
            VARIANT d;
            VariantInit(&d);
            if (FAILED(VariantChangeTypeEx(&d, args.back(), LOCALE_USER_DEFAULT, 0, VT_R8))) {
                err = "only numbers can be written to a cell";
                return S_OK;
            }
            if (wb->book.setNumber(sheet, address, d.dblVal, err)) wb->changed();
            return S_OK;
        }
        XlsxCell c;
        if (!wb->book.cell(sheet, address, c, err)) {
            // A range of several cells has no single value.
            if (address.find(':') != std::string::npos) {
                err.clear();
                r->vt = VT_ERROR;
                r->scode = DISP_E_TYPEMISMATCH;
            }
            return S_OK;
        }
        if (c.kind == XlsxCell::Number) setNumber(r, c.number);
        else if (c.kind == XlsxCell::Text) setText(r, c.text);
        else if (c.kind == XlsxCell::Error) {
            r->vt = VT_ERROR;
            r->scode = DISP_E_TYPEMISMATCH;
        }
        return S_OK;
    }
};

struct Sheet : DispObject {
    Workbook *wb;
    std::string name;
    Sheet(Workbook *w, std::string n) : wb(w), name(std::move(n)) { wb->AddRef(); }
    ~Sheet() override { wb->Release(); }
    const char *const *memberNames() const override {
        static const char *n[] = {"Name", "Select", "Range", "Activate", nullptr};
        return n;
    }
    HRESULT call(int member, uint16_t, Args &args, VARIANT *r, std::string &err) override {
        if (member == 0) setText(r, name);
        else if (member == 2) {
            if (args.empty() || args[0]->vt != VT_BSTR) return DISP_E_BADPARAMCOUNT;
            setDispatch(r, new Range(wb, name, Auto_FromWide(args[0]->bstrVal)));
        } else if (!wb->open) {
            err = "the workbook is closed";
        }
        return S_OK;
    }
};

struct NameObj : DispObject {
    Workbook *wb;
    XlsxName n;
    NameObj(Workbook *w, XlsxName x) : wb(w), n(std::move(x)) { wb->AddRef(); }
    ~NameObj() override { wb->Release(); }
    const char *const *memberNames() const override {
        static const char *m[] = {"Name", "RefersTo", nullptr};
        return m;
    }
    HRESULT call(int member, uint16_t, Args &, VARIANT *r, std::string &) override {
        setText(r, member == 0 ? n.name : "=" + n.refersTo);
        return S_OK;
    }
};

// The k-th defined name (from 1), or an error.
void nameItem(DispObject *o, VARIANT *arg, VARIANT *r, std::string &err) {
    Workbook *wb = static_cast<Workbook *>(o);
    int k = 0;
    const auto &names = wb->book.names();
    if (!argInt(arg, k) || k < 1 || k > static_cast<int>(names.size())) err = "no such name";
    else setDispatch(r, new NameObj(wb, names[k - 1]));
}

// A sheet by name or by position (from 1), or an error.
void sheetItem(DispObject *o, VARIANT *arg, VARIANT *r, std::string &err) {
    Workbook *wb = static_cast<Workbook *>(o);
    auto sheets = wb->book.sheetNames();
    std::string name;
    int k = 0;
    if (arg->vt == VT_BSTR) name = Auto_FromWide(arg->bstrVal);
    else if (argInt(arg, k) && k >= 1 && k <= static_cast<int>(sheets.size())) name = sheets[k - 1];
    if (!wb->book.hasSheet(name)) err = "there is no sheet named " + name;
    else setDispatch(r, new Sheet(wb, name));
}

size_t nameCount(DispObject *o) { return static_cast<Workbook *>(o)->book.names().size(); }
size_t sheetCount(DispObject *o) { return static_cast<Workbook *>(o)->book.sheetNames().size(); }

HRESULT Workbook::call(int member, uint16_t flags, Args &args, VARIANT *r, std::string &err) {
    std::string name = path.substr(path.find_last_of('/') + 1);
    switch (member) {
    case 0:
    case 1:
        app->AddRef();
        setDispatch(r, app);
        return S_OK;
    case 9: setText(r, name); return S_OK;
    case 10: setText(r, path); return S_OK;
    }
    if (!open) {
        err = "the workbook " + name + " is closed";
        return S_OK;
    }
    switch (member) {
    case 2: app->active = this; break;
    case 3:
        window->AddRef();
        setDispatch(r, window);
        break;
    case 4:
        if (args.empty()) setDispatch(r, new Collection(this, nameCount, nameItem));
        else nameItem(this, args[0], r, err);
        break;
    case 5:
        if (args.empty()) setDispatch(r, new Collection(this, sheetCount, sheetItem));
        else sheetItem(this, args[0], r, err);
        break;
    case 6:
        if (args.empty() || args[0]->vt != VT_BSTR) return DISP_E_BADPARAMCOUNT;
        if (book.save(Auto_FromWide(args[0]->bstrVal), err)) saved = true;
        break;
    case 7:
        if (flags & DISPATCH_PROPERTYPUT) saved = argBool(args.back());
        else setBool(r, saved);
        break;
    case 8: close(); break;
    }
    return S_OK;
}

HRESULT Application::call(int member, uint16_t flags, Args &args, VARIANT *r, std::string &) {
    bool put = flags & DISPATCH_PROPERTYPUT;
    switch (member) {
    case 0:
        if (put) visible = argBool(args.back());
        else setBool(r, visible);
        break;
    case 1: setDispatch(r, new Collection(this, windowCount, windowItem)); break;
    case 2:
        if (put) argInt(args.back(), calculation);
        else {
            r->vt = VT_I4;
            r->lVal = calculation;
        }
        break;
    case 3:
        if (put) alerts = argBool(args.back());
        else setBool(r, alerts);
        break;
    case 4: {
        // Quitting closes what is still open without saving it.
        AddRef();
        std::vector<Workbook *> left = books;
        for (Workbook *w : left) w->close();
        if (theApplication == this) theApplication = nullptr;
        Release();
        break;
    }
    case 5: setText(r, "Workbook server"); break;
    }
    return S_OK;
}

bool endsWithNoCase(const std::string &s, const char *tail) {
    size_t n = strlen(tail);
    return s.size() >= n && strcasecmp(s.c_str() + s.size() - n, tail) == 0;
}

}  // namespace

void Server_SetErrorText(const std::string &text) { serverError = text; }
const std::string &Server_ErrorText() { return serverError; }
void Auto_FailNext(const char *member) { failMember = member ? member : ""; }

IDispatch *Server_Application() {
    if (theApplication) theApplication->AddRef();
    else theApplication = new Application;
    return theApplication;
}

FILETIME Server_Now() {
    static uint64_t last = 0;
    struct timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    uint64_t t = (static_cast<uint64_t>(ts.tv_sec) + 11644473600ull) * 10000000ull + ts.tv_nsec / 100;
    if (t <= last) t = last + 1;
    last = t;
    return FILETIME{static_cast<uint32_t>(t), static_cast<uint32_t>(t >> 32)};
}

HRESULT Server_OpenWorkbook(const std::string &path, IMoniker *moniker, IUnknown **out, std::string &err) {
    *out = nullptr;
    if (!endsWithNoCase(path, ".xlsx") && !endsWithNoCase(path, ".xlsm") && !endsWithNoCase(path, ".xls")) {
        err = "no workbook server opens " + path;
        return MK_E_UNAVAILABLE;
    }
    Application *app = static_cast<Application *>(Server_Application());
    Workbook *wb = new Workbook(app);
    app->Release();
    if (!wb->book.load(path, err)) {
        wb->open = false;
        wb->Release();
        return MK_E_NOOBJECT;
    }
    wb->path = path;
    app->books.push_back(wb);
    app->active = wb;
    IRunningObjectTable *t;
    GetRunningObjectTable(0, &t);
    t->Register(static_cast<IDispatch *>(wb), moniker, &wb->cookie);
    t->Release();
    *out = static_cast<IDispatch *>(wb);
    return S_OK;
}
