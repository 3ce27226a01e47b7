// Acknowledgements made on the web port or the API, stored already on the connection of the thread that
// took them, waiting for the daemon's thread to take them in: the web threads never touch the database
// connection the scan and the notices share.
#pragma once

#include <mutex>
#include <string>
#include <vector>

struct AckRequest {
    std::string Code;
    std::string By;
    std::string Comment;
};

class AckInbox {
public:
    /// Any thread.
    void Add(const AckRequest& request);
    /// Everything added so far, in order; the inbox is empty afterwards. Any thread.
    std::vector<AckRequest> Take();

private:
    std::mutex m_lock;
    std::vector<AckRequest> m_requests;
};
