// Drawing of morph scenes with fixed-function OpenGL: state rebuild, lights,
// textures, background quad, jittered antialiasing passes and objects.
#define GL_GLEXT_PROTOTYPES 1
#include <GL/gl.h>
#include <GL/glext.h>
#include <GL/glu.h>

#include <algorithm>
#include <cmath>

#include "morph.h"

namespace morph {

namespace {

struct Jitter {
    float weight;
    float offsets[5][2];
};

// The classic accumulation jitter sets, one per pass count (2 to 5).
const Jitter kJitter[4] = {
    {0.5f, {{0.25f, 0.75f}, {0.75f, 0.25f}}},
    {1.0f / 3, {{0.503f, 0.832f}, {0.781f, 0.25f}, {0.226f, 0.413f}}},
    {0.25f, {{0.375f, 0.25f}, {0.125f, 0.75f}, {0.875f, 0.25f}, {0.625f, 0.75f}}},
    {0.2f, {{0.5f, 0.5f}, {0.3f, 0.1f}, {0.7f, 0.9f}, {0.9f, 0.3f}, {0.1f, 0.7f}}},
};

void JitterProjection(const Scene &s, float dx, float dy) {
    const int32_t *vp = s.viewport;
    if (s.projectionMode == 1) {
        glPushMatrix();
        glTranslatef(dx / vp[2], dy / vp[3], 0);
        return;
    }
    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glLoadIdentity();
    double fov = s.projection[0], aspect = s.projection[1], near = s.projection[2], far = s.projection[3];
    double top = near * std::tan(fov * M_PI / 360.0), right = top * aspect;
    double sx = -dx * 2 * right / vp[2], sy = -dy * 2 * top / vp[3];
    glFrustum(-right + sx, right + sx, -top + sy, top + sy, near, far);
    glMatrixMode(GL_MODELVIEW);
}

void PopJitterProjection(const Scene &s) {
    if (s.projectionMode == 1) {
        glPopMatrix();
        return;
    }
    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    glMatrixMode(GL_MODELVIEW);
}

void SetTextureParameters(const Scene &s) {
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_REPEAT);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_REPEAT);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, s.textureFilter);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, s.textureFilter);
}

bool ProxyFits(int32_t w, int32_t h) {
    glTexImage2D(GL_PROXY_TEXTURE_2D, 0, GL_RGBA, w, h, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
    GLint format = 0;
    glGetTexLevelParameteriv(GL_PROXY_TEXTURE_2D, 0, GL_TEXTURE_INTERNAL_FORMAT, &format);
    return format != 0 && w > 0 && h > 0;
}

void DeleteTexture(Texture *t) {
    if (t->glName >= 0) {
        GLuint n = t->glName;
        glDeleteTextures(1, &n);
    }
    t->glName = -1;
}

bool Rebuild(Scene *s, const SceneParts &parts, std::string *msg) {
    glClearColor(s->bg[0], s->bg[1], s->bg[2], s->bg[3]);
    if (s->wireframe) {
        glPolygonMode(GL_FRONT_AND_BACK, GL_LINE);
        glShadeModel(GL_FLAT);
        glDisable(GL_CULL_FACE);
        glDisable(GL_TEXTURE_2D);
    } else {
        glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
        glShadeModel(s->smooth ? GL_SMOOTH : GL_FLAT);
        if (s->cull) {
            glCullFace(GL_BACK);
            glEnable(GL_CULL_FACE);
        } else {
            glDisable(GL_CULL_FACE);
        }
        if (s->texture) {
            glEnable(GL_TEXTURE_2D);
            glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
        } else {
            glDisable(GL_TEXTURE_2D);
        }
    }
    const GLfloat black[4] = {0, 0, 0, 1};
    glLightModelfv(GL_LIGHT_MODEL_AMBIENT, black);
    for (int i = 0; i < 8; i++) glDisable(GL_LIGHT0 + i);
    int slot = 0;
    for (Light *l : parts.lights) {
        l->changed = 1;
        if (l->type != kAmbient && slot < 8) glEnable(GL_LIGHT0 + slot++);
    }
    for (Object *o : parts.objects) {
        Morph_DeleteGLState(o);
        if (!s->texture || s->wireframe) continue;
        for (Texture &t : o->textures) {
            if (t.pixels.empty()) continue;
            GLuint name;
            glGenTextures(1, &name);
            glBindTexture(GL_TEXTURE_2D, name);
            SetTextureParameters(*s);
            if (!ProxyFits(t.width, t.height)) {
                glDeleteTextures(1, &name);
                *msg = "Texture map of: \"" + o->name +
                       "\" does not fit in your hardware; it is either too big or its size is not a power of 2. "
                       "It has been disabled for now. ";
                continue;
            }
            glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, t.width, t.height, 0, GL_RGBA, GL_UNSIGNED_BYTE, t.pixels.data());
            t.glName = (int32_t)name;
        }
    }
    if (!s->bgPixels.empty()) {
        int32_t W = Morph_PowerOfTwo(s->bgWidth), H = Morph_PowerOfTwo(s->bgHeight);
        if (s->bgTexture) glDeleteTextures(1, &s->bgTexture);
        glGenTextures(1, &s->bgTexture);
        glBindTexture(GL_TEXTURE_2D, s->bgTexture);
        SetTextureParameters(*s);
        if (!ProxyFits(W, H)) {
            glDeleteTextures(1, &s->bgTexture);
            s->bgTexture = 0;
            *msg =
                "Background texture map of does not fit in your hardware; it is either too big or its size is not a "
                "power of 2. It has been disabled.";
            s->bgPixels.clear();
            s->bgWidth = s->bgHeight = 0;
            return false;
        }
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, W, H, 0, GL_RGBA, GL_UNSIGNED_BYTE, s->bgPixels.data());
        glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, s->bgWidth, s->bgHeight, GL_RGBA, GL_UNSIGNED_BYTE,
                        s->bgPixels.data());
    }
    s->changed = 0;
    return true;
}

