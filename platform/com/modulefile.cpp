// The check of a module file against this machine and against its own size.
#include "modulefile.h"

#include <elf.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <type_traits>
#include <vector>

namespace {
constexpr bool k64 = sizeof(void*) == 8;
using Ehdr = std::conditional_t<k64, Elf64_Ehdr, Elf32_Ehdr>;
using Phdr = std::conditional_t<k64, Elf64_Phdr, Elf32_Phdr>;
using Shdr = std::conditional_t<k64, Elf64_Shdr, Elf32_Shdr>;
constexpr unsigned char kClass = k64 ? ELFCLASS64 : ELFCLASS32;
constexpr unsigned char kData = __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__ ? ELFDATA2LSB : ELFDATA2MSB;

#if defined(__x86_64__)
constexpr unsigned kMachine = EM_X86_64;
#elif defined(__aarch64__)
constexpr unsigned kMachine = EM_AARCH64;
#elif defined(__i386__)
constexpr unsigned kMachine = EM_386;
#elif defined(__arm__)
constexpr unsigned kMachine = EM_ARM;
#elif defined(__riscv)
constexpr unsigned kMachine = EM_RISCV;
#elif defined(__powerpc64__)
constexpr unsigned kMachine = EM_PPC64;
#elif defined(__s390x__)
constexpr unsigned kMachine = EM_S390;
#elif defined(__loongarch__)
constexpr unsigned kMachine = EM_LOONGARCH;
#else
#error "the machine's ELF code is not known here"
#endif

// Whether `count` entries of `entrySize` bytes from `offset` end inside a file
// of `fileSize` bytes, without overflow.
bool TableInside(std::uint64_t offset, std::uint64_t count, std::uint64_t entrySize, std::uint64_t fileSize) {
    if (offset > fileSize) return false;
    return entrySize == 0 || count <= (fileSize - offset) / entrySize;
}

// The section header table holds the true counts when the header's do not fit
// their 16-bit fields: the number of sections in sh_size of entry 0, the
// number of program headers in its sh_info.
bool ReadSectionZero(const Ehdr& eh, std::uint64_t fileSize, const ModuleFileReader& read, Shdr* zero) {
    return eh.e_shoff != 0 && eh.e_shentsize == sizeof(Shdr) && TableInside(eh.e_shoff, 1, sizeof(Shdr), fileSize) &&
           read(eh.e_shoff, zero, sizeof *zero);
}
}  // namespace

ModuleFileFault CheckModuleImage(std::uint64_t fileSize, const ModuleFileReader& read) {
    unsigned char ident[EI_NIDENT];
    // A file that stops within the magic number (an empty one too) is one cut short.
    const std::size_t magic = fileSize < SELFMAG ? std::size_t(fileSize) : SELFMAG;
    if (!read(0, ident, magic)) return ModuleFileFault::damaged;
    if (std::memcmp(ident, ELFMAG, magic) != 0) return ModuleFileFault::notSharedLibrary;
    if (magic < SELFMAG) return ModuleFileFault::damaged;
    if (fileSize < EI_NIDENT || !read(0, ident, EI_NIDENT)) return ModuleFileFault::damaged;
    if (ident[EI_CLASS] != kClass || ident[EI_DATA] != kData) return ModuleFileFault::otherMachine;
    Ehdr eh;
    if (fileSize < sizeof eh || !read(0, &eh, sizeof eh)) return ModuleFileFault::damaged;
    if (eh.e_machine != kMachine) return ModuleFileFault::otherMachine;
    if (eh.e_type != ET_DYN) return ModuleFileFault::notSharedLibrary;
    if (ident[EI_VERSION] != EV_CURRENT || eh.e_version != EV_CURRENT || eh.e_ehsize != sizeof eh)
        return ModuleFileFault::damaged;

    Shdr zero{};
    const bool haveZero = ReadSectionZero(eh, fileSize, read, &zero);
    if (eh.e_shoff != 0 && !haveZero) return ModuleFileFault::damaged;
    const std::uint64_t sections = eh.e_shoff == 0 ? 0 : eh.e_shnum != 0 ? eh.e_shnum : std::uint64_t(zero.sh_size);
    if (!TableInside(eh.e_shoff, sections, sizeof(Shdr), fileSize)) return ModuleFileFault::damaged;

    const std::uint64_t segments = eh.e_phnum != PN_XNUM ? eh.e_phnum : haveZero ? zero.sh_info : 0;
    if (segments == 0 || eh.e_phentsize != sizeof(Phdr) || !TableInside(eh.e_phoff, segments, sizeof(Phdr), fileSize))
        return ModuleFileFault::damaged;
    std::vector<Phdr> table(segments);
    if (!read(eh.e_phoff, table.data(), table.size() * sizeof(Phdr))) return ModuleFileFault::damaged;
    bool loadable = false;
    for (const Phdr& ph : table) {
        if (ph.p_type != PT_LOAD) continue;
        loadable = true;
        if (ph.p_offset > fileSize || ph.p_filesz > fileSize - ph.p_offset) return ModuleFileFault::damaged;
    }
    return loadable ? ModuleFileFault::none : ModuleFileFault::damaged;
}

HRESULT CheckModuleFile(const std::string& path, std::string* error) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        *error = "module cannot be read: " + path + ": " + std::strerror(errno);
        return CO_E_ERRORINDLL;
    }
    struct stat info {};
    ModuleFileFault fault = ModuleFileFault::notSharedLibrary;
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
        fault =
            CheckModuleImage(std::uint64_t(info.st_size), [fd](std::uint64_t offset, void* buffer, std::size_t size) {
                auto* at = static_cast<char*>(buffer);
                while (size > 0) {
                    const ssize_t got = ::pread(fd, at, size, off_t(offset));
                    if (got < 0 && errno == EINTR) continue;
                    if (got <= 0) return false;
                    at += got, offset += std::uint64_t(got), size -= std::size_t(got);
                }
                return true;
            });
    }
    ::close(fd);
    switch (fault) {
    case ModuleFileFault::none: return S_OK;
    case ModuleFileFault::notSharedLibrary: *error = "module is no shared library: " + path; break;
    case ModuleFileFault::otherMachine: *error = "module is built for another machine: " + path; break;
    case ModuleFileFault::damaged: *error = "module is damaged or incomplete: " + path; break;
    }
    return CO_E_ERRORINDLL;
}
