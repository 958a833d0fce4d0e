// Encode and decode benchmarks of the hand-written message classes against
// google::protobuf::DynamicMessage, the runtime's reflection-driven message,
// over the same descriptors.
//
// Workloads (each built with the class's setters, encoded once; the
// DynamicMessage of the same descriptor is filled by parsing those bytes):
//   change_set_64  MultiPropertyChanged with a change set of 64 properties,
//                  each with path, value bytes, two metadata pairs,
//                  last_change_time, last_change_id, path_hash, ack and
//                  authority, plus change_set_id and ack_id.
//   drive          the typical drive command: CommandVelocity with linear,
//                  angular, send_timestamp_ns and ptz_message.move with pan
//                  and tilt targets.
//   full_command   CommandVelocity with every field of every nested message
//                  present, with the values robots send: a nanosecond
//                  timestamp (nine-byte varint), a 64-bit limiter tag (ten
//                  bytes), message and acknowledged ids past 2^31 (five
//                  bytes), negative pan and tilt (ten-byte int32 varints),
//                  three-float laser vectors, candy slots, a PTZ message with
//                  all its parts and a filled camera calibration, auto-docking
//                  and calibration requests.
//
// Directions, each for `class` and `dynamic`, and a floor:
//   encode  ByteSizeLong() then SerializeWithCachedSizesToArray() into a
//           buffer allocated before the timed loop.
//   decode  steady-state re-parse: ParseFromArray() of the same bytes into
//           one message reused across iterations (ParseFromArray clears it
//           first, and the class keeps what it allocated for reuse).
//   copy    `memcpy` of the workload's bytes into a buffer (IMPL `memcpy`):
//           the machine's limit, beside which bench/run.sh shows the
//           classes' throughput in MB/s.
//
// With --benchmark_repetitions, a "min" aggregate joins the mean, median and
// standard deviation.
//
// Counters: allocs_per_op is the number of global operator new calls
// (every variant, replaced in this binary) made during the timed loop,
// divided by the iterations; bytes_per_second is the encoding's size.
//
// Targets checked by bench/run.sh from this binary's JSON output, on the
// medians: class decode at least 12x faster than DynamicMessage decode, class
// encode at least 30x faster than DynamicMessage encode, and 0 allocations
// per encode and per steady-state re-parse for the class.
//
// Benchmark names are WORKLOAD/DIRECTION/IMPL, e.g. drive/decode/class, so
// --benchmark_filter=drive/ or --benchmark_filter=/encode/ select subsets.
//
// Running:
//   bench/run.sh            Release build in build/bench, 9 randomly
//                           interleaved repetitions of every benchmark, then
//                           a table of median CPU times, ratios
//                           (DynamicMessage time / class time), allocations
//                           per operation and MB/s beside memcpy, with a
//                           verdict per target; exit status 2 when one is
//                           missed. MIN_TIME and REPETITIONS tune the run.
//   bench/instructions.sh   the same ratios as instructions per operation
//                           under callgrind: slower, but independent of
//                           whatever else shares the machine's cores.
//   build/bench/bench/protolib_bench [--benchmark_filter=...]   directly.
// Setup checks first that the class and DynamicMessage encode each workload
// to the same bytes and agree on its content; the binary stops otherwise.
// ("Library was built as DEBUG" in the output refers to the distribution's
// Google Benchmark library itself, not to the code measured.)
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include <google/protobuf/descriptor.h>
#include <google/protobuf/dynamic_message.h>
#include <google/protobuf/message.h>
#include <google/protobuf/stubs/common.h>

#include "calibration_common/calibration.pb.h"
#include "session/commander_private/commander.pb.h"
#include "session/velocity.pb.h"

// ---------------------------------------------------------------------------
// Heap allocation counting: every replaceable global operator new/delete.

namespace {

std::atomic<uint64_t> g_allocations{0};

inline void* CountedAlloc(std::size_t size) {
  g_allocations.fetch_add(1, std::memory_order_relaxed);
  if (size == 0) size = 1;
  return std::malloc(size);
}

inline void* CountedAlignedAlloc(std::size_t size, std::align_val_t align) {
  g_allocations.fetch_add(1, std::memory_order_relaxed);
  std::size_t alignment = static_cast<std::size_t>(align);
  if (alignment < sizeof(void*)) alignment = sizeof(void*);
  if (size == 0) size = 1;
  void* p = nullptr;
  if (posix_memalign(&p, alignment, size) != 0) return nullptr;
  return p;
}

inline void* OrThrow(void* p) {
  if (p == nullptr) throw std::bad_alloc();
  return p;
}

}  // namespace

