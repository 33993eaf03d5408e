#include "vek_synth.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>

#include "EST_Track.h"
#include "EST_Wave.h"
#include "festival.h"
#include "vek_common.h"
#include "vek_dbase.h"
#include "vek_filter.h"
#include "vek_gmm.h"
#include "vek_labels.h"
#include "vek_lisp.h"
#include "vek_lpcanl.h"
#include "vek_lsf.h"

// ------------------------------------------------------------- parameters

namespace {
std::unique_ptr<EST_Features> g_params;

float pfloat(const char *n) {
  EST_Features &p = resLPC_params();
  if (!p.present(n)) Vek_fail("{FND} Feature %s not defined\n", n);
  return p.F(n);
}

int pint(const char *n, int def) {
  EST_Features &p = resLPC_params();
  return p.present(n) ? p.I(n) : def;
}

std::string ptext(const char *n) {
  EST_Features &p = resLPC_params();
  if (!p.present(n)) Vek_fail("{FND} Feature %s not defined\n", n);
  return (const char *)p.S(n);
}

// Target F0 outside this range is clamped: mark steps stay finite and the
// mark walk always moves on.
constexpr float kMinF0 = 20, kMaxF0 = 1000;

// The lists of a printed list of lists, ((A B ..) (C D ..) ..), as tokens;
// strings lose their quotes. Anything else gives none.
std::vector<std::vector<std::string>> parse_lists(const std::string &text) {
  std::vector<std::string> tok;
  for (size_t i = 0; i < text.size();) {
    char c = text[i];
    if (isspace((unsigned char)c)) {
      i++;
    } else if (c == '(' || c == ')') {
      tok.push_back(std::string(1, c));
      i++;
    } else if (c == '"') {
      std::string t;
      for (i++; i < text.size() && text[i] != '"'; i++) {
        if (text[i] == '\\' && i + 1 < text.size()) i++;
        t += text[i];
      }
      i++;
      tok.push_back("\"" + t);
    } else {
      size_t j = i;
      while (j < text.size() && !isspace((unsigned char)text[j]) && text[j] != '(' && text[j] != ')') j++;
      tok.push_back(text.substr(i, j - i));
      i = j;
    }
  }
  std::vector<std::vector<std::string>> out;
  if (tok.size() < 2 || tok.front() != "(" || tok.back() != ")") return out;
  for (size_t i = 1; i + 1 < tok.size(); i++) {
    if (tok[i] != "(") continue;
    std::vector<std::string> l;
    size_t j = i + 1;
    for (; j < tok.size() && tok[j] != ")" && tok[j] != "("; j++) l.push_back(tok[j][0] == '"' ? tok[j].substr(1) : tok[j]);
    if (j < tok.size() && tok[j] == ")") out.push_back(l);
    i = j;
  }
  return out;
}
}  // namespace

EST_Features &resLPC_params() {
  if (!g_params) g_params.reset(new EST_Features);
  return *g_params;
}
bool resLPC_params_exist() { return g_params != nullptr; }
void resLPC_new_params() { g_params.reset(new EST_Features); }

// ------------------------------------------------------------ concatenation

void resLPC_add_voicing_channels(EST_Track &pm) {
  pm.resize(pm.num_frames(), 3);
  pm.set_channel_name("v/uv", 0);
  pm.set_channel_name("T0_src", 1);
  pm.set_channel_name("beta", 2);
  for (int i = 0; i < pm.num_frames(); i++)
    for (int c = 0; c < 3; c++) pm.a_no_check(i, c) = 0;
}

namespace {

int fint(EST_Item *it, const char *n, int def = 0) { return it->f_present(n) ? it->I(n) : def; }
float ffloat(EST_Item *it, const char *n, float def = 0) { return it->f_present(n) ? it->F(n) : def; }

int out_len(const Vek_WaveChunk &s) { return s.output_begins().back(); }

bool voiced_at(const VekresLPC_src &src, const EST_Track &upm, float t, float thr) {
  int n = src.pm.num_frames();
  if (n <= 1 || upm.num_frames() <= 1) return false;
  if (upm.t(0) >= thr) return false;
  if (t - src.pm.t(n - 1) >= thr) return false;
  float last = src.pm.t(n - 1) - src.pm.t(n - 2);
  return last < thr && upm.t(1) - upm.t(0) < thr;
}

void adjust_join(EST_Item *it, VekresLPC_src &src, const EST_Track &upm, int excB, float thr, int &pm_adjust,
                 int &exc_adjust) {
  pm_adjust = exc_adjust = 0;
  if (iprev(it) == nullptr || fint(it, "isNatNbL")) return;
  if (src.pm.num_frames() < 2 || upm.num_frames() < 2) return;
  float rate = src.rate;
  int L = out_len(src.store);
  if (!voiced_at(src, upm, L / rate, thr)) return;
  int n = src.pm.num_frames();
  int P = (int)(rate * (src.pm.t(n - 1) - src.pm.t(n - 2)) + 0.5);
  float t_last = src.pm.t(n - 1);
  exc_adjust = (int)(P - (L - rate * t_last));
  int avail = src.store.used() - src.store.chunk_ends().back();
  exc_adjust = std::min(avail, exc_adjust) <= 0 ? 0 : std::min(exc_adjust, avail);
  src.store.adjust_segE(exc_adjust);
  int L2 = out_len(src.store);
  float u0 = upm.t(0);
  pm_adjust = (int)(L2 - P - rate * t_last + rate * u0 + 0.5);
  if (pm_adjust >= (int)(u0 * rate)) pm_adjust = (int)(u0 * rate);
  pm_adjust = std::max(pm_adjust, -excB);
}

void add_srcseg(EST_Relation *srcseg, EST_Item *unit, float rate, int pm_adjust, int exc_adjust) {
  bool cont = fint(unit, "isSegBndL") == 0 && fint(unit, "isFirstUnit") == 0;
  EST_Item *d = daughter1(unit);
  if (cont) {
    if (d == nullptr) {
      fprintf(stderr, "   **dbSeg=NULL! \n");
      return;
    }
    EST_Item *last = srcseg->tail();
    if (last != nullptr) {
      last->set("dur", exc_adjust / rate + ffloat(d, "dur") + ffloat(last, "dur") - pm_adjust / rate);
      last->append_daughter(d);
      d = inext(d);
    }
  }
  for (; d != nullptr; d = inext(d)) {
    EST_Item *s = srcseg->append();
    s->set_name(d->name());
    s->set("dur", ffloat(d, "dur"));
    s->append_daughter(d);
  }
}

struct UnvoicedNote {
  float e = 0;
  void note(const VekresLPC_src &src, float t_end, std::vector<int> &list, int n_before, float thr) {
    int n = src.pm.num_frames();
    if (n > 1 && n_before < n) {
      float d = src.pm.t(n_before);
      if (d - e <= thr) {
        if (!list.empty() && thr < e - src.pm.t(list.back())) list.pop_back();
      } else if (!list.empty() && list.back() == n_before - 1) {
        list.pop_back();
      }
      if (t_end - src.pm.t(n - 1) < thr) list.push_back(n - 1);
    }
    e = t_end;
  }
};

}  // namespace

