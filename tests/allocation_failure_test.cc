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
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <map>
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

#include "tests/test_util.h"

// --- The counting allocator ------------------------------------------------

namespace {

struct AllocatorState {
  long long live;     // blocks handed out and not yet freed
  long long seen;     // allocations since the injection was armed
  long long fail_at;  // the allocation to fail (1-based); 0: none
  bool armed;
};

AllocatorState g_alloc;  // zero-initialized before any allocation

void* Allocate(std::size_t size, std::size_t alignment, bool nothrow) {
  void* p = nullptr;
  if (!g_alloc.armed || ++g_alloc.seen != g_alloc.fail_at) {
    if (alignment <= alignof(std::max_align_t)) {
      p = std::malloc(size ? size : 1);
    } else if (posix_memalign(&p, alignment, size ? size : 1) != 0) {
      p = nullptr;
    }
  }
  if (p == nullptr && nothrow) return nullptr;
  if (p == nullptr) throw std::bad_alloc();
  ++g_alloc.live;
  return p;
}

void Free(void* p) noexcept {
  if (p != nullptr) --g_alloc.live;
  std::free(p);
}

}  // namespace

// Every form of operator new and delete, plain and array.
#define PROTOLIB_NEW(throws, alignment, ...)                                   \
  void* operator new(__VA_ARGS__) noexcept(!throws) {                          \
    return Allocate(n, alignment, !throws);                                    \
  }                                                                            \
  void* operator new[](__VA_ARGS__) noexcept(!throws) { return Allocate(n, alignment, !throws); }
PROTOLIB_NEW(true, 0, std::size_t n)
PROTOLIB_NEW(false, 0, std::size_t n, const std::nothrow_t&)
PROTOLIB_NEW(true, static_cast<std::size_t>(a), std::size_t n, std::align_val_t a)
PROTOLIB_NEW(false, static_cast<std::size_t>(a), std::size_t n, std::align_val_t a, const std::nothrow_t&)
#define PROTOLIB_DELETE(...)                                  \
  void operator delete(__VA_ARGS__) noexcept { Free(p); } \
  void operator delete[](__VA_ARGS__) noexcept { Free(p); }
PROTOLIB_DELETE(void* p)
PROTOLIB_DELETE(void* p, std::size_t)
PROTOLIB_DELETE(void* p, const std::nothrow_t&)
PROTOLIB_DELETE(void* p, std::align_val_t)
PROTOLIB_DELETE(void* p, std::size_t, std::align_val_t)
PROTOLIB_DELETE(void* p, std::align_val_t, const std::nothrow_t&)

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
    g_alloc.armed = true;
  }
  ~Injection() { g_alloc.armed = false; }
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

// The samples with unknown fields at every level that has them.
CommandVelocity RichCommand() {
  CommandVelocity c = protolib_test::SampleCommand();
  AddUnknownFields(c.mutable_unknown_fields());
  AddUnknownFields(c.mutable_ptz_message()->mutable_calibration()->mutable_unknown_fields());
  // An undeclared slot: kept among the candy message's unknown fields.
  c.mutable_candy_message()->mutable_unknown_fields()->AddVarint(2, 9);
  return c;
}

PTZCameraParameters RichCalibration() { return RichCommand().ptz_message().calibration(); }

MultiPropertyChanged RichChangeSet() {
  MultiPropertyChanged m = protolib_test::SampleChangeSet();
  AddUnknownFields(m.mutable_unknown_fields());
  AddUnknownFields(m.mutable_change()->mutable_properties(1)->mutable_unknown_fields());
  return m;
}

// --- Consistency of a message after a failure ------------------------------

const pb::Message* Prototype(const pb::FieldDescriptor* f) {
  return pb::MessageFactory::generated_factory()->GetPrototype(f->message_type());
}

// Walks the message tree: collects the paths of singular sub-messages reported
// present but not held (sizing and writing would dereference them), and the
// strings and groups held by unknown fields.
void Walk(const pb::UnknownFieldSet& u, std::vector<const void*>* storage) {
  for (int i = 0; i < u.field_count(); ++i) {
    const pb::UnknownField& f = u.field(i);
    if (f.type() == pb::UnknownField::TYPE_LENGTH_DELIMITED) storage->push_back(&f.length_delimited());
    if (f.type() == pb::UnknownField::TYPE_GROUP) {
      storage->push_back(&f.group());
      Walk(f.group(), storage);
    }
  }
}