void DrawBackground(const Scene &s) {
    glDisable(GL_DEPTH_TEST);
    if (!s.texture) glEnable(GL_TEXTURE_2D);
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_REPLACE);
    glDisable(GL_LIGHTING);
    glPushMatrix();
    glLoadIdentity();
    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glLoadIdentity();
    gluLookAt(0, 0, -1, 0, 0, 0, 1, 0, 0);
    glOrtho(-1, 1, -1, 1, -1, 1);
    glMatrixMode(GL_MODELVIEW);
    glBindTexture(GL_TEXTURE_2D, s.bgTexture);
    float su = (float)s.bgWidth / Morph_PowerOfTwo(s.bgWidth), sv = (float)s.bgHeight / Morph_PowerOfTwo(s.bgHeight);
    float c = ((float)s.bgHeight / s.bgWidth) * ((float)s.viewport[2] / std::max(1, s.viewport[3]));
    glBegin(GL_QUADS);
    glTexCoord2f(0, 0), glVertex3f(c, -1, 0);
    glTexCoord2f(0, sv), glVertex3f(-c, -1, 0);
    glTexCoord2f(su, sv), glVertex3f(-c, 1, 0);
    glTexCoord2f(su, 0), glVertex3f(c, 1, 0);
    glEnd();
    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    glMatrixMode(GL_MODELVIEW);
    glPopMatrix();
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
    if (!s.texture) glDisable(GL_TEXTURE_2D);
    glEnable(GL_LIGHTING);
}

void SpecifyLights(const SceneParts &parts) {
    int slot = 0;
    for (Light *l : parts.lights) {
        l->changed = 0;
        if (l->type == kAmbient) {
            glLightModelfv(GL_LIGHT_MODEL_AMBIENT, l->color);
            continue;
        }
        if (slot >= 8) continue;
        GLenum gl = GL_LIGHT0 + slot++;
        glLightfv(gl, GL_SPECULAR, l->specular);
        glLightfv(gl, GL_DIFFUSE, l->color);
        if (l->type == kDirectional) {
            GLfloat p[4] = {l->position[0], l->position[1], l->position[2], 0};
            glLightfv(gl, GL_POSITION, p);
            glLightf(gl, GL_CONSTANT_ATTENUATION, 0);
            glLightf(gl, GL_LINEAR_ATTENUATION, 0);
            glLightf(gl, GL_QUADRATIC_ATTENUATION, 0);
            continue;
        }
        glLightfv(gl, GL_POSITION, l->position);
        glLightfv(gl, GL_SPOT_DIRECTION, l->spotDirection);
        glLightf(gl, GL_SPOT_EXPONENT, l->spotExponent);
        glLightf(gl, GL_SPOT_CUTOFF, l->spotCutoff);
        glLightf(gl, GL_LINEAR_ATTENUATION, l->linear);
        glLightf(gl, GL_QUADRATIC_ATTENUATION, l->quadratic);
        // With no attenuation at all the light would be divided by zero
        // and saturate: such a light is not attenuated.
        bool none = l->constant == 0 && l->linear == 0 && l->quadratic == 0;
        glLightf(gl, GL_CONSTANT_ATTENUATION, none ? 1.0f : l->constant);
    }
}

