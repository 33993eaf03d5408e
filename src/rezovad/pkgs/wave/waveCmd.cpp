// The `wave` command: speech files, cutting, joining, scaling, measuring and
// printing "wave" objects, vectors, resampling and block streams.
//
// Sample arithmetic saturates at the 16-bit limits: a loud wave scaled up
// clips instead of wrapping into full-scale clicks of the opposite sign.
#include <tcl.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "cmds.h"
#include "obj.h"
#include "records.h"
#include "result.h"
#include "wave_import.h"
#include "wavefile.h"
#include "yastro.h"

#include "utils.h"

namespace {

int16_t clip16(double v) {
  if (v >= 32767.0) return 32767;
  if (v <= -32768.0) return -32768;
  if (v != v) return 0;
  return (int16_t)v;  // truncated toward zero
}

// A new wave object of len samples with a copy of info (rate, encoding);
// its name is the interpreter result. Null on failure (message left).
WaveRecord *newWave(Tcl_Interp *interp, int len, const float *info, int infoCount) {
  WaveRecord *w = nullptr;
  return createWave(interp, len, infoCount, info, nullptr, &w) ? nullptr : w;
}

WaveRecord *getWave(Tcl_Interp *interp, const char *name) {
  return static_cast<WaveRecord *>(Obj_GetData(interp, "wave", name));
}

// A sample index from a computed time, held where a long long can carry
// it: times far beyond any wave stay out of bounds instead of wrapping.
long long toIndex(double v) {
  if (v != v) return 0;
  if (v > 1e15) return (long long)1e15;
  if (v < -1e15) return (long long)-1e15;
  return (long long)v;
}

float rateOf(const WaveRecord *w) { return w->infoCount > 0 ? w->info[0] : 0.0f; }

int fail(Tcl_Interp *interp, const char *message) {
  Tcl_SetResult(interp, (char *)message, TCL_STATIC);
  return TCL_ERROR;
}

// Copies a library's message into the interpreter and deletes the result.
int libraryError(Tcl_Interp *interp, GS_Result *r) {
  Tcl_SetResult(interp, r->text, TCL_VOLATILE);
  GS_DeleteResult(r);
  return TCL_ERROR;
}

std::string floatText(float v) {
  char buf[32];
  return Cmds_FloatString(v, buf);
}

std::string doubleText(double v) {
  char buf[TCL_DOUBLE_SPACE];
  return Cmds_DoubleString(v, buf);
}

// Clones the named wave; the clone's record, its name as the result.
WaveRecord *cloneWave(Tcl_Interp *interp, const char *name) {
  if (Obj_Clone(interp, name) != TCL_OK) return nullptr;
  std::string copy = Tcl_GetStringResult(interp);
  WaveRecord *w = getWave(interp, copy.c_str());
  if (!w) {
    Obj_Destroy(interp, copy.c_str());
    return nullptr;
  }
  Tcl_SetResult(interp, (char *)copy.c_str(), TCL_VOLATILE);
  return w;
}

// Sets the channel to raw bytes: sample streams are binary, and an end-of-
// line translation would silently change samples that look like CR or LF.
int binaryChannel(Tcl_Interp *interp, const char *name, int wantMode, Tcl_Channel *chan) {
  int mode = 0;
  *chan = Tcl_GetChannel(interp, name, &mode);
  if (!*chan) return TCL_ERROR;
  if (!(mode & wantMode)) {
    Tcl_AppendResult(interp, "channel \"", name, "\" wasn't opened for ",
                     wantMode == TCL_READABLE ? "reading" : "writing", (char *)NULL);
    return TCL_ERROR;
  }
  return Tcl_SetChannelOption(interp, *chan, "-translation", "binary");
}

// wave read -header filename ?begin? ?end?
// Reads a speech file (or the part from begin to end ms) into a new wave and
// answers its name; with -header also the file's description in braces.
int ReadCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
  int header = 0;
  const char *file = nullptr;
  float begin = 0.0f, end = -1.0f;
  if (Cmds_ParseArgs(interp, 2, argc, argv, "-header %n filename %s begin ?f end ?f", &header, &file, &begin, &end))
    return TCL_ERROR;
  Tcl_DString ds;
  const char *path = Tcl_TranslateFileName(interp, file, &ds);
  if (!path) return TCL_ERROR;
  GS_Result *r = GS_CreateResult();
  int16_t *samples = nullptr;
  float rate = 0;
  char *text = nullptr;
  int n = SpeechRead(r, path, begin, end, &samples, &rate, &text);
  Tcl_DStringFree(&ds);
  if (n < 0) return libraryError(interp, r);
  GS_DeleteResult(r);
  float info[2] = {rate, 0.0f};
  WaveRecord *w = nullptr;
  if (createWave(interp, n, 2, info, samples, &w)) {  // frees the samples
    DB_Free(text, __FILE__, __LINE__);
    return TCL_ERROR;
  }
  if (header) {
    std::string res = std::string(Tcl_GetStringResult(interp)) + " {" + (text ? text : "") + "}";
    Tcl_SetResult(interp, (char *)res.c_str(), TCL_VOLATILE);
  }
  DB_Free(text, __FILE__, __LINE__);
  return TCL_OK;
}

