#include "ZipDecryptor.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <vector>

namespace {

struct Keys {
    uint32_t k0;
    uint32_t k1;
    uint32_t k2;
};

// One stream being decrypted.
struct Lane {
    Keys keys;
    uint8_t* data;
    size_t left;
    size_t stream;
};

constexpr size_t kMostLanes = 8;

inline uint32_t crcOfByte(const z_crc_t* table, uint32_t crc, uint8_t byte)
{
    return static_cast<uint32_t>(table[(crc ^ byte) & 0xFF]) ^ (crc >> 8);
}

inline void advance(const z_crc_t* table, Keys& keys, uint8_t plain)
{
    keys.k0 = crcOfByte(table, keys.k0, plain);
    keys.k1 = (keys.k1 + (keys.k0 & 0xFF)) * 134775813 + 1;
    keys.k2 = crcOfByte(table, keys.k2, static_cast<uint8_t>(keys.k1 >> 24));
}

inline uint8_t decryptByte(const z_crc_t* table, Keys& keys, uint8_t cipher)
{
    const uint32_t temp = (keys.k2 | 2) & 0xFFFF;
    const uint8_t plain = static_cast<uint8_t>(cipher ^ ((temp * (temp ^ 1)) >> 8));
    advance(table, keys, plain);
    return plain;
}

// The next count bytes of the first Width lanes, a byte of each in turn.
template <size_t Width>
void stepLanes(const z_crc_t* table, Lane* lanes, size_t count)
{
    std::array<Keys, Width> keys;
    std::array<uint8_t*, Width> data;
    for (size_t lane = 0; lane < Width; ++lane) {
        keys[lane] = lanes[lane].keys;
        data[lane] = lanes[lane].data;
    }
    for (size_t i = 0; i < count; ++i)
        for (size_t lane = 0; lane < Width; ++lane)
            data[lane][i] = decryptByte(table, keys[lane], data[lane][i]);
    for (size_t lane = 0; lane < Width; ++lane) {
        lanes[lane].keys = keys[lane];
        lanes[lane].data += count;
        lanes[lane].left -= count;
    }
}

void stepWidest(const z_crc_t* table, Lane* lanes, size_t active)
{
    const size_t width = active >= 8 ? 8 : active >= 4 ? 4 : active >= 2 ? 2 : 1;
    size_t count = lanes[0].left;
    for (size_t lane = 1; lane < width; ++lane)
        count = std::min(count, lanes[lane].left);
    switch (width) {
    case 8: stepLanes<8>(table, lanes, count); break;
    case 4: stepLanes<4>(table, lanes, count); break;
    case 2: stepLanes<2>(table, lanes, count); break;
    default: stepLanes<1>(table, lanes, count); break;
    }
}

} // namespace

ZipDecryptor::ZipDecryptor(const std::string& password)
{
    const z_crc_t* const table = get_crc_table();
    Keys keys{m_keys[0], m_keys[1], m_keys[2]};
    for (char c : password)
        advance(table, keys, static_cast<uint8_t>(c));
    m_keys[0] = keys.k0;
    m_keys[1] = keys.k1;
    m_keys[2] = keys.k2;
}

void ZipDecryptor::decrypt(uint8_t* data, size_t size)
{
    const Stream stream{this, data, size};
    decryptTogether({&stream, 1});
}

void ZipDecryptor::decryptTogether(std::span<const Stream> streams)
{
    const z_crc_t* const table = get_crc_table();
    std::array<Lane, kMostLanes> lanes;
    size_t active = 0;
    size_t next = 0;
    // Gives lane the next stream that has data; false when none is left.
    const auto fill = [&](Lane& lane) {
        for (; next < streams.size(); ++next) {
            const Stream& stream = streams[next];
            if (stream.size == 0)
                continue;
            const uint32_t* keys = stream.decryptor->m_keys;
            lane = Lane{{keys[0], keys[1], keys[2]}, stream.data, stream.size, next++};
            return true;
        }
        return false;
    };
    while (active < kMostLanes && fill(lanes[active]))
        ++active;
    while (active > 0) {
        stepWidest(table, lanes.data(), active);
        for (size_t lane = 0; lane < active;) {
            if (lanes[lane].left > 0) {
                ++lane;
                continue;
            }
            uint32_t* keys = streams[lanes[lane].stream].decryptor->m_keys;
            keys[0] = lanes[lane].keys.k0;
            keys[1] = lanes[lane].keys.k1;
            keys[2] = lanes[lane].keys.k2;
            if (!fill(lanes[lane]))
                lanes[lane] = lanes[--active];
        }
    }
}

void ZipDecryptor::decryptEach(const std::string& password, std::span<const std::span<uint8_t>> pieces)
{
    const ZipDecryptor start(password);
    std::vector<ZipDecryptor> decryptors(pieces.size(), start);
    std::vector<Stream> streams;
    streams.reserve(pieces.size());
    for (size_t i = 0; i < pieces.size(); ++i)
        streams.push_back({&decryptors[i], pieces[i].data(), pieces[i].size()});
    decryptTogether(streams);
}
