// brenlow ref_sent hyp_sent
//
// Prints "{reference-line} {hypothesis-line}": the hypothesis aligned with
// the reference, errors in upper case. Each sentence ends at its first
// newline or at a token beginning with "(" (an utterance label).
#include <cstdio>
#include <string>
#include <vector>

#include "brenlow.h"

namespace {

std::vector<std::string> words(const char *text) {
    std::string line = text;
    line = line.substr(0, line.find('\n'));
    std::vector<std::string> out;
    for (const std::string &w : Brenlow_Split(line, " \t")) {
        if (w[0] == '(') break;
        out.push_back(w);
    }
    return out;
}

} // namespace

int main(int argc, char **argv) {
    if (argc != 3) {
        fputs("Usage: Pelsor ref_sent hyp_sent\n", stderr);
        return 1;
    }
    BrenlowCounts counts;
    std::string refLine, hypLine;
    GS_Result *r = GS_CreateResult();
    if (Brenlow_Align(r, words(argv[1]), words(argv[2]), counts, refLine, hypLine)) {
        fprintf(stderr, "%s\n", r->text);
        GS_DeleteResult(r);
        return 1;
    }
    GS_DeleteResult(r);
    printf("{%s} {%s}\n", refLine.c_str(), hypLine.c_str());
    return 0;
}
