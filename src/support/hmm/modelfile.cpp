// Model files in the HTK text format (one stream, diagonal Gaussians) and
// model list files.
#include <cctype>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <limits>
#include <map>
#include <memory>
#include <set>
#include <cstring>
#include <sstream>

#include "hmm.h"
#include "yastro.h"

namespace {

const float kNegInf = -std::numeric_limits<float>::infinity();

struct Lexer {
    const std::string &s;
    size_t pos = 0;
    explicit Lexer(const std::string &text) : s(text) {}

    // Next token: "<KEYWORD>" (upper-cased), "~x", a quoted or plain word;
    // empty at the end.
    std::string next() {
        while (pos < s.size() && std::isspace(static_cast<unsigned char>(s[pos]))) pos++;
        if (pos >= s.size()) return "";
        char c = s[pos];
        if (c == '<') {
            size_t e = s.find('>', pos);
            if (e == std::string::npos) e = s.size() - 1;
            std::string k = s.substr(pos, e - pos + 1);
            pos = e + 1;
            for (char &ch : k) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
            return k;
        }
        if (c == '~' && pos + 1 < s.size()) {
            pos += 2;
            return std::string("~") + static_cast<char>(std::tolower(static_cast<unsigned char>(s[pos - 1])));
        }
        if (c == '"') {
            size_t e = s.find('"', pos + 1);
            if (e == std::string::npos) e = s.size();
            std::string w = s.substr(pos + 1, e - pos - 1);
            pos = e + 1;
            return w;
        }
        size_t b = pos;
        while (pos < s.size() && !std::isspace(static_cast<unsigned char>(s[pos])) && s[pos] != '<') pos++;
        return s.substr(b, pos - b);
    }
    std::string peek() {
        size_t keep = pos;
        std::string t = next();
        pos = keep;
        return t;
    }
};

struct ParseError {
    std::string what;
};

[[noreturn]] void fail(const std::string &what) { throw ParseError{what}; }

bool isKind(const std::string &k) {
    static const char *bases[] = {"<WAVEFORM", "<LPC", "<LPREFC", "<LPCEPSTRA", "<LPDELCEP", "<IREFC",
                                  "<MFCC",     "<FBANK", "<MELSPEC", "<USER",    "<DISCRETE", "<PLP"};
    for (const char *b : bases) {
        size_t n = strlen(b);
        if (k.compare(0, n, b) == 0 && (k.size() == n + 1 || k[n] == '_')) return true;
    }
    return false;
}

struct Parser {
    Lexer lex;
    HmmPool *pool;
    std::map<std::string, int> stateMacros, transMacros;
    std::map<std::string, HmmModel *> models;
    std::vector<HmmModel *> order;

    Parser(const std::string &text, HmmPool *p) : lex(text), pool(p) {}
    ~Parser() {
        for (HmmModel *m : order) Hmm_NukeModel(m);
    }

    int integer(const char *what) {
        std::string t = lex.next();
        char *end = nullptr;
        long v = strtol(t.c_str(), &end, 10);
        if (t.empty() || *end) fail(std::string("expected an integer for ") + what + ", got \"" + t + "\"");
        return static_cast<int>(v);
    }
    float real(const char *what) {
        std::string t = lex.next();
        char *end = nullptr;
        float v = strtof(t.c_str(), &end);
        if (t.empty() || *end) fail(std::string("expected a number for ") + what + ", got \"" + t + "\"");
        return v;
    }
    void expect(const char *k) {
        std::string t = lex.next();
        if (t == k) return;
        if (!t.empty() && t[0] == '<' && !known(t)) fail("unsupported keyword " + t);
        if (!t.empty() && t[0] == '~' && t != "~s" && t != "~t" && t != "~h" && t != "~o")
            fail("unsupported macro " + t);
        fail(std::string("expected ") + k + ", got \"" + t + "\"");
    }
    static bool known(const std::string &k) {
        static const char *words[] = {"<VECSIZE>", "<STREAMINFO>", "<DIAGC>",    "<NULLD>",  "<BEGINHMM>",
                                      "<NUMSTATES>", "<STATE>",   "<NUMMIXES>", "<MIXTURE>", "<MEAN>",
                                      "<VARIANCE>", "<GCONST>",   "<TRANSP>",   "<ENDHMM>"};
        for (const char *w : words)
            if (k == w) return true;
        return isKind(k);
    }
    void vector(const char *what, float *out, int n) {
        int m = integer(what);
        if (m != n) fail(std::string(what) + " of " + std::to_string(m) + " values where the vector size is " +
                         std::to_string(n));
        for (int i = 0; i < n; i++) out[i] = real(what);
    }

