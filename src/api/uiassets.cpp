// UiAnswer: the pages' headers. No inline script or style is allowed, and nothing from elsewhere.
#include "api/uiassets.h"

#include "api/sitebody.h"

namespace {
constexpr const char* ContentSecurityPolicy =
    "default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self'; connect-src 'self'; "
    "form-action 'self'; base-uri 'none'; frame-ancestors 'none'";
} // namespace

TApiResponse UiAnswer(const std::string& path) {
    const std::string wanted = path == "/ui" ? "/ui/" : path;
    for (std::size_t i = 0; i < UiAssetCount; ++i) {
        const TUiAsset& asset = UiAssets[i];
        if (asset.Path != wanted) continue;
        TApiResponse response{200, std::string(asset.ContentType), std::string(asset.Body), {}, {}};
        response.Headers.emplace_back("Cache-Control",
                                      asset.Immutable ? "public, max-age=31536000, immutable" : "no-cache");
        response.Headers.emplace_back("Content-Security-Policy", ContentSecurityPolicy);
        response.Headers.emplace_back("X-Content-Type-Options", "nosniff");
        response.Headers.emplace_back("Referrer-Policy", "no-referrer");
        return response;
    }
    return ApiError(404, "no such page");
}