void* operator new(std::size_t size) { return OrThrow(CountedAlloc(size)); }
void* operator new[](std::size_t size) { return OrThrow(CountedAlloc(size)); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  return CountedAlloc(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  return CountedAlloc(size);
}
void* operator new(std::size_t size, std::align_val_t align) {
  return OrThrow(CountedAlignedAlloc(size, align));
}
void* operator new[](std::size_t size, std::align_val_t align) {
  return OrThrow(CountedAlignedAlloc(size, align));
}
void* operator new(std::size_t size, std::align_val_t align, const std::nothrow_t&) noexcept {
  return CountedAlignedAlloc(size, align);
}
void* operator new[](std::size_t size, std::align_val_t align,
                     const std::nothrow_t&) noexcept {
  return CountedAlignedAlloc(size, align);
}

void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete(void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }
void operator delete(void* p, std::align_val_t, const std::nothrow_t&) noexcept {
  std::free(p);
}
void operator delete[](void* p, std::align_val_t, const std::nothrow_t&) noexcept {
  std::free(p);
}

namespace {

namespace pb = ::google::protobuf;

uint64_t Allocations() { return g_allocations.load(std::memory_order_relaxed); }

[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "benchmark setup failed: %s\n", what.c_str());
  std::exit(1);
}

// ---------------------------------------------------------------------------
// Workloads.

uint32_t Fnv1a(const std::string& s) {
  uint32_t h = 2166136261u;
  for (unsigned char c : s) {
    h ^= c;
    h *= 16777619u;
  }
  return h;
}

std::unique_ptr<pb::Message> ChangeSet64() {
  auto message = std::make_unique<MultiPropertyChanged>();
  MultiPropertyChangedData* change = message->mutable_change();
  static const char* const kGroups[] = {"drive", "camera", "laser", "dock",
                                        "audio", "display", "power", "network"};
  for (int i = 0; i < 64; ++i) {
    PropertyChanged* p = change->add_properties();
    char path[64];
    std::snprintf(path, sizeof(path), "/robot/%s/setting_%02d/value", kGroups[i % 8], i);
    p->set_path(path);
    // Value bytes of varying length and content, up to 40 bytes.
    std::string value;
    for (int j = 0; j < 4 + (i * 7) % 37; ++j) {
      value.push_back(static_cast<char>((i * 31 + j * 17) & 0xff));
    }
    p->set_value(value.data(), value.size());
    PropertyChanged_KVPair* unit = p->add_metadata();
    unit->set_key("unit");
    unit->set_value(i % 2 == 0 ? "m/s" : "rad");
    PropertyChanged_KVPair* source = p->add_metadata();
    source->set_key("source");
    source->set_value("operator-console/session-42");
    p->set_last_change_time(1700000000000ULL + 1000ULL * i);
    p->set_last_change_id(1000 + i);
    p->set_path_hash(Fnv1a(path));
    p->set_ack(i % 2 == 1);
    p->set_authority(i % 3 == 0);
  }
  change->set_change_set_id(4242);
  change->set_ack_id(4241);
  return message;
}

std::unique_ptr<pb::Message> DriveCommand() {
  auto message = std::make_unique<CommandVelocity>();
  message->set_linear(0.5f);
  message->set_angular(-0.25f);
  message->set_send_timestamp_ns(1700000000123456789ULL);
  PTZMoveCommand* move = message->mutable_ptz_message()->mutable_move();
  move->set_pan_target(1200);
  move->set_tilt_target(-300);
  return message;
}

// Ids as a long session numbers them: past 2^31, five-byte varints.
constexpr uint32_t kSessionIds = 0x80000000u;

std::unique_ptr<pb::Message> FullCommand() {
  auto m = std::make_unique<CommandVelocity>();
  m->set_linear(0.75f);
  m->set_angular(-0.5f);
  m->set_velocity_limiter_tag(0xC3A5F00D12345678ULL);  // ten bytes
  m->set_allowed_linear_distance(2.5f);
  m->set_allowed_angular_distance(1.25f);
  m->set_send_timestamp_ns(1765000000123456789ULL);  // nine bytes
  m->mutable_autodocking()->set_dock_id(3);
  CalibrationRequest* calibration = m->mutable_calibration();
  calibration->set_calibration_id(1234567);
  calibration->set_calibrate_gyroscope(true);
  calibration->set_calibrate_cameras(true);
  m->set_override_disabled_driving(true);

  PTZMessage* ptz = m->mutable_ptz_message();
  ptz->set_message_id(kSessionIds + 901);
  PTZMoveCommand* move = ptz->mutable_move();
  move->set_pan_target(-1200);  // negative int32s: ten bytes each
  move->set_tilt_target(-300);
  move->set_zoom_target(4);
  move->set_pan_speed(60);
  move->set_tilt_speed(30);
  PTZFocusCommand* focus = ptz->mutable_focus();
  focus->set_autofocus(false);
  focus->set_focus_value(512);
  ptz->mutable_reset()->set_reset_pan_tilt_zoom(true);
  PTZStatus* status = ptz->mutable_status();
  status->set_moving(true);
  status->set_current_pan(-1100);
  status->set_current_tilt(-280);
  status->set_current_zoom(3);
  status->set_current_focus(500);
  status->set_last_move_command_id(kSessionIds + 900);
  status->set_ptz_present(true);
  status->set_ptz_powered_in_s(3600.5);
  ptz->mutable_data_request()->set_request_calibration(true);
  tolva::calibration::PTZCameraParameters* camera = ptz->mutable_calibration();
  camera->set_focal_length_x(1402.25);
  camera->set_focal_length_y(1401.75);
  camera->set_principal_point_x(959.5);
  camera->set_principal_point_y(539.5);
  for (float d : {-0.281f, 0.079f, 0.0012f, -0.0007f, 0.0f}) camera->add_distortion(d);
  camera->set_mount_height_m(1.12f);
  camera->set_pan_offset_rad(0.015f);
  camera->set_tilt_offset_rad(-0.021f);
  camera->set_image_width(1920);
  camera->set_image_height(1080);
  camera->set_camera_serial("PTZ-CAM-000123456789");

  CommandAck* ack = m->mutable_command_ack();
  for (uint32_t id : {880u, 881u, 883u, 884u, 890u, 895u, 899u, 900u}) {
    ack->add_message_ids(kSessionIds + id);
  }

  LaserMessage* laser = m->mutable_laser_message();
  laser->set_message_id(kSessionIds + 77);
  laser->mutable_onoff()->set_laser_on(true);
  LaserPointToCommand* point_to = laser->mutable_point_to();
  for (float v : {0.1f, 0.0f, 1.05f}) point_to->add_ray_origin(v);
  for (float v : {0.8f, 0.1f, -0.59f}) point_to->add_ray_direction(v);
  point_to->set_state_while_moving(OFF);
  point_to->set_state_after_moving(ON);
  LaserStatus* laser_status = laser->mutable_status();
  for (float v : {0.79f, 0.11f, -0.6f}) laser_status->add_targeted_direction(v);
  for (float v : {2.4f, 0.35f, 0.0f}) laser_status->add_targeted_point(v);
  laser_status->set_target_message_id(kSessionIds + 76);
  for (float v : {0.78f, 0.12f, -0.61f}) laser_status->add_current_direction(v);
  for (float v : {0.1f, 0.0f, 1.05f}) laser_status->add_laser_center(v);
  laser_status->set_state(true);
  laser_status->set_moving(false);
  laser_status->set_laser_unavailable(false);

  CandyMessage* candy = m->mutable_candy_message();
  candy->set_message_id(kSessionIds + 55);
  candy->add_active_slots(BIN0);
  candy->add_active_slots(BIN2);
  candy->add_active_slots(BIN1);
  return m;
}

// A workload's bytes and its two messages: the class instance and a
// DynamicMessage of the same descriptor filled from the same bytes.
struct Workload {
  std::string name;
  std::string bytes;
  std::unique_ptr<pb::Message> class_message;
  std::unique_ptr<pb::Message> dynamic_message;
};

pb::DynamicMessageFactory& Factory() {
  static auto* factory = new pb::DynamicMessageFactory();  // lives to exit
  return *factory;
}

Workload MakeWorkload(const std::string& name, std::unique_ptr<pb::Message> built) {
  Workload w;
  w.name = name;
  if (!built->IsInitialized()) Fail(name + ": built message is not initialized");
  if (!built->SerializeToString(&w.bytes)) Fail(name + ": class encoding failed");

  w.class_message.reset(built->New());
  if (!w.class_message->ParseFromString(w.bytes)) Fail(name + ": class decode failed");
  if (w.class_message->SerializeAsString() != w.bytes) {
    Fail(name + ": class re-encoding differs from the original bytes");
  }

  const pb::Descriptor* descriptor = built->GetDescriptor();
  const pb::Message* prototype = Factory().GetPrototype(descriptor);
  if (prototype == nullptr) Fail(name + ": no dynamic prototype");
  w.dynamic_message.reset(prototype->New());
  if (w.dynamic_message->GetDescriptor() != descriptor) {
    Fail(name + ": dynamic message has another descriptor");
  }
  if (!w.dynamic_message->ParseFromString(w.bytes)) Fail(name + ": dynamic decode failed");
  if (w.dynamic_message->SerializeAsString() != w.bytes) {
    Fail(name + ": DynamicMessage re-encoding differs from the class encoding");
  }
  if (w.dynamic_message->DebugString() != w.class_message->DebugString()) {
    Fail(name + ": DynamicMessage and class disagree on the content");
  }
  return w;
}

// ---------------------------------------------------------------------------
// The timed loops.

void SetAllocCounter(benchmark::State& state, uint64_t before, uint64_t after) {
  state.counters["allocs_per_op"] = benchmark::Counter(
      static_cast<double>(after - before), benchmark::Counter::kAvgIterations);
}

void Encode(benchmark::State& state, const pb::Message* message, size_t expected_size) {
  std::vector<uint8_t> buffer(expected_size + 64);
  if (message->ByteSizeLong() != expected_size) {
    state.SkipWithError("ByteSizeLong differs from the encoding's size");
    return;
  }
  const uint64_t before = Allocations();
  for (auto _ : state) {
    size_t size = message->ByteSizeLong();
    benchmark::DoNotOptimize(size);
    uint8_t* end = message->SerializeWithCachedSizesToArray(buffer.data());
    benchmark::DoNotOptimize(end);
    benchmark::ClobberMemory();
  }
  const uint64_t after = Allocations();
  SetAllocCounter(state, before, after);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * expected_size));
}

