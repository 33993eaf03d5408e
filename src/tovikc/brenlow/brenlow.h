/* Word alignment of a recognised word string against a reference by
 * weighted edit distance, for scoring recognition.
 *
 * Contract:
 *  - Costs: correct 0, substitution 4, insertion 3, deletion 3. At each
 *    cell an insertion wins only when strictly cheapest; otherwise the
 *    diagonal wins when strictly below the deletion; otherwise deletion.
 *  - Brenlow_Align fills the counters and the two aligned lines: one
 *    column per step, as wide as the longer word; correct words in lower
 *    case, errors in upper case; a missing word is a run of '#'; columns
 *    separated by one blank, each line with one trailing blank. Lines and
 *    sentences have no length limit.
 *  - Errors (returned as non-zero with a message in r): "brenlow: cannot
 *    allocate 2D match table", "cannot trace the correct path", "Invalid
 *    results".
 */
#ifndef TOVIK_BRENLOW_H
#define TOVIK_BRENLOW_H

#ifdef __cplusplus
#include <string>
#include <vector>

#include "result.h"

struct BrenlowCounts {
    int correct = 0, substitutions = 0, insertions = 0, deletions = 0;
};

// Tokens separated by runs of the separator characters; leading
// separators are skipped.
std::vector<std::string> Brenlow_Split(const std::string &text, const char *separators);

int Brenlow_Align(GS_Result *r, const std::vector<std::string> &ref, const std::vector<std::string> &hyp,
                  BrenlowCounts &counts, std::string &refLine, std::string &hypLine);
#endif

#endif
