// The first file part of a multipart/form-data body that arrives in pieces: the data of that part goes
// on (to a file) as it arrives, so what the parser holds never grows with the body.
//
// Contract: feed() takes the body's bytes in order, cut anywhere; whatever the cuts, the part found,
// its file name and the bytes handed to the sink are those firstMultipartFilePart() finds in the whole
// body (MultipartBody.h). Data bytes are handed on as soon as no later byte can make them part of the
// line break and delimiter that end the part; until then at most the delimiter's length plus two bytes
// wait, and of those only two are stored (the rest is a prefix of the delimiter itself). The parser
// holds a part's header block until its blank line, up to maxPartHeaderBytes. Every byte is looked at
// a bounded number of times, whatever the delimiter and the cuts (Knuth-Morris-Pratt, its state kept
// across pieces).
//
//   MultipartFilePartStream parser(boundary);
//   parser.feed(piece, [&](std::string_view data) { return file.write(data); });
//   ...
//   if (const auto& part = parser.filePart()) save(part->fileName, part->byteCount);
//
// Thread-compatible.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace ferrylantern {

struct MultipartFilePartInfo
{
    std::optional<std::string> fileName; // from the part's Content-Disposition
    std::int64_t byteCount = 0;          // of the part's data, all of it handed to the sink
};

class MultipartFilePartStream
{
public:
    // Receives data of the file part, in order; an error stops the parser and is returned by feed().
    using DataSink = std::function<std::error_code(std::string_view)>;

    // `boundary` as multipartBoundary() gives it; it is trimmed again, as the whole-body parser does.
    explicit MultipartFilePartStream(std::string_view boundary);

    // The next bytes of the body. Returns the sink's error, if it failed; bytes after a failure, after
    // the file part's end or after the body's end are not looked at.
    std::error_code feed(std::string_view bytes, const DataSink& sink);

    // The file part, once the delimiter after its data has arrived; nullopt before, and for a body
    // that holds none.
    const std::optional<MultipartFilePartInfo>& filePart() const { return found_; }

private:
    enum class State
    {
        seekingDelimiter, // the preamble, or the data of a part that is not the file
        afterDelimiter,   // the rest of a delimiter's line: "--" ends the body, a line break a header block
        partHeader,       // a part's header block, up to its blank line
        fileData,         // the data of a part with a Content-Disposition, handed on as it comes
        done,             // the file part was found, the body ended or cannot hold one
    };

    // Runs the delimiter search over `bytes`; returns how many it consumed: up to the end of the
    // first complete delimiter, or all of them.
    std::size_t advanceSearch(std::string_view bytes);
    bool delimiterFound() const { return matched_ == delimiter_.size(); }
    std::size_t consumeAfterDelimiter(std::string_view bytes);
    std::size_t consumeHeader(std::string_view bytes);
    // Consumes data bytes of a candidate part and hands on those that are certainly data.
    std::size_t consumeFileData(std::string_view bytes, const DataSink& sink, std::error_code& error);

    std::string delimiter_;
    // fallback_[i]: the length of the longest proper prefix of delimiter_[0..i] that is also its suffix.
    std::vector<std::uint32_t> fallback_;
    // The delimiter's first matched_ bytes are the last bytes seen (the search started where the
    // rules say it does: at the body's start, or at a part's data).
    std::size_t matched_ = 0;

    State state_ = State::seekingDelimiter;
    // afterDelimiter: bytes seen since the delimiter, its first two, and whether the last was CR.
    std::size_t afterCount_ = 0;
    char afterFirst_[2] = {};
    bool lastWasCR_ = false;
    // partHeader
    std::string header_;
    // fileData: positions relative to the data's start.
    std::optional<std::string> fileName_;
    std::int64_t dataSeen_ = 0;
    std::int64_t dataHandedOn_ = 0;
    // The data bytes from dataHandedOn_ up to where a delimiter may start (at most two: a possible
    // CR LF before it). The bytes from there to dataSeen_ are delimiter_'s first matched_ bytes.
    std::string held_;

    std::optional<MultipartFilePartInfo> found_;
};

} // namespace ferrylantern
