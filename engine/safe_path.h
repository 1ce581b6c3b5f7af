#pragma once
// Opening the folders that the engine writes in. Root (the elevated helper) writes into folders
// that users own, where anything running as the user can plant a link: so while the process
// runs as root every folder on the way is opened without following links, and a link is passed
// only when no one but root can change it (root owns the link and the folder that holds it, and
// that folder is not writable by others unless it is sticky). Any other process opens folders
// as the system does, following links. Callers then work relative to the open folder.
#include <string>
#include <vector>

namespace tqm::detail {

// An open folder (an O_PATH descriptor, good for the *at calls); closed with the object.
class DirFd {
public:
    DirFd() = default;
    explicit DirFd(int fd) : fd_(fd) {}
    ~DirFd();
    DirFd(DirFd&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
    DirFd& operator=(DirFd&& other) noexcept;
    DirFd(const DirFd&) = delete;
    DirFd& operator=(const DirFd&) = delete;

    int get() const { return fd_; }

private:
    int fd_ = -1;
};

// What the openers answer: 0, a system error number, or kLinkRefused.
constexpr int kLinkRefused = -1;

bool runningAsRoot();

// As root, sets the umask to 022: what root makes is its own to set, and a caller's umask (000,
// say) would leave receipts, data folders and plug-ins open to every account. Nothing otherwise,
// but in the elevated helper (helper), which is meant to run as root whoever started it.
void keepRootUmask(bool helper = false);

// O_NOFOLLOW for root, nothing for anyone else: for opens whose last component was followed
// before and must stay so for ordinary users.
int rootNoFollow();

// Opens the folder dir; with make, missing folders are made (0777 less the umask) on the way.
int openDir(const std::string& dir, DirFd& out, bool make = false);

// Opens the folder that holds path and gives path's last component in name ("", "." and ".."
// are refused with EINVAL). With make, the folder is made with its parents.
int openParent(const std::string& path, DirFd& out, std::string& name, bool make = false);

// The same for a path below the folder base, for what must never be reached through a link: base
// is opened as openDir does, every folder after it without following a link (kLinkRefused for
// one). EINVAL when path does not lie below base.
int openParentBelow(const std::string& base, const std::string& path, DirFd& out, std::string& name);

// "<path>: a folder on the way is a link the user can change; not touched".
std::string refusedText(const std::string& path);

// The system's text for an error number.
std::string systemText(int err);

// Writes all of text to fd; false on a write error.
bool writeAll(int fd, const std::string& text);

// The names in an open folder ("." and ".." left out); false when it cannot be listed.
bool folderNames(int dirFd, std::vector<std::string>& names);

}  // namespace tqm::detail
