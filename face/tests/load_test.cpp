// Character load: every type, the target slots, damaged characters, the
// body with its skeleton and pose files.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <unistd.h>

#include "engine.h"
#include "tables.h"
#include "test_util.h"

using brovana::BrovanaEngine;
using brovana::Mat4;

TEST(Load, every_character_type_loads_and_binds_its_slots) {
    for (int type = 0; type <= 9; type++) {
        BrovanaEngine e;
        ASSERT_TRUE(e.load(type, CharDir("type" + std::to_string(type)).c_str())) << type << ": " << e.lastError();
        EXPECT_EQ(e.characterType(), type);
        EXPECT_GT(e.objectCount(), 20);
        EXPECT_EQ(e.evaluatedFace(), e.objectCount() + 2);
        for (int s = 0; s < 22; s++) EXPECT_GT(e.slot(s), 0) << "type " << type << " slot " << s;
        EXPECT_EQ(e.nodeCount() > 0, type != 5) << type;
        EXPECT_EQ(e.findNode("Bip01 Neck") >= 0, type != 5);
    }
}

TEST(Load, shared_targets_bind_to_one_object) {
    struct Case {
        int type, a, b;
    } cases[] = {{3, 19, 20}, {2, 8, 9}, {5, 7, 8}, {5, 10, 11}, {5, 12, 13}};
    for (const Case &c : cases) {
        BrovanaEngine e;
        ASSERT_TRUE(e.load(c.type, CharDir("type" + std::to_string(c.type)).c_str()));
        EXPECT_EQ(e.slot(c.a), e.slot(c.b)) << "type " << c.type;
    }
    BrovanaEngine e;
    ASSERT_TRUE(e.load(6, CharDir("type6").c_str()));
    EXPECT_EQ(e.object(e.slot(6))->name, "Ven_Neutral");
    ASSERT_TRUE(e.load(5, CharDir("type5").c_str()));  // reload into the same engine
    EXPECT_EQ(e.object(e.findVisemeTarget(8))->name, "Vis_   i");
    testing::internal::CaptureStdout();
    EXPECT_EQ(e.findVisemeTarget(-1), -1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Errro in Str");
    EXPECT_EQ(e.findVisemeTarget(54), -1);
}

TEST(Load, face_data_of_a_loaded_character) {
    BrovanaEngine e;
    ASSERT_TRUE(e.load(4, CharDir("type4").c_str()));
    const brovana::MeshObject *o = e.object(0);
    EXPECT_EQ(o->name, "HEAD");  // quotes dropped
    EXPECT_EQ(o->V, 169);
    EXPECT_EQ(o->F, 288);
    EXPECT_FALSE(e.faceVertices().empty());
    for (int v : e.faceVertices()) EXPECT_NE(e.regionCode(v), 0);
    EXPECT_EQ(e.weldCount(), 12);
    EXPECT_EQ(e.headWeld()[0], 1);   // 1-based in the file
    EXPECT_EQ(e.bodyWeld()[0], 12);
    // tongue: row 53 ("4r") copies row 2 with the character's columns 8..11
    EXPECT_FLOAT_EQ(e.tongueTableRow(53)[3], e.tongueTableRow(2)[3]);
    EXPECT_FLOAT_EQ(e.tongueTableRow(53)[8], 0.365f);
    EXPECT_FLOAT_EQ(e.tongueTableRow(20)[3], 0.020f);
    ASSERT_NE(e.tongue(), nullptr);
    EXPECT_TRUE(e.tongue()->usable());
    EXPECT_TRUE(e.bodyUsable());
    // the neutral pose file gives the arms their angles
    EXPECT_FLOAT_EQ(e.node(e.findNode("Bip01 L UpperArm"))->pose[2], -10.0f);
    EXPECT_FLOAT_EQ(e.bodyPoseValue(6)[0], 5.0f);
    EXPECT_FLOAT_EQ(e.node(e.findNode("Bip01 L UpperArm"))->keys[1][0], 0.0f);
    EXPECT_FLOAT_EQ(e.node(e.findNode("Bip01 L UpperArm"))->keys[2][0], 5.0f);
}

// Damaged characters: a clear message, no read outside the files, and the
// engine can load a sound character afterwards.
TEST(Load, damaged_characters) {
    struct Case {
        const char *damage;
        bool loads;
        const char *message;  // part of lastError(); "" for none
    } cases[] = {
        {"missing-model", false, ""},
        {"truncated-model", false, "damaged model file"},
        {"bad-face-index", false, "face vertex index out of range"},
        {"huge-count", false, "does not fit the file"},
        {"missing-facecom", false, "cannot open face components"},
        {"short-facecom", false, "too short"},
        {"missing-images", true, ""},
        {"missing-body", true, ""},
        {"bad-bone-index", true, ""},
        {"crlf", true, ""},
        {"missing-neutral-pose", true, ""},
        {"short-tongue", true, ""},
    };
    for (const Case &c : cases) {
        BrovanaEngine e;
        bool ok = e.load(4, CharDir(std::string("damaged-") + c.damage).c_str());
        EXPECT_EQ(ok, c.loads) << c.damage << ": " << e.lastError();
        EXPECT_NE(e.lastError().find(c.message), std::string::npos) << c.damage << ": " << e.lastError();
        EXPECT_EQ(e.loaded(), c.loads) << c.damage;
        if (!c.loads) {
            // still usable: a sound character loads into the same engine
            EXPECT_TRUE(e.load(4, CharDir("type4").c_str())) << c.damage;
        }
    }
    BrovanaEngine e;
    EXPECT_FALSE(e.load(4, CharDir("damaged-missing-body").c_str()) && e.bodyUsable());
    EXPECT_TRUE(e.load(4, CharDir("damaged-bad-bone-index").c_str()));
    EXPECT_FALSE(e.bodyUsable());
    EXPECT_TRUE(e.load(4, CharDir("damaged-short-tongue").c_str()));
    EXPECT_FALSE(e.tongue()->usable());
    EXPECT_TRUE(e.load(4, CharDir("damaged-crlf").c_str()));
    EXPECT_EQ(e.weldCount(), 12);
    EXPECT_FLOAT_EQ(e.node(e.findNode("Bip01 R UpperArm"))->pose[2], 10.0f);
    EXPECT_FALSE(e.load(14, CharDir("type4").c_str()));
    EXPECT_NE(e.lastError().find("unknown character type 14"), std::string::npos);
    EXPECT_FALSE(e.load(-1, CharDir("type4").c_str()));
}

TEST(Load, file_names_match_without_regard_to_case_and_separators) {
    // type 8 names its body image "Bexlo512B.img" but the others ".Img";
    // the directory is given with backslashes
    std::string dir = CharDir("type8");
    std::string back;
    for (char c : dir) back += c == '/' ? '\\' : c;
    BrovanaEngine e;
    EXPECT_TRUE(e.load(8, back.c_str())) << e.lastError();
}

TEST(Skeleton, rotation_about_a_pivot_turns_z_first) {
    auto node = [](float rx, float ry, float rz) {
        return Mat4::translate(1, 0, 0) * Mat4::rotate(rx, 1, 0, 0) * Mat4::rotate(ry, 0, 1, 0) *
               Mat4::rotate(rz, 0, 0, 1) * Mat4::translate(-1, 0, 0);
    };
    float x, y, z;
    node(0, 0, 90).apply(2, 0, 0, &x, &y, &z);
    EXPECT_NEAR(x, 1, 1e-6); EXPECT_NEAR(y, 1, 1e-6); EXPECT_NEAR(z, 0, 1e-6);
    node(90, 0, 90).apply(2, 0, 0, &x, &y, &z);
    EXPECT_NEAR(x, 1, 1e-6); EXPECT_NEAR(y, 0, 1e-6); EXPECT_NEAR(z, 1, 1e-6);
}

TEST(Skeleton, children_follow_their_parent_and_names_match_whole) {
    BrovanaEngine e;
    ASSERT_TRUE(e.load(4, CharDir("type4").c_str()));
    EXPECT_LT(e.findNode("Bip01 Nec", 9), 0);
    EXPECT_LT(e.findNode("Bip01 Neck ", 11), 0);
    brovana::BodyNode *spine = e.node(e.findNode("Bip01 Spine"));
    spine->pose[0] = 30;
    e.applyPose();
    brovana::BodyNode *neck = e.node(e.findNode("Bip01 Neck"));
    // the neck's own rotation is 0, yet it carries the spine's turn
    EXPECT_NE(neck->matrix[5], 1.0f);
    EXPECT_NEAR(neck->matrix[5], std::cos(30 * M_PI / 180), 1e-5);
    // body vertices bound to the spine moved
    brovana::BodyNode *body = e.node(e.findNode("Obrik BODY"));
    EXPECT_GT(std::fabs(body->dy[0] - body->ry[0]), 1e-3);
}

TEST(Poses, write_then_read_gives_every_bone_its_pose) {
    BrovanaEngine e;
    ASSERT_TRUE(e.load(4, CharDir("type4").c_str()));
    for (int i = 0; i < e.nodeCount(); i++) {
        brovana::BodyNode *n = e.node(i);
        n->pose[0] = (float)i, n->pose[1] = -0.5f * i, n->pose[2] = 2.0f;
    }
    std::string path = testing::TempDir() + "pose.ges";
    ASSERT_EQ(e.writePose(path), 1);
    ASSERT_EQ(e.readPose(path), 1);
    for (const char *name : {"Bip01 Pelvis", "Bip01 L Finger31", "Bip01 R Hand", "Bip01 R Toe0"}) {
        int i = e.findNode(name);
        EXPECT_FLOAT_EQ(e.node(i)->pose[0], (float)i) << name;
        EXPECT_FLOAT_EQ(e.node(i)->pose[1], -0.5f * i) << name;
    }
    // a third finger segment has no line: it takes its second segment's angles
    int second = e.findNode("Bip01 L Finger21"), third = e.findNode("Bip01 L Finger22");
    EXPECT_FLOAT_EQ(e.node(third)->pose[0], (float)second);
    EXPECT_EQ(e.readPose(testing::TempDir() + "no-such.ges"), 0);
    remove(path.c_str());
}

// Load types 10 to 13: parametric faces with hair, adapted or not.
TEST(Load, hair_vertex_map_and_adaptation) {
    struct Case {
        int type, ctype;
        bool adapted;
    } cases[] = {{10, 9, true}, {11, 9, false}, {12, 8, true}, {13, 8, false}};
    for (const Case &c : cases) {
        BrovanaEngine e;
        ASSERT_TRUE(e.load(c.type, CharDir("type" + std::to_string(c.type)).c_str())) << c.type << ": " << e.lastError();
        EXPECT_EQ(e.characterType(), c.ctype);
        EXPECT_TRUE(e.hairFlag());
        EXPECT_EQ(e.adaptedFlag(), c.adapted);
        EXPECT_EQ(e.hair().V, 10);
        EXPECT_EQ(e.hair().F, 8);
        const brovana::MeshObject *o = e.object(0);
        // a hidden base vertex sits at the centroid; a kept one (the middle
        // of the grid, y 0 in the file) is replaced only on the adapted faces
        int hidden = 0, kept = 6 * 13 + 6;
        ASSERT_LT(e.vertexMap()[hidden], 0);
        EXPECT_FLOAT_EQ(o->x[hidden], o->centroid[0]);
        EXPECT_NEAR(o->y[kept], c.adapted ? -0.01f : 0.0f, 1e-6);
        // the adapted faces double a target's displacement
        int smile = e.slot(2);
        int corner = -1;
        for (int v : e.faceVertices())
            if (e.regionCode(v) == 5 && std::fabs(o->x[v]) > 0.3f) corner = v;
        ASSERT_GE(corner, 0);
        float dz = ManifestDz("type" + std::to_string(c.type), "BX_Joy");
        ASSERT_NE(dz, 0.0f);
        EXPECT_NEAR(e.object(smile)->z[corner] - o->z[corner], (c.adapted ? 2 : 1) * dz, 1e-5) << c.type;
    }
}

// A model file cut anywhere: the load fails with a message or succeeds,
// never reads past the end (run under AddressSanitizer to see the latter).
TEST(Load, model_cut_at_any_length_fails_cleanly) {
    std::string dir = testing::TempDir() + "cutchar";
    std::string src = CharDir("type4") + "/Models/Bexlo.GL";
    FILE *in = fopen(src.c_str(), "rb");
    ASSERT_NE(in, nullptr);
    std::string whole;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, in)) > 0) whole.append(buf, n);
    fclose(in);
    std::string cmd = "rm -rf '" + dir + "' && cp -r '" + CharDir("type4") + "' '" + dir + "'";
    ASSERT_EQ(system(cmd.c_str()), 0);
    BrovanaEngine e;
    for (size_t cut = 0; cut < whole.size(); cut += whole.size() / 97 + 1) {
        FILE *out = fopen((dir + "/Models/Bexlo.GL").c_str(), "wb");
        fwrite(whole.data(), 1, cut, out);
        fclose(out);
        EXPECT_FALSE(e.load(4, dir.c_str())) << cut;
        EXPECT_FALSE(e.lastError().empty()) << cut;
    }
    FILE *out = fopen((dir + "/Models/Bexlo.GL").c_str(), "wb");
    fwrite(whole.data(), 1, whole.size(), out);
    fclose(out);
    EXPECT_TRUE(e.load(4, dir.c_str())) << e.lastError();
    ASSERT_EQ(system(("rm -rf '" + dir + "'").c_str()), 0);
}

