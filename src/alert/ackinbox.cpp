// The hand-over of acknowledgements between the web threads and the daemon's thread.
#include "alert/ackinbox.h"

void AckInbox::Add(const AckRequest& request) {
    std::lock_guard<std::mutex> hold(m_lock);
    m_requests.push_back(request);
}

std::vector<AckRequest> AckInbox::Take() {
    std::lock_guard<std::mutex> hold(m_lock);
    std::vector<AckRequest> taken;
    taken.swap(m_requests);
    return taken;
}
