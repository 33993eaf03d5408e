// Pick blocks: label and master label files read into items, items chosen
// up to the desired counts, and blocks shuffled, split and joined.
#include "pick.h"

#include <cmath>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "yastro.h"

namespace {

char *copyText(const std::string &s) {
    char *p = static_cast<char *>(DB_MALLOC(s.size() + 1));
    memcpy(p, s.c_str(), s.size() + 1);
    return p;
}

template <class T>
T *copyArray(const std::vector<T> &v) {
    if (v.empty()) return nullptr;
    T *p = static_cast<T *>(DB_MALLOC(sizeof(T) * v.size()));
    memcpy(p, v.data(), sizeof(T) * v.size());
    return p;
}

struct Label {
    int begin, end; // frames
    std::string name;
};

// One pick before it goes into a block.
struct Item {
    int file, category, frame, start, end, entry;
};

bool readLines(GS_Result *r, const std::string &path, std::vector<std::string> &out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        GS_AppendResult(r, "could not open label file \"", path.c_str(), "\"", (char *)nullptr);
        return false;
    }
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        out.push_back(line);
    }
    return true;
}

int toFrame(double hundredNs, float framesize) { return (int)std::floor(hundredNs / (framesize * 10000.0) + 0.5); }

// HTK label lines "start end label [score]" into segments of frames.
bool htkLabels(GS_Result *r, const std::vector<std::string> &lines, size_t from, size_t to, float framesize,
               const std::string &where, std::vector<Label> &out) {
    for (size_t i = from; i < to; i++) {
        std::istringstream ls(lines[i]);
        double a, b;
        std::string name;
        if (lines[i].find_first_not_of(" \t") == std::string::npos) continue;
        if (!(ls >> a >> b >> name)) {
            GS_AppendResult(r, where.c_str(), ": line ", std::to_string(i + 1).c_str(), " is not \"start end label\"",
                            (char *)nullptr);
            return false;
        }
        out.push_back({toFrame(a, framesize), toFrame(b, framesize), name});
    }
    return true;
}

bool labelFile(GS_Result *r, const std::string &path, float framesize, std::vector<Label> &out) {
    std::vector<std::string> lines;
    if (!readLines(r, path, lines)) return false;
    for (const std::string &l : lines)
        if (l.find("END OF HEADER") != std::string::npos) {
            HalbrinList *h = readHalbrin(r, path.c_str());
            if (!h) return false;
            for (int i = 0; i < h->count; i++) {
                const Segment &s = h->segments[i];
                double scale = h->msPerFrame / framesize;
                out.push_back({(int)std::floor(s.begin * scale + 0.5), (int)std::floor(s.end * scale + 0.5),
                               s.label ? s.label : ""});
            }
            nukeHalbrin(h);
            return true;
        }
    return htkLabels(r, lines, 0, lines.size(), framesize, path, out);
}

// Items of one file's labels: frames split over the states, or segments.
bool itemsOf(GS_Result *r, const HmmDescription *d, const HmmList *list, int file, const std::vector<Label> &labels,
             bool frames, std::vector<Item> &out) {
    for (const Label &l : labels) {
        int e = Hmm_FindEntry(d, l.name.c_str());
        if (e < 0) {
            GS_AppendResult(r, "label ", l.name.c_str(), " not defined in recognizer description", (char *)nullptr);
            return false;
        }
        int m = d->entries[e].hmmIndex;
        if (m < 0 || m >= list->numModels) {
            GS_AppendResult(r, "label ", l.name.c_str(), " has no model in the list", (char *)nullptr);
            return false;
        }
        if (l.end <= l.begin) continue;
        if (!frames) {
            out.push_back({file, m, 0, l.begin, l.end, e});
            continue;
        }
        const HmmModel *md = list->models[m];
        int E = md->numStates - 2, n = l.end - l.begin;
        for (int f = l.begin; f < l.end; f++) {
            int j = 1 + (int)((long)(f - l.begin) * E / n);
            out.push_back({file, md->stateIndex[j], f, 0, 0, e});
        }
    }
    return true;
}

// Chooses up to desired[entry] items per entry, spread over them in order.
std::vector<bool> choose(const std::vector<Item> &items, const int32_t *desired, int numEntries) {
    std::vector<int> have(numEntries, 0), seen(numEntries, 0), taken(numEntries, 0);
    for (const Item &it : items) have[it.entry]++;
    std::vector<bool> keep(items.size());
    for (size_t i = 0; i < items.size(); i++) {
        int e = items[i].entry, want = desired ? desired[e] : 0;
        if (want <= 0 || want >= have[e]) {
            keep[i] = true;
        } else {
            // The k-th kept item is the one at floor(k * have / want).
            long next = (long)taken[e] * have[e] / want;
            keep[i] = seen[e] == next && taken[e] < want;
            if (keep[i]) taken[e]++;
        }
        seen[e]++;
    }
    return keep;
}