// Every other file a load reads, cut anywhere: the load either succeeds
// (optional data left out) or fails with a message; it never reads past
// what the file holds, and the same engine loads the sound files again.
TEST(Load, data_files_cut_at_any_length_fail_cleanly) {
    struct Case {
        const char *character, *file;
        int type;
    } cases[] = {
        {"type4", "Models/Tongue.Ge", 4},
        {"type4", "Models/Btongue.Ge", 4},
        {"type4", "Models/Bexlo.Img", 4},
        {"type4", "Models/FaceCom/bFaceComponents.bin", 4},
        {"type4", "Models/FaceCom/bTeethMotionIndext.bin", 4},
        {"type4", "Models/bodydata/bexlowholebody.dat", 4},
        {"type4", "Models/boneindex/bexloboneindexnew.dat", 4},
        {"type4", "Models/headdata/bexlohead.ind", 4},
        {"type4", "Models/headdata/bexloheadpoints.ind", 4},
        {"type4", "Models/obriksign/neu.ges", 4},
        {"type4", "Models/welddata/bexloheadbody.txt", 4},
        {"type4", "Models/welddata/bexloheadhide.txt", 4},
        {"type9", "Models/AlphaN2.bin", 9},
        {"type9", "Models/Bexlo512B.img", 9},
        {"type9", "Models/Beta.bin", 9},
        {"type9", "Models/Set2.txt", 9},
        {"type8", "Models/PacomN.bin", 8},
        {"type8", "Models/twomap.txt", 8},
    };
    for (const Case &c : cases) {
        // one folder per process: test runs of several build trees may overlap
        std::string dir = testing::TempDir() + "cutdata" + std::to_string(getpid());
        std::string cmd = "rm -rf '" + dir + "' && cp -r '" + CharDir(c.character) + "' '" + dir + "'";
        ASSERT_EQ(system(cmd.c_str()), 0);
        std::string path = dir + "/" + c.file;
        FILE *in = fopen(path.c_str(), "rb");
        ASSERT_NE(in, nullptr) << c.file;
        std::string whole;
        char buf[4096];
        size_t n;
        while ((n = fread(buf, 1, sizeof buf, in)) > 0) whole.append(buf, n);
        fclose(in);
        BrovanaEngine e;
        for (size_t cut = 0; cut < whole.size(); cut += whole.size() / 23 + 1) {
            FILE *out = fopen(path.c_str(), "wb");
            fwrite(whole.data(), 1, cut, out);
            fclose(out);
            if (!e.load(c.type, dir.c_str())) {
                EXPECT_FALSE(e.lastError().empty()) << c.file << " cut at " << cut;
            }
            if (e.loaded()) {
                e.reset();
                e.addPhoneme("m", 200, "me", false);
                e.prep();
                for (int f = 0; f + 1 < e.frameCount(); f++) {
                    e.showFrame(f);
                    e.updateFaceVertices(e.currentTargets(), e.currentWindow());
                }
                e.setParameters(0.4, 0, 0.4, 0, 0, 0);
            }
        }
        FILE *out = fopen(path.c_str(), "wb");
        fwrite(whole.data(), 1, whole.size(), out);
        fclose(out);
        EXPECT_TRUE(e.load(c.type, dir.c_str())) << c.file << ": " << e.lastError();
        ASSERT_EQ(system(("rm -rf '" + dir + "'").c_str()), 0);
    }
}

