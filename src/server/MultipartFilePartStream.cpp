#include "server/MultipartFilePartStream.h"

#include "server/MultipartBody.h"
#include "server/UnicodeWhitespace.h"

#include <algorithm>
#include <cstring>

namespace ferrylantern {

MultipartFilePartStream::MultipartFilePartStream(std::string_view boundary)
    : delimiter_("--" + std::string(trimWhitespaceAndNewlines(boundary)))
{
    fallback_.assign(delimiter_.size(), 0);
    std::uint32_t matched = 0;
    for (std::size_t i = 1; i < delimiter_.size(); ++i) {
        while (matched > 0 && delimiter_[i] != delimiter_[matched]) {
            matched = fallback_[matched - 1];
        }
        if (delimiter_[i] == delimiter_[matched]) {
            ++matched;
        }
        fallback_[i] = matched;
    }
}

std::error_code MultipartFilePartStream::feed(std::string_view bytes, const DataSink& sink)
{
    while (!bytes.empty() && state_ != State::done) {
        std::size_t used = 0;
        switch (state_) {
        case State::seekingDelimiter:
            used = advanceSearch(bytes);
            if (delimiterFound()) {
                matched_ = 0;
                state_ = State::afterDelimiter;
                afterCount_ = 0;
                lastWasCR_ = false;
            }
            break;
        case State::afterDelimiter:
            used = consumeAfterDelimiter(bytes);
            break;
        case State::partHeader:
            used = consumeHeader(bytes);
            break;
        case State::fileData: {
            std::error_code error;
            used = consumeFileData(bytes, sink, error);
            if (error) {
                state_ = State::done;
                return error;
            }
            break;
        }
        case State::done:
            break;
        }
        bytes.remove_prefix(used);
    }
    return {};
}

std::size_t MultipartFilePartStream::advanceSearch(std::string_view bytes)
{
    std::size_t i = 0;
    while (i < bytes.size()) {
        if (matched_ == 0) {
            // Most bytes cannot start a delimiter; the library skips those far faster than a loop.
            const void* candidate = std::memchr(bytes.data() + i, delimiter_[0], bytes.size() - i);
            if (candidate == nullptr) {
                return bytes.size();
            }
            i = static_cast<std::size_t>(static_cast<const char*>(candidate) - bytes.data());
        }
        const char byte = bytes[i++];
        while (matched_ > 0 && byte != delimiter_[matched_]) {
            matched_ = fallback_[matched_ - 1];
        }
        if (byte == delimiter_[matched_]) {
            ++matched_;
        }
        if (delimiterFound()) {
            return i;
        }
    }
    return bytes.size();
}

std::size_t MultipartFilePartStream::consumeAfterDelimiter(std::string_view bytes)
{
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const char byte = bytes[i];
        if (afterCount_ < 2) {
            afterFirst_[afterCount_++] = byte;
            if (afterCount_ == 2 && afterFirst_[0] == '-' && afterFirst_[1] == '-') {
                state_ = State::done; // the closing delimiter
                return i + 1;
            }
        }
        if (lastWasCR_ && byte == '\n') {
            state_ = State::partHeader;
            header_.clear();
            return i + 1;
        }
        lastWasCR_ = byte == '\r';
    }
    return bytes.size();
}

std::size_t MultipartFilePartStream::consumeHeader(std::string_view bytes)
{
    constexpr std::string_view blankLine = "\r\n\r\n";
    // Enough to see a blank line that starts at the longest allowed header block's end.
    constexpr std::size_t mostHeld = maxPartHeaderBytes + blankLine.size();
    const std::size_t before = header_.size();
    header_.append(bytes.substr(0, std::min(bytes.size(), mostHeld - before)));
    const auto end = header_.find(blankLine, before >= blankLine.size() - 1 ? before - (blankLine.size() - 1) : 0);
    if (end == std::string::npos || end > maxPartHeaderBytes) {
        if (end != std::string::npos || header_.size() >= mostHeld) {
            state_ = State::done; // a header block beyond the limit: no part of this body is used
            header_ = std::string();
        }
        return bytes.size();
    }
    auto header = multipartPartHeader(std::string_view(header_).substr(0, end));
    const std::size_t used = end + blankLine.size() - before;
    header_ = std::string();
    matched_ = 0;
    if (header.hasContentDisposition) {
        state_ = State::fileData;
        fileName_ = std::move(header.fileName);
        dataSeen_ = 0;
        dataHandedOn_ = 0;
        held_.clear();
    } else {
        state_ = State::seekingDelimiter; // this part's data is skipped
    }
    return used;
}

