// The libraries start no thread, but callers use them from many at once.
//
// First calls: reflection (descriptors, metadata, enumeration descriptors,
// the generated factory's prototypes) is built lazily by whichever call comes
// first, and only a fresh process has a first call. Each scenario therefore
// re-runs this executable as a child that, before GoogleTest's main, releases
// many threads together, each making its first call a different way, then
// checks that every thread saw the same, consistent objects. Under
// ThreadSanitizer a race in the child fails it too.
//
// Shared use: many threads encode and decode their own messages while reading,
// merging from and copying the shared default instances and one shared const
// message.
//
// Under an emulator, set PROTOLIB_TEST_LAUNCHER to its path so that the child
// runs under it as well. On Windows the child is started with CreateProcess.
#if !defined(_WIN32)
#include <unistd.h>
#endif

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <google/protobuf/descriptor.h>
#include <google/protobuf/message.h>
#include <google/protobuf/util/message_differencer.h>

#include "fuzz/fuzz_types.h"
#include "tests/test_util.h"

#if defined(_WIN32)
#define NOMINMAX
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#undef GetMessage  // the window-message function's name, not Reflection's
#endif

namespace pb = google::protobuf;
using protolib_test::SampleChangeSet;
using protolib_test::SampleCommand;
using tolva::calibration::PTZCameraParameters;

namespace {

constexpr int kThreads = 16;
constexpr const char* kScenarioVariable = "PROTOLIB_THREADS_FIRST_CALLS";

// ThreadSanitizer does not see the (uninstrumented) runtime's function-static
// guards, and reports races inside its generated pool that are not there. Under
// it the runtime's own singletons are made before the threads start; none of
// the libraries' reflection is built by that.
void MakeRuntimeSingletonsFirstUnderThreadSanitizer() {
#if defined(__SANITIZE_THREAD__)
  pb::DescriptorPool::generated_pool();
  pb::MessageFactory::generated_factory();
#endif
}

// Runs body(thread) on kThreads threads released together.
void RunTogether(const std::function<void(int)>& body) {
  std::atomic<int> waiting(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      waiting.fetch_sub(1);
      while (waiting.load() > 0) std::this_thread::yield();
      body(t);
    });
  }
  for (auto& thread : threads) thread.join();
}

struct Class {
  const pb::Descriptor* (*descriptor)();
  const pb::Message& (*default_instance)();
  pb::Metadata (*metadata)();  // of a new message of the class
};

template <class... T>
void Add(protolib_fuzz::TypeList<T...>, std::vector<Class>* out) {
  (out->push_back({&T::descriptor, []() -> const pb::Message& { return T::default_instance(); },
                   [] { return T().GetMetadata(); }}),
   ...);
}

const std::vector<Class>& Classes() {
  static const std::vector<Class>* classes = [] {
    auto* all = new std::vector<Class>;
    Add(protolib_fuzz::CommanderTypes{}, all);
    Add(protolib_fuzz::VelocityTypes{}, all);
    return all;
  }();
  return *classes;
}

std::string Pointer(const void* p) {
  char text[32];
  std::snprintf(text, sizeof text, "%p ", p);
  return text;
}

// The ways in which a thread can make its first reflection call.
enum FirstCall { kDescriptor, kMetadata, kPrototype, kDefault, kEnumOrText, kFirstCalls };

