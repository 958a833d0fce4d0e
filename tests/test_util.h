// Small helpers shared by the test suites.
#ifndef PROTOLIB_TESTS_TEST_UTIL_H_
#define PROTOLIB_TESTS_TEST_UTIL_H_

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <string>

#if defined(_WIN32)
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <sys/mman.h>
#include <unistd.h>
#endif

#include <google/protobuf/io/coded_stream.h>
#include <google/protobuf/io/zero_copy_stream_impl_lite.h>
#include <google/protobuf/message.h>

#include "calibration_common/calibration.pb.h"
#include "session/commander_private/commander.pb.h"
#include "session/velocity.pb.h"

namespace protolib_test {

// Bytes from a list of octets: Bytes({0x08, 0x96, 0x01}).
inline std::string Bytes(std::initializer_list<int> octets) {
  std::string out;
  for (int b : octets) out.push_back(static_cast<char>(b));
  return out;
}

// Wire-format pieces, for encodings the classes never write themselves.
inline std::string Varint(uint64_t v) {
  std::string out;
  while (v >= 0x80) {
    out.push_back(static_cast<char>((v & 0x7f) | 0x80));
    v >>= 7;
  }
  out.push_back(static_cast<char>(v));
  return out;
}
inline std::string Tag(uint32_t number, int wire_type) {
  return Varint((static_cast<uint64_t>(number) << 3) | static_cast<uint64_t>(wire_type));
}
inline std::string Delimited(uint32_t number, const std::string& body) {
  return Tag(number, 2) + Varint(body.size()) + body;
}

inline std::string Hex(const std::string& bytes) {
  static const char* digits = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    if (!out.empty()) out.push_back(' ');
    out.push_back(digits[c >> 4]);
    out.push_back(digits[c & 15]);
  }
  return out;
}

