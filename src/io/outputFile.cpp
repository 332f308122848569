#include "io/outputFile.h"

#include <fcntl.h>
#include <sys/random.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <utility>

#include "io/ioHooks.h"
#include "io/outputCleanup.h"
#include "io/status.h"

namespace kestrune::detail {

namespace {

// A short random name, so that any name the file system takes can be the target's.
std::string tempName() {
    static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    static std::atomic<uint64_t> counter{0};
    uint8_t random[kTempRandom];
    if (getrandom(random, sizeof random, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof random)) {
        uint64_t x = static_cast<uint64_t>(getpid()) * 0x9E3779B97F4A7C15u ^
                     static_cast<uint64_t>(std::time(nullptr)) ^ counter.fetch_add(1) << 40;
        for (uint8_t& r : random) {
            x = x * 6364136223846793005u + 1442695040888963407u;
            r = static_cast<uint8_t>(x >> 56);
        }
    }
    std::string name = kTempPrefix;
    for (const uint8_t r : random) name += kLetters[r % (sizeof kLetters - 1)];
    return name;
}

bool sameFile(const struct stat& a, const struct stat& b) {
    return fileKey(a) == fileKey(b);
}

// Ends a failed open or commit: nothing is left behind, and the reason is kept.
int failed(OutputFile* out, int status, std::string why) {
    outputDiscard(out);
    out->problem = std::move(why);
    return status;
}

std::string lastError() {
    return std::strerror(errno);
}

bool isStandardOutput(int fd) {
    struct stat a, b;
    return fd == STDOUT_FILENO || (fstat(fd, &a) == 0 && fstat(STDOUT_FILENO, &b) == 0 &&
                                   a.st_dev == b.st_dev && a.st_ino == b.st_ino);
}

bool allDigits(const std::string& s) {
    if (s.empty() || s.size() > 9) return false;
    for (const char c : s) {
        if (c < '0' || c > '9') return false;
    }
    return true;
}

// Whether a folder, resolved, lists this process's descriptors: /proc/PID/fd or
// /proc/PID/task/TID/fd.
bool isDescriptorFolder(const std::string& folder) {
    const std::string proc = "/proc/" + std::to_string(getpid());
    if (folder == proc + "/fd") return true;
    const std::string task = proc + "/task/";
    if (folder.rfind(task, 0) != 0 || !folder.ends_with("/fd")) return false;
    return allDigits(folder.substr(task.size(), folder.size() - task.size() - 3));
}

// Where an output path leads: one of this process's descriptors, or a name in a folder
// that is not a symbolic link. Links are followed one at a time, so that a link that
// leads nowhere yet has its target created rather than being replaced itself.
struct Destination {
    int descriptor = -1;
    std::string folder;
    std::string name;
};

bool resolveOutput(std::string path, Destination* d) {
    constexpr int kMaxLinks = 40;  // as the kernel's own limit: a longer chain is a loop
    for (int links = 0; links <= kMaxLinks; ++links) {
        const std::size_t slash = path.rfind('/');
        const std::string parent =
            slash == std::string::npos ? "." : path.substr(0, std::max<std::size_t>(slash, 1));
        const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
        if (name.empty()) {
            errno = EISDIR;
            return false;
        }
        char* resolved = realpath(parent.c_str(), nullptr);
        if (resolved == nullptr) return false;
        const std::string folder = resolved;
        std::free(resolved);
        if (isDescriptorFolder(folder) && allDigits(name)) {
            d->descriptor = std::atoi(name.c_str());
            return true;
        }
        const std::string at = (folder == "/" ? "" : folder) + "/" + name;
        struct stat st;
        if (lstat(at.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) {
            d->folder = folder;
            d->name = name;
            return true;
        }
        std::string target(static_cast<std::size_t>(st.st_size) + 1, '\0');
        const ssize_t n = readlink(at.c_str(), target.data(), target.size());
        if (n <= 0 || static_cast<std::size_t>(n) >= target.size()) return false;
        target.resize(static_cast<std::size_t>(n));
        path = target[0] == '/' ? target : folder + "/" + target;
    }
    errno = ELOOP;
    return false;
}

// Opens a folder for the *at calls; one that may not be listed can still be written.
int openFolder(const std::string& folder) {
    int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0 && errno == EACCES) fd = open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    return fd;
}

int openInPlace(OutputFile* out, int fd) {
    out->fp = fdopen(fd, "wb");
    if (out->fp == nullptr) {
        const std::string why = lastError();
        close(fd);
        return failed(out, kStatusOutputOpen, why);
    }
    const int flags = fcntl(fd, F_GETFL);
    // Appended writes cannot go back to the header.
    out->canSeek = (flags & O_APPEND) == 0 && lseek(fd, 0, SEEK_CUR) >= 0;
    out->isStdout = isStandardOutput(fd);
    return kStatusFinished;
}

// Creates the temporary file beside the target: the target's owner, group and
// permissions (not its set-id bits) when it replaces one, the umask's for a new file.
int openTemporary(OutputFile* out, const struct stat* replaced) {
    out->slot = claimSlot();
    if (out->slot < 0) return failed(out, kStatusOutputOpen, "too many outputs open at once");
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        out->temp = tempName();
        armSlot(out->slot, out->folder, out->temp);
        fd = openat(out->folder, out->temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC,
                    replaced != nullptr ? 0600 : 0666);
        if (fd < 0 && errno != EEXIST) break;
    }
    if (fd < 0) {
        out->temp.clear();  // never created: the name may be another's
        return failed(out, kStatusOutputOpen, lastError());
    }
    bool ok = true;
    if (replaced != nullptr) {
        // Only root may give a file away; anyone may keep the group if a member of it.
        if (fchown(fd, replaced->st_uid, replaced->st_gid) != 0) {
            (void)!fchown(fd, static_cast<uid_t>(-1), replaced->st_gid);
        }
        ok = fchmod(fd, replaced->st_mode & 0777) == 0;
    }
    if (ok) out->fp = fdopen(fd, "wb");
    if (out->fp == nullptr) {
        const std::string why = lastError();
        close(fd);
        return failed(out, kStatusOutputOpen, why);
    }
    out->canSeek = true;
    return kStatusFinished;
}

}  // namespace

