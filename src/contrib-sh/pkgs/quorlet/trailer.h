// The tail of every failure text of the robust parser:
// "file(BASE) line(N)\n", BASE being the reporting source file's name
// without folder or extension.
#ifndef QUORLET_TRAILER_H
#define QUORLET_TRAILER_H

#include <string>

namespace rtn {

std::string Trailer(const char *file, int line);

}  // namespace rtn

#define RTN_TRAILER rtn::Trailer(__FILE__, __LINE__)

#endif
