// Context-dependent unit names of a recognizer description: a unit of
// centre c is "<c>" (or plain "c") alone, "l<c" after l, "c>r" before r and
// "l<c>r" between both; a part exists when an entry of that name does.
#include <cstring>

#include "hmm.h"

namespace {

bool exists(const HmmDescription *d, const std::string &name, std::string *out) {
    if (Hmm_FindEntry(d, name.c_str()) < 0) return false;
    *out = name;
    return true;
}

}  // namespace

int Hmm_PartFlags(const HmmDescription *d, const std::string &center) {
    int flags = 0;
    std::string tail = "<" + center, head = center + ">";
    for (int i = 0; i < d->numEntries; i++) {
        const DescriptionEntry &e = d->entries[i];
        if (!e.name) continue;
        std::string n = e.name;
        if (e.leftContext > 0 && e.rightContext <= 0 && n.size() > tail.size() &&
            n.compare(n.size() - tail.size(), tail.size(), tail) == 0)
            flags |= 1;
        if (e.rightContext > 0 && e.leftContext <= 0 && n.size() > head.size() && n.compare(0, head.size(), head) == 0)
            flags |= 2;
    }
    return flags;
}

bool Hmm_MiddlePart(const HmmDescription *d, const std::string &c, std::string *out) {
    return exists(d, "<" + c + ">", out) || exists(d, c, out);
}

bool Hmm_LeftPart(const HmmDescription *d, const std::string &c, const std::string &l, std::string *out) {
    return exists(d, l + "<" + c, out);
}

bool Hmm_RightPart(const HmmDescription *d, const std::string &c, const std::string &r, std::string *out) {
    return exists(d, c + ">" + r, out);
}

bool Hmm_WholeUnit(const HmmDescription *d, const std::string &l, const std::string &c, const std::string &r,
                   std::string *out) {
    return exists(d, l + "<" + c + ">" + r, out);
}
