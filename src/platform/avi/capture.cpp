// Window capture through XGetImage, with the X errors of the request
// trapped so that a window that is gone or unmapped gives a message.
#include "capture.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include "avifile.h"

namespace {

int trapError(ClientData data, XErrorEvent *event) {
    *static_cast<int *>(data) = event->error_code;
    return 0;
}

// Shift that brings a colour mask's top bits to an 8-bit channel.
int channelShift(unsigned long mask) {
    int top = 63;
    while (top >= 0 && !(mask & (1ul << top))) top--;
    return top - 7;
}

uint8_t channel(unsigned long pixel, unsigned long mask, int shift) {
    unsigned long v = pixel & mask;
    return uint8_t(shift >= 0 ? v >> shift : v << -shift);
}

}  // namespace

int Capture_Window(Tk_Window win, int32_t width, int32_t height, int32_t bits, uint8_t *dib, std::string *why) {
    if (!win || !Tk_IsMapped(win) || Tk_WindowId(win) == None) {
        *why = "window is not mapped";
        return 1;
    }
    Display *display = Tk_Display(win);
    int xerror = 0;
    Tk_ErrorHandler handler = Tk_CreateErrorHandler(display, -1, -1, -1, trapError, &xerror);
    XImage *image = XGetImage(display, Tk_WindowId(win), 0, 0, unsigned(width), unsigned(height), AllPlanes, ZPixmap);
    XSync(display, False);
    Tk_DeleteErrorHandler(handler);
    if (!image || xerror) {
        if (image) XDestroyImage(image);
        char text[256] = "";
        if (xerror) XGetErrorText(display, xerror, text, sizeof text);
        *why = xerror ? text : "the window could not be read";
        return 1;
    }
    int rs = channelShift(image->red_mask), gs = channelShift(image->green_mask), bs = channelShift(image->blue_mask);
    int32_t stride = AviFile_RowBytes(width, bits);
    int step = bits / 8;
    bool direct = image->bits_per_pixel == 32 && image->byte_order == LSBFirst && image->red_mask == 0xff0000 &&
                  image->green_mask == 0xff00 && image->blue_mask == 0xff;
    for (int32_t y = 0; y < height; y++) {
        uint8_t *out = dib + size_t(height - 1 - y) * size_t(stride);
        if (direct) {
            const uint8_t *in = reinterpret_cast<const uint8_t *>(image->data) + size_t(y) * image->bytes_per_line;
            for (int32_t x = 0; x < width; x++) {
                out[step * x] = in[4 * x];
                out[step * x + 1] = in[4 * x + 1];
                out[step * x + 2] = in[4 * x + 2];
                if (step == 4) out[4 * x + 3] = 0;
            }
            continue;
        }
        for (int32_t x = 0; x < width; x++) {
            unsigned long p = XGetPixel(image, x, y);
            out[step * x] = channel(p, image->blue_mask, bs);
            out[step * x + 1] = channel(p, image->green_mask, gs);
            out[step * x + 2] = channel(p, image->red_mask, rs);
            if (step == 4) out[4 * x + 3] = 0;
        }
    }
    XDestroyImage(image);
    return 0;
}
