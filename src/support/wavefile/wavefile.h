// wavefile: speech files, resampling, G.711 mu-law, zero trimming and
// speech finding for the audio and signal packages.
//
// What callers rely on
// - Every function that takes a GS_Result appends its message there on
//   failure and reports the failure through its return value; nothing
//   prints, nothing ends the process, no input makes it read past a buffer.
// - Sample arrays and header texts handed out are DB_Malloc blocks that the
//   caller owns (a sample array usually goes straight to createWave).
// - Times (begin, end) are milliseconds from the start of the file.
//
// Files read (the kind is found from the header; a file without a header is
// taken as headerless only when its extension says so):
//   RIFF WAVE   PCM 8/16/24/32-bit, 32/64-bit float, mu-law, A-law, also in
//               WAVE_FORMAT_EXTENSIBLE; several channels are averaged.
//   Sun/NeXT au ".snd" magic; mu-law, A-law, 8/16/24/32-bit linear, float.
//   headerless  ".raw" ".pcm" ".sw" ".s16": 16-bit little-endian linear;
//               ".ul" ".ulaw" ".mu" ".u": 8-bit mu-law; both at 8000 Hz.
// Files written, by type code:
//   0 linear    Sun/NeXT au, 16-bit linear (headerless 16-bit little-endian
//               when the name ends in a headerless linear extension)
//   1 shortpack headerless 16-bit little-endian ("packed shorts")
//   2 mulaw     Sun/NeXT au, 8-bit mu-law (headerless mu-law for ".ul" and
//               the other mu-law extensions, RIFF WAVE mu-law for ".wav")
//   3 RIFF      RIFF WAVE, 16-bit PCM
// The comment goes to the au annotation or to a RIFF LIST/INFO ICMT chunk;
// headerless files have nowhere to keep it.
//
// Resampling (Wave_sampleConvert): polyphase windowed sinc (Kaiser window),
// exact rational ratio; the pass band reaches 0.85 of the lower Nyquist rate,
// the stop band starts at 1.0 of it with at least 80 dB of attenuation.
// Rates more than about 1:60000 apart are refused.
//
// Speech finding (findSpeech): the block's mean is its offset (value a).
// Frames of 10 ms are measured by their standard deviation (so offsets and
// drift slower than a frame do not count), after a first-order pre-emphasis
// y[n] = x[n] - filter·x[n-1] that brings out the weak high consonants. The
// background level (value b) is the 10th percentile of the frame levels,
// clamped to [minstdv, maxstdv]. Frames above b × (1 + threshold) seed
// speech; a seeded run grows over neighbouring frames above
// b × (1 + threshold / 3). Runs closer than maxgap ms are joined, runs
// shorter than minspeech ms dropped, and speech must start within timeout
// ms (0: anywhere). begin is the first sample of the speech, end one past
// its last; no speech gives begin = end.
// pipelined: the block is one of a stream, so runs that touch either end of
// the block are kept even when shorter than minspeech.
#pragma once

#include <cstdint>

#include "result.h"
#include "records.h"

// File type codes of SpeechWrite.
enum {
  WAVEFILE_LINEAR = 0,
  WAVEFILE_SHORTPACK = 1,
  WAVEFILE_MULAW = 2,
  WAVEFILE_RIFF = 3
};

// The parameter record of findSpeech: eight floats in this order.
struct FindSpeechParams {
  float threshold;  // speech seeds at b × (1 + threshold); default 2.0
  float maxgap;     // ms of non-speech bridged inside an utterance; 300
  float minspeech;  // ms, shortest run kept; 100
  float timeout;    // ms within which speech must start, 0 = no limit; 0
  float filter;     // pre-emphasis coefficient, 0 = off; 0.0
  float minstdv;    // lowest background level (sample units); 16
  float maxstdv;    // highest background level; 4000
  float samplerate; // Hz; 8000
};

// Reads path (or the part from begin to end ms; end -1 = to the end of the
// file) into a new array *samples and its rate into *rate. *header, when
// header is not null, gets a DB_Malloc text describing the file. Returns
// the number of samples, or -1 with the message in r.
int SpeechRead(GS_Result *r, const char *path, double begin, double end,
               int16_t **samples, float *rate, char **header);

// Writes count samples at rate as a file of the given type code (above);
// begin and end in ms, -1 for the start and the end. comment may be null.
// Returns the number of samples written, or -1 with the message in r.
int SpeechWrite(GS_Result *r, const char *path, double begin, double end,
                const int16_t *samples, int count, double rate, int type,
                const char *comment);

// A new unregistered WaveRecord holding wave resampled to rate (its info
// copied, info[0] set to rate); null with the message in r.
WaveRecord *Wave_sampleConvert(GS_Result *r, WaveRecord *wave, int rate);

// Resamples count samples from inRate to outRate into a new DB_Malloc array
// of *outCount samples. Returns 0, or -1 with the message in r.
int Wave_resample(GS_Result *r, const int16_t *in, int count, int inRate,
                  int outRate, int16_t **out, int *outCount);

// G.711 mu-law: the code of a sample is the one whose decision interval
// (in the standard's 14-bit scale, a quarter of the 16-bit one) holds it;
// inputs beyond 16 bits clip. Decoding gives the interval's value.
unsigned char linear2ulaw(int sample);
int ulaw2linear(unsigned char code);
// G.711 A-law, for reading files that use it.
int alaw2linear(unsigned char code);

// Index of the first and of the last nonzero sample; when there is none,
// *begin = 0 and *end = -1 (so that begin <= end means "found").
void eatZeroes(const int16_t *samples, int count, int *begin, int *end);

// A new DB_Malloc record with the defaults above; freed with DB_Free.
FindSpeechParams *findSpeechDefault(void);

// Locates the speech in count samples; see the contract above.
void findSpeech(const int16_t *samples, int count, const FindSpeechParams *p,
                int pipelined, int *begin, int *end, float *a, float *b);
