// Random identifiers: upload ids, ticket ids, record ids and PIN session tokens. Their text form is
// the 36-character upper-case hyphenated form (RFC 9562), e.g. "0F8E0C52-6A1B-4D5E-9E43-2B1C3D4E5F60".
#pragma once

#include <array>
#include <compare>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace ferrylantern {

class Uuid
{
public:
    // A freshly generated random (version 4) UUID.
    static Uuid random();

    // Parses the hyphenated text form in either case; nullopt for anything else.
    static std::optional<Uuid> parse(std::string_view text);

    // The upper-case hyphenated text form.
    std::string text() const;

    auto operator<=>(const Uuid&) const = default;

    const std::array<std::uint8_t, 16>& bytes() const { return bytes_; }

private:
    std::array<std::uint8_t, 16> bytes_{};
};

// The text form of a fresh random UUID.
std::string makeUUIDText();

} // namespace ferrylantern

template <>
struct std::hash<ferrylantern::Uuid>
{
    std::size_t operator()(const ferrylantern::Uuid& uuid) const noexcept
    {
        std::size_t value = 0;
        for (const auto byte : uuid.bytes()) {
            value = value * 131 + byte;
        }
        return value;
    }
};
