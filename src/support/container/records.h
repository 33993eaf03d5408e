/* The two record layouts that carry data between packages.
 *
 * ArrayRecord backs "arrayF" (float elements) and "arrayD" (double
 * elements): ndims is 1 or 2, dims[0] rows (frames), dims[1] columns, data
 * contiguous row after row, rows[i] = data + i * dims[1] for 2-D arrays. A
 * 1-D array reads as one row of dims[0] columns: use &data as its row table.
 * Obj_Create of either type fills count, data and rows from ndims and dims.
 *
 * WaveRecord backs "wave": len samples of linear 16-bit host-order audio
 * (the buffer may be longer than len), infoCount info values, info[0] the
 * rate in Hz and info[1] the encoding code (0 "linear-16", 1 "text").
 *
 * Once registered, the registry owns every array of a record (dims, data,
 * rows; samples, info), allocated with DB_Malloc, and frees them all.
 */
#ifndef TOVIK_RECORDS_H
#define TOVIK_RECORDS_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct ArrayRecord {
    int32_t ndims;
    int32_t *dims;
    int32_t count;
    float *data;   /* double elements for "arrayD": see ArrayD_data */
    float **rows;  /* double rows for "arrayD": see ArrayD_rows */
} ArrayRecord;

static inline double *ArrayD_data(ArrayRecord *a) { return (double *)a->data; }
static inline double **ArrayD_rows(ArrayRecord *a) { return (double **)a->rows; }

/* Rows and columns of an array as the readers see it (1-D: one row). */
static inline int32_t Array_rows(const ArrayRecord *a) { return a->ndims == 1 ? 1 : a->dims[0]; }
static inline int32_t Array_cols(const ArrayRecord *a) { return a->ndims == 1 ? a->dims[0] : a->dims[1]; }

typedef struct WaveRecord {
    int32_t len;
    int16_t *samples;
    int32_t infoCount;
    float *info;
} WaveRecord;

/* The record of a "raw" object: an owned byte buffer and its length. */
typedef struct RawBuffer {
    unsigned char *data;
    int32_t length;
} RawBuffer;

/* The record of an "hmm/description": its entry table. An entry's
 * modelSpec is the stored text of a label (its first word names the model)
 * and modelSpecSize the storage size of a copy of it (its length + 1);
 * name is the entry's output name. Readers of labels take modelSpec between
 * its first character and its size - 2 (the text is stored wrapped in one
 * character on each side), bounded by the text itself. The texts and the
 * table are owned (DB_Malloc) and freed with the record. */
typedef struct DescriptionEntry {
    char *modelSpec;
    char *name;
    int32_t leftContext;
    int32_t rightContext;
    uint16_t modelSpecSize;
    int32_t hmmIndex;
} DescriptionEntry;

typedef struct HmmDescription {
    DescriptionEntry *entries;
    int32_t numEntries;
} HmmDescription;

/* Allocation helpers that give records in the layout the registry frees. */
HmmDescription *HmmDescription_New(int32_t numEntries); /* entries cleared, contexts -1 */
void HmmDescription_Free(HmmDescription *d);
ArrayRecord *Array_New(int ndims, int32_t rows, int32_t cols); /* dims only; Obj_Create fills the rest */
WaveRecord *Wave_New(int32_t len, float rate);                 /* samples cleared, info {rate, 0} */
void Array_Free(ArrayRecord *a);
void Wave_Free(WaveRecord *w);

#ifdef __cplusplus
}
#endif

#endif
