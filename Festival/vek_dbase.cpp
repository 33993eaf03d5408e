#include "vek_dbase.h"

#include <cmath>
#include <cstring>
#include <fstream>
#include <sstream>

#include "vek_lisp.h"

// --- unit dictionary

void VekdbUnits::resize(int n) {
  names.resize(n);
  files.resize(n);
  Lindx.resize(n);
  Rindx.resize(n);
  segB.resize(n);
  Lbnd.resize(n);
  Rbnd.resize(n);
  segnames.resize(n);
  segends.resize(n);
}

namespace {

std::vector<std::string> split_ws(const std::string &line) {
  std::istringstream in(line);
  std::vector<std::string> t;
  std::string w;
  while (in >> w) t.push_back(w);
  return t;
}

bool is_comment_or_blank(const std::string &line) {
  if (!line.empty() && line[0] == ';') return true;
  return line.find_first_not_of(" \t\r\n") == std::string::npos;
}

int parse_int(const std::string &s, const char *what, int line) {
  char *end = nullptr;
  long v = strtol(s.c_str(), &end, 10);
  if (s.empty() || *end) Vek_fail("Vekdbase: %s \"%s\" on line %d of unitdic is not a whole number\n", what, s.c_str(), line);
  return (int)v;
}

int ms_to_samples(const std::string &s, float rate, int line) {
  char *end = nullptr;
  double ms = strtod(s.c_str(), &end);
  if (s.empty() || *end) Vek_fail("Vekdbase: time \"%s\" on line %d of unitdic is not a number\n", s.c_str(), line);
  return (int)(ms * rate * 0.001);
}

}  // namespace

void VekdbUnits::load_unitdic(const std::string &file, float rate) {
  std::ifstream in(file);
  if (!in) Vek_fail("Vekdbase: Can't open unitdic_file %s\n", file.c_str());
  std::vector<std::pair<int, std::vector<std::string>>> lines;
  std::string line;
  for (int ln = 1; std::getline(in, line); ln++)
    if (!is_comment_or_blank(line)) lines.emplace_back(ln, split_ws(line));
  resize((int)lines.size());
  const char *fields = "Vekdbase: is there something wrong w/ # of fields on each line of unitdic ??\n";
  for (size_t i = 0; i < lines.size(); i++) {
    const std::vector<std::string> &t = lines[i].second;
    int ln = lines[i].first;
    if (t.size() < 4) Vek_fail("%s", fields);
    names[i] = t[0];
    files[i] = t[1];
    Lindx[i] = parse_int(t[2], "Lindx", ln);
    Rindx[i] = parse_int(t[3], "Rindx", ln);
    if (t.size() < 8) Vek_fail("%s", fields);
    Lbnd[i] = Vek_str_to_bool(t[4]);
    Rbnd[i] = Vek_str_to_bool(t[5]);
    segB[i] = ms_to_samples(t[6], rate, ln);
    // Pairs of segment name and end; a trailing name without its end is ignored.
    for (size_t k = 7; k + 1 < t.size(); k += 2) {
      int e = ms_to_samples(t[k + 1], rate, ln);
      if (!segends[i].empty() && e <= segends[i].back())
        Vek_fail("Vekdbase: segments out of order in unit %d (line %d of unitdic)\n", (int)i, (int)i + 1);
      segnames[i].push_back(t[k]);
      segends[i].push_back(e);
    }
    if (segends[i].empty()) Vek_fail("%s", fields);
  }
}

void VekdbUnits::write(FILE *fp) const {
  int n = Nunits();
  Vek_fwrite_int32(n, fp);
  for (int k = 0; k < 5; k++) Vek_fwrite_byte(0, fp);  // every column in full
  Vekfwrite_StrVector(names, fp);
  Vekfwrite_IntVector(Lindx, fp);
  Vekfwrite_IntVector(Rindx, fp);
  Vekfwrite_CharVector(Lbnd, fp);
  Vekfwrite_CharVector(Rbnd, fp);
  Vekfwrite_IntVector(segB, fp);
  for (int u = 0; u < n; u++) {
    Vek_fwrite_int32((int32_t)segnames[u].size(), fp);
    Vekfwrite_StrVector(segnames[u], fp);
    Vekfwrite_IntVector(segends[u], fp);
  }
}

