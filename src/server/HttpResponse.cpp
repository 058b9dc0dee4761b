#include "server/HttpResponse.h"

#include <nlohmann/json.hpp>

namespace ferrylantern {

std::string_view reasonPhrase(int status)
{
    switch (status) {
    case 200:
        return "OK";
    case 204:
        return "No Content";
    case 206:
        return "Partial Content";
    case 400:
        return "Bad Request";
    case 401:
        return "Unauthorized";
    case 403:
        return "Forbidden";
    case 404:
        return "Not Found";
    case 409:
        return "Conflict";
    case 416:
        return "Range Not Satisfiable";
    case 421:
        return "Misdirected Request";
    case 429:
        return "Too Many Requests";
    case 500:
        return "Internal Server Error";
    case 503:
        return "Service Unavailable";
    default:
        return "OK";
    }
}

std::string responseHead(int status, std::string_view contentType, std::size_t bodyLength,
                         const ExtraHeaderFields& extraFields)
{
    std::string head = "HTTP/1.1 " + std::to_string(status) + " " + std::string(reasonPhrase(status)) + "\r\n";
    head += "Connection: close\r\n";
    head += "Access-Control-Allow-Origin: *\r\n";
    head += "Access-Control-Allow-Headers: Content-Type, X-FerryLantern-Session\r\n";
    for (const auto& [name, value] : extraFields) {
        head += name + ": " + value + "\r\n";
    }
    if (status != 204) {
        head += "Content-Type: " + std::string(contentType) + "\r\n";
        head += "Content-Length: " + std::to_string(bodyLength) + "\r\n";
    }
    head += "\r\n";
    return head;
}

std::string HttpResponse::bytes() const
{
    std::string bytes = responseHead(status, contentType, body.size(), extraFields);
    if (status != 204) {
        bytes.append(body);
    }
    return bytes;
}

std::optional<HttpResponse> jsonResponse(const nlohmann::json& message)
{
    try {
        return HttpResponse{200, std::string(contentType::json), message.dump(), {}};
    } catch (const nlohmann::json::exception&) {
        return std::nullopt; // a text member that is not valid UTF-8
    }
}

HttpResponse jsonResponseOrEmptyObject(const nlohmann::json& message)
{
    return jsonResponse(message).value_or(HttpResponse{200, std::string(contentType::json), "{}", {}});
}

} // namespace ferrylantern
