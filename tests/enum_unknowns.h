// Shared by the differential checks against DynamicMessage (tests and fuzz
// targets).
#ifndef PROTOLIB_TESTS_ENUM_UNKNOWNS_H_
#define PROTOLIB_TESTS_ENUM_UNKNOWNS_H_

#include <cstdint>
#include <vector>

#include <google/protobuf/descriptor.h>
#include <google/protobuf/message.h>
#include <google/protobuf/unknown_field_set.h>

namespace protolib_test {

// The one place where the classes and this runtime's DynamicMessage differ
// on purpose: a number that the wire gives a closed enumeration but the
// enumeration does not declare is kept among the unknown fields, as its low
// 32 bits sign-extended to 64 (the int32 the field would hold). The classes
// do that for every value; DynamicMessage does it for singular and unpacked
// values but keeps a packed run's values as read. Parsed content is compared
// with such unknown values brought into that form on both sides, which
// changes nothing else.
inline void SignExtendUnknownEnumNumbers(google::protobuf::Message* m) {
  const google::protobuf::Reflection* r = m->GetReflection();
  const google::protobuf::Descriptor* d = m->GetDescriptor();
  if (r->GetUnknownFields(*m).field_count() > 0) {
    google::protobuf::UnknownFieldSet* unknown = r->MutableUnknownFields(m);
    for (int i = 0; i < unknown->field_count(); ++i) {
      google::protobuf::UnknownField* u = unknown->mutable_field(i);
      const google::protobuf::FieldDescriptor* field = d->FindFieldByNumber(u->number());
      if (u->type() == google::protobuf::UnknownField::TYPE_VARINT && field != nullptr &&
          field->enum_type() != nullptr) {
        u->set_varint(
            static_cast<uint64_t>(static_cast<int64_t>(static_cast<int32_t>(u->varint()))));
      }
    }
  }
  std::vector<const google::protobuf::FieldDescriptor*> fields;
  r->ListFields(*m, &fields);
  for (const google::protobuf::FieldDescriptor* f : fields) {
    if (f->cpp_type() != google::protobuf::FieldDescriptor::CPPTYPE_MESSAGE) continue;
    if (f->is_repeated()) {
      for (int i = 0; i < r->FieldSize(*m, f); ++i) {
        SignExtendUnknownEnumNumbers(r->MutableRepeatedMessage(m, f, i));
      }
    } else {
      SignExtendUnknownEnumNumbers(r->MutableMessage(m, f));
    }
  }
}

}  // namespace protolib_test

#endif  // PROTOLIB_TESTS_ENUM_UNKNOWNS_H_
