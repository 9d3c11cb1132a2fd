#include "textio.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ziv {

namespace {
constexpr std::size_t kInSize = 1 << 18;
constexpr unsigned char kCtrlZ = 0x1A;

bool write_all(int fd, const unsigned char* p, std::size_t n)
{
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

InFile::~InFile() { close(); }

bool InFile::open(const char* path, FileMode mode)
{
    close();
    fd_ = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd_ < 0) return false;
    struct stat st;
    if (::fstat(fd_, &st) == 0 && S_ISDIR(st.st_mode)) {  // a folder is no input
        ::close(fd_);
        fd_ = -1;
        return false;
    }
    mode_ = mode;
    at_end_ = false;
    held_cr_ = false;
    pos_ = end_ = 0;
    if (!buf_) buf_.reset(new unsigned char[kInSize + 1]);
    return true;
}

void InFile::close()
{
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    pos_ = end_ = 0;
    at_end_ = true;
}

std::int64_t InFile::remaining_binary_size() const
{
    if (fd_ < 0 || mode_ != FileMode::Binary) return -1;
    struct stat st;
    if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) return -1;
    off_t here = ::lseek(fd_, 0, SEEK_CUR);
    if (here < 0) return -1;
    return static_cast<std::int64_t>(st.st_size - here) + static_cast<std::int64_t>(end_ - pos_);
}

// Refills the buffer; false when the input is exhausted.
bool InFile::fill()
{
    pos_ = end_ = 0;
    while (!at_end_ && end_ == 0) {
        // A CR held back from the last block goes first, so that it can meet
        // the LF at the start of this one.
        std::size_t start = 0;
        if (held_cr_) {
            buf_[0] = '\r';
            start = 1;
            held_cr_ = false;
        }
        ssize_t got;
        do {
            got = ::read(fd_, buf_.get() + start, kInSize - start);
        } while (got < 0 && errno == EINTR);
        if (got <= 0) {
            at_end_ = true;  // end of file, or a read error taken as the end
            end_ = start;    // a held CR at the very end is an ordinary byte
            break;
        }
        std::size_t n = start + static_cast<std::size_t>(got);
        if (mode_ == FileMode::Binary) {
            end_ = n;
            break;
        }
        // Text mode: stop at 0x1A, drop the CR of each CR LF pair.
        unsigned char* b = buf_.get();
        if (void* z = std::memchr(b, kCtrlZ, n)) {
            n = static_cast<std::size_t>(static_cast<unsigned char*>(z) - b);
            at_end_ = true;
        }
        if (!at_end_ && b[n - 1] == '\r') {
            held_cr_ = true;  // its fate depends on the next byte
            --n;
        }
        // Text read as a byte stream (ASCII.INP) has lines of some length:
        // jump from CR to CR and move the stretches between them.
        std::size_t out = 0;
        std::size_t in = 0;
        while (in < n) {
            auto* cr = static_cast<unsigned char*>(std::memchr(b + in, '\r', n - in));
            std::size_t stop = cr ? static_cast<std::size_t>(cr - b) : n;
            if (out != in) std::memmove(b + out, b + in, stop - in);
            out += stop - in;
            in = stop;
            if (!cr) break;
            if (in + 1 < n && b[in + 1] == '\n') {
                ++in;  // CR LF -> LF: the LF is moved with the next stretch
            } else {
                b[out++] = '\r';  // a lone CR is an ordinary byte
                ++in;
            }
        }
        end_ = out;
    }
    return end_ > 0;
}

std::size_t InFile::read(unsigned char* dst, std::size_t n)
{
    std::size_t done = 0;
    while (done < n) {
        if (pos_ == end_ && !fill()) break;
        std::size_t k = std::min(n - done, end_ - pos_);
        std::memcpy(dst + done, buf_.get() + pos_, k);
        pos_ += k;
        done += k;
    }
    return done;
}

TextLines::TextLines(InFile& in, std::size_t max_line, std::size_t block)
    : in_(in), max_line_(max_line), buf_(std::max(block, max_line + 2))
{
    pos_ = end_ = buf_.data();
}

