#include "platform/DesktopKeyring.h"

#include <cstdint>
#include <cstdlib>
#include <dlfcn.h>
#include <string>
#include <unistd.h>

namespace lanquill::platform {

namespace {

// libsecret's public structures, as its C interface lays them out (its headers are not needed
// at build time: the library is loaded only when a password is looked up).
struct SecretSchemaAttribute {
    const char* name;
    int type; // 0: string
};

struct SecretSchema {
    const char* name;
    int flags;
    SecretSchemaAttribute attributes[32];
    int reserved;
    void* reserved1;
    void* reserved2;
    void* reserved3;
    void* reserved4;
    void* reserved5;
    void* reserved6;
    void* reserved7;
};

struct GError {
    std::uint32_t domain;
    int code;
    char* message;
};

constexpr int DontMatchName = 1 << 1;

// QtKeychain's schema: its items are found by these attributes whatever schema name they carry.
const SecretSchema QtKeychainSchema = {"org.qt.keychain",
                                       DontMatchName,
                                       {{"user", 0}, {"server", 0}, {"type", 0}, {nullptr, 0}},
                                       0,
                                       nullptr,
                                       nullptr,
                                       nullptr,
                                       nullptr,
                                       nullptr,
                                       nullptr,
                                       nullptr};

using LookupSync = char* (*)(const SecretSchema*, void*, GError**, ...);
using PasswordFree = void (*)(char*);
using ErrorFree = void (*)(GError*);

// Without a session bus, GLib would start one of its own (X11 autolaunch): not for a lookup.
bool haveSessionBus() {
    if (const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
        address != nullptr && *address != '\0')
        return true;
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    return runtime != nullptr && *runtime != '\0' &&
           ::access((std::string(runtime) + "/bus").c_str(), F_OK) == 0;
}

std::optional<std::string> decodeBase64(std::string_view text) {
    std::string out;
    std::uint32_t bits = 0;
    int count = 0;
    for (const char c : text) {
        int value = -1;
        if (c >= 'A' && c <= 'Z')
            value = c - 'A';
        else if (c >= 'a' && c <= 'z')
            value = c - 'a' + 26;
        else if (c >= '0' && c <= '9')
            value = c - '0' + 52;
        else if (c == '+')
            value = 62;
        else if (c == '/')
            value = 63;
        else if (c == '=')
            break;
        else
            return std::nullopt;
        bits = (bits << 6) | static_cast<std::uint32_t>(value);
        count += 6;
        if (count >= 8) {
            count -= 8;
            out.push_back(static_cast<char>((bits >> count) & 0xFF));
        }
    }
    return out;
}

} // namespace

std::optional<std::string> keyringPassword(std::string_view service, std::string_view key) {
    if (!haveSessionBus())
        return std::nullopt;
    void* library = ::dlopen("libsecret-1.so.0", RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr)
        return std::nullopt;
    const auto lookup =
        reinterpret_cast<LookupSync>(::dlsym(library, "secret_password_lookup_sync"));
    const auto release = reinterpret_cast<PasswordFree>(::dlsym(library, "secret_password_free"));
    const auto dropError = reinterpret_cast<ErrorFree>(::dlsym(library, "g_error_free"));
    if (lookup == nullptr || release == nullptr || dropError == nullptr)
        return std::nullopt;
    const std::string user(key);
    const std::string server(service);
    // QtKeychain keeps a text as it is and other data in base64, and says which in "type".
    for (const char* type : {"plaintext", "base64"}) {
        GError* error = nullptr;
        char* secret = lookup(&QtKeychainSchema, nullptr, &error, "user", user.c_str(), "server",
                              server.c_str(), "type", type, static_cast<char*>(nullptr));
        if (error != nullptr) {
            dropError(error);
            return std::nullopt;
        }
        if (secret == nullptr)
            continue;
        std::string found(secret);
        release(secret);
        if (std::string_view(type) == "plaintext")
            return found;
        return decodeBase64(found);
    }
    // libsecret stays loaded: its threads outlive the lookup.
    return std::nullopt;
}

} // namespace lanquill::platform
