// A session's separations: into files, or into memory.
#include <cstdlib>
#include <cstring>

#include <yyjson.h>

#include "api/api.h"
#include "audio/audio.h"
#include "engine/stem_files.h"
#include "session/input_source.h"
#include "session/session.h"

static_assert(OMBRELT_OUTPUT_COUNT == N_OUTPUTS);
static_assert(OMBRELT_OUTPUT_INSTRUMENTAL == 1u << OUT_INSTRUMENTAL);
static_assert(OMBRELT_OUTPUT_ALL == (1u << N_OUTPUTS) - 1);

namespace {

// One separation call: what was asked, checked, in the engine's terms.
struct Call {
  SeparationRequest request{};
  char base[BASE_NAME_SIZE] = "";
  char dir[DIR_PART_SIZE] = "";
};

// What every separation does first: its messages go to the session, a
// cancel from before it is forgotten, and NULL options are the defaults.
struct SeparationStart {
  SeparationStart(ombrelt_session *session, const ombrelt_separate_options *given)
      : call(session), options(given ? *given : defaults) {
    session->cancel.store(false, std::memory_order_relaxed);
  }
  SessionCall call;
  static constexpr ombrelt_separate_options defaults{};
  const ombrelt_separate_options &options;
};

int fail(const char *message) {
  set_err("%s", message);
  return OMBRELT_SESSION_ERROR;
}

// The index of the one bit set in bits, or -1.
int single_output(unsigned bits) {
  for (int o = 0; o < N_OUTPUTS; o++)
    if (bits == 1u << o) return o;
  return -1;
}

// What every separation checks first. Returns OMBRELT_SESSION_OK or the
// failure, with its message.
int check_call(const ombrelt_session *session, const ombrelt_input *input,
               const ombrelt_separate_options &options, Call &call) {
  if (!session->has_models) return fail("session has no models");
  if (!input) return fail("input is null");
  if ((input->path != nullptr) == (input->samples != nullptr))
    return fail("set exactly one of input path and samples");
  if (input->path && !*input->path) return fail("empty input path");
  if (options.outputs & ~OMBRELT_OUTPUT_ALL) return fail("unknown outputs");
  call.request.outputs = options.outputs ? options.outputs : OMBRELT_OUTPUT_ALL;
  call.request.sum_to_mix = options.sum_to_mix != 0;
  call.request.wiener = options.wiener != 0;
  return OMBRELT_SESSION_OK;
}

// The file members of the options.
int check_files(const ombrelt_input &input, const ombrelt_separate_options &options, Call &call) {
  // Read as the int a C caller stored: any value may arrive, and C++ may not
  // load one outside the enumeration's range through the enum type.
  static_assert(sizeof(ombrelt_format) == sizeof(int));
  int format = 0;
  std::memcpy(&format, &options.format, sizeof format);
  if (format < 0 || format >= N_AUDIO_FORMATS) return fail("unknown format");
  SeparationRequest &request = call.request;
  request.format = static_cast<AudioFormat>(format);
  if (options.path_output) {
    request.moved_output = single_output(options.path_output);
    if (request.moved_output < 0) return fail("path_output must be one output");
    if (!(request.outputs & options.path_output))
      return fail("path_output must be one of the outputs asked for");
    if (!options.path || !*options.path) return fail("path is empty");
    request.moved_to = options.path;
  }
  if (options.out_dir && *options.out_dir) {
    request.out_dir = options.out_dir;
  } else if (request.moved_to) {
    if (directory_of(request.moved_to, call.dir) != 0) return fail("output path too long");
    request.out_dir = call.dir;
  } else {
    return fail("out_dir is empty");
  }
  if (options.base_name && *options.base_name)
    std::snprintf(call.base, sizeof call.base, "%s", options.base_name);
  else if (input.path)
    base_name(input.path, call.base);
  else
    return fail("base_name is needed for samples in memory");
  request.base = call.base;
  return OMBRELT_SESSION_OK;
}

int run(ombrelt_session *session, const ombrelt_input &input,
        const ombrelt_separate_options &options, const SeparationRequest &request,
        SeparationResult *result) {
  InputSource in;
  if (in.open(input) != 0) return OMBRELT_SESSION_ERROR;
  EngineContext context{&session->models, session->buffers};
  context.progress = options.progress;
  context.progress_user = options.progress_user_data;
  context.cancel = &session->cancel;
  int rc = separate_stream(context, in.source(), request, result);
  if (rc == SEPARATION_CANCELLED) return OMBRELT_SESSION_CANCELLED;
  return rc == 0 ? OMBRELT_SESSION_OK : OMBRELT_SESSION_ERROR;
}

void add_mode(yyjson_mut_doc *doc, const SeparationRequest &request) {
  yyjson_mut_val *root = yyjson_mut_doc_get_root(doc);
  if (!root) return;
  yyjson_mut_obj_add_bool(doc, root, "sum_to_mix", request.sum_to_mix || request.wiener);
  yyjson_mut_obj_add_bool(doc, root, "wiener", request.wiener);
}

}  // namespace

