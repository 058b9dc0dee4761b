// The header field values of a file download: the file name the browser saves under, and the
// validators that let an interrupted download resume against the same file.
//
// Pure functions; thread-safe.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>

namespace ferrylantern {

// Content-Disposition of a download saved as `fileName` (valid UTF-8), RFC 6266:
//   attachment; filename="photo.jpg"
//   attachment; filename="_____.jpg"; filename*=UTF-8''%E6%B5%B7%E8%BE%B9%E7%85%A7%E7%89%87.jpg
// The quoted `filename` is the ASCII fallback for old clients: every byte outside printable ASCII and
// every '"', '\\' and '%' (which some clients decode) becomes "_". `filename*` (RFC 8187, which
// replaced RFC 5987) carries the real name percent-encoded, and is given whenever the fallback differs.
// Neither can carry a control character into the header.
std::string attachmentDisposition(std::string_view fileName);

// An HTTP-date in the IMF-fixdate form (RFC 9110 §5.6.7), "Sun, 06 Nov 1994 08:49:37 GMT", the same
// in every locale.
std::string httpDate(std::time_t time);

// A strong entity tag (RFC 9110 §8.8.3) for the file with this inode, size and modification time: it
// changes whenever the file is replaced or written to, so If-Range never resumes across a change.
std::string fileEntityTag(std::uint64_t inode, std::int64_t size, std::int64_t modifiedNanoseconds);

// Whether a Range still applies to the file when the request carries the If-Range field `ifRange`
// (RFC 9110 §13.1.5): when the field is the file's entity tag or exactly its Last-Modified date.
// Otherwise the file changed since the client's first part, and the whole file is sent.
bool ifRangeMatches(std::string_view ifRange, std::string_view entityTag, std::string_view lastModified);

} // namespace ferrylantern
