// libFuzzer target: any bytes as the payload of a packed net. Refused or
// accepted, never read out of bounds; an accepted one prints and parses.
#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "fuzz_session.h"
#include "yastro.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static bool quiet = freopen("/dev/null", "w", stdout) != nullptr;
  (void)quiet;
  rtn::RTN_RegisterTypes();
  const CntrType *type = nullptr;
  GS_Result *r = GS_CreateResult();
  if (Cntr_Get(r, "rtn/RTNet", &type)) __builtin_trap();
  rtn::ParserControl *net = static_cast<rtn::ParserControl *>(type->unpack(r, data, size));
  GS_DeleteResult(r);
  if (!net) return 0;
  net->plht = new rtn::GDH_HashTable();
  rtn::GDH_InitHashTable(*net->plht, 0, 128);
  rtn::RTN_Print(net, rtn::PRINT_ALL_STRINGS | rtn::PRINT_ORIGINCOUNT | rtn::PRINT_LEFTCORNERS | rtn::PRINT_STATS);
  std::vector<std::string> words;
  for (int t = 0; t < net->TerminalTable->count && t < 8; t++) words.push_back(net->TerminalTable->strings[t]);
  fuzz::Parse(net, words);
  // The packed copies that came with the bytes are the record's alone.
  std::vector<rtn::PackedObject *> packs;
  if (net->InternalNet)
    for (auto &e : net->InternalNet->entries)
      if (e.packed) packs.push_back(e.packed), e.packed = nullptr;
  type->free(net);
  for (rtn::PackedObject *po : packs) {
    if (po->buffer) DB_FREE(po->buffer);
    delete po;
  }
  return 0;
}