extern "C" int ombrelt_session_separate(ombrelt_session *session, const ombrelt_input *input,
                                        const ombrelt_separate_options *options,
                                        const char **json_out) {
  if (!session) return OMBRELT_SESSION_ERROR;
  SeparationStart start(session, options);
  const ombrelt_separate_options &o = start.options;
  Call call;
  if (int rc = check_call(session, input, o, call)) return rc;
  if (!json_out) return fail("json_out is null");
  if (int rc = check_files(*input, o, call)) return rc;

  SeparationResult result;
  if (int rc = run(session, *input, o, call.request, &result)) return rc;
  // The moved output is reported where it went.
  if (call.request.moved_output >= 0)
    std::snprintf(result.path[call.request.moved_output], OUTPUT_PATH_SIZE, "%s",
                  call.request.moved_to);
  yyjson_mut_doc *doc = separation_json(result, -1);
  if (yyjson_mut_val *root = yyjson_mut_doc_get_root(doc))
    yyjson_mut_obj_add_str(doc, root, "format", audio_format_name(call.request.format));
  add_mode(doc, call.request);
  return keep_result(session, doc, json_out);
}

extern "C" int ombrelt_session_separate_to_memory(ombrelt_session *session,
                                                  const ombrelt_input *input,
                                                  const ombrelt_separate_options *options,
                                                  ombrelt_stems **stems_out,
                                                  const char **json_out) {
  if (stems_out) *stems_out = nullptr;
  if (!session) return OMBRELT_SESSION_ERROR;
  SeparationStart start(session, options);
  const ombrelt_separate_options &o = start.options;
  Call call;
  if (int rc = check_call(session, input, o, call)) return rc;
  if (!stems_out) return fail("stems_out is null");

  auto *stems = static_cast<ombrelt_stems *>(std::calloc(1, sizeof(ombrelt_stems)));
  if (!stems) return fail("oom (stems)");
  MemoryStems memory{};
  call.request.memory = &memory;
  SeparationResult result;
  if (int rc = run(session, *input, o, call.request, &result)) {
    std::free(stems);
    return rc;
  }
  // The stems have no paths to report.
  for (bool &written : result.written) written = false;
  yyjson_mut_doc *doc = separation_json(result, -1);
  add_mode(doc, call.request);
  if (json_out && keep_result(session, doc, json_out) != OMBRELT_SESSION_OK) {
    memory_stems_free(&memory);
    std::free(stems);
    return OMBRELT_SESSION_ERROR;
  }
  if (!json_out) yyjson_mut_doc_free(doc);
  stems->frames = memory.frames;
  stems->channels = 2;
  stems->sample_rate = SAMPLE_RATE;
  for (int o2 = 0; o2 < N_OUTPUTS; o2++) stems->data[o2] = memory.data[o2];
  *stems_out = stems;
  return OMBRELT_SESSION_OK;
}

extern "C" void ombrelt_session_free_stems(ombrelt_stems *stems) {
  if (!stems) return;
  for (float *data : stems->data) std::free(data);
  std::free(stems);
}

extern "C" int ombrelt_session_probe(ombrelt_session *session, const char *path,
                                     const char **json_out) {
  if (!session) return OMBRELT_SESSION_ERROR;
  SessionCall guard(session);
  if (!json_out) return fail("json_out is null");
  yyjson_mut_doc *doc = nullptr;
  if (probe_document(path, &doc) != 0) return OMBRELT_SESSION_ERROR;
  return keep_result(session, doc, json_out);
}
