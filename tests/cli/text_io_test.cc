// The text around the messages: hex and base64 in any chunking, the framing
// of several messages in one text, the text forms' errors with their places,
// messages that lack required fields, everything the classes keep carried
// through every form, and the schemas written as a descriptor set.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <limits>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <google/protobuf/descriptor.pb.h>
#include <google/protobuf/util/json_util.h>

#include "session/commander_private/commander.pb.h"
#include "session/velocity.pb.h"
#include "tools/session_proto/byte_codec.h"
#include "tools/session_proto/cli.h"
#include "tools/session_proto/decoding.h"
#include "tools/session_proto/text_forms.h"
#include "tools/session_proto/text_frames.h"
#include "tools/session_proto/type_catalog.h"

namespace session_proto {
namespace {

std::string DecodeInChunks(ByteForm form, const std::string& text, size_t chunk) {
  TextDecoder decoder(form);
  std::string bytes;
  for (size_t at = 0; at < text.size(); at += chunk) {
    EXPECT_TRUE(decoder.Feed(std::string_view(text).substr(at, chunk), &bytes)) << decoder.error();
  }
  EXPECT_TRUE(decoder.Finish()) << decoder.error();
  return bytes;
}

TEST(ByteCodec, KnownEncodings) {
  EXPECT_EQ(EncodeText(ByteForm::kHex, std::string("\x0d\x00\xff", 3)), "0d00ff");
  const std::pair<const char*, const char*> vectors[] = {
      {"", ""}, {"f", "Zg=="}, {"fo", "Zm8="}, {"foo", "Zm9v"}, {"foobar", "Zm9vYmFy"}};
  for (const auto& [plain, base64] : vectors) {
    EXPECT_EQ(EncodeText(ByteForm::kBase64, plain), base64);
    EXPECT_EQ(DecodeInChunks(ByteForm::kBase64, base64, 1), plain);
  }
}

TEST(ByteCodec, RoundTripsInAnyChunking) {
  std::mt19937 random(3);
  for (size_t length = 0; length < 40; ++length) {
    std::string bytes(length, '\0');
    for (char& c : bytes) c = static_cast<char>(random());
    for (ByteForm form : {ByteForm::kHex, ByteForm::kBase64}) {
      TextEncoder encoder(form);  // fed a byte at a time
      std::string text;
      for (char c : bytes) encoder.Feed(std::string_view(&c, 1), &text);
      encoder.Finish(&text);
      EXPECT_EQ(text, EncodeText(form, bytes));
      for (size_t chunk : {1, 2, 3, 5, 64}) EXPECT_EQ(DecodeInChunks(form, text, chunk), bytes);
    }
  }
}

TEST(ByteCodec, AcceptsWhitespaceUnpaddedAndUrlSafeText) {
  EXPECT_EQ(DecodeInChunks(ByteForm::kHex, "0d 00\n0A\tff\n", 4), std::string("\x0d\x00\x0a\xff", 4));
  EXPECT_EQ(DecodeInChunks(ByteForm::kBase64, "Zm8", 2), "fo");
  EXPECT_EQ(DecodeInChunks(ByteForm::kBase64, "-_8=", 3), DecodeInChunks(ByteForm::kBase64, "+/8=", 3));
  EXPECT_EQ(DecodeInChunks(ByteForm::kBase64, "Zm9v\nYmFy\n", 3), "foobar");
}

TEST(ByteCodec, ReportsBadTextWithItsOffset) {
  const std::tuple<ByteForm, const char*, const char*> cases[] = {
      {ByteForm::kHex, "0d 0g", "invalid hex digit 'g' at text offset 4"},
      {ByteForm::kHex, "0d0", "odd number of hex digits"},
      {ByteForm::kHex, "0d\x01", "invalid hex digit byte 0x01 at text offset 2"},
      {ByteForm::kBase64, "Zm9v!", "invalid base64 character '!' at text offset 4"},
      {ByteForm::kBase64, "Zm9vY", "ends in the middle of a byte"},
      {ByteForm::kBase64, "Zm=8", "base64 data after padding"},
      {ByteForm::kBase64, "Z===", "misplaced base64 padding"},
      {ByteForm::kBase64, "Zg=", "padding is incomplete"},
  };
  for (const auto& [form, text, error] : cases) {
    std::string bytes, message;
    EXPECT_FALSE(DecodeText(form, text, &bytes, &message)) << text;
    EXPECT_NE(message.find(error), std::string::npos) << text << ": " << message;
  }
}

using Split = TextFrameReader::Split;

std::vector<std::pair<std::string, int>> Frames(const std::string& input, Split split, bool json) {
  std::istringstream in(input);
  TextFrameReader reader(in, split, json);
  std::vector<std::pair<std::string, int>> frames;
  std::string text;
  int line;
  while (reader.Next(&text, &line)) frames.emplace_back(text, line);
  return frames;
}

TEST(TextFrames, SplitIntoMessagesWithTheirFirstLines) {
  using F = std::vector<std::pair<std::string, int>>;
  const std::tuple<const char*, Split, bool, F> cases[] = {
      // As decode --delimited writes it: a header before each message (an
      // empty one too), a count after.
      {"--- message 1\na: 1\n--- message 2\n--- message 3\nb: 2\n# 3 messages\n",
       Split::kSeparators, false, F{{"a: 1\n", 2}, {"", 4}, {"b: 2\n# 3 messages\n", 5}}},
      // Written by hand: pieces of only blanks and comments are no message.
      {"a: 1\n---\nb: 2\n", Split::kSeparators, false, F{{"a: 1\n", 1}, {"b: 2\n", 3}}},
      {"# notes\n\n---\nb: 2\n---\n---\n# end\n", Split::kSeparators, false, F{{"b: 2\n", 4}}},
      {"", Split::kSeparators, false, F{}},
      // Not split: one message, separators and all; JSON comments blanked.
      {"a: 1\n---\n", Split::kNone, false, F{{"a: 1\n---\n", 1}}},
      {"# c\n{}\n", Split::kNone, true, F{{"\n{}\n", 1}}},
      {"{}\n\n# c\n{\"a\": 1}\n", Split::kLines, true, F{{"{}\n", 1}, {"{\"a\": 1}\n", 4}}},
  };
  for (const auto& [input, split, json, frames] : cases) {
    EXPECT_EQ(Frames(input, split, json), frames) << input;
  }
}

TEST(TextForms, PlaceEachErrorWithItsPathLineAndColumn) {
  const std::tuple<TextForm, const char*, int, int, const char*, const char*> cases[] = {
      {TextForm::kJson, "{\n  \"linear\": 0.5,\n  \"angular\": \n}", 4, 1, "angular",
       "expected a value"},
      {TextForm::kJson, "{\"linear\": 01}", 1, 12, "linear", "leading zero"},
      {TextForm::kJson, "{\"linear\": 1,}", 1, 14, "", "expected a field name"},
      {TextForm::kJson, "{'linear': 1}", 1, 2, "", "expected a field name"},
      {TextForm::kJson, "{\"linear\": \"a\nb\"}", 1, 14, "linear", "control character"},
      {TextForm::kJson, "[1]", 1, 1, "", "expected a JSON object"},
      {TextForm::kJson, "{} {}", 1, 4, "", "unexpected text after"},
      {TextForm::kJson, "{\"\\q\": 1}", 1, 3, "", "invalid escape"},
      {TextForm::kJson, "{\"linear\": [[[[1]]]]}", 1, 12, "linear", "expected a single value"},
      // Values: at the value, named by the field's path.
      {TextForm::kJson, "{\n  \"ptzMessage\": {\"move\": {\"panTarget\": 1.5}}}", 2, 40,
       "ptz_message.move.pan_target", "invalid value 1.5 for type TYPE_INT32"},
      {TextForm::kJson, "{\"laser_message\": {\"point_to\": {\"ray_origin\": [1,\n \"x\"]}}}", 2, 2,
       "laser_message.point_to.ray_origin[1]", "invalid value \"x\" for type TYPE_FLOAT"},
      {TextForm::kJson, "{\n \"ptz_message\": {\"mvoe\": {}}}", 2, 18, "ptz_message.mvoe",
       "Cannot find field."},
      {TextForm::kJson, "{\"send_timestamp_ns\": 1.7000000000000001e18}", 1, 23, "send_timestamp_ns",
       "invalid value"},  // a float cannot hold it exactly
      {TextForm::kJson, "{\"linear\": 1e39}", 1, 12, "linear", "out of range"},
      {TextForm::kJson, "{\"@unknown_fields\": \"78\"}", 1, 21, "@unknown_fields",
       "not a sequence of fields"},
      {TextForm::kJson, "{\"ptz_message\": {\"@unknown_fields\": \"7g\"}}", 1, 37,
       "ptz_message.@unknown_fields", "invalid hex digit"},
      // Every malformed UTF-8 form, and lone surrogates, where they stand
      // (columns count characters).
      {TextForm::kJson, "{\"x\xc3\xa9\xc3(\": 1}", 1, 5, "", "invalid UTF-8"},
      {TextForm::kJson, "{\"\xe0\x80\xaf\": 1}", 1, 3, "", "invalid UTF-8"},
      {TextForm::kJson, "{\"\xed\xa0\x80\": 1}", 1, 3, "", "invalid UTF-8"},
      {TextForm::kJson, "{\"\xf0\x9f\x98\": 1}", 1, 3, "", "invalid UTF-8"},
      {TextForm::kJson, "{\"\xf4\x90\x80\x80\": 1}", 1, 3, "", "invalid UTF-8"},
      {TextForm::kJson, "{\"\xff\": 1}", 1, 3, "", "invalid UTF-8"},
      {TextForm::kJson, "{\"x\\ud800\": 1}", 1, 4, "", "high surrogate without a low"},
      {TextForm::kJson, "{\"\\udc00\": 1}", 1, 3, "", "lone low surrogate"},
      // Text format: TextFormat's words, and the unknown fields' own.
      {TextForm::kText, "linear: 0.5\nangular: x\n", 2, 10, "", "Expected double, got: x"},
      {TextForm::kText, "ptz_message {\n  15 grop { 1: 2 }\n}", 2, 6, "",
       "expected ':', '{' or 'group'"},
      {TextForm::kText, "15: 1.5", 1, 5, "", "expected an integer, a string or '{'"},
      {TextForm::kText, "536870912: 1", 1, 1, "", "field numbers go from 1 to 536870911"},
      {TextForm::kText, "15 { x: 1 }", 1, 6, "", "expected a field number or '}'"},
  };
  for (const auto& [form, text, line, column, path, message] : cases) {
    CommandVelocity parsed;
    TextProblem problem;
    EXPECT_FALSE(ParseTextForm(form, text, &parsed, &problem)) << text;
    EXPECT_EQ(problem.where.line, line) << text;
    EXPECT_EQ(problem.where.column, column) << text;
    EXPECT_EQ(problem.path, path) << text;
    EXPECT_NE(problem.message.find(message), std::string::npos) << text << ": " << problem.message;
  }
  std::string deep;
  for (int i = 0; i < 102; ++i) deep += "1 {";
  CommandVelocity parsed;
  TextProblem problem;
  EXPECT_FALSE(ParseTextForm(TextForm::kText, deep + std::string(102, '}'), &parsed, &problem));
  EXPECT_NE(problem.message.find("nesting too deep"), std::string::npos) << problem.message;
}

TEST(DescriptorSet, DescribesEveryRegisteredTypeAsThePoolDoes) {
  std::ostringstream out, err;
  const char* argv[] = {"session-proto", "schema", "--descriptor-set"};
  ASSERT_EQ(RunCli(3, argv, out, err), 0) << err.str();
  google::protobuf::FileDescriptorSet set;
  ASSERT_TRUE(set.ParseFromString(out.str()));
  google::protobuf::DescriptorPool pool;
  for (const auto& file : set.file()) ASSERT_NE(pool.BuildFile(file), nullptr) << file.name();
  for (const auto* file : SchemaFiles()) {
    const auto* copy = pool.FindFileByName(file->name());
    ASSERT_NE(copy, nullptr) << file->name();
    EXPECT_EQ(copy->DebugString(), file->DebugString());
  }
}

TEST(TextForms, MessagesLackingRequiredFieldsParseAndPrintInEveryForm) {
  const std::pair<TextForm, const char*> inputs[] = {
      {TextForm::kText, "change { properties { metadata { key: \"unit\" } } }"},
      {TextForm::kJson, "{\"change\": {\"properties\": [{\"metadata\": [{\"key\": \"unit\"}]}]}}"},
  };
  for (const auto& [form, text] : inputs) {
    MultiPropertyChanged message;
    TextProblem problem;
    ASSERT_TRUE(ParseTextForm(form, text, &message, &problem)) << problem.message;
    EXPECT_EQ(MissingRequiredFields(message),
              "missing required field change.properties[0].metadata[0].value");
    for (TextForm out : {TextForm::kText, TextForm::kJson}) {
      const std::string printed = PrintedTextForm(out, message);
      EXPECT_NE(printed.find("unit"), std::string::npos) << printed;
    }
  }
}

namespace pb = google::protobuf;

// A random value for every kind of field, unknown fields of every wire
// type, and enumeration numbers the schema does not declare (which the
// classes keep among the unknown fields), at every level.
class RandomMessages {
 public:
  explicit RandomMessages(uint32_t seed) : random_(seed) {}