    void globalOptions() {
        for (;;) {
            std::string t = lex.peek();
            if (t == "<VECSIZE>") {
                lex.next();
                int n = integer("<VECSIZE>");
                if (n <= 0 || n > 255) fail("vector size " + std::to_string(n) + " out of range 1..255");
                if (pool->vecSize && pool->vecSize != n) fail("vector size changes from " +
                                                              std::to_string(pool->vecSize));
                pool->vecSize = n;
            } else if (t == "<STREAMINFO>") {
                lex.next();
                int s = integer("<STREAMINFO>");
                if (s != 1) fail("only one stream is supported, not " + std::to_string(s));
                int n = integer("<STREAMINFO>");
                if (pool->vecSize && n != pool->vecSize) fail("stream width differs from the vector size");
                pool->vecSize = n;
            } else if (t == "<DIAGC>" || t == "<NULLD>") {
                lex.next();
            } else if (isKind(t)) {
                lex.next();
                pool->parmKind = t.substr(1, t.size() - 2);
            } else {
                return;
            }
        }
    }

    int mixture(const std::string &name) {
        if (!pool->vecSize) fail("a state before the vector size is known");
        int dim = pool->vecSize;
        int n = 1;
        if (lex.peek() == "<NUMMIXES>") {
            lex.next();
            n = integer("<NUMMIXES>");
            if (n <= 0 || n > 65535) fail("bad number of mixture components " + std::to_string(n));
        }
        std::unique_ptr<HmmMixture> m(Hmm_NewMixture(n, dim));
        std::vector<bool> seen(n, false);
        for (int c = 0; c < n; c++) {
            int k = 1;
            float w = 1.0f;
            if (lex.peek() == "<MIXTURE>") {
                lex.next();
                k = integer("<MIXTURE>");
                w = real("<MIXTURE>");
                if (k < 1 || k > n) fail("mixture component " + std::to_string(k) + " of " + std::to_string(n));
                if (seen[k - 1]) fail("mixture component " + std::to_string(k) + " given twice");
                if (!(w >= 0)) fail("negative mixture weight");
            } else if (n != 1) {
                fail("expected <MIXTURE>, got \"" + lex.peek() + "\"");
            }
            seen[k - 1] = true;
            m->logWeights[k - 1] = w > 0 ? std::log(w) : kNegInf;
            expect("<MEAN>");
            vector("<MEAN>", m->means[k - 1], dim);
            expect("<VARIANCE>");
            vector("<VARIANCE>", m->invVars[k - 1], dim);
            for (int d = 0; d < dim; d++) {
                float v = m->invVars[k - 1][d];
                if (!(v > 0)) fail("variance not above 0 in state \"" + name + "\"");
                m->invVars[k - 1][d] = 1.0f / v;
            }
            // The stored constant is recomputed from the variances.
            if (lex.peek() == "<GCONST>") {
                lex.next();
                real("<GCONST>");
            }
        }
        // Components a file leaves out get no weight.
        for (int c = 0; c < n; c++)
            if (!seen[c]) m->logWeights[c] = kNegInf;
        Hmm_Fix(m.get());
        m->name = name;
        for (int c = 0; c < n; c++) {
            int before = 0;
            for (HmmMixture *o : pool->mixtureData) before += o->numComponents;
            m->meanIndex[c] = before + c;
        }
        pool->mixtureData.push_back(m.release());
        return static_cast<int>(pool->mixtureData.size()) - 1;
    }

