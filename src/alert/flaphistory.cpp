// The window of results behind the flapping rule.
#include "alert/flaphistory.h"

void FlapHistory::Record(bool up) {
    m_states.push_back(up);
    // One more than the window: the first change inside it compares with the result before it.
    while (static_cast<int>(m_states.size()) > m_scans + 1)
        m_states.pop_front();
}

int FlapHistory::Changes() const {
    int changes = 0;
    for (std::size_t i = 1; i < m_states.size(); ++i)
        changes += m_states[i] != m_states[i - 1];
    return changes;
}
