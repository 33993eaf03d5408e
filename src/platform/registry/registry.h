/* A per-user store of keys and values in the manner of the platform
 * registry the workbook package expects: keys are backslash-separated
 * paths, values are named byte strings.
 *
 * Contract:
 *  - The store lives under $XDG_RUNTIME_DIR/tovik/registry (or
 *    /tmp/tovik-UID/registry without it), which the system clears at logout
 *    and restart: every key is volatile, and no user sees another's keys.
 *  - Functions answer 0 or a registry-style code: REG_NOT_FOUND (2) for a
 *    missing key or value, REG_NO_MORE (259) past the last value, or an
 *    errno value. Reg_ErrorText gives the text of any of them.
 *  - Values enumerate in name order; names may hold any characters.
 */
#ifndef TOVIK_REGISTRY_H
#define TOVIK_REGISTRY_H

#include <string>

const int REG_NOT_FOUND = 2;
const int REG_NO_MORE = 259;

/* Creates the key (and its parents); existed tells whether it was there. */
int Reg_CreateKey(const std::string &key, bool *existed);
int Reg_OpenKey(const std::string &key);
int Reg_SetValue(const std::string &key, const std::string &name, const std::string &data);
/* The index-th value in name order. */
int Reg_EnumValue(const std::string &key, int index, std::string &name, std::string &data);
int Reg_DeleteValue(const std::string &key, const std::string &name);
/* Deletes a key that holds no sub-keys, with its values. */
int Reg_DeleteKey(const std::string &key);
std::string Reg_ErrorText(int code);
/* The directory of the store (tests). */
std::string Reg_Root();

#endif
