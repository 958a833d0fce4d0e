// Differential tests of every message class against an independent oracle:
// the runtime's DynamicMessage built from the same schema. The class and the
// oracle are driven through reflection with the same random edits, or fed the
// same (often malformed) bytes, and must then write the same bytes through
// every writer, agree on parse outcomes and on initialization, and merge and
// copy alike.
//
// The oracle uses the descriptors the libraries register; that they are the
// schema files' own is checked where registration is.
//
// Every case derives its random source from a fixed seed, the type, the test
// and the case number, so a reported case replays exactly.
#include <gtest/gtest.h>

#include <google/protobuf/descriptor.h>
#include <google/protobuf/dynamic_message.h>
#include <google/protobuf/message.h>
#include <google/protobuf/stubs/logging.h>
#include <google/protobuf/unknown_field_set.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "tests/differential.h"
#include "tests/schema/extremes.pb.h"

namespace {

namespace pb = ::google::protobuf;
using pb::Descriptor;
using pb::FieldDescriptor;
using pb::Message;
using pb::Reflection;
using pb::UnknownFieldSet;
using protolib_test::Fnv;
using protolib_test::StreamBytes;
using protolib_test::Tag;
using protolib_test::Varint;

// Every message type of the three schema files and of the tests' schema at
// the core's extremes, nested ones included. A class of each file is asked
// for first, which registers the files.
void CollectTypes(const Descriptor* type, std::vector<std::string>* names) {
  names->push_back(type->full_name());
  for (int i = 0; i < type->nested_type_count(); ++i) CollectTypes(type->nested_type(i), names);
}

std::vector<std::string> TypesOfSchemaFiles() {
  std::vector<std::string> names;
  for (const Message* m : {static_cast<const Message*>(&Ping::default_instance()),
                           static_cast<const Message*>(&CommandVelocity::default_instance()),
                           static_cast<const Message*>(
                               &tolva::calibration::PTZCameraParameters::default_instance()),
                           static_cast<const Message*>(&extremes::Extremes::default_instance())}) {
    const pb::FileDescriptor* file = m->GetDescriptor()->file();
    for (int i = 0; i < file->message_type_count(); ++i) {
      CollectTypes(file->message_type(i), &names);
    }
  }
  return names;
}

// Cases per type and world. A build with AddressSanitizer runs a fifth of them.
#if defined(__SANITIZE_ADDRESS__)
constexpr int kScale = 5;
#else
constexpr int kScale = 1;
#endif
constexpr int kCases = 2000 / kScale;
constexpr uint64_t kSeed = 0x6f7261636c65ull;
constexpr int kMaxDepth = 4;          // sub-message nesting of random content
constexpr int kReportedPerTest = 5;  // disagreements reported in full

// --- The runtime's complaints about what the tests do on purpose ---------------

void QuietLogHandler(pb::LogLevel level, const char* file, int line,
                     const std::string& message) {
  if (level == pb::LOGLEVEL_ERROR &&
      message.find("missing required fields") != std::string::npos) {
    return;  // ParseFromString of a message without its required fields
  }
  if (message.find("contains invalid UTF-8 data") != std::string::npos) {
    return;  // the dynamic messages' reports of the random bytes in string fields
  }
  std::fprintf(stderr, "[libprotobuf %d %s:%d] %s\n", static_cast<int>(level), file,
               line, message.c_str());
}

pb::LogHandler* const kPreviousLogHandler = pb::SetLogHandler(&QuietLogHandler);

// --- Random values ------------------------------------------------------------

class Random {
 public:
  explicit Random(uint64_t seed) : state_(seed) {}
  uint64_t Next() {  // splitmix64
    uint64_t z = (state_ += 0x9e3779b97f4a7c15ull);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
    return z ^ (z >> 31);
  }
  uint64_t Below(uint64_t n) { return n == 0 ? 0 : Next() % n; }
  bool OneIn(uint64_t n) { return Below(n) == 0; }
  template <class T, size_t N>
  T Pick(const T (&values)[N]) {
    return values[Below(N)];
  }
  // Random bits of random magnitude: small values come as often as large.
  uint64_t Bits() { return Next() >> Below(64); }

