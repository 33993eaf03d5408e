// Small filters of the synthesis engine and its analysis tools.
//
// Wave forms work in place on 16-bit one-channel waves and clip every output
// to -32767 .. 32767 (then truncate toward zero): a loud filter output never
// wraps around. The IIR forms divide the coefficients by den[0], which must
// not be 0 (VekError otherwise), so num (1) den (2) halves a signal whatever
// the filter's length.
#pragma once

#include <vector>

#include "festival.h"

class EST_Wave;
class EST_Track;

// All-pole 1/A(z), a[0] taken as 1, zero initial state: y[i] = x[i] -
// sum_{k=1..min(i, n_coef-1)} a[k] y[i-k], i < len.
void lpc_synth_filter(const double *x, const double *a, int n_coef, double *y, int len);
// FIR A(z): y[i] = sum_{k=0..min(i, n_coef-1)} a[k] x[i-k].
void lpc_inverse_filter(const double *x, const double *a, int n_coef, double *y, int len);

// Transposed direct form II, zero initial state, in place.
void iir_filter_dvector(const std::vector<double> &num, const std::vector<double> &den,
                        std::vector<double> &v);
void iir_filter_wave(const std::vector<double> &num, const std::vector<double> &den, EST_Wave &w);
// IIR, reverse, IIR, reverse: zero phase, no edge padding.
void filtfilt_dvector(const std::vector<double> &num, const std::vector<double> &den,
                      std::vector<double> &v);
void filtfilt_wave(const std::vector<double> &num, const std::vector<double> &den, EST_Wave &w);
void reverse_dvector(std::vector<double> &v);

// Centred FIR: output m = sum_k h[k] x[m + N/2 - k], zeros outside, same length.
void fir_filter_dvector(const std::vector<double> &h, std::vector<double> &v);
void fir_filter_wave(const std::vector<double> &h, EST_Wave &w);
// Filters channel 0.
void fir_filter_track(const std::vector<double> &h, EST_Track &t);

// (NUM DEN): two lists of numbers; both results are sized to the longer one,
// zero-filled. Throws VekError on any other shape.
void lisp_to_filter_coefs(LISP expr, std::vector<double> &num, std::vector<double> &den);
void get_filter_coefs(const char *text, std::vector<double> &num, std::vector<double> &den);

// y[i] = x[i] / (1 + k) - x[i-1] k / (1 + k), x[-1] = 0, in place, clipped.
void preemphasis_wave(EST_Wave &w, double k);
