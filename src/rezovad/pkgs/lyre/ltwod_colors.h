// Colours of the 2-D display: the eight peak-rank colours (process-wide,
// changed by a colour-map file), the value ramp, the "#rgb" colour lists,
// and the colours of surface vertices by peak, value and label class.
//
// What callers rely on: components are floats in [0, 1] for the GL views
// and 16-bit values for X colours; a colour list token has 3, 6, 9 or 12
// hex digits (n per component, shifted into 16 bits) and anything else is
// refused with "Unknown color spec " and the token.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ltwod_peaks.h"

struct LtwodRgb {
  float r, g, b;
};

struct LtwodRgb16 {
  uint16_t r, g, b;
};

constexpr int kLtwodPeakColorCount = 8;
extern LtwodRgb LtwodPeakColors[kLtwodPeakColorCount];
extern const LtwodRgb LtwodDefaultPeakColors[kLtwodPeakColorCount];

// "normal" restores the built-in table; otherwise lines of three numbers
// (others skipped, each clamped to [0, 1]) replace entries 0, 1, ... (at
// most eight). A file that does not open restores the defaults: false.
bool LtwodLoadPeakColors(const std::string &file);

// Value colour i of a ramp of n (n >= 2) from low to high with gamma.
LtwodRgb16 LtwodRampColor(int i, int n, double gamma, LtwodRgb16 low, LtwodRgb16 high);
// Splits a colour list at "#" and blanks; false with the message on a bad token.
bool LtwodParseColorList(const std::string &list, std::vector<LtwodRgb16> *out, std::string *error);

// 1 - (value - low) / (high - low), with low as a float.
float LtwodValueShade(float value, double low, double high);
// The colour lightened towards white by one minus the normalised value.
LtwodRgb LtwodShadeColor(LtwodRgb c, float value, double low, double high);
// A class colour lightened the same way; false (no colour) for values not above low.
bool LtwodClassColor(LtwodRgb classColor, float value, double low, double high, LtwodRgb *out);
// The rank of the peak of `peaks` holding row, or -1 (none, or value not
// above low); pure and shaded colours as the surface view uses them.
int LtwodPeakColor(const std::vector<LtwodPeak> &peaks, int row, float value, double low, double high,
                   LtwodRgb *pure, LtwodRgb *shaded);
