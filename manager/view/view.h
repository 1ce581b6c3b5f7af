#pragma once
// The manager's main window: one widget that starts the manager, lays itself out from the skin's
// layout document in two looks, and lists, sorts, selects and scrolls the rows.
//
// Index (the members are spread over manager/view/, manager/skin_look/ and manager/pixel_look/ by concern):
//   1. CaptionArea ....................... the strip over the window bar that lets the window be dragged
//   2. ManagerView, fields ............... every field the view's parts share, private, in one place; read
//                                          through accessors of the same name
//   3. Start-up and configuration ........ start.cpp: createManagerEditor, the constructor, start
//   4. Settings and window size .......... settings_and_window_size.cpp: "settings.txt", "window.txt",
//                                          the widening that fits the names; offers_and_restart.cpp:
//                                          the offers after the first load, the restart, the opener
//   5. Geometry .......................... geometry.cpp: bands, mapped rectangles, sprite boxes,
//                                          scrollbar travel, fonts, wrap (the bands are manager/view/axis.h)
//   6. Row list .......................... row_list.cpp: order, selection, scrolling, status line
//   7. Parts, pointer and painting ....... main_parts.h: the parts' ids and names; pointer.cpp: the part
//                                          table, press, drag, release; paint.cpp: draw, rows, labels;
//                                          text.cpp: text, the inspector's texts; look.h: the looks
//   8. Job plans ......................... job_plans.cpp: the job window and the manager's own plans
//   9. Free functions .................... createManagerEditor, formatTitle, startDetached,
//                                          restartWords
//  10. Row actions and the row menu ...... row_actions.cpp, update_all.cpp, row_menu.cpp: tick boxes, the
//                                          main button, the row pill, UPDATE ALL, the "more" menu
//  11. Painting both looks share ........ paint.cpp, text.cpp: the rows' sequence, group headers, logo,
//                                          labels, text, inspector texts, the paint-state mapping
//  12. Clicks ........................... clicks.cpp: what a click on each part does
//      The looks' own painting is in their classes: manager/skin_look/look.h (SkinLook: sprites,
//      glass, parts, pills, window buttons, product lines) and manager/pixel_look/look.h (PixelLook:
//      its boxes, columns, frames, headers, parts, product lines); both are friends of the view.
//  13. Settings window .................. settings_window_host.cpp: opening it and what its callbacks do
//
// Coordinates: design units are the 1x page of the skin (426 x 344); layout units are design units
// after stretching (the view's own coordinates); pixels are layout units times the scale of the
// skin pack chosen for the paint, plus the paint origin.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "engine/layout.h"
#include "engine/rows.h"
#include "gui/draw/assets.h"
#include "gui/editor.h"
#include "gui/menu_item.h"
#include "gui/widget.h"
#include "json/json.h"
#include "manager/capitals.h"
#include "manager/view/axis.h"
#include "manager/view/look.h"
#include "manager/view/main_parts.h"
#include "manager/model/job_plan.h"
#include "manager/model/pictures.h"

namespace tqapp {

class Model;
class JobWindow;
class AccountWindow;

// ---------------------------------------------------------------------------------------------
// 1. CaptionArea: a plain widget named "caption" over the window bar, left of the window buttons;
//    the platform window takes presses on it as presses on the caption.
class CaptionArea : public lumo::gui::Widget {
public:
    CaptionArea() {
        name = "caption";
        windowPart = lumo::gui::kWindowPartCaption;
    }
};

// ---------------------------------------------------------------------------------------------
// 2. ManagerView
class ManagerView : public lumo::gui::Widget {
    // The looks paint from the view's state.
    friend class SkinLook;
    friend class PixelLook;
    // The factory sets the resize callback and widens the window to the look's minimum.
    friend std::unique_ptr<lumo::gui::Editor> createManagerEditor(lumo::gui::EditorHost& host,
                                                                  std::unique_ptr<ManagerView> view);

public:
    // Header lines of displayList.
    static constexpr int32_t kAppsHeader = -1;
    static constexpr int32_t kPluginsHeader = -2;