std::size_t MultipartFilePartStream::consumeFileData(std::string_view bytes, const DataSink& sink,
                                                     std::error_code& error)
{
    // The data from dataHandedOn_ on is held_, then the delimiter's first matched_ bytes, then `bytes`.
    const std::string heldBefore = held_;
    const std::size_t matchedBefore = matched_;
    const auto heldSize = static_cast<std::int64_t>(heldBefore.size());
    const auto matchedSize = static_cast<std::int64_t>(matchedBefore);
    const auto byteAt = [&](std::int64_t position) {
        const std::int64_t index = position - dataHandedOn_;
        if (index < heldSize) {
            return heldBefore[static_cast<std::size_t>(index)];
        }
        if (index < heldSize + matchedSize) {
            return delimiter_[static_cast<std::size_t>(index - heldSize)];
        }
        return bytes[static_cast<std::size_t>(index - heldSize - matchedSize)];
    };
    const auto handOnUntil = [&](std::int64_t until) -> std::error_code {
        const std::int64_t count = until - dataHandedOn_;
        const auto fromHeld = std::min(count, heldSize);
        const auto fromDelimiter = std::clamp<std::int64_t>(count - heldSize, 0, matchedSize);
        const auto fromBytes = std::max<std::int64_t>(count - heldSize - matchedSize, 0);
        for (const auto piece : {std::string_view(heldBefore).substr(0, static_cast<std::size_t>(fromHeld)),
                                 std::string_view(delimiter_).substr(0, static_cast<std::size_t>(fromDelimiter)),
                                 bytes.substr(0, static_cast<std::size_t>(fromBytes))}) {
            if (!piece.empty()) {
                if (const auto failure = sink(piece)) {
                    return failure;
                }
            }
        }
        return {};
    };

    // Bytes already handed on were never a line break before a delimiter that can still come.
    const auto isHeldByte = [&](std::int64_t position, char byte) {
        return position >= dataHandedOn_ && byteAt(position) == byte;
    };

    const std::size_t used = advanceSearch(bytes);
    const std::int64_t seen = dataSeen_ + static_cast<std::int64_t>(used);
    if (delimiterFound()) {
        const std::int64_t start = seen - static_cast<std::int64_t>(delimiter_.size());
        const bool lineBreakBefore = isHeldByte(start - 2, '\r') && isHeldByte(start - 1, '\n');
        const std::int64_t end = lineBreakBefore ? start - 2 : start;
        if ((error = handOnUntil(end))) {
            return used;
        }
        matched_ = 0;
        if (end > 0) {
            found_ = MultipartFilePartInfo{std::move(fileName_), end};
            state_ = State::done;
        } else {
            state_ = State::afterDelimiter; // no data: the next part may be the file
            afterCount_ = 0;
            lastWasCR_ = false;
        }
        return used;
    }
    // A delimiter can still begin where the match in progress began (or, with none in progress, at the
    // next byte, and then a CR just seen may begin its line break); the bytes of a line break before
    // it would not be data either.
    const std::int64_t start = seen - static_cast<std::int64_t>(matched_);
    std::int64_t certain = start;
    if (isHeldByte(start - 2, '\r') && isHeldByte(start - 1, '\n')) {
        certain = start - 2;
    } else if (isHeldByte(start - 1, '\r')) {
        certain = start - 1;
    }
    if ((error = handOnUntil(certain))) {
        return used;
    }
    std::string held;
    for (std::int64_t position = certain; position < start; ++position) {
        held += byteAt(position);
    }
    held_ = std::move(held);
    dataSeen_ = seen;
    dataHandedOn_ = certain;
    return used;
}

} // namespace ferrylantern
