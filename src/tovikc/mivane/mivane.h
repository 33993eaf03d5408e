/* Co-articulation: timed phones become key tracks of 18 visemes for a
 * morph-target face, chunk by chunk, with the matching audio held back so
 * that sound and keys stay aligned.
 *
 * Contract:
 *  - One engine per utterance stream: Constructor, set the option fields,
 *    Initialize, Pipe any number of times, Flush; Reset starts a new
 *    utterance with the same options. One thread at a time.
 *  - Pipe and Flush append to the caller's track array (start it as null
 *    and 0) and the caller releases it with Mivane_FreeKeys. Keys of a
 *    target are returned exactly once: by the Pipe in which two later
 *    targets exist, or by the Flush.
 *  - Audio buffers cross with the plain allocator (DB_Realloc): the caller's
 *    *audio is replaced by the samples the keys returned so far cover; the
 *    rest is held and comes in front of the next chunk, or of the flushed
 *    audio.
 *  - Failures return 1 with a message appended to the Result buffer (which
 *    may be null): an unknown phone, or a duration that is negative, not
 *    finite or longer than MIVANE_MAX_DURATION. The phones of the chunk
 *    before it stay added; no keys or audio come back from that call.
 *
 * Choices made here:
 *  - Dominance at a negative distance (overlapping flat tops) keeps the sign
 *    of the distance under the power, so it rises above the magnitude and is
 *    capped at 10 times it.
 *  - The audio kept back is clamped to 0..chunk length: audio that ends
 *    before the first pending peak is all held, none returned.
 *  - Normalisation (option normalize) runs over the keys of one call: at
 *    every key time the values of all tracks are scaled, the largest kept,
 *    so that they add up to 100 (times where only one value is non-zero are
 *    left alone).
 */
#ifndef TOVIK_MIVANE_H
#define TOVIK_MIVANE_H

#include <stdint.h>

#include "result.h"

#ifdef __cplusplus
extern "C" {
#endif

enum { MIVANE_VISEMES = 18, MIVANE_NEUTRAL = 14 };

/* The longest phone accepted, in seconds. */
#define MIVANE_MAX_DURATION 3600.0

typedef struct MivaneKey {
    int32_t time; /* milliseconds */
    float value;  /* 0 to 100 when limit is on */
    struct MivaneKey *next;
} MivaneKey;

typedef struct MivaneTrack {
    int32_t viseme;
    MivaneKey *keys;
} MivaneTrack;

/* One target per phone (two per diphthong), in time order. */
typedef struct MivaneTarget {
    int32_t viseme;
    int32_t state; /* 0 keys not final, 1 keys final, 2 done */
    struct MivaneTarget *prev, *next;
    double magnitude, onRate, offRate;
    double excStart, peakStart, peakEnd, excEnd; /* seconds */
    double threshold, excess, largest, left, right;
} MivaneTarget;

typedef struct MivaneEngine {
    /* Options: set after the constructor, before Initialize. */
    int32_t limit;            /* 1: values above 100 become 100 */
    int32_t normalize;        /* 0: 1 scales simultaneous keys to a total of 100 */
    int32_t checkdeform;      /* 1: narrow and weaken targets pushed by neighbours */
    double framePeriod;       /* 0.01f s: key sampling step, 1 / frame rate */
    double stpow;             /* 1.05f: exponent of the dominance function */
    double global;            /* 1.0: factor of every target magnitude */
    float prune;              /* 2.0: pruning tolerance in value units; below 0.001 off */
    float minexcitation;      /* 1.0: dominance below it counts as 0 */
    float deformlimit;        /* 20.0: base of the deformation thresholds */
    int32_t sharpeniterations;/* 0: rounds of the sharpening phase */
    int32_t sampleRate;       /* 8000: samples per second of the piped audio */
    /* State. */
    double phoneTime;         /* start of the next phone, seconds */
    int32_t audioTotal;       /* samples received since Initialize */
    int16_t *held;
    int32_t heldLength, heldCapacity;
    int16_t *spare;
    int32_t spareCapacity;
    int32_t visemeCount;
    MivaneTarget *first;      /* oldest target still kept */
    MivaneTarget *last;
    MivaneTarget *pending;    /* first target whose keys are not final */
} MivaneEngine;

MivaneEngine *Mivane_Constructor(void);
int Mivane_Initialize(GS_Result *r, MivaneEngine *e);
int Mivane_Pipe(GS_Result *r, MivaneEngine *e, const char **phones, const float *durations, int count,
                MivaneTrack **tracks, int *trackCount, short **audio, int *audioLength);
int Mivane_Flush(GS_Result *r, MivaneEngine *e, MivaneTrack **tracks, int *trackCount, short **audio,
                 int *audioLength);
void Mivane_Reset(MivaneEngine *e);
void Mivane_Destructor(MivaneEngine *e);
void Mivane_FreeKeys(MivaneTrack *tracks, int count);
int Mivane_VisemeIndex(const char *name);
const char *Mivane_VisemeName(int index);

/* The recognition of a phone symbol: a row of the target table (0 to 47),
 * a diphthong code (-10 to -15), or -1. */
int Mivane_PhoneCode(const char *phone);
/* The dominance a * min(10, exp(-b * (1000 t)^q)), q at least 0.001. */
double Mivane_Dominance(double a, double b, double t, double q);

#ifdef __cplusplus
}
#endif

#endif