void resLPC_concat_units(EST_Utterance *utt, VekresLPC_src &src) {
  Vekdbase *db = Vekdbase_active();
  if (db == nullptr) Vek_fail("VekresLPC: no unit database is active");
  if (db->udata == nullptr) Vek_fail("VekresLPC: the active database holds no resLPC unit data");
  src.rate = db->samp_freq;
  float thr = pfloat("T0_UV_thresh");
  if (!utt->relation_present("dbUnit")) {
    fprintf(stderr, "VekresLPC:  no dbUnit stream present in utterance\n");
    Vek_fail("VekresLPC:  no dbUnit stream present in utterance");
  }
  EST_Relation *srcseg = utt->create_relation("SrcSeg");
  VekresLPC_db &ud = *db->udata;
  struct Release {
    Vekdbase *db;
    ~Release() {
      if (db->access_mode == Vekdbase::ONDEMAND && db->udata) db->udata->free_loaded_units();
    }
  } release{db};
  for (EST_Item *it = utt->relation("dbUnit")->head(); it; it = inext(it)) {
    if (!it->f_present("db_indx")) Vek_fail("VekresLPC: dbUnit item %s has no db_indx", (const char *)it->name());
    ud.load_dbUnit(it->I("db_indx"), *db);
  }
  std::vector<int> forced;
  UnvoicedNote note;
  for (EST_Item *it = utt->relation("dbUnit")->head(); it; it = inext(it)) {
    int u = it->I("db_indx");
    ud.check_loaded(u, "exc");
    const EST_Wave &w = ud.exc[u];
    int pm_adjust, exc_adjust;
    adjust_join(it, src, ud.pm[u], ud.excB[u], thr, pm_adjust, exc_adjust);
    if (iprev(it) == nullptr) it->set("isFirstUnit", 1);
    it->set("pm", src.pm.num_frames());
    it->set("lpcpm", src.lsf.num_frames());
    it->set("pm_adjust", pm_adjust / src.rate);
    it->set("prev_exc_adjust", exc_adjust / src.rate);
    add_srcseg(srcseg, it, src.rate, pm_adjust, exc_adjust);
    int P = out_len(src.store);
    it->set("exc", P);
    float offset = (P - pm_adjust) / src.rate;
    src.store.append(w, ud.excB[u] + pm_adjust, ud.excE[u], fint(it, "isNatNbL") != 0);
    int n_before = src.pm.num_frames();
    src.pm.append(ud.pm[u], offset);
    note.note(src, out_len(src.store) / src.rate, forced, n_before, thr);
    src.lsf.append(ud.lpc[u], offset);
  }
  resLPC_add_voicing_channels(src.pm);
  for (int f : forced)
    if (f >= 0 && f < src.pm.num_frames()) src.pm.a_no_check(f, 0) = 1.0f;
}

// ------------------------------------------------------------------ prosody

void resLPC_voicing_by_T0(Vek_CachedTrack &pm, std::vector<int> &starts, std::vector<int> &ends, int total,
                          float rate, float thr) {
  int n = pm.num_frames();
  if (n < 2) return;
  int vc = pm.channel_position("v/uv");
  bool open = false;
  int start = 0, end = 0;
  for (int i = 0; i < n; i++) {
    float period = i < n - 1 ? pm.t(i + 1) - pm.t(i) : total / rate - pm.t(n - 1);
    bool forced = vc >= 0 && (int)(pm.a_no_check(i, vc) + 0.5f) == 1;
    bool voiced = !(period >= thr && !forced);
    if (voiced) {
      if (!open) {
        start = i;
        open = true;
      }
      end = i;
    } else if (open) {
      end = i;
      starts.push_back(start);
      ends.push_back(end);
      start = i;
      open = false;
    }
  }
  if (open) {
    starts.push_back(start);
    ends.push_back(n - 1);
  }
}

namespace {

void insert_uv_marks(std::vector<int> &starts, std::vector<int> &ends, int a, int b, float step, Vek_CachedTrack &pm,
                     int total, float rate, bool set_flag) {
  int n = pm.num_frames();
  float tol = 0.4f * step;
  float x = a < 0 ? 0 : pm.t(a) + step;
  float h = b < n ? pm.t(b) - tol : total / rate;
  Vek_BuffFVect v(64);
  for (int i = a + 1; i < b && i < n; i++) {
    while (pm.t(i) - tol > x) {
      v.push(x);
      x += step;
    }
    v.push(pm.t(i));
    x = pm.t(i) + step;
  }
  while (x < h) {
    v.push(x);
    x += step;
  }
  if (v.count() == 0) return;
  int q = v.count();
  // The frames a+1 .. b-1 become the listed times.
  int old_between = std::max(0, std::min(b, n) - (a + 1));
  int ch = pm.num_channels();
  std::vector<float> times, vals;
  for (int i = 0; i < n; i++) {
    if (i == a + 1) {
      for (int k = 0; k < q; k++) {
        times.push_back(v[k]);
        for (int c = 0; c < ch; c++) vals.push_back(0);
      }
    }
    if (i > a && i < b) continue;
    times.push_back(pm.t(i));
    for (int c = 0; c < ch; c++) vals.push_back(pm.a_no_check(i, c));
  }
  if (a + 1 >= n) {
    for (int k = 0; k < q; k++) {
      times.push_back(v[k]);
      for (int c = 0; c < ch; c++) vals.push_back(0);
    }
  }
  pm.resize((int)times.size(), ch);
  for (size_t i = 0; i < times.size(); i++) {
    pm.t((int)i) = times[i];
    for (int c = 0; c < ch; c++) pm.a_no_check((int)i, c) = vals[i * ch + c];
  }
  int shift = q - old_between;
  for (size_t r = 0; r < starts.size(); r++)
    if (starts[r] >= b) {
      starts[r] += shift;
      ends[r] += shift;
    }
  int vc = pm.channel_position("v/uv");
  if (set_flag && vc >= 0)
    for (int i = a + 1; i <= a + q && i < pm.num_frames(); i++) pm.a_no_check(i, vc) = 0;
}

void set_uv_range(int first, int last, Vek_CachedTrack &pm, bool set_flag) {
  int vc = pm.channel_position("v/uv");
  if (!set_flag || vc < 0) return;
  for (int i = first; i <= last && i < pm.num_frames(); i++) pm.a_no_check(i, vc) = 1;
}

}  // namespace

void resLPC_fill_unvoiced(Vek_CachedTrack &pm, std::vector<int> &starts, std::vector<int> &ends, int total,
                          float rate, float step, bool set_flag) {
  if (!(step > 0)) Vek_fail("VekresLPC: T0_UV_pm must be above 0");
  if (starts.empty()) {
    insert_uv_marks(starts, ends, -1, pm.num_frames(), step, pm, total, rate, set_flag);
    return;
  }
  insert_uv_marks(starts, ends, ends.back(), pm.num_frames(), step, pm, total, rate, set_flag);
  for (int r = (int)starts.size() - 1; r >= 0; r--) {
    set_uv_range(starts[r], ends[r], pm, set_flag);
    if (r > 0) insert_uv_marks(starts, ends, ends[r - 1], starts[r], step, pm, total, rate, set_flag);
  }
  insert_uv_marks(starts, ends, -1, starts[0], step, pm, total, rate, set_flag);
  set_uv_range(starts[0], ends[0], pm, set_flag);
}

