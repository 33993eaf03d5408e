// Speech file reading and writing: RIFF WAVE, Sun/NeXT au and headerless
// files. Every length and offset read from a header is checked against the
// file's real size before it is used.
#include "wavefile.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "bigbuffer.h"
#include "yastro.h"

namespace {

enum class Enc { Pcm8u, Pcm8s, Pcm16le, Pcm16be, Pcm24le, Pcm24be, Pcm32le, Pcm32be,
                 Float32le, Float32be, Float64le, Float64be, Mulaw, Alaw };

int bytesOf(Enc e) {
  switch (e) {
    case Enc::Pcm8u: case Enc::Pcm8s: case Enc::Mulaw: case Enc::Alaw: return 1;
    case Enc::Pcm16le: case Enc::Pcm16be: return 2;
    case Enc::Pcm24le: case Enc::Pcm24be: return 3;
    case Enc::Pcm32le: case Enc::Pcm32be: case Enc::Float32le: case Enc::Float32be: return 4;
    case Enc::Float64le: case Enc::Float64be: return 8;
  }
  return 1;
}

const char *encName(Enc e) {
  switch (e) {
    case Enc::Pcm8u: return "8-bit unsigned linear";
    case Enc::Pcm8s: return "8-bit linear";
    case Enc::Pcm16le: case Enc::Pcm16be: return "16-bit linear";
    case Enc::Pcm24le: case Enc::Pcm24be: return "24-bit linear";
    case Enc::Pcm32le: case Enc::Pcm32be: return "32-bit linear";
    case Enc::Float32le: case Enc::Float32be: return "32-bit float";
    case Enc::Float64le: case Enc::Float64be: return "64-bit float";
    case Enc::Mulaw: return "mu-law";
    case Enc::Alaw: return "A-law";
  }
  return "";
}

// What a header tells about the samples that follow it.
struct Layout {
  std::string kind;     // "RIFF WAVE", "Sun/NeXT au", "headerless"
  Enc enc = Enc::Pcm16le;
  int channels = 1;
  int frameBytes = 2;   // bytes per frame of all channels
  double rate = 0;
  uint64_t dataOffset = 0;
  uint64_t dataBytes = 0;
  std::string comment;
};

uint32_t le32(const unsigned char *p) { return p[0] | p[1] << 8 | p[2] << 16 | (uint32_t)p[3] << 24; }
uint16_t le16(const unsigned char *p) { return (uint16_t)(p[0] | p[1] << 8); }
uint32_t be32(const unsigned char *p) { return (uint32_t)p[0] << 24 | p[1] << 16 | p[2] << 8 | p[3]; }

struct FileCloser { void operator()(FILE *f) const { if (f) fclose(f); } };
using File = std::unique_ptr<FILE, FileCloser>;

// Reads exactly n bytes at offset; false when the file is shorter.
bool readAt(FILE *f, uint64_t off, void *buf, size_t n) {
  if (fseeko(f, (off_t)off, SEEK_SET) != 0) return false;
  return fread(buf, 1, n, f) == n;
}

std::string lowerExt(const char *path) {
  const char *slash = strrchr(path, '/');
  const char *dot = strrchr(path, '.');
  if (!dot || (slash && dot < slash)) return "";
  std::string e(dot + 1);
  for (auto &c : e) c = (char)tolower((unsigned char)c);
  return e;
}

bool isRawLinearExt(const std::string &e) { return e == "raw" || e == "pcm" || e == "sw" || e == "s16"; }
bool isRawMulawExt(const std::string &e) { return e == "ul" || e == "ulaw" || e == "mu" || e == "u"; }

// Keeps a comment printable and free of braces, so that it can sit inside a
// Tcl list element.
std::string cleanText(const char *p, size_t n) {
  std::string s;
  for (size_t i = 0; i < n && p[i]; i++) {
    char c = p[i];
    if (c == '{') c = '(';
    else if (c == '}') c = ')';
    else if (c == '\\') c = '/';
    else if ((unsigned char)c < 32) c = ' ';
    s += c;
  }
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

bool fail(GS_Result *r, const char *path, const std::string &why) {
  GS_AppendResult(r, "can't read speech file \"", path, "\": ", why.c_str(), (char *)NULL);
  return false;
}

bool parseRiff(GS_Result *r, const char *path, FILE *f, uint64_t size, Layout &L) {
  unsigned char h[12];
  if (size < 12 || !readAt(f, 0, h, 12) || memcmp(h + 8, "WAVE", 4) != 0)
    return fail(r, path, "truncated or not a RIFF WAVE header");
  L.kind = "RIFF WAVE";
  bool haveFmt = false, haveData = false;
  unsigned tag = 0, bits = 0, align = 0;
  uint64_t pos = 12;
  while (pos + 8 <= size && !haveData) {
    unsigned char ch[8];
    if (!readAt(f, pos, ch, 8)) break;
    uint64_t csize = le32(ch + 4);
    uint64_t body = pos + 8;
    if (!memcmp(ch, "fmt ", 4)) {
      unsigned char fm[40] = {0};
      if (csize < 16 || body + 16 > size) return fail(r, path, "truncated format chunk");
      size_t n = (size_t)std::min<uint64_t>(std::min<uint64_t>(csize, 40), size - body);
      if (!readAt(f, body, fm, n)) return fail(r, path, "truncated format chunk");
      tag = le16(fm);
      L.channels = le16(fm + 2);
      L.rate = le32(fm + 4);
      align = le16(fm + 12);
      bits = le16(fm + 14);
      if (tag == 0xFFFE) {
        if (csize < 40 || n < 40) return fail(r, path, "truncated extensible format chunk");
        tag = le16(fm + 24);
      }
      haveFmt = true;
    } else if (!memcmp(ch, "data", 4)) {
      if (!haveFmt) return fail(r, path, "data chunk before the format chunk");
      L.dataOffset = body;
      // Streamed files may carry a size of 0 or 0xFFFFFFFF: the data then
      // runs to the end of the file.
      uint64_t avail = size - body;
      L.dataBytes = (csize == 0 || csize > avail) ? avail : csize;
      haveData = true;
      break;
    } else if (!memcmp(ch, "LIST", 4) && csize >= 4 && body + csize <= size && csize < (1u << 20)) {
      std::vector<unsigned char> list((size_t)csize);
      if (readAt(f, body, list.data(), list.size()) && !memcmp(list.data(), "INFO", 4)) {
        size_t q = 4;
        while (q + 8 <= list.size()) {
          uint32_t sz = le32(&list[q + 4]);
          if (sz > list.size() - q - 8) break;
          if (!memcmp(&list[q], "ICMT", 4))
            L.comment = cleanText((const char *)&list[q + 8], sz);
          q += 8 + sz + (sz & 1);
        }
      }
    }
    pos = body + csize + (csize & 1);
  }
  if (!haveFmt) return fail(r, path, "no format chunk");
  if (!haveData) return fail(r, path, "no data chunk");
  if (L.channels < 1 || L.channels > 256) return fail(r, path, "bad channel count");
  if (!(L.rate > 0)) return fail(r, path, "zero sample rate");
  switch (tag) {
    case 1:
      if (bits == 8) L.enc = Enc::Pcm8u;
      else if (bits == 16) L.enc = Enc::Pcm16le;
      else if (bits == 24) L.enc = Enc::Pcm24le;
      else if (bits == 32) L.enc = Enc::Pcm32le;
      else return fail(r, path, "unsupported sample size " + std::to_string(bits));
      break;
    case 3:
      if (bits == 32) L.enc = Enc::Float32le;
      else if (bits == 64) L.enc = Enc::Float64le;
      else return fail(r, path, "unsupported float size " + std::to_string(bits));
      break;
    case 6: L.enc = Enc::Alaw; break;
    case 7: L.enc = Enc::Mulaw; break;
    default: return fail(r, path, "unsupported format tag " + std::to_string(tag));
  }
  int need = L.channels * bytesOf(L.enc);
  if ((int)align < need) return fail(r, path, "block align too small for the format");
  L.frameBytes = (int)align;
  return true;
}

bool parseAu(GS_Result *r, const char *path, FILE *f, uint64_t size, Layout &L) {
  unsigned char h[24];
  if (size < 24 || !readAt(f, 0, h, 24)) return fail(r, path, "truncated au header");
  L.kind = "Sun/NeXT au";
  uint64_t hdr = be32(h + 4), dsize = be32(h + 8);
  unsigned enc = be32(h + 12);
  L.rate = be32(h + 16);
  uint32_t ch = be32(h + 20);
  if (hdr < 24 || hdr > size) return fail(r, path, "bad au header size");
  if (ch < 1 || ch > 256) return fail(r, path, "bad channel count");
  L.channels = (int)ch;
  if (!(L.rate > 0)) return fail(r, path, "zero sample rate");
  switch (enc) {
    case 1: L.enc = Enc::Mulaw; break;
    case 2: L.enc = Enc::Pcm8s; break;
    case 3: L.enc = Enc::Pcm16be; break;
    case 4: L.enc = Enc::Pcm24be; break;
    case 5: L.enc = Enc::Pcm32be; break;
    case 6: L.enc = Enc::Float32be; break;
    case 7: L.enc = Enc::Float64be; break;
    case 27: L.enc = Enc::Alaw; break;
    default: return fail(r, path, "unsupported au encoding " + std::to_string(enc));
  }
  if (hdr > 24) {
    std::vector<char> ann((size_t)(hdr - 24));
    if (readAt(f, 24, ann.data(), ann.size())) L.comment = cleanText(ann.data(), ann.size());
  }
  L.frameBytes = L.channels * bytesOf(L.enc);
  L.dataOffset = hdr;
  uint64_t avail = size - hdr;
  L.dataBytes = (dsize == 0xFFFFFFFFu || dsize > avail) ? avail : dsize;
  return true;
}

inline int clip16(long v) { return v > 32767 ? 32767 : v < -32768 ? -32768 : (int)v; }

inline int round32(int32_t v);

// Float samples go through 32 bits first, so they round as the 32-bit ones.
inline int floatTo16(double x) {
  if (!(x == x)) return 0;
  double v = std::nearbyint(x * 2147483648.0);
  if (v >= 2147483647.0) return 32767;
  if (v <= -2147483648.0) return -32768;
  return round32((int32_t)v);
}

// A 32-bit sample to 16 bits, rounded half up and clipped.
inline int round32(int32_t v) {
  int64_t r = ((int64_t)v + 32768) >> 16;
  return r > 32767 ? 32767 : (int)r;
}

// One channel value of one frame as 16 bits.
inline int decodeOne(Enc e, const unsigned char *p) {
  switch (e) {
    case Enc::Pcm8u: return ((int)p[0] - 128) * 256;
    case Enc::Pcm8s: return (int)(signed char)p[0] * 256;
    case Enc::Pcm16le: return (int16_t)(p[0] | p[1] << 8);
    case Enc::Pcm16be: return (int16_t)(p[1] | p[0] << 8);
    case Enc::Pcm24le: return round32((int32_t)((uint32_t)p[0] << 8 | (uint32_t)p[1] << 16 | (uint32_t)p[2] << 24));
    case Enc::Pcm24be: return round32((int32_t)((uint32_t)p[2] << 8 | (uint32_t)p[1] << 16 | (uint32_t)p[0] << 24));
    case Enc::Pcm32le: return round32((int32_t)le32(p));
    case Enc::Pcm32be: return round32((int32_t)be32(p));
    case Enc::Float32le: { uint32_t u = le32(p); float v; memcpy(&v, &u, 4); return floatTo16(v); }
    case Enc::Float32be: { uint32_t u = be32(p); float v; memcpy(&v, &u, 4); return floatTo16(v); }
    case Enc::Float64le: case Enc::Float64be: {
      uint64_t u = 0;
      for (int i = 0; i < 8; i++) u |= (uint64_t)p[e == Enc::Float64le ? i : 7 - i] << (8 * i);
      double v; memcpy(&v, &u, 8); return floatTo16(v);
    }
    case Enc::Mulaw: return ulaw2linear(p[0]);
    case Enc::Alaw: return alaw2linear(p[0]);
  }
  return 0;
}

void decode(const Layout &L, const unsigned char *in, int16_t *out, size_t frames) {
  if (L.channels == 1 && L.enc == Enc::Pcm16le && L.frameBytes == 2) {
    for (size_t i = 0; i < frames; i++) out[i] = (int16_t)(in[2 * i] | in[2 * i + 1] << 8);
    return;
  }
  if (L.channels == 1 && L.enc == Enc::Mulaw) {
    for (size_t i = 0; i < frames; i++) out[i] = (int16_t)ulaw2linear(in[i]);
    return;
  }
  int b = bytesOf(L.enc);
  for (size_t i = 0; i < frames; i++) {
    const unsigned char *p = in + i * L.frameBytes;
    if (L.channels == 1) {
      out[i] = (int16_t)decodeOne(L.enc, p);
    } else {
      long sum = 0;
      for (int c = 0; c < L.channels; c++) sum += decodeOne(L.enc, p + c * b);
      // Rounded mean of the channels.
      double m = (double)sum / L.channels;
      out[i] = (int16_t)clip16(std::lround(m));
    }
  }
}

// Converts a time in ms to a sample index; false for a negative or
// non-finite time.
bool msToIndex(double ms, double rate, uint64_t &idx) {
  if (!(ms >= 0) || !std::isfinite(ms)) return false;
  double v = std::floor(ms * rate * 0.001);
  idx = v > 9e18 ? (uint64_t)9e18 : (uint64_t)v;
  return true;
}

void putLe16(std::vector<unsigned char> &b, unsigned v) { b.push_back(v & 255); b.push_back(v >> 8 & 255); }
void putLe32(std::vector<unsigned char> &b, uint32_t v) { for (int i = 0; i < 4; i++) b.push_back(v >> (8 * i) & 255); }
void putBe32(std::vector<unsigned char> &b, uint32_t v) { for (int i = 3; i >= 0; i--) b.push_back(v >> (8 * i) & 255); }
void putTag(std::vector<unsigned char> &b, const char *t) { b.insert(b.end(), t, t + 4); }

bool writeFail(GS_Result *r, const char *path, const std::string &why) {
  GS_AppendResult(r, "can't write speech file \"", path, "\": ", why.c_str(), (char *)NULL);
  return false;
}

}  // namespace

int SpeechRead(GS_Result *r, const char *path, double begin, double end,
               int16_t **samples, float *rate, char **header) {
  if (samples) *samples = nullptr;
  if (header) *header = nullptr;
  if (!path || !samples || !rate) { GS_AppendResult(r, "SpeechRead: missing argument", (char *)NULL); return -1; }
  File f(fopen(path, "rb"));
  if (!f) { fail(r, path, strerror(errno)); return -1; }
  struct stat st;
  if (fstat(fileno(f.get()), &st) != 0) { fail(r, path, strerror(errno)); return -1; }
  if (S_ISDIR(st.st_mode)) { fail(r, path, "is a directory"); return -1; }
  uint64_t size = (uint64_t)st.st_size;

  Layout L;
  unsigned char magic[4] = {0};
  bool got4 = size >= 4 && readAt(f.get(), 0, magic, 4);
  std::string ext = lowerExt(path);
  if (got4 && !memcmp(magic, "RIFF", 4)) {
    if (!parseRiff(r, path, f.get(), size, L)) return -1;
  } else if (got4 && !memcmp(magic, ".snd", 4)) {
    if (!parseAu(r, path, f.get(), size, L)) return -1;
  } else if (isRawLinearExt(ext) || isRawMulawExt(ext)) {
    L.kind = "headerless";
    L.enc = isRawMulawExt(ext) ? Enc::Mulaw : Enc::Pcm16le;
    L.frameBytes = bytesOf(L.enc);
    L.rate = 8000;
    L.dataOffset = 0;
    L.dataBytes = size;
  } else if (size == 0) {
    fail(r, path, "empty file");
    return -1;
  } else {
    fail(r, path, "unknown file format (no RIFF WAVE or au header)");
    return -1;
  }

  uint64_t frames = L.dataBytes / (uint64_t)L.frameBytes;
  uint64_t first = 0, last = frames;
  if (!msToIndex(begin, L.rate, first)) { fail(r, path, "begin must not be negative"); return -1; }
  if (end != -1) {
    if (!msToIndex(end, L.rate, last)) { fail(r, path, "end must not be negative"); return -1; }
    if (end < begin) { fail(r, path, "begin after end"); return -1; }
    last = std::min(last, frames);
  }
  if (first > frames) { fail(r, path, "begin is past the end of the file"); return -1; }
  if (last < first) last = first;
  uint64_t n = last - first;
  if (n > 0x7fffffffULL) { fail(r, path, "too many samples"); return -1; }

  int16_t *out = (int16_t *)Wavefile_bigBuffer(n ? n * 2 : 2, __FILE__, __LINE__);
  // Bulk reads in pieces, so that a long file needs no second full copy.
  const size_t piece = std::max<size_t>(1, (1u << 20) / (size_t)L.frameBytes);
  std::vector<unsigned char> buf(piece * (size_t)L.frameBytes);
  if (fseeko(f.get(), (off_t)(L.dataOffset + first * L.frameBytes), SEEK_SET) != 0) {
    DB_Free(out, __FILE__, __LINE__);
    fail(r, path, strerror(errno));
    return -1;
  }
  // Mono 16-bit little-endian data is already in the memory layout of a
  // little-endian host: read it straight into the samples.
  bool direct = L.channels == 1 && L.enc == Enc::Pcm16le && L.frameBytes == 2 &&
                __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__;
  uint64_t done = 0;
  while (done < n) {
    size_t want = (size_t)std::min<uint64_t>(piece, n - done);
    size_t got;
    if (direct) {
      got = fread(out + done, 2, want, f.get());
    } else {
      got = fread(buf.data(), (size_t)L.frameBytes, want, f.get());
      decode(L, buf.data(), out + done, got);
    }
    done += got;
    if (got < want) break;
  }
  if (done < n) {
    DB_Free(out, __FILE__, __LINE__);
    fail(r, path, ferror(f.get()) ? strerror(errno) : "file ends inside its data");
    return -1;
  }
  *samples = out;
  *rate = (float)L.rate;
  if (header) {
    char buf2[256];
    snprintf(buf2, sizeof buf2, "%s; %s; %d channel%s; %.10g Hz; %llu samples", L.kind.c_str(),
             encName(L.enc), L.channels, L.channels == 1 ? "" : "s", L.rate,
             (unsigned long long)frames);
    std::string h = buf2;
    if (!L.comment.empty()) h += "; comment: " + L.comment;
    char *t = (char *)DB_Malloc(h.size() + 1, __FILE__, __LINE__);
    memcpy(t, h.c_str(), h.size() + 1);
    *header = t;
  }
  return (int)n;
}

int SpeechWrite(GS_Result *r, const char *path, double begin, double end,
                const int16_t *samples, int count, double rate, int type,
                const char *comment) {
  if (!path) { GS_AppendResult(r, "SpeechWrite: missing file name", (char *)NULL); return -1; }
  if (type < WAVEFILE_LINEAR || type > WAVEFILE_RIFF) {
    writeFail(r, path, "unknown file type code " + std::to_string(type));
    return -1;
  }
  if (!(rate >= 1 && rate <= 4294967295.0)) { writeFail(r, path, "bad sample rate"); return -1; }
  if (count < 0 || (count > 0 && !samples)) { writeFail(r, path, "no samples"); return -1; }
  uint64_t first = 0, last = (uint64_t)count;
  if (begin != -1 && !msToIndex(begin, rate, first)) { writeFail(r, path, "begin must not be negative"); return -1; }
  if (end != -1) {
    if (!msToIndex(end, rate, last)) { writeFail(r, path, "end must not be negative"); return -1; }
    if (begin != -1 && end < begin) { writeFail(r, path, "begin after end"); return -1; }
    last = std::min<uint64_t>(last, (uint64_t)count);
  }
  if (first > (uint64_t)count) { writeFail(r, path, "begin is past the end of the wave"); return -1; }
  if (last < first) last = first;
  uint32_t n = (uint32_t)(last - first);
  const int16_t *s = samples ? samples + first : samples;
  uint32_t irate = (uint32_t)std::lround(rate);

  std::string ext = lowerExt(path);
  enum { Au, Wav, Raw } container;
  bool mulaw = type == WAVEFILE_MULAW;
  if (type == WAVEFILE_RIFF) container = Wav;
  else if (type == WAVEFILE_SHORTPACK) container = Raw;
  else if (type == WAVEFILE_LINEAR) container = isRawLinearExt(ext) ? Raw : Au;
  else container = isRawMulawExt(ext) ? Raw : ext == "wav" ? Wav : Au;

  std::string note = comment ? comment : "";
  std::vector<unsigned char> hdr;
  uint32_t dataBytes = mulaw ? n : 2 * n;
  if (container == Wav) {
    std::vector<unsigned char> info;
    if (!note.empty()) {
      uint32_t len = (uint32_t)note.size() + 1;
      putTag(info, "INFO");
      putTag(info, "ICMT");
      putLe32(info, len);
      info.insert(info.end(), note.begin(), note.end());
      info.push_back(0);
      if (len & 1) info.push_back(0);
    }
    uint32_t fmtSize = mulaw ? 18 : 16;
    uint32_t riff = 4 + 8 + fmtSize + (mulaw ? 12 : 0) + (info.empty() ? 0 : 8 + (uint32_t)info.size()) +
                    8 + dataBytes + (dataBytes & 1);
    putTag(hdr, "RIFF"); putLe32(hdr, riff); putTag(hdr, "WAVE");
    putTag(hdr, "fmt "); putLe32(hdr, fmtSize);
    putLe16(hdr, mulaw ? 7 : 1); putLe16(hdr, 1); putLe32(hdr, irate);
    putLe32(hdr, irate * (mulaw ? 1 : 2)); putLe16(hdr, mulaw ? 1 : 2); putLe16(hdr, mulaw ? 8 : 16);
    if (mulaw) { putLe16(hdr, 0); putTag(hdr, "fact"); putLe32(hdr, 4); putLe32(hdr, n); }
    if (!info.empty()) { putTag(hdr, "LIST"); putLe32(hdr, (uint32_t)info.size()); hdr.insert(hdr.end(), info.begin(), info.end()); }
    putTag(hdr, "data"); putLe32(hdr, dataBytes);
  } else if (container == Au) {
    // The annotation is NUL-terminated and the header padded to 8 bytes.
    size_t ann = (note.size() + 1 + 7) & ~(size_t)7;
    putTag(hdr, ".snd"); putBe32(hdr, (uint32_t)(24 + ann)); putBe32(hdr, dataBytes);
    putBe32(hdr, mulaw ? 1 : 3); putBe32(hdr, irate); putBe32(hdr, 1);
    hdr.insert(hdr.end(), note.begin(), note.end());
    hdr.resize(24 + ann, 0);
  }

  File f(fopen(path, "wb"));
  if (!f) { writeFail(r, path, strerror(errno)); return -1; }
  bool ok = hdr.empty() || fwrite(hdr.data(), 1, hdr.size(), f.get()) == hdr.size();
  const size_t piece = 1 << 16;
  std::vector<unsigned char> buf(piece * 2);
  bool bigEndian = container == Au;
  for (uint32_t done = 0; ok && done < n;) {
    size_t m = std::min<size_t>(piece, n - done);
    unsigned char *q = buf.data();
    if (mulaw) {
      for (size_t i = 0; i < m; i++) q[i] = linear2ulaw(s[done + i]);
    } else if (bigEndian) {
      for (size_t i = 0; i < m; i++) { uint16_t v = (uint16_t)s[done + i]; q[2 * i] = v >> 8; q[2 * i + 1] = v & 255; }
    } else {
      for (size_t i = 0; i < m; i++) { uint16_t v = (uint16_t)s[done + i]; q[2 * i] = v & 255; q[2 * i + 1] = v >> 8; }
    }
    size_t bytes = mulaw ? m : 2 * m;
    ok = fwrite(q, 1, bytes, f.get()) == bytes;
    done += (uint32_t)m;
  }
  if (ok && container == Wav && (dataBytes & 1)) ok = fputc(0, f.get()) != EOF;
  FILE *raw = f.release();
  if (fclose(raw) != 0) ok = false;
  if (!ok) {
    writeFail(r, path, strerror(errno ? errno : EIO));
    remove(path);
    return -1;
  }
  return (int)n;
}
