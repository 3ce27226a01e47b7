// ParseMaintenanceForm: every field decoded as a browser encodes it and checked before anything is
// made; a window that could never hold a moment is refused rather than stored.
#include "web/maintenanceform.h"

#include "platform/activitylog.h"
#include "platform/codepage.h"
#include "platform/datetime.h"
#include "platform/strutil.h"
#include "db/tagrule.h"
#include "history/maintenance.h"
#include "web/formfields.h"

#include <vector>

namespace {

constexpr long long MaxOneOffMinutes = 366LL * 24 * 60;
constexpr std::size_t MaxReason = 200;
constexpr std::size_t MaxCode = 12;
// The table's column keeps a target "tag:T" whole.
constexpr std::size_t MaxTarget = 30;
/// TDateTime of 1970-01-01.
constexpr double UnixEpochDays = 25569.0;

using Fields = MaintenanceFields;

std::string Field(const Fields& fields, const char* name) {
    auto it = fields.find(name);
    return it == fields.end() ? std::string() : Trim(it->second);
}

bool HasControl(const std::string& text) {
    for (unsigned char c : text)
        if (c < 0x20 || c == 0x7F) return true;
    return false;
}

bool ReadNumber(const std::string& text, long long low, long long high, long long& value) {
    if (text.empty() || text.size() > 18 || text.find_first_not_of("0123456789") != std::string::npos) return false;
    value = std::stoll(text);
    return value >= low && value <= high;
}

/// A local date and time as the form gives it, as a moment; false when it is none.
bool ReadMoment(std::string text, const TimeZone& zone, long long& utc) {
    for (char& c : text)
        if (c == 'T') c = ' ';
    try {
        const TDateTime value = StrToDateTime(text);
        utc = LocalToUtc(DaysToSeconds(value - UnixEpochDays), zone);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

/// "hh:nn[:ss]" as seconds after midnight.
bool ReadDayTime(const std::string& text, int& seconds) {
    const std::vector<std::string> parts = SplitString(text, ':');
    long long h = 0, m = 0, s = 0;
    if (parts.size() < 2 || parts.size() > 3 || !ReadNumber(parts[0], 0, 23, h) || !ReadNumber(parts[1], 0, 59, m) ||
        (parts.size() == 3 && !ReadNumber(parts[2], 0, 59, s)))
        return false;
    seconds = int(h * 3600 + m * 60 + s);
    return true;
}

/// The weekday bits of every "weekdays" field; -1 when a name is none of mon..sun.
int ReadWeekdays(const Fields& fields) {
    static const char* const names[] = {"mon", "tue", "wed", "thu", "fri", "sat", "sun"};
    int bits = 0;
    auto [from, to] = fields.equal_range("weekdays");
    for (auto it = from; it != to; ++it) {
        std::string list = it->second;
        for (char& c : list)
            if (c == ' ') c = ',';
        for (const std::string& item : SplitString(list, ',')) {
            if (Trim(item).empty()) continue;
            int bit = -1;
            for (int i = 0; i < 7; ++i)
                if (SameText(Trim(item), names[i])) bit = i;
            if (bit < 0) return -1;
            bits |= 1 << bit;
        }
    }
    return bits;
}

std::string ReadWeekly(const Fields& fields, int weekdays, MaintenanceWindow& w, long long now) {
    long long minutes = 0;
    if (!ReadDayTime(Field(fields, "time"), w.DayTime)) return "time: give the time of day as hh:mm";
    if (!ReadNumber(Field(fields, "minutes"), 1, MaxWeeklySeconds / 60, minutes))
        return "minutes: give a whole number from 1 to " + IntToStr(MaxWeeklySeconds / 60);
    w.Weekdays = weekdays;
    w.Seconds = int(minutes * 60);
    w.Start = now;
    return {};
}

std::string ReadOneOff(const Fields& fields, MaintenanceWindow& w, long long now, const TimeZone& zone) {
    const std::string minutesText = Field(fields, "minutes");
    if (!minutesText.empty()) {
        long long minutes = 0;
        if (!ReadNumber(minutesText, 1, MaxOneOffMinutes, minutes))
            return "minutes: give a whole number from 1 to " + IntToStr(MaxOneOffMinutes);
        w.Start = now;
        w.End = now + minutes * 60;
        return {};
    }
    if (!ReadMoment(Field(fields, "start"), zone, w.Start) || !ReadMoment(Field(fields, "end"), zone, w.End))
        return "give minutes, or start and end as yyyy-mm-dd hh:mm[:ss]";
    if (w.End <= w.Start) return "end: must come after start";
    if (w.End <= now) return "end: is past already";
    if ((w.End - w.Start) / 60 > MaxOneOffMinutes) return "end: at most a year after start";
    return {};
}

/// Why a window cannot be for `target`: a site code, "*", or "tag:T" whole in the table's column.
std::string TargetProblem(const std::string& target) {
    if (MaintenanceTag(target).empty() && !SiteCodeKey(target).starts_with("tag:")) {
        if (target.empty() || target.size() > MaxCode) return "give a site code, or * for every site";
        return "";
    }
    const std::string tag = target.substr(4);
    if (const std::string problem = TagProblem(tag); !problem.empty()) return "the tag " + problem;
    if (target.size() > MaxTarget) return "tag:T takes a tag of at most " + IntToStr(MaxTarget - 4) + " characters";
    return "";
}

} // namespace

MaintenanceRequest ParseMaintenanceForm(const std::string& body, long long now, const TimeZone& zone) {
    TFormFields form;
    if (!ReadFormFields(body, form)) {
        MaintenanceRequest refused;
        refused.Error = "the form is longer than " + IntToStr(static_cast<long long>(MaxFormBytes)) +
                        " bytes or holds more than " + IntToStr(static_cast<long long>(MaxFormFields)) + " fields";
        return refused;
    }
    return ParseMaintenanceFields(Fields(form.begin(), form.end()), now, zone);
}

MaintenanceRequest ParseMaintenanceFields(const MaintenanceFields& fields, long long now, const TimeZone& zone) {
    MaintenanceRequest request;
    for (const auto& [name, value] : fields) {
        if (name != "reason" && HasControl(value)) request.Error = name + ": holds a control character";
        if (!IsUtf8(value)) request.Error = name + ": is not UTF-8 text";
        if (!request.Error.empty()) return request;
    }
    if (const std::string end = Field(fields, "end_early"); !end.empty()) {
        request.EndEarly = true;
        if (end.size() > 18 || !ReadNumber(end, 1, 999999999999999999LL, request.EndId))
            request.Error = "end_early: no such window";
        return request;
    }
    MaintenanceWindow& w = request.Window;
    w.Code = Field(fields, "code");
    if (const std::string problem = TargetProblem(w.Code); !problem.empty()) {
        request.Error = "code: " + problem;
        return request;
    }
    w.Reason = Field(fields, "reason");
    for (char& c : w.Reason)
        if ((unsigned char)c < 0x20 || c == 0x7F) c = ' ';
    w.Reason = CutToBytes(w.Reason, MaxReason);
    const int weekdays = ReadWeekdays(fields);
    if (weekdays < 0)
        request.Error = "weekdays: use mon, tue, wed, thu, fri, sat, sun";
    else if (weekdays > 0)
        request.Error = ReadWeekly(fields, weekdays, w, now);
    else
        request.Error = ReadOneOff(fields, w, now, zone);
    return request;
}

std::string LocalTimeText(long long utc, const TimeZone& zone) {
    return FormatDateTime("yyyy-mm-dd hh:nn:ss", SecondsToDays(UtcToLocal(utc, zone)) + UnixEpochDays);
}

std::string MaintenanceLogLine(const MaintenanceWindow& w, bool endedEarly, const std::string& by,
                               const TimeZone& zone) {
    if (endedEarly) return "Maintenance window for " + w.Code + " ended early by " + by + ".";
    const std::string when = w.Weekly() ? std::string("weekly")
                                        : "from " + LocalTimeText(w.Start, zone) + " to " + LocalTimeText(w.End, zone);
    return "Maintenance window for " + w.Code + " made by " + w.MadeBy + ": " + when + ".";
}

MaintenanceBook::Outcome ApplyMaintenance(MaintenanceBook& book, MaintenanceRequest& request, const std::string& by,
                                          const MaintenanceBook::Store& store) {
    MaintenanceWindow& w = request.Window;
    MaintenanceBook::Outcome outcome;
    if (request.EndEarly) {
        outcome = book.EndEarly(request.EndId, store, &w);
    } else {
        w.MadeBy = by;
        outcome = book.Make(w, store);
    }
    if (outcome == MaintenanceBook::Outcome::Done)
        WriteLog("MAINTAIN", MaintenanceLogLine(w, request.EndEarly, by, book.Zone()));
    return outcome;
}

std::string MaintenanceFullText() {
    return "this daemon has " + IntToStr(long(MaintenanceBook::MaxOpen)) +
           " maintenance windows running or to come, the most it keeps; end some first";
}
