// Text format into a message. The runtime's TextFormat parser reads named
// fields; the unknown fields that the printer writes by number ("15: 7",
// "15 { ... }", "15 group { ... }") are taken out of the text first (blanked,
// so that lines and columns stay put) and given to the message they stand
// in once TextFormat has built it.
#include <map>
#include <memory>
#include <utility>

#include <google/protobuf/descriptor.h>
#include <google/protobuf/io/tokenizer.h>
#include <google/protobuf/io/zero_copy_stream_impl_lite.h>
#include <google/protobuf/text_format.h>

#include "tools/session_proto/form_parts.h"
#include "tools/session_proto/wire_walk.h"

namespace session_proto {
namespace {

namespace pb = google::protobuf;
using pb::FieldDescriptor;
using pb::io::Tokenizer;

// The way from the top message to a sub-message: each field with the
// element's index (-1 for a singular field).
using MessagePath = std::vector<std::pair<const FieldDescriptor*, int>>;

class NoErrors : public pb::io::ErrorCollector {
 public:
  void AddError(int, pb::io::ColumnNumber, const std::string&) override {}
};

// Keeps the first error TextFormat reports.
class FirstError : public pb::io::ErrorCollector {
 public:
  void AddError(int line, pb::io::ColumnNumber column, const std::string& message) override {
    if (!seen_) problem_ = TextProblem{{line + 1, column + 1}, "", message};
    seen_ = true;
  }
  const TextProblem& problem() const { return problem_; }

 private:
  bool seen_ = false;
  TextProblem problem_;
};

// Walks the tokens of a text-format message, taking out its unknown fields.
// It follows only the structure (which sub-message a field stands in); on
// anything it does not expect, it stops and leaves the rest to TextFormat,
// which reports it.
class UnknownFieldTaker {
 public:
  UnknownFieldTaker(std::string* text, const pb::Descriptor& type)
      : text_(*text), input_(text->data(), static_cast<int>(text->size())),
        tokens_(&input_, &no_errors_), type_(type) {
    tokens_.set_allow_f_after_float(true);
    tokens_.set_comment_style(Tokenizer::SH_COMMENT_STYLE);
    tokens_.set_require_space_after_number(false);
    tokens_.set_allow_multiline_strings(true);
    for (size_t i = 0; i < text->size(); ++i) {
      if ((*text)[i] == '\n') line_starts_.push_back(i + 1);
    }
  }

  // False with *problem on an unknown field written wrongly.
  bool Run(TextProblem* problem) {
    tokens_.Next();
    MessagePath path;
    Body(type_, path, "");
    if (failed_) *problem = problem_;
    return !failed_;
  }

  // Gives each sub-message of `message` the unknown fields taken for it.
  void Restore(pb::Message* message) {
    for (auto& [path, fields] : taken_) {
      pb::Message* target = message;
      for (const auto& [field, index] : path) {
        const pb::Reflection& r = *target->GetReflection();
        if (index >= 0 && index >= r.FieldSize(*target, field)) {
          target = nullptr;  // not built: TextFormat read it otherwise
          break;
        }
        target = index < 0 ? r.MutableMessage(target, field)
                           : r.MutableRepeatedMessage(target, field, index);
      }
      if (target) target->GetReflection()->MutableUnknownFields(target)->MergeFrom(*fields);
    }
  }

 private:
  const Tokenizer::Token& Current() { return tokens_.current(); }
  bool Is(const char* symbol) {
    return Current().type == Tokenizer::TYPE_SYMBOL && Current().text == symbol;
  }
  bool Take(const char* symbol) {
    if (!Is(symbol)) return false;
    tokens_.Next();
    return true;
  }

