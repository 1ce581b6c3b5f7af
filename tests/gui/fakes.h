#pragma once
// A host with a parameter table and recording fakes of the platform window and popup surface.
#include <atomic>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "gui/editor.h"

namespace fakes {

using namespace lumo::gui;

class Host : public EditorHost {
public:
    explicit Host(std::vector<lumo::ParamDef> params = {}) { definition.params = std::move(params); }

    const lumo::PluginDef& def() const override { return definition; }
    double getValue(unsigned id) const override {
        auto it = values.find(id);
        return it == values.end() ? 0.0 : it->second;
    }
    void beginEdit(unsigned id) override { edits.push_back("begin " + std::to_string(id)); }
    void performEdit(unsigned id, double v) override {
        values[id] = v;
        edits.push_back("perform " + std::to_string(id) + " " + std::to_string(v));
    }
    void endEdit(unsigned id) override { edits.push_back("end " + std::to_string(id)); }
    bool requestResize(int w, int h) override {
        resizeRequests.push_back({w, h});
        return standalone || agrees;
    }
    bool isStandalone() const override { return standalone; }

    lumo::PluginDef definition;
    std::map<unsigned, double> values;
    std::vector<std::string> edits;
    std::vector<std::pair<int, int>> resizeRequests;
    bool agrees = false;     // answer of a plug-in host
    bool standalone = false; // a standalone host owns its window and always agrees
};

// Everything the fakes are asked, in order, shared so that it outlives them.
using Log = std::shared_ptr<std::vector<std::string>>;

class Surface : public PopupSurface {
public:
    explicit Surface(Log log) : log_(std::move(log)) {}
    ~Surface() override { log_->push_back("surface destroyed"); }
    void present(const Canvas&, int, int) override {}
    void hide() override { log_->push_back("surface hide"); }
    void raise() override {}
    void setCorners(CornerStyle) override {}
    void setActivates(bool) override {}
    void takeKeyboard() override { log_->push_back("takeKeyboard"); }

private:
    Log log_;
};

class Window : public HeadlessWindow {
public:
    explicit Window(Log log) : log_(std::move(log)) {}
    ~Window() override { log_->push_back("window destroyed"); }

    bool attach(void*, int w, int h) override {
        log_->push_back("attach " + std::to_string(w) + "x" + std::to_string(h));
        return accepts;
    }
    bool openTopLevel(const char* title, int w, int h) override {
        log_->push_back(std::string("open ") + (title ? title : "") + " " + std::to_string(w) + "x" +
                        std::to_string(h));
        return accepts;
    }
    void runMessageLoop() override {
        log_->push_back("loop");
        if (loop) loop();  // may destroy this window: nothing of it is touched afterwards
    }
    void setTitle(const std::string& t, bool) override { log_->push_back("title " + t); }
    void close() override { log_->push_back("close"); }
    void resize(int w, int h) override { log_->push_back("resize " + std::to_string(w) + "x" + std::to_string(h)); }
    void setSizeLimits(bool, int a, int b, int c, int d) override {
        log_->push_back("limits " + std::to_string(a) + " " + std::to_string(b) + " " + std::to_string(c) + " " +
                        std::to_string(d));
    }
    bool postWake() override {
        ++wakes;
        return true;
    }
    double systemScale() const override { return scale; }
    bool startFrames() override {
        log_->push_back("startFrames");
        return frames;
    }
    void stopFrames() override { log_->push_back("stopFrames"); }
    std::unique_ptr<PopupSurface> createPopup() override { return std::make_unique<Surface>(log_); }
    bool hasPopups() const override { return true; }
    int popupMenu(const std::vector<MenuItem>&, int, int) override { return 7; }
    bool openFilesDialog(const std::string&, const std::string&, const std::vector<std::string>& ext, bool,
                         std::vector<std::string>& paths) override {
        for (const auto& e : ext) paths.push_back("file." + e);
        return true;
    }

    bool accepts = true;
    bool frames = false;
    double scale = 1.0;
    std::atomic<int> wakes{0};
    std::function<void()> loop;

private:
    Log log_;
};

inline Log newLog() { return std::make_shared<std::vector<std::string>>(); }

inline int indexOf(const Log& log, const std::string& entry) {
    for (size_t i = 0; i < log->size(); ++i)
        if ((*log)[i] == entry) return int(i);
    return -1;
}

inline int lastIndexOf(const Log& log, const std::string& entry) {
    for (size_t i = log->size(); i-- > 0;)
        if ((*log)[i] == entry) return int(i);
    return -1;
}

}  // namespace fakes
