// The Windows registry functions the control and the client use, over one text
// file per hive in the registry-export format ("Windows Registry Editor Version
// 5.00"): HKEY_CLASSES_ROOT.reg and HKEY_CURRENT_USER.reg in RegistryFolder().
//
// Nothing is cached: every call reads the file, and every change takes the
// hive's lock, re-reads, applies and replaces the file atomically, so several
// processes may share one folder and see each other's writes at once. A batch
// (RegBeginBatch) makes many changes one.
// A handle is only a hive and a key path. Key and value names compare without
// regard to case and keep the case they were created with; a null or empty
// value name is the key's default value. Strings are UTF-8.
//
// A hive file that cannot be parsed is never overwritten: reads and writes on
// it fail with ERROR_BADDB, and the file and line are reported once on stderr.
#pragma once

#include <cstdint>
#include <string>

#include "wintypes.h"

struct HKEY__;
using HKEY = HKEY__*;
using PHKEY = HKEY*;
using REGSAM = DWORD;

// The predefined root keys; they need no opening and closing them does nothing.
#define HKEY_CLASSES_ROOT (reinterpret_cast<HKEY>(std::uintptr_t{0x80000000u}))
#define HKEY_CURRENT_USER (reinterpret_cast<HKEY>(std::uintptr_t{0x80000001u}))

// Access rights of a handle: reading needs KEY_QUERY_VALUE, setting and deleting
// values KEY_SET_VALUE, creating a subkey KEY_CREATE_SUB_KEY, RegDeleteTree
// the delete right that KEY_ALL_ACCESS includes.
enum : REGSAM {
    KEY_QUERY_VALUE = 0x0001,
    KEY_SET_VALUE = 0x0002,
    KEY_CREATE_SUB_KEY = 0x0004,
    KEY_ENUMERATE_SUB_KEYS = 0x0008,
    KEY_NOTIFY = 0x0010,
    KEY_CREATE_LINK = 0x0020,
    KEY_READ = 0x20019,
    KEY_WRITE = 0x20006,
    KEY_ALL_ACCESS = 0xF003F,
};

enum : DWORD {
    REG_OPTION_NON_VOLATILE = 0,
    REG_CREATED_NEW_KEY = 1,
    REG_OPENED_EXISTING_KEY = 2,
};

// Value types. Any other number is stored and returned unchanged.
enum : DWORD {
    REG_NONE = 0,
    REG_SZ = 1,
    REG_BINARY = 3,
    REG_DWORD = 4,
};

enum : LONG {
    ERROR_SUCCESS = 0,
    ERROR_FILE_NOT_FOUND = 2,
    ERROR_ACCESS_DENIED = 5,
    ERROR_INVALID_HANDLE = 6,
    ERROR_OUTOFMEMORY = 14,
    ERROR_INVALID_PARAMETER = 87,
    ERROR_MORE_DATA = 234,
    ERROR_NO_MORE_ITEMS = 259,
    ERROR_BADDB = 1009,
    ERROR_CANTWRITE = 1013,
    ERROR_KEY_DELETED = 1018,  // the handle's key was deleted since it was opened
    ERROR_UNSUPPORTED_TYPE = 1630,
};

// The value types RegGetValue accepts, or-ed together.
enum : DWORD {
    RRF_RT_REG_NONE = 0x0001,
    RRF_RT_REG_SZ = 0x0002,
    RRF_RT_REG_BINARY = 0x0008,
    RRF_RT_REG_DWORD = 0x0010,
    RRF_RT_ANY = 0xFFFF,
};

// Opens subKey below hKey, creating it and any missing keys on the way.
// An empty subKey gives a new handle to hKey's own key.
LONG RegCreateKeyEx(HKEY hKey, LPCTSTR lpSubKey, DWORD Reserved, LPSTR lpClass, DWORD dwOptions, REGSAM samDesired,
                    void* lpSecurityAttributes, PHKEY phkResult, DWORD* lpdwDisposition);