void VekdbUnits::read(FILE *fp, bool swap) {
  int n = Vek_fread_int32(fp, swap, __LINE__);
  // Each unit takes at least its name and one segment in the file.
  Vek_check_count(fp, n, 8, "units");
  uint8_t flags[5];
  Vek_fread_checked(flags, 1, 5, fp, __LINE__);
  resize(n);
  std::vector<std::string> nm;
  Vekfread_StrVector(nm, fp);
  if ((int)nm.size() != n) Vek_fail("Vekdbase: group file holds %d unit names for %d units\n", (int)nm.size(), n);
  names = nm;
  // A constant column holds one value; every unit gets it, so per-unit
  // queries stay in bounds.
  auto ints = [&](std::vector<int32_t> &col, bool constant) {
    if (constant)
      col.assign(n, Vek_fread_int32(fp, swap, __LINE__));
    else
      Vekfread_IntVector(col, n, fp, swap);
  };
  auto bytes = [&](std::vector<uint8_t> &col, bool constant) {
    if (constant)
      col.assign(n, Vek_fread_byte(fp, __LINE__) ? 1 : 0);
    else
      Vekfread_CharVector(col, n, fp);
  };
  ints(Lindx, flags[2]);
  ints(Rindx, flags[3]);
  bytes(Lbnd, flags[0]);
  bytes(Rbnd, flags[1]);
  ints(segB, flags[4]);
  for (int u = 0; u < n; u++) {
    int s = Vek_fread_int32(fp, swap, __LINE__);
    Vek_check_count(fp, s, 4, "segments");
    Vekfread_StrVector(segnames[u], fp);
    if ((int)segnames[u].size() != s) Vek_fail("Vekdbase: unit %d names %d segments, not %d\n", u, (int)segnames[u].size(), s);
    Vekfread_IntVector(segends[u], s, fp, swap);
    files[u].clear();
  }
}

// --- unit data

VekresLPC_db::VekresLPC_db(int n)
    : exc(n), excB(n), excE(n), exc_off(n), pm_off(n), lpc_off(n), pm(n), lpc(n), exc_ok(n), pm_ok(n), lpc_ok(n),
      gain0(n, 1.0f), gain1(n, 1.0f) {}

void VekresLPC_db::check_loaded(int u, const char *what) const {
  if (u < 0 || u >= (int)exc.size() || !loaded(u)) {
    fprintf(stderr, "VekresLPC_db: request for unloaded %s unit - db_indx=%d\n", what, u);
    Vek_fail("VekresLPC_db::get_dbUnit - tried to get unit %d, which is not loaded!", u);
  }
}

void VekresLPC_db::free_unit(int u) {
  exc[u] = EST_Wave();
  pm[u] = EST_Track();
  lpc[u] = EST_Track();
  exc_ok[u] = pm_ok[u] = lpc_ok[u] = 0;
}

void VekresLPC_db::free_loaded_units() {
  for (int u : on_demand) free_unit(u);
  on_demand.clear();
}

void VekresLPC_db::load_gain_file(const std::string &file, const VekdbUnits &units) {
  if (file == "none") {
    printf("no gain file specified\n");
    return;
  }
  std::ifstream in(file);
  if (!in) Vek_fail("VekresLPC_db: Can't open gain factor file %s", file.c_str());
  std::string line;
  int n = units.Nunits(), count = 0;
  while (count < n && std::getline(in, line)) {
    if (is_comment_or_blank(line)) continue;
    std::vector<std::string> t = split_ws(line);
    count++;
    if (t.size() < 3) Vek_fail("VekresLPC_db: gain file line \"%s\" needs a name and two gains", line.c_str());
    int u = -1;
    for (int i = 0; i < n && u < 0; i++)
      if (units.names[i] == t[0]) u = i;
    if (u < 0) {
      printf("no match found for gain file unit %s\n", t[0].c_str());
      continue;
    }
    gain0[u] = (float)atof(t[1].c_str());
    gain1[u] = (float)atof(t[2].c_str());
  }
  printf(" %d units in index file, %d in gain file\n", n, count);
}

