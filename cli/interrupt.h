// Ctrl-C: the running separations are cancelled (the library then leaves
// none of their files behind) and no further file starts.
#pragma once

#include <vector>

#include "ombrelt_session.h"

// Installs the SIGINT handler, unless SIGINT was ignored when the command
// started (a background job of a script keeps ignoring it). A second
// Ctrl-C ends the command at once.
void install_interrupt_handler();
// Whether Ctrl-C has been pressed.
bool interrupted();
// The sessions a Ctrl-C cancels, all of them open; the list must stay as it
// is until disarm_interrupt().
void arm_interrupt(const std::vector<ombrelt_session *> &sessions);
// From its return on, the handler touches no session (it waits for a
// handler that is running), so they may be closed.
void disarm_interrupt();
// Prints "ombrelt: interrupted" and returns EXIT_INTERRUPTED.
int report_interrupted();
