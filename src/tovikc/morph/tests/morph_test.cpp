#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "morph.h"

using namespace morph;

namespace {

// A strip of n quads (2n triangles) along x: vertices 0..2n+1, one material.
Object Strip(int n) {
    Object o;
    o.vertexCount = 2 * (n + 1);
    Target base;
    base.name = "base";
    for (int i = 0; i <= n; i++)
        for (int y = 0; y < 2; y++) base.coords.insert(base.coords.end(), {(float)i, (float)y, 0.0f});
    o.targets.push_back(base);
    for (int i = 0; i < n; i++) {
        int a = 2 * i;
        o.indices.insert(o.indices.end(), {a, a + 2, a + 1, a + 1, a + 2, a + 3});
    }
    Material m;
    m.name = "m";
    m.faceCount = 2 * n;
    o.materials.push_back(m);
    return o;
}

Target Diff(const Object &o, const char *name, std::initializer_list<std::pair<int, float>> changes) {
    Target t;
    t.name = name;
    t.coords.assign(3 * (size_t)o.vertexCount, 0.0f);
    for (auto &c : changes) t.coords[c.first] = c.second;
    return t;
}

TEST(MorphCheck, ReportsAndRepairsWhatItFinds) {
    struct Case {
        const char *why;
        void (*spoil)(Object *);
        const char *message;
    };
    const Case cases[] = {
        {"index past the vertices", [](Object *o) { o->indices[4] = 40; }, "Face point 4=40 outside vertex array."},
        {"unused vertices in two runs",
         [](Object *o) {
             o->indices.resize(6);  // faces over vertices 0..3 only, of 0..9
             o->materials[0].faceCount = 2;
             o->indices[0] = 0;
         },
         "Unreferenced vertices {4-9} "},
        {"material past the faces", [](Object *o) { o->materials[0].faceCount = 9; },
         "material 0 face indices suspect, "},
        {"texture that does not exist", [](Object *o) { o->materials[0].textureIndex = 2; },
         "texture map of material 0 missing, "},
        {"no faces at all", [](Object *o) { o->indices.clear(); }, "Object has vertices but no faces. "},
        {"no material", [](Object *o) { o->materials.clear(); }, "No material data available! "},
    };
    for (const Case &c : cases) {
        Object o = Strip(4);
        c.spoil(&o);
        std::string msg;
        EXPECT_TRUE(Morph_CheckObject(&o, &msg)) << c.why;
        EXPECT_NE(msg.find(c.message), std::string::npos) << c.why << ": " << msg;
        for (int32_t i : o.indices) EXPECT_TRUE(i >= 0 && i < o.vertexCount) << c.why;
        const Material *m = o.materials.empty() ? nullptr : &o.materials[0];
        if (m && !o.indices.empty()) {
            EXPECT_LE(m->faceStart + m->faceCount, o.faceCount()) << c.why;
        }
    }
    Object good = Strip(4);
    std::string msg;
    EXPECT_FALSE(Morph_CheckObject(&good, &msg)) << msg;
    EXPECT_EQ(good.morphLength, 3 * good.vertexCount);
}

TEST(MorphCheck, UnreferencedVerticesAreListedAsRuns) {
    Object o = Strip(4);  // 10 vertices
    for (int32_t &i : o.indices)
        if (i == 3 || i == 4 || i == 7) i = 0;
    std::string msg;
    EXPECT_TRUE(Morph_CheckObject(&o, &msg));
    EXPECT_EQ(msg, "Unreferenced vertices {3-4, 7-7} ");
}

TEST(MorphNormals, FacingAndDegenerateFaces) {
    Object o = Strip(1);
    std::string msg;
    ASSERT_FALSE(Morph_CheckObject(&o, &msg)) << msg;
    for (int v = 0; v < 4; v++) EXPECT_FLOAT_EQ(o.targets[0].normals[3 * v + 2], 1.0f);  // counter-clockwise: +z
    // A vertex whose only face has no area.
    Object d = Strip(1);
    d.vertexCount = 5;
    d.targets[0].coords.insert(d.targets[0].coords.end(), {5, 5, 5});
    d.indices.insert(d.indices.end(), {4, 4, 4});
    d.materials[0].faceCount = 3;
    ASSERT_FALSE(Morph_CheckObject(&d, &msg)) << msg;
    for (int a = 0; a < 3; a++) EXPECT_FLOAT_EQ(d.targets[0].normals[12 + a], 1.7320508f);
}

TEST(MorphRuns, GapsBelowNineJoin) {
    struct Case {
        int second;  // coordinate index of the second change (the first is 0)
        size_t runs;
    };
    for (Case c : {Case{9, 1}, Case{10, 2}, Case{1, 1}}) {
        Object o = Strip(4);  // 30 coordinates
        o.targets.push_back(Diff(o, "t", {{0, 0.5f}, {c.second, 0.5f}}));
        o.targets[1].coords[0] = 0.5f;
        Morph_ComputeNormals(&o);
        // Normals of a flat move in the plane stay unchanged: only the coordinates count.
        o.targets[1].normals.assign(o.targets[1].normals.size(), 0.0f);
        Morph_BuildTargetRuns(&o);
        EXPECT_EQ(o.targets[1].runStarts.size(), c.runs) << "second change at " << c.second;
    }
    Object quiet = Strip(2);
    quiet.targets.push_back(Diff(quiet, "t", {{3, 1e-7f}}));
    std::string msg;
    ASSERT_FALSE(Morph_CheckObject(&quiet, &msg));
    EXPECT_TRUE(quiet.targets[1].runStarts.empty());
}

// Two textured materials meet at vertices 1 and 2 of a two-triangle
// square; the second material's own corner coordinates differ there, so
// those vertices are split and its corners repointed to the copies.
TEST(MorphCheck, SharedVerticesWithOtherCoordinatesAreSplit) {
    Object o = Strip(1);  // faces {0 2 1} {1 2 3}
    o.textures.resize(2);
    o.materials[0].faceCount = 1;
    o.materials[0].textureIndex = 0;
    o.materials[0].uv = {0, 0, 0.1f, 0.1f, 0.2f, 0.2f, 0.3f, 0.3f};  // per vertex
    Material m;
    m.name = "second";
    m.faceStart = 1, m.faceCount = 1, m.textureIndex = 1;
    m.uv = {0.1f, 0.1f, 0.9f, 0.9f, 0.5f, 0.5f};  // corners of face {1 2 3}: vertex 2 differs
    o.materials.push_back(m);
    o.targets.push_back(Diff(o, "t", {{7, 1.0f}}));  // vertex 2 moves in y
    std::string msg;
    ASSERT_FALSE(Morph_CheckObject(&o, &msg)) << msg;
    ASSERT_EQ(o.vertexCount, 5);
    EXPECT_EQ(o.morphLength, 15);
    // Vertex 2 keeps index 2 for the first material; the copy is index 3.
    EXPECT_EQ(std::vector<int32_t>(o.indices.begin(), o.indices.begin() + 3), (std::vector<int32_t>{0, 2, 1}));
    EXPECT_EQ(std::vector<int32_t>(o.indices.begin() + 3, o.indices.end()), (std::vector<int32_t>{1, 3, 4}));
    ASSERT_EQ(o.materials[0].uv.size(), 10u);
    EXPECT_FLOAT_EQ(o.materials[0].uv[2 * 2], 0.2f);
    EXPECT_FLOAT_EQ(o.materials[0].uv[2 * 3], 0.9f);
    EXPECT_FLOAT_EQ(o.materials[0].uv[2 * 4], 0.5f);
    EXPECT_TRUE(o.materials[1].uv.empty());
    // Both copies carry the vertex's coordinates and its target difference.
    for (int v : {2, 3}) {
        EXPECT_FLOAT_EQ(o.targets[0].coords[3 * v], 1.0f);
        EXPECT_FLOAT_EQ(o.targets[1].coords[3 * v + 1], 1.0f);
    }
}

TEST(MorphTracks, WeightsBetweenAndAroundKeys) {
    Target t;
    t.tracks = true;
    t.keys = {{1.0f, 1000}, {0.0f, 2000}};
    const std::pair<int, float> at[] = {{500, 0.5f}, {1500, 0.5f}, {2500, 0.0f}, {1000, 1.0f}, {0, 0.0f}};
    for (auto &p : at) EXPECT_FLOAT_EQ(Morph_TrackWeight(t, p.first), p.second) << p.first;
    Target zero;
    zero.tracks = true;
    zero.keys = {{0.7f, 0}, {0.1f, 100}};
    EXPECT_FLOAT_EQ(Morph_TrackWeight(zero, -50), 0.7f);  // before a first key at 0: that key's weight
    Target off = t;
    off.tracks = false;
    EXPECT_EQ(Morph_TrackWeight(off, 1500), 0.0f);
}

TEST(MorphTracks, SortKeepsTheFirstKeyOfATime) {
    std::vector<TrackKey> k = {{0.5f, 500}, {0.1f, 100}, {0.8f, 500}, {0.3f, 300}};
    Morph_SortTrackKeys(&k);
    ASSERT_EQ(k.size(), 3u);
    EXPECT_EQ(k[0].time, 100);
    EXPECT_EQ(k[2].time, 500);
    EXPECT_FLOAT_EQ(k[2].weight, 0.5f);
}

// Past 10,922 vertices the coordinate indices no longer fit 16 bits: the
// last vertex must still move with its target.
TEST(MorphBlend, LargeObjectsBlendToTheLastVertex) {
    Object o = Strip(6000);  // 12,002 vertices
    const int last = 3 * (o.vertexCount - 1) + 2;
    o.targets.push_back(Diff(o, "lift", {{last, 2.0f}, {2, 1.0f}}));
    std::string msg;
    ASSERT_FALSE(Morph_CheckObject(&o, &msg)) << msg;
    o.targets[1].tracks = true;
    o.targets[1].keys = {{0.5f, 0}};
    Morph_Blend(&o, 10);
    EXPECT_FLOAT_EQ(o.morphedVertices[last], 1.0f);
    EXPECT_FLOAT_EQ(o.morphedVertices[2], 0.5f);
    o.targets[1].keys = {{0.0009f, 0}};
    Morph_Blend(&o, 10);
    EXPECT_FLOAT_EQ(o.morphedVertices[last], 0.0f);  // below the threshold: untouched
}

TEST(MorphPack, CheckRestoresWhatPackDropped) {
    Object o = Strip(3);
    o.targets.push_back(Diff(o, "t", {{5, 1.0f}}));
    std::string msg;
    ASSERT_FALSE(Morph_CheckObject(&o, &msg));
    auto normals = o.targets[0].normals;
    auto runs = o.targets[1].runStarts;
    Morph_PackObject(&o);
    EXPECT_EQ(o.morphLength, 0);
    EXPECT_TRUE(o.morphedVertices.empty());
    ASSERT_FALSE(Morph_CheckObject(&o, &msg));
    EXPECT_EQ(o.targets[0].normals, normals);
    EXPECT_EQ(o.targets[1].runStarts, runs);
}

TEST(MorphTexture, ReductionAveragesBoxes) {
    Texture t;
    t.width = 4, t.height = 2;
    for (int i = 0; i < 8; i++) t.pixels.insert(t.pixels.end(), {(uint8_t)(i * 10), 0, 255, 255});
    Morph_ReduceTexture(&t, 0.5f, 0.5f);
    ASSERT_EQ(t.width, 2);
    ASSERT_EQ(t.height, 1);
    // Box (0,1,4,5) -> (0+10+40+50)/4 = 25; box (2,3,6,7) -> 45.
    EXPECT_EQ(t.pixels[0], 25);
    EXPECT_EQ(t.pixels[4], 45);
    EXPECT_EQ(t.pixels[3], 255);
    Morph_ReduceTexture(&t, 0.4f, 1.0f);
    EXPECT_TRUE(t.pixels.empty());
    EXPECT_EQ(t.width, 0);
}

TEST(MorphTexture, BadJpegFailsWithAMessage) {
    std::string path = std::string(getenv("TEST_TMPDIR") ? getenv("TEST_TMPDIR") : "/tmp/") + "bad.jpg";
    {
        std::ofstream f(path, std::ios::binary);
        f << "\xff\xd8\xff\xe0 this is not a jpeg";
    }
    Texture t;
    std::string msg;
    EXPECT_FALSE(Morph_ReadJpeg(path, &t, &msg));
    EXPECT_NE(msg.find("Error during jpeg decoding"), std::string::npos) << msg;
    msg.clear();
    EXPECT_FALSE(Morph_ReadJpeg(path + ".missing", &t, &msg));
    EXPECT_NE(msg.find("Error reading texturemap: \""), std::string::npos) << msg;
    std::remove(path.c_str());
}

// JPEGs made by PIL: grey maps spread over R, G and B; every texel opaque.
TEST(MorphTexture, JpegTexelsAreOpaque) {
    std::string dir = getenv("TEST_TMPDIR") ? getenv("TEST_TMPDIR") : "/tmp/";
    struct Case {
        const char *mode, *fill;
        uint8_t rgb[3];
    };
    const Case cases[] = {{"L", "77", {77, 77, 77}}, {"RGB", "(200, 30, 90)", {200, 30, 90}}};
    for (const Case &c : cases) {
        std::string path = dir + "pil_" + c.mode + ".jpg";
        std::string cmd = std::string("/usr/bin/python3 -c 'from PIL import Image; Image.new(\"") + c.mode +
                          "\", (5, 3), " + c.fill + ").save(\"" + path + "\", quality=100)' 2>/dev/null";
        if (std::system(cmd.c_str()) != 0) GTEST_SKIP() << "python3-pil is not installed";
        Texture t;
        std::string msg;
        ASSERT_TRUE(Morph_ReadJpeg(path, &t, &msg)) << msg;
        EXPECT_EQ(t.width, 5);
        EXPECT_EQ(t.height, 3);
        for (size_t p = 0; p < t.pixels.size(); p += 4) {
            for (int ch = 0; ch < 3; ch++) EXPECT_NEAR(t.pixels[p + ch], c.rgb[ch], 2) << c.mode;
            EXPECT_EQ(t.pixels[p + 3], 255) << c.mode;
        }
        std::remove(path.c_str());
    }
}

}  // namespace
