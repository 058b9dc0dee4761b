#include "server/MultipartBody.h"

#include "server/ASCIIText.h"
#include "server/PercentDecoding.h"
#include "server/UnicodeWhitespace.h"

#include <vector>

namespace ferrylantern {

namespace {

std::string_view trimSpaces(std::string_view text)
{
    const auto first = text.find_first_not_of(' ');
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

// Calls visit(piece) for each piece of `text` between semicolons, trimmed of spaces, skipping empty
// ones; stops when visit returns true.
template <typename Visit>
void forEachParameter(std::string_view text, Visit visit)
{
    std::size_t start = 0;
    while (start <= text.size()) {
        const auto end = std::min(text.find(';', start), text.size());
        const auto piece = trimSpaces(text.substr(start, end - start));
        start = end + 1;
        if (!piece.empty() && visit(piece)) {
            return;
        }
    }
}

std::string_view withoutSurroundingQuotes(std::string_view value)
{
    if (value.size() > 1 && value.front() == '"' && value.back() == '"') {
        return value.substr(1, value.size() - 2);
    }
    return value;
}

// The value of the first header line of a part that starts with "content-disposition:".
std::optional<std::string_view> contentDispositionLine(std::string_view headerBlock)
{
    std::size_t start = 0;
    while (start <= headerBlock.size()) {
        const auto end = std::min(headerBlock.find("\r\n", start), headerBlock.size());
        const auto line = headerBlock.substr(start, end - start);
        if (startsWithIgnoringASCIICase(line, "content-disposition:")) {
            return line.substr(std::string_view("content-disposition:").size());
        }
        start = end + 2;
    }
    return std::nullopt;
}

// Finds the delimiter in a body. Boundaries have at most 70 characters (RFC 2046 §5.1.1), and for
// those the library's search is fast. It compares up to the whole delimiter at every position where
// the delimiter's first byte occurs, though, so a hostile boundary of thousands of "-" against a body
// of "-" would cost hours of work for one request; longer delimiters are therefore searched with
// Knuth-Morris-Pratt, linear in the body's length whatever the delimiter.
class DelimiterSearch
{
public:
    explicit DelimiterSearch(std::string delimiter)
        : delimiter_(std::move(delimiter))
    {
        if (delimiter_.size() <= maxPlainSearchLength) {
            return;
        }
        // fallback_[i]: the length of the longest proper prefix of delimiter_[0..i] that is also its suffix.
        fallback_.assign(delimiter_.size(), 0);
        std::size_t matched = 0;
        for (std::size_t i = 1; i < delimiter_.size(); ++i) {
            while (matched > 0 && delimiter_[i] != delimiter_[matched]) {
                matched = fallback_[matched - 1];
            }
            if (delimiter_[i] == delimiter_[matched]) {
                ++matched;
            }
            fallback_[i] = matched;
        }
    }

    std::size_t find(std::string_view body, std::size_t from) const
    {
        if (fallback_.empty()) {
            return body.find(delimiter_, from);
        }
        std::size_t matched = 0;
        for (std::size_t i = from; i < body.size(); ++i) {
            while (matched > 0 && body[i] != delimiter_[matched]) {
                matched = fallback_[matched - 1];
            }
            if (body[i] == delimiter_[matched]) {
                ++matched;
            }
            if (matched == delimiter_.size()) {
                return i + 1 - matched;
            }
        }
        return std::string_view::npos;
    }

private:
    static constexpr std::size_t maxPlainSearchLength = 2 + 70; // "--" and the longest valid boundary

    std::string delimiter_;
    std::vector<std::size_t> fallback_; // only for delimiters longer than maxPlainSearchLength
};

} // namespace

std::optional<std::string> multipartBoundary(std::string_view contentType)
{
    std::optional<std::string> boundary;
    forEachParameter(contentType, [&](std::string_view piece) {
        if (!startsWithIgnoringASCIICase(piece, "boundary=")) {
            return false;
        }
        boundary = std::string(trimWhitespaceAndNewlines(withoutSurroundingQuotes(piece.substr(9))));
        return true;
    });
    return boundary;
}

std::optional<std::string> contentDispositionFileName(std::string_view value)
{
    std::optional<std::string> extended;
    std::optional<std::string> plain;
    forEachParameter(value, [&](std::string_view piece) {
        if (!extended && startsWithIgnoringASCIICase(piece, "filename*=")) {
            const auto encoded =
                piece.substr(piece.find_last_of('\'') == std::string_view::npos ? std::string_view("filename*=").size()
                                                                                : piece.find_last_of('\'') + 1);
            auto decoded = percentDecoded(encoded).value_or(std::string(encoded));
            if (!decoded.empty()) {
                extended = std::move(decoded);
            }
        } else if (!plain && startsWithIgnoringASCIICase(piece, "filename=")) {
            plain = std::string(withoutSurroundingQuotes(piece.substr(std::string_view("filename=").size())));
        }
        return false;
    });
    if (extended) {
        return extended;
    }
    if (plain && !plain->empty()) {
        return plain;
    }
    return std::nullopt;
}

MultipartPartHeader multipartPartHeader(std::string_view headerBlock)
{
    MultipartPartHeader header;
    header.hasContentDisposition = asciiLowercased(headerBlock).find("content-disposition") != std::string::npos;
    if (header.hasContentDisposition) {
        if (const auto disposition = contentDispositionLine(headerBlock)) {
            header.fileName = contentDispositionFileName(*disposition);
        }
    }
    return header;
}

std::optional<MultipartFilePart> firstMultipartFilePart(std::string_view body, std::string_view boundary)
{
    const std::string delimiter = "--" + std::string(trimWhitespaceAndNewlines(boundary));
    const DelimiterSearch search(delimiter);
    std::size_t position = search.find(body, 0);
    while (position != std::string_view::npos) {
        const auto afterDelimiter = position + delimiter.size();
        if (body.substr(afterDelimiter, 2) == "--") {
            return std::nullopt; // the closing delimiter
        }
        const auto lineBreak = body.find("\r\n", afterDelimiter);
        if (lineBreak == std::string_view::npos) {
            return std::nullopt;
        }
        const auto headerStart = lineBreak + 2;
        const auto headerEnd = body.find("\r\n\r\n", headerStart);
        if (headerEnd == std::string_view::npos) {
            return std::nullopt;
        }
        const auto dataStart = headerEnd + 4;
        const auto next = search.find(body, dataStart);
        if (next == std::string_view::npos) {
            return std::nullopt; // a part that never ends
        }
        const auto dataEnd = next >= dataStart + 2 && body.substr(next - 2, 2) == "\r\n" ? next - 2 : next;
        if (headerEnd - headerStart > maxPartHeaderBytes) {
            return std::nullopt;
        }
        const auto data = body.substr(dataStart, dataEnd - dataStart);
        if (auto header = multipartPartHeader(body.substr(headerStart, headerEnd - headerStart));
            header.hasContentDisposition && !data.empty()) {
            return MultipartFilePart{std::move(header.fileName), data};
        }
        position = next;
    }
    return std::nullopt;
}

} // namespace ferrylantern
