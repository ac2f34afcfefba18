// The periodic Hann window of the analysis and resynthesis, and its square
// for the overlap-add normalisation.
#include "engine/window.h"

#include <cmath>

float g_win[N_FFT] = {};
float g_win2[N_FFT] = {};

namespace {

void fill_windows() {
  // 6.2831855 is the float nearest to 2*pi; 0.000244140625 is 1/4096 exactly.
  static_assert(N_FFT == 4096);
  g_win[0] = 0.0f;
  for (int i = 1; i < N_FFT; i++) {
    float theta = ((float)i * 6.2831855f) * 0.000244140625f;
    g_win[i] = (1.0f - std::cos(theta)) * 0.5f;
  }
  for (int i = 0; i < N_FFT; i++) g_win2[i] = g_win[i] * g_win[i];
}

}  // namespace

void build_windows() {
  // Once per process, whichever thread comes first; the others wait for it.
  static const bool built = (fill_windows(), true);
  (void)built;
}
