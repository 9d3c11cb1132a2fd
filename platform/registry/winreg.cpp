// The registry functions over the hive files.
//
// A change runs under the hive's lock: an flock(2) on the file beside it
// (HKEY_....reg.lock), which the kernel releases when its holder ends however
// it ends, so a killed writer never blocks the others; the lock file itself
// stays and is never removed (removing it would let two writers lock two
// different files). Under the lock a change re-reads the hive, applies and
// replaces the file through a temporary file renamed over it. Readers take no
// lock: the rename swaps the whole file at once, so they see the old or the
// new one. A batch (RegBeginBatch) holds the lock and the hive read once across
// many calls of one thread and writes once at its end.
//
// HKEY_CLASSES_ROOT is read as the merged view of two files: the machine's
// classes (MachineRegistryFolder(), written by root when a package registers
// its module) under the user's own, whose values win. Changes go to the user's
// file alone; a key seen only in the machine's file is made in the user's file
// when it is changed. RegUseMachineClasses makes HKEY_CLASSES_ROOT the
// machine's file alone, for reading and changing.

#include "winreg.h"

#include <QDir>
#include <QString>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <set>
#include <thread>
#include <unordered_set>
#include <vector>

#include "hive.h"

using namespace ziv::registry;

struct HKEY__ {
    int hive;
    std::string path;  // key path below the hive's root, as the file spells it
    REGSAM access;
};

namespace {

constexpr const char* kRootNames[] = {"HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER"};
constexpr REGSAM kDeleteRight = 0x00010000;
constexpr REGSAM kDeleteTreeRights = kDeleteRight | KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE;
// Writers hold the lock for milliseconds (a batch for the length of a module's
// registration); this long means something is stuck.
constexpr auto kLockWait = std::chrono::seconds(10);
constexpr auto kLockPoll = std::chrono::milliseconds(2);

// Why the thread's last failed call failed, when a file was the reason.
thread_local std::string t_error;

LONG fail(LONG code, std::string text) {
    t_error = "registry: " + std::move(text);
    return code;
}

LONG fail_errno(LONG code, const std::string& file, int err) { return fail(code, file + ": " + std::strerror(err)); }

// Tests stop a writer dead at step N of a change (1: lock file open, 2: lock
// held, 3: new text written beside the hive, 4: renamed over it) to show that
// whatever it leaves is no obstacle to the next one.
void kill_point(int step) {
    const char* kill_at = std::getenv("ZIV_REGISTRY_TEST_KILL_AT_STEP");
    if (kill_at && std::atoi(kill_at) == step) std::raise(SIGKILL);
}

std::atomic<bool> g_machine_classes{false};

bool machine_hive(int hive) { return hive == 0 && g_machine_classes; }

// The folder, or nullopt with the reason in t_error.
std::optional<std::string> folder_or_fail(int hive) {
    if (machine_hive(hive)) return MachineRegistryFolder();
    std::string folder = RegistryFolder();
    if (folder.empty()) {
        fail(ERROR_ACCESS_DENIED,
             "no registry folder: HOME is not set (or not an absolute path) and neither ZIV_REGISTRY_DIR nor "
             "XDG_CONFIG_HOME names one");
        return std::nullopt;
    }
    return folder;
}

// A hive and a key path: what a handle stands for.
struct Target {
    int hive = 0;
    std::string path;
    REGSAM access = 0;
    bool predefined = false;
};

std::mutex& handles_mutex() {
    static std::mutex m;
    return m;
}

// The handles handed out and not yet closed, so that a stale or foreign
// handle is refused instead of being followed.
std::unordered_set<HKEY>& open_handles() {
    static std::unordered_set<HKEY> handles;
    return handles;
}

LONG resolve(HKEY key, Target& target) {
    if (key == HKEY_CLASSES_ROOT || key == HKEY_CURRENT_USER) {
        target = Target{key == HKEY_CLASSES_ROOT ? 0 : 1, std::string(), KEY_ALL_ACCESS, true};
        return ERROR_SUCCESS;
    }
    std::lock_guard lock(handles_mutex());
    if (!open_handles().count(key)) return ERROR_INVALID_HANDLE;
    target = Target{key->hive, key->path, key->access, false};
    return ERROR_SUCCESS;
}

HKEY new_handle(int hive, std::string path, REGSAM access) {
    auto* key = new HKEY__{hive, std::move(path), access};
    std::lock_guard lock(handles_mutex());
    try {
        open_handles().insert(key);
    } catch (...) {
        delete key;
        throw;
    }
    return key;
}

// The path of `sub` below `base`: empty or null `sub` is `base` itself; a
// trailing backslash is allowed, a leading or doubled one is not.
LONG join_path(const Target& base, LPCTSTR sub, std::string& path) {
    std::string_view rest = sub ? sub : "";
    if (!rest.empty() && rest.back() == '\\') rest.remove_suffix(1);
    path = base.path;
    if (!rest.empty()) {
        if (!path.empty()) path += '\\';
        path += rest;
    }
    std::vector<std::string_view> names;
    return split_key_path(path, names) ? ERROR_SUCCESS : ERROR_INVALID_PARAMETER;
}

void report_bad_file(const std::string& file, const ParseError& error) {
    static std::mutex mutex;
    static std::set<std::string> reported;
    const std::string message = "registry: " + file + " line " + std::to_string(error.line) + ": " + error.message +
                                "; the file is left as it is and will not be written to\n";
    std::lock_guard lock(mutex);
    if (reported.insert(message).second) std::fputs(message.c_str(), stderr);
}

class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() { reset(); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    void reset(int fd = -1) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = fd;
    }

private:
    int fd_;
};

