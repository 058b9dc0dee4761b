#include "server/Uuid.h"

#include <uuid/uuid.h>

namespace ferrylantern {

namespace {

constexpr std::size_t uuidTextLength = 36;

} // namespace

Uuid Uuid::random()
{
    Uuid uuid;
    uuid_generate_random(uuid.bytes_.data());
    return uuid;
}

std::optional<Uuid> Uuid::parse(std::string_view text)
{
    if (text.size() != uuidTextLength) {
        return std::nullopt;
    }
    // uuid_parse wants a terminated string and accepts exactly the hyphenated form.
    char terminated[uuidTextLength + 1];
    text.copy(terminated, uuidTextLength);
    terminated[uuidTextLength] = '\0';
    Uuid uuid;
    if (uuid_parse(terminated, uuid.bytes_.data()) != 0) {
        return std::nullopt;
    }
    return uuid;
}

std::string Uuid::text() const
{
    char buffer[uuidTextLength + 1];
    uuid_unparse_upper(bytes_.data(), buffer);
    return std::string(buffer, uuidTextLength);
}

std::string makeUUIDText()
{
    return Uuid::random().text();
}

} // namespace ferrylantern
