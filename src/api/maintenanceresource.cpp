// TMaintenanceResource: a JSON body becomes the form's fields, so the page's parser judges both.
#include "api/maintenanceresource.h"

#include "api/sitebody.h"
#include "platform/strutil.h"
#include "web/maintenanceform.h"

#include <nlohmann/json.hpp>

#include <optional>
#include <set>

using nlohmann::json;

namespace {

const std::set<std::string> Fields = {"code", "minutes", "start", "end", "weekdays", "time", "reason"};
const char* const DayNames[] = {"mon", "tue", "wed", "thu", "fri", "sat", "sun"};

TApiResponse NoBook() {
    return ApiError(404, "this daemon keeps no maintenance windows");
}

/// The window with its occurrence that holds `now`, else its next one (the start and end the list shows).
json WindowJson(const MaintenanceWindow& w, const TimeSpan& next, long long now, const TimeZone& zone) {
    json days = json::array();
    for (int i = 0; i < 7; ++i)
        if (w.Weekdays & (1 << i)) days.push_back(DayNames[i]);
    json out = {{"id", std::to_string(w.Id)},
                {"code", w.Code},
                {"reason", w.Reason},
                {"made_by", w.MadeBy},
                {"weekly", w.Weekly()},
                {"weekdays", days},
                {"time", nullptr},
                {"minutes", (next.End - next.Start) / 60},
                {"start", LocalTimeText(next.Start, zone)},
                {"end", LocalTimeText(next.End, zone)},
                {"running", next.Start <= now}};
    if (w.Weekly()) out["time"] = Format("%02d:%02d", w.DayTime / 3600, w.DayTime / 60 % 60);
    return out;
}

/// The body's fields as the form would carry them: text as it is, whole numbers as digits, a list of
/// weekdays as the field repeated; false with the 400 answer in `refusal`.
bool ReadFields(const std::string& body, MaintenanceFields& fields, TApiResponse& refusal) {
    json document;
    if (!ReadJsonObject(body, document, refusal)) return false;
    for (const auto& [name, value] : document.items()) {
        if (!Fields.contains(name)) {
            refusal = ApiError(400, name + " is not a field of a maintenance window", name);
            return false;
        }
        const json items = name == "weekdays" && value.is_array() ? value : json::array({value});
        for (const json& item : items) {
            if (item.is_string())
                fields.emplace(name, item.get<std::string>());
            else if (item.is_number_integer())
                fields.emplace(name, item.dump());
            else if (!item.is_null()) {
                refusal = ApiError(400, name + " is neither text nor a whole number", name);
                return false;
            }
        }
    }
    return true;
}

/// The parser's message names the field before its colon, when one is at fault.
TApiResponse Refused(const std::string& error) {
    const std::string field = error.substr(0, error.find(':'));
    return ApiError(400, error, Fields.contains(field) ? field : "");
}

} // namespace

TApiResponse TMaintenanceResource::List(const TApiRequest& request) const {
    if (Book == nullptr) return NoBook();
    std::size_t limit = DefaultLimit;
    if (const std::string text = request.QueryField("limit"); !text.empty()) {
        if (text.size() > 4 || text.find_first_not_of("0123456789") != std::string::npos || std::stoul(text) < 1 ||
            std::stoul(text) > MaxLimit)
            return ApiError(400, "limit is not a whole number from 1 to " + std::to_string(MaxLimit), "limit");
        limit = std::stoul(text);
    }
    const MaintenanceBook::Windows windows = Book->Current();
    const long long now = Book->Now();
    const MaintenancePage page = ListMaintenance(*windows, now, Book->Zone(), request.QueryField("after"), limit);
    if (!page.CursorRead) return ApiError(400, "after is not the cursor of a page of this list", "after");
    json list = json::array();
    for (const ListedWindow& listed : page.Windows)
        list.push_back(WindowJson(*listed.Window, listed.Next, now, Book->Zone()));
    json out = {{"windows", list}, {"total", page.Total}, {"next", nullptr}};
    if (!page.Next.empty()) out["next"] = "/api/v1/maintenance?limit=" + std::to_string(limit) + "&after=" + page.Next;
    return JsonAnswer(200, out);
}

// Stored before the answer: a database that cannot be reached raises its error, which the router
// answers with 503, and nothing is made.
TApiResponse TMaintenanceResource::Make(const TApiRequest& request, const std::string& token) {
    if (Book == nullptr) return NoBook();
    MaintenanceFields fields;
    TApiResponse refusal;
    if (!ReadFields(request.Body, fields, refusal)) return refusal;
    const long long now = Book->Now();
    MaintenanceRequest made = ParseMaintenanceFields(fields, now, Book->Zone());
    if (!made.Error.empty()) return Refused(made.Error);
    MaintenanceBook::Outcome outcome = MaintenanceBook::Outcome::Done;
    Storing([&](const MaintenanceBook::Store& store) { outcome = ApplyMaintenance(*Book, made, token, store); });
    if (outcome == MaintenanceBook::Outcome::Full) return ApiError(409, MaintenanceFullText());
    const std::optional<TimeSpan> next = NextOccurrence(made.Window, now, Book->Zone());
    TApiResponse response = JsonAnswer(201, WindowJson(made.Window, next.value_or(TimeSpan{}), now, Book->Zone()));
    response.Headers.emplace_back("Location", "/api/v1/maintenance/" + std::to_string(made.Window.Id));
    return response;
}

TApiResponse TMaintenanceResource::End(const std::string& id, const std::string& token) {
    if (Book == nullptr) return NoBook();
    const bool digits = !id.empty() && id.size() <= 18 && id.find_first_not_of("0123456789") == std::string::npos;
    MaintenanceBook::Outcome outcome = MaintenanceBook::Outcome::NoSuchWindow;
    if (digits) {
        MaintenanceRequest ending;
        ending.EndEarly = true;
        ending.EndId = std::stoll(id);
        Storing([&](const MaintenanceBook::Store& store) { outcome = ApplyMaintenance(*Book, ending, token, store); });
    }
    if (outcome != MaintenanceBook::Outcome::Done)
        return ApiError(404, "no maintenance window " + id + " running or to come");
    TApiResponse response;
    response.Status = 204;
    response.ContentType.clear();
    return response;
}