void VekresLPC_db::load_separate(int u, Vekdbase &db) {
  const VekdbUnits &d = db.units;
  std::string ep = db.file_path("exc_dir", "exc_ext", u);
  if (exc[u].load(ep.c_str(), 0, 0, 16000) != read_ok || exc[u].num_samples() == 0)
    Vek_fail("VekresLPC_db:  could not read exc file %s", ep.c_str());
  excB[u] = d.segB[u];
  excE[u] = d.segends[u].back();
  if (excB[u] < 0 || excE[u] > exc[u].num_samples() || excB[u] >= excE[u])
    Vek_fail("VekresLPC_db: unit %d (%d .. %d) lies outside its exc file %s of %d samples", u, excB[u], excE[u],
             ep.c_str(), exc[u].num_samples());
  exc_ok[u] = 1;
  float shift = -excB[u] / db.samp_freq;
  std::string pp = db.file_path("pm_dir", "pm_ext", u);
  if (pm[u].load(pp.c_str()) != read_ok) Vek_fail("VekresLPC_db:  could not read pm file %s", pp.c_str());
  for (int i = 0; i < pm[u].num_frames(); i++) pm[u].t(i) += shift;
  pm_ok[u] = 1;
  std::string lp = db.file_path("lpc_dir", "lpc_ext", u);
  if (lpc[u].load(lp.c_str()) != read_ok) Vek_fail("VekresLPC_db:  could not read lpc file %s", lp.c_str());
  for (int i = 0; i < lpc[u].num_frames(); i++) lpc[u].t(i) += shift;
  lpc_ok[u] = 1;
}

void VekresLPC_db::apply_gain(int u) {
  float g0 = gain0[u], g1 = gain1[u];
  if (g0 == 1.0f && g1 == 1.0f) return;
  EST_Wave &w = exc[u];
  int B = excB[u], E = excE[u];
  if (!lpc[u].has_channel("E")) Vek_fail("VekresLPC_db: unit %d has gains but its LPC track has no E channel", u);
  bool clipped = false;
  double g = g0, step = (g1 - g0) / double(E - B);
  for (int i = 0; i < w.num_samples(); i++) {
    double v = w.a_no_check(i) * g;
    if (v > 32767) v = 32767, clipped = true;
    if (v < -32767) v = -32767, clipped = true;
    w.a_no_check(i) = (short)v;
    if (i >= B && i < E) g += step;
  }
  if (clipped) printf("clipping in gain modification for unit %d\n", u);
  EST_Track &t = lpc[u];
  int e = t.channel_position("E");
  float rate = w.sample_rate();
  int a = t.index(0.0f), z = t.index((E - B) / rate);
  for (int i = 0; i < t.num_frames(); i++) {
    double gi = i < a ? g0 : i > z ? g1 : g0 + (g1 - g0) * t.t(i) * rate / (E - B);
    t.a_no_check(i, e) += (float)log(std::max(gi, 1e-30));
  }
}

void VekresLPC_db::trim_to_exc(int u, int left, int right, float rate) {
  EST_Wave &w = exc[u];
  int s = std::max(0, excB[u] - left), e = std::min(w.num_samples(), excE[u] + right);
  auto cut = [&](EST_Track &t) {
    if (t.num_frames() == 0) return;
    int a = t.index(0.0f) + 1, z = t.index((excE[u] - excB[u]) / rate);
    if (a < 0 || z >= t.num_frames()) Vek_fail("how can this be so?\n");
    EST_Track k;
    if (a > z) {
      k.resize(0, t.num_channels());
    } else {
      t.copy_sub_track(k, a, z - a + 1);
    }
    t = k;
  };
  cut(pm[u]);
  cut(lpc[u]);
  EST_Wave k;
  k.resize(e - s, 1);
  k.set_sample_rate(w.sample_rate());
  for (int i = s; i < e; i++) k.a_no_check(i - s) = w.a_no_check(i);
  w = k;
  excB[u] -= s;
  excE[u] -= s;
}

