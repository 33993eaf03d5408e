// Static symbol tables of the face: phonemes with their viseme per character
// type, ARPAbet pairs with the one-character codes of the 38-parameter face,
// Spanish symbols, file-safe names, and the per-type names of targets and
// character files.  Everything here is constant data.
#pragma once

namespace brovana {

constexpr int kPhonemeRows = 54;
constexpr int kCharacterTypes = 10;

struct PhonemeVisemeRow {
    const char *symbol;
    const char *viseme[kCharacterTypes];
};
extern const PhonemeVisemeRow PhonemeVisemeTable[kPhonemeRows];

struct ArpabetPair {
    const char *arpabet;
    const char *worldbet;
    char code;
};
constexpr int kArpabetRows = 51;
extern const ArpabetPair ArpabetPairs[kArpabetRows];

struct SymbolPair {
    const char *from;
    const char *to;
};
constexpr int kSpanishRows = 41;
extern const SymbolPair SpanishPairs[kSpanishRows];
constexpr int kSafeNameRows = 51;
extern const SymbolPair SafeNamePairs[kSafeNameRows];

// Target slots 0..21 by character type (types 8 and 9 share column 8);
// slot 6 (neutral) is named by rule and is null here.
extern const char *const SlotNames[22][9];
extern const char *const CharacterPrefix[kCharacterTypes];
extern const char *const VisemePrefix[kCharacterTypes];

// Character files by character type.
extern const char *const ModelFile[kCharacterTypes];
extern const char *const FaceImageFile[kCharacterTypes];
extern const char *const BodyImageFile[kCharacterTypes];
extern const char *const TongueTableFile[kCharacterTypes];  // null: none

}  // namespace brovana
