// Helpers shared by the face tests: where the generated characters are and
// what their manifest says each target moves.
#pragma once

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

inline std::string CharDir(const std::string &name) {
    const char *d = getenv("FACE_CHARS");
    return std::string(d ? d : "testdata/face") + "/" + name;
}

// The z displacement that the manifest gives the named target (0 when the
// target equals the base).
inline float ManifestDz(const std::string &character, const std::string &target) {
    std::ifstream in(CharDir(character) + "/manifest.txt");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("{" + target + "}", 0) != 0) continue;
        std::istringstream s(line.substr(target.size() + 2));
        float dx, dy, dz;
        s >> dx >> dy >> dz;
        return dz;
    }
    return 0;
}
