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
    {"tion", "S & n"}, {"ssion", "S & n"}, {"sion", "Z & n"}, {"ture", "tS &r"}, {"dge", "dZ"},
    {"tch", "tS"}, {"eigh", "V:ei"}, {"igh", "V:aI"}, {"our", "V:> 9r"}, {"sch", "s kc kh"}, {"ch", "tS"}, {"sh", "S"}, {"th", "T"}, {"ph", "f"},
    {"wh", "w"},   {"wr", "9r"},    {"kn", "n"},        {"ck", "kc kh"}, {"nk", "N kc kh"}, {"ng", "N"},        {"qu", "kc kh w"}, {"gh", ""},
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

bool voiced(const std::string &phone) {
    static const char *kVoiceless[] = {"th", "kh", "ph", "s", "S", "tS", "f", "T", "h"};
    for (const char *v : kVoiceless)
        if (phone == v) return false;
    return true;
}

bool sibilant(const std::string &phone) {
    return phone == "s" || phone == "z" || phone == "S" || phone == "Z" || phone == "tS" || phone == "dZ";
}

void stem(const std::string &w, std::vector<Phone> &out);

// Inflected words are their stem and an ending: "-ed" reads "I d" after t
// or d, "t" after a voiceless sound, else "d"; "-s" reads "I z" after a
// hissing sound, "s" after a voiceless one, else "z"; "-le" after a
// consonant reads "& l".
void word(const std::string &w, std::vector<Phone> &out) {
    size_t n = w.size();
    auto consonant = [&](size_t i) { return i < n && !isV(w[i]) && w[i] != 'y'; };
    if (n >= 5 && w.compare(n - 2, 2, "ed") == 0 && !isV(w[n - 3])) {
        stem(w.substr(0, n - 1), out); // "based" is "base" + d
        const std::string last = out.empty() ? "" : out.back().text;
        if (last == "th" || last == "d")
            add(out, "I_3 dc d");
        else
            add(out, voiced(last) ? "dc d" : "tc th");
        return;
    }
    if (n >= 4 && w[n - 1] == 's' && strchr("suia'", w[n - 2]) == nullptr) {
        bool es = w[n - 2] == 'e' && n >= 5 && strchr("sxzh", w[n - 3]) != nullptr;
        stem(w.substr(0, es ? n - 2 : n - 1), out);
        const std::string last = out.empty() ? "" : out.back().text;
        if (sibilant(last))
            add(out, "I_3 z");
        else
            add(out, voiced(last) ? "z" : "s");
        return;
    }
    if (n >= 4 && w.compare(n - 2, 2, "le") == 0 && consonant(n - 3) && w[n - 3] != 'l') {
        stem(w.substr(0, n - 2), out);
        add(out, "& l");
        return;
    }
    stem(w, out);
}

void stem(const std::string &w, std::vector<Phone> &out) {
    size_t n = w.size();
    // A final "e" after one consonant (and a vowel before it) is silent and
    // makes that vowel long; a lone final "e" of a short word is a vowel.
    // A final "e" after a consonant is silent when another vowel comes
    // before it; it lengthens that vowel across one consonant.
    size_t silentE = std::string::npos;
    bool lengthens = false;
    if (n >= 3 && w[n - 1] == 'e' && !isV(w[n - 2]) && w.find_first_of("aeiouy") < n - 2) {
        silentE = n - 1;
        lengthens = isV(w[n - 3]);
    }
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
            // Long before consonant + silent e and "a", "o", "u" before
            // "tion"; "o" and "i" at the end of a word, and "e" ending a
            // short one ("me").
            bool isLong = (lengthens && i + 2 == silentE) || (w.compare(i + 1, 4, "tion") == 0 && strchr("aou", c)) ||
                          (i + 1 == n && (c == 'o' || c == 'i' || (n <= 3 && c == 'e')));
            const char *longs[] = {"V:ei", "V:i:", "V:aI", "V:oU", "V:u"};
            const char *shorts[] = {"v:@", "v:E", "V:I", "v:A", "v:^"};
            if (i + 1 == n && c == 'i') longs[2] = "V:i:";
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
