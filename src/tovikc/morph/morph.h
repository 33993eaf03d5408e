// Morph-target objects, weight tracks, lights and scenes, and their drawing
// with fixed-function OpenGL.
//
// What callers rely on:
//  - An object is a triangle mesh with a base shape (target 0, absolute
//    coordinates) and morph targets (differences from the base). It can be
//    drawn only after Morph_CheckObject succeeded; Morph_PackObject drops what
//    the check derived, and the morph length is 0 until the next check.
//  - Vertex indices and change runs are 32-bit, so objects of any size blend
//    exactly.
//  - Texture coordinates: material 0 holds one (u, v) pair per vertex; any
//    other material holds coordinates of its own only after a geometry
//    combine, one pair per face corner of its range, until the next check
//    merges them into material 0. Vertices that no such corner reaches keep
//    material 0's pair.
//  - Key lists are sorted by strictly increasing time; of keys added at one
//    time the first one kept stays. Before a first key at time 0 the weight is
//    that key's (the ramp from time 0 would divide by zero).
//  - Texture pixels are RGBA with alpha 255, top row first.
//  - Drawing functions act on the current OpenGL context; antialiasing sums
//    read-back passes in a float buffer (no accumulation buffer needed, and
//    no sRGB blending where one exists).
//  - Errors: functions answer false (or a problem flag) and append text to
//    the message string they are given; they never print or end the process
//    (the shared-vertex duplication notes its count on standard error).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace morph {

struct TrackKey {
    float weight;  // 1.0 is the full difference
    int32_t time;  // milliseconds
};

struct Target {
    std::string name;
    std::vector<float> coords;   // 3 per vertex; differences for targets after the base
    std::vector<float> normals;  // empty until the check
    std::vector<int32_t> runStarts, runEnds;  // half-open coordinate-index ranges
    bool tracks = false;                      // set by the first track method
    std::vector<TrackKey> keys;
    float multiplier = 1.0f;
};

struct Material {
    std::string name;
    float ambient[4] = {0, 0, 0, 1}, diffuse[4] = {0, 0, 0, 1}, specular[4] = {0, 0, 0, 1},
          emissive[4] = {0, 0, 0, 1};
    float shininess = 0;  // 0..1, drawn as (1 - shininess) x 128
    int32_t textureIndex = -1;
    int32_t textureEnabled = 0;
    int32_t faceStart = 0, faceCount = 0;
    std::vector<float> uv;
    int32_t displayList = -1;
};

struct Texture {
    int32_t glName = -1;  // -1 while not loaded into OpenGL
    int32_t width = 0, height = 0;
    std::vector<uint8_t> pixels;  // RGBA, top row first
};

struct Object {
    std::string name;
    float extents[3] = {0, 0, 0};
    float position[3] = {0, 0, 0};
    float azimuth = 0, elevation = 0, scale = 1.0f;
    int32_t vertexCount = 0;
    int32_t morphLength = 0;  // 3 x vertex count once checked, 0 after a pack
    std::vector<float> morphedVertices, morphedNormals;
    std::vector<int32_t> indices;  // 3 per face
    std::vector<Target> targets;
    std::vector<Material> materials;
    std::vector<Texture> textures;
    float frameCount = 0, morphTime = 0, renderTime = 0;  // times in 100 ns units
    float globalMultiplier = 1.0f;
    int32_t faceCount() const { return (int32_t)(indices.size() / 3); }
};

enum LightType { kAmbient = 0, kDirectional = 1, kOmni = 2, kSpot = 3 };

struct Light {
    float color[4] = {0, 0, 0, 1};
    float specular[4] = {0, 0, 0, 1};
    float position[4] = {0, 0, 0, 0};
    float spotDirection[4] = {0, 0, 0, 0};
    float spotExponent = 0, spotCutoff = 180;
    float constant = 0, linear = 0, quadratic = 0;
    int32_t type = kSpot;
    int32_t changed = 1;
};

struct Scene {
    int32_t changed = 1, smooth = 1, texture = 1, antialias = 0, wireframe = 0, cull = 1;
    int32_t textureFilter = 9729;  // GL_LINEAR
    int32_t projectionMode = -1;   // -1 unset, 0 perspective, 1 orthographic
    float camera[3] = {0, 0, 0};
    float projection[4] = {0, 0, 0, 0};  // fov, aspect, near, far
    int32_t viewport[4] = {0, 0, 0, 0};
    float frameCount = 0, frameTime = 0;
    float bg[4] = {0, 0, 0, 0};
    uint32_t bgTexture = 0;
    float bgXScale = 0, bgYScale = 0, bgTile = 0;
    int32_t bgWidth = 0, bgHeight = 0;
    std::vector<uint8_t> bgPixels;  // W x H x 4 bytes (powers of two), image packed at the start
    std::vector<std::string> objects, lights;
};

// --- preparation ---
void Morph_ComputeBoundingBox(Object *o);
// Validates and repairs, duplicates shared vertices, computes normals and
// change runs. Answers true when a problem was found; its texts are
// appended to *msg.
bool Morph_CheckObject(Object *o, std::string *msg);
void Morph_ComputeNormals(Object *o);
void Morph_BuildTargetRuns(Object *o);
void Morph_PackObject(Object *o);

// --- tracks and blending ---
void Morph_SortTrackKeys(std::vector<TrackKey> *keys);
float Morph_TrackWeight(const Target &t, int32_t time);
// The morph step: fills the morphed arrays for the time.
void Morph_Blend(Object *o, int32_t time);

// --- textures ---
// Decodes a JPEG file into RGBA pixels; false with a message (an
// undecodable file included).
bool Morph_ReadJpeg(const std::string &path, Texture *tex, std::string *msg);
// Box-mean reduction by factors in (0, 1]; a size of 0 leaves no pixels.
void Morph_ReduceTexture(Texture *tex, float xfac, float yfac);
// Smallest power of two not below n (n >= 1).
int32_t Morph_PowerOfTwo(int32_t n);

// --- drawing (current OpenGL context) ---
// The scene's objects and lights, looked up by the caller in scene order.
struct SceneParts {
    std::vector<Object *> objects;
    std::vector<Light *> lights;
};
// "OpenGL Error: TEXT" for a pending error, else empty.
std::string Morph_GLError();
void Morph_Setup();
// Steps of a show after the caller has resolved the scene's names. Answers
// false with a message when the show fails; *msg may also receive notes
// (a disabled texture) on success.
bool Morph_ShowScene(Scene *scene, const SceneParts &parts, int32_t time, std::string *msg);
bool Morph_RenderObject(Object *o, int32_t time, bool textured, std::string *msg);
void Morph_DeleteGLState(Object *o);

// Elapsed-time clock in 100 ns units.
double Morph_Now100ns();

}  // namespace morph
