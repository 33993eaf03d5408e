#include "festival.h"
void Vekeffect_module_init() { proclaim_module("Vekeffect"); }
