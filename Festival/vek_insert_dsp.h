// Splicing one recording into another, on one channel of 16-bit samples.
// h is the insertion point in samples of w.
#pragma once

#include <vector>

// w's first h samples (padded with silence up to h), then f, then the rest
// of w from h.
std::vector<short> Vekinsert_insert(const std::vector<short> &w, const std::vector<short> &f, long h);

// As insert, but f replaces w's samples from h; the rest of w resumes at h +
// length of f.
std::vector<short> Vekinsert_overwrite(const std::vector<short> &w, const std::vector<short> &f, long h);

// The loop of f that fills from h to endSample: one copy, then whole copies
// while endSample > h + k * length(f). f must not be empty when a range is
// asked for.
std::vector<short> Vekinsert_loop(const std::vector<short> &f, long h, double endSample, bool range);

// Mixes b into w from h, growing w with silence as needed; sums saturate at
// -32767..32767.
void Vekinsert_mix(std::vector<short> &w, const std::vector<short> &b, long h);
