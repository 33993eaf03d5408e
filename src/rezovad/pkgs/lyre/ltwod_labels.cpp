#include "ltwod_labels.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

std::string LtwodLabelClassPath(const char *prefix) {
  return prefix && *prefix ? std::string(prefix) + "/pkg/lyre_1.0/labelclasses.dat" : "";
}

std::vector<LtwodLabelClass> LtwodReadLabelClasses(const std::string &path) {
  std::vector<LtwodLabelClass> out;
  if (path.empty()) return out;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream s(line);
    LtwodLabelClass c;
    if (!(s >> c.name >> c.red >> c.green >> c.blue)) continue;
    c.index = (int)out.size();
    out.push_back(c);
  }
  return out;
}

namespace {

struct Code {
  const char *code, *word;
};

const Code kPlaces[] = {{"bl", "Bilabial "}, {"lv", "Labiovelar "}, {"id", "Interdental "}, {"al", "Alveolar "},
                        {"pa", "Palatal "},  {"vl", "Velar "},      {"f", "Front "},        {"c", "Central "},
                        {"b", "Back "},      {"h", "High "},        {"m", "Mid "},          {"l", "Low "},
                        {"R", "Retroflex "}, {"r", "reduced "}};
const Code kLetters[] = {{"A", "Aspiration "}, {"F", "Frication "}, {"O", "Other "},  {"P", "Plosive "},
                         {"Q", "Question "},   {"S", "Silence "},   {"V", "Voiced "}};
const Code kSubs[] = {{"b", "burst "}, {"c", "closure "},       {"f", "formant "},  {"n", "noise "},
                      {"p", "glottal pulse "}, {"r", "region "}, {"s", "speech-related "}, {"v", "voicebar "}};
const Code kModifiers[] = {{"1", "1"},  {"2", "2"},          {"3", "3"},  {"4", "4"},          {"5", "5"},
                           {"12", "1/2"}, {"23", "2/3"},     {"s", "(sibilant)"}, {"v", "(voiced)"},
                           {"vs", "(voiced sibilant)"}, {"ls", "lip-smack"}, {"bi", "breath-in"},
                           {"bo", "breath-out"}, {"ct", "clear-throat"}, {"sz", "sneeze"}, {"cf", "cough"},
                           {"sn", "sniff"}, {"lf", "laugh"}};

template <size_t N>
const char *Lookup(const Code (&table)[N], const std::string &code) {
  for (const Code &c : table)
    if (code == c.code) return c.word;
  return nullptr;
}

}  // namespace

std::string LtwodDescribeLabel(const std::string &name) {
  std::string out;
  for (size_t i = 1; i <= name.size(); i++) {
    char c = name[i - 1], n = i < name.size() ? name[i] : '\0';
    const char *w;
    if (c == '^' && n != '$' && (w = Lookup(kPlaces, name.substr(0, i - 1)))) out += w;
    if (c == '$') out += "/" + name.substr(0, i - 1) + "/ ";
    if (n != '$' && (w = Lookup(kLetters, std::string(1, c)))) out += w;
    if (c == '_' && n && (w = Lookup(kSubs, std::string(1, n)))) out += w;
    if (c == '+' && (w = Lookup(kModifiers, name.substr(i)))) out += w;
  }
  return out.empty() ? name : out;
}

std::string LtwodCorpusRelativeName(const std::string &name) {
  static const char *folders[] = {"approximants", "diphthongs",   "fricatives",   "introcons",
                                  "introduction", "introsound",   "introspeech",  "introvowel",
                                  "monophthongs", "nasals",       "othercorpora", "otherphones",
                                  "phrases",      "plosives",     "syllables",    "words"};
  for (const char *f : folders) {
    size_t at = name.find(f);
    if (at != std::string::npos) return "SPECDATA/" + name.substr(at);
  }
  return name;
}
