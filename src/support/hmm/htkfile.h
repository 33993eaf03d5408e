/* HTK parameter and label files.
 *
 * Contract:
 *  - Parameter files are written little-endian: nSamples (int32), sampPeriod
 *    (int32, always 100000), sampSize (int16, 4 x columns), parmKind
 *    (int16, always 70), then the rows as float32. Matrices of more than
 *    8191 columns do not fit sampSize and are refused.
 *  - A read takes either byte order: the order whose header gives a
 *    positive sampSize, a multiple of 4, and a body of exactly nSamples x
 *    sampSize bytes; when neither does exactly, the one whose body fits
 *    the file; a file shorter than its header says is refused.
 *  - Label lines are "start end  label" in units of 100 ns.
 *  - Failures append a message to r and answer nonzero.
 */
#ifndef TOVIK_HTKFILE_H
#define TOVIK_HTKFILE_H

#include <vector>

#include "halbrin.h"
#include "result.h"

/* Frames from (from < 0: 0) to (to < 0 or beyond the file: the last) of a
 * parameter file, as rows x cols floats. */
int Htk_ReadParams(GS_Result *r, const char *path, int from, int to, int *rows, int *cols, std::vector<float> *data);
int Htk_WriteParams(GS_Result *r, const char *path, int rows, int cols, float *const *data);
int Htk_WriteLabels(GS_Result *r, const char *path, const HalbrinList *list);

#endif
