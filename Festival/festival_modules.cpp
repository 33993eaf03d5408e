// The synthesiser's module list, in the order our modules need: ours come
// right after the XML reader and before the synthesiser's own, so that voice
// files loaded later find every function. The synthesiser's start-up calls
// this in place of its built-in list.
#include "festival.h"

void festival_rxp_init();
void festival_Lexicon_init();
void festival_base_init();
void festival_Duration_init();
void festival_Intonation_init();
void festival_Text_init();
void festival_UniSyn_init();
void festival_donovan_init();
void festival_parser_init();
void festival_UniSyn_diphone_init();
void festival_clunits_init();
void festival_clustergen_init();
void festival_hts_engine_init();
void festival_hts21_engine_init();
void festival_MultiSyn_init();

void Vekcommon_module_init();
void Vekeffect_module_init();
void Vekinsert_module_init();
// The unit database and the LPC synthesis modules join the package later;
// until they are linked in these stay null.
void Vekdbase_module_init() __attribute__((weak));
void VekresLPC_module_init() __attribute__((weak));

void festival_init_modules(void) {
  festival_rxp_init();
  Vekcommon_module_init();
  if (Vekdbase_module_init) Vekdbase_module_init();
  if (VekresLPC_module_init) VekresLPC_module_init();
  Vekeffect_module_init();
  Vekinsert_module_init();
  festival_Lexicon_init();
  festival_base_init();
  festival_Duration_init();
  festival_Intonation_init();
  festival_Text_init();
  festival_UniSyn_init();
  festival_donovan_init();
  festival_parser_init();
  festival_UniSyn_diphone_init();
  // The synthesiser's newer modules, which its own Lisp library and voices use.
  festival_clunits_init();
  festival_clustergen_init();
  festival_hts_engine_init();
  festival_hts21_engine_init();
  festival_MultiSyn_init();
}
