/* Window capture: what a Tk window shows, as a device-independent bitmap
 * (bottom-up rows of blue-green-red(-unused) pixels, rows padded to 32
 * bits), read from the X server with XGetImage.
 *
 * Contract: returns 0, or 1 with the reason in *why (an X error is trapped
 * through Tk's error handlers and never reaches the default handler, which
 * would end the process). The window must be mapped and the whole
 * width x height inside it; bits is 24 or 32.
 */
#ifndef TOVIK_CAPTURE_H
#define TOVIK_CAPTURE_H

#include <stdint.h>
#include <tk.h>

#include <string>

int Capture_Window(Tk_Window win, int32_t width, int32_t height, int32_t bits, uint8_t *dib, std::string *why);

#endif
