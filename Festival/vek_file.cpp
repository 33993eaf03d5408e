#include "vek_file.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cmath>
#include <cstring>

#include "EST_FMatrix.h"
#include "EST_Features.h"
#include "EST_Featured.h"
#include "EST_Track.h"
#include "EST_Wave.h"
#include "vek_lisp.h"
#include "wavefile.h"

void VekOptions::set(const std::string &key, const std::string &value) {
  if (value.empty()) return;
  for (auto &kv : e_)
    if (kv.first == key) {
      kv.second = value;
      return;
    }
  e_.emplace_back(key, value);
}

void VekOptions::set_float(const std::string &key, double v) {
  char b[64];
  snprintf(b, sizeof b, "%f", v);
  set(key, b);
}

void VekOptions::set_int(const std::string &key, int v) { set(key, std::to_string(v)); }

bool VekOptions::present(const std::string &key) const {
  for (auto &kv : e_)
    if (kv.first == key) return true;
  return false;
}

std::string VekOptions::val(const std::string &key) const {
  for (auto &kv : e_)
    if (kv.first == key) return kv.second;
  fprintf(stderr, "EST_Option: No value set for %s\n", key.c_str());
  return "";
}

bool Vek_str_to_bool(const std::string &text) {
  std::string s;
  for (char c : text) s += (char)tolower((unsigned char)c);
  return s == "t" || s == "y";
}

