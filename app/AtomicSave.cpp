#include "app/AtomicSave.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>

namespace {

// The file a symbolic link leads to; the path itself when it is no link or leads nowhere yet.
std::string resolved(const std::string& path) {
    char real[PATH_MAX];
    return realpath(path.c_str(), real) ? std::string(real) : path;
}

bool isLink(const std::string& path) {
    struct stat info;
    return lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode);
}

// A fresh file for the new text, with the permissions of the file it replaces.
int openTemporary(const std::string& temporary, const std::string& target) {
    unlink(temporary.c_str());
    const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    struct stat old;
    if (fd >= 0 && stat(target.c_str(), &old) == 0) fchmod(fd, old.st_mode & 07777);
    return fd;
}

}  // namespace

AtomicSave::AtomicSave(const std::string& path) : target_(resolved(path)) {
    // A link that leads nowhere yet: opening it creates the file it names.
    if (isLink(target_)) {
        out_ = std::fopen(target_.c_str(), "w");
        return;
    }
    temporary_ = target_ + ".tmp";
    const int fd = openTemporary(temporary_, target_);
    if (fd >= 0) {
        out_ = fdopen(fd, "w");
        if (out_) return;
        close(fd);
        unlink(temporary_.c_str());
    }
    const bool folderRefuses = fd < 0 && (errno == EACCES || errno == EPERM);
    temporary_.clear();
    // A folder that takes no new file: the file itself may still be writable.
    if (folderRefuses) out_ = std::fopen(target_.c_str(), "w");
}

AtomicSave::~AtomicSave() {
    if (!out_) return;
    std::fclose(out_);
    if (!temporary_.empty()) unlink(temporary_.c_str());
}

bool AtomicSave::commit() {
    if (!out_) return false;
    const bool written = std::fflush(out_) == 0 && !std::ferror(out_);
    const bool closed = std::fclose(out_) == 0;
    out_ = nullptr;
    if (temporary_.empty()) return written && closed;
    if (written && closed && std::rename(temporary_.c_str(), target_.c_str()) == 0) return true;
    unlink(temporary_.c_str());
    return false;
}