int VekresLPC_db::load_dbUnit(int u, Vekdbase &db) {
  if (u < 0 || u >= (int)exc.size()) Vek_fail("VekresLPC_db::get_dbUnit - tried to get unit %d, which is not loaded!", u);
  if (db.access_mode != Vekdbase::DIRECT && !loaded(u)) {
    on_demand.push_back(u);
    if (db.grouped) {
      read_unit(u, db.group, db.swap);
    } else {
      load_separate(u, db);
      int m = (int)(atof(db.params.present("sig_band") ? db.params.val("sig_band").c_str() : "0") * db.samp_freq + 0.5);
      trim_to_exc(u, m, m, db.samp_freq);
      apply_gain(u);
    }
  }
  check_loaded(u, "exc");
  return excE[u] - excB[u];
}

void VekresLPC_db::write_unit(int u, FILE *fp, bool compressed) {
  exc_off[u] = (int32_t)ftell(fp);
  Vek_fwrite_int32(excB[u], fp);
  Vek_fwrite_int32(excE[u], fp);
  Vekfwrite_Wave(exc[u], fp, compressed);
  pm_off[u] = (int32_t)ftell(fp);
  Vekfwrite_Track(pm[u], fp, compressed);
  lpc_off[u] = (int32_t)ftell(fp);
  Vekfwrite_Track(lpc[u], fp, compressed);
}

void VekresLPC_db::read_unit(int u, FILE *fp, bool swap) {
  if (fp == nullptr) Vek_fail("VekresLPC_db: unit %d: the group file is not open", u);
  if (fseek(fp, exc_off[u], SEEK_SET) != 0) Vek_fail(" Vek_file: file read failed\n ");
  excB[u] = Vek_fread_int32(fp, swap, __LINE__);
  excE[u] = Vek_fread_int32(fp, swap, __LINE__);
  Vekfread_Wave(exc[u], fp);
  if (excB[u] < 0 || excE[u] > exc[u].num_samples() || excB[u] >= excE[u])
    Vek_fail("VekresLPC_db: unit %d bounds %d .. %d lie outside its %d samples", u, excB[u], excE[u], exc[u].num_samples());
  exc_ok[u] = 1;
  if (fseek(fp, pm_off[u], SEEK_SET) != 0) Vek_fail(" Vek_file: file read failed\n ");
  Vekfread_Track(pm[u], fp);
  pm_ok[u] = 1;
  if (fseek(fp, lpc_off[u], SEEK_SET) != 0) Vek_fail(" Vek_file: file read failed\n ");
  Vekfread_Track(lpc[u], fp);
  lpc_ok[u] = 1;
}

// --- database

Vekdbase::~Vekdbase() {
  if (group) {
    fclose(group);
    printf("closed groupfile\n");
  }
}

std::string Vekdbase::file_path(const char *dir, const char *ext, int u) const {
  return fparams.val("base_dir") + fparams.val(dir) + units.files[u] + fparams.val(ext);
}

void Vekdbase::build_hash() {
  hash.clear();
  for (int i = 0; i < units.Nunits(); i++) hash[units.names[i]] = i;
}

int Vekdbase::unit_index(const std::string &n) const {
  auto it = hash.find(n);
  return it == hash.end() ? -1 : it->second;
}

namespace {

void check_data_type(int t, bool grouped) {
  if (t == 2) Vek_fail("pulse-excit LPC mode not done yet\n");
  if (t == 3) Vek_fail(grouped ? "sine mode not done yet\n" : "sine mode not included\n");
  if (t != 1) Vek_fail("Vekdbase: unknown udata type\n");
}

}  // namespace

void Vekdbase::build_from_files() {
  grouped = false;
  units.load_unitdic(fparams.val("unitdic_file"), samp_freq);
  build_hash();
  check_data_type(data_type, false);
  int n = units.Nunits();
  udata.reset(new VekresLPC_db(n));
  udata->load_gain_file(fparams.val("gain_file"), units);
  if (access_mode == DIRECT)
    for (int u = 0; u < n; u++) {
      udata->load_separate(u, *this);
      udata->apply_gain(u);
    }
}

void Vekdbase::load_group(const std::string &file) {
  grouped = true;
  group = fopen(file.c_str(), "rb");
  if (!group) Vek_fail("Vekdbase: cannot open group file %s for reading\n", file.c_str());
  uint32_t magic = (uint32_t)Vek_fread_int32(group, false, __LINE__);
  if (magic == __builtin_bswap32(VEK_GROUP_MAGIC))
    swap = true;
  else if (magic != VEK_GROUP_MAGIC)
    Vek_fail("Vekdbase:   not a valid Vek format group file\n");
  compressed = Vek_fread_byte(group, __LINE__) != 0;
  samp_freq = Vek_fread_float(group, swap, __LINE__);
  if (!(samp_freq > 0 && samp_freq < 1e6)) Vek_fail("Vekdbase: group file %s gives sample rate %g\n", file.c_str(), samp_freq);
  Vekfread_KVL(params, group);
  data_type = Vek_fread_int32(group, swap, __LINE__);
}

