#include "session/effect_module.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "session/program_errors.h"

namespace {

constexpr const char* moduleFileName = "Vortelline.so";
constexpr const char* hostName = "vortelline";
constexpr const char* hostVersion = "1.0";

std::string textOrEmpty(const A_u_char* text) {
  return text ? std::string(reinterpret_cast<const char*>(text)) : std::string();
}

PF_Err recordRegistration(void* inPtr, const A_u_char* inNodeName, const A_u_char* inMatchName,
                          const A_u_char* inCategoryName, const A_u_char* inEntryPointName, A_long inkind,
                          A_long inApiVersionMajor, A_long inApiVersionMinor, A_long inReservedInfo,
                          const A_u_char* inSupportURL) {
  auto& registration = *static_cast<EffectRegistration*>(inPtr);
  registration.name = textOrEmpty(inNodeName);
  registration.matchName = textOrEmpty(inMatchName);
  registration.category = textOrEmpty(inCategoryName);
  registration.entryPointName = textOrEmpty(inEntryPointName);
  registration.kind = inkind;
  registration.apiVersionMajor = inApiVersionMajor;
  registration.apiVersionMinor = inApiVersionMinor;
  registration.reservedInfo = inReservedInfo;
  registration.supportUrl = textOrEmpty(inSupportURL);
  return PF_Err_NONE;
}

}  // namespace

void ModuleCloser::operator()(void* handle) const {
  if (handle) {
    dlclose(handle);
  }
}

EffectModule loadEffectModule(const std::string& path, SPBasicSuite* basicSuite) {
  EffectModule module;
  module.path = path;
  std::optional<std::vector<uint8_t>> resource = readElfSection(path, ".pipl");
  if (!resource) {
    throw RunError("the module " + path + " has no registration resource (no .pipl section)");
  }
  try {
    module.resource = parseRegistrationResource(*resource);
  } catch (const RunError& error) {
    throw RunError("the module " + path + " has a damaged registration resource: " + error.what());
  }
  if (module.resource.kind != static_cast<uint32_t>(PF_Kind_EFFECT)) {
    throw RunError("the module " + path + " is not an effect");
  }
  // RTLD_LOCAL: the module's symbols must not leak into or clash with anything else loaded.
  module.handle.reset(dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL), ModuleCloser{});
  if (!module.handle) {
    const char* reason = dlerror();
    throw RunError("cannot load the effect module " + path + ": " + (reason ? reason : "unknown error"));
  }
  auto entry = reinterpret_cast<PluginDataEntryFunction>(dlsym(module.handle.get(), "PluginDataEntryFunction2"));
  if (!entry) {
    throw RunError("the effect module " + path + " does not export PluginDataEntryFunction2");
  }
  PF_Err err = entry(&module.registration, recordRegistration, basicSuite, hostName, hostVersion);
  if (err != PF_Err_NONE) {
    throw RunError("the effect module " + path + " failed to register (error " + std::to_string(err) + ")");
  }
  const EffectRegistration& registration = module.registration;
  const RegistrationResource& declared = module.resource;
  if (registration.kind != PF_Kind_EFFECT || registration.name != declared.name ||
      registration.matchName != declared.matchName || registration.category != declared.category ||
      registration.entryPointName != declared.entryPointName) {
    throw RunError("the effect module " + path + " registers itself as \"" + registration.name + "\" (\"" +
                   registration.matchName + "\", entry " + registration.entryPointName +
                   ") but its registration resource says \"" + declared.name + "\" (\"" + declared.matchName +
                   "\", entry " + declared.entryPointName + ")");
  }
  if (registration.entryPointName.empty()) {
    throw RunError("the effect module " + path + " registered no entry point");
  }
  const std::string& entryName = module.registration.entryPointName;
  module.effectMain = reinterpret_cast<EffectMainFunction>(dlsym(module.handle.get(), entryName.c_str()));
  if (!module.effectMain) {
    throw RunError("the effect module " + path + " does not export its entry point " + entryName);
  }
  return module;
}

std::string defaultModulePath(const std::string& builtPath) {
  std::error_code error;
  std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) {
    return builtPath;
  }
  // Relative to the program, so that an installed tree works wherever its prefix is.
  std::filesystem::path installed =
      (program.parent_path() / VORTELLINE_MODULE_DIR_FROM_PROGRAM / moduleFileName).lexically_normal();
  if (std::filesystem::exists(installed, error) || !std::filesystem::exists(builtPath, error)) {
    return installed.string();
  }
  return builtPath;
}

std::string pluginModulePath(const void* addressInPlugin, const std::string& moduleDirFromPlugin,
                             const std::string& builtPath) {
  if (const char* path = std::getenv("VORTELLINE_MODULE"); path && *path) {
    return path;
  }
  Dl_info self{};
  if (dladdr(addressInPlugin, &self) && self.dli_fname) {
    std::filesystem::path installed =
        (std::filesystem::path(self.dli_fname).parent_path() / moduleDirFromPlugin / moduleFileName).lexically_normal();
    std::error_code missing;
    if (std::filesystem::exists(installed, missing)) {
      return installed.string();
    }
  }
  return builtPath;
}
