// Fixtures shared by the tests of the network libraries (dravin, kelmortrain).
#ifndef DRAVIN_NNET_TEST_HELPERS_H
#define DRAVIN_NNET_TEST_HELPERS_H

#include <unistd.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "result.h"

// A result for one call, deleted at the end of the test.
struct Res {
  GS_Result *r = GS_CreateResult();
  Res() = default;
  Res(const Res &) = delete;
  Res &operator=(const Res &) = delete;
  ~Res() { GS_DeleteResult(r); }
  std::string text() const { return r->text; }
};

// A scratch file name of this test process.
inline std::string tmpPath(const std::string &name) {
  return "/tmp/nnet_test_" + std::to_string(getpid()) + "_" + name;
}

inline std::vector<unsigned char> readFile(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<unsigned char>((std::istreambuf_iterator<char>(in)), {});
}

#endif
