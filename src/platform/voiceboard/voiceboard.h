// Voice boards: telephone channels that play and record through the caller's own I/O
// procedures, dial, detect touch tones and tone templates, analyse call progress and
// report what happens as events.
//
// What callers rely on:
//  - TOVIK_TELEPHONY chooses the boards, read at every VB_CountBoards and VB_Open:
//    "none" (the default) has no boards; "virtual" has one board "dxxxB1" of four
//    channels "dxxxB1C1".."dxxxB1C4", each run in real time by a worker thread of its own
//    whose far end tests steer (VBFar_*).
//  - Calls answer 0 (or a value) on success and -1 on failure; VB_LastError and
//    VB_ErrorText then tell why (codes 1 and 4 mean: see errno).
//  - The user I/O procedures run on the channel's worker thread, never with a lock of
//    this layer held: read is asked for 1536 bytes of 8 kHz mu-law whenever less than
//    that is waiting to be heard (fewer bytes back: the end of the sound; -1: an
//    error), write gets 1536-byte blocks of what was recorded (and the rest at the end).
//  - Events are queued process-wide; each one posts a message to the window given to
//    VB_EnableWindow, and VB_WaitEvent (on that window's thread) takes it, after which
//    VB_EventType/Device/Data/Length describe it until the next VB_WaitEvent.
//  - Tone templates are built one at a time (the last one built is added with
//    VB_AddTone); frequencies in Hz, times in 10 ms units.
#ifndef TOVIK_PLATFORM_VOICEBOARD_H
#define TOVIK_PLATFORM_VOICEBOARD_H

#include <stdint.h>

#include "msgwin.h"

