// The IPv4 addresses under which phones on the local network can reach this computer.
#pragma once

#include <string>
#include <vector>

namespace ferrylantern {

// Numeric IPv4 addresses of the interfaces that are up, without loopback and link-local ones, in the
// order the system lists them.
std::vector<std::string> usableIPv4Addresses();

} // namespace ferrylantern
