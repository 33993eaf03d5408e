/* Window-system and session services of the Misc package.
 *
 * Contract:
 *  - Winsys_SetTopmost(window, on): window is an X window id; the window
 *    manager is asked to keep it above others (or not) through the
 *    _NET_WM_STATE_ABOVE state. Answers false when there is no display or
 *    no such window. Without a window manager the request has no effect but
 *    still succeeds for a real window.
 *  - Winsys_Logoff(): ends the caller's login session through logind
 *    (loginctl terminate-session). With TOVIK_LOGOFF=record:FILE in the
 *    environment it only appends the line "logoff" to FILE (tests).
 */
#ifndef TOVIK_WINSYS_H
#define TOVIK_WINSYS_H

bool Winsys_SetTopmost(unsigned long window, bool on);
void Winsys_Logoff();

#endif
