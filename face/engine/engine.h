// The face engine: the whole state of one talking-face view.
//
// What callers rely on:
//  - One engine per face object, used on one thread.  load() reads a
//    character from DIR/Models/...; file names are found without regard to
//    letter case and "\" or "/" may separate path parts.
//  - Utterances: reset(), addPhoneme() per phoneme, prep(), then showFrame(n)
//    for n = 0, 1, ... while n < frameCount() - 1; duration() is in ms.
//  - Drawing needs a current OpenGL context and setGlEnabled(true); without
//    it every operation that would call OpenGL skips that part, so the pure
//    computation can run and be tested without a display.
//  - Character files are checked as they are read: a count or index that does
//    not fit fails the load with a message (lastError()) instead of reading
//    outside an array; the engine then holds no character and stays usable.
//
// Choices made here: random numbers come from a per-engine 15-bit generator
// (seedRandom() takes the time; seedRandomWith() is for tests); shininess and
// spot cut-offs are clamped to what OpenGL accepts when they are applied; a
// zero-length speech segment has no dominance; an empty phoneme list prepares
// zero frames.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace brovana {

struct Material {
    float ambient[4] = {0, 0, 0, 1};
    float diffuse[4] = {0, 0, 0, 1};
    float specular[4] = {0, 0, 0, 1};
    float shininess = 0;
};

struct LightRecord {
    std::string name;
    float position[4] = {0, 0, 0, 1};
    float target[4] = {0, 0, 0, 1};
    float color[4] = {0, 0, 0, 0};
    float firstAngle = 0, coneAngle = 0;
};

// One object of a loaded model.  Object 0 carries the topology that every
// object shares (faces, texture coordinates, materials, lights).
struct MeshObject {
    std::string name;
    int V = 0, F = 0, T = 0;
    std::vector<float> x, y, z;
    std::vector<float> normals;  // 3 per vertex
    float centroid[3] = {0, 0, 0};
    // object 0 only
    std::vector<int> fa, fb, fc, fmat;
    std::vector<float> u, v;
    std::vector<int> ta, tb, tc;
    std::vector<Material> materials;
    float header[8] = {0};
    LightRecord lights[4];
    std::vector<std::vector<int>> partLists;  // triangle indices per material
    std::vector<std::vector<char>> keep;
    std::vector<char> headVertex;
    std::vector<int> weldSlot;
};

struct TextureImage {
    int width = 0, height = 0;
    std::vector<unsigned char> pixels;  // BGR rows
    bool read(const std::string &path);
    void freePixels() { pixels.clear(); pixels.shrink_to_fit(); }
};

struct TongueModel {
    int vertexCount = 0, triangleCount = 0;
    std::vector<float> x, y, z;
    std::vector<int> a, b, c;
    float landmarks[6][3] = {{0}};
    std::vector<float> placed;  // 3 per vertex, after the last placement
    // 0 when the file does not open or does not fit (fewer than 193 vertices,
    // a corner index outside the mesh): such a tongue is never drawn.
    int read(const std::string &path);
    bool usable() const { return vertexCount >= 193; }
    // Places the 193 banded vertices and averages the normals (pure).
    void place(const float yOff[9], const float zOff[9], const float tip[3], const float body[3],
               const float tr[3], std::vector<float> *normals);
    // Air-stream arcs out of the mouth (oral) or the nose (nasal), from the
    // landmarks of the last placement; fraction 0..1 runs each arc from its
    // start to its end, growing.  The placement of arc k (1..5) is pure:
    static void lerpArc(const float start[3], const float end[3], float fraction, float r0, float r1, float d0,
                        float d1, float pos[3], float *radius, float *divisor);
    void arcPlacement(int k, float fraction, bool nasal, float pos[3], float *radius, float *divisor) const;
    // Points (x, y, z) of one arc in the y-z plane, from angle 0 to one step
    // past degrees; no points when segments is not positive.
    static std::vector<float> arcPoints(float radius, float segments, float degrees);
    void drawArcs(float fraction, bool nasal) const;  // needs an OpenGL context
    void drawOralArcs(float fraction) const { drawArcs(fraction, false); }
    void drawNasalArcs(float fraction) const { drawArcs(fraction, true); }
    static void drawArcAt(float x, float y, float z, float radius, float widthDivisor);
    static void drawArc(float radius, float lineWidth, float segments, float degrees);
    // Places the tongue and draws it in tongue material 0 to 4 (needs an
    // OpenGL context); drawTransformed resets the modelview matrix and passes
    // every placed corner through m (column-major, with the w divide).
    void draw(const float yOff[9], const float zOff[9], const float tip[3], const float body[3], const float tr[3],
              int material);
    void drawTransformed(const float yOff[9], const float zOff[9], const float tip[3], const float body[3],
                         const float tr[3], const float m[16]);
    static void setMaterial(int material);
    // Unit cross product of two edges; a zero-length one stays unscaled.
    static void faceNormal(const float e1[3], const float e2[3], float out[3]);
    // To unit length in place; a zero vector stays zero.
    static void normalize(float *x, float *y, float *z);
    // Scales the rest mesh about the origin by s, then shifts it.
    void scaleAndShift(double s, double dx, double dy, double dz);

private:
    // The placed triangles, each corner through m (column-major) when given.
    void drawPlaced(const std::vector<float> &normals, const float *m) const;
};

// An expression-library entry in the order an editing tool shows its values.
struct ParaEditRecord {
    int r[44] = {0};
};

