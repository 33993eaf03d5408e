// The "Quorlet" package: the rp command over the process-wide robust parser.
//
// One grammar is loaded per process; every interpreter shares it. Option
// words carry no dash and take their value from the next word.
#include <tcl.h>

#include <chrono>
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
#include "obj.h"
#include "rtn.h"


namespace {

struct Options {
  int printallocs = 0, logallocs = 0, printmask = 0, dots = 0;
  double probfactor = 2.0;
  int prolog = 0, prettyprint = 0, showoog = 0, prune = 2, probbeam = 1, lookback = -1;
  int beam = 0, framewindow = 255, nbest = 1, maxfi = 1, canonical = 0, tail = 0, hide = 0;
  int time = 0, input = 0, score = 0, transcript = 0, tcl = 0, debug = 0, gdebug = 10000;
  int rebuild = 1, upper = 1;
  std::string containerPath;
};

struct ParserState {
  bool initialised = false;
  rtn::Grammar grammar;
  std::unique_ptr<rtn::Parser> parser;
  Options opt;
  std::string base;
  Tcl_Channel out = nullptr;
};

ParserState gState;
std::mutex gMutex;  // interpreters of several threads share the one parser

enum { CTX_INIT = 1, CTX_PARSE = 2 };
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
    {"probbeam", V_INT, CTX_INIT, 1, 126},
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
    {"gdebug", V_INT, CTX_PARSE, -128, 127},
    {"rebuild", V_INT, CTX_INIT, -128, 127},
    {"upper", V_INT, CTX_INIT | CTX_PARSE, -128, 127},
    {"lower", V_INT, CTX_INIT | CTX_PARSE, -128, 127},
    {"containerPath", V_TEXT, CTX_INIT | CTX_PARSE, 0, 0},
    {"file", V_TEXT, CTX_PARSE, 0, 0},
    {"test", V_INT, CTX_PARSE, -128, 127},
    {"string", V_TEXT, CTX_PARSE, 0, 0},
};

// What one call names besides the stored options.
struct CallWords {
  int stream = 0, test = 0;
  bool haveFile = false, haveString = false, haveContainerPath = false;
  std::string file, string;
};

void Store(Options &o, CallWords &cw, const std::string &name, int iv, double dv,
           const std::string &tv) {
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
  else if (name == "probbeam") o.probbeam = iv;
  else if (name == "lookback") o.lookback = iv;
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
}

