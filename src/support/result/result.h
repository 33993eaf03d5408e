/* Growable result texts that plain libraries fill with their error messages.
 *
 * Contract: the first field is the text, "" after creation and never null;
 * GS_AppendResult takes any number of texts ended by a null argument;
 * GS_DeleteResult accepts null. GS_Spf prints into one of two static
 * buffers (slot 0 or 1), valid until that slot is used again; a text longer
 * than the buffer is cut, never overrun.
 */
#ifndef TOVIK_RESULT_H
#define TOVIK_RESULT_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct GS_Result {
    char *text;
    size_t len;
    size_t cap;
} GS_Result;

GS_Result *GS_CreateResult(void);
void GS_AppendResult(GS_Result *r, ...);
void GS_ResetResult(GS_Result *r);
char *GS_Spf(int slot, const char *format, ...)
#ifdef __GNUC__
    __attribute__((format(printf, 2, 3)))
#endif
    ;
void GS_DeleteResult(GS_Result *r);

#ifdef __cplusplus
}
#endif

#endif