// The load's per-character fix-ups of the stored materials and of the face's
// texture coordinates, on copies of the generated models with known values
// written in: every material diffuse 0.5, specular 0.5, shininess 0.5, and
// the first texture coordinate pair given per case.
TEST(Load, materials_and_texture_coordinates_are_fixed_per_character) {
    struct Case {
        int type, material;
        float diffuse, specular, shininess;
        float u, v, wantU, wantV;
    } cases[] = {
        {0, 0, 1, 0.4f, 64, -0.25f, 1.5f, 0.75f, 0.5f},
        {0, 1, 0.5f, 0.5f, 64, -1.0f, 2.0f, 0, 1},
        {1, 4, 1, 0.5f, 64, 1.25f, -0.5f, 0.25f, 0.5f},
        {3, 3, 0.5f, 0.5f, 64, -0.25f, 1.5f, 0.75f, 0.5f},
        {4, 3, 1, 0.5f, 64, -0.25f, 1.5f, -0.25f, 1.5f},
        {5, 2, 1, 0.5f, 64, 0.35f, 0.25f, 0.35f, 0.25f},
        {5, 0, 0.5f, 0.4f, 64, 0.1f, 1.2f, 0.1f, 1.2f},
        {7, 1, 0.5f, 0.5f, 64, 0.1f, 1.2f, 0.29f, 0.27f},
        {8, 1, 0.618f, 0.01f, 8192, 0.35f, 0.25f, 0.492f, 0.639f},
        {8, 4, 0.5f, 0.5f, 64, 0.5f, 0.25f, 0.5f, 0.25f},
        {9, 0, 1, 0.008f, 8192, 0.35f, 0.25f, 0.492f, 0.639f},
        {9, 2, 0.75f, 0.01f, 8192, -0.25f, 1.5f, -0.25f, 1.5f},
        {9, 4, 0.5f, 0.01f, 8192, 0.1f, 1.2f, 0.1f, 1.2f},
    };
    for (const Case &c : cases) {
        std::string dir = testing::TempDir() + "fixups";
        std::string from = CharDir("type" + std::to_string(c.type));
        ASSERT_EQ(system(("rm -rf '" + dir + "' && cp -r '" + from + "' '" + dir + "'").c_str()), 0);
        std::string path = dir + "/Models/" + brovana::ModelFile[c.type];
        FILE *in = fopen(path.c_str(), "rb");
        ASSERT_NE(in, nullptr) << path;
        std::string b;
        char buf[4096];
        size_t n;
        while ((n = fread(buf, 1, sizeof buf, in)) > 0) b.append(buf, n);
        fclose(in);
        auto i32 = [&](size_t at) {
            int32_t v;
            memcpy(&v, &b[at], 4);
            return (size_t)v;
        };
        auto put = [&](size_t at, float v) { memcpy(&b[at], &v, 4); };
        size_t m = i32(4);
        for (size_t k = 0; k < m; k++)
            for (int f = 3; f < 10; f++) put(8 + 40 * k + 4 * f, 0.5f);
        size_t at = 8 + 40 * m + 32;
        at += 4 + i32(at);  // object 0's name
        size_t V = i32(at), F = i32(at + 4);
        at += 8 + 12 * V + 16 * F + 4;  // the first texture coordinate pair
        put(at, c.u);
        put(at + 4, c.v);
        FILE *out = fopen(path.c_str(), "wb");
        fwrite(b.data(), 1, b.size(), out);
        fclose(out);
        BrovanaEngine e;
        ASSERT_TRUE(e.load(c.type, dir.c_str())) << c.type << ": " << e.lastError();
        const brovana::Material &mat = e.object(0)->materials[c.material];
        std::string what = "type " + std::to_string(c.type) + " material " + std::to_string(c.material);
        for (int k = 0; k < 3; k++) {
            EXPECT_NEAR(mat.diffuse[k], c.diffuse, 1e-6) << what;
            EXPECT_NEAR(mat.specular[k], c.specular, 1e-6) << what;
        }
                // the load's alpha 1.0 is every alpha
        EXPECT_FLOAT_EQ(mat.specular[3], 1.0f) << what;
        EXPECT_FLOAT_EQ(mat.diffuse[3], 1.0f) << what;
        EXPECT_FLOAT_EQ(mat.ambient[3], 1.0f) << what;
        EXPECT_FLOAT_EQ(mat.shininess, c.shininess) << what;
        EXPECT_NEAR(e.object(0)->u[0], c.wantU, 1e-6) << what;
        EXPECT_NEAR(e.object(0)->v[0], c.wantV, 1e-6) << what;
        ASSERT_EQ(system(("rm -rf '" + dir + "'").c_str()), 0);
    }
}

