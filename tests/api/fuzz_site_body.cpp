// libFuzzer target: a site's fields read from an arbitrary request body, and the JSON answers made
// from whatever bytes a path or a row holds. Nothing may throw; every answer must be valid JSON.
#include "api/sitebody.h"

#include <nlohmann/json.hpp>

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    SiteFields site;
    std::optional<std::vector<std::string>> tags;
    TApiResponse refusal;
    if (ReadSiteFields(input, site, tags, refusal)) {
        for (const std::string* field :
             {&site.Code, &site.Name, &site.Address, &site.Downtime, &site.Email, &site.ContactFlag, &site.Daemon})
            if (field->size() > input.size()) __builtin_trap();
    } else if (refusal.Status != 400 || !nlohmann::json::accept(refusal.Body)) {
        __builtin_trap();
    }
    if (!nlohmann::json::accept(ApiError(404, "no site has the code " + input, input).Body)) __builtin_trap();
    return 0;
}
