/* Words, grammars and probability names for the word searches.
 *
 * Contract:
 *  - Probability names (buildNames): a whitespace-separated list of
 *    recogniser output names, entry i being output i. Forms: "c" or "<c>"
 *    (no context), "l<c" (left context), "c>r" (right context), "l<c>r".
 *    modelSpec is c; the context flags say which sides the form names.
 *  - Pronunciations (buildWord): phone names separated by blanks, with
 *    "( a | b )" alternatives and "[ x ]" optional parts, nested freely.
 *    The graph has one node per phone occurrence and no null nodes: a
 *    node's successors are the phones that can follow it. Kinds: 2
 *    initial, 4 final, 5 both, 3 inner. A pronunciation that can be empty
 *    is refused.
 *  - expandWord binds a word graph to a table: a phone c between l and r
 *    becomes the entry "l<c>r" when the table has it, else the chain of
 *    the entries it has of "l<c", "<c>" (or "c") and "c>r". Inside a word
 *    l and r are the neighbouring phones; at the word's edges every
 *    context the table names for c is an alternative, and so is the chain
 *    without that side's part. A node's name is its entry's name. With
 *    context-free entries only, the graph keeps its shape. A phone with no
 *    entry for any of its contexts is an error.
 *  - Grammars (buildGrammar): "$name = expr ;" rules, then the sentence
 *    expression (a trailing ";" is allowed). Words by name, $name for a
 *    rule, "|" choice, "( )" grouping, "[ ]" optional, "{ }" zero or more,
 *    "< >" one or more. Rules must not refer to themselves. The result is
 *    a network of word positions: each position says which positions may
 *    follow it, with a log score (0 for text grammars).
 *  - Grammars by hand (buildGrammarByHand): lines "from to word ?prob?",
 *    "initial state" and "final state" (states are any names; prob > 0,
 *    its natural log becomes the transition score, default 1).
 *  - Every builder returns a new record, or null with a message appended
 *    to r.
 */
#ifndef TOVIK_WORD_H
#define TOVIK_WORD_H

#include <stdint.h>

#include "result.h"

#ifdef __cplusplus
extern "C" {
#endif

enum { WORD_NULL = 1, WORD_INITIAL = 2, WORD_INNER = 3, WORD_FINAL = 4, WORD_INITFINAL = 5 };

typedef struct WordNode {
    int16_t *successors;
    char *name;
    int16_t probIndex; /* negative: none */
    int16_t numSuccessors;
    unsigned char kind;
} WordNode;

typedef struct WordGraph {
    WordNode *nodes;
    char *name;
    int16_t numNodes;
    int16_t numInit;
    int16_t numFinal;
} WordGraph;

typedef struct ProbNameEntry {
    char *name;
    char *modelSpec;
    int32_t modelSpecSize; /* strlen(modelSpec) + 1 */
    int32_t leftContext;   /* 1 when the name carries a left context */
    int32_t rightContext;
} ProbNameEntry;

typedef struct ProbNames {
    int32_t count;
    ProbNameEntry *entries;
} ProbNames;

/* One word occurrence of a grammar. */
typedef struct GrammarPosition {
    char *word;
    int32_t initial; /* may start a sentence */
    int32_t final;   /* may end one */
    float entryScore; /* log score of starting here */
    int32_t numNext;
    int32_t *next;    /* positions that may follow */
    float *nextScore; /* log score of each */
} GrammarPosition;

typedef struct WordGrammar {
    char *name;
    int32_t count;
    GrammarPosition *positions;
} WordGrammar;

ProbNames *buildNames(GS_Result *r, const char *text);
void freeNames(ProbNames *names);
int modelToCat(const ProbNames *names, const char *name);

WordGraph *buildWord(GS_Result *r, const char *pronunciation, const char *name);
WordGraph *expandWord(GS_Result *r, const WordGraph *word, const ProbNames *names);
void freeWord(WordGraph *word);

WordGrammar *buildGrammar(GS_Result *r, const char *text, const char *name);
WordGrammar *buildGrammarByHand(GS_Result *r, const char *text, const char *name);
void freeGrammar(WordGrammar *grammar);

#ifdef __cplusplus
}
#endif

#endif
