#include "server/RequestHead.h"

#include "server/ASCIIText.h"
#include "server/DecimalInteger.h"
#include "server/PercentDecoding.h"
#include "server/UTF8.h"

#include <algorithm>
#include <vector>

namespace ferrylantern {

namespace {

constexpr std::string_view headDelimiter = "\r\n\r\n";

bool isAbsoluteHTTPURL(std::string_view target)
{
    return target.starts_with("http://") || target.starts_with("https://");
}

// The parts of an absolute URL that routing needs: the path and the query, each without its
// leading "/"-less separators resolved. The fragment is dropped.
struct URLParts
{
    std::string_view path;
    std::optional<std::string_view> query;
};

URLParts splitAbsoluteURL(std::string_view url)
{
    const auto afterScheme = url.find("://") + 3;
    auto rest = url.substr(afterScheme);
    if (const auto fragment = rest.find('#'); fragment != std::string_view::npos) {
        rest = rest.substr(0, fragment);
    }
    const auto pathStart = rest.find_first_of("/?");
    if (pathStart == std::string_view::npos) {
        return {};
    }
    rest = rest.substr(pathStart);
    URLParts parts;
    if (const auto question = rest.find('?'); question != std::string_view::npos) {
        parts.path = rest.substr(0, question);
        parts.query = rest.substr(question + 1);
    } else {
        parts.path = rest;
    }
    return parts;
}

std::vector<std::string_view> splitLines(std::string_view text)
{
    std::vector<std::string_view> lines;
    std::size_t start = 0;
    while (true) {
        const auto end = text.find("\r\n", start);
        if (end == std::string_view::npos) {
            lines.push_back(text.substr(start));
            return lines;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
}

// The request line's first two space-separated pieces; runs of spaces count as one separator.
std::optional<std::pair<std::string_view, std::string_view>> methodAndTarget(std::string_view line)
{
    std::string_view pieces[2];
    std::size_t found = 0;
    std::size_t offset = 0;
    while (found < 2) {
        const auto start = line.find_first_not_of(' ', offset);
        if (start == std::string_view::npos) {
            break;
        }
        const auto end = std::min(line.find(' ', start), line.size());
        pieces[found++] = line.substr(start, end - start);
        offset = end;
    }
    if (found < 2) {
        return std::nullopt;
    }
    return std::pair{pieces[0], pieces[1]};
}

void addQueryItems(std::map<std::string, std::string>& query, std::string_view text, bool decodeNames)
{
    std::size_t start = 0;
    while (start <= text.size()) {
        const auto end = std::min(text.find('&', start), text.size());
        const auto piece = text.substr(start, end - start);
        start = end + 1;
        if (piece.empty()) {
            continue;
        }
        const auto equals = piece.find('=');
        auto name = std::string(piece.substr(0, equals));
        if (decodeNames) {
            name = percentDecoded(name).value_or(name);
        }
        std::string value;
        if (equals != std::string_view::npos) {
            const auto raw = piece.substr(equals + 1);
            value = percentDecoded(raw).value_or(std::string(raw));
        }
        query.insert_or_assign(std::move(name), std::move(value));
    }
}

} // namespace

std::optional<std::string_view> RequestHead::header(std::string_view lowerCaseName) const
{
    const auto found = headers.find(std::string(lowerCaseName));
    if (found == headers.end()) {
        return std::nullopt;
    }
    return found->second;
}

std::optional<std::string_view> RequestHead::queryValue(std::string_view name) const
{
    const auto found = query.find(std::string(name));
    if (found == query.end()) {
        return std::nullopt;
    }
    return found->second;
}

RequestHeadReader::Status RequestHeadReader::append(std::string_view bytes)
{
    accumulated_.append(bytes);
    const auto delimiter = accumulated_.find(headDelimiter, searchFrom_);
    if (delimiter != std::string::npos) {
        return finish(delimiter);
    }
    if (accumulated_.size() > maxHeadBytes) {
        return Status::failed;
    }
    // The delimiter may straddle this piece and the next one.
    searchFrom_ =
        accumulated_.size() >= headDelimiter.size() - 1 ? accumulated_.size() - (headDelimiter.size() - 1) : 0;
    return Status::needMoreData;
}

RequestHeadReader::Status RequestHeadReader::finish(std::size_t delimiterOffset)
{
    const std::string_view headText(accumulated_.data(), delimiterOffset);
    if (!isValidUTF8(headText)) {
        return Status::failed;
    }
    auto parsed = parseRequestHeadText(headText);
    if (!parsed) {
        return Status::failed;
    }
    const auto contentLength = parseContentLength(parsed->header("content-length").value_or(""));
    if (!contentLength) {
        return Status::failed;
    }
    parsed->contentLength = *contentLength;
    parsed->bodyPrefix = accumulated_.substr(delimiterOffset + headDelimiter.size());
    head_ = std::move(*parsed);
    accumulated_.clear();
    accumulated_.shrink_to_fit();
    return Status::complete;
}

RequestHead RequestHeadReader::takeHead()
{
    return std::move(head_);
}

std::optional<RequestHead> parseRequestHeadText(std::string_view text)
{
    const auto lines = splitLines(text);
    const auto requestLine = methodAndTarget(lines.front());
    if (!requestLine) {
        return std::nullopt;
    }
    RequestHead head;
    head.method = std::string(requestLine->first);
    head.target = std::string(requestLine->second);
    for (std::size_t i = 1; i < lines.size(); ++i) {
        const auto colon = lines[i].find(':');
        if (colon == std::string_view::npos) {
            continue;
        }
        auto name = asciiLowercased(trimSpacesAndTabs(lines[i].substr(0, colon)));
        head.headers.insert_or_assign(std::move(name), std::string(trimSpacesAndTabs(lines[i].substr(colon + 1))));
    }
    head.query = parseQuery(head.target);
    return head;
}

std::optional<std::int64_t> parseContentLength(std::string_view value)
{
    if (value.empty()) {
        return 0;
    }
    const auto parsed = parseDecimalInteger(value);
    if (!parsed || *parsed < 0 || *parsed > maxContentLength) {
        return std::nullopt;
    }
    return parsed;
}

std::map<std::string, std::string> parseQuery(std::string_view target)
{
    std::map<std::string, std::string> query;
    if (isAbsoluteHTTPURL(target)) {
        if (const auto parts = splitAbsoluteURL(target); parts.query) {
            addQueryItems(query, *parts.query, true);
        }
        return query;
    }
    if (const auto question = target.find('?'); question != std::string_view::npos) {
        addQueryItems(query, target.substr(question + 1), false);
    }
    return query;
}

std::string routePath(std::string_view target)
{
    auto path = target.substr(0, target.find('?'));
    if (isAbsoluteHTTPURL(path)) {
        const auto urlPath = splitAbsoluteURL(path).path;
        auto decoded = percentDecoded(urlPath).value_or(std::string(urlPath));
        // A URL's path carries no trailing slash of its own.
        if (decoded.size() > 1 && decoded.back() == '/') {
            decoded.pop_back();
        }
        return decoded.empty() ? "/" : decoded;
    }
    return path.empty() ? "/" : std::string(path);
}

} // namespace ferrylantern
