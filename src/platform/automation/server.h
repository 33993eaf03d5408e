/* Inside the automation runtime: reference counting and the entry points of
 * the in-process workbook server. */
#ifndef TOVIK_AUTOMATION_SERVER_H
#define TOVIK_AUTOMATION_SERVER_H

#include <string>

#include "automation.h"

struct RefCounted {
    static int live;
    uint32_t refs = 1;
    RefCounted() { live++; }
    virtual ~RefCounted() { live--; }
    uint32_t ref() { return ++refs; }
    uint32_t unref() {
        uint32_t r = --refs;
        if (r == 0) delete this;
        return r;
    }
};

/* IUnknown for an object of one interface I. */
template <class I> struct Unknown : I, RefCounted {
    HRESULT QueryInterface(const GUID &, void **out) override {
        *out = static_cast<I *>(this);
        AddRef();
        return S_OK;
    }
    uint32_t AddRef() override { return ref(); }
    uint32_t Release() override { return unref(); }
};

const uint32_t kServerError = AUTO_SERVER_ERROR;
void Server_SetErrorText(const std::string &text);
const std::string &Server_ErrorText();

/* The application, made on first use (one reference for the caller). */
IDispatch *Server_Application();
/* Opens the workbook file at path and registers it as running under
 * moniker. */
HRESULT Server_OpenWorkbook(const std::string &path, IMoniker *moniker, IUnknown **out, std::string &err);
/* A time of last change later than every one given before. */
FILETIME Server_Now();

#endif
