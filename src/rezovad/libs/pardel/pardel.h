/* Matrix arguments: binds a command's input and output words to matrices.
 *
 * Contract:
 *  - An input word is an "arrayF" name (1-D: one row; 2-D: rows x cols),
 *    or a list of rows of numbers, or a two-item list {real imaginary} of
 *    either. A name may carry a suffix after its first ".": "'" transposes
 *    (conjugate for complex), "(a:b,c:d)" selects a sub-block without
 *    copying, "." separates. A named object is bound in place: writes
 *    through an input's row pointers change the object.
 *  - An output word names a 2-D "arrayF", or a variable whose value names
 *    one, or nothing (a new object is made and, when a word was given, the
 *    variable of that name is set to the new name in the caller's scope).
 *    A found object of another size is resized in place and keeps its name.
 *  - Outputs never alias inputs: when the output object is also being read
 *    by a live input descriptor (bound by Mx_getComplex and not yet
 *    destroyed), the result is computed into a temporary that holds the
 *    object's current values, and it is copied into the object (resized if
 *    needed) when the output descriptor is destroyed. So callers must
 *    destroy the output descriptor after the computation, as the calling
 *    order below says, and must get descriptors from Mx_create.
 *  - Storage records have the ArrayRecord layout; ndims tells the kind:
 *    1 or 2 a registered object bound in place (never freed here), 0 a
 *    temporary (freed here), -1 an alias of another storage's rows (its
 *    row table freed here, never the data). An alias made from a
 *    temporary or another alias owns that source and frees it with itself.
 *  - Every failure returns 1 with a message in the interpreter result;
 *    whatever was bound stays in the descriptor for Mx_destroy.
 *
 * Calling order in a command: Mx_create; parse the words with the text
 * field as the "%s" target; Mx_getReal or Mx_getComplex; compute the
 * result size; Mx_create and Mx_setReal or Mx_setComplex for the output;
 * write through the output's row pointers; Mx_destroy both descriptors.
 * The interpreter result then holds the output name(s).
 */
#ifndef TOVIK_PARDEL_H
#define TOVIK_PARDEL_H

#include <stdint.h>
#include <tcl.h>

#include "records.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Storage kinds, held in the storage record's ndims field. */
enum { MX_KIND_ALIAS = -1, MX_KIND_TMP = 0, MX_KIND_OBJ1D = 1, MX_KIND_OBJ2D = 2 };

typedef struct MxMatrix {
    char *text;             /* the argument word */
    int32_t rows;
    int32_t cols;
    float **real;           /* row pointers of the real part */
    float **imag;           /* row pointers of the imaginary part; null when real */
    ArrayRecord *realStore; /* where the real rows live */
    ArrayRecord *imagStore; /* where the imaginary rows live, or null */
} MxMatrix;

MxMatrix *Mx_create(void);
void Mx_destroy(MxMatrix *m);
void Mx_destroyReal(MxMatrix *m);
void Mx_destroyComplex(MxMatrix *m);

/* Frees a temporary or an alias (with what it owns); returns the kind, and
 * leaves registered objects alone. Null gives 0. */
int Mx_freeTmpAlias(ArrayRecord *store);
/* A temporary of rows x cols floats, not cleared. */
ArrayRecord *Mx_allocTmp(int rows, int cols);
/* Replaces *store by an alias of its sub-block [rowFirst..rowLast] x
 * [colFirst..colLast]; *cols holds the source's columns on entry. Returns
 * the alias's row table. The bounds are the caller's to check. */
float **Mx_allocAlias(Tcl_Interp *interp, ArrayRecord **store, int rowFirst, int rowLast,
                      int colFirst, int colLast, int *rows, int *cols);
/* Reads a list of rows of numbers into a new temporary; 0 ok, 1 error. */
int Mx_getTclArray(Tcl_Interp *interp, const char *text, ArrayRecord **store, float ***rowTable,
                   int *rows, int *cols);

int Mx_getComplex(Tcl_Interp *interp, const char *text, MxMatrix *m);
int Mx_getReal(Tcl_Interp *interp, const char *text, MxMatrix *m);

/* Reads "a", "a:b" or "a:b:c" (rows), optionally ",..." (columns); the
 * pointers hold the defaults on entry. 0 ok, 1 error. */
int Mx_rangeSplit(Tcl_Interp *interp, const char *text, int *rowFirst, int *rowStep, int *rowLast,
                  int *colFirst, int *colStep, int *colLast);

int Mx_setReal(Tcl_Interp *interp, const char *output, int rows, int cols, MxMatrix *m);
int Mx_setComplex(Tcl_Interp *interp, const char *output, int rows, int cols, MxMatrix *m);

#ifdef __cplusplus
}
#endif

#endif
