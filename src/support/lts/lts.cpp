// English letter-to-sound rules of our own.
#include "lts.h"

#include <cctype>
#include <cstring>
#include <string>
#include <vector>

namespace {

bool isV(char c) { return strchr("aeiou", c) != nullptr; }

// A phone with a vowel flag; vowels get their stress at the end.
struct Phone {
    std::string text;
    bool vowel, shortVowel;
};

// Letter groups tried longest first at each position: spelling, phones
// ("V:" marks a vowel, "v:" a short vowel that reduces when unstressed).
const struct {
    const char *letters, *phones;
} kGroups[] = {
    {"tch", "tS"}, {"igh", "V:aI"}, {"sch", "s kc kh"}, {"ch", "tS"}, {"sh", "S"}, {"th", "T"}, {"ph", "f"},
    {"wh", "w"},   {"ck", "kc kh"}, {"ng", "N"},        {"qu", "kc kh w"}, {"gh", ""},
    {"ee", "V:i:"}, {"ea", "V:i:"}, {"ie", "V:i:"}, {"oo", "V:u"}, {"ou", "V:aU"}, {"oi", "V:>i"}, {"oy", "V:>i"},
    {"ai", "V:ei"}, {"ay", "V:ei"}, {"au", "V:>"},  {"aw", "V:>"}, {"ew", "V:u"}, {"oa", "V:oU"}, {"ey", "V:ei"},
    {"er", "V:3r"}, {"ir", "V:3r"}, {"ur", "V:3r"}, {"ar", "V:A 9r"}, {"or", "V:> 9r"},
    {"b", "bc b"}, {"d", "dc d"}, {"f", "f"}, {"h", "h"}, {"j", "dZ"}, {"k", "kc kh"}, {"l", "l"}, {"m", "m"},
    {"n", "n"},    {"p", "pc ph"}, {"r", "9r"}, {"s", "s"}, {"t", "tc th"}, {"v", "v"}, {"w", "w"},
    {"x", "kc kh s"}, {"z", "z"},
};

void add(std::vector<Phone> &out, const std::string &spec) {
    bool vowel = spec.compare(0, 2, "V:") == 0 || spec.compare(0, 2, "v:") == 0;
    bool isShort = spec.compare(0, 2, "v:") == 0;
    std::string rest = vowel ? spec.substr(2) : spec;
    size_t i = 0;
    bool first = true;
    while (i < rest.size()) {
        size_t j = rest.find(' ', i);
        if (j == std::string::npos) j = rest.size();
        if (j > i) out.push_back({rest.substr(i, j - i), vowel && first, isShort && first});
        first = false;
        i = j + 1;
    }
}

void word(const std::string &w, std::vector<Phone> &out) {
    size_t n = w.size();
    // A final "e" after one consonant (and a vowel before it) is silent and
    // makes that vowel long; a lone final "e" of a short word is a vowel.
    size_t silentE = std::string::npos;
    if (n >= 3 && w[n - 1] == 'e' && !isV(w[n - 2]) && isV(w[n - 3])) silentE = n - 1;
    size_t start = out.size();
    for (size_t i = 0; i < n;) {
        char c = w[i];
        if (c == '\'') {
            i++;
            continue;
        }
        if (i == silentE) break;
        if (i > 0 && c == w[i - 1] && !isV(c)) { // doubled consonant
            i++;
            continue;
        }
        char next = i + 1 < n ? w[i + 1] : 0;
        if (c == 'c' && next != 'h' && next != 'k') {
            add(out, next == 'e' || next == 'i' || next == 'y' ? "s" : "kc kh");
            i++;
            continue;
        }
        if (c == 'g' && next != 'h') {
            add(out, (next == 'e' || next == 'i' || next == 'y') && i > 0 ? "dZ" : "gc g");
            i++;
            continue;
        }
        if (c == 'y') {
            if (i == 0)
                add(out, "j");
            else
                add(out, i + 1 == n && (out.size() - start) > 3 ? "V:i:" : "V:aI");
            i++;
            continue;
        }
        if (isV(c)) {
            bool grouped = false;
            for (const auto &g : kGroups) {
                size_t len = strlen(g.letters);
                if (isV(g.letters[0]) && w.compare(i, len, g.letters) == 0) {
                    add(out, g.phones);
                    i += len;
                    grouped = true;
                    break;
                }
            }
            if (grouped) continue;
            // Long before consonant + silent e, or at the end of a word.
            bool isLong = (silentE != std::string::npos && i + 2 == silentE) || (i + 1 == n && n <= 3 && c != 'a');
            const char *longs[] = {"V:ei", "V:i:", "V:aI", "V:oU", "V:u"};
            const char *shorts[] = {"v:@", "v:E", "v:I", "v:A", "v:^"};
            int k = (int)(strchr("aeiou", c) - "aeiou");
            add(out, isLong ? longs[k] : shorts[k]);
            i++;
            continue;
        }
        bool done = false;
        for (const auto &g : kGroups) {
            size_t len = strlen(g.letters);
            if (w.compare(i, len, g.letters) == 0) {
                add(out, g.phones);
                i += len;
                done = true;
                break;
            }
        }
        if (!done) i++;
    }
    // Stress: the first vowel primary; later short vowels reduce to "&".
    bool first = true;
    for (size_t k = start; k < out.size(); k++) {
        if (!out[k].vowel) continue;
        if (first)
            out[k].text += "_1";
        else if (out[k].shortVowel)
            out[k].text = "&";
        else
            out[k].text += "_3";
        first = false;
    }
}

} // namespace

extern "C" int lts_Generate(GS_Result *r, const char *text, char *buf, size_t size) {
    std::vector<Phone> phones;
    std::string w;
    for (const char *p = text;; p++) {
        char c = *p;
        if (c == '\0' || c == ' ' || c == '-' || c == '\t' || c == '\n') {
            if (!w.empty()) word(w, phones);
            w.clear();
            if (c == '\0') break;
        } else if (isalpha((unsigned char)c) || c == '\'') {
            w += (char)tolower((unsigned char)c);
        } else {
            GS_AppendResult(r, "lts: cannot spell \"", std::string(1, c).c_str(), "\"", nullptr);
            return 1;
        }
    }
    std::string out;
    for (const Phone &p : phones) out += (out.empty() ? "" : " ") + p.text;
    if (out.size() + 1 > size) {
        if (size == 0 && out.empty()) return 0;
        GS_AppendResult(r, "lts: the pronunciation does not fit its buffer", nullptr);
        return 1;
    }
    memcpy(buf, out.c_str(), out.size() + 1);
    return 0;
}
