// The registry functions over the hive files.
//
// A change runs under the hive's QLockFile: re-read, apply, replace the file
// through QSaveFile (written beside it, renamed over it). Readers take no lock:
// the rename swaps the whole file at once, so they see the old or the new one.
// A process killed while it writes leaves the previous file and at worst a
// stray temporary file; its lock file is recognised as stale by QLockFile.

#include "winreg.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QLockFile>
#include <QSaveFile>
#include <QString>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>
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
// Writers hold the lock for a few milliseconds; this long means something is stuck.
constexpr auto kLockWait = std::chrono::seconds(10);
// QLockFile's own waiting doubles a 100 ms sleep; short polls keep several
// busy writers from waiting on each other far longer than the writes take.
constexpr auto kLockPoll = std::chrono::milliseconds(2);
// A lock file whose writer died before it wrote its process number into it
// names nobody, and QLockFile takes it over only once it is older than its
// stale time (30 s by default, beyond kLockWait): every later change would
// fail until then. Writers hold the lock for milliseconds, so a lock this old
// is stale whoever holds it.
constexpr int kStaleLockMs = 3000;

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

QString hive_file(int hive) {
    return QString::fromStdString(RegistryFolder()) + '/' + QLatin1String(kRootNames[hive]) + QLatin1String(".reg");
}

void report_bad_file(const QString& file, const ParseError& error) {
    static std::mutex mutex;
    static std::set<std::string> reported;
    const std::string message = "registry: " + file.toStdString() + " line " + std::to_string(error.line) + ": " +
                                error.message + "; the file is left as it is and will not be written to\n";
    std::lock_guard lock(mutex);
    if (reported.insert(message).second) std::fputs(message.c_str(), stderr);
}

// Reads and parses a hive; a missing file is an empty hive. `text` receives the
// file's bytes.
LONG load_hive(int hive, const QString& file, Hive& out, QByteArray& text) {
    text.clear();
    QFile in(file);
    if (!in.open(QIODevice::ReadOnly)) {
        if (!in.exists()) {
            out = Hive{};
            return ERROR_SUCCESS;
        }
        return ERROR_ACCESS_DENIED;
    }
    text = in.readAll();
    if (in.error() != QFileDevice::NoError) return ERROR_ACCESS_DENIED;
    ParseError error;
    if (!parse_hive(std::string_view(text.constData(), std::size_t(text.size())), kRootNames[hive], out, error)) {
        report_bad_file(file, error);
        return ERROR_BADDB;
    }
    return ERROR_SUCCESS;
}

LONG load_hive(int hive, Hive& out) {
    QByteArray text;
    return load_hive(hive, hive_file(hive), out, text);
}

LONG take_lock(QLockFile& lock) {
    const auto deadline = std::chrono::steady_clock::now() + kLockWait;
    for (;;) {
        if (lock.tryLock(0)) return ERROR_SUCCESS;
        if (lock.error() == QLockFile::PermissionError) return ERROR_ACCESS_DENIED;
        if (lock.error() != QLockFile::LockFailedError || std::chrono::steady_clock::now() >= deadline)
            return ERROR_CANTWRITE;
        std::this_thread::sleep_for(kLockPoll);
    }
}

// Applies `change` to the newest content of a hive under its lock and writes
// the result, unless `change` fails or leaves the text as it was.
template <typename Change>
LONG change_hive(int hive, Change&& change) {
    if (!QDir().mkpath(QString::fromStdString(RegistryFolder()))) return ERROR_CANTWRITE;
    const QString file = hive_file(hive);
    QLockFile lock(file + QLatin1String(".lock"));
    lock.setStaleLockTime(kStaleLockMs);
    LONG result = take_lock(lock);
    if (result != ERROR_SUCCESS) return result;

    Hive content;
    QByteArray old_text;
    result = load_hive(hive, file, content, old_text);
    if (result != ERROR_SUCCESS) return result;
    result = change(content);
    if (result != ERROR_SUCCESS) return result;

    const std::string text = write_hive(content, kRootNames[hive]);
    if (old_text.size() == qsizetype(text.size()) && std::memcmp(old_text.constData(), text.data(), text.size()) == 0)
        return ERROR_SUCCESS;
    QSaveFile out(file);
    if (!out.open(QIODevice::WriteOnly) || out.write(text.data(), qint64(text.size())) != qint64(text.size())) {
        out.cancelWriting();
        return ERROR_CANTWRITE;
    }
    return out.commit() ? ERROR_SUCCESS : ERROR_CANTWRITE;
}