    // ---- 3. start-up and configuration (start.cpp)
    ManagerView();
    ~ManagerView() override;
    void start(lumo::gui::Editor& editor);

    void describe(lumo::gui::WidgetInfo& info) const override;
    void draw(const lumo::gui::Paint& p) override;
    bool onMouseDown(const lumo::gui::MouseEvent& e) override;
    void onMouseUp(const lumo::gui::MouseEvent& e) override;
    bool onMouseWheel(const lumo::gui::MouseEvent& e) override;
    void onMouseLeave() override;
    void onMouseMove(const lumo::gui::MouseEvent& e) override;
    bool wantsFocus() const override { return true; }
    bool onKey(const lumo::gui::KeyEvent& e) override;
    // Writes "window.txt" once the size has settled.
    void tick() override;

    // The least body width of the current look.
    int32_t minimumWidth() const { return pageWidth_ + look_->extraWidth(); }
    // The look in use: 0 the skin look, 1 the pixel look; setLook changes it and lays the view out again.
    int32_t look() const { return look_->which(); }
    void setLook(int32_t which);

    // ---- 4. settings and window size (settings_and_window_size.cpp)
    std::string settingsFile() const;
    std::string sizeFile() const;
    std::string setting(const std::string& key) const;
    // False (and nothing written) for a value holding a line break: it would make a second key.
    bool setSetting(const std::string& key, const std::string& value);
    bool applyScope(tqm::Scope scope);
    // Lays the view out for a new size and keeps its popups inside; the size is written to
    // "window.txt" once it has settled (saveSize), not at every step of a drag.
    void resized(int w, int h);
    // Writes a size changed since the last write; the destructor calls it too.
    void saveSize();
    bool restoreSize();
    void fitNames();
    bool offerInstall();
    void offerSelfUpdate();
    void restartSelf();
    // Hands a path to the system's opener or, as a new instance, starts the program at the path
    // with this instance's command line; says in the status line when that cannot be started.
    bool openPath(const std::string& path, bool newInstance);

    // ---- 5. geometry (geometry.cpp)
    void setSize(int w, int h);
    lumo::gui::Rect mapRect(lumo::gui::Rect r) const;
    lumo::gui::Rect shiftRect(lumo::gui::Rect r) const;
    double left(const std::string& layer) const;
    double base(const std::string& layer) const;
    lumo::gui::Rect spriteRect(const std::string& sprite) const;
    lumo::gui::Rect faceRect(const std::string& sprite) const;
    lumo::gui::Rect windowSlot(bool close) const;
    int32_t maxScroll() const;
    int32_t trackTravel() const;
    int32_t capOffset() const;
    const lumo::gui::BitmapFont* fontOf(const lumo::gui::AssetPack& pack, const std::string& role) const;
    // The font of a role at a given scale (fontOf uses paintScale).
    const lumo::gui::BitmapFont* fontAt(const lumo::gui::AssetPack& pack, const std::string& role,
                                        double scale) const;
    static lumo::gui::Bitmap boxResize(const lumo::gui::Bitmap& src, int w, int h);
    std::vector<std::string> wrap(const lumo::gui::AssetPack& pack, const std::string& text, double width) const;
    // A box of the scrollbar as the look places it (the cap before its offset).
    lumo::gui::Rect scrollPart(MainPart kind) const;
    // The face of a sprite (less its transparent margins) where its box lies.
    lumo::gui::Rect faceRect(const std::string& sprite, lumo::gui::Rect box) const;

    // ---- 6. row list (row_list.cpp)
    void changed();
    void selectIndex(int index);
    void setScroll(int offset);
    const tqm::Row* selected() const;
    bool showsPill(const tqm::Row& row) const;
    std::string statusText() const;
    // Whether the manager's update is offered: a newer manager in a catalog fresh from its server
    // (a cached one was either not reached or refused there). The status line then takes a click.
    bool offersSelfUpdate() const;
    std::string shortProgress() const;

