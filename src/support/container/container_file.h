/* Object files: named fields, each holding one packed object.
 *
 * Contract:
 *  - Cntr_ObjFOpen mode 0 reads an existing file; mode 1 reads it too and
 *    creates it (empty) when missing. A file whose marker, version, lengths
 *    or check do not hold is refused with a message; nothing is read past
 *    its end.
 *  - Cntr_ObjFWrite stores one object under a field, replacing what the
 *    field held, and rewrites the file at once through a temporary file and
 *    a rename, so a failed write leaves the old file whole. An object whose
 *    packed length is 0 is stored as an empty field.
 *  - Cntr_ObjFRead answers a new object with a record of its own; the
 *    wrapper is one DB_Malloc block, so a caller that keeps the data may
 *    free the wrapper alone with DB_Free.
 *  - Fields, Info and Stat answer in the text of r; Destroy removes a
 *    field and rewrites the file.
 *  - Layout: "TVKF", version byte 1, u32 field count, per field a u8 name
 *    length, the name, a u32 length and the packed object; then the
 *    CRC-32 (zlib's) of everything before it as a u32. All little-endian.
 */
#ifndef TOVIK_CONTAINER_FILE_H
#define TOVIK_CONTAINER_FILE_H

#include "container.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct CntrFile CntrFile;

CntrFile *Cntr_ObjFOpen(GS_Result *r, const char *path, int mode);
int Cntr_ObjFClose(GS_Result *r, CntrFile *file);
int Cntr_ObjFWrite(GS_Result *r, CntrFile *file, const char *field, const CntrObj *obj);
CntrObj *Cntr_ObjFRead(GS_Result *r, CntrFile *file, const char *field);
int Cntr_ObjFFields(GS_Result *r, CntrFile *file);
int Cntr_ObjFInfo(GS_Result *r, CntrFile *file, const char *field);
int Cntr_ObjFStat(GS_Result *r, CntrFile *file);
int Cntr_ObjFDestroy(GS_Result *r, CntrFile *file, const char *field);

#ifdef __cplusplus
}
#endif

#endif
