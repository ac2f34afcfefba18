// One separation of one file, as separate and mute both run it.
#pragma once

#include <string>

#include "ombrelt_session.h"
#include "progress.h"

// Separates file on session with options, in the board's slot: the file's
// duration is probed first when the board draws (for the speed), progress
// goes to the board, and Ctrl-C cancels the call at its next chunk (also
// when it came just before the call began). Returns the session's status,
// with *json as ombrelt_session_separate sets it. The caller ends the slot.
int run_separation(ombrelt_session *session, ProgressBoard &board, int slot,
                   const std::string &file, ombrelt_separate_options options, const char **json);