TEST(Tongue, placement_and_normal_averaging) {
    BrovanaEngine e;
    ASSERT_TRUE(e.load(4, CharDir("type4").c_str()));
    // a window whose targets are all empty gives a zero shape
    int rows[11] = {0}, targets[11];
    float w[11];
    for (int s = 0; s < 11; s++) targets[s] = -1, w[s] = 1.0f / 11;
    float shape[18];
    e.tongueShapeFromVisemes(rows, targets, w, 10, shape);
    for (float v : shape) EXPECT_EQ(v, 0.0f);
    // two slots on rows 20 and 28 with weights 0.25 / 0.75
    targets[0] = 5, targets[1] = 6, rows[0] = 20, rows[1] = 28, w[0] = 0.25f, w[1] = 0.75f;
    e.tongueShapeFromVisemes(rows, targets, w, 1, shape);
    EXPECT_NEAR(shape[3], 0.25f * 0.020f + 0.75f * 0.028f, 1e-6);
    EXPECT_FLOAT_EQ(shape[2], 1.0f);
    // normals: a running mean that divides after every triangle
    brovana::TongueModel t;
    t.vertexCount = 193;
    t.x.assign(193, 0), t.y.assign(193, 0), t.z.assign(193, 0);
    // three triangles around vertex 0 with normals +z, +x, +y
    t.x[1] = 1, t.y[2] = 1;  // (0,1,2) in the xy plane: +z
    t.y[3] = 1, t.z[4] = 1;  // (0,3,4) in the yz plane: +x
    t.z[5] = 1, t.x[6] = 1;  // (0,5,6) in the zx plane: +y
    t.a = {0, 0, 0}, t.b = {1, 3, 5}, t.c = {2, 4, 6};
    t.triangleCount = 3;
    float off[9] = {0}, one[3] = {1, 1, 1}, zero[3] = {0, 0, 0};
    std::vector<float> nrm;
    t.place(off, off, one, one, zero, &nrm);
    EXPECT_NEAR(nrm[0], 0.5f / 3, 1e-6);        // x: ((0 + 1) / 2 + 0) / 3
    EXPECT_NEAR(nrm[1], 1.0f / 3, 1e-6);        // y: ((0 + 0) / 2 + 1) / 3
    EXPECT_NEAR(nrm[2], 0.5f / 3, 1e-6);        // z: ((1 + 0) / 2 + 0) / 3
    EXPECT_NEAR(nrm[3 * 1 + 2], 1.0f, 1e-6);    // one triangle: its unit normal
}