void Vekdbase::save_group(const std::string &file) {
  FILE *fp = fopen(file.c_str(), "wb");
  if (!fp) Vek_fail("Vekdbase: cannot open group file %s for writing\n", file.c_str());
  struct Closer {
    FILE *f;
    ~Closer() {
      if (f) fclose(f);
    }
  } closer{fp};
  if (group) {
    fclose(group);
    group = nullptr;
  }
  grouped = false;
  check_data_type(data_type, false);
  Vek_fwrite_int32((int32_t)VEK_GROUP_MAGIC, fp);
  Vek_fwrite_byte(compressed ? 1 : 0, fp);
  Vek_fwrite_float(samp_freq, fp);
  Vekfwrite_KVL(params, fp);
  Vek_fwrite_int32(data_type, fp);
  units.write(fp);
  int n = units.Nunits();
  Vek_fwrite_int32(n, fp);
  long table = ftell(fp);
  std::vector<int32_t> zeros(n, 0);
  for (int k = 0; k < 3; k++) Vekfwrite_IntVector(zeros, fp);
  for (int u = 0; u < n; u++) {
    bool was = udata->loaded(u);
    udata->load_dbUnit(u, *this);
    udata->write_unit(u, fp, compressed);
    if (ftell(fp) < 0 || ftell(fp) > 0x7fffffffL) Vek_fail("Vekdbase: group file %s would pass 2 GiB\n", file.c_str());
    if (!was && access_mode != DIRECT) {
      udata->free_unit(u);
      if (!udata->on_demand.empty() && udata->on_demand.back() == u) udata->on_demand.pop_back();
    }
  }
  long end = ftell(fp);
  fseek(fp, table, SEEK_SET);
  Vekfwrite_IntVector(udata->exc_off, fp);
  Vekfwrite_IntVector(udata->pm_off, fp);
  Vekfwrite_IntVector(udata->lpc_off, fp);
  fseek(fp, end, SEEK_SET);
  if (ferror(fp)) Vek_fail("Vekdbase: writing group file %s failed\n", file.c_str());
  closer.f = nullptr;
  if (fclose(fp) != 0) Vek_fail("Vekdbase: writing group file %s failed\n", file.c_str());
  printf("finished building groupfile \n");
}

void Vekdbase::load_group_body() {
  units.read(group, swap);
  build_hash();
  check_data_type(data_type, true);
  int n = units.Nunits();
  int n2 = Vek_fread_int32(group, swap, __LINE__);
  if (n2 != n) Vek_fail("udata->length() != db.unitdic.Nunits() !!! \n");
  udata.reset(new VekresLPC_db(n));
  Vekfread_IntVector(udata->exc_off, n, group, swap);
  Vekfread_IntVector(udata->pm_off, n, group, swap);
  Vekfread_IntVector(udata->lpc_off, n, group, swap);
  if (access_mode == DIRECT)
    for (int u = 0; u < n; u++) udata->read_unit(u, group, swap);
}

