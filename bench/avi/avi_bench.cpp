// Renders a lit morph scene (a sphere whose four ripple targets follow
// their weight tracks) offscreen at 640x480 with the morph library, reads
// each frame back and writes it as an MJPG AVI; then encodes the same frames
// with ffmpeg. Prints frames per second and the ratio of the two.
#include <GL/gl.h>
#include <GL/glu.h>

#include <algorithm>
#include <memory>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "avifile.h"
#include "glcontext.h"
#include "morph.h"

namespace {

const int kW = 640, kH = 480, kFrames = 90;

double now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// A morph object: a sphere of 64 x 32 quads (as triangles) with four
// ripple targets whose weight tracks rise and fall over the clip.
morph::Object *MakeSphere() {
    auto *o = new morph::Object;
    o->name = "sphere";
    const int nu = 64, nv = 32;
    o->vertexCount = (nu + 1) * (nv + 1);
    o->targets.resize(5);
    o->targets[0].name = "base";
    for (int j = 0; j <= nv; j++)
        for (int i = 0; i <= nu; i++) {
            double u = 2 * M_PI * i / nu, v = M_PI * j / nv;
            o->targets[0].coords.insert(o->targets[0].coords.end(),
                                        {(float)(std::sin(v) * std::cos(u)), (float)std::cos(v),
                                         (float)(std::sin(v) * std::sin(u))});
        }
    for (int t = 1; t <= 4; t++) {
        morph::Target &tg = o->targets[t];
        tg.name = "ripple" + std::to_string(t);
        tg.coords.resize(o->targets[0].coords.size());
        for (size_t c = 0; c < tg.coords.size(); c += 3) {
            int i = (int)(c / 3) % (nu + 1);
            double r = 0.15 * std::sin((t + 2) * 2 * M_PI * i / nu);
            for (int a = 0; a < 3; a++) tg.coords[c + a] = (float)(r * o->targets[0].coords[c + a]);
        }
        tg.tracks = true;
        for (int k = 0; k <= kFrames * 1000 / 30; k += 250)
            tg.keys.push_back({(float)(0.5 + 0.5 * std::sin(k * 0.004 * t)), k});
    }
    for (int j = 0; j < nv; j++)
        for (int i = 0; i < nu; i++) {
            int a = j * (nu + 1) + i, b = a + nu + 1;
            o->indices.insert(o->indices.end(), {a, a + 1, b, a + 1, b + 1, b});
        }
    morph::Material m;
    m.name = "skin";
    const float amb[4] = {0.2f, 0.1f, 0.1f, 1}, dif[4] = {0.9f, 0.6f, 0.5f, 1}, spec[4] = {0.3f, 0.3f, 0.3f, 1};
    std::copy(amb, amb + 4, m.ambient);
    std::copy(dif, dif + 4, m.diffuse);
    std::copy(spec, spec + 4, m.specular);
    m.shininess = 0.7f;
    m.faceCount = o->faceCount();
    o->materials.push_back(m);
    morph::Morph_ComputeBoundingBox(o);
    std::string msg;
    if (morph::Morph_CheckObject(o, &msg)) std::fprintf(stderr, "sphere: %s\n", msg.c_str());
    return o;
}

void toDib(const std::vector<unsigned char> &rgb, std::vector<uint8_t> *dib) {
    int stride = AviFile_RowBytes(kW, 24);
    dib->resize(size_t(stride) * kH);
    for (int y = 0; y < kH; y++) {
        const unsigned char *in = &rgb[size_t(y) * kW * 3];
        uint8_t *out = &(*dib)[size_t(kH - 1 - y) * stride];
        for (int x = 0; x < kW; x++) {
            out[3 * x] = in[3 * x + 2];
            out[3 * x + 1] = in[3 * x + 1];
            out[3 * x + 2] = in[3 * x];
        }
    }
}

}  // namespace