constexpr const char* kNotRegular = "not a regular file: a pipe, device or directory cannot hold a hive";

// Reads and parses a hive file; a missing file is an empty hive. `text`
// receives the file's bytes. Opened without blocking, so that a pipe in its
// place is refused instead of waited on.
LONG read_hive_file(int hive, const std::string& file, Hive& out, std::string& text) {
    text.clear();
    Fd fd(::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (fd.get() < 0) {
        const int err = errno;
        struct stat link {};
        if (err == ENOENT && ::lstat(file.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
            std::error_code ec;
            const std::string target = std::filesystem::read_symlink(file, ec).string();
            return fail(ERROR_ACCESS_DENIED, file + ": a link to " + target + ", which does not exist");
        }
        if (err == ENOENT) {
            out = Hive{};
            return ERROR_SUCCESS;
        }
        return fail_errno(ERROR_ACCESS_DENIED, file, err);
    }
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0) return fail_errno(ERROR_ACCESS_DENIED, file, errno);
    if (!S_ISREG(info.st_mode)) return fail(ERROR_BADDB, file + " is " + kNotRegular);
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
        if (n > 0) text.append(buffer, std::size_t(n));
        else if (n == 0) break;
        else if (errno != EINTR) return fail_errno(ERROR_ACCESS_DENIED, file, errno);
    }
    ParseError error;
    if (!parse_hive(text, kRootNames[hive], out, error)) {
        report_bad_file(file, error);
        return fail(ERROR_BADDB, file + " line " + std::to_string(error.line) + ": " + error.message +
                                     " (the file is left as it is)");
    }
    return ERROR_SUCCESS;
}

// The exclusive lock of one hive for as long as the object lives.
class HiveLock {
public:
    HiveLock() = default;
    HiveLock(const HiveLock&) = delete;
    HiveLock& operator=(const HiveLock&) = delete;
    // Unlocked explicitly: a child forked meanwhile shares the descriptor and
    // would otherwise keep the lock after ours is closed.
    ~HiveLock() {
        if (held_) ::flock(fd_.get(), LOCK_UN);
    }