// The antialiasing sum: each pass read back and added with its weight.
struct PassSum {
    std::vector<float> sum;
    std::vector<uint8_t> frame;
    void Add(const int32_t *vp, float weight) {
        size_t n = (size_t)vp[2] * vp[3] * 3;
        if (sum.size() != n) sum.assign(n, 0.0f);
        frame.resize(n);
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glReadPixels(vp[0], vp[1], vp[2], vp[3], GL_RGB, GL_UNSIGNED_BYTE, frame.data());
        for (size_t i = 0; i < n; i++) sum[i] += weight * frame[i];
    }
    void Return(const Scene &s) {
        const int32_t *vp = s.viewport;
        for (size_t i = 0; i < frame.size(); i++) frame[i] = (uint8_t)std::min(255.0f, std::floor(sum[i] + 0.5f));
        glDisable(GL_DEPTH_TEST);
        glDisable(GL_LIGHTING);
        glDisable(GL_TEXTURE_2D);
        glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
        glPixelZoom(1, 1);
        glWindowPos2i(vp[0], vp[1]);
        glDrawPixels(vp[2], vp[3], GL_RGB, GL_UNSIGNED_BYTE, frame.data());
        glEnable(GL_LIGHTING);
        if (s.texture && !s.wireframe) glEnable(GL_TEXTURE_2D);
    }
};

}  // namespace

std::string Morph_GLError() {
    GLenum e = glGetError();
    if (e == GL_NO_ERROR) return "";
    while (glGetError() != GL_NO_ERROR) {
    }
    return std::string("OpenGL Error: ") + (const char *)gluErrorString(e);
}

void Morph_Setup() {
    glEnable(GL_LIGHTING);
    glFrontFace(GL_CCW);
    const GLfloat ambient[4] = {0.1f, 0.1f, 0.1f, 0.1f};
    glLightModelfv(GL_LIGHT_MODEL_AMBIENT, ambient);
    glLightModeli(GL_LIGHT_MODEL_TWO_SIDE, GL_FALSE);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
    glShadeModel(GL_SMOOTH);
    glPixelZoom(1, 1);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
}

void Morph_DeleteGLState(Object *o) {
    for (Material &m : o->materials) {
        if (m.displayList >= 0) glDeleteLists(m.displayList, 1);
        m.displayList = -1;
    }
    for (Texture &t : o->textures) DeleteTexture(&t);
}