namespace {

void init_map_channels(EST_Track &t) {
  t.resize(t.num_frames(), 3);
  t.set_channel_name("lpc_map", 0);
  t.set_channel_name("exc_map", 1);
  t.set_channel_name("v/uv", 2);
}

void natural_timewarp(EST_Utterance *utt, Vek_TimeWarp &warp) {
  if (!utt->relation_present("Segment") || !utt->relation_present("SrcSeg")) return;
  float s = 0;
  EST_Item *g = utt->relation("Segment")->head(), *r = utt->relation("SrcSeg")->head();
  for (; g && r; g = inext(g), r = inext(r)) {
    if (g->name() != r->name()) r->set_name(g->name());
    s += ffloat(r, "dur");
    warp.append_labelled(s, s, (const char *)r->name());
  }
}

void vek_duration(EST_Utterance *utt, Vek_TimeWarp &warp) {
  if (!utt->relation_present("Segment") || !utt->relation_present("SrcSeg")) return;
  float s = 0;
  EST_Item *g = utt->relation("Segment")->head(), *r = utt->relation("SrcSeg")->head();
  for (; g; g = inext(g), r = inext(r)) {
    if (r == nullptr) break;
    if (g->name() != r->name()) r->set_name(g->name());
    float dur = ffloat(r, "dur");
    s += dur;
    warp.append_labelled(s, ffloat(g, "end"), (const char *)r->name());
    if (g->f_present("enh_Tstretch") && dur > 0) {
      float factor = g->F("enh_Tstretch") * ffloat(g, "enh_orig_dur") / dur;
      if (g->f_present("enh_Rbkpt"))
        warp.nonuniform_stretch(warp.count(), factor, g->F("enh_Rbkpt"), 1);
      else if (g->f_present("enh_Lbkpt"))
        warp.nonuniform_stretch(warp.count(), factor, g->F("enh_Lbkpt"), 2);
    }
  }
  if (g != nullptr || r != nullptr)
    fprintf(stderr, "Vekduration: warning: different number of segments in utt than in selected units\n");
}

// The current phone set's silences, read without any chance of a Lisp error
// reaching this frame (none without a phone set).
std::vector<std::string> silences() {
  LISP d = NIL;
  std::vector<std::string> out;
  if (!Vek_callCaught2("PhoneSet.description", nullptr, nullptr, &d)) return out;
  for (; d != NIL && CONSP(d); d = CDR(d)) {
    LISP e = CAR(d);
    if (e == NIL || !CONSP(e) || CAR(e) == NIL || !SYMBOLP(CAR(e)) || strcmp(get_c_string(CAR(e)), "silences") != 0)
      continue;
    if (CDR(e) == NIL || !CONSP(CDR(e))) break;
    for (LISP l = CAR(CDR(e)); l != NIL && CONSP(l); l = CDR(l))
      if (CAR(l) != NIL && (SYMBOLP(CAR(l)) || STRINGP(CAR(l)))) out.push_back(get_c_string(CAR(l)));
    break;
  }
  return out;
}

void ramp_energy(Vek_CachedTrack &t, float from, float to, int dir) {
  int ec = t.channel_position("E");
  if (ec < 0 || t.num_frames() == 0) return;
  int a = t.index_below(from) + 1;
  int z = std::max(0, t.index_below(to));
  if (a >= z) return;
  float x = dir == 1 ? 0 : -10, step = dir * -10.0f / (z - a);
  for (int i = a; i <= z; i++) {
    t.a_no_check(i, ec) += x;
    x += step;
  }
}

void fade_silences(EST_Utterance *utt, VekresLPC_src &src, VekresLPC_targ &targ);

void set_srcseg_pm(EST_Utterance *utt, VekresLPC_src &src) {
  if (!utt->relation_present("SrcSeg")) return;
  float c = 0;
  int j = 0, k = 0;
  for (EST_Item *s = utt->relation("SrcSeg")->head(); s; s = inext(s)) {
    c += ffloat(s, "dur");
    s->set("pm", j);
    while (j < src.pm.num_frames() && src.pm.t(j) < c) j++;
    s->set("lpcpm", k);
    while (k < src.lsf.num_frames() && src.lsf.t(k) < c) k++;
  }
}

// F0 targets in time order. The synthesiser keeps them as daughters of
// per-segment items of "Target"; a flat relation of target items works too.
std::vector<EST_Item *> target_items(EST_Utterance *utt) {
  std::vector<EST_Item *> out;
  if (!utt->relation_present("Target")) return out;
  for (EST_Item *it = utt->relation("Target")->head(); it; it = next_item(it))
    if (it->f_present("pos") || it->f_present("f0") || daughter1(it) == nullptr) out.push_back(it);
  return out;
}

void make_target_pm(EST_Utterance *utt, Vek_MapTrack &f0, Vek_TimeWarp &warp, float F0_default) {
  float end = warp.targ_end();
  std::vector<EST_Item *> items = target_items(utt);
  auto clamp = [](float f) { return std::min(kMaxF0, std::max(kMinF0, f)); };
  auto full = [](EST_Item *t) { return t->f_present("pos") && t->f_present("f0"); };
  if (items.empty()) {
    f0.add_frame(0, F0_default);
    f0.add_frame(end, F0_default);
  } else {
    EST_Item *first = items.front(), *last = items.back();
    if (!full(first))
      f0.add_frame(0, F0_default);
    else if (first->F("pos") != 0)
      f0.add_frame(0, clamp(first->F("f0")));
    for (EST_Item *t : items)
      if (full(t)) f0.add_frame(t->F("pos"), clamp(t->F("f0")));
    if (!full(last)) {
      f0.add_frame(end, F0_default);
    } else {
      EST_Item *seg = utt->relation_present("Segment") ? utt->relation("Segment")->tail() : nullptr;
      if (seg && ffloat(seg, "end") > last->F("pos")) f0.add_frame(end, clamp(last->F("f0")));
    }
  }
  f0.resize(f0.fill(), f0.num_channels());
}

void apply_gains(EST_Utterance *utt, VekresLPC_src &src, Vek_TimeWarp &warp) {
  if (!utt->relation_present("Gain") || utt->relation("Gain")->head() == nullptr) return;
  int ec = src.lsf.channel_position("E");
  if (ec < 0) return;
  Vek_MapTrack g;
  EST_Item *first = utt->relation("Gain")->head(), *last = nullptr;
  if (!first->f_present("pos") || first->F("pos") != 0) g.add_frame(0, 1.0f);
  for (EST_Item *it = first; it; it = inext(it)) {
    last = it;
    if (it->f_present("pos")) g.add_frame(it->F("pos"), ffloat(it, "gain", 1.0f));
  }
  EST_Item *seg = utt->relation_present("Segment") ? utt->relation("Segment")->tail() : nullptr;
  float segend = seg ? ffloat(seg, "end") : 0;
  if (!last->f_present("pos") || last->F("pos") < segend) g.add_frame(warp.targ_end(), ffloat(last, "gain", 1.0f));
  g.resize(g.fill(), 1);
  for (int i = 0; i < src.lsf.num_frames(); i++) {
    float t = warp.fwdmap(src.lsf.t(i));
    src.lsf.a_no_check(i, ec) += (float)log(g.interp_value(t, 0) + 1e-9);
  }
}


// The current phone set's features per phone, read from its description.
struct PhoneFeats {
  std::vector<std::string> names;
  std::vector<std::pair<std::string, std::vector<std::string>>> phones;
  const std::string *get(const std::string &ph, const std::string &f) const {
    size_t k = std::find(names.begin(), names.end(), f) - names.begin();
    if (k == names.size()) return nullptr;
    for (auto &p : phones)
      if (p.first == ph) return k < p.second.size() ? &p.second[k] : nullptr;
    return nullptr;
  }
};

std::string atom_text(LISP x) {
  if (x == NIL) return "nil";
  if (SYMBOLP(x) || STRINGP(x)) return get_c_string(x);
  if (FLONUMP(x)) {
    char b[64];
    snprintf(b, sizeof b, "%g", FLONM(x));
    return b;
  }
  return "";
}

PhoneFeats phone_feats() {
  PhoneFeats pf;
  LISP d = NIL;
  if (!Vek_callCaught2("PhoneSet.description", nullptr, nullptr, &d)) return pf;
  for (; d != NIL && CONSP(d); d = CDR(d)) {
    LISP e = CAR(d);
    if (e == NIL || !CONSP(e) || !SYMBOLP(CAR(e)) || CDR(e) == NIL || !CONSP(CDR(e))) continue;
    std::string k = get_c_string(CAR(e));
    for (LISP l = CAR(CDR(e)); l != NIL && CONSP(l); l = CDR(l)) {
      LISP it = CAR(l);
      if (it == NIL || !CONSP(it)) continue;
      if (k == "features") {
        pf.names.push_back(atom_text(CAR(it)));
      } else if (k == "phones") {
        std::vector<std::string> v;
        for (LISP x = CDR(it); x != NIL && CONSP(x); x = CDR(x)) v.push_back(atom_text(CAR(x)));
        pf.phones.emplace_back(atom_text(CAR(it)), v);
      }
    }
  }
  return pf;
}

// The SrcSeg item that holds a unit's segment item.
EST_Item *srcseg_of(EST_Item *seg) {
  if (seg == nullptr) return nullptr;
  EST_Item *s = seg->as_relation("SrcSeg");
  return s ? parent(s) : nullptr;
}

int smooth_width(const std::vector<std::vector<std::string>> &list, const PhoneFeats &pf, EST_Item *left,
                 EST_Item *right) {
  if (!left || !right) return 0;
  std::string l = (const char *)left->name(), r = (const char *)right->name();
  for (auto &e : list) {
    if (e.size() < 3) continue;
    const std::string *a = pf.get(l, e[0]), *b = pf.get(r, e[0]);
    if (a && b && *a == e[1] && *b == e[1]) return atoi(e[2].c_str());
  }
  return 0;
}

void smooth_joins(EST_Utterance *utt, Vek_CachedTrack &t, int c0, int count,
                  const std::vector<std::vector<std::string>> &list, bool cross, bool match) {
  if (!utt->relation_present("dbUnit") || !utt->relation_present("SrcSeg")) return;
  EST_Item *first = utt->relation("dbUnit")->head();
  if (!first) return;
  PhoneFeats pf = phone_feats();
  int n = t.num_frames();
  EST_Item *left = srcseg_of(daughtern(first));
  for (EST_Item *u = inext(first); u; u = inext(u)) {
    EST_Item *right = srcseg_of(daughter1(u));
    int width = 0;
    if (fint(u, "isNatNbL") == 0 && (fint(u, "isSegBndL") == 0 || cross)) width = smooth_width(list, pf, left, right);
    int J = fint(u, "lpcpm");
    int L = std::max(J - width, fint(iprev(u), "lpcpm"));
    if (left && fint(left, "lpcpm") >= L) L = fint(left, "lpcpm");
    int R = inext(u) ? fint(inext(u), "lpcpm") : n;
    R = std::min(R, J + width);
    if (right && inext(right) && R >= fint(inext(right), "lpcpm") - 1) R = fint(inext(right), "lpcpm") - 1;
    R = std::min(R, n - 1);
    if (J >= 1 && L <= J && J <= R && L >= 0) {
      if (match)
        t.smooth_join_match(L, J, R, c0, count);
      else
        t.smooth_join_replace(L, J, R, c0, count);
    }
    left = srcseg_of(daughtern(u));
  }
}

void smooth_channels(EST_Utterance *utt, VekresLPC_src &src, const char *param, const char *mode, bool power) {
  EST_Features &p = resLPC_params();
  if (!p.present(param)) return;
  auto list = parse_lists((const char *)p.S(param));
  bool cross = pint("smooth_cross_ph_join", 0) != 0;
  bool match = !(p.present(mode) && std::string((const char *)p.S(mode)) == "replace");
  int c0, count;
  if (power) {
    c0 = src.lsf.channel_position("E");
    count = 1;
  } else {
    c0 = src.lsf.channel_position("LSF_0");
    count = src.lsf.channel_position("LSF_N") - c0 + 1;
  }
  if (c0 < 0 || count < 1) return;
  smooth_joins(utt, src.lsf, c0, count, list, cross, match);
}

void set_T0_src(VekresLPC_src &src) {
  int n = src.pm.num_frames(), c = src.pm.channel_position("T0_src");
  if (c < 0) return;
  for (int i = 0; i + 1 < n; i++) src.pm.a_no_check(i, c) = src.pm.t(i + 1) - src.pm.t(i);
  if (n >= 2) src.pm.a_no_check(n - 1, c) = src.pm.a_no_check(n - 2, c);
}

float frac_index(Vek_CachedTrack &t, float s) {
  int g = t.index_below(s);
  if (g < 0) return 0;
  float f = 0;
  if (g < t.num_frames() - 1 && s > t.t(g)) f = (s - t.t(g)) / (t.t(g + 1) - t.t(g));
  return g + f;
}

// One sample is the shortest step: two source marks at the same time (a
// zero period) must not stop the walk.
void map_pmarks(VekresLPC_src &src, VekresLPC_targ &targ, bool natural) {
  float x = 0, step = 0.01f, minstep = 1.0f / src.rate;
  int count = 0;
  float end = targ.warp.targ_end();
  EST_Track &m = targ.map;
  int vc = src.pm.channel_position("v/uv"), tc = src.pm.channel_position("T0_src");
  if (vc < 0 || tc < 0) Vek_fail("VekresLPC: source pitch marks have no voicing channels");
  while (x < end) {
    if (count >= m.num_frames()) m.resize(m.num_frames() + 500, 3);
    m.t(count) = x;
    float s = targ.warp.invmap(x);
    float e = frac_index(src.pm, s), l = frac_index(src.lsf, s);
    m.a_no_check(count, 1) = e;
    m.a_no_check(count, 0) = l;
    int f = std::min(src.pm.num_frames() - 1, (int)(e + 0.5f));
    bool voiced = f >= 0 && src.pm.a_no_check(f, vc) == 1.0f;
    m.a_no_check(count, 2) = voiced ? 1 : 0;
    if (voiced && !natural) {
      float F0 = targ.f0.interp_value(x, 0);
      if (F0 > 1) step = 1 / std::min(kMaxF0, std::max(kMinF0, F0));
    } else if (src.pm.num_frames() > 0) {
      step = src.pm.a_no_check(src.pm.nearest_index(s), tc);
    }
    count++;
    x += std::max(step, minstep);
  }
  m.resize(count, 3);
}

}  // namespace

