#include "textconv.h"

bool Text_Utf16(const std::string &utf8, std::u16string &out, bool strict) {
    out.clear();
    const unsigned char *s = reinterpret_cast<const unsigned char *>(utf8.data());
    size_t n = utf8.size(), i = 0;
    while (i < n) {
        uint32_t c = s[i];
        int extra = c < 0x80 ? 0 : (c & 0xE0) == 0xC0 ? 1 : (c & 0xF0) == 0xE0 ? 2 : (c & 0xF8) == 0xF0 ? 3 : -1;
        bool bad = extra < 0 || i + extra >= n + (extra == 0 ? 1 : 0);
        if (!bad && extra) {
            c &= 0x3F >> extra;
            for (int k = 1; k <= extra; k++) {
                if ((s[i + k] & 0xC0) != 0x80) bad = true;
                c = (c << 6) | (s[i + k] & 0x3F);
            }
            bad = bad || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF);
        }
        if (bad) {
            if (strict) return false;
            out.push_back(0xFFFD);
            i++;
            continue;
        }
        i += extra + 1;
        if (c >= 0x10000) {
            c -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(c));
        }
    }
    return true;
}
