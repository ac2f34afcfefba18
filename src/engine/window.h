// The periodic Hann window of the analysis and resynthesis, and its square
// for the overlap-add normalisation. Built when the first models are
// loaded, read only by the engine.
#pragma once

#include "constants.h"

extern float g_win[N_FFT];   // periodic Hann window
extern float g_win2[N_FFT];  // its square

// Fills g_win and g_win2 on the first call; later calls only wait for that.
void build_windows();
