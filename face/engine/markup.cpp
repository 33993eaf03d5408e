// The markup of an utterance: a text whose words carry tags in angle
// brackets (expressions, blinks, eye rolls, head gestures, tongue shapes,
// postures and body sequences).  The text is filtered, split into words and
// tag texts, each tag's values are read into per-word columns and checked
// against the libraries under the load directory's "Lib" and the gesture
// and sequence files.
//
// Errors carry the message and the byte offsets of the failing tag's "<" and
// ">" in the text as given (-1 -1 where no tag applies).  Words, tag texts
// and values longer than their limits, and a second tag before the first
// word, are errors rather than cut short.
#include <cctype>
#include <cstdio>
#include <cstring>

#include "engine.h"
#include "files.h"

namespace brovana {

namespace {

const char *const kKeywords[kTagKinds] = {"FET=", "EYEB=", "EYEM=", "HGT=", "TON=", "BODY=", "END=", "POST="};
const size_t kValueLimit[kTagKinds] = {29, 29, 29, 29, 29, 49, 49, 49};
const size_t kWordLimit = 127, kTagLimit = 49;
const int kMaxGestureCount = 1000;  // repetitions of one head gesture

bool Kept(unsigned char c) { return isalnum(c) || strchr(".,<> =+-()", c); }
bool IsSide(char c) { return c && strchr("RrLlBb", c); }

std::string Upper(std::string s) {
    for (char &c : s)
        if (c >= 'a' && c <= 'z') c = (char)(c - 'a' + 'A');
    return s;
}

// Reads the value after the keyword: skip drops, stop ends, keep is kept.
std::string ReadValue(const std::string &tag, const char *keyword, const char *skip, const char *stop,
                      const char *keep) {
    size_t at = tag.find(keyword);
    if (at == std::string::npos) return "";
    std::string v;
    for (size_t i = at + strlen(keyword); i < tag.size(); i++) {
        char c = tag[i];
        if (strchr(stop, c)) break;
        if (strchr(skip, c)) continue;
        if (isalnum((unsigned char)c) || strchr(keep, c)) v += c;
    }
    return v;
}

}  // namespace

int BrovanaEngine::libraryIndex(const std::vector<LibraryEntry> &lib, const std::string &name) {
    for (size_t i = 0; i < lib.size(); i++)
        if (lib[i].name == name) return (int)i;
    return -1;
}

bool BrovanaEngine::gestureExists(const std::string &name) const {
    return FileExists(JoinPath(JoinPath(JoinPath(loadDir_, "Models"), "obriksign"), name + ".ges"));
}

bool BrovanaEngine::sequenceExists(const std::string &name) const {
    return FileExists(JoinPath(JoinPath(JoinPath(loadDir_, "Models"), "obrikkeyframe"), name + ".sqe"));
}

// Keeps the characters the markup knows and counts the brackets.
static bool FilterText(const std::string &text, std::string *kept, std::vector<int> *where, MarkupError *err) {
    int lt = 0, gt = 0, firstLt = -1, firstGt = -1;
    kept->clear(), where->clear();
    for (size_t i = 0; i < text.size(); i++) {
        unsigned char c = (unsigned char)text[i];
        if (!Kept(c)) continue;
        kept->push_back((char)c);
        where->push_back((int)i);
        if (c == '<' && lt++ == 0) firstLt = (int)i;
        if (c == '>' && gt++ == 0) firstGt = (int)i;
    }
    if (lt == gt) return false;
    // with no "<" at all the first ">" is the one to point at
    int at = firstLt >= 0 ? firstLt : firstGt;
    *err = MarkupError{"<", at, at + 1};
    return true;
}

bool BrovanaEngine::splitMarkup(const std::string &text, std::vector<MarkupWord> *words, bool *leading,
                                MarkupError *err) {
    std::string f;
    std::vector<int> where;
    if (FilterText(text, &f, &where, err)) return true;
    words->clear();
    *leading = false;
    int depth = 0;
    bool sep = true, seen = false;
    MarkupWord *cur = nullptr;
    for (size_t i = 0; i < f.size(); i++) {
        char c = f[i];
        if (c == '<') {
            depth++;
            if (!seen) {
                if (*leading) {
                    size_t j = f.find('>', i);
                    *err = MarkupError{"only one tag may come before the first word", where[i],
                                       j == std::string::npos ? where[i] + 1 : where[j]};
                    return true;
                }
                words->push_back(MarkupWord());
                *leading = true;
            }
            cur = &words->back();
            cur->tag.clear(), cur->hasTag = true;
            cur->lt = where[i], cur->gt = -1;
            continue;
        }
        if (c == '>') {
            if (depth > 0) depth--;
            if (cur && cur->hasTag && cur->gt < 0) cur->gt = where[i];
            continue;
        }
        if (c == '.') sep = true;
        if (depth > 0) {
            if (isalnum((unsigned char)c) || strchr("=,+-()", c)) {
                cur->tag += c;
                if (cur->tag.size() > kTagLimit) {
                    size_t j = f.find('>', i);
                    *err = MarkupError{"tag too long", cur->lt, j == std::string::npos ? cur->lt + 1 : where[j]};
                    return true;
                }
            }
            continue;
        }
        if (c == ' ' || c == ',') {
            sep = true;
            continue;
        }
        if (!isalnum((unsigned char)c)) continue;
        if (sep) {
            words->push_back(MarkupWord());
            cur = &words->back();
            cur->word = c;
            cur->wordStart = where[i];
            seen = true;
            sep = false;
        } else if (cur) {
            cur->word += c;
            if (cur->word.size() > kWordLimit) {
                *err = MarkupError{"word too long", cur->wordStart, where[i] + 1};
                return true;
            }
        }
    }
    return false;
}

bool BrovanaEngine::parseMarkedText(const std::string &text, std::string *plain, MarkupError *err) {
    std::string f;
    std::vector<int> where;
    plain->clear();
    if (FilterText(text, &f, &where, err)) return true;
    int depth = 0;
    bool sep = true;
    for (char c : f) {
        if (c == '<') {
            depth++;
            continue;
        }
        if (c == '>') {
            if (depth > 0) depth--;
            continue;
        }
        if (c == '.') {
            *plain += ". ";
            sep = true;
            continue;
        }
        if (depth > 0) continue;
        if (c == ' ' || c == ',') {
            *plain += c;
            sep = true;
        } else if (sep) {
            *plain += c;
            if (isalnum((unsigned char)c)) sep = false;
        } else if (isalnum((unsigned char)c)) {
            *plain += c;
        }
    }
    return false;
}

void BrovanaEngine::parseTagValues(const MarkupWord &w, std::array<std::string, kTagKinds> *v) {
    for (auto &s : *v) s.clear();
    if (!w.hasTag) return;
    const std::string &t = w.tag;
    (*v)[0] = Upper(ReadValue(t, "FET=", "", ", ", ""));
    // keywords work with or without "FET=" (the filter already dropped "/")
    if (t.find("BEGIN") != std::string::npos) (*v)[0] = "NEUT";
    if (t.find("STRESS") != std::string::npos) (*v)[0] = "EYEBROWUP";
    if (t.find("RELEASE") != std::string::npos) (*v)[0] = "NEUT";
    // EYEB and TON keep a sign too, so that their checks can refuse it
    (*v)[1] = ReadValue(t, "EYEB=", " (", ")", "+-,");
    (*v)[2] = ReadValue(t, "EYEM=", " ()", "", "+-,");
    (*v)[3] = Upper(ReadValue(t, "HGT=", " ()", "", "+-,"));
    (*v)[4] = ReadValue(t, "TON=", " (", ")", "+-,");
    (*v)[5] = Upper(ReadValue(t, "BODY=", " ()", "", "+-,"));
    (*v)[6] = Upper(ReadValue(t, "END=", " ()", "", "+-,"));
    (*v)[7] = Upper(ReadValue(t, "POST=", " ()", "", "+-,"));
}

// Number after the first ",", or the name before it; missing number: 0.
static void NameAndNumber(const std::string &v, std::string *name, bool *hasNumber, int *number) {
    size_t comma = v.find(',');
    *name = v.substr(0, comma);
    *hasNumber = comma != std::string::npos;
    *number = 0;
    if (*hasNumber && sscanf(v.c_str() + comma + 1, "%d", number) != 1) *number = -1;
}

const char *BrovanaEngine::checkTagValue(int kind, const std::string &v) {
    switch (kind) {
    case 0:
        return libraryIndex(paraLib_, v) < 0 ? "FET" : nullptr;
    case 1: {
        int n;
        char side = 0;
        if (sscanf(v.c_str(), "%d,%c", &n, &side) < 1 || n < 0) return "EYEB";
        return IsSide(side) ? nullptr : "EYEB (?,*,*) ?must be R(r),L(l),B(b)";
    }
    case 2: {
        int a, b;
        char mode = 0, side = 0;
        int got = sscanf(v.c_str(), "%d,%d,%c,%c", &a, &b, &mode, &side);
        if (got < 2 || a < 0 || b < 0) return "EYEM";
        if (b > kMaxGestureCount) return "EYEM";
        if (!IsSide(side)) return "EYEM, Choices (*,*,*,?)set must be R(r),L(l),B(b)";
        if (!mode || !strchr("AaCc", mode)) return "EYEM, Choices(*,*,?,*) set must be A(a),C(c)";
        return nullptr;
    }
    case 4: {
        std::string name;
        bool has;
        int n;
        NameAndNumber(v, &name, &has, &n);
        if (!has) return "TON(*,*) ?must be B(b),N(n)";
        if (n < 0) return "TON";
        return libraryIndex(tongueLib_, name) < 0 ? "TON(?,*,*) ?must be B(b),N(n)" : nullptr;
    }
    case 3: {
        const char *msg = "HGT=***,or (*,*,*) ***must be in the library";
        if (isdigit((unsigned char)v[0]) || v[0] == '+' || v[0] == '-') {
            int a, b, c;
            return sscanf(v.c_str(), "%d,%d,%d", &a, &b, &c) == 3 ? nullptr : msg;
        }
        if (libraryIndex(headLib_, v) >= 0) return nullptr;
        char letter;
        int count, ms;
        if (sscanf(v.c_str(), "%c,%d,%d", &letter, &count, &ms) != 3) return msg;
        if (count > kMaxGestureCount || ms > 3600000) return msg;
        int frames = (int)(ms * 0.001 * fps_);
        if (letter == 'Y' || letter == 'N' || letter == 'C') {
            headUnits_ += (letter == 'C' ? 8 : 2) * std::max(count, 0);
            return nullptr;
        }
        return count >= 1 && frames >= 1 ? nullptr : msg;
    }
    default: {
        std::string name;
        bool has;
        int n;
        NameAndNumber(v, &name, &has, &n);
        if (has && n < 0) return kind == 5 ? "BODY" : kind == 6 ? "END" : "POST";
        bool exists = kind == 7 ? gestureExists(name) : sequenceExists(name);
        return exists ? nullptr : "Macro must be in the lib";
    }
    }
}

bool BrovanaEngine::checkTags(int first, MarkupError *err) {
    static const int order[kTagKinds] = {0, 1, 2, 4, 3, 5, 6, 7};
    headUnits_ = 0;
    bodySwitch_ = postSwitch_ = false;
    for (int kind : order) {
        for (size_t e = first; e < columns_.size(); e++) {
            const std::string &v = columns_[e][kind];
            if (v.empty()) continue;
            if (kind == 5) bodySwitch_ = true;
            if (kind == 7) postSwitch_ = true;
            if (const char *msg = checkTagValue(kind, v)) {
                *err = MarkupError{msg, entryTags_[e].first, entryTags_[e].second};
                return true;
            }
        }
    }
    return false;
}

bool BrovanaEngine::prepMarkedText(const std::string &text, bool expressionOnly, MarkupError *err) {
    *err = MarkupError();
    dropMarkup();
    prepare(W_);
    loadLibraries();
    std::vector<MarkupWord> words;
    bool leading;
    if (splitMarkup(text, &words, &leading, err)) return true;
    int wordCount = (int)words.size() - (leading ? 1 : 0);
    if (wordCount != Wc_) {
        *err = MarkupError{"error in word count", -1, -1};
        return true;
    }
    return finishMarkup(words, leading, expressionOnly, -1, err);
}

// Columns, checks and tracks of the words' tags; entry autoBlinkEntry (when
// it exists) gets the automatic blink as its EYEB value.
bool BrovanaEngine::finishMarkup(const std::vector<MarkupWord> &words, bool leading, bool expressionOnly,
                                 int autoBlinkEntry, MarkupError *err) {
    columns_.assign(words.size(), {});
    entryTags_.assign(words.size(), {-1, -1});
    for (size_t e = 0; e < words.size(); e++) {
        parseTagValues(words[e], &columns_[e]);
        entryTags_[e] = {words[e].lt, words[e].gt};
        for (int k = 0; k < kTagKinds; k++)
            if (columns_[e][k].size() > kValueLimit[k]) {
                *err = MarkupError{std::string(kKeywords[k]).substr(0, strlen(kKeywords[k]) - 1) + " value too long",
                                   words[e].lt, words[e].gt};
                columns_.clear();
                return true;
            }
    }
    if (autoBlinkEntry >= 0 && autoBlinkEntry < (int)columns_.size()) columns_[autoBlinkEntry][1] = autoBlinkTag_;
    leadingTag_ = leading;
    if (checkTags(leading ? 1 : 0, err)) {
        columns_.clear();
        return true;
    }
    exprTrack_ = hgtOn_ = false;
    bool onlyLeading = leading && columns_.size() == 1;
    if (expressionOnly || onlyLeading) {
        applyInitialExpression();
        return false;
    }
    buildFetTrack();
    buildEyebTrack();
    buildEyemTrack();
    buildHgtTrack();
    buildTonTrack();
    // a leading body tag is not checked, but plays like the others
    if (leadingTag_ && !columns_.empty()) {
        bodySwitch_ = bodySwitch_ || !columns_[0][5].empty();
        postSwitch_ = postSwitch_ || !columns_[0][7].empty();
    }
    if (bodySwitch_ && ctype_ != 5) buildBodyTrack();
    if (postSwitch_ && ctype_ != 5) buildPostureTrack();
    markupTrack_ = true;
    return false;
}

bool BrovanaEngine::prepMarkedTextAutoBlink(bool expressionOnly, MarkupError *err) {
    *err = MarkupError();
    dropMarkup();
    std::vector<MarkupWord> words;
    words.swap(wordTags_);  // the preparation consumes the word tags
    seedRandom();
    float r = randomUnit();
    autoBlinkDrawn_ = (int)(r * (autoBlinkMax_ - autoBlinkMin_) + autoBlinkMin_);
    // the tracks are timed by the prepared words: phonemes still waiting
    // for prep have none
    if (!list_.empty()) {
        *err = MarkupError{"the phonemes are not prepared", -1, -1};
        return true;
    }
    if ((int)words.size() != Wc_ || (int)wordEnd_.size() < Wc_) {
        *err = MarkupError{"error in word count", -1, -1};
        return true;
    }
    return finishMarkup(words, false, expressionOnly, autoBlink_ ? autoBlinkDrawn_ - autoBlinkWord_ : -1, err);
}

char *BrovanaEngine::upperCase(char *text) {
    for (char *c = text; *c; c++)
        if (*c >= 'a' && *c <= 'z') *c = (char)(*c - 'a' + 'A');
    return text;
}

// The word of line that starts at or after from (blanks and tabs separate
// words); at points past it.
static std::string ScriptWord(const std::string &line, size_t from, size_t *at) {
    size_t b = line.find_first_not_of(" \t\r\n", std::min(from, line.size()));
    if (b == std::string::npos) {
        *at = line.size();
        return "";
    }
    size_t e = line.find_first_of(" \t\r\n", b);
    if (e == std::string::npos) e = line.size();
    *at = e;
    return line.substr(b, e - b);
}

bool BrovanaEngine::runScriptLine(const std::string &line, std::string *word, int *start, int *end,
                                  std::string *nextWord) {
    static const char *const kCharacters[5] = {"TAMSEL", "OBRIK", "KEFFA", "DUNMO", "BEXLO"};
    size_t p1, p2;
    std::string first = ScriptWord(line, 0, &p1);
    std::string second = ScriptWord(line, p1, &p2);
    std::string command = Upper(first);
    if (command != "CREATE") {
        *word = command;
        *start = 0;
        *end = (int)command.size();
        return true;
    }
    std::string name = Upper(second);
    int type = -1;
    for (int i = 0; i < 5; i++)
        if (name == kCharacters[i]) type = i;
    if (type < 0) {
        *word = name;
        *start += (int)first.size();
        *end = (int)name.size();
        return true;
    }
    if (!(modelLoaded_ && ctype_ == type)) {
        std::string dir = loadDir_;  // load replaces it
        load(type, dir.c_str());
    }
    // without a character (the load failed) there is nothing to prepare;
    // lastError() says why
    if (modelLoaded_) prepare(3);
    size_t p3;
    *nextWord = ScriptWord(line, p2, &p3);
    std::string next = Upper(*nextWord);
    if (next == "SPEAK") return false;
    *word = next;
    *start = (int)p2;
    *end = (int)(p2 + next.size());
    return true;
}

// Nothing the markup set outlives the next preparation or reset: the face
// returns to its own expression and the head to rest.
void BrovanaEngine::dropMarkup() {
    columns_.clear();
    entryTags_.clear();
    leadingTag_ = false;
    bool had = markupTrack_ || !mixSource_ || exprTrack_ || hgtOn_;
    bool posed = poseTrack_;
    markupTrack_ = exprTrack_ = hgtOn_ = eyeOn_ = secondOn_ = tongueTrack_ = poseTrack_ = seqPlaying_ = false;
    secondOdd_ = secondEven_ = true;
    curTon_[0] = curTon_[1] = -1;
    exprObjects_.clear();
    // the body goes back to the neutral pose it held before the tags
    if (posed && neutralPose_.size() == nodes_.size())
        for (size_t i = 0; i < nodes_.size(); i++)
            for (int k = 0; k < 3; k++) nodes_[i].rotation[k] = nodes_[i].pose[k] = neutralPose_[i][k];
    if (had) {
        mixSource_ = true;
        mixT_[0] = mixT_[1] = mixT_[2] = composed_;
        mixW_[0] = 1, mixW_[1] = mixW_[2] = 0;
        headAngles_[0] = headAngles_[1] = headAngles_[2] = 0;
    }
}

}  // namespace brovana