namespace {

// Longest token accepted: names, keys and values are short; anything longer
// is a damaged file, not something to buffer.
constexpr size_t kMaxToken = 1 << 16;

bool is_space(int c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// The next white-space separated token; "" at the end of the file. After
// the marker "|%" exactly one following blank is consumed.
std::string next_token(FILE *fp) {
  int c;
  while ((c = fgetc(fp)) != EOF && is_space(c)) {
  }
  std::string t;
  while (c != EOF && !is_space(c)) {
    if (t.size() >= kMaxToken) Vek_fail(" Vek_file: token longer than %zu bytes\n", kMaxToken);
    t += (char)c;
    c = fgetc(fp);
  }
  // c is the blank after the token (consumed) or EOF.
  return t;
}

long parse_count(const std::string &tok, const char *fn, const char *what) {
  char *end = nullptr;
  long n = strtol(tok.c_str(), &end, 10);
  if (tok.empty() || *end || n < 0) Vek_fail(" %s: failed reading %s\n", fn, what);
  if (n > 10000) fprintf(stderr, " %s: asked to read %ld items!\n", fn, n);
  return n;
}

// Reads key/value pairs up to the marker into out; the shared body of the
// KVL and feature readers.
void read_pairs(FILE *fp, const char *keyword, const char *fn, const char *what, const char *reader,
                std::vector<std::pair<std::string, std::string>> &out, bool print_counts) {
  std::string k = next_token(fp);
  if (k != keyword) {
    if (!strcmp(keyword, "KVL")) fprintf(stderr, " Vekfread_KVL: expected KVL got: %s\n", k.c_str());
    Vek_fail(" %s: failed reading %s\n", fn, what);
  }
  long n = parse_count(next_token(fp), reader, what);
  for (long i = 0;; i++) {
    std::string key = next_token(fp);
    if (key == "|%") {
      if (i < n) Vek_fail(" %s: failed reading %s - too few tokens found\n", fn, what);
      return;
    }
    if (key.empty()) Vek_fail(" %s: failed reading %s - too few tokens found\n", fn, what);
    if (i >= n) {
      if (print_counts) fprintf(stderr, "%ld > %ld\n", i + 1, n);
      Vek_fail(" %s: failed reading %s - too many tokens found\n", fn, what);
    }
    std::string value = next_token(fp);
    if (value.empty() || value == "|%") Vek_fail(" %s: failed reading %s - too few tokens found\n", fn, what);
    out.emplace_back(key, value);
  }
}

long write_pairs(const char *keyword, const std::vector<std::pair<std::string, std::string>> &p, FILE *fp) {
  long n = fprintf(fp, "%s %zu ", keyword, p.size());
  for (auto &kv : p) n += fprintf(fp, "%s %s ", kv.first.c_str(), kv.second.c_str());
  n += fprintf(fp, "|%% ");
  return n;
}

std::vector<std::pair<std::string, std::string>> feature_pairs(const EST_Features &f) {
  std::vector<std::pair<std::string, std::string>> p;
  for (EST_Features::Entries e(f); e; ++e) p.emplace_back((const char *)e->k, (const char *)e->v.string());
  return p;
}

uint32_t swap32(uint32_t v) { return __builtin_bswap32(v); }

// v with its bytes in the other order.
template <class T>
T reversed(T v) {
  unsigned char b[sizeof v];
  memcpy(b, &v, sizeof v);
  std::reverse(b, b + sizeof v);
  memcpy(&v, b, sizeof v);
  return v;
}

// One guarded item of T, reversed when asked.
template <class T>
T read_item(FILE *fp, bool swap, int line) {
  T v;
  Vek_fread_checked(&v, sizeof v, 1, fp, line);
  return swap ? reversed(v) : v;
}

// fwrite of n items; nothing (not even a null pointer) for none.
void put(const void *p, size_t size, size_t n, FILE *fp) {
  if (n > 0) fwrite(p, size, n, fp);
}

}  // namespace

long Vekfwrite_StrVector(const std::vector<std::string> &v, FILE *fp) {
  long n = fprintf(fp, "StrV %zu ", v.size());
  for (auto &s : v) n += fprintf(fp, "%s ", s.c_str());
  n += fprintf(fp, "|%% ");
  return n;
}

long Vekfread_StrVector(std::vector<std::string> &v, FILE *fp) {
  long start = ftell(fp);
  if (next_token(fp) != "StrV") Vek_fail(" Vekfread_StrVector: failed reading StrVector\n");
  long n = parse_count(next_token(fp), "Vekfread_StrVector", "StrVector");
  v.clear();
  for (;;) {
    std::string s = next_token(fp);
    if (s == "|%") break;
    if (s.empty() || (long)v.size() >= n) {
      if (s.empty()) Vek_fail(" Vekfread_StrVector: failed reading StrVector - too few tokens found\n");
      Vek_fail(" Vekfread_StrVector: failed reading StrVector - too many tokens found\n");
    }
    v.push_back(s);
  }
  if ((long)v.size() < n) Vek_fail(" Vekfread_StrVector: failed reading StrVector - too few tokens found\n");
  return ftell(fp) - start;
}

long Vekfwrite_KVL(const VekOptions &l, FILE *fp) { return write_pairs("KVL", l.entries(), fp); }

long Vekfread_KVL(VekOptions &l, FILE *fp) {
  long start = ftell(fp);
  std::vector<std::pair<std::string, std::string>> p;
  read_pairs(fp, "KVL", "Vekfread_KVL", "KVL", "Vekfread_KVL", p, false);
  for (auto &kv : p) l.set(kv.first, kv.second);
  return ftell(fp) - start;
}

long Vekfwrite_Features(const EST_Features &f, FILE *fp) { return write_pairs("Feat", feature_pairs(f), fp); }

long Vekfread_Features(EST_Features &f, FILE *fp) {
  long start = ftell(fp);
  std::vector<std::pair<std::string, std::string>> p;
  read_pairs(fp, "Feat", "Vekfread_Features", "Features", "Vekfread_Features", p, true);
  for (auto &kv : p) f.set(kv.first.c_str(), EST_String(kv.second.c_str()));
  return ftell(fp) - start;
}

long Vekfwrite_Featured(const EST_Featured &o, FILE *fp) {
  std::vector<std::pair<std::string, std::string>> p;
  for (EST_Featured::FeatEntries e(o); e; ++e) p.emplace_back((const char *)e->k, (const char *)e->v.string());
  return write_pairs("Feat", p, fp);
}

long Vekfread_Featured(EST_Featured &o, FILE *fp) {
  long start = ftell(fp);
  std::vector<std::pair<std::string, std::string>> p;
  read_pairs(fp, "Feat", "Vekfread_Features", "Features", "Vekfread_Featured", p, false);
  for (auto &kv : p) o.f_set(kv.first.c_str(), EST_String(kv.second.c_str()));
  return ftell(fp) - start;
}

void Vek_fread_checked(void *p, size_t size, size_t items, FILE *fp, int line) {
  if (items == 0) return;
  if (fread(p, size, items, fp) != items) {
    fprintf(stderr, "Vek_file:%s:line %d: group file read failed to read %d items of size %d bytes \n", "Vek_file",
            line, (int)items, (int)size);
    Vek_fail(" Vek_file: file read failed\n ");
  }
}

int32_t Vek_fread_int32(FILE *fp, bool swap, int line) { return read_item<int32_t>(fp, swap, line); }

uint16_t Vek_fread_ushort(FILE *fp, bool swap, int line) { return read_item<uint16_t>(fp, swap, line); }

float Vek_fread_float(FILE *fp, bool swap, int line) { return read_item<float>(fp, swap, line); }

uint8_t Vek_fread_byte(FILE *fp, int line) {
  uint8_t v;
  Vek_fread_checked(&v, 1, 1, fp, line);
  return v;
}

void Vek_fread_checked_bytes(void *p, size_t items, FILE *fp, int line) { Vek_fread_checked(p, 1, items, fp, line); }

int16_t Vek_fread_short(FILE *fp, bool swap, int line) { return read_item<int16_t>(fp, swap, line); }

void Vek_swap_long_array(int32_t *p, size_t n) {
  for (size_t i = 0; i < n; i++) p[i] = (int32_t)swap32((uint32_t)p[i]);
}

// Offsets are int32 in the file.
int32_t Vek_fread_long(FILE *fp, bool swap, int line) { return Vek_fread_int32(fp, swap, line); }

double Vek_swap_double(double d) { return reversed(d); }

double Vek_fread_double(FILE *fp, bool swap, int line) { return read_item<double>(fp, swap, line); }

void Vek_fwrite_int32(int32_t v, FILE *fp) { fwrite(&v, 4, 1, fp); }
void Vek_fwrite_float(float v, FILE *fp) { fwrite(&v, 4, 1, fp); }
void Vek_fwrite_byte(uint8_t v, FILE *fp) { fwrite(&v, 1, 1, fp); }

void Vek_check_count(FILE *fp, long count, long size, const char *what) {
  if (count < 0) Vek_fail(" Vek_file: negative count %ld of %s\n", count, what);
  long here = ftell(fp);
  if (here < 0 || fseek(fp, 0, SEEK_END) != 0) Vek_fail(" Vek_file: cannot seek in file\n");
  long end = ftell(fp);
  fseek(fp, here, SEEK_SET);
  if (size > 0 && count > (end - here) / size)
    Vek_fail(" Vek_file: %ld %s do not fit in the %ld bytes left in the file\n", count, what, end - here);
}

void Vekfread_IntVector(std::vector<int32_t> &v, long n, FILE *fp, bool swap) {
  Vek_check_count(fp, n, 4, "int32 values");
  v.resize(n);
  Vek_fread_checked(v.data(), 4, n, fp, __LINE__);
  if (swap)
    for (auto &x : v) x = (int32_t)swap32((uint32_t)x);
}

void Vekfwrite_IntVector(const std::vector<int32_t> &v, FILE *fp) { put(v.data(), 4, v.size(), fp); }

void Vekfread_CharVector(std::vector<uint8_t> &v, long n, FILE *fp) {
  Vek_check_count(fp, n, 1, "bytes");
  v.resize(n);
  Vek_fread_checked(v.data(), 1, n, fp, __LINE__);
}

void Vekfwrite_CharVector(const std::vector<uint8_t> &v, FILE *fp) { put(v.data(), 1, v.size(), fp); }

namespace {

void swap_floats(float *p, size_t n) {
  for (size_t i = 0; i < n; i++) p[i] = reversed(p[i]);
}

}  // namespace

void Vekfread_FloatVector(std::vector<float> &v, long n, FILE *fp, bool swap) {
  Vek_check_count(fp, n, 4, "float values");
  v.resize(n);
  Vek_fread_checked(v.data(), 4, n, fp, __LINE__);
  if (swap) swap_floats(v.data(), v.size());
}

void Vekfwrite_FloatVector(const std::vector<float> &v, FILE *fp) { put(v.data(), 4, v.size(), fp); }

void Vekfread_FloatVector_part(std::vector<float> &v, FILE *fp, bool swap, long start, long n) {
  Vek_check_count(fp, n, 4, "float values");
  if (start < 0 || start > (long)v.size() || n > (long)v.size() - start)
    Vek_fail(" Vekfread_FloatVector_part: %ld elements from %ld are outside a vector of %zu\n", n, start, v.size());
  Vek_fread_checked(v.data() + start, 4, n, fp, __LINE__);
  if (swap) swap_floats(v.data() + start, n);
}

void Vekfwrite_FloatMatrix(const EST_FMatrix &m, FILE *fp) {
  std::vector<float> row(m.num_columns());
  for (int i = 0; i < m.num_rows(); i++) {
    for (int j = 0; j < m.num_columns(); j++) row[j] = m.a_no_check(i, j);
    put(row.data(), 4, row.size(), fp);
  }
}

void Vekfread_FloatMatrix(EST_FMatrix &m, FILE *fp, bool swap, long rows, long first, long n) {
  if (rows < 0 || first < 0 || n < 0 || rows > INT_MAX || first + n > INT_MAX)
    Vek_fail(" Vekfread_FloatMatrix: cannot read %ld rows of %ld floats from column %ld\n", rows, n, first);
  if (rows == 0 || n == 0) return;
  // Checked as rows of 4n bytes so the product cannot overflow.
  Vek_check_count(fp, rows, 4 * n, "matrix rows");
  long nr = std::max<long>(rows, m.num_rows()), nc = std::max<long>(first + n, m.num_columns());
  if (nr != m.num_rows() || nc != m.num_columns()) m.resize((int)nr, (int)nc);
  std::vector<float> row(n);
  for (long i = 0; i < rows; i++) {
    Vek_fread_checked(row.data(), 4, n, fp, __LINE__);
    if (swap) swap_floats(row.data(), n);
    for (long j = 0; j < n; j++) m.a_no_check((int)i, (int)(first + j)) = row[j];
  }
}

// --- embedded wave

namespace {

void put_be32(std::vector<uint8_t> &b, uint32_t v) {
  for (int s = 24; s >= 0; s -= 8) b.push_back((uint8_t)(v >> s));
}

uint32_t get_be32(const uint8_t *p) { return (uint32_t)p[0] << 24 | (uint32_t)p[1] << 16 | (uint32_t)p[2] << 8 | p[3]; }

}  // namespace

long Vekfwrite_Wave(const EST_Wave &w, FILE *fp, bool compressed) {
  int n = w.num_samples(), ch = w.num_channels() > 0 ? w.num_channels() : 1;
  long total = (long)n * ch;
  std::vector<uint8_t> b;
  b.reserve(24 + total * 2);
  b.insert(b.end(), {'.', 's', 'n', 'd'});
  put_be32(b, 24);
  put_be32(b, (uint32_t)(total * (compressed ? 1 : 2)));
  put_be32(b, compressed ? 1 : 3);
  put_be32(b, (uint32_t)w.sample_rate());
  put_be32(b, (uint32_t)ch);
  for (int i = 0; i < n; i++)
    for (int c = 0; c < ch; c++) {
      int s = w.num_channels() > 0 ? w.a_no_check(i, c) : 0;
      if (compressed) {
        b.push_back(linear2ulaw(s));
      } else {
        b.push_back((uint8_t)((uint16_t)s >> 8));
        b.push_back((uint8_t)(s & 0xff));
      }
    }
  if (fwrite(b.data(), 1, b.size(), fp) != b.size()) Vek_fail(" Vekfwrite_Wave:  can't write wav\n");
  return (long)b.size();
}

long Vekfread_Wave(EST_Wave &w, FILE *fp) {
  uint8_t h[24];
  if (fread(h, 1, 24, fp) != 24 || memcmp(h, ".snd", 4) != 0) Vek_fail(" Vekfread_Wave:  can't load wav\n");
  uint32_t off = get_be32(h + 4), size = get_be32(h + 8), enc = get_be32(h + 12), rate = get_be32(h + 16),
           ch = get_be32(h + 20);
  int width = enc == 1 ? 1 : enc == 3 ? 2 : 0;
  if (width == 0 || off < 24 || ch < 1 || ch > 16 || off > (1u << 20))
    Vek_fail(" Vekfread_Wave:  can't load wav\n");
  if (off > 24 && fseek(fp, off - 24, SEEK_CUR) != 0) Vek_fail(" Vekfread_Wave:  can't load wav\n");
  Vek_check_count(fp, (long)size, 1, "wave bytes");
  long frames = (long)size / width / ch;
  std::vector<uint8_t> d((size_t)size);
  Vek_fread_checked(d.data(), 1, d.size(), fp, __LINE__);
  w.resize((int)frames, (int)ch, 0);
  w.set_sample_rate(rate ? (int)rate : 16000);
  for (long i = 0; i < frames; i++)
    for (uint32_t c = 0; c < ch; c++) {
      long k = i * ch + c;
      short s = width == 1 ? (short)ulaw2linear(d[k]) : (short)(uint16_t)(d[2 * k] << 8 | d[2 * k + 1]);
      w.a_no_check((int)i, (int)c) = s;
    }
  return 24 + (long)(off - 24) + (long)size;
}

// --- track block

float track_channel_min(const EST_Track &t, int c) {
  float m = 1e21f;
  for (int i = 0; i < t.num_frames(); i++) m = std::min(m, t.a_no_check(i, c));
  return m;
}

float track_channel_max(const EST_Track &t, int c) {
  float m = -1e21f;
  for (int i = 0; i < t.num_frames(); i++) m = std::max(m, t.a_no_check(i, c));
  return m;
}

int Vek_Track_check_magic(FILE *fp) {
  uint32_t m = (uint32_t)Vek_fread_int32(fp, false, __LINE__);
  if (m == VEK_TRACK_MAGIC) return 0;
  if (m == swap32(VEK_TRACK_MAGIC)) return 1;
  Vek_fail("Vek_file:   not a valid Vek_Track file \n");
}

long Vekfwrite_Track(const EST_Track &t, FILE *fp, bool compressed) {
  int nch = t.num_channels(), nfr = t.num_frames();
  for (int c = 0; c < nch; c++)
    for (int i = 0; i < nfr; i++)
      if (!std::isfinite(t.a_no_check(i, c)))
        Vek_fail("Vekfwrite_Track: channel %d frame %d is not a finite value\n", c, i);
  long start = ftell(fp);
  fprintf(fp, "Vek_Track ");
  VekOptions h;
  h.set_int("Nch", nch);
  h.set_int("Nfr", nfr);
  h.set("Compressed", compressed ? "true" : "false");
  for (int c = 0; c < nch; c++) h.set("ch_" + std::to_string(c), (const char *)t.channel_name(c));
  Vekfwrite_KVL(h, fp);
  Vekfwrite_Featured(t, fp);
  Vek_fwrite_int32((int32_t)VEK_TRACK_MAGIC, fp);
  fprintf(fp, "Vek_Track_End ");
  std::vector<float> times(nfr);
  std::vector<uint8_t> flags(nfr);
  for (int i = 0; i < nfr; i++) {
    times[i] = t.t(i);
    flags[i] = t.val(i) ? 1 : 0;
  }
  put(times.data(), 4, nfr, fp);
  put(flags.data(), 1, nfr, fp);
  std::vector<float> col(nfr);
  std::vector<uint16_t> q(nfr);
  for (int c = 0; c < nch; c++) {
    if (!compressed) {
      for (int i = 0; i < nfr; i++) col[i] = t.a_no_check(i, c);
      put(col.data(), 4, nfr, fp);
      continue;
    }
    float mn = track_channel_min(t, c), mx = track_channel_max(t, c);
    if (!(mx - mn >= 1e-9f)) mx = mn + 1e-9f;
    float scale = (float)(65534.0 / ((double)mx - mn));
    Vek_fwrite_float(mn, fp);
    Vek_fwrite_float(scale, fp);
    if (scale < 1)
      fprintf(stderr, "Vek_Track warning: scale factor of track channel %d is %g -- compression results may be poor \n",
              c, scale);
    for (int i = 0; i < nfr; i++) {
      float v = scale * (t.a_no_check(i, c) - mn);
      // Finite values keep v within 0 .. 65534 plus rounding; clamp
      // rather than end the process.
      q[i] = (uint16_t)std::min(65535.0f, std::max(0.0f, v));
    }
    put(q.data(), 2, nfr, fp);
  }
  if (ferror(fp)) Vek_fail("Vekfwrite_Track: write failed\n");
  return ftell(fp) - start;
}

long Vekfread_Track(EST_Track &t, FILE *fp) {
  long start = ftell(fp);
  if (next_token(fp) != "Vek_Track") Vek_fail(" Vekfread_Track:  Couldn't read Vek_Track format \n");
  VekOptions h;
  Vekfread_KVL(h, fp);
  EST_Track tmp;
  Vekfread_Featured(tmp, fp);
  bool swap = Vek_Track_check_magic(fp) == 1;
  auto count = [&](const char *k) {
    std::string s = h.val(k);
    char *end = nullptr;
    long v = s.empty() ? 0 : strtol(s.c_str(), &end, 10);
    if (!s.empty() && *end) Vek_fail(" Vekfread_Track:  Couldn't read Vek_Track format \n");
    return v;
  };
  long nch = count("Nch"), nfr = count("Nfr");
  if (next_token(fp) != "Vek_Track_End") Vek_fail(" Vekfread_Track:  Couldn't read Vek_Track end of header \n");
  bool comp = h.present("Compressed") && h.val("Compressed") == "true";
  // Each frame needs 5 bytes plus 2 or 4 per channel.
  Vek_check_count(fp, nfr, 5 + (comp ? 2 : 4) * nch, "track frames");
  if (nch < 0 || nch > 100000) Vek_fail(" Vekfread_Track:  Couldn't read Vek_Track format \n");
  tmp.resize((int)nfr, (int)nch);
  for (int c = 0; c < nch; c++) {
    std::string k = "ch_" + std::to_string(c);
    tmp.set_channel_name(h.present(k) ? h.val(k).c_str() : "", c);
  }
  std::vector<float> times(nfr);
  std::vector<uint8_t> flags(nfr);
  for (long i = 0; i < nfr; i++) times[i] = Vek_fread_float(fp, swap, __LINE__);
  Vek_fread_checked(flags.data(), 1, nfr, fp, __LINE__);
  for (long i = 0; i < nfr; i++) {
    tmp.t((int)i) = times[i];
    if (flags[i])
      tmp.set_value((int)i);
    else
      tmp.set_break((int)i);
  }
  for (int c = 0; c < nch; c++) {
    if (comp) {
      float mn = Vek_fread_float(fp, swap, __LINE__), scale = Vek_fread_float(fp, swap, __LINE__);
      for (long i = 0; i < nfr; i++) tmp.a_no_check((int)i, c) = mn + Vek_fread_ushort(fp, swap, __LINE__) / scale;
    } else {
      for (long i = 0; i < nfr; i++) tmp.a_no_check((int)i, c) = Vek_fread_float(fp, swap, __LINE__);
    }
  }
  t = tmp;
  return ftell(fp) - start;
}
