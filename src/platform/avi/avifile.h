/* AVI file writer: RIFF AVI files with one video stream (uncompressed
 * "DIB " frames or "MJPG" frames made with libjpeg) and an optional 16-bit
 * mono PCM stream, indexed by an idx1 chunk.
 *
 * Contract:
 *  - Calls return 0 or one of the AVIERR codes below; AviFile_ErrorText
 *    gives its text, null for any other code.
 *  - Order: Open, CreateVideo, SetCompressor, SetVideoFormat, then frames;
 *    CreateAudio at any time while open (the audio stream is always stream
 *    1, the video stream 0). Close writes the headers and the index.
 *  - Frames are placed by stream position (AviFile_TimeToSample of a time
 *    in ms, rounded to the nearest position). A position after the next
 *    free one leaves a gap of empty (dropped) frames, or of silence for
 *    audio; a position before it is refused with AVIERR_UNSUPPORTED (time
 *    not at end of stream): nothing already written is ever rewritten.
 *  - Video frames come as device-independent bitmaps: rows bottom-up,
 *    blue-green-red(-unused) pixels, each row padded to 32 bits.
 *  - Compressors: "DIB " (none), "MJPG" and, since no Indeo encoder
 *    exists here, "iv50" (written as MJPG). Any other code:
 *    AVIERR_NOCOMPRESSOR. JPEG quality is the compressor quality / 100
 *    (1 to 100).
 *  - The file stays below the 1 GiB that plain RIFF readers accept: a write
 *    past it fails with AVIERR_BADSIZE, the file so far stays readable.
 */
#ifndef TOVIK_AVIFILE_H
#define TOVIK_AVIFILE_H

#include <stdint.h>

#include <cstdio>
#include <string>
#include <vector>

enum : uint32_t {
    AVIERR_OK = 0,
    AVIERR_UNSUPPORTED = 0x80044065,
    AVIERR_BADFORMAT = 0x80044066,
    AVIERR_MEMORY = 0x80044067,
    AVIERR_INTERNAL = 0x80044068,
    AVIERR_BADFLAGS = 0x80044069,
    AVIERR_BADPARAM = 0x8004406A,
    AVIERR_BADSIZE = 0x8004406B,
    AVIERR_BADHANDLE = 0x8004406C,
    AVIERR_FILEREAD = 0x8004406D,
    AVIERR_FILEWRITE = 0x8004406E,
    AVIERR_FILEOPEN = 0x8004406F,
    AVIERR_COMPRESSOR = 0x80044070,
    AVIERR_NOCOMPRESSOR = 0x80044071,
    AVIERR_READONLY = 0x80044072,
    AVIERR_BUFFERTOOSMALL = 0x80044074,
    AVIERR_USERABORT = 0x800440C6,
    AVIERR_ERROR = 0x800440C7,
};

/* The text of an AVIERR code, or null. */
const char *AviFile_ErrorText(uint32_t code);

/* Row size in bytes of a bitmap row: padded to whole 32-bit words. */
inline int32_t AviFile_RowBytes(int32_t width, int32_t bits) { return ((width * bits + 31) / 32) * 4; }

/* Encodes a bottom-up BGR(A) bitmap as a baseline JPEG; 0 or an AVIERR
 * code (AVIERR_COMPRESSOR with libjpeg's message in *why). */
uint32_t AviFile_EncodeJpeg(const uint8_t *dib, int32_t width, int32_t height, int32_t bits, int quality,
                            std::vector<uint8_t> *out, std::string *why);

class AviFile {
public:
    AviFile() = default;
    ~AviFile();
    AviFile(const AviFile &) = delete;
    AviFile &operator=(const AviFile &) = delete;

    /* Creates (truncates) the file; AVIERR_FILEOPEN with errno kept. */
    uint32_t Open(const std::string &path);
    bool IsOpen() const { return file_ != nullptr; }
    uint32_t CreateVideo(int32_t scale, int32_t rate, const std::string &name);
    uint32_t SetCompressor(uint32_t fourcc, int32_t keyEvery, int32_t quality);
    uint32_t SetVideoFormat(int32_t width, int32_t height, int32_t bits);
    uint32_t CreateAudio(int32_t rate, const std::string &name);
    bool HasAudio() const { return audioRate_ > 0; }
    int32_t AudioRate() const { return audioRate_; }
    /* Stream 0 video, 1 audio; -1 when there is no such stream. */
    int64_t TimeToSample(int stream, int64_t ms) const;
    uint32_t WriteVideo(int64_t position, const uint8_t *dib, size_t bytes, bool key);
    uint32_t WriteAudio(int64_t position, const int16_t *samples, int32_t count);
    /* Writes headers and index and closes; safe to call twice. */
    uint32_t Close();
    int32_t ImageBytes() const { return AviFile_RowBytes(width_, bits_) * height_; }
    int SavedErrno() const { return errno_; }

private:
    struct IndexEntry {
        uint32_t id, flags, offset, size;
    };
    uint32_t writeChunk(uint32_t id, const void *data, uint32_t size, uint32_t flags);
    uint32_t writeHeaders();

    FILE *file_ = nullptr;
    int errno_ = 0;
    bool video_ = false, formatSet_ = false;
    int32_t scale_ = 1, rate_ = 15;
    std::string videoName_, audioName_;
    uint32_t fourcc_ = 0;
    bool mjpeg_ = false;
    int32_t keyEvery_ = 0, quality_ = 10000;
    int32_t width_ = 0, height_ = 0, bits_ = 24;
    int64_t nextFrame_ = 0;
    int32_t audioRate_ = 0;
    int64_t nextSample_ = 0;
    uint32_t maxChunk_ = 0, videoMax_ = 0, audioMax_ = 0;
    uint64_t moviBytes_ = 4;  // the "movi" list type
    std::vector<IndexEntry> index_;
    std::vector<uint8_t> jpeg_;
};

#endif
