// RIFF AVI writing: the movi data streams to the file as frames arrive;
// headers (whose stream set and lengths are known only at the end) go into
// a space kept free at the start, and the index after the data.
#include "avifile.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>

namespace {

constexpr uint32_t fcc(const char *s) {
    return uint32_t(uint8_t(s[0])) | uint32_t(uint8_t(s[1])) << 8 | uint32_t(uint8_t(s[2])) << 16 |
           uint32_t(uint8_t(s[3])) << 24;
}

// Where the movi list starts: room for every header of two streams.
const long kMoviAt = 2048;
const uint64_t kMaxRiff = 1u << 30;
const uint32_t kKeyFrame = 0x10;  // index flag
const uint32_t kHasIndex = 0x10;  // main header flag
const int kNameMax = 64;

struct Bytes {
    std::vector<uint8_t> b;
    void u32(uint32_t v) {
        for (int i = 0; i < 4; i++) b.push_back(uint8_t(v >> (8 * i)));
    }
    void u16(uint16_t v) {
        b.push_back(uint8_t(v));
        b.push_back(uint8_t(v >> 8));
    }
    void raw(const void *p, size_t n) { b.insert(b.end(), (const uint8_t *)p, (const uint8_t *)p + n); }
    size_t open(uint32_t id, uint32_t type) {  // a LIST, its size patched by close()
        u32(id);
        size_t at = b.size();
        u32(0);
        u32(type);
        return at;
    }
    void close(size_t at) {
        uint32_t n = uint32_t(b.size() - at - 4);
        for (int i = 0; i < 4; i++) b[at + i] = uint8_t(n >> (8 * i));
    }
    void chunk(uint32_t id, const Bytes &body) {
        u32(id);
        u32(uint32_t(body.b.size()));
        raw(body.b.data(), body.b.size());
        if (body.b.size() & 1) b.push_back(0);
    }
};

Bytes streamHeader(uint32_t type, uint32_t handler, uint32_t scale, uint32_t rate, uint32_t length,
                   uint32_t bufferSize, uint32_t sampleSize, int16_t w, int16_t h) {
    Bytes s;
    s.u32(type);
    s.u32(handler);
    s.u32(0);  // flags
    s.u16(0);  // priority
    s.u16(0);  // language
    s.u32(0);  // initial frames
    s.u32(scale);
    s.u32(rate);
    s.u32(0);  // start
    s.u32(length);
    s.u32(bufferSize);
    s.u32(0xffffffff);  // quality: default
    s.u32(sampleSize);
    s.u16(0);
    s.u16(0);
    s.u16(uint16_t(w));
    s.u16(uint16_t(h));
    return s;
}

Bytes nameChunk(const std::string &name) {
    Bytes n;
    n.raw(name.data(), std::min<size_t>(name.size(), kNameMax));
    n.b.push_back(0);
    return n;
}

}  // namespace

const char *AviFile_ErrorText(uint32_t code) {
    switch (code) {
    case AVIERR_UNSUPPORTED: return "unsupported - time not at end of stream";
    case AVIERR_BADFORMAT: return "bad format";
    case AVIERR_MEMORY: return "memory";
    case AVIERR_INTERNAL: return "internal";
    case AVIERR_BADFLAGS: return "bad flags";
    case AVIERR_BADPARAM: return "bad parameters";
    case AVIERR_BADSIZE: return "bad size";
    case AVIERR_BADHANDLE: return "bad handle";
    case AVIERR_FILEREAD: return "fileread";
    case AVIERR_FILEWRITE: return "filewrite";
    case AVIERR_FILEOPEN: return "file in use by another process";
    case AVIERR_COMPRESSOR: return "compressor";
    case AVIERR_NOCOMPRESSOR: return "no compressor";
    case AVIERR_READONLY: return "read only";
    case AVIERR_BUFFERTOOSMALL: return "buffer too small";
    case AVIERR_USERABORT: return "user abort";
    case AVIERR_ERROR: return "generic error";
    default: return nullptr;
    }
}

AviFile::~AviFile() { Close(); }

uint32_t AviFile::Open(const std::string &path) {
    if (file_) return AVIERR_BADHANDLE;
    file_ = std::fopen(path.c_str(), "wb");
    if (!file_) {
        errno_ = errno;
        return AVIERR_FILEOPEN;
    }
    std::vector<uint8_t> zero(kMoviAt + 12, 0);
    if (std::fwrite(zero.data(), 1, zero.size(), file_) != zero.size()) {
        errno_ = errno;
        std::fclose(file_);
        file_ = nullptr;
        return AVIERR_FILEWRITE;
    }
    return 0;
}

uint32_t AviFile::CreateVideo(int32_t scale, int32_t rate, const std::string &name) {
    if (!file_ || video_) return AVIERR_BADHANDLE;
    if (scale <= 0 || rate <= 0) return AVIERR_BADPARAM;
    video_ = true;
    scale_ = scale;
    rate_ = rate;
    videoName_ = name;
    return 0;
}

