// The parts behind text_forms.h: a printer and a reader for each form, and
// what they share.
#ifndef SESSION_PROTO_FORM_PARTS_H_
#define SESSION_PROTO_FORM_PARTS_H_

#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include <google/protobuf/message.h>
#include <google/protobuf/unknown_field_set.h>

#include "tools/session_proto/text_forms.h"

namespace session_proto {

// Output gathered in pieces and written to a stream a block at a time, so
// that a long value goes out as it is escaped rather than built whole.
class TextSink {
 public:
  explicit TextSink(std::ostream& out) : out_(out) {}
  ~TextSink() { Flush(); }
  TextSink(const TextSink&) = delete;
  TextSink& operator=(const TextSink&) = delete;

  void Put(std::string_view text) {
    buffer_.append(text.data(), text.size());
    if (buffer_.size() >= kBlock) Flush();
  }
  void Put(char c) {
    buffer_.push_back(c);
    if (buffer_.size() >= kBlock) Flush();
  }
  void Flush() {
    out_.write(buffer_.data(), static_cast<std::streamsize>(buffer_.size()));
    buffer_.clear();
  }

 private:
  static constexpr size_t kBlock = 64 * 1024;
  std::ostream& out_;
  std::string buffer_;
};

// "ptz_message.move" + "pan_target", with "[i]" for an element.
std::string Subpath(const std::string& path, const std::string& name, int index = -1);

// Where a printer is, as a chain of fields (with the element's index, -1
// for a singular one) up to the top message (null); written out as a path
// only for a note.
struct FieldPath {
  const FieldPath* parent;
  const google::protobuf::FieldDescriptor* field;
  int index;
  std::string Text() const {
    return Subpath(parent ? parent->Text() : "", field->name(), index);
  }
};

// Notes what a value loses in a form: a NaN other than the default quiet
// one.
void NoteNan(const google::protobuf::FieldDescriptor& field, const google::protobuf::Message& m,
             int index, const FieldPath& path, const char* form,
             std::vector<std::string>* notes);

// Each field of a message that has a value, in the order the class writes
// them (by number).
std::vector<const google::protobuf::FieldDescriptor*> SetFields(
    const google::protobuf::Message& message);

void PrintText(const google::protobuf::Message& message, std::ostream& out,
               std::vector<std::string>* notes);
void PrintJson(const google::protobuf::Message& message, bool one_line, bool strict,
               std::ostream& out, std::vector<std::string>* notes);
bool ParseText(std::string_view text, google::protobuf::Message* message, TextProblem* problem);
bool ParseJson(std::string_view text, google::protobuf::Message* message, TextProblem* problem);

// The unknown fields' wire encoding, as the class writes them.
std::string SerializeUnknown(const google::protobuf::UnknownFieldSet& fields);

}  // namespace session_proto

#endif  // SESSION_PROTO_FORM_PARTS_H_
