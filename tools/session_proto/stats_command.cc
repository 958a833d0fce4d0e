// session-proto stats: what a stream holds, and where its bytes go.
#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "tools/session_proto/commands.h"
#include "tools/session_proto/message_source.h"
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

std::string Percent(uint64_t part, uint64_t whole) {
  char text[16];
  std::snprintf(text, sizeof text, "%.1f%%", whole ? 100.0 * part / whole : 0.0);
  return text;
}

std::string Right(const std::string& text, size_t width) {
  return std::string(width > text.size() ? width - text.size() : 0, ' ') + text;
}

}  // namespace

int RunStats(const google::protobuf::Descriptor& type, const StatsOptions& options, Streams io) {
  std::unique_ptr<MessageSource> source =
      OpenMessages(options.file, options.input, options.framing, io.err);
  if (!source) return kExitBadInput;
  Totals totals;
  std::map<uint64_t, uint64_t> sizes;  // size to count: the distinct sizes are few
  uint64_t count = 0, total = 0;
  SourcedMessage message;
  std::string error;
  std::vector<uint32_t> numbers;
  while (true) {
    MessageSource::Result result = source->Next(&message, &error);
    if (result == MessageSource::Result::kEnd) break;
    if (result != MessageSource::Result::kMessage) {
      Report(io.err, error);
      return kExitBadInput;
    }
    WireWalk walk = WalkWire(type, message.bytes);
    if (walk.fault) {
      const uint64_t base = options.framing == Framing::kDelimited ? message.offset : 0;
      Report(io.err, message.where + "byte " + std::to_string(base + walk.fault->offset) +
                         ": " + walk.fault->reason);
      return kExitBadInput;
    }
    Add(walk.fields, &numbers, "", &totals);
    ++sizes[message.bytes.size()];
    ++count;
    total += message.bytes.size();
  }

  io.out << count << (count == 1 ? " message of " : " messages of ") << type.full_name() << "\n";
  if (count > 0) {
    uint64_t median = 0, seen = 0;
    for (const auto& [size, n] : sizes) {
      seen += n;
      if (seen * 2 >= count) {
        median = size;
        break;
      }
    }
    const std::vector<std::string> columns = {
        std::to_string(sizes.begin()->first), std::to_string(median),
        std::to_string(sizes.rbegin()->first), std::to_string(total)};
    const char* titles[] = {"min", "median", "max", "total"};
    std::string head = "size ", row = "bytes";
    for (size_t i = 0; i < 4; ++i) {
      const size_t width = std::max(columns[i].size(), std::string(titles[i]).size());
      head += "  " + Right(titles[i], width);
      row += "  " + Right(columns[i], width);
    }
    io.out << "\n" << head << "\n" << row << "\n";
  }
  if (totals.empty()) return kExitOk;
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
  return kExitOk;
}

}  // namespace session_proto
