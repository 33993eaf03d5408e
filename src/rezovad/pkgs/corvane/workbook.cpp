// Workbook automation: open, read names and values, write one cell, show,
// close with or without the changes, and the kill structure.
#include "workbook.h"

#include <sys/stat.h>
#include <unistd.h>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "registry.h"

int Xls_LastFileIndex = -1;
const char *const kKillKey = "SOFTWARE\\xls_Draskolm\\KillStructure";

namespace {

const char *const kKillParent = "SOFTWARE\\xls_Draskolm";

struct WorkbookSlot {
    IMoniker *moniker;
    IUnknown *bound;
    IDispatch *dispatch;
    IDispatch *workbook;
    IDispatch *window;
    IDispatch *sheets[kMaxCells];
    IDispatch *ranges[kMaxCells];
};

WorkbookSlot slots[kMaxFiles];
IDispatch *application = nullptr;
int visibleState = 0;
int boundAsWorkbook = 0;
int openCount = 0;
int lastSlot = -1;

template <class T> void release(T *&p) {
    if (p) p->Release();
    p = nullptr;
}

// The message for a failed call: the server's exception, or the system's
// text for the code.
void setFailure(HRESULT hr, EXCEPINFO &ex, char *message) {
    if (hr == DISP_E_EXCEPTION) {
        FormatExcepInfo(&ex, message);
        return;
    }
    if (GetLastError() != AUTO_SERVER_ERROR) SetLastError(static_cast<uint32_t>(hr));
    GetLastErrorText(message);
}

void appendFailure(HRESULT hr, EXCEPINFO &ex, char *message) {
    if (hr == DISP_E_EXCEPTION) {
        char part[kMsgSize];
        FormatExcepInfo(&ex, part);
        Msg_Append(message, part);
        return;
    }
    SetLastError(static_cast<uint32_t>(hr));
    AppendLastErrorText(message);
}

void appendErrno(char *message) {
    SetLastError(static_cast<uint32_t>(errno));
    AppendLastErrorText(message);
}

void appendRegistry(int code, char *message) {
    Msg_Append(message, ("(" + Reg_ErrorText(code) + "), ").c_str());
}

std::string monikerName(IMoniker *m) {
    IBindCtx *bc = nullptr;
    OLECHAR *w = nullptr;
    CreateBindCtx(0, &bc);
    HRESULT hr = m->GetDisplayName(bc, nullptr, &w);
    release(bc);
    if (FAILED(hr)) return "";
    std::string s = Auto_FromWide(w);
    CoTaskMemFree(w);
    return s;
}

bool isWorkbook(IDispatch *d) {
    ITypeInfo *ti = nullptr;
    bool yes = false;
    if (SUCCEEDED(d->GetTypeInfo(0, LOCALE_USER_DEFAULT, &ti)) && ti) {
        TYPEATTR *attr = nullptr;
        if (SUCCEEDED(ti->GetTypeAttr(&attr)) && attr) {
            yes = attr->guid == IID_Workbook;
            ti->ReleaseTypeAttr(attr);
        }
        ti->Release();
    }
    return yes;
}

void clearSlotObjects(WorkbookSlot &s, int cells) {
    for (int k = 0; k < cells && k < kMaxCells; k++) {
        release(s.sheets[k]);
        release(s.ranges[k]);
    }
    release(s.workbook);
    release(s.window);
    release(s.dispatch);
    release(s.bound);
}

// Copies within the 64-byte texts, cutting before a character rather than
// inside one.
void bounded(char *dest, const std::string &src) {
    size_t n = src.size();
    if (n >= static_cast<size_t>(kTextSize)) {
        n = kTextSize - 1;
        while (n > 0 && (static_cast<unsigned char>(src[n]) & 0xC0) == 0x80) n--;
    }
    memcpy(dest, src.data(), n);
    dest[n] = 0;
}

// The temporary file of a save: book.xlsx saves to bookNew.xlsx beside it.
std::string temporaryName(const std::string &path) {
    size_t slash = path.find_last_of('/');
    size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return path + "New";
    return path.substr(0, dot) + "New" + path.substr(dot);
}

bool fileExists(const std::string &p) {
    struct stat st;
    return stat(p.c_str(), &st) == 0;
}

// Saves the workbook to its temporary file and closes it; then the file at
// path is replaced by the saved one, unless keep is false or the save did
// not happen: the original is never lost to a failed save.
HRESULT saveAndClose(IDispatch *workbook, const std::string &path, bool keep, char *message, bool stopOnFailure) {
    std::string tmp = temporaryName(path);
    if (fileExists(tmp) && unlink(tmp.c_str()) != 0) appendErrno(message);
    EXCEPINFO ex = {};
    std::u16string wtmp = Auto_ToWide(tmp);
    HRESULT saveHr = Invoke(workbook, DISPATCH_METHOD, nullptr, &ex, nullptr, u"SaveAs", "s", wtmp.c_str());
    if (FAILED(saveHr)) {
        appendFailure(saveHr, ex, message);
        if (stopOnFailure) return saveHr;
    }
    HRESULT hr = Invoke(workbook, DISPATCH_PROPERTYPUT, nullptr, &ex, nullptr, u"Saved", "b", 1);
    if (FAILED(hr)) {
        appendFailure(hr, ex, message);
        if (stopOnFailure) return hr;
    }
    HRESULT closeHr = Invoke(workbook, DISPATCH_METHOD, nullptr, &ex, nullptr, u"Close", nullptr);
    if (FAILED(closeHr)) {
        appendFailure(closeHr, ex, message);
        if (stopOnFailure) return closeHr;
    }
    bool saved = SUCCEEDED(saveHr) && fileExists(tmp);
    if (keep && saved) {
        if (rename(tmp.c_str(), path.c_str()) != 0) {
            appendErrno(message);
            unlink(tmp.c_str());
        }
    } else if (saved && unlink(tmp.c_str()) != 0) {
        appendErrno(message);
    }
    return closeHr;
}

// Walks the running object table; found is 1 when a workbook file is still
// running in it.
void IsWorkbookRunning(char *message, int *found) {
    *found = 0;
    IRunningObjectTable *rot = nullptr;
    IEnumMoniker *en = nullptr;
    if (FAILED(GetRunningObjectTable(0, &rot)) || FAILED(rot->EnumRunning(&en))) {
        AppendLastErrorText(message);
        release(rot);
        return;
    }
    IMoniker *m;
    unsigned fetched;
    while (!*found && en->Next(1, &m, &fetched) == S_OK) {
        std::string n = monikerName(m);
        for (const char *ext : {".xls", ".xlsx", ".xlsm"})
            if (n.size() >= strlen(ext) && n.compare(n.size() - strlen(ext), std::string::npos, ext) == 0) *found = 1;
        m->Release();
    }
    release(en);
    release(rot);
}

// add 1 writes or refreshes the slot's value with its time of last change;
// add 0 deletes it. With no workbook open the key goes.
int UpdateKillStructure(int slot, int add, char *message) {
    std::string name = monikerName(slots[slot].moniker);
    if (name.empty()) {
        AppendLastErrorText(message);
        return -1;
    }
    int code = Reg_CreateKey(kKillKey, nullptr);
    if (code) {
        appendRegistry(code, message);
        return code;
    }
    if (add) {
        OleInitialize(nullptr);
        IRunningObjectTable *rot = nullptr;
        FILETIME t;
        HRESULT hr = GetRunningObjectTable(0, &rot);
        if (SUCCEEDED(hr)) hr = rot->GetTimeOfLastChange(slots[slot].moniker, &t);
        release(rot);
        OleUninitialize();
        if (FAILED(hr)) {
            EXCEPINFO none = {};
            appendFailure(hr, none, message);
            return -1;
        }
        code = Reg_SetValue(kKillKey, name, std::string(reinterpret_cast<char *>(&t), sizeof t));
    } else {
        // Two slots of one workbook share its value: the second finds it gone.
        code = Reg_DeleteValue(kKillKey, name);
        if (code == REG_NOT_FOUND) code = 0;
    }
    if (code) appendRegistry(code, message);
    if (openCount == 0) {
        Reg_DeleteKey(kKillKey);
        Reg_DeleteKey(kKillParent);
    }
    return code;
}

void resetState() {
    memset(slots, 0, sizeof slots);
    application = nullptr;
    lastSlot = -1;
}

}  // namespace

