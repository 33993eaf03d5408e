// The word-loop decoder: its grammar over the search, word scores and the
// piping of probability frames.
#include "decoder.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <map>
#include <queue>
#include <set>
#include <sstream>

namespace {

// The search keeps the decoder's settings and word scores, which a saved
// decoder carries in it.
void settle(DecoderTree *d) {
    SevrinSearch *s = d->search.get();
    s->beam = d->stateBeam;
    s->wordEndBeam = d->wordEndBeam;
    s->active = d->active;
    s->shortPen = d->shortPen;
    s->longPen = d->longPen;
    // Word scores already hold the grammar scale and cross-word penalty.
    s->grammarScale = 1.0f;
    s->crossModel = 0.0f;
    auto &g = s->grammars[0];
    for (size_t p = 0; p < g.size(); p++) {
        g[p].entryScore = d->words[p].wordScore;
        for (size_t k = 0; k < g[p].next.size(); k++) g[p].nextScore[k] = d->words[g[p].next[k]].wordScore;
    }
}

// Tree search settings from the decoder's; word scores already hold the
// grammar scale and cross-word penalty.
LexTreeSettings settings(const DecoderTree *d) {
    const float *pri = d->priors.empty() ? nullptr : d->priors.data();
    std::vector<float> scores(d->numWords);
    for (int i = 0; i < d->numWords; i++) scores[i] = d->words[i].wordScore;
    return {d->stateBeam, d->wordEndBeam, d->active, d->shortPen, scores, d->likelihoodScale, pri};
}

// The tree over the models of a list, once the search has checked them.
bool plant(GS_Result *r, DecoderTree *d, const HmmList *list) {
    d->lex.reset(LexTree_Create(r, d->search.get(), list));
    return d->lex != nullptr;
}

}  // namespace

DecoderTree *Decoder_CreateTree(GS_Result *r, HmmList *list, WordGraph *const *words, int numWords) {
    if (numWords <= 0) {
        GS_AppendResult(r, "no words to decode", (char *)nullptr);
        return nullptr;
    }
    // One position per word, each followed by every word.
    std::vector<GrammarPosition> pos(numWords);
    std::vector<int32_t> all(numWords);
    std::vector<float> zero(numWords, 0.0f);
    for (int i = 0; i < numWords; i++) all[i] = i;
    for (int i = 0; i < numWords; i++)
        pos[i] = {words[i]->name, 1, 1, 0.0f, numWords, all.data(), zero.data()};
    WordGrammar loop{const_cast<char *>("loop"), numWords, pos.data()};
    WordGrammar *gp = &loop;
    SevrinSearch *s = Sevrin_CreateGrammar(r, &gp, 1, words, numWords);
    if (!s) return nullptr;
    std::unique_ptr<DecoderTree> d(new DecoderTree());
    d->search.reset(s);
    d->lattice.reset(Sevrin_NewLattice(1000, 1000, 100, 100));
    s->lattice = d->lattice.get();
    Sevrin_Bind(s, list);
    if (Sevrin_Check(r, s) || !plant(r, d.get(), list)) return nullptr;
    d->wordData.assign(numWords, {0.0f, 0.0f});
    d->words = d->wordData.data();
    d->numWords = numWords;
    d->likelihoodFactor = static_cast<float>(0.5 * std::log(2.0) * d->likelihoodScale);
    if (list->numModels > 0 && list->models[0]->pool) {
        d->modelText = Hmm_Format(list->models[0]->pool, list);
        d->listText = Hmm_ListText(list);
    }
    return d.release();
}

int Decoder_SetPrior(GS_Result *r, DecoderTree *d, const float *priors, int count) {
    for (int i = 0; i < count; i++)
        if (!(priors[i] > 0)) {
            GS_AppendResult(r, "prior ", std::to_string(i).c_str(), " is not above 0", (char *)nullptr);
            return 1;
        }
    d->priors.assign(priors, priors + count);
    return 0;
}

int Decoder_SetUnigram(GS_Result *r, DecoderTree *d, const std::vector<float> &scores) {
    if ((int)scores.size() != d->numWords) {
        GS_AppendResult(r, "a score for each of the ", std::to_string(d->numWords).c_str(), " words is needed",
                        (char *)nullptr);
        return 1;
    }
    for (int i = 0; i < d->numWords; i++) d->words[i].baseScore = scores[i];
    Decoder_Rescale(d);
    return 0;
}

void Decoder_Rescale(DecoderTree *d) {
    for (int i = 0; i < d->numWords; i++) d->words[i].wordScore = d->words[i].baseScore * d->grammarScale + d->crossWord;
}

