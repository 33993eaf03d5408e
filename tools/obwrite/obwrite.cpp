// obwrite FILE FIELD arrayF ROWS COLS
// obwrite FILE FIELD hmm/description
//
// Reads a matrix of ROWS x COLS numbers (as strtod reads them, white space
// between) or a label table (one label a line) from standard input and
// stores it as FIELD of the object file FILE, which is created when missing;
// a field of that name is replaced. A label is stored wrapped in braces with
// its storage size, as readers of label tables take it back.
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include "container.h"
#include "container_file.h"
#include "records.h"
#include "yastro.h"

namespace {

int Fail(const std::string &why) {
  fprintf(stderr, "obwrite: %s\n", why.c_str());
  return 1;
}

bool ReadCount(const char *text, long *out) {
  char *end = nullptr;
  errno = 0;
  long v = strtol(text, &end, 10);
  if (errno || end == text || *end || v < 0 || v > 0x7fffffffL) return false;
  *out = v;
  return true;
}

// Writes the record as FIELD of FILE; the record is the object's from here.
int Store(const char *path, const char *field, const char *typeName, void *record) {
  GS_Result *r = GS_CreateResult();
  const CntrType *type = Cntr_TypeFind(typeName);
  CntrObj *obj = Cntr_ObjCreate(r, type, record);
  int rc = 1;
  if (obj && (!type->prepare || type->prepare(r, record) == 0)) {
    CntrFile *f = Cntr_ObjFOpen(r, path, 1);
    if (f) {
      rc = Cntr_ObjFWrite(r, f, field, obj);
      Cntr_ObjFClose(r, f);
    }
  }
  if (rc) Fail(r->text && *r->text ? r->text : "cannot write the object");
  if (obj) Cntr_ObjDestroy(nullptr, obj);
  else Cntr_Free(nullptr, type, record);
  GS_DeleteResult(r);
  return rc;
}

int WriteMatrix(const char *path, const char *field, const char *rowsText, const char *colsText) {
  long rows = 0, cols = 0;
  if (!ReadCount(rowsText, &rows) || !ReadCount(colsText, &cols))
    return Fail(std::string("bad shape \"") + rowsText + " " + colsText + "\"");
  if (rows && cols > 0x7fffffffL / 4 / rows) return Fail("matrix too large");
  std::string text((std::istreambuf_iterator<char>(std::cin)), std::istreambuf_iterator<char>());
  const long want = rows * cols;
  std::vector<float> values;
  values.reserve((size_t)want);
  const char *p = text.c_str();
  for (;;) {
    while (*p && isspace((unsigned char)*p)) p++;
    if (!*p) break;
    char *end = nullptr;
    double v = strtod(p, &end);
    if (end == p) return Fail("not a number: \"" + std::string(p, strcspn(p, " \t\r\n")) + "\"");
    if ((long)values.size() == want) return Fail("more than " + std::to_string(want) + " numbers");
    values.push_back((float)v);
    p = end;
  }
  if ((long)values.size() < want)
    return Fail("only " + std::to_string(values.size()) + " of " + std::to_string(want) + " numbers");
  ArrayRecord *a = Array_New(2, (int32_t)rows, (int32_t)cols);
  a->data = static_cast<float *>(DB_MALLOC(values.empty() ? 1 : values.size() * sizeof(float)));
  if (!values.empty()) memcpy(a->data, values.data(), values.size() * sizeof(float));
  return Store(path, field, "arrayF", a);
}

int WriteLabels(const char *path, const char *field) {
  std::vector<std::string> labels;
  for (std::string line; std::getline(std::cin, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) continue;
    if (line.size() + 3 > 0xffff) return Fail("label too long: " + line.substr(0, 40) + "...");
    labels.push_back(line);
  }
  HmmDescription *d = HmmDescription_New((int32_t)labels.size());
  for (size_t i = 0; i < labels.size(); i++) {
    DescriptionEntry &e = d->entries[i];
    std::string spec = "{" + labels[i] + "}";
    e.modelSpec = static_cast<char *>(DB_MALLOC(spec.size() + 1));
    memcpy(e.modelSpec, spec.c_str(), spec.size() + 1);
    e.modelSpecSize = (uint16_t)(spec.size() + 1);
    e.name = static_cast<char *>(DB_MALLOC(labels[i].size() + 1));
    memcpy(e.name, labels[i].c_str(), labels[i].size() + 1);
    e.hmmIndex = (int32_t)i;
  }
  return Store(path, field, "hmm/description", d);
}

}  // namespace

int main(int argc, char **argv) {
  GS_Result *r = GS_CreateResult();
  Cntr_Init(r);
  GS_DeleteResult(r);
  if (argc == 6 && strcmp(argv[3], "arrayF") == 0) return WriteMatrix(argv[1], argv[2], argv[4], argv[5]);
  if (argc == 4 && strcmp(argv[3], "hmm/description") == 0) return WriteLabels(argv[1], argv[2]);
  fprintf(stderr,
          "usage: obwrite FILE FIELD arrayF ROWS COLS   (ROWS x COLS numbers on standard input)\n"
          "       obwrite FILE FIELD hmm/description    (one label a line on standard input)\n");
  return 2;
}
