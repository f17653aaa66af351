// The keyring through QtKeychain: the Secret Service of the session (GNOME Keyring, KWallet).
// Nothing is ever written to a plain file when no keyring answers: the error says so instead.
#pragma once

#include "desktop/Desktop.h"

namespace lanquill::desktop {

class QtKeychainKeyring : public Keyring {
public:
    // The service name the secrets are filed under.
    static constexpr const char* Service = "Lanquill";

    Answer read(const QString& key) override;
    Answer write(const QString& key, const QString& secret) override;
};

} // namespace lanquill::desktop
