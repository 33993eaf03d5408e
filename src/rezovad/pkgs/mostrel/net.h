// Records of remote evaluation, shared by the context and message code.
#ifndef TOVIK_MOSTREL_NET_H
#define TOVIK_MOSTREL_NET_H

#include <cstdint>
#include <string>

#include "container.h"

// One message of the protocol: up to three texts, each present or absent,
// and two numbers. The three types use them as
//   "mostrel"        script, command name;          flag, sequence
//   "mostrel_result" result, errorInfo, errorCode;  code, sequence
//   "mostrel_alias"  name, target;                  opcode, sequence
struct NetMessage {
    std::string text[3];
    bool has[3] = {false, false, false};
    int32_t number = 0; // flag, code or opcode
    uint32_t sequence = 0;

    void set(int i, const std::string &s) {
        text[i] = s;
        has[i] = true;
    }
};

extern const CntrType netRequestType; // "mostrel"
extern const CntrType netResultType;  // "mostrel_result"
extern const CntrType netAliasType;   // "mostrel_alias"

#endif