// Applies the option words argv[first..]. Unknown words are skipped one at a
// time, so a value after one is examined as a word in its turn.
int ApplyOptions(Tcl_Interp *interp, int ctx, int argc, const char **argv, int first,
                 Options &o, CallWords &cw) {
  for (int i = first; i < argc; i++) {
    const OptionWord *w = nullptr;
    for (auto &k : kOptions)
      if ((k.contexts & ctx) && strcmp(argv[i], k.name) == 0) w = &k;
    if (!w) continue;
    if (!strcmp(w->name, "test") && !cw.haveFile) continue;  // only after "file"
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
          Tcl_SetObjResult(interp, Tcl_ObjPrintf("bad value for %s: \"%s\" (must be %d to %d)",
                                                 w->name, v, w->lo, w->hi));
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

rtn::ParseOptions ToParse(const Options &o) {
  rtn::ParseOptions p;
  p.prune = o.prune;
  p.nbest = o.nbest;
  p.maxfi = o.maxfi;
  p.framewindow = o.framewindow;
  p.lookback = o.lookback;
  p.upper = o.upper;
  p.canonical = o.canonical;
  p.tail = o.tail;
  p.hide = o.hide;
  p.transcript = o.transcript;
  p.showoog = o.showoog;
  p.prolog = o.prolog;
  p.prettyprint = o.prettyprint;
  p.score = o.score;
  p.input = o.input;
  p.debug = o.debug;
  p.printallocs = o.printallocs;
  p.logallocs = o.logallocs;
  return p;
}

void Write(const std::string &s) {
  if (gState.out && !s.empty()) {
    Tcl_Write(gState.out, s.data(), (int)s.size());
    Tcl_Flush(gState.out);
  }
}

const char kCover[] = "\r\t\t\t\t\t\t\t\t\t\t\r";

double Seconds(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

// Prints the tables the mask selects to standard output, or with bit 0x20
// to "fromtable.txt" (replacing it).
int PrintNets(Tcl_Interp *interp, int mask) {
  std::string text, res;
  rtn::RTN_Print(gState.grammar, mask, text, res);
  if ((mask & 0x20) == 0) {
    Write(text);
    return TCL_OK;
  }
  FILE *f = fopen("fromtable.txt", "w");
  bool ok = f && fwrite(text.data(), 1, text.size(), f) == text.size();
  if (f) ok = fclose(f) == 0 && ok;
  if (!ok) {
    std::string t = RTN_TRAILER;
    std::string m = "fopen failure for fromtable.txt in RTN_Print: " +
                    t.replace(t.find(") line("), 7, ") at line(") + "\rRTN_Print failure in main: " +
                    RTN_TRAILER;
    Tcl_SetObjResult(interp, Tcl_NewStringObj(m.c_str(), -1));
    return TCL_ERROR;
  }
  return TCL_OK;
}

// ---------------------------------------------------------------------------

// rp init NAME.gra|NAME.frm ?option value ...?
// Compiles the grammar NAME (or loads its current compiled files) and makes
// it the parser's grammar. Empty result.
int InitCmd(Tcl_Interp *interp, int argc, const char **argv) {
  if (gState.initialised) {
    Tcl_SetResult(interp,
                  (char *)"\"rp init\" call has already been made for this session. Please continue.\n",
                  TCL_STATIC);
    return TCL_OK;
  }
  if (argc < 3) {
    Tcl_SetResult(interp,
                  (char *)"Format error: The first argument after \"rp init\" must specify a "
                          "top-level input grammar definition file\n(with extension \".gra\"), "
                          "followed by any appropriate flags.\n",
                  TCL_STATIC);
    return TCL_ERROR;
  }
  std::string name = argv[2];
  std::string ext = name.size() >= 4 ? name.substr(name.size() - 4) : "";
  if (ext != ".gra" && ext != ".frm") {
    Tcl_SetResult(interp,
                  (char *)"Format error: The first argument must specify a top-level input "
                          "grammar definition file\nwhose extension is either \".gra\" or "
                          "\".frm\" (i.e., net or form definition files respectively).\n",
                  TCL_STATIC);
    return TCL_ERROR;
  }
  Options o;
  CallWords cw;
  if (ApplyOptions(interp, CTX_INIT, argc, argv, 3, o, cw) != TCL_OK) return TCL_ERROR;
  if (!cw.haveContainerPath) {
    const char *prefix = getenv("TOVIK_EXEC_PREFIX");
    o.containerPath = std::string(prefix ? prefix : ".") + "/containers";
  }
  // The container types are compiled in; the path is kept for the library.
  Cntr_PathSet(o.containerPath.c_str(), 0);
  auto t0 = std::chrono::steady_clock::now();
  gState.out = Tcl_GetChannel(interp, "stdout", nullptr);
  if (o.printallocs || o.logallocs) {
    FILE *f = fopen("allocLog.txt", "w");
    if (!f) {
      Tcl_SetObjResult(interp, Tcl_ObjPrintf("Error: fopen failure for allocLog.txt in Rp_init: %s",
                                             RTN_TRAILER.c_str()));
      return TCL_ERROR;
    }
    fclose(f);
  }
  // The path may name a directory; nets are looked up beside the top grammar.
  std::string base = name.substr(0, name.size() - 4);
  std::string dir;
  size_t slash = base.find_last_of('/');
  if (slash != std::string::npos) {
    dir = base.substr(0, slash + 1);
    base = base.substr(slash + 1);
  }
  rtn::CompileOptions co;
  co.readStatus = o.rebuild ? rtn::RS_RTN : rtn::RS_NET;
  co.rebuild = o.rebuild != 0;
  co.dir = dir;
  co.alloc.print = o.printallocs != 0;
  co.alloc.log = o.logallocs != 0;
  co.alloc.out = Write;
  co.dots = o.dots != 0;
  co.dotsOut = Write;
  std::string res;
  rtn::Grammar g;
  if (rtn::RTN_Create(g, base, co, res)) {
    Tcl_SetObjResult(interp, Tcl_NewStringObj(res.c_str(), -1));
    return TCL_ERROR;
  }
  gState.grammar = std::move(g);
  gState.base = dir + base;
  if (o.time) {
    double s = Seconds(t0);
    int minutes = (int)s / 60;
    char buf[256];
    snprintf(buf, sizeof buf, "\rCompilation Time for %s: %d %s %2.19f seconds\n", base.c_str(),
             minutes, minutes == 1 ? "minute" : "minutes", s - 60.0 * minutes);
    Write(buf);
  } else {
    Write(kCover);
  }
  if (o.printmask && PrintNets(interp, o.printmask) != TCL_OK) {
    gState.grammar = rtn::Grammar();
    return TCL_ERROR;
  }
  gState.parser.reset(new rtn::Parser(gState.grammar));
  gState.parser->SetAllocOutput(Write);
  gState.opt = o;
  gState.initialised = true;
  Tcl_ResetResult(interp);
  return TCL_OK;
}

// Prints the n best texts of the input just parsed (with tcl, collects them
// in `text` and makes them the result), then the input trailer. Nothing at
// all when nothing finished.
void Emit(Tcl_Interp *interp, const rtn::Parser &p, const std::vector<std::string> &best,
          std::string &text) {
  const Options &o = gState.opt;
  text.clear();
  if (best.empty()) {
    if (o.tcl) Tcl_ResetResult(interp);
    return;
  }
  for (size_t i = 0; i < best.size(); i++) {
    if (o.tcl) text += (i ? "\n" : "") + best[i];
    else Write(o.prettyprint ? best[i] : best[i] + "\n\n");
  }
  if (o.input) {
    // A matched word shows the side of its first terminal, an unmatched
    // one as it came.
    const rtn::Grammar &g = gState.grammar;
    std::string in = "\n\nInput[0]: ";
    for (size_t i = 0; i < p.Words().size(); i++) {
      const std::string &w = p.Words()[i];
      if (!p.Matched()[i]) {
        in += w + " ";
        continue;
      }
      int t = g.FirstBySide(o.upper != 0, w);
      if (t < 0) t = g.FindTerminal(w);
      std::string shown = t < 0 ? w : o.upper ? g.Upper(t) : g.Lower(t);
      in += "[" + shown + "] ";
    }
    char tail[96];
    snprintf(tail, sizeof tail, "\nNBest(%d) Number of finished path(s) printed: %zu\n\n", o.nbest,
             best.size());
    Write(in + tail);
  }
  Write("\n");
  if (o.tcl) Tcl_SetObjResult(interp, Tcl_NewStringObj(text.c_str(), -1));
}

// Parses one input given as words; leaves the n-best text in `text` (tcl) or
// writes it to the stdout channel.
int ParseWords(Tcl_Interp *interp, const std::vector<std::string> &words, std::string &text,
               bool console = false) {
  Options &o = gState.opt;
  rtn::ParseOptions po = ToParse(o);
  rtn::Parser &p = *gState.parser;
  p.Reset();
  std::string res;
  int step = 0;
  for (auto &w : words) {
    if (w == "cq") break;
    step++;
    if (o.beam && step <= o.beam && o.beam <= step + 6) Write("Processing Beam (" + w + "\n");
    if (o.dots) Write(w + " ");
    if (p.Word(w, po, res)) {
      Tcl_SetObjResult(interp, Tcl_NewStringObj(res.c_str(), -1));
      return TCL_ERROR;
    }
  }
  if (o.dots) Write("\n\n");
  std::vector<std::string> best;
  if (p.Finished(po, best, res)) {
    res += std::string(console ? "\r" : "") + "RTN_PrintFinished error: " + RTN_TRAILER;
    Tcl_SetObjResult(interp, Tcl_NewStringObj(res.c_str(), -1));
    return TCL_ERROR;
  }
  Emit(interp, p, best, text);
  return TCL_OK;
}

std::vector<std::string> SplitWords(const std::string &s) {
  std::istringstream in(s);
  std::vector<std::string> w;
  std::string x;
  while (in >> x) w.push_back(x);
  return w;
}

int ReadAnswer() {
  int c = getchar();
  return c;
}

// Parses the words of one file. `number` > 0 names a numbered test file,
// which has its own timing line.
int ParseFile(Tcl_Interp *interp, const std::string &path, std::string &text, bool *opened,
              int number = 0) {
  FILE *f = fopen(path.c_str(), "r");
  *opened = f != nullptr;
  if (!f) return TCL_OK;
  std::string all;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, f)) > 0) all.append(buf, n);
  fclose(f);
  auto t0 = std::chrono::steady_clock::now();
  std::vector<std::string> words = SplitWords(all);
  int rc = ParseWords(interp, words, text, number > 0);
  if (rc == TCL_OK && gState.opt.time) {
    char line[160];
    if (number > 0) {
      // The step count: the set-up step and one per word up to an end word.
      size_t steps = 1;
      while (steps - 1 < words.size() && words[steps - 1] != "cq") steps++;
      snprintf(line, sizeof line, "\r\nParse Time(file[%d],words[%zu]):\t\t%2.19f seconds\n\n\n",
               number, steps, Seconds(t0));
    } else {
      snprintf(line, sizeof line, "\r\nParse Time:\t\t%2.19f seconds\n", Seconds(t0));
    }
    Write(line);
  }
  return rc;
}

