// A notice POSTed as JSON to an http(s) URL (chat rooms' incoming webhooks, any receiver of ours).
#pragma once

#include "alert/noticechannel.h"

class WebhookChannel : public NoticeChannel {
public:
    explicit WebhookChannel(std::string url) : m_url(std::move(url)) {}
    /// A 2xx answer within the time-out counts as delivered; anything else is an error naming why.
    bool Deliver(const Notice& notice, std::string& error) override;

    /// Seconds the whole request may take, connection included.
    static constexpr long TimeOutSeconds = 5;

private:
    std::string m_url;
};
