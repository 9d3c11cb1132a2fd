#include "textio.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ziv {

namespace {
constexpr char kCtrlZ = 0x1A;

bool write_all(int fd, const unsigned char* p, std::size_t n) {
    while (n > 0) {
        ssize_t w = ::write(fd, p, n);
        if (w < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        p += w;
        n -= static_cast<std::size_t>(w);
    }
    return true;
}
}  // namespace

InFile::InFile(std::size_t block) : block_(std::max<std::size_t>(block, 1)) {}

InFile::~InFile() { close(); }

bool InFile::open(const char* path, FileMode mode, InputKind kind) {
    close();
    failed_ = false;
    wrong_kind_ = false;
    const bool regular_only = kind == InputKind::RegularFile;
    // Without O_NONBLOCK, opening a pipe would wait for a writer before it
    // could be refused. A regular file ignores the flag.
    int fd = ::open(path, O_RDONLY | O_CLOEXEC | (regular_only ? O_NONBLOCK : 0));
    if (fd < 0) return false;
    struct stat st;
    const bool known = ::fstat(fd, &st) == 0;
    if ((known && S_ISDIR(st.st_mode)) || (regular_only && !(known && S_ISREG(st.st_mode)))) {
        wrong_kind_ = regular_only && known && !S_ISDIR(st.st_mode);  // a folder is no input at all
        ::close(fd);
        return false;
    }
    fd_ = fd;
    start(mode);
    return true;
}

void InFile::open_memory(std::string_view bytes, FileMode mode) {
    close();
    failed_ = false;
    wrong_kind_ = false;
    in_memory_ = true;
    memory_ = bytes;
    memory_pos_ = 0;
    start(mode);
}

void InFile::start(FileMode mode) {
    text_ = mode == FileMode::Text;
    at_end_ = false;
    if (!buf_) {
        cap_ = block_;
        buf_.reset(new char[cap_]);
    }
    pos_ = end_ = buf_.get();
}

void InFile::close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    in_memory_ = false;
    memory_ = {};
    pos_ = end_ = buf_.get();
    at_end_ = true;
}

bool InFile::is_file(const char* path) const {
    struct stat mine;
    struct stat other;
    return fd_ >= 0 && ::fstat(fd_, &mine) == 0 && ::stat(path, &other) == 0 && mine.st_dev == other.st_dev &&
           mine.st_ino == other.st_ino;
}

std::int64_t InFile::remaining_binary_size() const {
    if (text_ || (fd_ < 0 && !in_memory_)) return -1;
    const auto buffered = static_cast<std::int64_t>(end_ - pos_);
    if (in_memory_) return static_cast<std::int64_t>(memory_.size() - memory_pos_) + buffered;
    struct stat st;
    if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) return -1;
    off_t here = ::lseek(fd_, 0, SEEK_CUR);
    if (here < 0) return -1;
    return static_cast<std::int64_t>(st.st_size - here) + buffered;
}

// Up to n bytes (at most a block) from the file or memory; 0 at the end. A
// failed read is remembered and ends the input like the end of the file.
std::size_t InFile::read_source(char* to, std::size_t n) {
    n = std::min(n, block_);
    if (in_memory_) {
        std::size_t k = std::min(n, memory_.size() - memory_pos_);
        std::memcpy(to, memory_.data() + memory_pos_, k);
        memory_pos_ += k;
        return k;
    }
    if (fd_ < 0) return 0;
    for (;;) {
        ssize_t got = ::read(fd_, to, n);
        if (got >= 0) return static_cast<std::size_t>(got);
        if (errno != EINTR) {
            failed_ = true;
            return 0;
        }
    }
}

// Appends what the source gives next (at most `space` bytes) behind end_. In
// text mode a byte 0x1A ends the input here, the one place that rule lives.
// False when nothing came: the input is at its end.
bool InFile::take_more(std::size_t space) {
    if (at_end_) return false;
    std::size_t got = read_source(end_, space);
    if (got == 0) {
        at_end_ = true;
        return false;
    }
    if (text_) {
        if (void* z = std::memchr(end_, kCtrlZ, got)) {
            got = static_cast<std::size_t>(static_cast<char*>(z) - end_);
            at_end_ = true;
        }
    }
    end_ += got;
    return got > 0;
}

// Moves the bytes not yet taken to the front of the buffer, which grows when
// they fill it, and reads more behind them. False at the end of the input.
bool InFile::refill() {
    if (at_end_) return false;
    const std::size_t keep = static_cast<std::size_t>(end_ - pos_);
    if (keep == cap_) {
        std::unique_ptr<char[]> bigger(new char[2 * cap_]);
        std::memcpy(bigger.get(), pos_, keep);
        buf_ = std::move(bigger);
        cap_ *= 2;
    } else if (keep > 0) {
        std::memmove(buf_.get(), pos_, keep);
    }
    pos_ = buf_.get();
    end_ = pos_ + keep;
    return take_more(cap_ - keep);
}

