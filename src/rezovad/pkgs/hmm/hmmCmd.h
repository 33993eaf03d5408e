// The `htk` sub-commands, registered by the hmm package.
#ifndef TOVIK_HMMCMD_H
#define TOVIK_HMMCMD_H

#include "cmds.h"

const SubCmdEntry *Htk_Commands();

#endif