FileKey fileKey(const struct stat& st) {
    // Two nodes of one device are the same device.
    if (S_ISBLK(st.st_mode) || S_ISCHR(st.st_mode)) {
        return FileKey{S_ISBLK(st.st_mode) ? 1u : 2u, st.st_rdev, true};
    }
    return FileKey{st.st_dev, st.st_ino, false};
}

bool outputExisting(const char* path, struct stat* st) {
    Destination d;
    if (path[0] == '\0' || !resolveOutput(path, &d)) return false;
    if (d.descriptor >= 0) return fstat(d.descriptor, st) == 0;
    return stat(((d.folder == "/" ? "" : d.folder) + "/" + d.name).c_str(), st) == 0;
}

int outputOpenDescriptor(OutputFile* out, int fd, const struct stat* input) {
    *out = OutputFile{};
    installSignalHandlers();
    const int flags = fcntl(fd, F_GETFL);
    if (flags < 0) return failed(out, kStatusOutputOpen, lastError());
    if ((flags & O_ACCMODE) == O_RDONLY)
        return failed(out, kStatusOutputOpen, "open for reading only");
    struct stat st;
    if (fstat(fd, &st) != 0) return failed(out, kStatusOutputOpen, lastError());
    if (S_ISDIR(st.st_mode)) return failed(out, kStatusOutputOpen, "is a folder");
    if (input != nullptr && sameFile(st, *input)) {
        return failed(out, kStatusOutputOpen, "is the input itself");
    }
    const int own = fcntl(fd, F_DUPFD_CLOEXEC, 3);
    if (own < 0) return failed(out, kStatusOutputOpen, lastError());
    return openInPlace(out, own);
}

bool outputIdentity(const char* path, OutputIdentity* id) {
    Destination d;
    struct stat st;
    if (path[0] == '\0' || !resolveOutput(path, &d)) return false;
    if (d.descriptor >= 0 ? fstat(d.descriptor, &st) != 0 : stat(d.folder.c_str(), &st) != 0) {
        return false;
    }
    *id = OutputIdentity{st.st_dev, st.st_ino, d.name};
    return true;
}