std::size_t InFile::read(unsigned char* dst, std::size_t n) {
    std::size_t done = 0;
    while (done < n) {
        // In text mode a CR as the last byte buffered may be the first half of
        // a CR LF pair: it waits for the next byte unless the input is over.
        const bool held = text_ && !at_end_ && end_ > pos_ && end_[-1] == '\r';
        const char* lim = end_ - (held ? 1 : 0);
        if (pos_ == lim) {
            // At the end a held CR is an ordinary byte: the next round takes it.
            if (!refill() && pos_ == end_) break;
            continue;
        }
        const char* p = pos_;
        while (done < n && p < lim) {
            const char* stop = p + std::min<std::size_t>(n - done, static_cast<std::size_t>(lim - p));
            const char* cr =
                text_ ? static_cast<const char*>(std::memchr(p, '\r', static_cast<std::size_t>(stop - p))) : nullptr;
            const std::size_t k = static_cast<std::size_t>((cr ? cr : stop) - p);
            std::memcpy(dst + done, p, k);
            done += k;
            p += k;
            if (!cr) break;
            if (p + 1 < end_ && p[1] == '\n') {
                ++p;  // CR LF -> LF: the LF goes with the next stretch
            } else {
                dst[done++] = '\r';  // a lone CR is an ordinary byte
                ++p;
            }
        }
        pos_ += p - pos_;
    }
    return done;
}

bool InFile::next_line_slow(std::string_view& line, std::size_t max_line) {
    // Nothing from pos_ to end_ holds a line feed: keep it and read on.
    for (;;) {
        const std::size_t keep = static_cast<std::size_t>(end_ - pos_);
        // A CR at the end may be the first half of the line end: it is no
        // character of the line until the next byte shows.
        const bool open_cr = text_ && !at_end_ && keep > 0 && end_[-1] == '\r';
        if (max_line > 0 && keep - (open_cr ? 1 : 0) > max_line) return pass_over_long_line(line, max_line);
        if (!refill()) {
            pos_ = end_;  // a last line without a line end is not read
            return false;
        }
        const char* from = pos_ + keep;
        if (const char* nl = static_cast<const char*>(std::memchr(from, '\n', static_cast<std::size_t>(end_ - from)))) {
            take_line(nl, line);
            return true;
        }
    }
}

// Hands out the first max_line + 1 characters of a line longer than max_line,
// enough to see that it is too long, and passes over the rest up to its line
// end, so that memory stays bounded whatever the input.
bool InFile::pass_over_long_line(std::string_view& line, std::size_t max_line) {
    const std::size_t keep = max_line + 1;
    std::memmove(buf_.get(), pos_, keep);
    if (cap_ == keep) {  // room to read behind the kept characters
        std::unique_ptr<char[]> bigger(new char[2 * cap_]);
        std::memcpy(bigger.get(), buf_.get(), keep);
        buf_ = std::move(bigger);
        cap_ *= 2;
    }
    char* from = buf_.get() + keep;
    for (;;) {
        pos_ = end_ = from;  // nothing buffered while passing over
        if (!take_more(cap_ - keep)) return false;
        if (const char* nl = static_cast<const char*>(std::memchr(from, '\n', static_cast<std::size_t>(end_ - from)))) {
            line = std::string_view(buf_.get(), keep);
            pos_ += (nl - pos_) + 1;
            return true;
        }
    }
}

bool open_or_report(InFile& in, const char* path, FileMode mode, const char* message, InputKind kind) {
    if (in.open(path, mode, kind)) return true;
    if (in.wrong_kind()) {
        std::printf("%s is not a regular file: a pipe or device cannot be read twice\n", path);
    } else {
        std::fputs(message, stdout);
    }
    return false;
}

bool open_or_report(OutFile& out, const char* path, const char* message) {
    if (out.open(path)) return true;
    std::fputs(message, stdout);
    return false;
}

bool output_is_input(const char* output, const InFile& in, const char* output_label, const char* input_label) {
    if (!in.is_file(output)) return false;
    std::printf("%s is %s: it would be emptied before it is read\n", output_label, input_label);
    return true;
}

bool report_read_error(const InFile& in, const char* name) {
    if (!in.failed()) return false;
    std::printf("read error on %s\n", name);
    return true;
}

OutFile::~OutFile() { close(); }

bool OutFile::open(const char* path) {
    close();
    if (path != path_.c_str()) path_ = path;
    fd_ = ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd_ < 0) return false;
    failed_ = false;
    written_through_ = false;
    used_ = 0;
    flushed_ = 0;
    if (!buf_) buf_.reset(new unsigned char[kSize]);
    return true;
}

bool OutFile::reopen() { return open(path_.c_str()); }

bool OutFile::flush() {
    if (fd_ < 0) return false;
    if (used_ > 0) {
        written_through_ = true;
        if (!failed_ && !write_all(fd_, buf_.get(), used_)) failed_ = true;
        flushed_ += used_;
    }
    used_ = 0;
    return !failed_;
}

bool OutFile::close() {
    if (fd_ < 0) return !failed_;
    flush();
    if (::close(fd_) != 0) failed_ = true;
    fd_ = -1;
    return !failed_;
}

void OutFile::write_slow(const void* data, std::size_t n) {
    flush();
    if (n >= kSize) {
        written_through_ = true;
        if (!failed_ && !write_all(fd_, static_cast<const unsigned char*>(data), n)) failed_ = true;
        flushed_ += n;
        return;
    }
    std::memcpy(buf_.get(), data, n);
    used_ = n;
}

}  // namespace ziv