void Vekdbase::set_params(LISP p, bool header_only) {
  const char *fn = "Vekdbase.init";
  name = Vek_paramText(p, "dbname", "db", fn);
  std::string am = Vek_paramText(p, "access_mode", "unset", fn);
  if (am == "direct")
    access_mode = DIRECT;
  else if (am == "dynamic")
    access_mode = DYNAMIC;
  else if (am == "ondemand")
    access_mode = ONDEMAND;
  else {
    printf("Vekdbase: Unknown access mode: \"%s\" -- using direct access.\n", am.c_str());
    access_mode = DIRECT;
  }
  params.set_float("preemph", Vek_paramNumber(p, "preemph", 0.96, fn));
  params.set("phoneset", Vek_paramText(p, "phoneset", "none", fn));
  if (header_only) return;
  static const char *files[][2] = {{"unitdic_file", ""}, {"gain_file", "none"}, {"base_dir", "./"},
                                   {"data_dir", "data/"}, {"data_ext", ".out"},  {"lpc_dir", "lpc/"},
                                   {"lpc_ext", ".lpc"},   {"exc_dir", "lpc/"},   {"exc_ext", ".res"},
                                   {"pm_dir", "pm/"},     {"pm_ext", ".pmv"}};
  for (auto &f : files) fparams.set(f[0], Vek_paramText(p, f[0], f[1], fn));
  params.set_int("lpc_order", (int)Vek_paramNumber(p, "lpc_order", 0, fn));
  params.set_float("sig_band", Vek_paramNumber(p, "sig_band", 0, fn));
  samp_freq = (float)Vek_paramNumber(p, "samp_freq", 16000, fn);
  if (!(samp_freq > 0)) Vek_fail("Vekdbase: samp_freq must be above 0\n");
  compressed = Vek_str_to_bool(Vek_paramText(p, "isCompressed", "Y", fn));
  std::string dt = Vek_paramText(p, "data_type", "unset", fn);
  if (dt == "resLPC")
    data_type = 1;
  else if (dt == "LPC")
    data_type = 2;
  else if (dt == "sine")
    data_type = 3;
  else
    Vek_fail("Vekdbase: Unknown data type \"%s\"\n", dt.c_str());
}

// --- registry and Lisp functions