 private:
  uint64_t state_;
};

int32_t RandomInt32(Random& r) {
  static constexpr int32_t kEdges[] = {0, 1, -1, 2, 127, 128, -128, 16383, 16384,
                                       std::numeric_limits<int32_t>::max(),
                                       std::numeric_limits<int32_t>::min()};
  return r.OneIn(3) ? r.Pick(kEdges) : static_cast<int32_t>(r.Bits());
}

uint32_t RandomUInt32(Random& r) {
  static constexpr uint32_t kEdges[] = {0, 1, 127, 128, 16383, 16384, 0x7fffffffu,
                                        0x80000000u, 0xffffffffu};
  return r.OneIn(3) ? r.Pick(kEdges) : static_cast<uint32_t>(r.Bits());
}

uint64_t RandomUInt64(Random& r) {
  // Every varint width: random bits are nearly all nine or ten bytes long.
  static constexpr uint64_t kEdges[] = {
      0, 1, 127, 128, 1ull << 14, 1ull << 21, 0xffffffffull, 0x100000000ull, 1ull << 35,
      1ull << 42, (1ull << 49) - 1, 1ull << 49, (1ull << 56) - 1, 1ull << 56, 1ull << 63, ~0ull};
  return r.OneIn(3) ? r.Pick(kEdges) : r.Bits();
}

template <class F, class Bits>
F RandomFloating(Random& r) {
  using L = std::numeric_limits<F>;
  static constexpr F kEdges[] = {F(0),        -F(0),           F(1),           F(-1.5),
                                 L::infinity(), -L::infinity(),  L::denorm_min(), -L::denorm_min(),
                                 L::min(),      L::max(),        L::lowest(),    L::epsilon()};
  if (r.OneIn(3)) return r.Pick(kEdges);
  for (;;) {
    Bits bits = static_cast<Bits>(r.Next());
    F value;
    std::memcpy(&value, &bits, sizeof value);
    if (!std::isnan(value)) return value;
  }
}

size_t RandomLength(Random& r, size_t large) {
  if (r.OneIn(4)) return 0;
  if (r.OneIn(20)) return r.Below(large);
  return r.OneIn(5) ? 4 + r.Below(17) : 1 + r.Below(3);
}

// Printable text or arbitrary bytes (mostly not UTF-8), of 0 to 600 bytes.
std::string RandomText(Random& r) {
  std::string text(RandomLength(r, 600) * (r.OneIn(3) ? 7 : 1), '\0');
  const bool printable = r.OneIn(2);
  for (char& c : text) c = static_cast<char>(printable ? ' ' + r.Below(95) : r.Below(256));
  return text;
}

int RandomUnknownNumber(Random& r) {
  if (r.OneIn(2)) return 1 + static_cast<int>(r.Below(40));  // declared numbers too
  if (r.OneIn(4)) return 1 + static_cast<int>(r.Below(FieldDescriptor::kMaxNumber));
  return 41 + static_cast<int>(r.Below(5000));
}

// --- Identical random content through reflection ------------------------------

// Gives messages of one type, possibly from different pools, the same random
// content: every draw is applied to each target through its own reflection.
class Filler {
 public:
  explicit Filler(Random& r) : r_(r) {}

  void Fill(const std::vector<Message*>& targets, int depth = 0) {
    const Descriptor* type = targets[0]->GetDescriptor();
    for (int i = 0; i < type->field_count(); ++i) {
      if (type->field(i)->is_repeated()) {
        // Long runs of scalars; sub-messages nest, so fewer of them.
        const bool nests = type->field(i)->cpp_type() == FieldDescriptor::CPPTYPE_MESSAGE;
        for (size_t n = RandomLength(r_, nests ? 40 : 300); n > 0; --n) Value(targets, i, depth);
      } else if (r_.OneIn(2)) {
        Value(targets, i, depth);
      }
    }
    if (r_.OneIn(4)) {
      std::vector<UnknownFieldSet*> sets;
      for (Message* m : targets) sets.push_back(m->GetReflection()->MutableUnknownFields(m));
      for (int n = 1 + static_cast<int>(r_.Below(3)); n > 0; --n) Unknown(sets, 0);
    }
  }

 private:
  template <class T>
  using Setter = void (Reflection::*)(Message*, const FieldDescriptor*, T) const;

  template <class T>
  static void Put(const std::vector<Message*>& targets, int index, Setter<T> set,
                  Setter<T> add, const T& value) {
    for (Message* m : targets) {
      const FieldDescriptor* field = m->GetDescriptor()->field(index);
      (m->GetReflection()->*(field->is_repeated() ? add : set))(m, field, value);
    }
  }

