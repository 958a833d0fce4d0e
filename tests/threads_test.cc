// The libraries under many threads at once.
//
// First calls: reflection (descriptors, metadata, enumeration descriptors,
// the generated factory's prototypes) is built lazily, by whichever call
// comes first. Only a fresh process has such a first call, so each of those
// cases re-runs this executable in a child process that, before GoogleTest's
// main, starts many threads behind one start line, lets every thread make
// its first call at the same moment, checks that all threads saw the same
// objects, and exits non-zero on any disagreement. Under ThreadSanitizer a
// race in the child makes it exit non-zero too (and prints the report).
//
// Shared defaults: many threads encode and decode distinct messages while
// reading, merging from and copying the shared default instances, and write
// one shared const message at once.
//
// If the executable runs under an emulator (for example a 32-bit build
// under qemu on a kernel without 32-bit support), set PROTOLIB_TEST_LAUNCHER
// to the emulator's path so that the child runs under it as well. On
// Windows the child is started with CreateProcess.
#if !defined(_WIN32)
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <google/protobuf/descriptor.h>
#include <google/protobuf/message.h>
#include <google/protobuf/stubs/common.h>
#include <google/protobuf/util/message_differencer.h>

#include "calibration_common/calibration.pb.h"
#include "session/commander_private/commander.pb.h"
#include "session/velocity.pb.h"

#if defined(_WIN32)
#define NOMINMAX
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#undef GetMessage  // the window-message function's name, not Reflection's
#else
extern char** environ;
#endif

namespace pb = google::protobuf;
using tolva::calibration::PTZCameraParameters;

namespace {

constexpr int kThreads = 16;
constexpr const char* kScenarioVariable = "PROTOLIB_THREADS_FIRST_CALLS";

#if defined(__SANITIZE_THREAD__)
constexpr bool kThreadSanitizer = true;
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
constexpr bool kThreadSanitizer = true;
#else
constexpr bool kThreadSanitizer = false;
#endif
#else
constexpr bool kThreadSanitizer = false;
#endif

// ThreadSanitizer sees only instrumented code, and the runtime (the
// system's build) is not. The runtime makes its generated pool, its
// generated factory and its table of well-known types on first use, behind
// function-static guards whose fast path is inlined into the runtime: a
// thread that finds such an object made sees no synchronization with the
// thread that made it, and ThreadSanitizer reports races inside the
// runtime's pool that are not there. Under ThreadSanitizer these runtime
// objects are therefore made before the threads start. That builds none of
// the libraries' reflection: their first calls stay concurrent. Elsewhere
// the threads make the runtime's objects concurrently too.
void MakeRuntimeSingletonsFirstUnderThreadSanitizer() {
  if (!kThreadSanitizer) return;
  pb::DescriptorPool::generated_pool();  // also builds descriptor.proto
  pb::MessageFactory::generated_factory();
}

// Holds every thread until all have arrived, then lets them go together.
class StartLine {
 public:
  explicit StartLine(int threads) : waiting_(threads) {}
  void ArriveAndWait() {
    waiting_.fetch_sub(1);
    while (waiting_.load() > 0) std::this_thread::yield();
  }

 private:
  std::atomic<int> waiting_;
};

// Runs body(thread_index) on kThreads threads started together.
void RunTogether(const std::function<void(int)>& body) {
  StartLine start(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&start, &body, t] {
      start.ArriveAndWait();
      body(t);
    });
  }
  for (auto& thread : threads) thread.join();
}

// Collects disagreements from any thread; reports the first few.
class Problems {
 public:
  void Add(const std::string& what) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (list_.size() < 20) list_.push_back(what);
    ++count_;
  }
  int count() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return count_;
  }
  std::string Text() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::string out;
    for (const auto& p : list_) out += p + "\n";
    return out;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> list_;
  int count_ = 0;
};

// Every message class of the two libraries.
struct ClassEntry {
  const char* full_name;
  const pb::Descriptor* (*descriptor)();
  const pb::Message& (*default_instance)();
  pb::Metadata (*metadata)();  // of a new message of the class
};

template <class T>
ClassEntry Entry(const char* full_name) {
  return {full_name, &T::descriptor,
          []() -> const pb::Message& { return T::default_instance(); },
          []() { return T().GetMetadata(); }};
}