    int transp(const std::string &name) {
        expect("<TRANSP>");
        int n = integer("<TRANSP>");
        if (n < 2 || n > 65535) fail("bad transition matrix size " + std::to_string(n));
        std::unique_ptr<HmmTrans> t(new HmmTrans());
        t->n = n;
        t->name = name;
        t->logA.resize((size_t)n * n);
        t->counts.assign((size_t)n * n, 0.0);
        for (auto &a : t->logA) {
            float p = real("<TRANSP>");
            if (!(p >= 0)) fail("negative transition probability");
            a = p > 0 ? std::log(p) : kNegInf;
        }
        pool->transData.push_back(t.release());
        return static_cast<int>(pool->transData.size()) - 1;
    }

    int macroRef(std::map<std::string, int> &table, const char *kind) {
        std::string n = lex.next();
        auto it = table.find(n);
        if (it == table.end()) fail(std::string("undefined ") + kind + " macro \"" + n + "\"");
        return it->second;
    }

    void model(const std::string &name) {
        if (models.count(name)) fail("model \"" + name + "\" defined twice");
        expect("<BEGINHMM>");
        globalOptions();
        expect("<NUMSTATES>");
        int n = integer("<NUMSTATES>");
        if (n < 3 || n > 65535) fail("model \"" + name + "\" has " + std::to_string(n) + " states");
        HmmModel *m = Hmm_NewModel(name, n);
        order.push_back(m);
        models[name] = m;
        while (lex.peek() == "<STATE>") {
            lex.next();
            int i = integer("<STATE>");
            if (i < 2 || i > n - 1) fail("state " + std::to_string(i) + " out of range in model \"" + name + "\"");
            if (m->stateIndex[i - 1] >= 0) fail("state " + std::to_string(i) + " given twice in \"" + name + "\"");
            int idx;
            if (lex.peek() == "~s") {
                lex.next();
                idx = macroRef(stateMacros, "state");
            } else {
                idx = mixture("");
            }
            m->stateIndex[i - 1] = idx;
        }
        for (int i = 1; i < n - 1; i++)
            if (m->stateIndex[i] < 0) fail("state " + std::to_string(i + 1) + " missing in model \"" + name + "\"");
        if (lex.peek() == "~t") {
            lex.next();
            m->transIndex = macroRef(transMacros, "transition");
        } else {
            m->transIndex = transp("");
        }
        if (pool->transData[m->transIndex]->n != n)
            fail("transition matrix size differs from the states of \"" + name + "\"");
        expect("<ENDHMM>");
    }

    void file() {
        for (;;) {
            std::string t = lex.next();
            if (t.empty()) return;
            if (t == "~o") {
                globalOptions();
            } else if (t == "~s") {
                std::string n = lex.next();
                if (stateMacros.count(n)) fail("state macro \"" + n + "\" defined twice");
                stateMacros[n] = mixture(n);
            } else if (t == "~t") {
                std::string n = lex.next();
                if (transMacros.count(n)) fail("transition macro \"" + n + "\" defined twice");
                transMacros[n] = transp(n);
            } else if (t == "~h") {
                model(lex.next());
            } else if (t[0] == '~') {
                fail("unsupported macro " + t);
            } else if (t[0] == '<') {
                fail("unsupported keyword " + t);
            } else {
                fail("unexpected \"" + t + "\"");
            }
        }
    }
};

void finishPool(HmmPool *p) {
    p->numMixtures = static_cast<int32_t>(p->mixtureData.size());
    p->numTrans = static_cast<int32_t>(p->transData.size());
    p->mixtures = p->mixtureData.data();
    p->trans = p->transData.data();
}

std::string num(float v) {
    char b[32];
    snprintf(b, sizeof b, " %.8e", v);
    return b;
}

}  // namespace