void Wb_ClearSlots(void) {
    for (WorkbookSlot &sl : slots) clearSlotObjects(sl, kMaxCells), release(sl.moniker);
}

void DoubleToCellText(char *text, double value) {
    if (!std::isfinite(value)) {
        snprintf(text, kTextSize, "%s", std::isnan(value) ? "nan" : value < 0 ? "-inf" : "inf");
        return;
    }
    char buf[128];
    double mag = std::fabs(value);
    if (mag >= 1e40) {
        auto r = std::to_chars(text, text + kTextSize - 1, value, std::chars_format::scientific, 10);
        *r.ptr = 0;
        return;
    }
    auto r = std::to_chars(buf, buf + sizeof buf, mag, std::chars_format::fixed, 10);
    std::string digits(buf, r.ptr);
    size_t dot = digits.find('.');
    std::string whole = digits.substr(0, dot), frac = digits.substr(dot + 1);
    if (whole == "0") whole.clear();
    while (!frac.empty() && frac.back() == '0') frac.pop_back();
    if (frac.empty()) frac = "00";
    std::string t = (std::signbit(value) ? "-" : "") + whole + "." + frac;
    snprintf(text, kTextSize, "%s", t.c_str());
}

double Wb_LeadingNumber(const char *text) {
    const char *p = text;
    while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r' || *p == '\f' || *p == '\v') p++;
    bool minus = *p == '-';
    if (*p == '+' || *p == '-') p++;
    double d = 0;
    auto r = std::from_chars(p, p + strlen(p), d);
    if (r.ec != std::errc()) return 0;
    return minus ? -d : d;
}