// wave write -comment text -linear -mulaw -riff -encoding name waveob filename ?begin? ?end?
// Writes the wave as a speech file: RIFF WAVE by default, -linear and
// -mulaw (or -encoding linear|shortpack|mulaw) for the other types. Answers
// the wave's name.
int WriteCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
  const char *comment = nullptr, *encoding = nullptr, *name = nullptr, *file = nullptr;
  int linear = 0, mulaw = 0, riff = 0;
  float begin = -1.0f, end = -1.0f;
  if (Cmds_ParseArgs(interp, 2, argc, argv,
                     "-comment %s -linear %n -mulaw %n -riff %n -encoding %s waveob %s filename %s begin ?f end ?f",
                     &comment, &linear, &mulaw, &riff, &encoding, &name, &file, &begin, &end))
    return TCL_ERROR;
  WaveRecord *w = getWave(interp, name);
  if (!w) return TCL_ERROR;
  int type = linear ? WAVEFILE_LINEAR : mulaw ? WAVEFILE_MULAW : WAVEFILE_RIFF;
  if (encoding) {
    if (!strcmp(encoding, "linear")) type = WAVEFILE_LINEAR;
    else if (!strcmp(encoding, "shortpack")) type = WAVEFILE_SHORTPACK;
    else if (!strcmp(encoding, "mulaw")) type = WAVEFILE_MULAW;
    else {
      Tcl_AppendResult(interp, "unknown wave file type \"", encoding, "\"", (char *)NULL);
      return TCL_ERROR;
    }
  }
  if (w->len == 0) {
    Tcl_SetResult(interp, (char *)"zero length wave", TCL_STATIC);
    return TCL_ERROR;
  }
  Tcl_DString ds;
  const char *path = Tcl_TranslateFileName(interp, file, &ds);
  if (!path) return TCL_ERROR;
  GS_Result *r = GS_CreateResult();
  int n = SpeechWrite(r, path, begin, end, w->samples, w->len, rateOf(w), type, comment);
  Tcl_DStringFree(&ds);
  if (n < 0) return libraryError(interp, r);
  GS_DeleteResult(r);
  Tcl_SetResult(interp, (char *)name, TCL_VOLATILE);
  return TCL_OK;
}

