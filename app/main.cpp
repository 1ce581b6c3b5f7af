// The manager's program: the elevated helper's entry (linked in with the engine) has already run
// before main when the command line asked for it. Here the command line is checked and stored,
// the data folder override applied, and the manager's editor made; then either one headless
// paint or tree dump, or the standalone window until the user closes it. Nothing of the manager
// starts before the words are checked and a display is known to be there, and main does not
// return while a worker the manager started still runs.
#include <curl/curl.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "app/harness.h"
#include "app/host.h"
#include "app/options.h"
#include "manager/model/model.h"
#include "manager/view/view.h"
#include "platform/linux/window_layer.h"
#include "platform/platform.h"

namespace {

// How long the end of the program waits for a catalog load still under way.
constexpr std::chrono::milliseconds kLoadGrace{3000};

void noSignal(int) {}

// SDL's reason why the window did not start, as the end of a sentence; nothing when it gave none.
std::string videoReason() {
    const std::string why = lumo::platform::videoError();
    return why.empty() ? "" : " (" + why + ")";
}

int run(const tqapp::EntryOptions& options) {
    tqapp::StandaloneHost host;
    std::unique_ptr<lumo::gui::Editor> editor = tqapp::createManagerEditor(host);
    host.editor = editor.get();
    if (options.headless()) {
        tqapp::applyEntryOptions(*editor, options);
        return tqapp::runHeadless(*editor, options);
    }
    tqapp::EntryOptions sized = options;
    sized.scale = 0;  // the window's own
    tqapp::applyEntryOptions(*editor, sized);

    bool tornDown = false;
    lumo::gui::Editor::standaloneTeardown() = [&] {
        tornDown = true;
        host.editor = nullptr;
        editor.reset();
    };
    editor->runStandalone("Ardune Systems Manager");
    lumo::gui::Editor::standaloneTeardown() = nullptr;
    if (!tornDown) {
        std::fprintf(stderr, "ardune-manager: the window could not be opened%s\n", videoReason().c_str());
        return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    // libcurl's global set-up (and the TLS library's under it) is not safe once threads run: it is
    // done here, first, and the engine's own once-only call later finds it done.
    curl_global_init(CURL_GLOBAL_DEFAULT);
    tqapp::Model::keepWorkers();
    // Past a file-size limit a write fails (and says so) instead of the signal ending the program
    // half-way through a file. A handler, not "ignore": the programs this one starts get the default.
    struct sigaction quiet {};
    quiet.sa_handler = noSignal;
    sigemptyset(&quiet.sa_mask);
    sigaction(SIGXFSZ, &quiet, nullptr);

    lumo::storeStandaloneArgs(argc, argv);
    tqapp::EntryOptions options;
    std::string error;
    if (!tqapp::readEntryOptions(options, error)) {
        std::fprintf(stderr, "ardune-manager: %s\n", error.c_str());
        return 2;
    }
    if (options.help) {
        std::fputs(tqapp::usageText().c_str(), stdout);
        return 0;
    }
    if (!options.screenshot.empty() && !tqapp::screenshotTarget(options.screenshot, error)) {
        std::fprintf(stderr, "ardune-manager: %s\n", error.c_str());
        return 1;
    }
    if (!options.headless() && !lumo::platform::displayReachable()) {
        std::fprintf(stderr,
                     "ardune-manager: no display to open a window on%s; --screenshot FILE paints the window "
                     "into a picture without one\n",
                     videoReason().c_str());
        return 1;
    }
    tqapp::applyToProcess(options);
    lumo::platform::closeHeldSays("ardune-manager: finishing the job under way, then the window closes; a second "
                                  "signal ends the program now, leaving the job unfinished");

    const int status = run(options);
    if (!tqapp::Model::waitForWorkers(kLoadGrace)) {
        // A catalog load is still waiting on the network: end without the libraries' teardown,
        // which would pull their state from under it.
        std::fflush(nullptr);
        ::_exit(status);
    }
    return status;
}
