#include "tools/session_proto/text_forms.h"

#include <sstream>

#include "tools/session_proto/form_parts.h"

namespace session_proto {

bool ParseTextForm(TextForm form, std::string_view text, google::protobuf::Message* message,
                   TextProblem* problem) {
  message->Clear();
  return form != TextForm::kText ? ParseJson(text, message, problem)
                                 : ParseText(text, message, problem);
}

void PrintTextForm(TextForm form, const google::protobuf::Message& message,
                   const PrintOptions& options, std::ostream& out,
                   std::vector<std::string>* notes) {
  if (form == TextForm::kText) return PrintText(message, out, notes);
  PrintJson(message, form == TextForm::kJsonLine, options.strict_json, out, notes);
}

std::string PrintedTextForm(TextForm form, const google::protobuf::Message& message,
                            const PrintOptions& options, std::vector<std::string>* notes) {
  std::ostringstream out;
  PrintTextForm(form, message, options, out, notes);
  return out.str();
}

}  // namespace session_proto
