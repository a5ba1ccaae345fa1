#include "ZipDecryptor.h"

#include <zlib.h>

namespace {

uint32_t crcOfByte(uint32_t crc, uint8_t byte)
{
    static const z_crc_t* const table = get_crc_table();
    return static_cast<uint32_t>(table[(crc ^ byte) & 0xFF]) ^ (crc >> 8);
}

} // namespace

ZipDecryptor::ZipDecryptor(const std::string& password)
{
    for (char c : password)
        update(static_cast<uint8_t>(c));
}

void ZipDecryptor::decrypt(uint8_t* data, size_t size)
{
    for (size_t i = 0; i < size; ++i) {
        const uint32_t temp = (m_keys[2] | 2) & 0xFFFF;
        data[i] = static_cast<uint8_t>(data[i] ^ ((temp * (temp ^ 1)) >> 8));
        update(data[i]);
    }
}

void ZipDecryptor::update(uint8_t plain)
{
    m_keys[0] = crcOfByte(m_keys[0], plain);
    m_keys[1] = (m_keys[1] + (m_keys[0] & 0xFF)) * 134775813 + 1;
    m_keys[2] = crcOfByte(m_keys[2], static_cast<uint8_t>(m_keys[1] >> 24));
}