// wave info -samples -encoding -rate -time -max -ave -dcoffset waveob
// Answers the measures asked for (all seven when none is named), always in
// this order. A wave without a rate reports its time and the time of its
// peak as 0.
int InfoCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
  int fs = 0, fe = 0, fr = 0, ft = 0, fm = 0, fa = 0, fd = 0;
  const char *name = nullptr;
  if (Cmds_ParseArgs(interp, 2, argc, argv,
                     "-samples %n -encoding %n -rate %n -time %n -max %n -ave %n -dcoffset %n waveob %s", &fs, &fe,
                     &fr, &ft, &fm, &fa, &fd, &name))
    return TCL_ERROR;
  WaveRecord *w = getWave(interp, name);
  if (!w) return TCL_ERROR;
  if (!(fs || fe || fr || ft || fm || fa || fd)) fs = fe = fr = ft = fm = fa = fd = 1;
  float rate = rateOf(w);
  auto perRate = [&](double v) { return rate != 0 ? (float)(v * 1000 / rate) : 0.0f; };
  Tcl_Obj *list = Tcl_NewListObj(0, nullptr);
  auto add = [&](const std::string &s) { Tcl_ListObjAppendElement(nullptr, list, Tcl_NewStringObj(s.c_str(), -1)); };
  if (fs) add(std::to_string(w->len));
  if (fe) {
    float code = w->infoCount > 1 ? w->info[1] : 0.0f;
    add(code == 0 ? "linear-16" : code == 1 ? "text" : "unknown");
  }
  if (fr) add(floatText(rate));
  if (ft) add(floatText(perRate(w->len)));
  if (fm) {
    int peak = 0, at = 0;
    for (int i = 0; i < w->len; i++) {
      int a = std::abs((int)w->samples[i]);
      if (a > peak) { peak = a; at = i; }
    }
    add(std::to_string(peak) + " " + std::to_string(at) + " " + floatText(perRate(at)));
  }
  double sq = 0, sum = 0;
  for (int i = 0; i < w->len; i++) {
    sq += (double)w->samples[i] * w->samples[i];
    sum += w->samples[i];
  }
  if (fa) add(doubleText(w->len ? sq / w->len : 0.0));
  if (fd) add(doubleText(w->len ? sum / w->len : 0.0));
  Tcl_SetObjResult(interp, list);
  return TCL_OK;
}

// wave chop -begin ms -end ms -interval ms waveob -samples
// Cuts begin..end into pieces of interval (the last one may be shorter) and
// answers their names; -samples gives the three values in samples.
int ChopCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
  float fb = 0, fe = 0, fi = 0;
  const char *name = nullptr;
  int samples = 0;
  if (Cmds_ParseArgs(interp, 2, argc, argv, "-begin %f -end %f -interval %f waveob %s -samples %n", &fb, &fe, &fi,
                     &name, &samples))
    return TCL_ERROR;
  WaveRecord *w = getWave(interp, name);
  if (!w) return TCL_ERROR;
  // Times in ms round down to a sample; counts given in samples are
  // truncated, so a fraction below zero still means sample 0.
  double k = rateOf(w) * 0.001;
  auto idx = [&](float v) { return toIndex(samples ? std::trunc((double)v) : std::floor(v * k)); };
  long long begin = idx(fb), end = fe == 0 ? w->len : idx(fe);
  long long interval = fi == 0 ? end - begin : idx(fi);
  if (begin < 0 || begin > w->len) return fail(interp, "begin value out of bound");
  if (end < 0 || end > w->len) return fail(interp, "end value out of bound");
  if (end < begin) return fail(interp, "end must be after begin");
  if (interval <= 0) return fail(interp, "interval must be positive");
  long long pieces = (end - begin) / interval;
  if (pieces <= 0) {
    Tcl_SetResult(interp, (char *)"interval value out of bound (must be <= end - begin)", TCL_STATIC);
    return TCL_ERROR;
  }
  Tcl_Obj *names = Tcl_NewListObj(0, nullptr);
  Tcl_IncrRefCount(names);
  for (long long at = begin; at < end; at += interval) {
    int n = (int)std::min(interval, end - at);
    WaveRecord *piece = newWave(interp, n, w->info, w->infoCount);
    if (!piece) {
      Tcl_DecrRefCount(names);
      return TCL_ERROR;  // the pieces made so far stay
    }
    memcpy(piece->samples, w->samples + at, (size_t)n * sizeof(int16_t));
    Tcl_ListObjAppendElement(nullptr, names, Tcl_GetObjResult(interp));
  }
  Tcl_SetObjResult(interp, names);
  Tcl_DecrRefCount(names);
  return TCL_OK;
}

