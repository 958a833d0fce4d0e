// The differences between the message classes and this runtime's
// DynamicMessage that are known and meant, for the differential checks
// (tests and fuzz targets): each check brings both sides' parsed content into
// one form before comparing.
#ifndef PROTOLIB_TESTS_KNOWN_DIFFERENCES_H_
#define PROTOLIB_TESTS_KNOWN_DIFFERENCES_H_

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

// On 32-bit x86 with x87 arithmetic, DynamicMessage's parser passes float
// and double values through the FPU, which quiets signalling NaNs; the
// classes keep every bit as read. Reading each value back through
// reflection (also through the FPU there) and storing it gives both sides
// the quieted form. Elsewhere values pass untouched and this changes nothing.
inline void QuietNaNsAsTheFpuDoes(google::protobuf::Message* m) {
#if defined(__i386__) && !defined(__SSE2_MATH__)
  using google::protobuf::FieldDescriptor;
  const google::protobuf::Reflection* r = m->GetReflection();
  std::vector<const FieldDescriptor*> fields;
  r->ListFields(*m, &fields);
  for (const FieldDescriptor* f : fields) {
    const bool repeated = f->is_repeated();
    const int n = repeated ? r->FieldSize(*m, f) : 1;
    for (int i = 0; i < n; ++i) {
      switch (f->cpp_type()) {
        case FieldDescriptor::CPPTYPE_FLOAT:
          repeated ? r->SetRepeatedFloat(m, f, i, r->GetRepeatedFloat(*m, f, i))
                   : r->SetFloat(m, f, r->GetFloat(*m, f));
          break;
        case FieldDescriptor::CPPTYPE_DOUBLE:
          repeated ? r->SetRepeatedDouble(m, f, i, r->GetRepeatedDouble(*m, f, i))
                   : r->SetDouble(m, f, r->GetDouble(*m, f));
          break;
        case FieldDescriptor::CPPTYPE_MESSAGE:
          QuietNaNsAsTheFpuDoes(repeated ? r->MutableRepeatedMessage(m, f, i)
                                         : r->MutableMessage(m, f));
          break;
        default:
          break;
      }
    }
  }
#else
  (void)m;
#endif
}

// Both of the above.
inline void AlignKnownDifferences(google::protobuf::Message* m) {
  SignExtendUnknownEnumNumbers(m);
  QuietNaNsAsTheFpuDoes(m);
}

}  // namespace protolib_test

#endif  // PROTOLIB_TESTS_KNOWN_DIFFERENCES_H_
