// Decoders must size their memory from the bytes they actually read, never
// from a count alone. This file counts the heap requests made while a
// decoder runs by replacing the global operator new for the test program.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <functional>
#include <new>
#include <string>
#include <vector>

#include "archive/le_bytes.h"
#include "archive/certificates.h"
#include "archive/constants.h"
#include "archive/label_list.h"
#include "archive/plan_steps.h"
#include "archive/ports.h"
#include "archive/shape_registry.h"
#include "archive/warm_start.h"
#include "archive/weights.h"

namespace {
std::atomic<bool> g_watching{false};
std::atomic<std::size_t> g_requests{0};
std::atomic<std::size_t> g_largest{0};
}  // namespace

// Weak, so that a test program that already replaces operator new keeps its
// own; the probe below then reports that it cannot watch. Every replaced
// allocation form goes to malloc and every matching release to free, so the
// pairs stay consistent also under sanitizer runtimes.
namespace {
void* counted_malloc(std::size_t n) noexcept {
  if (g_watching.load(std::memory_order_relaxed)) {
    g_requests.fetch_add(1, std::memory_order_relaxed);
    std::size_t prev = g_largest.load(std::memory_order_relaxed);
    while (n > prev && !g_largest.compare_exchange_weak(prev, n, std::memory_order_relaxed)) {
    }
  }
  return std::malloc(n == 0 ? 1 : n);
}
}  // namespace

__attribute__((weak)) void* operator new(std::size_t n) {
  if (void* p = counted_malloc(n)) return p;
  throw std::bad_alloc();
}
__attribute__((weak)) void* operator new[](std::size_t n) {
  if (void* p = counted_malloc(n)) return p;
  throw std::bad_alloc();
}
__attribute__((weak)) void* operator new(std::size_t n, const std::nothrow_t&) noexcept { return counted_malloc(n); }
__attribute__((weak)) void* operator new[](std::size_t n, const std::nothrow_t&) noexcept { return counted_malloc(n); }
__attribute__((weak)) void operator delete(void* p) noexcept { std::free(p); }
__attribute__((weak)) void operator delete[](void* p) noexcept { std::free(p); }
__attribute__((weak)) void operator delete(void* p, std::size_t) noexcept { std::free(p); }
__attribute__((weak)) void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
__attribute__((weak)) void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
__attribute__((weak)) void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }

namespace tessary {
namespace {

struct Watch {
  Watch() {
    g_requests = 0;
    g_largest = 0;
    g_watching = true;
  }
  ~Watch() { g_watching = false; }
  std::size_t requests() const { return g_requests.load(); }
  std::size_t largest() const { return g_largest.load(); }
};

bool probe_works() {
  Watch w;
  auto* p = new std::vector<int>(100);
  bool seen = w.largest() >= 100 * sizeof(int);
  delete p;
  return seen;
}

// Each decoder gets a payload whose count promises far more records than its
// bytes hold; the largest heap request may not exceed one record per payload
// byte.
TEST(DecoderAllocation, ForgedCountsReserveNoMoreThanThePayloadHolds) {
  if (!probe_works()) GTEST_SKIP() << "operator new is replaced elsewhere in this program";
  struct Probe {
    const char* name;
    std::size_t record_size;
    std::function<bool(ByteView)> decode_fails;
  };
  const Probe probes[] = {
      {"ports", sizeof(PortDescriptor), [](ByteView b) { return !decode_ports(b); }},
      {"constants", sizeof(archive::ConstantEntry), [](ByteView b) { return !decode_constants(b); }},
      {"exec plan", sizeof(PlanStep), [](ByteView b) { return !decode_exec_plan(b); }},
      {"shape registry", sizeof(ShapeDescriptor), [](ByteView b) { return !decode_shape_registry(b); }},
      {"certificates", sizeof(CertificateRecord), [](ByteView b) { return !decode_certificates(b); }},
      {"warm start", sizeof(WarmEntry), [](ByteView b) { return !decode_warm_start(b); }},
      {"weights", 64, [](ByteView b) { return !decode_weights(b); }},
  };
  for (std::uint32_t count : {1000000u, UINT32_MAX}) {
    for (std::size_t tail : {0u, 40u}) {
      Bytes payload;
      testing::LeBytes w;
      w.u32(count);
      w.zeros(tail);
      payload = w.take();
      for (const Probe& p : probes) {
        bool failed;
        std::size_t largest;
        {
          Watch watch;
          failed = p.decode_fails(payload);
          largest = watch.largest();
        }
        EXPECT_TRUE(failed) << p.name;
        EXPECT_LE(largest, payload.size() * p.record_size) << p.name << " count " << count << " tail " << tail;
      }
    }
  }
}

// A step or a port shape whose own count is forged is held to the same rule.
TEST(DecoderAllocation, ForgedInnerCountsReserveNoMoreThanThePayloadHolds) {
  if (!probe_works()) GTEST_SKIP() << "operator new is replaced elsewhere in this program";
  testing::LeBytes plan;
  plan.u32(1);
  plan.u32(UINT32_MAX);
  plan.zeros(12);
  Bytes plan_bytes = plan.take();
  {
    Watch watch;
    EXPECT_FALSE(decode_exec_plan(plan_bytes).has_value());
    EXPECT_LE(watch.largest(), plan_bytes.size() * sizeof(std::uint32_t));
  }
  testing::LeBytes shapes;
  shapes.u32(1);
  shapes.u8(0);
  shapes.zeros(64);
  shapes.u32(UINT32_MAX);
  shapes.zeros(16);
  Bytes shape_bytes = shapes.take();
  {
    Watch watch;
    EXPECT_FALSE(decode_shape_registry(shape_bytes).has_value());
    EXPECT_LE(watch.largest(), shape_bytes.size() * sizeof(ShapeDescriptor));
  }
}

TEST(DecoderAllocation, LabelListsOfUpToFourStayOffTheHeap) {
  if (!probe_works()) GTEST_SKIP() << "operator new is replaced elsewhere in this program";
  KappaLabel a = address_bytes(Bytes{1});
  LabelList list;
  {
    Watch watch;
    for (int i = 0; i < 4; ++i) list.push_back(a);
    LabelList copy = list;
    KappaLabel l = derive_label(3, {}, copy);
    EXPECT_EQ(watch.requests(), 0u);
    EXPECT_EQ(l, derive_label(3, {}, list));
  }
  {
    Watch watch;
    list.push_back(a);
    EXPECT_GT(watch.requests(), 0u);
  }
}

}  // namespace
}  // namespace tessary