// Fills a block's picks and statistics from the items of its files.
void fill(PickBlock *b, const std::vector<Item> &items, const std::vector<bool> &keep, bool frames) {
    std::vector<int32_t> fr, st, en, cat;
    std::vector<int> prior(b->catCount, 0), picked(b->catCount, 0);
    for (int f = 0; f < b->fileCount; f++) {
        PickFile &pf = b->files[f];
        pf.firstFrame = (int32_t)fr.size();
        pf.firstStart = (int32_t)st.size();
        pf.firstEnd = (int32_t)en.size();
        pf.firstCategory = (int32_t)cat.size();
        pf.numFilePicks = 0;
        for (size_t i = 0; i < items.size(); i++) {
            const Item &it = items[i];
            if (it.file != f) continue;
            if (it.category >= 0 && it.category < b->catCount) prior[it.category]++;
            if (!keep[i]) continue;
            if (frames) {
                fr.push_back(it.frame);
            } else {
                st.push_back(it.start);
                en.push_back(it.end);
            }
            cat.push_back(it.category);
            if (it.category >= 0 && it.category < b->catCount) picked[it.category]++;
            pf.numFilePicks++;
        }
    }
    DB_FREE(b->frames);
    DB_FREE(b->starts);
    DB_FREE(b->ends);
    DB_FREE(b->categories);
    b->frames = copyArray(fr);
    b->starts = copyArray(st);
    b->ends = copyArray(en);
    b->categories = copyArray(cat);
    b->numFrames = b->capFrames = (int32_t)fr.size();
    b->numStarts = b->capStarts = (int32_t)st.size();
    b->numEnds = b->capEnds = (int32_t)en.size();
    b->numPicks = b->capPicks = (int32_t)cat.size();
    for (int c = 0; c < b->catCount; c++) {
        b->catStats[c].id = c;
        b->catStats[c].priorCount = prior[c];
        b->catStats[c].pickCount = picked[c];
    }
    b->tally1 = (int32_t)items.size();
    b->tally2 = b->numPicks;
}

int categoriesOf(const HmmList *list, bool frames) {
    if (!frames) return list->numModels;
    int top = -1;
    for (int i = 0; i < list->numModels; i++)
        for (int s = 1; s < list->models[i]->numStates - 1; s++) top = std::max(top, list->models[i]->stateIndex[s]);
    return top + 1;
}

int pickInto(GS_Result *r, const HmmDescription *d, const HmmList *list, PickBlock *b, const int32_t *desired,
             bool frames) {
    std::vector<Item> items;
    for (int f = 0; f < b->fileCount; f++) {
        std::vector<Label> labels;
        if (!labelFile(r, b->files[f].labelName ? b->files[f].labelName : "", b->framesize, labels) ||
            !itemsOf(r, d, list, f, labels, frames, items))
            return 1;
    }
    fill(b, items, choose(items, desired, d->numEntries), frames);
    return 0;
}

PickBlock *fromMLF(GS_Result *r, const char *mlf, const HmmDescription *d, const HmmList *list,
                   const int32_t *desired, float framesize, bool frames) {
    std::vector<std::string> lines;
    if (!readLines(r, mlf, lines)) return nullptr;
    size_t i = 0;
    while (i < lines.size() && lines[i].find_first_not_of(" \t") == std::string::npos) i++;
    if (i >= lines.size() || lines[i].compare(0, 7, "#!MLF!#") != 0) {
        GS_AppendResult(r, mlf, ": not a master label file (no #!MLF!# line)", (char *)nullptr);
        return nullptr;
    }
    struct Entry {
        std::string pattern;
        std::vector<Label> labels;
    };
    std::vector<Entry> files;
    for (i++; i < lines.size(); i++) {
        std::string p = lines[i];
        if (p.find_first_not_of(" \t") == std::string::npos) continue;
        size_t a = p.find('"'), b = p.rfind('"');
        if (a == std::string::npos || b == a) {
            GS_AppendResult(r, mlf, ": line ", std::to_string(i + 1).c_str(), " is no quoted file pattern",
                            (char *)nullptr);
            return nullptr;
        }
        Entry e{p.substr(a + 1, b - a - 1), {}};
        size_t end = i + 1;
        while (end < lines.size() && lines[end] != ".") end++;
        if (end >= lines.size()) {
            GS_AppendResult(r, mlf, ": labels of \"", e.pattern.c_str(), "\" have no closing \".\"", (char *)nullptr);
            return nullptr;
        }
        if (!htkLabels(r, lines, i + 1, end, framesize, mlf, e.labels)) return nullptr;
        files.push_back(e);
        i = end;
    }
    PickBlock *b = Pick_newBlock((int)files.size(), categoriesOf(list, frames), framesize);
    std::vector<Item> items;
    for (size_t f = 0; f < files.size(); f++) {
        std::string wave = files[f].pattern;
        size_t slash = wave.find_last_of('/');
        if (slash != std::string::npos) wave = wave.substr(slash + 1);
        size_t dot = wave.rfind('.');
        if (dot != std::string::npos) wave = wave.substr(0, dot);
        Pick_setFile(b, (int)f, wave.c_str(), files[f].pattern.c_str());
        if (!itemsOf(r, d, list, (int)f, files[f].labels, frames, items)) {
            Pick_nukePickblock(b);
            return nullptr;
        }
    }
    fill(b, items, choose(items, desired, d->numEntries), frames);
    return b;
}