    LONG take(const std::string& path) {
        kill_point(1);
        fd_.reset(::open(path.c_str(), O_RDWR | O_CREAT | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, 0666));
        if (fd_.get() < 0 && errno == EACCES) fd_.reset(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
        if (fd_.get() < 0) return fail_errno(ERROR_CANTWRITE, path, errno);
        struct stat info {};
        if (::fstat(fd_.get(), &info) != 0) return fail_errno(ERROR_CANTWRITE, path, errno);
        if (!S_ISREG(info.st_mode))
            return fail(ERROR_CANTWRITE, path + " is not a regular file: it cannot lock the hive");
        const auto deadline = std::chrono::steady_clock::now() + kLockWait;
        while (::flock(fd_.get(), LOCK_EX | LOCK_NB) != 0) {
            if (errno == EINTR) continue;
            if (errno != EWOULDBLOCK) return fail_errno(ERROR_CANTWRITE, path, errno);
            if (std::chrono::steady_clock::now() >= deadline)
                return fail(ERROR_CANTWRITE, path + ": another process has held the hive's lock for " +
                                                 std::to_string(kLockWait.count()) + " s");
            std::this_thread::sleep_for(kLockPoll);
        }
        held_ = true;
        kill_point(2);
        return ERROR_SUCCESS;
    }

private:
    Fd fd_;
    bool held_ = false;
};

// Replaces `file` with `text`: written beside it under a fixed name (only the
// lock holder writes it, and the next writer takes over what a killed one
// left) and renamed over it. A link is followed: the file it names is replaced.
LONG write_hive_file(const std::string& file, const std::string& text) {
    std::string target = file;
    struct stat info {};
    const bool exists = ::lstat(file.c_str(), &info) == 0;
    if (exists && S_ISLNK(info.st_mode)) {
        std::error_code ec;
        target = std::filesystem::canonical(file, ec).string();
        if (ec) return fail(ERROR_CANTWRITE, file + ": " + ec.message());
        ::stat(target.c_str(), &info);
    }
    const std::string temp = target + ".tmp";
    Fd fd(::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY, 0666));
    if (fd.get() < 0) return fail_errno(ERROR_CANTWRITE, temp, errno);
    if (exists) ::fchmod(fd.get(), info.st_mode & 07777);  // the hive keeps its permissions
    const auto failed = [&](int err) {
        ::unlink(temp.c_str());
        return fail_errno(ERROR_CANTWRITE, temp, err);
    };
    for (std::size_t done = 0; done < text.size();) {
        const ssize_t n = ::write(fd.get(), text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return failed(n < 0 ? errno : ENOSPC);
        done += std::size_t(n);
    }
    if (::fsync(fd.get()) != 0) return failed(errno);
    fd.reset();
    kill_point(3);
    if (::rename(temp.c_str(), target.c_str()) != 0) {
        const int err = errno;
        ::unlink(temp.c_str());
        return fail_errno(ERROR_CANTWRITE, target, err);
    }
    kill_point(4);
    return ERROR_SUCCESS;
}

// Temporary files that writers of earlier versions left when they were
// killed: "HKEY_....reg.XXXXXX" (six random letters and digits; only names
// with both, so that a "HKEY_....reg.backup" of the user's stays) and the
// lock's ".rmlock". Removed under the lock.
void remove_leftovers(const std::string& folder, int hive) {
    const std::string base = std::string(kRootNames[hive]) + ".reg.";
    const auto is_digit = [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; };
    const auto is_alpha = [](char c) { return std::isalpha(static_cast<unsigned char>(c)) != 0; };
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
        const std::string name = entry.path().filename().string();
        if (name.compare(0, base.size(), base) != 0) continue;
        const std::string rest = name.substr(base.size());
        const bool temp = rest.size() == 6 &&
                          std::all_of(rest.begin(), rest.end(), [&](char c) { return is_digit(c) || is_alpha(c); }) &&
                          std::any_of(rest.begin(), rest.end(), is_digit) &&
                          std::any_of(rest.begin(), rest.end(), is_alpha);
        std::error_code ignored;
        if ((temp || rest == "lock.rmlock") && entry.is_regular_file(ignored))
            std::filesystem::remove(entry.path(), ignored);
    }
}

// One hive held for changing: its folder made, its lock taken, its content read.
struct Session {
    int hive = 0;
    std::string folder;
    std::string file;
    HiveLock lock;
    Hive content;
    std::string old_text;