struct BodyNode {
    std::string name, parent;
    int V = 0, F = 0, T = 0;
    std::vector<float> rx, ry, rz;  // rest positions
    std::vector<int> fa, fb, fc, selector;
    std::vector<float> u1, v1, u2, v2;
    std::vector<int> ta, tb, tc;
    std::vector<float> restNormal, curNormal;  // 3 per vertex
    std::vector<float> dx, dy, dz;             // deformed positions
    bool untextured = true;
    float pivot[3] = {0, 0, 0};
    float rotation[3] = {0, 0, 0};
    float pose[3] = {0, 0, 0};
    float keys[10][3] = {{0}};
    std::vector<int> boneIndex;
    float matrix[16];
};

// A matrix of 16 floats in OpenGL's column-major order.
struct Mat4 {
    float m[16];
    static Mat4 identity();
    static Mat4 translate(float x, float y, float z);
    static Mat4 rotate(float degrees, float x, float y, float z);  // as glRotatef
    Mat4 operator*(const Mat4 &o) const;
    void apply(float x, float y, float z, float *ox, float *oy, float *oz) const;  // with w divide
};

// One recorded context of the 15-parameter face: coefficient vectors at
// ascending time marks, and the time where the first phoneme ends.
struct PacomRecord {
    std::vector<float> marks;
    float boundary = 0;
    std::vector<float> coef;  // marks.size() x 15
};

// One recorded utterance of the 38-parameter face: phoneme boundaries and
// coefficient samples, all in sample units.
struct BetaRecord {
    int reserved = 0;
    std::vector<float> marks;    // phonemes + 1
    std::vector<float> pos;      // per sample
    std::vector<float> samples;  // per sample, 38 values
};

// A stretch of the utterance's codes [first, last) found in one corpus
// entry at [start, end); entry -1 when no entry holds it.
struct CorpusSegment {
    int first = 0, last = 0;
    int entry = -1, start = -1, end = -1;
};

// Markup: the eight tag kinds in column order FET, EYEB, EYEM, HGT, TON,
// BODY, END, POST.
constexpr int kTagKinds = 8;
struct MarkupError {
    std::string message;
    int start = -1, end = -1;  // byte offsets of the tag's "<" and ">"
};
struct MarkupWord {
    std::string word, tag;  // word empty for a tag before the first word
    bool hasTag = false;
    int lt = -1, gt = -1, wordStart = -1;
};
struct LibraryEntry {
    std::string name;
    std::vector<int> values;
};

// Decoding of the load type (0..13).
struct CharacterKind {
    int type = 0;
    bool hair = false, adapted = false;
};
bool DecodeLoadType(int loadType, CharacterKind *out);

class BrovanaEngine {
public:
    static constexpr int kSlots = 22;
    static constexpr int kWindowRoom = 12;
    static constexpr int kImageCount = 18;

    BrovanaEngine();
    ~BrovanaEngine();
    BrovanaEngine(const BrovanaEngine &) = delete;
    BrovanaEngine &operator=(const BrovanaEngine &) = delete;

    // --- lifecycle and setters
    bool load(int type, const char *dir);
    const std::string &lastError() const { return error_; }
    bool loaded() const { return modelLoaded_; }
    void freeModel();
    void setGlEnabled(bool on) { gl_ = on; }
    void setFrameRate(int fps) { fps_ = fps; }
    int frameRate() const { return fps_; }
    float duration() const { return duration_; }
    void setViewport(int x0, int y0, int w, int h) { vpW_ = w; vpH_ = h; }
    void setPerspective(float fovy, float aspect, float nearZ, float farZ);
    void setViewpoint(double ex, double ey, double ez, double cx, double cy, double cz);
    void setEyeblink(int mode) { eyeblink_ = mode != 0; }
    void setExpression(int mode) { expression_ = mode != 0; }
    void setPupil(int mode) { pupil_ = mode != 0; }
    void setAutoBlink(bool on) { autoBlink_ = on; autoBlinkWord_ = 0; }
    void setAutoBlinkWords(int lo, int hi) { autoBlinkMin_ = lo; autoBlinkMax_ = hi; }
    void setAutoBlinkCount(int count);
    int autoBlinkCount() const;
    const std::string &autoBlinkTag() const { return autoBlinkTag_; }
    void reset();
    void prep();
    // Frees the character and the tracks (types 0 to 4 and 7 also the
    // tongue); resetState then returns the bookkeeping to the construction
    // values.  No command reaches either.
    void unload();
    void resetState();
    static bool containsKey(int key, int count, const int *values);
    static const char *arpabetToWorldbet(const char *symbol);

    // --- phoneme list
    void addPhoneme(const char *symbol, float durationMs, const char *word, bool spanish);
    bool mergeClosure(std::string &symbol, float durationMs);
    void appendPhoneme(const std::string &symbol, float durationMs, const std::string &word);
    void buildPhonemeArrays();
    void freePhonemeData();
    static int phonemeRow(const char *symbol);
    static const char *phonemeSymbol(int row);  // null outside the table
    static const char *safeNameAt(int i);       // null outside the table
    int phonemeCount() const { return N_; }
    int wordCount() const { return Wc_; }
    const std::vector<std::string> &names() const { return names_; }
    const std::vector<float> &durations() const { return durs_; }
    const std::vector<int> &wordStart() const { return wordStart_; }
    const std::vector<int> &wordEnd() const { return wordEnd_; }
    int pendingPhonemes() const { return (int)list_.size(); }

