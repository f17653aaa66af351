#include "platform/SmbClientLibrary.h"

#include <dlfcn.h>

namespace lanquill::platform {

namespace {

template <class Function> bool bind(void* handle, const char* name, Function& function) {
    function = reinterpret_cast<Function>(dlsym(handle, name));
    return function != nullptr;
}

SmbClientLibrary* load() {
    void* handle = dlopen("libsmbclient.so.0", RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr)
        return nullptr;
    static SmbClientLibrary library;
    SmbClientLibrary& l = library;
    const bool complete =
        bind(handle, "smbc_new_context", l.new_context) &&
        bind(handle, "smbc_free_context", l.free_context) &&
        bind(handle, "smbc_init_context", l.init_context) &&
        bind(handle, "smbc_setDebug", l.setDebug) &&
        bind(handle, "smbc_setOptionDebugToStderr", l.setOptionDebugToStderr) &&
        bind(handle, "smbc_setTimeout", l.setTimeout) && bind(handle, "smbc_setUser", l.setUser) &&
        bind(handle, "smbc_setOptionUseKerberos", l.setOptionUseKerberos) &&
        bind(handle, "smbc_setOptionFallbackAfterKerberos", l.setOptionFallbackAfterKerberos) &&
        bind(handle, "smbc_setOptionNoAutoAnonymousLogin", l.setOptionNoAutoAnonymousLogin) &&
        bind(handle, "smbc_setFunctionAuthDataWithContext", l.setFunctionAuthDataWithContext) &&
        bind(handle, "smbc_setOptionProtocols", l.setOptionProtocols) &&
        bind(handle, "smbc_getFunctionOpendir", l.getFunctionOpendir) &&
        bind(handle, "smbc_getFunctionReaddir", l.getFunctionReaddir) &&
        bind(handle, "smbc_getFunctionClosedir", l.getFunctionClosedir) &&
        bind(handle, "smbc_setPort", l.setPort) &&
        bind(handle, "smbc_setOptionSmbEncryptionLevel", l.setOptionSmbEncryptionLevel) &&
        bind(handle, "smbc_getFunctionOpen", l.getFunctionOpen) &&
        bind(handle, "smbc_getFunctionRead", l.getFunctionRead) &&
        bind(handle, "smbc_getFunctionWrite", l.getFunctionWrite) &&
        bind(handle, "smbc_getFunctionClose", l.getFunctionClose) &&
        bind(handle, "smbc_setLogCallback", l.setLogCallback);
    // The library stays loaded for the rest of the run: its contexts may outlive any caller.
    return complete ? &library : nullptr;
}

void discardMessage(void*, int, const char*) {}

} // namespace

SMBCCTX* SmbClientLibrary::newQuietContext() const {
    SMBCCTX* ctx = new_context();
    if (ctx == nullptr)
        return nullptr;
    // The callback is the library's one log for the whole process, and it must be in place
    // before the context starts. Standard error stays the fallback, as standard output carries
    // what `lanquill-net view` lists.
    setLogCallback(ctx, nullptr, discardMessage);
    setDebug(ctx, 0);
    setOptionDebugToStderr(ctx, true);
    return ctx;
}

const SmbClientLibrary* SmbClientLibrary::get() {
    static const SmbClientLibrary* library = load();
    return library;
}

} // namespace lanquill::platform
