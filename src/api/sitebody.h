// The JSON of one site's fields in a request body, and the JSON answers of the API: what a client
// sends is read strictly (an object of the site's fields, text or whole numbers), and what goes back
// is always valid UTF-8, whatever bytes a path or a stored row held.
#pragma once

#include "api/apirequest.h"
#include "db/sitestore.h"

#include <nlohmann/json_fwd.hpp>

#include <optional>
#include <string>
#include <vector>

/// The body as a JSON object; false with the 400 answer in `refusal` when it is none or holds a NUL
/// byte anywhere (the parser would stop reading at it).
bool ReadJsonObject(const std::string& body, nlohmann::json& object, TApiResponse& refusal);
/// Sets the fields the body's JSON object gives onto `site` (null empties a field), and "tags" (a
/// list of tags, null for none) onto `tags` (NormalTags); false with the 400 answer in `refusal` when
/// the body is no such object, names another field, or gives a value that is neither text nor a
/// whole number, or a tag that is none.
bool ReadSiteFields(const std::string& body, SiteFields& site, std::optional<std::vector<std::string>>& tags,
                    TApiResponse& refusal);
/// An answer with `body` as JSON; bytes that are not UTF-8 are replaced, never an error.
TApiResponse JsonAnswer(int status, const nlohmann::json& body);
/// An answer with the body {"error": message} and, when one field is at fault, "field".
TApiResponse ApiError(int status, const std::string& message, const std::string& field = "");
