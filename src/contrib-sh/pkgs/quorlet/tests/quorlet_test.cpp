// Compiler, compiled files and parse of the robust parser, driven directly.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <random>

#include "rtn.h"

using namespace rtn;

namespace {

std::string Fixtures() {
  const char *src = getenv("TOVIK_SOURCE");
  return std::string(src ? src : ".") + "/src/contrib-sh/pkgs/quorlet/tests/fixtures/";
}

std::string Parse(const Grammar &g, const std::string &input, ParseOptions o = ParseOptions()) {
  Parser p(g);
  std::string res, w;
  std::istringstream in(input);
  while (in >> w) EXPECT_EQ(p.Word(w, o, res), 0) << res;
  std::vector<std::string> out;
  EXPECT_EQ(p.Finished(o, out, res), 0) << res;
  std::string joined;
  for (size_t i = 0; i < out.size(); i++) joined += (i ? "\n" : "") + out[i];
  return joined;
}

Grammar Compile(const std::string &name, const std::string &text) {
  Grammar g;
  std::string res;
  EXPECT_EQ(RTN_CompileText(g, name, text, res), 0) << res;
  return g;
}

}  // namespace

TEST(Greet, ParsesAndSkipsUnknownWords) {
  Grammar g = Compile("greet", "[greet]\n(*HELLO +NAME)\nHELLO (hello) (hi there)\nNAME (anna) (bob)\n");
  EXPECT_EQ(Parse(g, "hi there um bob"), "greet:[hi,there,bob]");
  EXPECT_EQ(Parse(g, "anna bob"), "greet:[anna,bob]");
  EXPECT_EQ(Parse(g, "hello"), "");
}

TEST(Flights, CompilesTreeAndParses) {
  Grammar g;
  std::string res;
  CompileOptions co;
  co.dir = Fixtures() + "flights";
  co.readStatus = RS_GRA;
  ASSERT_EQ(RTN_Create(g, "flights", co, res), 0) << res;
  EXPECT_EQ(Parse(g, "uh i want to fly to um new york"), "flights:[i,want,to,fly,to,city_fs:[new,york]]");
  EXPECT_EQ(Parse(g, "i want to fly to boston please"), "flights:[i,want,to,fly,to,city_fs:[BOS],please]");
}
