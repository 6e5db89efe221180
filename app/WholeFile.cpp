#include "app/WholeFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace {

// Reads up to size bytes: a file that shrank meanwhile gives what it still holds.
template <typename Bytes>
bool readAll(int fd, std::size_t size, Bytes& data) {
    data.resize(size);
    std::size_t got = 0;
    while (got < size) {
        const ssize_t n = read(fd, data.data() + got, size - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) break;
        got += static_cast<std::size_t>(n);
    }
    data.resize(got);
    return true;
}

template <typename Bytes>
FileRead readWhole(const std::string& path, Bytes& data, off_t maxBytes) {
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return FileRead::cannotOpen;
    struct stat info;
    FileRead result = FileRead::read;
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode))
        result = FileRead::notRegular;
    else if (info.st_size > maxBytes)
        result = FileRead::tooLarge;
    else
        result = readAll(fd, static_cast<std::size_t>(info.st_size), data) ? FileRead::read : FileRead::cannotOpen;
    close(fd);
    return result;
}

}  // namespace

FileRead readWholeFile(const std::string& path, std::vector<uint8_t>& data, off_t maxBytes) {
    return readWhole(path, data, maxBytes);
}

FileRead readWholeFile(const std::string& path, std::string& data, off_t maxBytes) {
    return readWhole(path, data, maxBytes);
}
