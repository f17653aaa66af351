// libsmbclient, loaded on first use. It brings in most of Samba's own libraries (about a hundred
// shared objects); loading them only when the network neighbourhood is browsed keeps the start of
// the program and of every `lanquill-net send` fast.
#pragma once

// Found through pkg-config's flags in platform/, under Debian's own folder elsewhere (the
// tests of platform/ get no flags of its dependencies).
#if __has_include(<libsmbclient.h>)
#include <libsmbclient.h>
#else
#include <samba-4.0/libsmbclient.h>
#endif

namespace lanquill::platform {

struct SmbClientLibrary {
    decltype(&::smbc_new_context) new_context;
    decltype(&::smbc_free_context) free_context;
    decltype(&::smbc_init_context) init_context;
    decltype(&::smbc_setDebug) setDebug;
    decltype(&::smbc_setOptionDebugToStderr) setOptionDebugToStderr;
    decltype(&::smbc_setTimeout) setTimeout;
    decltype(&::smbc_setUser) setUser;
    decltype(&::smbc_setOptionUseKerberos) setOptionUseKerberos;
    decltype(&::smbc_setOptionFallbackAfterKerberos) setOptionFallbackAfterKerberos;
    decltype(&::smbc_setOptionNoAutoAnonymousLogin) setOptionNoAutoAnonymousLogin;
    decltype(&::smbc_setFunctionAuthDataWithContext) setFunctionAuthDataWithContext;
    decltype(&::smbc_setOptionProtocols) setOptionProtocols;
    decltype(&::smbc_getFunctionOpendir) getFunctionOpendir;
    decltype(&::smbc_getFunctionReaddir) getFunctionReaddir;
    decltype(&::smbc_getFunctionClosedir) getFunctionClosedir;
    // Named pipes below IPC$, opened and used as files (messages to Windows desktops).
    decltype(&::smbc_setPort) setPort;
    decltype(&::smbc_setOptionSmbEncryptionLevel) setOptionSmbEncryptionLevel;
    decltype(&::smbc_getFunctionOpen) getFunctionOpen;
    decltype(&::smbc_getFunctionRead) getFunctionRead;
    decltype(&::smbc_getFunctionWrite) getFunctionWrite;
    decltype(&::smbc_getFunctionClose) getFunctionClose;
    decltype(&::smbc_setLogCallback) setLogCallback;

    // A new context (nullptr when none can be made) whose library messages reach nobody: even
    // at debug level 0 the library writes its own diagnostics, hex dumps of SMB signatures
    // among them, where the user reads only this program's words.
    SMBCCTX* newQuietContext() const;

    // The loaded library, or nullptr when it (or one of its functions) is not there.
    static const SmbClientLibrary* get();
};

} // namespace lanquill::platform