void resLPC_keep_prosody(EST_Utterance *utt, VekresLPC_src &src, VekresLPC_targ &targ) {
  init_map_channels(targ.map);
  if (!src.pm.has_channel("v/uv")) resLPC_add_voicing_channels(src.pm);
  natural_timewarp(utt, targ.warp);
  int total = out_len(src.store);
  resLPC_voicing_by_T0(src.pm, src.vstart, src.vend, total, src.rate, pfloat("T0_UV_thresh"));
  resLPC_fill_unvoiced(src.pm, src.vstart, src.vend, total, src.rate, pfloat("T0_UV_pm"), true);
  set_T0_src(src);
  set_srcseg_pm(utt, src);
  map_pmarks(src, targ, true);
}

void resLPC_modify_prosody(EST_Utterance *utt, VekresLPC_src &src, VekresLPC_targ &targ) {
  init_map_channels(targ.map);
  if (!src.pm.has_channel("v/uv")) resLPC_add_voicing_channels(src.pm);
  if (ptext("dur_method") == "natural")
    natural_timewarp(utt, targ.warp);
  else
    vek_duration(utt, targ.warp);
  fade_silences(utt, src, targ);
  int total = out_len(src.store);
  resLPC_voicing_by_T0(src.pm, src.vstart, src.vend, total, src.rate, pfloat("T0_UV_thresh"));
  resLPC_fill_unvoiced(src.pm, src.vstart, src.vend, total, src.rate, pfloat("T0_UV_pm"), true);
  set_srcseg_pm(utt, src);
  make_target_pm(utt, targ.f0, targ.warp, pfloat("F0_default"));
  smooth_channels(utt, src, "spectra_smooth", "spectra_match_or_replace", false);
  smooth_channels(utt, src, "power_smooth", "power_match_or_replace", true);
  apply_gains(utt, src, targ.warp);
  set_T0_src(src);
  map_pmarks(src, targ, ptext("pitch_method") == "natural");
}

namespace {

void fade_silences(EST_Utterance *utt, VekresLPC_src &src, VekresLPC_targ &targ) {
  if (!utt->relation_present("Segment")) return;
  std::vector<std::string> sil = silences();
  auto is_sil = [&](EST_Item *s) {
    return std::find(sil.begin(), sil.end(), std::string((const char *)s->name())) != sil.end();
  };
  Vek_TimeWarp &w = targ.warp;
  EST_Item *head = utt->relation("Segment")->head();
  for (EST_Item *s = head; s; s = inext(s)) {
    if (!is_sil(s)) continue;
    float end = ffloat(s, "end"), start = iprev(s) ? ffloat(iprev(s), "end") : 0, dur = end - start;
    float step = std::max(0.2f * dur, 0.001f);
    if (s == head) {
      ramp_energy(src.lsf, w.invmap(0), w.invmap(end), 1);
      float g = resLPC_gain_at(utt, s, 1);
      if (g == 1.0f && inext(s)) g = resLPC_gain_at(utt, inext(s), 0);
      add_gain_targets(utt, 0, end, 0, g, step, "sin");
    } else if (inext(s) == nullptr) {
      ramp_energy(src.lsf, w.invmap(start), w.invmap(end), -1);
      float g = resLPC_gain_at(utt, s, 0);
      if (g == 1.0f) g = resLPC_gain_at(utt, iprev(s), 1);
      add_gain_targets(utt, start, end, g, 0, step, "sin");
    } else {
      float m = start + 0.5f * dur;
      ramp_energy(src.lsf, w.invmap(start), w.invmap(m), -1);
      ramp_energy(src.lsf, w.invmap(m), w.invmap(end), 1);
      float g1 = resLPC_gain_at(utt, s, 1);
      if (g1 == 1.0f) g1 = resLPC_gain_at(utt, iprev(s), 1);
      float g2 = resLPC_gain_at(utt, s, 0);
      if (g2 == 1.0f) g2 = resLPC_gain_at(utt, inext(s), 0);
      add_gain_targets(utt, start, m, g1, 0, step, "sin");
      add_gain_targets(utt, m, end, 0, g2, step, "sin");
    }
  }
}

}  // namespace

