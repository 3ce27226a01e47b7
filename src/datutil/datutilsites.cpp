// apply: read the file, check every site, print the plan, then change nothing (--dry-run) or apply it
// in one transaction. export: the daemon's sites in the same form, so that a round trip plans nothing.
#include "datutil/datutilsites.h"

#include "datutil/datutildb.h"
#include "datutil/datutilexit.h"
#include "datutil/sitesfile.h"
#include "db/siteplan.h"
#include "db/sitetags.h"
#include "platform/strutil.h"

#include <algorithm>
#include <cstdio>
#include <vector>

const char* const kSitesUsage = "       vkt-datutil apply FILE.yaml [--dry-run] [--prune [--yes]]\n"
                                "       vkt-datutil export --daemon ID\n";

namespace {

struct SitesArgs {
    std::string File;
    std::string Daemon;
    bool DryRun = false;
    bool Prune = false;
    bool Yes = false;
};

int SitesUsage(const std::string& error) {
    std::fprintf(stderr, "vkt-datutil: %s\nusage:\n%s", error.c_str(), kSitesUsage);
    return ExitUsage;
}

std::string ParseApply(const std::vector<std::string>& args, SitesArgs& out) {
    for (const std::string& arg : args) {
        if (arg == "--dry-run")
            out.DryRun = true;
        else if (arg == "--prune")
            out.Prune = true;
        else if (arg == "--yes")
            out.Yes = true;
        else if (arg.starts_with("-") || !out.File.empty())
            return "apply takes one file and --dry-run, --prune, --yes (not \"" + arg + "\")";
        else
            out.File = arg;
    }
    return out.File.empty() ? "apply needs the file to apply" : "";
}

std::string ParseExport(const std::vector<std::string>& args, SitesArgs& out) {
    if (args.size() != 2 || args[0] != "--daemon" || args[1].empty()) return "export needs --daemon ID";
    out.Daemon = args[1];
    return "";
}

/// Every refused value of every site, each at its line; true when there is none.
bool CheckSites(const SitesFile& file, SiteStore& store) {
    bool valid = true;
    for (std::size_t i = 0; i < file.Sites().size(); ++i)
        for (const FieldError& error : store.Validate(file.Sites()[i].Site)) {
            std::fprintf(stderr, "vkt-datutil: %s\n", file.RefusalAt(error.Field, i, error.Message).c_str());
            valid = false;
        }
    return valid;
}

const char* StepName(SiteChange::Kind kind) {
    switch (kind) {
    case SiteChange::Kind::Create:
        return "create";
    case SiteChange::Kind::Update:
        return "update";
    case SiteChange::Kind::Delete:
        return "delete";
    }
    return "";
}

/// The listed sites whose tags the file changes: those with a tags key that differs from the table.
std::vector<SiteTagChange> PlanTags(const SitesFile& file, TDbQuery& query) {
    std::vector<std::string> codes;
    for (const SitesFile::Entry& entry : file.Sites())
        if (entry.Tags) codes.push_back(entry.Site.Code);
    if (codes.empty()) return {};
    const SiteTagMap stored = SiteTags(query).All();
    std::vector<SiteTagChange> changes;
    for (const SitesFile::Entry& entry : file.Sites()) {
        if (!entry.Tags) continue;
        const auto found = stored.find(SiteCodeKey(entry.Site.Code));
        if (*entry.Tags != (found == stored.end() ? std::vector<std::string>{} : found->second))
            changes.push_back({entry.Site.Code, *entry.Tags});
    }
    return changes;
}

void PrintTags(const std::vector<SiteTagChange>& tags) {
    for (const SiteTagChange& change : tags) {
        std::string list;
        for (const std::string& tag : change.Tags)
            list += (list.empty() ? "" : ", ") + tag;
        std::printf("tags %s: %s\n", change.Code.c_str(), list.empty() ? "(none)" : list.c_str());
    }
    if (!tags.empty()) std::printf("%zu sites' tags to set\n", tags.size());
}

void PrintPlan(const SitePlan& plan, const std::string& daemon) {
    std::size_t counts[3] = {0, 0, 0};
    for (const PlannedChange& step : plan.Steps) {
        ++counts[static_cast<int>(step.Change.What)];
        std::string fields;
        for (const std::string& field : step.Fields)
            fields += (fields.empty() ? ": " : ", ") + field;
        std::printf("%s %s%s\n", StepName(step.Change.What), step.Change.Site.Code.c_str(), fields.c_str());
    }
    std::printf("daemon %s: %zu to create, %zu to update, %zu to delete, %zu unchanged\n", daemon.c_str(), counts[0],
                counts[1], counts[2], plan.Unchanged);
    if (plan.Kept.empty()) return;
    std::string kept;
    for (const std::string& code : plan.Kept)
        kept += (kept.empty() ? "" : ", ") + code;
    std::printf("not in the file, kept (--prune deletes them): %s\n", kept.c_str());
}

int Apply(const SitesArgs& args) {
    SitesFile file;
    if (!file.Read(args.File)) {
        std::fprintf(stderr, "vkt-datutil: %s\n", file.Refusal().c_str());
        return ExitRefused;
    }
    DatUtilDatabase db;
    if (!db.Open()) return ExitRefused;
    SiteStore store(db.Module().adoQ2, db.Module().Dialect());
    if (!CheckSites(file, store)) return ExitRefused;
    std::vector<SiteFields> wanted;
    for (const SitesFile::Entry& entry : file.Sites())
        wanted.push_back(entry.Site);
    const SitePlan plan = PlanSites(store, file.Daemon(), wanted, args.Prune);
    const std::vector<SiteTagChange> tags = PlanTags(file, db.Module().adoQ2);
    const auto deletes = std::ranges::count_if(
        plan.Steps, [](const PlannedChange& step) { return step.Change.What == SiteChange::Kind::Delete; });
    if (plan.Current > 0 && static_cast<std::size_t>(deletes) == plan.Current && !args.Yes) {
        // As clear does, emptying a daemon wants a word: an empty or wrong list must not do it by itself.
        std::fprintf(stderr, "vkt-datutil: %s\n",
                     file.RefusalAt("sites", 0,
                                    "--prune would delete every site of daemon " + file.Daemon() + " (" +
                                        std::to_string(plan.Current) +
                                        "), none of which the file lists; give --yes to delete them all")
                         .c_str());
        return ExitRefused;
    }
    PrintPlan(plan, file.Daemon());
    PrintTags(tags);
    if (plan.Steps.empty() && tags.empty()) {
        std::printf("Nothing to do.\n");
        return ExitDone;
    }
    if (args.DryRun) {
        std::printf("Dry run: nothing changed.\n");
        return ExitPending;
    }
    try {
        store.Apply(plan.Changes(), tags);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "vkt-datutil: %s: not applied, nothing changed: %s\n", args.File.c_str(), e.what());
        return ExitRefused;
    }
    std::printf("Applied.\n");
    return ExitDone;
}

int Export(const SitesArgs& args) {
    DatUtilDatabase db;
    if (!db.Open()) return ExitRefused;
    SiteStore store(db.Module().adoQ2, db.Module().Dialect());
    const std::vector<SiteFields> sites = store.List(args.Daemon);
    std::fputs(SitesFile::Write(args.Daemon, sites, SiteTags(db.Module().adoQ2).All()).c_str(), stdout);
    return ExitDone;
}

} // namespace

bool IsSitesCommand(const std::string& command) {
    return command == "apply" || command == "export";
}

int RunSitesCommand(int argc, char** argv) {
    const std::string command = argv[1];
    const std::vector<std::string> rest(argv + 2, argv + argc);
    SitesArgs args;
    const std::string error = command == "apply" ? ParseApply(rest, args) : ParseExport(rest, args);
    if (!error.empty()) return SitesUsage(error);
    return command == "apply" ? Apply(args) : Export(args);
}
