#include "platform/linux/dialogs.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

extern char** environ;

namespace lumo::platform {

namespace {

std::string startName(const std::string& folder, const std::string& name) {
    if (folder.empty()) return name;
    if (name.empty()) return folder.back() == '/' ? folder : folder + "/";
    return folder.back() == '/' ? folder + name : folder + "/" + name;
}

std::string filterOf(const std::string& types, const std::vector<std::string>& extensions) {
    std::string globs;
    for (const std::string& e : extensions) {
        if (e.empty()) continue;
        if (!globs.empty()) globs += ' ';
        globs += "*." + (e.front() == '.' ? e.substr(1) : e);
    }
    if (globs.empty()) return {};
    return "--file-filter=" + (types.empty() ? globs : types + " | " + globs);
}

}  // namespace

bool runZenity(const std::vector<std::string>& args, std::string& out) {
    out.clear();
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    std::vector<std::string> words{"zenity"};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    int rc = posix_spawnp(&pid, "zenity", &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    if (rc != 0) {
        close(fds[0]);
        return false;
    }
    char buf[4096];
    for (;;) {
        ssize_t n = read(fds[0], buf, sizeof buf);
        if (n > 0) {
            out.append(buf, size_t(n));
        } else if (n == 0 || errno != EINTR) {
            break;
        }
    }
    close(fds[0]);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (!out.empty() && out.back() == '\n') out.pop_back();
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool zenityFolder(const std::string& title, std::string& path) {
    std::vector<std::string> args{"--file-selection", "--directory", "--title=" + title};
    if (!path.empty()) args.push_back("--filename=" + startName(path, ""));
    std::string out;
    if (!runZenity(args, out) || out.empty()) return false;
    path = out;
    return true;
}

bool zenityFile(bool save, const std::string& title, const std::string& extension, const std::string& name,
                std::string& path) {
    std::vector<std::string> args{"--file-selection", "--title=" + title};
    if (save) args.push_back("--save");
    std::string start = startName(path, name);
    if (!start.empty()) args.push_back("--filename=" + start);
    if (std::string f = filterOf("", {extension}); !f.empty()) args.push_back(f);
    std::string out;
    if (!runZenity(args, out) || out.empty()) return false;
    path = out;
    return true;
}

bool zenityFiles(const std::string& title, const std::string& types, const std::vector<std::string>& extensions,
                 bool multiple, std::vector<std::string>& paths) {
    std::vector<std::string> args{"--file-selection", "--title=" + title};
    if (multiple) {
        args.push_back("--multiple");
        args.push_back("--separator=\n");
    }
    if (std::string f = filterOf(types, extensions); !f.empty()) args.push_back(f);
    std::string out;
    if (!runZenity(args, out)) return false;
    size_t start = 0;
    while (start <= out.size()) {
        size_t end = out.find('\n', start);
        if (end == std::string::npos) end = out.size();
        if (end > start) paths.push_back(out.substr(start, end - start));
        start = end + 1;
    }
    return !paths.empty();
}

}  // namespace lumo::platform
