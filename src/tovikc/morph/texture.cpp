// JPEG texture maps, decoded with libjpeg. The library's own error manager
// would end the process on a damaged file; ours jumps back and reports it.
#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>

#include <jpeglib.h>

#include "morph.h"

namespace morph {

namespace {

struct ErrorManager {
    jpeg_error_mgr pub;
    jmp_buf jump;
    char text[JMSG_LENGTH_MAX];
};

void OnError(j_common_ptr c) {
    ErrorManager *e = reinterpret_cast<ErrorManager *>(c->err);
    (*c->err->format_message)(c, e->text);
    longjmp(e->jump, 1);
}

// Warnings (a truncated file) would otherwise be printed.
void OnMessage(j_common_ptr, int) {}

}  // namespace

bool Morph_ReadJpeg(const std::string &path, Texture *tex, std::string *msg) {
    FILE *f = fopen(path.c_str(), "rb");
    if (!f) {
        *msg += "Error reading texturemap: \"" + path + "\": " + strerror(errno);
        return false;
    }
    jpeg_decompress_struct d;
    ErrorManager err;
    d.err = jpeg_std_error(&err.pub);
    err.pub.error_exit = OnError;
    err.pub.emit_message = OnMessage;
    // Kept outside the jump: locals changed after setjmp are unreliable.
    std::vector<uint8_t> *pixels = &tex->pixels;
    std::vector<JSAMPLE> *row = new std::vector<JSAMPLE>;
    if (setjmp(err.jump)) {
        jpeg_destroy_decompress(&d);
        fclose(f);
        delete row;
        pixels->clear();
        *msg += "Error during jpeg decoding of \"" + path + "\": " + err.text;
        return false;
    }
    jpeg_create_decompress(&d);
    jpeg_stdio_src(&d, f);
    jpeg_read_header(&d, TRUE);
    jpeg_start_decompress(&d);
    const int w = d.output_width, h = d.output_height, comps = d.output_components;
    if ((uint64_t)w * h > (1u << 26)) {
        jpeg_destroy_decompress(&d);
        fclose(f);
        delete row;
        *msg += "texture map \"" + path + "\" is too large";
        return false;
    }
    row->resize((size_t)w * comps);
    pixels->assign((size_t)w * h * 4, 0);
    for (int y = 0; y < h; y++) {
        JSAMPROW r = row->data();
        if (jpeg_read_scanlines(&d, &r, 1) != 1) {
            jpeg_destroy_decompress(&d);
            fclose(f);
            delete row;
            pixels->clear();
            *msg += "Error during jpeg decoding?";
            return false;
        }
        uint8_t *out = pixels->data() + (size_t)y * w * 4;
        for (int x = 0; x < w; x++) {
            const JSAMPLE *p = row->data() + (size_t)x * comps;
            out[4 * x] = p[0];
            out[4 * x + 1] = comps == 3 ? p[1] : p[0];
            out[4 * x + 2] = comps == 3 ? p[2] : p[0];
            out[4 * x + 3] = 255;  // opaque
        }
    }
    jpeg_finish_decompress(&d);
    jpeg_destroy_decompress(&d);
    fclose(f);
    delete row;
    tex->width = w, tex->height = h;
    tex->glName = -1;
    return true;
}

}  // namespace morph
