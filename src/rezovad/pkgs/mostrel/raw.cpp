// raw: byte buffers of any content, typed access at byte offsets, CRC-16,
// channel input and output, and base64.
#include <cstdlib>
#include <cstring>
#include <string>

#include "cmds.h"
#include "mostrel.h"
#include "obj.h"
#include "yastro.h"

namespace {

// A raw holds at most this many bytes, so that its length fits its int32
// field with the terminating zero that follows the data.
const int64_t kMaxRaw = 0x7ffffffe;

void setResult(Tcl_Interp *interp, const std::string &s) { Tcl_SetObjResult(interp, Tcl_NewStringObj(s.c_str(), -1)); }

int fail(Tcl_Interp *interp, const std::string &s) {
    setResult(interp, s);
    return TCL_ERROR;
}

// Resizes a raw's buffer to n bytes and a terminating zero, clearing the
// bytes it adds; sizes come from scripts and peers, so a refused
// allocation is an error, never an abort.
bool resize(Tcl_Interp *interp, RawBuffer *b, int64_t n) {
    if (n < 0 || n > kMaxRaw) {
        fail(interp, "raw too large: " + std::to_string(n) + " bytes");
        return false;
    }
    unsigned char *p = static_cast<unsigned char *>(realloc(b->data, static_cast<size_t>(n) + 1));
    if (!p) {
        fail(interp, "not enough memory for a raw of " + std::to_string(n) + " bytes");
        return false;
    }
    if (n > b->length) memset(p + b->length, 0, static_cast<size_t>(n - b->length));
    p[n] = 0;
    b->data = p;
    b->length = static_cast<int32_t>(n);
    return true;
}

RawBuffer *newRaw(Tcl_Interp *interp, int64_t n) {
    RawBuffer *b = static_cast<RawBuffer *>(DB_MALLOC(sizeof(RawBuffer)));
    b->data = nullptr;
    b->length = 0;
    if (!resize(interp, b, n)) {
        DB_FREE(b);
        return nullptr;
    }
    return b;
}

void freeRaw(RawBuffer *b) {
    DB_FREE(b->data);
    DB_FREE(b);
}

// Registers a new raw; its name is the result.
int publish(Tcl_Interp *interp, RawBuffer *b) {
    if (Obj_Create(interp, "raw", b) == TCL_OK) return TCL_OK;
    freeRaw(b);
    return TCL_ERROR;
}

RawBuffer *getRaw(Tcl_Interp *interp, const char *name) {
    return static_cast<RawBuffer *>(Obj_GetData(interp, "raw", name));
}

// The bytes from p, up to n of them or the first zero byte, as the result.
void setBytesResult(Tcl_Interp *interp, const unsigned char *p, int64_t n) {
    size_t len = strnlen(reinterpret_cast<const char *>(p), static_cast<size_t>(n));
    Tcl_SetObjResult(interp, Tcl_NewStringObj(reinterpret_cast<const char *>(p), static_cast<int>(len)));
}

// raw create -length N | -value TEXT
// A new raw of N zero bytes, or of TEXT's bytes and a terminating zero.
int CreateCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    int length = 0, haveLength = 0, haveValue = 0;
    const char *value = nullptr;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "-length %i %n -value %s %n", &length, &haveLength, &value,
                       &haveValue))
        return TCL_ERROR;
    if (haveLength == haveValue) return fail(interp, "specify either -length or -value");
    if (haveLength && length < 0) return fail(interp, "length must not be negative");
    int64_t n = haveLength ? length : static_cast<int64_t>(strlen(value)) + 1;
    RawBuffer *b = newRaw(interp, n);
    if (!b) return TCL_ERROR;
    if (haveValue) memcpy(b->data, value, static_cast<size_t>(n));
    return publish(interp, b);
}

// raw set RAW ?VALUE?
// Replaces the contents by VALUE and a terminating zero; answers the
// contents as a string (up to the first zero byte).
int SetCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *name = nullptr, *value = nullptr;
    int haveValue = 0;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "raw %s value !s", &name, &value, &haveValue)) return TCL_ERROR;
    RawBuffer *b = getRaw(interp, name);
    if (!b) return TCL_ERROR;
    if (haveValue) {
        int64_t n = static_cast<int64_t>(strlen(value)) + 1;
        if (!resize(interp, b, n)) return TCL_ERROR;
        memcpy(b->data, value, static_cast<size_t>(n));
    }
    setBytesResult(interp, b->data, b->length);
    return TCL_OK;
}

