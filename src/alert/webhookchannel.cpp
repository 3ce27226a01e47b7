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

/// libcurl asks this at least once a second while a transfer runs; non-zero ends the transfer.
int StopRequested(void* stop, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    return stop != nullptr && static_cast<const std::atomic<bool>*>(stop)->load() ? 1 : 0;
}

/// No answer (time-out, connection dropped, nothing at all, or a stop while waiting for it) after every
/// byte of the body went out.
bool UnansweredAfterSending(CURL* c, CURLcode result, std::size_t bodySize) {
    if (result != CURLE_OPERATION_TIMEDOUT && result != CURLE_GOT_NOTHING && result != CURLE_RECV_ERROR &&
        result != CURLE_ABORTED_BY_CALLBACK)
        return false;
    curl_off_t uploaded = 0;
    curl_easy_getinfo(c, CURLINFO_SIZE_UPLOAD_T, &uploaded);
    return uploaded >= static_cast<curl_off_t>(bodySize);
}

} // namespace

WebhookChannel::Attempt WebhookChannel::Send(const ChannelRequest& request, const std::atomic<bool>* stop) {
    Attempt attempt;
    InitCurlOnce();
    std::unique_ptr<CURL, void (*)(CURL*)> curl(curl_easy_init(), curl_easy_cleanup);
    if (!curl) {
        attempt.Error = "cannot start a transfer";
        return attempt;
    }
    const std::string& body = request.Body;
    curl_slist* list = nullptr;
    for (const std::string& header : request.Headers)
        if (curl_slist* longer = curl_slist_append(list, header.c_str())) list = longer;
    std::unique_ptr<curl_slist, void (*)(curl_slist*)> headers(list, curl_slist_free_all);
    CURL* c = curl.get();
    curl_easy_setopt(c, CURLOPT_URL, request.Url.c_str());
    curl_easy_setopt(c, CURLOPT_HTTPHEADER, headers.get());
    curl_easy_setopt(c, CURLOPT_POSTFIELDS, body.c_str());
    curl_easy_setopt(c, CURLOPT_POSTFIELDSIZE, static_cast<long>(body.size()));
    if (request.Method != "POST") curl_easy_setopt(c, CURLOPT_CUSTOMREQUEST, request.Method.c_str());
    curl_easy_setopt(c, CURLOPT_TIMEOUT, TimeOutSeconds);
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L); // worker threads: no SIGALRM for name look-ups
    curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, DiscardBody);
    curl_easy_setopt(c, CURLOPT_XFERINFOFUNCTION, StopRequested);
    curl_easy_setopt(c, CURLOPT_XFERINFODATA, const_cast<std::atomic<bool>*>(stop));
    curl_easy_setopt(c, CURLOPT_NOPROGRESS, 0L);
    const CURLcode result = curl_easy_perform(c);
    if (result != CURLE_OK) {
        attempt.Error = curl_easy_strerror(result);
        attempt.MaybeTaken = UnansweredAfterSending(c, result, body.size());
        return attempt;
    }
    curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &attempt.Status);
    if (attempt.Status < 200 || attempt.Status > 299) {
        attempt.Error = "HTTP status " + std::to_string(attempt.Status);
        return attempt;
    }
    attempt.Delivered = true;
    return attempt;
}

WebhookChannel::Attempt WebhookChannel::Post(const Notice& notice, const std::atomic<bool>* stop) const {
    return Send({"POST", m_url, {"Content-Type: application/json"}, NoticeJson(notice)}, stop);
}

bool WebhookChannel::Deliver(const Notice& notice, std::string& error) {
    Attempt attempt = Post(notice);
    error = attempt.Error;
    return attempt.Delivered;
}
