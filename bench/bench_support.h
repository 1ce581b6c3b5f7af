#pragma once
// Pieces shared by the benchmark fixtures: file writing, the catalog text of a
// plug-in's packages, a UI thread that sleeps until its queue wakes it, and a host for editors.
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>

#include "gui/host.h"
#include "gui/ui_queue.h"
#include "support/temp_dir.h"

namespace benchsupport {

// Writes the file whole, making its folders first.
inline void put(const std::filesystem::path& file, const std::string& bytes) {
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << bytes;
}

// The members of a catalog entry's "packages" object: a VST3 and a CLAP zip of 1 MiB each.
inline std::string packagesText(const std::string& id, const std::string& sha) {
    std::string t;
    for (const char* f : {"vst3", "clap"})
        t += std::string(f[0] == 'v' ? "" : ", ") + "\"" + f + "\": {\"mac\": {\"path\": \"" + id + "/" + id + "." + f +
             ".zip\", \"sha256\": \"" + sha + "\", \"size\": 1048576, \"item\": \"" + id + "." + f + "\"}}";
    return t;
}

// The UI thread's side of a model: the queue's wake sets a flag, and pumpWhile sleeps until then and
// runs what was posted, as the editor's message loop does.
class UiPump {
public:
    UiPump() {
        queue->setWake([this] {
            std::lock_guard<std::mutex> lock(mutex_);
            wake_ = true;
            woken_.notify_one();
        });
    }

    template <class Busy>
    void pumpWhile(Busy busy) {
        while (busy()) {
            std::unique_lock<std::mutex> lock(mutex_);
            woken_.wait(lock, [&] { return wake_; });
            wake_ = false;
            lock.unlock();
            for (auto& task : queue->take()) task();
        }
    }

    const std::shared_ptr<lumo::gui::UiQueue> queue = std::make_shared<lumo::gui::UiQueue>();

private:
    std::mutex mutex_;
    std::condition_variable woken_;
    bool wake_ = false;
};

// A host with no parameters, for an editor made by a benchmark.
class Host : public lumo::gui::EditorHost {
public:
    const lumo::PluginDef& def() const override { return definition; }
    double getValue(unsigned) const override { return 0.0; }
    void beginEdit(unsigned) override {}
    void performEdit(unsigned, double) override {}
    void endEdit(unsigned) override {}
    lumo::PluginDef definition;
};

}  // namespace benchsupport
