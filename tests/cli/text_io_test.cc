// The text around the messages: hex and base64 in any chunking, the framing
// of several messages in one text, the places the JSON locator gives, the
// text forms' handling of messages that lack required fields, and the
// schemas written as a descriptor set.
#include <gtest/gtest.h>

#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <google/protobuf/descriptor.pb.h>

#include "session/commander_private/commander.pb.h"
#include "session/velocity.pb.h"
#include "tools/session_proto/byte_codec.h"
#include "tools/session_proto/cli.h"
#include "tools/session_proto/decoding.h"
#include "tools/session_proto/json_locate.h"
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

TEST(JsonLocator, PlacesSyntaxErrorsByLineAndColumn) {
  const std::tuple<const char*, int, int, const char*> cases[] = {
      {"{\n  \"linear\": 0.5,\n  \"angular\": \n}", 4, 1, "expected a value"},
      {"{\"linear\": 01}", 1, 12, "leading zero"},
      {"{\"linear\": 1,}", 1, 14, "expected a field name"},
      {"{'linear': 1}", 1, 2, "expected a field name"},
      {"{\"path\": \"a\nb\"}", 1, 12, "control character"},
      {"[1]", 1, 1, "expected a JSON object"},
      {"{} {}", 1, 4, "unexpected text after"},
      {"{\"a\": \"\\q\"}", 1, 8, "invalid escape"},
      {"{\"\xc3\xa9\": x}", 1, 7, "expected a value"},  // columns count characters
  };
  for (const auto& [text, line, column, message] : cases) {
    JsonLocator locator;
    TextProblem problem;
    EXPECT_FALSE(locator.Scan(text, *CommandVelocity::descriptor(), &problem)) << text;
    EXPECT_EQ(problem.where.line, line) << text;
    EXPECT_EQ(problem.where.column, column) << text;
    EXPECT_NE(problem.message.find(message), std::string::npos) << problem.message;
  }
  std::string deep = std::string(101, '[') + std::string(101, ']');
  JsonLocator locator;
  TextProblem problem;
  EXPECT_FALSE(locator.Scan("{\"a\": " + deep + "}", *CommandVelocity::descriptor(), &problem));
  EXPECT_NE(problem.message.find("nesting too deep"), std::string::npos);
}

TEST(JsonLocator, PlacesTheConvertersErrorsAtTheFieldTheyName) {
  const std::string text =
      "{\n"
      "  \"ptzMessage\": {\"move\": {\"panTarget\": 1.5}},\n"
      "  \"laser_message\": {\"point_to\": {\"ray_origin\": [1,\n"
      "     \"x\"]}},\n"
      "  \"linaer\": 2\n"
      "}\n";
  JsonLocator locator;
  TextProblem problem;
  ASSERT_TRUE(locator.Scan(text, *CommandVelocity::descriptor(), &problem)) << problem.message;
  const std::tuple<const char*, int, int, const char*> cases[] = {
      {"(ptz_message.move.pan_target): invalid value 1.5 for type TYPE_INT32", 2, 40,
       "ptz_message.move.pan_target: invalid value 1.5"},
      {"(laser_message.point_to.ray_origin[1]): invalid value \"x\" for type TYPE_FLOAT", 4, 6,
       "laser_message.point_to.ray_origin[1]: invalid value"},
      {"linaer: Cannot find field.", 5, 3, "linaer: Cannot find field."},
      // Not in the text: placed at the nearest enclosing value, "move"'s.
      {"(ptz_message.move) panTargt: Cannot find field.", 2, 26, "ptz_message.move.panTargt"},
  };
  for (const auto& [converter_message, line, column, message] : cases) {
    TextProblem placed = locator.Locate(converter_message);
    EXPECT_EQ(placed.where.line, line) << converter_message;
    EXPECT_EQ(placed.where.column, column) << converter_message;
    EXPECT_NE(placed.message.find(message), std::string::npos) << placed.message;
  }
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
      std::string printed;
      EXPECT_TRUE(PrintTextForm(out, message, &printed)) << printed;
      EXPECT_NE(printed.find("unit"), std::string::npos) << printed;
    }
  }
}

}  // namespace
}  // namespace session_proto
