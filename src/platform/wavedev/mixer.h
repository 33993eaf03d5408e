// Mixers of recording devices, in the line model: one wave-in destination line whose
// source lines (microphone, line in, ...) carry controls.
//
// What callers rely on:
//  - Mixer_Open takes an open input handle and finds that device's mixer; a device
//    without one answers MIX_ERR_NODRIVER. The mixer stays usable after the wave
//    device closes.
//  - Lines are numbered: the destination by its component type, sources 0 .. connections-1.
//    Line ids and control ids are unique within one mixer.
//  - Control types and flags are the numbers below. A control's values are
//    channels x items 32-bit entries, item-major (entry = item * channels + channel);
//    a uniform control has one channel, a control that is not multiple has one item.
//  - The virtual device's mixer (TOVIK_AUDIO=virtual, input 0): destination "Recording
//    Control" with a mux "Recording Source" over "Microphone", "Line In", "CD Audio" and a
//    "Recording Volume"; sources "Microphone" (volume, mute, on/off "Boost"), "Line In" and
//    "CD Audio" (volume, mute) and "Phone Line" without controls. Volumes run 0..65535.
//    Its settings live as long as the process (or until VirtualAudio_Reset).
//    With TOVIK_AUDIO_MIXER=fader when the mixer is first used: a destination with only a
//    "Recording Volume", and sources "mic" (volume, mute) and "Microphone" (volume).
//  - ALSA: the simple elements of the card behind the device that can capture become the
//    sources (capture volume, capture switch as "mute"); an enumerated capture-source
//    element becomes a "mux" on the destination, else its capture switches make a "mixer".
#ifndef TOVIK_PLATFORM_MIXER_H
#define TOVIK_PLATFORM_MIXER_H

#include <stddef.h>

#include "wavedev.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct Mixer Mixer;

enum {   // component types
    MIX_COMPONENT_DST_WAVEIN = 7,
    MIX_COMPONENT_SRC_UNDEFINED = 0x1000,
    MIX_COMPONENT_SRC_LINE = 0x1002,
    MIX_COMPONENT_SRC_MICROPHONE = 0x1003,
    MIX_COMPONENT_SRC_COMPACTDISC = 0x1005,
    MIX_COMPONENT_SRC_TELEPHONE = 0x1006
};

enum {   // control types
    MIX_CTRL_BOOLEAN = 0x20010000,
    MIX_CTRL_ONOFF = 0x20010001,
    MIX_CTRL_MUTE = 0x20010002,
    MIX_CTRL_MONO = 0x20010003,
    MIX_CTRL_LOUDNESS = 0x20010004,
    MIX_CTRL_STEREOENH = 0x20010005,
    MIX_CTRL_BUTTON = 0x21010000,
    MIX_CTRL_VOLUME = 0x50030001,
    MIX_CTRL_SINGLESELECT = 0x70010000,
    MIX_CTRL_MUX = 0x70010001,
    MIX_CTRL_MULTIPLESELECT = 0x71010000,
    MIX_CTRL_MIXER = 0x71010001
};

enum {   // control flags
    MIX_CTRLF_UNIFORM = 0x1,
    MIX_CTRLF_MULTIPLE = 0x2
};

enum {   // result codes
    MIX_OK = 0,
    MIX_ERR_INVALHANDLE = 5,
    MIX_ERR_NODRIVER = 6,
    MIX_ERR_INVALPARAM = 11,
    MIX_ERR_INVALLINE = 1024,
    MIX_ERR_INVALCONTROL = 1025,
    MIX_ERR_INVALVALUE = 1026
};

enum { MIX_SHORT_NAME = 16, MIX_LONG_NAME = 64 };

typedef struct MixLine {
    unsigned destination, source;   // source is meaningful for source lines
    unsigned lineId;
    unsigned componentType;
    unsigned channels;
    unsigned connections;           // destinations: number of sources
    unsigned controls;
    char shortName[MIX_SHORT_NAME];
    char name[MIX_LONG_NAME];
} MixLine;

typedef struct MixControl {
    unsigned controlId;
    unsigned type;
    unsigned flags;
    unsigned multipleItems;         // items of a multiple control
    long minimum, maximum;          // bounds of a fader or volume
    char shortName[MIX_SHORT_NAME];
    char name[MIX_LONG_NAME];
} MixControl;

int Mixer_Open(Mixer **m, WaveIn *in);
int Mixer_Close(Mixer *m);
int Mixer_GetDestination(Mixer *m, unsigned componentType, MixLine *line);
int Mixer_GetSource(Mixer *m, unsigned destination, unsigned source, MixLine *line);
// Fills up to `count` controls of a line in their order; *got receives how many it has.
int Mixer_GetLineControls(Mixer *m, unsigned lineId, MixControl *controls, unsigned count, unsigned *got);
// The first control of a type on a line; MIX_ERR_INVALCONTROL when it has none.
int Mixer_GetLineControlByType(Mixer *m, unsigned lineId, unsigned type, MixControl *control);
int Mixer_GetValues(Mixer *m, unsigned controlId, unsigned channels, unsigned items, long *values);
int Mixer_SetValues(Mixer *m, unsigned controlId, unsigned channels, unsigned items, const long *values);
int Mixer_GetListText(Mixer *m, unsigned controlId, unsigned channels, unsigned items,
                      char (*texts)[MIX_LONG_NAME]);
int Mixer_ErrorText(int code, char *buf, size_t len);

#ifdef __cplusplus
}
#endif
#endif
