#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

#include "ltwod_labels.h"

TEST(LtwodLabels, class_names_are_described_by_their_codes) {
  struct Case {
    const char *name, *words;
  } cases[] = {
      {"V_b", "Voiced burst "},
      {"al^", "Alveolar "},
      {"iy$", "/iy/ "},
      {"S+ls", "Silence lip-smack"},
      {"F+vs", "Frication (voiced sibilant)"},
      {"xyz", "xyz"},
      {"", ""},
  };
  for (const Case &c : cases) EXPECT_EQ(LtwodDescribeLabel(c.name), c.words) << c.name;
}

TEST(LtwodLabels, wave_names_are_reduced_to_their_corpus_folder) {
  EXPECT_EQ(LtwodCorpusRelativeName("/data/x/fricatives/s1.wav"), "SPECDATA/fricatives/s1.wav");
  EXPECT_EQ(LtwodCorpusRelativeName("/data/words/nasals/n.wav"), "SPECDATA/nasals/n.wav");  // first in list order
  EXPECT_EQ(LtwodCorpusRelativeName("/tmp/a.wav"), "/tmp/a.wav");
}

TEST(LtwodLabels, class_file_lines_become_classes_in_order) {
  std::string dir = testing::TempDir() + "lyreprefix";
  std::string path = LtwodLabelClassPath(dir.c_str());
  EXPECT_EQ(path, dir + "/pkg/lyre_1.0/labelclasses.dat");
  EXPECT_EQ(LtwodLabelClassPath(nullptr), "");
  EXPECT_TRUE(LtwodReadLabelClasses("").empty());
  EXPECT_TRUE(LtwodReadLabelClasses(dir + "/none").empty());
  std::string file = testing::TempDir() + "classes.dat";
  {
    std::ofstream f(file);
    f << "V_f 1 0 0\nbroken line\n" << std::string(5000, 'n') << " 0 0 1\nS 0.5 0.5 0.5\n";
  }
  std::vector<LtwodLabelClass> c = LtwodReadLabelClasses(file);
  ASSERT_EQ(c.size(), 3u);
  EXPECT_EQ(c[0].name, "V_f");
  EXPECT_EQ(c[1].name.size(), 5000u);  // long names cannot overrun
  EXPECT_EQ(c[2].index, 2);
  EXPECT_FLOAT_EQ(c[2].green, 0.5f);
}

TEST(LtwodLabels, the_shipped_class_file_reads_whole) {
  const char *src = getenv("TOVIK_SOURCE");
  ASSERT_NE(src, nullptr);
  std::vector<LtwodLabelClass> c = LtwodReadLabelClasses(std::string(src) + "/src/rezovad/pkgs/lyre/labelclasses.dat");
  ASSERT_GE(c.size(), 10u);
  for (const LtwodLabelClass &k : c) {
    EXPECT_NE(LtwodDescribeLabel(k.name), k.name) << k.name;  // every shipped name uses the codes
    for (float x : {k.red, k.green, k.blue}) {
      EXPECT_GE(x, 0.0f);
      EXPECT_LE(x, 1.0f);
    }
  }
}
