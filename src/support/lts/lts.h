/* Letter-to-sound rules for English spelling.
 *
 * Contract:
 *  - lts_Generate writes the pronunciation of text (letters, apostrophes,
 *    words separated by blanks or hyphens) into buf as blank-separated
 *    phones of the pronunciation notation: vowels "i: I E @ u & U ^ > A 3r
 *    ei aI >i aU oU" with stress "_1" (a word's first vowel) or "_3";
 *    reduced vowels as "&" and "&r"; stops as closure and release ("tc
 *    th", "dc d", ...); consonants "tS dZ f T s S h v D z Z j w l 9r m n N".
 *  - The rules are ours: longest-match letter groups, a silent final "e"
 *    that lengthens the vowel before one consonant, soft "c" and "g"
 *    before e, i, y, doubled consonants read once, and the endings "-ed",
 *    "-s" and "-le" read by the sound before them. Irregular words come
 *    out as they are spelled.
 *  - Answers 0, or 1 with a message in r: a character that cannot be
 *    spelled, or a pronunciation that does not fit in size bytes (the text
 *    is never written past buf + size). An empty text gives "".
 */
#ifndef TOVIK_LTS_H
#define TOVIK_LTS_H

#include <stddef.h>

#include "result.h"

#ifdef __cplusplus
extern "C" {
#endif

int lts_Generate(GS_Result *r, const char *text, char *buf, size_t size);

#ifdef __cplusplus
}
#endif

#endif
