// Loading the effect module the way a host does: only through its two exported entry points.
#pragma once

#include <memory>
#include <string>

#include "sdk/effect_sdk.h"
#include "session/registration_resource.h"

using EffectMainFunction = PF_Err (*)(PF_Cmd cmd, PF_InData* in_data, PF_OutData* out_data,
                                      PF_ParamDef* params[], PF_LayerDef* output, void* extra);
using PluginDataEntryFunction = PF_Err (*)(void* inPtr, PF_PluginDataCB2 inPluginDataCallBackPtr,
                                           SPBasicSuite* inSPBasicSuitePtr, const char* inHostName,
                                           const char* inHostVersion);

// What the module announced through its registration call.
struct EffectRegistration {
  std::string name;
  std::string matchName;
  std::string category;
  std::string entryPointName;
  std::string supportUrl;
  A_long kind = 0;
  A_long apiVersionMajor = 0;
  A_long apiVersionMinor = 0;
  A_long reservedInfo = 0;
};

struct ModuleCloser {
  void operator()(void* handle) const;
};

// Copies share the loaded module, which stays loaded while any of them lives.
struct EffectModule {
  std::string path;
  std::shared_ptr<void> handle;
  RegistrationResource resource;
  EffectRegistration registration;
  EffectMainFunction effectMain = nullptr;
};

// Reads the module's registration resource, opens the module, runs its registration call, checks
// that the two registrations agree and finds the entry point they name.
// Throws RunError naming the module and what is wrong with it.
EffectModule loadEffectModule(const std::string& path, SPBasicSuite* basicSuite);

// The module to load when none is given: the installed copy in the private module folder, found
// from the program's own folder, else the one built with it (builtPath). When neither exists, the
// installed path, so that the error names where the package puts the module.
std::string defaultModulePath(const std::string& builtPath);

// The module for a plug-in that hosts the effect inside another program: the one VORTELLINE_MODULE
// names (builds in place), else the installed copy in moduleDirFromPlugin, relative to the plug-in's
// own file (found from any address inside it), else the one built with it (builtPath).
std::string pluginModulePath(const void* addressInPlugin, const std::string& moduleDirFromPlugin,
                             const std::string& builtPath);
