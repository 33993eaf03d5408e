// Label classes of the 2-D display and the words that describe a class
// name by its phonetic codes.
//
// What callers rely on: the class file is $TOVIK_PREFIX/pkg/lyre_1.0/
// labelclasses.dat, one "name red green blue" a line (components 0..1),
// other lines skipped; no variable or no file gives no classes. Class
// names are single words of any length.
#pragma once

#include <string>
#include <vector>

struct LtwodLabelClass {
  std::string name;
  int index;
  float red, green, blue;
};

// The class file's path for a prefix ("" when the prefix is unset).
std::string LtwodLabelClassPath(const char *prefix);
std::vector<LtwodLabelClass> LtwodReadLabelClasses(const std::string &path);
// Words for the codes in a class name ("Voiced burst " for V_b); the name
// itself when it holds no code.
std::string LtwodDescribeLabel(const std::string &name);
// A wave name from the first corpus folder in it on, after "SPECDATA/".
std::string LtwodCorpusRelativeName(const std::string &name);
