#include "glcontext.h"

#include <EGL/egl.h>
#include <EGL/eglext.h>
#include <GL/gl.h>

#include <cstdio>

struct GlContext {
    EGLDisplay display = EGL_NO_DISPLAY;
    EGLSurface surface = EGL_NO_SURFACE;
    EGLContext context = EGL_NO_CONTEXT;
    int width = 0, height = 0;
};

static EGLDisplay SurfacelessDisplay() {
    auto getPlatformDisplay = (PFNEGLGETPLATFORMDISPLAYEXTPROC)eglGetProcAddress("eglGetPlatformDisplayEXT");
    if (getPlatformDisplay) {
        EGLDisplay d = getPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
        if (d != EGL_NO_DISPLAY) return d;
    }
    return eglGetDisplay(EGL_DEFAULT_DISPLAY);
}

GlContext *GlContext_CreateOffscreen(int width, int height, std::string *error) {
    if (width < 1 || height < 1) {
        *error = "offscreen size must be at least 1 x 1";
        return nullptr;
    }
    GlContext *c = new GlContext;
    c->width = width, c->height = height;
    c->display = SurfacelessDisplay();
    EGLint major, minor;
    if (c->display == EGL_NO_DISPLAY || !eglInitialize(c->display, &major, &minor)) {
        *error = "no EGL display for offscreen rendering";
        delete c;
        return nullptr;
    }
    const EGLint attribs[] = {EGL_SURFACE_TYPE, EGL_PBUFFER_BIT, EGL_RED_SIZE, 8, EGL_GREEN_SIZE, 8,
                              EGL_BLUE_SIZE, 8, EGL_DEPTH_SIZE, 16, EGL_RENDERABLE_TYPE, EGL_OPENGL_BIT,
                              EGL_NONE};
    EGLConfig config;
    EGLint n = 0;
    if (!eglChooseConfig(c->display, attribs, &config, 1, &n) || n < 1) {
        *error = "no EGL configuration with RGB colour and depth";
        GlContext_Destroy(c);
        return nullptr;
    }
    const EGLint pb[] = {EGL_WIDTH, width, EGL_HEIGHT, height, EGL_NONE};
    c->surface = eglCreatePbufferSurface(c->display, config, pb);
    eglBindAPI(EGL_OPENGL_API);
    c->context = eglCreateContext(c->display, config, EGL_NO_CONTEXT, nullptr);
    if (c->surface == EGL_NO_SURFACE || c->context == EGL_NO_CONTEXT ||
        !eglMakeCurrent(c->display, c->surface, c->surface, c->context)) {
        *error = "cannot make an offscreen OpenGL context";
        GlContext_Destroy(c);
        return nullptr;
    }
    return c;
}

void GlContext_Destroy(GlContext *c) {
    if (!c) return;
    if (c->display != EGL_NO_DISPLAY) {
        if (eglGetCurrentContext() == c->context) eglMakeCurrent(c->display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
        if (c->context != EGL_NO_CONTEXT) eglDestroyContext(c->display, c->context);
        if (c->surface != EGL_NO_SURFACE) eglDestroySurface(c->display, c->surface);
        // The display stays initialised: other contexts of the process may share it.
    }
    delete c;
}

bool GlContext_MakeCurrent(GlContext *c) {
    return c && eglMakeCurrent(c->display, c->surface, c->surface, c->context);
}

void GlContext_ReleaseCurrent() {
    EGLDisplay d = eglGetCurrentDisplay();
    if (d != EGL_NO_DISPLAY) eglMakeCurrent(d, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
}

int GlContext_Width(const GlContext *c) { return c->width; }
int GlContext_Height(const GlContext *c) { return c->height; }

void GlContext_ReadFrame(int width, int height, std::vector<unsigned char> *rgb) {
    GLint buffer = GL_BACK;
    glGetIntegerv(GL_DRAW_BUFFER, &buffer);
    glReadBuffer(buffer);
    glFinish();
    std::vector<unsigned char> up((size_t)width * height * 3);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, width, height, GL_RGB, GL_UNSIGNED_BYTE, up.data());
    rgb->resize(up.size());
    size_t row = (size_t)width * 3;
    for (int y = 0; y < height; y++)
        std::copy(up.begin() + (size_t)(height - 1 - y) * row, up.begin() + (size_t)(height - y) * row,
                  rgb->begin() + (size_t)y * row);
}

bool GlContext_WritePpm(const std::string &path, int width, int height, const std::vector<unsigned char> &rgb) {
    FILE *f = fopen(path.c_str(), "wb");
    if (!f) return false;
    fprintf(f, "P6\n%d %d\n255\n", width, height);
    bool ok = fwrite(rgb.data(), 1, rgb.size(), f) == rgb.size();
    return fclose(f) == 0 && ok;
}
