// Module "Vekcommon": Lisp functions for token splitting, gain targets and
// label files.
#include "vek_common.h"

#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "EST_wave_aux.h"
#include "siod.h"
#include "vek_labels.h"
#include "vek_lisp.h"

EST_Item *new_gitem(EST_Relation *rel, EST_Item *previous) {
  if (previous != nullptr) return previous->insert_after();
  if (rel->head() != nullptr) return rel->head()->insert_before();
  Vek_fail("new_gitem problem");
}

static float gainItemPos(EST_Item *it) { return it->F("pos", 0.0f); }

void add_gain_targets(EST_Utterance *utt, float begin, float end, float begin_val, float end_val, float samp,
                      const std::string &method) {
  if (!utt->relation_present("Segment") || utt->relation("Segment")->tail() == nullptr)
    Vek_fail("Vekadd_gain_targets: utterance has no segments");
  EST_Item *lastSeg = utt->relation("Segment")->tail();
  if (!lastSeg->f_present("end")) Vek_fail("Vekadd_gain_targets: last segment has no end");
  float T = lastSeg->F("end");

  if (!utt->relation_present("Gain")) utt->create_relation("Gain");
  EST_Relation *gain = utt->relation("Gain");
  int count = 0;
  for (EST_Item *it = gain->head(); it != nullptr; it = inext(it)) ++count;
  if (count < 2) {
    while (gain->head() != nullptr) gain->remove_item(gain->head());
    EST_Item *a = gain->append();
    a->set("pos", 0.0f);
    a->set("gain", 1.0f);
    EST_Item *b = gain->append();
    b->set("pos", T);
    b->set("gain", 1.0f);
  }

  // Targets inside the range go, so repeated calls never pile up; the first
  // (pos 0) and last (utterance end) targets always stay.
  for (EST_Item *it = gain->head(); it != nullptr;) {
    EST_Item *next = inext(it);
    float pos = gainItemPos(it);
    if (next != nullptr && pos > 0 && pos >= begin && pos <= end) gain->remove_item(it);
    it = next;
  }

  EST_Item *prev = nullptr;
  for (EST_Item *it = gain->head(); it != nullptr && gainItemPos(it) < begin; it = inext(it)) prev = it;

  int kind;
  if (method == "sin")
    kind = 0;
  else if (method == "cos")
    kind = 1;
  else if (method == "linear")
    kind = 2;
  else
    Vek_fail("Vekadd_gain_targets: don't recognize interp type %s\n", method.c_str());

  if (!(begin < end)) return;
  // A step that does not advance would add targets until memory runs out.
  if (!(samp > 0)) Vek_fail("Vekadd_gain_targets: samp must be positive, not %g", samp);

  const float pi = 3.1415927f;
  float d = end - begin;
  float D = end_val - begin_val;
  for (float t = begin; t < T;) {
    float x = t - begin;
    float g;
    if (kind == 0)
      g = begin_val + D * std::sin(x * pi / (2 * d));
    else if (kind == 1)
      g = begin_val + D * (1 - std::cos(x * pi / (2 * d)));
    else
      g = begin_val + D * x / d;
    EST_Item *n = new_gitem(gain, prev);
    n->set("pos", t);
    n->set("gain", g);
    prev = n;
    t += samp;
    if (!(t < end)) break;
  }
}

// The start of a segment: its own "start" feature, else the end of the item
// before it, else 0.
static float segmentStart(EST_Item *seg) {
  if (seg->f_present("start")) return seg->F("start");
  EST_Item *p = iprev(seg);
  return p != nullptr ? p->F("end", 0.0f) : 0.0f;
}

float resLPC_gain_at(EST_Utterance *utt, EST_Item *segment, int at_end) {
  if (segment == nullptr || !utt->relation_present("Gain")) return 1.0f;
  float start = segmentStart(segment);
  float end = segment->F("end", 0.0f);
  float result = 1.0f;
  for (EST_Item *it = utt->relation("Gain")->head(); it != nullptr; it = inext(it)) {
    if (!it->f_present("pos")) continue;
    float pos = it->F("pos");
    if (pos >= start && pos <= end) {
      result = it->F("gain", 1.0f);
      if (!at_end) break;
    }
  }
  return result;
}

void utt_set_wave(EST_Utterance *utt, EST_Wave *wave) {
  if (utt->relation_present("Wave")) utt->remove_relation("Wave");
  EST_Item *it = utt->create_relation("Wave")->append();
  it->set_val("wave", est_val(wave));
}

// (Veksplit_string STRING): the whitespace-separated tokens of STRING as a
// list of strings.
static LISP Veksplit_string(LISP str) {
  char num[64];
  const char *text = Vek_argCText(str, "Veksplit_string", "STRING", num);
  const char *ws = " \t\n\r";
  LISP out = NIL, tail = NIL;
  for (const char *p = text + strspn(text, ws); *p; p += strspn(p, ws)) {
    size_t n = strcspn(p, ws);
    LISP cell = cons(Vek_strcons(p, n), NIL);
    if (tail == NIL)
      out = cell;
    else
      CDR(tail) = cell;
    tail = cell;
    p += n;
  }
  return out;
}

