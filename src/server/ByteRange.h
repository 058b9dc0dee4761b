// Range requests (RFC 9110 §14): which bytes of a file of known size a GET with a Range field is
// answered with, and the Content-Range values that say so.
//
//   const auto answer = answerRange(head.header("range"), fileSize);
//   // whole: 200 with every byte; part: 206 with answer.range; unsatisfiable: 416
//
// Pure functions; thread-safe.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace ferrylantern {

// An inclusive span of byte positions, first <= last.
struct ByteRange
{
    std::int64_t first = 0;
    std::int64_t last = 0;

    std::int64_t length() const { return last - first + 1; }
    bool operator==(const ByteRange&) const = default;
};

enum class RangeOutcome
{
    whole,         // 200: no usable Range field, or one this server answers with the whole file
    part,          // 206 with `range`
    unsatisfiable, // 416: no range overlaps the file
};

struct RangeAnswer
{
    RangeOutcome outcome = RangeOutcome::whole;
    ByteRange range; // the bytes to send: the part, or the whole file (empty for an empty file)

    bool operator==(const RangeAnswer&) const = default;
};

// The answer to a request with the Range field `rangeField` (absent: none) for a file of `size` bytes.
// - "bytes=" with one range: "first-last" (last clamped to the end), "first-" (to the end) or "-n"
//   (the last n bytes; all of them when n exceeds the size) is answered with that part (206); a first
//   position at or past the end, or "-0", is unsatisfiable (416).
// - Several ranges are answered with the whole file (200) unless none of them is satisfiable (416):
//   a download manager asks for one range at a time, and a whole file is always a correct answer.
// - Another unit, a malformed value, a range whose last position precedes its first, and any range
//   of an empty file are ignored: the whole file (RFC 9110 §14.2 lets a server ignore Range).
// Positions too large for 64 bits count as past every end.
RangeAnswer answerRange(std::optional<std::string_view> rangeField, std::int64_t size);

// "bytes first-last/size", the Content-Range of a 206.
std::string contentRange(const ByteRange& range, std::int64_t size);
// "bytes */size", the Content-Range of a 416.
std::string unsatisfiedContentRange(std::int64_t size);

} // namespace ferrylantern