// wave chopsil -threshold -maxgap -minspeech -timeout -filter -minstdv -maxstdv
//             -beforepad ms -afterpad ms -pipelined waveob
// Finds the speech and cuts it out with the padding around it. Answers the
// new wave's name (or {}), the cut's begin and end in ms, the block's offset
// and its background level.
int ChopsilCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
  FindSpeechParams *p = findSpeechDefault();
  float before = 100, after = 400;
  int pipelined = 0;
  const char *name = nullptr;
  int code = Cmds_ParseArgs(interp, 2, argc, argv,
                            "-threshold %f -maxgap %f -minspeech %f -timeout %f -filter %f -minstdv %f -maxstdv %f "
                            "-beforepad %f -afterpad %f -pipelined %n waveob %s",
                            &p->threshold, &p->maxgap, &p->minspeech, &p->timeout, &p->filter, &p->minstdv,
                            &p->maxstdv, &before, &after, &pipelined, &name);
  WaveRecord *w = code ? nullptr : getWave(interp, name);
  if (!w) {
    DB_Free(p, __FILE__, __LINE__);
    return TCL_ERROR;
  }
  float rate = rateOf(w);
  if (!(rate > 0)) {
    DB_Free(p, __FILE__, __LINE__);
    Tcl_SetResult(interp, (char *)"wave has no sample rate", TCL_STATIC);
    return TCL_ERROR;
  }
  p->samplerate = rate;
  int begin = 0, end = 0;
  float a = 0, b = 0;
  findSpeech(w->samples, w->len, p, pipelined, &begin, &end, &a, &b);
  DB_Free(p, __FILE__, __LINE__);
  std::string res;
  if (end > begin) {
    long long b0 = toIndex(std::trunc(begin - before * rate * 0.001));
    long long e0 = toIndex(std::trunc(end + after * rate * 0.001));
    // Negative pads may cross the cut over: it is then empty, never reversed.
    begin = (int)std::min((long long)w->len, std::max(0LL, b0));
    end = (int)std::max((long long)begin, std::min((long long)w->len, e0));
    WaveRecord *cut = newWave(interp, end - begin, w->info, w->infoCount);
    if (!cut) return TCL_ERROR;
    memcpy(cut->samples, w->samples + begin, (size_t)(end - begin) * sizeof(int16_t));
    res = Tcl_GetStringResult(interp);
  } else {
    res = "{}";
    begin = end = 0;
  }
  res += " " + floatText((float)(begin * 1000.0f / rate)) + " " + floatText((float)(end * 1000.0f / rate)) + " " +
         floatText(a) + " " + floatText(b);
  Tcl_SetResult(interp, (char *)res.c_str(), TCL_VOLATILE);
  return TCL_OK;
}

// wave eatzeroes waveob
// Cuts away the zero samples at both ends: answers the new wave's name (or
// {} when every sample is zero) and the first and last nonzero index.
int EatzeroesCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
  const char *name = nullptr;
  if (Cmds_ParseArgs(interp, 2, argc, argv, "waveob %s", &name)) return TCL_ERROR;
  WaveRecord *w = getWave(interp, name);
  if (!w) return TCL_ERROR;
  int first = 0, last = -1;
  eatZeroes(w->samples, w->len, &first, &last);
  std::string res = "{}";
  if (first <= last) {
    WaveRecord *cut = newWave(interp, last - first + 1, w->info, w->infoCount);
    if (!cut) return TCL_ERROR;
    memcpy(cut->samples, w->samples + first, (size_t)(last - first + 1) * sizeof(int16_t));
    res = Tcl_GetStringResult(interp);
  }
  res += " " + std::to_string(first) + " " + std::to_string(last);
  Tcl_SetResult(interp, (char *)res.c_str(), TCL_VOLATILE);
  return TCL_OK;
}

// wave extract -begin ms -end ms waveob
// A new wave of the samples from begin up to (not including) end ms; -end
// -1 (the default) runs to the last sample.
int ExtractCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
  float fb = 0, fe = -1;
  const char *name = nullptr;
  if (Cmds_ParseArgs(interp, 2, argc, argv, "-begin %f -end %f waveob %s", &fb, &fe, &name)) return TCL_ERROR;
  WaveRecord *w = getWave(interp, name);
  if (!w) return TCL_ERROR;
  double k = rateOf(w) * 0.001;
  long long begin = toIndex(std::floor(fb * k));
  long long last = fe >= 0 ? toIndex(std::floor(fe * k)) - 1 : (long long)w->len - 1;
  if (begin < 0) return fail(interp, "begin value out of bound");
  if (last >= w->len) return fail(interp, "end value out of bound");
  // One sample (begin == last) is a cut like any other.
  if (begin > last) return fail(interp, "end must be after begin");
  int n = (int)(last - begin + 1);
  WaveRecord *cut = newWave(interp, n, w->info, w->infoCount);
  if (!cut) return TCL_ERROR;
  memcpy(cut->samples, w->samples + begin, (size_t)n * sizeof(int16_t));
  return TCL_OK;
}

