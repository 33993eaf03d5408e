// The phone-list engine and the eleven rewrite rules.
#include "phonrules.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace {

PhoneNode pool[PHON_POOL_SIZE];
PhoneNode *freeList = nullptr;
bool exhausted = false;

const char *kVowels = "i: I E @ u & U ^ > A 3r &r ei aI >i iU aU oU";
const char *kFrics = "f T s S h v D z Z tS dZ";
const char *kSemis = "j w l 9r";
const char *kNasals = "m n N";
const char *kStops = "b d g ph th kh";

std::string base(const char *text) {
    const char *u = strchr(text, '_');
    return u ? std::string(text, u - text) : std::string(text);
}

bool baseIs(const PhoneNode *n, const char *b) { return n && base(n->text) == b; }

bool inClass(const char *text, const char *list) { return inList(base(text).c_str(), list); }

void setText(PhoneNode *n, const char *text) {
    strncpy(n->text, text, PHON_TEXT_SIZE - 1);
    n->text[PHON_TEXT_SIZE - 1] = '\0';
}

void unlink(PhoneNode *n) {
    n->prev->next = n->next;
    if (n->next) n->next->prev = n->prev;
}

// Appends the texts after node in order; answers the last node added.
PhoneNode *appendAll(PhoneNode *node, std::initializer_list<const char *> texts) {
    for (const char *t : texts) {
        PhoneNode *n = appendNode(node, t);
        if (!n) return node;
        node = n;
    }
    return node;
}

bool isNasal(const char *text) { return inClass(text, kNasals); }

// A one-phone rule: when `when` holds, rewrite to `to` or add "( N | to )".
template <class Cond>
void simple(PhoneNode *head, int rewrite, Cond when, const char *to) {
    for (PhoneNode *n = head->next; n; n = n->next) {
        if (!when(n)) continue;
        const char *r = to ? to : (baseIs(n, "I") || baseIs(n, "i:") ? "I_x" : "&");
        if (rewrite) {
            setText(n, r);
        } else {
            insertNode(n, "(");
            n = appendAll(n, {"|", r, ")"});
        }
    }
}

// "[ N ]" or N removed.
PhoneNode *optional(PhoneNode *n, int rewrite) {
    if (rewrite) {
        unlink(n);
        return n;
    }
    insertNode(n, "[");
    return appendAll(n, {"]"});
}

} // namespace

