/* Wave and vector objects made, reused or converted for command results.
 *
 * Contract:
 *  - Every function returns 0 on success; otherwise non-zero with a message
 *    in the interpreter result, and nothing is left to free (a sample buffer
 *    handed to createWave is freed by it on failure).
 *  - Functions that make or reuse an object leave its name as the
 *    interpreter result. New objects are zero-filled; a reused object keeps
 *    its values (the caller overwrites them) and its info.
 *  - cloneVecFromWave makes a 1-D array of len elements, or (dimension 2)
 *    a 2-D array of one row and len columns, so that both read as one row.
 *  - cloneWaveFromVec converts each element to the nearest 16-bit sample
 *    (halves away from zero) and clips it to -32768..32767; a NaN becomes 0.
 *  - tcl_FloatList and alloc2DVec give DB_Malloc memory: DB_Free and
 *    freeVec release it. An alloc2DVec record may be registered as "arrayF"
 *    (Obj_Create keeps its data and rows).
 */
#ifndef TOVIK_UTILS_H
#define TOVIK_UTILS_H

#include <tcl.h>

#include "records.h"

#ifdef __cplusplus
extern "C" {
#endif

int createWave(Tcl_Interp *interp, int len, int infoCount, const float *info, int16_t *samples, WaveRecord **wave);
int maybeReuseWaveObject(const char *name, Tcl_Interp *interp, int len, float rate, WaveRecord **wave);
int get2DVecObject(const char *name, Tcl_Interp *interp, ArrayRecord **array);
int maybeReuse2DObject(const char *name, Tcl_Interp *interp, int rows, int cols, ArrayRecord **array);
int cloneVecFromWave(Tcl_Interp *interp, const WaveRecord *wave, int dimension, ArrayRecord **array);
int cloneWaveFromVec(Tcl_Interp *interp, const ArrayRecord *array, int infoCount, const float *info,
                     WaveRecord **wave);
int tcl_FloatList(Tcl_Interp *interp, const char *list, float **values, int *count);
ArrayRecord *alloc2DVec(int rows, int cols);
void freeVec(ArrayRecord *array);

/* The 16-bit sample nearest to v, clipped; NaN gives 0. */
int16_t Utils_ToSample(double v);

#ifdef __cplusplus
}
#endif

#endif
