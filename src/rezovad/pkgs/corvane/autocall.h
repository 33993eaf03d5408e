/* Calls of automation objects by member name, with the arguments described
 * by a format of one letter each (optionally after "&" for by-reference):
 *   b bool (int, non-zero gives -1)   c currency (int64_t)   d date (double)
 *   e status (int)   i 16-bit (int)   I 32-bit (int)   r float (passed as
 *   double)   R double   s wide string (const OLECHAR *)   v VARIANT by value
 *   D IDispatch *   U IUnknown *;   "&x" takes a pointer to such a value.
 * The exports keep plain C names so that other programs can call them.
 * Failure texts go into caller buffers of kMsgSize bytes.
 */
#ifndef TOVIK_CORVANE_AUTOCALL_H
#define TOVIK_CORVANE_AUTOCALL_H

#include "automation.h"

const int kMsgSize = 2048;

extern "C" {
HRESULT Invoke(IDispatch *dispatch, uint16_t flags, VARIANT *result, EXCEPINFO *excepInfo, unsigned *argErr,
               const OLECHAR *name, const char *format, ...);
HRESULT CountArgsInFormat(const char *format, int *count);
const char *GetNextVarType(const char *position, VARTYPE *vartype);
HRESULT CreateObject(const OLECHAR *progId, IDispatch **dispatch);
HRESULT GetParentIDispatch(IDispatch *dispatch, IDispatch **parent, EXCEPINFO *excepInfo, unsigned *argErr);
void cleanROT(void);
}

/* "source: description: help file: " of an exception, set from the start
 * of buffer; the exception's strings are freed. */
void FormatExcepInfo(EXCEPINFO *excepInfo, char *buffer);
/* The system's text for the last error, set from the start of buffer. */
void GetLastErrorText(char *buffer);
/* "(text), " appended within the buffer's bound. */
void AppendLastErrorText(char *buffer);
/* Bounded helpers for the 2048-byte message buffers. */
void Msg_Set(char *buffer, const char *text);
void Msg_Append(char *buffer, const char *text);

#endif