// raw length RAW ?LENGTH?
// Cuts or extends (with zero bytes) the raw to LENGTH; answers the length.
int LengthCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *name = nullptr;
    int length = 0, haveLength = 0;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "raw %s length !i", &name, &length, &haveLength)) return TCL_ERROR;
    RawBuffer *b = getRaw(interp, name);
    if (!b) return TCL_ERROR;
    if (haveLength) {
        if (length < 0) return fail(interp, "negative lengths do not work in this universe");
        if (!resize(interp, b, length)) return TCL_ERROR;
    }
    setResult(interp, std::to_string(b->length));
    return TCL_OK;
}

// raw cat ?RAW ...?
// A new raw holding the bytes of every RAW in order.
int CatCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    int count = 0;
    const char **names = nullptr;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "raw... %l", &count, &names)) return TCL_ERROR;
    int64_t total = 0;
    for (int i = 0; i < count; i++) {
        RawBuffer *b = getRaw(interp, names[i]);
        if (!b) return TCL_ERROR;
        total += b->length;
    }
    RawBuffer *out = newRaw(interp, total);
    if (!out) return TCL_ERROR;
    int64_t at = 0;
    for (int i = 0; i < count; i++) {
        RawBuffer *b = getRaw(interp, names[i]);
        if (b->length) memcpy(out->data + at, b->data, b->length);
        at += b->length;
    }
    return publish(interp, out);
}

// raw cut RAW START LENGTH
// A new raw with a copy of LENGTH bytes (fewer at the end) from START.
int CutCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *name = nullptr;
    int start = 0, length = 0;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "raw %s start %i length %i", &name, &start, &length))
        return TCL_ERROR;
    RawBuffer *b = getRaw(interp, name);
    if (!b) return TCL_ERROR;
    if (start < 0 || start >= b->length) return fail(interp, "start value out of range");
    if (length < 0) return fail(interp, "negative length");
    int64_t n = std::min<int64_t>(length, b->length - start);
    RawBuffer *out = newRaw(interp, n);
    if (!out) return TCL_ERROR;
    memcpy(out->data, b->data + start, static_cast<size_t>(n));
    return publish(interp, out);
}

// Bytes of a value, least significant first unless msb.
void storeBytes(unsigned char *at, uint64_t bits, int size, bool msb) {
    for (int i = 0; i < size; i++) at[msb ? size - 1 - i : i] = static_cast<unsigned char>(bits >> (8 * i));
}

uint64_t loadBytes(const unsigned char *at, int size, bool msb) {
    uint64_t bits = 0;
    for (int i = 0; i < size; i++) bits |= static_cast<uint64_t>(at[msb ? size - 1 - i : i]) << (8 * i);
    return bits;
}

// Fetches the raw and checks that size bytes fit at index (64-bit sums, so
// no index can wrap past the end).
unsigned char *valuePlace(Tcl_Interp *interp, const char *name, int index, int size) {
    RawBuffer *b = getRaw(interp, name);
    if (!b) return nullptr;
    if (index < 0 || static_cast<int64_t>(index) + size > b->length) {
        fail(interp, "index value out of range");
        return nullptr;
    }
    return b->data + index;
}

// raw char RAW INDEX ?VALUE?
// Stores the low 8 bits of VALUE at INDEX; answers the byte (0 to 255).
int CharCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *name = nullptr;
    int index = 0, value = 0, haveValue = 0;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "raw %s index %i value !i", &name, &index, &value, &haveValue))
        return TCL_ERROR;
    unsigned char *at = valuePlace(interp, name, index, 1);
    if (!at) return TCL_ERROR;
    if (haveValue) *at = static_cast<unsigned char>(value);
    setResult(interp, std::to_string(static_cast<unsigned>(*at)));
    return TCL_OK;
}

// raw short|int RAW INDEX ?VALUE? ?-msb?
// Stores the low 16 or 32 bits of VALUE at INDEX in the byte order asked
// for; answers the signed value there.
template <typename T>
int IntegerCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *name = nullptr;
    int index = 0, value = 0, haveValue = 0, msb = 0;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "raw %s index %i value !i -msb %n", &name, &index, &value, &haveValue,
                       &msb))
        return TCL_ERROR;
    unsigned char *at = valuePlace(interp, name, index, sizeof(T));
    if (!at) return TCL_ERROR;
    typedef typename std::make_unsigned<T>::type U;
    if (haveValue) storeBytes(at, static_cast<U>(value), sizeof(T), msb);
    T v = static_cast<T>(static_cast<U>(loadBytes(at, sizeof(T), msb)));
    setResult(interp, std::to_string(static_cast<int>(v)));
    return TCL_OK;
}

