// How the model stage shares the two cores: which of the runtime's thread
// settings the sessions get, and how many stem models run at once.
#pragma once

// Each session runs its graph on the calling thread alone, so no session
// keeps a pool of its own whose idle workers could take time from the
// transforms; the cores are used by running stem models side by side.
inline constexpr int INTRA_OP_THREADS = 1;
inline constexpr int MODELS_AT_ONCE = 2;
