#include "outputFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>

#include "messages.h"

namespace {

// The temporary file of this process, removed if a signal ends the run early.
char signalTempPath[4096];

extern "C" void removeTempAndDie(int sig) {
    if (signalTempPath[0] != '\0') unlink(signalTempPath);
    std::signal(sig, SIG_DFL);
    std::raise(sig);
}

void guardTemp(const std::string& path) {
    if (path.size() >= sizeof signalTempPath) return;
    std::memcpy(signalTempPath, path.c_str(), path.size() + 1);
    for (const int sig : {SIGINT, SIGTERM, SIGHUP}) std::signal(sig, removeTempAndDie);
}

void unguardTemp() {
    signalTempPath[0] = '\0';
}

std::string folderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string nameOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

mode_t newFileMode() {
    const mode_t mask = umask(0);
    umask(mask);
    return static_cast<mode_t>(0666 & ~mask);
}

bool sameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Makes the renamed file durable by syncing its folder; a folder that cannot be opened
// or synced does not undo a complete write.
void syncFolder(const std::string& folder) {
    const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    fsync(fd);
    close(fd);
}

}  // namespace

int inputOpen(const char* path, FILE** fp) {
    *fp = std::fopen(path, "rb");
    if (*fp == nullptr) return kStatusInputOpen;
    struct stat st;
    if (fstat(fileno(*fp), &st) != 0 || S_ISDIR(st.st_mode)) {
        std::fclose(*fp);
        *fp = nullptr;
        return kStatusInputOpen;
    }
    return kStatusFinished;
}

int outputOpen(OutputFile* out, const char* path, FILE* input) {
    out->fp = nullptr;
    out->canSeek = false;
    out->target.clear();
    out->temp.clear();

    if (path[0] == '\0') return kStatusOutputOpen;
    struct stat target;
    const bool exists = stat(path, &target) == 0;
    // Writing over the input would destroy it (devices and pipes hold no data to lose).
    if (exists && S_ISREG(target.st_mode) && input != nullptr) {
        struct stat in;
        if (fstat(fileno(input), &in) == 0 && sameFile(in, target)) return kStatusOutputOpen;
    }

    if (exists && !S_ISREG(target.st_mode)) {
        // A device or pipe: written in place.
        out->fp = std::fopen(path, "wb");
        if (out->fp == nullptr) return kStatusOutputOpen;
        out->canSeek = lseek(fileno(out->fp), 0, SEEK_CUR) >= 0;
        return kStatusFinished;
    }

    // Replace the file a symbolic link points at, not the link.
    std::string finalPath = path;
    if (exists) {
        if (access(path, W_OK) != 0) return kStatusOutputOpen;
        if (char* resolved = realpath(path, nullptr)) {
            finalPath = resolved;
            std::free(resolved);
        }
    }
    std::string temp = folderOf(finalPath) + "/." + nameOf(finalPath) + ".XXXXXX";
    const int fd = mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) return kStatusOutputOpen;
    guardTemp(temp);
    // A replaced file keeps its permissions (not set-id bits); a new one gets the umask's.
    const mode_t mode = exists ? (target.st_mode & 0777) : newFileMode();
    if (fchmod(fd, mode) != 0 || (out->fp = fdopen(fd, "wb")) == nullptr) {
        close(fd);
        unlink(temp.c_str());
        unguardTemp();
        return kStatusOutputOpen;
    }
    out->canSeek = true;
    out->target = finalPath;
    out->temp = temp;
    return kStatusFinished;
}

int outputCommit(OutputFile* out) {
    FILE* fp = out->fp;
    out->fp = nullptr;
    bool ok = std::fflush(fp) == 0;
    if (ok && !out->temp.empty()) ok = fsync(fileno(fp)) == 0;
    ok = (std::fclose(fp) == 0) && ok;
    if (out->temp.empty()) return ok ? kStatusFinished : kStatusWrite;

    if (ok) ok = std::rename(out->temp.c_str(), out->target.c_str()) == 0;
    if (!ok) {
        unlink(out->temp.c_str());
        unguardTemp();
        return kStatusWrite;
    }
    unguardTemp();
    syncFolder(folderOf(out->target));
    return kStatusFinished;
}

void outputDiscard(OutputFile* out) {
    if (out->fp != nullptr) std::fclose(out->fp);
    out->fp = nullptr;
    if (!out->temp.empty()) {
        unlink(out->temp.c_str());
        unguardTemp();
    }
}
