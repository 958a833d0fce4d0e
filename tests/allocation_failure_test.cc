// Allocation failure: every allocation an operation makes is failed in turn
// (N = 1, 2, ... until the operation completes), for decoding, merging,
// copying and the mutable_/add_ accessors. Each time the std::bad_alloc must
// reach the caller, the message must stay consistent (a field reported
// present is there), be destroyable without leaking, and be clearable and
// reusable.
//
// This binary replaces the global operator new and delete (every variant)
// with a counting allocator. It is armed only around the operation under
// test, so GoogleTest itself never sees a failure; it counts live blocks at
// all times, which is how each trial checks that destroying the message
// returns the count to where it started.
//
// A failed merge can leave the target sharing an unknown field's string or
// group with the message merged from (so destroying both would free it
// twice). Each trial therefore merges from its own copy of the source; a
// trial after which the target held, or freed, storage of that copy reports
// it, and the copy is kept rather than destroyed, so the run goes on.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <memory>
#include <new>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <google/protobuf/arena.h>
#include <google/protobuf/descriptor.h>
#include <google/protobuf/message.h>
#include <google/protobuf/unknown_field_set.h>

#include "calibration_common/calibration.pb.h"
#include "session/commander_private/commander.pb.h"
#include "session/velocity.pb.h"
#include "tests/test_util.h"

// --- The counting allocator ------------------------------------------------

namespace {

struct AllocatorState {
  long long live;      // blocks handed out and not yet freed
  long long seen;      // allocations since the injection was armed
  long long fail_at;   // the allocation to fail (1-based); 0: none
  bool armed;
  bool failed;         // the armed allocation was failed
};

AllocatorState g_alloc;  // zero-initialized before any allocation

void* Allocate(std::size_t size, std::size_t alignment, bool nothrow) {
  if (g_alloc.armed && ++g_alloc.seen == g_alloc.fail_at) {
    g_alloc.failed = true;
    if (nothrow) return nullptr;
    throw std::bad_alloc();
  }
  if (size == 0) size = 1;
  void* p = nullptr;
  if (alignment > alignof(std::max_align_t)) {
    if (posix_memalign(&p, alignment, size) != 0) p = nullptr;
  } else {
    p = std::malloc(size);
  }
  if (p == nullptr) {
    if (nothrow) return nullptr;
    throw std::bad_alloc();
  }
  ++g_alloc.live;
  return p;
}

void Free(void* p) noexcept {
  if (p == nullptr) return;
  --g_alloc.live;
  std::free(p);
}

}  // namespace