    LONG open(int which) {
        hive = which;
        const auto dir = folder_or_fail(hive);
        if (!dir) return ERROR_CANTWRITE;
        folder = *dir;
        file = folder + '/' + kRootNames[hive] + ".reg";
        std::error_code ec;
        std::filesystem::create_directories(folder, ec);
        if (ec)
            return fail(ERROR_CANTWRITE, folder + ": " + ec.message() + " (the folder of the hives cannot be made)");
        LONG result = lock.take(file + ".lock");
        if (result == ERROR_SUCCESS) result = read_hive_file(hive, file, content, old_text);
        return result;
    }

    // Writes the content unless it is what the file holds already.
    LONG commit() {
        const std::string text = write_hive(content, kRootNames[hive]);
        if (text == old_text) return ERROR_SUCCESS;
        const LONG result = write_hive_file(file, text);
        if (result == ERROR_SUCCESS) {
            old_text = text;
            remove_leftovers(folder, hive);
        }
        return result;
    }
};

// The calling thread's batch: the session its calls on that hive go to.
struct Batch {
    int depth = 0;
    std::unique_ptr<Session> session;
};
thread_local Batch t_batch;

Session* batch_of(int hive) {
    return t_batch.session && t_batch.session->hive == hive ? t_batch.session.get() : nullptr;
}

// The machine's classes as their file holds them; a missing file is an empty
// hive, one that cannot be read an error naming it.
LONG read_machine_classes(Hive& content) {
    std::string text;
    return read_hive_file(0, MachineRegistryFolder() + '/' + kRootNames[0] + ".reg", content, text);
}

// The user's classes laid over the machine's: keys of either, and in a key
// of both the values of both, the user's where both have one.
void merge_user_classes(Hive& machine, Hive&& user) {
    for (auto& [sort_key, key] : user.keys) {
        const auto [it, added] = machine.keys.try_emplace(sort_key, std::move(key));
        if (!added)
            for (auto& [name, value] : key.values) it->second.values[name] = std::move(value);
    }
}

// Runs `read` on the newest content of a hive: the batch's, else the file's
// (for the classes, merged with the machine's; a batch reads its own file).
template <typename Read>
LONG with_hive(int hive, Read&& read) {
    if (Session* batch = batch_of(hive)) return read(batch->content);
    const auto dir = folder_or_fail(hive);
    if (!dir) return ERROR_ACCESS_DENIED;
    Hive content;
    std::string text;
    LONG result = read_hive_file(hive, *dir + '/' + kRootNames[hive] + ".reg", content, text);
    if (result != ERROR_SUCCESS || hive != 0 || machine_hive(hive))
        return result == ERROR_SUCCESS ? read(content) : result;
    Hive merged;
    result = read_machine_classes(merged);
    if (result != ERROR_SUCCESS) return result;
    merge_user_classes(merged, std::move(content));
    return read(merged);
}

// Applies `change` to the newest content of a hive under its lock and writes
// the result, unless `change` fails (it changes nothing then) or leaves the
// text as it was. In a batch the change stays in memory until its end.
template <typename Change>
LONG change_hive(int hive, Change&& change) {
    if (Session* batch = batch_of(hive)) return change(batch->content);
    Session session;
    LONG result = session.open(hive);
    if (result == ERROR_SUCCESS) result = change(session.content);
    if (result == ERROR_SUCCESS) result = session.commit();
    return result;
}

// The key a handle stands for, which another process may have deleted since.
HiveKey* handle_key(Hive& hive, const Target& target) { return find_key(hive, target.path); }

// The key a handle stands for, to be changed in the hive being written: a
// class key that only the machine has is made in the user's classes.
HiveKey* changed_key(Hive& hive, const Target& target) {
    if (HiveKey* key = find_key(hive, target.path)) return key;
    if (target.hive != 0 || machine_hive(0)) return nullptr;
    Hive machine;
    if (read_machine_classes(machine) != ERROR_SUCCESS || !find_key(machine, target.path)) return nullptr;
    return &ensure_key(hive, target.path);
}

// Runs an API body, turning an exhausted memory into its error code: no
// exception leaves these functions.
template <typename Body>
LONG guarded(Body&& body) noexcept {
    t_error.clear();
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return ERROR_OUTOFMEMORY;
    } catch (...) {
        return ERROR_CANTWRITE;
    }
}

