// The alarm rows of the scanned sites, through the one home of table alarms.
#include "monitor/sitealarms.h"

#include "db/alarmrows.h"
#include "db/common.h"
#include "db/data.h"
#include "platform/activitylog.h"
#include "platform/datetime.h"
#include "platform/strutil.h"

#include <exception>

void SiteAlarms::Post(const std::string& code) {
    try {
        AlarmRows(*DataModule()).Post(code, Now());
    } catch (const std::exception& e) {
        WriteLog("[FAILURE]", std::string("Posting alarm: ") + e.what());
    }
}

void SiteAlarms::Clear(const std::string& code, int rtt) {
    DeleteOutageRows(code);
    try {
        ExecStatement(DataModule()->adoQ2, {"UPDATE ", "  site ", "SET LastRTT = " + SQLLiteral(IntToStr(rtt)) + " ",
                                            "WHERE code = " + SQLLiteral(code) + " "});
    } catch (const std::exception& e) {
        WriteLog("[FAILURE]", std::string("Clearing active alarms: ") + e.what());
    }
}

void SiteAlarms::DeleteOutageRows(const std::string& code) {
    try {
        AlarmRows(*DataModule()).Clear(code);
    } catch (const std::exception& e) {
        WriteLog("[FAILURE]", std::string("Clearing active alarms: ") + e.what());
    }
}
