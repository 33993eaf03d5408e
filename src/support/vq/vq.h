/* Vector quantisation: LBG (Lloyd) codebook training, codebook splitting,
 * nearest cells and cell counts over float vectors given as row tables.
 *
 * Contract and numeric choices:
 *  - Distance: squared Euclidean. VQ_NBest answers it for the nearest cell;
 *    ties go to the lower cell number.
 *  - VQ_LBGCodebook runs at most iters rounds of: assign every vector to
 *    its nearest cell, move each cell to the mean of its vectors. A cell
 *    left empty moves to the vector farthest from its own cell. It stops
 *    early when the mean distortion changes by less than 1e-6 of itself.
 *    With verbose it writes one line per round to stderr.
 *  - VQ_LBGSplit makes 2M cells: cell i becomes c(1 + 0.01 u) and
 *    c(1 - 0.01 u), u a direction of values in [-1, 1] drawn from the seed,
 *    then trains them for 20 rounds.
 *  - VQ_GenerateRndVec draws M distinct indices below N (M <= N) from the
 *    seed; the same seed gives the same draw on every platform.
 *  - Functions that take a result return 0, or -1 with a message there.
 *  - VQ_CellCount writes the counts, separated by blanks.
 */
#ifndef TOVIK_VQ_H
#define TOVIK_VQ_H

#include "result.h"

#ifdef __cplusplus
extern "C" {
#endif

int VQ_GenerateRndVec(int *indices, int M, int N, int seed);
int VQ_LBGCodebook(GS_Result *r, float **codebook, float **data, int M, int N, int dim, int iters, int verbose);
int VQ_LBGSplit(GS_Result *r, float **codebook, float **newbook, int M, float **data, int N, int dim, int verbose,
                int seed);
int VQ_CellCount(GS_Result *r, float **codebook, int M, float **data, int N, int dim);
int VQ_wcell(float **data, float **codebook, float *work, int i, int M, int dim);
float VQ_NBest(const float *vector, float **codebook, int M, int dim, int n);

#ifdef __cplusplus
}
#endif

#endif
