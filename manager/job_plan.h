#pragma once
// A job plan: what the job window offers (tick boxes, the data tick box, a scope), the tasks it may
// run and the texts it shows. The row actions, UPDATE ALL and the manager's own plans fill one; the
// job window owns a copy and changes its ticks, scope and texts.
#include <string>
#include <vector>

#include "engine/jobs.h"
#include "engine/layout.h"

namespace tqapp {

// One tick box of a plan.
struct JobChoice {
    std::string id;     // a format key, an item id (app tasks and purges), or "startmenu", "desktop", "plugins"
    std::string label;  // upper case, beside the box
    bool on = false;
    std::string where;  // the folder its item goes to or leaves
    std::string name;   // display name in job titles; empty: the label
};

struct JobPlan {
    std::string verb;   // the start button: "INSTALL", "UPDATE", "REMOVE"
    std::string title;  // the PRODUCT line
    std::vector<JobChoice> choices;
    std::vector<tqm::Task> tasks;  // every task the plan may run; the ticks select among them
    std::string jobTitle;
    std::string doneText;
    bool removal = false;     // after success no "OPEN FOLDER"
    bool appChoices = false;  // every choice names an app
    std::string titleVerb;    // with appChoices: "Installing", "Updating", "Removing"
    std::string doneVerb;     // with appChoices: "installed", "updated", "removed"
    bool offersData = false;  // holds a ("purge", id, "user") task behind the data tick box
    bool deleteData = false;
    bool dataNeedsAll = false;  // the data goes only when every choice is ticked
    bool dataDeleted = false;   // the started job holds the purge
    std::string dataLabel;
    std::string dataNote;
    std::string dataKept;
    bool selfUpdate = false;
    std::string fromVersion;
    std::string toVersion;
    std::string where;  // the destination line; empty: the first ticked choice's
    bool selfInstall = false;
    bool selfRemoval = false;
    tqm::Scope scope = tqm::defaultScope();
};

}  // namespace tqapp
