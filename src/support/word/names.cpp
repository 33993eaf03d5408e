// Probability-name tables: recogniser output names with their context forms.
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "word.h"
#include "yastro.h"

namespace {

char *copy(const std::string &s) {
    char *p = static_cast<char *>(DB_MALLOC(s.size() + 1));
    memcpy(p, s.c_str(), s.size() + 1);
    return p;
}

} // namespace

extern "C" {

ProbNames *buildNames(GS_Result *r, const char *text) {
    std::istringstream in(text ? text : "");
    std::vector<std::string> names;
    for (std::string t; in >> t;) names.push_back(t);
    if (names.empty()) {
        GS_AppendResult(r, "no recognizer output names", nullptr);
        return nullptr;
    }
    ProbNames *p = static_cast<ProbNames *>(DB_MALLOC(sizeof(ProbNames)));
    p->count = (int32_t)names.size();
    p->entries = static_cast<ProbNameEntry *>(DB_MALLOC(sizeof(ProbNameEntry) * names.size()));
    for (size_t i = 0; i < names.size(); i++) {
        const std::string &n = names[i];
        // "<c>" names no context; "l<c", "c>r" and "l<c>r" name their sides.
        std::string spec = n;
        int left = 0, right = 0;
        if (n.size() > 2 && n.front() == '<' && n.back() == '>') {
            spec = n.substr(1, n.size() - 2);
        } else {
            size_t lt = n.find('<'), gt = n.rfind('>');
            if (lt != std::string::npos && lt > 0) left = 1;
            if (gt != std::string::npos && gt + 1 < n.size()) right = 1;
            size_t b = left ? lt + 1 : 0, e = right ? gt : n.size();
            if (e > b) spec = n.substr(b, e - b);
        }
        ProbNameEntry &e = p->entries[i];
        e.name = copy(n);
        e.modelSpec = copy(spec);
        e.modelSpecSize = (int32_t)spec.size() + 1;
        e.leftContext = left;
        e.rightContext = right;
    }
    return p;
}

void freeNames(ProbNames *names) {
    if (!names) return;
    for (int i = 0; i < names->count; i++) {
        DB_FREE(names->entries[i].name);
        DB_FREE(names->entries[i].modelSpec);
    }
    DB_FREE(names->entries);
    DB_FREE(names);
}

int modelToCat(const ProbNames *names, const char *name) {
    for (int i = 0; i < names->count; i++)
        if (strcmp(names->entries[i].name, name) == 0) return i;
    for (int i = 0; i < names->count; i++) {
        const ProbNameEntry &e = names->entries[i];
        if (!e.leftContext && !e.rightContext && strcmp(e.modelSpec, name) == 0) return i;
    }
    return -1;
}

} // extern "C"
