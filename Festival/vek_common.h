// Module "Vekcommon": gain targets, label files and small utterance helpers
// shared by the synthesis modules.
#pragma once

#include <string>

#include "festival.h"

// Puts gain targets (relation "Gain", features pos and gain) over
// [begin, end) in steps of samp; method "sin", "cos" or "linear". Throws
// VekError on bad input.
void add_gain_targets(EST_Utterance *utt, float begin, float end, float begin_val, float end_val, float samp,
                      const std::string &method);

// A new Gain item right after previous, or before the first item when there
// is no previous.
EST_Item *new_gitem(EST_Relation *rel, EST_Item *previous);

// The gain target inside a segment: the first (at_end 0) or last (at_end 1)
// target whose pos lies within the segment; 1.0 when there is none.
float resLPC_gain_at(EST_Utterance *utt, EST_Item *segment, int at_end);

// Makes the relation "Wave" afresh with one item holding wave (taken over).
void utt_set_wave(EST_Utterance *utt, EST_Wave *wave);

void Vekcommon_module_init();