// raw float|double RAW INDEX ?VALUE? ?-msb?
// Stores VALUE's IEEE bits at INDEX; answers the value there.
template <typename T, typename Bits>
int RealCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *name = nullptr;
    int index = 0, haveValue = 0, msb = 0;
    double value = 0;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "raw %s index %i value !d -msb %n", &name, &index, &value, &haveValue,
                       &msb))
        return TCL_ERROR;
    unsigned char *at = valuePlace(interp, name, index, sizeof(T));
    if (!at) return TCL_ERROR;
    if (haveValue) {
        T v = static_cast<T>(value);
        Bits bits;
        memcpy(&bits, &v, sizeof bits);
        storeBytes(at, bits, sizeof(T), msb);
    }
    Bits bits = static_cast<Bits>(loadBytes(at, sizeof(T), msb));
    T v;
    memcpy(&v, &bits, sizeof v);
    if (sizeof(T) == 4) Cmds_SetFloatResult(interp, static_cast<float>(v));
    else Tcl_SetObjResult(interp, Tcl_NewDoubleObj(static_cast<double>(v)));
    return TCL_OK;
}

// raw string ?-length N? RAW INDEX ?VALUE?
// Copies VALUE into N bytes from INDEX (zero-filled when shorter); answers
// that range as a string.
int StringCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *name = nullptr, *value = nullptr;
    int length = 0, haveLength = 0, index = 0, haveValue = 0;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "-length %i %n raw %s index %i value !s", &length, &haveLength, &name,
                       &index, &value, &haveValue))
        return TCL_ERROR;
    RawBuffer *b = getRaw(interp, name);
    if (!b) return TCL_ERROR;
    int64_t n = haveLength ? length : haveValue ? static_cast<int64_t>(strlen(value)) : b->length - int64_t(index);
    if (index < 0 || index >= b->length || n < 0 || index + n > b->length)
        return fail(interp, "index value out of range");
    unsigned char *at = b->data + index;
    if (haveValue) {
        size_t v = strnlen(value, static_cast<size_t>(n));
        memcpy(at, value, v);
        memset(at + v, 0, static_cast<size_t>(n) - v);
    }
    setBytesResult(interp, at, n);
    return TCL_OK;
}

// CRC-16 with the polynomial 0x1021: a table for the most significant bit
// first, and one that reverses the bits of a byte for the other order.
struct CrcTables {
    uint16_t crc[256];
    unsigned char reverse[256];
    CrcTables() {
        for (int i = 0; i < 256; i++) {
            uint16_t r = static_cast<uint16_t>(i << 8);
            for (int k = 0; k < 8; k++) r = static_cast<uint16_t>((r & 0x8000) ? (r << 1) ^ 0x1021 : r << 1);
            crc[i] = r;
        }
        static const unsigned char nibble[16] = {0, 8, 4, 12, 2, 10, 6, 14, 1, 9, 5, 13, 3, 11, 7, 15};
        for (int i = 0; i < 256; i++) reverse[i] = static_cast<unsigned char>(nibble[i & 15] << 4 | nibble[i >> 4]);
    }
    uint16_t reverse16(uint16_t v) const {
        return static_cast<uint16_t>(reverse[v & 0xff] << 8 | reverse[v >> 8]);
    }
};

const CrcTables &crcTables() {
    static const CrcTables tables;
    return tables;
}

// raw crc RAW CRC ?-reverse? ?-init?
// The CRC-16 of the raw continued from CRC (taken to 16 bits): with
// -reverse least significant bit first, and -init then takes CRC as the
// internal register.
int CrcCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *name = nullptr;
    int start = 0, reverse = 0, init = 0;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "raw %s crc %i -reverse %n -init %n", &name, &start, &reverse, &init))
        return TCL_ERROR;
    RawBuffer *b = getRaw(interp, name);
    if (!b) return TCL_ERROR;
    const CrcTables &t = crcTables();
    uint16_t reg = static_cast<uint16_t>(start);
    if (reverse && !init) reg = t.reverse16(reg);
    for (int32_t i = 0; i < b->length; i++) {
        unsigned char byte = reverse ? t.reverse[b->data[i]] : b->data[i];
        reg = static_cast<uint16_t>(t.crc[byte ^ (reg >> 8)] ^ (reg << 8));
    }
    if (reverse) reg = t.reverse16(reg);
    setResult(interp, std::to_string(reg));
    return TCL_OK;
}