extern "C" {

int OpenExcelWorkSheetObject(AvailableFile *file, char *message) {
    SetLastError(0);
    std::u16string path = Auto_ToWide(file->path);
    int slot = lastSlot + 1;
    if (slot >= kMaxFiles) {
        for (slot = 0; slot < kMaxFiles && slots[slot].workbook; slot++) {
        }
        if (slot == kMaxFiles) {
            snprintf(message, kMsgSize, "The open files limit (%d) has been reached.", kMaxFiles);
            return -1;
        }
    }
    lastSlot = slot;
    WorkbookSlot &s = slots[slot];
    if (openCount == 0) OleInitialize(nullptr);
    EXCEPINFO ex = {};
    IRunningObjectTable *rot = nullptr;
    HRESULT hr = CreateFileMoniker(path.c_str(), &s.moniker);
    if (SUCCEEDED(hr)) hr = GetRunningObjectTable(0, &rot);
    if (SUCCEEDED(hr)) {
        if (rot->IsRunning(s.moniker) == S_OK) {
            hr = rot->GetObject(s.moniker, &s.bound);
        } else {
            IBindCtx *bc = nullptr;
            uint32_t eaten;
            hr = CreateBindCtx(0, &bc);
            IMoniker *parsed = nullptr;
            if (SUCCEEDED(hr)) hr = MkParseDisplayName(bc, path.c_str(), &eaten, &parsed);
            if (SUCCEEDED(hr)) {
                release(s.moniker);
                s.moniker = parsed;
                hr = s.moniker->BindToObject(bc, nullptr, IID_IUnknown, reinterpret_cast<void **>(&s.bound));
            }
            release(bc);
        }
    }
    if (SUCCEEDED(hr)) hr = s.bound->QueryInterface(IID_IDispatch, reinterpret_cast<void **>(&s.dispatch));
    if (SUCCEEDED(hr)) {
        if (isWorkbook(s.dispatch)) {
            s.workbook = s.dispatch;
            s.dispatch = nullptr;
            boundAsWorkbook = 1;
        } else {
            hr = GetParentIDispatch(s.dispatch, &s.workbook, &ex, nullptr);
        }
    }
    VARIANT v;
    if (SUCCEEDED(hr) && !application) {
        hr = Invoke(s.workbook, DISPATCH_PROPERTYGET, &v, &ex, nullptr, u"Application", nullptr);
        if (SUCCEEDED(hr)) application = v.vt == VT_DISPATCH ? v.pdispVal : nullptr;
    }
    if (SUCCEEDED(hr)) hr = Invoke(s.workbook, DISPATCH_METHOD, nullptr, &ex, nullptr, u"Activate", nullptr);
    if (SUCCEEDED(hr)) {
        if (boundAsWorkbook) {
            hr = Invoke(application, DISPATCH_PROPERTYGET, &v, &ex, nullptr, u"Windows", nullptr);
            if (SUCCEEDED(hr)) {
                IDispatch *windows = v.pdispVal;
                hr = Invoke(windows, DISPATCH_PROPERTYGET, &v, &ex, nullptr, u"Item", "i", 1);
                windows->Release();
            }
        } else {
            hr = Invoke(s.workbook, DISPATCH_METHOD, &v, &ex, nullptr, u"Windows", "i", 1);
        }
        if (SUCCEEDED(hr)) s.window = v.vt == VT_DISPATCH ? v.pdispVal : nullptr;
    }
    if (SUCCEEDED(hr)) hr = Invoke(s.window, DISPATCH_PROPERTYPUT, nullptr, &ex, nullptr, u"WindowState", "I", -4137);
    if (SUCCEEDED(hr)) hr = Invoke(s.window, DISPATCH_PROPERTYPUT, nullptr, &ex, nullptr, u"Visible", "b", 1);
    if (SUCCEEDED(hr)) {
        VARIANT manual;
        VariantInit(&manual);
        manual.vt = VT_I4;
        manual.lVal = -4105;
        hr = Invoke(application, DISPATCH_PROPERTYPUT, nullptr, &ex, nullptr, u"Calculation", "&v", &manual);
    }
    if (SUCCEEDED(hr)) hr = Invoke(s.workbook, DISPATCH_METHOD, nullptr, &ex, nullptr, u"Activate", nullptr);
    release(rot);
    if (SUCCEEDED(hr)) {
        file->slot = slot;
        file->selectedCell = -1;
        openCount++;
        return UpdateKillStructure(slot, 1, message);
    }
    setFailure(hr, ex, message);
    // A workbook this call bound is closed again, so that no half-open
    // workbook stays behind in the server.
    release(s.workbook);
    release(s.window);
    release(s.dispatch);
    release(s.bound);
    release(s.moniker);
    if (openCount == 0) {
        release(application);
        OleUninitialize();
    }
    lastSlot--;
    return -1;
}

HRESULT ActivateExcelObject(AvailableFile *file, char *message) {
    SetLastError(0);
    if (file->slot < 0) return E_INVALIDARG;
    EXCEPINFO ex = {};
    HRESULT hr = Invoke(slots[file->slot].workbook, DISPATCH_METHOD, nullptr, &ex, nullptr, u"Activate", nullptr);
    if (FAILED(hr)) setFailure(hr, ex, message);
    return hr;
}

HRESULT MakeVisible(int show, char *message) {
    if (!application) {
        snprintf(message, kMsgSize, "The application is not open, so cannot be %s.", show == 1 ? "shown" : "hidden");
        return -1;
    }
    if (show == visibleState) return 0;
    EXCEPINFO ex = {};
    HRESULT hr = Invoke(application, DISPATCH_PROPERTYPUT, nullptr, &ex, nullptr, u"Visible", "b", show);
    if (SUCCEEDED(hr)) visibleState = show;
    else setFailure(hr, ex, message);
    return hr;
}

int GetAvailableCells(AvailableFile *file, AvailableCell *cells, char *message) {
    SetLastError(0);
    if (file->slot < 0) return -1;
    WorkbookSlot &s = slots[file->slot];
    for (int k = 0; k < kMaxCells; k++) {
        release(s.sheets[k]);
        release(s.ranges[k]);
    }
    IDispatch *wb = s.workbook;
    wb->AddRef();
    EXCEPINFO ex = {};
    VARIANT v;
    HRESULT hr = Invoke(wb, boundAsWorkbook ? DISPATCH_PROPERTYGET : DISPATCH_METHOD, &v, &ex, nullptr, u"Names",
                        nullptr);
    IDispatch *names = SUCCEEDED(hr) ? v.pdispVal : nullptr;
    int count = 0;
    if (SUCCEEDED(hr)) hr = Invoke(names, DISPATCH_PROPERTYGET, &v, &ex, nullptr, u"Count", nullptr);
    if (SUCCEEDED(hr)) {
        VARIANT n;
        VariantInit(&n);
        if (SUCCEEDED(VariantChangeTypeEx(&n, &v, LOCALE_USER_DEFAULT, 0, VT_R8))) count = static_cast<int>(n.dblVal);
        VariantClear(&v);
    }
    // The tables hold 30 names: further ones are not read.
    if (count > kMaxCells) count = kMaxCells;
    if (count < 0) count = 0;
    std::string addresses[kMaxCells];
    for (int k = 1; k <= count && SUCCEEDED(hr); k++) {
        if (boundAsWorkbook) hr = Invoke(names, DISPATCH_METHOD, &v, &ex, nullptr, u"Item", "i", k);
        else hr = Invoke(wb, DISPATCH_METHOD, &v, &ex, nullptr, u"Names", "i", k);
        if (FAILED(hr)) break;
        IDispatch *item = v.pdispVal;
        AvailableCell &c = cells[k - 1];
        memset(&c, 0, sizeof c);
        hr = Invoke(item, DISPATCH_PROPERTYGET, &v, &ex, nullptr, u"Name", nullptr);
        if (SUCCEEDED(hr)) {
            bounded(c.name, Auto_FromWide(v.bstrVal));
            VariantClear(&v);
            hr = Invoke(item, DISPATCH_PROPERTYGET, &v, &ex, nullptr, u"RefersTo", nullptr);
        }
        if (SUCCEEDED(hr)) {
            std::string ref = Auto_FromWide(v.bstrVal);
            VariantClear(&v);
            if (!ref.empty() && ref[0] == '=') ref.erase(0, 1);
            size_t bang = ref.find('!');
            std::string sheet = bang == std::string::npos ? ref : ref.substr(0, bang);
            // A quoted sheet name ('My Sheet') is the name without quotes.
            if (sheet.size() >= 2 && sheet.front() == '\'' && sheet.back() == '\'') {
                std::string un;
                for (size_t i = 1; i + 1 < sheet.size(); i++) {
                    un += sheet[i];
                    if (sheet[i] == '\'' && sheet[i + 1] == '\'') i++;
                }
                sheet = un;
            }
            bounded(c.sheet, sheet);
            addresses[k - 1] = bang == std::string::npos ? "" : ref.substr(bang + 1);
            c.index = k - 1;
        }
        item->Release();
    }
    file->cellCount = SUCCEEDED(hr) ? count : 0;
    for (int d = 0; d < count && SUCCEEDED(hr); d++) {
        AvailableCell &c = cells[d];
        c.value[0] = 0;
        // A name that refers to no cell (a constant or formula) has no
        // sheet or range: it lists with an empty value.
        if (addresses[d].empty()) continue;
        std::u16string sheet = Auto_ToWide(c.sheet), address = Auto_ToWide(addresses[d]);
        if (boundAsWorkbook) {
            hr = Invoke(wb, DISPATCH_PROPERTYGET, &v, &ex, nullptr, u"Sheets", nullptr);
            if (SUCCEEDED(hr)) {
                IDispatch *all = v.pdispVal;
                hr = Invoke(all, DISPATCH_PROPERTYGET, &v, &ex, nullptr, u"Item", "s", sheet.c_str());
                all->Release();
            }
        } else {
            hr = Invoke(wb, DISPATCH_METHOD, &v, &ex, nullptr, u"Sheets", "s", sheet.c_str());
        }
        if (FAILED(hr)) break;
        s.sheets[d] = v.pdispVal;
        hr = Invoke(s.sheets[d], DISPATCH_PROPERTYGET, &v, &ex, nullptr, u"Range", "s", address.c_str());
        if (FAILED(hr)) break;
        s.ranges[d] = v.pdispVal;
        hr = Invoke(s.ranges[d], DISPATCH_PROPERTYGET, &v, &ex, nullptr, u"Value", nullptr);
        if (FAILED(hr)) break;
        if (v.vt == VT_BSTR) {
            bounded(c.value, Auto_FromWide(v.bstrVal));
        } else {
            VARIANT n;
            VariantInit(&n);
            // A value that is no number (an error, several cells) shows as
            // empty rather than as an older value.
            if (SUCCEEDED(VariantChangeTypeEx(&n, &v, LOCALE_USER_DEFAULT, 0, VT_R8))) DoubleToCellText(c.value, n.dblVal);
        }
        VariantClear(&v);
    }
    release(names);
    wb->Release();
    if (FAILED(hr)) {
        setFailure(hr, ex, message);
        file->cellCount = 0;
        for (int k = 0; k < kMaxCells; k++) {
            release(s.sheets[k]);
            release(s.ranges[k]);
        }
        return hr;
    }
    return 0;
}

// Selects the sheet of cell unless it was the last one selected.
static HRESULT selectCell(AvailableFile *file, AvailableCell *cell, char *message) {
    WorkbookSlot &s = slots[file->slot];
    if (!s.ranges[cell->index]) {
        snprintf(message, kMsgSize, "The cell named, %s, does not refer to a cell.", cell->name);
        return E_INVALIDARG;
    }
    if (cell->index == file->selectedCell) return S_OK;
    file->selectedCell = cell->index;
    EXCEPINFO ex = {};
    HRESULT hr = Invoke(s.sheets[cell->index], DISPATCH_METHOD, nullptr, &ex, nullptr, u"Select", nullptr);
    if (FAILED(hr)) setFailure(hr, ex, message);
    return hr;
}

int SetAvailableCellValue(AvailableFile *file, AvailableCell *cell, const char *text, char *message) {
    SetLastError(0);
    if (file->slot < 0) return -1;
    HRESULT hr = selectCell(file, cell, message);
    if (FAILED(hr)) return hr;
    double d = Wb_LeadingNumber(text);
    if (!std::isfinite(d)) {
        snprintf(message, kMsgSize, "%.60s is not a number a cell can hold.", text);
        return -1;
    }
    EXCEPINFO ex = {};
    hr = Invoke(slots[file->slot].ranges[cell->index], DISPATCH_PROPERTYPUT, nullptr, &ex, nullptr, u"Value", "R", d);
    if (FAILED(hr)) {
        setFailure(hr, ex, message);
        return hr;
    }
    return UpdateKillStructure(file->slot, 1, message);
}

int GetAvailableCellValue(AvailableFile *file, AvailableCell *cell, char *message) {
    SetLastError(0);
    if (file->slot < 0) return -1;
    HRESULT hr = selectCell(file, cell, message);
    if (FAILED(hr)) return hr;
    EXCEPINFO ex = {};
    VARIANT v;
    hr = Invoke(slots[file->slot].ranges[cell->index], DISPATCH_PROPERTYGET, &v, &ex, nullptr, u"Value", nullptr);
    if (FAILED(hr)) {
        setFailure(hr, ex, message);
        return hr;
    }
    if (v.vt == VT_BSTR) {
        bounded(cell->value, Auto_FromWide(v.bstrVal));
    } else {
        VARIANT n;
        VariantInit(&n);
        hr = VariantChangeTypeEx(&n, &v, LOCALE_USER_DEFAULT, 0, VT_R8);
        if (FAILED(hr)) {
            VariantClear(&v);
            cell->value[0] = 0;
            setFailure(hr, ex, message);
            return hr;
        }
        DoubleToCellText(cell->value, n.dblVal);
    }
    VariantClear(&v);
    return 0;
}

int CloseExcelWorkSheetObject(AvailableFile *files, char *message, int all, const char *saveFlag) {
    message[0] = 0;
    int result = 0;
    int n = all ? kMaxFiles : 1;
    for (int f = 0; f < n; f++) {
        AvailableFile *file = &files[f];
        if (file->slot < 0 || !slots[file->slot].moniker) continue;
        int slot = file->slot;
        WorkbookSlot &s = slots[slot];
        IRunningObjectTable *rot = nullptr;
        bool gone = false;
        if (FAILED(GetRunningObjectTable(0, &rot))) AppendLastErrorText(message);
        else gone = rot->IsRunning(s.moniker) == S_FALSE;
        release(rot);
        if (!gone) {
            if (visibleState == 1 && (all || openCount == 1)) {
                char part[kMsgSize] = "";
                HRESULT hr = MakeVisible(0, part);
                if (FAILED(hr) && hr != -1) Msg_Append(message, part);
            }
            result = saveAndClose(s.workbook, file->path, !(saveFlag && strcmp(saveFlag, "FALSE") == 0), message,
                                  false);
        }
        clearSlotObjects(s, file->cellCount);
        file->slot = -1;
        file->selectedCell = -1;
        if (openCount > 0) {
            openCount--;
            result = UpdateKillStructure(slot, 0, message);
            if (result < 0) AppendLastErrorText(message);
        }
        // A workbook closed by other means keeps no moniker; the record
        // above still needed its name.
        if (gone) release(s.moniker);
    }
    if (openCount > 0) {
        if (!all) return result;
        char line[128];
        snprintf(line, sizeof line, "Could not properly close %i %s before exiting.\n", openCount,
                 openCount > 1 ? "files" : "file");
        Msg_Append(message, line);
        for (WorkbookSlot &sl : slots) clearSlotObjects(sl, kMaxCells), release(sl.moniker);
        release(application);
        resetState();
        openCount = 0;
        OleUninitialize();
        return -1;
    }
    int found = 0;
    IsWorkbookRunning(message, &found);
    if (!found && application) {
        EXCEPINFO ex = {};
        HRESULT hr = Invoke(application, DISPATCH_PROPERTYPUT, nullptr, &ex, nullptr, u"DisplayAlerts", "b", 0);
        if (FAILED(hr)) appendFailure(hr, ex, message);
        hr = Invoke(application, DISPATCH_METHOD, nullptr, &ex, nullptr, u"Quit", nullptr);
        if (FAILED(hr)) appendFailure(hr, ex, message);
        result = hr;
    }
    for (WorkbookSlot &sl : slots) release(sl.moniker);
    release(application);
    resetState();
    visibleState = 0;
    OleUninitialize();
    return result;
}

int DeleteExcelKillStructure(char *message) {
    int code = Reg_OpenKey(kKillKey);
    if (code) {
        Msg_Set(message, Reg_ErrorText(code).c_str());
        return code;
    }
    OleInitialize(nullptr);
    cleanROT();
    IRunningObjectTable *rot = nullptr;
    IEnumMoniker *en = nullptr;
    GetRunningObjectTable(0, &rot);
    rot->EnumRunning(&en);
    IDispatch *app = nullptr;
    HRESULT failure = S_OK;
    EXCEPINFO ex = {};
    for (;;) {
        std::string name, data;
        if (Reg_EnumValue(kKillKey, 0, name, data) != 0) break;
        en->Reset();
        IMoniker *m = nullptr, *match = nullptr;
        unsigned fetched;
        while (!match && en->Next(1, &m, &fetched) == S_OK) {
            FILETIME t;
            if (strcasecmp(monikerName(m).c_str(), name.c_str()) == 0 && SUCCEEDED(rot->GetTimeOfLastChange(m, &t)) &&
                data.size() == sizeof t && memcmp(data.data(), &t, sizeof t) == 0)
                match = m;
            else m->Release();
        }
        if (match) {
            IUnknown *obj = nullptr;
            IDispatch *d = nullptr, *wb = nullptr;
            HRESULT hr = rot->GetObject(match, &obj);
            if (SUCCEEDED(hr)) hr = obj->QueryInterface(IID_IDispatch, reinterpret_cast<void **>(&d));
            if (SUCCEEDED(hr)) {
                if (isWorkbook(d)) {
                    wb = d;
                    d = nullptr;
                    boundAsWorkbook = 1;
                } else {
                    hr = GetParentIDispatch(d, &wb, &ex, nullptr);
                }
            }
            if (SUCCEEDED(hr) && !app) hr = GetParentIDispatch(wb, &app, &ex, nullptr);
            if (SUCCEEDED(hr)) hr = saveAndClose(wb, name, true, message, true);
            release(wb);
            release(d);
            release(obj);
            match->Release();
            if (FAILED(hr)) {
                failure = hr;
                break;
            }
        }
        if (Reg_DeleteValue(kKillKey, name) != 0) break;
    }
    if (SUCCEEDED(failure)) {
        int found = 0;
        IsWorkbookRunning(message, &found);
        if (!found && app) {
            Invoke(app, DISPATCH_PROPERTYPUT, nullptr, &ex, nullptr, u"DisplayAlerts", "b", 0);
            Invoke(app, DISPATCH_METHOD, nullptr, &ex, nullptr, u"Quit", nullptr);
        }
        if ((code = Reg_DeleteKey(kKillKey)) != 0) appendRegistry(code, message);
        if ((code = Reg_DeleteKey(kKillParent)) != 0) appendRegistry(code, message);
        // Everything this process held is gone with the record.
        for (WorkbookSlot &sl : slots) clearSlotObjects(sl, kMaxCells), release(sl.moniker);
        release(application);
        resetState();
        visibleState = 0;
        openCount = 0;
        Xls_LastFileIndex = -1;
    } else {
        appendFailure(failure, ex, message);
    }
    release(app);
    release(en);
    release(rot);
    OleUninitialize();
    return 0;
}

}  // extern "C"
