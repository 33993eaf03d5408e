// Operations internal to the state-network library.
#ifndef TOVIK_GRAVLIN_INT_H
#define TOVIK_GRAVLIN_INT_H

#include <string>
#include <unordered_map>
#include <vector>

#include "gravlin.h"

namespace gravlin {

// Messages: gErr goes to stderr and into the kept error text; gWarn only to
// stderr.
void gErr(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
void gWarn(const char *fmt, ...) __attribute__((format(printf, 1, 2)));

char *dupText(const char *s);
char *dupText(const std::string &s);

int newState(GravlinNet *net, int type);
int copyState(GravlinNet *net, int src, int dst);
// Cuts the state array to its first keep states.
void truncateStates(GravlinNet *net, int keep);
void addLink(GravlinNet *net, int from, int to, int flag);
int removeLink(GravlinNet *net, int from, int to);
int retireState(GravlinNet *net, int state, const std::vector<int> &targets, const std::vector<int> &sources);
int addSelfLoop(GravlinNet *net, int state);
void findClassValue(GravlinNet *net, const char *className, const char *value, int *classIdx, int *valueIdx);
std::string stateClassValue(const GravlinNet *net, int state, const char *className);
// Flag of the link from->to, or -1 when there is none.
int linkFlag(const GravlinNet *net, int from, int to);
bool hasLink(const GravlinNet *net, int from, int to);
void releaseStateTexts(GravlinState *s);
void setStateName(GravlinState *s, const char *name);

// Clusters: named sets of values.
struct Cluster {
    std::string name;
    std::vector<std::string> members;
};
using Clusters = std::vector<Cluster>;
void addClusterMembers(Clusters &c, const std::string &name, const std::string &members);
const Cluster *findCluster(const Clusters &c, const std::string &name);

int splitAtSeparator(const char *statement, std::string &left, std::string &right, const char *sep);
int parseContextRule(const char *statement, std::string &token, std::string &body, std::vector<std::string> &tokens);
std::vector<std::string> splitWords(const std::string &s);

extern const char *const kWildcard;

struct Alternative {
    std::string body;
    std::vector<std::string> left;  // nearest to the focus first
    std::vector<std::string> right; // nearest first
    bool context = false;
};
struct Rule {
    std::string token;
    int statement = -1;
    int maxLcon = 0, maxRcon = 0;
    std::vector<Alternative> alts;
};
struct RuleTable {
    std::vector<Rule> rules;
    std::unordered_map<std::string, int> index;
    const Rule *find(const std::string &token) const {
        auto it = index.find(token);
        return it == index.end() ? nullptr : &rules[it->second];
    }
};
int buildRuleTable(RuleTable &t, char **statements, int count);

// Class-value lookup that stays fast on large lexicons; valid while only
// findClassValue (through it) adds values.
struct ClassIndex {
    std::unordered_map<std::string, int> classes;
    std::vector<std::unordered_map<std::string, int>> values;
    void find(GravlinNet *net, const char *className, const char *value, int *ci, int *vi);
};

int buildRuleSubnet(GravlinNet *net, int parent, const char *token, const char *body, int groupType, int *entry,
                    int *exit, const char *className, int depth, std::vector<int> &created, ClassIndex &idx);
int fillItemState(GravlinNet *net, int state, int parent, const char *token, const char *unit,
                  std::vector<int> &created, const char *className, ClassIndex &idx);

} // namespace gravlin

#endif
