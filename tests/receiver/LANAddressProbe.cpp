// Prints the host's usable addresses as "id<TAB>label" lines, best first; used by the tests inside a
// private network namespace.
#include "receiver/LANAddresses.h"

#include <cstdio>

int main()
{
    for (const auto& address : ferrylantern::discoverLANIPv4Addresses()) {
        std::printf("%s\t%s\n", address.id().toUtf8().constData(), address.label.toUtf8().constData());
    }
    return 0;
}
