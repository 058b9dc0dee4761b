#include "server/UploadNaming.h"

#include "server/ASCIIText.h"
#include "server/RequestHead.h"
#include "server/UnicodeWhitespace.h"
#include "server/UnsafeCharacters.h"
#include "server/UserPerceivedCharacters.h"
#include "server/Uuid.h"

#include <algorithm>

namespace ferrylantern {

namespace {

constexpr std::string_view unknownDevice = "unknown-device";

std::string freshUploadName()
{
    return "upload-" + makeUUIDText();
}

// A name that stays inside the folder it is joined to.
bool isUsableComponent(std::string_view name)
{
    return !name.empty() && name != "." && name != "..";
}

// The last non-empty piece between slashes; a text made only of slashes stays "/".
std::string_view lastPathComponent(std::string_view text)
{
    const auto end = text.find_last_not_of('/');
    if (end == std::string_view::npos) {
        return text.substr(0, 1);
    }
    const auto slash = text.find_last_of('/', end);
    const auto start = slash == std::string_view::npos ? 0 : slash + 1;
    return text.substr(start, end + 1 - start);
}

// Slashes, colons and backslashes cannot be part of a file name here; NUL cannot be part of any; and
// what a sender could use to disguise a name (controls, bidirectional overrides, invisible formatting,
// malformed UTF-8) is replaced as well. The result is in NFC, so two spellings of one name are one file.
std::string withForbiddenCharactersReplaced(std::string_view text)
{
    std::string result = withUnsafeCharactersReplaced(text);
    std::replace_if(
        result.begin(), result.end(), [](char c) { return c == '/' || c == ':' || c == '\\'; }, '_');
    return result;
}

// A leading dot would hide the file or folder (and a device folder ".ssh" in a save folder that is the
// home folder would be the real one).
void revealHiddenName(std::string& name)
{
    if (!name.empty() && name.front() == '.') {
        name.front() = '_';
    }
}

// Shortens a name over 255 bytes, keeping its extension when the extension leaves room for a base.
std::string fittedFileName(std::string_view name)
{
    if (name.size() <= maxFileNameBytes) {
        return std::string(name);
    }
    const auto parts = splitExtension(name);
    if (parts.extension && parts.extension->size() + 1 < maxFileNameBytes) {
        const auto room = maxFileNameBytes - parts.extension->size() - 1;
        return std::string(parts.base.substr(0, prefixLengthWithinBytes(parts.base, room))) + "." +
               std::string(*parts.extension);
    }
    return std::string(name.substr(0, prefixLengthWithinBytes(name, maxFileNameBytes)));
}

// The safe-name rule for one path component: forbidden characters replaced, shortened to 255 bytes, a
// leading dot revealed; nullopt when nothing usable remains.
std::optional<std::string> safeComponent(std::string_view component)
{
    auto fitted = fittedFileName(withForbiddenCharactersReplaced(component));
    // Shortening keeps whole characters: a first character of more than 255 bytes (a letter with
    // hundreds of combining marks) leaves nothing, or only the dots before it.
    if (!isUsableComponent(fitted)) {
        return std::nullopt;
    }
    // This also keeps received files from taking the names of the server's own partial files, which
    // are removed when they are left over.
    revealHiddenName(fitted);
    return fitted;
}

std::optional<std::string_view> firstNonBlankQueryValue(const RequestHead& head)
{
    for (const auto* name : {"device", "devicename", "device_name"}) {
        const auto value = head.queryValue(name);
        if (value && !trimWhitespaceAndNewlines(*value).empty()) {
            return value;
        }
    }
    return std::nullopt;
}

} // namespace

std::string safeFileName(std::string_view requestedName)
{
    const auto component = lastPathComponent(trimWhitespaceAndNewlines(requestedName));
    if (component.empty() || component == "." || component == "..") {
        return freshUploadName();
    }
    if (auto safe = safeComponent(component)) {
        return std::move(*safe);
    }
    return freshUploadName();
}

std::string safeSubfolderPath(std::string_view requestedPath)
{
    std::string path;
    std::size_t levels = 0;
    std::size_t start = 0;
    while (start <= requestedPath.size() && levels < maxSubfolderLevels) {
        const auto slash = requestedPath.find('/', start);
        const auto end = slash == std::string_view::npos ? requestedPath.size() : slash;
        const auto component = trimWhitespaceAndNewlines(requestedPath.substr(start, end - start));
        start = end + 1;
        // Leaving ".." out rather than following it keeps every path below the device folder, whatever
        // the sender wrote; an absolute path starts with an empty component and is taken as relative.
        if (component.empty() || component == "." || component == "..") {
            continue;
        }
        if (!path.empty()) {
            path += '/';
        }
        // A folder cannot get a fresh random name as a file does: the preflight and the upload must
        // derive the same path.
        path += safeComponent(component).value_or("_");
        ++levels;
    }
    return path;
}

std::string shownFileName(std::string_view requestedName)
{
    return withUnsafeCharactersReplaced(trimWhitespaceAndNewlines(requestedName));
}

std::string sanitizedDeviceName(std::string_view deviceName)
{
    const auto trimmed = trimWhitespaceAndNewlines(deviceName);
    if (trimmed.empty()) {
        return std::string(unknownDevice);
    }
    const auto component = lastPathComponent(trimmed);
    if (component.empty() || component == "." || component == "..") {
        return std::string(unknownDevice);
    }
    const auto replaced = withForbiddenCharactersReplaced(component);
    auto result = std::string(trimWhitespaceAndNewlines(replaced));
    result.resize(prefixLengthInCharacters(result, maxDeviceFolderCharacters));
    result.resize(prefixLengthWithinBytes(result, maxFileNameBytes));
    // The second trim and the shortening can leave a dot name (" .." trims to ".."), which would put
    // the files into the save folder itself or beside it.
    if (!isUsableComponent(result)) {
        return std::string(unknownDevice);
    }
    revealHiddenName(result);
    return result;
}

std::optional<std::string> deviceLabelFromUserAgent(std::string_view userAgent)
{
    if (userAgent.find("iPhone") != std::string_view::npos) {
        return "iPhone";
    }
    if (userAgent.find("iPad") != std::string_view::npos) {
        return "iPad";
    }
    if (userAgent.find("Android") == std::string_view::npos) {
        return std::nullopt;
    }
    // "Mozilla/5.0 (Linux; Android 13; Pixel 7 Build/TQ3A.230805.001) …": the text after the first
    // "; " up to " Build/".
    const auto afterSeparator = userAgent.find("; ");
    if (afterSeparator == std::string_view::npos) {
        return "Android";
    }
    const auto rest = userAgent.substr(afterSeparator + 2);
    const auto build = rest.find(" Build/");
    if (build == std::string_view::npos) {
        return "Android";
    }
    const auto model = trimSpacesAndTabs(rest.substr(0, build));
    if (model.empty() || model == "Linux" || model == "Android") {
        return "Android";
    }
    return sanitizedDeviceName(model);
}

std::string deviceFolderFor(const RequestHead& head, const std::optional<std::string>& peerIPv4Address)
{
    if (const auto name = firstNonBlankQueryValue(head)) {
        return sanitizedDeviceName(*name);
    }
    if (const auto userAgent = head.header("user-agent")) {
        if (auto label = deviceLabelFromUserAgent(*userAgent)) {
            return *label;
        }
    }
    if (peerIPv4Address) {
        std::string folder = "device-" + *peerIPv4Address;
        std::replace(folder.begin() + 7, folder.end(), '.', '-');
        return folder;
    }
    return "device-unknown";
}

NameParts splitExtension(std::string_view name)
{
    const auto dot = name.find_last_of('.');
    if (dot == std::string_view::npos || dot == 0 || dot + 1 == name.size()) {
        return {name, std::nullopt};
    }
    return {name.substr(0, dot), name.substr(dot + 1)};
}

std::string copyName(std::string_view safeName, int n)
{
    const auto parts = splitExtension(safeName);
    const std::string number = "-" + std::to_string(n);
    std::string_view extension = parts.extension.value_or("");
    const std::size_t dot = parts.extension ? 1 : 0;
    // The copy keeps at least the first character of the base; an extension that leaves no room for it
    // and the number gives up its end.
    std::size_t firstCharacter = prefixLengthInCharacters(parts.base, 1);
    if (number.size() + dot + firstCharacter > maxFileNameBytes) {
        firstCharacter = 0;
    }
    if (number.size() + dot + firstCharacter + extension.size() > maxFileNameBytes) {
        const auto room = maxFileNameBytes - number.size() - dot - firstCharacter;
        extension = extension.substr(0, prefixLengthWithinBytes(extension, room));
    }
    const std::string suffix = number + (extension.empty() ? "" : "." + std::string(extension));
    const auto room = maxFileNameBytes - suffix.size();
    return std::string(parts.base.substr(0, prefixLengthWithinBytes(parts.base, room))) + suffix;
}

} // namespace ferrylantern
