// The names a received file gets on disk. Pieces: the requested file name (also taken as the relative
// path of a picked folder), the device name, the user agent, and a copy number. Every name derived must
// be one the server can create inside its folder and nowhere else: never empty, ".", "..", never
// holding "/", "\\" or NUL, at most 255 bytes; a device folder also at most 64 characters; a sub-folder
// path at most 8 such names joined by "/", none of them hidden.
#include "server/ASCIIText.h"
#include "server/RequestHead.h"
#include "server/UTF8.h"
#include "server/UnicodeWhitespace.h"
#include "server/UploadNaming.h"
#include "server/UserPerceivedCharacters.h"
#include "tests/fuzz/FuzzSupport.h"

#include <string>

using namespace ferrylantern;

namespace {

void checkUsableName(const std::string& name)
{
    FUZZ_CHECK(fuzz::isUsableFileName(name));
    FUZZ_CHECK(name.find(':') == std::string::npos);
}

void checkDeviceFolder(const std::string& folder)
{
    checkUsableName(folder);
    FUZZ_CHECK(characterCount(folder) <= maxDeviceFolderCharacters);
}

void checkSubfolderPath(std::string_view path)
{
    std::size_t levels = 0;
    while (!path.empty()) {
        const auto slash = path.find('/');
        const std::string component(path.substr(0, slash));
        checkUsableName(component);
        FUZZ_CHECK(component.front() != '.');
        ++levels;
        path = slash == std::string_view::npos ? std::string_view() : path.substr(slash + 1);
        FUZZ_CHECK(slash == std::string_view::npos || !path.empty());
    }
    FUZZ_CHECK(levels <= maxSubfolderLevels);
}

int copyNumber(std::string_view bytes)
{
    std::uint32_t value = 0;
    for (const char c : bytes.substr(0, 4)) {
        value = value << 8 | static_cast<unsigned char>(c);
    }
    return static_cast<int>(1 + value % 1000000);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const auto input = fuzz::splitInput(data, size);
    const auto requested = fuzz::pieceOrEmpty(input, 0);
    const auto device = fuzz::pieceOrEmpty(input, 1);
    const auto userAgent = fuzz::pieceOrEmpty(input, 2);

    const auto safe = safeFileName(requested);
    checkUsableName(safe);
    if (!fuzz::isFreshUploadName(safe)) {
        // The preflight trims the name before deriving; the upload does not. Both must agree.
        FUZZ_CHECK(safeFileName(trimWhitespaceAndNewlines(requested)) == safe);
    }
    checkSubfolderPath(safeSubfolderPath(requested));
    const int n = copyNumber(fuzz::pieceOrEmpty(input, 3));
    const auto copy = copyName(safe, n);
    checkUsableName(copy);

    checkDeviceFolder(sanitizedDeviceName(device));
    FUZZ_CHECK(sanitizedDeviceName(trimWhitespaceAndNewlines(device)) == sanitizedDeviceName(device));
    if (const auto label = deviceLabelFromUserAgent(userAgent)) {
        checkDeviceFolder(*label);
    }

    RequestHead head;
    head.target = "/v1/upload?device=" + fuzz::percentEncoded(device);
    head.query = parseQuery(head.target);
    if (isValidUTF8(userAgent)) {
        head.headers["user-agent"] = std::string(trimSpacesAndTabs(userAgent));
    }
    checkDeviceFolder(deviceFolderFor(head, "192.168.1.20"));
    head.query.clear();
    checkDeviceFolder(deviceFolderFor(head, "192.168.1.20"));
    checkDeviceFolder(deviceFolderFor(head, std::nullopt));
    return 0;
}
