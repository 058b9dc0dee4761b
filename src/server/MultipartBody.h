// multipart/form-data bodies (RFC 7578) as other clients than the upload page send them: the
// boundary of a content type, the file name of a Content-Disposition value, what a part's header
// block says, and the first file part of a whole body. The server receives bodies in pieces
// (MultipartFilePartStream.h); the whole-body form here is the rule that one follows, written the
// plain way, and the tests hold the two to the same answers.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace ferrylantern {

// The longest header block a part may have, as for a request head: what a part says about itself
// is held until its blank line, and a hostile body must not make that memory grow without end.
inline constexpr std::size_t maxPartHeaderBytes = 1048575;

// The boundary parameter of a content type ("multipart/form-data; boundary=XYZ"), unquoted and
// trimmed; nullopt when there is none.
std::optional<std::string> multipartBoundary(std::string_view contentType);

// The file name of a Content-Disposition value: the extended form filename*=charset'lang'value
// (percent-decoded) wins over filename="…"; nullopt when neither gives a non-empty name.
std::optional<std::string> contentDispositionFileName(std::string_view value);

// What the header block of one part (the bytes between the delimiter line and the blank line) says.
struct MultipartPartHeader
{
    bool hasContentDisposition = false;  // "content-disposition" anywhere in it, in any case
    std::optional<std::string> fileName; // from its first line that starts with "content-disposition:"
};
MultipartPartHeader multipartPartHeader(std::string_view headerBlock);

struct MultipartFilePart
{
    std::optional<std::string> fileName; // from the part's Content-Disposition
    std::string_view data;               // a view into the body passed in
};

// The first part whose header block has a Content-Disposition and whose data is not empty. The body is
// walked delimiter by delimiter ("--" + boundary); a part's data ends at the line break before the next
// delimiter. nullopt when the body holds no such part, or when a part before it (or it) has a header
// block longer than maxPartHeaderBytes. The returned view points into `body`.
std::optional<MultipartFilePart> firstMultipartFilePart(std::string_view body, std::string_view boundary);

} // namespace ferrylantern