const std::vector<ClassEntry>& Classes() {
  static const std::vector<ClassEntry> classes = {
      Entry<CommandHeader>("CommandHeader"),
      Entry<PropertyChanged_KVPair>("PropertyChanged.KVPair"),
      Entry<PropertyChanged>("PropertyChanged"),
      Entry<MultiPropertyChangedData>("MultiPropertyChangedData"),
      Entry<MultiPropertyChanged>("MultiPropertyChanged"),
      Entry<Ping>("Ping"),
      Entry<AutoDockingRequest>("AutoDockingRequest"),
      Entry<CalibrationRequest>("CalibrationRequest"),
      Entry<PTZMoveCommand>("PTZMoveCommand"),
      Entry<PTZResetCommand>("PTZResetCommand"),
      Entry<PTZFocusCommand>("PTZFocusCommand"),
      Entry<PTZStatus>("PTZStatus"),
      Entry<PTZDataRequest>("PTZDataRequest"),
      Entry<PTZMessage>("PTZMessage"),
      Entry<CommandAck>("CommandAck"),
      Entry<LaserOnCommand>("LaserOnCommand"),
      Entry<LaserPointToCommand>("LaserPointToCommand"),
      Entry<LaserStatus>("LaserStatus"),
      Entry<LaserMessage>("LaserMessage"),
      Entry<CandyMessage>("CandyMessage"),
      Entry<CommandVelocity>("CommandVelocity"),
      Entry<PTZCameraParameters>("tolva.calibration.PTZCameraParameters"),
  };
  return classes;
}

// A command with every branch of the tree filled, distinct per seed.
void FillVelocity(uint32_t seed, CommandVelocity* c) {
  c->set_linear(0.25f * static_cast<float>(seed % 97));
  c->set_angular(-0.5f * static_cast<float>(seed % 13));
  c->set_velocity_limiter_tag(0x0123456789abcdefull ^ seed);
  c->set_allowed_linear_distance(1.5f);
  c->set_send_timestamp_ns(1700000000000000000ull + seed);
  c->mutable_autodocking()->set_dock_id(-static_cast<int32_t>(seed));
  c->mutable_calibration()->set_calibrate_cameras(seed % 2 == 0);
  c->set_override_disabled_driving(true);
  PTZMessage* ptz = c->mutable_ptz_message();
  ptz->set_message_id(seed);
  ptz->mutable_move()->set_pan_target(static_cast<int32_t>(seed) - 5000);
  ptz->mutable_move()->set_tilt_speed(-3);
  ptz->mutable_status()->set_ptz_powered_in_s(seed / 7.0);
  ptz->mutable_status()->set_current_focus(static_cast<int32_t>(seed));
  PTZCameraParameters* calibration = ptz->mutable_calibration();
  calibration->set_focal_length_x(1000.0 + seed);
  calibration->add_distortion(0.125f);
  calibration->add_distortion(-0.0625f * static_cast<float>(seed % 5));
  calibration->set_image_width(1920);
  calibration->set_camera_serial("camera-" + std::to_string(seed));
  for (uint32_t i = 0; i < seed % 6; ++i) c->mutable_command_ack()->add_message_ids(seed + i);
  LaserMessage* laser = c->mutable_laser_message();
  laser->set_message_id(seed * 3);
  laser->mutable_point_to()->add_ray_origin(1.0f);
  laser->mutable_point_to()->add_ray_direction(static_cast<float>(seed));
  laser->mutable_point_to()->set_state_while_moving(seed % 2 ? ON : OFF);
  laser->mutable_point_to()->set_state_after_moving(UNCHANGED);
  c->mutable_candy_message()->add_active_slots(BIN2);
  c->mutable_candy_message()->add_active_slots(static_cast<CandySlot>(seed % 3));
}

void FillChangeSet(uint32_t seed, MultiPropertyChanged* m) {
  MultiPropertyChangedData* data = m->mutable_change();
  data->set_change_set_id(static_cast<int32_t>(seed));
  for (uint32_t i = 0; i < 1 + seed % 4; ++i) {
    PropertyChanged* p = data->add_properties();
    p->set_path("/robot/drive/" + std::to_string(seed) + "/" + std::to_string(i));
    p->set_value(std::string("\0\1\2", 3) + std::to_string(i));
    p->set_last_change_time(seed * 1000ull + i);
    p->set_path_hash(0xdeadbeefu ^ i);
    PropertyChanged_KVPair* kv = p->add_metadata();
    kv->set_key("unit");
    kv->set_value("m/s");
  }
  m->set_compressed_change(std::string(seed % 9, 'z'));
}

