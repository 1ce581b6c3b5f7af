#pragma once
// A stand-in main window for the settings window's tests: answers set by the test, and every call
// of the window recorded as one word.
#include <memory>
#include <string>
#include <vector>

#include "manager/windows/settings_window.h"

namespace accounttest {

struct FakeHost {
    tqm::Layout layout;
    std::string version = "0.3.0";
    std::string update;  // the newer manager version, or empty
    bool offersUpdate = true;
    bool loading = false;
    bool catalogLoaded = true;
    bool busy = false;
    bool refuseScope = false;
    std::vector<std::string> calls;
    std::shared_ptr<bool> alive = std::make_shared<bool>(true);

    FakeHost() { layout.root = "/r"; }

    tqapp::AccountWindow::Host host() {
        tqapp::AccountWindow::Host h;
        h.layout = [this] { return layout; };
        h.setScope = [this](tqm::Scope s) {
            calls.push_back(std::string("scope ") + tqm::scopeName(s));
            if (refuseScope) return false;
            layout.scope = s;
            return true;
        };
        h.setFolder = [this](const std::string& f) { calls.push_back("folder " + f); };
        h.resetFolder = [this](const std::string& f) { calls.push_back("reset " + f); };
        h.version = [this] { return version; };
        h.managerUpdate = [this] { return update; };
        h.offersUpdate = [this] { return offersUpdate; };
        h.loading = [this] { return loading; };
        h.catalogLoaded = [this] { return catalogLoaded; };
        h.busy = [this] { return busy; };
        h.reload = [this] { calls.push_back("reload"); };
        h.openSelfUpdate = [this] { calls.push_back("self-update"); };
        h.openLog = [this] { calls.push_back("log"); };
        h.openNotices = [this] { calls.push_back("notices"); };
        h.installState = [] { return std::string("INSTALLED FOR THIS USER"); };
        h.canInstall = [] { return false; };
        h.openInstall = [this] { calls.push_back("install"); };
        h.openUninstall = [this] { calls.push_back("uninstall"); };
        return h;
    }

    std::unique_ptr<tqapp::AccountWindow> window() {
        return std::make_unique<tqapp::AccountWindow>(host(), std::weak_ptr<bool>(alive));
    }
};

}  // namespace accounttest