void Decode(benchmark::State& state, pb::Message* message, const std::string* bytes) {
  const char* data = bytes->data();
  const int size = static_cast<int>(bytes->size());
  // Warm the message up: the steady state is a re-parse into a message
  // that already holds what the bytes need.
  if (!message->ParseFromArray(data, size)) {
    state.SkipWithError("parse failed");
    return;
  }
  bool ok = true;
  const uint64_t before = Allocations();
  for (auto _ : state) {
    ok &= message->ParseFromArray(data, size);
    benchmark::ClobberMemory();
  }
  const uint64_t after = Allocations();
  if (!ok) state.SkipWithError("parse failed in the timed loop");
  SetAllocCounter(state, before, after);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes->size()));
}

// The floor: copying the workload's bytes, as fast as any decoder could
// touch them.
void Copy(benchmark::State& state, const std::string* bytes) {
  std::vector<char> buffer(bytes->size());
  for (auto _ : state) {
    std::memcpy(buffer.data(), bytes->data(), bytes->size());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes->size()));
}

// An empty timed loop: shows the allocations the harness itself makes
// inside the counted window (expected 0).
void Baseline(benchmark::State& state) {
  const uint64_t before = Allocations();
  for (auto _ : state) benchmark::ClobberMemory();
  SetAllocCounter(state, before, Allocations());
}

