// Object files of named fields; see container_file.h.
#include "container_file.h"

#include <sys/stat.h>
#include <zlib.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "yastro.h"

struct CntrFile {
  std::string path;
  int mode;
  std::vector<std::pair<std::string, std::string>> fields;  // name, packed bytes
  // A file read keeps its bytes once; its fields are spans until the first
  // change.
  std::string image;
  std::vector<std::pair<size_t, size_t>> spans;  // offset, length per field
};

namespace {

const char kFileMagic[4] = {'T', 'V', 'K', 'F'};
const unsigned char kFileVersion = 1;

void append(GS_Result *r, const std::string &s) {
  if (r) GS_AppendResult(r, s.c_str(), (char *)nullptr);
}

// CRC-32 of the whole file: fast enough that large fields cost little more
// than their reading.
uint32_t fileCheck(const char *data, size_t n) {
  uLong c = crc32(0L, Z_NULL, 0);
  while (n > 0) {
    uInt chunk = n > (1u << 30) ? (1u << 30) : (uInt)n;
    c = crc32(c, (const Bytef *)data, chunk);
    data += chunk;
    n -= chunk;
  }
  return (uint32_t)c;
}

void putU32(std::string &b, uint32_t v) {
  for (int i = 0; i < 4; i++) b += (char)(v >> (8 * i));
}

bool getU32(const std::string &b, size_t &p, uint32_t *v) {
  if (b.size() - p < 4) return false;
  *v = 0;
  for (int i = 0; i < 4; i++) *v |= (uint32_t)(unsigned char)b[p + i] << (8 * i);
  p += 4;
  return true;
}

std::string encode(const CntrFile *f) {
  std::string b(kFileMagic, 4);
  b += (char)kFileVersion;
  putU32(b, (uint32_t)f->fields.size());
  for (auto &fl : f->fields) {
    b += (char)fl.first.size();
    b += fl.first;
    putU32(b, (uint32_t)fl.second.size());
    b += fl.second;
  }
  putU32(b, fileCheck(b.data(), b.size()));
  return b;
}

int decode(GS_Result *r, const std::string &path, const std::string &b, CntrFile *f) {
  auto bad = [&](const char *why) {
    append(r, "object file \"" + path + "\" " + why);
    return 1;
  };
  if (b.size() < 13 || memcmp(b.data(), kFileMagic, 4) != 0) return bad("is not an object file");
  if ((unsigned char)b[4] != kFileVersion) return bad("has an unknown version");
  size_t end = b.size() - 4, p = end;
  uint32_t check = 0;
  getU32(b, p, &check);
  if (check != fileCheck(b.data(), end)) return bad("is damaged (bad check)");
  p = 5;
  uint32_t count = 0;
  if (!getU32(b, p, &count) || count > end) return bad("is truncated");
  for (uint32_t i = 0; i < count; i++) {
    if (p >= end) return bad("is truncated");
    size_t n = (unsigned char)b[p++];
    if (end - p < n) return bad("is truncated");
    std::string name = b.substr(p, n);
    p += n;
    uint32_t len = 0;
    if (!getU32(b, p, &len) || p > end || end - p < len) return bad("is truncated");
    f->fields.emplace_back(name, std::string());
    f->spans.emplace_back(p, len);
    p += len;
  }
  if (p != end) return bad("has bytes after its fields");
  return 0;
}

int store(GS_Result *r, CntrFile *f) {
  std::string bytes = encode(f);
  std::string tmp = f->path + ".tmp";
  FILE *out = fopen(tmp.c_str(), "wb");
  if (!out) {
    append(r, "cannot create \"" + tmp + "\"");
    return 1;
  }
  bool ok = fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
  ok = fclose(out) == 0 && ok;
  if (!ok || rename(tmp.c_str(), f->path.c_str()) != 0) {
    remove(tmp.c_str());
    append(r, "cannot write \"" + f->path + "\"");
    return 1;
  }
  return 0;
}

// Copies the spans of a read image into the fields, so that they can
// change: done at the first change, so that a file opened for writing but
// only read never copies its bytes.
void own(CntrFile *f) {
  if (f->spans.empty()) return;
  for (size_t i = 0; i < f->spans.size(); i++)
    f->fields[i].second.assign(f->image, f->spans[i].first, f->spans[i].second);
  f->spans.clear();
  std::string().swap(f->image);
}

std::pair<std::string, std::string> *find(CntrFile *f, const char *field) {
  for (auto &fl : f->fields)
    if (fl.first == field) return &fl;
  return nullptr;
}

// The packed bytes of field i.
std::pair<const char *, size_t> bytesOf(const CntrFile *f, size_t i) {
  if (!f->spans.empty()) return {f->image.data() + f->spans[i].first, f->spans[i].second};
  return {f->fields[i].second.data(), f->fields[i].second.size()};
}

// The type name inside a packed object, "" when it is empty or unreadable.
std::string typeOf(const std::string &packed) {
  if (packed.size() < 6) return "";
  size_t n = (unsigned char)packed[5];
  if (packed.size() < 6 + n) return "";
  return packed.substr(6, n);
}

}  // namespace

