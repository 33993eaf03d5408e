/* Word hypotheses for the HMM searches: word graphs bound to the models of
 * a recognizer description, reversed graphs and grammars, and triphone
 * tables.
 *
 * Contract:
 *  - Word graphs and grammars are the word library's records (word.h),
 *    allocated so that freeWord and freeGrammar release them; a node's
 *    probIndex holds its model's index in the model list (-1: the list's
 *    model of the node's name).
 *  - Context expansion names each phone c by the description: "l<c>r" when
 *    that unit exists for its single left and right neighbours (the
 *    silence name at the word's edges), else "<c>" or plain "c"; the unit's
 *    entry gives the model. A phone without any unit keeps its name and
 *    index -1. The graph's shape is kept.
 *  - Triphone files hold lines "l-c+r UNIT" (blank lines and lines
 *    starting with "#" are skipped); expansion renames a phone with single
 *    neighbours (".pau" at the edges) to the unit of "l-c+r" when the table
 *    has it.
 *  - Reversing swaps initial and final and turns every link round; a
 *    grammar's transition scores stay with their links.
 *  - Failures append a message to r and answer null.
 */
#ifndef TOVIK_TALMOK_H
#define TOVIK_TALMOK_H

#include <map>
#include <string>
#include <vector>

#include "records.h"
#include "result.h"
#include "word.h"

struct TalmokTriphone {
    std::map<std::string, std::string> units;
};

WordGraph *Talmok_ContextWord(GS_Result *r, const WordGraph *word, const HmmDescription *d, const char *silence);
WordGraph *Talmok_ReverseWord(const WordGraph *word);
WordGrammar *Talmok_ReverseGrammar(const WordGrammar *grammar);
TalmokTriphone *Talmok_LoadTriphone(GS_Result *r, const char *path);
WordGraph *Talmok_TriphoneWord(GS_Result *r, const WordGraph *word, const TalmokTriphone *table);
/* The phone strings a word graph holds, from its initial nodes; label
 * gives a node's text. */
std::vector<std::string> Talmok_Pronunciations(const WordGraph *word, const std::vector<std::string> &labels);

#endif
