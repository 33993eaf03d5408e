// Compiled-net files, packed nets, their release and the printed listing.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <random>
#include <sstream>
#include <string>

#include "container.h"
#include "container_file.h"
#include "gd.h"
#include "ipc.h"
#include "mem.h"
#include "pc.h"
#include "rtn_io.h"
#include "ul_hash.h"
#include "yastro.h"

using namespace rtn;

namespace {

// Every test runs in a folder of its own: the files are written in the
// current directory.
class Files : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/rtnfilesXXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    ASSERT_EQ(getcwd(home_, sizeof home_), home_);
    ASSERT_EQ(chdir(dir_.c_str()), 0);
    RTN_RegisterTypes();
  }
  void TearDown() override {
    ASSERT_EQ(chdir(home_), 0);
    std::string cmd = "rm -rf " + dir_;
    ASSERT_EQ(system(cmd.c_str()), 0);
  }
  std::string dir_;
  char home_[4096];
};

int Key(ParserControl *pc, const std::string &text, int value) {
  bool isNew = false;
  int e = GDPC_StringCreate(*pc->pht, text.c_str(), text.size(), &isNew);
  pc->pht->entry[e].value = value;
  return pc->pht->entry[e].key;
}

// A small net "[NAME]" with the terminals `words`: origin 0:0 reaches 0:2
// on the first word, and 0:2 the end on every other one; one context entry.
ParserControl *MakeNet(const std::string &name, const std::vector<std::string> &words) {
  ParserControl *pc = new ParserControl();
  EXPECT_EQ(GDPC_Init(pc), 0);
  std::string bracketed = "[" + name + "]";
  GDPC_AppendString(pc, pc->NetTable, bracketed, Key(pc, bracketed, 0));
  for (size_t i = 0; i < words.size(); i++) {
    int k = Key(pc, words[i], (int)i);
    GDPC_AppendString(pc, pc->TerminalTable, words[i], k);
    int u = Key(pc, "U " + words[i], pc->UpperTable->count);
    GDPC_AppendString(pc, pc->UpperTable, words[i], u + 2);
    pc->UpperTable->tlist[pc->UpperTable->count - 1] = pc->ptlist->count;
    (*pc->ptindex)[pc->ptindex->count] = {(int32_t)i, -1};
    (*pc->ptlist)[pc->ptlist->count++] = {pc->ptindex->count, pc->ptindex->count, 1};
    pc->ptindex->count++;
  }
  EXPECT_EQ(GDPC_UpdateFromTable(pc, "0:0", "0:0", 0, 0, 0, "0", 0, 2, 0, 0, 0, 1, 0), 0) << pc->pres;
  for (size_t i = 1; i < words.size(); i++)
    EXPECT_EQ(GDPC_UpdateFromTable(pc, "0:2", "0:2", 0, 2, (int)i, "0", 0, 1, 0, 0, 1, 1, 0), 0) << pc->pres;
  bool isNew;
  UL_KeyCreate(*pc->pulht, 0, 0, &isNew);
  // Rule 0: the net itself.
  pc->Rewrite->rhb.count = 1;
  pc->Rewrite->rhb[0].rhs.count = 1;
  pc->Rewrite->rhb[0].rhs[0].term.count = 1;
  pc->Rewrite->rhb[0].rhs[0].term[0].name = bracketed;
  pc->Rewrite->rhb[0].rhs[0].term[0].kind = TK_NET;
  pc->Rewrite->netName = bracketed;
  // One context: the first word, at one level of the net.
  (*pc->phl)[pc->phl->count++] = HierarchyLevel{0, 0, 0, 0, 0, 1, 3, 3};
  (*pc->phli)[pc->phli->count++] = HierarchyLevelIndex{0, -1, -1};
  ContextTerm ct;
  ct.text = words[0];
  ct.terminal = 0;
  (*pc->pct)[pc->pct->count++] = ct;
  ContextEntry ce;
  ce.mode = MODE_RULES;
  ce.hCount = 1, ce.firstLevel = 0, ce.endLevel = 0, ce.firstTerm = 0, ce.lastTerm = 0, ce.contextTermCount = 1;
  (*pc->pcontext)[pc->pcontext->count++] = ce;
  (*pc->pnn)[pc->pnn->count++] = '\0';
  pc->graTimeStamp = 1000;
  GDPC_FreeNonRTNMembers(pc);
  return pc;
}

// The record of a prepared, empty ParserControl.
void Prepare(ParserControl *pc) {
  *pc = ParserControl();
  pc->pht = PreparedMark<GDPC_HashTable>();
  pc->pulht = PreparedMark<UL_HashTable>();
  pc->plht = PreparedMark<GDH_HashTable>();
  pc->inputBuf = "INIT";
}

void WriteText(const std::string &path, const std::string &text, time_t when) {
  std::ofstream(path) << text;
  struct utimbuf t = {when, when};
  utime(path.c_str(), &t);
}

void SetTime(const std::string &path, time_t when) {
  struct utimbuf t = {when, when};
  utime(path.c_str(), &t);
}