void Decoder_Reset(DecoderTree *d) {
    LexTree_Reset(d->lex.get());
    Sevrin_ResetLattice(d->lattice.get());
}

int Decoder_Pipe(GS_Result *r, DecoderTree *d, float *const *rows, int numRows, int cols, const float *peaks) {
    settle(d);
    LexTreeSettings set = settings(d);
    if (set.priors && (int)d->priors.size() < cols) set.priors = nullptr;
    if (!peaks) return LexTree_Forward(r, d->lex.get(), set, rows, numRows, cols, d->lattice.get());
    std::vector<float *> kept;
    for (int i = 0; i < numRows; i++)
        if (peaks[i] != 0) kept.push_back(rows[i]);
    if (kept.empty()) return 0;
    return LexTree_Forward(r, d->lex.get(), set, kept.data(), (int)kept.size(), cols, d->lattice.get());
}

HalbrinList *Decoder_GetBest(GS_Result *r, DecoderTree *d) {
    return LexTree_Best(r, d->lex.get(), settings(d), d->search->framesize);
}

SevrinLattice *Decoder_Lattice(const DecoderTree *d) { return new SevrinLattice(*d->lattice); }

std::string Decoder_Info(const DecoderTree *d) {
    return "words " + std::to_string(d->numWords) + " frames " + std::to_string(LexTree_Frames(d->lex.get())) + " wordends " +
           std::to_string(d->lattice->numCells);
}

namespace {

// Best-first enumeration of word strings backwards from the cells that
// end at the last frame; the bound of a partial string is exact, the best
// score of a word ending where its first word begins.
void generate(SevrinLattice *l) {
    l->generated = true;
    const auto &cells = l->cells;
    if (cells.empty()) return;
    int last = 0;
    std::map<int, std::vector<int>> endingAt;
    std::map<int, double> bestAt;
    for (size_t i = 0; i < cells.size(); i++) {
        last = std::max(last, cells[i].end);
        endingAt[cells[i].end].push_back((int)i);
        auto it = bestAt.find(cells[i].end);
        if (it == bestAt.end() || cells[i].score > it->second) bestAt[cells[i].end] = cells[i].score;
    }
    auto prefix = [&](int frame) { return frame == 0 ? 0.0 : (bestAt.count(frame) ? bestAt[frame] : -1e300); };
    auto segment = [&](int c) { return cells[c].score - prefix(cells[c].begin); };
    struct Partial {
        double bound, sum;
        std::vector<int> path; // last word first
        bool operator<(const Partial &o) const { return bound < o.bound; }
    };
    std::priority_queue<Partial> queue;
    for (int c : endingAt[last]) queue.push({prefix(cells[c].begin) + segment(c), segment(c), {c}});
    std::set<std::vector<int>> seen;
    for (int pops = 0; !queue.empty() && l->paths.size() < 100 && pops < 100000; pops++) {
        Partial p = queue.top();
        queue.pop();
        int first = p.path.back();
        if (cells[first].begin == 0) {
            std::vector<int> words;
            for (auto it = p.path.rbegin(); it != p.path.rend(); ++it) words.push_back(cells[*it].word);
            if (!seen.insert(words).second) continue;
            l->paths.emplace_back(p.path.rbegin(), p.path.rend());
            l->pathScores.push_back(p.sum);
            continue;
        }
        auto it = endingAt.find(cells[first].begin);
        if (it == endingAt.end()) continue;
        for (int c : it->second) {
            Partial q{0, p.sum + segment(c), p.path};
            q.path.push_back(c);
            q.bound = q.sum + prefix(cells[c].begin);
            queue.push(q);
        }
    }
}

}  // namespace

HalbrinList *Decoder_LatticeNext(const DecoderTree *d, SevrinLattice *l) {
    if (!l->generated) generate(l);
    if (l->nextPath >= l->paths.size()) return nullptr;
    const std::vector<int> &path = l->paths[l->nextPath];
    HalbrinList *out = newHalbrin(d->search->framesize);
    GS_Result *r = GS_CreateResult();
    double before = 0;
    for (int c : path) {
        const SevrinLattice::Cell &cell = l->cells[c];
        std::string name = cell.word >= 0 && cell.word < (int)d->search->words.size() ? d->search->words[cell.word].name : "?";
        Segment seg;
        seg.label = &name[0];
        seg.labelSize = (int32_t)name.size() + 1;
        seg.begin = cell.begin;
        seg.end = cell.end;
        seg.score = (float)(cell.score - before);
        before = cell.score;
        appendSegment(r, seg, out, 0);
    }
    GS_DeleteResult(r);
    out->score = (float)l->pathScores[l->nextPath++];
    return out;
}

