// The names a received file gets on disk: the safe file name, the device folder it goes into, and the
// copy names used when a name is taken. The preflight and the upload derive names with the same
// functions, so a ticket issued for a name matches the upload that presents it.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace ferrylantern {

struct RequestHead;

// The longest name a Linux file system holds, in bytes.
constexpr std::size_t maxFileNameBytes = 255;
// Device folders keep at most this many characters of the device name.
constexpr std::size_t maxDeviceFolderCharacters = 64;
// A file of a picked or dropped folder goes at most this many folders below its device folder.
constexpr std::size_t maxSubfolderLevels = 8;

// A file name that is safe to create inside the device folder: the last path component of the trimmed
// request, with "/", ":", "\\", controls, bidirectional and invisible formatting characters and
// malformed UTF-8 replaced by "_" (UnsafeCharacters.h), in NFC, shortened to 255 bytes (keeping the
// extension and whole characters), and with "_" for a leading dot, so no received file is hidden.
// Empty, "." and ".." become "upload-" plus a fresh UUID.
std::string safeFileName(std::string_view requestedName);

// The folders below the device folder that a file of a picked or dropped folder is saved in, from the
// relative path the sender gave ("Trip/Day 1"): split at "/", each component trimmed and made safe by
// the rule of safeFileName ("_" for one that shortens to nothing), empty, "." and ".." components left
// out, so the path only ever goes down; the first 8 levels kept, joined with "/". Empty when no
// component is left. The preflight and the upload derive it alike, so it is part of the ticket match.
//
//   safeSubfolderPath("/Trip/../.git/Day 1/")   // "Trip/_git/Day 1"
std::string safeSubfolderPath(std::string_view requestedPath);

// A device name made fit for a folder: trimmed, last path component, the characters of safeFileName
// replaced by "_", trimmed again, at most 64 characters and 255 bytes, "_" for a leading dot;
// "unknown-device" when nothing usable remains.
std::string sanitizedDeviceName(std::string_view deviceName);

// The name a sender gave, as the desktop shows it in its questions and transfer rows: trimmed, in NFC,
// with the characters that could disguise it replaced by "_" (UnsafeCharacters.h); otherwise as sent.
std::string shownFileName(std::string_view requestedName);

// The device label a user agent gives away: "iPhone", "iPad", "Android" or the Android model, or
// nullopt for any other agent.
std::optional<std::string> deviceLabelFromUserAgent(std::string_view userAgent);

// The folder a request's files go into: from the query ("device", "devicename", "device_name", the
// first that is not blank), else from the user agent, else from the peer's IPv4 address
// ("device-192-168-1-20"), else "device-unknown".
std::string deviceFolderFor(const RequestHead& head, const std::optional<std::string>& peerIPv4Address);

// Splits a name into base and extension: the extension follows the last dot, unless that dot starts
// or ends the name.
struct NameParts
{
    std::string_view base;
    std::optional<std::string_view> extension;
};
NameParts splitExtension(std::string_view name);

// The n-th copy name of `safeName`: base, "-", n and the extension ("photo-2.jpg"), with the base
// shortened when needed so the result still fits in 255 bytes, and the extension too when it alone
// leaves no room for the number.
std::string copyName(std::string_view safeName, int n);

} // namespace ferrylantern