// wave add -scalefac f waveoblist
// A copy of the first wave plus every further one, all scaled by f; the
// waves must agree in length and rate. Empty waves are skipped.
int AddCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
  float scale = 1.0f;
  int count = 0;
  const char **names = nullptr;
  if (Cmds_ParseArgs(interp, 2, argc, argv, "-scalefac %f waveoblist %l", &scale, &count, &names)) return TCL_ERROR;
  if (count == 0) {
    Tcl_ResetResult(interp);
    return TCL_OK;
  }
  std::vector<WaveRecord *> waves;
  for (int i = 0; i < count; i++) {
    WaveRecord *w = getWave(interp, names[i]);
    if (!w) return TCL_ERROR;
    waves.push_back(w);
  }
  WaveRecord *sum = cloneWave(interp, names[0]);
  if (!sum) return TCL_ERROR;
  std::string sumName = Tcl_GetStringResult(interp);
  for (int i = 0; i < sum->len; i++) sum->samples[i] = clip16(sum->samples[i] * (double)scale);
  for (int k = 1; k < count; k++) {
    WaveRecord *w = waves[k];
    if (w->len == 0) continue;
    if (w->len != sum->len || rateOf(w) != rateOf(sum)) {
      Obj_Destroy(interp, sumName.c_str());
      Tcl_SetResult(interp, (char *)"waves incompatible", TCL_STATIC);
      return TCL_ERROR;
    }
    for (int i = 0; i < sum->len; i++) sum->samples[i] = clip16((double)scale * w->samples[i] + sum->samples[i]);
  }
  Tcl_SetResult(interp, (char *)sumName.c_str(), TCL_VOLATILE);
  return TCL_OK;
}

// wave zero -rate hz length
// A new silent wave of length ms.
int ZeroCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
  float rate = 8000.0f, length = 0;
  if (Cmds_ParseArgs(interp, 2, argc, argv, "-rate %f length %f", &rate, &length)) return TCL_ERROR;
  if (!(length > 0)) return fail(interp, "length must be positive");
  if (!(rate > 0)) return fail(interp, "rate must be positive");
  double n = std::trunc((double)length * rate * 0.001);
  if (n > 2147483647.0) return fail(interp, "wave would be too long");
  float info[2] = {rate, 0.0f};
  return newWave(interp, (int)n, info, 2) ? TCL_OK : TCL_ERROR;
}

// wave concat waveoblist
// A new wave of all the samples in list order; the rates must agree.
int ConcatCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
  int count = 0;
  const char **names = nullptr;
  if (Cmds_ParseArgs(interp, 2, argc, argv, "waveoblist %l", &count, &names)) return TCL_ERROR;
  if (count == 0) return fail(interp, "no waves to concatenate");
  std::vector<WaveRecord *> waves;
  long long total = 0;
  for (int i = 0; i < count; i++) {
    WaveRecord *w = getWave(interp, names[i]);
    if (!w) return TCL_ERROR;
    if (rateOf(w) != rateOf(waves.empty() ? w : waves[0]))
      return fail(interp, "waves incompatible");
    waves.push_back(w);
    total += w->len;
  }
  if (total > 2147483647LL) return fail(interp, "wave would be too long");
  WaveRecord *all = newWave(interp, (int)total, waves[0]->info, waves[0]->infoCount);
  if (!all) return TCL_ERROR;
  long long at = 0;
  for (WaveRecord *w : waves) {
    memcpy(all->samples + at, w->samples, (size_t)w->len * sizeof(int16_t));
    at += w->len;
  }
  return TCL_OK;
}

// wave scale waveob scalefactor
// A copy of the wave with every sample multiplied by the factor.
int ScaleCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
  const char *name = nullptr;
  float factor = 1;
  if (Cmds_ParseArgs(interp, 2, argc, argv, "waveob %s scalefactor %f", &name, &factor)) return TCL_ERROR;
  WaveRecord *copy = cloneWave(interp, name);
  if (!copy) return TCL_ERROR;
  for (int i = 0; i < copy->len; i++) copy->samples[i] = clip16(copy->samples[i] * (double)factor);
  return TCL_OK;
}

