/* Segment lists: labelled stretches of an utterance in frames, with the
 * frame size that turns frames into milliseconds, and their text file.
 *
 * Contract:
 *  - HalbrinList and Segment cross libraries field by field; their order
 *    and widths are fixed. A list owns its segment array and every label
 *    whose labelSize is nonzero (labelSize 0: the builder's text, never
 *    released here). Everything is DB_Malloc memory; nukeHalbrin releases.
 *  - A frame f lies in a segment when begin <= f < end. A time t in ms is
 *    frame floor(t / msPerFrame + 0.5).
 *  - Failures append a message to the caller's GS_Result and return 1 (or
 *    null); the list passed in is left as it was.
 *  - File: header lines up to "END OF HEADER" ("MillisecondsPerFrame: %f",
 *    "Score: %f"; others ignored), then "begin end label" per line, with
 *    the segment score after the label when the header has a Score line.
 *    Reader and writer agree on that order, so a saved list reads back.
 *    Lines of any length are read whole; CR before LF is dropped.
 *  - minBegin and maxEnd are kept as the smallest begin and largest end
 *    over the segments (both are checked for every segment).
 *  - Ordering is stable: segments with equal begins keep their order.
 *  - A windowed save writes every segment that overlaps the window,
 *    clipped to it, including one that covers the whole window.
 */
#ifndef TOVIK_HALBRIN_H
#define TOVIK_HALBRIN_H

#include <stdint.h>

#include "result.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct Segment {
    char *label;
    int32_t labelSize;
    int32_t begin;
    int32_t end;
    float score;
} Segment;

typedef struct HalbrinList {
    int32_t count;
    Segment *segments;
    float score;
    float msPerFrame;
    int32_t minBegin;
    int32_t maxEnd;
} HalbrinList;

/* An empty list (no segments, score 0, msPerFrame as given, bounds 0). */
HalbrinList *newHalbrin(float msPerFrame);
void nukeHalbrin(HalbrinList *list);
int orderHalbrin(GS_Result *r, HalbrinList *list);
int appendSegment(GS_Result *r, Segment segment, HalbrinList *list, int order);
int deleteSegment(GS_Result *r, int index, HalbrinList *list);
HalbrinList *readHalbrin(GS_Result *r, const char *path);
int saveHalbrin(GS_Result *r, HalbrinList *list, const char *path, int withScore, float fromMs, float toMs);
int closestSegment(float timeMs, HalbrinList *list);
int setHalbrinFramesize(GS_Result *r, float msPerFrame, HalbrinList *list);
int scaleHalbrin(GS_Result *r, float msPerFrame, HalbrinList *list);
int alignHalbrin(HalbrinList *list, float fromMs, float toMs);
HalbrinList *cloneHalbrin(HalbrinList *list);

/* The object registry's type "halbrin". Every package that makes segment
 * lists registers this one record, so lists free and copy alike whichever
 * package is loaded first. */
struct CntrType;
const struct CntrType *Halbrin_Type(void);

#ifdef __cplusplus
}
#endif

#endif
