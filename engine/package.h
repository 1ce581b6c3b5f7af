#pragma once
// A package that matched its catalog entry (size and SHA-256) in this process, kept so that the
// install of the same job can take it without hashing it again. Its bytes are held where no
// other user can change them between the check and the install: behind a descriptor of the
// cached file, opened without following a link, owned by this user and writable by no one else;
// or, when the cache cannot be held so, in memory.
#include <string>

namespace tqm {

struct FileRef;

class Package {
public:
    Package() = default;
    ~Package();
    Package(Package&& other) noexcept;
    Package& operator=(Package&& other) noexcept;
    Package(const Package&) = delete;
    Package& operator=(const Package&) = delete;

    // The catalog's file this package matched; null for an empty package. It points into the
    // catalog the download was checked against, which must outlive the package (a job holds both).
    const FileRef* ref() const { return ref_; }

    // The checked bytes. False with error when the cached file no longer reads whole at the
    // size it was checked at.
    bool read(std::string& out, std::string& error) const;

    // Made only by the engine's downloads, after the check (download.cpp).
    static Package checked(const FileRef& ref, int fd, std::string bytes);

private:
    const FileRef* ref_ = nullptr;
    int fd_ = -1;        // the cached file, or -1
    std::string bytes_;  // the bytes when there is no descriptor
};

}  // namespace tqm