// (Vekadd_gain_targets UTT PARAMS): gain targets from begin, end, begin_val,
// end_val, samp and method in PARAMS.
static LISP Vekadd_gain_targets(LISP utt, LISP params) {
  const char *fn = "Vekadd_gain_targets";
  EST_Utterance *u = Vek_argUtt(utt, fn);
  float begin = Vek_paramNumber(params, "begin", 0, fn);
  float end = Vek_paramNumber(params, "end", 0, fn);
  float bv = Vek_paramNumber(params, "begin_val", 1.0, fn);
  float ev = Vek_paramNumber(params, "end_val", 1.0, fn);
  float samp = Vek_paramNumber(params, "samp", 0.02, fn);
  std::string method = Vek_paramText(params, "method", "sin", fn);
  add_gain_targets(u, begin, end, bv, ev, samp, method);
  return utt;
}

// (utt.relation.load_vek UTT RELATIONNAME FILENAME): loads a label file into
// a fresh relation; UTT nil makes a new utterance.
// Loads into UTT, or into a new utterance (answered, owned by the caller)
// when UTT is nil.
static EST_Utterance *loadVek(LISP utt, LISP lrelname, LISP lfilename) {
  const char *fn = "utt.relation.load_vek";
  std::unique_ptr<EST_Utterance> fresh;
  EST_Utterance *u;
  if (utt == NIL) {
    fresh.reset(new EST_Utterance);
    u = fresh.get();
  } else {
    u = Vek_argUtt(utt, fn);
  }
  std::string relname = Vek_argText(lrelname, fn, "RELATIONNAME");
  std::string filename = Vek_argText(lfilename, fn, "FILENAME");

  if (u->relation_present(relname.c_str())) u->remove_relation(relname.c_str());
  EST_Relation *rel = u->create_relation(relname.c_str());

  std::vector<VekLabel> labels;
  std::string why;
  VekLabelRead r = Vek_readLabels(filename, labels, why);
  if (r == VekLabelRead::ok) {
    for (const VekLabel &l : labels) {
      EST_Item *it = rel->append();
      it->set_name(l.name.c_str());
      it->set("end", (float)l.end);
    }
  } else {
    // Another kind of label file may still load; an empty result from a
    // non-empty file is a failure, not an empty relation.
    bool loaded = false;
    if (r == VekLabelRead::notLabels) {
      EST_read_status st = rel->load(filename.c_str(), "esps");
      loaded = st == read_ok && rel->head() != nullptr;
      if (!loaded)
        while (rel->head() != nullptr) rel->remove_item(rel->head());
    }
    if (!loaded) {
      fprintf(stderr, "utt.load.relation: loading from \"%s\" failed\n", filename.c_str());
      Vek_fail("%s: %s", fn, why.c_str());
    }
  }
  return fresh.release();
}

static LISP uttRelationLoadVek(LISP utt, LISP lrelname, LISP lfilename) {
  EST_Utterance *fresh = loadVek(utt, lrelname, lfilename);
  return fresh != nullptr ? siod(fresh) : utt;
}

// (utt.save_vek.relation UTT RELATIONNAME FILENAME): writes the names and
// ends of the relation's items as a label file; FILENAME nil is "save.phn".
static LISP uttSaveVekRelation(LISP utt, LISP lrelname, LISP lfilename) {
  const char *fn = "utt.save_vek.relation";
  EST_Utterance *u = Vek_argUtt(utt, fn);
  std::string relname = Vek_argText(lrelname, fn, "RELATIONNAME");
  std::string filename = lfilename == NIL ? "save.phn" : Vek_argText(lfilename, fn, "FILENAME");
  if (!u->relation_present(relname.c_str())) Vek_fail("%s: no relation %s in utterance", fn, relname.c_str());
  std::vector<float> ends;
  std::vector<std::string> names;
  for (EST_Item *it = u->relation(relname.c_str())->head(); it != nullptr; it = inext(it)) {
    EST_String n = it->name();
    const char *name = (const char *)n ? (const char *)n : "";
    if (!it->f_present("end")) Vek_fail("%s: item \"%s\" has no end", fn, name);
    names.push_back(name);
    ends.push_back(it->F("end"));
  }
  std::string why;
  if (!save_Vek_labels(ends, names, filename, -99, why)) Vek_fail("%s: %s", fn, why.c_str());
  return utt;
}

void Vekcommon_module_init() {
  proclaim_module("Vekcommon");
  init_subr_1("Veksplit_string", Vek_wrap1<Veksplit_string>,
              "(Veksplit_string STRING)\n   Split whitespace-separated tokens in STRING into a list of \n"
              "   strings, like Perl 'split' function.");
  init_subr_2("Vekadd_gain_targets", Vek_wrap2<Vekadd_gain_targets>,
              "(Vekadd_gain_targets UTT PARAMS)\n   Add gain targets to UTT.  PARAMS is assoc list with members\n"
              "   begin, end, begin_val, end_val, method, samp");
  init_subr_3("utt.relation.load_vek", Vek_wrap3<uttRelationLoadVek>,
              "(utt.relation.load UTT RELATIONNAME FILENAME)\n"
              "  Loads (and creates) RELATIONNAME from FILENAME into UTT.  FILENAME\n"
              "  should contain simple Vek label format:  begin end name   on each line.\n"
              "  Puts 'begin' and 'end' features on all items.");
  init_subr_3("utt.save_vek.relation", Vek_wrap3<uttSaveVekRelation>,
              "(utt.save_vek.relation UTT RELATIONNAME FILENAME)\n"
              "  Saves RELATIONNAME from UTT into FILENAME in \n"
              "  Vek label format:  begin end name   on each line.\n"
              "  warning:  Always uses 0.0 for 1st begin and always uses\n"
              "  previous 'end' for next 'begin -- DOES NOT LOOK AT 'begin' feature on items!");
}
