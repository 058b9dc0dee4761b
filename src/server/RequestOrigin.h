// Who a request is for and where it comes from. A web page on another site can make the desktop user's
// own browser send requests to this server: directly (a form post, a no-cors fetch) or through a name
// of its own that it later points at this machine (DNS rebinding). Such requests are recognised by
// their Host, which names another machine, or by the Origin the browser adds to every POST, which is
// not this server's own page.
//
//   if (head.header("host") && !namesThisMachine(*head.header("host"), connection.localIPv4Address())) …
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace ferrylantern {

// True when the host of a Host header value ("name", "name:port", "[v6]:port") is this machine:
// "localhost", an address of 127.0.0.0/8 or "[::1]", the address the connection came to
// (`connectionAddress`), any IPv4 address of this machine's interfaces, or its host name, with or
// without ".local". Case and a final "." do not matter.
bool namesThisMachine(std::string_view hostHeader, const std::optional<std::string>& connectionAddress);

// True when an Origin header value is this server's own: "http://" + a host that names this machine
// + the port the request was sent to (the Host header's, 80 when it names none) or the port the
// connection came to. "null" and every other origin are foreign.
bool isOwnOrigin(std::string_view origin, std::optional<std::string_view> hostHeader,
                 const std::optional<std::string>& connectionAddress, std::optional<std::uint16_t> connectionPort);

} // namespace ferrylantern
