#include "shell/plugin_entry.h"

namespace {
HINSTANCE g_pluginModule = nullptr;
}

void SetPluginModule(HINSTANCE module) { g_pluginModule = module; }
HINSTANCE PluginModule() { return g_pluginModule; }