int main(int argc, char **argv) {
    std::string dir = argc > 1 ? argv[1] : ".";
    std::string error;
    GlContext *ctx = GlContext_CreateOffscreen(kW, kH, &error);
    if (!ctx) {
        std::fprintf(stderr, "no offscreen context: %s\n", error.c_str());
        return 1;
    }
    std::vector<std::vector<unsigned char>> frames(kFrames);
    AviFile avi;
    std::string ours = dir + "/avi_bench.avi";
    if (avi.Open(ours) || avi.CreateVideo(1, 30, "bench") || avi.SetCompressor(0x47504a4d /* MJPG */, 3, 9000) ||
        avi.SetVideoFormat(kW, kH, 24)) {
        std::fprintf(stderr, "cannot write %s\n", ours.c_str());
        return 1;
    }
    std::unique_ptr<morph::Object> sphere(MakeSphere());
    morph::Light light;
    light.type = morph::kDirectional;
    const float white[4] = {1, 1, 1, 1}, lightDir[4] = {1, 1, 2, 0};
    std::copy(white, white + 4, light.color);
    std::copy(white, white + 4, light.specular);
    std::copy(lightDir, lightDir + 4, light.position);
    morph::Scene scene;
    const float bg[4] = {0.1f, 0.1f, 0.3f, 1};
    std::copy(bg, bg + 4, scene.bg);
    scene.projectionMode = 0;
    const float proj[4] = {40, (float)kW / kH, 1, 10};
    std::copy(proj, proj + 4, scene.projection);
    morph::SceneParts parts{{sphere.get()}, {&light}};
    morph::Morph_Setup();
    glViewport(0, 0, kW, kH);
    glMatrixMode(GL_PROJECTION);
    gluPerspective(proj[0], proj[1], proj[2], proj[3]);
    glMatrixMode(GL_MODELVIEW);
    gluLookAt(0, 0, 3, 0, 0, 0, 0, 1, 0);
    std::vector<uint8_t> dib;
    std::string msg;
    double t0 = now(), encode = 0;
    for (int f = 0; f < kFrames; f++) {
        sphere->azimuth = f * 4.0f;
        if (!morph::Morph_ShowScene(&scene, parts, f * 1000 / 30, &msg)) {
            std::fprintf(stderr, "show: %s\n", msg.c_str());
            return 1;
        }
        glFinish();
        GlContext_ReadFrame(kW, kH, &frames[f]);
        toDib(frames[f], &dib);
        double e0 = now();
        avi.WriteVideo(f, dib.data(), dib.size(), f % 3 == 0);
        encode += now() - e0;
    }
    avi.Close();
    double total = now() - t0;
    // The same scene with four antialiasing passes summed by read-back.
    scene.antialias = 4;
    scene.changed = 1;
    std::vector<unsigned char> rgb;
    double a0 = now();
    for (int f = 0; f < kFrames / 3; f++) {
        morph::Morph_ShowScene(&scene, parts, f * 1000 / 30, &msg);
        GlContext_ReadFrame(kW, kH, &rgb);
    }
    double aaRate = (kFrames / 3) / (now() - a0);
    GlContext_Destroy(ctx);

    std::string raw = dir + "/avi_bench.rgb", theirs = dir + "/avi_bench_ffmpeg.avi";
    FILE *f = std::fopen(raw.c_str(), "wb");
    for (const auto &fr : frames) std::fwrite(fr.data(), 1, fr.size(), f);
    std::fclose(f);
    std::string cmd = "ffmpeg -v error -y -f rawvideo -pix_fmt rgb24 -s 640x480 -r 30 -i '" + raw +
                      "' -c:v mjpeg -q:v 3 -threads 1 '" + theirs + "'";
    // ffmpeg's own start-up is taken out: a run of one frame is timed too.
    std::string one = "ffmpeg -v error -y -f rawvideo -pix_fmt rgb24 -s 640x480 -r 30 -i '" + raw +
                      "' -frames:v 1 -c:v mjpeg -q:v 3 -threads 1 '" + theirs + "'";
    double s0 = now();
    int rc = std::system(one.c_str());
    double startup = now() - s0;
    double f0 = now();
    rc |= std::system(cmd.c_str());
    double ffmpegTime = (now() - f0 - startup) * kFrames / (kFrames - 1);
    std::remove(raw.c_str());

    std::printf("render + read back + MJPG write, 640x480: %.1f frames/s (real time needs 30, ratio %.2f)\n",
                kFrames / total, kFrames / total / 30);
    std::printf("MJPG writing alone: %.1f frames/s\n", kFrames / encode);
    std::printf("render + read back with 4 antialiasing passes: %.1f frames/s (ratio to 30: %.2f)\n", aaRate,
                aaRate / 30);
    if (rc == 0)
        std::printf("ffmpeg encoding the same raw frames to MJPG (start-up taken out): %.1f frames/s; "
                    "ours/ffmpeg speed ratio %.2f\n",
                    kFrames / ffmpegTime, ffmpegTime / encode);
    else
        std::printf("ffmpeg not available: no comparison\n");
    return 0;
}