void* operator new(std::size_t n) { return Allocate(n, 0, false); }
void* operator new[](std::size_t n) { return Allocate(n, 0, false); }
void* operator new(std::size_t n, const std::nothrow_t&) noexcept {
  return Allocate(n, 0, true);
}
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept {
  return Allocate(n, 0, true);
}
void* operator new(std::size_t n, std::align_val_t a) {
  return Allocate(n, static_cast<std::size_t>(a), false);
}
void* operator new[](std::size_t n, std::align_val_t a) {
  return Allocate(n, static_cast<std::size_t>(a), false);
}
void* operator new(std::size_t n, std::align_val_t a, const std::nothrow_t&) noexcept {
  return Allocate(n, static_cast<std::size_t>(a), true);
}
void* operator new[](std::size_t n, std::align_val_t a, const std::nothrow_t&) noexcept {
  return Allocate(n, static_cast<std::size_t>(a), true);
}
void operator delete(void* p) noexcept { Free(p); }
void operator delete[](void* p) noexcept { Free(p); }
void operator delete(void* p, std::size_t) noexcept { Free(p); }
void operator delete[](void* p, std::size_t) noexcept { Free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { Free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { Free(p); }
void operator delete(void* p, std::align_val_t) noexcept { Free(p); }
void operator delete[](void* p, std::align_val_t) noexcept { Free(p); }
void operator delete(void* p, std::size_t, std::align_val_t) noexcept { Free(p); }
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept { Free(p); }
void operator delete(void* p, std::align_val_t, const std::nothrow_t&) noexcept { Free(p); }
void operator delete[](void* p, std::align_val_t, const std::nothrow_t&) noexcept { Free(p); }

namespace {

namespace pb = ::google::protobuf;
using protolib_test::Hex;
using ::tolva::calibration::PTZCameraParameters;

// Arms the allocator for its lifetime: fails allocation `fail_at` (0 only
// counts). Disarms on the way out, exception or not.
class Injection {
 public:
  explicit Injection(long long fail_at) {
    g_alloc.seen = 0;
    g_alloc.fail_at = fail_at;
    g_alloc.failed = false;
    g_alloc.armed = true;
  }
  ~Injection() { g_alloc.armed = false; }
  Injection(const Injection&) = delete;
  Injection& operator=(const Injection&) = delete;
};

// --- Rich messages ---------------------------------------------------------

// Unknown fields of every wire type, a group with content among them.
void AddUnknownFields(pb::UnknownFieldSet* u) {
  u->AddVarint(100, 300);
  u->AddFixed32(101, 0xdeadbeef);
  u->AddFixed64(102, 0x0123456789abcdefull);
  u->AddLengthDelimited(103, "opaque bytes long enough not to fit a small string");
  pb::UnknownFieldSet* group = u->AddGroup(104);
  group->AddVarint(1, 7);
  group->AddLengthDelimited(2, "inside a group, also long enough to allocate");
}

PTZCameraParameters RichCalibration() {
  PTZCameraParameters c;
  c.set_focal_length_x(1041.5);
  c.set_focal_length_y(1039.25);
  c.set_principal_point_x(960.5);
  c.set_principal_point_y(540.0);
  for (float k : {-0.28f, 0.074f, 0.0002f, -0.0001f, 0.0f}) c.add_distortion(k);
  c.set_mount_height_m(1.12f);
  c.set_image_width(1920);
  c.set_image_height(1080);
  c.set_camera_serial("PTZ-000123-a-serial-number-longer-than-sso");
  AddUnknownFields(c.mutable_unknown_fields());
  return c;
}

CommandVelocity RichCommand() {
  CommandVelocity c;
  c.set_linear(0.5f);
  c.set_angular(-0.25f);
  c.set_velocity_limiter_tag(77);
  c.set_send_timestamp_ns(1700000000000000000ull);
  c.mutable_autodocking()->set_dock_id(2);
  c.mutable_calibration()->set_calibrate_gyroscope(true);
  c.set_override_disabled_driving(true);
  PTZMessage* ptz = c.mutable_ptz_message();
  ptz->set_message_id(501);
  ptz->mutable_move()->set_pan_target(1200);
  ptz->mutable_focus()->set_focus_value(330);
  ptz->mutable_reset()->set_reset_pan_tilt_zoom(true);
  ptz->mutable_status()->set_ptz_powered_in_s(12.5);
  ptz->mutable_data_request()->set_request_calibration(true);
  *ptz->mutable_calibration() = RichCalibration();
  for (uint32_t id : {498u, 499u, 500u, 501u, 502u}) c.mutable_command_ack()->add_message_ids(id);
  LaserMessage* laser = c.mutable_laser_message();
  laser->set_message_id(77);
  laser->mutable_onoff()->set_laser_on(true);
  for (float v : {0.0f, 0.1f, 1.2f}) laser->mutable_point_to()->add_ray_origin(v);
  for (float v : {1.0f, 0.0f, -0.5f}) laser->mutable_point_to()->add_ray_direction(v);
  laser->mutable_point_to()->set_state_after_moving(ON);
  for (float v : {0.9f, 0.1f, 0.0f}) laser->mutable_status()->add_targeted_direction(v);
  laser->mutable_status()->set_state(true);
  c.mutable_candy_message()->add_active_slots(BIN0);
  c.mutable_candy_message()->add_active_slots(BIN2);
  // An undeclared slot: kept among the candy message's unknown fields.
  c.mutable_candy_message()->mutable_unknown_fields()->AddVarint(2, 9);
  AddUnknownFields(c.mutable_unknown_fields());
  return c;
}

PropertyChanged RichProperty(const std::string& path) {
  PropertyChanged p;
  p.set_last_change_time(1700000000123456789ull);
  p.set_last_change_id(-1);
  p.set_ack(true);
  p.set_path(path);
  p.set_value(std::string(40, '\x7f'));
  for (const char* key : {"unit-of-the-value-long-key", "source-of-the-value-long-key"}) {
    PropertyChanged_KVPair* pair = p.add_metadata();
    pair->set_key(key);
    pair->set_value(std::string(30, 'v'));
  }
  p.set_path_hash(0x9e3779b9u);
  AddUnknownFields(p.mutable_unknown_fields());
  return p;
}

MultiPropertyChanged RichChangeSet() {
  MultiPropertyChanged m;
  *m.mutable_change()->add_properties() = RichProperty("/drive/max_speed/of/the/robot");
  *m.mutable_change()->add_properties() = RichProperty("/lights/head/brightness/level");
  m.mutable_change()->set_change_set_id(7);
  m.set_compressed_change(std::string(50, 'z'));
  AddUnknownFields(m.mutable_unknown_fields());
  return m;
}

// A different, smaller content for targets that are not empty.
CommandVelocity OtherCommand() {
  CommandVelocity c;
  c.set_linear(1.0f);
  c.mutable_ptz_message()->mutable_move()->set_tilt_target(-5);
  c.mutable_ptz_message()->mutable_calibration()->add_distortion(3.0f);
  c.mutable_ptz_message()->mutable_calibration()->set_camera_serial("OTHER-SERIAL-LONG-ENOUGH-TO-ALLOCATE");
  c.mutable_command_ack()->add_message_ids(1);
  c.mutable_unknown_fields()->AddVarint(200, 1);
  return c;
}

MultiPropertyChanged OtherChangeSet() {
  MultiPropertyChanged m;
  *m.mutable_change()->add_properties() = RichProperty("/other/path/that/is/long/enough");
  m.mutable_unknown_fields()->AddVarint(200, 1);
  return m;
}

// --- Consistency of a message after a failure ------------------------------

// Every singular sub-message reported present is held by the message; a
// missing one would be dereferenced by sizing and writing. Collects the
// paths of those missing.
void FindMissingSubMessages(const pb::Message& m, const std::string& path,
                            std::vector<std::string>* missing) {
  const pb::Reflection* r = m.GetReflection();
  std::vector<const pb::FieldDescriptor*> fields;
  r->ListFields(m, &fields);
  for (const pb::FieldDescriptor* f : fields) {
    if (f->cpp_type() != pb::FieldDescriptor::CPPTYPE_MESSAGE) continue;
    const std::string where = path + "." + f->name();
    if (f->is_repeated()) {
      for (int i = 0; i < r->FieldSize(m, f); ++i) {
        FindMissingSubMessages(r->GetRepeatedMessage(m, f, i), where, missing);
      }
      continue;
    }
    const pb::Message& sub = r->GetMessage(m, f);
    if (&sub == pb::MessageFactory::generated_factory()->GetPrototype(f->message_type())) {
      missing->push_back(where);
    } else {
      FindMissingSubMessages(sub, where, missing);
    }
  }
}

// The strings and groups held by the unknown fields of a message tree.
void CollectUnknownStorage(const pb::UnknownFieldSet& u, std::vector<const void*>* out) {
  for (int i = 0; i < u.field_count(); ++i) {
    const pb::UnknownField& f = u.field(i);
    if (f.type() == pb::UnknownField::TYPE_LENGTH_DELIMITED) {
      out->push_back(&f.length_delimited());
    } else if (f.type() == pb::UnknownField::TYPE_GROUP) {
      out->push_back(&f.group());
      CollectUnknownStorage(f.group(), out);
    }
  }
}

void CollectUnknownStorage(const pb::Message& m, std::vector<const void*>* out) {
  const pb::Reflection* r = m.GetReflection();
  CollectUnknownStorage(r->GetUnknownFields(m), out);
  std::vector<const pb::FieldDescriptor*> fields;
  r->ListFields(m, &fields);
  for (const pb::FieldDescriptor* f : fields) {
    if (f->cpp_type() != pb::FieldDescriptor::CPPTYPE_MESSAGE) continue;
    if (f->is_repeated()) {
      for (int i = 0; i < r->FieldSize(m, f); ++i) {
        CollectUnknownStorage(r->GetRepeatedMessage(m, f, i), out);
      }
    } else if (&r->GetMessage(m, f) !=
               pb::MessageFactory::generated_factory()->GetPrototype(f->message_type())) {
      CollectUnknownStorage(r->GetMessage(m, f), out);
    }
  }
}

// True when `target` holds an unknown string or group that another message,
// `source`, holds too: destroying either would free it under the other.
bool SharesUnknownStorage(const pb::Message& target, const pb::Message& source) {
  std::vector<const void*> theirs, ours;
  CollectUnknownStorage(source, &theirs);
  CollectUnknownStorage(target, &ours);
  for (const void* p : ours) {
    for (const void* q : theirs) {
      if (p == q) return true;
    }
  }
  return false;
}

// Source copies whose unknown-field storage a failed target shared (and has
// freed by now): never destroyed, which would free it again, and kept
// reachable so that no leak checker counts them.
std::vector<pb::Message*>* const g_quarantine = new std::vector<pb::Message*>;

// Creates, once, everything the runtime creates lazily on first use
// (prototypes the reflection walks ask the generated factory for), so that
// it does not count as allocated by an operation.
void WarmUpRuntime() {
  for (const pb::Descriptor* d : {CommandVelocity::descriptor(), MultiPropertyChanged::descriptor(),
                                  PTZCameraParameters::descriptor()}) {
    const pb::FileDescriptor* file = d->file();
    std::vector<const pb::Descriptor*> types;
    for (int i = 0; i < file->message_type_count(); ++i) types.push_back(file->message_type(i));
    for (size_t i = 0; i < types.size(); ++i) {
      pb::MessageFactory::generated_factory()->GetPrototype(types[i]);
      for (int j = 0; j < types[i]->nested_type_count(); ++j) {
        types.push_back(types[i]->nested_type(j));
      }
    }
  }
}

// --- The driver ------------------------------------------------------------

// One operation: it works on `target` (which it may also create), reading
// `source` when it copies or merges from a message. `make` gives a fresh
// target (possibly null); `valid` are bytes of the target's type, for the
// reuse check; `source`, if set, is the message copied from: each trial gets
// its own copy of it, so that a trial that damages it harms no other.
struct Operation {
  std::string name;
  std::function<std::unique_ptr<pb::Message>()> make;
  std::function<void(std::unique_ptr<pb::Message>& target, const pb::Message* source)> run;
  std::string valid;
  const pb::Message* source = nullptr;
};

std::string List(const std::vector<long long>& ns) {
  std::ostringstream out;
  for (size_t i = 0; i < ns.size(); ++i) out << (i ? ", " : "") << ns[i];
  return out.str();
}

std::string Encode(const pb::Message* m) {
  return m == nullptr ? std::string("<none>") : m->SerializeAsString();
}

std::unique_ptr<pb::Message> CopyOf(const pb::Message* m) {
  if (m == nullptr) return nullptr;
  std::unique_ptr<pb::Message> copy(m->New());
  copy->CopyFrom(*m);
  return copy;
}

// Fails allocation N of `op` for N = 1, 2, ... until it completes.
void FailEachAllocation(const Operation& op) {
  SCOPED_TRACE(op.name);
  WarmUpRuntime();
  // Warm up (first-use initialization in the runtime), then count.
  std::string expected;
  {
    std::unique_ptr<pb::Message> target = op.make();
    op.run(target, op.source);
    expected = Encode(target.get());
  }
  long long allocations = 0;
  {
    const long long before = g_alloc.live;
    {
      std::unique_ptr<pb::Message> target = op.make();
      {
        Injection count_only(0);
        op.run(target, op.source);
        allocations = g_alloc.seen;
      }
      EXPECT_EQ(Hex(Encode(target.get())), Hex(expected));
    }
    EXPECT_EQ(g_alloc.live, before) << "the operation leaks without any failure";
  }
  ASSERT_GT(allocations, 0) << "the operation allocates nothing: the test tests nothing";

  // The outcome of each trial is noted only after the live-block count has
  // been compared, so that the bookkeeping itself allocates outside it.
  std::vector<long long> not_thrown, missing_at, size_mismatch, leaked, leaked_after_reuse,
      unusable, shared;
  std::string first_missing;
  for (long long n = 1; n <= allocations + 1; ++n) {
    for (bool reuse : {false, true}) {
      bool threw = false, missing = false, mismatch = false, reusable = true, aliased = false;
      std::string missing_path;
      missing_path.reserve(256);  // filled inside the counted window
      std::unique_ptr<pb::Message> source = CopyOf(op.source);
      const long long before = g_alloc.live;
      {
        std::unique_ptr<pb::Message> target = op.make();
        try {
          Injection fail(n);
          op.run(target, source.get());
        } catch (const std::bad_alloc&) {
          threw = true;
        }
        if (n > allocations) {
          EXPECT_FALSE(threw) << "allocation " << n << " of " << allocations << " failed";
          EXPECT_EQ(Hex(Encode(target.get())), Hex(expected));
        }
        if (target != nullptr) {
          aliased = source != nullptr && SharesUnknownStorage(*target, *source);
          std::vector<std::string> paths;
          FindMissingSubMessages(*target, target->GetDescriptor()->name(), &paths);
          missing = !paths.empty();
          if (missing) {
            missing_path = paths[0];
          } else {
            mismatch = target->ByteSizeLong() != target->SerializePartialAsString().size();
          }
          if (reuse) {
            target->Clear();
            reusable = target->ByteSizeLong() == 0 && target->ParseFromString(op.valid) &&
                       target->SerializeAsString() == op.valid;
          }
        }
      }
      // Fewer live blocks than before: the target freed storage of the
      // source's.
      aliased = aliased || g_alloc.live < before;
      const bool leak = g_alloc.live > before;
      if (aliased) {
        // The source's copy holds storage already freed: never destroyed,
        // kept reachable.
        g_quarantine->push_back(source.release());
      }
      if (n <= allocations && !threw) not_thrown.push_back(n);
      if (leak) (reuse ? leaked_after_reuse : leaked).push_back(n);
      if (!reuse) {
        if (aliased) shared.push_back(n);
        if (missing) missing_at.push_back(n);
        if (missing && first_missing.empty()) first_missing = missing_path;
        if (mismatch) size_mismatch.push_back(n);
      } else if (!reusable) {
        unusable.push_back(n);
      }
    }
  }
  EXPECT_TRUE(not_thrown.empty())
      << "no std::bad_alloc reached the caller when allocation N failed, N = "
      << List(not_thrown);
  EXPECT_TRUE(shared.empty())
      << "after allocation N failed, the target held unknown-field storage of the source's "
         "(destroying both frees it twice), N = "
      << List(shared);
  EXPECT_TRUE(missing_at.empty())
      << "sub-messages reported present but not held (e.g. " << first_missing
      << ") after allocation N of " << allocations << " failed, N = " << List(missing_at);
  EXPECT_TRUE(size_mismatch.empty())
      << "ByteSizeLong() differs from the written size after allocation N failed, N = "
      << List(size_mismatch);
  EXPECT_TRUE(unusable.empty())
      << "Clear() and reparsing did not give the valid message back, N = " << List(unusable);
  EXPECT_TRUE(leaked.empty()) << "blocks leaked after allocation N of " << allocations
                              << " failed and the message was destroyed, N = " << List(leaked);
  EXPECT_TRUE(leaked_after_reuse.empty())
      << "blocks leaked after allocation N of " << allocations
      << " failed and the message was cleared, reused and destroyed, N = "
      << List(leaked_after_reuse);
}

template <class T>
std::function<std::unique_ptr<pb::Message>()> Fresh() {
  return [] { return std::unique_ptr<pb::Message>(new T); };
}

template <class T>
std::function<std::unique_ptr<pb::Message>()> Holding(const T& content) {
  return [content] { return std::unique_ptr<pb::Message>(new T(content)); };
}

std::function<std::unique_ptr<pb::Message>()> Nothing() {
  return [] { return std::unique_ptr<pb::Message>(); };
}

template <class T>
T& As(std::unique_ptr<pb::Message>& target) {
  return *static_cast<T*>(target.get());
}

// --- Decoding --------------------------------------------------------------

TEST(AllocationFailure, Decoding) {
  const std::string command = RichCommand().SerializeAsString();
  const std::string change_set = RichChangeSet().SerializeAsString();
  const std::string calibration = RichCalibration().SerializeAsString();
  const Operation ops[] = {
      {"CommandVelocity parsed into a new message", Fresh<CommandVelocity>(),
       [&](std::unique_ptr<pb::Message>& t, const pb::Message*) { t->ParseFromString(command); }, command},
      {"CommandVelocity parsed over another content", Holding(OtherCommand()),
       [&](std::unique_ptr<pb::Message>& t, const pb::Message*) { t->ParseFromString(command); }, command},
      {"CommandVelocity merged from bytes", Holding(OtherCommand()),
       [&](std::unique_ptr<pb::Message>& t, const pb::Message*) { t->MergeFromString(command); }, command},
      {"MultiPropertyChanged parsed into a new message", Fresh<MultiPropertyChanged>(),
       [&](std::unique_ptr<pb::Message>& t, const pb::Message*) { t->ParseFromString(change_set); }, change_set},
      {"MultiPropertyChanged parsed over another content", Holding(OtherChangeSet()),
       [&](std::unique_ptr<pb::Message>& t, const pb::Message*) { t->ParseFromString(change_set); }, change_set},
      {"PTZCameraParameters parsed into a new message", Fresh<PTZCameraParameters>(),
       [&](std::unique_ptr<pb::Message>& t, const pb::Message*) { t->ParseFromString(calibration); }, calibration},
  };
  for (const Operation& op : ops) FailEachAllocation(op);
}

// --- Merging ---------------------------------------------------------------

template <class T>
const T& Source(const pb::Message* source) {
  return *static_cast<const T*>(source);
}

TEST(AllocationFailure, Merging) {
  const CommandVelocity command = RichCommand();
  const MultiPropertyChanged change_set = RichChangeSet();
  const PTZCameraParameters calibration = RichCalibration();
  const Operation ops[] = {
      {"CommandVelocity::MergeFrom into a new message", Fresh<CommandVelocity>(),
       [](std::unique_ptr<pb::Message>& t, const pb::Message* s) {
         As<CommandVelocity>(t).MergeFrom(Source<CommandVelocity>(s));
       },
       command.SerializeAsString(), &command},
      {"CommandVelocity::MergeFrom into another content", Holding(OtherCommand()),
       [](std::unique_ptr<pb::Message>& t, const pb::Message* s) {
         As<CommandVelocity>(t).MergeFrom(Source<CommandVelocity>(s));
       },
       command.SerializeAsString(), &command},
      {"Message::MergeFrom of a MultiPropertyChanged", Holding(OtherChangeSet()),
       [](std::unique_ptr<pb::Message>& t, const pb::Message* s) { t->MergeFrom(*s); },
       change_set.SerializeAsString(), &change_set},
      {"PTZCameraParameters::MergeFrom", Fresh<PTZCameraParameters>(),
       [](std::unique_ptr<pb::Message>& t, const pb::Message* s) {
         As<PTZCameraParameters>(t).MergeFrom(Source<PTZCameraParameters>(s));
       },
       calibration.SerializeAsString(), &calibration},
  };
  for (const Operation& op : ops) FailEachAllocation(op);
}

// --- Copying ---------------------------------------------------------------

TEST(AllocationFailure, Copying) {
  const CommandVelocity command = RichCommand();
  const MultiPropertyChanged change_set = RichChangeSet();
  const PTZCameraParameters calibration = RichCalibration();
  const Operation ops[] = {
      {"CommandVelocity::CopyFrom over another content", Holding(OtherCommand()),
       [](std::unique_ptr<pb::Message>& t, const pb::Message* s) {
         As<CommandVelocity>(t).CopyFrom(Source<CommandVelocity>(s));
       },
       command.SerializeAsString(), &command},
      {"CommandVelocity assignment over another content", Holding(OtherCommand()),
       [](std::unique_ptr<pb::Message>& t, const pb::Message* s) {
         As<CommandVelocity>(t) = Source<CommandVelocity>(s);
       },
       command.SerializeAsString(), &command},
      {"MultiPropertyChanged::CopyFrom over another content", Holding(OtherChangeSet()),
       [](std::unique_ptr<pb::Message>& t, const pb::Message* s) {
         As<MultiPropertyChanged>(t).CopyFrom(Source<MultiPropertyChanged>(s));
       },
       change_set.SerializeAsString(), &change_set},
      {"CommandVelocity copy constructor", Nothing(),
       [](std::unique_ptr<pb::Message>& t, const pb::Message* s) {
         t.reset(new CommandVelocity(Source<CommandVelocity>(s)));
       },
       command.SerializeAsString(), &command},
      {"MultiPropertyChanged copy constructor", Nothing(),
       [](std::unique_ptr<pb::Message>& t, const pb::Message* s) {
         t.reset(new MultiPropertyChanged(Source<MultiPropertyChanged>(s)));
       },
       change_set.SerializeAsString(), &change_set},
      {"PTZCameraParameters copy constructor", Nothing(),
       [](std::unique_ptr<pb::Message>& t, const pb::Message* s) {
         t.reset(new PTZCameraParameters(Source<PTZCameraParameters>(s)));
       },
       calibration.SerializeAsString(), &calibration},
  };
  for (const Operation& op : ops) FailEachAllocation(op);
}

// --- mutable_ and add_ -----------------------------------------------------

TEST(AllocationFailure, MutableAndAddAccessors) {
  const std::string command = RichCommand().SerializeAsString();
  const std::string change_set = RichChangeSet().SerializeAsString();
  const Operation ops[] = {
      {"CommandVelocity built through mutable_ and add_", Fresh<CommandVelocity>(),
       [](std::unique_ptr<pb::Message>& t, const pb::Message*) {
         CommandVelocity& c = As<CommandVelocity>(t);
         c.mutable_autodocking()->set_dock_id(1);
         PTZMessage* ptz = c.mutable_ptz_message();
         ptz->mutable_move()->set_pan_target(5);
         PTZCameraParameters* calibration = ptz->mutable_calibration();
         for (int i = 0; i < 20; ++i) calibration->add_distortion(0.5f * i);
         *calibration->mutable_camera_serial() = std::string(64, 's');
         c.mutable_command_ack()->add_message_ids(3);
         c.mutable_laser_message()->mutable_point_to()->add_ray_origin(1.0f);
         c.mutable_laser_message()->mutable_status()->add_laser_center(2.0f);
         c.mutable_candy_message()->add_active_slots(BIN1);
       },
       command},
      {"MultiPropertyChanged built through mutable_ and add_", Fresh<MultiPropertyChanged>(),
       [](std::unique_ptr<pb::Message>& t, const pb::Message*) {
         MultiPropertyChanged& m = As<MultiPropertyChanged>(t);
         for (int i = 0; i < 3; ++i) {
           PropertyChanged* p = m.mutable_change()->add_properties();
           *p->mutable_path() = std::string(40, 'p');
           p->set_value(std::string(40, 'v'));
           PropertyChanged_KVPair* pair = p->add_metadata();
           pair->set_key(std::string(40, 'k'));
           *pair->mutable_value() = std::string(40, 'w');
         }
         *m.mutable_compressed_change() = std::string(40, 'z');
       },
       change_set},
      {"PropertyChanged strings handed over with set_allocated_",
       Holding(RichProperty("/a/path/long/enough/to/allocate/its/buffer")),
       [](std::unique_ptr<pb::Message>& t, const pb::Message*) {
         PropertyChanged& p = As<PropertyChanged>(t);
         p.set_allocated_path(new std::string(40, 'p'));
         p.set_allocated_value(new std::string(40, 'v'));
         p.mutable_metadata(0)->set_allocated_key(new std::string(40, 'k'));
       },
       RichProperty("/path").SerializeAsString()},
  };
  for (const Operation& op : ops) FailEachAllocation(op);
}

// New(arena) holds the new object until the arena has taken it: when the
// arena cannot record it, nothing stays allocated.
TEST(AllocationFailure, NewOnAnArena) {
  for (long long n = 1;; ++n) {
    SCOPED_TRACE(n);
    const long long before = g_alloc.live;
    bool threw = false;
    {
      pb::Arena arena;
      try {
        Injection fail(n);
        CommandVelocity::default_instance().New(&arena)->set_linear(1.0f);
      } catch (const std::bad_alloc&) {
        threw = true;
      }
    }
    EXPECT_EQ(g_alloc.live, before);
    if (!threw) break;
  }
}

}  // namespace
