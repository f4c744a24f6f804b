// Reads back a WAV file the engine wrote, field by field, for the tests.
#pragma once

#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace kelvo::engine::testing {

struct WavContents {
    std::vector<std::uint8_t> bytes;
    bool ok = false;
    std::uint32_t u32(std::size_t at) const {
        return bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 |
               static_cast<std::uint32_t>(bytes[at + 3]) << 24;
    }
    std::uint16_t u16(std::size_t at) const {
        return static_cast<std::uint16_t>(bytes[at] | bytes[at + 1] << 8);
    }
    std::string tag(std::size_t at) const {
        return std::string(reinterpret_cast<const char*>(bytes.data() + at), 4);
    }
    std::uint32_t riffSize() const { return u32(4); }
    std::uint16_t channels() const { return u16(22); }
    std::uint32_t sampleRate() const { return u32(24); }
    std::uint32_t avgBytesPerSec() const { return u32(28); }
    std::uint16_t blockAlign() const { return u16(32); }
    std::uint16_t bitsPerSample() const { return u16(34); }
    std::uint32_t dataSize() const { return u32(40); }
    const std::uint8_t* data() const { return bytes.data() + 44; }
    std::size_t dataOnDisk() const { return bytes.size() - 44; }
    bool headerIsCanonical() const {
        return ok && tag(0) == "RIFF" && tag(8) == "WAVE" && tag(12) == "fmt " && u32(16) == 16 &&
               u16(20) == 1 && tag(36) == "data";
    }
};

inline WavContents readWav(const std::string& path) {
    WavContents w;
    std::ifstream in(path, std::ios::binary);
    w.bytes.assign(std::istreambuf_iterator<char>(in), {});
    w.ok = w.bytes.size() >= 44;
    return w;
}

} // namespace kelvo::engine::testing
