// The name under which this computer presents itself to phones: the page title, the info endpoint
// and the DNS-SD service name.
#pragma once

#include <filesystem>
#include <string>

namespace ferrylantern {

// PRETTY_HOSTNAME from `machineInfo` (systemd's /etc/machine-info) when set, else the host name;
// "Mac" when both are empty, which is the name the page and the service fall back to.
std::string localComputerName(const std::filesystem::path& machineInfo = "/etc/machine-info");

} // namespace ferrylantern
