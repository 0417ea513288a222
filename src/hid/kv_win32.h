#pragma once
// Small operating-system operations of the HID access code: overlapped device I/O, registry
// paths and values, and loading system libraries.
#include <windows.h>

#include <cstddef>
#include <string>

#include "hid/kv_multi_string.h"

// The overlapped operations clear only the first 16 bytes of `overlapped`, so the caller's event
// stays in place. The record and the buffer must stay valid until the operation has completed.
bool ReadOverlapped(HANDLE handle, void* buffer, DWORD count, OVERLAPPED& overlapped);
bool WriteOverlapped(HANDLE handle, const void* buffer, DWORD count, OVERLAPPED& overlapped);
// True when the write completed at once or is queued; does not wait.
bool WriteOverlappedNoWait(HANDLE handle, const void* buffer, DWORD count, OVERLAPPED& overlapped);
// Waits without time limit for the operation the last error reports as pending.
bool WaitOverlapped(HANDLE handle, OVERLAPPED& overlapped, DWORD& transferred, DWORD& error);

// Asks the system to end the pending operation of `overlapped` (all of the handle's when null),
// whichever thread issued it; the waiter's GetOverlappedResult then returns. False when that
// cannot be done (Windows XP lacks CancelIoEx): the caller must close the handle instead.
bool CancelPendingIo(HANDLE handle, OVERLAPPED* overlapped);

// Entry points that older systems lack, resolved once from modules every process has loaded.
struct TkvSystemEntryPoints {
    BOOL(WINAPI* CancelIoEx)(HANDLE, LPOVERLAPPED) = nullptr;
    // Only its presence counts: it tells that LoadLibraryEx knows LOAD_LIBRARY_SEARCH_SYSTEM32.
    FARPROC AddDllDirectory = nullptr;
    LONG(NTAPI* ZwQueryKey)(HANDLE, int, PVOID, ULONG, PULONG) = nullptr;
};
const TkvSystemEntryPoints& SystemEntryPoints();

// UTF-16 text in the ANSI code page, as every text of the plug-in is kept.
std::string kvToAnsi(const wchar_t* text, std::size_t length);

// The system's message text for an error code, without its line break; empty when unknown.
std::string SystemErrorText(DWORD code);

// The key's path as the registry names it. With `root`, a path below HKEY_LOCAL_MACHINE or a
// user's hive is made relative and `root` receives that hive (0 for any other key).
std::string GetKeyPath(HKEY key, HKEY* root = nullptr);
// A value as text (the empty text on any failure); a REG_SZ loses its terminating NUL.
std::string ReadRegistryString(HKEY root, const std::string& subkey, const std::string& name);

// Loads a library from the system directory only, never from the application's or the current
// folder. Null when that fails.
HMODULE LoadSystemLibrary(const char* name);

// How the HID, SetupAPI and configuration-manager bindings load their libraries; tests replace
// it to stand in variants or absent libraries. Returns the previous loader.
using TkvLibraryLoader = HMODULE (*)(const char* name);
TkvLibraryLoader SetLibraryLoader(TkvLibraryLoader loader);
HMODULE LoadBindingLibrary(const char* name);
