// Context-rule writer and the printed form of networks and states.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "gravlin_int.h"

using namespace gravlin;

namespace {

std::string replaceAll(const std::string &s, const std::string &from, const std::string &to) {
    std::string r;
    size_t i = 0, j;
    while ((j = s.find(from, i)) != std::string::npos) {
        r += s.substr(i, j - i) + to;
        i = j + from.size();
    }
    return r + s.substr(i);
}

// Every combination of the substitution classes that occur in the
// statement, preceded by the emptied intermediate texts.
std::vector<std::string> expandCDRuleText(const std::string &statement, const Clusters &classes) {
    std::vector<std::string> list{statement};
    for (const Cluster &k : classes) {
        if (statement.find(k.name) == std::string::npos) continue;
        gWarn("FOUND '%s' in '%s'\n", k.name.c_str(), statement.c_str());
        size_t before = list.size();
        for (size_t i = 0; i < before; i++) {
            if (list[i].empty()) continue;
            for (const std::string &v : k.members) list.push_back(replaceAll(list[i], k.name, v));
            list[i].clear();
        }
    }
    return list;
}

const char *typeName(int type) {
    switch (type) {
    case GRAVLIN_ITEM: return "ITEM";
    case GRAVLIN_GROUPING: return "GROUPING";
    case GRAVLIN_OPTIONAL: return "OPTIONAL";
    case GRAVLIN_OR: return "OR";
    case GRAVLIN_POS_CLOSURE: return "POS-CLOSURE";
    case GRAVLIN_KLEENE_STAR: return "KLEENE-STAR";
    case GRAVLIN_NOT_USED: return "NOT-USED";
    case GRAVLIN_BOU: return "BEGINNING-of-UTTERANCE";
    case GRAVLIN_EOU: return "END-of-UTTERANCE";
    default: return nullptr;
    }
}

} // namespace

extern "C" {

int Gravlin_writeCDRules(char **statements, int count, const char *path) {
    FILE *f = fopen(path, "w");
    if (!f) {
        gErr("Unable to open file %s for writing\n", path);
        return GRAVLIN_FAIL;
    }
    Clusters clusters, classes;
    std::string left, right, token, body;
    std::vector<std::string> tokens;
    for (int k = 0; k < count; k++) {
        const char *s = statements[k];
        if (splitAtSeparator(s, left, right, ":=") == 0) {
            addClusterMembers(clusters, left, right);
            fprintf(f, "%s ;\n", s);
        } else if (splitAtSeparator(s, left, right, "==") == 0) {
            addClusterMembers(classes, left, right);
        } else if (parseContextRule(s, token, body, tokens) == 0) {
            fprintf(f, "\n// %s ;\n", s);
            for (const std::string &t : expandCDRuleText(s, classes))
                if (!t.empty()) fprintf(f, "%s ;\n", t.c_str());
        } else if (splitAtSeparator(s, left, right, "->") == 0) {
            fprintf(f, "\n// %s ;\n", s);
            size_t c = right.find("::");
            std::string b = c == std::string::npos ? right : right.substr(0, c);
            while (!b.empty() && b.back() == ' ') b.pop_back();
            fprintf(f, "%s = %s ;\n", left.c_str(), b.c_str());
        } else {
            fprintf(f, "%s ;\n", s);
        }
    }
    int bad = ferror(f);
    if (fclose(f) != 0 || bad) {
        gErr("Error writing file %s\n", path);
        return GRAVLIN_FAIL;
    }
    return 0;
}

void Gravlin_printGravlinNode(GravlinNet *net, int state) {
    if (state < 0 || state >= net->numStates) {
        fprintf(stderr, "STATE ID  = %d (no such state)\n", state);
        return;
    }
    const GravlinState *s = &net->states[state];
    fprintf(stderr, "STATE ID  = %d\n", s->id);
    fprintf(stderr, "\tname    = %s\n", s->name ? s->name : "(null)");
    fprintf(stderr, "\tcategory= %d\n", s->category);
    fprintf(stderr, "\texpanded= %d\n", s->expanded);
    if (s->durParam1 != -1.0f) fprintf(stderr, "\tdurParam1= %.2f\n", s->durParam1);
    if (s->durParam2 != -1.0f) fprintf(stderr, "\tdurParam2= %.2f\n", s->durParam2);
    if (net->numClasses > 0) {
        int wordLevel = -1, phonemeLevel = -1;
        for (int l = 0; l < s->numLevels; l++) {
            const char *n = net->classes[s->levelClasses[l]].name;
            if (strcmp(n, "word") == 0) wordLevel = l;
            if (strcmp(n, "phoneme") == 0) phonemeLevel = l;
        }
        if (wordLevel >= 0 && s->wordValue >= 0)
            fprintf(stderr, "\tword    = %s\n", net->classes[s->levelClasses[wordLevel]].values[s->wordValue]);
        if (phonemeLevel >= 0 && s->phonemeValue >= 0)
            fprintf(stderr, "\tphoneme = %s\n", net->classes[s->levelClasses[phonemeLevel]].values[s->phonemeValue]);
    }
    if (const char *t = typeName(s->type)) fprintf(stderr, "\ttype    = %s\n", t);
    if (s->numLevels > 0 && net->numClasses > 0) {
        fprintf(stderr, "\tClass Hierarchy:\n\t\t");
        for (int l = 0; l < s->numLevels; l++)
            fprintf(stderr, "%s%10s", l ? " -> \t" : "", net->classes[s->levelClasses[l]].name);
        fprintf(stderr, "\n\t\t");
        for (int l = 0; l < s->numLevels; l++)
            fprintf(stderr, "%s%10s", l ? " -> \t" : "", net->classes[s->levelClasses[l]].values[s->levelValues[l]]);
        fprintf(stderr, "\n");
    }
    auto links = [&](const GravlinLink *ls, int n) {
        for (int i = 0; i < n; i++) {
            const GravlinState *o = &net->states[ls[i].state];
            fprintf(stderr, "\t\t%3d : %10s\t(%.2f, %d)\n", ls[i].state, o->name ? o->name : "(null)", ls[i].weight,
                    ls[i].wordBoundary);
        }
    };
    fprintf(stderr, "\tLinks from:\n");
    links(s->fromLinks, s->numFrom);
    fprintf(stderr, "\tLinks to:\n");
    links(s->toLinks, s->numTo);
    fprintf(stderr, "\n");
}

int Gravlin_printGravlin(GravlinNet *net) {
    fprintf(stderr, "Gravlin '%s' has %d states\n", net->name, net->numStates);
    fprintf(stderr, "Enter Node = %d, Exit Node = %d\n", net->enter, net->exit);
    fprintf(stderr, "CollapseIdentical = %d, selfLoops = %d\n", net->collapseIdentical, net->selfLoops);
    fprintf(stderr, "Duration Model Type = %s\n", net->durModel);
    fprintf(stderr, "Sampling Frequency = %.2f, Frame Size = %.2f\n", net->sampFreq, net->frameSize);
    if (net->featuresURI[0]) fprintf(stderr, "Feature Code URI = '%s'\n", net->featuresURI);
    if (net->contextURI[0]) fprintf(stderr, "Context Code URI = '%s'\n", net->contextURI);
    for (int i = 0; i < net->numStates; i++) {
        fprintf(stderr, "-------------------------------\n");
        Gravlin_printGravlinNode(net, i);
    }
    return net->numStates;
}

} // extern "C"