  void Fill(pb::Message* m, int depth) {
    const pb::Reflection& r = *m->GetReflection();
    const pb::Descriptor& type = *m->GetDescriptor();
    pb::UnknownFieldSet* unknown = r.MutableUnknownFields(m);
    for (int i = 0; i < type.field_count(); ++i) {
      const pb::FieldDescriptor* f = type.field(i);
      const int count = f->is_repeated() ? Pick(4) : Pick(3) > 0;
      for (int k = 0; k < count; ++k) Add(m, f, depth);
      if (f->enum_type() && Pick(2)) {  // undeclared, maybe negative
        unknown->AddVarint(f->number(), static_cast<uint64_t>(int64_t{Pick(2) ? 7 : -5}));
      }
      // A declared number with a wire type the field does not take.
      if (f->cpp_type() != pb::FieldDescriptor::CPPTYPE_MESSAGE && Pick(4) == 0) {
        unknown->AddFixed64(f->number(), Bits64());
      }
    }
    for (int n = Pick(3); n > 0; --n) AddUnknown(unknown, Undeclared(type), 2);
  }

 private:
  uint32_t Pick(uint32_t n) { return random_() % n; }
  uint64_t Bits64() { return (uint64_t{random_()} << 32) | random_(); }

  int Undeclared(const pb::Descriptor& type) {
    const int numbers[] = {15, 16, 19, 100, 2047, 2048, 536870911};
    int number;
    do number = numbers[Pick(7)];
    while (type.FindFieldByNumber(number) != nullptr);
    return number;
  }

