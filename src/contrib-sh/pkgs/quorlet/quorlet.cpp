// The "Quorlet" package: the rp command over the process-wide robust parser.
//
// One grammar is loaded per process; every interpreter shares it. Option
// words carry no dash and take their value from the next word.
#include <tcl.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "cmds.h"
#include "container.h"
#include "container_file.h"
#include "gd.h"
#include "ipc.h"
#include "obj.h"
#include "pc.h"
#include "records.h"
#include "rtn_io.h"
#include "trailer.h"

namespace {

struct Options {
  int printallocs = 0, logallocs = 0, printmask = 0, dots = 0;
  double probfactor = 2.0;
  int prolog = 0, prettyprint = 0, showoog = 0, prune = 2, probbeam = 1, lookback = -1;
  int beam = 0, framewindow = 255, nbest = 1, maxfi = 1, canonical = 0, tail = 0, hide = 0;
  int time = 0, input = 0, score = 0, transcript = 0, tcl = 0, debug = 0, gdebug = 10000;
  int rebuild = 1, upper = 1, predictionbeam = 0;
  std::string containerPath;
};

struct ParserState {
  bool initialised = false;
  rtn::ParserControl top;             // the record rp init prepares
  rtn::ParserControl *net = nullptr;  // the top net: top itself, or the record read
  rtn::InputParserControl ipc;
  Options opt;
  std::string containerPath;
  Tcl_Channel out = nullptr;
};

ParserState &State() {
  static ParserState *s = new ParserState();  // lives as long as the process
  return *s;
}
std::mutex gMutex;  // interpreters of several threads share the one parser

enum { CTX_INIT = 1, CTX_PARSE = 2, CTX_SEARCH = 4 };
enum ValueKind { V_NONE, V_INT, V_REAL, V_TEXT };

struct OptionWord {
  const char *name;
  ValueKind kind;
  int contexts;  // where the word is an option; elsewhere it is skipped
  int lo, hi;    // accepted range of an integer value
};

// Every option word. Integer values outside their range are refused rather
// than cut to the width of their field.
const OptionWord kOptions[] = {
    {"printallocs", V_NONE, CTX_INIT | CTX_PARSE, 0, 0},
    {"logallocs", V_NONE, CTX_INIT | CTX_PARSE, 0, 0},
    {"print", V_NONE, CTX_INIT | CTX_PARSE, 0, 0},
    {"printtofile", V_NONE, CTX_INIT | CTX_PARSE, 0, 0},
    {"printcontextentries", V_NONE, CTX_INIT | CTX_PARSE, 0, 0},
    {"dots", V_INT, CTX_INIT | CTX_PARSE, -128, 127},
    {"probfactor", V_REAL, CTX_INIT | CTX_PARSE, 0, 0},
    {"stream", V_INT, CTX_INIT | CTX_PARSE, -128, 127},
    {"phonetic", V_INT, CTX_INIT, -128, 127},
    {"prolog", V_INT, CTX_INIT | CTX_PARSE, -128, 127},
    {"prettyprint", V_INT, CTX_INIT | CTX_PARSE, -128, 127},
    {"showoog", V_INT, CTX_INIT | CTX_PARSE, -128, 127},
    {"prune", V_INT, CTX_INIT | CTX_PARSE, 0, 127},
    {"probbeam", V_INT, CTX_INIT | CTX_SEARCH, 1, 126},
    {"lookback", V_INT, CTX_INIT | CTX_PARSE, -1, 127},
    {"beam", V_INT, CTX_INIT | CTX_PARSE, -128, 127},
    {"framewindow", V_INT, CTX_INIT | CTX_PARSE, 0, 65535},
    {"nbest", V_INT, CTX_INIT | CTX_PARSE, 0, 127},
    {"maxfi", V_INT, CTX_INIT | CTX_PARSE, -128, 127},
    {"canonical", V_INT, CTX_INIT | CTX_PARSE, -128, 127},
    {"tail", V_INT, CTX_INIT | CTX_PARSE, -128, 127},
    {"hide", V_INT, CTX_INIT | CTX_PARSE, -128, 127},
    {"time", V_INT, CTX_INIT | CTX_PARSE, -128, 127},
    {"input", V_INT, CTX_INIT | CTX_PARSE, -128, 127},
    {"score", V_INT, CTX_INIT | CTX_PARSE, -128, 127},
    {"transcript", V_INT, CTX_INIT | CTX_PARSE, -128, 127},
    {"tcl", V_INT, CTX_INIT | CTX_PARSE, -128, 127},
    {"debug", V_INT, CTX_INIT | CTX_PARSE, -128, 127},
    {"gdebug", V_INT, CTX_PARSE, INT32_MIN, INT32_MAX},
    {"rebuild", V_INT, CTX_INIT, -128, 127},
    {"upper", V_INT, CTX_INIT | CTX_PARSE, -128, 127},
    {"lower", V_INT, CTX_INIT | CTX_PARSE, -128, 127},
    {"containerPath", V_TEXT, CTX_INIT | CTX_PARSE, 0, 0},
    {"file", V_TEXT, CTX_PARSE, 0, 0},
    {"test", V_INT, CTX_PARSE, -128, 127},
    {"string", V_TEXT, CTX_PARSE, 0, 0},
    {"obfile", V_TEXT, CTX_SEARCH, 0, 0},
    {"nnetfilestem", V_TEXT, CTX_SEARCH, 0, 0},
    {"printsearchbeam", V_INT, CTX_SEARCH, INT32_MIN, INT32_MAX},
    {"predictionbeam", V_INT, CTX_SEARCH, 0, 127},
};

// The words of rp parse that rp search takes too: all but the input sources.
bool SearchTakes(const OptionWord &w) {
  if (w.contexts & CTX_SEARCH) return true;
  if (!(w.contexts & CTX_PARSE)) return false;
  for (const char *src : {"file", "test", "string", "stream"})
    if (!strcmp(w.name, src)) return false;
  return true;
}

// What one call names besides the stored options.
struct CallWords {
  int stream = 0, test = 0;
  bool haveFile = false, haveString = false, haveContainerPath = false;
  std::string file, string;
  // rp search
  bool haveObfile = false, haveStem = false, haveProbbeam = false, haveLookback = false;
  std::string obfile, stem;
  int printsearchbeam = 0;
};

void Store(Options &o, CallWords &cw, const std::string &name, int iv, double dv, const std::string &tv) {
  if (name == "printallocs") o.printallocs = 1;
  else if (name == "logallocs") o.logallocs = 1;
  else if (name == "print") o.printmask = 20;
  else if (name == "printtofile") o.printmask = 52;
  else if (name == "printcontextentries") o.printmask |= 64;
  else if (name == "dots") o.dots = iv;
  else if (name == "probfactor") o.probfactor = dv;
  else if (name == "stream") cw.stream = iv;
  else if (name == "prolog") o.prolog = iv;
  else if (name == "prettyprint") o.prettyprint = iv;
  else if (name == "showoog") o.showoog = iv;
  else if (name == "prune") o.prune = iv;
  else if (name == "probbeam") { o.probbeam = iv; cw.haveProbbeam = true; }
  else if (name == "lookback") { o.lookback = iv; cw.haveLookback = true; }
  else if (name == "beam") o.beam = iv;
  else if (name == "framewindow") o.framewindow = iv;
  else if (name == "nbest") o.nbest = iv;
  else if (name == "maxfi") o.maxfi = iv;
  else if (name == "canonical") o.canonical = iv;
  else if (name == "tail") o.tail = iv;
  else if (name == "hide") o.hide = iv;
  else if (name == "time") o.time = iv;
  else if (name == "input") o.input = iv;
  else if (name == "score") o.score = iv;
  else if (name == "transcript") o.transcript = iv;
  else if (name == "tcl") o.tcl = iv;
  else if (name == "debug") o.debug = iv;
  else if (name == "gdebug") o.gdebug = iv;
  else if (name == "rebuild") o.rebuild = iv;
  else if (name == "upper") o.upper = iv;
  else if (name == "lower") o.upper = iv == 0 ? 1 : 0;
  else if (name == "containerPath") { o.containerPath = tv; cw.haveContainerPath = true; }
  else if (name == "file") { cw.file = tv; cw.haveFile = true; }
  else if (name == "test") cw.test = iv;
  else if (name == "string") { cw.string = tv; cw.haveString = true; }
  else if (name == "obfile") { cw.obfile = tv; cw.haveObfile = true; }
  else if (name == "nnetfilestem") { cw.stem = tv; cw.haveStem = true; }
  else if (name == "printsearchbeam") cw.printsearchbeam = iv;
  else if (name == "predictionbeam") o.predictionbeam = iv;
}

// Applies the option words argv[first..]. Unknown words are skipped one at a
// time, so a value after one is examined as a word in its turn.
int ApplyOptions(Tcl_Interp *interp, int ctx, int argc, const char **argv, int first, Options &o,
                 CallWords &cw) {
  for (int i = first; i < argc; i++) {
    const OptionWord *w = nullptr;
    for (auto &k : kOptions)
      if ((ctx == CTX_SEARCH ? SearchTakes(k) : (k.contexts & ctx) != 0) && strcmp(argv[i], k.name) == 0) w = &k;
    if (!w) continue;
    if (!strcmp(w->name, "test") && !cw.haveFile) continue;  // only after "file"
    if (ctx == CTX_INIT && (!strcmp(w->name, "stream") || !strcmp(w->name, "phonetic"))) {
      i++;  // their value means nothing at init: skipped unread
      continue;
    }
    if (ctx != CTX_INIT && !strcmp(w->name, "containerPath")) {
      // Refused at once, before any later word is looked at.
      Tcl_SetObjResult(interp, Tcl_NewStringObj("Error: containerPath can only be used with \"rp init.\"\n", -1));
      return TCL_ERROR;
    }
    int iv = 0;
    double dv = 0;
    std::string tv;
    if (w->kind != V_NONE) {
      if (i + 1 >= argc) {
        Tcl_SetObjResult(interp, Tcl_ObjPrintf("missing value for %s", w->name));
        return TCL_ERROR;
      }
      const char *v = argv[++i];
      if (w->kind == V_INT) {
        if (Tcl_GetInt(interp, v, &iv) != TCL_OK) return TCL_ERROR;
        if (iv < w->lo || iv > w->hi) {
          Tcl_SetObjResult(interp, Tcl_ObjPrintf("bad value for %s: \"%s\" (must be %d to %d)", w->name, v,
                                                 w->lo, w->hi));
          return TCL_ERROR;
        }
      } else if (w->kind == V_REAL) {
        if (Tcl_GetDouble(interp, v, &dv) != TCL_OK) return TCL_ERROR;
      } else {
        tv = v;
      }
    }
    Store(o, cw, w->name, iv, dv, tv);
  }
  return TCL_OK;
}

// The option values the parse reads, kept in the parse state.
void StoreInParse(const Options &o) {
  rtn::InputParserControl &p = State().ipc;
  p.prolog = (int8_t)o.prolog, p.prettyprint = (int8_t)o.prettyprint, p.nbest = (int8_t)o.nbest;
  p.tail = (int8_t)o.tail, p.hide = (int8_t)o.hide, p.input = (int8_t)o.input, p.score = (int8_t)o.score;
  p.canonical = (int8_t)o.canonical, p.transcript = (int8_t)o.transcript, p.tcl = (int8_t)o.tcl;
  p.showoog = (int8_t)o.showoog, p.maxfi = (int8_t)o.maxfi, p.prune = (int8_t)o.prune;
  p.lookback = (int8_t)o.lookback, p.beam = (int8_t)o.beam, p.debug = (int8_t)o.debug;
  p.printallocs = (int8_t)o.printallocs, p.logallocs = (int8_t)o.logallocs, p.upper = (int8_t)o.upper;
  p.dots = (int8_t)o.dots, p.time = (int8_t)o.time, p.predictionbeam = (int8_t)o.predictionbeam;
  p.framewindow = (uint16_t)o.framewindow;
  p.gdebug = o.gdebug;
  p.probfactor = o.probfactor;
}

void Write(const std::string &s) {
  if (State().out && !s.empty()) {
    Tcl_Write(State().out, s.data(), (int)s.size());
    Tcl_Flush(State().out);
  }
}

// Text of the engine "to the channel": the channel is the record's.
void ChannelWriter(void *channel, const char *text) {
  if (!channel || !text) return;
  Tcl_Write(static_cast<Tcl_Channel>(channel), text, -1);
  Tcl_Flush(static_cast<Tcl_Channel>(channel));
}

const char kCover[] = "\r\t\t\t\t\t\t\t\t\t\t\r";

double Seconds(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

// Text of a trailer with ") at line(" in place of ") line(".
std::string AtLine(std::string t) {
  size_t k = t.find(") line(");
  if (k != std::string::npos) t.replace(k, 7, ") at line(");
  return t;
}

void SetResult(Tcl_Interp *interp, const std::string &s) { Tcl_SetObjResult(interp, Tcl_NewStringObj(s.c_str(), -1)); }

// False, with the text every sub-command but init, uninit, filize and help
// answers, when no grammar is loaded.
bool Initialised(Tcl_Interp *interp) {
  if (State().initialised) return true;
  SetResult(interp, "Error: \"rp init\" must be called before this function can be called.");
  return false;
}

// Releases the grammar and the parse state, and marks the parser
// uninitialised.
void ReleaseAll() {
  ParserState &st = State();
  rtn::RTN_FreeInputParserControl(&st.ipc, st.net);
  if (st.net && st.net != &st.top) {
    rtn::RTN_Free(st.net);
    delete st.net;
  }
  rtn::RTN_Free(&st.top);
  st.top = rtn::ParserControl();
  st.net = nullptr;
  st.initialised = false;
}

// ---------------------------------------------------------------------------

// rp init NAME.gra|NAME.frm ?option value ...?
// Compiles the grammar NAME (or loads its current compiled files) and makes
// it the parser's grammar. Empty result.
int InitCmd(Tcl_Interp *interp, int argc, const char **argv) {
  ParserState &st = State();
  if (st.initialised) {
    SetResult(interp, "\"rp init\" call has already been made for this session. Please continue.\n");
    return TCL_OK;
  }
  st.top.tclChannel = st.out;
  rtn::RTN_ZeroInputParserControl(&st.ipc);
  st.net = nullptr;
  if (argc < 3) {
    SetResult(interp,
              "Format error: The first argument after \"rp init\" must specify a top-level input grammar "
              "definition file\n(with extension \".gra\"), followed by any appropriate flags.\n");
    return TCL_ERROR;
  }
  std::string name = argv[2];
  std::string ext = name.size() >= 4 ? name.substr(name.size() - 4) : "";
  if (ext != ".gra" && ext != ".frm") {
    SetResult(interp,
              "Format error: The first argument must specify a top-level input grammar definition file\nwhose "
              "extension is either \".gra\" or \".frm\" (i.e., net or form definition files respectively).\n");
    return TCL_ERROR;
  }
  std::string base = name.substr(0, name.size() - 4);
  Options o;
  CallWords cw;
  if (ApplyOptions(interp, CTX_INIT, argc, argv, 3, o, cw) != TCL_OK) return TCL_ERROR;
  if (!cw.haveContainerPath) {
    const char *prefix = getenv("TOVIK_EXEC_PREFIX");
    o.containerPath = std::string(prefix ? prefix : ".") + "/containers";
  }
  st.containerPath = o.containerPath;
  auto t0 = std::chrono::steady_clock::now();
  st.top = rtn::ParserControl();
  st.top.fDots = (uint8_t)(o.dots != 0);
  rtn::RTN_InitPC(&st.top);
  st.out = Tcl_GetChannel(interp, "stdout", nullptr);
  st.top.tclChannel = st.out;
  st.top.pszContainerPath = st.containerPath;
  if (o.printallocs || o.logallocs) {
    FILE *f = fopen("allocLog.txt", "w");
    if (!f) {
      SetResult(interp, "Error: fopen failure for allocLog.txt in Rp_init: " + RTN_TRAILER);
      ReleaseAll();
      return TCL_ERROR;
    }
    fclose(f);
  }
  st.top.fPrintAllocs = (uint8_t)(o.printallocs != 0);
  st.top.fLogAllocs = (uint8_t)(o.logallocs != 0);
  st.top.fRebuild = (uint8_t)(o.rebuild != 0);
  st.net = rtn::RTN_Create(&st.top, base.c_str(), ".gra", o.rebuild ? rtn::RS_RTN : rtn::RS_NET);
  if (!st.net) {
    SetResult(interp, st.top.pres);
    ReleaseAll();
    return TCL_ERROR;
  }
  if (o.time) {
    fputs("hello\rgoodbye", stderr);
    double s = Seconds(t0);
    int minutes = (int)s / 60;
    char buf[256];
    snprintf(buf, sizeof buf, "\rCompilation Time for %s: %d %s %2.19f seconds\n", base.c_str(), minutes,
             minutes == 1 ? "minute" : "minutes", s - 60.0 * minutes);
    Write(buf);
  } else {
    Write(kCover);
  }
  if (o.printmask && rtn::RTN_Print(st.net, o.printmask)) {
    st.net->pres += "RTN_Print failure in main: " + RTN_TRAILER;
    SetResult(interp, st.net->pres);
    ReleaseAll();
    return TCL_ERROR;
  }
  st.ipc.probbeam = (int8_t)(o.probbeam == 1 ? 1 : o.probbeam + 1);
  if (rtn::RTN_InitParse(st.net, &st.ipc)) {
    st.net->pres += "RTN_InitParse failure in main: " + RTN_TRAILER;
    SetResult(interp, st.net->pres);
    ReleaseAll();
    return TCL_ERROR;
  }
  StoreInParse(o);
  st.ipc.probbeam = 1;
  st.opt = o;
  st.initialised = true;
  Tcl_ResetResult(interp);
  return TCL_OK;
}

// Where the words of one input come from; false when the source is spent.
typedef bool (*NextWord)(void *source, std::string &word);

struct WordList {
  std::vector<std::string> words;
  size_t at = 0;
};
bool NextFromList(void *source, std::string &word) {
  WordList *l = static_cast<WordList *>(source);
  if (l->at >= l->words.size()) return false;
  word = l->words[l->at++];
  return true;
}

std::vector<std::string> SplitWords(const std::string &s) {
  std::istringstream in(s);
  std::vector<std::string> w;
  std::string x;
  while (in >> x) w.push_back(x);
  return w;
}

// Parses one input: the set-up step, then one step per word, then "cq".
// `keepOnFinish`: a word is passed again when the step before finished
// every path (the file source's rule). *steps receives the step counter at
// the end (the steps taken, the start and "cq" included). With `console`
// failures of the output begin with "\r".
int ParseInput(Tcl_Interp *interp, NextWord next, void *source, bool keepOnFinish, bool console, int *steps,
               bool stream = false) {
  ParserState &st = State();
  rtn::ParserControl *net = st.net;
  rtn::InputParserControl &ipc = st.ipc;
  int32_t index = 0, labels = 1;
  std::string word;
  bool advance = true;
  for (;;) {
    if (ipc.fFinished) {
      if (word == "cq") break;
      ipc.fFinished = 0;
    }
    const char *label[1] = {word.c_str()};
    if (rtn::RTN_GetPossibilities(net, &index, &labels, label, nullptr, &ipc)) {
      SetResult(interp, net->pres);
      return TCL_ERROR;
    }
    if (stream && !ipc.fFinished) {
      std::vector<std::string> exp = rtn::RTN_Expectations(net, &ipc, ipc.inputCount);
      if (exp.empty()) {
        net->pres += "\rError: an empty prediction set has been encountered in RTN_PrintFinished: " + RTN_TRAILER;
        SetResult(interp, net->pres);
        return TCL_ERROR;
      }
      printf("%sExpectations:\n", index ? "\n" : "");
      for (size_t i = 0; i < exp.size(); i++) printf("%s%s", exp[i].c_str(), i + 1 < exp.size() ? " " : "");
      printf("\n\nInput: ");
      fflush(stdout);
    }
    if (stream && ipc.fFinished && index > 0) {
      // The step that finished every path ends a typed input at once.
      word = "cq";
    } else {
      advance = !(keepOnFinish && ipc.fFinished && word != "cq");
      if (advance && !next(source, word)) word = "cq";
    }
    index++;
  }
  *steps = index;
  if (st.opt.dots) Write("\n\n");
  if (rtn::RTN_PrintFinished(net, &ipc, st.opt.tcl)) {
    net->pres += std::string(console ? "\r" : "") + "RTN_PrintFinished error: " + RTN_TRAILER;
    SetResult(interp, net->pres);
    return TCL_ERROR;
  }
  if (st.opt.tcl) SetResult(interp, net->pres);
  rtn::RTN_ResetParserControls(&ipc, net);
  return TCL_OK;
}

// Words of a text file, one fscanf-like word at a time.
struct FileWords {
  FILE *f;
};
bool NextFromFile(void *source, std::string &word) {
  FILE *f = static_cast<FileWords *>(source)->f;
  int c;
  while ((c = fgetc(f)) != EOF && isspace(c)) {
  }
  if (c == EOF) return false;
  word.clear();
  do word.push_back((char)c);
  while ((c = fgetc(f)) != EOF && !isspace(c));
  return true;
}

// One word typed on standard input: empty when the line is empty.
bool NextTyped(void *, std::string &word) {
  std::string line;
  if (!std::getline(std::cin, line)) return false;
  std::vector<std::string> w = SplitWords(line);
  word = w.empty() ? "" : w[0];
  return true;
}

// Parses the words of one file; *opened tells whether it could be read.
int ParseFile(Tcl_Interp *interp, const std::string &path, bool *opened, int number) {
  FILE *f = fopen(path.c_str(), "r");
  *opened = f != nullptr;
  if (!f) return TCL_OK;
  auto t0 = std::chrono::steady_clock::now();
  FileWords fw{f};
  int steps = 0;
  int rc = ParseInput(interp, NextFromFile, &fw, true, number > 0, &steps);
  fclose(f);
  if (rc == TCL_OK && State().opt.time) {
    char line[160];
    if (number > 0)
      snprintf(line, sizeof line, "\r\nParse Time(file[%d],words[%d]):\t\t%2.19f seconds\n\n\n", number, steps,
               Seconds(t0));
    else
      snprintf(line, sizeof line, "\r\nParse Time:\t\t%2.19f seconds\n", Seconds(t0));
    Write(line);
  }
  return rc;
}

// The "Again?" answer of the console dialogue: continue, and whether in
// stream mode.
bool AskAgain(bool *stream) {
  printf("\nAgain? (y|n), Stream? (y|n): ");
  fflush(stdout);
  std::string ans;
  if (!std::getline(std::cin, ans) || ans.empty() || ans[0] != 'y') return false;
  *stream = ans.size() > 1 && ans[1] == 'y';
  return true;
}

// Begins rp parse and rp search: the result, the texts and the parse state
// cleared, the per-call defaults, then the option words of the call.
int BeginCall(Tcl_Interp *interp, int ctx, int argc, const char **argv, Options &o, CallWords &cw) {
  ParserState &st = State();
  Tcl_ResetResult(interp);
  st.net->pres.clear();
  rtn::RTN_ResetParserControls(&st.ipc, st.net);
  o = st.opt;
  o.printallocs = o.logallocs = o.printmask = o.dots = o.debug = 0;
  o.prune = 2;
  o.gdebug = 10000;
  return ApplyOptions(interp, ctx, argc, argv, 2, o, cw);
}

// rp parse ?option value ...? ?string TEXT? ?file PREFIX ?test N?? ?stream N?
// Parses each input and prints its n best parses, or with "tcl 1" answers
// them (one per line).
int ParseCmd(Tcl_Interp *interp, int argc, const char **argv) {
  if (!Initialised(interp)) return TCL_ERROR;
  ParserState &st = State();
  Options o;
  CallWords cw;
  if (BeginCall(interp, CTX_PARSE, argc, argv, o, cw) != TCL_OK) return TCL_ERROR;
  st.opt = o;
  StoreInParse(o);
  st.ipc.probbeam = 1;
  st.net->fDots = (uint8_t)(o.dots != 0);
  if (o.printmask && rtn::RTN_Print(st.net, o.printmask)) {
    st.net->pres += "\rRTN_Print failure in main: " + RTN_TRAILER;
    SetResult(interp, st.net->pres);
    return TCL_ERROR;
  }
  int steps = 0;
  bool stream = cw.stream != 0;
  for (;;) {
    if (stream) {
      printf("\n--------------------------------------------------------------\n\nType in your input pressing "
             "<Enter> after each word,\nor type \"cq\" [i.e., (c)ommand (q)uit] to quit.\n\n");
      if (ParseInput(interp, NextTyped, nullptr, false, true, &steps, true) != TCL_OK) return TCL_ERROR;
      if (!AskAgain(&stream)) break;
      continue;
    }
    if (cw.haveFile) {
      if (cw.test) {
        for (int n = 1; n <= 39; n++) {
          bool opened;
          if (ParseFile(interp, cw.file + std::to_string(n) + ".txt", &opened, n) != TCL_OK) return TCL_ERROR;
          if (!opened) break;
        }
      } else {
        for (;;) {
          bool opened;
          if (ParseFile(interp, cw.file + ".txt", &opened, 0) != TCL_OK) return TCL_ERROR;
          if (!opened) {
            st.net->pres += "\rfopen failure for " + cw.file + ": in " + AtLine(RTN_TRAILER);
            SetResult(interp, st.net->pres);
            return TCL_ERROR;
          }
          printf("\nYou may change and resave the input file if you like.\nAgain? (y|n): ");
          fflush(stdout);
          int c = getchar();
          if (c != 'y') break;
          while (c != '\n' && c != EOF) c = getchar();
        }
      }
      break;
    }
    if (cw.haveString) break;
    // Console sentences.
    Write("\n\nType in your input sentence and press <Enter>.\n(... or type \"cq\" [(c)ommand (q)uit] to quit) "
          "--- READY:\n");
    std::string line;
    if (!std::getline(std::cin, line)) {
      SetResult(interp, "scanf error: file(quorlet), line(" + std::to_string(__LINE__) + ")\n" + st.net->pres);
      return TCL_ERROR;
    }
    if (line.compare(0, 2, "cq") == 0) break;
    WordList wl{SplitWords(line), 0};
    if (ParseInput(interp, NextFromList, &wl, false, true, &steps) != TCL_OK) return TCL_ERROR;
    if (!AskAgain(&stream)) break;
  }
  if (cw.haveString) {
    auto t0 = std::chrono::steady_clock::now();
    WordList wl{SplitWords(cw.string), 0};
    if (ParseInput(interp, NextFromList, &wl, false, false, &steps) != TCL_OK) return TCL_ERROR;
    if (o.time) {
      char line[128];
      snprintf(line, sizeof line, "\r\nParse Time:\t\t%2.19f seconds\n", Seconds(t0));
      Write(line);
    }
  }
  if (!o.tcl) Tcl_ResetResult(interp);
  return TCL_OK;
}

void ReleaseSearchCache();

// rp uninit
// Writes back the nets compiled in this session (NAME.rtn, NAME.net) and
// releases the grammar. A failed write is reported after everything is
// released.
int UninitCmd(Tcl_Interp *interp, int, const char **) {
  ParserState &st = State();
  if (!st.initialised) {
    SetResult(interp, "An \"rp init\" call has not yet been made for this session. Please continue.\n");
    return TCL_OK;
  }
  rtn::RTN_FreeInputParserControl(&st.ipc, st.net);
  std::string errors;
  if (rtn::ParserControl *net = st.net) {
    rtn::InternalNet *inet = net->InternalNet;
    int last = !net->fRebuild ? 1 : inet ? std::max(inet->count, 1) : 0;
    for (int i = 0; inet && i < last; i++) {
      if (i >= (int)inet->fWrite.size() || !inet->fWrite[i]) continue;
      net->pres.clear();
      if (rtn::RTN_Write(net, i)) {
        fprintf(stderr, "RTN_Write error: %s", net->pres.c_str());
        errors += "RTN_Write error: " + net->pres;
      }
    }
  }
  ReleaseAll();
  ReleaseSearchCache();
  if (st.opt.dots) Write(kCover);
  st.opt = Options();
  if (!errors.empty()) {
    SetResult(interp, errors);
    return TCL_ERROR;
  }
  Tcl_ResetResult(interp);
  return TCL_OK;
}

// rp filize FILE
// Writes one NAME.gra per net definition found in FILE.
int FilizeCmd(Tcl_Interp *interp, int argc, const char **argv) {
  if (argc < 3) {
    SetResult(interp,
              "Format error: The second argument after \"rp filize\" must be the name of a file\ncontaining the "
              "grammar tag definitions to be filized.\n");
    return TCL_ERROR;
  }
  FILE *f = fopen(argv[2], "r");
  if (!f) {
    SetResult(interp, std::string("Error: cannot open \"") + argv[2] + "\" in rp filize: " + RTN_TRAILER);
    return TCL_ERROR;
  }
  std::string text;
  char buf[65536];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
  bool bad = ferror(f);
  fclose(f);
  if (bad) {
    SetResult(interp, "Error: fread failure: file(quorlet), line(" + std::to_string(__LINE__) + ")\n");
    return TCL_ERROR;
  }
  std::string clean;
  for (size_t i = 0; i < text.size(); i++)
    if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) clean += text[i];
  GS_Result *res = GS_CreateResult();
  int rc = rtn::RTN_Filize(res, clean.c_str());
  if (rc) SetResult(interp, res->text);
  else Tcl_ResetResult(interp);
  GS_DeleteResult(res);
  return rc ? TCL_ERROR : TCL_OK;
}

// rp help
int HelpCmd(Tcl_Interp *interp, int, const char **) {
  Tcl_AppendResult(interp, "\rUnder construction. Please be patient.\n", (char *)nullptr);
  return TCL_OK;
}

// rp print WORD ?WORD ...?
// Prints the tables of the loaded grammar that the words select; words that
// select nothing are ignored. Without a word, answers the usage text.
int PrintCmd(Tcl_Interp *interp, int argc, const char **argv) {
  if (!Initialised(interp)) return TCL_ERROR;
  ParserState &st = State();
  Tcl_ResetResult(interp);
  st.net->pres.clear();
  static const struct {
    const char *word;
    int bit;
  } kWords[] = {
      {"stats", 0x2},     {"origins", 0x4},       {"symbols", 0x8},          {"nets", 0x10},
      {"tofile", 0x20},   {"contexts", 0x40},     {"terms", 0x80},           {"uppers", 0x100},
      {"lowers", 0x200},  {"origincount", 0x800}, {"localhashtable", 0x1000}, {"upperlowerhashtable", 0x2000},
      {"leftcorners", 0x4000},
  };
  if (argc < 3) {
    SetResult(interp,
              "\rFormat: rp print [nets|symbols|terms|uppers|lowers|stats|origins|origincount|contexts|memory|map|"
              "string|localhashtable|upperlowerhashtable] [tofile]\n");
    return TCL_OK;
  }
  int mask = 0x400;
  int memory = -1;  // the report's level: sizes, with addresses, with strings
  for (int i = 2; i < argc; i++) {
    for (auto &w : kWords)
      if (strcmp(argv[i], w.word) == 0) mask |= w.bit;
    if (!strcmp(argv[i], "memory")) memory = std::max(memory, 0);
    if (!strcmp(argv[i], "map")) memory = std::max(memory, 1);
    if (!strcmp(argv[i], "string")) memory = std::max(memory, 2);
  }
  if (rtn::RTN_Print(st.net, mask)) {
    st.net->pres += "\rRTN_Print failure in main: " + RTN_TRAILER;
    SetResult(interp, st.net->pres);
    return TCL_ERROR;
  }
  if (memory >= 0) {
    FILE *out = stdout;
    if (mask & 0x20) {
      out = fopen("rp_printout.txt", "a");
      if (!out) {
        st.net->pres += "\rfopen failure for rp_printout.txt in Rp_Print: " + AtLine(RTN_TRAILER);
        SetResult(interp, st.net->pres);
        return TCL_ERROR;
      }
    }
    rtn::RTN_PrintMemory(st.net, out, memory);
    if (out != stdout) fclose(out);
  }
  Tcl_ResetResult(interp);
  return TCL_OK;
}

// ---------------------------------------------------------------------------
// rp search over scored frames

// Phone labels of a label file and the terminal names they stand for.
const struct {
  const char *label, *terminal;
} kMonoPhones[] = {
    {"i:", "iy"},      {"I", "ih"},       {"E", "eh"},      {"@", "ae"},       {"I_x", "ix"},     {"u_x", "ux"},
    {"&", "ax"},       {"u", "uw"},       {"U", "uh"},      {"^", "ah"},       {"\\>", "ao"},     {">", "ao"},
    {"A", "aa"},       {">r", "or"},      {"\\3r", "er"},   {"3r", "er"},      {"&r", "axr"},     {"ei", "ey"},
    {"aI", "ay"},      {"\\>i", "oy"},    {">i", "oy"},     {"aU", "aw"},      {"oU", "ow"},      {"ph", "p"},
    {"th", "t"},       {"kh", "k"},       {"b", "b"},       {"d", "d"},        {"g", "g"},        {"m", "m"},
    {"n", "n"},        {"N", "ng"},       {"th_(", "dx"},   {"th_\\(", "dx"},  {"d_(", "dx"},     {"d_\\(", "dx"},
    {"d(", "dx"},      {"d\\(", "dx"},    {"f", "f"},       {"T", "th"},       {"s", "s"},        {"S", "sh"},
    {"h", "hh"},       {"v", "v"},        {"D", "dh"},      {"z", "z"},        {"Z", "zh"},       {"tS", "ch"},
    {"dZ", "jh"},      {"l", "l"},        {"\\9r", "r"},    {"9r", "r"},       {"j", "y"},        {"w", "w"},
    {"m=", "em"},      {"n=", "en"},      {"N=", "eng"},    {"l=", "el"},      {"pc", "pcl"},     {"tc", "tcl"},
    {"kc", "kcl"},     {"bc", "bcl"},     {"dc", "dcl"},    {"gc", "gcl"},     {"tSc", "chcl"},   {"dZc", "jhcl"},
    {"ks", "ks"},      {".pau", "pau"},   {".unk", "unk"},
};

// What searches keep between calls: the tables of the stem last read.
struct SearchCache {
  bool valid = false;
  std::string stem;
  std::vector<std::string> labels;  // per category the terminal name; "any" after the last
  bool havePriors = false;
  std::vector<float> priors;
  int priorRows = 0, priorCols = 0;
  void Release() { *this = SearchCache(); }
};
SearchCache &Cache() {
  static SearchCache *c = new SearchCache();
  return *c;
}
void ReleaseSearchCache() { Cache().Release(); }

// Ranked values at or below this are "no evidence": scores that are not
// positive, not finite or not a number rank last here.
const double kScoreFloor = -1000.0;

// A field of an object file, which must hold the type named.
CntrObj *ReadField(std::string &why, const std::string &path, const char *field, const char *type) {
  GS_Result *r = GS_CreateResult();
  CntrFile *f = Cntr_ObjFOpen(r, path.c_str(), 0);
  CntrObj *o = f ? Cntr_ObjFRead(r, f, field) : nullptr;
  if (f) Cntr_ObjFClose(nullptr, f);
  if (!o) why = std::string(r->text ? r->text : "") + "\n";
  GS_DeleteResult(r);
  if (o && strcmp(Cntr_Name(o->type), type) != 0) {
    why = "Error: field \"" + std::string(field) + "\" of " + path + " is a " + Cntr_Name(o->type) + ", not an " +
          type + "\n";
    Cntr_ObjDestroy(nullptr, o);
    return nullptr;
  }
  return o;
}

bool FileExists(const std::string &path) {
  FILE *f = fopen(path.c_str(), "rb");
  if (f) fclose(f);
  return f != nullptr;
}

// Builds the cache from STEM.aprior (optional) and STEM.rr.
bool LoadStem(std::string &why, const std::string &stem) {
  SearchCache &c = Cache();
  c.Release();
  if (FileExists(stem + ".aprior")) {
    CntrObj *o = ReadField(why, stem + ".aprior", "aprior", "arrayF");
    if (!o) return false;
    const ArrayRecord *a = static_cast<const ArrayRecord *>(o->data);
    c.havePriors = true;
    c.priorRows = Array_rows(a), c.priorCols = Array_cols(a);
    c.priors.assign(a->data, a->data + a->count);
    Cntr_ObjDestroy(nullptr, o);
  }
  CntrObj *o = ReadField(why, stem + ".rr", "__rr__", "hmm/description");
  if (!o) return false;
  const HmmDescription *d = static_cast<const HmmDescription *>(o->data);
  for (int32_t i = 0; i < d->numEntries; i++) {
    const DescriptionEntry &e = d->entries[i];
    // The label sits between the stored text's first character and its
    // size - 2; the text itself bounds it.
    std::string spec = e.modelSpec ? e.modelSpec : "";
    size_t end = e.modelSpecSize >= 3 ? std::min<size_t>(e.modelSpecSize - 2, spec.size()) : 0;
    std::string label = end > 1 ? spec.substr(1, end - 1) : std::string();
    if (label == ".garbage") continue;
    const char *terminal = nullptr;
    for (auto &m : kMonoPhones)
      if (label == m.label) terminal = m.terminal;
    if (!terminal) {
      why = "\rError: unknown mono-phone(" + label + ") in rr file.";
      Cntr_ObjDestroy(nullptr, o);
      c.Release();
      return false;
    }
    c.labels.push_back(terminal);
  }
  c.labels.push_back("any");
  Cntr_ObjDestroy(nullptr, o);
  printf("\n");
  fflush(stdout);
  c.stem = stem;
  c.valid = true;
  return true;
}

// The S best of the K values into order[0..S), best first; equal values keep
// the order of their categories. A few slots are filled by insertion, which
// beats a heap for the usual beams of one to a handful of labels.
void BestOf(const std::vector<double> &value, int S, std::vector<int> &order) {
  const int K = (int)value.size();
  if (S > 4) {
    for (int k = 0; k < K; k++) order[k] = k;
    std::partial_sort(order.begin(), order.begin() + S, order.end(), [&](int a, int b) {
      return value[a] > value[b] || (value[a] == value[b] && a < b);
    });
    return;
  }
  int n = 0;
  for (int k = 0; k < K; k++) {
    const double v = value[k];
    if (n == S && !(v > value[order[S - 1]])) continue;
    int j = n < S ? n++ : S - 1;
    for (; j > 0 && v > value[order[j - 1]]; j--) order[j] = order[j - 1];
    order[j] = k;
  }
}

// rp search obfile F ?nnetfilestem STEM? ?option value ...?
// Ranks every frame's phone categories, hands the best to the parse step as
// the labels of one position and answers as rp parse does; with
// printsearchbeam, writes the ranked beam of every frame to F.beam instead.
int SearchCmd(Tcl_Interp *interp, int argc, const char **argv) {
  ParserState &st = State();
  if (!st.initialised) {
    SetResult(interp, "Error: \"rp init\" must be called before this function can be called.\n");
    return TCL_ERROR;
  }
  Options o;
  CallWords cw;
  if (BeginCall(interp, CTX_SEARCH, argc, argv, o, cw) != TCL_OK) return TCL_ERROR;
  const auto started = std::chrono::steady_clock::now();
  if (!cw.haveObfile) {
    SetResult(interp, "\rFormat: rp search obfile filename.ob [probbeam #][etc.]\n");
    return TCL_ERROR;
  }
  if (cw.haveLookback && o.lookback != 0)
    Write("NOTE: During the rp search routine \"lookback\" is ignored (i.e., required to be 0).\n");
  o.lookback = 0;
  st.opt = o;
  StoreInParse(o);
  st.net->fDots = (uint8_t)(o.dots != 0);
  // Every failure below releases the cache with its stem, and what was read.
  CntrObj *frames = nullptr;
  auto fail = [&](std::string text) {  // a copy: the reset below clears pres
    if (frames) Cntr_ObjDestroy(nullptr, frames);
    Cache().Release();
    rtn::RTN_ResetParserControls(&st.ipc, st.net);
    SetResult(interp, text);
    return TCL_ERROR;
  };
  std::string why;
  frames = ReadField(why, cw.obfile, "wg", "arrayF");
  if (!frames) return fail(st.net->pres + why);
  const ArrayRecord *wg = static_cast<const ArrayRecord *>(frames->data);
  if (wg->ndims != 2) return fail("Error: the frames of " + cw.obfile + " are not a matrix\n");
  if (cw.haveStem && (!Cache().valid || Cache().stem != cw.stem) && !LoadStem(why, cw.stem))
    return fail(st.net->pres + why);
  SearchCache &c = Cache();
  if (!c.valid) return fail("Error: no label table: give nnetfilestem\n");
  const int nFrames = wg->dims[0], K = wg->dims[1];
  const int S = cw.haveProbbeam ? (o.probbeam == 1 ? 1 : o.probbeam + 1) : std::max<int>(1, st.ipc.probbeam);
  if (K > (int)c.labels.size())
    return fail("Error: " + std::to_string(K) + " categories in " + cw.obfile + " but " +
                std::to_string(c.labels.size()) + " labels in " + c.stem + ".rr\n");
  if (S > K)
    return fail("Error: probbeam gives " + std::to_string(S) + " labels a frame, more than the " + std::to_string(K) +
                " categories of " + cw.obfile + "\n");
  if (S != st.ipc.probbeam && rtn::RTN_ResetProbBeam(st.net, &st.ipc, (int8_t)S)) return fail(st.net->pres);
  std::vector<double> recip;
  if (c.havePriors) {
    if (c.priorRows != 1 || c.priorCols != K - 1) {
      // The tables stay; what this call read goes.
      Cntr_ObjDestroy(nullptr, frames);
      SetResult(interp, "Error in size of gPrior array.");
      return TCL_ERROR;
    }
    double sum = 0;
    for (float p : c.priors) {
      if (!(p > 0) || !std::isfinite(p)) return fail("Error: a prior of " + c.stem + ".aprior is not positive\n");
      recip.push_back(1.0 / p);
      sum += p;
    }
    recip.push_back((K - 2) / sum);
  }
  // Per frame the S best categories and their ranked values.
  std::vector<int> best((size_t)nFrames * S);
  std::vector<double> ranked((size_t)nFrames * S);
  std::vector<int> order(K);
  std::vector<double> value(K);
  // Categories are ordered by their score (value / prior, or the value),
  // which orders them as their logarithms do; only the S best are sorted
  // and only theirs are taken. Scores that are no evidence sort last.
  for (int f = 0; f < nFrames; f++) {
    const float *row = wg->rows[f];
    double total = 0;
    for (int k = 0; k < K; k++) {
      double v = c.havePriors ? row[k] * recip[k] : row[k];
      value[k] = v > 0 && std::isfinite(v) ? v : -1;
      if (value[k] > 0) total += value[k];
    }
    BestOf(value, S, order);
    const bool useTotal = c.havePriors && total > 0 && std::isfinite(total);
    for (int s = 0; s < S; s++) {
      double v = value[order[s]];
      double lv = v > 0 && (useTotal || !c.havePriors) ? std::log(useTotal ? v / total : v) : kScoreFloor;
      best[(size_t)f * S + s] = order[s];
      ranked[(size_t)f * S + s] = std::max(lv, kScoreFloor);
    }
  }
  Cntr_ObjDestroy(nullptr, frames);
  frames = nullptr;
  if (cw.printsearchbeam) {
    std::string path = cw.obfile + ".beam";
    FILE *out = fopen(path.c_str(), "w");
    if (!out) return fail("Error: cannot create " + path + "\n");
    for (int f = 0; f < nFrames; f++) {
      fprintf(out, "%d.\t", f);
      for (int s = 0; s < S; s++)
        fprintf(out, "% 10.5f %-6s ", ranked[(size_t)f * S + s], c.labels[best[(size_t)f * S + s]].c_str());
      fprintf(out, "\n");
    }
    bool bad = ferror(out) != 0;
    if (fclose(out) != 0 || bad) return fail("Error: cannot write " + path + "\n");
    rtn::RTN_ResetParserControls(&st.ipc, st.net);
    Tcl_ResetResult(interp);
    return TCL_OK;
  }
  std::vector<const char *> all(c.labels.size());
  for (size_t i = 0; i < c.labels.size(); i++) all[i] = c.labels[i].c_str();
  int32_t index = 0, count = S;
  if (rtn::RTN_GetPossibilities(st.net, &index, &count, all.data(), nullptr, &st.ipc)) return fail(st.net->pres);
  std::vector<const char *> slot(S);
  for (int f = 0; f < nFrames;) {
    if (st.ipc.fFinished) st.ipc.fFinished = 0;
    for (int s = 0; s < S; s++) slot[s] = c.labels[best[(size_t)f * S + s]].c_str();
    index = f + 1;
    count = S;
    if (rtn::RTN_GetPossibilities(st.net, &index, &count, slot.data(), nullptr, &st.ipc)) return fail(st.net->pres);
    f = index;
  }
  if (o.dots) Write("\n\n");
  if (rtn::RTN_PrintFinished(st.net, &st.ipc, o.tcl))
    return fail(st.net->pres + "RTN_PrintFinished error: " + RTN_TRAILER);
  if (o.tcl) SetResult(interp, st.net->pres);
  else Tcl_ResetResult(interp);
  if (o.time) {
    char line[128];
    snprintf(line, sizeof line, "\r\nParse Time:\t\t%2.19f seconds\n", Seconds(started));
    Write(line);
  }
  rtn::RTN_ResetParserControls(&st.ipc, st.net);
  return TCL_OK;
}

typedef int (*SubCmd)(Tcl_Interp *, int, const char **);

// Interpreters of several threads share the one parser: one sub-command runs
// at a time.
template <SubCmd F>
int Locked(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
  std::lock_guard<std::mutex> lock(gMutex);
  return F(interp, argc, argv);
}

const SubCmdEntry kSubs[] = {
    {"init", Locked<InitCmd>},     {"parse", Locked<ParseCmd>},   {"uninit", Locked<UninitCmd>},
    {"filize", Locked<FilizeCmd>}, {"search", Locked<SearchCmd>}, {"help", Locked<HelpCmd>},
    {"print", Locked<PrintCmd>},   {nullptr, nullptr},
};
// Safe interpreters get no sub-command that reads or writes files.
const SubCmdEntry kSafeSubs[] = {{"help", Locked<HelpCmd>}, {nullptr, nullptr}};

int Init(Tcl_Interp *interp, bool safe) {
  if (Tcl_InitStubs(interp, "8.6", 0) == nullptr) return TCL_ERROR;
  int code = Tcl_PkgProvide(interp, "Quorlet", "1.0");
  if (code != TCL_OK) return code;
  rtn::RTN_RegisterTypes();
  rtn::GDPC_SetDotWriter(ChannelWriter);
  rtn::RTN_SetChannelWriter(ChannelWriter);
  Cmds_CreateSwitchCmd(interp, "rp", nullptr, nullptr);
  Cmds_CreateSubCmds(interp, "rp", safe ? kSafeSubs : kSubs);
  return Obj_Init(interp);
}

}  // namespace

extern "C" {
int Quorlet_Init(Tcl_Interp *interp) { return Init(interp, false); }
int Quorlet_SafeInit(Tcl_Interp *interp) { return Init(interp, true); }
}