  // Sets (or, for a repeated field, adds) one random value of field `index`.
  void Value(const std::vector<Message*>& targets, int index, int depth) {
    const FieldDescriptor* field = targets[0]->GetDescriptor()->field(index);
    switch (field->cpp_type()) {
#define PROTOLIB_SCALAR(KIND, T, Name, value)                                            \
  case FieldDescriptor::CPPTYPE_##KIND:                                                   \
    return Put<T>(targets, index, &Reflection::Set##Name, &Reflection::Add##Name, value);
      PROTOLIB_SCALAR(INT32, int32_t, Int32, RandomInt32(r_))
      PROTOLIB_SCALAR(UINT32, uint32_t, UInt32, RandomUInt32(r_))
      PROTOLIB_SCALAR(UINT64, uint64_t, UInt64, RandomUInt64(r_))
      PROTOLIB_SCALAR(BOOL, bool, Bool, r_.OneIn(2))
      PROTOLIB_SCALAR(FLOAT, float, Float, (RandomFloating<float, uint32_t>(r_)))
      PROTOLIB_SCALAR(DOUBLE, double, Double, (RandomFloating<double, uint64_t>(r_)))
      PROTOLIB_SCALAR(STRING, std::string, String, RandomText(r_))
#undef PROTOLIB_SCALAR
      case FieldDescriptor::CPPTYPE_ENUM: {
        // Declared values only: out-of-range numbers arrive through the wire.
        const int number =
            field->enum_type()->value(r_.Below(field->enum_type()->value_count()))->number();
        for (Message* m : targets) {
          const FieldDescriptor* f = m->GetDescriptor()->field(index);
          const pb::EnumValueDescriptor* value = f->enum_type()->FindValueByNumber(number);
          if (f->is_repeated()) {
            m->GetReflection()->AddEnum(m, f, value);
          } else {
            m->GetReflection()->SetEnum(m, f, value);
          }
        }
        return;
      }
      case FieldDescriptor::CPPTYPE_MESSAGE: {
        std::vector<Message*> subs;
        for (Message* m : targets) {
          const FieldDescriptor* f = m->GetDescriptor()->field(index);
          subs.push_back(f->is_repeated() ? m->GetReflection()->AddMessage(m, f)
                                          : m->GetReflection()->MutableMessage(m, f));
        }
        if (depth < kMaxDepth && !r_.OneIn(4)) Fill(subs, depth + 1);  // else empty
        return;
      }
      default:
        ADD_FAILURE() << "field kind not covered by the filler: " << field->full_name();
    }
  }

  // One unknown field of a random wire type, groups nested up to three deep.
  void Unknown(const std::vector<UnknownFieldSet*>& sets, int depth) {
    const int number = RandomUnknownNumber(r_);
    switch (r_.Below(depth < 3 ? 5 : 4)) {
      case 0: {
        const uint64_t v = RandomUInt64(r_);
        for (UnknownFieldSet* s : sets) s->AddVarint(number, v);
        return;
      }
      case 1: {
        const uint32_t v = static_cast<uint32_t>(r_.Next());
        for (UnknownFieldSet* s : sets) s->AddFixed32(number, v);
        return;
      }
      case 2: {
        const uint64_t v = r_.Next();
        for (UnknownFieldSet* s : sets) s->AddFixed64(number, v);
        return;
      }
      case 3: {
        const std::string v = RandomText(r_);
        for (UnknownFieldSet* s : sets) s->AddLengthDelimited(number, v);
        return;
      }
      default: {
        std::vector<UnknownFieldSet*> groups;
        for (UnknownFieldSet* s : sets) groups.push_back(s->AddGroup(number));
        for (int n = static_cast<int>(r_.Below(4)); n > 0; --n) Unknown(groups, depth + 1);
      }
    }
  }

  Random& r_;
};

// --- Wire bytes -------------------------------------------------------------------

// `v` in `length` bytes: zero-padded continuation bytes. Valid up to ten bytes.
std::string PaddedVarint(uint64_t v, size_t length) {
  std::string out = Varint(v);
  while (out.size() < length) {
    out.back() = static_cast<char>(out.back() | 0x80);
    out.push_back('\0');
  }
  return out;
}

std::string Delimited(const std::string& payload) { return Varint(payload.size()) + payload; }
std::string LittleEndian(uint64_t v, int bytes) {
  std::string out;
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>(v >> (8 * i)));
  return out;
}

std::string NestedGroups(int number, int levels) {
  std::string out;
  for (int i = 0; i < levels; ++i) out += Tag(number, 3);
  out += Tag(1, 0) + Varint(7);
  for (int i = 0; i < levels; ++i) out += Tag(number, 4);
  return out;
}

// Varints at the edges of 32 and 64 bits, of the enumerations and of bool.
constexpr uint64_t kEdgeVarints[] = {
    0, 1, 2, 3, 127, 128, 0x7fffffffull, 0x80000000ull, 0xffffffffull, 0x100000000ull,
    0x100000001ull, 0x100000003ull, 0xffffffff00000001ull, 0xfffffffffffffffdull,
    ~0ull, 1ull << 63};

// Field encodings that stress a parser, for every field of `type` and a few
// undeclared numbers: each wire type, edge varints, over-long and too-long
// varints and tags, truncations, impossible lengths, packed runs (varints with
// out-of-range enumeration values, fixed-width runs of any length), groups
// (mismatched, unterminated, nested around the recursion limit) and, at the
// top level, sub-messages holding such encodings of their own declared fields.
std::vector<std::string> CraftedFields(const Descriptor* type, int depth) {
  std::vector<std::string> out;
  std::vector<int> numbers;
  if (depth == 0) numbers = {16, 2047, FieldDescriptor::kMaxNumber};
  for (int i = 0; i < type->field_count(); ++i) numbers.push_back(type->field(i)->number());
  std::string edge_run;
  for (uint64_t v : kEdgeVarints) edge_run += Varint(v);
  const std::string fixed_run =
      LittleEndian(0x3f800000, 4) + LittleEndian(0xc0490fdb, 4) + "\x01";
  for (int n : numbers) {
    const uint64_t tag0 = static_cast<uint64_t>(n) << 3;
    out.push_back(Tag(n, 0) + Varint(1));
    out.push_back(Tag(n, 1) + LittleEndian(0x3ff0000000000000ull, 8));
    out.push_back(Tag(n, 2) + Delimited(Tag(1, 0) + Varint(1)));
    out.push_back(Tag(n, 3) + Tag(n, 4));
    out.push_back(Tag(n, 4));
    out.push_back(Tag(n, 5) + LittleEndian(0x3f800000u, 4));
    out.push_back(Tag(n, 6) + Varint(1));
    out.push_back(Tag(n, 7));
    for (uint64_t v : kEdgeVarints) out.push_back(Tag(n, 0) + Varint(v));
    out.push_back(Tag(n, 0) + PaddedVarint(1, 10));
    out.push_back(Tag(n, 0) + PaddedVarint(2, 11));
    out.push_back(Tag(n, 0) + PaddedVarint(0x80000001u, 7));
    out.push_back(Tag(n, 0) + std::string(9, '\xff') + '\x7f');
    out.push_back(PaddedVarint(tag0, 5) + Varint(1));
    out.push_back(PaddedVarint(tag0 | 2, 6) + Delimited(""));
    out.push_back(Tag(n, 0));
    out.push_back(Tag(n, 0) + '\x80');
    out.push_back(Tag(n, 1) + "abc");
    out.push_back(Tag(n, 5) + "ab");
    out.push_back(Tag(n, 2) + Varint(5) + "ab");
    out.push_back(Tag(n, 2) + Varint(1ull << 31) + "x");
    out.push_back(Tag(n, 2) + Varint(~0ull) + "x");
    out.push_back(Tag(n, 2) + PaddedVarint(2, 4) + Tag(1, 0) + Varint(0));
    out.push_back(Tag(n, 2) + Delimited(""));
    out.push_back(Tag(n, 2) + Delimited(edge_run));
    out.push_back(Tag(n, 2) + Delimited(Varint(1) + '\x80'));
    out.push_back(Tag(n, 2) + Delimited(PaddedVarint(2, 10) + PaddedVarint(1, 11)));
    for (size_t length = 1; length <= fixed_run.size(); ++length) {
      out.push_back(Tag(n, 2) + Delimited(fixed_run.substr(0, length)));
    }
    out.push_back(Tag(n, 3) + Tag(1, 0) + Varint(5) + Tag(2, 2) + Delimited("xy") + Tag(n, 4));
    out.push_back(Tag(n, 3) + Tag(n + 1, 4));
    out.push_back(Tag(n, 3));
    out.push_back(Tag(n, 3) + Tag(n, 3) + Tag(n, 4) + Tag(n, 4));
    const FieldDescriptor* field = type->FindFieldByNumber(n);
    if (depth == 0 && field != nullptr &&
        field->cpp_type() == FieldDescriptor::CPPTYPE_MESSAGE) {
      for (const std::string& inner : CraftedFields(field->message_type(), depth + 1)) {
        out.push_back(Tag(n, 2) + Delimited(inner));
      }
    }
  }
  for (int levels : {1, 98, 99, 100, 101, 150}) out.push_back(NestedGroups(16, levels));
  out.push_back(Tag(0, 0) + Varint(1));
  return out;
}

// Edits a byte string in one random way.
void Mutate(std::string* bytes, Random& r, const std::vector<std::string>& crafted,
            const std::string& other) {
  const size_t at = r.Below(bytes->size() + 1);
  switch (r.Below(9)) {
    case 0:
      if (!bytes->empty()) (*bytes)[at % bytes->size()] ^= static_cast<char>(1 << r.Below(8));
      break;
    case 1:
      bytes->resize(at);
      break;
    case 2:
      for (int n = 1 + static_cast<int>(r.Below(4)); n > 0; --n) {
        bytes->insert(at, 1, static_cast<char>(r.Below(256)));
      }
      break;
    case 3:
      bytes->erase(at, 1 + r.Below(8));
      break;
    case 4: {  // a random tag of any wire type and a payload of some shape
      std::string field = Tag(r.Below(20), static_cast<int>(r.Below(8)));
      field += r.OneIn(2) ? Varint(r.Bits()) : Delimited(std::string(r.Below(6), 'z'));
      bytes->insert(at, field);
      break;
    }
    case 5:
      bytes->insert(r.OneIn(2) ? bytes->size() : at, crafted[r.Below(crafted.size())]);
      break;
    case 6:
      if (!bytes->empty()) {
        static constexpr char kNotable[] = {'\x00', '\x7f', '\x80', '\xff', '\x08', '\x0a'};
        (*bytes)[at % bytes->size()] = r.Pick(kNotable);
      }
      break;
    case 7:
      bytes->insert(at, bytes->substr(r.Below(bytes->size() + 1), r.Below(16)));
      break;
    default:
      bytes->insert(at, other);
  }
}

// --- The differential fixture --------------------------------------------------------

class OracleTest : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    type_ = GetParam();
    const Descriptor* type = pb::DescriptorPool::generated_pool()->FindMessageTypeByName(type_);
    ASSERT_NE(type, nullptr) << type_;
    class_prototype_ = pb::MessageFactory::generated_factory()->GetPrototype(type);
    ASSERT_NE(class_prototype_, nullptr);
    ASSERT_EQ(class_prototype_->GetReflection()->GetMessageFactory(),
              pb::MessageFactory::generated_factory())
        << type_ << " has no compiled class";
    oracle_prototype_ = factory_.GetPrototype(type);
  }

  void TearDown() override {
    if (disagreements_ > kReportedPerTest) {
      ADD_FAILURE() << disagreements_ << " disagreements in all (the first "
                    << kReportedPerTest << " are reported above)";
    }
  }

  std::unique_ptr<Message> NewClass() const {
    return std::unique_ptr<Message>(class_prototype_->New());
  }
  std::unique_ptr<Message> NewOracle() const {
    return std::unique_ptr<Message>(oracle_prototype_->New());
  }

  Random CaseRandom(const char* test, int i) const {
    return Random(Fnv(std::string(test) + "/" + type_ + "/" + std::to_string(i)) ^ kSeed);
  }
  std::string Context(const char* test, int i) const {
    return type_ + ", " + test + " case " + std::to_string(i);
  }

  void Report(const std::string& context, const std::string& differences) {
    if (!differences.empty() && ++disagreements_ <= kReportedPerTest) {
      ADD_FAILURE() << context << differences;
    }
  }

  // A random message's encoding, written by the oracle.
  std::string RandomEncoding(Random& r) const {
    std::unique_ptr<Message> m = NewOracle();
    Filler(r).Fill({m.get()});
    return StreamBytes(*m);
  }

  // A class instance and an oracle instance with the same content write the
  // same bytes through every writer, read the same through reflection and
  // agree on initialization.
  void ExpectSameWrites(const Message& c, const Message& o, const std::string& context) {
    Report(context, protolib_test::CompareWrites(c, o, 1 + static_cast<int>(Fnv(context) % 16)));
  }

  // Parsed, or merged into copies of the given contents, alike.
  void ExpectSameParse(const std::string& bytes, const std::string& context,
                       const Message* class_start = nullptr,
                       const Message* oracle_start = nullptr) {
    const std::string differences = protolib_test::CompareParse(
        *class_prototype_, *oracle_prototype_, bytes, class_start, oracle_start);
    if (!differences.empty()) {
      Report(context + "\n  input: " + protolib_test::Hex(bytes), differences);
    }
  }

  std::string type_;
  const Message* class_prototype_ = nullptr;
  pb::DynamicMessageFactory factory_;
  const Message* oracle_prototype_ = nullptr;
  int disagreements_ = 0;
};

