#include "server/DownloadHeaders.h"

#include "server/ASCIIText.h"

#include <array>
#include <cstdio>

namespace ferrylantern {

namespace {

// attr-char of RFC 8187 §3.2.1: what filename* carries unencoded.
bool isAttributeCharacter(unsigned char byte)
{
    if ((byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') || (byte >= '0' && byte <= '9')) {
        return true;
    }
    constexpr std::string_view marks = "!#$&+-.^_`|~";
    return marks.find(static_cast<char>(byte)) != std::string_view::npos;
}

bool isSafeInQuotedFallback(unsigned char byte)
{
    return byte >= 0x20 && byte < 0x7F && byte != '"' && byte != '\\' && byte != '%';
}

} // namespace

std::string attachmentDisposition(std::string_view fileName)
{
    std::string fallback;
    fallback.reserve(fileName.size());
    for (const char byte : fileName) {
        fallback += isSafeInQuotedFallback(static_cast<unsigned char>(byte)) ? byte : '_';
    }
    std::string value = "attachment; filename=\"" + fallback + "\"";
    if (fallback == fileName) {
        return value;
    }
    constexpr std::string_view hex = "0123456789ABCDEF";
    value += "; filename*=UTF-8''";
    for (const char byte : fileName) {
        const auto unsignedByte = static_cast<unsigned char>(byte);
        if (isAttributeCharacter(unsignedByte)) {
            value += byte;
        } else {
            value += '%';
            value += hex[unsignedByte >> 4];
            value += hex[unsignedByte & 0x0F];
        }
    }
    return value;
}

std::string httpDate(std::time_t time)
{
    static constexpr std::array<const char*, 7> days{"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static constexpr std::array<const char*, 12> months{"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    std::tm utc{};
    gmtime_r(&time, &utc);
    std::array<char, 40> text{};
    std::snprintf(text.data(), text.size(), "%s, %02d %s %04d %02d:%02d:%02d GMT",
                  days.at(static_cast<std::size_t>(utc.tm_wday)), utc.tm_mday,
                  months.at(static_cast<std::size_t>(utc.tm_mon)), utc.tm_year + 1900, utc.tm_hour, utc.tm_min,
                  utc.tm_sec);
    return text.data();
}

std::string fileEntityTag(std::uint64_t inode, std::int64_t size, std::int64_t modifiedNanoseconds)
{
    std::array<char, 64> text{};
    std::snprintf(text.data(), text.size(), "\"%llx-%llx-%llx\"", static_cast<unsigned long long>(inode),
                  static_cast<unsigned long long>(size), static_cast<unsigned long long>(modifiedNanoseconds));
    return text.data();
}

bool ifRangeMatches(std::string_view ifRange, std::string_view entityTag, std::string_view lastModified)
{
    ifRange = trimSpacesAndTabs(ifRange);
    // A weak tag never matches (the strong comparison of §8.8.3.2).
    return ifRange == entityTag || ifRange == lastModified;
}

} // namespace ferrylantern
