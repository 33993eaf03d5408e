// Records and helpers shared by the files of the Dialogic package.
#ifndef TOVIK_DIALOGIC_H
#define TOVIK_DIALOGIC_H

#include <tcl.h>

#include <deque>
#include <mutex>

#include "records.h"
#include "voiceboard.h"
#include "yastro.h"

#define DXXX_ALLOC(n) DB_Malloc((n), "src/io/dialogic/dxxx", __LINE__)
#define DXXX_FREE(p) DB_Free((p), "src/io/dialogic/dxxx", __LINE__)

enum {   // messages of the "DialogicComms" window
    DXXX_MSG_EVENT = 1224,
    DXXX_MSG_RECORD = 1225,
    DXXX_MSG_CPLAY = 1226
};

struct DxxxEntry {
    DxxxEntry *next;
    WaveRecord *wave;   // null: a mark
};

struct DxxxChannel {
    Tcl_Interp *interp;
    int32_t device;
    char *callback;
    int16_t *playBuffer;
    int16_t *cursor;
    int32_t remaining;
    int32_t endOfData;
    int32_t continuous;
    DxxxEntry *playQueue, *playTail;
    DxxxEntry *recordQueue, *recordTail;
    DxxxEntry *cplayQueue, *cplayTail;
    int32_t rate;
    Tcl_AsyncHandler asyncToken;
    // Offsets of the marks met by the player and not yet announced, one per mark.
    std::deque<int32_t> *markPositions;
    VBIoTable ioTable;
    VBTerm termTable;
    // Guards every field above that the board's threads touch.
    std::mutex *lock;
};

// The channel of a "dxxx/channel" name, or NULL with the registry's message.
DxxxChannel *Dxxx_Get(Tcl_Interp *interp, const char *name);
// Sets the channel error text of a device as the result; answers TCL_ERROR.
int Dxxx_Error(Tcl_Interp *interp, int device, int reset);
// Frees a queue of entries with their waves.
void Dxxx_FreeQueue(DxxxEntry **head, DxxxEntry **tail);
// The start state of a freshly opened channel; on failure the channel error text.
int Dxxx_SetDefaults(Tcl_Interp *interp, DxxxChannel *ch);

// Method handlers: argv[2] is the object, arguments from argv[4].
Tcl_CmdProc Dxxx_OpenCmd, Dxxx_CallbackCmd, Dxxx_ChannelsCmd, Dxxx_HookswitchCmd, Dxxx_StateCmd, Dxxx_RecordCmd,
    Dxxx_PlayCmd, Dxxx_CplayCmd, Dxxx_WriteCmd, Dxxx_FlushCmd, Dxxx_QueueCmd, Dxxx_StopCmd;
Tcl_CmdProc Dxxx_DtmfCmd, Dxxx_CallCmd, Dxxx_PlaygainCmd, Dxxx_BldstCmd, Dxxx_BlddtCmd, Dxxx_BldstcadCmd,
    Dxxx_BlddtcadCmd, Dxxx_AddtoneCmd, Dxxx_DeltonesCmd, Dxxx_RingsCmd, Dxxx_CallidCmd;

// Window, handle table and I/O procedures (channel.cpp).
int Dxxx_Setup(Tcl_Interp *interp);
void Dxxx_RegisterTypes();

#endif
