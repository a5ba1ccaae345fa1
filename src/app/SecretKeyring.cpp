#include "SecretKeyring.h"

#include "SecretStore.h"

OptionStore::Keyring SecretKeyring::of(SecretStore& secrets, std::chrono::milliseconds readLimit)
{
    OptionStore::Keyring keyring;
    keyring.read = [&secrets, readLimit] { return secrets.read(readLimit); };
    keyring.write = [&secrets](const std::optional<std::string>& password, std::function<void(bool)> done) {
        secrets.write(password, std::move(done));
    };
    return keyring;
}