namespace {

bool writeAll(GS_Result *r, const char *path, const std::string &text) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f << text;
    f.flush();
    if (!f) {
        GS_AppendResult(r, "could not write \"", path, "\"", (char *)nullptr);
        return false;
    }
    return true;
}

// Reads a decoder file part by part: a line of words, or a block whose
// length the line before it gave, never past the end of the file.
struct PartReader {
    const std::string &text;
    size_t at = 0;
    bool line(std::istringstream &out) {
        size_t nl = text.find('\n', at);
        if (nl == std::string::npos) return false;
        out.clear();
        out.str(text.substr(at, nl - at));
        at = nl + 1;
        return true;
    }
    bool block(const std::string &tag, std::string &out) {
        std::istringstream ls;
        std::string t;
        size_t n = 0;
        if (!line(ls) || !(ls >> t >> n) || t != tag || n > text.size() - at) return false;
        out = text.substr(at, n);
        at += n;
        return true;
    }
};

}  // namespace

int Decoder_Save(GS_Result *r, const char *path, const DecoderTree *d) {
    if (d->modelText.empty()) {
        GS_AppendResult(r, "the decoder's models cannot be saved: its model list has no pool", (char *)nullptr);
        return 1;
    }
    std::string search;
    if (Sevrin_Format(r, d->search.get(), &search)) return 1;
    std::ostringstream o;
    o.precision(9);
    o << "decoder 1\n"
      << "settings " << d->garbage << " " << d->ngram << " " << d->nstate << " " << d->heapSize << " " << d->shortPen
      << " " << d->longPen << " " << d->active << " " << d->stateBeam << " " << d->wordEndBeam << " "
      << d->likelihoodScale << " " << d->grammarScale << " " << d->crossWord << " " << d->posterior << "\n";
    o << "words " << d->numWords << "\n";
    for (int i = 0; i < d->numWords; i++) o << d->words[i].baseScore << " " << d->words[i].wordScore << "\n";
    o << "priors " << d->priors.size();
    for (float p : d->priors) o << " " << p;
    o << "\n";
    o << "models " << d->modelText.size() << "\n" << d->modelText;
    o << "list " << d->listText.size() << "\n" << d->listText;
    o << "search " << search.size() << "\n" << search;
    return writeAll(r, path, o.str()) ? 0 : 1;
}

DecoderTree *Decoder_Load(GS_Result *r, const char *path) {
    std::string text;
    if (Hmm_ReadFile(r, path, &text)) return nullptr;
    auto bad = [&](const char *what) {
        GS_AppendResult(r, path, ": not a decoder file (", what, ")", (char *)nullptr);
        return nullptr;
    };
    PartReader in{text};
    std::istringstream ls;
    std::string tag;
    int version = 0;
    if (!in.line(ls) || !(ls >> tag >> version) || tag != "decoder" || version != 1) return bad("header");
    std::unique_ptr<DecoderTree> d(new DecoderTree());
    if (!in.line(ls) || !(ls >> tag >> d->garbage >> d->ngram >> d->nstate >> d->heapSize >> d->shortPen >>
                          d->longPen >> d->active >> d->stateBeam >> d->wordEndBeam >> d->likelihoodScale >>
                          d->grammarScale >> d->crossWord >> d->posterior) ||
        tag != "settings")
        return bad("settings");
    size_t nw = 0;
    // A word takes at least four bytes of the file: the count is checked
    // against its size before anything is made for it.
    if (!in.line(ls) || !(ls >> tag >> nw) || tag != "words" || nw == 0 || nw > text.size() / 4) return bad("words");
    d->wordData.resize(nw);
    for (size_t i = 0; i < nw; i++)
        if (!in.line(ls) || !(ls >> d->wordData[i].baseScore >> d->wordData[i].wordScore)) return bad("word scores");
    size_t np = 0;
    if (!in.line(ls) || !(ls >> tag >> np) || tag != "priors" || np > text.size() / 2) return bad("priors");
    d->priors.resize(np);
    for (size_t i = 0; i < np; i++)
        if (!(ls >> d->priors[i]) || !(d->priors[i] > 0)) return bad("priors");
    std::string models, list, searchText;
    if (!in.block("models", models)) return bad("models");
    if (!in.block("list", list)) return bad("model list");
    if (!in.block("search", searchText)) return bad("search");
    if (in.at != text.size()) return bad("data after the search");
    std::vector<std::string> names;
    std::istringstream ns(list);
    for (std::string line; std::getline(ns, line);)
        if (line.find_first_not_of(" \t") != std::string::npos) names.push_back(line);
    if (names.empty()) return bad("model list");
    HmmPool *pool = nullptr;
    HmmList *hl = nullptr;
    if (Hmm_Parse(r, models, names, &pool, &hl)) {
        std::string why = r->text ? r->text : "";
        GS_ResetResult(r);
        GS_AppendResult(r, path, ": its models: ", why.c_str(), (char *)nullptr);
        return nullptr;
    }
    SevrinSearch *s = Sevrin_Parse(r, searchText, path);
    if (s && s->words.size() != nw) {
        Sevrin_Nuke(s);
        s = nullptr;
        bad("word count");
    }
    if (s) {
        d->search.reset(s);
        d->lattice.reset(Sevrin_NewLattice(1000, 1000, 100, 100));
        s->lattice = d->lattice.get();
        Sevrin_Bind(s, hl);
        // The network and tree hold the models they take, so the list and
        // pool go.
        if (Sevrin_Check(r, s) || !plant(r, d.get(), hl)) d.reset();
        else s->hmmlist = nullptr;
    } else {
        d.reset();
    }
    Hmm_NukeList(hl);
    Hmm_NukePool(pool);
    if (!d) return nullptr;
    d->modelText = models;
    d->listText = list;
    d->words = d->wordData.data();
    d->numWords = (int32_t)nw;
    d->likelihoodFactor = static_cast<float>(0.5 * std::log(2.0) * d->likelihoodScale);
    return d.release();
}

