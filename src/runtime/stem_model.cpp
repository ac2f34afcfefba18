// The stem model call: one model run on one block of 100 spectrogram frames,
// shared by the warm-up and the engine, which differ only in their wording.
#include <cstdio>
#include <cstring>

#include "frame/frame.h"
#include "runtime/runtime.h"

const StemCallContexts WARMUP_CONTEXTS = {
    "warmup CreateTensorAsOrtValue", "warmup GetTensorMutableData",
    "warmup SessionGetOutputName",   "warmup OrtRun",
    "warmup out ptr",
};
const StemCallContexts ENGINE_CONTEXTS = {
    "OrtCreateTensorAsOrtValue", "OrtGetTensorMutableData", "OrtSessionGetOutputName",
    "OrtRun",                    "OrtRun out ptr",
};

namespace {

constexpr int64_t MODEL_SHAPE[4] = {1, MODEL_CHANNELS, N_BINS, T_CHUNK};
constexpr std::size_t MODEL_BLOCK_BYTES = (std::size_t)MODEL_BLOCK_FLOATS * sizeof(float);

// Output 0 must be a float tensor of exactly one block before anything reads
// its data; a model that breaks the contract must not make us read past it.
int check_output(const OrtApi *ort, const OrtValue *value, const char *context,
                 CallError *error) {
  OrtTensorTypeAndShapeInfo *info = nullptr;
  if (OrtStatus *st = ort->GetTensorTypeAndShape(value, &info)) {
    ort_fail_into(error, context, st);
    return -1;
  }
  ONNXTensorElementDataType type = ONNX_TENSOR_ELEMENT_DATA_TYPE_UNDEFINED;
  std::size_t count = 0;
  OrtStatus *st = ort->GetTensorElementType(info, &type);
  if (!st) st = ort->GetTensorShapeElementCount(info, &count);
  ort->ReleaseTensorTypeAndShapeInfo(info);
  if (st) {
    ort_fail_into(error, context, st);
    return -1;
  }
  if (type != ONNX_TENSOR_ELEMENT_DATA_TYPE_FLOAT) {
    std::snprintf(error->text, sizeof error->text, "%s: output 0 is not float32", context);
    return -1;
  }
  if (count != (std::size_t)MODEL_BLOCK_FLOATS) {
    std::snprintf(error->text, sizeof error->text, "%s: output 0 holds %zu values, expected %ld",
                  context, count, MODEL_BLOCK_FLOATS);
    return -1;
  }
  return 0;
}

}  // namespace

int run_stem_model(OrtSession *session, const float *in, float *out,
                   const StemCallContexts &contexts) {
  CallError error;
  if (run_stem_model_into(session, in, out, contexts, &error) == 0) return 0;
  set_err("%s", error.text);
  return -1;
}

int run_stem_model_into(OrtSession *session, const float *in, float *out,
                        const StemCallContexts &contexts, CallError *error) {
  const OrtApi *ort = ort_api();
  const char *input_names[1] = {"spectrogram"};
  OrtValue *input = nullptr;
  char *output_name = nullptr;
  OrtValue *output = nullptr;

  if (OrtStatus *st = ort->CreateTensorAsOrtValue(g_alloc, MODEL_SHAPE, 4,
                                                  ONNX_TENSOR_ELEMENT_DATA_TYPE_FLOAT, &input)) {
    ort_fail_into(error, contexts.create_tensor, st);
    return -1;
  }
  void *input_data = nullptr;
  if (OrtStatus *st = ort->GetTensorMutableData(input, &input_data)) {
    ort_fail_into(error, contexts.input_data, st);
    ort->ReleaseValue(input);
    return -1;
  }
  std::memcpy(input_data, in, MODEL_BLOCK_BYTES);

  if (OrtStatus *st = ort->SessionGetOutputName(session, 0, g_alloc, &output_name)) {
    ort_fail_into(error, contexts.output_name, st);
    ort->ReleaseValue(input);
    return -1;
  }

  const char *output_names[1] = {output_name};
  OrtStatus *run_status =
      ort->Run(session, nullptr, input_names, &input, 1, output_names, 1, &output);
  ort->ReleaseValue(input);
  if (OrtStatus *st = ort->AllocatorFree(g_alloc, output_name)) ort->ReleaseStatus(st);
  if (run_status) {
    ort_fail_into(error, contexts.run, run_status);
    if (output) ort->ReleaseValue(output);
    return -1;
  }

  if (check_output(ort, output, contexts.output_data, error) != 0) {
    ort->ReleaseValue(output);
    return -1;
  }
  void *output_data = nullptr;
  if (OrtStatus *st = ort->GetTensorMutableData(output, &output_data)) {
    ort_fail_into(error, contexts.output_data, st);
    ort->ReleaseValue(output);
    return -1;
  }
  if (out) std::memcpy(out, output_data, MODEL_BLOCK_BYTES);
  ort->ReleaseValue(output);
  return 0;
}
