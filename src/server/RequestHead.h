// The head of one HTTP/1.1 request and the incremental reader that finds and parses it.
//
//   RequestHeadReader reader;
//   while (reader.append(bytesFromSocket) == RequestHeadReader::Status::needMoreData) { ... }
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace ferrylantern {

struct RequestHead
{
    std::string method;                         // as sent; compare it upper-cased
    std::string target;                         // path plus optional query, as sent
    std::map<std::string, std::string> query;   // decoded query parameters, names case-sensitive
    std::map<std::string, std::string> headers; // names lower-cased, names and values trimmed
    std::string bodyPrefix;                     // body bytes that arrived together with the head
    std::int64_t contentLength = 0;

    // The value of a header field (name in lower case), or nullopt when absent.
    std::optional<std::string_view> header(std::string_view lowerCaseName) const;
    // The value of a query parameter, or nullopt when absent.
    std::optional<std::string_view> queryValue(std::string_view name) const;
};

// Heads larger than this many bytes without their blank line are refused.
constexpr std::size_t maxHeadBytes = 1048575;
// Content-Length above 100 GiB is refused as part of the head.
constexpr std::int64_t maxContentLength = 107374182400;

// Accumulates the bytes of a connection until the blank line that ends the head, then parses it.
// Feed it whatever the socket delivered, in pieces of any size; bytes after the blank line become the
// body prefix. Once it reported complete or failed it must not be fed again.
class RequestHeadReader
{
public:
    enum class Status
    {
        needMoreData,
        complete,
        failed,
    };

    Status append(std::string_view bytes);

    // The parsed head; only after append returned complete. Moves the head out.
    RequestHead takeHead();

private:
    Status finish(std::size_t delimiterOffset);

    std::string accumulated_;
    std::size_t searchFrom_ = 0;
    RequestHead head_;
};

// Parses the text of a head (request line and header lines, without the blank line). Fails when the
// request line has fewer than two pieces. Does not look at Content-Length.
std::optional<RequestHead> parseRequestHeadText(std::string_view text);

// Parses a Content-Length value: empty means 0; otherwise an optional sign and decimal digits,
// non-negative and at most maxContentLength.
std::optional<std::int64_t> parseContentLength(std::string_view value);

// The query parameters of a request target. For a relative target the text after the first "?" is
// split at "&"; each piece's name is taken as is and its value percent-decoded (the raw text when
// decoding fails; "+" stays "+"); a later name replaces an earlier one. Absolute http(s) targets use
// the URL's query, with names decoded as well.
std::map<std::string, std::string> parseQuery(std::string_view target);

// The path a request is routed by: the target before its "?", or the path of an absolute http(s)
// URL; "/" when empty. Comparison against routes is exact and case-sensitive.
std::string routePath(std::string_view target);

} // namespace ferrylantern
