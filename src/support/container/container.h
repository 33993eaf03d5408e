/* Typed records: one descriptor per object type, packed objects and the
 * search path of type definitions.
 *
 * Contract:
 *  - Every object type that the registry holds has a CntrType, registered
 *    once per process with Cntr_RegisterType (usually from a package's
 *    _Init; registering the same name again keeps the first). "arrayF",
 *    "arrayD", "wave", "raw" and "hmm/description" are built in.
 *  - free releases a record with everything it owns; clone returns a deep
 *    copy (null in the descriptor: copies are refused, as for types that
 *    own a device or a thread); length/pack/unpack give the payload bytes
 *    (null: packing is refused).
 *  - A packed object names its own type: "TVKO" magic, one version byte,
 *    the type name (u8 length + bytes), the payload length (u32 LE), a
 *    CRC-32 of the payload and the payload. Unpacking checks
 *    every length against the buffer and the check against the payload, so
 *    a damaged or truncated buffer is refused with a message, never read
 *    past its end.
 *  - Failures return non-zero (or null) and append a message to r.
 */
#ifndef TOVIK_CONTAINER_H
#define TOVIK_CONTAINER_H

#include <stddef.h>
#include <stdint.h>

#include "result.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct CntrType CntrType;

struct CntrType {
    const char *name;   /* "wave", "dravin/nnet" ... */
    const char *prefix; /* object-name prefix; null: the name after its last '/' */
    /* Fills fields derived from the record at Obj_Create; null when none. */
    int (*prepare)(GS_Result *r, void *record);
    void (*free)(void *record);
    void *(*clone)(const void *record);
    int (*length)(GS_Result *r, const void *record, size_t *length);
    /* Writes exactly the length bytes that length() answered. */
    int (*pack)(GS_Result *r, const void *record, unsigned char *buffer);
    /* Reads a record from exactly length bytes; null with a message. */
    void *(*unpack)(GS_Result *r, const unsigned char *buffer, size_t length);
};

/* A record wrapped as an object of the container library. */
typedef struct CntrObj {
    void *data;
    void *clientData;
    void (*freeProc)(struct CntrObj *obj);
    const CntrType *type;
} CntrObj;

int Cntr_RegisterType(const CntrType *type);
const CntrType *Cntr_TypeFind(const char *name);
const char *Cntr_Name(const CntrType *type);

int Cntr_Init(GS_Result *r);
int Cntr_Get(GS_Result *r, const char *name, const CntrType **type);
void Cntr_PathSet(const char *path, int flags);
const char *Cntr_PathGet(int flags);

CntrObj *Cntr_ObjCreate(GS_Result *r, const CntrType *type, void *record);
int Cntr_ObjLength(GS_Result *r, const CntrObj *obj, int *length);
int Cntr_ObjPack(GS_Result *r, const CntrObj *obj, char *buffer, int *pos);
/* Reads one packed object at buffer + *pos, never past buffer + limit; type
 * null accepts any registered type, else the bytes must name that type. */
CntrObj *Cntr_ObjUnpack(GS_Result *r, const CntrType *type, const char *buffer, int *pos, int limit);
/* The same, checking the payload against its check only when verify is
 * non-zero: for bytes whose whole container was checked already (lengths
 * are checked always). */
CntrObj *Cntr_ObjUnpackVerified(GS_Result *r, const CntrType *type, const char *buffer, int *pos, int limit,
                                int verify);
int Cntr_Free(GS_Result *r, const CntrType *type, void *record);
/* Runs the object's free procedure, then frees what data is left by type,
 * then the wrapper. */
int Cntr_ObjDestroy(GS_Result *r, CntrObj *obj);

/* Deep copy of a record by its type; null with a message when refused. */
void *Cntr_Clone(GS_Result *r, const CntrType *type, const void *record);

/* Little-endian byte helpers for the pack and unpack of descriptors. */
void Cntr_PutBytes(unsigned char **p, const void *src, size_t n);
void Cntr_PutI32(unsigned char **p, int32_t v);
void Cntr_PutF32(unsigned char **p, float v);
void Cntr_PutF64(unsigned char **p, double v);
/* Each Get checks that n bytes remain before end; -1 with a message when not. */
int Cntr_GetBytes(GS_Result *r, const unsigned char **p, const unsigned char *end, void *dst, size_t n);
int Cntr_GetI32(GS_Result *r, const unsigned char **p, const unsigned char *end, int32_t *v);
int Cntr_GetF32(GS_Result *r, const unsigned char **p, const unsigned char *end, float *v);
int Cntr_GetF64(GS_Result *r, const unsigned char **p, const unsigned char *end, double *v);

uint32_t Cntr_Checksum(const unsigned char *data, size_t n);

#ifdef __cplusplus
}
#endif

#endif