// A block of the given files of b, with the picks chosen by keep (indexed
// by pick), in the files' new order.
PickBlock *subBlock(const PickBlock *b, const std::vector<int> &order, const std::vector<bool> &keep) {
    PickBlock *o = Pick_newBlock((int)order.size(), b->catCount, b->framesize);
    std::vector<int32_t> fr, st, en, cat;
    for (size_t k = 0; k < order.size(); k++) {
        const PickFile &src = b->files[order[k]];
        Pick_setFile(o, (int)k, src.waveName, src.labelName);
        PickFile &pf = o->files[k];
        pf.firstFrame = (int32_t)fr.size();
        pf.firstStart = (int32_t)st.size();
        pf.firstEnd = (int32_t)en.size();
        pf.firstCategory = (int32_t)cat.size();
        for (int j = 0; j < src.numFilePicks; j++) {
            if (!keep[src.firstCategory + j]) continue;
            if (b->numFrames) fr.push_back(b->frames[src.firstFrame + j]);
            if (b->numStarts) st.push_back(b->starts[src.firstStart + j]);
            if (b->numEnds) en.push_back(b->ends[src.firstEnd + j]);
            int c = b->categories[src.firstCategory + j];
            cat.push_back(c);
            if (c >= 0 && c < o->catCount) o->catStats[c].pickCount++;
            pf.numFilePicks++;
        }
    }
    for (int c = 0; c < o->catCount; c++) {
        o->catStats[c].id = b->catStats[c].id;
        o->catStats[c].priorCount = b->catStats[c].priorCount;
    }
    o->frames = copyArray(fr);
    o->starts = copyArray(st);
    o->ends = copyArray(en);
    o->categories = copyArray(cat);
    o->numFrames = o->capFrames = (int32_t)fr.size();
    o->numStarts = o->capStarts = (int32_t)st.size();
    o->numEnds = o->capEnds = (int32_t)en.size();
    o->numPicks = o->capPicks = (int32_t)cat.size();
    o->tally1 = b->tally1;
    o->tally2 = o->numPicks;
    return o;
}

}  // namespace

PickBlock *Pick_newBlock(int fileCount, int catCount, float framesize) {
    PickBlock *b = static_cast<PickBlock *>(DB_MALLOC(sizeof(PickBlock)));
    memset(b, 0, sizeof *b);
    b->fileCount = fileCount;
    b->catCount = catCount;
    b->framesize = framesize;
    b->files = static_cast<PickFile *>(DB_MALLOC(sizeof(PickFile) * (fileCount > 0 ? fileCount : 1)));
    memset(b->files, 0, sizeof(PickFile) * (fileCount > 0 ? fileCount : 1));
    b->catStats = static_cast<CategoryStats *>(DB_MALLOC(sizeof(CategoryStats) * (catCount > 0 ? catCount : 1)));
    memset(b->catStats, 0, sizeof(CategoryStats) * (catCount > 0 ? catCount : 1));
    return b;
}

void Pick_setFile(PickBlock *b, int i, const char *wave, const char *label) {
    PickFile &f = b->files[i];
    DB_FREE(f.waveName);
    DB_FREE(f.labelName);
    f.waveName = copyText(wave ? wave : "");
    f.labelName = copyText(label ? label : "");
    f.waveNameSize = (int32_t)strlen(f.waveName) + 1;
    f.labelNameSize = (int32_t)strlen(f.labelName) + 1;
}

void Pick_nukePickblock(PickBlock *b) {
    if (!b) return;
    for (int i = 0; i < b->fileCount; i++) {
        DB_FREE(b->files[i].waveName);
        DB_FREE(b->files[i].labelName);
    }
    DB_FREE(b->files);
    DB_FREE(b->catStats);
    DB_FREE(b->frames);
    DB_FREE(b->starts);
    DB_FREE(b->ends);
    DB_FREE(b->categories);
    DB_FREE(b);
}

PickBlock *Pick_MLFFrame(GS_Result *r, const char *mlf, const HmmDescription *d, const HmmList *list,
                         const int32_t *desired, float framesize) {
    return fromMLF(r, mlf, d, list, desired, framesize, true);
}