    // --- lip-sync tracks
    void prepare(int window);
    int planSegments(int window);
    int planWordSegments(int first, int last, int window);
    int expandSegments(std::vector<std::string> *names, std::vector<float> *times);
    void computeFrameTracks(int window);
    float lipDominance(int row, int k, float t, const float *times, int n) const;
    float tongueDominance(int row, int k, float t, const float *times, int n) const;
    int frameCount() const { return F_; }
    void selectFrame(int n);
    // Body pose tracks (filled with the neutral pose at every preparation;
    // the markup's tags would write them): value of node i, axis k, frame f.
    float bodyTrack(int i, int k, int f) const { return bodyTrack_[i][k][f]; }
    float postureTrack(int i, int k, int f) const { return postureTrack_[i][k][f]; }
    void allocFrameTracks();
    void freePoseTracks();
    void selectPoseFrame(int n);
    const std::vector<std::string> &segmentNames() const { return segNames_; }
    const std::vector<float> &segmentTimes() const { return segTimes_; }
    // frame f, slot s of the window tracks
    int trackRow(int s, int f) const { return trRow_[s][f]; }
    int trackTarget(int s, int f) const { return trTarget_[s][f]; }
    float trackLip(int s, int f) const { return trLip_[s][f]; }
    float trackTongue(int s, int f) const { return trTongue_[s][f]; }
    int windowSize() const { return W_; }
    int currentWindow() const { return curW_; }
    const int *currentTargets() const { return curTargets_; }
    const int *currentRows() const { return curRows_; }
    const float *currentLip() const { return curLip_; }
    const float *currentTongue() const { return curTongue_; }

    // --- morph-target face
    int findVisemeTarget(int row);
    void bindTargets();
    int slot(int k) const { return slots_[k]; }
    void evalVisemeVertex(int W, const int *targets, int v, float *x, float *y, float *z) const;
    void evalBasisVertex(int v, float *x, float *y, float *z) const;
    void updateFaceVertices(const int *targets, int W);
    void restMouth();
    // The rest face without the lip-sync window; then resetExpressionState,
    // which drops what the tag tracks drive (always true).  No caller.
    void resetFaceState();
    bool resetExpressionState();
    void lerpTargetShapes(int count, float a, int out, int target, int base);
    void measureNeutralTarget(float *span, int *low, int *high);
    int objectCount() const { return nObjects_; }
    const MeshObject *object(int i) const { return i >= 0 && i < (int)objects_.size() ? objects_[i].get() : nullptr; }
    int evaluatedFace() const { return evalIndex_; }
    int regionCode(int v) const { return comps_[0].empty() ? 0 : comps_[0][v]; }
    const std::vector<int> &faceVertices() const { return faceVerts_; }
    const std::vector<int> &vertexMap() const { return vertexMap_; }
    const MeshObject &hair() const { return hair_; }
    int characterType() const { return ctype_; }
    bool hairFlag() const { return kind_.hair; }
    bool adaptedFlag() const { return kind_.adapted; }
    float *coefficients15() { return coef15_; }
    std::vector<float> &coefficients38() { return coef38_; }

    // --- parametric mouths: coefficient tracks of types 8 and 9
    static constexpr int kContextPairs = 289;
    static constexpr int kCorpusEntries = 1274;
    bool readTwomap(const std::string &modelsDir);
    bool readPacomN(const std::string &modelsDir);
    bool readPhonemeSets(const std::string &modelsDir);
    bool readBeta(const std::string &modelsDir);
    void copyPhonemeNames();
    void prepContextModel();
    void prepTrajectoryModel();
    static int contextClass(int row);
    static float easeOut(float x);
    // Linear interpolation of count values at x between the marks; x outside
    // them takes the nearest end.  False (out unchanged) below two marks.
    static bool interpolateKeys(const float *marks, int n, const float *coef, int count, float x, float *out);
    // The last recorded context of the class pair; null when none.
    const PacomRecord *lookupContext(int c1, int c2) const;
    void smoothCoefficients(int level);
    static void smoothTrack(std::vector<double> *x, const std::vector<int> &tags, int T);
    // Reduced and merged code forms; false at a character outside the 43 codes.
    static bool toSet1Codes(const std::string &codes, std::string *out);
    static bool toSet2Codes(const std::string &codes, std::string *out);
    static std::vector<CorpusSegment> matchPhonemeSets(const std::string &codes, const std::vector<std::string> &set1,
                                                       const std::vector<std::string> &set2);
    // Codes of the model list; a codeless entry gives its time to the coded
    // entry before it (the first coded one when it leads).
    void encodePhonemes(std::string *codes, std::vector<float> *durations) const;
    void sampleBetaRecord(float *out, float position, int entry) const;
    void buildTrajectories(const std::vector<CorpusSegment> &segs, const std::vector<float> &durations);
    void trajectoryWeights();
    int coefficientFrames() const { return coefT_; }
    const std::vector<std::vector<double>> &coefficientTracks() const { return coefTracks_; }
    const std::vector<int> &frameTags() const { return frameTags_; }
    const std::vector<std::string> &modelNames() const { return modelNames_; }
    const std::vector<float> &modelDurations() const { return modelDurs_; }
    const std::vector<CorpusSegment> &lastSegments() const { return segments_; }

    // --- markup
    // Prepares the phonemes with the tags of text; true on an error (err
    // says which), after which the utterance stays prepared without tags.
    bool prepMarkedText(const std::string &text, bool expressionOnly, MarkupError *err);
    static bool parseMarkedText(const std::string &text, std::string *plain, MarkupError *err);
    static bool splitMarkup(const std::string &text, std::vector<MarkupWord> *words, bool *leading,
                            MarkupError *err);
    static void parseTagValues(const MarkupWord &w, std::array<std::string, kTagKinds> *values);
    void loadLibraries();
    // Phonemes with the markup's tags given word by word (no closure merge);
    // prepMarkedTextAutoBlink then prepares them with those tags and, when
    // the automatic blink is on, a blink on a word drawn at random.
    void addTaggedPhoneme(const char *symbol, float durationMs, const char *word, const char *tag, bool spanish);
    void appendTaggedPhoneme(const std::string &symbol, float durationMs, const std::string &word,
                             const char *tag);
    bool prepMarkedTextAutoBlink(bool expressionOnly, MarkupError *err);
    int lastAutoBlinkWord() const { return autoBlinkDrawn_; }
    bool autoBlinkOn() const { return autoBlink_; }
    int autoBlinkMinWord() const { return autoBlinkMin_; }
    int autoBlinkMaxWord() const { return autoBlinkMax_; }
    // One line of the script language ("CREATE name ... SPEAK"): false when
    // the line asks to speak; word, start and end name what was read.
    bool runScriptLine(const std::string &line, std::string *word, int *start, int *end, std::string *nextWord);
    static char *upperCase(char *text);
    // Appends text (and a newline when newline > 0) to "procedurem.txt" in
    // the current directory; no command reaches it.
    static void logProcedure(const char *text, int newline);

