// The one way into ONNX Runtime: its function table, fetched once, and the
// formatter through which every failing runtime call is reported.
#include <cstdio>

#include "frame/frame.h"
#include "runtime/runtime.h"

namespace {

// Kept for the life of the process once fetched; cleanup leaves it alone.
const OrtApi *api = nullptr;

}  // namespace

const OrtApi *ort_api() {
  if (!api) api = OrtGetApiBase()->GetApi(OMBRELT_ORT_API_VERSION);
  return api;
}

void ort_fail_into(CallError *error, const char *context, OrtStatus *status) {
  const OrtApi *ort = ort_api();
  const char *message = ort->GetErrorMessage(status);
  std::snprintf(error->text, sizeof error->text, "%s: %s", context,
                message && *message ? message : "unknown");
  ort->ReleaseStatus(status);
}

void ort_fail(const char *context, OrtStatus *status) {
  CallError error;
  ort_fail_into(&error, context, status);
  set_err("%s", error.text);
}
