/* Shell link files: the binary shortcut format other desktops read, written
 * from a target path and optional strings.
 *
 * Contract:
 *  - ShellLink_Write writes header, link information (a fixed volume and the
 *    local base path, as 8-bit text and as UTF-16) and the string data
 *    (description, working directory, arguments, icon location) in UTF-16,
 *    each present only when given. The target path must be absolute; it is
 *    written as given (no length limit but the format's 65535 units per
 *    string).
 *  - The file is written beside the link under a temporary name and renamed
 *    into place: a failure leaves no file and no partial link. Failure
 *    answers false with a reason in err.
 *  - Texts are UTF-8; invalid sequences are refused.
 */
#ifndef TOVIK_SHELLLINK_H
#define TOVIK_SHELLLINK_H

#include <string>
#include <vector>

struct ShellLinkSpec {
    std::string path;         // absolute path the link points to
    bool isDirectory = false; // sets the directory attribute
    const char *description = nullptr;
    const char *workdir = nullptr;
    const char *arguments = nullptr;
    const char *iconFile = nullptr;
    int iconIndex = 0;
};

/* The bytes of the link, or false with a reason. */
bool ShellLink_Build(const ShellLinkSpec &spec, std::vector<unsigned char> &out, std::string &err);
bool ShellLink_Write(const ShellLinkSpec &spec, const std::string &file, std::string &err);

/* Writes bytes to file through a temporary beside it and a rename. */
bool ShellLink_WriteFileAtomic(const std::string &file, const std::string &bytes, std::string &err);

#endif
