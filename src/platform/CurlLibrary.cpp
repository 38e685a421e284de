#include "platform/CurlLibrary.h"

#include <dlfcn.h>

namespace {

// The library's function of the name, of the type of its declaration (only named here: taking
// its address would link the library).
template <typename TFunction>
TFunction Symbol(void* library, const char* name) {
    return reinterpret_cast<TFunction>(::dlsym(library, name));
}

const TCurlLibrary* Load() {
    void* library = ::dlopen(MORDALE_CURL_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    if (!library) return nullptr;
    static const TCurlLibrary curl{
        Symbol<decltype(&curl_easy_init)>(library, "curl_easy_init"),
        Symbol<decltype(&curl_easy_setopt)>(library, "curl_easy_setopt"),
        Symbol<decltype(&curl_easy_perform)>(library, "curl_easy_perform"),
        Symbol<decltype(&curl_easy_getinfo)>(library, "curl_easy_getinfo"),
        Symbol<decltype(&curl_easy_cleanup)>(library, "curl_easy_cleanup"),
        Symbol<decltype(&curl_slist_append)>(library, "curl_slist_append"),
        Symbol<decltype(&curl_slist_free_all)>(library, "curl_slist_free_all"),
    };
    const auto globalInit = Symbol<decltype(&curl_global_init)>(library, "curl_global_init");
    const bool complete = curl.EasyInit && curl.EasySetopt && curl.EasyPerform && curl.EasyGetinfo &&
                          curl.EasyCleanup && curl.SlistAppend && curl.SlistFreeAll;
    if (!globalInit || !complete) return nullptr;
    return globalInit(CURL_GLOBAL_DEFAULT) == CURLE_OK ? &curl : nullptr;
}

}  // namespace

// A function-local static: threads that download at once load and initialise it once.
const TCurlLibrary* CurlLibrary() {
    static const TCurlLibrary* const loaded = Load();
    return loaded;
}
