// The addresses each site code has in a scan. A code may have several rows (the unique index is code
// and address), and all are probed; the code answers only when every one of them answered, so that
// one answering address never clears the outage of another.
#pragma once

#include <map>
#include <string>
#include <vector>

class TCodeAddresses {
public:
    /// What a code's results of this scan come to so far.
    enum class Verdict { Pending, Answered, Failed };

    void Clear() { m_codes.clear(); }
    /// Counts the rows the scan is about to probe, by their codes.
    void Expect(const std::vector<std::string>& codes);
    /// Whether the code has more than one row in this scan.
    bool Several(const std::string& code) const;
    /// Records one row's result. A code with one row gets its own result; one with several gets Pending
    /// until its last row, then Answered when none failed, Failed when any did (Failed at once after a
    /// failure: nothing can clear it any more in this scan).
    Verdict Record(const std::string& code, bool answered);

private:
    struct Rows {
        int Total = 0;
        int Left = 0;
        bool AnyFailed = false;
    };
    std::map<std::string, Rows> m_codes;
};