// ---------------------------------------------------------------------------
// First calls, in a child process.

// What one thread saw of each class, by class index.
struct Seen {
  std::vector<const pb::Descriptor*> descriptors;
  std::vector<const pb::Reflection*> reflections;
  std::vector<const pb::Message*> prototypes;
  std::vector<const pb::Message*> defaults;
  const pb::EnumDescriptor* laser_state = nullptr;
  const pb::EnumDescriptor* candy_slot = nullptr;
  std::string text;    // the text form of two messages
  std::string access;  // what reflection read and wrote
};

// The ways in which a thread can make its first reflection call.
enum class FirstCall {
  kDescriptor,
  kMetadata,
  kEnums,
  kDefaultInstances,
  kPrototypes,
  kText,
  kReflectionAccess
};

// Calls through `how` for every class, starting at a class that depends on
// the thread, so that the threads hit different files and classes at once.
void MakeFirstCalls(FirstCall how, int thread, Seen* seen) {
  const auto& classes = Classes();
  const size_t n = classes.size();
  seen->descriptors.assign(n, nullptr);
  seen->reflections.assign(n, nullptr);
  seen->prototypes.assign(n, nullptr);
  seen->defaults.assign(n, nullptr);
  const pb::DescriptorPool* pool = pb::DescriptorPool::generated_pool();
  pb::MessageFactory* factory = pb::MessageFactory::generated_factory();
  switch (how) {
    case FirstCall::kDescriptor:
      for (size_t k = 0; k < n; ++k) {
        size_t j = (k + static_cast<size_t>(thread)) % n;
        seen->descriptors[j] = classes[j].descriptor();
      }
      break;
    case FirstCall::kMetadata:
      for (size_t k = 0; k < n; ++k) {
        size_t j = (n - 1 - k + static_cast<size_t>(thread)) % n;
        if (thread % 2 == 0) {
          pb::Metadata metadata = classes[j].metadata();
          seen->descriptors[j] = metadata.descriptor;
          seen->reflections[j] = metadata.reflection;
        } else {
          std::unique_ptr<pb::Message> m(classes[j].default_instance().New());
          seen->reflections[j] = m->GetReflection();
          seen->descriptors[j] = m->GetDescriptor();
        }
      }
      break;
    case FirstCall::kEnums:
      if (thread % 2 == 0) {
        seen->laser_state = LaserState_descriptor();
        seen->candy_slot = CandySlot_descriptor();
      } else {
        seen->candy_slot = CandySlot_descriptor();
        seen->laser_state = LaserState_descriptor();
      }
      break;
    case FirstCall::kDefaultInstances:
      for (size_t k = 0; k < n; ++k) {
        size_t j = (k + static_cast<size_t>(thread) * 3) % n;
        seen->defaults[j] = &classes[j].default_instance();
      }
      // The wiring of the defaults across the two libraries.
      if (&CommandVelocity::default_instance().ptz_message().calibration() !=
          &PTZCameraParameters::default_instance())
        seen->access = "the calibration default is not wired";
      break;
    case FirstCall::kPrototypes:
      for (size_t k = 0; k < n; ++k) {
        size_t j = (k + static_cast<size_t>(thread) * 5) % n;
        const pb::Descriptor* d = pool->FindMessageTypeByName(classes[j].full_name);
        seen->descriptors[j] = d;
        seen->prototypes[j] = d == nullptr ? nullptr : factory->GetPrototype(d);
      }
      break;
    case FirstCall::kText: {
      CommandVelocity c;
      FillVelocity(7, &c);
      seen->text = c.ShortDebugString();
      MultiPropertyChanged m;
      FillChangeSet(7, &m);
      seen->text += "|" + m.ShortDebugString();
      break;
    }
    case FirstCall::kReflectionAccess: {
      // Reads and writes fields by name through reflection, and reads the
      // default of an unset sub-message, which reflection finds through the
      // generated factory.
      PTZMessage ptz;
      const pb::Reflection* r = ptz.GetReflection();
      const pb::Descriptor* d = ptz.GetDescriptor();
      r->SetUInt32(&ptz, d->FindFieldByName("message_id"), 42);
      const pb::Message& calibration =
          r->GetMessage(ptz, d->FindFieldByName("calibration"));
      seen->access = std::to_string(ptz.message_id()) + " " +
                   (&calibration == &PTZCameraParameters::default_instance() ? "default"
                                                                              : "other");
      break;
    }
  }
}