    // --- macro libraries ("Lib/Para.lib", "Lib/TonguePara.lib", "Lib/Head.lib")
    void readParaLib(const std::string &path);
    void readTongueParaLib(const std::string &path);
    void readHeadLib(const std::string &path);
    void freeParaLib() { paraLib_.clear(); }
    void freeTongueParaLib() { tongueLib_.clear(); }
    void freeHeadLib() { headLib_.clear(); }
    int paraLibCount() const { return (int)paraLib_.size(); }
    int tongueParaLibCount() const { return (int)tongueLib_.size(); }
    int headLibCount() const { return (int)headLib_.size(); }
    std::string paraLibName(int i) const;
    std::string tongueParaLibName(int i) const;
    std::string headLibName(int i) const;
    ParaEditRecord *paraLibValues(int i, ParaEditRecord *out) const;
    const int *tongueParaLibValues(int i) const;
    int *headLibAngles(int i, int out[3]) const;
    // Writers rewrite the file and read it back; false when nothing was
    // written (a name that is empty, over 19 characters or holds a blank,
    // an index out of range, a file that cannot be written).
    bool appendParaLibEntry(const std::string &name, const ParaEditRecord &record);
    bool replaceParaLibEntry(int i, const ParaEditRecord &record);
    bool deleteParaLibEntry(int i);
    static void writeParaEntry(FILE *f, const std::string &name, const ParaEditRecord &record);
    bool appendTongueParaLibEntry(const std::string &name, const int values[24]);
    bool replaceTongueParaLibEntry(int i, const int values[24]);
    bool deleteTongueParaLibEntry(int i);
    bool appendHeadLibEntry(const std::string &name, const int angles[3]);
    bool replaceHeadLibEntry(int i, const int angles[3]);
    bool deleteHeadLibEntry(int i);
    // Setters that put an edited record straight on the face.
    void setFaceParameters(const ParaEditRecord &record);
    void setEmotions(const int values[6]);
    void setEyelids(int v);
    void setEyeDirections(const int values[4]);
    void setHeadAngles(const int *angles);
    bool applyTongueParaEntry(const int values[24]);
    void applyHeadEntry(int row);
    bool tongueRestFlag() const { return tongueRestFlag_; }
    const float *expressionValues() const { return E_; }
    const float *emotionWeights() const { return emo_; }  // sad, surprise, smile, fear, disgust, angry
    const int *expressionGates() const { return gates_; }
    const float *headAngles() const { return headAngles_; }
    static int libraryIndex(const std::vector<LibraryEntry> &lib, const std::string &name);
    const std::vector<LibraryEntry> &paraLibrary() const { return paraLib_; }
    const std::vector<LibraryEntry> &tongueLibrary() const { return tongueLib_; }
    const std::vector<LibraryEntry> &headLibrary() const { return headLib_; }
    bool gestureExists(const std::string &name) const;
    bool sequenceExists(const std::string &name) const;
    const char *checkTagValue(int kind, const std::string &value);
    bool checkTags(int first, MarkupError *err);
    const std::vector<std::array<std::string, kTagKinds>> &tagColumns() const { return columns_; }
    bool leadingTag() const { return leadingTag_; }
    int headGestureUnits() const { return headUnits_; }
    bool bodySwitch() const { return bodySwitch_; }
    bool postSwitch() const { return postSwitch_; }
    void dropMarkup();
    void applyParaEntry(int entry);
    void applyParaValues(const int L[44]);
    void composeLibraryExpressions();
    float wordEndTime(int word) const;
    void buildFetTrack();
    void buildHgtTrack();
    void buildEyebTrack();
    bool eyePairOn() const { return eyeOn_; }
    int blinkTarget(int k, int f) const { return eybTarget_[k][f]; }
    float blinkWeight(int k, int f) const { return eybWeight_[k][f]; }
    int blinkSide(int f) const { return eybSide_[f]; }
    void applyInitialExpression();
    void selectTagFrame(int n);
    bool expressionTrackOn() const { return exprTrack_; }
    bool headGestureTrackOn() const { return hgtOn_; }
    const std::vector<int> &expressionKeyEntries() const { return keyEntries_; }
    float headGestureAngle(int k, int f) const { return hgtTrack_[k][f]; }
    bool markupTrackOn() const { return markupTrack_; }
    // Eye rolls: second-pair tracks (targets, weights, side) per frame.
    void buildEyemTrack();
    void fillEyemKeys(int ramp, float *w0, float *w1, int *t0, int *t1, int revolutionFrames, int revolutions,
                      bool reverse) const;
    bool secondPairOn() const { return secondOn_; }
    int rollTarget(int k, int f) const { return emTarget_[k][f]; }
    float rollWeight(int k, int f) const { return emWeight_[k][f]; }
    int rollSide(int f) const { return emSide_[f]; }
    // Tongue shapes from the tongue library: pair of entries (-1 = rest).
    void buildTonTrack();
    bool tongueTrackOn() const { return tongueTrack_; }
    int tongueKeyEntry(int k, int f) const { return tonEntry_[k][f]; }
    float tongueKeyWeight(int k, int f) const { return tonWeight_[k][f]; }
    // The 18-value placement of the tongue as drawn now: yOff[9], zOff[9],
    // tip[3], body[3], translate[3] from the window, or on the markup path
    // the library shape blended with the base shape (types 0 to 4 only).
    void tongueDrawShape(float yOff[9], float zOff[9], float tip[3], float body[3], float tr[3]) const;
    void tongueBaseShape(const float S[18], float yOff[9], float zOff[9], float tip[3], float body[3],
                         float tr[3]) const;
    // false when the rest shape has no factors for the character type.
    bool tongueRestShape(int entry, float yOff[9], float zOff[9], float tip[3], float body[3], float tr[3]) const;
    bool tongueRestShapeFrom(const float LA[9], const float LB[9], const float LC[3], const float LD[3],
                             float yOff[9], float zOff[9], float tip[3], float body[3], float tr[3]) const;
    // Air-stream arcs drawn with the tongue: off until a host turns them on.
    // Whether the tongue drawn now gets arcs, how far along and which.
    void setTongueArcs(bool on, bool gate) { arcSwitch_ = on, arcGate_ = gate; }
    void setArcPhoneme(int row, float elapsedMs) { arcRow_ = row, arcElapsed_ = elapsedMs; }
    bool tongueArcs(float *fraction, bool *nasal) const;
    const int *currentTongueEntries() const { return curTon_; }
    const float *currentTongueWeights() const { return curTonW_; }
    // Body tags: posture (POST) and body sequence (BODY) tracks.
    void buildPostureTrack();
    void buildBodyTrack();
    void readPoseAsKey(const std::string &path);
    bool poseTrackOn() const { return poseTrack_; }

