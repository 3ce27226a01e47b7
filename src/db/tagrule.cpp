// TagProblem and NormalTags.
#include "db/tagrule.h"

#include <algorithm>
#include <cctype>

std::string TagProblem(const std::string& tag) {
    if (tag.empty()) return "is empty";
    if (tag.size() > MaxTagLength) return "is longer than " + std::to_string(MaxTagLength) + " characters";
    for (unsigned char c : tag)
        if (!std::isalnum(c) && c != '_' && c != '-' && c != '.' && c != ':')
            return "takes only letters, digits, \"_\", \"-\", \".\" and \":\"";
    return "";
}

std::vector<std::string> NormalTags(std::vector<std::string> tags) {
    for (std::string& tag : tags)
        std::transform(tag.begin(), tag.end(), tag.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    std::sort(tags.begin(), tags.end());
    tags.erase(std::unique(tags.begin(), tags.end()), tags.end());
    return tags;
}
