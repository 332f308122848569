#include "audio/memoryIo.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace kestrune::detail {

namespace {

MemoryIo* self(void* user) {
    return static_cast<MemoryIo*>(user);
}

}  // namespace

SNDFILE* MemoryIo::open(SF_INFO* info) {
    static SF_VIRTUAL_IO io = {length, seek, read, write, tell};
    return sf_open_virtual(&io, writable_ ? SFM_WRITE : SFM_READ, info, this);
}

sf_count_t MemoryIo::length(void* user) {
    return static_cast<sf_count_t>(self(user)->bytes().size());
}

// A position before the start is refused; past the end only when writing, which fills the
// gap when it writes there.
sf_count_t MemoryIo::seek(sf_count_t offset, int whence, void* user) {
    MemoryIo* m = self(user);
    const sf_count_t size = length(user);
    const sf_count_t base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? m->at_ : size;
    if (offset < -base || (!m->writable_ && offset > size - base)) return -1;
    m->at_ = base + offset;
    return m->at_;
}

sf_count_t MemoryIo::read(void* to, sf_count_t count, void* user) {
    MemoryIo* m = self(user);
    const sf_count_t n =
        std::clamp<sf_count_t>(length(user) - m->at_, 0, std::max<sf_count_t>(count, 0));
    if (n > 0) std::memcpy(to, m->bytes().data() + m->at_, static_cast<std::size_t>(n));
    m->at_ += n;
    return n;
}

sf_count_t MemoryIo::write(const void* from, sf_count_t count, void* user) {
    MemoryIo* m = self(user);
    if (!m->writable_ || count <= 0) return 0;
    const auto end = static_cast<std::size_t>(m->at_ + count);
    if (end > m->written_.size()) m->written_.resize(end);
    std::memcpy(m->written_.data() + m->at_, from, static_cast<std::size_t>(count));
    m->at_ += count;
    return count;
}

sf_count_t MemoryIo::tell(void* user) {
    return self(user)->at_;
}

}  // namespace kestrune::detail