int outputOpen(OutputFile* out, const char* path, const struct stat* input, bool replace) {
    *out = OutputFile{};
    installSignalHandlers();
    Destination d;
    if (path[0] == '\0') return failed(out, kStatusOutputOpen, "empty name");
    if (!resolveOutput(path, &d)) return failed(out, kStatusOutputOpen, lastError());
    if (d.descriptor >= 0) return outputOpenDescriptor(out, d.descriptor, input);

    const int folder = openFolder(d.folder);
    if (folder < 0) return failed(out, kStatusOutputOpen, lastError());
    out->folder = folder;
    struct stat st;
    const bool exists = fstatat(folder, d.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
    // A link here was made after the path was resolved; a folder is not a file.
    if (exists && S_ISLNK(st.st_mode)) return failed(out, kStatusOutputOpen, "is a new link");
    if (exists && S_ISDIR(st.st_mode)) return failed(out, kStatusOutputOpen, "is a folder");
    // Writing over the input would destroy it, or read back what is being written.
    if (exists && input != nullptr && sameFile(st, *input)) {
        return failed(out, kStatusOutputOpen, "is the input itself");
    }
    if (exists && S_ISREG(st.st_mode) && !replace)
        return failed(out, kStatusOutputExists, "exists");
    if (exists && S_ISREG(st.st_mode) && faccessat(folder, d.name.c_str(), W_OK, 0) != 0) {
        return failed(out, kStatusOutputOpen, lastError());
    }
    if (exists && !S_ISREG(st.st_mode)) {
        // A device or pipe: written in place.
        const int fd = openat(folder, d.name.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
        if (fd < 0) return failed(out, kStatusOutputOpen, lastError());
        close(folder);
        out->folder = -1;
        return openInPlace(out, fd);
    }
    out->name = d.name;
    out->replace = replace;
    return openTemporary(out, exists ? &st : nullptr);
}

// Gives the temporary file the target's name; without `replace`, only where that name is
// free, atomically (a file system without RENAME_NOREPLACE gets a link and an unlink).
bool moveIntoPlace(const OutputFile& out) {
    if (out.replace)
        return renameat(out.folder, out.temp.c_str(), out.folder, out.name.c_str()) == 0;
    if (renameat2(out.folder, out.temp.c_str(), out.folder, out.name.c_str(), RENAME_NOREPLACE) ==
        0) {
        return true;
    }
    if (errno != EINVAL ||
        linkat(out.folder, out.temp.c_str(), out.folder, out.name.c_str(), 0) != 0) {
        return false;
    }
    unlinkat(out.folder, out.temp.c_str(), 0);
    return true;
}

int outputCommit(OutputFile* out, int* folder) {
    if (folder != nullptr) *folder = -1;
    bool ok = std::fflush(out->fp) == 0;
    if (ok && out->folder >= 0) ok = fsync(fileno(out->fp)) == 0;
    int error = ok ? 0 : errno;
    // A file system may report errors only here.
    if (ioHooks.close(out->fp) != 0 && ok) {
        ok = false;
        error = errno;
    }
    out->fp = nullptr;
    if (out->folder < 0) {
        if (ok) return kStatusFinished;
        errno = error;
        return failed(out, kStatusWrite, std::strerror(error));
    }
    if (!ok) return failed(out, kStatusWrite, std::strerror(error));
    if (!moveIntoPlace(*out)) {
        const int status = errno == EEXIST ? kStatusOutputExists : kStatusWrite;
        return failed(out, status, status == kStatusOutputExists ? "exists" : lastError());
    }
    releaseSlot(out->slot);
    // Makes the rename durable; a folder that cannot be synced does not undo the write.
    if (folder != nullptr) {
        *folder = out->folder;
    } else {
        fsync(out->folder);
        close(out->folder);
    }
    *out = OutputFile{};
    return kStatusFinished;
}

OutputFile& OutputFile::operator=(OutputFile&& other) noexcept {
    if (this == &other) return *this;
    if (fp != nullptr) outputDiscard(this);
    fp = std::exchange(other.fp, nullptr);
    canSeek = other.canSeek;
    isStdout = other.isStdout;
    folder = std::exchange(other.folder, -1);
    slot = std::exchange(other.slot, -1);
    name = std::move(other.name);
    temp = std::move(other.temp);
    replace = other.replace;
    problem = std::move(other.problem);
    return *this;
}

OutputFile::~OutputFile() {
    if (fp != nullptr) outputDiscard(this);
}

void outputDiscard(OutputFile* out) {
    if (out->fp != nullptr) std::fclose(out->fp);
    out->fp = nullptr;
    if (!out->temp.empty()) unlinkat(out->folder, out->temp.c_str(), 0);
    releaseSlot(out->slot);
    if (out->folder >= 0) close(out->folder);
    *out = OutputFile{};
}

}  // namespace kestrune::detail