// wave readpipe -maxsize n -rate hz -mulaw -linear -eop var file
// Reads one block of up to maxsize samples from a channel into a new wave.
// With -eop the block is split at end-of-packet marks (mu-law byte 0 or
// linear 32767): one wave per packet, and var says whether the block ended
// with a mark.
int ReadpipeCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
  int maxsize = 2048, rate = 8000, mulaw = 0, linear = 0;
  const char *eopVar = nullptr, *file = nullptr;
  if (Cmds_ParseArgs(interp, 2, argc, argv, "-maxsize %i -rate %i -mulaw %n -linear %n -eop %s file %s", &maxsize,
                     &rate, &mulaw, &linear, &eopVar, &file))
    return TCL_ERROR;
  if (mulaw && linear)
    return fail(interp, "specify either -mulaw or -linear, not both");
  if (maxsize <= 0) return fail(interp, "maxsize must be positive");
  // A block's bytes are counted in an int.
  if (maxsize > 1073741823) return fail(interp, "maxsize too large");
  if (rate <= 0) return fail(interp, "rate must be positive");
  Tcl_Channel chan;
  if (binaryChannel(interp, file, TCL_READABLE, &chan) != TCL_OK) return TCL_ERROR;
  float info[2] = {(float)rate, 0.0f};
  WaveRecord *work = newWave(interp, maxsize, info, 2);
  if (!work) return TCL_ERROR;
  std::string workName = Tcl_GetStringResult(interp);
  int n = 0;
  auto readFailed = [&]() {
    std::string msg = std::string("channel read failed: ") + Tcl_ErrnoMsg(Tcl_GetErrno());
    Obj_Destroy(interp, workName.c_str());
    Tcl_SetResult(interp, (char *)msg.c_str(), TCL_VOLATILE);
    return TCL_ERROR;
  };
  if (linear) {
    int bytes = Tcl_Read(chan, (char *)work->samples, maxsize * 2);
    if (bytes < 0) return readFailed();
    if (bytes % 2) {
      // Half a sample: wait for its other byte rather than lose it and shift
      // every later sample of the stream.
      Tcl_DString old;
      Tcl_DStringInit(&old);
      Tcl_GetChannelOption(nullptr, chan, "-blocking", &old);
      Tcl_SetChannelOption(nullptr, chan, "-blocking", "1");
      int more = Tcl_Read(chan, (char *)work->samples + bytes, 1);
      Tcl_SetChannelOption(nullptr, chan, "-blocking", Tcl_DStringValue(&old));
      Tcl_DStringFree(&old);
      if (more < 0) return readFailed();
      bytes += more;
    }
    n = bytes / 2;
  } else {
    std::vector<unsigned char> codes((size_t)maxsize);
    int bytes = Tcl_Read(chan, (char *)codes.data(), maxsize);
    if (bytes < 0) return readFailed();
    n = bytes;
    for (int i = 0; i < n; i++) work->samples[i] = (eopVar && codes[i] == 0) ? 32767 : (int16_t)ulaw2linear(codes[i]);
  }
  work->len = n;
  if (!eopVar) {
    Tcl_SetResult(interp, (char *)workName.c_str(), TCL_VOLATILE);
    return TCL_OK;
  }
  Tcl_Obj *names = Tcl_NewListObj(0, nullptr);
  Tcl_IncrRefCount(names);
  std::vector<std::string> made;
  auto emit = [&](int from, int to) {
    WaveRecord *p = newWave(interp, to - from, info, 2);
    if (!p) return false;
    memcpy(p->samples, work->samples + from, (size_t)(to - from) * sizeof(int16_t));
    made.push_back(Tcl_GetStringResult(interp));
    Tcl_ListObjAppendElement(nullptr, names, Tcl_GetObjResult(interp));
    return true;
  };
  bool ok = true, endedWithMark = n > 0 && work->samples[n - 1] == 32767;
  int from = 0;
  for (int i = 0; i < n && ok; i++) {
    if (work->samples[i] == 32767) {
      ok = emit(from, i);
      from = i + 1;
    }
  }
  if (ok && !endedWithMark) ok = emit(from, n);
  if (!ok) {
    std::string msg = Tcl_GetStringResult(interp);
    for (const std::string &m : made) Obj_Destroy(interp, m.c_str());
    Obj_Destroy(interp, workName.c_str());
    Tcl_DecrRefCount(names);
    Tcl_SetResult(interp, (char *)msg.c_str(), TCL_VOLATILE);
    return TCL_ERROR;
  }
  Obj_Destroy(interp, workName.c_str());
  if (!Tcl_SetVar(interp, eopVar, endedWithMark ? "1" : "0", TCL_LEAVE_ERR_MSG)) {
    for (const std::string &m : made) Obj_Destroy(interp, m.c_str());
    Tcl_DecrRefCount(names);
    return TCL_ERROR;
  }
  Tcl_SetObjResult(interp, names);
  Tcl_DecrRefCount(names);
  return TCL_OK;
}

