/* rastel: sample-by-sample utterance detection on a stream of 16-bit blocks.
 *
 * Contract:
 *  - rastelCompute runs the detector over one block: an input filter
 *    (y = x - memory, memory = (1-c)·x + c·memory), an envelope follower
 *    (env = lpfrac·|y| + (1-lpfrac)·env) and the states 0 quiet, 1 start
 *    candidate, 2 speech, 3 end candidate, 5 silence timeout, 7 too long,
 *    8 done. It returns 4 (quiet), 6 (sound), 5, 7 or 8; a block that
 *    stopped keeps returning its code until rastelReset.
 *  - rastelBuffer hands out the speech of the block just computed: with the
 *    first block after confirmation, the lead-in kept in the ring (every
 *    sample up to and including the confirming one, at most ringLength of
 *    them) followed by the block's samples after the confirming one; with
 *    later blocks, the block's samples up to the end of the utterance. The
 *    speech handed out over the blocks is the input stream without a gap
 *    or a repeated sample. After the block in which the utterance ended,
 *    nothing more is handed out.
 *  - rastelCalibrate sets the level to the boundary between the background
 *    and the speech classes of the wave's 10 ms envelope frames (two-class
 *    clustering of their logarithms); rastelCalibrate2 sets it from the
 *    amplitude histograms of the speech and the background that findSpeech
 *    separates. Either leaves the level unchanged when the wave has no
 *    background or no speech (the means are then 0).
 *  - Memory comes from the plain allocator.
 */
#ifndef TOVIK_RASTEL_H
#define TOVIK_RASTEL_H

#include <stdint.h>

#include "records.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct RastelParams {
    int32_t debug;      /* nonzero: the package asks for per-sample traces; 0 */
    int32_t samplerate; /* Hz; 8000 */
    int32_t tsilence;   /* ms of quiet that end an utterance; 500 */
    int32_t lsilence;   /* ms without any utterance before giving up; 5000 */
    int32_t maxrec;     /* longest utterance, ms from confirmation; 10000 */
    int32_t backoff;    /* ms of lead-in kept before the start candidate; 500 */
    int32_t thi;        /* ms that sound must last to count as speech; 40 */
    float level;        /* threshold in thousands of envelope units; 0.5 */
    float lpfrac;       /* envelope smoothing coefficient; 0.05 */
    float dcConstant;   /* constant of the input filter; 300.0 */
} RastelParams;

typedef struct RastelState {
    int16_t *ring;      /* last ringLength input samples of states 0 and 1 */
    int32_t ringLength; /* at least 1 */
    int32_t ringWrite;  /* next write position (the oldest sample) */
    int32_t started;    /* 1 once rastelBuffer has handed out the lead-in */
    int32_t debug;
    int32_t mark;       /* sample count at the last start or end candidate */
    int32_t state;
    int32_t startOffset;/* confirming sample's index in the current block, else 0 */
    int32_t endOffset;  /* index, within its block, of the utterance's end */
    int32_t speechStart;/* sample count at confirmation */
    int32_t speechEnd;  /* sample count at the end */
    int32_t total;      /* samples consumed since the reset */
    int32_t rate;
    int32_t tsilence, lsilence, maxrec, thi; /* in samples */
    float lpfrac;
    float envelope;
    float level;        /* threshold / 1000 */
    float dcState;
    float dcCoefficient;/* 0.001 / (ln 0.5 × rate × dcConstant) */
    int32_t confirmedInBlock; /* the confirming sample is in the current block */
    int32_t endedInBlock;     /* the utterance ended in the current block */
} RastelState;

enum { RASTEL_QUIET = 4, RASTEL_SILENCE = 5, RASTEL_SOUND = 6, RASTEL_MAXREC = 7, RASTEL_DONE = 8 };

RastelParams *rastelDefault(void);
RastelState *rastelInit(const RastelParams *p);
int rastelReset(RastelState *s);
void rastelNuke(RastelState *s);
/* Replaces the ring by a cleared one of length samples (at least 1). */
void rastelSetRing(RastelState *s, int length);
int rastelCompute(RastelState *s, const int16_t *samples, int count,
                  int16_t *envelopeOut, int16_t *stateOut);
void rastelBuffer(RastelState *s, const WaveRecord *in, WaveRecord *out);
float rastelCalibrate(RastelState *s, const WaveRecord *wave);
float rastelCalibrate2(RastelState *s, const WaveRecord *wave, float *speechMean,
                       float *backgroundMean);

#ifdef __cplusplus
}
#endif

#endif