std::string ReadFile(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// Packs a record as an "rtn/RTNet" object and unpacks it again.
ParserControl *RoundTrip(ParserControl *pc, std::string *why = nullptr) {
  const CntrType *type = nullptr;
  GS_Result *r = GS_CreateResult();
  EXPECT_EQ(Cntr_Get(r, "rtn/RTNet", &type), 0);
  CntrObj *obj = Cntr_ObjCreate(r, type, pc);
  int length = 0;
  EXPECT_EQ(Cntr_ObjLength(r, obj, &length), 0);
  std::string buf((size_t)length, '\0');
  int pos = 0;
  EXPECT_EQ(Cntr_ObjPack(r, obj, &buf[0], &pos), 0);
  DB_FREE(obj);
  pos = 0;
  CntrObj *back = Cntr_ObjUnpack(r, nullptr, buf.data(), &pos, length);
  if (why) *why = r->text;
  GS_DeleteResult(r);
  if (!back) return nullptr;
  ParserControl *n = static_cast<ParserControl *>(back->data);
  DB_FREE(back);
  return n;
}

void Release(ParserControl *pc) {
  RTN_Free(pc);
  delete pc;
}

TEST_F(Files, PackedNetComesBackFieldForField) {
  ParserControl *pc = MakeNet("t", {"hello", "anna", "bob"});
  ASSERT_EQ(RTN_Containerize(pc), 0) << pc->pres;
  ParserControl *n = RoundTrip(pc);
  ASSERT_NE(n, nullptr);
  EXPECT_EQ(n->TerminalTable->strings, (std::vector<std::string>{"hello", "anna", "bob"}));
  EXPECT_EQ(n->TerminalTable->capacity, 3);
  EXPECT_EQ(n->NetTable->strings[0], "[t]");
  EXPECT_EQ(n->UpperTable->tlist, std::vector<int32_t>(pc->UpperTable->tlist.begin(), pc->UpperTable->tlist.begin() + 3));
  EXPECT_EQ(n->From->count, 2);
  EXPECT_EQ((*n->From)[1].prefix[0].arc[0].terminal.count, 2);
  EXPECT_EQ((*n->From)[0].group[0].tpa[0].arc.count, 1);
  EXPECT_EQ(n->pht->key, pc->pht->key);
  EXPECT_EQ(UL_KeyFind(*n->pulht, 0, 0), 0);
  EXPECT_EQ(n->Rewrite->rhb[0].rhs[0].term[0].name, "[t]");
  EXPECT_EQ(n->graTimeStamp, 1000);
  // The snapshot made at the end of the compile carries the context packs.
  EXPECT_GT(n->ContextObjectStructure->cetpo.length, 0);
  EXPECT_GT(n->ContextObjectStructure->nntpo.length, 0);
  Release(n);
  Release(pc);
}

// Damage that a file's own check cannot see: well-formed bytes whose
// indices point outside their tables. Each is refused on unpacking.
TEST_F(Files, StoredIndicesAreCheckedOnUnpacking) {
  struct Case {
    const char *what;
    std::function<void(ParserControl *)> spoil;
    const char *reason;
  } cases[] = {
      {"arc terminal past the terminal table", [](ParserControl *pc) { (*pc->From)[0].prefix[0].arc[0].terminal[0] = 7; },
       "arc terminal 7 out of range"},
      {"origin symbol past the symbol table", [](ParserControl *pc) { (*pc->From)[1].symbol = 99; },
       "origin symbol 99 out of range"},
      {"group arc past the prefix's arcs", [](ParserControl *pc) { (*pc->From)[0].group[0].tpa[0].arc[0] = 5; },
       "group arc out of range"},
      {"group prefix past the origin's prefixes", [](ParserControl *pc) { (*pc->From)[0].group[0].tpa[0].prefix = 3; },
       "group prefix 3 out of range"},
      {"terminal list running in a circle", [](ParserControl *pc) { (*pc->ptindex)[0].next = 0; },
       "endless terminal list"},
      {"string offset past the keys", [](ParserControl *pc) { pc->SymbolTable->offsets[0] = 1 << 20; },
       "key offset"},
      {"string text that is not its key", [](ParserControl *pc) { pc->TerminalTable->strings[1] = "zzz"; },
       "do not match"},
      {"net table without nets", [](ParserControl *pc) { pc->NetTable->count = 0; }, "string tables"},
      {"term naming a missing rule", [](ParserControl *pc) { pc->Rewrite->rhb[0].rhs[0].term[0].rhbi = 4; },
       "referencing rule 4 out of range"},
      {"string table without keys",
       [](ParserControl *pc) {
         *pc->pht = GDPC_HashTable();
         GDPC_InitHashTable(*pc->pht, 0);
       },
       "string table without keys"},
      {"chain of a string table looping", [](ParserControl *pc) { pc->pht->entry[0].next = 0; }, "string table"},
      {"context entry past its levels", [](ParserControl *pc) { (*pc->pcontext)[0].firstLevel = 9; },
       "context tables"},
      {"context terms running in a circle", [](ParserControl *pc) { (*pc->pct)[0].next = 0; }, "context tables"},
      {"level naming a net the net does not know", [](ParserControl *pc) { (*pc->phl)[0].net = 3; },
       "context tables"},
      {"context of an origin past the origin table", [](ParserControl *pc) { (*pc->pcontext)[0].foi = 40; },
       "context tables"},
  };
  for (auto &c : cases) {
    ParserControl *pc = MakeNet("t", {"hello", "anna", "bob"});
    c.spoil(pc);
    if (std::string(c.reason) == "context tables") {
      ASSERT_EQ(RTN_Containerize(pc), 0) << c.what;
    }
    std::string why;
    ParserControl *n = RoundTrip(pc, &why);
    EXPECT_EQ(n, nullptr) << c.what;
    EXPECT_NE(why.find(c.reason), std::string::npos) << c.what << ": " << why;
    if (n) Release(n);
    // Put the net right again so that it can be released.
    if (std::string(c.what) == "net table without nets") pc->NetTable->count = 1;
    Release(pc);
  }
}

TEST_F(Files, PackedFormOfAnotherVersionIsRefused) {
  ParserControl *pc = MakeNet("t", {"hello", "anna"});
  const CntrType *type = nullptr;
  GS_Result *r = GS_CreateResult();
  ASSERT_EQ(Cntr_Get(r, "rtn/RTNet", &type), 0);
  size_t len = 0;
  ASSERT_EQ(type->length(r, pc, &len), 0);
  std::string payload(len, '\0');
  ASSERT_EQ(type->pack(r, pc, (unsigned char *)&payload[0]), 0);
  payload[4] = 9;  // the format version follows the marker
  EXPECT_EQ(type->unpack(r, (const unsigned char *)payload.data(), len), nullptr);
  EXPECT_NE(std::string(r->text).find("format version 9"), std::string::npos) << r->text;
  // Cut anywhere, the bytes are refused without reading past their end.
  for (size_t cut = 0; cut < len; cut += 7)
    EXPECT_EQ(type->unpack(r, (const unsigned char *)payload.data(), cut), nullptr) << cut;
  GS_DeleteResult(r);
  Release(pc);
}

TEST_F(Files, WriteGivesRtnWithContextsAndNetWithout) {
  ParserControl *pc = MakeNet("t", {"hello", "anna"});
  ASSERT_EQ(RTN_Containerize(pc), 0);
  pc->InternalNet->fWrite[0] = 1;
  PackedObject *own = pc->InternalNet->entries[0].packed;
  int ownLength = own->length;
  int contexts = pc->ContextObjectStructure->cetpo.length;
  ASSERT_EQ(RTN_Write(pc, 0), 0) << pc->pres;
  EXPECT_EQ(pc->InternalNet->fWrite[0], 0);
  // The net in memory is as it was.
  EXPECT_EQ(pc->InternalNet->entries[0].packed, own);
  EXPECT_EQ(own->length, ownLength);
  EXPECT_EQ(pc->ContextObjectStructure->cetpo.length, contexts);

  ParserControl fromRtn, fromNet;
  Prepare(&fromRtn);
  Prepare(&fromNet);
  WriteText("t.gra", "[t]\n(hello)\n", 500);
  SetTime("t.rtn", 2000);
  SetTime("t.net", 2000);
  int status = RS_RTN;
  ParserControl *a = RTN_Read(&fromRtn, "t", &status);
  ASSERT_NE(a, nullptr) << fromRtn.pres;
  EXPECT_EQ(status, RS_RTN);
  EXPECT_EQ(a->ContextObjectStructure->contextAvailable, 1);
  EXPECT_EQ(a->ContextObjectStructure->cetpo.length, contexts);
  EXPECT_EQ(a->pcontext, nullptr);
  EXPECT_TRUE(a->InternalNet->entries[0].hasPacked);
  EXPECT_EQ(a->InternalNet->count, 0);  // a single net
  EXPECT_NE(a->plht, nullptr);
  EXPECT_TRUE(a->szRTNName.empty());
  status = RS_NET;
  ParserControl *b = RTN_Read(&fromNet, "t", &status);
  ASSERT_NE(b, nullptr) << fromNet.pres;
  EXPECT_EQ(b->ContextObjectStructure->contextAvailable, 0);
  EXPECT_EQ(b->ContextObjectStructure->cetpo.length, 0);
  // A top-level net read from NAME.net is not referenced by others.
  EXPECT_FALSE(b->InternalNet->entries[0].hasPacked);
  EXPECT_EQ(b->TerminalTable->strings, (std::vector<std::string>{"hello", "anna"}));
  // The print of contexts says which file it came from.
  ASSERT_EQ(RTN_Print(b, PRINT_CONTEXTS | PRINT_TOFILE), 0);
  EXPECT_EQ(ReadFile("fromtable.txt"),
            "Context entries are not available. Try an rp init command with the \"rebuild\" flag set to 1.\n");
  Release(a);
  Release(b);
  Release(pc);
}

TEST_F(Files, GrammarFilesDecideWhetherACompiledFileIsCurrent) {
  ParserControl *pc = MakeNet("t", {"hello", "anna"});
  pc->fRebuild = 1;
  ASSERT_EQ(RTN_Containerize(pc), 0);
  ASSERT_EQ(RTN_Write(pc, 0), 0) << pc->pres;
  struct Case {
    const char *what;
    time_t gra;  // 0: no grammar file
    int rebuild;
    ParserControl *expectNull;
    int status;
    const char *text;
  } cases[] = {
      {"grammar older than the file and the stamp", 900, 1, nullptr, RS_RTN, ""},
      {"grammar newer than the compiled file", 3000, 1, (ParserControl *)1, RS_GRA, ""},
      {"grammar newer than its stamp only", 1500, 1, (ParserControl *)1, RS_RTN, ""},
      {"no grammar file", 0, 1, (ParserControl *)1, RS_FAILED, "Error: No \".gra\" file exists to define a grammar for t"},
      {"without rebuild no grammar is looked at", 0, 0, nullptr, RS_RTN, ""},
  };
  for (auto &c : cases) {
    remove("t.gra");
    if (c.gra) WriteText("t.gra", "[t]\n(hello)\n", c.gra);
    SetTime("t.rtn", 2000);
    ParserControl in;
    Prepare(&in);
    in.fRebuild = (uint8_t)c.rebuild;
    int status = RS_RTN;
    ParserControl *n = RTN_Read(&in, "t", &status);
    EXPECT_EQ(n == nullptr, c.expectNull != nullptr) << c.what << ": " << in.pres;
    EXPECT_EQ(status, c.status) << c.what;
    EXPECT_NE(in.pres.find(c.text), std::string::npos) << c.what << ": " << in.pres;
    if (n) Release(n);
  }
  Release(pc);
}

TEST_F(Files, DamagedFilesAskForACompileAndChangeNothing) {
  ParserControl *pc = MakeNet("t", {"hello", "anna"});
  ASSERT_EQ(RTN_Containerize(pc), 0);
  ASSERT_EQ(RTN_Write(pc, 0), 0) << pc->pres;
  std::string good = ReadFile("t.rtn");
  for (size_t at : {size_t(0), size_t(5), good.size() / 2, good.size() - 1}) {
    std::string bad = good;
    bad[at] ^= 0x5a;
    std::ofstream("t.rtn", std::ios::binary) << bad;
    ParserControl in;
    Prepare(&in);
    int status = RS_RTN;
    EXPECT_EQ(RTN_Read(&in, "t", &status), nullptr) << at;
    EXPECT_EQ(status, RS_GRA) << at;
    EXPECT_TRUE(IsPreparedMark(in.pht));
    EXPECT_EQ(in.TerminalTable, nullptr);
  }
  std::ofstream("t.rtn", std::ios::binary) << good.substr(0, good.size() / 3);
  ParserControl in;
  Prepare(&in);
  int status = RS_RTN;
  EXPECT_EQ(RTN_Read(&in, "t", &status), nullptr);
  EXPECT_EQ(status, RS_GRA);
  // A damaged file is replaced by the next write.
  ASSERT_EQ(RTN_Write(pc, 0), 0) << pc->pres;
  EXPECT_EQ(ReadFile("t.rtn"), good);
  Release(pc);
}

// A file whose bytes and checksum are sound but whose string table holds
// no keys is damage like any other: no net, and a compile is asked for.
TEST_F(Files, FileWithAnEmptyKeyTableAsksForACompile) {
  ParserControl *pc = MakeNet("t", {"hello", "anna"});
  ASSERT_EQ(RTN_Containerize(pc), 0);
  GDPC_HashTable keys = *pc->pht;
  *pc->pht = GDPC_HashTable();
  GDPC_InitHashTable(*pc->pht, 0);
  ASSERT_EQ(RTN_Write(pc, 0), 0) << pc->pres;
  *pc->pht = keys;
  ParserControl in;
  Prepare(&in);
  int status = RS_RTN;
  EXPECT_EQ(RTN_Read(&in, "t", &status), nullptr);
  EXPECT_EQ(status, RS_GRA);
  EXPECT_TRUE(IsPreparedMark(in.pht));
  EXPECT_EQ(in.TerminalTable, nullptr);
  Release(pc);
}

TEST_F(Files, ReadRefusesWrongArguments) {
  ParserControl in;
  Prepare(&in);
  int status = RS_GRA;
  EXPECT_EQ(RTN_Read(&in, "t", &status), nullptr);
  EXPECT_EQ(status, RS_FAILED);
  EXPECT_EQ(in.pres.find("Useage Error: RTN_Read cannot be called with its third arguement,\n"), 0u) << in.pres;
  ParserControl never;  // never prepared: no string table
  status = RS_RTN;
  testing::internal::CaptureStderr();
  EXPECT_EQ(RTN_Read(&never, "t", &status), nullptr);
  EXPECT_NE(testing::internal::GetCapturedStderr().find("Useage Error: RTN_Read expects a pointer"), std::string::npos);
}

TEST_F(Files, ReleasingIsSafeTwiceAndClosesAKeptFileOnce) {
  GS_Result *empty = RTN_Free(nullptr);
  ASSERT_NE(empty, nullptr);
  EXPECT_STREQ(empty->text, "");
  GS_DeleteResult(empty);
  ParserControl *pc = MakeNet("t", {"hello"});
  ASSERT_EQ(RTN_Containerize(pc), 0);
  ASSERT_EQ(RTN_Write(pc, 0), 0);
  ParserControl in;
  Prepare(&in);
  int status = RS_RTN;
  ParserControl *n = RTN_Read(&in, "t", &status);
  ASSERT_NE(n, nullptr) << in.pres;
  EXPECT_NE(n->InternalNet->cntrfile[0], nullptr);
  // The kept handle serves one write and is given up.
  n->InternalNet->fWrite[0] = 1;
  ASSERT_EQ(RTN_Write(n, 0), 0) << n->pres;
  EXPECT_EQ(n->InternalNet->cntrfile[0], nullptr);
  EXPECT_EQ(RTN_Free(n), nullptr);
  EXPECT_EQ(n->TerminalTable, nullptr);
  EXPECT_EQ(RTN_Free(n), nullptr);
  delete n;
  // A record that only went through preparation.
  ParserControl p;
  Prepare(&p);
  RTN_Free(&p);
  EXPECT_EQ(p.pht, nullptr);
  Release(pc);
}

// A net read from its file wraps itself in the object of its entry 0 and
// keeps the file open: the record's release closes the file and drops that
// wrapper too (the leak check of a sanitizer build sees the wrapper).
TEST_F(Files, FreeingAReadNetClosesItsFileAndDropsItsWrapper) {
  ParserControl *pc = MakeNet("t", {"hello"});
  ASSERT_EQ(RTN_Containerize(pc), 0);
  ASSERT_EQ(RTN_Write(pc, 0), 0);
  for (int pass = 0; pass < 2; pass++) {
    ParserControl in;
    Prepare(&in);
    int status = RS_RTN;
    ParserControl *n = RTN_Read(&in, "t", &status);
    ASSERT_NE(n, nullptr) << in.pres;
    ASSERT_EQ(n->InternalNet->entries[0].object->data, n);
    ASSERT_NE(n->InternalNet->cntrfile[0], nullptr);
    if (pass == 1) {
      // The file already given up by a write is not closed again.
      n->InternalNet->fWrite[0] = 1;
      ASSERT_EQ(RTN_Write(n, 0), 0) << n->pres;
    }
    GDPC_Free(n);
    EXPECT_EQ(n->InternalNet, nullptr);
    EXPECT_EQ(n->TerminalTable, nullptr);
    GDPC_Free(n);  // again: nothing left
    delete n;
    RTN_Free(&in);
  }
  Release(pc);
}

// The free procedure of a net object whose record is already gone releases
// nothing and keeps nothing (the leak check of a sanitizer build sees the
// result it is given back).
TEST_F(Files, DestroyingANetObjectWithoutRecordLeavesNothing) {
  GS_Result *r = GS_CreateResult();
  const CntrType *type = nullptr;
  ASSERT_EQ(Cntr_Get(r, "rtn/RTNet", &type), 0);
  CntrObj *obj = Cntr_ObjCreate(r, type, nullptr);
  ASSERT_NE(obj, nullptr);
  obj->freeProc = RTN_FreeObjectProc;
  EXPECT_EQ(Cntr_ObjDestroy(r, obj), 0);
  EXPECT_STREQ(r->text, "");
  GS_DeleteResult(r);
}

TEST_F(Files, ReadNetsKeepRoomForTapeStringsAndReleaseLocally) {
  // Terminals without a colon have no tape strings.
  ParserControl *pc = MakeNet("t", {"hello"});
  pc->UpperTable->count = pc->LowerTable->count = 0;
  pc->ptlist->count = pc->ptindex->count = 0;
  ASSERT_EQ(RTN_Containerize(pc), 0);
  ASSERT_EQ(RTN_Write(pc, 0), 0);
  ParserControl in;
  Prepare(&in);
  int status = RS_RTN;
  ParserControl *n = RTN_Read(&in, "t", &status);
  ASSERT_NE(n, nullptr) << in.pres;
  EXPECT_EQ(n->UpperTable->capacity, 2);
  EXPECT_EQ(n->LowerTable->strings.size(), 2u);
  // Released on behalf of another record: tables gone, the record and its
  // net list kept, its own entry (and file) left alone.
  ParserControl owner;
  CntrObj *self = n->InternalNet->entries[0].object;
  CntrFile *file = n->InternalNet->cntrfile[0];
  PackedObject *own = n->InternalNet->entries[0].packed;
  EXPECT_EQ(RTN_FreeLocalRTN(&owner, n), 0);
  EXPECT_EQ(owner.pres, "");
  EXPECT_EQ(n->TerminalTable, nullptr);
  EXPECT_EQ(n->From, nullptr);
  ASSERT_NE(n->InternalNet, nullptr);
  EXPECT_TRUE(n->InternalNet->entries.empty());
  EXPECT_EQ(RTN_FreeLocalRTN(&owner, n), 0);  // again: nothing left to do
  EXPECT_EQ(RTN_FreeLocalRTN(nullptr, n), 0);
  delete n->InternalNet;
  n->InternalNet = nullptr;
  Cntr_ObjFClose(nullptr, file);
  DB_FREE(self);
  DB_FREE(own->buffer);
  delete own;
  delete n;
  Release(pc);
}

TEST_F(Files, PrintOfStringTablesAndOrigins) {
  ParserControl *pc = MakeNet("t", {"hello", "anna", "bob"});
  ASSERT_EQ(RTN_Print(pc, PRINT_ALWAYS | PRINT_TOFILE), 0);
  EXPECT_EQ(ReadFile("fromtable.txt"), "");
  ASSERT_EQ(RTN_Print(pc, PRINT_NETS | PRINT_TERMS | PRINT_TOFILE), 0);
  EXPECT_EQ(ReadFile("fromtable.txt"),
            "\nNetTable:\nIndex\tOffset\tEntry\n-----\t------\t-----\n0\t0\t[t]\n\n"
            "\nTermTable:\nIndex\tOffset\tEntry\n-----\t------\t-----\n0\t4\thello\n1\t18\tanna\n2\t30\tbob\n\n");
  ASSERT_EQ(RTN_Print(pc, PRINT_UPPERS | PRINT_TOFILE), 0);
  EXPECT_NE(ReadFile("fromtable.txt").find("0\t12\thello\t\t\thello \n"), std::string::npos)
      << ReadFile("fromtable.txt");
  ASSERT_EQ(RTN_Print(pc, PRINT_ORIGINS | PRINT_TOFILE), 0) << pc->pres;
  std::string o = ReadFile("fromtable.txt");
  EXPECT_NE(o.find("index(0): ([fActive(1)] origin: 0:0)\n[t]\t\t0:0\tcgi #(00:00)\n\t\t\t------------\n\t\t\t00 hello"
                   "\t\t0   0:0\t\t\t(to: 0)\n\t\t\t\t\t\t\t\t\t[t]\t\t\t0:2\n\n"),
            std::string::npos)
      << o;
  EXPECT_NE(o.find("01 bob\t\t\t0   0:2\t\t\t(to: 0)\n\t\t\t\t\t\t\t\t\t[t]\t\t\t0:1\n\n"), std::string::npos) << o;
  ASSERT_EQ(RTN_Print(pc, PRINT_ORIGINCOUNT | PRINT_TOFILE), 0);
  int empty = 0, size = RTN_FromMemory(pc, &empty);
  char line[200];
  snprintf(line, sizeof line,
           "\nRun-time States(2) Compile-time only Connecting States(0) Total(2)\n"
           "Origin Structure Memory Size in bytes(%d) empty(%d)\n\n",
           size, empty);
  EXPECT_EQ(ReadFile("fromtable.txt"), line);
  // An arc toward an origin that is not active fails the print.
  (*pc->From)[1].fActive = 0;
  EXPECT_EQ(RTN_Print(pc, PRINT_ORIGINS | PRINT_TOFILE), 1);
  EXPECT_NE(pc->pres.find("Error: an active foi(1) is not flagged as such: file(rtnet) line("), std::string::npos)
      << pc->pres;
  (*pc->From)[1].fActive = 1;
  Release(pc);
}

TEST_F(Files, MemoryOfTheOriginTableCountsEverySlot) {
  ParserControl *pc = MakeNet("t", {"hello", "anna"});
  // Two origins of a table of 8: each origin 2 prefixes (each 2 arcs of 2
  // terminals) and 2 groups (each 2 term slots and 2 prefix entries of 2).
  int perOrigin = 32 + 2 * (24 + 2 * (24 + 8)) + 2 * (36 + 8 + 2 * (20 + 4));
  int empty = 0;
  EXPECT_EQ(RTN_FromMemory(pc, &empty), 24 + 8 * perOrigin);
  EXPECT_LT(empty, 24 + 8 * perOrigin);
  EXPECT_GT(empty, 6 * perOrigin);
  ParserControl *n = RoundTrip(pc);
  ASSERT_NE(n, nullptr);
  // Read back: one prefix, arc, terminal, group, term and prefix entry each.
  EXPECT_EQ(RTN_FromMemory(n, &empty), 24 + 2 * (32 + 24 + 24 + 4 + 36 + 4 + 20 + 2));
  EXPECT_EQ(empty, 0);
  Release(n);
  Release(pc);
}

TEST_F(Files, FoiTermPairsListByOriginDownAndTermUp) {
  ParserControl *pc = MakeNet("t", {"a", "b", "c", "d", "e", "f", "g", "h", "i", "j"});
  for (int o = 2; o < 6; o++) {
    int32_t foi = 0;
    bool isNew = false;
    ASSERT_EQ(GDPC_MakeOrigin(pc, "0:" + std::to_string(o + 1), &foi, &isNew), 0) << pc->pres;
  }
  *pc->pulht = UL_HashTable();
  UL_InitHashTable(*pc->pulht, 128);
  bool isNew;
  UL_KeyCreate(*pc->pulht, 5, 9, &isNew);
  UL_KeyCreate(*pc->pulht, 2, 7, &isNew);
  UL_KeyCreate(*pc->pulht, 5, 3, &isNew);
  ASSERT_EQ(RTN_Print(pc, PRINT_LEFTCORNERS | PRINT_TOFILE), 0);
  std::string s = ReadFile("fromtable.txt");
  std::string o5 = pc->SymbolTable->strings[(*pc->From)[5].symbol];
  std::string o2 = pc->SymbolTable->strings[(*pc->From)[2].symbol];
  EXPECT_EQ(s, "\nFoi/LeftCorner-Term Hash Table Entries:\nIndex\tfoi\t\t\tterm\n-----\t---\t\t\t----\n"
               "0\t" + o5 + "\t\t\td\n1\t" + o5 + "\t\t\tj\n\n2\t" + o2 + "\t\t\th\n");
  FoiTermEntry a{5, 3, "", ""}, b{5, 9, "", ""}, c{2, 7, "", ""};
  EXPECT_EQ(RTN_CompareFoiTermEntries(&a, &c), -1);
  EXPECT_EQ(RTN_CompareFoiTermEntries(&c, &a), 1);
  EXPECT_EQ(RTN_CompareFoiTermEntries(&b, &a), 1);
  EXPECT_EQ(RTN_CompareFoiTermEntries(&a, &b), 0);
  Release(pc);
}

TEST_F(Files, LocalTableAndStatisticsSections) {
  ParserControl *pc = MakeNet("t", {"hello"});
  // The local table of a net read back starts empty.
  GDH_DeleteHashTable(*pc->plht);
  *pc->plht = GDH_HashTable();
  GDH_InitHashTable(*pc->plht, 0, 128);
  ASSERT_EQ(RTN_Print(pc, PRINT_LOCALHASH | PRINT_TOFILE), 0);
  EXPECT_EQ(ReadFile("fromtable.txt"), "");  // an empty table has no heading
  GDH_CreateHashEntry(*pc->plht, "x y", nullptr)->value = 4;
  ASSERT_EQ(RTN_Print(pc, PRINT_LOCALHASH | PRINT_TOFILE), 0);
  EXPECT_EQ(ReadFile("fromtable.txt"), "\nLocal Hash Table Entries:\nIndex\tValue\tEntry\n-----\t------\t-----\n0\t4\tx y\n");
  ASSERT_EQ(RTN_Print(pc, PRINT_STATS | PRINT_TOFILE), 0);
  std::string s = ReadFile("fromtable.txt");
  EXPECT_EQ(s.find("\n---------------------------------------------\nSerializable Hash Table Statistics:\n"), 0u) << s;
  EXPECT_NE(s.find("Term/Group Serializable Hash Table Statistics:\n"), std::string::npos);
  EXPECT_NE(s.find("Local Hash Table Statistics:\n"), std::string::npos);
  Release(pc);
}

// A grammar of two nets, compiled by the driver, written, and read back.
class Tree : public Files {
 protected:
  void SetUp() override {
    Files::SetUp();
    WriteText("flights.gra", "[flights]\n(*WANT [city_fs] *PLEASE)\nWANT (i want to fly to) (show me flights to)\n"
                             "PLEASE (please)\n", 1000);
    WriteText("city_fs.gra", "[city_fs]\n(CITY)\nCITY (boston:BOS) (denver) (new york)\n", 1000);
  }
  // RTN_Create on a prepared top-level record; null with the text in *why.
  ParserControl *Create(ParserControl *top, int status, std::string *why) {
    RTN_InitPC(top);
    top->fRebuild = 1;
    ParserControl *net = RTN_Create(top, "flights", ".gra", status);
    if (!net) *why = top->pres;
    return net;
  }
  // Writes what the compile marked, as rp uninit does.
  void WriteAll(ParserControl *net) {
    for (int i = 0; i < std::max(net->InternalNet->count, 1); i++) {
      if (net->InternalNet->fWrite[i]) {
        ASSERT_EQ(RTN_Write(net, i), 0) << net->pres;
      }
    }
  }
  void Finish(ParserControl *top, ParserControl *net) {
    RTN_Free(net);
    if (net != top) {
      delete net;
      RTN_Free(top);
    }
  }
};

TEST_F(Tree, CompiledTreeIsWrittenAndReadBackWithItsSubNet) {
  ParserControl top;
  std::string why;
  ParserControl *net = Create(&top, RS_RTN, &why);
  ASSERT_EQ(net, &top) << why;
  ASSERT_EQ(net->NetTable->count, 2);
  WriteAll(net);
  Finish(&top, net);
  for (const char *f : {"flights.rtn", "flights.net", "city_fs.rtn", "city_fs.net"})
    EXPECT_EQ(access(f, R_OK), 0) << f;
  for (const char *f : {"flights.rtn", "flights.net", "city_fs.rtn", "city_fs.net"}) SetTime(f, 2000);

  // The .rtn holds the sub-net's copy; the .net does not.
  EXPECT_GT(ReadFile("flights.rtn").size(), ReadFile("flights.net").size() + 100);

  ParserControl top2;
  ParserControl *read = Create(&top2, RS_RTN, &why);
  ASSERT_NE(read, nullptr) << why;
  EXPECT_NE(read, &top2);  // the record read from the file
  EXPECT_EQ(read->NetTable->strings, (std::vector<std::string>{"[flights]", "[city_fs]"}));
  EXPECT_EQ(read->InternalNet->count, 2);
  EXPECT_TRUE(read->InternalNet->entries[1].hasPacked);
  EXPECT_EQ(read->ContextObjectStructure->contextAvailable, 1);
  // Every arc of the origin table leads to an active origin.
  ASSERT_EQ(RTN_Print(read, PRINT_ORIGINS | PRINT_TOFILE), 0) << read->pres;
  // The context entries are unpacked on demand.
  ASSERT_EQ(RTN_Print(read, PRINT_CONTEXTS | PRINT_TOFILE), 0) << read->pres;
  EXPECT_GT(ReadFile("fromtable.txt").size(), 200u);
  Finish(&top2, read);

  ParserControl top3;
  top3.fRebuild = 0;
  RTN_InitPC(&top3);
  ParserControl *fromNet = RTN_Create(&top3, "flights", ".gra", RS_NET);
  ASSERT_NE(fromNet, nullptr) << top3.pres;
  EXPECT_EQ(fromNet->ContextObjectStructure->contextAvailable, 0);
  Finish(&top3, fromNet);
}

TEST_F(Tree, TouchedSubNetGrammarCompilesTheTreeAgain) {
  ParserControl top;
  std::string why;
  ParserControl *net = Create(&top, RS_RTN, &why);
  ASSERT_EQ(net, &top) << why;
  WriteAll(net);
  Finish(&top, net);
  for (const char *f : {"flights.rtn", "flights.net", "city_fs.rtn", "city_fs.net"}) SetTime(f, 2000);
  SetTime("city_fs.gra", 3000);
  ParserControl top2;
  ParserControl *again = Create(&top2, RS_RTN, &why);
  ASSERT_EQ(again, &top2) << why;  // compiled, not read
  Finish(&top2, again);
}

TEST_F(Tree, DamagedTopFileIsCompiledAgain) {
  ParserControl top;
  std::string why;
  ParserControl *net = Create(&top, RS_RTN, &why);
  ASSERT_EQ(net, &top) << why;
  WriteAll(net);
  Finish(&top, net);
  std::string good = ReadFile("flights.rtn");
  good[30] ^= 0x11;
  std::ofstream("flights.rtn", std::ios::binary) << good;
  for (const char *f : {"flights.rtn", "flights.net", "city_fs.rtn", "city_fs.net"}) SetTime(f, 2000);
  ParserControl top2;
  ParserControl *again = Create(&top2, RS_RTN, &why);
  ASSERT_EQ(again, &top2) << why;
  EXPECT_EQ(again->NetTable->count, 2);
  Finish(&top2, again);
}

// Mutated grammar texts: each is refused with a text or compiles to a net
// that packs, unpacks, prints and parses.
TEST_F(Files, MutatedGrammarsCompileOrFailCleanly) {
  const std::string seeds[] = {
      "[g]\n(*HELLO +NAME)\nHELLO (hello) (hi there)\nNAME (anna) (bob)\n",
      "[g]\n(A *B)\nA (x y:Y) (x z)\nB (+*w n)\n/* c */C (c)\n",
  };
  const char alphabet[] = "[]()*+:_- \n\r\tAaZz/\x80";
  std::mt19937 rng(3);
  const char *words[] = {"", "hello", "anna", "x", "y", "w", "c", "bob"};
  for (int k = 0; k < 1500; k++) {
    std::string s = seeds[k % 2];
    int edits = 1 + rng() % 6;
    for (int e = 0; e < edits; e++) {
      size_t at = rng() % (s.size() + 1);
      switch (rng() % 3) {
        case 0: if (at < s.size()) s.erase(at, 1); break;
        case 1: s.insert(at, 1, alphabet[rng() % (sizeof alphabet - 1)]); break;
        case 2: if (at < s.size()) s[at] = alphabet[rng() % (sizeof alphabet - 1)]; break;
      }
    }
    std::ofstream("g.gra", std::ios::binary) << s;
    ParserControl top;
    RTN_InitPC(&top);
    testing::internal::CaptureStdout();
    ParserControl *net = RTN_Create(&top, "g", ".gra", RS_GRA);
    testing::internal::GetCapturedStdout();
    if (!net) {
      EXPECT_FALSE(top.pres.empty()) << s;
      RTN_Free(&top);
      continue;
    }
    ParserControl *back = RoundTrip(net);
    ASSERT_NE(back, nullptr) << s;
    Release(back);
    EXPECT_EQ(RTN_Print(net, PRINT_ALL_STRINGS | PRINT_ORIGINS | PRINT_CONTEXTS | PRINT_TOFILE), 0)
        << net->pres << s;
    InputParserControl *ipc = new InputParserControl();
    RTN_ZeroInputParserControl(ipc);
    ipc->probbeam = 1;
    ipc->nbest = 1, ipc->prune = 2, ipc->upper = 1, ipc->lookback = -1, ipc->framewindow = 255, ipc->tcl = 1;
    ipc->maxfi = 1;
    ASSERT_EQ(RTN_InitParse(net, ipc), 0) << net->pres;
    int32_t index = 0, labels = 1;
    for (const char *w : words) {
      const char *label[1] = {w};
      if (RTN_GetPossibilities(net, &index, &labels, label, nullptr, ipc)) break;
      index++;
    }
    const char *end[1] = {"cq"};
    RTN_GetPossibilities(net, &index, &labels, end, nullptr, ipc);
    EXPECT_EQ(RTN_PrintFinished(net, ipc, 1), 0) << net->pres << s;
    RTN_FreeInputParserControl(ipc, net);
    delete ipc;
    RTN_Free(&top);
  }
}

// The hash tables that compiled files store, and the item pool of the
// parse.
TEST(HashTable, GrowsAlongTheSizeSeries) {
  struct Case { int hint, buckets, grownAtEntry, grownBuckets; } cases[] = {
      {128, 257, 129, 1031},
      {120, 257, 129, 1031},
      {2, 5, 3, 17},
  };
  for (auto &c : cases) {
    GDPC_HashTable t;
    GDPC_InitHashTable(t, c.hint);
    EXPECT_EQ((int)t.buckets.size(), c.buckets) << c.hint;
    for (int i = 1; i <= c.grownAtEntry; i++) {
      EXPECT_EQ((int)t.buckets.size(), c.buckets) << "before entry " << i;
      bool isNew;
      std::string k = "key" + std::to_string(i);
      GDPC_StringCreate(t, k.data(), k.size(), &isNew);
      EXPECT_TRUE(isNew);
    }
    EXPECT_EQ((int)t.buckets.size(), c.grownBuckets) << c.hint;
    EXPECT_EQ(t.growAt, (c.grownBuckets + 1) / 2);
    std::string why;
    EXPECT_TRUE(GDPC_CheckTable(t, why)) << why;
    for (int i = 1; i <= c.grownAtEntry; i++) {
      std::string k = "key" + std::to_string(i);
      EXPECT_EQ(GDPC_StringFind(t, k.data(), k.size()), i - 1) << k;
    }
  }
}

TEST(HashTable, KeysAndStatistics) {
  GDPC_HashTable t;
  GDPC_InitHashTable(t, 128);
  EXPECT_EQ(GDPC_HashStats(t),
            "0 entries in table, 257 buckets\n"
            "number of buckets with 0 entries: 257\n"
            "number of buckets with 1 entries: 0\nnumber of buckets with 2 entries: 0\n"
            "number of buckets with 3 entries: 0\nnumber of buckets with 4 entries: 0\n"
            "number of buckets with 5 entries: 0\nnumber of buckets with 6 entries: 0\n"
            "number of buckets with 7 entries: 0\nnumber of buckets with 8 entries: 0\n"
            "number of buckets with 9 entries: 0\n"
            "number of buckets with 10 or more entries: 0\n"
            "average search distance for entry: 0.000");
  bool isNew;
  int empty = GDPC_StringCreate(t, "", 0, &isNew);
  EXPECT_EQ(t.buckets[0], empty);  // the empty key hashes to bucket 0
  int ab = GDPC_StringCreate(t, "ab", 2, &isNew);
  int a = GDPC_StringCreate(t, "a", 1, &isNew);
  EXPECT_NE(a, ab);  // a prefix is another key
  size_t keyBytes = t.key.size();
  EXPECT_EQ(GDPC_StringCreate(t, "ab", 2, &isNew), ab);
  EXPECT_FALSE(isNew);
  EXPECT_EQ(t.key.size(), keyBytes);  // an existing key adds nothing
  EXPECT_STREQ(GDPC_Key(t, ab), "ab");
  EXPECT_EQ(GDPC_StringFind(t, "abc", 3), -1);
  // Signed bytes hash the same on every machine: a key of high bytes is found.
  std::string high = "\xe9t\xe9";
  int h = GDPC_StringCreate(t, high.data(), high.size(), &isNew);
  EXPECT_EQ(GDPC_StringFind(t, high.data(), high.size()), h);
}

TEST(HashTable, DamagedTablesAreRefused) {
  GDPC_HashTable good;
  GDPC_InitHashTable(good, 2);
  bool isNew;
  GDPC_StringCreate(good, "a", 1, &isNew);
  GDPC_StringCreate(good, "b", 1, &isNew);
  std::string why;
  ASSERT_TRUE(GDPC_CheckTable(good, why));
  std::vector<std::function<void(GDPC_HashTable &)>> damage = {
      [](GDPC_HashTable &t) { t.entry[0].next = 0; },  // a chain onto itself
      [](GDPC_HashTable &t) { t.entry[1].key = 1000; },
      [](GDPC_HashTable &t) { t.buckets[0] = 7; },
      [](GDPC_HashTable &t) { t.key.back() = 'x'; },
      [](GDPC_HashTable &t) { t.sizeLevel = 40; },
      [](GDPC_HashTable &t) { t.buckets.pop_back(); },
  };
  for (size_t i = 0; i < damage.size(); i++) {
    GDPC_HashTable t = good;
    damage[i](t);
    EXPECT_FALSE(GDPC_CheckTable(t, why)) << i;
  }
}

TEST(HashTable, PairAndChainedTables) {
  UL_HashTable u;
  UL_InitHashTable(u, 128);
  EXPECT_EQ(u.buckets.size(), 257u);
  EXPECT_EQ(u.shift, 25);
  bool isNew;
  for (int i = 0; i < 600; i++) EXPECT_EQ(UL_KeyCreate(u, i, -i, &isNew), i);
  EXPECT_EQ(u.buckets.size(), 4099u);  // 257 -> 1031 at 129 -> 4099 at 516
  EXPECT_EQ(u.shift, 25);              // growth keeps the shift
  for (int i = 0; i < 600; i++) EXPECT_EQ(UL_KeyFind(u, i, -i), i);
  EXPECT_EQ(UL_KeyFind(u, -1, 1), -1);
  EXPECT_EQ(UL_KeyCreate(u, 7, -7, &isNew), 7);
  EXPECT_FALSE(isNew);

  GDH_HashTable h;
  GDH_InitHashTable(h, 0, 2);
  EXPECT_EQ(h.bucketCount, 5);
  GDH_CreateHashEntry(h, "a", &isNew);
  GDH_CreateHashEntry(h, "b", &isNew);
  EXPECT_EQ(h.bucketCount, 5);
  GDH_HashEntry *c = GDH_CreateHashEntry(h, "c", &isNew);
  EXPECT_EQ(h.bucketCount, 17);  // grows on the third entry
  c->value = 42;
  EXPECT_EQ(GDH_FindHashEntry(h, "c")->value, 42);
  GDH_DeleteHashEntry(GDH_FindHashEntry(h, "a"));
  EXPECT_EQ(GDH_FindHashEntry(h, "a"), nullptr);
  EXPECT_NE(GDH_FindHashEntry(h, "b"), nullptr);
  HashWalk w;
  int n = 0;
  for (GDH_HashEntry *e = GDH_FirstHashEntry(h, w); e; e = GDH_NextHashEntry(w)) n++;
  EXPECT_EQ(n, 2);
  EXPECT_EQ(GDH_HashStats(h).substr(0, 31), "2 entries in table, 17 buckets\n");
  GDH_DeleteHashTable(h);
  EXPECT_DEATH(GDH_FindHashEntry(h, "b"), "called GDH_FindHashEntry on deleted table");
}

TEST(ItemPool, ChunksResetAndFreeList) {
  MemPool *p = mem_Init(512, 20, 0);
  for (int i = 0; i < 512; i++) mem_Alloc(p, 1);
  EXPECT_EQ(mem_Size(p), 512);
  char *s = (char *)mem_Alloc(p, 1);  // the 513th starts a second chunk
  EXPECT_EQ(mem_Size(p), 1024);
  memset(s, 0x5a, 20);
  mem_Alloc(p, 600);  // larger than a chunk: a chunk of exactly that size
  EXPECT_EQ(mem_Size(p), 1624);
  mem_Reset(p);
  EXPECT_EQ(mem_Size(p), 512);
  EXPECT_EQ(mem_Used(p), 0);
  char *z = (char *)mem_Alloc(p, 3);
  for (int i = 0; i < 60; i++) EXPECT_EQ(z[i], 0);
  // A request that does not fit in what is left starts a new chunk.
  mem_Alloc(p, 500);
  mem_Alloc(p, 10);
  EXPECT_EQ(mem_Size(p), 1024);
  // Items come back zeroed, first freed first.
  char *a = (char *)mem_AllocItem(p), *b = (char *)mem_AllocItem(p);
  memset(a, 1, 8);
  memset(b, 2, 8);
  mem_FreeItem(p, a);
  mem_FreeItem(p, b);
  EXPECT_EQ(mem_AllocItem(p), a);
  EXPECT_EQ(mem_AllocItem(p), b);
  EXPECT_EQ(a[0], 0);
  EXPECT_EQ(b[7], 0);
  mem_Nuke(p);
}

}  // namespace
