/* State networks: grammar, lexicon and unit statements compiled into a
 * directed graph of unit states that the Viterbi search runs over.
 *
 * Contract:
 *  - Records below are plain C and cross into the Viterbi search library and
 *    the Gravlin package; field order is fixed. Everything a GravlinNet
 *    points to is allocated by this library with DB_Malloc (yastro0); the
 *    header itself belongs to the caller.
 *  - Every link exists twice: a->b stands in a's toLinks (direction 1) and
 *    in b's fromLinks (direction 0) with the same wordBoundary flag (0/1).
 *    At most one link joins an ordered pair. Outside an operation every
 *    state's id equals its index and no state is NOT-USED (type 8).
 *  - State 0 is the start state "/BOU" (type -1), state 1 the end state
 *    "/EOU" (type -2), made with the first rule.
 *  - Results: 0 success; -666 a reported failure; -1 from Gravlin_expand
 *    when the start token has no rule and from Gravlin_specUpdate when a
 *    unit has no category. Messages go to standard error; the text of the
 *    errors since the last Gravlin_clearError is also kept for callers that
 *    report it elsewhere (Gravlin_errorText). Nothing ends the process.
 *  - Numeric choices: link and state arrays grow to the next power of two;
 *    bracket nesting is limited to the 26 letters a..z; a rule that would
 *    rewrite a unit it produced (directly or through other rules) is
 *    refused as recursive.
 */
#ifndef TOVIK_GRAVLIN_H
#define TOVIK_GRAVLIN_H

#include <stddef.h>
#include <stdint.h>

#include "result.h"

#ifdef __cplusplus
extern "C" {
#endif

enum {
    GRAVLIN_ITEM = 0,
    GRAVLIN_GROUPING = 2,
    GRAVLIN_OPTIONAL = 3,
    GRAVLIN_OR = 4,
    GRAVLIN_POS_CLOSURE = 5,
    GRAVLIN_KLEENE_STAR = 6,
    GRAVLIN_NULL = 7,
    GRAVLIN_NOT_USED = 8,
    GRAVLIN_BOU = -1,
    GRAVLIN_EOU = -2
};

#define GRAVLIN_FAIL (-666)
#define GRAVLIN_NOT_KIND (-667)

typedef struct GravlinLink {
    int32_t state;
    int32_t direction; /* 1 in toLinks, 0 in fromLinks */
    float weight;      /* always 0.0 */
    int32_t wordBoundary;
} GravlinLink;

typedef struct GravlinClass {
    int32_t nameLen;
    char *name;
    int32_t numValues;
    char **values;
} GravlinClass;

typedef struct GravlinState {
    int32_t id;
    int32_t nameLen;
    char *name;
    int32_t expanded;
    int32_t type;
    int32_t category;
    int32_t phonemeValue;
    int32_t wordValue;
    int32_t numLevels;
    int32_t *levelClasses;
    int32_t *levelValues;
    int32_t numFrom;
    GravlinLink *fromLinks;
    int32_t numTo;
    GravlinLink *toLinks;
    int32_t numExtras;
    void *extras; /* 16-byte records; never filled here */
    float durParam1;
    float durParam2;
    int32_t searchInt1, searchInt2, searchInt3;
    float searchReal1, searchReal2, searchReal3, searchReal4, searchReal5;
} GravlinState;

typedef struct GravlinNet {
    int32_t nameLen;
    char *name;
    int32_t enter;
    int32_t exit;
    int32_t collapseIdentical;
    int32_t selfLoops;
    int32_t durModelLen;
    char *durModel;
    float sampFreq;
    float frameSize;
    int32_t featuresURILen;
    char *featuresURI;
    int32_t contextURILen;
    char *contextURI;
    int32_t numStates;
    GravlinState *states;
    int32_t numClasses;
    GravlinClass *classes;
} GravlinNet;

int Gravlin_init(GravlinNet *net, const char *name, int collapseIdentical, int selfLoops);

/* Statements: reading, cleaning, grouping, lexicon includes. */
int Gravlin_readFile(const char *path, char ***statements, int *count);
int Gravlin_cleanLines(char **statements, int count, int escapes);
int Gravlin_groupParentheses(char **statements, int count);
int Gravlin_getURIfiles(char **statements, int count, int *numLex, char ***uris, char ***classNames);
int Gravlin_readAndExpand(char **statements, int count, GravlinNet *net, const char *className,
                          const char *startToken);
int Gravlin_origStateName(const char *name, char **out);
void Gravlin_freeStatements(char **statements, int count);
/* A statement array (DB_Malloc copies) of count texts. */
char **Gravlin_copyStatements(const char *const *texts, int count);

int Gravlin_expand(char **statements, int count, const char *startToken, const char *className, GravlinNet *net);
int Gravlin_prune(GravlinNet *net);
int Gravlin_expandSpecMultiStateBiphone(char **statements, int count, const char *className, GravlinNet *net);
int Gravlin_writeCDRules(char **statements, int count, const char *path);
int Gravlin_printGravlin(GravlinNet *net);
void Gravlin_printGravlinNode(GravlinNet *net, int state);
int Gravlin_specUpdate(GravlinNet *net, char **statements, int count);

/* Releases everything the header points to and leaves an empty network
 * (no states, no classes, default settings) that may still be read. */
void Gravlin_free(GravlinNet *net);
/* Releases everything the header points to, texts included; the header
 * itself stays the caller's. */
void Gravlin_release(GravlinNet *net);
/* Deep copy of src into a caller-allocated header. */
void Gravlin_copy(GravlinNet *dst, const GravlinNet *src);
/* Exchanges the contents of two headers. */
void Gravlin_swap(GravlinNet *a, GravlinNet *b);

/* A network as bytes and back (object files, copies between interpreters):
 * Gravlin_pack writes exactly Gravlin_packedLength bytes. Gravlin_unpack
 * fills a caller-allocated header from exactly length bytes; it refuses
 * (GRAVLIN_FAIL, message in r, everything released) bytes that run short or
 * long, and indices or links that do not hold together. */
size_t Gravlin_packedLength(const GravlinNet *net);
void Gravlin_pack(const GravlinNet *net, unsigned char *buffer);
int Gravlin_unpack(GS_Result *r, GravlinNet *net, const unsigned char *buffer, size_t length);

/* Error text kept since the last clear (every failure message, in order). */
const char *Gravlin_errorText(void);
void Gravlin_clearError(void);

#ifdef __cplusplus
}
#endif

#endif