    // ---- 7. parts, pointer and painting (pointer.cpp, paint.cpp)
    // The part table for the current layout, look, scroll and model state: every clickable part with
    // its rectangle, the first one holding a point being the one hit. Painting, hit testing and the
    // description all read it; a subclass may place parts elsewhere.
    virtual MainParts parts() const;
    // The part under a point; its printed name (empty for none).
    std::optional<MainId> hitPart(int x, int y) const;
    std::string hit(int x, int y) const;
    // A completed click on a part.
    void click(const MainId& id);
    // The hovered and pressed parts.
    const Pointer<MainId>& pointer() const { return pointer_; }
    Pointer<MainId>& pointer() { return pointer_; }
    // A part's rectangle in the table (the one of the paint in progress while painting), and where it
    // is drawn; empty when the table does not list it.
    lumo::gui::Rect partRect(const MainId& id) const;
    lumo::gui::Rect drawnRect(const MainId& id) const;
    // Pointer looks of a part: hot when hovered with nothing pressed, held when pressed and hovered;
    // a part that is not enabled is neither.
    bool hot(const MainId& id) const { return pointer_.isHover(id) && !pointer_.pressed && enabled(id); }
    bool held(const MainId& id) const { return pointer_.isHeld(id) && enabled(id); }
    // Whether a click on the part can act: the main button and MORE need a selected row.
    bool enabled(const MainId& id) const;
    // The skin look's brightness for a part that cannot act or cannot be chosen.
    static constexpr double kOffGain = 0.45;

    // ---- 8. job plans (job_plans.cpp)
    void openInstall();
    void openUninstall();
    void openSelfUpdate();

    // ---- 8b. job windows (job_plans.cpp)
    // Opens the job window for a plan (without an editor the plan's default ticks run at once);
    // showRunning opens it following the job already under way.
    void openJob(JobPlan plan, bool showRunning, std::function<void()> onFinish);
    // Raises the running job's window, or opens the last plan started in the running state.
    void showRunningJob();
    // True (and the running job shown) while a job runs; true without a model, when nothing can start.
    bool showsRunningJob();
    // The job window while it is open; null once closed, even before the editor destroys it.
    JobWindow* openJobWindow() const;

    // ---- 13. settings window (settings_window_host.cpp)
    // Opens the settings window centred in the view, or raises the one already open.
    void openAccount();
    // The settings window while it is open; null once closed, even before the editor destroys it.
    AccountWindow* openAccountWindow() const;
    // A format's folder from the folder dialog; refused (with a note) unless a full path of plain characters.
    void chooseFolder(const std::string& format);
    void resetFolder(const std::string& format);
    // Stores a format's folder override (empty: none) in the model and "settings.txt"; false while a job runs.
    bool setFolderOverride(const std::string& format, const std::string& folder);
    void openLogFolder();
    // Writes "THIRD-PARTY-NOTICES.txt" into the user-data folder and opens it.
    void openNotices();
    std::string installState() const;

    // ---- 12. clicks (pointer.cpp, clicks.cpp)
    void onMouseDrag(const lumo::gui::MouseEvent& e) override;
    // Clicks on a tick box and on "open" (clicks.cpp).
    void tickSlot(const std::string& slot);
    // The format key of a slot index (the "check:", "label:" and "led:" parts' index).
    static std::string slotKey(int32_t index);
    void openShownFolder();

