// Compiled networks on disk and in packed form, their release, and the
// printed listing of a net.
//
// Contract:
// - A compiled net is kept beside NAME.gra as NAME.rtn (the net, its packed
//   context tables and packed copies of the nets it references) and
//   NAME.net (the net alone: no context tables, no sub-net copies). Each is
//   an object file holding the field "rtn/RTNet", whose object is of the
//   container type "rtn/RTNet" and whose record is the ParserControl.
// - The packed form of every type begins with a marker and a format
//   version; the object file carries a CRC. On unpacking, every stored
//   count, index, offset and chain is checked against the tables it points
//   into, so a damaged or stale file is refused with a message (and the
//   caller compiles the grammar again), never read past its end.
// - The five context tables travel as "rtn/ContextTable",
//   "rtn/ContextTermTable", "rtn/HLIndexTable", "rtn/HierarchyLevelTable"
//   and "rtn/NextNetTable"; RTN_RegisterTypes registers all six types once
//   per process (RTN_Containerize and RTN_Read call it themselves).
// - Every routine returns 0 (or the record) on success and 1 (or null) on
//   failure, with the reason appended to the ParserControl's pres, each
//   line ending in "file(rtnet) line(N)\n".
#ifndef QUORLET_RTN_IO_H
#define QUORLET_RTN_IO_H

#include <cstdio>
#include <string>

#include "container.h"
#include "result.h"

namespace rtn {

struct ParserControl;

// Read statuses of RTN_Create and RTN_Read: where a net comes from.
enum ReadStatus { RS_FAILED = 0, RS_GRA = 1, RS_RTN = 2, RS_NET = 3 };

// The container-definition search path, process-wide: RTN_Create stores
// the top-level record's pszContainerPath here; every operation below hands
// it to Cntr_PathSet before it opens or types anything.
void RTN_SetContainerPath(const std::string &path);
const std::string &RTN_ContainerPath();

// Print mask bits of RTN_Print.
enum {
  PRINT_ALL_STRINGS = 0x1,
  PRINT_STATS = 0x2,
  PRINT_ORIGINS = 0x4,
  PRINT_SYMBOLS = 0x8,
  PRINT_NETS = 0x10,
  PRINT_TOFILE = 0x20,
  PRINT_CONTEXTS = 0x40,
  PRINT_TERMS = 0x80,
  PRINT_UPPERS = 0x100,
  PRINT_LOWERS = 0x200,
  PRINT_ALWAYS = 0x400,
  PRINT_ORIGINCOUNT = 0x800,
  PRINT_LOCALHASH = 0x1000,
  PRINT_ULHASH = 0x2000,
  PRINT_LEFTCORNERS = 0x4000,
};

// Registers the six "rtn/..." container types (idempotent).
void RTN_RegisterTypes();

// At the end of a compile: packs the five context tables into pc's
// ContextObjectStructure, wraps pc as the "rtn/RTNet" object of its
// InternalNet entry 0 and keeps a packed snapshot of it there.
int RTN_Containerize(ParserControl *pc);

// Writes net `index` of pc's InternalNet as NAME.rtn and NAME.net in the
// current directory (NAME from pc's NetTable entry `index`), then clears its
// fWrite flag. The net in memory is left as it was, also on failure.
int RTN_Write(ParserControl *pc, int index);

// Loads NAME.rtn (*fReadStatus RS_RTN) or NAME.net (RS_NET) into a new
// ParserControl, which is returned; pc is the prepared, empty record that
// RTN_Create was given and is not changed (its pres collects the texts).
// Null on failure, with *fReadStatus 0 (error), RS_GRA (a grammar file is
// newer than its compiled file, or the compiled file is damaged, truncated
// or of another format: compile it again) or RS_RTN (the grammar file is
// newer than the time stamp it was compiled at). The record returned is
// the data of its own entry-0 object and keeps its file open until it is
// written or released; the caller deletes it after RTN_Free.
ParserControl *RTN_Read(ParserControl *pc, const char *name, int *fReadStatus);

// Releases a whole net tree and zeroes pc (the record itself stays the
// caller's). Packed copies are shared by the records of a tree, so the
// copies reachable from pc are gathered first and each freed once. Null
// pc: a new empty result, which the caller deletes.
GS_Result *RTN_Free(ParserControl *pc);
// Free procedure of "rtn/RTNet" objects: releases the members of the
// object's record and zeroes it (the record itself is the library's). Its
// packed copies are forgotten, not freed: they may be shared.
void RTN_FreeObjectProc(CntrObj *obj);
GS_Result *RTN_FreeObject(CntrObj *obj);
// Releases the members of `net` on behalf of `owner` (texts into owner's
// pres); entry 0 of net's InternalNet is left alone. 1 on a failed close
// or destroy.
int RTN_FreeLocalRTN(ParserControl *owner, ParserControl *net);

// Prints the sections of pc that the mask selects to standard output, or
// with PRINT_TOFILE to "fromtable.txt" (replaced).
int RTN_Print(ParserControl *pc, int mask);
// The memory report of a record: level 0 sizes, 1 with addresses ("map"),
// 2 with every string ("string").
void RTN_PrintMemory(const ParserControl *pc, FILE *out, int level);
// Sort order of the foi/term listing: foi descending, then term ascending.
struct FoiTermEntry {
  int foi;
  int term;
  const char *termText;
  const char *originName;
};
int RTN_CompareFoiTermEntries(const void *a, const void *b);
// Bytes the origin table takes, counted with the fixed record sizes of the
// memory report (an origin 32, a prefix 24, an arc 24, a context group 36,
// a prefix entry 20, a terminal or term index 4, an arc number 2, the
// table 24); *empty receives the part held by spare slots.
int RTN_FromMemory(const ParserControl *pc, int *empty);

}  // namespace rtn

#endif
