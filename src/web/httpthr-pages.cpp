// The administration pages: page head and foot, the menu column, the main page, the log view, the
// settings form and the save confirmation. Every element is one line of the page; inserted values
// and log lines are escaped, the lines around them stay as they are.
#include "web/httpthr.h"

#include "web/responsehead.h"

#include "platform/datetime.h"
#include "platform/profile.h"
#include "platform/strutil.h"

#include <sys/stat.h>

#include <climits>
#include <exception>

namespace {

const char* const FormLine = "<FORM ACTION=\"RESULT\" METHOD=\"GET\"> ";
const char* const MenuCellLine = "   <TD width=15% bgcolor=#BBCCFF align=center valign=top> ";

bool FileExists(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0;
}

// The keys of the settings form; a save writes these and ignores every other name, so a request
// cannot add keys (install, NetPort, DataBase paths elsewhere) the form does not offer.
const char* const FormKeys[] = {"VKTID", "DBServer", "DataBase", "DBUser", "DBPass", "PollDelay", "MaxLogFileAgeDays"};

// Names and values arrive as the browser encoded them ("+" for a space, "%XX" escapes); the file
// gets them decoded, so a password is stored as it was typed.
struct TSavedField {
    const char* key;
    std::string value;
};

bool IsWritten(const TQueryParam& param) {
    return param.first != "mode" && !param.first.empty() && !param.second.empty();
}

// Nothing of a refused save reaches the file: names that are no plain key names (a "[" or "="
// would add a section or a key) and values with control characters are refused before writing.
bool AcceptableFields(const TQueryParams& params, std::vector<TSavedField>& fields) {
    for (const TQueryParam& param : params) {
        if (!IsWritten(param)) continue;
        const std::string name = UrlDecode(param.first);
        if (!IsPlainKeyName(name)) return false;
        const std::string value = UrlDecode(param.second);
        for (unsigned char c : value)
            if (c < 32 || c == 127) return false;
        for (const char* key : FormKeys)
            if (SameText(name, key)) fields.push_back({key, value});
    }
    return true;
}

// What the settings form shows for a key: the value the daemon runs with.
std::string ShownValue(const TWebSettings& settings, const std::string& key) {
    if (key == "VKTID") return settings.VKTID;
    if (key == "DBServer") return settings.DBServer;
    if (key == "DataBase") return settings.DataBase;
    if (key == "DBUser") return settings.DBUser;
    if (key == "DBPass") return settings.DBPass;
    return IntToStr(key == "PollDelay" ? settings.PollDelay : settings.MaxLogFileAgeDays);
}

// Whether the file already holds what a field says: the same text (or the same number for the
// two numeric keys), or, for a key the file lacks, the value the form showed (the default).
bool AlreadyStored(const TIniFile& ini, const TWebSettings& shown, const TSavedField& field) {
    if (!ini.ValueExists("System", field.key)) return field.value == ShownValue(shown, field.key);
    const std::string stored = ini.ReadString("System", field.key, "");
    if (stored == field.value) return true;
    if (std::string(field.key) != "PollDelay" && std::string(field.key) != "MaxLogFileAgeDays") return false;
    const int number = ProfileTextToInt(field.value, INT_MIN);
    return number != INT_MIN && number == ProfileTextToInt(stored, INT_MIN);
}

// Only what changed is written, so saving the form unchanged leaves the file as it was, byte for
// byte.
void WriteSavedFields(const std::string& configFile, const TWebSettings& shown,
                      const std::vector<TSavedField>& fields) {
    TIniFile ini(configFile);
    for (const TSavedField& field : fields)
        if (!AlreadyStored(ini, shown, field)) ini.WriteString("System", field.key, field.value);
}

} // namespace

void THTTPThread::BuildPageHeader() {
    PageLines = {
        StatusLine,
        ServerLine,
        "Content-Type: Text/Html ",
        "\r\n",
        "<!DOCTYPE HTML PUBLIC \"\"-//W3C//DTD HTML 3.2//EN\"\"> ",
        "<HTML> ",
        "<HEAD> ",
        "<TITLE>Sentrova VKT</TITLE> ",
        "<BODY BGCOLOR=\"#FFFFFF\"> ",
        "<HR> ",
        "<TABLE WIDTH=100% ALIGN=CENTER > ",
        "<TR > ",
        "<TD valign=top width=50% ALIGN=left><IMG SRC=\"images/zelto.gif\" HEIGHT=68 WIDTH=75 "
        "ALIGN=TEXTTOP></TD>\r\n",
        "<TD ALIGN=right valign=top width=50% ><FONT SIZE=4 color=\"#0000CC\">",
        FormatDateTime("yyyy-mm-dd", Now()),
        "<BR>",
        HtmlEscape(DaemonId),
        "</B></FONT><BR> ",
        "</TD> ",
        "</TR></TABLE><HR> ",
    };
}

// The notice line names the status board where this server has one.
void THTTPThread::BuildPageFooter() {
    PageLines.insert(PageLines.end(), {
                                          "<HR> ",
                                          Board == nullptr ? "<FONT FACE=ARIAL Size=1>Sentrova VKT module - web "
                                                             "administration</FONT> "
                                                           : "<FONT FACE=ARIAL Size=1>Sentrova VKT module - web "
                                                             "administration - <A HREF=\"/status\">Status</A></FONT> ",
                                          "</BODY> ",
                                          "</HTML> ",
                                      });
}