// rp parse ?option value ...? ?string TEXT? ?file PREFIX ?test N?? ?stream N?
// Parses each input and prints its n best parses, or with "tcl 1" answers
// them (one per line).
int ParseCmd(Tcl_Interp *interp, int argc, const char **argv) {
  if (!gState.initialised) {
    Tcl_SetResult(interp, (char *)"Error: \"rp init\" must be called before this function can be called.",
                  TCL_STATIC);
    return TCL_ERROR;
  }
  Tcl_ResetResult(interp);
  Options o = gState.opt;
  // Per-call defaults.
  o.printallocs = o.logallocs = o.printmask = o.dots = o.debug = 0;
  o.prune = 2;
  o.gdebug = 10000;
  CallWords cw;
  if (ApplyOptions(interp, CTX_PARSE, argc, argv, 2, o, cw) != TCL_OK) return TCL_ERROR;
  if (cw.haveContainerPath) {
    Tcl_SetResult(interp, (char *)"Error: containerPath can only be used with \"rp init.\"\n",
                  TCL_STATIC);
    return TCL_ERROR;
  }
  gState.opt = o;
  if (o.printmask && PrintNets(interp, o.printmask) != TCL_OK) return TCL_ERROR;
  std::string text;
  for (;;) {
    if (cw.stream) {
      printf("\n--------------------------------------------------------------\n\n"
             "Type in your input pressing <Enter> after each word,\n"
             "or type \"cq\" [i.e., (c)ommand (q)uit] to quit.\n\n");
      rtn::ParseOptions po = ToParse(o);
      rtn::Parser &p = *gState.parser;
      p.Reset();
      std::string res;
      for (int step = 0;; step++) {
        std::vector<std::string> exp = p.Expectations(po);
        if (exp.empty()) {
          std::string m = "\rError: an empty prediction set has been encountered in "
                          "RTN_PrintFinished: " + RTN_TRAILER;
          Tcl_SetObjResult(interp, Tcl_NewStringObj(m.c_str(), -1));
          return TCL_ERROR;
        }
        printf("%sExpectations:\n", step ? "\n" : "");
        for (size_t i = 0; i < exp.size(); i++)
          printf("%s%s", exp[i].c_str(), i + 1 < exp.size() ? " " : "");
        printf("\n\nInput: ");
        fflush(stdout);
        std::string w;
        // An empty line is an empty word, which nothing matches.
        if (!std::getline(std::cin, w)) break;
        w = SplitWords(w).empty() ? "" : SplitWords(w)[0];
        if (w == "cq") break;
        if (p.Word(w, po, res)) {
          Tcl_SetObjResult(interp, Tcl_NewStringObj(res.c_str(), -1));
          return TCL_ERROR;
        }
      }
      std::vector<std::string> best;
      if (p.Finished(po, best, res)) {
        res += "\rRTN_PrintFinished error: " + RTN_TRAILER;
        Tcl_SetObjResult(interp, Tcl_NewStringObj(res.c_str(), -1));
        return TCL_ERROR;
      }
      Emit(interp, p, best, text);
      printf("\nAgain? (y|n), Stream? (y|n): ");
      fflush(stdout);
      std::string ans;
      if (!std::getline(std::cin, ans) || ans.empty() || ans[0] != 'y') break;
      cw.stream = ans.size() > 1 && ans[1] == 'y';
      continue;
    }
    if (cw.haveFile) {
      if (cw.test) {
        for (int n = 1; n <= 39; n++) {
          bool opened;
          std::string path = cw.file + std::to_string(n) + ".txt";
          if (ParseFile(interp, path, text, &opened, n) != TCL_OK) return TCL_ERROR;
          if (!opened) break;
        }
      } else {
        for (;;) {
          bool opened;
          if (ParseFile(interp, cw.file + ".txt", text, &opened) != TCL_OK) return TCL_ERROR;
          if (!opened) {
            std::string t = RTN_TRAILER;
            std::string m = "\rfopen failure for " + cw.file + ": in " +
                            t.replace(t.find(") line("), 7, ") at line(");
            Tcl_SetObjResult(interp, Tcl_NewStringObj(m.c_str(), -1));
            return TCL_ERROR;
          }
          printf("\nYou may change and resave the input file if you like.\nAgain? (y|n): ");
          fflush(stdout);
          int c = ReadAnswer();
          if (c != 'y') break;
          while (c != '\n' && c != EOF) c = getchar();
        }
      }
      break;
    }
    if (cw.haveString) break;
    // Console sentences.
    Write("\n\nType in your input sentence and press <Enter>.\n(... or type \"cq\" "
          "[(c)ommand (q)uit] to quit) --- READY:\n");
    std::string line;
    if (!std::getline(std::cin, line)) {
      std::string m = "scanf error: file(quorlet), line(" + std::to_string(__LINE__) + ")\n";
      Tcl_SetObjResult(interp, Tcl_NewStringObj(m.c_str(), -1));
      return TCL_ERROR;
    }
    if (line.compare(0, 2, "cq") == 0) break;
    if (ParseWords(interp, SplitWords(line), text, true) != TCL_OK) return TCL_ERROR;
    printf("\nAgain? (y|n), Stream? (y|n): ");
    fflush(stdout);
    std::string ans;
    if (!std::getline(std::cin, ans) || ans.empty() || ans[0] != 'y') break;
    cw.stream = ans.size() > 1 && ans[1] == 'y';
  }
  if (cw.haveString) {
    auto t0 = std::chrono::steady_clock::now();
    if (ParseWords(interp, SplitWords(cw.string), text) != TCL_OK) return TCL_ERROR;
    if (o.time) {
      char line[128];
      snprintf(line, sizeof line, "\r\nParse Time:\t\t%2.19f seconds\n", Seconds(t0));
      Write(line);
    }
  }
  if (o.tcl) Tcl_SetObjResult(interp, Tcl_NewStringObj(text.c_str(), -1));
  else Tcl_ResetResult(interp);
  return TCL_OK;
}

