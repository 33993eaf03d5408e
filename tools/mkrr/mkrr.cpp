// mkrr ENTRIES HMMLIST OUT
//
// Writes a recognizer description as field "__rr__" of the object file OUT
// (created when missing). ENTRIES holds one "NAME MODEL" line per entry;
// NAME "l<c" marks a left-context unit, "c>r" a right-context one, "l<c>r"
// both, "<c>" or a plain name neither. The entry's model index is MODEL's
// line in HMMLIST (one model name a line, from 0).
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "container.h"
#include "container_file.h"
#include "records.h"
#include "yastro.h"

namespace {

int Fail(const std::string &why) {
    fprintf(stderr, "mkrr: %s\n", why.c_str());
    return 1;
}

bool ReadLines(const char *path, std::vector<std::string> &out) {
    std::ifstream in(path);
    if (!in) return false;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.find_first_not_of(" \t") != std::string::npos) out.push_back(line);
    }
    return true;
}

char *Copy(const std::string &s) {
    char *d = static_cast<char *>(DB_MALLOC(s.size() + 1));
    memcpy(d, s.c_str(), s.size() + 1);
    return d;
}

// The context marks of a unit name: "l<" before and ">r" after its centre.
void Contexts(const std::string &name, int *left, int *right) {
    size_t lt = name.find('<'), gt = name.rfind('>');
    bool wrapped = lt == 0 && gt == name.size() - 1;
    *left = !wrapped && lt != std::string::npos && lt > 0;
    *right = !wrapped && gt != std::string::npos && gt + 1 < name.size();
}

}  // namespace

int main(int argc, char **argv) {
    if (argc != 4) {
        fprintf(stderr, "usage: mkrr ENTRIES HMMLIST OUT\n");
        return 2;
    }
    std::vector<std::string> entries, models;
    if (!ReadLines(argv[1], entries)) return Fail(std::string("cannot read ") + argv[1]);
    if (!ReadLines(argv[2], models)) return Fail(std::string("cannot read ") + argv[2]);
    std::vector<std::string> modelNames;
    for (const std::string &m : models) {
        std::istringstream ls(m);
        std::string first;
        ls >> first;
        modelNames.push_back(first);
    }
    GS_Result *r = GS_CreateResult();
    Cntr_Init(r);
    HmmDescription *d = HmmDescription_New(static_cast<int32_t>(entries.size()));
    for (size_t i = 0; i < entries.size(); i++) {
        std::istringstream ls(entries[i]);
        std::string name, model, extra;
        ls >> name >> model >> extra;
        int index = -1;
        for (size_t k = 0; k < modelNames.size() && index < 0; k++)
            if (modelNames[k] == model) index = static_cast<int>(k);
        if (model.empty() || !extra.empty() || index < 0 || model.size() + 3 > 0xffff) {
            HmmDescription_Free(d);
            GS_DeleteResult(r);
            if (model.empty() || !extra.empty())
                return Fail("line " + std::to_string(i + 1) + " is not \"NAME MODEL\": " + entries[i]);
            if (index < 0) return Fail("model \"" + model + "\" is not in " + argv[2]);
            return Fail("model name too long: " + model.substr(0, 40));
        }
        DescriptionEntry &e = d->entries[i];
        std::string spec = "{" + model + "}";
        e.modelSpec = Copy(spec);
        e.modelSpecSize = static_cast<uint16_t>(spec.size() + 1);
        e.name = Copy(name);
        Contexts(name, &e.leftContext, &e.rightContext);
        e.hmmIndex = index;
    }
    const CntrType *type = Cntr_TypeFind("hmm/description");
    CntrObj *obj = Cntr_ObjCreate(r, type, d);
    int rc = 1;
    if (obj) {
        CntrFile *f = Cntr_ObjFOpen(r, argv[3], 1);
        if (f) {
            rc = Cntr_ObjFWrite(r, f, "__rr__", obj);
            Cntr_ObjFClose(r, f);
        }
        Cntr_ObjDestroy(nullptr, obj);
    } else {
        HmmDescription_Free(d);
    }
    if (rc) Fail(r->text && *r->text ? r->text : "cannot write the description");
    GS_DeleteResult(r);
    return rc;
}