int Hmm_Parse(GS_Result *r, const std::string &text, const std::vector<std::string> &names, HmmPool **poolOut,
              HmmList **listOut) {
    HmmPool *pool = Hmm_NewPool();
    try {
        Parser p(text, pool);
        p.file();
        std::vector<std::pair<std::string, std::string>> wanted;  // logical, physical
        if (names.empty()) {
            for (HmmModel *m : p.order) wanted.emplace_back(m->nameData, m->nameData);
        } else {
            for (const std::string &line : names) {
                std::istringstream ls(line);
                std::string a, b;
                ls >> a >> b;
                if (a.empty()) continue;
                wanted.emplace_back(a, b.empty() ? a : b);
            }
        }
        HmmList *list = Hmm_NewList(static_cast<int>(wanted.size()));
        bool logical = false;
        std::set<HmmModel *> placed;
        for (size_t i = 0; i < wanted.size(); i++) {
            auto it = p.models.find(wanted[i].second);
            if (it == p.models.end()) {
                list->numModels = static_cast<int32_t>(i);
                list->modelData.resize(i);
                Hmm_NukeList(list);
                fail("the list names model \"" + wanted[i].second + "\", which the model file lacks");
            }
            HmmModel *m = it->second;
            // A physical model named by several lines is one model; it
            // keeps the first line's index.
            if (!placed.count(m)) m->category = static_cast<int32_t>(i);
            placed.insert(m);
            logical = logical || wanted[i].first != wanted[i].second;
            m->refs++;
            list->models[i] = m;
        }
        if (logical) {
            list->logical = static_cast<char **>(DB_MALLOC(sizeof(char *) * (wanted.size() + 1)));
            for (size_t i = 0; i < wanted.size(); i++) {
                list->logical[i] = static_cast<char *>(DB_MALLOC(wanted[i].first.size() + 1));
                memcpy(list->logical[i], wanted[i].first.c_str(), wanted[i].first.size() + 1);
            }
        }
        for (HmmModel *m : p.order) {
            m->pool = pool;
            pool->refs++;
            m->trans = pool->transData[m->transIndex];
            for (int s = 1; s < m->numStates - 1; s++) m->states[s] = pool->mixtureData[m->stateIndex[s]];
        }
        finishPool(pool);
        *poolOut = pool;
        *listOut = list;
        return 0;
    } catch (const ParseError &e) {
        GS_AppendResult(r, e.what.c_str(), (char *)nullptr);
        Hmm_NukePool(pool);
        return 1;
    }
}

int Hmm_Load(GS_Result *r, const char *modelFile, const char *listFile, HmmPool **pool, HmmList **list) {
    std::string text, names;
    if (Hmm_ReadFile(r, modelFile, &text) || Hmm_ReadFile(r, listFile, &names)) return 1;
    std::vector<std::string> lines;
    std::istringstream ls(names);
    for (std::string line; std::getline(ls, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.find_first_not_of(" \t") != std::string::npos) lines.push_back(line);
    }
    if (lines.empty()) {
        GS_AppendResult(r, "model list \"", listFile, "\" names no model", (char *)nullptr);
        return 1;
    }
    int rc = Hmm_Parse(r, text, lines, pool, list);
    if (rc) {
        std::string why = r->text ? r->text : "";
        GS_ResetResult(r);
        GS_AppendResult(r, modelFile, ": ", why.c_str(), (char *)nullptr);
    }
    return rc;
}

