#include "server/ByteRange.h"

#include "server/ASCIIText.h"

#include <limits>
#include <vector>

namespace ferrylantern {

namespace {

constexpr std::int64_t unbounded = std::numeric_limits<std::int64_t>::max();

// One range-spec: "first-last", "first-" or "-suffix".
struct RangeSpec
{
    std::optional<std::int64_t> first;
    std::optional<std::int64_t> last; // with `first`: the last position; without: the suffix length
};

// One or more ASCII digits, saturating at the largest 64-bit value.
std::optional<std::int64_t> parsePosition(std::string_view digits)
{
    if (digits.empty()) {
        return std::nullopt;
    }
    std::int64_t value = 0;
    for (const char digit : digits) {
        if (digit < '0' || digit > '9') {
            return std::nullopt;
        }
        const int next = digit - '0';
        value = value > (unbounded - next) / 10 ? unbounded : value * 10 + next;
    }
    return value;
}

std::optional<RangeSpec> parseSpec(std::string_view spec)
{
    const auto dash = spec.find('-');
    if (dash == std::string_view::npos) {
        return std::nullopt;
    }
    const auto before = spec.substr(0, dash);
    const auto after = spec.substr(dash + 1);
    if (before.empty()) {
        const auto suffix = parsePosition(after);
        return suffix ? std::optional(RangeSpec{std::nullopt, suffix}) : std::nullopt;
    }
    const auto first = parsePosition(before);
    if (!first) {
        return std::nullopt;
    }
    if (after.empty()) {
        return RangeSpec{first, std::nullopt};
    }
    const auto last = parsePosition(after);
    if (!last || *last < *first) {
        return std::nullopt;
    }
    return RangeSpec{first, last};
}

// RFC 9110 §14.1.1: range-unit "=" range-set, the set a comma-separated list (OWS around the commas,
// empty elements allowed). Nullopt when anything does not fit.
std::optional<std::vector<RangeSpec>> parseRangeField(std::string_view field)
{
    field = trimSpacesAndTabs(field);
    constexpr std::string_view unit = "bytes=";
    if (!startsWithIgnoringASCIICase(field, unit)) {
        return std::nullopt;
    }
    std::vector<RangeSpec> specs;
    std::string_view rest = field.substr(unit.size());
    while (true) {
        const auto comma = rest.find(',');
        const auto element = trimSpacesAndTabs(rest.substr(0, comma));
        if (!element.empty()) {
            const auto spec = parseSpec(element);
            if (!spec) {
                return std::nullopt;
            }
            specs.push_back(*spec);
        }
        if (comma == std::string_view::npos) {
            break;
        }
        rest = rest.substr(comma + 1);
    }
    if (specs.empty()) {
        return std::nullopt;
    }
    return specs;
}

// The bytes `spec` selects of a file of `size` (> 0) bytes; nullopt when it selects none.
std::optional<ByteRange> selectedBytes(const RangeSpec& spec, std::int64_t size)
{
    if (!spec.first) {
        const std::int64_t suffix = *spec.last;
        if (suffix == 0) {
            return std::nullopt;
        }
        return ByteRange{suffix >= size ? 0 : size - suffix, size - 1};
    }
    if (*spec.first >= size) {
        return std::nullopt;
    }
    return ByteRange{*spec.first, spec.last ? std::min(*spec.last, size - 1) : size - 1};
}

} // namespace

RangeAnswer answerRange(std::optional<std::string_view> rangeField, std::int64_t size)
{
    const RangeAnswer whole{RangeOutcome::whole, {0, size - 1}};
    if (!rangeField || size <= 0) {
        return whole;
    }
    const auto specs = parseRangeField(*rangeField);
    if (!specs) {
        return whole;
    }
    std::optional<ByteRange> firstSatisfiable;
    for (const auto& spec : *specs) {
        if (const auto bytes = selectedBytes(spec, size); bytes && !firstSatisfiable) {
            firstSatisfiable = bytes;
        }
    }
    if (!firstSatisfiable) {
        return {RangeOutcome::unsatisfiable, {0, size - 1}};
    }
    if (specs->size() > 1) {
        return whole;
    }
    return {RangeOutcome::part, *firstSatisfiable};
}

std::string contentRange(const ByteRange& range, std::int64_t size)
{
    return "bytes " + std::to_string(range.first) + "-" + std::to_string(range.last) + "/" + std::to_string(size);
}

std::string unsatisfiedContentRange(std::int64_t size)
{
    return "bytes */" + std::to_string(size);
}

} // namespace ferrylantern