// Preparation fills both body pose tracks with the neutral pose, so that a
// frame without tags shows the neutral body.
TEST(Poses, preparation_fills_pose_tracks_with_the_neutral_pose) {
    BrovanaEngine e;
    ASSERT_TRUE(e.load(4, CharDir("type4").c_str()));
    e.reset();
    e.addPhoneme("A", 500, "a", false);
    e.prep();
    int arm = e.findNode("Bip01 L UpperArm");
    ASSERT_GT(e.frameCount(), 10);
    for (int f = 0; f < e.frameCount(); f += 5) {
        EXPECT_EQ(e.bodyTrack(arm, 2, f), -10.0f);
        EXPECT_EQ(e.postureTrack(arm, 0, f), 5.0f);
    }
    e.node(arm)->rotation[2] = 99;
    e.selectPoseFrame(3);
    EXPECT_EQ(e.node(arm)->rotation[2], -10.0f);
    e.selectPoseFrame(-1);  // out of range: nothing
    e.selectPoseFrame(e.frameCount());
    EXPECT_EQ(e.node(arm)->rotation[2], -10.0f);
}

namespace {

std::string WriteText(const std::string &name, const std::string &text) {
    std::string path = testing::TempDir() + name;
    FILE *f = fopen(path.c_str(), "wb");
    fputs(text.c_str(), f);
    fclose(f);
    return path;
}

// A pose file written by the character's own skeleton with every angle
// (i, -i, 0.5) for pose bone i, edited by fn.
std::string PoseFile(BrovanaEngine &e, const std::string &name) {
    for (int i = 0; i < e.nodeCount(); i++) {
        brovana::BodyNode *n = e.node(i);
        n->pose[0] = (float)i, n->pose[1] = (float)-i, n->pose[2] = 0.5f;
    }
    std::string path = testing::TempDir() + name;
    e.writePose(path);
    return path;
}

}  // namespace