void Walk(const pb::Message& m, const std::string& path, std::vector<std::string>* missing,
          std::vector<const void*>* storage) {
  const pb::Reflection* r = m.GetReflection();
  Walk(r->GetUnknownFields(m), storage);
  std::vector<const pb::FieldDescriptor*> fields;
  r->ListFields(m, &fields);
  for (const pb::FieldDescriptor* f : fields) {
    if (f->cpp_type() != pb::FieldDescriptor::CPPTYPE_MESSAGE) continue;
    const std::string where = path + "." + f->name();
    if (f->is_repeated()) {
      for (int i = 0; i < r->FieldSize(m, f); ++i)
        Walk(r->GetRepeatedMessage(m, f, i), where, missing, storage);
    } else if (&r->GetMessage(m, f) == Prototype(f)) {
      missing->push_back(where);
    } else {
      Walk(r->GetMessage(m, f), where, missing, storage);
    }
  }
}

// Source copies whose unknown-field storage a failed target shared (and has
// freed by now): never destroyed, which would free it again, and kept
// reachable so that no leak checker counts them.
std::vector<pb::Message*>* const g_quarantine = new std::vector<pb::Message*>;

// --- The driver ------------------------------------------------------------

// One operation: it works on `target` (which it may also create), reading
// `source` when it copies or merges from a message. `make` gives a fresh
// target (possibly null); `valid` are bytes of the target's type, for the
// reuse check; `source`, if set, is the message copied from: each trial gets
// its own copy of it, so that a trial that damages it harms no other.
using Target = std::unique_ptr<pb::Message>;
struct Operation {
  std::string name;
  std::function<Target()> make;
  std::function<void(Target& target, const pb::Message* source)> run;
  std::string valid;
  const pb::Message* source = nullptr;
};

std::string Encode(const pb::Message* m) {
  return m == nullptr ? std::string("<none>") : m->SerializeAsString();
}

Target CopyOf(const pb::Message* m) {
  if (m == nullptr) return nullptr;
  Target copy(m->New());
  copy->CopyFrom(*m);
  return copy;
}

