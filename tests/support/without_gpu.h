// A machine without a GPU, for the tests of what the effect does then, whatever GPU this machine
// has and whatever VORTELLINE_GPU_ALLOW_SOFTWARE says in the environment.
#pragma once

#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "gpu/gpu_context.h"

// While it lives, the Vulkan loader finds no driver at all (the loader reads these variables at
// every instance creation) and software devices are not candidates; the shared context is dropped
// on the way in and out, so neither a context made before nor the failed one outlives the scope.
class WithoutGpu {
 public:
  WithoutGpu() {
    for (Variable& variable : variables_) {
      if (const char* value = std::getenv(variable.name)) {
        variable.saved = value;
      }
      if (variable.hiddenValue) {
        setenv(variable.name, variable.hiddenValue, 1);
      } else {
        unsetenv(variable.name);
      }
    }
    releaseSharedGpuContext();
  }
  ~WithoutGpu() {
    releaseSharedGpuContext();
    for (const Variable& variable : variables_) {
      if (variable.saved) {
        setenv(variable.name, variable.saved->c_str(), 1);
      } else {
        unsetenv(variable.name);
      }
    }
  }
  WithoutGpu(const WithoutGpu&) = delete;
  WithoutGpu& operator=(const WithoutGpu&) = delete;

 private:
  struct Variable {
    const char* name;
    const char* hiddenValue;  // nullptr: unset
    std::optional<std::string> saved;
  };
  // The driver lists name a file that does not exist; VK_DRIVER_FILES is the newer name, and an
  // added driver would come back through VK_ADD_DRIVER_FILES.
  std::vector<Variable> variables_{{"VK_DRIVER_FILES", "/nonexistent/vortelline-no-driver.json", {}},
                                   {"VK_ICD_FILENAMES", "/nonexistent/vortelline-no-driver.json", {}},
                                   {"VK_ADD_DRIVER_FILES", nullptr, {}},
                                   {"VORTELLINE_GPU_ALLOW_SOFTWARE", nullptr, {}}};
};
