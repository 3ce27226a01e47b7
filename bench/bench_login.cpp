// The [Web] login's time per attempt: a wrong user name, a wrong password and the right login
// should cost the same (one crypt(3) each), so the time of a refusal tells nothing of which user
// names exist. `bench_login [ROUNDS]` prints the median and the spread of each kind.
#include "web/basiclogin.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

// openssl passwd -6 -salt vktguard s3cret
const char* const Hash =
    "$6$vktguard$CNf8Dw/sD1FljECmDluHkHyN3kYvzNFrXY3Gu.q/CMiBW/mF8yh0NSqqO6x3G/nFPEJYdDggm/dNnNiEKq.4h0";

struct Kind {
    const char* name;
    const char* authorization;
    std::vector<double> us;
};

} // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 400;
    std::vector<Kind> kinds = {
        {"right login", "Basic b3BzOnMzY3JldA==", {}},                 // ops:s3cret
        {"right user, wrong password", "Basic b3BzOndyb25n", {}},      // ops:wrong
        {"wrong user", "Basic cm9vdDpzM2NyZXQ=", {}},                  // root:s3cret
        {"long wrong user", "Basic YWRtaW5pc3RyYXRvcjp3cm9uZw==", {}}, // administrator:wrong
    };
    // Interleaved, so a change of machine load touches every kind alike.
    for (int round = 0; round < rounds; ++round)
        for (Kind& kind : kinds) {
            const auto start = std::chrono::steady_clock::now();
            BasicLoginMatches(kind.authorization, "ops", Hash);
            kind.us.push_back(
                std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count());
        }
    for (Kind& kind : kinds) {
        std::sort(kind.us.begin(), kind.us.end());
        const auto at = [&kind](double share) { return kind.us[std::size_t(share * double(kind.us.size() - 1))]; };
        std::printf("%-28s median %8.1f us  (10%% %8.1f, 90%% %8.1f) over %d attempts\n", kind.name, at(0.5), at(0.1),
                    at(0.9), rounds);
    }
    return 0;
}
