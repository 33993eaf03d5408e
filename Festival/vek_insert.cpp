#include "festival.h"
void Vekinsert_module_init() { proclaim_module("Vekinsert"); }
