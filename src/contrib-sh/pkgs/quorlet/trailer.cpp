#include "trailer.h"

namespace rtn {

std::string Trailer(const char *file, int line) {
  std::string f = file;
  size_t s = f.find_last_of('/');
  if (s != std::string::npos) f = f.substr(s + 1);
  size_t d = f.find('.');
  if (d != std::string::npos) f = f.substr(0, d);
  return "file(" + f + ") line(" + std::to_string(line) + ")\n";
}

}  // namespace rtn