TEST(Poses, partial_readers_and_hand_readers) {
    BrovanaEngine e;
    ASSERT_TRUE(e.load(4, CharDir("type4").c_str()));
    std::string path = PoseFile(e, "all.ges");
    int pelvis = e.findNode("Bip01 Pelvis"), rarm = e.findNode("Bip01 R UpperArm");
    int lf1 = e.findNode("Bip01 L Finger1"), rf1 = e.findNode("Bip01 R Finger1");
    for (int i = 0; i < e.nodeCount(); i++) e.node(i)->pose[0] = -7;
    // B: the right arm and the legs; the trunk keeps what it had
    ASSERT_EQ(e.readPoseKeysB(path), 1);
    EXPECT_EQ(e.node(pelvis)->pose[0], -7);
    EXPECT_EQ(e.node(rarm)->pose[0], (float)rarm);
    EXPECT_EQ(e.bodyPoseValue(24)[0], (float)rarm);
    // A: the trunk and the left side; the right side keeps B's values
    ASSERT_EQ(e.readPoseKeysA(path), 1);
    EXPECT_EQ(e.node(pelvis)->pose[0], (float)pelvis);
    EXPECT_EQ(e.node(lf1)->pose[0], (float)lf1);
    // a hand shape read onto the right hand is mirrored: (x, -y, -z)
    ASSERT_EQ(e.readHandPoseRight(path), 1);
    EXPECT_EQ(e.node(rf1)->pose[0], (float)lf1);
    EXPECT_EQ(e.node(rf1)->pose[1], (float)lf1);
    EXPECT_EQ(e.node(rf1)->pose[2], -0.5f);
    ASSERT_EQ(e.readHandShape(path), 1);
    EXPECT_EQ(e.handShapeValue(3)[1], (float)-lf1);
    EXPECT_EQ(e.readHandPoseLeft(testing::TempDir() + "none.ges"), 0);
    // a section line "legs ..." is not the leg section: leg values become 0
    std::string text;
    {
        FILE *f = fopen(path.c_str(), "rb");
        char buf[256];
        while (fgets(buf, sizeof buf, f)) text += strncmp(buf, "leg components", 14) == 0 ? "legs components\n" : buf;
        fclose(f);
    }
    ASSERT_EQ(e.readPose(WriteText("legs.ges", text)), 1);
    EXPECT_EQ(e.bodyPoseValue(42)[0], 0.0f);
    EXPECT_EQ(e.bodyPoseValue(6)[0], (float)e.findNode("Bip01 L UpperArm"));
}

