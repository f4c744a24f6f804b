// Reads back a WAV file the engine wrote.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace kelvo::engine::testing {

struct Wav {
    std::vector<std::uint8_t> b; // zero-filled to the 44 header bytes when the file is shorter
    std::size_t fileSize = 0;

    std::uint32_t u16(std::size_t at) const { return b[at] | b[at + 1] << 8; }
    std::uint32_t u32(std::size_t at) const { return u16(at) | u16(at + 2) << 16; }
    std::uint32_t riffSize() const { return u32(4); }
    std::uint32_t dataSize() const { return u32(40); }
    std::uint32_t blockAlign() const { return u16(32); }
    std::size_t frames() const { return dataSize() / std::max(blockAlign(), 1u); }
    bool canonical() const {
        return fileSize >= 44 && std::memcmp(b.data(), "RIFF", 4) == 0 &&
               std::memcmp(&b[8], "WAVEfmt ", 8) == 0 && u32(16) == 16 && u16(20) == 1 &&
               std::memcmp(&b[36], "data", 4) == 0;
    }
};

inline Wav readWav(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    Wav w{{std::istreambuf_iterator<char>(in), {}}};
    w.fileSize = w.b.size();
    w.b.resize(std::max<std::size_t>(w.fileSize, 44));
    return w;
}

// A finished file: both sizes count exactly the bytes on disk; the format is checked when given.
inline void expectComplete(const Wav& w, unsigned channels = 0, unsigned rate = 0) {
    EXPECT_TRUE(w.canonical());
    EXPECT_EQ(w.riffSize(), w.fileSize - 8);
    EXPECT_EQ(w.dataSize(), w.fileSize - 44);
    if (channels == 0)
        return;
    EXPECT_EQ(w.u16(22), channels);
    EXPECT_EQ(w.u32(24), rate);
    EXPECT_EQ(w.u32(28), rate * channels * channels);
    EXPECT_EQ(w.blockAlign(), channels * channels);
    EXPECT_EQ(w.u16(34), 8 * channels);
}

} // namespace kelvo::engine::testing
