#include "persistence/AtomicFile.h"

#include <atomic>
#include <cerrno>
#include <system_error>

#include "persistence/Folders.h"

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#include <process.h>
#include <share.h>
#include <sys/stat.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace tarvo {

namespace {

// Attempts at finding a temporary name nobody uses; a clash needs another writer in this
// very folder with the same process id and counter, so a second attempt practically always
// succeeds.
constexpr int temporaryNameAttempts = 100;

std::atomic<unsigned> temporaryCounter{0};

// The thin layer over the C library's unbuffered file calls: create exclusively, write,
// flush to the disk, close. Each returns 0 or an errno value.
#if defined(_WIN32)
int processId() {
    return _getpid();
}
int createExclusive(const std::filesystem::path& path, int& fd) {
    return _wsopen_s(&fd, path.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _SH_DENYNO,
                     _S_IREAD | _S_IWRITE);
}
int writeSome(int fd, const uint8_t* bytes, size_t count, size_t& written) {
    constexpr size_t largestWrite = 1u << 30; // _write takes an unsigned int count
    const int result = _write(fd, bytes, static_cast<unsigned>(count < largestWrite ? count : largestWrite));
    if (result < 0) return errno;
    written = static_cast<size_t>(result);
    return 0;
}
int flushToDisk(int fd) {
    return _commit(fd) == 0 ? 0 : errno;
}
int closeFile(int fd) {
    return _close(fd) == 0 ? 0 : errno;
}
void syncFolder(const std::filesystem::path&) {} // the rename is recorded with the file
#else
int processId() {
    return static_cast<int>(::getpid());
}
int createExclusive(const std::filesystem::path& path, int& fd) {
    fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    return fd >= 0 ? 0 : errno;
}
int writeSome(int fd, const uint8_t* bytes, size_t count, size_t& written) {
    ssize_t result;
    do {
        result = ::write(fd, bytes, count);
    } while (result < 0 && errno == EINTR);
    if (result < 0) return errno;
    written = static_cast<size_t>(result);
    return 0;
}
int flushToDisk(int fd) {
    return ::fsync(fd) == 0 ? 0 : errno;
}
int closeFile(int fd) {
    return ::close(fd) == 0 ? 0 : errno;
}
// Makes the rename itself survive a power loss. Best effort: the file is already complete,
// and some file systems refuse to sync a folder.
void syncFolder(const std::filesystem::path& folder) {
    const int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}
#endif

FileWriteResult cannotWrite(const std::filesystem::path& path, const std::error_code& cause) {
    return {false, "Cannot write " + path.string() + ": " + cause.message()};
}

std::error_code fromErrno(int code) {
    return code == 0 ? std::error_code() : std::error_code(code, std::generic_category());
}

} // namespace

FileWriteResult writeFileAtomically(const std::filesystem::path& requested, std::span<const uint8_t> bytes) {
    std::error_code error;
    std::filesystem::path target = requested;
    if (std::filesystem::is_symlink(requested, error)) {
        target = std::filesystem::weakly_canonical(requested, error);
        if (error) return cannotWrite(requested, error);
    }
    if (!createParentFolders(target))
        return {false, "Cannot create the folder " + target.parent_path().string()};

    const std::filesystem::path folder = target.parent_path();
    std::string stem(1, '.');
    stem += target.filename().string();
    stem += '.';
    stem += std::to_string(processId());
    stem += '.';
    std::filesystem::path temporary;
    int fd = -1;
    int code = EEXIST;
    for (int attempt = 0; attempt < temporaryNameAttempts && code == EEXIST; ++attempt) {
        std::string name = stem;
        name += std::to_string(temporaryCounter.fetch_add(1));
        name += ".tmp";
        temporary = folder / name;
        code = createExclusive(temporary, fd);
    }
    if (code != 0) return cannotWrite(target, fromErrno(code));

    size_t done = 0;
    while (code == 0 && done < bytes.size()) {
        size_t written = 0;
        code = writeSome(fd, bytes.data() + done, bytes.size() - done, written);
        if (code == 0 && written == 0) code = EIO; // a write that makes no progress never will
        done += written;
    }
    if (code == 0) code = flushToDisk(fd);
    const int closed = closeFile(fd);
    if (code == 0) code = closed;
    std::error_code cause = fromErrno(code);
    if (!cause) std::filesystem::rename(temporary, target, cause);
    if (cause) {
        std::filesystem::remove(temporary, error);
        return cannotWrite(target, cause);
    }
    syncFolder(folder);
    return {true, {}};
}

FileWriteResult writeFileAtomically(const std::filesystem::path& target, std::string_view text) {
    return writeFileAtomically(
        target, std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
}

} // namespace tarvo
