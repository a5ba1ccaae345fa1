#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Undoes the traditional ZIP encryption (the one zipcloak applies) on one
// entry's data, from its 12-byte header on, in order.
class ZipDecryptor {
public:
    explicit ZipDecryptor(const std::string& password);
    void decrypt(uint8_t* data, size_t size);

private:
    void update(uint8_t plain);

    uint32_t m_keys[3] = {0x12345678, 0x23456789, 0x34567890};
};
