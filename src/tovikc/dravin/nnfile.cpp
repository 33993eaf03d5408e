// The network's object type and container object files holding a network
// under the field "__nnet__".
#include <cstring>
#include <string>

#include "container.h"
#include "container_file.h"
#include "dravin_int.h"
#include "yastro.h"

namespace {

const char *const kField = "__nnet__";

void typeFree(void *rec) { nnet_Nuke(nullptr, (Nnet *)rec); }
void *typeClone(const void *rec) { return nnet_Clone(nullptr, (const Nnet *)rec); }

int typeLength(GS_Result *r, const void *rec, size_t *len) {
  unsigned char *b;
  long n;
  if (nnet_Pack(r, (const Nnet *)rec, &b, &n)) return 1;
  nnet_Free(b);
  *len = (size_t)n;
  return 0;
}

int typePack(GS_Result *r, const void *rec, unsigned char *buf) {
  unsigned char *b;
  long n;
  if (nnet_Pack(r, (const Nnet *)rec, &b, &n)) return 1;
  memcpy(buf, b, (size_t)n);
  nnet_Free(b);
  return 0;
}

void *typeUnpack(GS_Result *r, const unsigned char *buf, size_t len) {
  return nnet_Unpack(r, buf, (long)len);
}

const CntrType kNnetType = {"dravin/nnet", "nnet", nullptr, typeFree, typeClone,
                            typeLength, typePack, typeUnpack};

}  // namespace

const CntrType *nnet_Type(GS_Result *r) {
  static const CntrType *type = nullptr;
  if (type) return type;
  // Registering again keeps the first descriptor; every copy of this library
  // describes the type the same way.
  Cntr_RegisterType(&kNnetType);
  const CntrType *t = nullptr;
  if (Cntr_Init(r) || Cntr_Get(r, kNnetType.name, &t)) return nullptr;
  type = t;
  return type;
}

Nnet *nnet_Load(GS_Result *r, const char *path) {
  if (!nnet_Type(r)) return nullptr;
  CntrFile *file = Cntr_ObjFOpen(r, path, 0);
  if (!file) return nullptr;
  CntrObj *obj = Cntr_ObjFRead(r, file, kField);
  Cntr_ObjFClose(r, file);
  if (!obj) return nullptr;
  if (!obj->type || strcmp(Cntr_Name(obj->type), kNnetType.name) != 0) {
    nnet_Err(r, "field \"%s\" of \"%s\" holds a \"%s\", not a network", kField, path,
             Cntr_Name(obj->type));
    Cntr_ObjDestroy(nullptr, obj);
    return nullptr;
  }
  auto *net = (Nnet *)obj->data;
  DB_Free(obj, __FILE__, __LINE__);
  return net;
}

int nnet_Save(GS_Result *r, const char *path, Nnet *net) {
  if (!net) {
    nnet_Err(r, "no network to save");
    return 1;
  }
  const CntrType *type = nnet_Type(r);
  if (!type) return 1;
  CntrFile *file = Cntr_ObjFOpen(r, path, 1);
  if (!file) return 1;
  CntrObj *obj = Cntr_ObjCreate(r, type, net);
  int code = !obj || Cntr_ObjFWrite(r, file, kField, obj) != 0;
  // The wrapper only borrows the network.
  if (obj) DB_Free(obj, __FILE__, __LINE__);
  Cntr_ObjFClose(r, file);
  return code;
}
