// Label file reader and writer.
#include "vek_labels.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

static std::string trimmed(const std::string &s) {
  size_t b = s.find_first_not_of(" \t\r\n");
  if (b == std::string::npos) return "";
  size_t e = s.find_last_not_of(" \t\r\n");
  return s.substr(b, e - b + 1);
}

static bool parseNumber(const std::string &tok, double &v) {
  if (tok.empty()) return false;
  char *end = nullptr;
  errno = 0;
  v = strtod(tok.c_str(), &end);
  return errno == 0 && *end == '\0' && std::isfinite(v);
}

VekLabelRead Vek_readLabels(const std::string &path, std::vector<VekLabel> &out, std::string &why) {
  out.clear();
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    why = "cannot open label file \"" + path + "\": " + strerror(errno);
    return VekLabelRead::cannotOpen;
  }
  std::string line;
  int lineNo = 0;
  double msPerFrame = -1;
  bool headerDone = false;
  // The header is short; a file without "END OF HEADER" in its first lines
  // is some other kind of file.
  while (lineNo < 64 && std::getline(in, line)) {
    ++lineNo;
    std::string t = trimmed(line);
    if (t == "END OF HEADER") {
      headerDone = true;
      break;
    }
    if (t.compare(0, 21, "MillisecondsPerFrame:") == 0) {
      double v;
      if (!parseNumber(trimmed(t.substr(21)), v) || v <= 0) {
        why = "label file \"" + path + "\": line " + std::to_string(lineNo) + ": bad MillisecondsPerFrame";
        return VekLabelRead::malformed;
      }
      msPerFrame = v;
    }
  }
  if (!headerDone) {
    why = "\"" + path + "\" is not a label file (no \"END OF HEADER\" line)";
    return VekLabelRead::notLabels;
  }
  if (msPerFrame < 0) {
    why = "label file \"" + path + "\": header has no MillisecondsPerFrame line";
    return VekLabelRead::malformed;
  }
  double scale = msPerFrame / 1000.0;
  while (std::getline(in, line)) {
    ++lineNo;
    std::istringstream ss(line);
    std::string b, e, name;
    if (!(ss >> b)) continue;  // blank line
    double bv, ev;
    if (!(ss >> e >> name) || !parseNumber(b, bv) || !parseNumber(e, ev)) {
      why = "label file \"" + path + "\": line " + std::to_string(lineNo) + ": expected \"begin end name\"";
      out.clear();
      return VekLabelRead::malformed;
    }
    out.push_back({bv * scale, ev * scale, name});
  }
  return VekLabelRead::ok;
}

bool save_Vek_labels(const std::vector<float> &ends, const std::vector<std::string> &names,
                     const std::string &filename, int count, std::string &why) {
  FILE *f = fopen(filename.c_str(), "w");
  if (f == nullptr) {
    why = "cannot write label file \"" + filename + "\": " + strerror(errno);
    return false;
  }
  size_t n = ends.size();
  if (count != -99 && count >= 0 && (size_t)count < n) n = (size_t)count;
  if (count != -99 && count < 0) n = 0;
  fprintf(f, "MillisecondsPerFrame: %1.6f\n", 1.0);
  fprintf(f, "END OF HEADER\n");
  float begin = 0.0f;
  for (size_t i = 0; i < n; ++i) {
    const char *name = i < names.size() ? names[i].c_str() : "NULL";
    fprintf(f, "%.1f %.1f %s\n", begin * 1000, ends[i] * 1000, name);
    begin = ends[i];
  }
  bool ok = !ferror(f);
  if (fclose(f) != 0) ok = false;
  if (!ok) why = "cannot write label file \"" + filename + "\": " + strerror(errno);
  return ok;
}
