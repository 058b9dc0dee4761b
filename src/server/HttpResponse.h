// The server's responses: a value that endpoints return and the connection sends, and its bytes.
// Every response carries "Connection: close" and the CORS fields; a 204 carries neither body nor
// Content-Type nor Content-Length.
//
//   connection.send(jsonResponseOrEmptyObject(TransferUploadPreflightResponse{...}));
#pragma once

#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace ferrylantern {

namespace contentType {
inline constexpr std::string_view plainText = "text/plain; charset=utf-8";
inline constexpr std::string_view html = "text/html; charset=utf-8";
inline constexpr std::string_view json = "application/json";
inline constexpr std::string_view octetStream = "application/octet-stream";
} // namespace contentType

// The answer to OPTIONS on any path; the only response that carries Access-Control-Allow-Methods.
inline constexpr std::string_view optionsResponse =
    "HTTP/1.1 204 No Content\r\n"
    "Connection: close\r\n"
    "Access-Control-Allow-Origin: *\r\n"
    "Access-Control-Allow-Methods: GET, POST, HEAD, OPTIONS\r\n"
    "Access-Control-Allow-Headers: Content-Type, X-FerryLantern-Session\r\n"
    "\r\n";

// The interim answer to "Expect: 100-continue" (RFC 9110 §10.1.1).
inline constexpr std::string_view continueResponse = "HTTP/1.1 100 Continue\r\n\r\n";

// Reason phrases of the statuses the server sends; every other status (413, 499) says "OK", and
// clients go by the code.
std::string_view reasonPhrase(int status);

using ExtraHeaderFields = std::vector<std::pair<std::string, std::string>>;

// The status line and header fields of a response, with the blank line that ends them.
// `bodyLength` is announced as Content-Length unless the status is 204.
std::string responseHead(int status, std::string_view contentType, std::size_t bodyLength,
                         const ExtraHeaderFields& extraFields = {});

struct HttpResponse
{
    int status = 200;
    std::string contentType;
    std::string body;
    ExtraHeaderFields extraFields;

    // The status line, the header fields and, unless the status is 204, the body.
    std::string bytes() const;
};

// 200 with `message` as compact JSON; nullopt when one of its texts is not valid UTF-8.
std::optional<HttpResponse> jsonResponse(const nlohmann::json& message);
// The same, with "{}" as the body when the message cannot be encoded.
HttpResponse jsonResponseOrEmptyObject(const nlohmann::json& message);

} // namespace ferrylantern
