/* UTF-8 to UTF-16, for the platform layers that speak 16-bit strings.
 *
 * Contract: Text_Utf16 converts utf8 into out. A malformed sequence (or an
 * encoded surrogate) fails when strict is set; otherwise it becomes U+FFFD
 * and the conversion goes on from the next byte.
 */
#ifndef TOVIK_TEXTCONV_H
#define TOVIK_TEXTCONV_H

#include <cstdint>
#include <string>

bool Text_Utf16(const std::string &utf8, std::u16string &out, bool strict);

#endif
