// OpenGL rendering contexts without a window system: an offscreen context
// (EGL on Mesa's surfaceless platform, a pbuffer of the given size, desktop
// OpenGL compatibility profile) for tests and headless rendering, and the
// read-back of the rendered frame that both the offscreen context and the
// "OpenGL" package's windows use.
//
// What callers rely on: after GlContext_CreateOffscreen succeeds the context
// is current on the calling thread, with RGB colour and a depth buffer of at
// least 16 bits; it has no accumulation buffer.  Drawing goes to its one
// colour buffer, which GlContext_ReadFrame reads.  Only one offscreen context
// per thread is current at a time; GlContext_MakeCurrent switches.
#pragma once

#include <string>
#include <vector>

struct GlContext;

// Null with the reason in *error when no context can be made.
GlContext *GlContext_CreateOffscreen(int width, int height, std::string *error);
void GlContext_Destroy(GlContext *ctx);
bool GlContext_MakeCurrent(GlContext *ctx);
// Releases the offscreen context current on this thread, if any (needed
// before another window system's context can be made current).
void GlContext_ReleaseCurrent();
int GlContext_Width(const GlContext *ctx);
int GlContext_Height(const GlContext *ctx);

// Reads the colour buffer being drawn into of the current context: width x
// height RGB pixels, top row first (as an image is stored, not as OpenGL
// counts rows).
void GlContext_ReadFrame(int width, int height, std::vector<unsigned char> *rgb);
// Writes RGB pixels, top row first, as a binary PPM file; false on failure.
bool GlContext_WritePpm(const std::string &path, int width, int height, const std::vector<unsigned char> &rgb);