// raw gets ?-keepnewline? CHANNEL
// A new raw with the next line of CHANNEL (its newline kept on request).
int GetsCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *name = nullptr;
    int keep = 0;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "-keepnewline %n channel %s", &keep, &name)) return TCL_ERROR;
    Tcl_Channel chan = MostrelChannel(interp, name, TCL_READABLE);
    if (!chan) return TCL_ERROR;
    Tcl_DString line;
    Tcl_DStringInit(&line);
    if (Tcl_Gets(chan, &line) < 0) {
        Tcl_DStringFree(&line);
        if (Tcl_Eof(chan)) return fail(interp, "eof in input");
        // The text is misspelt on purpose: scripts match it as it stands.
        if (Tcl_InputBlocked(chan)) return fail(interp, "data not abailable");
        return fail(interp, std::string("read failed: ") + Tcl_PosixError(interp));
    }
    if (keep) Tcl_DStringAppend(&line, "\n", 1);
    RawBuffer *b = newRaw(interp, Tcl_DStringLength(&line));
    if (b) memcpy(b->data, Tcl_DStringValue(&line), static_cast<size_t>(b->length));
    Tcl_DStringFree(&line);
    return b ? publish(interp, b) : TCL_ERROR;
}

// raw read CHANNEL ?BYTES?
// A new raw with up to BYTES bytes of CHANNEL, or all of them to its end.
int ReadCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *name = nullptr;
    int want = 0, haveWant = 0;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "channel %s bytes !i", &name, &want, &haveWant)) return TCL_ERROR;
    Tcl_Channel chan = MostrelChannel(interp, name, TCL_READABLE);
    if (!chan) return TCL_ERROR;
    if (haveWant && want < 0) return fail(interp, "can't read a negative number of bytes");
    // The buffer grows by a quarter as data comes, never to a size that a
    // count alone asks for: a count may be far beyond what the channel holds.
    int64_t limit = haveWant ? want : kMaxRaw;
    RawBuffer *b = newRaw(interp, std::min<int64_t>(limit, 1024));
    if (!b) return TCL_ERROR;
    int64_t got = 0;
    for (;;) {
        if (got == b->length) {
            if (got >= limit) break;
            int64_t grown = std::min<int64_t>(limit, b->length + std::max<int64_t>(b->length / 4, 1024));
            if (!resize(interp, b, grown)) {
                freeRaw(b);
                return TCL_ERROR;
            }
        }
        int64_t room = b->length - got;
        int n = Tcl_Read(chan, reinterpret_cast<char *>(b->data + got), static_cast<int>(room));
        if (n < 0) {
            freeRaw(b);
            return fail(interp, std::string("read: ") + Tcl_PosixError(interp));
        }
        got += n;
        if (n < room) break;
    }
    resize(interp, b, got);
    return publish(interp, b);
}

// raw write CHANNEL RAW
// Writes the raw's bytes to CHANNEL and flushes it.
int WriteCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *name = nullptr, *rawName = nullptr;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "channel %s raw %s", &name, &rawName)) return TCL_ERROR;
    Tcl_Channel chan = MostrelChannel(interp, name, TCL_WRITABLE);
    if (!chan) return TCL_ERROR;
    RawBuffer *b = getRaw(interp, rawName);
    if (!b) return TCL_ERROR;
    if (Tcl_Write(chan, reinterpret_cast<const char *>(b->data), b->length) < 0 || Tcl_Flush(chan) != TCL_OK)
        return fail(interp, std::string("write: ") + Tcl_PosixError(interp));
    Tcl_ResetResult(interp);
    return TCL_OK;
}

