#include "io/inputFile.h"

#include <cerrno>
#include <cstring>

#include "io/status.h"

std::string inputProblem(int statResult, const struct stat& st) {
    if (statResult != 0) return std::string("cannot open: ") + std::strerror(errno);
    return S_ISDIR(st.st_mode) ? "is a folder" : "";
}

int inputOpen(const char* path, FILE** fp) {
    *fp = std::fopen(path, "rb");
    struct stat st;
    if (*fp != nullptr && inputProblem(fstat(fileno(*fp), &st), st).empty()) return kStatusFinished;
    if (*fp != nullptr) std::fclose(*fp);
    *fp = nullptr;
    return kStatusInputOpen;
}

InputFile::InputFile(const std::string& path) {
    fp = path == "-" ? stdin : std::fopen(path.c_str(), "rb");
    problem = inputProblem(fp != nullptr ? fstat(fileno(fp), &st) : -1, st);
}

InputFile::~InputFile() {
    if (fp != nullptr && fp != stdin) std::fclose(fp);
}