// What a thread sees of every class, after its first call through `how`,
// starting at a class that depends on the thread; and whether what it saw
// agrees with itself.
std::string Look(int how, int thread) {
  const pb::DescriptorPool* pool = pb::DescriptorPool::generated_pool();
  pb::MessageFactory* factory = pb::MessageFactory::generated_factory();
  std::string extra;
  if (how == kEnumOrText) {
    if (thread % 2) CandySlot_descriptor();
    extra = SampleCommand(7).ShortDebugString() + "|" + SampleChangeSet(7).ShortDebugString();
  }
  const std::vector<Class>& classes = Classes();
  std::vector<std::string> rows(classes.size());
  for (size_t k = 0; k < classes.size(); ++k) {
    const size_t j = (k + static_cast<size_t>(thread) * 5) % classes.size();
    const Class& c = classes[j];
    if (how == kMetadata) c.metadata();
    if (how == kDefault) c.default_instance();
    if (how == kPrototype) factory->GetPrototype(pool->FindMessageTypeByName(
                               j % 2 ? "PTZMessage" : "tolva.calibration.PTZCameraParameters"));
    const pb::Descriptor* d = c.descriptor();
    const pb::Message& def = c.default_instance();
    const pb::Metadata metadata = c.metadata();
    std::unique_ptr<pb::Message> made(def.New());
    const bool consistent =
        pool->FindMessageTypeByName(d->full_name()) == d && def.GetDescriptor() == d &&
        metadata.descriptor == d && factory->GetPrototype(d) == &def &&
        made->GetReflection() == def.GetReflection() && metadata.reflection == def.GetReflection();
    rows[j] = d->full_name() + " " + Pointer(d) + Pointer(&def) + Pointer(def.GetReflection()) +
              (consistent ? "\n" : "INCONSISTENT\n");
  }
  std::string seen;
  for (const std::string& row : rows) seen += row;
  // Enumerations and the wiring of defaults across the two libraries.
  PTZMessage ptz;
  const pb::Message& calibration =
      ptz.GetReflection()->GetMessage(ptz, PTZMessage::descriptor()->FindFieldByName("calibration"));
  const bool wired =
      &calibration == &PTZCameraParameters::default_instance() &&
      &CommandVelocity::default_instance().ptz_message().calibration() == &calibration &&
      LaserPointToCommand::descriptor()->FindFieldByName("state_after_moving")->enum_type() ==
          LaserState_descriptor() &&
      LaserState_descriptor()->FindValueByNumber(2)->name() == "UNCHANGED" &&
      CandySlot_descriptor()->FindValueByNumber(1)->name() == "BIN1";
  return seen + Pointer(LaserState_descriptor()) + Pointer(CandySlot_descriptor()) +
         (wired ? "wired" : "NOT WIRED") + (extra.empty() ? "" : "\n" + extra);
}

// The child's work: every thread's first call through `plan` (a single way,
// or each thread its own), then the comparison with what this thread sees
// afterwards. Returns the exit status.
int RunFirstCalls(int plan) {
  MakeRuntimeSingletonsFirstUnderThreadSanitizer();
  auto how = [plan](int t) { return plan < kFirstCalls ? plan : t % kFirstCalls; };
  std::vector<std::string> seen(kThreads);
  RunTogether([&](int t) { seen[t] = Look(how(t), t); });
  int status = 0;
  for (int t = 0; t < kThreads; ++t) {
    const std::string after = Look(how(t), 0);
    if (seen[t] != after || after.find("INCONSISTENT") != std::string::npos ||
        after.find("NOT WIRED") != std::string::npos) {
      std::fprintf(stderr, "thread %d saw:\n%s\nand afterwards:\n%s\n", t, seen[t].c_str(),
                   after.c_str());
      status = 1;
    }
  }
  pb::ShutdownProtobufLibrary();
  return status;
}

// In the child, the scenario runs while the executable initializes, right
// after the libraries' own registration: nothing has asked for reflection yet.
const bool child_ran = [] {
  const char* plan = std::getenv(kScenarioVariable);
  if (plan == nullptr || *plan == '\0') return false;
#if !defined(_WIN32)
  alarm(180);  // a deadlock ends the child
#endif
  std::exit(RunFirstCalls(std::atoi(plan)));
}();

// Runs this executable again with the scenario set. Returns a description of
// any failure; the child's report goes to this process's output.
std::string RunChild(int plan) {
  const std::string scenario = std::to_string(plan);
  std::fflush(nullptr);
#if defined(_WIN32)
  char self[MAX_PATH];
  DWORD length = GetModuleFileNameA(nullptr, self, sizeof(self));
  if (length == 0 || length == sizeof(self)) return "cannot find this executable";
  std::string command = "\"" + std::string(self) + "\"";
  STARTUPINFOA startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION child{};
  // The child inherits the process's environment block, which getenv here
  // does not read back.
  SetEnvironmentVariableA(kScenarioVariable, scenario.c_str());
  const BOOL started = CreateProcessA(self, &command[0], nullptr, nullptr, TRUE, 0, nullptr,
                                      nullptr, &startup, &child);
  SetEnvironmentVariableA(kScenarioVariable, nullptr);
  if (!started) return "CreateProcess failed with error " + std::to_string(GetLastError());
  DWORD status = 1;
  if (WaitForSingleObject(child.hProcess, 3 * 60 * 1000) != WAIT_OBJECT_0) {
    TerminateProcess(child.hProcess, 1);
    WaitForSingleObject(child.hProcess, INFINITE);
  }
  GetExitCodeProcess(child.hProcess, &status);
  CloseHandle(child.hThread);
  CloseHandle(child.hProcess);
  return status == 0 ? "" : "the child ended with status " + std::to_string(status);
#else
  char self[4096];
  const ssize_t length = readlink("/proc/self/exe", self, sizeof(self));
  if (length <= 0) return "cannot find this executable";
  const char* launcher = std::getenv("PROTOLIB_TEST_LAUNCHER");
  const std::string command =
      std::string(launcher ? launcher : "") + " '" + std::string(self, length) + "'";
  setenv(kScenarioVariable, scenario.c_str(), 1);
  const int status = std::system(command.c_str());
  unsetenv(kScenarioVariable);
  return status == 0 ? "" : "the child ended with wait status " + std::to_string(status) +
                                " (under an emulator, set PROTOLIB_TEST_LAUNCHER)";
#endif
}

