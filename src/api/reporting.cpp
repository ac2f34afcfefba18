// ombrelt_version and ombrelt_last_error.
#include "frame/frame.h"
#include "ombrelt.h"
#include "ombrelt_version.h"

extern "C" const char *ombrelt_version(void) { return OMBRELT_VERSION_STRING; }

extern "C" const char *ombrelt_last_error(void) { return g_err; }
