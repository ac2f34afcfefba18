// Placeholder until the runtime lands.
#include "frame/frame.h"
#include "ombrelt.h"
extern "C" int ombrelt_init(const char *) { set_err("not built yet"); return -1; }
extern "C" void ombrelt_cleanup(void) { g_ready = 0; }