    // ---- 10. row actions (row_actions.cpp) and UPDATE ALL (update_all.cpp) and the row menu (row_menu.cpp)
    // What a button asks for: op "install" (also for updates), "remove", or empty for nothing to do;
    // verb "install", "update" or "remove"; the format keys; an app's companion ids that go along.
    struct Action {
        std::string op;
        std::string verb;
        std::vector<std::string> formats;
        std::vector<std::string> companions;
    };
    // The tick-box slots are "vst3", "clap", "au"; on an app row without plug-ins the first two stand
    // for its first two companions. A null row answers false, empty or the slot's plain title.
    std::map<std::string, bool>& wanted(const tqm::Row& row);
    std::string slotFormat(const tqm::Row* row, const std::string& slot) const;
    int companionIndex(const tqm::Row* row, const std::string& slot) const;
    const tqm::Row* companionRow(const tqm::Row* row, const std::string& slot) const;
    bool offered(const tqm::Row* row, const std::string& slot) const;
    bool ticked(const tqm::Row* row, const std::string& slot);
    bool installedHere(const tqm::Row* row, const std::string& slot) const;
    std::string slotTitle(const tqm::Row* row, const std::string& slot) const;
    std::string pathFormat() const;
    std::filesystem::path shownDir() const;
    bool companionTicked(const tqm::Row& app, const tqm::Row& companion) const;
    void toggleCompanion(const tqm::Row& row, const std::string& slot);
    std::filesystem::path appDir(const tqm::Row& row) const;
    Action appAction(const tqm::Row& row, bool allowRemove) const;
    Action mainAction();
    void rowAction(const tqm::Row& row);
    // Builds the plan and opens the job window; a refusal is a note in the status line.
    void runAction(const tqm::Row& row, Action action);
    void updateAll();
    void moreMenu(const tqm::Row& row);
    void moreChoice(const std::string& rowId, int id);
    // Without native menus (popupMenu answers -1) the toolkit's own list opens in their place.
    void showMenu(std::vector<lumo::gui::MenuItem> items, lumo::gui::Rect anchor, std::function<void(int)> onPick);

    // The main button's word for an action on a row: "reinstall" for an install over an installed row.
    static std::string buttonWord(const tqm::Row& row, const Action& action);

    // ---- 11. painting both looks share (paint.cpp, text.cpp); positions in layout units, y of text the
    //      baseline
    void rows(lumo::gui::Canvas& canvas, const lumo::gui::AssetPack& pack);
    void row(lumo::gui::Canvas& canvas, const lumo::gui::AssetPack& pack, int index);
    void logo(lumo::gui::Canvas& canvas, const lumo::gui::AssetPack& pack);
    void label(lumo::gui::Canvas& canvas, const lumo::gui::AssetPack& pack, const std::string& key);
    void text(lumo::gui::Canvas& canvas, const lumo::gui::AssetPack& pack, const char* font, std::string s, double x,
              double y, char align, double w, const char* colorKey, double maxWidth, double gain);
    void centred(lumo::gui::Canvas& canvas, const lumo::gui::AssetPack& pack, const char* font, const std::string& s,
                 lumo::gui::Rect box, const char* colorKey, double gain);
    lumo::gui::Color ink(const std::string& key) const;
    // The row picture of an entry at the paint scale times k, resized to the layout's box when the
    // catalog has none of that size; null when it has none (or none arrived yet).
    const lumo::gui::Bitmap* rowThumb(const std::string& id, double k);
    // rowThumb for the model's row of that index, as every painted line asks on every frame: the
    // answer is kept and given again while nothing it points to can have gone.
    const lumo::gui::Bitmap* rowPicture(size_t entry, double k);
    // The logo of an entry for the inspector's box at the paint scale; null when it has none.
    const lumo::gui::Bitmap* logoPicture(const std::string& id, lumo::gui::Rect box);
    void inspectorText(lumo::gui::Canvas& canvas, const lumo::gui::AssetPack& pack, const std::string& key);
    // A format slot's label centred over its slot; a name too wide for the slot ends in "...".
    void slotLabel(lumo::gui::Canvas& canvas, const lumo::gui::AssetPack& pack, const tqm::Row* row,
                   const std::string& slot, const char* colorKey, double gain);
    // A layout length in device pixels at the paint scale: floor(v x scale + 1e-9).
    int32_t dev(double v) const;
    // The list's area in device pixels of the paint in progress.
    lumo::gui::Rect listDeviceBox() const;
    // The display-list indices [first, end) whose lines may meet the list at the current scroll
    // (a few more, never fewer): what a paint or the part table needs to look at.
    std::pair<size_t, size_t> linesInView() const;
    // A row's status word (into status) and its colour key: job progress, "Error", or by state.
    const char* rowStatus(const tqm::Row& row, std::string& status) const;
    // The display index of the selected row, -1 when none.
    int selectedIndex() const;
    // Lists the rows again when the model replaced them since the display list was made.
    void syncRows();
    // Makes the display list from the model's rows (order, headers, the first selection).
    void listRows();