int Decoder_LatticeSave(GS_Result *r, const char *path, const SevrinLattice *l) {
    std::ostringstream o;
    o.precision(9);
    o << "lattice 1 " << l->cells.size() << " word begin end score\n";
    for (const SevrinLattice::Cell &c : l->cells) o << c.word << " " << c.begin << " " << c.end << " " << c.score << "\n";
    return writeAll(r, path, o.str()) ? 0 : 1;
}

SevrinLattice *Decoder_LatticeLoad(GS_Result *r, const char *path, const char *field) {
    std::string text;
    if (Hmm_ReadFile(r, path, &text)) return nullptr;
    auto bad = [&](const std::string &what) {
        GS_AppendResult(r, path, ": not a lattice file (", what.c_str(), ")", (char *)nullptr);
        return nullptr;
    };
    std::istringstream in(text);
    std::string head, tag;
    int version = 0;
    size_t n = 0;
    if (!std::getline(in, head)) return bad("header");
    std::istringstream hs(head);
    if (!(hs >> tag >> version >> n) || tag != "lattice" || version != 1) return bad("header");
    // A word end takes at least eight bytes of the file.
    if (n > text.size() / 8) return bad("more word ends than the file holds");
    std::vector<std::string> columns;
    for (std::string c; hs >> c;) columns.push_back(c);
    if (columns.size() < 4 || columns[0] != "word" || columns[1] != "begin" || columns[2] != "end")
        return bad("columns");
    int pick = -1;
    for (size_t k = 3; k < columns.size(); k++)
        if (columns[k] == field) pick = (int)k;
    if (pick < 0) {
        GS_AppendResult(r, path, ": no score column \"", field, "\"", (char *)nullptr);
        return nullptr;
    }
    std::unique_ptr<SevrinLattice> l(Sevrin_NewLattice((int)n, 10000, 0, 1000));
    std::string line;
    for (size_t i = 0; i < n; i++) {
        if (!std::getline(in, line)) return bad("word end " + std::to_string(i) + " missing");
        std::istringstream ls(line);
        SevrinLattice::Cell c{};
        if (!(ls >> c.word >> c.begin >> c.end) || c.word < 0 || c.begin < 0 || c.end < c.begin)
            return bad("word end " + std::to_string(i));
        std::vector<float> v(columns.size() - 3);
        for (float &x : v)
            if (!(ls >> x)) return bad("word end " + std::to_string(i));
        c.score = v[pick - 3];
        l->cells.push_back(c);
        l->numCells++;
        if (l->nodeFrames.empty() || l->nodeFrames.back() != c.end) {
            l->nodeFrames.push_back(c.end);
            l->numNodes++;
        }
    }
    while (std::getline(in, line))
        if (line.find_first_not_of(" \t\r") != std::string::npos) return bad("data after the word ends");
    return l.release();
}
