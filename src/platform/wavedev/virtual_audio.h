// The virtual sound devices (TOVIK_AUDIO=virtual): what they are and how tests steer them.
//
// Devices:
//   output 0 "Virtual Out"              16-bit or mu-law, 1-4 channels, 4000-96000 Hz
//   output 1 "Virtual Out (mu-law)"     mu-law only, 1 channel, 8000 Hz only; half duplex
//                                       with input 1 (one direction open at a time)
//   input 0  "Virtual In"               16-bit or mu-law, 1-4 channels, 4000-96000 Hz;
//                                       has a mixer (see mixer.h)
//   input 1  "Virtual In (half-duplex)" 16-bit or mu-law, 1-2 channels, 8000-48000 Hz; no mixer
// Sound:
//   - output: what a device has played is appended to the file TOVIK_AUDIO_OUT (when set)
//     and, when capture is on, kept in memory per device; bytes as the device takes them;
//   - input: recorded from the bytes given with VirtualAudio_SetInput, else from the file
//     TOVIK_AUDIO_IN (raw frames in the device format), read from its start at each open;
//     silence after the end, and silence when neither is given;
//   - pace: TOVIK_AUDIO_SPEED times real time (default 1; 0 or "fast": no clock at all,
//     output is heard as soon as it is taken and input is there as soon as it is asked for).
//     Output devices hold 100 ms of sound ahead of what has been heard.
#ifndef TOVIK_PLATFORM_VIRTUAL_AUDIO_H
#define TOVIK_PLATFORM_VIRTUAL_AUDIO_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

// Forgets captured output, input bytes, the speed override and the mixer settings.
// (Device volumes are the device layer's and stay.)
void VirtualAudio_Reset(void);
// Pace for devices opened from now on; a negative speed returns to TOVIK_AUDIO_SPEED.
void VirtualAudio_SetSpeed(double speed);
// Turns keeping played output in memory on or off.
void VirtualAudio_CaptureOutput(int on);
// Copies up to `max` captured bytes of output device `id` into buf, removes them and
// answers how many there were; with buf NULL only answers how many are kept.
size_t VirtualAudio_TakeOutput(unsigned id, unsigned char *buf, size_t max);
// Bytes that input device `id` records from, for devices opened from now on.
void VirtualAudio_SetInput(unsigned id, const unsigned char *data, size_t len);

#ifdef __cplusplus
}
#endif
#endif