// Reads into buf_ from offset `from` to its end; returns the bytes taken in.
// Text mode ends the input at 0x1A.
std::size_t TextLines::read_block(std::size_t from)
{
    if (at_end_) return 0;
    std::size_t want = buf_.size() - from;
    std::size_t got = in_.read(reinterpret_cast<unsigned char*>(buf_.data() + from), want);
    if (got < want) at_end_ = true;
    if (void* z = std::memchr(buf_.data() + from, kCtrlZ, got)) {
        got = static_cast<std::size_t>(static_cast<char*>(z) - (buf_.data() + from));
        at_end_ = true;
    }
    return got;
}

bool TextLines::next_slow(std::string_view& line)
{
    // Nothing from pos_ to end_ holds a line end: keep it and read on.
    for (;;) {
        std::size_t keep = static_cast<std::size_t>(end_ - pos_);
        if (max_line_ > 0 && keep > max_line_) return next_overlong(line);
        if (at_end_) {
            pos_ = end_;  // a last line without a line end is not read
            return false;
        }
        if (keep == buf_.size()) {
            std::size_t off = static_cast<std::size_t>(pos_ - buf_.data());
            buf_.resize(buf_.size() * 2);  // a line longer than the block
            pos_ = buf_.data() + off;
        }
        std::memmove(buf_.data(), pos_, keep);
        std::size_t got = read_block(keep);
        pos_ = buf_.data();
        end_ = pos_ + keep + got;
        const char* nl = static_cast<const char*>(std::memchr(pos_ + keep, '\n', got));
        if (nl) {
            std::size_t k = static_cast<std::size_t>(nl - pos_);
            if (k > 0 && pos_[k - 1] == '\r') --k;
            line = std::string_view(pos_, k);
            pos_ = nl + 1;
            return true;
        }
    }
}

bool TextLines::next_overlong(std::string_view& line)
{
    // Keep the first max_line + 1 characters, which are enough to see that the
    // line is too long, and pass over the rest up to its line end.
    std::size_t keep = max_line_ + 1;
    std::memmove(buf_.data(), pos_, keep);
    for (;;) {
        std::size_t got = read_block(keep);
        const char* from = buf_.data() + keep;
        pos_ = buf_.data() + keep;  // nothing buffered while passing over
        end_ = pos_ + got;
        if (const char* nl = static_cast<const char*>(std::memchr(from, '\n', got))) {
            line = std::string_view(buf_.data(), keep);
            pos_ = nl + 1;
            return true;
        }
        if (at_end_) {
            pos_ = end_;
            return false;
        }
    }
}

bool open_or_report(InFile& in, const char* path, FileMode mode, const char* message)
{
    if (in.open(path, mode)) return true;
    std::fputs(message, stdout);
    return false;
}

bool open_or_report(OutFile& out, const char* path, const char* message)
{
    if (out.open(path)) return true;
    std::fputs(message, stdout);
    return false;
}

OutFile::~OutFile() { close(); }

bool OutFile::open(const char* path)
{
    close();
    fd_ = ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd_ < 0) return false;
    failed_ = false;
    written_through_ = false;
    used_ = 0;
    if (!buf_) buf_.reset(new unsigned char[kSize]);
    return true;
}

bool OutFile::flush()
{
    if (fd_ < 0) return false;
    if (used_ > 0) {
        written_through_ = true;
        if (!failed_ && !write_all(fd_, buf_.get(), used_)) failed_ = true;
    }
    used_ = 0;
    return !failed_;
}

bool OutFile::close()
{
    if (fd_ < 0) return !failed_;
    flush();
    if (::close(fd_) != 0) failed_ = true;
    fd_ = -1;
    return !failed_;
}

void OutFile::write_slow(const void* data, std::size_t n)
{
    flush();
    if (n >= kSize) {
        written_through_ = true;
        if (!failed_ && !write_all(fd_, static_cast<const unsigned char*>(data), n)) failed_ = true;
        return;
    }
    std::memcpy(buf_.get(), data, n);
    used_ = n;
}

}  // namespace ziv