    // --- gesture, hand-shape and sequence libraries (Models/obriksign,
    // obrikhandshape, obrikkeyframe); listings sorted without regard to case
    std::vector<std::string> libraryListing(const char *dir, const char *ext) const;
    std::string libraryPath(const char *dir, const std::string &file) const;
    int gestureCount() const { return (int)libraryListing("obriksign", ".ges").size(); }
    std::string gestureName(int n) const;
    int gestureIndex(const std::string &name) const;  // name with extension
    int handShapeCount() const { return (int)libraryListing("obrikhandshape", ".ges").size(); }
    std::string handShapeName(int n) const;
    int sequenceCount() const { return (int)libraryListing("obrikkeyframe", ".sqe").size(); }
    std::string sequenceName(int n) const;
    bool saveGesture(const std::string &name);
    bool overwriteGesture(int n);
    int deleteGesture(int n);
    void loadGesture(int n, bool left, bool right, int body[60], int hand[45]);
    bool saveHandShape(const std::string &name);
    bool overwriteHandShape(int n);
    int deleteHandShape(int n);
    void loadHandShape(int n, bool left, bool right, int hand[45]);
    void applyHandShape(int shape, int amount, const bool finger[5]);
    void setBodyPose(const int r[60]);
    void getBodyPose(int r[60]) const;
    void setHandPose(const int r[45]);
    void getHandPose(int r[45]) const;
    void storePoseKey(int slot);
    void applyGesture(int key, int n);
    static int keySlot(int key);
    void loadSequence(int n, int gestures[10], int durations[10]) const;
    void writeSequence(const std::string &path, const int gestures[10], const int *durations) const;
    void saveSequence(const std::string &name, const int gestures[10], const int *durations) const;
    int deleteSequence(int n);
    // The BODY tag's reader: key count, durations and key table; false when
    // the file does not open (nothing changes then).
    bool readSequence(const std::string &path);
    void startSequence(int count, const int durations[10]);
    float buildSequenceTrack();
    void sequenceFrame(int frame);
    int sequenceKeyCount() const { return seqCount_; }
    const int *sequenceDurations() const { return seqDur_; }
    const float *sequenceKeyTimes() const { return seqTimes_; }
    int sequenceLength() const { return seqLength_; }
    const float *sequenceKey(int node, int key) const { return seqKeys_[node][key].data(); }

    // --- expressions and idle motion
    void setParameters(double p1, double p2, double p3, double p4, double p5, double p6);
    void refreshExpression();
    int composeExpression(int index);
    void expressionOffset(int v, float *dx, float *dy, float *dz) const;
    // Expression entry and head entry straight onto the face (either index
    // out of range is skipped).  No caller.
    void applyLibraryEntries(int entry, int row);
    // Gaze (no command reaches it): the eye targets blended into work object
    // n + 11 for a direction in degrees (0 right, 90 up, counter-clockwise);
    // the object's index, or 0 for angles outside 0 to 360.  The five work
    // objects the gaze needs are made at its first use.
    int setGaze(float degrees, float amount);
    int combineGaze(int firstSlot, int secondSlot, float amount, float radians);
    int blendEyeTarget(int slot, float a);  // slots 15 to 18; the object, or -1
    // Older compositions (no command reaches them): slot targets blended
    // toward neutral into work objects n + 12 + k (k 0 to 5; -1 otherwise),
    // summed as offsets into n + 18, whose index they answer (-1 without a
    // character).  The face form acts on even regions whose teeth values are
    // both 0, the emotion form on every region from 1; elsewhere neutral.
    int blendSlotTarget(int k, int slot, float a);
    int blendSlotTargetInPlace(int k, float a) { return blendSlotTarget(k, k, a); }
    int composeFaceTargets(const float w[6]);     // sneer right, left, "w", fear, surprise, disgust
    int composeEmotionTargets(const float w[6]);  // slots 0 to 5
    // The first two mix members and the eye pair at v, less neutral.
    void pairTargetOffset(int v, float out[3]) const;
    // p += a * (t.v - base.v) / b; nothing for b = 0 or an object or vertex
    // out of range.  The triangle form does it for three corners.
    void addTargetOffset(int v, int t, int base, int a, int b, float p[3]) const;
    void addTriangleTargetOffset(const int v[3], int t, int base, int a, int b, float p[3][3]) const;
    // The composed expression's offset from neutral at the three corners,
    // zero while the expression switch is off.
    void expressionTriangleOffset(const int v[3], float p[3][3]) const;
    void useComposedExpression();
    void restoreSwitches();
    void makeIdleTracks();
    void stepIdle();
    void applyIdleFrame(int f);
    void idleAnimate();
    void toggleHeadRotate() { headRotateOff_ = !headRotateOff_; }
    void clearHeadOffsets();
    void setIdleMotionOff(bool off) { idleOff_ = off; }
    void stopIdleMotion() { idleOff_ = true; }
    void startIdleMotion() { idleOff_ = false; }
    void setIdleSpeed(float speed) { idleSpeed_ = speed > 0 ? speed : idleSpeed_; }
    void seedRandom();
    // A fixed seed (for tests) also holds for the idle tables of later loads.
    void seedRandomWith(uint32_t seed) { rng_ = seed, fixedSeed_ = true; }
    float randomUnit();
    int idleFrameCount() const { return nIdle_; }
    int64_t idleCounter() const { return idleCounter_; }
    int idleTarget(int k) const { return idleT_[k]; }
    float idleWeight(int k) const { return idleW_[k]; }
    const float *idleHead() const { return idleHead_; }
    bool headRotateOff() const { return headRotateOff_; }
    bool expressionSwitch() const { return expression_; }
    bool eyeblinkSwitch() const { return eyeblink_; }
    bool pupilSwitch() const { return pupil_; }
    const int *mixTargets() const { return mixT_; }
    const float *mixWeights() const { return mixW_; }
    int composedIndex() const { return composed_; }