// Checks what every thread saw against each other and against the classes,
// after the threads have finished. Returns the disagreements.
std::string CheckSeen(const std::vector<Seen>& seen) {
  std::string problems;
  auto problem = [&problems](const std::string& what) { problems += what + "\n"; };
  const auto& classes = Classes();
  const pb::DescriptorPool* pool = pb::DescriptorPool::generated_pool();
  pb::MessageFactory* factory = pb::MessageFactory::generated_factory();
  for (size_t j = 0; j < classes.size(); ++j) {
    const ClassEntry& entry = classes[j];
    const pb::Descriptor* d = entry.descriptor();
    const pb::Message& prototype = entry.default_instance();
    if (d == nullptr) {
      problem(std::string(entry.full_name) + ": no descriptor");
      continue;
    }
    if (d->full_name() != entry.full_name) problem(d->full_name() + " for " + entry.full_name);
    if (pool->FindMessageTypeByName(entry.full_name) != d)
      problem(std::string(entry.full_name) + ": pool has another descriptor");
    if (factory->GetPrototype(d) != &prototype)
      problem(std::string(entry.full_name) + ": the factory's prototype is not the default");
    if (prototype.GetDescriptor() != d)
      problem(std::string(entry.full_name) + ": the default's descriptor differs");
    for (size_t t = 0; t < seen.size(); ++t) {
      const std::string who = "thread " + std::to_string(t) + ", " + entry.full_name;
      if (!seen[t].descriptors.empty() && seen[t].descriptors[j] != nullptr &&
          seen[t].descriptors[j] != d)
        problem(who + ": another descriptor");
      if (!seen[t].reflections.empty() && seen[t].reflections[j] != nullptr &&
          seen[t].reflections[j] != prototype.GetReflection())
        problem(who + ": another reflection");
      if (!seen[t].prototypes.empty() && seen[t].prototypes[j] != nullptr &&
          seen[t].prototypes[j] != &prototype)
        problem(who + ": another prototype");
      if (!seen[t].defaults.empty() && seen[t].defaults[j] != nullptr &&
          seen[t].defaults[j] != &prototype)
        problem(who + ": another default instance");
    }
  }
  const pb::EnumDescriptor* laser = LaserState_descriptor();
  const pb::EnumDescriptor* candy = CandySlot_descriptor();
  if (laser == nullptr || laser->full_name() != "LaserState" || laser->value_count() != 3 ||
      laser->FindValueByNumber(2) == nullptr || laser->FindValueByNumber(2)->name() != "UNCHANGED")
    problem("LaserState descriptor wrong");
  if (candy == nullptr || candy->full_name() != "CandySlot" || candy->value_count() != 3 ||
      candy->FindValueByNumber(1) == nullptr || candy->FindValueByNumber(1)->name() != "BIN1")
    problem("CandySlot descriptor wrong");
  if (laser != nullptr &&
      LaserPointToCommand::descriptor()->FindFieldByName("state_after_moving")->enum_type() !=
          laser)
    problem("the field's LaserState is another descriptor");
  if (PTZMessage::descriptor()->FindFieldByName("calibration")->message_type() !=
      PTZCameraParameters::descriptor())
    problem("PTZMessage.calibration names another PTZCameraParameters descriptor");
  std::string text;
  for (size_t t = 0; t < seen.size(); ++t) {
    if (seen[t].laser_state != nullptr && seen[t].laser_state != laser)
      problem("thread " + std::to_string(t) + ": another LaserState descriptor");
    if (seen[t].candy_slot != nullptr && seen[t].candy_slot != candy)
      problem("thread " + std::to_string(t) + ": another CandySlot descriptor");
    if (!seen[t].text.empty()) {
      if (text.empty()) text = seen[t].text;
      if (seen[t].text != text)
        problem("thread " + std::to_string(t) + " wrote \"" + seen[t].text + "\", another \"" +
                text + "\"");
    }
    if (!seen[t].access.empty() && seen[t].access != "42 default")
      problem("thread " + std::to_string(t) + ": reflection access saw \"" + seen[t].access +
              "\"");
  }
  if (!text.empty()) {
    CommandVelocity c;
    FillVelocity(7, &c);
    MultiPropertyChanged m;
    FillChangeSet(7, &m);
    if (text != c.ShortDebugString() + "|" + m.ShortDebugString())
      problem("the threads' text differs from the text written after them");
  }
  return problems;
}

