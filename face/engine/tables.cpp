#include "tables.h"

namespace brovana {

const PhonemeVisemeRow PhonemeVisemeTable[kPhonemeRows] = {
    {".pau", {"NEUT", "NEUTRAL", "NEUTRAL", "NEUTRAL", "NEUTRAL", "NEUTRAL", "Neutral", "Neutral", "Nu", "Nu"}},
    {"h", {"d", "d", "d", "d", "t", "d", "ih", "KG", "k", "k"}},
    {"9r", {"r", "r", "r", "r", "r", "r", "r", "r", "r", "r"}},
    {"j", {"l", "E", "E", "E", "l", "l", "eh", "Q", "i", "i"}},
    {"dZ", {"S", "S", "S", "S", "S", "S", "S", "S", "sh", "sh"}},
    {"tS", {"S", "S", "S", "S", "S", "S", "S", "S", "sh", "sh"}},
    {"N", {"i", "i", "i", "i", "i", "i", "ih", "KG", "k", "k"}},
    {"I", {"i", "i", "i", "i", "i", "I", "ih", "I", "I", "I"}},
    {"i:", {"i", "i", "i", "i", "i", "   i", "ih", "Ea", "i", "i"}},
    {"E", {"E", "E", "E", "E", "E", "e", "eh", "KG", "Ai", "Ai"}},
    {"@", {"a", "a", "a", "a", "a", "ao", "ae", "A", "Ai", "Ai"}},
    {">", {"U", "w", "w", "w", "U", "oU", "ao", "Er", "A", "A"}},
    {"oo", {"ao", "ao", "ao", "ao", "ao", "ao", "ao", "Q", "A", "A"}},
    {"&", {"r", "r", "r", "r", "r", "r", "r", "Er", "Ai", "Ai"}},
    {"@@", {"r", "r", "r", "r", "r", "r", "r", "r", "Ai", "Ai"}},
    {"U", {"U", "w", "w", "w", "U", "U", "u", "w", "U", "U"}},
    {"^", {"U", "U", "E", "u", "U", "e", "eh", "KG", "Ai", "Ai"}},
    {"u", {"w", "w", "w", "w", "w", "w", "u", "w", "u", "u"}},
    {"Z", {"S", "S", "S", "S", "S", "S", "S", "S", "sh", "sh"}},
    {"S", {"S", "S", "S", "S", "S", "S", "S", "S", "sh", "sh"}},
    {"A", {"a", "a", "a", "a", "a", "ao", "A", "A", "A", "A"}},
    {"l", {"l", "l", "l", "l", "l", "l", "r", "I", "L", "L"}},
    {"w", {"w", "u", "u", "u", "w", "w", "u", "w", "r", "r"}},
    {"d", {"d", "d", "d", "d", "t", "d", "s", "I", "d", "d"}},
    {"t", {"d", "d", "d", "d", "t", "d", "s", "I", "d", "d"}},
    {"n", {"E", "E", "E", "E", "E", "e", "n", "I", "d", "d"}},
    {"s", {"s", "s", "s", "s", "s", "s", "s", "sz", "s", "s"}},
    {"b", {"m", "p", "p", "m", "p", "m", "m", "pbm", "m", "m"}},
    {"m", {"m", "m", "m", "m", "m", "m", "m", "pbm", "m", "m"}},
    {"g", {"d", "d", "d", "d", "t", "i", "n", "KG", "k", "k"}},
    {"z", {"S", "S", "S", "S", "S", "S", "s", "sz", "s", "s"}},
    {"k", {"d", "d", "d", "d", "t", "i", "n", "KG", "k", "k"}},
    {"p", {"m", "p", "p", "m", "p", "m", "m", "pbm", "m", "m"}},
    {"f", {"f", "f", "f", "f", "f", "f", "f", "fv", "f", "f"}},
    {"v", {"f", "f", "f", "f", "f", "f", "f", "fv", "f", "f"}},
    {"&r", {"r", "r", "r", "r", "r", "r", "r", "Er", "Ai", "Ai"}},
    {"I_x", {"i", "i", "i", "i", "i", "i", "ih", "Ea", "i", "i"}},
    {"oU", {"E", "E", "E", "E", "E", "oU", "ux", "Q", "U", "U"}},
    {"3r", {"r", "r", "r", "r", "r", "r", "r", "r", "Ai", "Ai"}},
    {"i@", {"i", "i", "i", "i", "i", "i", "ih", "Ea", "i", "i"}},
    {"u@", {"w", "w", "w", "w", "w", "w", "ux", "w", "u", "u"}},
    {"aU", {"a", "a", "a", "a", "a", "ao", "ax", "A", "A", "A"}},
    {"aI", {"U", "a", "a", "a", "u", "u", "ae", "A", "Ai", "Ai"}},
    {"ei", {"E", "E", "E", "E", "E", "e", "eh", "KG", "ei", "ei"}},
    {">i", {"U", "U", "U", "u", "u", "u", "ao", "Q", "A", "A"}},
    {"D", {"T", "T", "T", "T", "T", "T", "D", "T", "T", "T"}},
    {"T", {"T", "T", "T", "T", "T", "T", "D", "T", "T", "T"}},
    {"iU", {"i", "i", "i", "i", "i", "i", "ih", "Ea", "i", "i"}},
    {"e&", {"E", "E", "E", "E", "E", "e", "eh", "KG", "Ai", "Ai"}},
    {"i&", {"i", "i", "i", "i", "i", "i", "ih", "Ea", "i", "i"}},
    {"u&", {"w", "w", "w", "w", "w", "w", "u", "w", "u", "u"}},
    {"rr", {"r", "r", "r", "r", "r", "r", "r", "r", "A", "A"}},
    {"nj", {"E", "E", "E", "E", "E", "e", "eh", "I", "Ai", "Ai"}},
    {"4r", {"r", "r", "r", "r", "r", "r", "r", "r", "r", "r"}},
};

const ArpabetPair ArpabetPairs[kArpabetRows] = {
    {"AA", "A", 'a'},   {"AE", "@", '@'},  {"AH", "^", '^'},  {"AO", ">", 'q'},   {"AW", "aU", '8'},
    {"AX", "&", '&'},   {"AXR", "&r", '%'}, {"AY", "aI", '7'}, {"B", "b", 'b'},    {"BD", "b", 'b'},
    {"CH", "tS", '2'},  {"D", "d", 'd'},   {"DD", "d", 'd'},  {"DX", "d", 'd'},   {"DH", "D", '5'},
    {"EH", "E", 'e'},   {"ER", "3r", '9'}, {"EY", "ei", '$'}, {"F", "f", 'f'},    {"G", "g", 'g'},
    {"GD", "g", 'g'},   {"HH", "h", 'h'},  {"IH", "I", 'i'},  {"IX", "I_x", 'x'}, {"IY", "i:", ':'},
    {"JH", "dZ", '1'},  {"K", "k", 'k'},   {"KD", "k", 'k'},  {"L", "l", 'l'},    {"M", "m", 'm'},
    {"N", "n", 'n'},    {"NG", "N", '+'},  {"OW", "oU", 'o'}, {"OY", ">i", '>'},  {"P", "p", 'p'},
    {"PD", "p", 'p'},   {"R", "9r", 'r'},  {"S", "s", 's'},   {"SH", "S", '4'},   {"SIL", ".pau", '.'},
    {"T", "t", 't'},    {"TD", "t", 't'},  {"TH", "T", '6'},  {"TS", "tS", '2'},  {"UH", "U", '*'},
    {"UW", "u", 'u'},   {"V", "v", 'v'},   {"W", "w", 'w'},   {"Y", "j", 'y'},    {"Z ", "z", 'z'},
    {"ZH", "Z", '3'},
};

const SymbolPair SpanishPairs[kSpanishRows] = {
    {"i", "i:"},    {".pau", ".pau"}, {"Ix", "I"},     {"e", "ei"},    {"E", "E"},   {"&", "&"},
    {"^", "^"},     {"u", "u"},       {"o", "oU"},     {"a", "A"},     {"p", "b"},   {"b", "v"},
    {"pc", "b"},    {"bc", "v"},      {"t", "t"},      {"d", "d"},     {"t[", "t"},  {"d[", "d"},
    {"d\\[", "d"}, {"t\\[c", "t"},  {"d\\[c", "d"},  {"k", "k"},     {"g", "g"},   {"kc", "k"},
    {"gc", "g"},    {"tS", "tS"},     {"v", "f"},      {"f", "f"},     {"s", "s"},   {"hs", "s"},
    {"z", "z"},     {"x", "h"},       {"r", "3r"},     {"r\\(", "9r4r"}, {"m", "m"}, {"nj", "nj"},
    {"n", "n"},     {"N", "N"},       {"w", "w"},      {"j", "j"},     {"l", "l"},
};

const SymbolPair SafeNamePairs[kSafeNameRows] = {
    {".pau", ""},   {"h", "h"},   {"9r", "9r"},  {"j", "j"},   {"dZ", "dZ"},  {"tS", "tS"},
    {"N", "n_capital"}, {"I", "i_capital"}, {"i:", "i"}, {"E", "E"}, {"@", "@"},
    {">", "rightarrow"}, {"oo", ""}, {"&", "&"}, {"@@", " "}, {"U", "u_capital"}, {"^", "^"},
    {"u", "u"},     {"Z", "z_capital"}, {"S", "s_capital"}, {"A", "A"}, {"l", "l"}, {"w", "w"},
    {"d", "d"},     {"t", "t"},   {"n", "n"},    {"s", "s"},   {"b", "b"},    {"m", "m"},
    {"g", "g"},     {"z", "z"},   {"k", "k"},    {"p", "p"},   {"f", "f"},    {"v", "v"},
    {"&r", "&r"},   {"I_x", ""},  {"oU", "oU"},  {"3r", "3r"}, {"i@", " "},   {"u@", " "},
    {"aU", "aU"},   {"aI", "aI"}, {"ei", "ei"},  {">i", "rightarrowi"}, {"D", "d_capital"},
    {"T", "t_capital"}, {"iU", ""}, {"e&", ""},  {"i&", ""},  {"u&", ""},
};

const char *const SlotNames[22][9] = {
    {"TAM_SAD", "OB_SAD", "KE_SAD", "DU_SAD", "BX_SAD", "SOR_SAD", "Ven_Sad", "QUI_Sad", "BX_Sad"},
    {"TAM_ANGRY", "OB_ANGRY", "KE_ANGRY", "DU_ANGRY", "BX_ANGRY", "SOR_ANGRY", "Ven_Angry", "QUI_Angry", "BX_Angry"},
    {"TAM_SMILE", "OB_SMILE", "KE_SMILE", "DU_SMILE", "BX_SMILE", "SOR_JOY", "Ven_Joy", "QUI_Joy", "BX_Joy"},
    {"TAM_FEAR", "OB_FEAR", "KE_FEAR", "DU_FEAR", "BX_FEAR", "SOR_FEAR", "Ven_Fear", "QUI_Fear", "BX_Fear"},
    {"TAM_DISGUST", "OB_DISGUST", "KE_DISGUST", "DU_DISGUST", "BX_DISGUST", "SOR_DIS", "Ven_Disgust", "QUI_Disgust", "BX_Disgust"},
    {"TAM_SPRISE", "OB_SPRISE", "KE_SPRISE", "DU_SPRISE", "BX_SPRISE", "SOR_SPRISE", "Ven_Surprise", "QUI_Surprise", "BX_Surprise"},
    {nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr},
    {"TAM_BRDN", "OB_BRUP", "KE_BRUP", "DU_BRUP", "BX_BRZUP", "SOR_BRZUP", "Ven_EyeBrowUp", "QUI_EyeBrowUp", "BX_EyeBrowUp"},
    {"TAM_BRINUP", "OB_BRINUP", "KE_BRINUP", "DU_BRINUP", "BX_BRZIN", "SOR_BRZUP", "Ven_EyeBorwInUp", "QUI_EyeBrowInUp", "BX_EyeBorwInUp"},
    {"TAM_BRINDN", "OB_BRINDN", "KE_BRINUP", "DU_BRINDN", "BX_BRZDWN", "SOR_BRZDWN", "Ven_EyeBrowInDown", "QUI_EyeBrowInDown", "BX_EyeBrowInDown"},
    {"TAM_BIGNOSE", "OB_BIGNOSE", "KE_BIGNOSE", "DU_BIGNOSE", "BX_BIGNOSE", "SOR_SNORT", "Ven_NoseSize", "QUI_NoseSize", "BX_NoseSize"},
    {"TAM_NOSETRAIL", "OB_NOSETRAIL", "KE_NOSETRAIL", "DU_NOSETRAIL", "BX_NOSETRAIL", "SOR_SNORT", "Ven_NoseTrail", "QUI_NoseTrail", "BX_NoseTrail"},
    {"TAM_SNEERR", "OB_SNEERR", "KE_SNEERR", "DU_SNEERR", "BX_SNEERR", "SOR_SNEER", "Ven_SneerR", "QUI_SneerR", "BX_SneerR"},
    {"TAM_SNEERL", "OB_SNEERL", "KE_SNEERL", "DU_SNEERL", "BX_SNEERL", "SOR_SNEER", "Ven_SneerL", "QUI_SneerL", "BX_SneerL"},
    {"VIS_w", "VIS_w", "KEVIS_w", "DUVIS_w", "BXVIS_w", "Vis_w", "Vis_u", "Vis_w", "Vis_u"},
    {"EYZ_UP", "OB_EYZUP", "EYZ_UP", "EYZ_UP", "BX_EYZUP", "SOR_EYZUP", "Ven_EyeUp", "QUI_EyeUp", "BX_EyeUp"},
    {"EYZ_DWN", "OB_EYZDWN", "EYZ_DWN", "EYZ_DWN", "BX_EYZDWN", "SOR_EYZDWN", "Ven_EyeDown", "QUI_EyeDown", "BX_EyeDown"},
    {"EYZ_LFT", "OB_EYZLFT", "EYZ_LFT", "EYZ_LFT", "BX_EYZLFT", "SOR_EYZLFT", "Ven_EyeLeft", "QUI_EyeLeft", "BX_EyeLeft"},
    {"EYZ_RGT", "OB_EYZRGT", "EYZ_RGT", "EYZ_RGT", "BX_EYZRGT", "SOR_EYZRGT", "Ven_EyeRight", "QUI_EyeRight", "BX_EyeRight"},
    {"EYZ_SQNT", "OB_GRIN", "EYZ_WIDE", "EYZ_BLINK", "BX_EYZWIDE", "SOR_EYZWIDE_", "Ven_EyeWide", "QUI_EyeWide", "BX_EyeWide"},
    {"EYZ_BLINK", "OB_BLINK", "EYZ_BLINK", "EYZ_BLINK", "BX_BLINK", "SOR_BLINK", "Ven_EyeBlink", "QUI_Blink", "BX_EyeBlink"},
    {"VIS_a", "VIS_a", "KEVIS_a", "DUVIS_a", "BXVIS_a", "Vis_a", "Vis_A", "Vis_A", "Vis_A"},
};

const char *const CharacterPrefix[kCharacterTypes] = {"TAM_", "OB_", "KE_", "DU_", "BX_", "SOR_", "Ven_", "QUI_", "BX_", "BX_"};
const char *const VisemePrefix[kCharacterTypes] = {"VIS_", "VIS_", "KEVIS_", "DUVIS_", "BXVIS_", "Vis_", "Vis_", "Vis_", "Vis_", "Vis_"};
const char *const ModelFile[kCharacterTypes] = {"Tamsel.GL", "Obrik.GL", "Keffa.GL", "Dunmo.GL", "Bexlo.GL", "Sorla.GL", "Venmira.GL", "Quillo.GL", "BexloNew.GL", "BexloNew2.GL"};
const char *const FaceImageFile[kCharacterTypes] = {"Tamsel_face.Img", "Obrik_face.Img", "Keffa_face.Img", "Dunmo_face.Img", "Bexlo.Img", "Sorla.Img", "Venmira_face.Img", "Quillo_face.Img", "Bexlo512F.Img", "Bexlo512F.Img"};
const char *const BodyImageFile[kCharacterTypes] = {"Tamsel_body.Img", "Obrik_body.Img", "Keffa_body.Img", "Dunmo_body.Img", "Bexlo.Img", "Sorla.Img", "Venmira_body.Img", "Quillo_body.Img", "Bexlo512B.img", "Bexlo512B.img"};
const char *const TongueTableFile[kCharacterTypes] = {"Ttongue.Ge", "Otongue.Ge", "Ktongue.Ge", "Dtongue.Ge", "Btongue.Ge", nullptr, "Vetongue.Ge", "Qtongue.Ge", "BNtongue.Ge", "BNtongue.Ge"};

}  // namespace brovana
