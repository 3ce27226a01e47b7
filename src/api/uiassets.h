// The management pages under /ui/: files of src/api/ui compiled into the program by a build step,
// the script and the style sheet under names that carry a hash of their content, so that a browser
// may keep them for good and the page names the new ones after an upgrade.
#pragma once

#include "api/apirequest.h"

#include <string>
#include <string_view>

struct TUiAsset {
    std::string_view Path;
    std::string_view ContentType;
    std::string_view Body;
    /// The name carries the content's hash: the file never changes under it.
    bool Immutable;
};

/// The assets the build step made (uiassets_data.cpp, generated); the page itself is "/ui/".
extern const TUiAsset UiAssets[];
extern const std::size_t UiAssetCount;

/// The answer to a GET of `path` under /ui: the file with its caching and Content-Security-Policy
/// headers, or 404.
TApiResponse UiAnswer(const std::string& path);
