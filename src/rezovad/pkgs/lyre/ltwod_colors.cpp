#include "ltwod_colors.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>

const LtwodRgb LtwodDefaultPeakColors[kLtwodPeakColorCount] = {
    {1, 0, 0}, {1, 0.5f, 0}, {1, 1, 0}, {0, 1, 0}, {0, 1, 1}, {0, 0, 1}, {1, 0, 1}, {0, 0, 0}};
LtwodRgb LtwodPeakColors[kLtwodPeakColorCount] = {
    {1, 0, 0}, {1, 0.5f, 0}, {1, 1, 0}, {0, 1, 0}, {0, 1, 1}, {0, 0, 1}, {1, 0, 1}, {0, 0, 0}};

bool LtwodLoadPeakColors(const std::string &file) {
  if (file == "normal") {
    std::copy(LtwodDefaultPeakColors, LtwodDefaultPeakColors + kLtwodPeakColorCount, LtwodPeakColors);
    return true;
  }
  FILE *f = fopen(file.c_str(), "r");
  if (!f) {
    std::copy(LtwodDefaultPeakColors, LtwodDefaultPeakColors + kLtwodPeakColorCount, LtwodPeakColors);
    return false;
  }
  char line[512];
  int k = 0;
  while (k < kLtwodPeakColorCount && fgets(line, sizeof line, f)) {
    float c[3];
    if (sscanf(line, "%f %f %f", &c[0], &c[1], &c[2]) != 3) continue;
    for (float &x : c) x = !(x > 0) ? 0.0f : x > 1 ? 1.0f : x;
    LtwodPeakColors[k++] = {c[0], c[1], c[2]};
  }
  fclose(f);
  return true;
}

LtwodRgb16 LtwodRampColor(int i, int n, double gamma, LtwodRgb16 low, LtwodRgb16 high) {
  double x = std::pow((double)i / (n - 1), gamma);
  auto mix = [x](uint16_t a, uint16_t b) { return (uint16_t)(a + (int)(x * ((int)b - (int)a))); };
  return {mix(low.r, high.r), mix(low.g, high.g), mix(low.b, high.b)};
}

bool LtwodParseColorList(const std::string &list, std::vector<LtwodRgb16> *out, std::string *error) {
  out->clear();
  size_t i = 0;
  while (i < list.size()) {
    while (i < list.size() && (list[i] == '#' || list[i] == ' ')) i++;
    size_t j = i;
    while (j < list.size() && list[j] != '#' && list[j] != ' ') j++;
    if (j == i) break;
    std::string tok = list.substr(i, j - i);
    i = j;
    size_t n = tok.size() / 3;
    bool ok = tok.size() % 3 == 0 && n >= 1 && n <= 4;
    for (char ch : tok) ok = ok && isxdigit((unsigned char)ch);
    if (!ok) {
      *error = "Unknown color spec " + tok;
      return false;
    }
    uint16_t c[3];
    for (int k = 0; k < 3; k++) {
      unsigned v = (unsigned)std::stoul(tok.substr(k * n, n), nullptr, 16);
      c[k] = (uint16_t)(v << ((4 - n) * 4));
    }
    out->push_back({c[0], c[1], c[2]});
  }
  return true;
}

float LtwodValueShade(float value, double low, double high) {
  float lo = (float)low;
  double range = high - low;
  return 1.0f - (float)((value - lo) / (range != 0 ? range : 1.0));
}

LtwodRgb LtwodShadeColor(LtwodRgb c, float value, double low, double high) {
  float e = LtwodValueShade(value, low, high);
  return {c.r + (1 - c.r) * e, c.g + (1 - c.g) * e, c.b + (1 - c.b) * e};
}

bool LtwodClassColor(LtwodRgb classColor, float value, double low, double high, LtwodRgb *out) {
  if (!(value > low)) return false;
  *out = LtwodShadeColor(classColor, value, low, high);
  return true;
}

int LtwodPeakColor(const std::vector<LtwodPeak> &peaks, int row, float value, double low, double high,
                   LtwodRgb *pure, LtwodRgb *shaded) {
  const LtwodPeak *p = nullptr;
  for (const LtwodPeak &q : peaks)
    if (row >= q.first && row <= q.last) {
      p = &q;
      break;
    }
  if (!p || !(value > low)) return -1;
  float e = LtwodValueShade(value, low, high);
  if (p->rank >= 0 && p->rank < kLtwodPeakColorCount && !(row >= p->topStart && row < p->topEnd)) {
    *pure = LtwodPeakColors[p->rank];
    *shaded = LtwodShadeColor(*pure, value, low, high);
  } else {
    *pure = *shaded = {e, e, e};
  }
  return p->rank;
}