// rp uninit
// Writes back the nets compiled in this session (NAME.rtn, NAME.net) and
// releases the grammar. A failed write is reported after everything is
// released.
int UninitCmd(Tcl_Interp *interp, int argc, const char **argv) {
  if (!gState.initialised) {
    Tcl_SetResult(interp,
                  (char *)"An \"rp init\" call has not yet been made for this session. Please continue.\n",
                  TCL_STATIC);
    return TCL_OK;
  }
  std::string errors;
  const rtn::Grammar &g = gState.grammar;
  std::string dir;
  size_t slash = gState.base.find_last_of('/');
  if (slash != std::string::npos) dir = gState.base.substr(0, slash + 1);
  for (size_t i = 0; i < g.nets.size(); i++) {
    if (!g.nets[i].fWrite) continue;
    if (!gState.opt.rebuild && i != 0) continue;
    std::string res;
    if (rtn::RTN_Write(g, (int)i, dir, res)) errors += "RTN_Write error: " + res;
  }
  if (gState.opt.dots) Write(kCover);
  gState.parser.reset();
  gState.grammar = rtn::Grammar();
  gState.initialised = false;
  gState.opt = Options();
  if (!errors.empty()) {
    Tcl_SetObjResult(interp, Tcl_NewStringObj(errors.c_str(), -1));
    return TCL_ERROR;
  }
  Tcl_ResetResult(interp);
  return TCL_OK;
}

