// A notice POSTed as JSON to an http(s) URL (chat rooms' incoming webhooks, any receiver of ours).
#pragma once

#include "alert/channel.h"
#include "alert/noticechannel.h"

#include <atomic>

class WebhookChannel : public NoticeChannel {
public:
    explicit WebhookChannel(std::string url) : m_url(std::move(url)) {}

    /// What one POST came to.
    struct Attempt {
        bool Delivered = false;
        /// The whole request went out but no answer came (or a stop ended the wait for it): the receiver
        /// may hold the notice, so sending it again could double it.
        bool MaybeTaken = false;
        std::string Error;
        /// The answer's HTTP status; 0 without one.
        long Status = 0;
    };
    /// Sends one request; a `stop` that turns true ends it within about a second (an error, not delivered).
    static Attempt Send(const ChannelRequest& request, const std::atomic<bool>* stop = nullptr);
    /// One POST; a `stop` that turns true ends it within about a second (an error, not delivered).
    Attempt Post(const Notice& notice, const std::atomic<bool>* stop = nullptr) const;
    /// A 2xx answer within the time-out counts as delivered; anything else is an error naming why.
    bool Deliver(const Notice& notice, std::string& error) override;

    /// Seconds the whole request may take, connection included.
    static constexpr long TimeOutSeconds = 5;

private:
    std::string m_url;
};
