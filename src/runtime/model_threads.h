// How the model stage shares the two cores: the one pool of intra-op threads
// that all sessions use, and how many stem models run at once.
#pragma once

// One pool for the whole environment, shared by the four sessions, of
// MODEL_POOL_THREADS threads counting the one that calls the model (so one
// worker). A model run alone, as the odd one of three stems or the only one,
// gets both cores; two models run at once share the worker. Per-session pools
// of one thread would leave a lone model one core, and pools of two each put
// four threads on two cores while two models run. Idle workers sleep:
// spinning takes the cores from the other model run and from the
// resynthesis.
inline constexpr int MODEL_POOL_THREADS = 2;
inline constexpr int MODEL_POOL_SPINS = 0;
// Sessions that cannot have the shared pool (the environment is a host's)
// get a pool each of this many threads, sleeping alike: close to the shared
// pool's figures, with more threads than cores while two models run.
inline constexpr int OWN_POOL_THREADS = 2;
inline constexpr int MODELS_AT_ONCE = 2;