TEST(Poses, skeleton_without_finger_4_writes_finger_3_in_its_place) {
    BrovanaEngine e;
    ASSERT_TRUE(e.load(4, CharDir("type4").c_str()));
    for (const char *n : {"Bip01 L Finger4", "Bip01 L Finger41", "Bip01 L Finger42", "Bip01 R Finger4",
                          "Bip01 R Finger41", "Bip01 R Finger42"})
        e.node(e.findNode(n))->name = std::string("gone ") + n;
    std::string path = PoseFile(e, "nof4.ges");
    FILE *f = fopen(path.c_str(), "rb");
    char buf[256];
    std::string f4, f3;
    while (fgets(buf, sizeof buf, f)) {
        if (strncmp(buf, "Bip01 L Finger4:", 16) == 0) f4 = strchr(buf, ':');
        if (strncmp(buf, "Bip01 L Finger3:", 16) == 0) f3 = strchr(buf, ':');
    }
    fclose(f);
    EXPECT_EQ(f4, f3);
    // the lines are consumed without parsing: the right side still reads in step
    int rarm = e.findNode("Bip01 R UpperArm");
    e.node(rarm)->pose[0] = 0;
    ASSERT_EQ(e.readPose(path), 1);
    EXPECT_EQ(e.node(rarm)->pose[0], (float)rarm);
}