    // --- curves (no engine state)
    static float splineBasis(int i, int k, float t, const float *knots);
    static float safeDivide(float a, float b);
    static void splineWeights(int n, float t, const float *knots, float out[2]);
    static float sineEase(float t, float k1, float k2);
    static float parabolicEase(float t, float k1, float k2);
    static void hermiteBasis(float u, float out[4]);
    static void hermiteSegment(int j, const float *keyTimes, const float *tension, const float *continuity,
                               const float *bias, float t, float out[3], int smooth);
    // hermiteSegment with tension, continuity and bias 0, the triple written
    // to out[0..2][slot]; nothing for a negative segment.  No caller.
    static void hermiteSegmentAt(int j, int slot, const float *keyTimes, float t, float *const out[3], int smooth);
    static void sampleIdleKeys(int frames, float step, const float *tension, const float *continuity,
                               const float *bias, int keyCount, const float *keyTimes, const float *const *values,
                               float **out, int valueCount, int smooth);
    static void sampleHeadKeys(int frames, float step, const float *tension, const float *continuity,
                               const float *bias, int keyCount, const float *keyTimes, const int *const *values,
                               float **out, int valueCount, int smooth);
    static void samplePoseKeys(int frames, int step, const float *tension, const float *continuity,
                               const float *bias, int keyCount, const float *keyTimes, const float *const *values,
                               float **out, int valueCount, int smooth);
    static void sampleFetKeys(int frames, float step, const float *tension, const float *continuity,
                              const float *bias, int keyCount, const float *keyTimes, const int *values,
                              int *outKeys[3], float *outWeights[3], int smooth);
    static void sampleKeys(int frames, int step, const float *tension, const float *continuity,
                           const float *bias, int keyCount, const float *keyTimes, const float *values,
                           float *out, int valueCount, int smooth);

    // --- skeleton, poses, body
    int findNode(const char *name, int length) const;
    int findNode(const std::string &name) const { return findNode(name.data(), (int)name.size()); }
    void transformNode(const std::string &name, const Mat4 &parent, int depth = 0);
    void applyPose();
    void skinBody();
    int readPose(const std::string &path);
    int readPoseKeysA(const std::string &path);  // trunk, left side, legs
    int readPoseKeysB(const std::string &path);  // right arm and hand, legs
    int readHandPoseLeft(const std::string &path);
    int readHandPoseRight(const std::string &path);  // mirrored: (x, -y, -z)
    int readHandShape(const std::string &path);
    int writePose(const std::string &path);
    void loadNeutralPoseFile();
    void applyUpperBodyPose();
    void applyFingerPose();
    void applyLegPose();
    void updateSkeleton();
    void applySequenceFrame(int n);
    void beginSequencePlayback();
    void freezePose();
    int nearestNode(float x, float y, float z) const;
    int bodyVertexAt(float x, float y, float z) const;
    const float *handShapeValue(int k) const { return handShape_[k]; }
    void setBodyPoseValue(int bone, float x, float y, float z) {
        bodyPose_[bone][0] = x, bodyPose_[bone][1] = y, bodyPose_[bone][2] = z;
    }
    int nodeCount() const { return (int)nodes_.size(); }
    BodyNode *node(int i) { return i >= 0 && i < (int)nodes_.size() ? &nodes_[i] : nullptr; }
    const float *bodyPoseValue(int bone) const { return bodyPose_[bone]; }
    bool bodyUsable() const { return bodyOk_; }

    // --- head, face data, weld
    Mat4 computeHeadMatrix() const;
    void computeNeckMatrix();
    const Mat4 &headMatrix() const { return headMatrix_; }
    void setHeadAngles(float x, float y, float z) { headAngles_[0] = x; headAngles_[1] = y; headAngles_[2] = z; }
    void setAlpha(float a);
    float alpha() const { return alpha_; }
    void setDisplayMode(int mode);
    // The hair's ambient, diffuse and specular colour (no command sets it).
    void setHairColor(float r, float g, float b);
    // Stores a welded corner of the head for the body (not for type 5).
    void setWeldVertex(int slot, float x, float y, float z, float nx, float ny, float nz);
    const float *weldPosition(int slot) const { return slot >= 0 && slot < 100 ? weldPos_[slot] : nullptr; }
    const float *weldNormal(int slot) const { return slot >= 0 && slot < 100 ? weldNorm_[slot] : nullptr; }
    // A head part drawn from positions evaluated on the spot (mouth layer and
    // expression offset), welding without the head matrix; no caller.
    void drawFacePartEvaluated(const int *targets, int part, int W);
    int weldCount() const { return headWeldN_; }
    const int *headWeld() const { return headWeld_; }
    const int *bodyWeld() const { return bodyWeld_; }