namespace {

std::vector<std::unique_ptr<Vekdbase>> g_registry;  // newest first
Vekdbase *g_active = nullptr;

Vekdbase *find_db(const std::string &n) {
  for (auto &d : g_registry)
    if (d->name == n) return d.get();
  return nullptr;
}

LISP dbInit(LISP params) {
  std::unique_ptr<Vekdbase> db(new Vekdbase);
  std::string gf = Vek_paramText(params, "groupfile", "", "Vekdbase.init");
  if (gf.empty()) {
    db->set_params(params, false);
    db->build_from_files();
  } else {
    db->load_group(gf);
    db->set_params(params, true);
    db->load_group_body();
  }
  for (auto it = g_registry.begin(); it != g_registry.end(); ++it)
    if ((*it)->name == db->name) {
      printf("Vekdbase: warning redefining speech database %s\n", db->name.c_str());
      if (g_active == it->get()) g_active = nullptr;
      *it = std::move(db);
      g_active = it->get();
      return NIL;
    }
  g_registry.insert(g_registry.begin(), std::move(db));
  g_active = g_registry.front().get();
  return NIL;
}

LISP dbActivate(LISP name) {
  char buf[64];
  const char *n = Vek_argCText(name, "Vekdbase.activate", "DB_NAME", buf);
  Vekdbase *d = find_db(n);
  if (!d) Vek_fail("Vekdbase: no database named %s defined\n", n);
  g_active = d;
  return name;
}

LISP dbGroup(LISP name, LISP file) {
  dbActivate(name);
  g_active->save_group(Vek_argText(file, "Vekdbase.group", "GROUPFILE"));
  return NIL;
}

LISP dbList() {
  LISP out = NIL;
  for (auto it = g_registry.rbegin(); it != g_registry.rend(); ++it) out = cons(rintern((*it)->name.c_str()), out);
  return out;
}

LISP dbDataType() {
  if (!g_active) return NIL;
  const char *t = g_active->data_type == 1 ? "resLPC" : g_active->data_type == 3 ? "sine" : "none";
  return strcons(strlen(t), t);
}

LISP dbNunits() { return flocons(g_active ? g_active->units.Nunits() : 0); }

LISP dbLookupInfo(LISP indx) {
  if (!g_active) {
    printf("Vekdbase_lookup_info: no database loaded\n");
    return NIL;
  }
  double x = Vek_argNumber(indx, "Vekdbase.lookup_info", "INDX");
  const VekdbUnits &d = g_active->units;
  if (!(x >= 0 && x < d.Nunits())) Vek_fail("Vekdbase_lookup_info: index out of range\n");
  int u = (int)x;
  float rate = g_active->samp_freq;
  // From here on only Lisp values are made; everything read lives in the
  // database.
  LISP segs = NIL;
  for (int i = (int)d.segnames[u].size() - 1; i >= 0; i--) {
    const std::string &sn = d.segnames[u][i];
    LISP dur = cons(cons(rintern("dur"), cons(flocons((d.seg_end(u, i) - d.seg_bound(u, i)) / rate), NIL)), NIL);
    segs = cons(cons(strcons(sn.size(), sn.c_str()), cons(dur, NIL)), segs);
  }
  auto pair = [](const char *k, LISP v, LISP rest) { return cons(cons(rintern(k), cons(v, NIL)), rest); };
  LISP out = pair("segs", segs, NIL);
  out = pair("Rbnd", flocons(d.Rbnd[u]), out);
  out = pair("Lbnd", flocons(d.Lbnd[u]), out);
  out = pair("Rindx", flocons(d.Rindx[u]), out);
  out = pair("Lindx", flocons(d.Lindx[u]), out);
  out = pair("db_indx", flocons(u), out);
  return pair("name", rintern(d.names[u].c_str()), out);
}

LISP dbUnitselName(LISP name) {
  if (!g_active) {
    printf("no database loaded\n");
    return NIL;
  }
  char buf[64];
  int u = g_active->unit_index(Vek_argCText(name, "Vekdbase.unitsel_name", "NAME", buf));
  return u < 0 ? NIL : flocons(u);
}

LISP dbPrint(LISP file) {
  if (!g_active) {
    printf("no database loaded\n");
    return NIL;
  }
  std::string fname = Vek_argText(file, "Vekdbase.print", "FILENAME");
  FILE *fp = fopen(fname.c_str(), "w");
  if (!fp) Vek_fail("Vekdbase.print: cannot open %s for writing", fname.c_str());
  const VekdbUnits &d = g_active->units;
  fprintf(fp, "# num \tname\tfile    \tLindx\tRindx\tLbnd\tRbnd\tsegB\tsegname\tsegend\t...\n");
  fprintf(fp, "# --- \t----\t----    \t-----\t-----\t----\t----\t----\t-------\t-------\t---\n");
  for (int u = 0; u < d.Nunits(); u++) {
    fprintf(fp, "%4d\t%-6s\t%8s\t%5d\t%5d\t%-4s\t%-4s\t%4d\t", u, d.names[u].c_str(), d.files[u].c_str(), d.Lindx[u],
            d.Rindx[u], d.Lbnd[u] ? "T" : "F", d.Rbnd[u] ? "T" : "F", d.segB[u]);
    for (size_t i = 0; i < d.segnames[u].size(); i++) fprintf(fp, "%s\t%d\t", d.segnames[u][i].c_str(), d.segends[u][i]);
    fprintf(fp, "\n");
  }
  bool bad = ferror(fp);
  if (fclose(fp) != 0 || bad) Vek_fail("Vekdbase.print: writing %s failed", fname.c_str());
  return NIL;
}

std::string seg_name(EST_Item *s) {
  if (s->f_present("allophone_name")) return (const char *)s->f("allophone_name").string();
  return (const char *)s->name();
}

LISP dbUnitselDiphone(LISP utt) {
  const char *fn = "Vekdbase.unitsel_diphone";
  EST_Utterance *u = Vek_argUtt(utt, fn);
  if (!g_active) Vek_fail("Vekdbase_UnitSel_Diphone: no Vekdbase loaded.");
  Vekdbase &db = *g_active;
  if (!u->relation_present("Segment")) Vek_fail("%s: utterance has no Segment relation", fn);
  // Choose every unit first, so that a failing fallback leaves the
  // utterance as it was.
  std::vector<int> chosen;
  for (EST_Item *s = u->relation("Segment")->head(); s && inext(s); s = inext(s)) {
    std::string l = seg_name(s), r = seg_name(inext(s));
    int k = db.unit_index(l + "-" + r);
    if (k < 0) {
      LISP v = NIL;
      if (!Vek_callCaught2("Vek_di_alt", l.c_str(), r.c_str(), &v))
        Vek_fail("%s: Vek_di_alt failed for %s-%s", fn, l.c_str(), r.c_str());
      if (v == NIL || !FLONUMP(v) || FLONM(v) != floor(FLONM(v)) || FLONM(v) < 0 || FLONM(v) >= db.units.Nunits())
        Vek_fail("%s: Vek_di_alt gave no unit index for %s-%s", fn, l.c_str(), r.c_str());
      k = (int)FLONM(v);
    }
    chosen.push_back(k);
  }
  EST_Relation *units = u->create_relation("dbUnit");
  u->create_relation("dbSeg");
  int prev = -1;
  float rate = db.samp_freq;
  const VekdbUnits &d = db.units;
  for (int k : chosen) {
    EST_Item *it = units->append();
    it->set_name(d.names[k].c_str());
    it->set("db_indx", k);
    it->set("Lindx", d.Lindx[k]);
    it->set("Rindx", d.Rindx[k]);
    it->set("isSegBndL", (int)d.Lbnd[k]);
    it->set("isSegBndR", (int)d.Rbnd[k]);
    // The first unit has no left neighbour to follow.
    it->set("isNatNbL", prev >= 0 && prev == d.Lindx[k] ? 1 : 0);
    for (size_t i = 0; i < d.segnames[k].size(); i++) {
      EST_Item *sg = it->append_daughter();
      sg->set_name(d.segnames[k][i].c_str());
      sg->set("dur", (float)((d.seg_end(k, (int)i) - d.seg_bound(k, (int)i)) / rate));
    }
    prev = k;
  }
  return utt;
}

LISP dbNunits0() { return dbNunits(); }

}  // namespace