// The key a handle stands for, which another process may have deleted since.
HiveKey* handle_key(Hive& hive, const Target& target) { return find_key(hive, target.path); }

// Runs an API body, turning an exhausted memory into its error code: no
// exception leaves these functions.
template <typename Body>
LONG guarded(Body&& body) noexcept {
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
    Hive hive;
    result = load_hive(base.hive, hive);
    if (result != ERROR_SUCCESS) return result;
    const HiveKey* key = handle_key(hive, base);
    if (!key) return ERROR_KEY_DELETED;
    return read(hive, base, *key);
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
        HiveKey* key = handle_key(hive, base);
        return key ? change(*key) : ERROR_KEY_DELETED;
    });
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
        Hive hive;
        result = load_hive(base.hive, hive);
        if (result != ERROR_SUCCESS) return result;
        if (!handle_key(hive, base)) return ERROR_KEY_DELETED;
        std::string spelled;
        DWORD disposition = REG_OPENED_EXISTING_KEY;
        if (const HiveKey* key = find_key(hive, path)) {
            spelled = key->path;
        } else {
            if (!(base.access & KEY_CREATE_SUB_KEY)) return ERROR_ACCESS_DENIED;
            result = change_hive(base.hive, [&](Hive& h) -> LONG {
                if (!handle_key(h, base)) return ERROR_KEY_DELETED;
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
        Hive hive;
        if (result == ERROR_SUCCESS) result = load_hive(base.hive, hive);
        if (result != ERROR_SUCCESS) return result;
        if (!handle_key(hive, base)) return ERROR_KEY_DELETED;
        const HiveKey* key = find_key(hive, path);
        if (!key) return ERROR_FILE_NOT_FOUND;
        *phkResult = new_handle(base.hive, key->path, samDesired);
        return ERROR_SUCCESS;
    });
}

LONG RegQueryValueEx(HKEY hKey, LPCTSTR lpValueName, DWORD* lpReserved, DWORD* lpType, BYTE* lpData, DWORD* lpcbData) {
    if (lpReserved || (lpData && !lpcbData)) return ERROR_INVALID_PARAMETER;
    return guarded([&]() -> LONG {
        return read_key(hKey, KEY_QUERY_VALUE, [&](const Hive&, const Target&, const HiveKey& key) -> LONG {
            const auto it = key.values.find(fold_name(lpValueName ? lpValueName : ""));
            if (it == key.values.end()) return ERROR_FILE_NOT_FOUND;

            std::string data = it->second.data;
            // A string read from a hand-made file may lack its NUL; callers count on one.
            if (it->second.type == REG_SZ && (data.empty() || data.back() != '\0')) data += '\0';
            if (lpType) *lpType = it->second.type;
            const auto size = DWORD(data.size());
            if (!lpData) {
                if (lpcbData) *lpcbData = size;
                return ERROR_SUCCESS;
            }
            if (*lpcbData < size) {
                *lpcbData = size;
                return ERROR_MORE_DATA;
            }
            std::memcpy(lpData, data.data(), size);
            *lpcbData = size;
            return ERROR_SUCCESS;
        });
    });
}

LONG RegSetValueEx(HKEY hKey, LPCTSTR lpValueName, DWORD, DWORD dwType, const BYTE* lpData, DWORD cbData) {
    if (!lpData && cbData) return ERROR_INVALID_PARAMETER;
    return guarded([&]() -> LONG {
        const std::string name = lpValueName ? lpValueName : "";
        if (!is_valid_name(name)) return ERROR_INVALID_PARAMETER;
        std::string data = lpData ? std::string(reinterpret_cast<const char*>(lpData), cbData) : std::string();
        if (dwType == REG_SZ) {
            data.resize(std::min(data.size(), data.find('\0')));
            data += '\0';
        }
        return change_key(hKey, [&](HiveKey& key) -> LONG {
            auto [it, added] = key.values.try_emplace(fold_name(name));
            if (added) it->second.name = name;  // an existing value keeps its spelling
            it->second.type = dwType;
            it->second.data = data;
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
            if (!handle_key(hive, base)) return ERROR_KEY_DELETED;
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
    default: return "unknown registry error";
    }
}

std::string RegistryFolder() {
    const QString dir = qEnvironmentVariable("ZIV_REGISTRY_DIR");
    if (!dir.isEmpty()) return dir.toStdString();
    QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (config.isEmpty() || QDir::isRelativePath(config)) config = QDir::homePath() + QLatin1String("/.config");
    return (config + QLatin1String("/ziv/registry")).toStdString();
}