    // --- tongue
    void tongueShapeFromVisemes(const int *rows, const int *targets, const float *tongueWeights, int W,
                                float shape[18]) const;
    const float *tongueTableRow(int r) const { return tongueTable_[r]; }
    const TongueModel *tongue() const { return tongue_.get(); }

    // --- view and drawing (need an OpenGL context)
    void show();
    void showFrame(int n);
    void renderFrame();
    void resetView(int width, int height);
    void setupLights();
    void uploadTextures();
    void setClearColor(float r, float g, float b, float a);
    // Background and overlay images (RGBA rows, the first row at the bottom
    // as OpenGL takes them); the engine takes the pixels.  Ignored when the
    // buffer is empty or a size is below 1.
    void setBackgroundImage(int width, int height, std::vector<unsigned char> pixels);
    void setOverlayImage(int width, int height, std::vector<unsigned char> pixels);
    int backgroundPow2Width() const { return bg_.pw; }
    int backgroundPow2Height() const { return bg_.ph; }
    int viewportWidth() const { return vpW_; }
    int viewportHeight() const { return vpH_; }
    const TextureImage &image(int k) const { return images_[k]; }

private:
    struct PhonemeNode {
        std::string name;
        float duration;
        std::string word;
    };

    bool fail(const std::string &msg);
    bool readModel(const std::string &path);
    bool readTongueTable(const std::string &path);
    bool readWeldData();
    void buildPartLists();
    bool readFaceComponents();
    bool readHeadData();
    bool readBasis(const char *file, int blocks, std::vector<double> *out);
    bool readBodyData();
    bool readHair();
    bool readVertexMap();
    bool readAdaptation();
    void drawHair();
    bool readBoneIndex(const std::string &path);
    void findYExtremes(int k, float *span, int *low, int *high);
    bool readHideList();
    void allocWorkObjects();
    void ensureWorkObjects(int count);
    int composeSlotTargets(const int slots[6], const float w[6], bool teethRule);
    void addMixPoint(int count, int v, float P[3]) const;
    void addEyePairOffset(int v, float off[3]) const;
    void pairPoint(const int t[2], const float w[2], int v, float S[3]) const;
    void drawScene();
    void drawHead();
    void drawFacePart(int part);
    void drawFacePartFrom(int part, const int *targets, int W);
    void drawBody();
    void drawTongue(int part);
    void weldToBody(float x, float y, float z, int slot, float nx, float ny, float nz);
    void applyCamera();
    struct Picture {
        int w = 0, h = 0, pw = 0, ph = 0;
        std::vector<unsigned char> pixels;
        bool changed = false;
    };
    void drawBackground();
    void drawOverlay();
    void definePicture(Picture &p, int name);
    Picture bg_, overlay_;

    std::string error_;
    bool gl_ = false;

    // character
    CharacterKind kind_;
    int ctype_ = 0;
    bool modelLoaded_ = false;
    std::string loadDir_;
    std::vector<std::unique_ptr<MeshObject>> objects_;
    int nObjects_ = 0;
    int evalIndex_ = 0;
    TextureImage images_[kImageCount];
    std::unique_ptr<TongueModel> tongue_;
    float tongueTable_[54][18] = {{0}};
    float tongueRest_[18] = {0};
    std::vector<int> vertexMap_;
    MeshObject hair_;
    std::vector<float> adapt_;                 // 9 per base vertex, row by row
    std::vector<float> baseX_, baseY_, baseZ_;  // object 0 before the vertex map

    // face data
    std::vector<int> comps_[18];
    std::vector<int> faceVerts_;
    int headWeld_[50] = {0}, bodyWeld_[50] = {0}, hiddenNeck_[50] = {0};
    int headWeldN_ = 0, bodyWeldN_ = 0, hiddenNeckN_ = 0;
    float weldPos_[100][3] = {{0}}, weldNorm_[100][3] = {{0}};
    std::vector<int> hideList_;
    float headPivot_[3] = {0, 0, 0};
    float headAngles_[3] = {0, 0, 0};
    Mat4 headMatrix_;
    int partsFiltered_ = 0;
    float alpha_ = 1.0f;
    float hairAmbient_[4], hairDiffuse_[4], hairSpecular_[4];