Vekdbase *Vekdbase_active() { return g_active; }
bool Vekdbase_loaded() { return g_active != nullptr; }
int Vekdbase_unit_index(const std::string &name) { return g_active ? g_active->unit_index(name) : -1; }

template <LISP (*F)()>
static LISP Vek_wrap0() {
  char msg[1024];
  LISP out = NIL;
  if (!Vek_guard([] { return F(); }, out, msg, sizeof msg)) return Vek_raise(msg);
  return out;
}

void Vekdbase_module_init() {
  init_subr_1("Vekdbase.init", Vek_wrap1<dbInit>,
              "(Vekdbase.init PARAMS)\n  Initialize an Vek unit database.  PARAMS is an assoc list\n  of parameter name and value.");
  init_subr_1("Vekdbase.activate", Vek_wrap1<dbActivate>,
              "(Vekdbase.activate DB_NAME)\n  Activate a preloaded speech database named DB_NAME.  Databases are\n  identified by their name parameter.");
  init_subr_2("Vekdbase.group", Vek_wrap2<dbGroup>,
              "(Vekdbase.group DB_NAME GROUPFILE)\n  Create a group file for DB_NAME and save in GROUPFILE.  A group\n  file is a saved image of the database containing only the necessary\n  information.  This is the recommended format for normal use.");
  init_subr_0("Vekdbase.list", Vek_wrap0<dbList>,
              "(Vekdbase.list)\n  List the names of the currently loaded speech databases.");
  init_subr_0("Vekdbase.get_data_type", Vek_wrap0<dbDataType>,
              "(Vekdbase.get_data_type)\n  Return the data type of the active Vekdbase (resLPC, LPC, sine, none, NIL).");
  init_subr_1("Vekdbase.lookup_info", Vek_wrap1<dbLookupInfo>,
              "(Vekdbase.lookup_info INDX)\n  Return a LISP structure containing info about the unit referenced\n  by INDX. Used to create the dbUnit relation after unit selection.");
  init_subr_0("Vekdbase.Nunits", Vek_wrap0<dbNunits0>,
              "(Vekdbase.Nunits)\n  Number of units in the currently loaded speech database.");
  init_subr_1("Vekdbase.unitsel_name", Vek_wrap1<dbUnitselName>,
              "(Vekdbase.unitsel_name NAME)\n  Return index of first unit in active database having name NAME,\n  or NIL if none is found with that name.");
  init_subr_1("Vekdbase.print", Vek_wrap1<dbPrint>,
              "(Vekdbase.print FILENAME)\n  Print the unitdic info to FILENAME for debugging purposes.");
  init_subr_1("Vekdbase.unitsel_diphone", Vek_wrap1<dbUnitselDiphone>,
              "(Vekdbase.unitsel_diphone UTT)\n  Selects diphone units by looking at Segment relation, puts results \n  into dbUnit relation.");
}
