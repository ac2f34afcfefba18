// Placeholder until the operations land.
#include "frame/frame.h"
#include "ombrelt.h"
extern "C" int ombrelt_separate(const char *, const char *, const char *, const char **) { set_err("not built yet"); return -1; }
