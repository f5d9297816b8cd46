#pragma once
// A file's content fingerprint: the 128-bit XXH3 hash of its bytes, kept in its canonical form (the
// bytes big-endian, as xxhsum -H2 prints them).

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

struct Fingerprint
{
    std::array<std::uint8_t, 16> bytes{};

    // The 32 lower-case hexadecimal digits xxhsum prints.
    std::string hex() const
    {
        static constexpr char kDigits[] = "0123456789abcdef";
        std::string text;
        text.reserve(32);
        for (const std::uint8_t byte : bytes) {
            text.push_back(kDigits[byte >> 4]);
            text.push_back(kDigits[byte & 15]);
        }
        return text;
    }
    std::string_view blob() const { return {reinterpret_cast<const char *>(bytes.data()), bytes.size()}; }
    bool operator==(const Fingerprint &) const = default;
};