// Opens an existing key; a null or empty subKey gives a new handle to hKey's own key.
LONG RegOpenKeyEx(HKEY hKey, LPCTSTR lpSubKey, DWORD ulOptions, REGSAM samDesired, PHKEY phkResult);
// With lpData null only the size is returned; when *lpcbData is too small the
// result is ERROR_MORE_DATA with the size needed. REG_SZ sizes count the final NUL.
LONG RegQueryValueEx(HKEY hKey, LPCTSTR lpValueName, DWORD* lpReserved, DWORD* lpType, BYTE* lpData, DWORD* lpcbData);
// A REG_SZ value is stored up to its first NUL and always gets one.
LONG RegSetValueEx(HKEY hKey, LPCTSTR lpValueName, DWORD Reserved, DWORD dwType, const BYTE* lpData, DWORD cbData);
LONG RegDeleteValue(HKEY hKey, LPCTSTR lpValueName);
// One value of subKey below hkey (a null or empty subKey: hkey's own key) in
// one read, without opening and closing the key by hand. dwFlags: the RRF_RT_
// types accepted; a value of another type gives ERROR_UNSUPPORTED_TYPE (with
// *pdwType set). Sizes and ERROR_MORE_DATA as with RegQueryValueEx.
LONG RegGetValue(HKEY hkey, LPCTSTR lpSubKey, LPCTSTR lpValue, DWORD dwFlags, DWORD* pdwType, void* pvData,
                 DWORD* pcbData);
// Sets one value of subKey below hKey (a null or empty subKey: hKey's own
// key), creating the subkey with any missing keys on the way; key and value
// are written in one change.
LONG RegSetKeyValue(HKEY hKey, LPCTSTR lpSubKey, LPCTSTR lpValueName, DWORD dwType, const void* lpData, DWORD cbData);
// Deletes subKey with everything below it; a null or empty subKey deletes
// everything below hKey but keeps hKey's key itself.
LONG RegDeleteTree(HKEY hKey, LPCTSTR lpSubKey);
// The name of subkey number dwIndex of hKey (0, 1, ... in the order of their
// names without regard to case; ERROR_NO_MORE_ITEMS past the last). Needs
// KEY_ENUMERATE_SUB_KEYS. *lpcchName: in, the buffer's size in characters;
// out, the name's length without its NUL (ERROR_MORE_DATA when it does not
// fit). Keys have no class and no write time here: lpClass and lpftLastWriteTime
// are left alone.
LONG RegEnumKeyEx(HKEY hKey, DWORD dwIndex, LPSTR lpName, DWORD* lpcchName, DWORD* lpReserved, LPSTR lpClass,
                  DWORD* lpcchClass, void* lpftLastWriteTime);
LONG RegCloseKey(HKEY hKey);

// Makes the calling thread's changes to one hive (HKEY_CLASSES_ROOT or
// HKEY_CURRENT_USER) one step: takes the hive's lock and keeps it until the
// matching RegEndBatch, reads the hive once, and keeps every change of this
// thread to it in memory (its reads see them); RegEndBatch(TRUE) writes them
// in one replacement of the file, RegEndBatch(FALSE) drops them. Others see
// the old hive or the new one, never a part, and their changes wait. Batches
// of one hive nest: only the outermost end writes.
LONG RegBeginBatch(HKEY hKey);
LONG RegEndBatch(BOOL bCommit);

// A short description of a result code, for messages.
const char* RegErrorText(LONG code);
// Why the calling thread's last failed registry call failed when a file was
// the reason, naming it ("registry: /.../HKEY_CLASSES_ROOT.reg: Is a
// directory"); empty when the call failed for another reason (a missing key, a
// refused handle) or succeeded.
std::string RegLastErrorText();
// The folder that holds the hive files: $ZIV_REGISTRY_DIR if set, else
// $XDG_CONFIG_HOME/ziv/registry, else ~/.config/ziv/registry; empty when HOME
// is needed and not set (the calls fail then). It is created on the first write.
std::string RegistryFolder();
// The machine's registry folder: $ZIV_MACHINE_REGISTRY_DIR, else the one the
// build names (/var/lib/ziv/registry). Its HKEY_CLASSES_ROOT.reg holds the
// classes every user sees beneath their own: HKEY_CLASSES_ROOT reads the two
// merged (the user's values win) and changes only the user's file.
std::string MachineRegistryFolder();
// With TRUE, HKEY_CLASSES_ROOT of this process is the machine's classes alone,
// for reading and changing (registering a module for every user); FALSE
// restores the merged view. Set it before any handle below it is opened.
void RegUseMachineClasses(BOOL bMachine);