  std::string Text() {
    const char* pieces[] = {"a", "\"", "\\", "\n", "\x01", "\xc3\xa9", "\xf0\x9f\x98\x80", " ", "#"};
    std::string text;
    for (int n = Pick(6); n > 0; --n) text += pieces[Pick(9)];
    return text;
  }

  void AddUnknown(pb::UnknownFieldSet* set, int number, int depth) {
    switch (Pick(depth > 0 ? 6 : 4)) {
      case 0: set->AddVarint(number, Bits64() >> Pick(64)); break;
      case 1: set->AddFixed32(number, random_()); break;
      case 2: set->AddFixed64(number, Bits64()); break;
      case 3: set->AddLengthDelimited(number, Text() + char(Pick(256))); break;
      case 4: {
        pb::UnknownFieldSet nested;
        for (int n = Pick(3) + 1; n > 0; --n) AddUnknown(&nested, 1 + Pick(30), depth - 1);
        std::string bytes;
        nested.SerializeToString(&bytes);
        set->AddLengthDelimited(number, bytes);
        break;
      }
      default: {
        pb::UnknownFieldSet* group = set->AddGroup(number);
        for (int n = Pick(3); n > 0; --n) AddUnknown(group, 1 + Pick(30), depth - 1);
      }
    }
  }

