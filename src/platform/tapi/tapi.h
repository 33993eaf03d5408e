// Telephone lines with the semantics of a version 1.4 line API: applications, lines,
// calls, requests answered later, and events delivered to a callback on the thread
// that initialised the application, between Tcl commands.
//
// What callers rely on:
//  - TOVIK_TELEPHONY, read at each lineInitialize: "none" (the default) makes every
//    function answer LINEERR_OPERATIONUNAVAIL; "virtual" gives two lines, 0 and 1,
//    whose far ends tests steer (TapiFar_*), in real time.
//  - Functions answer 0 or a LINEERR_ code (negative as a 32-bit signed value);
//    lineAnswer and lineDrop answer a positive request id and later LINE_REPLY.
//  - The callback gets (device, message, instance, param1, param2, param3); for call
//    events device is the call handle and instance the one given to lineOpen. No
//    callback of a line comes after its lineClose, nor of an application after its
//    lineShutdown.
//  - Records are ours: a fixed part, and texts at offsets from the record's start
//    within dwTotalSize bytes (size 0: absent).
//  - The sound of each line is on two sound devices of the device layer ("wave/in"
//    and "wave/out" through lineGetID): 8000 Hz mono, 16-bit or mu-law.
#ifndef TOVIK_PLATFORM_TAPI_H
#define TOVIK_PLATFORM_TAPI_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef uint32_t HLINEAPP, HLINE, HCALL;
typedef void (*LINECALLBACK)(uint32_t device, uint32_t message, uintptr_t instance, uintptr_t param1,
                             uintptr_t param2, uintptr_t param3);

enum {   // messages
    LINE_CALLSTATE = 2,
    LINE_GENERATE = 7,
    LINE_MONITORDIGITS = 9,
    LINE_REPLY = 12
};

#define LINEERR_ALLOCATED 0x80000001u
#define LINEERR_BADDEVICEID 0x80000002u
#define LINEERR_INVALAPPHANDLE 0x80000014u
#define LINEERR_INVALAPPNAME 0x80000015u
#define LINEERR_INVALCALLHANDLE 0x80000018u
#define LINEERR_INVALCALLSELECT 0x8000001Bu
#define LINEERR_INVALCALLSTATE 0x8000001Cu
#define LINEERR_INVALDEVICECLASS 0x80000023u
#define LINEERR_INVALDIGITMODE 0x80000027u
#define LINEERR_INVALDIGITS 0x80000028u
#define LINEERR_INVALLINEHANDLE 0x8000002Bu
#define LINEERR_INVALPOINTER 0x80000035u
#define LINEERR_INVALPRIVSELECT 0x80000036u
#define LINEERR_INCOMPATIBLEAPIVERSION 0x8000000Cu
#define LINEERR_OPERATIONFAILED 0x80000048u
#define LINEERR_OPERATIONUNAVAIL 0x80000049u
#define LINEERR_STRUCTURETOOSMALL 0x8000004Du

enum {
    LINECALLPRIVILEGE_MONITOR = 2,
    LINECALLPRIVILEGE_OWNER = 4,
    LINEMEDIAMODE_AUTOMATEDVOICE = 8,
    LINECALLSELECT_LINE = 1,
    LINECALLSELECT_CALL = 4,
    LINEDIGITMODE_PULSE = 1,
    LINEDIGITMODE_DTMF = 2,
    LINEDIGITMODE_DTMFEND = 4,
    LINEGENERATETERM_DONE = 1,
    LINEGENERATETERM_CANCEL = 2,
    LINECALLSTATE_IDLE = 0x1,
    LINECALLSTATE_OFFERING = 0x2,
    LINECALLSTATE_CONNECTED = 0x100,
    LINECALLSTATE_DISCONNECTED = 0x4000,
    LINEOFFERINGMODE_ACTIVE = 1,
    LINECONNECTEDMODE_ACTIVE = 1,
    LINEDISCONNECTMODE_NORMAL = 1,
    LINECALLPARTYID_BLOCKED = 0x1,
    LINECALLPARTYID_OUTOFAREA = 0x2,
    LINECALLPARTYID_NAME = 0x4,
    LINECALLPARTYID_ADDRESS = 0x8,
    LINECALLPARTYID_UNAVAIL = 0x40
};

typedef struct VARSTRING {
    uint32_t dwTotalSize, dwNeededSize, dwUsedSize;
    uint32_t dwStringFormat, dwStringSize, dwStringOffset;
} VARSTRING;

