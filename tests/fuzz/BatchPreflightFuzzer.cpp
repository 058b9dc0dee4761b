// The batch preflight's JSON body, decoded as the endpoint decodes it, and the names the endpoint
// derives from it. The first piece is the request's query (its "device" parameter counts when the
// body names no device); the other pieces are the body as it arrives. A decoded request must encode
// and decode to itself, and the names derived for the tickets must be the names the uploads derive
// later, or the tickets would never match.
#include "server/RequestHead.h"
#include "server/TransferMessages.h"
#include "server/UnicodeWhitespace.h"
#include "server/UploadNaming.h"
#include "tests/fuzz/FuzzSupport.h"

#include <nlohmann/json.hpp>
#include <string>

using namespace ferrylantern;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const auto input = fuzz::splitInput(data, size);
    const auto request = decodeMessage<TransferPreflightBatchRequest>(fuzz::joinedPieces(input, 1));
    if (!request) {
        FUZZ_CHECK(!request.error().empty());
        return 0;
    }
    const nlohmann::json encoded = *request;
    const auto again = decodeMessage<TransferPreflightBatchRequest>(encoded.dump());
    FUZZ_CHECK(again && nlohmann::json(*again) == encoded);

    // The device folder of the batch: the body's device when it is not blank, else the query's.
    RequestHead head;
    head.target = "/v1/upload/preflight/batch?" + std::string(fuzz::pieceOrEmpty(input, 0));
    head.query = parseQuery(head.target);
    if (request->device && !trimWhitespaceAndNewlines(*request->device).empty()) {
        head.query.insert_or_assign("device", std::string(trimWhitespaceAndNewlines(*request->device)));
        // The page sends the device untrimmed with each upload.
        FUZZ_CHECK(sanitizedDeviceName(*request->device) ==
                   sanitizedDeviceName(trimWhitespaceAndNewlines(*request->device)));
    }
    const auto folder = deviceFolderFor(head, "10.0.0.7");
    FUZZ_CHECK(fuzz::isUsableFileName(folder));
    FUZZ_CHECK(folder.find(':') == std::string::npos);

    for (const auto& file : request->files) {
        const std::string trimmed(trimWhitespaceAndNewlines(file.filename));
        if (trimmed.empty()) {
            continue; // refused with "无效的文件名"
        }
        const auto forTicket = safeFileName(trimmed);
        FUZZ_CHECK(fuzz::isUsableFileName(forTicket));
        // The upload derives the name from the untrimmed query parameter.
        if (!fuzz::isFreshUploadName(forTicket)) {
            FUZZ_CHECK(safeFileName(file.filename) == forTicket);
        }
    }
    return 0;
}
