// The webhook channel over libcurl: one POST per notice, https with the system's certificates.
#include "alert/webhookchannel.h"

#include <curl/curl.h>

#include <memory>
#include <mutex>

namespace {

/// libcurl's global set-up is not thread-safe; the first delivery does it, once, for the whole run.
void InitCurlOnce() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

std::size_t DiscardBody(char*, std::size_t size, std::size_t count, void*) {
    return size * count;
}

} // namespace

bool WebhookChannel::Deliver(const Notice& notice, std::string& error) {
    InitCurlOnce();
    std::unique_ptr<CURL, void (*)(CURL*)> curl(curl_easy_init(), curl_easy_cleanup);
    if (!curl) {
        error = "cannot start a transfer";
        return false;
    }
    const std::string body = NoticeJson(notice);
    std::unique_ptr<curl_slist, void (*)(curl_slist*)> headers(
        curl_slist_append(nullptr, "Content-Type: application/json"), curl_slist_free_all);
    CURL* c = curl.get();
    curl_easy_setopt(c, CURLOPT_URL, m_url.c_str());
    curl_easy_setopt(c, CURLOPT_HTTPHEADER, headers.get());
    curl_easy_setopt(c, CURLOPT_POSTFIELDS, body.c_str());
    curl_easy_setopt(c, CURLOPT_POSTFIELDSIZE, static_cast<long>(body.size()));
    curl_easy_setopt(c, CURLOPT_TIMEOUT, TimeOutSeconds);
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L); // worker threads: no SIGALRM for name look-ups
    curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, DiscardBody);
    const CURLcode result = curl_easy_perform(c);
    if (result != CURLE_OK) {
        error = curl_easy_strerror(result);
        return false;
    }
    long status = 0;
    curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &status);
    if (status < 200 || status > 299) {
        error = "HTTP status " + std::to_string(status);
        return false;
    }
    return true;
}
