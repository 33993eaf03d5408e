/* Dynamic time warping of a data matrix onto a template matrix.
 *
 * Contract and numeric choices:
 *  - dtw(T, D, W, n, m, relax, k, &count): T has n rows and D m rows of k
 *    values. Local distance: Euclidean. Steps (1,0), (0,1) and (1,1) with
 *    weights 1, 1 and 2 (symmetric), so a diagonal path costs as much as
 *    the detour around it. The path starts at template frame 0 and data
 *    frame 0 .. relax, and ends at template frame n-1 and data frame
 *    m-1-relax .. m-1 (relax is clamped to 0 .. m-1).
 *  - Answers the path's cost divided by n plus the data frames it spans;
 *    count = the number of cells on the path; W[i] = the mean of the data
 *    frames that the path aligns to template frame i.
 */
#ifndef TOVIK_DTW_H
#define TOVIK_DTW_H

#ifdef __cplusplus
extern "C" {
#endif

float dtw(float **T, float **D, float **W, int n, int m, int relax, int k, int *count);

#ifdef __cplusplus
}
#endif

#endif
