// The row list: display order with the APPS and PLUGINS headers, selection, scrolling by wheel and
// keys, and the texts derived from the list: the status line and a row's short progress.
#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>

#include "platform/platform.h"
#include "manager/model/model.h"
#include "manager/view/view.h"

namespace tqapp {
namespace {

// The numbers of a version text split at every "."; "" gives none, "1..2" gives 1, 0, 2.
std::vector<int> versionNumbers(const std::string& v) {
    std::vector<int> out;
    if (v.empty()) return out;
    size_t at = 0;
    while (true) {
        const size_t dot = v.find('.', at);
        out.push_back(std::atoi(v.substr(at, dot == std::string::npos ? std::string::npos : dot - at).c_str()));
        if (dot == std::string::npos) break;
        at = dot + 1;
    }
    return out;
}

const std::string& versionText(const tqm::Row& r) { return r.entry ? r.entry->version : r.version; }

// Update first, then installed, then absent, then everything else.
int statusKey(tqm::State s) {
    const int n = int(s);
    return n >= 0 && n <= 2 ? 2 - n : 3;
}

// What a row is sorted by, worked out once per row and not at every comparison.
struct SortKey {
    std::string name;  // upper-cased
    std::vector<int> version;
    int status = 0;
};

// Whether row a goes before row b: the column's order (versions compared number by number,
// statuses by key), ties and every other column by name, which only the name column reverses.
enum class Column { Name, Version, Status, Other };

Column columnOf(const std::string& c) {
    return c == "name" ? Column::Name : c == "version" ? Column::Version : c == "status" ? Column::Status : Column::Other;
}

bool before(const SortKey& a, const SortKey& b, Column column, bool ascending) {
    if (column == Column::Version) {
        if (a.version != b.version) return ascending ? a.version < b.version : b.version < a.version;
    } else if (column == Column::Status) {
        if (a.status != b.status) return ascending ? a.status < b.status : a.status > b.status;
    }
    if (column == Column::Name && !ascending) return b.name < a.name;
    return a.name < b.name;
}

std::string plural(size_t n, const char* word) { return std::to_string(n) + " " + word + (n == 1 ? "" : "s"); }

}  // namespace

const char* formatTitle(const std::string& format) {
    if (format == "vst3") return "VST3";
    if (format == "clap") return "CLAP";
    if (format == "app") return "STANDALONE";
    return "AU";
}

std::string upper(std::string s) {
    for (char& c : s) c = char(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

void ManagerView::changed() {
    listRows();
    if (model && !firstLoadDone && !model->loading) {
        firstLoadDone = true;
        if (!sizeRestored) fitNames();
        if (lumo::hasStandaloneArg("--uninstall"))
            openUninstall();
        else if (!offerInstall())
            offerSelfUpdate();
    }
    clampScroll();
    repaint();
}

void ManagerView::syncRows() {
    if (model && model->rowsGeneration != listedGeneration) {
        listRows();
        clampScroll();
    }
}

void ManagerView::listRows() {
    listedGeneration = model ? model->rowsGeneration : 0;
    displayList.clear();
    const size_t n = model ? model->rows.size() : 0;
    std::vector<int32_t> sorted(n);
    std::vector<SortKey> keys(n);
    const Column column = columnOf(sortColumn);
    for (size_t i = 0; i < n; ++i) {
        sorted[i] = int32_t(i);
        const tqm::Row& r = model->rows[i];
        keys[i].name = upper(r.name);
        if (column == Column::Version) keys[i].version = versionNumbers(versionText(r));
        keys[i].status = statusKey(r.state);
    }
    std::stable_sort(sorted.begin(), sorted.end(), [&](int32_t a, int32_t b) {
        return before(keys[size_t(a)], keys[size_t(b)], column, sortAscending);
    });
    std::vector<int32_t> apps, plugins;
    for (int32_t i : sorted) (model->rows[size_t(i)].kind == 1 ? apps : plugins).push_back(i);
    if (apps.empty()) {
        displayList = std::move(sorted);
    } else {
        displayList.push_back(kAppsHeader);
        displayList.insert(displayList.end(), apps.begin(), apps.end());
        if (!plugins.empty()) {
            displayList.push_back(kPluginsHeader);
            displayList.insert(displayList.end(), plugins.begin(), plugins.end());
        }
    }

    if (selectedId.empty() && !displayList.empty()) {
        const int last = int(displayList.size()) - 1;
        for (int i = std::clamp(pendingSelect, 0, last); i <= last; ++i)
            if (displayList[size_t(i)] >= 0) {
                selectedId = model->rows[size_t(displayList[size_t(i)])].id;
                break;
            }
    }
}

void ManagerView::clampScroll() { setScroll(scroll); }

void ManagerView::setScroll(int offset) {
    const int32_t next = offset < 0 ? 0 : std::min(offset, maxScroll());
    if (next == scroll) return;
    scroll = next;
    repaint();
}

void ManagerView::selectIndex(int index) {
    if (index < 0 || size_t(index) >= displayList.size()) {
        pendingSelect = index;
        return;
    }
    const int32_t entry = displayList[size_t(index)];
    if (entry < 0 || !model || model->rows.empty() || size_t(entry) >= model->rows.size()) return;
    selectedId = model->rows[size_t(entry)].id;
    shownFormat.clear();
    const int64_t lineTop = int64_t(rowFirstY) + int64_t(index) * rowPitch;
    const int64_t top = lineTop - scroll;
    if (top < listRect.y)
        setScroll(int(std::clamp<int64_t>(lineTop - listRect.y, INT32_MIN, INT32_MAX)));
    else if (top + rowPitch > int64_t(listRect.y) + listRect.h)
        setScroll(int(std::clamp<int64_t>(lineTop + rowPitch - (int64_t(listRect.y) + listRect.h), 0, INT32_MAX)));
    repaint();
}

const tqm::Row* ManagerView::selected() const {
    if (selectedId.empty() || !model || model->rows.empty()) return nullptr;
    for (int32_t i : displayList)
        if (i >= 0 && size_t(i) < model->rows.size() && model->rows[size_t(i)].id == selectedId)
            return &model->rows[size_t(i)];
    return nullptr;
}

bool ManagerView::showsPill(const tqm::Row& row) const {
    if (!model || model->busyWith(row.id)) return false;
    if (model->failed.count(row.id) && row.entry) return true;
    return row.state == tqm::State::Absent || row.state == tqm::State::Update;
}

std::string ManagerView::statusText() const {
    if (!model) return {};
    if (model->busy) return model->jobTitle + ": " + model->progressText;
    if (!model->note.empty()) return model->note;
    if (model->loading) return "Loading the catalog...";
    if (const std::string v = model->managerUpdate(); !v.empty())
        return "Manager " + v + " is available: click here to update" +
               (model->managerRequired() ? " (needed to install plugins)" : "");
    if (!model->catalog) return "No catalog: not loaded (installed plugins only)";
    if (!model->catalog->ok) return "No catalog: " + model->catalog->note + " (installed plugins only)";
    if (const tqm::Row* row = selected())
        for (const auto& [format, f] : row->formats)
            if (!f.copies.empty())
                return row->name + " is also installed by hand (" + f.copies.front() + "): hosts see both";
    const tqm::Catalog& c = model->catalog->catalog;
    std::string s = "Catalog " + std::to_string(c.sequence) + "  -  " + plural(c.plugins.size(), "plugin");
    if (!c.apps.empty()) s += ", " + plural(c.apps.size(), "app");
    const int updates = model->updates();
    s += "  -  " + (updates > 0 ? plural(size_t(updates), "update") : std::string("up to date"));
    if (model->catalog->fromCache) s += "  (offline)";
    return s;
}

std::string ManagerView::shortProgress() const {
    const std::string p = model ? model->progressText : std::string();
    if (p.rfind("Downloading ", 0) == 0) return p.substr(12);
    if (p == "Waiting for permission") return "Waiting";
    if (p.empty()) return "Working";
    return p;
}

bool ManagerView::onMouseWheel(const lumo::gui::MouseEvent& e) {
    setScroll(scroll - int(std::lroundf(float(rowPitch) * e.wheelSteps)));
    return true;
}

bool ManagerView::onKey(const lumo::gui::KeyEvent& e) {
    if (displayList.empty() || (e.key != lumo::gui::Key::Up && e.key != lumo::gui::Key::Down)) return false;
    const int count = int(displayList.size());
    int s = -1;
    if (const tqm::Row* row = selected())
        for (int i = 0; i < count; ++i)
            if (displayList[size_t(i)] >= 0 && model->rows[size_t(displayList[size_t(i)])].id == row->id) {
                s = i;
                break;
            }
    auto firstRowFrom = [&](int from, int step) {
        for (int i = from; i >= 0 && i < count; i += step)
            if (displayList[size_t(i)] >= 0) return i;
        return -1;
    };
    if (e.key == lumo::gui::Key::Down) {
        if (s < 0) {
            selectIndex(firstRowFrom(0, 1));
        } else {
            const int next = firstRowFrom(s + 1, 1);
            selectIndex(next >= 0 ? next : s);
        }
    } else if (s <= 0) {
        selectIndex(0);
    } else {
        const int prev = firstRowFrom(s - 1, -1);
        selectIndex(prev >= 0 ? prev : s);
    }
    return true;
}

}  // namespace tqapp