std::string Hmm_Format(const HmmPool *pool, const HmmList *list) {
    std::string o = "~o\n<STREAMINFO> 1 " + std::to_string(pool->vecSize) + "\n<VECSIZE> " +
                    std::to_string(pool->vecSize) + "<NULLD><" + (pool->parmKind.empty() ? "USER" : pool->parmKind) +
                    "><DIAGC>\n";
    // Every mixture and matrix becomes a macro, in pool order, so that a
    // loaded copy numbers them alike.
    auto mixName = [&](int i) {
        const HmmMixture *m = pool->mixtures[i];
        return m->name.empty() ? "state" + std::to_string(i) : m->name;
    };
    auto transName = [&](int i) {
        const HmmTrans *t = pool->trans[i];
        return t->name.empty() ? "trans" + std::to_string(i) : t->name;
    };
    for (int i = 0; i < pool->numMixtures; i++) {
        const HmmMixture *m = pool->mixtures[i];
        o += "~s \"" + mixName(i) + "\"\n<NUMMIXES> " + std::to_string(m->numComponents) + "\n";
        for (int k = 0; k < m->numComponents; k++) {
            o += "<MIXTURE> " + std::to_string(k + 1) + num(std::exp(m->logWeights[k])) + "\n<MEAN> " +
                 std::to_string(m->dim) + "\n";
            for (int d = 0; d < m->dim; d++) o += num(m->means[k][d]);
            o += "\n<VARIANCE> " + std::to_string(m->dim) + "\n";
            for (int d = 0; d < m->dim; d++) o += num(1.0f / m->invVars[k][d]);
            o += "\n<GCONST>" + num(m->gconst[k]) + "\n";
        }
    }
    for (int i = 0; i < pool->numTrans; i++) {
        const HmmTrans *t = pool->trans[i];
        o += "~t \"" + transName(i) + "\"\n<TRANSP> " + std::to_string(t->n) + "\n";
        for (int a = 0; a < t->n; a++) {
            for (int b = 0; b < t->n; b++) {
                float v = t->at(a, b);
                o += v == kNegInf ? " 0.0" : num(std::exp(v));
            }
            o += "\n";
        }
    }
    std::vector<const HmmModel *> done;
    for (int i = 0; i < list->numModels; i++) {
        const HmmModel *m = list->models[i];
        bool seen = false;
        for (const HmmModel *d : done) seen = seen || d == m;
        if (seen) continue;
        done.push_back(m);
        o += "~h \"" + m->nameData + "\"\n<BEGINHMM>\n<NUMSTATES> " + std::to_string(m->numStates) + "\n";
        for (int s = 1; s < m->numStates - 1; s++)
            o += "<STATE> " + std::to_string(s + 1) + "\n~s \"" + mixName(m->stateIndex[s]) + "\"\n";
        o += "~t \"" + transName(m->transIndex) + "\"\n<ENDHMM>\n";
    }
    return o;
}

int Hmm_ReadFile(GS_Result *r, const char *path, std::string *out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        GS_AppendResult(r, "could not open \"", path, "\"", (char *)nullptr);
        return 1;
    }
    std::ostringstream ss;
    ss << in.rdbuf();
    *out = ss.str();
    return 0;
}

std::string Hmm_ListText(const HmmList *list) {
    std::string names;
    for (int i = 0; i < list->numModels; i++) {
        std::string phys = list->models[i]->nameData;
        std::string logical = list->logical && list->logical[i] ? list->logical[i] : phys;
        names += logical == phys ? phys + "\n" : logical + " " + phys + "\n";
    }
    return names;
}

int Hmm_Save(GS_Result *r, const char *modelFile, const char *listFile, const HmmPool *pool,
             const HmmList *list) {
    std::string names = Hmm_ListText(list);
    std::string text = Hmm_Format(pool, list);
    for (auto &f : {std::make_pair(modelFile, &text), std::make_pair(listFile, &names)}) {
        std::ofstream out(f.first, std::ios::binary | std::ios::trunc);
        if (!out) {
            GS_AppendResult(r, "could not open \"", f.first, "\" for writing", (char *)nullptr);
            return 1;
        }
        out << *f.second;
        out.flush();
        if (!out) {
            GS_AppendResult(r, "could not write \"", f.first, "\"", (char *)nullptr);
            return 1;
        }
    }
    return 0;
}