// Each case, for every type: random content set through reflection
// (declared enumeration values, present-but-empty sub-messages, unknown
// fields of every wire type) is written alike, and each side reads what the
// other wrote; a cleared instance refilled is again written alike; MergeFrom
// and CopyFrom of a second random content, between two class instances and
// across the two kinds through reflection, agree. Then bytes parse alike
// into an empty message, or merged into the random content: each crafted
// field encoding alone, after and before a valid encoding, then random bytes
// and mutated valid encodings.
TEST_P(OracleTest, AgreesWithTheDynamicMessage) {
  const std::vector<std::string> crafted = CraftedFields(oracle_prototype_->GetDescriptor(), 0);
  // A type of many fields covers more in each case: fewer cases for it.
  const int fields = oracle_prototype_->GetDescriptor()->field_count();
  const int cases = fields > 16 ? kCases * 16 / fields : kCases;
  for (int i = 0; i < cases; ++i) {
    Random r = CaseRandom("case", i);
    const std::string context = Context("case", i);
    std::unique_ptr<Message> c = NewClass(), o = NewOracle();
    Filler(r).Fill({c.get(), o.get()});
    ExpectSameWrites(*c, *o, context);
    ExpectSameParse(StreamBytes(*o), context + ", re-read");
    std::unique_ptr<Message> bc = NewClass(), bo = NewOracle();
    Filler(r).Fill({bc.get(), bo.get()});
    for (const bool merge : {true, false}) {
      const std::string op = merge ? "MergeFrom" : "CopyFrom";
      auto apply = [merge](const Message& to, const Message& from) {
        std::unique_ptr<Message> result = protolib_test::CopyOf(to);
        merge ? result->MergeFrom(from) : result->CopyFrom(from);
        return result;
      };
      ExpectSameWrites(*apply(*c, *bc), *apply(*o, *bo), context + ", " + op);
      ExpectSameWrites(*apply(*c, *bo), *apply(*o, *bo), context + ", class " + op + " dynamic");
      ExpectSameWrites(*apply(*c, *bc), *apply(*o, *bc), context + ", dynamic " + op + " class");
    }

    for (size_t j = i; j < crafted.size(); j += cases) {
      std::string valid = RandomEncoding(r);  // a short one: the snippet is the point
      for (int tries = 0; valid.size() > 64 && tries < 8; ++tries) valid = RandomEncoding(r);
      ExpectSameParse(crafted[j], context + ", crafted");
      ExpectSameParse(valid + crafted[j], context + ", crafted after a valid encoding");
      ExpectSameParse(crafted[j] + valid, context + ", crafted before a valid encoding");
    }
    std::string bytes;
    if (r.OneIn(10)) {
      for (size_t n = r.Below(64); n > 0; --n) bytes.push_back(static_cast<char>(r.Below(256)));
    } else {
      bytes = RandomEncoding(r);
      const std::string other = r.OneIn(2) ? RandomEncoding(r) : crafted[r.Below(crafted.size())];
      for (int n = 1 + static_cast<int>(r.Below(4)); n > 0; --n) Mutate(&bytes, r, crafted, other);
    }
    ExpectSameParse(bytes, context + ", mutated");
    if (r.OneIn(4)) ExpectSameParse(bytes, context + ", mutated, merged", c.get(), o.get());

    c->Clear();
    o->Clear();
    Filler(r).Fill({c.get(), o.get()});
    ExpectSameWrites(*c, *o, context + ", refilled after Clear");
  }
}

INSTANTIATE_TEST_SUITE_P(EveryType, OracleTest, ::testing::ValuesIn(TypesOfSchemaFiles()),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                           std::string name = info.param;
                           std::replace(name.begin(), name.end(), '.', '_');
                           return name;
                         });

}  // namespace
