// Records and helpers shared by the files of the Pelvane package.
#ifndef TOVIK_PELVANE_WINAUDIO_H
#define TOVIK_PELVANE_WINAUDIO_H

#include <tcl.h>

#include <stdint.h>

#include "mixer.h"
#include "msgwin.h"
#include "wavedev.h"
#include "yastro.h"

// Every record of the package is tagged with this name and the line.
#define AUDIO_ALLOC(n) DB_Malloc((n), "src/io/pelvane/audio", __LINE__)
#define AUDIO_FREE(p) DB_Free((p), "src/io/pelvane/audio", __LINE__)

enum {   // private messages of the "AudioComms" window
    WA_MSG_OUT_DONE = 1124,    // output buffer finished (handle, header)
    WA_MSG_OUT_SCRIPT = 1125,  // done script of a closed output device (event)
    WA_MSG_IN_DATA = 1126,     // record buffer full (handle, header)
    WA_MSG_IN_SCRIPT = 1127    // close script of a closed input device (event)
};

enum { WA_FORMAT_UNDECIDED = 0, WA_FORMAT_PCM = 1, WA_FORMAT_MULAW = 2 };
enum { WA_MAX_CHANNELS = 4 };

struct WinaudioEvent {
    WinaudioEvent *next;
    Tcl_Interp *interp;   // posted: preserved until it has run; waiting: the object's
    char *script;
    int32_t rate, format, buffer;
};

struct WinaudioOut {
    Tcl_Interp *interp;   // preserved while destroyed and still open; null once deleted
    char *doneCommand;
    WinaudioEvent *events;
    WaveOut *handle;
    int32_t deviceId, rate, channels, format, count, destroyed;
    int32_t queued;       // buffers written whose completion has not been handled yet
    uint64_t serial;      // tells this record from a later one at the same address
};

struct WinaudioIn {
    Tcl_Interp *interp;   // as for output
    WaveIn *handle;
    int32_t format, deviceId, rate, channels, recording, mixerReady, mixerPending, inDevice, destroyed;
    Mixer *mixer;
    MixLine destinationLine;
    MixLine *sourceLines;   // destinationLine.connections entries
    char *closeCommand;
    uint64_t serial;      // as for output
    uint32_t session;     // counts the recordings that `stop` ended
};

struct WinaudioRecordBuffer {
    Tcl_Interp *interp;
    char *command;
    int32_t rate, channels, format;
    uint32_t session;     // the object's session when the buffer was queued
};

char *Winaudio_StrDup(const char *s);
// Sets the text of a device-layer code as the result.
void Winaudio_SetWaveError(Tcl_Interp *interp, int code);
// The input record of a "winaudio/in" name, or NULL with the registry's message.
WinaudioIn *Winaudio_GetIn(Tcl_Interp *interp, const char *name);
// Opens the mixer of a freshly opened input device and reads its lines; silent on failure.
void Winaudio_ReadMixer(WinaudioIn *in);
void Winaudio_FreeMixer(WinaudioIn *in);

// Method handlers get argv[0] the command, argv[1] the class holding the method, argv[2]
// the object and argv[3] the method; they parse from argv[2], so that usage messages
// read "Winaudio write handle wave ...".
// Device methods (audio.cpp).
Tcl_CmdProc Winaudio_PostCmd, Winaudio_OutdevsCmd, Winaudio_OutopenCmd, Winaudio_WriteCmd, Winaudio_PauseCmd,
    Winaudio_RestartCmd, Winaudio_VolumeCmd, Winaudio_EventCmd, Winaudio_IndevsCmd, Winaudio_InopenCmd,
    Winaudio_StartCmd, Winaudio_StopCmd, Winaudio_ResetCmd, Winaudio_DuplexCmd;
// Mixer methods (audiomixer.cpp).
Tcl_CmdProc Winaudio_MixerCmd, Winaudio_MixerSwitchCmd, Winaudio_MixerSelectCmd, Winaudio_MixerVolumeCmd;

// The TapiLine class (tapiline.cpp); safe interpreters get no `lib`.
void Tapi_RegisterTypes();
int Tapi_Init(Tcl_Interp *interp, int safe);

// Window, tables and types (audio.cpp).
int Winaudio_Setup(Tcl_Interp *interp);
void Winaudio_RegisterTypes();

#endif
