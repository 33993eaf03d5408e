// Renders a lit, turning, shaded shape offscreen at 640x480, reads each
// frame back and writes it as an MJPG AVI; then encodes the same frames
// with ffmpeg. Prints frames per second and the ratio of the two.
#include <GL/gl.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "avifile.h"
#include "glcontext.h"

namespace {

const int kW = 640, kH = 480, kFrames = 90;

double now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

void drawScene(int frame) {
    glViewport(0, 0, kW, kH);
    glClearColor(0.1f, 0.1f, 0.3f, 1);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glEnable(GL_DEPTH_TEST);
    glEnable(GL_LIGHTING);
    glEnable(GL_LIGHT0);
    glEnable(GL_NORMALIZE);
    GLfloat pos[4] = {1, 1, 2, 0};
    glLightfv(GL_LIGHT0, GL_POSITION, pos);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glFrustum(-0.8, 0.8, -0.6, 0.6, 1, 10);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glTranslatef(0, 0, -3);
    glRotatef(frame * 4.0f, 0.3f, 1, 0);
    // A sphere of 64 x 32 quads whose radius ripples over time.
    const int nu = 64, nv = 32;
    for (int j = 0; j < nv; j++) {
        glBegin(GL_QUAD_STRIP);
        for (int i = 0; i <= nu; i++) {
            for (int dj = 0; dj < 2; dj++) {
                double u = 2 * M_PI * i / nu, v = M_PI * (j + dj) / nv;
                double r = 1 + 0.1 * std::sin(6 * u + frame * 0.2) * std::sin(v);
                double x = std::sin(v) * std::cos(u), y = std::cos(v), z = std::sin(v) * std::sin(u);
                glNormal3d(x, y, z);
                glVertex3d(r * x, r * y, r * z);
            }
        }
        glEnd();
    }
    glFinish();
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
    std::vector<uint8_t> dib;
    double t0 = now(), encode = 0;
    for (int f = 0; f < kFrames; f++) {
        drawScene(f);
        GlContext_ReadFrame(kW, kH, &frames[f]);
        toDib(frames[f], &dib);
        double e0 = now();
        avi.WriteVideo(f, dib.data(), dib.size(), f % 3 == 0);
        encode += now() - e0;
    }
    avi.Close();
    double total = now() - t0;
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
    if (rc == 0)
        std::printf("ffmpeg encoding the same raw frames to MJPG (start-up taken out): %.1f frames/s; "
                    "ours/ffmpeg speed ratio %.2f\n",
                    kFrames / ffmpegTime, ffmpegTime / encode);
    else
        std::printf("ffmpeg not available: no comparison\n");
    return 0;
}