    // ---- the view's state, read (the fields are private, below)
    Model* model() const { return model_.get(); }  // null until start
    const lumo::Json* managerLayout() const { return managerLayout_; }
    const lumo::Json* layoutRects() const { return layoutRects_; }
    const std::map<std::string, lumo::gui::Color>& colors() const { return colors_; }
    const std::map<std::string, std::map<std::string, bool>>& wants() const { return wants_; }
    const std::map<std::string, bool>& companionTicks() const { return companionTicks_; }
    const std::vector<int32_t>& displayList() const { return displayList_; }
    const std::string& selectedId() const { return selectedId_; }
    const std::string& shownFormat() const { return shownFormat_; }
    int32_t pendingSelect() const { return pendingSelect_; }
    const std::string& sortColumn() const { return sortColumn_; }
    bool sortAscending() const { return sortAscending_; }
    bool sizeRestored() const { return sizeRestored_; }
    const Axis& xAxis() const { return xAxis_; }
    const Axis& yAxis() const { return yAxis_; }
    double inspectorShare() const { return inspectorShare_; }
    int32_t pageWidth() const { return pageWidth_; }
    int32_t pageHeight() const { return pageHeight_; }
    lumo::gui::Rect listRect() const { return listRect_; }
    int32_t rowFirstX() const { return rowFirstX_; }
    int32_t rowFirstY() const { return rowFirstY_; }
    int32_t rowPitch() const { return rowPitch_; }
    int32_t scroll() const { return scroll_; }
    double paintScale() const { return paintScale_; }
    int32_t paintX() const { return paintX_; }
    int32_t paintY() const { return paintY_; }

    // ---- the view's state, set where no user action does it (a view used without start, tests)
    // Hands the view a model made by the caller instead of the one start makes.
    void setModel(std::unique_ptr<Model> model);
    // Selects the row of this id (none for an empty id) where the list stands; the inspector goes
    // back to the row's default folder.
    void select(const std::string& id);
    // Sorts the list by a column ("name", "version", "status"; any other sorts by name).
    void setSort(const std::string& column, bool ascending);
    // Shows a format's folder in the inspector (empty: the selected row's default one).
    void setShownFormat(const std::string& format);
    // Replaces the stretch bands that setSize makes from the layout.
    void setAxes(Axis x, Axis y);
    // Forgets the user's ticks: every box shows its default again.
    void forgetTicks();
    // Sets the paint state as draw does, for painting one part or sprite alone.
    void paintAt(double scale, int32_t x, int32_t y);

    // ---- fields others set
    // Set at the first change after the catalog loaded; clear, the next change makes the first-load
    // offers again, and set before, it makes none.
    bool firstLoadDone = false;
    JobPlan lastPlan;  // the plan of the last job started from a job window, as it ran; shown again while it runs

private:
    void clampScroll();

