#pragma once
// A model on a private root with a signed catalog in a folder source (or behind the loopback
// server): two plug-ins and an app with real packages and pictures, and a UI queue that the test
// drains in place of the editor's tick.
#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/sha256.h"
#include "gui/ui_queue.h"
#include "manager/model/model.h"
#include "tests/support/http_server.h"
#include "tests/support/job_fixture.h"
#include "tests/support/png.h"

namespace testsupport {

// Every file under root behind the loopback server, at its path below root.
inline void serveFolder(LoopbackServer& server, const std::string& root) {
    namespace fs = std::filesystem;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(root, ec); !ec && it != fs::recursive_directory_iterator(); it.increment(ec))
        if (it->is_regular_file()) server.serveFile(fs::relative(it->path(), root).string(), readFile(it->path().string()));
}

// Counts, while it lives, the inputs SHA-256 is given, by size (any thread may hash).
class HashCount {
public:
    HashCount() {
        std::lock_guard<std::mutex> lock(mutex());
        sizes().clear();
        tqm::detail::sha256Watch = [](size_t size) {
            std::lock_guard<std::mutex> lock(mutex());
            ++sizes()[size];
        };
    }
    ~HashCount() { tqm::detail::sha256Watch = nullptr; }
    int of(size_t size) const {
        std::lock_guard<std::mutex> lock(mutex());
        return sizes()[size];
    }

private:
    static std::mutex& mutex() {
        static std::mutex m;
        return m;
    }
    static std::map<size_t, int>& sizes() {
        static std::map<size_t, int> s;
        return s;
    }
};

class ModelTest : public TempHomeTest {
protected:
    // A w x h picture in one colour, written into the source; answers its art file object.
    std::string picture(const std::string& rel, int w, int h, uint32_t argb) {
        return art(rel, encodePng(w, h, std::vector<uint32_t>(size_t(w) * h, argb)));
    }
    std::string art(const std::string& rel, const std::string& bytes) {
        writeFile(catalog.source() + "/" + rel, bytes);
        return "{\"path\": \"" + rel + "\", \"sha256\": \"" + tqm::sha256Hex(bytes.data(), bytes.size()) +
               "\", \"size\": " + std::to_string(bytes.size()) + "}";
    }

    // The catalog text: "synth" (VST3 and CLAP) and "delay" (VST3) with row and logo pictures at
    // 1x and 2x, and the app "studio"; version v of everything, the manager's latest and minimum.
    std::string catalogText(const std::string& v, int sequence = 1, const std::string& latest = "0.3.0",
                            const std::string& minimum = "") {
        std::string plugins;
        for (const char* id : {"synth", "delay"}) {
            const std::string name = id == std::string("synth") ? "Synth" : "Delay";
            std::string packages = "\"vst3\": {\"mac\": " +
                                   catalog.file("plugins/" + name + "-" + v + ".vst3.zip",
                                                JobCatalog::pluginZip(name + ".vst3", "vst3 " + v), name + ".vst3") +
                                   "}";
            if (name == "Synth")
                packages += ", \"clap\": {\"mac\": " +
                            catalog.file("plugins/" + name + "-" + v + ".clap.zip",
                                         JobCatalog::pluginZip(name + ".clap", "clap " + v), name + ".clap") +
                            "}";
            const std::string a = "art/" + std::string(id);
            if (!plugins.empty()) plugins += ", ";
            plugins += "{\"id\": \"" + std::string(id) + "\", \"name\": \"" + name + "\", \"version\": \"" + v +
                       "\", \"packages\": {" + packages + "}, \"art\": {\"row\": {\"1x\": " +
                       picture(a + "-row.png", 4, 2, 0xFF102030) + ", \"2x\": " +
                       picture(a + "-row@2x.png", 8, 4, 0xFF102030) + "}, \"logo\": {\"1x\": " +
                       picture(a + "-logo.png", 3, 3, 0xFFFF0000) + "}}}";
        }
        const std::string app =
            "{\"id\": \"studio\", \"name\": \"Studio\", \"version\": \"" + v +
            "\", \"uninstall_key\": \"Studio\", \"packages\": {\"mac\": " +
            catalog.file("apps/Studio-" + v + ".zip", JobCatalog::appZip("Studio.app", "Studio", "Studio " + v),
                         "Studio.app", "Studio") +
            "}, \"data\": {\"paths\": {\"mac\": {\"user\": [\"%APPDATA%\\\\Ardune Systems\\\\Studio\"]}}}}";
        const std::string manager =
            "\"manager\": {\"latest\": \"" + latest + "\"" +
            (minimum.empty() ? "" : ", \"minimum\": \"" + minimum + "\"") + ", \"packages\": {\"mac\": " +
            catalog.file("manager/Manager-" + latest + ".zip",
                         JobCatalog::appZip("Manager.app", "manager", "manager " + latest), "Manager.app") +
            "}}";
        return "{\"schema\": 1, \"sequence\": " + std::to_string(sequence) + ", " + manager + ", \"plugins\": [" +
               plugins + "], \"apps\": [" + app + "]}";
    }

    tqapp::Config config() const {
        tqapp::Config c;
        c.layout.root = path("root");
        c.source = catalog.source();
        c.pub = catalog.publicKeyHex();
        return c;
    }

    // A model on the configuration; every change callback is counted, and each new progress
    // text or fraction it shows is kept.
    tqapp::Model& make(tqapp::Config c) {
        model = std::make_unique<tqapp::Model>(std::move(c), queue, [this] {
            ++changes;
            if (!model->busy) return;
            const Progress now{model->progressText, model->fraction};
            if (progress.empty() || progress.back().text != now.text || progress.back().fraction != now.fraction)
                progress.push_back(now);
            if (watch) watch(*model);
        });
        return *model;
    }

    // A started model whose catalog has loaded.
    tqapp::Model& ready(tqapp::Config c) {
        tqapp::Model& m = make(std::move(c));
        m.start();
        EXPECT_TRUE(loaded());
        EXPECT_TRUE(m.catalog && m.catalog->ok);
        return m;
    }

    // Runs posted closures, as the editor's tick does, until done() holds; false after ten seconds.
    bool pumpUntil(const std::function<bool()>& done) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        for (;;) {
            for (auto& task : queue->take()) task();
            if (done()) return true;
            if (std::chrono::steady_clock::now() > end) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    }
    // The catalog is applied and the load's worker has fetched the pictures.
    bool loaded() {
        return pumpUntil([this] { return !model->loading && !model->fetchingPictures; });
    }
    // A picture of the loaded catalog; null when it cannot be had.
    const lumo::gui::Bitmap* picture(const std::string& id, tqapp::art::Kind kind, const std::string& key) {
        return model->pictures.get(id, kind, key, 1 << 14, 1 << 14);
    }

    // Runs a job to its end.
    bool runJob(std::vector<tqm::Task> tasks, const std::string& title = "Job", const std::string& done = "Done") {
        progress.clear();
        model->run(std::move(tasks), title, done);
        return pumpUntil([this] { return model->doneGeneration == model->jobGeneration && !model->busy; });
    }

    std::string logText() const { return readFile(model->logFile().string()); }

    struct Progress {
        std::string text;
        double fraction;
    };

    JobCatalog catalog{path("source")};
    std::vector<Progress> progress;
    std::function<void(tqapp::Model&)> watch;  // called on every change while a job runs
    std::shared_ptr<lumo::gui::UiQueue> queue = std::make_shared<lumo::gui::UiQueue>();
    std::unique_ptr<tqapp::Model> model;
    int changes = 0;
};

}  // namespace testsupport