TEST(Skeleton, pose_groups_nearest_node_and_body_vertex) {
    BrovanaEngine e;
    ASSERT_TRUE(e.load(4, CharDir("type4").c_str()));
    int arm = e.findNode("Bip01 L UpperArm"), thigh = e.findNode("Bip01 L Thigh");
    e.setBodyPoseValue(6, 1, 2, 3);
    e.setBodyPoseValue(42, 4, 5, 6);
    e.node(0)->matrix[12] = 9;
    e.applyLegPose();  // leaves the matrices
    EXPECT_EQ(e.node(thigh)->pose[2], 6.0f);
    EXPECT_EQ(e.node(0)->matrix[12], 9.0f);
    e.applyUpperBodyPose();  // resets them to the identity
    EXPECT_EQ(e.node(arm)->pose[1], 2.0f);
    EXPECT_EQ(e.node(0)->matrix[12], 0.0f);
    e.updateSkeleton();
    EXPECT_EQ(e.node(arm)->rotation[1], 2.0f);
    EXPECT_EQ(e.nearestNode(1e6f, 0, 0), -1);
    const brovana::BodyNode *body = e.node(e.findNode("Obrik BODY"));
    EXPECT_EQ(e.bodyVertexAt(body->rx[5], body->ry[5], body->rz[5]), 5);
    EXPECT_EQ(e.bodyVertexAt(100, 100, 100), -1);
    // the nearest bone to the neutral head node's first vertex: that node
    const brovana::BodyNode *neut = e.node(e.findNode("TAM_NEUT"));
    EXPECT_EQ(e.nearestNode(neut->rx[0], neut->ry[0], neut->rz[0]), e.findNode("TAM_NEUT"));
}

TEST(Load, unload_and_reset_state_leave_a_reusable_engine) {
    BrovanaEngine e;
    ASSERT_TRUE(e.load(4, CharDir("type4").c_str()));
    e.addPhoneme("A", 300, "a", false);
    e.prep();
    e.unload();
    e.resetState();
    EXPECT_FALSE(e.loaded());
    EXPECT_EQ(e.frameCount(), 0);
    EXPECT_EQ(e.duration(), 0.0f);
    EXPECT_EQ(e.tongue(), nullptr);
    e.showFrame(3);  // nothing to show, nothing read
    ASSERT_TRUE(e.load(4, CharDir("type4").c_str()));
}