extern "C" {

CntrFile *Cntr_ObjFOpen(GS_Result *r, const char *path, int mode) {
  if (!path || (mode != 0 && mode != 1)) {
    append(r, "bad object file arguments");
    return nullptr;
  }
  CntrFile *f = new CntrFile{path, mode, {}, {}, {}};
  FILE *in = fopen(path, "rb");
  if (!in) {
    if (mode == 1) {
      if (store(r, f) == 0) return f;
    } else {
      append(r, std::string("cannot open object file \"") + path + "\"");
    }
    delete f;
    return nullptr;
  }
  // A folder opens like a file; only a regular file holds objects.
  struct stat st;
  if (fstat(fileno(in), &st) != 0 || !S_ISREG(st.st_mode)) {
    fclose(in);
    append(r, std::string("cannot read object file \"") + path + "\"");
    delete f;
    return nullptr;
  }
  // Read straight into the image: the size is known, and a file that
  // changes meanwhile is caught by its check.
  std::string b((size_t)st.st_size, '\0');
  size_t got = b.empty() ? 0 : fread(&b[0], 1, b.size(), in);
  b.resize(got);
  char extra[4096];
  size_t n;
  while ((n = fread(extra, 1, sizeof extra, in)) > 0) b.append(extra, n);
  bool err = ferror(in);
  fclose(in);
  if (err || decode(r, path, b, f)) {
    if (err) append(r, std::string("cannot read object file \"") + path + "\"");
    delete f;
    return nullptr;
  }
  f->image.swap(b);
  return f;
}

int Cntr_ObjFClose(GS_Result *, CntrFile *file) {
  delete file;
  return 0;
}

int Cntr_ObjFWrite(GS_Result *r, CntrFile *file, const char *field, const CntrObj *obj) {
  if (!file || !field || !obj) {
    append(r, "bad object file arguments");
    return 1;
  }
  if (file->mode != 1) {
    append(r, "object file \"" + file->path + "\" is open for reading only");
    return 1;
  }
  if (strlen(field) > 255) {
    append(r, "field name too long");
    return 1;
  }
  int len = 0;
  if (Cntr_ObjLength(r, obj, &len)) return 1;
  std::string packed((size_t)len, '\0');
  int pos = 0;
  if (len > 0 && Cntr_ObjPack(r, obj, &packed[0], &pos)) return 1;
  own(file);
  auto *old = find(file, field);
  std::string previous;
  if (old) {
    previous.swap(old->second);
    old->second = packed;
  } else {
    file->fields.emplace_back(field, packed);
  }
  if (store(r, file)) {
    // Keep the memory image equal to what is on disk.
    if (old) old->second.swap(previous);
    else file->fields.pop_back();
    return 1;
  }
  return 0;
}

CntrObj *Cntr_ObjFRead(GS_Result *r, CntrFile *file, const char *field) {
  if (!file || !field) {
    append(r, "bad object file arguments");
    return nullptr;
  }
  size_t i = 0;
  while (i < file->fields.size() && file->fields[i].first != field) i++;
  if (i == file->fields.size()) {
    append(r, "no field \"" + std::string(field) + "\" in object file \"" + file->path + "\"");
    return nullptr;
  }
  auto bytes = bytesOf(file, i);
  if (bytes.second == 0) {
    append(r, "field \"" + std::string(field) + "\" of \"" + file->path + "\" is empty");
    return nullptr;
  }
  if (bytes.second > 0x7fffffffu) {
    append(r, "field \"" + std::string(field) + "\" is too large");
    return nullptr;
  }
  int pos = 0;
  // The file's own check covered these bytes when it was opened.
  CntrObj *o = Cntr_ObjUnpackVerified(r, nullptr, bytes.first, &pos, (int)bytes.second, 0);
  if (o && pos != (int)bytes.second) {
    Cntr_ObjDestroy(nullptr, o);
    append(r, "field \"" + std::string(field) + "\" holds bytes after its object");
    return nullptr;
  }
  return o;
}

int Cntr_ObjFFields(GS_Result *r, CntrFile *file) {
  std::string s;
  for (auto &fl : file->fields) s += (s.empty() ? "" : " ") + fl.first;
  append(r, s);
  return 0;
}

int Cntr_ObjFInfo(GS_Result *r, CntrFile *file, const char *field) {
  auto *f = find(file, field);
  if (!f) {
    append(r, "no field \"" + std::string(field ? field : "") + "\" in object file \"" + file->path + "\"");
    return 1;
  }
  auto bytes = bytesOf(file, f - file->fields.data());
  std::string packed(bytes.first, bytes.second < 300 ? bytes.second : 300);
  append(r, "field " + f->first + " type " + (bytes.second == 0 ? "{}" : typeOf(packed)) +
                " length " + std::to_string(bytes.second));
  return 0;
}

int Cntr_ObjFStat(GS_Result *r, CntrFile *file) {
  size_t bytes = 0;
  for (size_t i = 0; i < file->fields.size(); i++) bytes += bytesOf(file, i).second;
  append(r, "file " + file->path + " fields " + std::to_string(file->fields.size()) + " bytes " +
                std::to_string(bytes));
  return 0;
}

int Cntr_ObjFDestroy(GS_Result *r, CntrFile *file, const char *field) {
  if (file->mode != 1) {
    append(r, "object file \"" + file->path + "\" is open for reading only");
    return 1;
  }
  for (size_t i = 0; i < file->fields.size(); i++)
    if (file->fields[i].first == (field ? field : "")) {
      own(file);
      auto saved = file->fields[i];
      file->fields.erase(file->fields.begin() + i);
      if (store(r, file)) {
        file->fields.insert(file->fields.begin() + i, saved);
        return 1;
      }
      return 0;
    }
  append(r, "no field \"" + std::string(field ? field : "") + "\" in object file \"" + file->path + "\"");
  return 1;
}

}  // extern "C"