// The child's work for one scenario: the first calls from every thread at
// once, then the checks. Returns the process's exit code.
int RunFirstCallScenario(const std::string& scenario) {
  std::vector<FirstCall> plan;
  if (scenario == "descriptor") {
    plan = {FirstCall::kDescriptor};
  } else if (scenario == "metadata") {
    plan = {FirstCall::kMetadata};
  } else if (scenario == "enums") {
    plan = {FirstCall::kEnums, FirstCall::kDescriptor};
  } else if (scenario == "prototypes") {
    plan = {FirstCall::kPrototypes, FirstCall::kDefaultInstances};
  } else if (scenario == "text") {
    plan = {FirstCall::kText, FirstCall::kReflectionAccess};
  } else if (scenario == "mixed") {
    plan = {FirstCall::kDescriptor,       FirstCall::kMetadata, FirstCall::kEnums,
            FirstCall::kDefaultInstances, FirstCall::kPrototypes, FirstCall::kText,
            FirstCall::kReflectionAccess};
  } else {
    std::fprintf(stderr, "unknown first-call scenario %s\n", scenario.c_str());
    return 2;
  }
  MakeRuntimeSingletonsFirstUnderThreadSanitizer();
  std::vector<Seen> seen(kThreads);
  RunTogether([&](int t) { MakeFirstCalls(plan[t % plan.size()], t, &seen[t]); });
  std::string problems = CheckSeen(seen);
  pb::ShutdownProtobufLibrary();
  if (!problems.empty()) {
    std::fprintf(stderr, "first calls (%s) from %d threads:\n%s", scenario.c_str(), kThreads,
                 problems.c_str());
    return 1;
  }
  return 0;
}

// In the child, the scenario runs while the executable initializes, before
// GoogleTest's main, right after the libraries' own load-time registration:
// nothing has asked for reflection yet.
const bool child_ran = [] {
  const char* scenario = std::getenv(kScenarioVariable);
  if (scenario == nullptr || *scenario == '\0') return false;
  std::exit(RunFirstCallScenario(scenario));
}();