// rp filize FILE
// Writes one NAME.gra per net definition found in FILE.
int FilizeCmd(Tcl_Interp *interp, int argc, const char **argv) {
  if (argc < 3) {
    Tcl_SetResult(interp,
                  (char *)"Format error: The second argument after \"rp filize\" must be the "
                          "name of a file\ncontaining the grammar tag definitions to be filized.\n",
                  TCL_STATIC);
    return TCL_ERROR;
  }
  FILE *f = fopen(argv[2], "r");
  if (!f) {
    Tcl_SetObjResult(interp, Tcl_ObjPrintf("Error: cannot open \"%s\" in rp filize: %s", argv[2],
                                           RTN_TRAILER.c_str()));
    return TCL_ERROR;
  }
  std::string text;
  char buf[65536];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
  bool bad = ferror(f);
  fclose(f);
  if (bad) {
    Tcl_SetObjResult(interp, Tcl_ObjPrintf("Error: fread failure: %s", RTN_TRAILER.c_str()));
    return TCL_ERROR;
  }
  std::string clean;
  for (size_t i = 0; i < text.size(); i++)
    if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) clean += text[i];
  std::string res;
  if (rtn::RTN_Filize(res, clean)) {
    Tcl_SetObjResult(interp, Tcl_NewStringObj(res.c_str(), -1));
    return TCL_ERROR;
  }
  Tcl_ResetResult(interp);
  return TCL_OK;
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
  if (!gState.initialised) {
    Tcl_SetResult(interp, (char *)"Error: \"rp init\" must be called before this function can be called.",
                  TCL_STATIC);
    return TCL_ERROR;
  }
  static const struct { const char *word; int bit; } kWords[] = {
      {"stats", 0x2},    {"origins", 0x4},     {"symbols", 0x8},          {"nets", 0x10},
      {"tofile", 0x20},  {"contexts", 0x40},   {"terms", 0x80},           {"uppers", 0x100},
      {"lowers", 0x200}, {"origincount", 0x800}, {"localhashtable", 0x1000},
      {"upperlowerhashtable", 0x2000}, {"leftcorners", 0x4000},
  };
  if (argc < 3) {
    Tcl_SetResult(interp,
                  (char *)"\rFormat: rp print [nets|symbols|terms|uppers|lowers|stats|origins|"
                          "origincount|contexts|memory|map|string|localhashtable|"
                          "upperlowerhashtable] [tofile]\n",
                  TCL_STATIC);
    return TCL_OK;
  }
  int mask = 0x400;
  for (int i = 2; i < argc; i++)
    for (auto &w : kWords)
      if (strcmp(argv[i], w.word) == 0) mask |= w.bit;
  if (PrintNets(interp, mask) != TCL_OK) return TCL_ERROR;
  Tcl_ResetResult(interp);
  return TCL_OK;
}

// rp search obfile F ...: frame search is not part of this build.
int SearchCmd(Tcl_Interp *interp, int, const char **) {
  if (!gState.initialised) {
    Tcl_SetResult(interp, (char *)"Error: \"rp init\" must be called before this function can be called.",
                  TCL_STATIC);
    return TCL_ERROR;
  }
  Tcl_SetResult(interp, (char *)"Error: rp search is not available in this build", TCL_STATIC);
  return TCL_ERROR;
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
  Cmds_CreateSwitchCmd(interp, "rp", nullptr, nullptr);
  Cmds_CreateSubCmds(interp, "rp", safe ? kSafeSubs : kSubs);
  return Obj_Init(interp);
}

}  // namespace

extern "C" {
int Quorlet_Init(Tcl_Interp *interp) { return Init(interp, false); }
int Quorlet_SafeInit(Tcl_Interp *interp) { return Init(interp, true); }
}