  void Add(pb::Message* m, const pb::FieldDescriptor* f, int depth) {
    const pb::Reflection& r = *m->GetReflection();
    const bool rep = f->is_repeated();
    using F = pb::FieldDescriptor;
    switch (f->cpp_type()) {
      case F::CPPTYPE_INT32: {
        const int32_t v = static_cast<int32_t>(random_()) >> Pick(32);
        return rep ? r.AddInt32(m, f, v) : r.SetInt32(m, f, v);
      }
      case F::CPPTYPE_UINT32: {
        const uint32_t v = random_() >> Pick(32);
        return rep ? r.AddUInt32(m, f, v) : r.SetUInt32(m, f, v);
      }
      case F::CPPTYPE_INT64: {
        const int64_t v = static_cast<int64_t>(Bits64()) >> Pick(64);
        return rep ? r.AddInt64(m, f, v) : r.SetInt64(m, f, v);
      }
      case F::CPPTYPE_UINT64: {
        const uint64_t v = Bits64() >> Pick(64);
        return rep ? r.AddUInt64(m, f, v) : r.SetUInt64(m, f, v);
      }
      case F::CPPTYPE_FLOAT: {
        const uint32_t bits = random_();
        float v;
        std::memcpy(&v, &bits, 4);
        if (std::isnan(v) || Pick(8) == 0) v = std::numeric_limits<float>::quiet_NaN();
        if (Pick(8) == 0) v = Pick(2) ? -0.0f : std::numeric_limits<float>::infinity();
        return rep ? r.AddFloat(m, f, v) : r.SetFloat(m, f, v);
      }
      case F::CPPTYPE_DOUBLE: {
        const uint64_t bits = Bits64();
        double v;
        std::memcpy(&v, &bits, 8);
        if (std::isnan(v) || Pick(8) == 0) v = std::numeric_limits<double>::quiet_NaN();
        if (Pick(8) == 0) v = Pick(2) ? -0.0 : -std::numeric_limits<double>::infinity();
        return rep ? r.AddDouble(m, f, v) : r.SetDouble(m, f, v);
      }
      case F::CPPTYPE_BOOL:
        return rep ? r.AddBool(m, f, Pick(2)) : r.SetBool(m, f, Pick(2));
      case F::CPPTYPE_ENUM: {
        const int v = f->enum_type()->value(Pick(f->enum_type()->value_count()))->number();
        return rep ? r.AddEnumValue(m, f, v) : r.SetEnumValue(m, f, v);
      }
      case F::CPPTYPE_STRING: {
        std::string v = Text();
        if (f->type() == F::TYPE_BYTES) v += std::string(Pick(3), char(Pick(256)));
        return rep ? r.AddString(m, f, v) : r.SetString(m, f, v);
      }
      case F::CPPTYPE_MESSAGE:
        if (depth < 4) Fill(rep ? r.AddMessage(m, f) : r.MutableMessage(m, f), depth + 1);
        return;
    }
  }

