// session-proto stats: what a stream holds, and where its bytes go.
#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "tools/session_proto/commands.h"
#include "tools/session_proto/selected_messages.h"
#include "tools/session_proto/wire_walk.h"

namespace session_proto {
namespace {

struct PathTotal {
  std::string path;
  uint64_t count = 0;  // values: a packed run counts each of its elements
  uint64_t bytes = 0;  // tags, lengths and values
};

// Keyed by field numbers, so that the table follows the schema's order and
// nested fields come right after their parent.
using Totals = std::map<std::vector<uint32_t>, PathTotal>;

void Add(const std::vector<WireField>& fields, std::vector<uint32_t>* numbers,
         const std::string& path, Totals* totals) {
  for (const WireField& f : fields) {
    const bool declared = f.field != nullptr && f.role != FieldRole::kUnknown &&
                          f.role != FieldRole::kWrongWireType;
    const std::string name = declared ? f.field->name()
                                      : "field " + std::to_string(f.number) + " (unknown)";
    numbers->push_back(f.number);
    PathTotal& total = (*totals)[*numbers];
    total.path = path.empty() ? name : path + "." + name;
    total.count += f.role == FieldRole::kPacked ? f.children.size() : 1;
    total.bytes += f.end - f.offset;
    if (f.role != FieldRole::kPacked) Add(f.children, numbers, total.path, totals);
    numbers->pop_back();
  }
}

std::string Percent(uint64_t part, uint64_t whole, bool sign = true) {
  char text[16];
  std::snprintf(text, sizeof text, sign ? "%.1f%%" : "%.1f", whole ? 100.0 * part / whole : 0.0);
  return text;
}

std::string Right(const std::string& text, size_t width) {
  return std::string(width > text.size() ? width - text.size() : 0, ' ') + text;
}

}  // namespace

int RunStats(const google::protobuf::Descriptor& type, const StatsOptions& options, Streams io) {
  SelectedMessages messages(type, options.selection, io.err);
  if (!messages.Open()) return kExitBadInput;
  Totals totals;
  std::map<uint64_t, uint64_t> sizes;  // size to count: the distinct sizes are few
  uint64_t count = 0, total = 0;
  std::vector<uint32_t> numbers;
  while (messages.Next()) {
    const std::string& bytes = messages.source().bytes;
    Add(WalkWire(type, bytes).fields, &numbers, "", &totals);
    messages.Take();
    ++sizes[bytes.size()];
    ++count;
    total += bytes.size();
  }
  if (messages.stopped()) return kExitBadInput;
  uint64_t median = 0, seen = 0;
  for (const auto& [size, n] : sizes) {
    seen += n;
    if (seen * 2 >= count) {
      median = size;
      break;
    }
  }
  const uint64_t min = count ? sizes.begin()->first : 0, max = count ? sizes.rbegin()->first : 0;
  if (options.json) {
    io.out << "{\"type\":\"" << type.full_name() << "\",\"messages\":" << count;
    if (messages.selecting()) io.out << ",\"read\":" << messages.read();
    io.out << ",\"size\":{\"min\":" << min << ",\"median\":" << median << ",\"max\":" << max
           << ",\"total\":" << total << "},\"fields\":[";
    const char* comma = "";
    for (const auto& [key, row] : totals) {
      io.out << comma << "{\"path\":\"" << row.path << "\",\"count\":" << row.count
             << ",\"bytes\":" << row.bytes << ",\"share\":" << Percent(row.bytes, total, false)
             << "}";
      comma = ",";
    }
    io.out << "]}\n";
    return messages.Finish();
  }
  io.out << count << (count == 1 ? " message of " : " messages of ") << type.full_name();
  if (messages.selecting()) io.out << ", selected from " << messages.read() << " read";
  io.out << "\n";
  if (count > 0) {
    const std::vector<std::string> columns = {std::to_string(min), std::to_string(median),
                                              std::to_string(max), std::to_string(total)};
    const char* titles[] = {"min", "median", "max", "total"};
    std::string head = "size ", row = "bytes";
    for (size_t i = 0; i < 4; ++i) {
      const size_t width = std::max(columns[i].size(), std::string(titles[i]).size());
      head += "  " + Right(titles[i], width);
      row += "  " + Right(columns[i], width);
    }
    io.out << "\n" << head << "\n" << row << "\n";
  }
  if (totals.empty()) return messages.Finish();
  size_t path_width = std::string("field").size(), count_width = 5, bytes_width = 5;
  for (const auto& [key, row] : totals) {
    path_width = std::max(path_width, row.path.size());
    count_width = std::max(count_width, std::to_string(row.count).size());
    bytes_width = std::max(bytes_width, std::to_string(row.bytes).size());
  }
  io.out << "\n" << "field" << std::string(path_width - 5, ' ') << "  "
         << Right("count", count_width) << "  " << Right("bytes", bytes_width) << "   share\n";
  for (const auto& [key, row] : totals) {
    io.out << row.path << std::string(path_width - row.path.size(), ' ') << "  "
           << Right(std::to_string(row.count), count_width) << "  "
           << Right(std::to_string(row.bytes), bytes_width) << "  "
           << Right(Percent(row.bytes, total), 6) << "\n";
  }
  return messages.Finish();
}

}  // namespace session_proto
