// The row list: display order with the APPS and PLUGINS headers, selection, scrolling by wheel and
// keys, and the texts derived from the list: the status line and a row's short progress.
#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "gui/draw/font_utf8.h"
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
    std::string name;  // case- and accent-folded
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

void ManagerView::changed() {
    listRows();
    if (model_ && !firstLoadDone && !model_->loading) {
        firstLoadDone = true;
        if (!sizeRestored_) fitNames();
        if (lumo::hasStandaloneArg("--uninstall"))
            openUninstall();
        else if (!offerInstall())
            offerSelfUpdate();
    }
    clampScroll();
    repaint();
    // A close that waited for the job goes on once it has ended.
    if (model_ && model_->closing && !model_->busy && editor) editor->closeStandaloneWindow();
}

void ManagerView::syncRows() {
    if (model_ && model_->rowsGeneration != listedGeneration) {
        listRows();
        clampScroll();
    }
}

void ManagerView::listRows() {
    listedGeneration = model_ ? model_->rowsGeneration : 0;
    displayList_.clear();
    const size_t n = model_ ? model_->rows.size() : 0;
    std::vector<int32_t> sorted(n);
    std::vector<SortKey> keys(n);
    const Column column = columnOf(sortColumn_);
    for (size_t i = 0; i < n; ++i) {
        sorted[i] = int32_t(i);
        const tqm::Row& r = model_->rows[i];
        keys[i].name = lumo::gui::foldedKey(r.name);
        if (column == Column::Version) keys[i].version = versionNumbers(versionText(r));
        keys[i].status = statusKey(r.state);
    }
    std::stable_sort(sorted.begin(), sorted.end(), [&](int32_t a, int32_t b) {
        return before(keys[size_t(a)], keys[size_t(b)], column, sortAscending_);
    });
    std::vector<int32_t> apps, plugins;
    for (int32_t i : sorted) (model_->rows[size_t(i)].kind == 1 ? apps : plugins).push_back(i);
    if (apps.empty()) {
        displayList_ = std::move(sorted);
    } else {
        displayList_.push_back(kAppsHeader);
        displayList_.insert(displayList_.end(), apps.begin(), apps.end());
        if (!plugins.empty()) {
            displayList_.push_back(kPluginsHeader);
            displayList_.insert(displayList_.end(), plugins.begin(), plugins.end());
        }
    }

    if (selectedId_.empty() && !displayList_.empty()) {
        const int last = int(displayList_.size()) - 1;
        for (int i = std::clamp(pendingSelect_, 0, last); i <= last; ++i)
            if (displayList_[size_t(i)] >= 0) {
                selectedId_ = model_->rows[size_t(displayList_[size_t(i)])].id;
                break;
            }
    }
}

void ManagerView::clampScroll() { setScroll(scroll_); }

void ManagerView::setScroll(int offset) {
    const int32_t next = offset < 0 ? 0 : std::min(offset, maxScroll());
    if (next == scroll_) return;
    scroll_ = next;
    repaint();
}

void ManagerView::selectIndex(int index) {
    if (index < 0 || size_t(index) >= displayList_.size()) {
        pendingSelect_ = index;
        return;
    }
    const int32_t entry = displayList_[size_t(index)];
    if (entry < 0 || !model_ || model_->rows.empty() || size_t(entry) >= model_->rows.size()) return;
    selectedId_ = model_->rows[size_t(entry)].id;
    shownFormat_.clear();
    const int64_t lineTop = int64_t(rowFirstY_) + int64_t(index) * rowPitch_;
    const int64_t top = lineTop - scroll_;
    if (top < listRect_.y)
        setScroll(int(std::clamp<int64_t>(lineTop - listRect_.y, INT32_MIN, INT32_MAX)));
    else if (top + rowPitch_ > int64_t(listRect_.y) + listRect_.h)
        setScroll(int(std::clamp<int64_t>(lineTop + rowPitch_ - (int64_t(listRect_.y) + listRect_.h), 0, INT32_MAX)));
    repaint();
}

void ManagerView::setSort(const std::string& column, bool ascending) {
    sortColumn_ = column;
    sortAscending_ = ascending;
    changed();
}

void ManagerView::setShownFormat(const std::string& format) {
    shownFormat_ = format;
    repaint();
}

void ManagerView::select(const std::string& id) {
    selectedId_ = id;
    shownFormat_.clear();
    repaint();
}

const tqm::Row* ManagerView::selected() const {
    if (selectedId_.empty() || !model_ || model_->rows.empty()) return nullptr;
    for (int32_t i : displayList_)
        if (i >= 0 && size_t(i) < model_->rows.size() && model_->rows[size_t(i)].id == selectedId_)
            return &model_->rows[size_t(i)];
    return nullptr;
}

bool ManagerView::showsPill(const tqm::Row& row) const {
    if (!model_ || model_->busyWith(row.id)) return false;
    if (model_->failed.count(row.id) && row.entry) return true;
    return row.state == tqm::State::Absent || row.state == tqm::State::Update;
}