  std::mt19937 random_;
};

std::string RunTool(std::vector<std::string> args, std::string* err = nullptr) {
  std::vector<const char*> argv = {"session-proto"};
  for (const std::string& a : args) argv.push_back(a.c_str());
  std::ostringstream out, errors;
  EXPECT_EQ(RunCli(static_cast<int>(argv.size()), argv.data(), out, errors), 0)
      << args[0] << " " << args[2] << ": " << errors.str();
  if (err != nullptr) *err = errors.str();
  return out.str();
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

// Whatever decode accepts, encode turns back into the bytes the message
// classes write for it, through every form, single and delimited.
TEST(TextForms, EveryFormGivesBackTheClassesOwnBytes) {
  RandomMessages random(18);
  const std::string dir = testing::TempDir();
  for (const auto* file : SchemaFiles()) {
    for (const pb::Descriptor* type : MessageTypes(*file)) {
      const pb::Message* prototype = pb::MessageFactory::generated_factory()->GetPrototype(type);
      std::string single, stream;
      for (int i = 0; i < 6; ++i) {
        std::unique_ptr<pb::Message> built(prototype->New()), parsed(prototype->New());
        random.Fill(built.get(), 0);
        ASSERT_TRUE(parsed->ParsePartialFromString(built->SerializePartialAsString()));
        const std::string canonical = parsed->SerializePartialAsString();
        if (i == 0) single = canonical;
        // Without unknown fields, JSON is what the runtime's converter writes.
        parsed->DiscardUnknownFields();
        std::string converted;
        if (parsed->IsInitialized()) {
          pb::util::JsonPrintOptions options;
          options.preserve_proto_field_names = true;
          ASSERT_TRUE(pb::util::MessageToJsonString(*parsed, &converted, options).ok());
          EXPECT_EQ(PrintedTextForm(TextForm::kJsonLine, *parsed), converted + "\n");
        }
        size_t n = canonical.size();
        for (; n >= 0x80; n >>= 7) stream += char((n & 0x7f) | 0x80);
        stream += char(n) + canonical;
      }
      WriteFile(dir + "/single.bin", single);
      WriteFile(dir + "/stream.bin", stream);
      const std::string name = type->full_name();
      const std::vector<std::pair<std::string, std::string>> forms = {
          {"", ""}, {"--json", "--json"}, {"--json-lines", "--json-lines"}};
      for (const auto& [decode_form, encode_form] : forms) {
        for (bool delimited : {false, true}) {
          if (!delimited && decode_form == "--json-lines") continue;
          std::vector<std::string> decode = {"decode", name, "--partial",
                                             dir + (delimited ? "/stream.bin" : "/single.bin")};
          std::vector<std::string> encode = {"encode", name, "--partial", dir + "/printed"};
          if (!decode_form.empty()) decode.push_back(decode_form);
          if (!encode_form.empty()) encode.push_back(encode_form);
          if (delimited) decode.push_back("--delimited"), encode.push_back("--delimited");
          std::string err;
          WriteFile(dir + "/printed", RunTool(decode, &err));
          EXPECT_EQ(err, "");
          EXPECT_EQ(RunTool(encode), delimited ? stream : single)
              << name << " " << decode_form << (delimited ? " --delimited" : "");
        }
      }
      // Strict JSON leaves the unknown fields out, and says so.
      std::string err;
      const std::string strict =
          RunTool({"decode", name, "--partial", dir + "/single.bin", "--json", "--strict-json"}, &err);
      EXPECT_EQ(strict.find(kUnknownFieldsMember), std::string::npos) << strict;
      EXPECT_EQ(err.find("strict JSON leaves out the unknown fields") != std::string::npos,
                RunTool({"decode", name, "--partial", dir + "/single.bin", "--json"})
                        .find(kUnknownFieldsMember) != std::string::npos)
          << err;
    }
  }
}

}  // namespace
}  // namespace session_proto
