// arpa2zandor ?-log10? model.arpa model.bin ?words.txt?
//
// Converts a back-off n-gram model in ARPA text form (orders 1 to 3) to the
// binary file of the n-gram library, and writes the word list (one word a
// line, in index order: the order of the 1-grams) that gives the file's word
// indices. Scores are natural logarithms unless -log10 keeps the ARPA base.
// Every n-gram's prefix must be in the model, as ARPA requires.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <unordered_map>
#include <vector>

namespace {

struct Entry {
    float logP = 0, backoff = 0;
};

int32_t bits(float f) {
    int32_t w;
    memcpy(&w, &f, sizeof w);
    return w;
}

[[noreturn]] void die(const std::string &why) {
    std::cerr << "arpa2zandor: " << why << "\n";
    exit(1);
}

} // namespace

int main(int argc, char **argv) {
    bool log10Kept = false;
    std::vector<std::string> args;
    for (int i = 1; i < argc; i++) {
        if (strcmp(argv[i], "-log10") == 0)
            log10Kept = true;
        else
            args.push_back(argv[i]);
    }
    if (args.size() < 2 || args.size() > 3) die("usage: arpa2zandor ?-log10? model.arpa model.bin ?words.txt?");
    std::ifstream in(args[0]);
    if (!in) die("could not open " + args[0]);
    const float scale = log10Kept ? 1.0f : (float)std::log(10.0);

    std::vector<std::string> words;
    std::unordered_map<std::string, int32_t> index;
    // Per order: n-gram (as word indices) -> scores; std::map keeps them sorted.
    std::map<std::vector<int32_t>, Entry> grams[3];
    int order = 0, maxOrder = 0, lineNo = 0;
    bool inData = false, ended = false;
    std::string line;
    while (std::getline(in, line)) {
        lineNo++;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        std::istringstream ls(line);
        std::vector<std::string> tok;
        for (std::string t; ls >> t;) tok.push_back(t);
        if (tok.empty()) continue;
        if (tok[0] == "\\data\\") {
            inData = true;
            continue;
        }
        if (tok[0] == "\\end\\") {
            ended = true;
            break;
        }
        int n = 0;
        if (sscanf(tok[0].c_str(), "\\%d-grams:", &n) == 1) {
            if (n < 1 || n > 3) die("line " + std::to_string(lineNo) + ": only orders 1 to 3 are supported");
            order = n;
            maxOrder = std::max(maxOrder, n);
            inData = false;
            continue;
        }
        if (inData || order == 0) continue; // "ngram N=count" lines and anything before the data
        if ((int)tok.size() < order + 1 || (int)tok.size() > order + 2)
            die("line " + std::to_string(lineNo) + ": expected " + std::to_string(order) + " words");
        Entry e;
        char *end;
        e.logP = strtof(tok[0].c_str(), &end);
        if (*end) die("line " + std::to_string(lineNo) + ": bad probability " + tok[0]);
        if ((int)tok.size() == order + 2) {
            e.backoff = strtof(tok[order + 1].c_str(), &end);
            if (*end) die("line " + std::to_string(lineNo) + ": bad back-off weight " + tok[order + 1]);
        }
        e.logP *= scale;
        e.backoff *= scale;
        std::vector<int32_t> key;
        for (int i = 1; i <= order; i++) {
            auto it = index.find(tok[i]);
            if (it == index.end()) {
                if (order > 1) die("line " + std::to_string(lineNo) + ": word " + tok[i] + " has no 1-gram");
                it = index.emplace(tok[i], (int32_t)words.size()).first;
                words.push_back(tok[i]);
            }
            key.push_back(it->second);
        }
        if (order > 1 && !grams[order - 2].count(std::vector<int32_t>(key.begin(), key.end() - 1)))
            die("line " + std::to_string(lineNo) + ": the prefix of this " + std::to_string(order) +
                "-gram is not in the model");
        grams[order - 1][key] = e;
    }
    if (!ended) die("no \\end\\ line: truncated model?");
    if (words.empty()) die("no 1-grams");
    const int levels = maxOrder == 3 ? 3 : 2;
    const int32_t u = (int32_t)words.size();

    // Header {K=2, -L}, U, unigram records, then one block per unigram
    // (and, with three levels, one per bigram) in key order.
    std::vector<int32_t> out = {2, -levels, u};
    out.resize(3 + 4 * (size_t)u);
    std::vector<std::vector<std::pair<int32_t, Entry>>> bigramsOf(u);
    for (auto &g : grams[1]) bigramsOf[g.first[0]].push_back({g.first[1], g.second});
    for (int32_t w = 0; w < u; w++) {
        const Entry &e = grams[0][{w}];
        int32_t *rec = &out[3 + 4 * (size_t)w];
        rec[0] = w;
        rec[1] = bits(e.logP);
        rec[3] = bits(e.backoff);
        rec[2] = (int32_t)out.size(); // rec is not used after out grows
        const auto &bis = bigramsOf[w];
        out.push_back((int32_t)bis.size() - 1);
        size_t first = out.size();
        for (const auto &b : bis) {
            out.push_back(b.first);
            out.push_back(bits(b.second.logP));
            if (levels == 3) {
                out.push_back(0);
                out.push_back(bits(b.second.backoff));
            }
        }
        if (levels == 3) {
            for (size_t i = 0; i < bis.size(); i++) {
                out[first + 4 * i + 2] = (int32_t)out.size();
                size_t countAt = out.size();
                out.push_back(-1);
                auto lo = grams[2].lower_bound({w, bis[i].first, INT32_MIN});
                for (; lo != grams[2].end() && lo->first[0] == w && lo->first[1] == bis[i].first; ++lo) {
                    out.push_back(lo->first[2]);
                    out.push_back(bits(lo->second.logP));
                    out[countAt]++;
                }
            }
        }
    }
    FILE *f = fopen(args[1].c_str(), "wb");
    if (!f) die("could not write " + args[1]);
    if (fwrite(out.data(), 4, out.size(), f) != out.size() || fclose(f) != 0) die("could not write " + args[1]);
    if (args.size() == 3) {
        std::ofstream w(args[2]);
        for (const auto &s : words) w << s << "\n";
        if (!w) die("could not write " + args[2]);
    }
    return 0;
}
