#pragma once

#include "OptionStore.h"

#include <chrono>

class SecretStore;

// The option store's way to the keyring, through a SecretStore.
class SecretKeyring {
public:
    // Reads wait at most readLimit; secrets outlives the store.
    static OptionStore::Keyring of(SecretStore& secrets, std::chrono::milliseconds readLimit);
};