namespace brovana {

// ------------------------------------------------------------ tag tracks

void BrovanaEngine::applyParaEntry(int entry) {
    if (entry < 0 || entry >= (int)paraLib_.size()) return;
    applyParaValues(paraLib_[entry].values.data());
}

void BrovanaEngine::applyParaValues(const int L[44]) {
    static const int plain[] = {0, 1, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19,
                                20, 21, 22, 23, 25, 26, 27, 28, 29, 30, 31};
    for (int k : plain) E_[k] = L[k] * 0.01f;
    E_[2] = 2 * L[2] * 0.01f - 1;
    E_[24] = 2 * L[24] * 0.01f - 1;
    // storage order: sad, surprise, smile, fear, disgust, angry
    emo_[0] = L[32] * 0.02f, emo_[1] = L[33] * 0.02f, emo_[2] = L[34] * 0.02f;
    emo_[3] = L[35] * 0.02f, emo_[4] = L[36] * 0.011764706f, emo_[5] = L[37] * 0.02f;
    for (int g = 0; g < 6; g++) gates_[g] = L[38 + g];
}

// Makes expression object k from the library entry of key k; the face's
// own expression values are kept.
void BrovanaEngine::composeLibraryExpressions() {
    float E[32], emo[6];
    int gates[6];
    memcpy(E, E_, sizeof E), memcpy(emo, emo_, sizeof emo), memcpy(gates, gates_, sizeof gates);
    exprObjects_.clear();
    for (int entry : keyEntries_) {
        // a key without an entry is the rest expression
        memset(E_, 0, sizeof E_), memset(emo_, 0, sizeof emo_);
        for (int &g : gates_) g = 1;
        applyParaEntry(entry);
        int at = composeExpression(0);
        exprObjects_.emplace_back(new MeshObject(*objects_[at]));
    }
    memcpy(E_, E, sizeof E), memcpy(emo_, emo, sizeof emo), memcpy(gates_, gates, sizeof gates);
    composed_ = composeExpression(0);
    mixSource_ = false;
}

// Key time of the word of entry e: the end of the word's last phoneme.
float BrovanaEngine::wordEndTime(int word) const {
    if (word < 0 || word >= Wc_) return 0;
    float t = 0;
    for (int i = 0; i <= wordEnd_[word] && i < N_; i++) t += durs_[i];
    return t;
}

void BrovanaEngine::buildFetTrack() {
    const int first = leadingTag_ ? 1 : 0, count = (int)columns_.size();
    int neut = libraryIndex(paraLib_, "NEUT");
    std::vector<float> times(1, 0.0f);
    keyEntries_.assign(1, neut);
    // A leading value that names no entry starts at rest like no value.
    if (leadingTag_ && libraryIndex(paraLib_, columns_[0][0]) >= 0) keyEntries_[0] = libraryIndex(paraLib_, columns_[0][0]);
    for (int e = first; e < count; e++)
        if (!columns_[e][0].empty()) {
            times.push_back(wordEndTime(e - first));
            keyEntries_.push_back(libraryIndex(paraLib_, columns_[e][0]));
        }
    if (count > first && columns_[count - 1][0].empty()) {
        times.push_back(wordEndTime(count - 1 - first));
        keyEntries_.push_back(neut);
    }
    exprTrack_ = false;
    if (times.size() < 2 || F_ == 0) return;
    std::vector<int> ordinals(times.size());
    for (size_t k = 0; k < ordinals.size(); k++) ordinals[k] = (int)k;
    std::vector<float> zero(times.size(), 0.0f);
    for (int k = 0; k < 3; k++) fetKey_[k].assign(F_, 0), fetWeight_[k].assign(F_, k == 0 ? 1.0f : 0.0f);
    int *keys[3] = {fetKey_[0].data(), fetKey_[1].data(), fetKey_[2].data()};
    float *weights[3] = {fetWeight_[0].data(), fetWeight_[1].data(), fetWeight_[2].data()};
    sampleFetKeys(F_, 1000.0f / fps_, zero.data(), zero.data(), zero.data(), (int)times.size(), times.data(),
                  ordinals.data(), keys, weights, 1);
    composeLibraryExpressions();
    exprTrack_ = true;
}

void BrovanaEngine::buildHgtTrack() {
    static const int nod[2][3] = {{20, 0, 0}, {0, 0, 0}};
    static const int shake[2][3] = {{0, 0, 30}, {0, 0, -30}};
    static const int circle[8][3] = {{-25, 0, 0}, {-19, 0, 37}, {0, 0, 30},  {20, 0, 23},
                                     {26, 0, 0},  {20, 0, -23}, {0, 0, -23}, {-22, 0, -25}};
    const int first = leadingTag_ ? 1 : 0, count = (int)columns_.size();
    const float step = 1000.0f / fps_;
    std::vector<float> times;
    std::vector<std::array<int, 3>> angles;
    auto key = [&](float t, int a, int b, int c) { times.push_back(t), angles.push_back({a, b, c}); };
    // The first key: at rest, or the three angles of a leading value.
    std::array<int, 3> lead = {0, 0, 0};
    if (leadingTag_ && !columns_[0][3].empty()) {
        const std::string &v = columns_[0][3];
        int i = libraryIndex(headLib_, v);
        if (i >= 0) lead = {headLib_[i].values[0] - 90, headLib_[i].values[1] - 90, headLib_[i].values[2] - 90};
        else if (isdigit((unsigned char)v[0]) || v[0] == '+' || v[0] == '-')
            sscanf(v.c_str(), "%d,%d,%d", &lead[0], &lead[1], &lead[2]);
    }
    key(0, lead[0], lead[1], lead[2]);
    for (int e = first; e < count; e++) {
        const std::string &v = columns_[e][3];
        if (v.empty()) continue;
        float t = wordEndTime(e - first);
        int a = 0, b = 0, c = 0, lib = libraryIndex(headLib_, v);
        char letter = 0;
        int reps = 0, ms = 0;
        if (isdigit((unsigned char)v[0]) || v[0] == '+' || v[0] == '-') {
            sscanf(v.c_str(), "%d,%d,%d", &a, &b, &c);
            key(t, a, b, c);
        } else if (lib >= 0) {
            key(t, headLib_[lib].values[0] - 90, headLib_[lib].values[1] - 90, headLib_[lib].values[2] - 90);
        } else if (sscanf(v.c_str(), "%c,%d,%d", &letter, &reps, &ms) == 3 && strchr("YNC", letter) && reps >= 1) {
            float sigma = (int)(ms * 0.001 * fps_) * step;
            const int(*pat)[3] = letter == 'Y' ? nod : letter == 'N' ? shake : circle;
            int n = letter == 'C' ? 8 : 2;
            for (int r = 0; r < reps; r++)
                for (int k = 0; k < n; k++, t += sigma) key(t, pat[k][0], pat[k][1], pat[k][2]);
            if (letter == 'N') key(t - sigma / 2, 0, 0, 0);
            if (letter == 'C') key(t, 0, 0, 0);
        } else {
            key(t, 0, 0, 0);  // a gesture the table does not know holds the head still
        }
    }
    hgtOn_ = false;
    if (times.size() < 2 || F_ == 0) return;
    if (count > first && columns_[count - 1][3].empty()) key(wordEndTime(count - 1 - first), 0, 0, 0);
    std::vector<float> zero(times.size(), 0.0f);
    std::vector<const int *> values(times.size());
    for (size_t k = 0; k < times.size(); k++) values[k] = angles[k].data();
    for (auto &t : hgtTrack_) t.assign(F_, 0.0f);
    float *out[3] = {hgtTrack_[0].data(), hgtTrack_[1].data(), hgtTrack_[2].data()};
    sampleHeadKeys(F_, step, zero.data(), zero.data(), zero.data(), (int)times.size(), times.data(), values.data(),
                   out, 3, 1);
    hgtOn_ = true;
}

void BrovanaEngine::applyInitialExpression() {
    if (!columns_.empty() && leadingTag_) {
        int i = libraryIndex(paraLib_, columns_[0][0]);
        if (i >= 0) {
            applyParaEntry(i);
            refreshExpression();
            useComposedExpression();
        }
    }
    curW_ = std::max(curW_, 4);
    for (int s = 0; s < 5 && s < kWindowRoom; s++) {
        curTargets_[s] = slots_[6];  // the neutral slot
        curRows_[s] = 0;
        curLip_[s] = curTongue_[s] = s == 0 ? 1.0f : 0.0f;
    }
}

void BrovanaEngine::selectTagFrame(int n) {
    if (exprTrack_ && n < (int)fetKey_[0].size()) {
        for (int k = 0; k < 3; k++) {
            int key = fetKey_[k][n];
            mixT_[k] = key >= 0 && key < (int)exprObjects_.size() ? key : 0;
            mixW_[k] = fetWeight_[k][n];
        }
        mixSource_ = false;
    }
    if (eyeOn_ && n < (int)eybSide_.size()) {
        int sd = eybSide_[n];
        for (int k = 0; k < 2; k++) {
            eyeT_[k] = sd < 0 ? 0 : eybTarget_[k][n];
            eyeW_[k] = eybWeight_[k][n];
        }
        eyeOdd_ = sd == 0 || sd == 1;
        eyeEven_ = sd == 0 || sd == 2;
    }
    if (hgtOn_ && !headFreeze_ && n < (int)hgtTrack_[0].size())
        for (int k = 0; k < 3; k++) headAngles_[k] = hgtTrack_[k][n];
    if (secondOn_ && n < (int)emSide_.size()) {
        for (int k = 0; k < 2; k++) secondT_[k] = emTarget_[k][n], secondW_[k] = emWeight_[k][n];
        int sd = emSide_[n];
        if (sd >= 0 && sd <= 2) secondOdd_ = sd != 2, secondEven_ = sd != 1;
    }
    if (tongueTrack_ && ctype_ <= 4 && n < (int)tonEntry_[0].size())
        for (int k = 0; k < 2; k++) curTon_[k] = tonEntry_[k][n], curTonW_[k] = tonWeight_[k][n];
}

}  // namespace brovana

