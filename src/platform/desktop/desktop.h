/* Desktop entries: the launcher files of Linux desktops, written for a
 * shortcut whose file name ends in ".desktop".
 *
 * Contract:
 *  - An executable source gives an Application entry: Exec runs the source
 *    (quoted as the entry format asks) followed by the arguments, Path is
 *    the working directory, Comment the description, Icon the icon file.
 *  - Any other source gives a Link entry whose URL is the source's file:
 *    URL; Comment and Icon as above (a link has no command line or folder).
 *  - Name is the entry file's base name without ".desktop".
 *  - Written through a temporary and a rename (nothing half-written);
 *    failure answers false with a reason.
 */
#ifndef TOVIK_DESKTOP_H
#define TOVIK_DESKTOP_H

#include <string>

struct DesktopEntrySpec {
    std::string source;  // absolute path
    bool executable = false;
    const char *description = nullptr;
    const char *workdir = nullptr;
    const char *arguments = nullptr;
    const char *icon = nullptr;
};

std::string Desktop_EntryText(const DesktopEntrySpec &spec, const std::string &name);
bool Desktop_Write(const DesktopEntrySpec &spec, const std::string &file, std::string &err);

#endif
