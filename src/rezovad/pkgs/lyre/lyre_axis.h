// The arithmetic of the display widgets' shared time axis, free of Tk so
// that it can be tested alone: damage spans, scroll fractions, ruler steps
// and the waveform's per-column envelope.
//
// What callers rely on: a damage span with start -1 means the whole window;
// scroll fractions of an empty strip are "0 1"; LyreTicks never loops for a
// ms-per-pixel that is not a positive finite number (it answers false).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Widens the pending span (start, extent) to the hull of itself and
// (x, width). A whole-window span (start < 0) stays one.
void LyreMergeDamage(int *start, int *extent, int x, int width);

// Visible fractions of a strip of `total` pixels whose window of `width`
// pixels starts at `first`: "0 1" when the strip is empty.
void LyreScrollFractions(int first, int width, int total, double *lo, double *hi);

// Clamps a first pixel after xview: not past total - width, not below 0.
int LyreClampFirst(int first, int width, int total);

// Major and minor tick steps (ms) for a ruler at msPerPixel, keeping major
// ticks 50 to 250 pixels apart. False for a non-positive or infinite scale.
bool LyreTicks(double msPerPixel, double *major, double *minor);

// printf format for the labels of a ruler with this major step ("%4.0f").
std::string LyreLabelFormat(double step);

// One column's share of the waveform: the sample indices it covers.
struct LyreColumnSpan {
  int64_t s0, s1;
};
LyreColumnSpan LyreColumnSamples(double samplesPerPixel, int64_t stripPixel);

// Envelope polyline of columns cs..x1 (inclusive) for stored samples:
// two points per column, ordered so that the line joins neighbours.
// `first` is the strip pixel shown at column 0; k = height / (max - min).
struct LyrePoint {
  int16_t x, y;
};
void LyreEnvelope(const int16_t *stored, int64_t count, double samplesPerPixel, int first, int cs, int x1,
                  int minStored, float k, std::vector<LyrePoint> *points);

// Asks the kernel to back a large, not yet touched buffer with 2 MB pages:
// an hour of sound or a long spectrogram is over 100 MB, and faulting it
// in 4 kB pages is most of the time of its first copy. Only advice.
void LyreAdviseHugePages(void *p, size_t bytes);