PickBlock *Pick_MLFSegment(GS_Result *r, const char *mlf, const HmmDescription *d, const HmmList *list,
                           const int32_t *desired, float framesize) {
    return fromMLF(r, mlf, d, list, desired, framesize, false);
}

int Pick_pickFrame(GS_Result *r, const HmmDescription *d, const HmmList *list, PickBlock *b, const int32_t *desired) {
    return pickInto(r, d, list, b, desired, true);
}

int Pick_pickSegment(GS_Result *r, const HmmDescription *d, const HmmList *list, PickBlock *b,
                     const int32_t *desired) {
    return pickInto(r, d, list, b, desired, false);
}

PickBlock *Pick_shuffle(GS_Result *, const PickBlock *b) {
    std::vector<int> order(b->fileCount);
    for (int i = 0; i < b->fileCount; i++) order[i] = i;
    // A 15-bit linear congruential generator of our own, seeded alike each
    // time, so that a script's runs repeat.
    unsigned long seed = 12345;
    for (int i = b->fileCount - 1; i > 0; i--) {
        seed = seed * 1103515245 + 12345;
        int j = (int)((seed / 65536) % 32768) % (i + 1);
        std::swap(order[i], order[j]);
    }
    return subBlock(b, order, std::vector<bool>(b->numPicks, true));
}

PickBlock *Pick_split(GS_Result *r, const PickBlock *b, int blocksize, int index) {
    if (blocksize <= 0 || index < 0) {
        GS_AppendResult(r, "block size ", std::to_string(blocksize).c_str(), " leaves no picks to split",
                        (char *)nullptr);
        return nullptr;
    }
    std::vector<bool> keep(b->numPicks, false);
    for (long p = (long)index * blocksize; p < std::min<long>((long)(index + 1) * blocksize, b->numPicks); p++)
        keep[p] = true;
    std::vector<int> order(b->fileCount);
    for (int i = 0; i < b->fileCount; i++) order[i] = i;
    return subBlock(b, order, keep);
}

PickBlock *Pick_concat(const PickBlock *a, const PickBlock *b) {
    PickBlock *o = Pick_newBlock(a->fileCount + b->fileCount, a->catCount, a->framesize);
    for (int i = 0; i < a->fileCount; i++) {
        Pick_setFile(o, i, a->files[i].waveName, a->files[i].labelName);
        PickFile &f = o->files[i];
        const PickFile &s = a->files[i];
        f.firstFrame = s.firstFrame, f.firstStart = s.firstStart, f.firstEnd = s.firstEnd;
        f.firstCategory = s.firstCategory, f.numFilePicks = s.numFilePicks;
    }
    for (int i = 0; i < b->fileCount; i++) {
        Pick_setFile(o, a->fileCount + i, b->files[i].waveName, b->files[i].labelName);
        PickFile &f = o->files[a->fileCount + i];
        const PickFile &s = b->files[i];
        f.firstFrame = s.firstFrame + a->numFrames, f.firstStart = s.firstStart + a->numStarts;
        f.firstEnd = s.firstEnd + a->numEnds, f.firstCategory = s.firstCategory + a->numPicks;
        f.numFilePicks = s.numFilePicks;
    }
    for (int c = 0; c < o->catCount; c++) {
        const CategoryStats &x = a->catStats[c], &y = b->catStats[c];
        CategoryStats &z = o->catStats[c];
        z.id = std::max(x.id, y.id);
        z.stat1 = x.stat1 + y.stat1, z.stat2 = x.stat2 + y.stat2, z.priorCount = x.priorCount + y.priorCount;
        z.stat4 = x.stat4 + y.stat4, z.pickCount = x.pickCount + y.pickCount, z.amount = x.amount + y.amount;
    }
    auto join = [](const int32_t *p, int n, const int32_t *q, int m) {
        std::vector<int32_t> v(p ? p : nullptr, p ? p + n : nullptr);
        if (q) v.insert(v.end(), q, q + m);
        return v;
    };
    o->frames = copyArray(join(a->frames, a->numFrames, b->frames, b->numFrames));
    o->starts = copyArray(join(a->starts, a->numStarts, b->starts, b->numStarts));
    o->ends = copyArray(join(a->ends, a->numEnds, b->ends, b->numEnds));
    o->categories = copyArray(join(a->categories, a->numPicks, b->categories, b->numPicks));
    o->numFrames = o->capFrames = a->numFrames + b->numFrames;
    o->numStarts = o->capStarts = a->numStarts + b->numStarts;
    o->numEnds = o->capEnds = a->numEnds + b->numEnds;
    o->numPicks = o->capPicks = a->numPicks + b->numPicks;
    o->tally1 = a->tally1 + b->tally1;
    o->tally2 = a->tally2 + b->tally2;
    return o;
}
