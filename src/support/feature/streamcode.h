/* The completion code of a stream command that has nothing to return yet:
 * TCL_ERROR unless the script chose another, so that a read loop can be
 * driven by it. Where several are chosen, -return wins over -continue,
 * which wins over -break. */
#ifndef TOVIK_STREAMCODE_H
#define TOVIK_STREAMCODE_H

#include <tcl.h>

static inline int Stream_Code(int brk, int cont, int ret) {
    return ret ? TCL_RETURN : cont ? TCL_CONTINUE : brk ? TCL_BREAK : TCL_ERROR;
}

#endif