  // The fields of a message up to `closing` ("" at the top). False when the
  // walk stops.
  bool Body(const pb::Descriptor& type, const MessagePath& path, const char* closing) {
    std::map<const FieldDescriptor*, int> counts;
    while (!failed_) {
      if (Current().type == Tokenizer::TYPE_END) return *closing == '\0';
      if (*closing != '\0' && Take(closing)) return true;
      if (Current().type == Tokenizer::TYPE_INTEGER) {
        pb::UnknownFieldSet* fields = Unknowns(path);
        const size_t start = Offset(Current());
        if (!Unknown(fields)) return false;
        Blank(start, end_);
      } else if (Current().type == Tokenizer::TYPE_IDENTIFIER) {
        const FieldDescriptor* field = FindField(type, Current().text);
        if (field == nullptr) return false;
        tokens_.Next();
        const bool colon = Take(":");
        if (field->cpp_type() == FieldDescriptor::CPPTYPE_MESSAGE) {
          const bool list = colon && Take("[");
          do {
            MessagePath inner = path;
            inner.emplace_back(field, field->is_repeated() ? counts[field]++ : -1);
            const char* close = Take("{") ? "}" : Take("<") ? ">" : nullptr;
            if (close == nullptr || !Body(*field->message_type(), inner, close)) return false;
          } while (list && Take(","));
          if (list && !Take("]")) return false;
        } else if (!colon || !SkipValues()) {
          return false;
        }
      } else {
        return false;
      }
      if (!Take(";")) Take(",");
    }
    return false;
  }

  static const FieldDescriptor* FindField(const pb::Descriptor& type, const std::string& name) {
    if (const FieldDescriptor* field = type.FindFieldByName(name)) return field;
    for (int i = 0; i < type.field_count(); ++i) {  // groups go by their type's name
      const FieldDescriptor* field = type.field(i);
      if (field->type() == FieldDescriptor::TYPE_GROUP && field->message_type()->name() == name) {
        return field;
      }
    }
    return nullptr;
  }

  // A scalar value or a list of them.
  bool SkipValues() {
    const bool list = Take("[");
    if (list && Take("]")) return true;
    do {
      Take("-");
      if (Current().type == Tokenizer::TYPE_STRING) {
        while (Current().type == Tokenizer::TYPE_STRING) tokens_.Next();
      } else if (Current().type == Tokenizer::TYPE_IDENTIFIER ||
                 Current().type == Tokenizer::TYPE_INTEGER ||
                 Current().type == Tokenizer::TYPE_FLOAT) {
        tokens_.Next();
      } else {
        return false;
      }
    } while (list && Take(","));
    return !list || Take("]");
  }

  // One unknown field, from its number on; sets end_ past its last token.
  bool Unknown(pb::UnknownFieldSet* fields) {
    uint64_t number = 0;
    if (!Tokenizer::ParseInteger(Current().text, 536870911, &number) || number == 0) {
      return Fail("field numbers go from 1 to 536870911");
    }
    const int n = static_cast<int>(number);
    tokens_.Next();
    if (Current().type == Tokenizer::TYPE_IDENTIFIER && Current().text == "group") {
      tokens_.Next();
      if (!Take("{")) return Fail("expected '{' after 'group'");
      return Nested(fields->AddGroup(n));
    }
    const bool colon = Take(":");
    if (Is("{")) {
      tokens_.Next();
      pb::UnknownFieldSet nested;
      if (!Nested(&nested)) return false;
      fields->AddLengthDelimited(n, SerializeUnknown(nested));
      return true;
    }
    if (!colon) return Fail("expected ':', '{' or 'group' after the field number");
    if (Current().type == Tokenizer::TYPE_STRING) {
      std::string bytes;
      while (Current().type == Tokenizer::TYPE_STRING) {
        Tokenizer::ParseStringAppend(Current().text, &bytes);
        Mark();
      }
      fields->AddLengthDelimited(n, bytes);
      return true;
    }
    const bool negative = Take("-");
    const std::string& digits = Current().text;
    uint64_t value = 0;
    if (Current().type != Tokenizer::TYPE_INTEGER ||
        !Tokenizer::ParseInteger(digits, negative ? uint64_t{1} << 63 : ~uint64_t{0}, &value)) {
      return Fail("expected an integer, a string or '{' as the value of field " +
                  std::to_string(n));
    }
    const bool hex = !negative && digits.size() > 2 && (digits[1] == 'x' || digits[1] == 'X');
    if (hex && digits.size() == 10) {
      fields->AddFixed32(n, static_cast<uint32_t>(value));
    } else if (hex && digits.size() == 18) {
      fields->AddFixed64(n, value);
    } else {
      fields->AddVarint(n, negative ? ~value + 1 : value);
    }
    Mark();
    return true;
  }