// `size` bytes that end right where a page the process may not touch
// begins: reading or writing a byte past them faults. The memory is the
// thread's, reused by its next call.
inline char* AtPageEnd(size_t size) {
  struct Pages {
    char* base = nullptr;
    size_t room = 0;  // bytes before the guard page
    size_t page = 0;
    void Release() {
      if (base == nullptr) return;
#if defined(_WIN32)
      VirtualFree(base, 0, MEM_RELEASE);
#else
      munmap(base, room + page);
#endif
      base = nullptr;
    }
    ~Pages() { Release(); }
  };
  thread_local Pages pages;
  if (pages.base == nullptr || size > pages.room) {
    pages.Release();
#if defined(_WIN32)
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    pages.page = info.dwPageSize;
    pages.room = (size / pages.page + 1) * pages.page;
    pages.base = static_cast<char*>(VirtualAlloc(nullptr, pages.room + pages.page,
                                                 MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    DWORD old;
    VirtualProtect(pages.base + pages.room, pages.page, PAGE_NOACCESS, &old);
#else
    pages.page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    pages.room = (size / pages.page + 1) * pages.page;
    void* base = mmap(nullptr, pages.room + pages.page, PROT_READ | PROT_WRITE,
                      MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    pages.base = static_cast<char*>(base);
    mprotect(pages.base + pages.room, pages.page, PROT_NONE);
#endif
  }
  return pages.base + pages.room - size;
}

// Encodes through the array writer: sizes the tree, then writes with the
// cached sizes into a buffer of exactly that size, which ends at a page that
// faults when touched.
inline std::string EncodeToArray(const google::protobuf::Message& m) {
  const size_t size = m.ByteSizeLong();
  uint8_t* begin = reinterpret_cast<uint8_t*>(AtPageEnd(size));
  uint8_t* end = m.SerializeWithCachedSizesToArray(begin);
  return std::string(reinterpret_cast<char*>(begin), end - begin);
}

// Parses `bytes` from a flat buffer that ends at a page that faults when
// touched, as ParsePartialFromString would.
inline bool ParseAtPageEnd(google::protobuf::Message* m, const std::string& bytes) {
  char* at = AtPageEnd(bytes.size());
  std::copy(bytes.begin(), bytes.end(), at);
  return m->ParsePartialFromArray(at, static_cast<int>(bytes.size()));
}

// What `m` writes through a stream that does not trust its ByteSizeLong.
inline std::string StreamBytes(const google::protobuf::Message& m) {
  std::string bytes;
  m.ByteSizeLong();
  google::protobuf::io::StringOutputStream stream(&bytes);
  {
    google::protobuf::io::CodedOutputStream coded(&stream);
    m.SerializeWithCachedSizes(&coded);
  }
  return bytes;
}

// Content in every branch of the two message trees, with strings too long
// for a short string's room; distinct per seed.
inline CommandVelocity SampleCommand(uint32_t seed = 0) {
  CommandVelocity c;
  c.set_linear(0.25f * static_cast<float>(seed % 97 + 1));
  c.set_send_timestamp_ns(1700000000000000000ull + seed);
  c.mutable_autodocking()->set_dock_id(-2 - static_cast<int32_t>(seed));
  c.mutable_calibration()->set_calibrate_gyroscope(true);
  PTZMessage* ptz = c.mutable_ptz_message();
  ptz->set_message_id(9);
  ptz->mutable_move()->set_pan_target(1200 + static_cast<int32_t>(seed));
  ptz->mutable_focus()->set_focus_value(330);
  ptz->mutable_reset()->set_reset_pan_tilt_zoom(true);
  ptz->mutable_status()->set_ptz_powered_in_s(12.5);
  ptz->mutable_data_request()->set_request_calibration(true);
  tolva::calibration::PTZCameraParameters* calibration = ptz->mutable_calibration();
  calibration->set_focal_length_x(1041.5);
  for (float k : {-0.28f, 0.074f, 0.0f}) calibration->add_distortion(k);
  calibration->set_camera_serial("a-camera-serial-longer-than-a-short-string-" +
                                 std::to_string(seed));
  for (uint32_t i = 0; i < 1 + seed % 5; ++i) c.mutable_command_ack()->add_message_ids(498 + i);
  LaserMessage* laser = c.mutable_laser_message();
  laser->mutable_onoff()->set_laser_on(true);
  for (float v : {0.0f, 0.1f, 1.2f}) laser->mutable_point_to()->add_ray_origin(v);
  laser->mutable_point_to()->set_state_after_moving(seed % 2 ? ON : OFF);
  laser->mutable_status()->add_targeted_direction(0.9f);
  c.mutable_candy_message()->add_active_slots(BIN2);
  return c;
}

inline MultiPropertyChanged SampleChangeSet(uint32_t seed = 0) {
  MultiPropertyChanged m;
  m.mutable_change()->set_change_set_id(7 + static_cast<int32_t>(seed));
  for (uint32_t i = 0; i < 2 + seed % 3; ++i) {
    PropertyChanged* p = m.mutable_change()->add_properties();
    p->set_last_change_time(1700000000123456789ull + i);
    p->set_last_change_id(-1 - static_cast<int32_t>(i));
    p->set_ack(true);
    p->set_authority(i % 2 == 0);
    p->set_path_hash(0x9e3779b9u ^ seed);
    p->set_path("/drive/max_speed/of/the/robot/" + std::to_string(seed) + "/" + std::to_string(i));
    p->set_value(std::string("\0\1", 2) + std::string(40, '\x7f'));
    for (const char* key : {"unit-of-the-value-long-key", "source-of-the-value-long-key"}) {
      PropertyChanged_KVPair* pair = p->add_metadata();
      pair->set_key(key);
      pair->set_value(std::string(30, 'v'));
    }
  }
  m.set_compressed_change(std::string(50, 'z'));
  return m;
}

}  // namespace protolib_test

#endif  // PROTOLIB_TESTS_TEST_UTIL_H_