// With --benchmark_repetitions: the least disturbed repetition, the most
// telling one on a machine shared with other work.
double Min(const std::vector<double>& v) { return *std::min_element(v.begin(), v.end()); }

}  // namespace

int main(int argc, char** argv) {
  GOOGLE_PROTOBUF_VERIFY_VERSION;
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;

  // Kept alive until after the run; the benchmarks hold raw pointers.
  static std::vector<Workload> workloads;
  workloads.push_back(MakeWorkload("change_set_64", ChangeSet64()));
  workloads.push_back(MakeWorkload("drive", DriveCommand()));
  workloads.push_back(MakeWorkload("full_command", FullCommand()));

  benchmark::RegisterBenchmark("harness/empty_loop", Baseline);
  for (Workload& w : workloads) {
    struct Impl {
      const char* name;
      pb::Message* message;
    };
    const Impl impls[] = {{"class", w.class_message.get()},
                          {"dynamic", w.dynamic_message.get()}};
    for (const Impl& impl : impls) {
      benchmark::RegisterBenchmark((w.name + "/encode/" + impl.name).c_str(), Encode,
                                   impl.message, w.bytes.size())
          ->ComputeStatistics("min", Min);
    }
    for (const Impl& impl : impls) {
      benchmark::RegisterBenchmark((w.name + "/decode/" + impl.name).c_str(), Decode,
                                   impl.message, &w.bytes)
          ->ComputeStatistics("min", Min);
    }
    benchmark::RegisterBenchmark((w.name + "/copy/memcpy").c_str(), Copy, &w.bytes)
        ->ComputeStatistics("min", Min);
  }
  for (const Workload& w : workloads) {
    benchmark::AddCustomContext("bytes_" + w.name, std::to_string(w.bytes.size()));
  }

  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