std::string ManagerView::statusText() const {
    if (!model_) return {};
    if (model_->busy) return model_->jobTitle + ": " + (model_->closing ? model_->closingNote() : model_->progressText);
    if (!model_->note.empty()) return model_->note;
    if (model_->loading) return "Loading the catalog...";
    if (!model_->catalog) return "No catalog: not loaded (installed plugins only)";
    if (!model_->catalog->ok) return "No catalog: " + model_->catalog->note + " (installed plugins only)";
    // A refused catalog is no offline moment: the source may be serving something it should not.
    // It is said before any offer the cached catalog makes.
    if (model_->catalog->refused)
        return "Cached catalog " + std::to_string(model_->catalog->catalog.sequence) +
               ", server's refused: " + model_->catalog->note;
    if (const std::string v = model_->managerUpdate(); !v.empty()) {
        const bool needed = model_->managerRequired();
        // Offline the offer is only news, short enough for the narrowest window: no download can start.
        if (!offersSelfUpdate())
            return "Manager " + v + (needed ? " is needed to install plugins" : " is available") + "  (offline)";
        return "Manager " + v + " is available: click here to update" + (needed ? " (needed to install plugins)" : "");
    }
    if (const tqm::Row* row = selected())
        for (const auto& [format, f] : row->formats)
            if (!f.copies.empty())
                return row->name + " is also installed by hand (" + f.copies.front() + "): hosts see both";
    const tqm::Catalog& c = model_->catalog->catalog;
    std::string s = "Catalog " + std::to_string(c.sequence) + "  -  " + plural(c.plugins.size(), "plugin");
    if (!c.apps.empty()) s += ", " + plural(c.apps.size(), "app");
    const int updates = model_->updates();
    s += "  -  " + (updates > 0 ? plural(size_t(updates), "update") : std::string("up to date"));
    if (model_->catalog->fromCache) s += "  (offline)";
    return s;
}

bool ManagerView::offersSelfUpdate() const {
    return model_ && model_->catalog && !model_->catalog->fromCache && !model_->managerUpdate().empty();
}

std::string ManagerView::shortProgress() const {
    const std::string p = model_ ? model_->progressText : std::string();
    // The job's share done, not the package's: the figure never drops when the next package starts.
    if (p.rfind("Downloading ", 0) == 0)
        return std::to_string(std::lround(std::clamp(model_->fraction, 0.0, 1.0) * 100)) + " %";
    if (model_ && model_->waiting) return "Waiting";  // for permission, or for another copy's job
    if (p.empty()) return "Working";
    return p;
}

bool ManagerView::onMouseWheel(const lumo::gui::MouseEvent& e) {
    setScroll(scroll_ - int(std::lroundf(float(rowPitch_) * e.wheelSteps)));
    return true;
}

// Up and Down move to the next row, Home and End to the first and the last, Page Up and Page Down
// a listful of lines, to the nearest row in the direction of travel (headers are skipped); the
// selection is scrolled into view.
bool ManagerView::onKey(const lumo::gui::KeyEvent& e) {
    using lumo::gui::Key;
    const bool moves = e.key == Key::Up || e.key == Key::Down || e.key == Key::Home || e.key == Key::End ||
                       e.key == Key::PageUp || e.key == Key::PageDown;
    if (displayList_.empty() || !moves) return false;
    const int count = int(displayList_.size());
    int s = -1;
    if (const tqm::Row* row = selected())
        for (int i = 0; i < count; ++i)
            if (displayList_[size_t(i)] >= 0 && model_->rows[size_t(displayList_[size_t(i)])].id == row->id) {
                s = i;
                break;
            }
    auto firstRowFrom = [&](int from, int step) {
        for (int i = from; i >= 0 && i < count; i += step)
            if (displayList_[size_t(i)] >= 0) return i;
        return -1;
    };
    // The row at or beyond the line `at` (clamped to the list) going by step, else the nearest back.
    auto nearestRow = [&](int at, int step) {
        at = std::clamp(at, 0, count - 1);
        const int i = firstRowFrom(at, step);
        return i >= 0 ? i : firstRowFrom(at, -step);
    };
    const int page = std::max(1, rowPitch_ > 0 ? listRect_.h / rowPitch_ : 1);
    int to = -1;
    switch (e.key) {
        case Key::Down: {
            const int next = firstRowFrom(s + 1, 1);
            to = next >= 0 || s < 0 ? next : s;
            break;
        }
        case Key::Up:
            if (s <= 0) {
                selectIndex(0);  // the first line; a header there selects nothing
                return true;
            }
            to = nearestRow(s - 1, -1);
            break;
        case Key::Home: to = nearestRow(0, 1); break;
        case Key::End: to = nearestRow(count - 1, -1); break;
        case Key::PageDown: to = nearestRow(s + page, 1); break;
        case Key::PageUp: to = nearestRow(s - page, -1); break;
        default: return false;
    }
    if (to >= 0) selectIndex(to);
    return true;
}

}  // namespace tqapp