    // morph targets and parametric faces
    int slots_[kSlots];
    bool paramModel_ = false;
    std::vector<double> basis15_, basis38_;
    int basisCount38_ = 38;
    float coef15_[15] = {0};
    std::vector<float> coef38_;
    std::vector<std::array<int, 2>> twomap_;
    std::vector<PacomRecord> pacom_;
    std::vector<std::string> set1_, set2_;
    std::vector<BetaRecord> beta_;
    std::vector<std::vector<double>> coefTracks_;
    int coefT_ = 0;
    std::vector<int> frameTags_;
    std::vector<std::string> modelNames_;
    std::vector<float> modelDurs_;
    std::vector<CorpusSegment> segments_;
    void splitModelEntries(bool trajectory);
    std::vector<LibraryEntry> paraLib_, tongueLib_, headLib_;
    std::vector<std::array<std::string, kTagKinds>> columns_;
    std::vector<std::pair<int, int>> entryTags_;
    bool leadingTag_ = false, markupReady_ = false, bodySwitch_ = false, postSwitch_ = false, hgtOn_ = false;
    std::vector<int> keyEntries_;
    std::vector<std::unique_ptr<MeshObject>> exprObjects_;
    std::vector<int> fetKey_[3];
    std::vector<float> fetWeight_[3];
    std::vector<float> hgtTrack_[3];
    std::vector<int> eybTarget_[2], eybSide_;
    std::vector<float> eybWeight_[2];
    int eyeT_[2] = {0, 0};
    float eyeW_[2] = {1, 0};
    bool eyeOdd_ = false, eyeEven_ = false;
    int headUnits_ = 0;
    std::vector<int> emTarget_[2], emSide_;
    std::vector<float> emWeight_[2];
    int secondT_[2] = {0, 0};
    float secondW_[2] = {1, 0};
    bool secondOdd_ = true, secondEven_ = true;
    std::vector<int> tonEntry_[2];
    std::vector<float> tonWeight_[2];
    int curTon_[2] = {-1, -1};
    float curTonW_[2] = {1, 0};
    // sequences: key count, durations of keys 1..9 (ms), key times, length
    int seqCount_ = 0, seqDur_[10] = {0}, seqLength_ = 0, seqStep_ = 30;
    float seqTimes_[10] = {0};
    bool seqPlaying_ = false;
    std::vector<std::array<std::array<float, 3>, 10>> seqKeys_;  // per node, per key
    void allocCoefficientTracks(int count, int frames);

    // window
    int W_ = 10;
    int prepWindow_ = 10;
    int curW_ = 1;
    int curRows_[kWindowRoom] = {0}, curTargets_[kWindowRoom] = {0};
    float curLip_[kWindowRoom] = {0}, curTongue_[kWindowRoom] = {0};

    // phonemes
    std::vector<PhonemeNode> list_;  // in the order of adding
    int N_ = 0, Wc_ = 0;
    std::vector<std::string> names_;
    std::vector<float> durs_;
    std::vector<int> wordStart_, wordEnd_, planned_;
    int segTotal_ = 0;
    std::vector<std::string> segNames_;
    std::vector<float> segTimes_;

    // tracks
    int F_ = 0;
    float duration_ = 0;
    std::vector<std::vector<int>> trRow_, trTarget_;
    std::vector<std::vector<float>> trLip_, trTongue_;
    std::vector<std::array<std::vector<float>, 3>> bodyTrack_, postureTrack_;
    std::vector<std::array<float, 3>> neutralPose_;  // per node, kept from the load
    int bodyPoseMode_ = 2;
    bool lipTrack_ = false, exprTrack_ = false, headTrack_ = false, tongueTrack_ = false;
    bool markupTrack_ = false, poseTrack_ = false, headFreeze_ = false;

    // expressions
    float E_[32] = {0};
    float emo_[6] = {0};  // sad, surprise, smile, fear, disgust, angry
    int gates_[6] = {0};
    int mixT_[3] = {0, 0, 0};
    float mixW_[3] = {1, 0, 0};
    bool mixSource_ = true;
    int composed_ = 0;
    bool expression_ = false, expression2_ = false, eyeblink_ = false, pupil_ = false;
    bool savedExpression_ = false, savedExpression2_ = false, restoreFlag_ = false;
    bool headRotateOff_ = true;
    bool idleOff_ = false;
    int idleT_[2] = {0, 0};
    float idleW_[2] = {1, 0};
    float idleHead_[3] = {0, 0, 0};
    int nIdle_ = 0;
    std::vector<float> idleWeights_[2], idleHeadTab_[3];
    std::vector<int> idleTargets_[2];
    int64_t idleCounter_ = 0;
    float idleSpeed_ = 1.5f;
    uint32_t rng_ = 1;
    bool fixedSeed_ = false;
    bool eyeOn_ = false, secondOn_ = false;

    // automatic blink (no command reaches it)
    bool autoBlink_ = false;
    int autoBlinkMin_ = 5, autoBlinkMax_ = 10, autoBlinkWord_ = 0, autoBlinkDrawn_ = -1;
    std::string autoBlinkTag_;
    // word tags given with the phonemes, in the order of the words
    std::vector<MarkupWord> wordTags_;
    bool finishMarkup(const std::vector<MarkupWord> &words, bool leading, bool expressionOnly, int autoBlinkEntry,
                      MarkupError *err);
    bool writeLibrary(const char *file, const std::vector<LibraryEntry> &lib);
    bool rewriteEntry(const char *file, const std::vector<LibraryEntry> &lib, int i, const std::vector<int> *values);
    bool appendLibrary(const char *file, const std::string &name, const std::vector<int> &values);
    // tongue: rest shape set by an edited tongue entry; arcs
    bool tongueRestFlag_ = false;
    float restLA_[9] = {0}, restLB_[9] = {0}, restLC_[3] = {1, 1, 1}, restLD_[3] = {1, 1, 1};
    bool arcSwitch_ = false, arcGate_ = false;
    int arcRow_ = 0;
    float arcElapsed_ = 0;

    // body
    std::vector<BodyNode> nodes_;
    bool bodyOk_ = false;
    float bodyPose_[50][3] = {{0}};
    float handShape_[15][3] = {{0}};
    int readPoseGroups(const std::string &path, bool whole, int trunkAct, int leftAct, int rightAct);
    int readHand(const std::string &path, int target);
    void copyPoseGroup(int from, int to, bool resetMatrices);
    float bodyScale_ = 1.0f, bodyLift_ = 0.0f;

    // view
    int fps_ = 30;
    int vpW_ = 0, vpH_ = 0;
    float fovy_ = 0, aspect_ = 0, near_ = 0, far_ = 0;
    float eye_[3] = {0, 0, 0}, center_[3] = {0, 0, 0};
    float clear_[4] = {0, 0, 0, 1};
};

}  // namespace brovana