// ----------------------------------------------------------- synthesis loop

namespace {
std::vector<std::pair<std::string, std::string>> parse_pairs(const std::string &text);
}

int resLPC_window_type(const std::string &name) {
  if (name == "trapezoid") return 0;
  if (name == "triangle" || name.empty()) return 1;
  Vek_fail("resLPC_wave: Unknown window type \"%s\"\n", name.c_str());
}

bool resLPC_outbuf_add(resLPC_outbuf &out, const double *x, int count) {
  if (count <= 0) return false;
  if ((int)out.samples.size() < out.used + count) out.samples.resize(out.used + count + out.incr);
  bool clipped = false;
  for (int i = 0; i < count; i++) {
    double v = x[i];
    if (v >= 32767)
      v = 32767, clipped = clipped || x[i] > 32767;
    else if (v <= -32767)
      v = -32767, clipped = clipped || x[i] < -32767;
    out.samples[out.used++] = (short)v;
  }
  return clipped;
}

namespace {

void make_window(Vek_PitchSyncBuffer &G, int type) {
  G.clear();
  std::vector<double> w = resLPC_make_window(type, G.mark, G.end());
  for (int i = 0; i < G.end() && i < (int)w.size(); i++) G[i] = w[i];
}

void get_exc_period(float e, const Vek_WaveChunk &store, const Vek_CachedTrack &pm, Vek_PitchSyncBuffer &X,
                    int left_max, int right_len, float rate) {
  int n = pm.num_frames();
  X.clear();
  X.mark = left_max;
  X.set_end(left_max + right_len);
  if (n < 2) return;
  int f = (int)(e + 0.5f);
  f = std::max(0, std::min(f, n - 1));
  float L = f == 0 ? pm.t(1) - pm.t(0) : pm.t(f) - pm.t(f - 1);
  float R = f >= n - 1 ? pm.t(n - 1) - pm.t(n - 2) : pm.t(f + 1) - pm.t(f);
  int left = std::min(left_max, (int)(rate * L + 0.5f)), right = std::min(right_len, (int)(rate * R + 0.5f));
  store.fill_buffer((int)(rate * pm.t(f) + 0.5f), left, right, left_max, right_len, X);
}

double energy_gain(const Vek_PitchSyncBuffer &D, const Vek_CachedTrack &lsf, int ec, float x, int type) {
  int n = lsf.num_frames();
  int k = std::max(0, std::min((int)x, n - 1));
  float f = x - (int)x;
  int k2 = std::min(n - 1, (int)(x + 1));
  double target = lsf.a_no_check(k, ec) * (1 - f) + f * lsf.a_no_check(k2, ec);
  double measured = type == 1 ? D.log_energy_tri() : D.log_energy_trap();
  return exp(target - measured);
}

void flip_repeated(Vek_PitchSyncBuffer &D, const EST_Track &m, int i) {
  if (i < 1) return;
  int me = (int)(m.a_no_check(i, 1) + 0.5f), k = 0;
  for (int j = i - 1; j >= 1 && (int)(m.a_no_check(j, 1) + 0.5f) == me; j--) k++;
  if (k % 2 == 1) std::reverse(&D[0], &D[0] + D.end());
}

void ola_add(const Vek_PitchSyncBuffer &D, const Vek_PitchSyncBuffer &G, double g, Vek_PitchSyncBuffer &A) {
  for (int j = 0; j < D.mark; j++) {
    int k = A.end() - D.mark + j;
    if (k >= 0 && k < A.Nbuf()) A[k] += g * D[j] * G[j];
  }
}

void ola_tail(const Vek_PitchSyncBuffer &D, const Vek_PitchSyncBuffer &G, double g, Vek_PitchSyncBuffer &A) {
  for (int k = 0; k < A.Nbuf(); k++) A[k] = 0;
  for (int k = 0; k < std::min(A.end(), D.end() - D.mark); k++) A[k] = g * D[D.mark + k] * G[D.mark + k];
}


// Voice-quality warp factors; 1.0 until vqual_mod sets them.
struct VQual {
  double global_wave = 1, voiced_wave = 1, global_lsf = 1, voiced_lsf = 1;
};

bool vqual_mod_init(VQual &q) {
  EST_Features &p = resLPC_params();
  if (!p.present("vqual_mod")) return false;
  q = VQual();
  for (auto &kv : parse_pairs((const char *)p.S("vqual_mod"))) {
    double v = atof(kv.second.c_str());
    if (kv.first == "vt_global_warp_wave") q.global_wave = v;
    if (kv.first == "vt_voiced_warp_wave") q.voiced_wave = v;
    if (kv.first == "vt_global_warp_lsf") q.global_lsf = v;
    if (kv.first == "vt_voiced_warp_lsf") q.voiced_lsf = v;
  }
  return true;
}

// Resamples the period around its mark by factor: right of the mark up to
// end - 1, left of it down to sample 0 (never below).
void vt_warp_resample(Vek_PitchSyncBuffer &D, double factor) {
  if (factor == 1.0 || !(factor > 0)) return;
  int M = D.mark, E = D.end();
  std::vector<double> out(D.Nbuf(), 0.0);
  auto at = [&](double c) {
    int k = (int)c;
    double f = c - k;
    double a = k < D.Nbuf() ? D[k] : 0, b = k + 1 < D.Nbuf() ? D[k + 1] : 0;
    return (1 - f) * a + f * b;
  };
  double c = M;
  for (int i = M; i < E && i < D.Nbuf(); i++) {
    out[i] = at(c);
    if (c >= E - 1) break;
    c += factor;
  }
  double d = M;
  for (int j = M; j >= 1 && d >= 0; j--) {
    out[j] = at(d);
    d -= factor;
  }
  for (int i = 0; i < D.Nbuf(); i++) D[i] = out[i];
}

void vt_warp_wave(Vek_PitchSyncBuffer &D, const VQual &q, float v) {
  vt_warp_resample(D, v > 0.5f ? q.global_wave * q.voiced_wave : q.global_wave);
}

// The number given for "pulses" in the dump list; 0 without one.
int dump_pulses() {
  EST_Features &p = resLPC_params();
  if (!p.present("dump")) return 0;
  for (auto &kv : parse_pairs((const char *)p.S("dump")))
    if (kv.first == "pulses") return atoi(kv.second.c_str());
  return 0;
}

// count channels prefix0 .. prefix(count-2), prefix + "N", then energy.
void add_channels(EST_Track &t, int count, const char *prefix, const char *energy) {
  int base = t.num_channels();
  t.resize(t.num_frames(), base + count + 1);
  set_LSF_channel_names(t, count, prefix, base);
  t.set_channel_name(energy, base + count);
  for (int i = 0; i < t.num_frames(); i++)
    for (int c = base; c <= base + count; c++) t.a_no_check(i, c) = 0;
}

// Adds the left part of the windowed period onto the accumulator, sends the
// accumulator out, and keeps the right part (P samples) for the next mark.
void overlap_add(const Vek_PitchSyncBuffer &D, const Vek_PitchSyncBuffer &G, double g, int P, Vek_PitchSyncBuffer &A,
                 resLPC_outbuf &out) {
  ola_add(D, G, g, A);
  resLPC_outbuf_add(out, &A[0], A.end());
  A.mark = 0;
  A.set_end(P);
  ola_tail(D, G, g, A);
}

int capacity(const VekresLPC_src &src, const VekresLPC_targ &targ) {
  auto longest = [](const EST_Track &t) {
    float m = 0;
    for (int i = 0; i + 1 < t.num_frames(); i++) m = std::max(m, t.t(i + 1) - t.t(i));
    return m;
  };
  int n = targ.map.num_frames();
  float end = const_cast<Vek_TimeWarp &>(targ.warp).targ_end();
  float tail = n ? end - targ.map.t(n - 1) : 0;
  int u = std::max((int)(2 * src.rate * longest(src.pm) + 1), (int)(2 * src.rate * longest(targ.map) + 1));
  u = std::max(u, (int)(tail * src.rate + 0.5f));
  return u + 2;
}

}  // namespace

