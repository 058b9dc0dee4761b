// Advertises the running server by DNS-SD ("_ferrylantern._tcp" in "local.", named after the computer,
// TXT "v" = the byte 0x01 and "proto" = "http") through the Avahi daemon, so clients on the network can
// find it without typing an address. Failures are only logged ("Bonjour publish failed: …" to the
// system log and standard error); the server runs on regardless. When the name is taken on the
// network, Avahi's alternative name ("Name #2") is published instead.
//
// Owner's thread only; Avahi's callbacks run on its own poll thread and touch only what they own.
#pragma once

#include <QString>

#include <cstdint>
#include <memory>

namespace ferrylantern {

class BonjourAdvertiser
{
public:
    static constexpr auto serviceType = "_ferrylantern._tcp";

    BonjourAdvertiser();
    ~BonjourAdvertiser();
    BonjourAdvertiser(const BonjourAdvertiser&) = delete;
    BonjourAdvertiser& operator=(const BonjourAdvertiser&) = delete;

    // Withdraws any earlier publication, then publishes `name` on `port`.
    void publish(std::uint16_t port, const QString& name);
    // Withdraws the publication; nothing happens when none is active.
    void stop();

    bool isPublishing() const;

private:
    struct Publication;
    std::unique_ptr<Publication> netService_;
};

// Writes the one diagnostic line the receiver ever logs.
void logBonjourFailure(const QString& error);

} // namespace ferrylantern
