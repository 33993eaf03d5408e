// MJPG frames: one baseline JPEG per bitmap, through libjpeg with an error
// manager that returns instead of ending the process.
#include <csetjmp>
#include <cstdio>
#include <cstdlib>

#include <jpeglib.h>

#include "avifile.h"

namespace {

struct ErrorManager {
    jpeg_error_mgr pub;
    jmp_buf back;
    char message[JMSG_LENGTH_MAX];
};

void onError(j_common_ptr cinfo) {
    ErrorManager *m = reinterpret_cast<ErrorManager *>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, m->message);
    longjmp(m->back, 1);
}

void quiet(j_common_ptr, int) {}

}  // namespace

uint32_t AviFile_EncodeJpeg(const uint8_t *dib, int32_t width, int32_t height, int32_t bits, int quality,
                            std::vector<uint8_t> *out, std::string *why) {
    jpeg_compress_struct c;
    ErrorManager err;
    c.err = jpeg_std_error(&err.pub);
    err.pub.error_exit = onError;
    err.pub.emit_message = quiet;
    unsigned char *mem = nullptr;
    unsigned long size = 0;
    std::vector<uint8_t> row(size_t(width) * 3);
    if (setjmp(err.back)) {
        if (why) *why = err.message;
        jpeg_destroy_compress(&c);
        free(mem);
        return AVIERR_COMPRESSOR;
    }
    jpeg_create_compress(&c);
    jpeg_mem_dest(&c, &mem, &size);
    c.image_width = JDIMENSION(width);
    c.image_height = JDIMENSION(height);
    c.input_components = 3;
    c.in_color_space = JCS_RGB;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, quality, TRUE);
    jpeg_start_compress(&c, TRUE);
    int step = bits / 8;
    int32_t stride = AviFile_RowBytes(width, bits);
    while (c.next_scanline < c.image_height) {
        // Bitmaps run bottom-up in blue-green-red order.
        const uint8_t *src = dib + size_t(height - 1 - int32_t(c.next_scanline)) * size_t(stride);
        for (int32_t x = 0; x < width; x++) {
            row[3 * x] = src[step * x + 2];
            row[3 * x + 1] = src[step * x + 1];
            row[3 * x + 2] = src[step * x];
        }
        JSAMPROW r = row.data();
        jpeg_write_scanlines(&c, &r, 1);
    }
    jpeg_finish_compress(&c);
    out->assign(mem, mem + size);
    jpeg_destroy_compress(&c);
    free(mem);
    return 0;
}
