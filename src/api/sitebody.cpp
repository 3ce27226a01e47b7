// Reading a site's fields from JSON and writing the API's JSON answers.
#include "api/sitebody.h"

#include "db/tagrule.h"
#include "platform/json.h"

using nlohmann::json;

namespace {

std::string* FieldOf(SiteFields& site, const std::string& name) {
    if (name == "code") return &site.Code;
    if (name == "name") return &site.Name;
    if (name == "address") return &site.Address;
    if (name == "downtime") return &site.Downtime;
    if (name == "email") return &site.Email;
    if (name == "contactflag") return &site.ContactFlag;
    if (name == "daemon") return &site.Daemon;
    return nullptr;
}

bool ReadTags(const json& value, std::optional<std::vector<std::string>>& tags, TApiResponse& refusal) {
    std::vector<std::string> list;
    if (!value.is_null() && !value.is_array()) {
        refusal = ApiError(400, "tags is not a list of tags", "tags");
        return false;
    }
    for (const json& tag : value.is_array() ? value : json::array()) {
        const std::string problem = tag.is_string() ? TagProblem(tag.get<std::string>()) : "is not text";
        if (!problem.empty()) {
            refusal = ApiError(400, "a tag " + problem, "tags");
            return false;
        }
        list.push_back(tag.get<std::string>());
    }
    tags = NormalTags(std::move(list));
    return true;
}

} // namespace

bool ReadJsonObject(const std::string& body, json& object, TApiResponse& refusal) {
    // The parser takes a NUL byte for the end of its input: what follows one would go unread.
    if (body.find('\0') != std::string::npos) {
        refusal = ApiError(400, "the body holds a NUL byte");
        return false;
    }
    object = json::parse(body, nullptr, false);
    if (object.is_discarded() || !object.is_object()) {
        refusal = ApiError(400, "the body is not a JSON object");
        return false;
    }
    return true;
}

bool ReadSiteFields(const std::string& body, SiteFields& site, std::optional<std::vector<std::string>>& tags,
                    TApiResponse& refusal) {
    json document;
    if (!ReadJsonObject(body, document, refusal)) return false;
    for (const auto& [name, value] : document.items()) {
        if (name == "tags") {
            if (!ReadTags(value, tags, refusal)) return false;
            continue;
        }
        std::string* field = FieldOf(site, name);
        if (field == nullptr) {
            refusal = ApiError(400, name + " is not a field of a site", name);
            return false;
        }
        if (value.is_string())
            *field = value.get<std::string>();
        else if (value.is_number_integer())
            *field = value.dump();
        else if (value.is_null())
            field->clear();
        else {
            refusal = ApiError(400, name + " is neither text nor a whole number", name);
            return false;
        }
    }
    return true;
}

TApiResponse JsonAnswer(int status, const json& body) {
    TApiResponse response;
    response.Status = status;
    response.Body = JsonText(body);
    return response;
}

TApiResponse ApiError(int status, const std::string& message, const std::string& field) {
    json body = {{"error", message}};
    if (!field.empty()) body["field"] = field;
    return JsonAnswer(status, body);
}