    // ---- fields, in order
    std::function<void(int w, int h)> resizeRequest_;  // the editor's resize, set by createManagerEditor
    const lumo::Json* managerLayout_ = nullptr;  // the layout's "manager" object
    const lumo::Json* layoutRects_ = nullptr;    // the layout's "rects" object
    std::unique_ptr<Model> model_;
    std::map<std::string, lumo::gui::Color> colors_;
    std::map<std::string, std::map<std::string, bool>> wants_;
    std::map<std::string, bool> companionTicks_;
    std::vector<int32_t> displayList_;
    std::string selectedId_;
    std::string shownFormat_;
    int32_t pendingSelect_ = 0;
    std::string sortColumn_ = "name";
    bool sortAscending_ = true;
    bool sizeRestored_ = false;
    bool selfResizing_ = false;
    bool sizeUnsaved_ = false;   // the user's size changed since "window.txt" was written
    int32_t unsavedW_ = 0;       // that size
    int32_t unsavedH_ = 0;
    double sizeChangedAt_ = 0;   // when it last changed, on the editor's clock
    Axis xAxis_;
    Axis yAxis_;
    double inspectorShare_ = 0.25;
    int32_t pageWidth_ = 426;
    int32_t pageHeight_ = 344;
    lumo::gui::Rect listRect_;
    int32_t rowFirstX_ = 0;
    int32_t rowFirstY_ = 0;
    int32_t rowPitch_ = 26;
    int32_t scroll_ = 0;
    double paintScale_ = 1.0;
    int32_t paintX_ = 0;
    int32_t paintY_ = 0;
    const lumo::gui::Paint* paint_ = nullptr;
    JobWindow* jobWindow_ = nullptr;
    AccountWindow* accountWindow_ = nullptr;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);

    // Pictures resized for a scale, by the file they were made from and their size, the least recently
    // drawn dropped first. Room for the row pictures of a few thousand entries at 2x, so scrolling a
    // long list back and forth resizes each picture once.
    art::PictureCache thumbCache{size_t(64) << 20};
    // What rowPicture last found for each row: good while the row's id and the scale are the same,
    // and the pictures' stamp and the thumbnails' drops are those it was found under.
    struct ThumbMemo {
        uint64_t stamp = 0;
        uint64_t drops = 0;
        double scale = 0;
        std::string id;
        const lumo::gui::Bitmap* bitmap = nullptr;
    };
    std::vector<ThumbMemo> thumbMemo_;  // by the model's row index
    uint32_t listedGeneration = 0;  // the model's row generation the display list was made from
    int32_t dragStartY = 0;         // pointer y and scroll when a press on the scrollbar cap began
    int32_t dragStartScroll = 0;
    Pointer<MainId> pointer_;
    std::unique_ptr<Look> look_ = makeLook(1);
    MainParts paintParts_;  // the table of the paint in progress
    bool painting_ = false;
};

// ---------------------------------------------------------------------------------------------
// 9. Free functions
// Layout boxes: [x0, y0, x1, y1] and [x, y, w, h] by the document's integer rule.
lumo::gui::Rect boxRect(const lumo::Json& v);
lumo::gui::Rect layoutRect(const lumo::Json& v);
// Sprites that are only ever moved, never cut and stretched.
bool sliceable(const std::string& sprite);
std::unique_ptr<lumo::gui::Editor> createManagerEditor(lumo::gui::EditorHost& host);
// The same around a view made by the caller (one that places its parts elsewhere, say).
std::unique_ptr<lumo::gui::Editor> createManagerEditor(lumo::gui::EditorHost& host, std::unique_ptr<ManagerView> view);
// The manager's skin: six packs and the layout document, loaded on first use.
const lumo::gui::Assets& managerSkin();
// "VST3", "CLAP", "STANDALONE" for "app", "AU" for every other key.
const char* formatTitle(const std::string& format);
// Starts a program (the first word, looked up on PATH) with the other words, without waiting;
// false when it cannot be started. When it ends, `ended` (if given) hears its exit code (-1: ended
// by a signal) on the thread that reaps it. `quiet`: what it writes goes nowhere, not to the
// terminal the manager was started from.
bool startDetached(std::vector<std::string> words, std::function<void(int)> ended = {}, bool quiet = false);
// The words of a command line a restart passes on to the new instance: those that say where and
// how the manager runs (catalog, keys, root, scope, data folder, look, size, zoom, scale).
std::vector<std::string> restartWords(const std::vector<std::string>& words);

}  // namespace tqapp
