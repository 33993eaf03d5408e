// Unit specifications applied to a finished network: settings, categories
// and durations in frames.
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "gravlin_int.h"
#include "yastro.h"

using namespace gravlin;

namespace {

bool startsWith(const char *s, const char *p) { return strncmp(s, p, strlen(p)) == 0; }

const char *afterKeyword(const char *s, const char *kw) {
    const char *p = s + strlen(kw);
    return *p == ' ' ? p + 1 : p;
}

// Text between the "<" that opens it and the next ">".
int uriOf(const char *s, const char *kw, char **uri, int32_t *len) {
    const char *p = afterKeyword(s, kw);
    const char *e = *p == '<' ? strchr(p + 1, '>') : nullptr;
    if (!e) {
        gErr("Error: '%s' needs a URI between '<' and '>'\n", s);
        return GRAVLIN_FAIL;
    }
    DB_FREE(*uri);
    *uri = dupText(std::string(p + 1, e - p - 1));
    *len = (int32_t)strlen(p);
    return 0;
}

bool parseInt(const std::string &w, int *v) {
    char *end;
    long x = strtol(w.c_str(), &end, 10);
    if (end == w.c_str()) return false;
    *v = (int)x;
    return true;
}

} // namespace

extern "C" int Gravlin_specUpdate(GravlinNet *net, char **statements, int count) {
    std::string l, r;
    for (int k = 0; k < count; k++) {
        const char *s = statements[k];
        if (startsWith(s, "map") || splitAtSeparator(s, l, r, ":=") == 0) continue;
        if (startsWith(s, "duration_model")) {
            const char *m = afterKeyword(s, "duration_model");
            if (!*m) {
                gErr("Error: duration_model needs a name\n");
                return GRAVLIN_FAIL;
            }
            DB_FREE(net->durModel);
            net->durModel = dupText(m);
            net->durModelLen = (int32_t)strlen(m);
        } else if (startsWith(s, "frame_size")) {
            const char *t = afterKeyword(s, "frame_size");
            float v = (float)atof(t);
            if (!(v > 0)) {
                gErr("Error: can't parse frame size '%s'\n", t);
                return GRAVLIN_FAIL;
            }
            net->frameSize = v;
        } else if (startsWith(s, "sampling_freq")) {
            const char *t = afterKeyword(s, "sampling_freq");
            float v = (float)atof(t);
            if (!(v > 0)) {
                gErr("Error: can't parse sampling frequency '%s'\n", t);
                return GRAVLIN_FAIL;
            }
            net->sampFreq = v;
        } else if (startsWith(s, "features")) {
            if (uriOf(s, "features", &net->featuresURI, &net->featuresURILen)) return GRAVLIN_FAIL;
        } else if (startsWith(s, "feat_context")) {
            if (uriOf(s, "feat_context", &net->contextURI, &net->contextURILen)) return GRAVLIN_FAIL;
        } else {
            std::vector<std::string> w = splitWords(s);
            if (w.empty()) continue;
            for (int i = 0; i < net->numStates; i++) {
                GravlinState *st = &net->states[i];
                if (!st->name || w[0] != st->name) continue;
                int cat;
                if (w.size() < 2 || !parseInt(w[1], &cat) || w.size() < 3) {
                    gErr("Error: can't parse line %s\n", s);
                    return GRAVLIN_FAIL;
                }
                if (!(net->frameSize > 0)) {
                    gErr("Error: frame size is %f in spec file\n", net->frameSize);
                    return GRAVLIN_FAIL;
                }
                if (w.size() < 5) {
                    gErr("Error: can't parse line %s\n", s);
                    return GRAVLIN_FAIL;
                }
                double mn = atof(w[2].c_str()), mx = atof(w[3].c_str());
                if (w[4] != "-") {
                    int t = -1;
                    for (int j = 0; j < count && t < 0; j++) {
                        std::vector<std::string> o = splitWords(statements[j]);
                        if (!o.empty() && o[0] == w[4]) t = j;
                    }
                    if (t < 0) {
                        gErr("Error: can't find tie category '%s'\n", w[4].c_str());
                        return GRAVLIN_FAIL;
                    }
                    std::vector<std::string> o = splitWords(statements[t]);
                    if (o.size() < 2 || !parseInt(o[1], &cat) || cat < 0) {
                        gErr("Error: can't parse line '%s'\n", statements[t]);
                        return GRAVLIN_FAIL;
                    }
                }
                st->category = cat;
                st->durParam1 = (float)std::trunc(mn / net->frameSize + 0.5);
                st->durParam2 = (float)std::trunc(mx / net->frameSize + 0.5);
            }
        }
    }
    for (int i = 0; i < net->numStates; i++) {
        GravlinState *st = &net->states[i];
        if (st->category < 0 && st->type != GRAVLIN_BOU && st->type != GRAVLIN_EOU) {
            gErr("Error: '%s' is unknown to classifier\n", st->name ? st->name : "");
            Gravlin_printGravlinNode(net, i);
            return -1;
        }
    }
    return 0;
}