// One scenario per way of making the first call, and one with all at once;
// each in three fresh processes, for more interleavings.
class FirstCallsFromManyThreads : public testing::TestWithParam<int> {};

TEST_P(FirstCallsFromManyThreads, AllThreadsSeeTheSameReflection) {
  for (int round = 0; round < 3; ++round) EXPECT_EQ(RunChild(GetParam()), "") << round;
}

INSTANTIATE_TEST_SUITE_P(Scenarios, FirstCallsFromManyThreads, testing::Range(0, kFirstCalls + 1));

// Each thread encodes, decodes, merges, copies, swaps and clears its own
// messages while reading the shared default instances and one shared const
// message (whose sizing stores cached sizes).
TEST(SharedDefaults, ManyThreadsUseDistinctAndSharedMessages) {
  CommandVelocity shared_command = SampleCommand(12345);
  const MultiPropertyChanged shared_change = SampleChangeSet(12345);
  shared_command.mutable_laser_message()->mutable_unknown_fields()->AddVarint(99, 5);
  const pb::Message* shared[] = {&shared_command, &shared_change};
  const std::string shared_bytes[] = {shared_command.SerializeAsString(),
                                      shared_change.SerializeAsString()};
  const std::string shared_text = shared_command.ShortDebugString();
  std::mutex mutex;
  std::vector<std::string> problems;
  MakeRuntimeSingletonsFirstUnderThreadSanitizer();
  RunTogether([&](int t) {
    auto check = [&](bool ok, const char* what, int round) {
      if (ok) return;
      std::lock_guard<std::mutex> lock(mutex);
      problems.push_back("thread " + std::to_string(t) + " round " + std::to_string(round) +
                         ": " + what);
    };
    for (int round = 0; round < 60; ++round) {
      const CommandVelocity command = SampleCommand(static_cast<uint32_t>(t * 1000 + round));
      MultiPropertyChanged change = SampleChangeSet(static_cast<uint32_t>(t * 1000 + round));
      const pb::Message* own[] = {&command, &change};
      for (int i = 0; i < 2; ++i) {
        const pb::Message& sent = *own[i];
        const pb::Message& def =
            *sent.GetReflection()->GetMessageFactory()->GetPrototype(sent.GetDescriptor());
        check(def.ByteSizeLong() == 0 && def.SerializeAsString().empty(), "default empty", round);
        const std::string bytes = sent.SerializeAsString();
        std::unique_ptr<pb::Message> received(def.New());
        check(received->ParseFromString(bytes) &&
                  pb::util::MessageDifferencer::Equals(sent, *received) &&
                  received->SerializeAsString() == bytes,
              "round trip", round);
        received->MergeFrom(def);
        check(received->SerializeAsString() == bytes, "merging the default is a no-op", round);
        std::unique_ptr<pb::Message> other(def.New());
        other->CopyFrom(*shared[i]);
        other->GetReflection()->Swap(other.get(), received.get());
        check(other->SerializeAsString() == bytes &&
                  received->SerializeAsString() == shared_bytes[i],
              "swap exchanges", round);
        other->Clear();
        other->MergeFrom(*shared[i]);
        check(other->SerializeAsString() == shared_bytes[i] &&
                  shared[i]->ByteSizeLong() == shared_bytes[i].size() &&
                  shared[i]->SerializeAsString() == shared_bytes[i] && shared[i]->IsInitialized(),
              "the shared message reads the same", round);
      }
      if (round % 10 == t % 10) check(shared_command.ShortDebugString() == shared_text, "text", round);
      change.mutable_change()->mutable_properties(0)->mutable_metadata(0)->clear_value();
      check(!change.IsInitialized(), "missing required value", round);
    }
  });
  EXPECT_TRUE(problems.empty()) << problems.size() << " problems, the first: " << problems[0];
}

}  // namespace