void THTTPThread::AddMenuColumn() {
    PageLines.insert(PageLines.end(), {
                                          "   &nbsp;<BR>",
                                          "   <INPUT Type=SUBMIT Name=\"mode\" VALUE=\"View Log\"> ",
                                          "   <BR> ",
                                          "   &nbsp;<BR>",
                                          "   <INPUT Type=SUBMIT Name=\"mode\" VALUE=\" Settings \"> ",
                                          "   </TD> ",
                                      });
}

bool THTTPThread::BuildMainPage() {
    try {
        BuildPageHeader();
        PageLines.insert(PageLines.end(), {
                                              FormLine,
                                              "<TABLE width=120 height=250 border=1> ",
                                              "   <TD width=120 bgcolor=#BBCCFF align=center valign=top> ",
                                              "   <BR> ",
                                          });
        AddMenuColumn();
        PageLines.push_back("</TABLE> ");
        BuildPageFooter();
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

bool THTTPThread::BuildLogPage(const std::string& fileName) {
    try {
        BuildPageHeader();
        PageLines.insert(PageLines.end(), {FormLine, "<TABLE width=100% height=200 border=1> ", MenuCellLine});
        AddMenuColumn();
        std::string content;
        if (FileExists(fileName)) {
            PageLines.push_back("<TD align=left bgcolor=#FFFFFF>");
            if (ReadLogFile && ReadLogFile(fileName, content)) {
                std::size_t start = 0;
                while (start < content.size()) {
                    std::size_t lf = content.find('\n', start);
                    std::size_t end = lf == std::string::npos ? content.size() : lf;
                    std::size_t length = end - start - (end > start && content[end - 1] == '\r' ? 1 : 0);
                    PageLines.push_back(HtmlEscape(content.substr(start, length)) + "<BR>");
                    start = end + 1;
                }
            }
            PageLines.insert(PageLines.end(), {"</TD>", "</TABLE> "});
        }
        BuildPageFooter();
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

void THTTPThread::AddSettingRow(const char* label, const char* name, const std::string& value) {
    PageLines.insert(PageLines.end(), {
                                          "   <TR>",
                                          "   <TD>",
                                          Format("   <FONT FACE=ARIAL Size=2><B>%s</B></FONT>&nbsp;", label),
                                          "   </TD><TD>",
                                          Format("   &nbsp;<INPUT TYPE=TEXT Name=\"%s\"", name),
                                          "VALUE=\"" + HtmlEscape(value) + "\" ",
                                          "></INPUT>",
                                          "   </TD>",
                                          "   </TR>",
                                      });
}

bool THTTPThread::BuildSettingsPage() {
    try {
        BuildPageHeader();
        PageLines.insert(PageLines.end(), {FormLine, "<TABLE width=100% height=250 border=1> ", MenuCellLine});
        AddMenuColumn();
        PageLines.insert(PageLines.end(), {"   <TD align=left bgcolor=#FFFFFF>",
                                           "   <TABLE width=100% cellspacing=0 cellpadding=3 border=2 >"});
        AddSettingRow("Daemon ID", "VKTID", Settings.VKTID);
        AddSettingRow("Database Server", "DBServer", Settings.DBServer);
        AddSettingRow("Database ", "DataBase", Settings.DataBase);
        AddSettingRow("Database User Name", "DBUser", Settings.DBUser);
        AddSettingRow("Database Password", "DBPass", Settings.DBPass);
        AddSettingRow("Polling Interval", "PollDelay", IntToStr(Settings.PollDelay));
        AddSettingRow("Max Log File Age (Days)", "MaxLogFileAgeDays", IntToStr(Settings.MaxLogFileAgeDays));
        PageLines.insert(PageLines.end(),
                         {
                             "   </TABLE>",
                             "   <P>",
                             "   &nbsp;<INPUT TYPE=SUBMIT Name=\"mode\" VALUE=\"Save Changes\"></INPUT>",
                             "   </P>",
                             "   </TD></TABLE>",
                         });
        BuildPageFooter();
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

// A save from another site's page (a link or form elsewhere) is refused, as is one whose fields
// could corrupt the file; either way nothing is written and nothing is sent.
bool THTTPThread::SaveSettings() {
    try {
        std::vector<TSavedField> fields;
        if (!m_sameSite || !AcceptableFields(Params, fields)) return false;
        BuildPageHeader();
        PageLines.insert(PageLines.end(),
                         {FormLine, "<TABLE width=100% height=250 border=1> ", MenuCellLine, "   <BR> "});
        AddMenuColumn();
        PageLines.insert(PageLines.end(),
                         {
                             "   <TD bgColor=#FFFFFF>",
                             "   <P>",
                             "   <FONT Face=ARIAL Size=3 ><B>Changes made saved successfully</B></FONT><BR>",
                             "   <FONT Face=ARIAL Size=3 ><B>All changes will take effect when VKT "
                             "module is restarted.</B></FONT>",
                             "   </P>",
                             "   </TD>",
                             "   </TABLE> ",
                         });
        WriteSavedFields(ConfigFile, Settings, fields);
        BuildPageFooter();
        return true;
    } catch (const std::exception&) {
        PageLines.clear();
        return false;
    }
}
