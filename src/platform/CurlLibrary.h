#pragma once
// libcurl, loaded at the first transfer instead of at every start of the program: it and the many
// libraries it needs cost a one-picture run more than the picture does. Only its header is used
// when building.
#include <curl/curl.h>

struct TCurlLibrary {
    decltype(&curl_easy_init) EasyInit;
    decltype(&curl_easy_setopt) EasySetopt;
    decltype(&curl_easy_perform) EasyPerform;
    decltype(&curl_easy_getinfo) EasyGetinfo;
    decltype(&curl_easy_cleanup) EasyCleanup;
    decltype(&curl_slist_append) SlistAppend;
    decltype(&curl_slist_free_all) SlistFreeAll;
};

// The library, loaded and initialised by the first call; null when it cannot be loaded or refuses
// to initialise.
const TCurlLibrary* CurlLibrary();
