// multipart/form-data bodies (RFC 7578) as other clients than the upload page send them: the
// boundary of a content type, the file name of a Content-Disposition value, and the first file part
// of a body held in memory.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace ferrylantern {

// The boundary parameter of a content type ("multipart/form-data; boundary=XYZ"), unquoted and
// trimmed; nullopt when there is none.
std::optional<std::string> multipartBoundary(std::string_view contentType);

// The file name of a Content-Disposition value: the extended form filename*=charset'lang'value
// (percent-decoded) wins over filename="…"; nullopt when neither gives a non-empty name.
std::optional<std::string> contentDispositionFileName(std::string_view value);

struct MultipartFilePart
{
    std::optional<std::string> fileName; // from the part's Content-Disposition
    std::string_view data;               // a view into the body passed in
};

// The first part whose header block has a Content-Disposition and whose data is not empty. The body is
// walked delimiter by delimiter ("--" + boundary); a part's data ends at the line break before the next
// delimiter. nullopt when the body holds no such part. The returned view points into `body`.
std::optional<MultipartFilePart> firstMultipartFilePart(std::string_view body, std::string_view boundary);

} // namespace ferrylantern
