// What a sound back end gives the device layer: numbered devices and streams on them.
// Streams never block for long: the device layer's worker polls them and sleeps in
// between, so that a reset or close is never stuck behind a driver call.
#ifndef TOVIK_PLATFORM_PCM_BACKEND_H
#define TOVIK_PLATFORM_PCM_BACKEND_H

#include <cstddef>
#include <cstdio>
#include <memory>

#include "wavedev.h"

struct MixerBackend;

// Copies s into a text field of n bytes, cut short when it does not fit.
inline void CopyText(char *dst, size_t n, const char *s) {
    if (dst && n) snprintf(dst, n, "%s", s);
}

struct PcmStream {
    virtual ~PcmStream() {}
    // Output: takes up to `frames` frames, answers how many (0 when the device is full)
    // or a negative errno.
    virtual long write(const unsigned char *data, long frames) = 0;
    // Output: frames taken but not yet heard.
    virtual long delay() = 0;
    // Input: copies up to `frames` recorded frames, answers how many or a negative errno.
    virtual long read(unsigned char *data, long frames) = 0;
    // Input: begin and end capturing.
    virtual int start() = 0;
    virtual void stop() = 0;
    // Output: hold or resume the device clock.
    virtual void pause(bool on) = 0;
    // Discard everything not yet heard (output) or not yet read (input).
    virtual void drop() = 0;
    // Microseconds until `frames` more frames will have been heard or recorded; 0 when
    // the stream has no clock of its own (it is never waited for).
    virtual long waitHint(long frames) = 0;
};

struct PcmBackend {
    virtual ~PcmBackend() {}
    virtual const char *name() = 0;
    virtual unsigned count(bool output) = 0;
    virtual int caps(bool output, unsigned id, WaveCaps *caps) = 0;
    // Answers WAVE_OK or a WAVE_ERR_ code.
    virtual int open(bool output, unsigned id, const WaveFormat &fmt, std::unique_ptr<PcmStream> *out) = 0;
    // The mixer of an input device, or a WAVE_ERR_ code when it has none.
    virtual int openMixer(unsigned inputId, std::unique_ptr<MixerBackend> *out) = 0;
};

// The back end TOVIK_AUDIO chooses now.
PcmBackend *Pcm_CurrentBackend();
// Adds a back end whose devices are numbered after those of the current back end (and
// of the ones added before it), e.g. the sound of telephone lines. Its count may change.
void Pcm_AddExtraBackend(PcmBackend *b);
// The number of the first device of an added back end in one direction.
unsigned Pcm_ExtraBase(PcmBackend *b, bool output);
PcmBackend *Pcm_VirtualBackend();
PcmBackend *Pcm_AlsaBackend();

#endif

#include <string>
#include <vector>

#include "mixer.h"

// A mixer as a back end sees it; Mixer_* check handles and arguments before calling.
struct MixerBackend {
    virtual ~MixerBackend() {}
    virtual int destination(unsigned componentType, MixLine *line) = 0;
    virtual int source(unsigned destination, unsigned source, MixLine *line) = 0;
    virtual int controls(unsigned lineId, std::vector<MixControl> *out) = 0;
    // values and texts hold channels x items entries of the control's own shape.
    virtual int getValues(unsigned controlId, unsigned channels, unsigned items, long *values) = 0;
    virtual int setValues(unsigned controlId, unsigned channels, unsigned items, const long *values) = 0;
    virtual int listText(unsigned controlId, unsigned channels, unsigned items, char (*texts)[MIX_LONG_NAME]) = 0;
};

PcmBackend *WaveIn_Backend(WaveIn *h);
int VirtualMixer_Open(unsigned inputId, std::unique_ptr<MixerBackend> *out);
void VirtualMixer_Reset();
int AlsaMixer_Open(const std::string &pcmName, std::unique_ptr<MixerBackend> *out);
