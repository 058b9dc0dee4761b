#include "receiver/BonjourAdvertiser.h"

#include <avahi-client/client.h>
#include <avahi-client/publish.h>
#include <avahi-common/alternative.h>
#include <avahi-common/error.h>
#include <avahi-common/malloc.h>
#include <avahi-common/strlst.h>
#include <avahi-common/thread-watch.h>
#include <syslog.h>

#include <cstdio>
#include <string>

namespace ferrylantern {

namespace {

// TXT record: "v" carries the single byte 0x01, not the digit.
AvahiStringList* txtRecord()
{
    const std::uint8_t version = 0x01;
    AvahiStringList* list = avahi_string_list_add_pair_arbitrary(nullptr, "v", &version, 1);
    return avahi_string_list_add_pair(list, "proto", "http");
}

} // namespace

void logBonjourFailure(const QString& error)
{
    const QByteArray line = ("Bonjour publish failed: " + error).toUtf8();
    syslog(LOG_WARNING, "%s", line.constData());
    std::fprintf(stderr, "%s\n", line.constData());
}

// One publication with its own poll thread, client and entry group. Everything below runs either
// before the poll thread starts or on it (Avahi calls back there), so no lock of ours is needed; the
// poll thread is stopped before anything is freed.
struct BonjourAdvertiser::Publication
{
    AvahiThreadedPoll* poll = nullptr;
    AvahiClient* client = nullptr;
    AvahiEntryGroup* group = nullptr;
    std::string name;
    std::uint16_t port = 0;

    ~Publication()
    {
        if (poll != nullptr) {
            avahi_threaded_poll_stop(poll);
        }
        if (client != nullptr) {
            avahi_client_free(client); // frees the entry group with it
        }
        if (poll != nullptr) {
            avahi_threaded_poll_free(poll);
        }
    }

    void fail(const char* what, int error) const
    {
        logBonjourFailure(
            QStringLiteral("%1: %2").arg(QString::fromUtf8(what), QString::fromUtf8(avahi_strerror(error))));
    }

    void addService()
    {
        if (group == nullptr) {
            group = avahi_entry_group_new(client, &Publication::groupChanged, this);
            if (group == nullptr) {
                fail("entry group", avahi_client_errno(client));
                return;
            }
        }
        AvahiStringList* txt = txtRecord();
        const int result = avahi_entry_group_add_service_strlst(
            group, AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC, AvahiPublishFlags(0), name.c_str(),
            BonjourAdvertiser::serviceType, nullptr, nullptr, port, txt);
        avahi_string_list_free(txt);
        if (result == AVAHI_ERR_COLLISION) {
            takeAlternativeName();
            return;
        }
        if (result < 0) {
            fail("add service", result);
            return;
        }
        if (const int committed = avahi_entry_group_commit(group); committed < 0) {
            fail("commit", committed);
        }
    }

    // Another host publishes this name already: Avahi's rule picks "Name #2", "Name #3", …
    void takeAlternativeName()
    {
        char* alternative = avahi_alternative_service_name(name.c_str());
        name = alternative;
        avahi_free(alternative);
        avahi_entry_group_reset(group);
        addService();
    }

    static void groupChanged(AvahiEntryGroup* group, AvahiEntryGroupState state, void* userdata)
    {
        auto* self = static_cast<Publication*>(userdata);
        self->group = group;
        if (state == AVAHI_ENTRY_GROUP_COLLISION) {
            self->takeAlternativeName();
        } else if (state == AVAHI_ENTRY_GROUP_FAILURE) {
            self->fail("entry group", avahi_client_errno(avahi_entry_group_get_client(group)));
        }
    }

    static void clientChanged(AvahiClient* client, AvahiClientState state, void* userdata)
    {
        auto* self = static_cast<Publication*>(userdata);
        self->client = client;
        switch (state) {
        case AVAHI_CLIENT_S_RUNNING:
            self->addService();
            break;
        case AVAHI_CLIENT_S_COLLISION:
        case AVAHI_CLIENT_S_REGISTERING:
            // The host name is being (re)registered; publish again once the client runs.
            if (self->group != nullptr) {
                avahi_entry_group_reset(self->group);
            }
            break;
        case AVAHI_CLIENT_FAILURE:
            self->fail("client", avahi_client_errno(client));
            break;
        case AVAHI_CLIENT_CONNECTING:
            break;
        }
    }
};

BonjourAdvertiser::BonjourAdvertiser() = default;

BonjourAdvertiser::~BonjourAdvertiser()
{
    stop();
}

void BonjourAdvertiser::publish(std::uint16_t port, const QString& name)
{
    stop();
    auto publication = std::make_unique<Publication>();
    publication->name = name.toStdString();
    publication->port = port;
    publication->poll = avahi_threaded_poll_new();
    if (publication->poll == nullptr) {
        logBonjourFailure(QStringLiteral("cannot create the Avahi poll thread"));
        return;
    }
    int error = 0;
    // The client may call back at once, before the poll thread runs; the callback then publishes.
    publication->client = avahi_client_new(avahi_threaded_poll_get(publication->poll), AvahiClientFlags(0),
                                           &Publication::clientChanged, publication.get(), &error);
    if (publication->client == nullptr) {
        logBonjourFailure(QString::fromUtf8(avahi_strerror(error)));
        return;
    }
    if (avahi_threaded_poll_start(publication->poll) < 0) {
        logBonjourFailure(QStringLiteral("cannot start the Avahi poll thread"));
        return;
    }
    netService_ = std::move(publication);
}

void BonjourAdvertiser::stop()
{
    netService_.reset();
}

bool BonjourAdvertiser::isPublishing() const
{
    return netService_ != nullptr;
}

} // namespace ferrylantern
