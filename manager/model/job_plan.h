#pragma once
// A job plan: what the job window offers (tick boxes, the data tick box, a scope), the tasks it may
// run and the texts it shows. The row actions, UPDATE ALL and the manager's own plans fill one;
// the job window owns a copy and runs the tasks its ticks select. Plain values.
#include <set>
#include <string>
#include <vector>

#include "engine/jobs.h"
#include "engine/layout.h"

namespace tqapp {

// One tick box of a plan.
struct JobChoice {
    std::string id;     // a format key, an item id (apps and data), or "startmenu", "desktop", "plugins"
    std::string label;  // upper-case text beside the box
    bool on = false;    // ticked
    std::string where;  // the folder its item goes to or leaves; opened by "OPEN FOLDER"
    std::string name;   // display name in job titles; empty: the label
};

struct JobPlan {
    std::string verb;        // the start button: "INSTALL", "UPDATE", "REMOVE"
    std::string title;       // the product line
    std::vector<JobChoice> choices;
    std::vector<tqm::Task> tasks;  // every task the plan may run
    std::string jobTitle;
    std::string doneText;    // shown upper-cased after success
    bool removal = false;    // no "OPEN FOLDER" after success
    bool appChoices = false; // every choice names an app
    std::string titleVerb;   // with appChoices: "Installing", "Updating", "Removing"
    std::string doneVerb;    // with appChoices: "installed", "updated", "removed"
    // With appChoices, the choices (by id) the job installs anew whatever the verbs above say: a
    // companion not here yet, beside its app's update.
    std::set<std::string> installedAnew;
    bool offersData = false; // a "purge" task for "user" and the data tick box
    bool deleteData = false; // the data tick box
    bool dataNeedsAll = false;  // the data goes only when every choice is ticked
    bool dataDeleted = false;   // set when a started job purges the user's data
    std::string dataLabel;   // "<NAME>'S DATA"
    std::string dataNote;    // what the data is
    std::string dataKept;    // what stays even so
    bool selfUpdate = false;
    std::string fromVersion;
    std::string toVersion;
    std::string where;       // the destination line; empty: the first ticked choice's
    bool selfInstall = false;
    bool selfRemoval = false;
    tqm::Scope scope = tqm::defaultScope();

    // Every choice is ticked (true without choices).
    bool allTicked() const;

    // The tasks the ticks select, in plan order. The user's data goes only with the data tick
    // (and every choice, when the data needs all); a task goes when a ticked choice names its id
    // (an app's task or a data task) or its format; a plan without choices runs all its tasks.
    // The manager's own install becomes one "setup-install" of the ticked shortcuts; its own
    // removal keeps the plan's tasks only when "plugins" is ticked and ends in "setup-uninstall".
    std::vector<tqm::Task> tickedTasks() const;
};

}  // namespace tqapp
