// The daemon's own notices (isolation) by mail to the administrator, through the notification's server
// and sender.
#pragma once

#include "alert/noticechannel.h"

class AdminMailChannel : public NoticeChannel {
public:
    /// `server` and `sender` as [Mail] Server and Sender give them; `admin` the one recipient.
    AdminMailChannel(std::string server, std::string sender, std::string admin)
        : m_server(std::move(server)), m_sender(std::move(sender)), m_admin(std::move(admin)) {}
    /// As the site notices: with no server configured the mail counts as delivered without being sent.
    bool Deliver(const Notice& notice, std::string& error) override;

private:
    std::string m_server, m_sender, m_admin;
};