void resLPC_synthesize(VekresLPC_src &src, VekresLPC_targ &targ, resLPC_outbuf &out) {
  EST_Track &m = targ.map;
  int N = m.num_frames();
  if (N == 0) return;
  int pulses = dump_pulses();
  int dither = pint("uv_dither", 1);
  double post_gain = pfloat("post_gain"), uv_gain = pfloat("uv_gain"), deemph = pfloat("deemphasis");
  int type = resLPC_window_type(ptext("window_type"));
  float rate = src.rate;
  if (!src.lsf.has_channel("LSF_N") || !src.lsf.has_channel("LSF_0")) Vek_fail("LSF tracks not present! \n");
  if (!src.lsf.has_channel("E")) Vek_fail("Energy track not present! \n");
  if (!m.has_channel("lpc_map") || !m.has_channel("exc_map")) Vek_fail("pmark mapping tracks not present! \n");
  if (!m.has_channel("v/uv")) Vek_fail("v/uv track not present! \n");
  int l0 = src.lsf.channel_position("LSF_0"), lN = src.lsf.channel_position("LSF_N"), ec = src.lsf.channel_position("E");
  int p = lN - l0 + 1;
  if (p < 2 || p % 2) Vek_fail("VekresLPC: the source holds %d LSF channels, not an even number", p);
  int lc = m.channel_position("lpc_map"), xc = m.channel_position("exc_map"), vc = m.channel_position("v/uv");
  // With pulses the map track keeps what each period used.
  int lpc_ch = m.num_channels(), lsf_ch = lpc_ch + p + 2;
  if (pulses) {
    add_channels(m, p + 1, "LPC_", "Elpc");
    add_channels(m, p, "LSF_", "Elsf");
  }
  out.incr = std::max(100, pint("outbuf_incr", 300));
  VQual vq;
  bool vqual = vqual_mod_init(vq);
  if (pint("doVC", 0)) resLPC_vc_map_lsf(src.lsf, l0, p);
  int U = capacity(src, targ);
  Vek_PitchSyncBuffer X(U), D(U), G(U), A(U);
  Vek_LSF_to_LPC conv(p);
  std::vector<double> lsf(p), lpc(p + 1);
  float end = targ.warp.targ_end();
  int prev = (int)(rate * m.t(0) + 0.5f), m_prev = 0;
  A.clear();
  A.mark = 0;
  A.set_end(prev);
  for (int i = 0; i < N; i++) {
    int mm = i < N - 1 ? (int)(rate * m.t(i + 1) + 0.5f) : (int)(end * rate + 0.5f);
    int P = std::max(0, mm - m_prev);
    float x = m.a_no_check(i, lc), e = m.a_no_check(i, xc), v = m.a_no_check(i, vc);
    int k = std::max(0, std::min((int)x, src.lsf.num_frames() - 1)), k2 = std::min((int)x + 1, src.lsf.num_frames() - 1);
    float f = x - (int)x;
    for (int c = 0; c < p; c++)
      lsf[c] = (1 - f) * src.lsf.a_no_check(k, l0 + c) + f * src.lsf.a_no_check(k2, l0 + c);
    conv.lsf_to_lpc(lsf.data(), lpc.data());
    if (pulses) {
      for (int c = 0; c <= p; c++) m.a_no_check(i, lpc_ch + c) = (float)lpc[c];
      for (int c = 0; c < p; c++) m.a_no_check(i, lsf_ch + c) = (float)lsf[c];
    }
    get_exc_period(e, src.store, src.pm, X, prev, P, rate);
    D.clear();
    D.mark = X.mark;
    D.set_end(X.end());
    lpc_synth_filter(&X[0], lpc.data(), p + 1, &D[0], X.end());
    if (pulses) {
      X.save_riff("exc" + std::to_string(i) + ".wav", (int)rate, 1.0);
      D.save_riff("sp" + std::to_string(i) + ".wav", (int)rate, 1.0);
    }
    if (vqual) vt_warp_wave(D, vq, v);
    double y = 0;
    for (int j = 0; j < D.end(); j++) D[j] = y = deemph * y + (1 - deemph) * D[j];
    if (pulses) D.save_riff("d" + std::to_string(i) + ".wav", (int)rate, 1.0);
    G.mark = D.mark;
    G.set_end(D.end());
    make_window(G, type);
    double g = energy_gain(D, src.lsf, ec, x, type);
    if (v == 0) g *= uv_gain;
    g *= post_gain;
    if (!std::isfinite(g)) g = 0;
    if (pulses) m.a_no_check(i, lsf_ch + p) = (float)g;
    if ((dither & 1) && v == 0) flip_repeated(D, m, i);
    overlap_add(D, G, g, P, A, out);
    prev = P;
    m_prev = mm;
  }
  resLPC_outbuf_add(out, &A[0], A.end());
}

void resLPC_synthesize_exc(VekresLPC_src &src, VekresLPC_targ &targ, resLPC_outbuf &out) {
  EST_Track &m = targ.map;
  int N = m.num_frames();
  if (N == 0) return;
  if (!m.has_channel("exc_map")) Vek_fail("pmark mapping tracks not present! \n");
  if (!m.has_channel("v/uv")) Vek_fail("v/uv track not present! \n");
  double post_gain = pfloat("post_gain"), uv_gain = pfloat("uv_gain");
  int type = resLPC_window_type(ptext("window_type"));
  float rate = src.rate;
  int xc = m.channel_position("exc_map"), vc = m.channel_position("v/uv");
  out.incr = std::max(100, pint("outbuf_incr", 300));
  VQual vq;
  bool vqual = vqual_mod_init(vq);
  int U = capacity(src, targ);
  Vek_PitchSyncBuffer X(U), G(U), A(U);
  float end = targ.warp.targ_end();
  int prev = (int)(rate * m.t(0) + 0.5f), m_prev = 0;
  A.clear();
  A.mark = 0;
  A.set_end(prev);
  for (int i = 0; i < N; i++) {
    int mm = i < N - 1 ? (int)(rate * m.t(i + 1) + 0.5f) : (int)(end * rate + 0.5f);
    int P = std::max(0, mm - m_prev);
    get_exc_period(m.a_no_check(i, xc), src.store, src.pm, X, prev, P, rate);
    if (vqual) vt_warp_wave(X, vq, m.a_no_check(i, vc));
    G.mark = X.mark;
    G.set_end(X.end());
    make_window(G, type);
    double g = post_gain * (m.a_no_check(i, vc) != 0 ? 1 : uv_gain);
    overlap_add(X, G, g, P, A, out);
    prev = P;
    m_prev = mm;
  }
  resLPC_outbuf_add(out, &A[0], A.end());
}

// --------------------------------------------------------------- debug dump

