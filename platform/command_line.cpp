// The command line main stores for later lookups, and the display scale it asks for.
#include <atomic>
#include <cstring>
#include <mutex>

#include "platform/platform.h"

namespace lumo {

namespace {

std::mutex g_mutex;
std::vector<std::string> g_words;
std::atomic<double> g_scale{0.0};

}  // namespace

void storeStandaloneArgs(int argc, const char* const* argv) {
    std::vector<std::string> words;
    for (int i = 1; argv && i < argc; ++i)
        if (argv[i]) words.emplace_back(argv[i]);
    std::lock_guard<std::mutex> lock(g_mutex);
    g_words = std::move(words);
}

std::vector<std::string> standaloneArgs() {
    std::lock_guard<std::mutex> lock(g_mutex);
    return g_words;
}

bool hasStandaloneArg(const char* name) {
    if (!name) return false;
    std::lock_guard<std::mutex> lock(g_mutex);
    for (const std::string& w : g_words)
        if (w == name) return true;
    return false;
}

std::string standaloneArgValue(const char* name) {
    if (!name) return {};
    std::lock_guard<std::mutex> lock(g_mutex);
    for (size_t i = 0; i < g_words.size(); ++i)
        if (g_words[i] == name) return i + 1 < g_words.size() ? g_words[i + 1] : std::string();
    return {};
}

void setDisplayScaleOverride(double scale) { g_scale = scale > 0 ? scale : 0.0; }

double displayScaleOverride() { return g_scale; }

}  // namespace lumo
