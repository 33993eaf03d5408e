// Module "Vekinsert": splices a wave file into the synthesised wave.
#include <cmath>
#include <cstdlib>
#include <map>
#include <utility>
#include <string>
#include <vector>

#include "EST_wave_aux.h"
#include "siod.h"
#include "vek_insert_dsp.h"
#include "vek_lisp.h"

namespace {

// The speech tools' rate converter delays its output by a filter length and
// adds a tail. An impulse through the converter shows the delay once per pair
// of rates; the converted file is then cut back to its true length, so that
// an inserted sound starts where it was put and lasts as long as it did.
long converterDelay(int from, int to) {
  static std::map<std::pair<int, int>, long> cache;
  auto key = std::make_pair(from, to);
  auto it = cache.find(key);
  if (it != cache.end()) return it->second;
  const int p = 1000;
  EST_Wave imp(2 * p, 1, from);
  for (int i = 0; i < 2 * p; ++i) imp.a_no_check(i, 0) = 0;
  imp.a_no_check(p, 0) = 20000;
  imp.resample(to);
  int best = 0;
  for (int i = 0; i < imp.num_samples(); ++i)
    if (std::abs(imp.a_no_check(i, 0)) > std::abs(imp.a_no_check(best, 0))) best = i;
  long d = best - std::lround((double)p * to / from);
  cache[key] = d;
  return d;
}

void resampleAligned(EST_Wave &f, int to) {
  int from = f.sample_rate();
  long want = std::lround((double)f.num_samples() * to / from);
  long d = converterDelay(from, to);
  f.resample(to);
  EST_Wave out((int)want, f.num_channels(), to);
  for (int c = 0; c < f.num_channels(); ++c)
    for (long i = 0; i < want; ++i) {
      long k = i + d;
      out.a_no_check((int)i, c) = k >= 0 && k < f.num_samples() ? f.a_no_check((int)k, c) : 0;
    }
  f = out;
}

struct Spliced {
  EST_Item *item;     // the Wave item whose "wave" feature is replaced
  EST_Wave *w;        // the utterance wave
  EST_Wave f;         // the file, at w's rate
  std::string filename;
};

void load(Spliced &s, LISP utt, LISP lfilename, const char *fn) {
  EST_Utterance *u = Vek_argUtt(utt, fn);
  s.w = Vek_uttWave(u, fn);
  if (s.w->num_channels() < 1 || s.w->sample_rate() <= 0)
    Vek_fail("%s: the utterance wave has no channels or no rate", fn);
  s.item = u->relation("Wave")->head();
  s.filename = Vek_argText(lfilename, fn, "FILENAME");
  // The wave loader prints its own complaints; the failure is ours to raise.
  if (s.f.load(s.filename.c_str(), 0, 0, 16000) != read_ok)
    Vek_fail("%s: cannot read wave file \"%s\"", fn, s.filename.c_str());
  if (s.f.num_samples() > 0 && s.f.sample_rate() != s.w->sample_rate()) resampleAligned(s.f, s.w->sample_rate());
}

long insertionPoint(const EST_Wave &w, double seconds) {
  double h = std::trunc(w.sample_rate() * seconds);
  if (!(h < 0x7fffffff)) Vek_fail("insertion time %g s is too far beyond the wave", seconds);
  return std::max(1L, (long)h);
}

std::vector<short> channelOf(const EST_Wave &w, int c) {
  if (c >= w.num_channels()) c = w.num_channels() - 1;
  std::vector<short> x(w.num_samples());
  for (int i = 0; i < w.num_samples(); ++i) x[i] = w.a_no_check(i, c);
  return x;
}

// Replaces the utterance's wave by channels, keeping rate and channel count.
void replaceWave(Spliced &s, const std::vector<std::vector<short>> &chans) {
  EST_Wave *nw = new EST_Wave((int)chans[0].size(), (int)chans.size(), s.w->sample_rate());
  for (size_t c = 0; c < chans.size(); ++c)
    for (size_t i = 0; i < chans[c].size(); ++i) nw->a_no_check((int)i, (int)c) = chans[c][i];
  s.w->resize(0, EST_ALL, 0);
  s.item->set_val("wave", est_val(nw));
}

// Splices the file into the utterance wave; answers the file's duration.
double splice(LISP utt, LISP lfilename, LISP ltime, const char *fn, bool overwrite) {
  Spliced s;
  load(s, utt, lfilename, fn);
  long h = insertionPoint(*s.w, Vek_argNumber(ltime, fn, "TIME"));
  long l = s.f.num_samples();
  std::vector<std::vector<short>> chans;
  for (int c = 0; c < s.w->num_channels(); ++c) {
    std::vector<short> w = channelOf(*s.w, c);
    std::vector<short> f = l > 0 ? channelOf(s.f, c) : std::vector<short>();
    chans.push_back(overwrite ? Vekinsert_overwrite(w, f, h) : Vekinsert_insert(w, f, h));
  }
  double seconds = (double)l / s.w->sample_rate();
  replaceWave(s, chans);
  return seconds;
}

// (utt.wave.insert UTT FILENAME TIME): inserts the file at TIME seconds;
// answers the file's duration.
LISP uttWaveInsert(LISP utt, LISP f, LISP t) { return flocons(splice(utt, f, t, "utt.wave.insert", false)); }

// (utt.wave.overwrite UTT FILENAME TIME): the file replaces the speech from
// TIME seconds for its own length; answers the file's duration.
LISP uttWaveOverwrite(LISP utt, LISP f, LISP t) {
  return flocons(splice(utt, f, t, "utt.wave.overwrite", true));
}

// (utt.wave.background UTT FILENAME TIME): mixes the file under the speech
// from TIME, or loops it over (START END); END -1 is the end of the speech.
LISP uttWaveBackground(LISP utt, LISP lfilename, LISP ltime) {
  const char *fn = "utt.wave.background";
  Spliced s;
  load(s, utt, lfilename, fn);
  double start, end = 0;
  if (ltime != NIL && CONSP(ltime)) {
    if (Vek_listLength(ltime) != 2) Vek_fail("%s: TIME must be a number or a list (START END)", fn);
    start = Vek_argNumber(CAR(ltime), fn, "START");
    end = Vek_argNumber(CAR(CDR(ltime)), fn, "END");
  } else {
    start = Vek_argNumber(ltime, fn, "TIME");
  }
  int rate = s.w->sample_rate();
  if (end == -1) end = (double)s.w->num_samples() / rate;
  long h = insertionPoint(*s.w, start);
  bool range = end > start;
  long l = s.f.num_samples();
  // An empty file would be looped forever.
  if (range && l == 0) Vek_fail("%s: wave file \"%s\" holds no samples to loop", fn, s.filename.c_str());
  float endSample = (float)(end * rate);
  std::vector<std::vector<short>> chans;
  for (int c = 0; c < s.w->num_channels(); ++c) {
    std::vector<short> w = channelOf(*s.w, c);
    std::vector<short> f = l > 0 ? channelOf(s.f, c) : std::vector<short>();
    Vekinsert_mix(w, Vekinsert_loop(f, h, endSample, range), h);
    chans.push_back(std::move(w));
  }
  // The wave stays the utterance's own object, changed in place.
  long n = (long)chans[0].size();
  if (n > s.w->num_samples()) s.w->resize((int)n, EST_ALL, 1);
  for (size_t c = 0; c < chans.size(); ++c)
    for (long i = 0; i < n; ++i) s.w->a_no_check((int)i, (int)c) = chans[c][i];
  return utt;
}

}  // namespace

void Vekinsert_module_init() {
  proclaim_module("Vekinsert");
  init_subr_3("utt.wave.insert", Vek_wrap3<uttWaveInsert>,
              "(utt.wave.insert UTT FILENAME TIME) \n   Load waveform in FILENAME and insert it into synthesized \n"
              "   wave of UTT at point TIME. Returns duration of inserted wave.");
  init_subr_3("utt.wave.overwrite", Vek_wrap3<uttWaveOverwrite>,
              "(utt.wave.overwrite UTT FILENAME TIME) \n   Load waveform in FILENAME and overwrite synthesized \n"
              "   wave of UTT at point TIME, for duration of FILENAME.");
  init_subr_3("utt.wave.background", Vek_wrap3<uttWaveBackground>,
              "(utt.wave.background UTT FILENAME TIME) \n   Load waveform in FILENAME and insert into synthesized \n"
              "   wave of UTT at point TIME, for duration of file. If TIME is \n"
              "   a list of 2 times, loop the wavefile to fill from first to last times.\n"
              "   Make TIME = (0.0 -1.0) to loop from begin to end of utt");
}