bool Morph_RenderObject(Object *o, int32_t time, bool textured, std::string *msg) {
    Morph_Blend(o, time);
    // Nothing to draw until a check has made the blended arrays.
    if (o->morphLength == 0 || o->indices.empty() || o->morphedVertices.size() < 3 * (size_t)o->vertexCount) return true;
    double start = Morph_Now100ns();
    glPushMatrix();
    glTranslatef(o->position[0], o->position[1], o->position[2]);
    if (o->elevation != 0) glRotatef(o->elevation, 1, 0, 0);
    if (o->azimuth != 0) glRotatef(o->azimuth, 0, 1, 0);
    glEnable(GL_NORMALIZE);
    glScalef(o->scale, o->scale, o->scale);
    glVertexPointer(3, GL_FLOAT, 0, o->morphedVertices.data());
    glNormalPointer(GL_FLOAT, 0, o->morphedNormals.data());
    glEnableClientState(GL_VERTEX_ARRAY);
    glEnableClientState(GL_NORMAL_ARRAY);
    const bool haveUv = !o->materials.empty() && o->materials[0].uv.size() >= 2 * (size_t)o->vertexCount;
    if (haveUv) glTexCoordPointer(2, GL_FLOAT, 0, o->materials[0].uv.data());
    for (Material &m : o->materials) {
        bool tex = textured && haveUv && m.textureEnabled && m.textureIndex >= 0 &&
                   m.textureIndex < (int32_t)o->textures.size() && o->textures[m.textureIndex].glName >= 0;
        if (m.displayList < 0) {
            m.displayList = (int32_t)glGenLists(1);
            glNewList(m.displayList, GL_COMPILE_AND_EXECUTE);
            const GLfloat white[4] = {1, 1, 1, 1};
            if (tex) {
                glMaterialfv(GL_FRONT_AND_BACK, GL_AMBIENT, white);
                glMaterialfv(GL_FRONT_AND_BACK, GL_DIFFUSE, white);
                glBindTexture(GL_TEXTURE_2D, o->textures[m.textureIndex].glName);
            } else {
                glMaterialfv(GL_FRONT_AND_BACK, GL_AMBIENT, m.ambient);
                glMaterialfv(GL_FRONT_AND_BACK, GL_DIFFUSE, m.diffuse);
                glBindTexture(GL_TEXTURE_2D, 0);
            }
            glMaterialfv(GL_FRONT_AND_BACK, GL_SPECULAR, m.specular);
            glMaterialfv(GL_FRONT_AND_BACK, GL_EMISSION, m.emissive);
            glMaterialf(GL_FRONT_AND_BACK, GL_SHININESS, (1 - m.shininess) * 128);
            glEndList();
        } else {
            glCallList(m.displayList);
        }
        if (tex)
            glEnableClientState(GL_TEXTURE_COORD_ARRAY);
        else
            glDisableClientState(GL_TEXTURE_COORD_ARRAY);
        if (m.faceCount > 0 && m.faceStart >= 0 && (int64_t)m.faceStart + m.faceCount <= o->faceCount())
            glDrawElements(GL_TRIANGLES, 3 * m.faceCount, GL_UNSIGNED_INT, o->indices.data() + 3 * (size_t)m.faceStart);
    }
    glDisableClientState(GL_TEXTURE_COORD_ARRAY);
    glDisableClientState(GL_VERTEX_ARRAY);
    glDisableClientState(GL_NORMAL_ARRAY);
    glDisable(GL_NORMALIZE);
    glPopMatrix();
    o->renderTime += (float)(Morph_Now100ns() - start);
    std::string e = Morph_GLError();
    if (e.empty()) return true;
    *msg += "In renderObject " + e;
    return false;
}

bool Morph_ShowScene(Scene *s, const SceneParts &parts, int32_t time, std::string *msg) {
    s->frameCount += 1;
    double start = Morph_Now100ns();
    GLfloat mv[16];
    glGetFloatv(GL_MODELVIEW_MATRIX, mv);
    bool moved = false;
    for (int a = 0; a < 3; a++)
        if (mv[12 + a] != s->camera[a]) {
            s->camera[a] = mv[12 + a];
            moved = true;
        }
    GLint vp[4];
    glGetIntegerv(GL_VIEWPORT, vp);
    std::copy(vp, vp + 4, s->viewport);
    if (s->changed && !Rebuild(s, parts, msg)) return false;
    const int32_t n = s->antialias;
    const bool jitter = n >= 2 && n <= 5 && s->viewport[2] > 0 && s->viewport[3] > 0;
    bool lights = moved;
    PassSum sum;
    for (int32_t p = 0; p < std::max(1, n); p++) {
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        if (jitter) JitterProjection(*s, kJitter[n - 2].offsets[p][0], kJitter[n - 2].offsets[p][1]);
        if (!s->bgPixels.empty()) DrawBackground(*s);
        glEnable(GL_DEPTH_TEST);
        if (!lights)
            for (Light *l : parts.lights)
                if (l->changed) {
                    lights = true;
                    break;
                }
        if (lights) SpecifyLights(parts);
        for (Object *o : parts.objects)
            if (!Morph_RenderObject(o, time, s->texture && !s->wireframe, msg)) {
                if (jitter) PopJitterProjection(*s);
                return false;
            }
        if (n != 0) {
            sum.Add(s->viewport, jitter ? kJitter[n - 2].weight : 1.0f / n);
            if (jitter) PopJitterProjection(*s);
        }
    }
    if (n != 0) sum.Return(*s);
    s->frameTime += (float)(Morph_Now100ns() - start);
    return true;
}

}  // namespace morph