// Runs this executable again with the scenario set; the child's output goes
// to this process's output. Returns a description of any failure.
#if defined(_WIN32)
std::string RunChild(const std::string& scenario) {
  char self[MAX_PATH];
  DWORD length = GetModuleFileNameA(nullptr, self, sizeof(self));
  if (length == 0 || length == sizeof(self)) return "cannot find this executable";
  std::string command = "\"" + std::string(self) + "\"";
  STARTUPINFOA startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION child{};
  std::fflush(nullptr);
  // The child inherits this process's environment block, which the C
  // runtime's getenv here does not read back.
  SetEnvironmentVariableA(kScenarioVariable, scenario.c_str());
  const BOOL started = CreateProcessA(self, &command[0], nullptr, nullptr, TRUE, 0, nullptr,
                                      nullptr, &startup, &child);
  const DWORD start_error = GetLastError();
  SetEnvironmentVariableA(kScenarioVariable, nullptr);
  if (!started) return "CreateProcess failed with error " + std::to_string(start_error);
  std::string failure;
  if (WaitForSingleObject(child.hProcess, 3 * 60 * 1000) != WAIT_OBJECT_0) {
    TerminateProcess(child.hProcess, 1);
    WaitForSingleObject(child.hProcess, INFINITE);
    failure = "the child did not finish in 3 minutes (deadlock?)";
  } else {
    DWORD status = 1;
    GetExitCodeProcess(child.hProcess, &status);
    if (status != 0)
      failure = "the child exited with status " + std::to_string(status) + " (its report is above)";
  }
  CloseHandle(child.hThread);
  CloseHandle(child.hProcess);
  return failure;
}
#else
std::string RunChild(const std::string& scenario) {
  char self[4096];
  ssize_t length = readlink("/proc/self/exe", self, sizeof(self) - 1);
  if (length <= 0) return "cannot find this executable: " + std::string(std::strerror(errno));
  self[length] = '\0';

  std::vector<std::string> args;
  if (const char* launcher = std::getenv("PROTOLIB_TEST_LAUNCHER")) {
    if (*launcher != '\0') args.push_back(launcher);
  }
  args.push_back(self);
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(&a[0]);
  argv.push_back(nullptr);

  std::string assignment = std::string(kScenarioVariable) + "=" + scenario;
  std::vector<char*> envp;
  for (char** e = environ; *e != nullptr; ++e) {
    if (std::strncmp(*e, kScenarioVariable, std::strlen(kScenarioVariable)) != 0)
      envp.push_back(*e);
  }
  envp.push_back(&assignment[0]);
  envp.push_back(nullptr);

  std::fflush(nullptr);
  pid_t child = fork();
  if (child < 0) return "fork failed: " + std::string(std::strerror(errno));
  if (child == 0) {
    execve(argv[0], argv.data(), envp.data());
    _exit(127);
  }
  // A child that deadlocks is a failure too; give it ample time.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(3);
  int status = 0;
  for (;;) {
    pid_t done = waitpid(child, &status, WNOHANG);
    if (done == child) break;
    if (done < 0 && errno != EINTR) return "waitpid failed: " + std::string(std::strerror(errno));
    if (std::chrono::steady_clock::now() > deadline) {
      kill(child, SIGKILL);
      waitpid(child, &status, 0);
      return "the child did not finish in 3 minutes (deadlock?)";
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return "";
  if (WIFEXITED(status) && WEXITSTATUS(status) == 127)
    return "the child could not be started (under an emulator, set PROTOLIB_TEST_LAUNCHER)";
  if (WIFEXITED(status))
    return "the child exited with status " + std::to_string(WEXITSTATUS(status)) +
           " (its report is above)";
  return "the child died of signal " + std::to_string(WTERMSIG(status));
}
#endif

class FirstCallsFromManyThreads : public testing::TestWithParam<const char*> {};

// Each scenario runs in three fresh processes, for more interleavings.
TEST_P(FirstCallsFromManyThreads, AllThreadsSeeTheSameReflection) {
  for (int round = 0; round < 3; ++round) {
    std::string failure = RunChild(GetParam());
    ASSERT_EQ(failure, "") << "scenario " << GetParam() << ", round " << round;
  }
}

INSTANTIATE_TEST_SUITE_P(Scenarios, FirstCallsFromManyThreads,
                         testing::Values("descriptor", "metadata", "enums", "prototypes", "text",
                                         "mixed"),
                         [](const testing::TestParamInfo<const char*>& info) {
                           return std::string(info.param);
                         });

// ---------------------------------------------------------------------------
// Shared default instances under concurrent use, in this process.

// Each thread encodes and decodes its own messages, reading the shared
// default instances through unset fields, merging from and copying them,
// and creating messages from them.
TEST(SharedDefaults, ManyThreadsEncodeAndDecodeDistinctMessages) {
  constexpr int kRounds = 60;
  Problems problems;
  const PTZCameraParameters* calibration_default = &PTZCameraParameters::default_instance();
  MakeRuntimeSingletonsFirstUnderThreadSanitizer();
  RunTogether([&](int t) {
    auto check = [&](bool ok, const char* what, int round) {
      if (!ok)
        problems.Add("thread " + std::to_string(t) + " round " + std::to_string(round) + ": " +
                     what);
    };
    for (int round = 0; round < kRounds; ++round) {
      const uint32_t seed = static_cast<uint32_t>(t * 1000 + round);

      // The shared defaults, through the default instances and unset fields.
      const PTZCameraParameters& shared =
          CommandVelocity::default_instance().ptz_message().calibration();
      check(&shared == calibration_default, "default calibration is the calibration default",
            round);
      check(!shared.has_camera_serial() && shared.camera_serial().empty() &&
                shared.distortion_size() == 0 && shared.image_width() == 0,
            "default calibration is empty", round);
      check(CommandVelocity::default_instance().ByteSizeLong() == 0, "default size 0", round);
      check(CommandVelocity::default_instance().SerializeAsString().empty(),
            "default writes nothing", round);

      // Encode, decode, compare.
      CommandVelocity sent;
      FillVelocity(seed, &sent);
      const std::string bytes = sent.SerializeAsString();
      CommandVelocity received;
      check(received.ParseFromString(bytes), "parses", round);
      check(pb::util::MessageDifferencer::Equals(sent, received), "decoded equals sent", round);
      check(received.ptz_message().calibration().camera_serial() ==
                "camera-" + std::to_string(seed),
            "serial survives", round);
      check(received.send_timestamp_ns() == 1700000000000000000ull + seed, "timestamp survives",
            round);
      check(received.SerializeAsString() == bytes, "re-encodes to the same bytes", round);

      // Merging from and copying the defaults changes nothing.
      received.MergeFrom(CommandVelocity::default_instance());
      received.mutable_ptz_message()->MergeFrom(PTZMessage::default_instance());
      received.mutable_ptz_message()->mutable_calibration()->MergeFrom(
          CommandVelocity::default_instance().ptz_message().calibration());
      check(received.SerializeAsString() == bytes, "merging defaults is a no-op", round);
      PTZMessage ptz;
      ptz.CopyFrom(CommandVelocity::default_instance().ptz_message());
      check(ptz.ByteSizeLong() == 0 && !ptz.has_calibration() &&
                &ptz.calibration() == calibration_default,
            "a copy of the default is empty", round);

      // Messages made by the defaults, parsing over an older value.
      std::unique_ptr<pb::Message> made(CommandVelocity::default_instance().New());
      check(made->GetDescriptor() == CommandVelocity::descriptor(), "New() has the class",
            round);
      check(made->ParseFromString(bytes) && made->SerializeAsString() == bytes,
            "New() message round trip", round);
      CommandVelocity other;
      FillVelocity(seed + 1, &other);
      other.Swap(&received);
      check(other.SerializeAsString() == bytes, "swap moves the values", round);
      other.Clear();
      check(other.ByteSizeLong() == 0 && !other.has_ptz_message() &&
                other.ptz_message().calibration().camera_serial().empty(),
            "clear empties", round);
      check(other.ParseFromString(bytes) && other.SerializeAsString() == bytes,
            "a cleared message parses again", round);

      // Out-of-range enumerations are unknown fields of the thread's own
      // message: field 3 of LaserPointToCommand = 7.
      LaserPointToCommand point;
      const std::string with_unknown("\x18\x07\x20\x01", 4);
      check(point.ParseFromString(with_unknown) && !point.has_state_while_moving() &&
                point.state_after_moving() == ON && point.unknown_fields().field_count() == 1,
            "unknown enumeration kept apart", round);
      check(point.SerializeAsString() == std::string("\x20\x01\x18\x07", 4),
            "unknown enumeration written last", round);

      // The commander file, with its required fields.
      MultiPropertyChanged change;
      FillChangeSet(seed, &change);
      const std::string change_bytes = change.SerializeAsString();
      MultiPropertyChanged change_back;
      check(change_back.ParseFromString(change_bytes) &&
                pb::util::MessageDifferencer::Equals(change, change_back),
            "change set round trip", round);
      change.mutable_change()->mutable_properties(0)->mutable_metadata(0)->clear_value();
      check(!change.IsInitialized(), "missing required value", round);
      MultiPropertyChanged partial;
      check(partial.ParsePartialFromString(change.SerializePartialAsString()) &&
                !partial.IsInitialized(),
            "a parsed message misses the required value too", round);
    }
  });
  EXPECT_EQ(problems.count(), 0) << problems.Text();
}

// Const operations on one shared message from every thread: sizing (which
// stores cached sizes), writing, text and comparisons.
TEST(SharedDefaults, ManyThreadsWriteOneConstMessage) {
  CommandVelocity message;
  FillVelocity(12345, &message);
  // Unknown fields travel along.
  message.mutable_laser_message()->mutable_point_to()->mutable_unknown_fields()->AddVarint(99,
                                                                                            5);
  const CommandVelocity& shared = message;
  const std::string bytes = shared.SerializeAsString();
  const std::string text = shared.ShortDebugString();
  Problems problems;
  RunTogether([&](int t) {
    for (int round = 0; round < 100; ++round) {
      bool ok = shared.ByteSizeLong() == bytes.size() && shared.SerializeAsString() == bytes &&
                shared.IsInitialized();
      if (round % 10 == t % 10) ok = ok && shared.ShortDebugString() == text;
      CommandVelocity copy(shared);
      ok = ok && pb::util::MessageDifferencer::Equals(copy, shared) &&
           copy.SerializeAsString() == bytes;
      CommandVelocity merged;
      merged.MergeFrom(shared);
      ok = ok && merged.SerializeAsString() == bytes;
      if (!ok) problems.Add("thread " + std::to_string(t) + " round " + std::to_string(round));
    }
  });
  EXPECT_EQ(problems.count(), 0) << problems.Text();
}

}  // namespace
