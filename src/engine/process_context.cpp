// The engine context of ombrelt_separate and ombrelt_mute, and the work
// buffers of sessions.
#include <new>

#include "engine/engine.h"
#include "engine/engine_buffers.h"
#include "runtime/model_threads.h"
#include "runtime/runtime.h"

namespace {

// Zero-initialised static storage: nothing runs at load, and calls into the
// seven-function interface never overlap.
EngineBuffers process_buffers;
constexpr ModelSet PROCESS_MODELS{g_sess, MODELS_AT_ONCE};
constexpr EngineContext PROCESS_CONTEXT{&PROCESS_MODELS, &process_buffers};

}  // namespace

const EngineContext &process_context() { return PROCESS_CONTEXT; }

EngineBuffers *engine_buffers_new() { return new (std::nothrow) EngineBuffers; }

void engine_buffers_free(EngineBuffers *buffers) { delete buffers; }