namespace {

// The (KEY VALUE) pairs of a printed association list.
std::vector<std::pair<std::string, std::string>> parse_pairs(const std::string &text) {
  std::vector<std::pair<std::string, std::string>> out;
  for (auto &l : parse_lists(text))
    if (l.size() == 2) out.emplace_back(l[0], l[1]);
  return out;
}

std::string lookup(const std::vector<std::pair<std::string, std::string>> &l, const char *k) {
  for (auto &kv : l)
    if (kv.first == k) return kv.second;
  return "";
}

void report(bool ok, const std::string &what, const std::string &why) {
  if (!ok) fprintf(stderr, "VekresLPC dump: %s: %s\n", what.c_str(), why.c_str());
}

bool save_track(EST_Track &t, const std::string &file) { return t.save(file.c_str()) == write_ok; }

bool save_out(const resLPC_outbuf &out, float rate, const std::string &file) {
  EST_Wave w(out.used, 1, (int)rate);
  for (int i = 0; i < out.used; i++) w.a_no_check(i) = out.samples[i];
  return w.save(file.c_str(), "riff") == write_ok;
}

void dump_joins(EST_Utterance *utt, VekresLPC_src &src, VekresLPC_targ &targ, const std::string &file) {
  std::vector<float> times;
  std::vector<std::string> names;
  if (utt->relation_present("dbUnit"))
    for (EST_Item *u = utt->relation("dbUnit")->head(); u; u = inext(u)) {
      names.push_back((const char *)u->name());
      if (iprev(u) == nullptr) continue;
      int n = src.lsf.num_frames();
      if (n == 0) continue;
      int k = std::max(0, std::min(fint(u, "lpcpm"), n - 1));
      times.push_back((targ.warp.fwdmap(src.lsf.t(std::max(k - 1, 0))) + targ.warp.fwdmap(src.lsf.t(k))) / 2);
    }
  if (names.size() < 2) {
    fprintf(stderr, "\tno joins\n");
    return;
  }
  times.push_back(out_len(src.store) / src.rate);
  names.resize(times.size());
  std::string why;
  report(save_Vek_labels(times, names, file, -99, why), "targjoin", why);
}

// With voice conversion the synthesis has already mapped the source LSFs in
// place; they are shown as synthesis used them, mapped once.
void dump_targ_lsf(VekresLPC_src &src, VekresLPC_targ &targ) {
  int l0 = src.lsf.channel_position("LSF_0"), lN = src.lsf.channel_position("LSF_N"),
      ec = src.lsf.channel_position("E");
  if (l0 < 0 || lN < l0 || ec < 0) return;
  int p = lN - l0 + 1, base = targ.map.num_channels(), n = src.lsf.num_frames();
  EST_Track &m = targ.map;
  m.resize(m.num_frames(), base + p + 1);
  set_LSF_channel_names(m, p, "LSF_", base);
  m.set_channel_name("Elsf", base + p);
  int lc = m.channel_position("lpc_map");
  for (int i = 0; i < m.num_frames() && n > 0; i++) {
    float x = m.a_no_check(i, lc);
    int k = std::max(0, std::min((int)x, n - 1)), k2 = std::min((int)(x + 1), n - 1);
    float f = x - (int)x;
    for (int c = 0; c <= p; c++) {
      int sc = c < p ? l0 + c : ec;
      m.a_no_check(i, base + c) = (1 - f) * src.lsf.a_no_check(k, sc) + f * src.lsf.a_no_check(k2, sc);
    }
  }
}

}  // namespace

void resLPC_dump(EST_Utterance *utt, VekresLPC_src &src, VekresLPC_targ &targ, resLPC_outbuf &out) {
  EST_Features &p = resLPC_params();
  auto l = parse_pairs(p.present("dump") ? (const char *)p.S("dump") : "NIL");
  if (l.empty()) return;
  std::string why;
  auto key = [&](const char *k) {
    std::string f = lookup(l, k);
    if (!f.empty()) printf("\tsaving %s to \"%s\"\n", k, f.c_str());
    return f;
  };
  std::string f;
  if (!(f = key("chunks")).empty()) report(src.store.save_debug(f, why), f, why);
  if (!(f = key("srcseg")).empty()) report(targ.warp.save_src(f, why), f, why);
  if (!(f = key("srcexc")).empty()) report(src.store.save_chunks(f, why), f, why);
  if (!(f = key("srcpm")).empty()) report(save_track(src.pm, f), f, "cannot write");
  if (!(f = key("srcpm_as_wav")).empty()) report(src.pm.save_pulses(f, src.store.rate()), f, "cannot write");
  if (!(f = key("srclpc")).empty()) report(save_track(src.lsf, f), f, "cannot write");
  if (!(f = key("targseg")).empty()) report(targ.warp.save_targ(f, why), f, why);
  if (!(f = key("targjoin")).empty()) dump_joins(utt, src, targ, f);
  if (!(f = key("targexc")).empty()) {
    resLPC_outbuf e;
    resLPC_synthesize_exc(src, targ, e);
    report(save_out(e, src.rate, f), f, "cannot write");
  }
  if (!(f = key("targpm")).empty()) report(save_track(targ.map, f), f, "cannot write");
  if (!(f = key("targpm_as_wav")).empty()) report(targ.map.save_pulses(f, src.store.rate()), f, "cannot write");
  bool pulses = dump_pulses() != 0;
  if (pulses) {
    printf("\tsaving pulses to \"individual files and 'targlpc_all.est'\"\n");
    report(save_track(targ.map, "targlpc_all.est"), "targlpc_all.est", "cannot write");
  }
  if (!(f = key("targlsf")).empty()) {
    if (pulses) {
      printf("LSFs already dumped in 'targlpc_all.est' for pulses.\n");
    } else {
      dump_targ_lsf(src, targ);
      report(save_track(targ.map, f), f, "cannot write");
    }
  }
  if (!(f = key("output")).empty()) report(save_out(out, src.rate, f), f, "cannot write");
}

// -------------------------------------------------------------- resynthesis

float resLPC_resynth(EST_Utterance *utt, const std::string &wav, const std::string &pmf, const std::string &lsff,
                     resLPC_outbuf &out) {
  VekresLPC_src src;
  VekresLPC_targ targ;
  if (!wav.empty()) src.store.load(wav);
  src.rate = (float)src.store.rate();
  float T = src.store.used() / src.rate;
  auto two_frames = [&](Vek_CachedTrack &t) {
    t.resize(2, t.num_channels());
    t.t(0) = 0;
    t.t(1) = T;
  };
  if (!pmf.empty()) {
    if (src.pm.load(pmf.c_str()) != read_ok) Vek_fail("VekresLPC.resynth: cannot read pm_file %s", pmf.c_str());
    if (src.pm.has_channel("v/uv")) {
      // Only the voiced marks; the copy takes the loaded track's place.
      int vc = src.pm.channel_position("v/uv");
      Vek_CachedTrack v;
      int n = 0;
      for (int i = 0; i < src.pm.num_frames(); i++) n += src.pm.a_no_check(i, vc) != 0;
      v.resize(n, src.pm.num_channels());
      for (int c = 0; c < src.pm.num_channels(); c++) v.set_channel_name(src.pm.channel_name(c), c);
      for (int i = 0, k = 0; i < src.pm.num_frames(); i++)
        if (src.pm.a_no_check(i, vc) != 0) {
          v.t(k) = src.pm.t(i);
          for (int c = 0; c < src.pm.num_channels(); c++) v.a_no_check(k, c) = src.pm.a_no_check(i, c);
          k++;
        }
      src.pm = v;
    }
  } else {
    two_frames(src.pm);
  }
  if (!lsff.empty()) {
    if (src.lsf.load(lsff.c_str()) != read_ok) Vek_fail("VekresLPC.resynth: cannot read lsf_file %s", lsff.c_str());
  } else {
    two_frames(src.lsf);
  }
  if (!utt->relation_present("SrcSeg")) Vek_fail("VekresLPC.resynth: the utterance has no SrcSeg relation");
  std::vector<EST_Item *> segs;
  for (EST_Item *s = utt->relation("SrcSeg")->head(); s; s = inext(s)) segs.push_back(s);
  float c = 0;
  for (EST_Item *s : segs) {
    c += ffloat(s, "dur");
    s->set("end", c);
  }
  float lim = T;
  for (size_t k = segs.size(); k-- > 1;) {
    if (lim < segs[k]->F("end")) {
      segs[k]->set("end", lim);
      lim -= 0.001f;
    }
    if (lim < 0) Vek_fail("Can't make sense of SrcSeg input.\n");
  }
  float prev = 0;
  for (EST_Item *s : segs) {
    s->set("dur", s->F("end") - prev);
    prev = s->F("end");
  }
  if (ptext("mod_method") == "none")
    resLPC_keep_prosody(utt, src, targ);
  else
    resLPC_modify_prosody(utt, src, targ);
  if (!lsff.empty())
    resLPC_synthesize(src, targ, out);
  else
    resLPC_synthesize_exc(src, targ, out);
  resLPC_dump(utt, src, targ, out);
  return src.rate;
}

// ------------------------------------------------------------ Lisp module

