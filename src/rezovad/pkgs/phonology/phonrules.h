/* Phonological rewrite rules over a list of phones drawn from a fixed pool.
 *
 * Contract:
 *  - A list is a "HEAD" node followed by one node per phone. Nodes come
 *    from one pool of PHON_POOL_SIZE nodes, reset per pronunciation.
 *  - When the pool runs out, allocNode answers null and the call's rules
 *    leave the list short; phon_exhausted() then answers 1 and the caller
 *    refuses the pronunciation (nothing ends the process).
 *  - Rules take (head, rewrite): rewrite mode replaces or removes phones;
 *    otherwise the variant is added as "( a | b )" or "[ x ]".
 *  - Phone texts hold at most 31 characters; callers refuse longer ones.
 */
#ifndef TOVIK_PHONRULES_H
#define TOVIK_PHONRULES_H

#define PHON_POOL_SIZE 1023
#define PHON_TEXT_SIZE 32

typedef struct PhoneNode {
    char text[PHON_TEXT_SIZE];
    struct PhoneNode *next, *prev;
} PhoneNode;

#ifdef __cplusplus
extern "C" {
#endif

void resetNodes(void);
int phon_exhausted(void);
PhoneNode *allocNode(const char *text);
void freeNode(PhoneNode *node);
PhoneNode *insertNode(PhoneNode *node, const char *text);
PhoneNode *appendNode(PhoneNode *node, const char *text);
PhoneNode *buildList(char *text);
void phonePrintList(PhoneNode *head);

int inList(const char *word, const char *list);
int isPhoneme(const char *text);
int isDiacritic(const char *text, char *base, char *diacritic);
int hasStress(PhoneNode *node, int k);
int match(PhoneNode *node, const char *pattern);
int isVowel(const char *text);
int isFric(const char *text);
int isSemi(const char *text);
int isStop(const char *text);
int isSonorant(const char *text);
int isObstruent(const char *text);
PhoneNode *nextVowel(PhoneNode *node);

void stripStress(PhoneNode *head, int rewrite);
void Rule_vowelReduce(PhoneNode *head, int rewrite);
void Rule_schwa(PhoneNode *head, int rewrite);
void Rule_ing(PhoneNode *head, int rewrite);
void Rule_er(PhoneNode *head, int rewrite);
void Rule_finalBurst(PhoneNode *head, int rewrite);
void Rule_stopCluster(PhoneNode *head, int rewrite);
void Rule_closureDeletion(PhoneNode *head, int rewrite);
void Rule_syllabify(PhoneNode *head, int rewrite);
void Rule_ruhReduction(PhoneNode *head, int rewrite);
void Rule_flap(PhoneNode *head, int rewrite);
void Rule_palatal(PhoneNode *head, int rewrite);

#ifdef __cplusplus
}
#endif

#endif
