#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "frame/frame.h"
#include "ombrelt.h"
#include "runtime/runtime.h"
#include "support/test_support.h"

namespace {

using testing_support::models;

using Block = std::vector<float>;

Block magnitudes(unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> dist(0.0f, 50.0f);
  Block b(MODEL_BLOCK_FLOATS);
  for (float &v : b) v = dist(rng);
  return b;
}

bool starts_with(const char *text, const char *prefix) {
  return std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}

class StemModel : public ::testing::Test {
 protected:
  void SetUp() override { ombrelt_cleanup(); }
  void TearDown() override { ombrelt_cleanup(); }

  static void load(const char *set) {
    ombrelt_cleanup();
    ASSERT_EQ(ombrelt_init(models(set).c_str()), 0) << set << ": " << g_err;
  }

  // Runs stem 0 of the loaded set; the output starts as a sentinel so that
  // unwritten values show.
  static int run(const Block &in, Block &out, const StemCallContexts &contexts = ENGINE_CONTEXTS) {
    out.assign(MODEL_BLOCK_FLOATS, -1.0f);
    return run_stem_model(g_sess[0], in.data(), out.data(), contexts);
  }
};

struct TransformCase {
  const char *set;
  std::function<float(float)> expected;
};

TEST_F(StemModel, OutputZeroIsCopiedWhole) {
  const TransformCase cases[] = {
      {"identity", [](float v) { return v; }},
      {"renamed_output", [](float v) { return v; }},
      {"two_outputs", [](float v) { return v; }},
      {"gain2", [](float v) { return 2.0f * v; }},
      {"zero", [](float) { return 0.0f; }},
      {"nan_output", [](float) { return NAN; }},
  };
  const Block in = magnitudes(1);
  for (const TransformCase &c : cases) {
    SCOPED_TRACE(c.set);
    load(c.set);
    Block out;
    ASSERT_EQ(run(in, out), 0) << g_err;
    for (long i = 0; i < MODEL_BLOCK_FLOATS; i++) {
      float want = c.expected(in[i]);
      bool same = std::isnan(want) ? std::isnan(out[i]) : out[i] == want;
      ASSERT_TRUE(same) << "float " << i << ": " << out[i] << " instead of " << want;
    }
  }
}

TEST_F(StemModel, BlockLayoutIsChannelBinFrameWithFrameFastest) {
  // The layout model sums along frames, then channels: on ones, element
  // (0, c, f, t) becomes (t + 1) * (c + 1).
  load("layout");
  const Block in(MODEL_BLOCK_FLOATS, 1.0f);
  Block out;
  ASSERT_EQ(run(in, out), 0) << g_err;
  struct Element {
    long index;
    float value;
  };
  for (Element e : {Element{0, 1}, Element{99, 100}, Element{100, 1},  // (0,0,1,0) is float 100
                    Element{204899, 100}, Element{204900, 2},          // (0,1,0,0) is float 204900
                    Element{204999, 200}, Element{409799, 200}})
    EXPECT_EQ(out[e.index], e.value) << "float " << e.index;
}

TEST_F(StemModel, SessionsFollowTheStemTable) {
  load("stem_gains");  // stem i multiplies by i + 1
  const Block in = magnitudes(2);
  for (int s = 0; s < N_STEMS; s++) {
    Block out(MODEL_BLOCK_FLOATS);
    ASSERT_EQ(run_stem_model(g_sess[s], in.data(), out.data(), ENGINE_CONTEXTS), 0) << g_err;
    EXPECT_EQ(out[12345], (float)(s + 1) * in[12345]) << OUTPUT_NAMES[s];
  }
}

TEST_F(StemModel, RunFailureCarriesTheCallSiteContext) {
  load("fails_on_signal");  // passes on silence, fails on anything else
  Block silence(MODEL_BLOCK_FLOATS, 0.0f), out;
  ASSERT_EQ(run(silence, out), 0) << g_err;

  Block signal = silence;
  signal[204900] = 0.5f;
  struct Case {
    const StemCallContexts *contexts;
    const char *prefix;
  };
  for (Case c : {Case{&ENGINE_CONTEXTS, "OrtRun: "}, Case{&WARMUP_CONTEXTS, "warmup OrtRun: "}}) {
    EXPECT_EQ(run(signal, out, *c.contexts), -1);
    EXPECT_TRUE(starts_with(g_err, c.prefix)) << g_err;
    EXPECT_GT(std::strlen(g_err), std::strlen(c.prefix)) << "the runtime's own words follow";
  }
}

// A session outside g_sess, for models that init would refuse.
struct ExtraSession {
  OrtSession *session = nullptr;
  explicit ExtraSession(const std::string &path) {
    const OrtApi *ort = ort_api();
    OrtSessionOptions *options = nullptr;
    if (OrtStatus *st = ort->CreateSessionOptions(&options)) ort->ReleaseStatus(st);
    if (OrtStatus *st = ort->CreateSession(g_env, path.c_str(), options, &session)) {
      ADD_FAILURE() << ort->GetErrorMessage(st);
      ort->ReleaseStatus(st);
      session = nullptr;
    }
    ort->ReleaseSessionOptions(options);
  }
  ~ExtraSession() {
    if (session) ort_api()->ReleaseSession(session);
  }
};

TEST_F(StemModel, OutputOfTheWrongSizeOrTypeIsNeverRead) {
  struct Case {
    const char *set;
    const char *message;
  };
  const Case cases[] = {
      {"short_output", "OrtRun out ptr: output 0 holds 204900 values, expected 409800"},
      {"double_output", "OrtRun out ptr: output 0 is not float32"},
  };
  load("identity");
  const Block in = magnitudes(3);
  for (const Case &c : cases) {
    ExtraSession extra(models(c.set) + "/" + STEM_FILES[0]);
    ASSERT_NE(extra.session, nullptr);
    Block out(MODEL_BLOCK_FLOATS, -1.0f);
    EXPECT_EQ(run_stem_model(extra.session, in.data(), out.data(), ENGINE_CONTEXTS), -1);
    EXPECT_STREQ(g_err, c.message);
    EXPECT_EQ(out[0], -1.0f) << "nothing copied";
  }
}

// Counts what is taken from and given back to the runtime's allocator, which
// holds the input tensor and the output name of every call.
struct CountingAllocator {
  OrtAllocator base;
  OrtAllocator *real;
  long live;
  long total;