namespace {

// The printed text of a Lisp value, made without allocating Lisp cells.
std::string printed(LISP v) {
  EST_String s = siod_sprint(v);
  return (const char *)s;
}

// "t", "y" (any case) or a non-zero number: both init and init++ read the
// switch this way, so the same text means the same thing in either.
int truthy(const std::string &text) {
  char *end = nullptr;
  double v = strtod(text.c_str(), &end);
  if (!text.empty() && *end == 0) return v != 0;
  return Vek_str_to_bool(text) ? 1 : 0;
}

void set_defaults(LISP p) {
  const char *fn = "VekresLPC.init";
  EST_Features &f = resLPC_params();
  struct {
    const char *n;
    double d;
  } floats[] = {{"F0_default", 50.0}, {"T0_UV_thresh", 0.02}, {"T0_UV_pm", 0.01},
                {"post_gain", 1.0},   {"deemphasis", 0.94},  {"uv_gain", 1.0}};
  for (auto &x : floats) f.set(x.n, (float)Vek_paramNumber(p, x.n, x.d, fn));
  f.set("uv_dither", (int)Vek_paramNumber(p, "uv_dither", 1, fn));
  f.set("window_type", Vek_paramText(p, "window_type", "triangle", fn).c_str());
  f.set("outbuf_incr", (int)Vek_paramNumber(p, "outbuf_incr", 1024, fn));
  const char *texts[][2] = {{"mod_method", "direct"}, {"dur_method", "direct"}, {"pitch_method", "direct"},
                            {"vc_file", ""}};
  for (auto &x : texts) f.set(x[0], Vek_paramText(p, x[0], x[1], fn).c_str());
  for (const char *n : {"vqual_mod", "spectra_smooth", "power_smooth"})
    if (Vek_paramLisp(p, n) != NIL) f.set(n, printed(Vek_paramLisp(p, n)).c_str());
  f.set("smooth_cross_ph_join", truthy(Vek_paramText(p, "smooth_cross_ph_join", "N", fn)));
  f.set("spectra_match_or_replace", Vek_paramText(p, "spectra_match_or_replace", "match", fn).c_str());
  f.set("power_match_or_replace", Vek_paramText(p, "power_match_or_replace", "match", fn).c_str());
  if (Vek_paramLisp(p, "dump") != NIL) f.set("dump", printed(Vek_paramLisp(p, "dump")).c_str());
  // Checked now rather than in the middle of a synthesis.
  resLPC_window_type((const char *)f.S("window_type"));
  if (!(f.F("T0_UV_pm") > 0)) Vek_fail("VekresLPC.init: T0_UV_pm must be above 0");
}

void check_vc_file(EST_Features &f) {
  std::string vc = (const char *)f.S("vc_file");
  if (vc.empty()) return;
  resLPC_load_vc_map(vc);
  f.set("doVC", 1);
}

LISP reslpcInit(LISP params) {
  if (params != NIL && Vek_listLength(params) < 0) Vek_fail("VekresLPC.init: PARAMS is not a list");
  std::unique_ptr<EST_Features> keep(g_params.release());
  try {
    resLPC_new_params();
    set_defaults(params);
    check_vc_file(resLPC_params());
  } catch (...) {
    g_params = std::move(keep);
    throw;
  }
  return NIL;
}

LISP reslpcInitPlus(LISP params) {
  const char *fn = "VekresLPC.init++";
  if (params != NIL && Vek_listLength(params) < 0) Vek_fail("%s: PARAMS is not a list", fn);
  if (!resLPC_params_exist()) {
    resLPC_new_params();
    set_defaults(NIL);
  }
  EST_Features next = resLPC_params();
  static const char *lists[] = {"spectra_smooth", "power_smooth", "vqual_mod", "dump"};
  static const char *texts[] = {"window_type", "mod_method", "dur_method", "pitch_method", "spectra_match_or_replace",
                                "power_match_or_replace", "vc_file"};
  for (LISP l = params; l != NIL; l = CDR(l)) {
    LISP e = CAR(l);
    if (e == NIL || !CONSP(e) || CDR(e) == NIL || !CONSP(CDR(e))) Vek_fail("%s: entry is not (NAME VALUE)", fn);
    std::string n = Vek_argText(CAR(e), fn, "NAME");
    LISP v = CAR(CDR(e));
    if (n == "smooth_cross_ph_join")
      next.set(n.c_str(), truthy(Vek_argText(v, fn, n.c_str())));
    else if (std::find_if(std::begin(lists), std::end(lists), [&](const char *x) { return n == x; }) != std::end(lists))
      next.set(n.c_str(), printed(v).c_str());
    else if (std::find_if(std::begin(texts), std::end(texts), [&](const char *x) { return n == x; }) != std::end(texts))
      next.set(n.c_str(), Vek_argText(v, fn, n.c_str()).c_str());
    else {
      if (!next.present(n.c_str())) printf("new input param \"%s\" added\n", n.c_str());
      next.set(n.c_str(), (float)Vek_argNumber(v, fn, n.c_str()));
    }
  }
  resLPC_window_type((const char *)next.S("window_type"));
  check_vc_file(next);
  resLPC_params() = next;
  return NIL;
}

LISP reslpcSynth(LISP utt) {
  EST_Utterance *u = Vek_argUtt(utt, "VekresLPC.synth");
  VekresLPC_src src;
  VekresLPC_targ targ;
  resLPC_outbuf out;
  resLPC_concat_units(u, src);
  if (ptext("mod_method") == "none")
    resLPC_keep_prosody(u, src, targ);
  else
    resLPC_modify_prosody(u, src, targ);
  resLPC_synthesize(src, targ, out);
  resLPC_dump(u, src, targ, out);
  std::unique_ptr<EST_Wave> w(new EST_Wave(out.used, 1, (int)src.rate));
  for (int i = 0; i < out.used; i++) w->a_no_check(i) = out.samples[i];
  utt_set_wave(u, w.release());
  return utt;
}

LISP reslpcResynth(LISP utt, LISP files) {
  const char *fn = "VekresLPC.resynth";
  EST_Utterance *u = Vek_argUtt(utt, fn);
  if (files != NIL && Vek_listLength(files) < 0) Vek_fail("%s: FILELIST is not a list", fn);
  if (!resLPC_params_exist()) {
    resLPC_new_params();
    set_defaults(NIL);
  }
  std::string wav = Vek_paramText(files, "wav_file", "", fn), pm = Vek_paramText(files, "pm_file", "", fn),
              lsf = Vek_paramText(files, "lsf_file", "", fn), mod = Vek_paramText(files, "modlsf_file", "", fn);
  if (!mod.empty()) {
    EST_Track t;
    if (t.load(mod.c_str()) != read_ok) Vek_fail("%s: cannot read modlsf_file %s", fn, mod.c_str());
    printf("mod lsf features not yet implemented \n");
  }
  resLPC_outbuf out;
  float rate = resLPC_resynth(u, wav, pm, lsf, out);
  std::unique_ptr<EST_Wave> w(new EST_Wave(out.used, 1, (int)rate));
  for (int i = 0; i < out.used; i++) w->a_no_check(i) = out.samples[i];
  utt_set_wave(u, w.release());
  return utt;
}

}  // namespace

void VekresLPC_register_synthesis() {
  init_subr_2("VekresLPC.resynth", Vek_wrap2<reslpcResynth>,
              "(VekresLPC.resynth UTT FILELIST)\n  Resynthesize wavefile using prosodic modification\n  info in UTT.  Must have set Segment, Target, and SrcSeg relations. \n  FILELIST is an assoc list of keys and associated filenames.");
  init_subr_1("VekresLPC.init", Vek_wrap1<reslpcInit>,
              "(VekresLPC.init PARAMS)\n  Initialize and set parameters of resLPC synthesizer. \n   PARAMS is an assoc list of parameter name and value.");
  init_subr_1("VekresLPC.init++", Vek_wrap1<reslpcInitPlus>,
              "(VekresLPC.init++ PARAMS)\n  Add to initialization parameters of resLPC synthesizer \n  without destroying existing settings. PARAMS is an assoc list \n  of parameter name and value.");
  init_subr_1("VekresLPC.synth", Vek_wrap1<reslpcSynth>,
              "(VekresLPC.synth UTT)\n  Synthesize a waveform using the currently selected resLPC database.");
}
