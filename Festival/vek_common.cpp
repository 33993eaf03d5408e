#include "festival.h"
void Vekcommon_module_init() { proclaim_module("Vekcommon"); }
