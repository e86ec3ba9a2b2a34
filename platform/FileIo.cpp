#include "platform/FileIo.h"

#include <cerrno>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace zv {

namespace {

int WriteAll(int fd, QByteArrayView bytes)
{
    const char* data = bytes.data();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, data, static_cast<size_t>(left));
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return errno;
        }
        data += written;
        left -= written;
    }
    return 0;
}

} // namespace

int ReplaceFile(const std::filesystem::path& path, QByteArrayView bytes, unsigned newFileMode)
{
    mode_t mode = static_cast<mode_t>(newFileMode & 07777);
    struct stat old { };
    if (::stat(path.c_str(), &old) == 0) {
        if (!S_ISREG(old.st_mode)) {
            return EISDIR;
        }
        mode = old.st_mode & 07777;
    }
    std::string temporary = path.string() + ".XXXXXX";
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) {
        return errno;
    }
    int error = WriteAll(fd, bytes);
    if (error == 0 && ::fchmod(fd, mode) != 0) {
        error = errno;
    }
    if (error == 0 && ::fsync(fd) != 0) {
        error = errno;
    }
    if (::close(fd) != 0 && error == 0) {
        error = errno;
    }
    if (error == 0 && ::rename(temporary.c_str(), path.c_str()) != 0) {
        error = errno;
    }
    if (error != 0) {
        ::unlink(temporary.c_str());
    }
    return error;
}

int AppendToFile(const std::filesystem::path& path, QByteArrayView bytes, bool create)
{
    const int flags = O_WRONLY | O_APPEND | O_CLOEXEC | (create ? O_CREAT | O_EXCL : 0);
    const int fd = ::open(path.c_str(), flags, 0644);
    if (fd < 0) {
        return errno;
    }
    int error = WriteAll(fd, bytes);
    if (::close(fd) != 0 && error == 0) {
        error = errno;
    }
    return error;
}

} // namespace zv
