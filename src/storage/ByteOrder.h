#pragma once

#include <cstdint>
#include <cstring>

// Records travel in network byte order. Built from bytes so no sockets library
// is needed on any platform; compilers turn these into a single byte swap.
inline std::uint32_t hostToNet(std::uint32_t value) {
    const unsigned char bytes[4] = {static_cast<unsigned char>(value >> 24), static_cast<unsigned char>(value >> 16),
                                    static_cast<unsigned char>(value >> 8), static_cast<unsigned char>(value)};
    std::uint32_t stored;
    std::memcpy(&stored, bytes, 4);
    return stored;
}

inline std::uint32_t netToHost(std::uint32_t stored) {
    unsigned char bytes[4];
    std::memcpy(bytes, &stored, 4);
    return (std::uint32_t{bytes[0]} << 24) | (std::uint32_t{bytes[1]} << 16) | (std::uint32_t{bytes[2]} << 8) |
           std::uint32_t{bytes[3]};
}

inline std::int32_t hostToNetSigned(std::int32_t value) {
    return static_cast<std::int32_t>(hostToNet(static_cast<std::uint32_t>(value)));
}

inline std::int32_t netToHostSigned(std::int32_t stored) {
    return static_cast<std::int32_t>(netToHost(static_cast<std::uint32_t>(stored)));
}