const char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// raw encode RAW ?-width N? ?-pad N?
// Base64 text of the raw in lines of at least N characters (whole groups
// of four), each after -pad blanks.
int EncodeCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *name = nullptr;
    int width = 76, pad = 0;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "raw %s -width %i -pad %i", &name, &width, &pad)) return TCL_ERROR;
    RawBuffer *b = getRaw(interp, name);
    if (!b) return TCL_ERROR;
    if (width < 1) return fail(interp, "width must be at least 1");
    if (pad < 0) return fail(interp, "pad must not be negative");
    const size_t len = static_cast<size_t>(b->length);
    const unsigned char *d = b->data;
    size_t groups = (len + 2) / 3;
    std::string out;
    out.reserve(4 * groups + (4 * groups / static_cast<size_t>(width) + 1) * (static_cast<size_t>(pad) + 1));
    size_t line = 0, i = 0;
    if (len >= 3) out.append(static_cast<size_t>(pad), ' ');
    for (; len - i >= 3; i += 3) {
        if (line >= static_cast<size_t>(width)) {
            out += '\n';
            out.append(static_cast<size_t>(pad), ' ');
            line = 0;
        }
        uint32_t v = uint32_t(d[i]) << 16 | uint32_t(d[i + 1]) << 8 | d[i + 2];
        for (int k = 3; k >= 0; k--) out += kBase64[(v >> (6 * k)) & 63];
        line += 4;
    }
    if (len - i == 1) {
        out += kBase64[d[i] >> 2];
        out += kBase64[(d[i] & 3) << 4];
        out += "==";
    } else if (len - i == 2) {
        out += kBase64[d[i] >> 2];
        out += kBase64[(d[i] & 3) << 4 | d[i + 1] >> 4];
        out += kBase64[(d[i + 1] & 15) << 2];
        out += '=';
    }
    Tcl_SetObjResult(interp, Tcl_NewStringObj(out.data(), static_cast<int>(out.size())));
    return TCL_OK;
}

// Value of a base64 character: 0-63, -1 for white space (skipped), -2 for
// '=' (the data ends), -3 for anything else.
int base64Value(unsigned char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    if (c == '\t' || c == '\n' || c == '\f' || c == '\r' || c == ' ') return -1;
    if (c == '=') return -2;
    return -3;
}

// raw decode STRING
// A new raw with the bytes of the base64 STRING; white space is skipped and
// everything after the first '=' ignored.
int DecodeCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *text = nullptr;
    if (Cmds_ParseArgs(interp, 2, argc, argv, "string %s", &text)) return TCL_ERROR;
    size_t len = strlen(text);
    std::string out;
    out.reserve(len / 4 * 3 + 3);
    uint32_t bits = 0;
    int phase = 0;
    for (size_t i = 0; i < len; i++) {
        int v = base64Value(static_cast<unsigned char>(text[i]));
        if (v == -1) continue;
        if (v == -2) break;
        if (v == -3) return fail(interp, "bad character in base64 string");
        bits = bits << 6 | static_cast<uint32_t>(v);
        if (++phase == 4) {
            out += static_cast<char>(bits >> 16);
            out += static_cast<char>(bits >> 8);
            out += static_cast<char>(bits);
            bits = 0;
            phase = 0;
        }
    }
    if (phase == 2) out += static_cast<char>(bits >> 4);
    if (phase == 3) {
        out += static_cast<char>(bits >> 10);
        out += static_cast<char>(bits >> 2);
    }
    RawBuffer *b = newRaw(interp, static_cast<int64_t>(out.size()));
    if (!b) return TCL_ERROR;
    memcpy(b->data, out.data(), out.size());
    return publish(interp, b);
}

const SubCmdEntry rawCommands[] = {
    {"create", CreateCmd},
    {"set", SetCmd},
    {"length", LengthCmd},
    {"cat", CatCmd},
    {"cut", CutCmd},
    {"char", CharCmd},
    {"short", IntegerCmd<int16_t>},
    {"int", IntegerCmd<int32_t>},
    {"float", RealCmd<float, uint32_t>},
    {"double", RealCmd<double, uint64_t>},
    {"string", StringCmd},
    {"crc", CrcCmd},
    {"gets", GetsCmd},
    {"read", ReadCmd},
    {"write", WriteCmd},
    {"encode", EncodeCmd},
    {"decode", DecodeCmd},
    {nullptr, nullptr},
};

} // namespace

int RawInit(Tcl_Interp *interp) {
    Cmds_CreateSwitchCmd(interp, "raw", nullptr, nullptr);
    return Cmds_CreateSubCmds(interp, "raw", rawCommands);
}
