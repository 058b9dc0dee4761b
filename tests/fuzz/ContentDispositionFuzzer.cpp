// The file name of a Content-Disposition value, the way an upload's name reaches the disk: every piece
// of the input is one parameter ("filename=…", "filename*=…" or anything else), joined by ";". The
// name found must give a safe file name. The other way round, the value a download is sent with must
// hold nothing but printable ASCII, whatever the shared file is called.
#include "server/DownloadHeaders.h"
#include "server/MultipartBody.h"
#include "server/UTF8.h"
#include "server/UploadNaming.h"
#include "tests/fuzz/FuzzSupport.h"

#include <algorithm>
#include <string>

using namespace ferrylantern;

namespace {

void check(std::string_view value)
{
    const auto name = contentDispositionFileName(value);
    if (!name) {
        return;
    }
    FUZZ_CHECK(!name->empty());
    FUZZ_CHECK(fuzz::isUsableFileName(safeFileName(*name)));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const auto input = fuzz::splitInput(data, size);
    check(input.payload);
    check(fuzz::joinedPieces(input, 0, "; "));
    const auto disposition = attachmentDisposition(validUTF8Text(input.payload));
    FUZZ_CHECK(disposition.starts_with("attachment; filename=\""));
    FUZZ_CHECK(std::all_of(disposition.begin(), disposition.end(), [](char c) { return c >= 0x20 && c < 0x7F; }));
    return 0;
}