// The key a handle stands for, read: resolved, its access checked for
// `right`, the hive loaded; `read(hive, base, key)` gives the result.
template <class Read>
LONG read_key(HKEY hKey, REGSAM right, Read&& read) {
    Target base;
    LONG result = resolve(hKey, base);
    if (result != ERROR_SUCCESS) return result;
    if (!(base.access & right)) return ERROR_ACCESS_DENIED;
    return with_hive(base.hive, [&](Hive& hive) -> LONG {
        const HiveKey* key = handle_key(hive, base);
        if (!key) return ERROR_KEY_DELETED;
        return read(hive, base, *key);
    });
}

// The key a handle stands for, changed under the hive's lock: `change(key)`
// gives the result; the hive is written when it succeeds.
template <class Change>
LONG change_key(HKEY hKey, Change&& change) {
    Target base;
    const LONG result = resolve(hKey, base);
    if (result != ERROR_SUCCESS) return result;
    if (!(base.access & KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
    return change_hive(base.hive, [&](Hive& hive) -> LONG {
        HiveKey* key = changed_key(hive, base);
        return key ? change(*key) : ERROR_KEY_DELETED;
    });
}

// The RRF_RT_ bit that admits a value type; other types only RRF_RT_ANY admits.
DWORD type_flag(DWORD type) {
    switch (type) {
    case REG_NONE: return RRF_RT_REG_NONE;
    case REG_SZ: return RRF_RT_REG_SZ;
    case REG_BINARY: return RRF_RT_REG_BINARY;
    case REG_DWORD: return RRF_RT_REG_DWORD;
    default: return 0;
    }
}

// Value `name` of `key` into the caller's buffer, when its type is one `flags` admits.
LONG copy_value(const HiveKey& key, LPCTSTR name, DWORD flags, DWORD* type, BYTE* out, DWORD* size) {
    const auto it = key.values.find(fold_name(name ? name : ""));
    if (it == key.values.end()) return ERROR_FILE_NOT_FOUND;
    if ((flags & RRF_RT_ANY) != RRF_RT_ANY && !(flags & type_flag(it->second.type))) {
        if (type) *type = it->second.type;
        return ERROR_UNSUPPORTED_TYPE;
    }
    std::string data = it->second.data;
    // A string read from a hand-made file may lack its NUL; callers count on one.
    if (it->second.type == REG_SZ && (data.empty() || data.back() != '\0')) data += '\0';
    if (type) *type = it->second.type;
    const auto needed = DWORD(data.size());
    if (!out) {
        if (size) *size = needed;
        return ERROR_SUCCESS;
    }
    if (*size < needed) {
        *size = needed;
        return ERROR_MORE_DATA;
    }
    std::memcpy(out, data.data(), needed);
    *size = needed;
    return ERROR_SUCCESS;
}

// The bytes a value keeps: a REG_SZ value up to its first NUL, with one.
std::string stored_data(DWORD type, const BYTE* data, DWORD size) {
    std::string stored = data ? std::string(reinterpret_cast<const char*>(data), size) : std::string();
    if (type == REG_SZ) {
        stored.resize(std::min(stored.size(), stored.find('\0')));
        stored += '\0';
    }
    return stored;
}

void set_value(HiveKey& key, const std::string& name, DWORD type, const std::string& data) {
    auto [it, added] = key.values.try_emplace(fold_name(name));
    if (added) it->second.name = name;  // an existing value keeps its spelling
    it->second.type = type;
    it->second.data = data;
}

}  // namespace

LONG RegCreateKeyEx(HKEY hKey, LPCTSTR lpSubKey, DWORD, LPSTR, DWORD dwOptions, REGSAM samDesired, void*,
                    PHKEY phkResult, DWORD* lpdwDisposition) {
    if (!phkResult) return ERROR_INVALID_PARAMETER;
    *phkResult = nullptr;
    if (!lpSubKey || dwOptions != REG_OPTION_NON_VOLATILE) return ERROR_INVALID_PARAMETER;
    return guarded([&]() -> LONG {
        Target base;
        std::string path;
        LONG result = resolve(hKey, base);
        if (result == ERROR_SUCCESS) result = join_path(base, lpSubKey, path);
        if (result != ERROR_SUCCESS) return result;

        // Most calls open a key that exists; only a missing one takes the lock.
        std::string spelled;
        bool found = false;
        DWORD disposition = REG_OPENED_EXISTING_KEY;
        result = with_hive(base.hive, [&](Hive& hive) -> LONG {
            if (!handle_key(hive, base)) return ERROR_KEY_DELETED;
            const HiveKey* key = find_key(hive, path);
            if (key) spelled = key->path;
            found = key != nullptr;
            return ERROR_SUCCESS;
        });
        if (result != ERROR_SUCCESS) return result;
        if (!found) {
            if (!(base.access & KEY_CREATE_SUB_KEY)) return ERROR_ACCESS_DENIED;
            result = change_hive(base.hive, [&](Hive& h) -> LONG {
                if (!changed_key(h, base)) return ERROR_KEY_DELETED;
                if (const HiveKey* existing = find_key(h, path)) {
                    spelled = existing->path;  // another process was quicker
                } else {
                    spelled = ensure_key(h, path).path;
                    disposition = REG_CREATED_NEW_KEY;
                }
                return ERROR_SUCCESS;
            });
            if (result != ERROR_SUCCESS) return result;
        }
        *phkResult = new_handle(base.hive, std::move(spelled), samDesired);
        if (lpdwDisposition) *lpdwDisposition = disposition;
        return ERROR_SUCCESS;
    });
}

LONG RegOpenKeyEx(HKEY hKey, LPCTSTR lpSubKey, DWORD, REGSAM samDesired, PHKEY phkResult) {
    if (!phkResult) return ERROR_INVALID_PARAMETER;
    *phkResult = nullptr;
    return guarded([&]() -> LONG {
        Target base;
        std::string path;
        LONG result = resolve(hKey, base);
        if (result == ERROR_SUCCESS) result = join_path(base, lpSubKey, path);
        if (result != ERROR_SUCCESS) return result;
        std::string spelled;
        result = with_hive(base.hive, [&](Hive& hive) -> LONG {
            if (!handle_key(hive, base)) return ERROR_KEY_DELETED;
            const HiveKey* key = find_key(hive, path);
            if (!key) return ERROR_FILE_NOT_FOUND;
            spelled = key->path;
            return ERROR_SUCCESS;
        });
        if (result != ERROR_SUCCESS) return result;
        *phkResult = new_handle(base.hive, std::move(spelled), samDesired);
        return ERROR_SUCCESS;
    });
}

LONG RegQueryValueEx(HKEY hKey, LPCTSTR lpValueName, DWORD* lpReserved, DWORD* lpType, BYTE* lpData, DWORD* lpcbData) {
    if (lpReserved || (lpData && !lpcbData)) return ERROR_INVALID_PARAMETER;
    return guarded([&]() -> LONG {
        return read_key(hKey, KEY_QUERY_VALUE, [&](const Hive&, const Target&, const HiveKey& key) -> LONG {
            return copy_value(key, lpValueName, RRF_RT_ANY, lpType, lpData, lpcbData);
        });
    });
}

LONG RegGetValue(HKEY hkey, LPCTSTR lpSubKey, LPCTSTR lpValue, DWORD dwFlags, DWORD* pdwType, void* pvData,
                 DWORD* pcbData) {
    if (!(dwFlags & RRF_RT_ANY) || (pvData && !pcbData)) return ERROR_INVALID_PARAMETER;
    return guarded([&]() -> LONG {
        Target base;
        std::string path;
        LONG result = resolve(hkey, base);
        if (result == ERROR_SUCCESS) result = join_path(base, lpSubKey, path);
        if (result != ERROR_SUCCESS) return result;
        // A subkey is opened for reading on the way; the handle's own key needs the right.
        if (path.size() == base.path.size() && !(base.access & KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
        return with_hive(base.hive, [&](Hive& hive) -> LONG {
            if (!handle_key(hive, base)) return ERROR_KEY_DELETED;
            const HiveKey* key = find_key(hive, path);
            if (!key) return ERROR_FILE_NOT_FOUND;
            return copy_value(*key, lpValue, dwFlags, pdwType, static_cast<BYTE*>(pvData), pcbData);
        });
    });
}

LONG RegSetValueEx(HKEY hKey, LPCTSTR lpValueName, DWORD, DWORD dwType, const BYTE* lpData, DWORD cbData) {
    if (!lpData && cbData) return ERROR_INVALID_PARAMETER;
    return guarded([&]() -> LONG {
        const std::string name = lpValueName ? lpValueName : "";
        if (!is_valid_name(name)) return ERROR_INVALID_PARAMETER;
        const std::string data = stored_data(dwType, lpData, cbData);
        return change_key(hKey, [&](HiveKey& key) -> LONG {
            set_value(key, name, dwType, data);
            return ERROR_SUCCESS;
        });
    });
}

LONG RegSetKeyValue(HKEY hKey, LPCTSTR lpSubKey, LPCTSTR lpValueName, DWORD dwType, const void* lpData, DWORD cbData) {
    if (!lpData && cbData) return ERROR_INVALID_PARAMETER;
    return guarded([&]() -> LONG {
        const std::string name = lpValueName ? lpValueName : "";
        if (!is_valid_name(name)) return ERROR_INVALID_PARAMETER;
        const std::string data = stored_data(dwType, static_cast<const BYTE*>(lpData), cbData);
        Target base;
        std::string path;
        LONG result = resolve(hKey, base);
        if (result == ERROR_SUCCESS) result = join_path(base, lpSubKey, path);
        if (result != ERROR_SUCCESS) return result;
        const bool own_key = path.size() == base.path.size();
        if (own_key && !(base.access & KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
        // Key and value come in one change: nobody sees the key without it.
        return change_hive(base.hive, [&](Hive& hive) -> LONG {
            if (!handle_key(hive, base)) return ERROR_KEY_DELETED;
            HiveKey* key = find_key(hive, path);
            if (!key && !(base.access & KEY_CREATE_SUB_KEY)) return ERROR_ACCESS_DENIED;
            set_value(key ? *key : ensure_key(hive, path), name, dwType, data);
            return ERROR_SUCCESS;
        });
    });
}

LONG RegDeleteValue(HKEY hKey, LPCTSTR lpValueName) {
    return guarded([&]() -> LONG {
        return change_key(hKey, [&](HiveKey& key) -> LONG {
            return key.values.erase(fold_name(lpValueName ? lpValueName : "")) ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
        });
    });
}

LONG RegDeleteTree(HKEY hKey, LPCTSTR lpSubKey) {
    return guarded([&]() -> LONG {
        Target base;
        std::string path;
        LONG result = resolve(hKey, base);
        if (result == ERROR_SUCCESS) result = join_path(base, lpSubKey, path);
        if (result != ERROR_SUCCESS) return result;
        if ((base.access & kDeleteTreeRights) != kDeleteTreeRights) return ERROR_ACCESS_DENIED;
        const bool own_key = path.size() == base.path.size();
        return change_hive(base.hive, [&](Hive& hive) -> LONG {
            // The machine's classes are not the user's to delete.
            if (!changed_key(hive, base)) return ERROR_KEY_DELETED;
            if (!find_key(hive, path)) return ERROR_FILE_NOT_FOUND;
            erase_key(hive, path, own_key);
            return ERROR_SUCCESS;
        });
    });
}

LONG RegEnumKeyEx(HKEY hKey, DWORD dwIndex, LPSTR lpName, DWORD* lpcchName, DWORD* lpReserved, LPSTR, DWORD* lpcchClass,
                  void*) {
    if (!lpName || !lpcchName || lpReserved) return ERROR_INVALID_PARAMETER;
    return guarded([&]() -> LONG {
        return read_key(hKey, KEY_ENUMERATE_SUB_KEYS,
                        [&](const Hive& hive, const Target& base, const HiveKey&) -> LONG {
                            const std::vector<std::string> names = subkey_names(hive, base.path);
                            if (dwIndex >= names.size()) return ERROR_NO_MORE_ITEMS;
                            const std::string& name = names[dwIndex];
                            if (*lpcchName <= name.size()) {
                                *lpcchName = DWORD(name.size() + 1);
                                return ERROR_MORE_DATA;
                            }
                            std::memcpy(lpName, name.c_str(), name.size() + 1);
                            *lpcchName = DWORD(name.size());
                            if (lpcchClass) *lpcchClass = 0;
                            return ERROR_SUCCESS;
                        });
    });
}

LONG RegCloseKey(HKEY hKey) {
    if (hKey == HKEY_CLASSES_ROOT || hKey == HKEY_CURRENT_USER) return ERROR_SUCCESS;
    std::lock_guard lock(handles_mutex());
    if (!open_handles().erase(hKey)) return ERROR_INVALID_HANDLE;
    delete hKey;
    return ERROR_SUCCESS;
}

const char* RegErrorText(LONG code) {
    switch (code) {
    case ERROR_SUCCESS: return "success";
    case ERROR_FILE_NOT_FOUND: return "no such key or value";
    case ERROR_ACCESS_DENIED: return "access denied";
    case ERROR_INVALID_HANDLE: return "invalid key handle";
    case ERROR_OUTOFMEMORY: return "out of memory";
    case ERROR_INVALID_PARAMETER: return "invalid parameter";
    case ERROR_MORE_DATA: return "the buffer is too small";
    case ERROR_NO_MORE_ITEMS: return "no more items";
    case ERROR_BADDB: return "the registry file is damaged";
    case ERROR_CANTWRITE: return "the registry file could not be written";
    case ERROR_KEY_DELETED: return "the key has been deleted";
    case ERROR_UNSUPPORTED_TYPE: return "the value has another type";
    default: return "unknown registry error";
    }
}

LONG RegBeginBatch(HKEY hKey) {
    if (hKey != HKEY_CLASSES_ROOT && hKey != HKEY_CURRENT_USER) return ERROR_INVALID_PARAMETER;
    const int hive = hKey == HKEY_CLASSES_ROOT ? 0 : 1;
    if (t_batch.depth > 0) {
        if (!batch_of(hive)) return ERROR_INVALID_PARAMETER;
        ++t_batch.depth;
        return ERROR_SUCCESS;
    }
    return guarded([&]() -> LONG {
        auto session = std::make_unique<Session>();
        const LONG result = session->open(hive);
        if (result != ERROR_SUCCESS) return result;
        t_batch.session = std::move(session);
        t_batch.depth = 1;
        return ERROR_SUCCESS;
    });
}

LONG RegEndBatch(BOOL bCommit) {
    if (t_batch.depth == 0) return ERROR_INVALID_PARAMETER;
    if (--t_batch.depth > 0) return ERROR_SUCCESS;
    const std::unique_ptr<Session> session = std::move(t_batch.session);
    if (!bCommit) return ERROR_SUCCESS;
    return guarded([&]() -> LONG { return session->commit(); });
}

std::string RegLastErrorText() { return t_error; }

std::string RegistryFolder() {
    const auto absolute = [](const QString& dir) { return !dir.isEmpty() && !QDir::isRelativePath(dir); };
    const QString dir = qEnvironmentVariable("ZIV_REGISTRY_DIR");
    if (!dir.isEmpty()) return dir.toStdString();
    QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (!absolute(config)) {
        // Without a home the default would land at the root of the file system.
        const QString home = qEnvironmentVariable("HOME");
        if (!absolute(home)) return {};
        config = QDir::cleanPath(home + QLatin1String("/.config"));
    }
    return QDir::cleanPath(config + QLatin1String("/ziv/registry")).toStdString();
}

std::string MachineRegistryFolder() {
    const QString dir = qEnvironmentVariable("ZIV_MACHINE_REGISTRY_DIR");
    return dir.isEmpty() ? std::string(ZIV_MACHINE_REGISTRY_DIR) : dir.toStdString();
}

void RegUseMachineClasses(BOOL bMachine) { g_machine_classes = bMachine != FALSE; }