// Fails allocation N of `op` for N = 1, 2, ... until it completes.
void FailEachAllocation(const Operation& op) {
  SCOPED_TRACE(op.name);
  // Warm up (first-use initialization in the runtime, the prototypes that
  // the walks ask for), then count.
  std::string expected;
  {
    Target target = op.make();
    op.run(target, op.source);
    expected = Encode(target.get());
    std::vector<std::string> missing;
    std::vector<const void*> storage;
    if (target != nullptr) Walk(*target, "", &missing, &storage);
  }
  long long allocations = 0;
  {
    const long long before = g_alloc.live;
    {
      Target target = op.make();
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

  // Each fault found, with the allocations N whose failure showed it. They
  // are noted only after the live-block count has been compared, so that the
  // bookkeeping allocates outside it.
  std::map<std::string, std::vector<long long>> faults;
  for (long long n = 1; n <= allocations + 1; ++n) {
    for (bool reuse : {false, true}) {
      bool threw = false, reusable = true, aliased = false;
      std::string missing_path;
      missing_path.reserve(256);  // filled inside the counted window
      std::vector<std::string> none;
      std::vector<const void*> theirs, ours;
      ours.reserve(256);  // filled inside the counted window
      Target source = CopyOf(op.source);
      if (source != nullptr) Walk(*source, "", &none, &theirs);
      size_t sized = 0, written = 0;
      const long long before = g_alloc.live;
      {
        Target target = op.make();
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
          std::vector<std::string> paths;
          Walk(*target, target->GetDescriptor()->name(), &paths, &ours);
          if (!paths.empty()) missing_path = paths[0];
          if (paths.empty()) {
            sized = target->ByteSizeLong();
            written = target->SerializePartialAsString().size();
          }
          if (reuse) {
            target->Clear();
            reusable = target->ByteSizeLong() == 0 && target->ParseFromString(op.valid) &&
                       target->SerializeAsString() == op.valid;
          }
        }
      }
      for (const void* p : ours)
        aliased = aliased || std::find(theirs.begin(), theirs.end(), p) != theirs.end();
      // Fewer live blocks than before: the target freed storage of the source's.
      aliased = aliased || g_alloc.live < before;
      const bool leak = g_alloc.live > before;
      // The source's copy holds storage already freed: never destroyed.
      if (aliased) g_quarantine->push_back(source.release());
      if (n <= allocations && !threw) faults["no std::bad_alloc reached the caller"].push_back(n);
      if (leak) faults[reuse ? "blocks leaked after reuse" : "blocks leaked"].push_back(n);
      if (reuse) {
        if (!reusable) faults["Clear() and reparsing did not give the valid message"].push_back(n);
        continue;
      }
      if (aliased) faults["the target held unknown-field storage of the source's"].push_back(n);
      if (!missing_path.empty())
        faults["sub-messages present but not held, e.g. " + missing_path].push_back(n);
      if (sized != written) faults["ByteSizeLong() differs from the written size"].push_back(n);
    }
  }
  for (const auto& fault : faults) {
    std::ostringstream ns;
    for (long long n : fault.second) ns << n << " ";
    ADD_FAILURE() << fault.first << ", when allocation N of " << allocations
                  << " failed: N = " << ns.str();
  }
}

template <class T>
std::function<Target()> Holding(const T& content) {
  return [content] { return Target(new T(content)); };
}

template <class T>
T& As(Target& target) {
  return *static_cast<T*>(target.get());
}
template <class T>
const T& As(const pb::Message* source) {
  return *static_cast<const T*>(source);
}

// Decoding, merging and copying, into a new message and over other content.
template <class T>
void EveryOperationOn(const T& rich, const T& other) {
  const std::string bytes = rich.SerializeAsString();
  const std::string name = T::descriptor()->name() + " ";
  const Operation ops[] = {
      {"parsed into a new message", Holding(T()),
       [&](Target& t, const pb::Message*) { t->ParseFromString(bytes); }, bytes},
      {"parsed over another content", Holding(other),
       [&](Target& t, const pb::Message*) { t->ParseFromString(bytes); }, bytes},
      {"merged from bytes", Holding(other),
       [&](Target& t, const pb::Message*) { t->MergeFromString(bytes); }, bytes},
      {"MergeFrom into a new message", Holding(T()),
       [](Target& t, const pb::Message* s) { As<T>(t).MergeFrom(As<T>(s)); }, bytes, &rich},
      {"MergeFrom into another content", Holding(other),
       [](Target& t, const pb::Message* s) { As<T>(t).MergeFrom(As<T>(s)); }, bytes, &rich},
      {"Message::MergeFrom", Holding(other),
       [](Target& t, const pb::Message* s) { t->MergeFrom(*s); }, bytes, &rich},
      {"CopyFrom over another content", Holding(other),
       [](Target& t, const pb::Message* s) { As<T>(t).CopyFrom(As<T>(s)); }, bytes, &rich},
      {"assigned over another content", Holding(other),
       [](Target& t, const pb::Message* s) { As<T>(t) = As<T>(s); }, bytes, &rich},
      {"copy-constructed", [] { return Target(); },
       [](Target& t, const pb::Message* s) { t.reset(new T(As<T>(s))); }, bytes, &rich},
  };
  for (Operation op : ops) {
    op.name = name + op.name;
    FailEachAllocation(op);
  }
}

TEST(AllocationFailure, DecodingMergingAndCopying) {
  EveryOperationOn(RichCommand(), protolib_test::SampleCommand(3));
  EveryOperationOn(RichChangeSet(), protolib_test::SampleChangeSet(1));
  EveryOperationOn(RichCalibration(), protolib_test::SampleCommand(3).ptz_message().calibration());
}

TEST(AllocationFailure, MutableAndAddAccessors) {
  const Operation ops[] = {
      {"CommandVelocity built through mutable_ and add_", Holding(CommandVelocity()),
       [](Target& t, const pb::Message*) {
         CommandVelocity& c = As<CommandVelocity>(t);
         c.mutable_autodocking()->set_dock_id(1);
         PTZCameraParameters* calibration = c.mutable_ptz_message()->mutable_calibration();
         for (int i = 0; i < 20; ++i) calibration->add_distortion(0.5f * i);
         *calibration->mutable_camera_serial() = std::string(64, 's');
         c.mutable_command_ack()->add_message_ids(3);
         c.mutable_laser_message()->mutable_point_to()->add_ray_origin(1.0f);
         c.mutable_candy_message()->add_active_slots(BIN1);
       },
       RichCommand().SerializeAsString()},
      {"MultiPropertyChanged built through mutable_ and add_", Holding(MultiPropertyChanged()),
       [](Target& t, const pb::Message*) {
         MultiPropertyChanged& m = As<MultiPropertyChanged>(t);
         for (int i = 0; i < 3; ++i) {
           PropertyChanged* p = m.mutable_change()->add_properties();
           *p->mutable_path() = std::string(40, 'p');
           PropertyChanged_KVPair* pair = p->add_metadata();
           pair->set_key(std::string(40, 'k'));
           *pair->mutable_value() = std::string(40, 'w');
         }
         *m.mutable_compressed_change() = std::string(40, 'z');
       },
       RichChangeSet().SerializeAsString()},
      {"PropertyChanged strings handed over with set_allocated_",
       Holding(RichChangeSet().change().properties(1)),
       [](Target& t, const pb::Message*) {
         PropertyChanged& p = As<PropertyChanged>(t);
         p.set_allocated_path(new std::string(40, 'p'));
         p.set_allocated_value(new std::string(40, 'v'));
         p.mutable_metadata(0)->set_allocated_key(new std::string(40, 'k'));
       },
       RichChangeSet().change().properties(0).SerializeAsString()},
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
