#include "server/TransferMessages.h"

#include <limits>

namespace ferrylantern {

namespace {

using nlohmann::json;

// The library converts numbers and Booleans into one another silently; a message member of the
// wrong type must fail instead, with the library's own kind of error text.
[[noreturn]] void throwTypeMismatch(const json& member, std::string_view key, std::string_view expected)
{
    throw json::type_error::create(302,
                                   "type must be " + std::string(expected) + " for member '" + std::string(key) +
                                       "', but is " + member.type_name(),
                                   &member);
}

const json& requiredMember(const json& object, std::string_view key)
{
    if (!object.is_object()) {
        throw json::type_error::create(302, std::string("type must be object, but is ") + object.type_name(), &object);
    }
    return object.at(key);
}

std::string requiredString(const json& object, std::string_view key)
{
    const json& member = requiredMember(object, key);
    if (!member.is_string()) {
        throwTypeMismatch(member, key, "string");
    }
    return member.get<std::string>();
}

std::optional<std::string> optionalString(const json& object, std::string_view key)
{
    if (!object.is_object()) {
        requiredMember(object, key);
    }
    const auto found = object.find(key);
    if (found == object.end() || found->is_null()) {
        return std::nullopt;
    }
    if (!found->is_string()) {
        throwTypeMismatch(*found, key, "string");
    }
    return found->get<std::string>();
}

std::optional<bool> optionalBool(const json& object, std::string_view key)
{
    const auto found = object.find(key);
    if (found == object.end() || found->is_null()) {
        return std::nullopt;
    }
    if (!found->is_boolean()) {
        throwTypeMismatch(*found, key, "boolean");
    }
    return found->get<bool>();
}

bool requiredBool(const json& object, std::string_view key)
{
    const json& member = requiredMember(object, key);
    if (!member.is_boolean()) {
        throwTypeMismatch(member, key, "boolean");
    }
    return member.get<bool>();
}

std::int64_t requiredInt64(const json& object, std::string_view key)
{
    const json& member = requiredMember(object, key);
    if (member.is_number_unsigned()) {
        const auto value = member.get<std::uint64_t>();
        if (value > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
            throw json::out_of_range::create(
                406, "number " + member.dump() + " for member '" + std::string(key) + "' does not fit a 64-bit integer",
                &member);
        }
        return static_cast<std::int64_t>(value);
    }
    if (!member.is_number_integer()) {
        throwTypeMismatch(member, key, "integer");
    }
    return member.get<std::int64_t>();
}

template <typename Item>
std::vector<Item> requiredArray(const json& object, std::string_view key)
{
    const json& member = requiredMember(object, key);
    if (!member.is_array()) {
        throwTypeMismatch(member, key, "array");
    }
    return member.get<std::vector<Item>>();
}

} // namespace

void to_json(json& j, const TransferInfoResponse& value)
{
    j = json{{"name", value.name},
             {"platform", value.platform},
             {"protocolVersion", value.protocolVersion},
             {"apiVersion", value.apiVersion},
             {"capabilities", value.capabilities},
             {"pinRequired", value.pinRequired}};
    if (value.pinAuthorized) {
        j["pinAuthorized"] = *value.pinAuthorized;
    }
}

void from_json(const json& j, TransferInfoResponse& value)
{
    value.name = requiredString(j, "name");
    value.platform = requiredString(j, "platform");
    value.protocolVersion = static_cast<int>(requiredInt64(j, "protocolVersion"));
    value.apiVersion = static_cast<int>(requiredInt64(j, "apiVersion"));
    value.capabilities = requiredArray<std::string>(j, "capabilities");
    value.pinRequired = requiredBool(j, "pinRequired");
    value.pinAuthorized = optionalBool(j, "pinAuthorized");
}

void to_json(json& j, const TransferPINVerifyRequest& value)
{
    j = json{{"pin", value.pin}};
}

void from_json(const json& j, TransferPINVerifyRequest& value)
{
    value.pin = requiredString(j, "pin");
}

void to_json(json& j, const TransferPINVerifyResponse& value)
{
    j = json{{"ok", value.ok}};
    if (value.sessionToken) {
        j["sessionToken"] = *value.sessionToken;
    }
}

void from_json(const json& j, TransferPINVerifyResponse& value)
{
    value.ok = requiredBool(j, "ok");
    value.sessionToken = optionalString(j, "sessionToken");
}

void to_json(json& j, const TransferUploadPreflightResponse& value)
{
    j = json{{"approved", value.approved}, {"uploadId", value.uploadId}};
}

void from_json(const json& j, TransferUploadPreflightResponse& value)
{
    value.approved = requiredBool(j, "approved");
    value.uploadId = requiredString(j, "uploadId");
}

void to_json(json& j, const TransferPreflightBatchFileItem& value)
{
    j = json{{"filename", value.filename}, {"byteCount", value.byteCount}};
    if (value.path) {
        j["path"] = *value.path;
    }
}

void from_json(const json& j, TransferPreflightBatchFileItem& value)
{
    value.filename = requiredString(j, "filename");
    value.byteCount = requiredInt64(j, "byteCount");
    value.path = optionalString(j, "path");
}

void to_json(json& j, const TransferPreflightBatchRequest& value)
{
    j = json{{"files", value.files}};
    if (value.device) {
        j["device"] = *value.device;
    }
}

void from_json(const json& j, TransferPreflightBatchRequest& value)
{
    value.device = optionalString(j, "device");
    value.files = requiredArray<TransferPreflightBatchFileItem>(j, "files");
}

void to_json(json& j, const TransferPreflightBatchResultItem& value)
{
    j = json{{"uploadId", value.uploadId}, {"filename", value.filename}};
}

void from_json(const json& j, TransferPreflightBatchResultItem& value)
{
    value.uploadId = requiredString(j, "uploadId");
    value.filename = requiredString(j, "filename");
}

void to_json(json& j, const TransferUploadPreflightBatchResponse& value)
{
    j = json{{"approved", value.approved}, {"items", value.items}};
}

void from_json(const json& j, TransferUploadPreflightBatchResponse& value)
{
    value.approved = requiredBool(j, "approved");
    value.items = requiredArray<TransferPreflightBatchResultItem>(j, "items");
}

void to_json(json& j, const TransferUploadResponse& value)
{
    j = json{{"id", value.id},
             {"fileName", value.fileName},
             {"byteCount", value.byteCount},
             {"savedPath", value.savedPath},
             {"deviceFolder", value.deviceFolder}};
    if (value.path) {
        j["path"] = *value.path;
    }
}

void from_json(const json& j, TransferUploadResponse& value)
{
    value.id = requiredString(j, "id");
    value.fileName = requiredString(j, "fileName");
    value.byteCount = requiredInt64(j, "byteCount");
    value.savedPath = requiredString(j, "savedPath");
    value.deviceFolder = requiredString(j, "deviceFolder");
    value.path = optionalString(j, "path");
}

void to_json(json& j, const TransferUploadResumeResponse& value)
{
    j = json{{"uploadId", value.uploadId}, {"offset", value.offset}, {"byteCount", value.byteCount}};
    if (value.fileName) {
        j["fileName"] = *value.fileName;
    }
    if (value.deviceFolder) {
        j["deviceFolder"] = *value.deviceFolder;
    }
}

void from_json(const json& j, TransferUploadResumeResponse& value)
{
    value.uploadId = requiredString(j, "uploadId");
    value.offset = requiredInt64(j, "offset");
    value.byteCount = requiredInt64(j, "byteCount");
    value.fileName = optionalString(j, "fileName");
    value.deviceFolder = optionalString(j, "deviceFolder");
}

void to_json(json& j, const TransferUploadSliceResponse& value)
{
    j = json{{"uploadId", value.uploadId}, {"offset", value.offset}};
}

void from_json(const json& j, TransferUploadSliceResponse& value)
{
    value.uploadId = requiredString(j, "uploadId");
    value.offset = requiredInt64(j, "offset");
}

void to_json(json& j, const TransferUploadOffsetResponse& value)
{
    j = json{{"offset", value.offset}};
}

void from_json(const json& j, TransferUploadOffsetResponse& value)
{
    value.offset = requiredInt64(j, "offset");
}

void to_json(json& j, const TransferUploadResumeError& value)
{
    j = json{{"error", value.error}};
}

void from_json(const json& j, TransferUploadResumeError& value)
{
    value.error = requiredString(j, "error");
}

void to_json(json& j, const TransferUploadCancelResponse& value)
{
    j = json{{"uploadId", value.uploadId}, {"cancelled", value.cancelled}};
}

void from_json(const json& j, TransferUploadCancelResponse& value)
{
    value.uploadId = requiredString(j, "uploadId");
    value.cancelled = requiredBool(j, "cancelled");
}

void to_json(json& j, const TransferTextRequest& value)
{
    j = json{{"text", value.text}};
    if (value.device) {
        j["device"] = *value.device;
    }
}

void from_json(const json& j, TransferTextRequest& value)
{
    value.text = requiredString(j, "text");
    value.device = optionalString(j, "device");
}

void to_json(json& j, const TransferTextResponse& value)
{
    j = json{{"id", value.id}, {"byteCount", value.byteCount}, {"deviceFolder", value.deviceFolder}};
}

void from_json(const json& j, TransferTextResponse& value)
{
    value.id = requiredString(j, "id");
    value.byteCount = requiredInt64(j, "byteCount");
    value.deviceFolder = requiredString(j, "deviceFolder");
}

void to_json(json& j, const TransferSharedItem& value)
{
    j = json{{"id", value.id}, {"kind", value.kind}, {"byteCount", value.byteCount}};
    if (value.name) {
        j["name"] = *value.name;
    }
    if (value.text) {
        j["text"] = *value.text;
    }
}

void from_json(const json& j, TransferSharedItem& value)
{
    value.id = requiredString(j, "id");
    value.kind = requiredString(j, "kind");
    value.name = optionalString(j, "name");
    value.byteCount = requiredInt64(j, "byteCount");
    value.text = optionalString(j, "text");
}

void to_json(json& j, const TransferSharedListResponse& value)
{
    j = json{{"items", value.items}};
}

void from_json(const json& j, TransferSharedListResponse& value)
{
    value.items = requiredArray<TransferSharedItem>(j, "items");
}

} // namespace ferrylantern