uint32_t AviFile::SetCompressor(uint32_t fourcc, int32_t keyEvery, int32_t quality) {
    if (!video_) return AVIERR_BADHANDLE;
    if (fourcc == fcc("DIB ")) mjpeg_ = false;
    else if (fourcc == fcc("MJPG") || fourcc == fcc("mjpg") || fourcc == fcc("iv50") || fourcc == fcc("IV50"))
        mjpeg_ = true;
    else return AVIERR_NOCOMPRESSOR;
    if (keyEvery <= 0) return AVIERR_BADPARAM;
    fourcc_ = mjpeg_ ? fcc("MJPG") : 0;
    keyEvery_ = keyEvery;
    quality_ = quality;
    return 0;
}

uint32_t AviFile::SetVideoFormat(int32_t width, int32_t height, int32_t bits) {
    if (!video_ || keyEvery_ <= 0) return AVIERR_BADHANDLE;
    if (bits != 24 && bits != 32) return AVIERR_BADFORMAT;
    // JPEG frames hold at most 65535 pixels a side; the image must fit a chunk.
    if (width <= 0 || height <= 0 || width > 65535 || height > 65535 ||
        int64_t(AviFile_RowBytes(width, bits)) * height > (int64_t(1) << 28))
        return AVIERR_BADFORMAT;
    width_ = width;
    height_ = height;
    bits_ = bits;
    formatSet_ = true;
    return 0;
}

uint32_t AviFile::CreateAudio(int32_t rate, const std::string &name) {
    if (!file_ || audioRate_ > 0) return AVIERR_BADHANDLE;
    if (rate <= 0 || rate > 1000000) return AVIERR_BADPARAM;
    audioRate_ = rate;
    audioName_ = name;
    return 0;
}

int64_t AviFile::TimeToSample(int stream, int64_t ms) const {
    if (stream == 0 && video_) return int64_t(std::floor(double(ms) * rate_ / (1000.0 * scale_) + 0.5));
    if (stream == 1 && audioRate_ > 0) return int64_t(std::floor(double(ms) * audioRate_ / 1000.0 + 0.5));
    return -1;
}

uint32_t AviFile::writeChunk(uint32_t id, const void *data, uint32_t size, uint32_t flags) {
    uint64_t add = 8 + uint64_t(size) + (size & 1) + 16;  // with its index entry
    if (kMoviAt + 12 + moviBytes_ + 8 + 16 * (index_.size() + 1) + add > kMaxRiff) return AVIERR_BADSIZE;
    uint8_t head[8];
    for (int i = 0; i < 4; i++) {
        head[i] = uint8_t(id >> (8 * i));
        head[4 + i] = uint8_t(size >> (8 * i));
    }
    static const uint8_t pad = 0;
    if (std::fwrite(head, 1, 8, file_) != 8 || (size && std::fwrite(data, 1, size, file_) != size) ||
        ((size & 1) && std::fwrite(&pad, 1, 1, file_) != 1)) {
        errno_ = errno;
        return AVIERR_FILEWRITE;
    }
    index_.push_back({id, flags, uint32_t(moviBytes_), size});
    moviBytes_ += 8 + size + (size & 1);
    maxChunk_ = std::max(maxChunk_, size);
    return 0;
}

uint32_t AviFile::WriteVideo(int64_t position, const uint8_t *dib, size_t bytes, bool key) {
    if (!file_ || !formatSet_) return AVIERR_BADHANDLE;
    if (position < nextFrame_) return AVIERR_UNSUPPORTED;
    if (bytes < size_t(ImageBytes())) return AVIERR_BUFFERTOOSMALL;
    uint32_t id = mjpeg_ ? fcc("00dc") : fcc("00db");
    const void *data = dib;
    uint32_t size = uint32_t(ImageBytes());
    if (mjpeg_) {
        std::string why;
        int q = std::max(1, std::min(100, quality_ / 100));
        if (uint32_t err = AviFile_EncodeJpeg(dib, width_, height_, bits_, q, &jpeg_, &why)) return err;
        data = jpeg_.data();
        size = uint32_t(jpeg_.size());
    }
    // Gaps become empty chunks: readers show the previous frame again.
    for (; nextFrame_ < position; nextFrame_++)
        if (uint32_t err = writeChunk(id, nullptr, 0, 0)) return err;
    if (uint32_t err = writeChunk(id, data, size, key ? kKeyFrame : 0)) return err;
    videoMax_ = std::max(videoMax_, size);
    nextFrame_ = position + 1;
    return 0;
}

uint32_t AviFile::WriteAudio(int64_t position, const int16_t *samples, int32_t count) {
    if (!file_ || audioRate_ <= 0) return AVIERR_BADHANDLE;
    if (position < nextSample_) return AVIERR_UNSUPPORTED;
    if (count < 0) return AVIERR_BADPARAM;
    uint32_t id = fcc("01wb");
    if (position > nextSample_) {
        if (position - nextSample_ > (int64_t(1) << 28)) return AVIERR_BADSIZE;
        std::vector<int16_t> silence(size_t(position - nextSample_), 0);
        if (uint32_t err = writeChunk(id, silence.data(), uint32_t(silence.size() * 2), kKeyFrame)) return err;
        audioMax_ = std::max(audioMax_, uint32_t(silence.size() * 2));
        nextSample_ = position;
    }
    if (count == 0) return 0;
    // Host order is little-endian here, as RIFF wants.
    if (uint32_t err = writeChunk(id, samples, uint32_t(count) * 2, kKeyFrame)) return err;
    audioMax_ = std::max(audioMax_, uint32_t(count) * 2);
    nextSample_ += count;
    return 0;
}

