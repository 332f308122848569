#include "io/inputFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "io/status.h"

namespace kestrune::detail {

namespace {

// An unnamed file in $TMPDIR (default /tmp), gone when closed; -1 with errno on failure.
int unnamedTemporary() {
    const char* dir = std::getenv("TMPDIR");
    const std::string folder = dir != nullptr && dir[0] != '\0' ? dir : "/tmp";
    int fd = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd >= 0 || (errno != EOPNOTSUPP && errno != EISDIR)) return fd;
    std::string name = folder + "/.kestrune-XXXXXX";  // a file system without O_TMPFILE
    fd = mkostemp(name.data(), O_CLOEXEC);
    if (fd >= 0) unlink(name.c_str());
    return fd;
}

// Copies everything from `from` to `to`; errno is set when it returns false.
bool copyAll(int from, int to) {
    std::vector<char> buffer(1 << 16);
    for (;;) {
        const ssize_t n = ::read(from, buffer.data(), buffer.size());
        if (n == 0) return true;
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        for (ssize_t at = 0; at < n;) {
            const ssize_t w = ::write(to, buffer.data() + at, static_cast<std::size_t>(n - at));
            if (w < 0 && errno != EINTR) return false;
            at += std::max<ssize_t>(w, 0);
        }
    }
}

}  // namespace

Outcome<int> inputHeldCopy(int fd) {
    const int held = unnamedTemporary();
    if (held < 0) return Failure::system(kStatusWrite, "cannot hold the input");
    if (!copyAll(fd, held) || lseek(held, 0, SEEK_SET) != 0) {
        Failure failure = Failure::system(kStatusRead, "cannot read");
        close(held);
        return failure;
    }
    return held;
}

Done inputCheck(int statResult, const struct stat& st) {
    if (statResult != 0) return Failure::system(kStatusInputOpen, "cannot open");
    if (S_ISDIR(st.st_mode)) return Failure{kStatusInputOpen, "is a folder"};
    return {};
}

int inputOpen(const char* path, FILE** fp) {
    *fp = std::fopen(path, "rb");
    struct stat st;
    if (*fp != nullptr && inputCheck(fstat(fileno(*fp), &st), st)) return kStatusFinished;
    if (*fp != nullptr) std::fclose(*fp);
    *fp = nullptr;
    return kStatusInputOpen;
}

InputFile::InputFile(const std::string& path) {
    fp = path == "-" ? stdin : std::fopen(path.c_str(), "rb");
    opened = inputCheck(fp != nullptr ? fstat(fileno(fp), &st) : -1, st);
}

InputFile::~InputFile() {
    if (fp != nullptr && fp != stdin) std::fclose(fp);
}

}  // namespace kestrune::detail
