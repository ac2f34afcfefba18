// The periodic Hann window of the analysis and resynthesis, and its square
// for the overlap-add normalisation. Built by ombrelt_init, read only by the
// engine.
#pragma once

#include "constants.h"

extern float g_win[N_FFT];   // periodic Hann window
extern float g_win2[N_FFT];  // its square

// Fills g_win and g_win2.
void build_windows();