  // The fields of a nested unknown field, after its '{'.
  bool Nested(pb::UnknownFieldSet* fields) {
    if (++depth_ > kMaxNesting) return Fail("nesting too deep (more than 100 levels)");
    while (!Is("}")) {
      if (Current().type != Tokenizer::TYPE_INTEGER) {
        return Fail("expected a field number or '}' in an unknown field");
      }
      if (!Unknown(fields)) return false;
    }
    --depth_;
    Mark();
    return true;
  }

  // Notes the end of the current token as the end so far, and moves on.
  void Mark() {
    end_ = Offset(Current()) + Current().text.size();
    tokens_.Next();
  }

  bool Fail(const std::string& message) {
    if (!failed_) {
      problem_ = TextProblem{{Current().line + 1, Current().column + 1}, "", message};
    }
    failed_ = true;
    return false;
  }

  pb::UnknownFieldSet* Unknowns(const MessagePath& path) {
    std::unique_ptr<pb::UnknownFieldSet>& fields = taken_[path];
    if (!fields) fields = std::make_unique<pb::UnknownFieldSet>();
    return fields.get();
  }

  // Where a token begins in the text (its columns count tabs to the next
  // multiple of 8, as the tokenizer does).
  size_t Offset(const Tokenizer::Token& token) const {
    size_t at = line_starts_[token.line];
    for (int column = 0; column < token.column && at < text_.size(); ++at) {
      column = text_[at] == '\t' ? column + 8 - column % 8 : column + 1;
    }
    return at;
  }

  void Blank(size_t begin, size_t end) {
    for (size_t i = begin; i < end && i < text_.size(); ++i) {
      if (text_[i] != '\n') text_[i] = ' ';
    }
  }

  std::string& text_;
  pb::io::ArrayInputStream input_;
  NoErrors no_errors_;
  Tokenizer tokens_;
  const pb::Descriptor& type_;
  std::vector<size_t> line_starts_{0};
  std::map<MessagePath, std::unique_ptr<pb::UnknownFieldSet>> taken_;
  size_t end_ = 0;
  int depth_ = 0;
  bool failed_ = false;
  TextProblem problem_;
};

// Whether a field may be written by number: digits at the start of a
// token followed by ':', '{' or "group". A quick look that may say yes
// wrongly (inside a string), never no wrongly; the token walk costs as much
// as the parse, and most texts have no unknown fields.
bool MayHoldUnknownFields(std::string_view text) {
  auto digit = [](char c) { return c >= '0' && c <= '9'; };
  for (size_t i = 0; i < text.size(); ++i) {
    if (!digit(text[i]) || (i > 0 && std::string_view(" \t\r\n{<;,").find(text[i - 1]) ==
                                          std::string_view::npos)) {
      continue;
    }
    size_t j = i;
    while (j < text.size() && (digit(text[j]) || text[j] == 'x' || text[j] == 'X')) ++j;
    while (j < text.size() && (text[j] == ' ' || text[j] == '\t')) ++j;
    if (j < text.size() && (text[j] == ':' || text[j] == '{' || text[j] == 'g')) return true;
    i = j;
  }
  return false;
}

}  // namespace

bool ParseText(std::string_view text, pb::Message* message, TextProblem* problem) {
  std::string known;
  std::unique_ptr<UnknownFieldTaker> taker;
  if (MayHoldUnknownFields(text)) {
    known.assign(text);
    taker = std::make_unique<UnknownFieldTaker>(&known, *message->GetDescriptor());
    if (!taker->Run(problem)) return false;
    text = known;
  }
  FirstError errors;
  pb::TextFormat::Parser parser;
  parser.RecordErrorsTo(&errors);
  parser.AllowPartialMessage(true);
  pb::io::ArrayInputStream input(text.data(), static_cast<int>(text.size()));
  if (!parser.Parse(&input, message)) {
    *problem = errors.problem();
    return false;
  }
  if (taker) taker->Restore(message);
  return true;
}

}  // namespace session_proto