// wave writepipe -mulaw -linear wave file
// Writes the wave's samples to a channel as mu-law bytes (code 0 is kept
// for the end-of-packet mark, so it becomes 2) or 16-bit host-order samples
// (32767 is the mark, so samples of that value go out as 32766). The word
// "eop" in place of a wave writes one mark.
int WritepipeCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
  int mulaw = 0, linear = 0;
  const char *name = nullptr, *file = nullptr;
  if (Cmds_ParseArgs(interp, 2, argc, argv, "-mulaw %n -linear %n wave %s file %s", &mulaw, &linear, &name, &file))
    return TCL_ERROR;
  if (mulaw && linear)
    return fail(interp, "specify either -mulaw or -linear, not both");
  bool eop = !strcmp(name, "eop");
  WaveRecord *w = eop ? nullptr : getWave(interp, name);
  if (!eop && !w) return TCL_ERROR;
  Tcl_Channel chan;
  if (binaryChannel(interp, file, TCL_WRITABLE, &chan) != TCL_OK) return TCL_ERROR;
  std::vector<char> bytes;
  if (eop) {
    if (linear) {
      int16_t mark = 32767;
      bytes.assign((char *)&mark, (char *)&mark + 2);
    } else {
      bytes.assign(1, 0);
    }
  } else if (linear) {
    // The caller's wave is left as it is; only the bytes sent change.
    std::vector<int16_t> s(w->samples, w->samples + w->len);
    for (auto &v : s)
      if (v == 32767) v = 32766;
    bytes.assign((char *)s.data(), (char *)(s.data() + s.size()));
  } else {
    bytes.resize((size_t)w->len);
    for (int i = 0; i < w->len; i++) {
      unsigned char c = linear2ulaw(w->samples[i]);
      bytes[i] = (char)(c == 0 ? 2 : c);
    }
  }
  // In pieces: a channel write counts its bytes in an int.
  for (size_t at = 0; at < bytes.size(); at += (size_t)1 << 30) {
    int n = (int)std::min(bytes.size() - at, (size_t)1 << 30);
    if (Tcl_Write(chan, bytes.data() + at, n) < 0) {
      Tcl_AppendResult(interp, "channel write failed: ", Tcl_ErrnoMsg(Tcl_GetErrno()), (char *)NULL);
      return TCL_ERROR;
    }
  }
  Tcl_ResetResult(interp);
  return TCL_OK;
}

// wave print handle ?begin? ?end?
// The samples from begin up to end ms, as a list of integers.
int PrintCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
  const char *name = nullptr;
  double begin = 0.0, end = -1.0;
  if (Cmds_ParseArgs(interp, 2, argc, argv, "handle %s begin ?d end ?d", &name, &begin, &end)) return TCL_ERROR;
  WaveRecord *w = getWave(interp, name);
  if (!w) return TCL_ERROR;
  // A wave without a rate counts its times in samples (rate 1); the object
  // itself is not changed.
  double rate = rateOf(w) == 0 ? 1.0 : rateOf(w);
  double f = std::trunc(begin * rate * 0.001), s = end >= 0 ? std::trunc(end * rate * 0.001) : w->len;
  long long first = f < 0 ? 0 : f > w->len ? w->len : (long long)f;
  long long stop = s > w->len ? w->len : s < 0 ? 0 : (long long)s;
  Tcl_Obj *list = Tcl_NewListObj(0, nullptr);
  for (long long i = first; i < stop; i++) Tcl_ListObjAppendElement(nullptr, list, Tcl_NewIntObj(w->samples[i]));
  Tcl_SetObjResult(interp, list);
  return TCL_OK;
}

