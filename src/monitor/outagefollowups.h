// What follows a notified outage until someone takes it in hand: reminders to its contacts, escalation
// mails, and the acknowledgements that stop both. Acknowledgements are stored in table vktack by the
// web or API thread that took them, so a group's members share them, and arrive here through the
// inbox; in a group each reminder and step is claimed, so exactly one member sends it, and a daemon
// that works alone records each one it sent in the same table, so a restart sends none of them again.
// On the user-interface thread.
#pragma once

#include "alert/acknowledgements.h"
#include "alert/alertsettings.h"
#include "alert/reminderpolicy.h"

#include <set>
#include <string>

class AckInbox;
class ClusterMember;
class NoticeRunner;
class TSiteResultSink;

class OutageFollowups {
public:
    OutageFollowups(NoticeRunner& notices, AckInbox& inbox);

    /// Where acknowledgements are shown (the status board); none: they are not shown.
    void UseBoard(TSiteResultSink* board) { m_board = board; }

    /// Takes the settings; with reminders or escalation on, reads the acknowledgements every daemon
    /// stored and takes those waiting in the inbox. Errors are logged.
    void ScanStarted(const AlertSettings& settings);
    /// Takes the acknowledgements waiting in the inbox (stored already); errors are logged and the
    /// requests dropped.
    void TakeInbox();
    /// A site the scan (or the group) counts down: its reminder and escalation steps when due.
    /// `group`: claims them first (null: this daemon works alone). Statement errors are raised.
    void SiteDown(const std::string& code, ClusterMember* group);
    /// A site that answers: its outage's acknowledgement ends. Statement errors are raised.
    void SiteAnswers(const std::string& code);
    /// The acknowledgement of the site's outage begun at `since`; none (At 0) when it has none.
    Acknowledgement AckOf(const std::string& code, TDateTime since) const { return m_acks.Of(code, since); }

private:
    /// Sends one reminder or escalation step (claimed first in a group, looked up in the table alone);
    /// true when it is done with.
    bool Send(const std::string& code, NoticeKind kind, TDateTime since, int round, ClusterMember* group);
    /// Makes the tables when missing; once a run, drops the rounds left of outages long over.
    void EnsureTables();
    void Show(const std::string& code, const Acknowledgement& ack);

    NoticeRunner& m_notices;
    AckInbox& m_inbox;
    TSiteResultSink* m_board = nullptr;
    AlertSettings m_settings;
    ReminderPolicy m_reminders;
    Acknowledgements m_acks;
    bool m_tableMade = false;
    /// Sites whose outage this daemon alone follows up (upper case): their rounds' rows go at the end.
    std::set<std::string> m_followedAlone;
};