#ifdef __cplusplus
extern "C" {
#endif

enum {   // event types
    VB_EV_PLAY = 129,
    VB_EV_RECORD = 130,
    VB_EV_GETDIGIT = 131,
    VB_EV_DIAL = 132,
    VB_EV_CALLP = 133,
    VB_EV_CST = 134,
    VB_EV_SETHOOK = 135
};

enum {   // channel-signal types (VBCst.type)
    VB_CST_RINGS = 1,
    VB_CST_LCOFF = 5,
    VB_CST_DIGIT = 8,
    VB_CST_TONEON = 17,
    VB_CST_TONEOFF = 18
};

enum {   // termination bits (VB_TermMask)
    VB_TM_MAXDTMF = 0x1,
    VB_TM_LCOFF = 0x8,
    VB_TM_USRSTOP = 0x100,
    VB_TM_EOD = 0x200,
    VB_TM_ERROR = 0x80000
};

enum {   // call-progress results (VB_CpaResult) and connect types (VB_ConnType)
    VB_CR_BUSY = 7,
    VB_CR_NOANS = 8,
    VB_CR_NORB = 9,
    VB_CR_CNCT = 10,
    VB_CR_CEPT = 11,
    VB_CR_STOPD = 12,
    VB_CR_FAXTONE = 18,
    VB_CR_ERROR = 256
};

enum {   // channel states (VB_State)
    VB_CS_IDLE = 1,
    VB_CS_PLAY = 2,
    VB_CS_RECD = 3,
    VB_CS_DIAL = 4,
    VB_CS_CALL = 13
};

enum {   // modes and flags
    VB_ASYNC = 0x8000,
    VB_DIAL_CPA = 0x0001,
    VB_IO_USER = 20,         // VBIoTable.kind: through the user I/O procedures
    VB_TERM_DIGITS = 4,      // VBTerm.condition: after `count` touch tones
    VB_REC_NOAGC = 0x1000,   // record modes
    VB_REC_BEEP = 0x1
};

enum {   // parameters
    VB_PARM_PLAYRATE = 0x21000E01,
    VB_PARM_RECRATE = 0x21000E02,
    VB_PARM_TONEPASS = 0x20000E04,
    VB_PARM_RINGCOUNT = 0x28000001
};

enum {   // last-error codes of caller identification
    VB_ERR_SYSTEM = 1,
    VB_ERR_CID_NOTSENT = 128,
    VB_ERR_CID_BLOCKED = 129,
    VB_ERR_CID_OUTOFAREA = 130
};

typedef struct VBIoTable {
    uint16_t kind;
    int device;
    void *buffer;
    long offset, length;   // length -1: unbounded
} VBIoTable;

typedef struct VBTerm {
    uint16_t list;        // set by VB_PrepTerm
    uint16_t condition;   // VB_TERM_DIGITS
    uint16_t count;
    uint16_t flags;
} VBTerm;

// Call-progress parameters: a block of bytes with named places.
enum {
    VB_CPA_SIZE = 128,
    VB_CPA_VOICE = 42,     // 16-bit: tenths of a second of speech that confirm a connect
    VB_CPA_SILENCE = 44,   // 16-bit: tenths of a second of silence alone: no ringback
    VB_CPA_RINGS = 46,     // 16-bit: ringback bursts before no answer
    VB_CPA_TONES = 106     // byte: 1 = look for fax and special-information tones
};
typedef struct VBCpaBlock {
    unsigned char bytes[VB_CPA_SIZE];
} VBCpaBlock;

typedef struct VBCst {
    uint16_t type, value;
} VBCst;

typedef int(VBReadProc)(int device, char *buffer, unsigned n);
typedef int(VBWriteProc)(int device, const char *buffer, unsigned n);
typedef long(VBSeekProc)(int device, long offset, int whence);

// ---- devices ----
int VB_CountBoards(const char *kind);   // "Voice"
int VB_Open(const char *name, int mode);
int VB_Close(int device);
int VB_ChannelCount(int board);
const char *VB_Name(int device);
int VB_LastError(int device);
const char *VB_ErrorText(int device);

// ---- set-up ----
int VB_SetUserIo(VBReadProc *read, VBWriteProc *write, VBSeekProc *seek);
int VB_SetEventMode(int mode);
int VB_EnableWindow(MsgWin *window, unsigned message, int flags);
int VB_PrepTerm(VBTerm *table, int entries);

// ---- events (on the window's thread) ----
int VB_WaitEvent(int timeout);
long VB_EventType(void);
int VB_EventDevice(void);
void *VB_EventData(void);
int VB_EventLength(void);

// ---- channels ----
int VB_Play(int device, const VBIoTable *io, const VBTerm *term, unsigned mode);
int VB_Record(int device, const VBIoTable *io, const VBTerm *term, unsigned mode);
int VB_Stop(int device, unsigned mode);
int VB_SetHook(int device, int offhook, unsigned mode);
int VB_HookState(int device);
int VB_State(int device);
long VB_TermMask(int device);
int VB_ClearDigits(int device);
int VB_ResetChannel(int device);
int VB_SetEventMask(int device, unsigned mask);
int VB_SetParm(int device, unsigned long parm, long value);
int VB_GetParm(int device, unsigned long parm, long *value);

// ---- signalling ----
// Play gain: a table of 21 dB values for steps -10..10; VB_SetGain selects a step.
int VB_LoadGainTable(int device, int kind, const signed char *table, int flags);
int VB_SetGain(int device, int kind, int flags, int step);
int VB_GetGain(int device);
void VB_CpaDefaults(VBCpaBlock *block);
// Dials a string of touch tones (0-9 * # A-D; "," pauses); with VB_DIAL_CPA the far
// end's answer is then analysed. Completion: VB_EV_DIAL or VB_EV_CALLP.
int VB_Dial(int device, const char *digits, const VBCpaBlock *cpa, unsigned mode);
int VB_CpaResult(int device);
int VB_ConnType(int device);
int VB_BuildSingleTone(int tid, int f1, int f1dev, const char *edge);
int VB_BuildDualTone(int tid, int f1, int f1dev, int f2, int f2dev, const char *edge);
int VB_BuildSingleToneCadence(int tid, int f1, int f1dev, int ontime, int ontimedev, int offtime, int offtimedev,
                              int repcount);
int VB_BuildDualToneCadence(int tid, int f1, int f1dev, int f2, int f2dev, int ontime, int ontimedev, int offtime,
                            int offtimedev, int repcount);
int VB_AddTone(int device, int flags, int unused);
int VB_DeleteTones(int device);
// Caller identification of the call now offered: the number (buffer of 300 bytes),
// or one field of the frame: 259 the frame kind (first byte 0x80: several fields),
// 1 date and time, 2 calling line, 3 dialled number, 5 redirection, 6 qualifier, 7 name.
int VB_CallerId(int device, char *buffer);
int VB_CallerIdField(int device, int field, char *buffer);

// ---- the far end of a virtual channel (tests) ----
// Each answers 0, or -1 with a message in err (at least 200 bytes).
int VBFar_Ring(const char *channel, int count, const char *callerId, const char *name, char *err);
int VBFar_Send(const char *channel, const int16_t *samples, long n, char *err);
int VBFar_Answer(const char *channel, const int16_t *samples, long n, char *err);
// What the far end heard since the channel went off hook; *samples is malloc'd.
int VBFar_Heard(const char *channel, int16_t **samples, long *n, char *err);
int VBFar_Hangup(const char *channel, char *err);

#ifdef __cplusplus
}
#endif
#endif
