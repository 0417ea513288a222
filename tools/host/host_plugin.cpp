#include "host/host_plugin.h"

#include "framework/kv_error.h"
#include "shell/winamp.h"

THostPlugin::THostPlugin(const std::string& fileName, HWND playerWindow) : fileName_(fileName) {
    library_.Reset(LoadLibraryA(fileName.c_str()));
    if (library_.Get() == nullptr)
        throw EkvError(fileName + ": LoadLibrary failed with error " +
                       std::to_string(GetLastError()));
    auto* getHeader = reinterpret_cast<winampGetGeneralPurposePluginProc>(
        reinterpret_cast<void*>(GetProcAddress(library_.Get(), WinampPluginExportName)));
    if (getHeader == nullptr)
        throw EkvError(fileName + ": no export " + WinampPluginExportName);
    header_ = getHeader();
    if (header_ == nullptr)
        throw EkvError(fileName + ": the export returned no header");
    if (header_->version != GPPHDR_VER)
        throw EkvError(fileName + ": header version " + std::to_string(header_->version) +
                       ", expected " + std::to_string(GPPHDR_VER));
    if (header_->init == nullptr || header_->config == nullptr || header_->quit == nullptr)
        throw EkvError(fileName + ": the header lacks an entry point");
    header_->hwndParent = playerWindow;
    header_->hDllInstance = library_.Get();
    if (header_->description != nullptr)
        description_ = header_->description;
    const int result = header_->init();
    if (result != 0)
        throw EkvError(fileName + ": init returned " + std::to_string(result));
}

THostPlugin::~THostPlugin() {
    header_->quit();
    library_.Reset();
}

void THostPlugin::Config() {
    header_->config();
}

int THostPlugin::Uninstall(HWND parent) {
    auto* uninstall = reinterpret_cast<winampUninstallPluginProc>(
        reinterpret_cast<void*>(GetProcAddress(library_.Get(), WinampUninstallExportName)));
    return uninstall != nullptr ? uninstall(library_.Get(), parent, 0)
                                : GEN_PLUGIN_UNINSTALL_REBOOT;
}

std::vector<std::string> PluginsInFolder(const std::string& playerFolder) {
    const std::string plugins = playerFolder + "\\Plugins\\";
    std::vector<std::string> files;
    WIN32_FIND_DATAA found{};
    const HANDLE search = FindFirstFileA((plugins + "gen_*.dll").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return files;
    do
        files.push_back(plugins + found.cFileName);
    while (FindNextFileA(search, &found));
    FindClose(search);
    return files;
}