// wave tovec -dimension n waveob
// A new arrayF of the wave's samples.
int TovecCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
  int dim = 2;
  const char *name = nullptr;
  if (Cmds_ParseArgs(interp, 2, argc, argv, "-dimension %i waveob %s", &dim, &name)) return TCL_ERROR;
  WaveRecord *w = getWave(interp, name);
  if (!w) return TCL_ERROR;
  ArrayRecord *a = nullptr;
  return cloneVecFromWave(interp, w, dim, &a) ? TCL_ERROR : TCL_OK;
}

// wave fromvec -rate hz vecob
// A new wave of the arrayF's elements.
int FromvecCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
  float rate = 8000.0f;
  const char *name = nullptr;
  if (Cmds_ParseArgs(interp, 2, argc, argv, "-rate %f vecob %s", &rate, &name)) return TCL_ERROR;
  ArrayRecord *a = static_cast<ArrayRecord *>(Obj_GetData(interp, "arrayF", name));
  if (!a) return TCL_ERROR;
  float info[2] = {rate, 0.0f};
  WaveRecord *w = nullptr;
  return cloneWaveFromVec(interp, a, 2, info, &w) ? TCL_ERROR : TCL_OK;
}

// wave sampleconvert inwave rate
// A new wave resampled to rate Hz.
int SampleconvertCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
  const char *name = nullptr;
  int rate = 0;
  if (Cmds_ParseArgs(interp, 2, argc, argv, "inwave %s rate %i", &name, &rate)) return TCL_ERROR;
  WaveRecord *w = getWave(interp, name);
  if (!w) return TCL_ERROR;
  GS_Result *r = GS_CreateResult();
  WaveRecord *c = Wave_sampleConvert(r, w, rate);
  if (!c) return libraryError(interp, r);
  GS_DeleteResult(r);
  if (Obj_Create(interp, "wave", c) != TCL_OK) {
    Wave_Free(c);
    return TCL_ERROR;
  }
  return TCL_OK;
}

const SubCmdEntry kFullTable[] = {
    {"read", ReadCmd},         {"write", WriteCmd},     {"info", InfoCmd},
    {"chop", ChopCmd},         {"chopsil", ChopsilCmd}, {"eatzeroes", EatzeroesCmd},
    {"extract", ExtractCmd},   {"add", AddCmd},         {"zero", ZeroCmd},
    {"concat", ConcatCmd},     {"scale", ScaleCmd},     {"readpipe", ReadpipeCmd},
    {"writepipe", WritepipeCmd}, {"print", PrintCmd},   {"tovec", TovecCmd},
    {"fromvec", FromvecCmd},   {"sampleconvert", SampleconvertCmd}, {nullptr, nullptr},
};

// Safe interpreters get everything but the file commands.
const SubCmdEntry kSafeTable[] = {
    {"info", InfoCmd},         {"chop", ChopCmd},       {"chopsil", ChopsilCmd},
    {"eatzeroes", EatzeroesCmd}, {"extract", ExtractCmd}, {"add", AddCmd},
    {"zero", ZeroCmd},         {"concat", ConcatCmd},   {"scale", ScaleCmd},
    {"readpipe", ReadpipeCmd}, {"writepipe", WritepipeCmd}, {"print", PrintCmd},
    {"tovec", TovecCmd},       {"fromvec", FromvecCmd}, {"sampleconvert", SampleconvertCmd},
    {nullptr, nullptr},
};

int init(Tcl_Interp *interp, const SubCmdEntry *table, bool safe) {
  int code = Tcl_PkgProvide(interp, "Wave", "1.0");
  if (code != TCL_OK) return code;
  Cmds_CreateSwitchCmd(interp, "wave", nullptr, nullptr);
  Cmds_CreateSubCmds(interp, "wave", table);
  if (!safe) Wave_AddImport(interp);  // only when the synthesiser is loaded
  return Obj_Init(interp);
}

}  // namespace

extern "C" {

int Wave_Init(Tcl_Interp *interp) { return init(interp, kFullTable, false); }

int Wave_SafeInit(Tcl_Interp *interp) { return init(interp, kSafeTable, true); }

}  // extern "C"
