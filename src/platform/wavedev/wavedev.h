// Wave devices: play and record 16-bit linear or mu-law sound through numbered devices.
//
// What callers rely on:
//  - Devices are numbered from 0 per direction. TOVIK_AUDIO chooses where they lead:
//    "alsa" (the default: device 0 is ALSA's "default" PCM, then the PCMs ALSA lists) or
//    "virtual" (devices of our own that play into memory or a file and record from a
//    file or memory, see virtual_audio.h). The choice is read at each open.
//  - An open device runs one worker thread; every notification is posted to the message
//    window given at open: WAVE_MSG_OUT_OPEN/CLOSE/DONE, WAVE_MSG_IN_OPEN/CLOSE/DATA with
//    p0 = the device handle and p1 = the header (DONE and DATA), in the order they happen.
//  - An output buffer is reported done only once its last frame has been heard (the
//    device's delay has passed it), not when it was handed to the sound system.
//  - Every buffer written or added comes back exactly once, also after a reset (input:
//    with the bytes recorded so far). Close is refused with WAVE_ERR_STILLPLAYING while
//    any buffer is queued; a refused close changes nothing.
//  - Buffer data is interleaved frames in the device format: 16-bit little-endian
//    samples, or one mu-law byte per sample.
//  - Volume is applied in the layer to every output device (left in the low 16 bits,
//    right in the high 16 bits; 0xFFFF is full scale and leaves the samples untouched);
//    a device keeps the volume last set on it for later opens, for the whole process.
//  - Calls are made from one thread (the one that owns the message window); the layer
//    locks what it shares with its workers.
#ifndef TOVIK_PLATFORM_WAVEDEV_H
#define TOVIK_PLATFORM_WAVEDEV_H

#include <stddef.h>
#include <stdint.h>

#include "msgwin.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct WaveOut WaveOut;
typedef struct WaveIn WaveIn;

enum {   // format tags
    WAVE_FORMAT_PCM = 1,
    WAVE_FORMAT_MULAW = 7
};

typedef struct WaveFormat {
    int tag;              // WAVE_FORMAT_PCM (16 bits) or WAVE_FORMAT_MULAW (8 bits)
    int channels;         // 1 or more
    int rate;             // frames per second
    int bitsPerSample;    // 16 for PCM, 8 for mu-law
    int blockAlign;       // channels * bitsPerSample / 8
    int avgBytesPerSec;   // rate * blockAlign
} WaveFormat;

enum {   // WaveHeader.flags
    WAVE_HDR_DONE = 0x01,
    WAVE_HDR_PREPARED = 0x02,
    WAVE_HDR_INQUEUE = 0x10
};

typedef struct WaveHeader {
    char *data;              // caller's buffer
    uint32_t bufferLength;   // bytes in data
    uint32_t bytesRecorded;  // input: bytes filled
    uintptr_t user;          // caller's word, untouched
    uint32_t flags;
    uint32_t reserved;       // the layer's
} WaveHeader;

enum {   // notifications
    WAVE_MSG_OUT_OPEN = 955,
    WAVE_MSG_OUT_CLOSE = 956,
    WAVE_MSG_OUT_DONE = 957,
    WAVE_MSG_IN_OPEN = 958,
    WAVE_MSG_IN_CLOSE = 959,
    WAVE_MSG_IN_DATA = 960
};

enum {   // result codes
    WAVE_OK = 0,
    WAVE_ERR_ERROR = 1,
    WAVE_ERR_BADDEVICEID = 2,
    WAVE_ERR_ALLOCATED = 4,
    WAVE_ERR_INVALHANDLE = 5,
    WAVE_ERR_NODRIVER = 6,
    WAVE_ERR_NOMEM = 7,
    WAVE_ERR_NOTSUPPORTED = 8,
    WAVE_ERR_INVALPARAM = 11,
    WAVE_ERR_BADFORMAT = 32,
    WAVE_ERR_STILLPLAYING = 33,
    WAVE_ERR_UNPREPARED = 34,
    WAVE_ERR_NOSOURCE = 100,   // virtual device: its input file cannot be read
    WAVE_ERR_NOSINK = 101      // virtual device: its output file cannot be written
};

// WaveCaps.formats: the standard formats, rate class (1 = 11025, 2 = 22050, 4 = 44100 Hz),
// mono/stereo, 8/16 bits; bit i is the i-th name of "1m08 1m16 1s08 1s16 2m08 2m16 2s08
// 2s16 4m08 4m16 4s08 4s16".
enum { WAVE_STDFORMAT_COUNT = 12 };
const char *WaveDev_StdFormatName(int bit);

enum {   // WaveCaps.support (output devices)
    WAVE_SUPPORT_PITCH = 0x01,
    WAVE_SUPPORT_PLAYBACKRATE = 0x02,
    WAVE_SUPPORT_VOLUME = 0x04,
    WAVE_SUPPORT_LRVOLUME = 0x08,
    WAVE_SUPPORT_SYNC = 0x10,
    WAVE_SUPPORT_SAMPLEACCURATE = 0x20
};

typedef struct WaveCaps {
    unsigned mid, pid;        // maker and product ids (0 when unknown)
    unsigned driverVersion;   // major in the high byte, minor in the low byte
    char name[32];
    uint32_t formats;
    unsigned channels;
    uint32_t support;
} WaveCaps;

// Text of a result code into buf (always terminated). Returns WAVE_OK.
int WaveDev_ErrorText(int code, char *buf, size_t len);
const char *WaveDev_BackendName(void);
// Resets and closes every open device and joins its thread; for process exit.
void WaveDev_Shutdown(void);

unsigned WaveOut_GetNumDevs(void);
int WaveOut_GetDevCaps(unsigned id, WaveCaps *caps);
int WaveOut_Open(WaveOut **h, unsigned id, const WaveFormat *fmt, MsgWin *notify);
int WaveOut_Prepare(WaveOut *h, WaveHeader *hdr);
int WaveOut_Unprepare(WaveOut *h, WaveHeader *hdr);
int WaveOut_Write(WaveOut *h, WaveHeader *hdr);
int WaveOut_Pause(WaveOut *h);
int WaveOut_Restart(WaveOut *h);
int WaveOut_Reset(WaveOut *h);
int WaveOut_Close(WaveOut *h);
int WaveOut_SetVolume(WaveOut *h, uint32_t volume);
int WaveOut_GetVolume(WaveOut *h, uint32_t *volume);

unsigned WaveIn_GetNumDevs(void);
int WaveIn_GetDevCaps(unsigned id, WaveCaps *caps);
int WaveIn_Open(WaveIn **h, unsigned id, const WaveFormat *fmt, MsgWin *notify);
int WaveIn_Prepare(WaveIn *h, WaveHeader *hdr);
int WaveIn_Unprepare(WaveIn *h, WaveHeader *hdr);
int WaveIn_AddBuffer(WaveIn *h, WaveHeader *hdr);
int WaveIn_Start(WaveIn *h);
// Stops recording: the buffer being filled comes back with what it holds, empty ones stay.
int WaveIn_Stop(WaveIn *h);
// Stops recording and returns every buffer.
int WaveIn_Reset(WaveIn *h);
int WaveIn_Close(WaveIn *h);
// The device number of an open input handle (for its mixer).
int WaveIn_GetDeviceId(WaveIn *h, unsigned *id);

// Fills a WaveFormat for a tag, channel count and rate.
void WaveDev_MakeFormat(WaveFormat *fmt, int tag, int channels, int rate);


#ifdef __cplusplus
}
#endif
#endif