extern "C" {

void resetNodes(void) {
    for (int i = 0; i < PHON_POOL_SIZE; i++) pool[i].next = i + 1 < PHON_POOL_SIZE ? &pool[i + 1] : nullptr;
    freeList = &pool[0];
    exhausted = false;
}

int phon_exhausted(void) { return exhausted; }

PhoneNode *allocNode(const char *text) {
    if (!freeList) {
        exhausted = true;
        return nullptr;
    }
    PhoneNode *n = freeList;
    freeList = n->next;
    n->next = n->prev = nullptr;
    setText(n, text);
    return n;
}

void freeNode(PhoneNode *node) {
    node->next = freeList;
    freeList = node;
}

PhoneNode *insertNode(PhoneNode *node, const char *text) {
    PhoneNode *n = allocNode(text);
    if (!n) return nullptr;
    n->prev = node->prev;
    n->next = node;
    node->prev->next = n;
    node->prev = n;
    return n;
}

PhoneNode *appendNode(PhoneNode *node, const char *text) {
    PhoneNode *n = allocNode(text);
    if (!n) return nullptr;
    n->prev = node;
    n->next = node->next;
    if (node->next) node->next->prev = n;
    node->next = n;
    return n;
}

PhoneNode *buildList(char *text) {
    PhoneNode *head = allocNode("HEAD");
    if (!head) return nullptr;
    PhoneNode *last = head;
    for (char *tok = strtok(text, " "); tok; tok = strtok(nullptr, " ")) {
        PhoneNode *n = appendNode(last, tok);
        if (!n) break;
        last = n;
    }
    return head;
}

void phonePrintList(PhoneNode *head) {
    for (PhoneNode *n = head->next; n; n = n->next) printf(n == head->next ? "%s" : " %s", n->text);
    printf("\n");
}

int inList(const char *word, const char *list) {
    size_t len = strlen(word);
    if (!len) return 0;
    const char *p = strstr(list, word);
    if (!p) return 0;
    bool start = p == list || p[-1] == ' ';
    bool end = p[len] == '\0' || p[len] == ' ';
    return start && end;
}

int isPhoneme(const char *text) { return text[0] != '.'; }

int isDiacritic(const char *text, char *b, char *diacritic) {
    const char *u = strchr(text, '_');
    if (!u) return 0;
    memcpy(b, text, u - text);
    b[u - text] = '\0';
    strcpy(diacritic, u + 1);
    return 1;
}

int hasStress(PhoneNode *node, int k) {
    const char *u = strchr(node->text, '_');
    return u && std::to_string(k) == u + 1;
}

int match(PhoneNode *node, const char *pattern) { return base(node->text) == base(pattern); }

int isVowel(const char *text) { return inClass(text, kVowels); }
int isFric(const char *text) { return inClass(text, kFrics); }
int isSemi(const char *text) { return inClass(text, kSemis); }
int isStop(const char *text) { return inClass(text, kStops); }
int isSonorant(const char *text) { return isVowel(text) || isSemi(text); }
int isObstruent(const char *text) { return isStop(text) || isFric(text) || isNasal(text); }

PhoneNode *nextVowel(PhoneNode *node) {
    for (; node; node = node->next)
        if (isVowel(node->text)) return node;
    return nullptr;
}

void stripStress(PhoneNode *head, int) {
    for (PhoneNode *n = head->next; n; n = n->next)
        for (char *u = strchr(n->text, '_'); u; u = strchr(u + 1, '_'))
            if (u[1] == '1' || u[1] == '2' || u[1] == '3') {
                *u = '\0';
                break;
            }
}

void Rule_vowelReduce(PhoneNode *head, int rewrite) {
    simple(head, rewrite, [](PhoneNode *n) { return isVowel(n->text) && hasStress(n, 3); }, nullptr);
}

void Rule_schwa(PhoneNode *head, int rewrite) {
    simple(head, rewrite, [](PhoneNode *n) { return baseIs(n, "^") && hasStress(n, 3); }, "&");
}

void Rule_ing(PhoneNode *head, int rewrite) {
    simple(head, rewrite, [](PhoneNode *n) { return baseIs(n, "I") && hasStress(n, 3) && baseIs(n->next, "N"); },
           "I_x");
}

void Rule_er(PhoneNode *head, int rewrite) {
    simple(head, rewrite, [](PhoneNode *n) { return baseIs(n, "3r") && hasStress(n, 3); }, "&r");
}

void Rule_finalBurst(PhoneNode *head, int rewrite) {
    for (PhoneNode *n = head->next; n; n = n->next)
        if (!n->next && isStop(n->text)) n = optional(n, rewrite);
}

void Rule_stopCluster(PhoneNode *head, int rewrite) {
    for (PhoneNode *n = head->next; n; n = n->next)
        if (isStop(n->text) && n->next && inList(base(n->next->text).c_str(), "bc dc gc pc tc kc"))
            n = optional(n, rewrite);
}

void Rule_closureDeletion(PhoneNode *head, int rewrite) {
    for (PhoneNode *n = head->next; n; n = n->next) {
        PhoneNode *p = n->prev;
        bool hit = ((baseIs(n, "dc") || baseIs(n, "tc")) && baseIs(p, "n")) ||
                   ((baseIs(n, "bc") || baseIs(n, "pc")) && baseIs(p, "m")) ||
                   ((baseIs(n, "gc") || baseIs(n, "kc")) && baseIs(p, "N"));
        if (hit) n = optional(n, rewrite);
    }
}

void Rule_syllabify(PhoneNode *head, int rewrite) {
    for (PhoneNode *n = head->next; n; n = n->next) {
        if (!(baseIs(n, "&") || (baseIs(n, "^") && hasStress(n, 3)))) continue;
        PhoneNode *m = n->next;
        if (!(baseIs(m, "m") || baseIs(m, "n") || baseIs(m, "l"))) continue;
        if (m->next && isVowel(m->next->text)) continue;
        std::string s = base(m->text) + "=";
        if (rewrite) {
            setText(m, s.c_str());
            unlink(n);
        } else {
            insertNode(n, "(");
            insertNode(n, "(");
            n = appendAll(m, {")", "|", s.c_str(), ")"});
        }
    }
}

void Rule_ruhReduction(PhoneNode *head, int rewrite) {
    for (PhoneNode *n = head->next; n; n = n->next) {
        if (!baseIs(n, "9r")) continue;
        PhoneNode *a = n->next;
        if (!baseIs(a, "&")) continue;
        PhoneNode *v = nextVowel(a->next);
        if (!v || !hasStress(v, 1)) continue;
        if (rewrite) {
            setText(a, "&r");
            unlink(n);
        } else {
            insertNode(n, "(");
            insertNode(n, "(");
            n = appendAll(a, {")", "|", "&r", ")"});
        }
    }
}

void Rule_flap(PhoneNode *head, int rewrite) {
    for (PhoneNode *n = head->next; n; n = n->next) {
        if (!(baseIs(n, "th") || baseIs(n, "d"))) continue;
        PhoneNode *p = n->prev, *q = p ? p->prev : nullptr;
        if (!p || !q || !isVowel(q->text) || !(hasStress(q, 1) || hasStress(q, 2))) continue;
        if (!n->next || !isVowel(n->next->text) || hasStress(n->next, 1)) continue;
        if (rewrite) {
            setText(p, "d_\\(");
            unlink(n);
        } else {
            insertNode(p, "(");
            insertNode(p, "(");
            n = appendAll(n, {")", "|", "d_\\(", ")"});
        }
    }
}

void Rule_palatal(PhoneNode *head, int rewrite) {
    for (PhoneNode *n = head->next; n; n = n->next) {
        if (!baseIs(n, "u") || !hasStress(n, 1) || !n->prev || !isObstruent(n->prev->text)) continue;
        if (rewrite) {
            insertNode(n, "y");
        } else {
            insertNode(n, "[");
            insertNode(n, "y");
            insertNode(n, "]");
        }
    }
}

} // extern "C"