namespace brovana {

static int SideCode(char c) {
    switch (c) {
    case 'B': case 'b': return 0;
    case 'R': case 'r': return 1;
    case 'L': case 'l': return 2;
    default: return -1;
    }
}

void BrovanaEngine::buildEyebTrack() {
    const int first = leadingTag_ ? 1 : 0, count = (int)columns_.size();
    const float step = 1000.0f / fps_;
    struct Key {
        float t, h;
        int side;
        bool blink;
    };
    std::vector<Key> keys;
    for (int e = first; e < count; e++) {
        const std::string &v = columns_[e][1];
        int c = 0;
        char side = 0;
        if (v.empty() || sscanf(v.c_str(), "%d,%c", &c, &side) != 2) continue;
        keys.push_back({wordEndTime(e - first), c * step, SideCode(side), true});
    }
    eyeOn_ = false;
    if (keys.empty() || F_ == 0) return;
    if (count > first && columns_[count - 1][1].empty()) keys.push_back({wordEndTime(count - 1 - first), 0, 0, false});
    const int neutral = slots_[6], blink = slots_[20];
    std::vector<float> knot;
    std::vector<int> target, side;
    auto add = [&](float t, int tg, int s) { knot.push_back(t), target.push_back(tg), side.push_back(s); };
    int leadSide = -1;
    char c = 0;
    int n = 0;
    bool lead = leadingTag_ && sscanf(columns_[0][1].c_str(), "%d,%c", &n, &c) == 2;
    if (lead) leadSide = SideCode(c);
    for (int k = 0; k < 2; k++) add(0, lead ? blink : neutral, leadSide);
    for (const Key &k : keys) {
        if (k.blink) {
            add(std::max(k.t - k.h, 0.0f), neutral, k.side);
            add(k.t, blink, k.side);
            add(std::min(k.t + k.h, duration_), neutral, -1);
        } else {
            add(k.t, neutral, k.side);
        }
    }
    add(knot.back(), target.back(), side.back());
    for (int k = 0; k < 2; k++) eybTarget_[k].assign(F_, neutral), eybWeight_[k].assign(F_, k == 0 ? 1.0f : 0.0f);
    eybSide_.assign(F_, -1);
    size_t j = 1;
    for (int f = 0; f < F_; f++) {
        float tau = f * step;
        while (j + 1 < knot.size() - 1 && !(knot[j] <= tau && tau < knot[j + 1])) {
            if (tau < knot[j]) break;
            j++;
        }
        if (!(knot[j] <= tau && tau < knot[j + 1])) continue;
        float span = knot[j + 1] - knot[j];
        eybTarget_[0][f] = target[j], eybTarget_[1][f] = target[j + 1];
        eybWeight_[0][f] = (knot[j + 1] - tau) / span, eybWeight_[1][f] = (tau - knot[j]) / span;
        eybSide_[f] = side[j];
    }
    eyeOn_ = true;
}

}  // namespace brovana