  static CountingAllocator *self(const OrtAllocator *a) {
    return reinterpret_cast<CountingAllocator *>(const_cast<OrtAllocator *>(a));
  }
  static void *ORT_API_CALL alloc(OrtAllocator *a, size_t size) {
    void *p = self(a)->real->Alloc(self(a)->real, size);
    if (p) {
      self(a)->live++;
      self(a)->total++;
    }
    return p;
  }
  static void ORT_API_CALL release(OrtAllocator *a, void *p) {
    if (p) self(a)->live--;
    self(a)->real->Free(self(a)->real, p);
  }
  static const OrtMemoryInfo *ORT_API_CALL info(const OrtAllocator *a) {
    return self(a)->real->Info(self(a)->real);
  }
};

TEST_F(StemModel, CallsGiveBackEverythingTheyTake) {
  load("fails_on_signal");
  CountingAllocator counting{{ORT_API_VERSION, CountingAllocator::alloc, CountingAllocator::release,
                              CountingAllocator::info, CountingAllocator::alloc},
                             g_alloc, 0, 0};
  g_alloc = &counting.base;
  Block silence(MODEL_BLOCK_FLOATS, 0.0f), signal = silence, out;
  signal[0] = 1.0f;
  for (int i = 0; i < 5; i++) {
    EXPECT_EQ(run(silence, out), 0) << g_err;          // success
    EXPECT_EQ(run(signal, out), -1);                   // failure in Run
    EXPECT_EQ(run_stem_model(g_sess[1], silence.data(), nullptr, WARMUP_CONTEXTS), 0);
  }
  g_alloc = counting.real;
  EXPECT_GE(counting.total, 30) << "tensors and names went through the allocator";
  EXPECT_EQ(counting.live, 0);
}

// The model stage of a chunk (run_stem_models), whose stems may run side by
// side on threads: each output goes to its own block, and a failure is
// reported as the first failing stem in stem order, however the threads run.

// Runs the wanted stems into blocks that start as a sentinel.
int run_all(const std::vector<int> &wanted, const Block &in, std::vector<Block> &outs) {
  outs.assign(N_STEMS, Block(MODEL_BLOCK_FLOATS, -1.0f));
  float *blocks[N_STEMS];
  for (int i = 0; i < N_STEMS; i++) blocks[i] = outs[i].data();
  return run_stem_models(wanted.data(), (int)wanted.size(), in.data(), blocks);
}

TEST_F(StemModel, EachWantedStemGoesToItsOwnBlock) {
  load("stem_gains");  // stem s: (s + 1) * input
  const Block in = magnitudes(1);
  const std::vector<std::vector<int>> cases = {{0, 1, 2, 3}, {1, 3}, {0, 2, 3}, {2}, {}};
  for (const std::vector<int> &wanted : cases) {
    SCOPED_TRACE(testing::PrintToString(wanted));
    std::vector<Block> outs;
    ASSERT_EQ(run_all(wanted, in, outs), 0) << g_err;
    for (size_t i = 0; i < N_STEMS; i++) {
      const float gain = i < wanted.size() ? (float)(wanted[i] + 1) : 0.0f;
      for (long k : {0L, 204899L, 204900L, MODEL_BLOCK_FLOATS - 1}) {
        float want = gain > 0 ? gain * in[k] : -1.0f;  // unused blocks stay untouched
        ASSERT_EQ(outs[i][k], want) << "block " << i << " float " << k;
      }
    }
  }
}

TEST_F(StemModel, TheFirstFailingStemInStemOrderIsReported) {
  load("identity");
  ExtraSession short_output(models("short_output") + "/" + STEM_FILES[0]);
  ExtraSession double_output(models("double_output") + "/" + STEM_FILES[0]);
  ASSERT_NE(short_output.session, nullptr);
  ASSERT_NE(double_output.session, nullptr);
  const std::string short_message = "OrtRun out ptr: output 0 holds 204900 values, expected 409800";
  const std::string double_message = "OrtRun out ptr: output 0 is not float32";

  struct Case {
    int short_stem, double_stem;  // -1: that kind of failure nowhere
    std::vector<int> wanted;
    std::string message;
  };
  // Stems 0 and 2 fall to the calling thread, 1 and 3 to a second one when
  // two run at once; the cases put failures in either or both.
  const Case cases[] = {
      {1, 3, {0, 1, 2, 3}, short_message},  {3, 1, {0, 1, 2, 3}, double_message},
      {2, 1, {0, 1, 2, 3}, double_message}, {1, 2, {0, 1, 2, 3}, short_message},
      {0, 1, {0, 1, 2, 3}, short_message},  {3, 2, {0, 1, 2, 3}, double_message},
      {3, 2, {1, 3}, short_message},        {-1, 3, {0, 1, 2, 3}, double_message},
  };
  OrtSession *own[N_STEMS];
  for (int s = 0; s < N_STEMS; s++) own[s] = g_sess[s];
  const Block in = magnitudes(2);
  for (const Case &c : cases) {
    SCOPED_TRACE("short at " + std::to_string(c.short_stem) + ", double at " +
                 std::to_string(c.double_stem) + ", wanted " + testing::PrintToString(c.wanted));
    for (int s = 0; s < N_STEMS; s++) g_sess[s] = own[s];
    if (c.short_stem >= 0) g_sess[c.short_stem] = short_output.session;
    if (c.double_stem >= 0) g_sess[c.double_stem] = double_output.session;
    // Repeated, since which thread gets there first varies from run to run.
    for (int round = 0; round < 5; round++) {
      std::vector<Block> outs;
      set_err("stale");
      EXPECT_EQ(run_all(c.wanted, in, outs), -1);
      EXPECT_EQ(std::string(g_err), c.message);
    }
  }
  for (int s = 0; s < N_STEMS; s++) g_sess[s] = own[s];
}

TEST_F(StemModel, SuccessLeavesTheErrorAlone) {
  load("identity");
  set_err("earlier failure");
  std::vector<Block> outs;
  ASSERT_EQ(run_all({0, 1, 2, 3}, magnitudes(3), outs), 0);
  EXPECT_STREQ(g_err, "earlier failure");
}

}  // namespace