typedef struct LINEDEVCAPS {
    uint32_t dwTotalSize, dwNeededSize, dwUsedSize;
    uint32_t dwProviderInfoSize, dwProviderInfoOffset;
    uint32_t dwSwitchInfoSize, dwSwitchInfoOffset;
    uint32_t dwPermanentLineID;
    uint32_t dwLineNameSize, dwLineNameOffset;
    uint32_t dwStringFormat, dwAddressModes, dwNumAddresses, dwBearerModes, dwMaxRate, dwMediaModes;
    uint32_t dwGenerateToneModes, dwGenerateToneMaxNumFreq, dwGenerateDigitModes;
    uint32_t dwMonitorToneMaxNumFreq, dwMonitorToneMaxNumEntries, dwMonitorDigitModes;
    uint32_t dwGatherDigitsMinTimeout, dwGatherDigitsMaxTimeout;
    uint32_t dwMedCtlDigitMaxListSize, dwMedCtlMediaMaxListSize, dwMedCtlToneMaxListSize,
        dwMedCtlCallStateMaxListSize;
    uint32_t dwDevCapFlags, dwMaxNumActiveCalls, dwAnswerMode, dwRingModes, dwLineStates;
    uint32_t dwUUIAcceptSize, dwUUIAnswerSize, dwUUIMakeCallSize, dwUUIDropSize, dwUUISendUserUserInfoSize,
        dwUUICallInfoSize;
} LINEDEVCAPS;

typedef struct LINEPARTY {   // one party of a call: flags, number and name texts
    uint32_t dwFlags, dwSize, dwOffset, dwNameSize, dwNameOffset;
} LINEPARTY;

typedef struct LINECALLINFO {
    uint32_t dwTotalSize, dwNeededSize, dwUsedSize;
    HLINE hLine;
    uint32_t dwLineDeviceID, dwAddressID, dwBearerMode, dwRate, dwMediaMode, dwAppSpecific, dwCallID,
        dwRelatedCallID, dwCallParamFlags, dwCallStates, dwMonitorDigitModes, dwMonitorMediaModes;
    uint32_t dwOrigin, dwReason, dwCompletionID, dwNumOwners, dwNumMonitors, dwCountryCode, dwTrunk;
    LINEPARTY callerID, calledID, connectedID, redirectionID, redirectingID;
    uint32_t dwAppNameSize, dwAppNameOffset, dwDisplayableAddressSize, dwDisplayableAddressOffset,
        dwCalledPartySize, dwCalledPartyOffset, dwCommentSize, dwCommentOffset;
} LINECALLINFO;

typedef struct LINECALLSTATUS {
    uint32_t dwTotalSize, dwNeededSize, dwUsedSize;
    uint32_t dwCallState, dwCallStateMode, dwCallPrivilege, dwCallFeatures;
} LINECALLSTATUS;

int32_t lineInitialize(HLINEAPP *app, void *instance, LINECALLBACK callback, const char *appName,
                       uint32_t *numDevs);
int32_t lineShutdown(HLINEAPP app);
int32_t lineGetDevCaps(HLINEAPP app, uint32_t deviceId, uint32_t apiVersion, uint32_t extVersion,
                       LINEDEVCAPS *caps);
int32_t lineOpen(HLINEAPP app, uint32_t deviceId, HLINE *line, uint32_t apiVersion, uint32_t extVersion,
                 uintptr_t instance, uint32_t privileges, uint32_t mediaModes, const void *params);
int32_t lineClose(HLINE line);
int32_t lineGetID(HLINE line, uint32_t addressId, HCALL call, uint32_t select, VARSTRING *id,
                  const char *deviceClass);
int32_t lineAnswer(HCALL call, const char *userUserInfo, uint32_t size);
int32_t lineDrop(HCALL call, const char *userUserInfo, uint32_t size);
int32_t lineDeallocateCall(HCALL call);
int32_t lineGenerateDigits(HCALL call, uint32_t digitMode, const char *digits, uint32_t duration);
int32_t lineMonitorDigits(HCALL call, uint32_t digitModes);
int32_t lineGetCallInfo(HCALL call, LINECALLINFO *info);
int32_t lineGetCallStatus(HCALL call, LINECALLSTATUS *status);

// ---- the far end of a virtual line (tests) ----
// Each answers 0, or -1 with a message in err (at least 200 bytes). callerId: a number,
// "blocked", "outofarea", "notsent" or NULL.
int TapiFar_Ring(int line, const char *callerId, const char *name, char *err);
int TapiFar_Send(int line, const int16_t *samples, long n, char *err);
// What the far end heard of the line's latest call; *samples is malloc'd.
int TapiFar_Heard(int line, int16_t **samples, long *n, char *err);
int TapiFar_Hangup(int line, char *err);

#ifdef __cplusplus
}
#endif
#endif