uint32_t AviFile::writeHeaders() {
    Bytes h;
    h.u32(fcc("RIFF"));
    std::fseek(file_, 0, SEEK_END);
    long end = std::ftell(file_);
    h.u32(uint32_t(end - 8));
    h.u32(fcc("AVI "));
    size_t hdrl = h.open(fcc("LIST"), fcc("hdrl"));
    Bytes avih;
    avih.u32(video_ ? uint32_t(1e6 * scale_ / rate_) : 0);
    avih.u32(0);  // max bytes per second
    avih.u32(0);  // padding granularity
    avih.u32(kHasIndex);
    avih.u32(uint32_t(nextFrame_));
    avih.u32(0);  // initial frames
    avih.u32((formatSet_ ? 1 : 0) + (audioRate_ > 0 ? 1 : 0));
    avih.u32(maxChunk_ + 8);
    avih.u32(uint32_t(width_));
    avih.u32(uint32_t(height_));
    for (int i = 0; i < 4; i++) avih.u32(0);
    h.chunk(fcc("avih"), avih);
    if (formatSet_) {
        size_t strl = h.open(fcc("LIST"), fcc("strl"));
        h.chunk(fcc("strh"), streamHeader(fcc("vids"), fourcc_, uint32_t(scale_), uint32_t(rate_),
                                          uint32_t(nextFrame_), videoMax_, 0, int16_t(width_), int16_t(height_)));
        Bytes bi;
        bi.u32(40);
        bi.u32(uint32_t(width_));
        bi.u32(uint32_t(height_));
        bi.u16(1);
        bi.u16(uint16_t(mjpeg_ ? 24 : bits_));
        bi.u32(mjpeg_ ? fcc("MJPG") : 0);
        bi.u32(mjpeg_ ? uint32_t(width_ * height_ * 3) : uint32_t(ImageBytes()));
        bi.u32(1000);
        bi.u32(1000);
        bi.u32(0);
        bi.u32(0);
        h.chunk(fcc("strf"), bi);
        if (!videoName_.empty()) h.chunk(fcc("strn"), nameChunk(videoName_));
        h.close(strl);
    }
    if (audioRate_ > 0) {
        size_t strl = h.open(fcc("LIST"), fcc("strl"));
        h.chunk(fcc("strh"), streamHeader(fcc("auds"), 0, 1, uint32_t(audioRate_), uint32_t(nextSample_), audioMax_,
                                          2, 0, 0));
        Bytes wf;
        wf.u16(1);  // PCM
        wf.u16(1);
        wf.u32(uint32_t(audioRate_));
        wf.u32(uint32_t(audioRate_) * 2);
        wf.u16(2);
        wf.u16(16);
        wf.u16(0);
        h.chunk(fcc("strf"), wf);
        if (!audioName_.empty()) h.chunk(fcc("strn"), nameChunk(audioName_));
        h.close(strl);
    }
    h.close(hdrl);
    // The rest up to the movi list is a JUNK chunk readers skip.
    if (h.b.size() + 8 > size_t(kMoviAt)) return AVIERR_INTERNAL;
    h.u32(fcc("JUNK"));
    h.u32(uint32_t(kMoviAt - h.b.size() - 4));
    h.b.resize(kMoviAt, 0);
    h.u32(fcc("LIST"));
    h.u32(uint32_t(moviBytes_));
    h.u32(fcc("movi"));
    if (std::fseek(file_, 0, SEEK_SET) != 0 || std::fwrite(h.b.data(), 1, h.b.size(), file_) != h.b.size()) {
        errno_ = errno;
        return AVIERR_FILEWRITE;
    }
    return 0;
}

uint32_t AviFile::Close() {
    if (!file_) return 0;
    Bytes idx;
    for (const IndexEntry &e : index_) {
        idx.u32(e.id);
        idx.u32(e.flags);
        idx.u32(e.offset);
        idx.u32(e.size);
    }
    Bytes chunk;
    chunk.chunk(fcc("idx1"), idx);
    uint32_t err = 0;
    if (std::fwrite(chunk.b.data(), 1, chunk.b.size(), file_) != chunk.b.size()) {
        errno_ = errno;
        err = AVIERR_FILEWRITE;
    }
    if (!err) err = writeHeaders();
    if (std::fclose(file_) != 0 && !err) {
        errno_ = errno;
        err = AVIERR_FILEWRITE;
    }
    file_ = nullptr;
    video_ = formatSet_ = false;
    audioRate_ = 0;
    nextFrame_ = nextSample_ = 0;
    keyEvery_ = 0;
    moviBytes_ = 4;
    maxChunk_ = videoMax_ = audioMax_ = 0;
    index_.clear();
    return err;
}
