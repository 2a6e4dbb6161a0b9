#include "gpu/gpu_context.h"

#include <volk.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "cpu/noise_hash_table.h"
#include "cpu/parallel_rows.h"
#include "gpu/flame_kernel_spirv.h"
#include "gpu/gpu_operations.h"
#include "gpu/vulkan_memory.h"

namespace {

// The kernel's thread group: 16 x 8 pixels, partial groups at the right and bottom included.
constexpr uint32_t kGroupWidth = 16;
constexpr uint32_t kGroupHeight = 8;
// A frame goes to the GPU as one submission per tile of at most 8,192 pixels: at most 1024 pixels
// across, and as many rows of groups as fill the rest. Work once submitted cannot be called back, so a stop request waits for
// the two tiles in flight, never for a whole frame: about 0.2 s for a full-HD "Balanced (128)"
// frame on lavapipe. Two in flight keep the device busy while the next tile is recorded.
constexpr uint32_t kTilePixels = 8192;
constexpr uint32_t kTileColumns = 64 * kGroupWidth;
static_assert(kTilePixels == kTileColumns * kGroupHeight, "the widest tile is one row of groups");
constexpr size_t kSubmissionsInFlight = 2;
constexpr auto kLockPollInterval = std::chrono::milliseconds(2);
constexpr auto kCompletionPollInterval = std::chrono::milliseconds(1);
constexpr uint64_t kCompletionPollNanoseconds = 1000000;

// Bindings of the kernel's descriptor set (b0, t0, t1 and u0 in the kernel's own terms).
enum : uint32_t { kConstantsBinding = 0, kHashBinding = 1, kMatteBinding = 2, kOutputBinding = 3 };

constexpr VkFormat kMatteFormat = VK_FORMAT_R32G32_SFLOAT;
constexpr VkFormat kOutputFormat = VK_FORMAT_R32G32B32A32_SFLOAT;
constexpr VkDeviceSize kOutputPixelBytes = 16;
constexpr VkDeviceSize kMatteCellBytes = sizeof(MatteCell);

// One submission of a tile: its command buffer and the fence it signals.
struct TileSubmission {
  VkCommandBuffer commands = VK_NULL_HANDLE;
  VkFence fence = VK_NULL_HANDLE;
  // Submitted and not yet seen finished. A stopped frame leaves its tiles pending; whoever uses
  // the context next waits for them before reusing anything they read or write.
  bool pending = false;
};

}  // namespace

// Owner of every Vulkan object of the renderer. Members are released in reverse order of their
// declaration, which is their order of creation.
struct GpuContext {
  GpuContext() = default;
  GpuContext(const GpuContext&) = delete;
  GpuContext& operator=(const GpuContext&) = delete;
  ~GpuContext();

  // Serialises every use of the queue, the command buffer and the per-frame resources.
  std::mutex frameLock;

  // Device and its one queue: the immediate context's part.
  VkInstance instance = VK_NULL_HANDLE;
  VkPhysicalDevice adapter = VK_NULL_HANDLE;
  VkPhysicalDeviceMemoryProperties memoryTypes{};
  VkDeviceSize maxStorageBufferRange = 0;
  // The device has 64-bit floats, so the kernel takes the CPU renderer's exponential.
  bool cpuExponential = false;
  VkDevice device = VK_NULL_HANDLE;
  VkQueue queue = VK_NULL_HANDLE;
  VkCommandPool commandPool = VK_NULL_HANDLE;
  TileSubmission submissions[kSubmissionsInFlight];

  // The kernel.
  VkDescriptorSetLayout descriptorSetLayout = VK_NULL_HANDLE;
  VkPipelineLayout pipelineLayout = VK_NULL_HANDLE;
  VkShaderModule shader = VK_NULL_HANDLE;
  VkPipeline pipeline = VK_NULL_HANDLE;
  VkDescriptorPool descriptorPool = VK_NULL_HANDLE;
  VkDescriptorSet descriptorSet = VK_NULL_HANDLE;

  MappedBuffer constantBuffer;

  // Per-size and per-content resources; a size of 0 x 0 means "none, create on the next frame".
  DeviceImage outputTexture;
  MappedBuffer readbackBuffer;
  int32_t outputWidth = 0;
  int32_t outputHeight = 0;
  MappedBuffer hashBuffer;
  int4 cachedHashWindows[kHashOctaves] = {};
  DeviceImage matteTexture;
  MappedBuffer matteUpload;
  int32_t matteWidth = 0;
  int32_t matteHeight = 0;
};

GpuContext::~GpuContext() {
  if (device != VK_NULL_HANDLE) {
    vkDeviceWaitIdle(device);
    destroyMappedBuffer(device, matteUpload);
    destroyDeviceImage(device, matteTexture);
    destroyMappedBuffer(device, hashBuffer);
    destroyMappedBuffer(device, readbackBuffer);
    destroyDeviceImage(device, outputTexture);
    destroyMappedBuffer(device, constantBuffer);
    vkDestroyDescriptorPool(device, descriptorPool, nullptr);
    vkDestroyPipeline(device, pipeline, nullptr);
    vkDestroyShaderModule(device, shader, nullptr);
    vkDestroyPipelineLayout(device, pipelineLayout, nullptr);
    vkDestroyDescriptorSetLayout(device, descriptorSetLayout, nullptr);
    for (TileSubmission& submission : submissions) {
      vkDestroyFence(device, submission.fence, nullptr);
    }
    vkDestroyCommandPool(device, commandPool, nullptr);
    vkDestroyDevice(device, nullptr);
  }
  if (instance != VK_NULL_HANDLE) {
    vkDestroyInstance(instance, nullptr);
  }
}

namespace {

// The Vulkan loader is opened at run time, once per process: a machine without one has no GPU to
// offer, and the module still loads and renders on the CPU.
bool vulkanLoaderFound() {
  static const bool found = volkInitialize() == VK_SUCCESS;
  return found;
}

void createInstance(GpuContext& context) {
  if (!vulkanLoaderFound()) {
    throw std::runtime_error("No hardware GPU available");
  }
  VkApplicationInfo application{};
  application.sType = VK_STRUCTURE_TYPE_APPLICATION_INFO;
  application.pApplicationName = "Vortelline";
  application.apiVersion = VK_API_VERSION_1_1;
  VkInstanceCreateInfo info{};
  info.sType = VK_STRUCTURE_TYPE_INSTANCE_CREATE_INFO;
  info.pApplicationInfo = &application;
  const VkResult result = vkCreateInstance(&info, nullptr, &context.instance);
  // A system without any Vulkan driver has no GPU to offer, which is not a broken set-up.
  if (result == VK_ERROR_INCOMPATIBLE_DRIVER) {
    throw std::runtime_error("No hardware GPU available");
  }
  requireGpuSuccess(GpuOperation::createInstance, result == VK_SUCCESS);
  // Instance and device functions alike come through the loader's dispatching entry points. They
  // are the same for every instance, so a context still rendering on another thread while a new
  // one is set up keeps working.
  volkLoadInstance(context.instance);
}

uint32_t computeQueueFamily(VkPhysicalDevice adapter) {
  uint32_t count = 0;
  vkGetPhysicalDeviceQueueFamilyProperties(adapter, &count, nullptr);
  std::vector<VkQueueFamilyProperties> families(count);
  vkGetPhysicalDeviceQueueFamilyProperties(adapter, &count, families.data());
  for (uint32_t i = 0; i < count; ++i) {
    if ((families[i].queueFlags & VK_QUEUE_COMPUTE_BIT) != 0) {
      return i;
    }
  }
  return UINT32_MAX;
}

// Dedicated memory stands in for the adapter's dedicated video memory: the device-local heaps of
// a discrete GPU, 0 for every other kind, so that a discrete GPU wins over an integrated one and
// equal devices keep the first.
AdapterDescription describeAdapter(VkPhysicalDevice adapter) {
  VkPhysicalDeviceProperties properties;
  vkGetPhysicalDeviceProperties(adapter, &properties);
  VkPhysicalDeviceMemoryProperties memory;
  vkGetPhysicalDeviceMemoryProperties(adapter, &memory);
  AdapterDescription description{};
  description.software = properties.deviceType == VK_PHYSICAL_DEVICE_TYPE_CPU;
  description.computeQueue = computeQueueFamily(adapter) != UINT32_MAX;
  // The instance asks for 1.1, but a device may still offer only 1.0; such a device is passed
  // over, so that "Auto (GPU preferred)" renders on the CPU instead of failing on it.
  description.vulkanTooOld = properties.apiVersion < VK_API_VERSION_1_1;
  if (properties.deviceType == VK_PHYSICAL_DEVICE_TYPE_DISCRETE_GPU) {
    for (uint32_t i = 0; i < memory.memoryHeapCount; ++i) {
      if ((memory.memoryHeaps[i].flags & VK_MEMORY_HEAP_DEVICE_LOCAL_BIT) != 0) {
        description.dedicatedVideoMemory += memory.memoryHeaps[i].size;
      }
    }
  }
  requireGpuSuccess(GpuOperation::describeAdapter, true);
  return description;
}

void chooseAdapter(GpuContext& context) {
  uint32_t count = 0;
  VkResult result = vkEnumeratePhysicalDevices(context.instance, &count, nullptr);
  std::vector<VkPhysicalDevice> adapters(count);
  if (result == VK_SUCCESS) {
    result = vkEnumeratePhysicalDevices(context.instance, &count, adapters.data());
    adapters.resize(count);
  }
  // VK_INCOMPLETE: a device appeared between the two calls; the ones returned are enough.
  requireGpuSuccess(GpuOperation::enumerateAdapters, result == VK_SUCCESS || result == VK_INCOMPLETE);
  std::vector<AdapterDescription> descriptions;
  for (VkPhysicalDevice adapter : adapters) {
    descriptions.push_back(describeAdapter(adapter));
  }
  const int chosen = chooseAdapter(descriptions, softwareAdaptersAllowed());
  if (chosen < 0) {
    throw std::runtime_error("No hardware GPU available");
  }
  context.adapter = adapters[size_t(chosen)];
  vkGetPhysicalDeviceMemoryProperties(context.adapter, &context.memoryTypes);
  VkPhysicalDeviceProperties properties;
  vkGetPhysicalDeviceProperties(context.adapter, &properties);
  context.maxStorageBufferRange = properties.limits.maxStorageBufferRange;
  VkPhysicalDeviceFeatures features;
  vkGetPhysicalDeviceFeatures(context.adapter, &features);
  context.cpuExponential = features.shaderFloat64 == VK_TRUE;
}

void createDevice(GpuContext& context) {
  const uint32_t family = computeQueueFamily(context.adapter);
  const float priority = 1.0f;
  VkDeviceQueueCreateInfo queueInfo{};
  queueInfo.sType = VK_STRUCTURE_TYPE_DEVICE_QUEUE_CREATE_INFO;
  queueInfo.queueFamilyIndex = family;
  queueInfo.queueCount = 1;
  queueInfo.pQueuePriorities = &priority;
  VkDeviceCreateInfo info{};
  info.sType = VK_STRUCTURE_TYPE_DEVICE_CREATE_INFO;
  info.queueCreateInfoCount = 1;
  info.pQueueCreateInfos = &queueInfo;
  VkPhysicalDeviceFeatures features{};
  features.shaderFloat64 = context.cpuExponential ? VK_TRUE : VK_FALSE;
  info.pEnabledFeatures = &features;
  bool created = vkCreateDevice(context.adapter, &info, nullptr, &context.device) == VK_SUCCESS;
  if (created) {
    vkGetDeviceQueue(context.device, family, 0, &context.queue);
    VkCommandPoolCreateInfo poolInfo{};
    poolInfo.sType = VK_STRUCTURE_TYPE_COMMAND_POOL_CREATE_INFO;
    poolInfo.flags = VK_COMMAND_POOL_CREATE_RESET_COMMAND_BUFFER_BIT;
    poolInfo.queueFamilyIndex = family;
    created = vkCreateCommandPool(context.device, &poolInfo, nullptr, &context.commandPool) == VK_SUCCESS;
  }
  for (TileSubmission& submission : context.submissions) {
    if (created) {
      VkCommandBufferAllocateInfo bufferInfo{};
      bufferInfo.sType = VK_STRUCTURE_TYPE_COMMAND_BUFFER_ALLOCATE_INFO;
      bufferInfo.commandPool = context.commandPool;
      bufferInfo.level = VK_COMMAND_BUFFER_LEVEL_PRIMARY;
      bufferInfo.commandBufferCount = 1;
      created = vkAllocateCommandBuffers(context.device, &bufferInfo, &submission.commands) == VK_SUCCESS;
    }
    if (created) {
      VkFenceCreateInfo fenceInfo{};
      fenceInfo.sType = VK_STRUCTURE_TYPE_FENCE_CREATE_INFO;
      created = vkCreateFence(context.device, &fenceInfo, nullptr, &submission.fence) == VK_SUCCESS;
    }
  }
  requireGpuSuccess(GpuOperation::createDevice, created);
}

void createShader(GpuContext& context) {
  const VkDescriptorType types[] = {VK_DESCRIPTOR_TYPE_UNIFORM_BUFFER, VK_DESCRIPTOR_TYPE_STORAGE_BUFFER,
                                    VK_DESCRIPTOR_TYPE_SAMPLED_IMAGE, VK_DESCRIPTOR_TYPE_STORAGE_IMAGE};
  VkDescriptorSetLayoutBinding bindings[4] = {};
  VkDescriptorPoolSize poolSizes[4] = {};
  for (uint32_t i = 0; i < 4; ++i) {
    bindings[i].binding = i;
    bindings[i].descriptorType = types[i];
    bindings[i].descriptorCount = 1;
    bindings[i].stageFlags = VK_SHADER_STAGE_COMPUTE_BIT;
    poolSizes[i] = {types[i], 1};
  }
  VkDescriptorSetLayoutCreateInfo layoutInfo{};
  layoutInfo.sType = VK_STRUCTURE_TYPE_DESCRIPTOR_SET_LAYOUT_CREATE_INFO;
  layoutInfo.bindingCount = 4;
  layoutInfo.pBindings = bindings;
  bool created = vkCreateDescriptorSetLayout(context.device, &layoutInfo, nullptr,
                                             &context.descriptorSetLayout) == VK_SUCCESS;
  if (created) {
    VkPipelineLayoutCreateInfo info{};
    info.sType = VK_STRUCTURE_TYPE_PIPELINE_LAYOUT_CREATE_INFO;
    info.setLayoutCount = 1;
    info.pSetLayouts = &context.descriptorSetLayout;
    created = vkCreatePipelineLayout(context.device, &info, nullptr, &context.pipelineLayout) == VK_SUCCESS;
  }
  if (created) {
    VkShaderModuleCreateInfo info{};
    info.sType = VK_STRUCTURE_TYPE_SHADER_MODULE_CREATE_INFO;
    info.codeSize = (context.cpuExponential ? flameKernelDoubleExpSpirvWords : flameKernelSpirvWords) *
                    sizeof(uint32_t);
    info.pCode = context.cpuExponential ? flameKernelDoubleExpSpirv : flameKernelSpirv;
    created = vkCreateShaderModule(context.device, &info, nullptr, &context.shader) == VK_SUCCESS;
  }
  if (created) {
    VkComputePipelineCreateInfo info{};
    info.sType = VK_STRUCTURE_TYPE_COMPUTE_PIPELINE_CREATE_INFO;
    // Tiles are dispatched with a base group, which the kernel sees in its dispatch thread id.
    info.flags = VK_PIPELINE_CREATE_DISPATCH_BASE_BIT;
    info.stage.sType = VK_STRUCTURE_TYPE_PIPELINE_SHADER_STAGE_CREATE_INFO;
    info.stage.stage = VK_SHADER_STAGE_COMPUTE_BIT;
    info.stage.module = context.shader;
    info.stage.pName = "main";
    info.layout = context.pipelineLayout;
    created = vkCreateComputePipelines(context.device, VK_NULL_HANDLE, 1, &info, nullptr,
                                       &context.pipeline) == VK_SUCCESS;
  }
  if (created) {
    VkDescriptorPoolCreateInfo info{};
    info.sType = VK_STRUCTURE_TYPE_DESCRIPTOR_POOL_CREATE_INFO;
    info.maxSets = 1;
    info.poolSizeCount = 4;
    info.pPoolSizes = poolSizes;
    created = vkCreateDescriptorPool(context.device, &info, nullptr, &context.descriptorPool) == VK_SUCCESS;
  }
  if (created) {
    VkDescriptorSetAllocateInfo info{};
    info.sType = VK_STRUCTURE_TYPE_DESCRIPTOR_SET_ALLOCATE_INFO;
    info.descriptorPool = context.descriptorPool;
    info.descriptorSetCount = 1;
    info.pSetLayouts = &context.descriptorSetLayout;
    created = vkAllocateDescriptorSets(context.device, &info, &context.descriptorSet) == VK_SUCCESS;
  }
  requireGpuSuccess(GpuOperation::createShader, created);
}

void createConstantBuffer(GpuContext& context) {
  requireGpuSuccess(GpuOperation::createConstantBuffer,
                    createMappedBuffer(context.device, context.memoryTypes, sizeof(FlameSettings),
                                       VK_BUFFER_USAGE_UNIFORM_BUFFER_BIT, 0, context.constantBuffer));
}

// The set-up steps in order; whatever a failed step leaves behind is released with the context.
void setUp(GpuContext& context) {
  createInstance(context);
  chooseAdapter(context);
  createDevice(context);
  createShader(context);
  createConstantBuffer(context);
}

struct SharedGpuContextSlot {
  std::mutex creationLock;
  std::shared_ptr<GpuContext> context;
};

SharedGpuContextSlot& sharedGpuContext() {
  static SharedGpuContextSlot slot;
  return slot;
}

}  // namespace

std::shared_ptr<GpuContext> acquireSharedGpuContext() {
  SharedGpuContextSlot& slot = sharedGpuContext();
  std::lock_guard<std::mutex> lock(slot.creationLock);
  if (!slot.context) {
    auto context = std::make_shared<GpuContext>();
    setUp(*context);
    slot.context = std::move(context);
  }
  return slot.context;
}

void releaseSharedGpuContext() {
  SharedGpuContextSlot& slot = sharedGpuContext();
  std::lock_guard<std::mutex> lock(slot.creationLock);
  slot.context.reset();
}

namespace {

// Waits up to a millisecond for the submission; true once it has finished.
bool submissionFinished(GpuContext& context, TileSubmission& submission) {
  if (gpuCompletionHeld()) {
    std::this_thread::sleep_for(kCompletionPollInterval);
    return false;
  }
  const VkResult status = vkWaitForFences(context.device, 1, &submission.fence, VK_TRUE, kCompletionPollNanoseconds);
  requireGpuSuccess(GpuOperation::readBack, status == VK_SUCCESS || status == VK_TIMEOUT);
  submission.pending = status != VK_SUCCESS;
  return !submission.pending;
}

// Waits for the submission, asking the abort check after every millisecond without it. False:
// stop asked, and the submission stays pending for the next wait.
bool awaitSubmission(GpuContext& context, TileSubmission& submission, AbortCheckFunction abortCheck,
                     void* abortContext) {
  while (submission.pending && !submissionFinished(context, submission)) {
    if (stopRequested(abortCheck, abortContext)) {
      return false;
    }
  }
  return true;
}

bool awaitAllSubmissions(GpuContext& context, AbortCheckFunction abortCheck, void* abortContext) {
  for (TileSubmission& submission : context.submissions) {
    if (!awaitSubmission(context, submission, abortCheck, abortContext)) {
      return false;
    }
  }
  return true;
}

void prepareHashTable(GpuContext& context, FlameSettings& settings) {
  assignHashWindows(settings);
  if (context.hashBuffer.buffer != VK_NULL_HANDLE &&
      std::memcmp(context.cachedHashWindows, settings.hashWindows, sizeof settings.hashWindows) == 0) {
    return;
  }
  std::vector<float> values = hashTableValues(settings.hashWindows);
  const VkDeviceSize bytes = values.size() * sizeof(float);
  MappedBuffer buffer;
  try {
    requireGpuSuccess(GpuOperation::createHashBuffer,
                      createMappedBuffer(context.device, context.memoryTypes, bytes,
                                         VK_BUFFER_USAGE_STORAGE_BUFFER_BIT,
                                         VK_MEMORY_PROPERTY_DEVICE_LOCAL_BIT, buffer));
    // The kernel sees the table through one descriptor over the whole buffer, which the device
    // must be able to address.
    requireGpuSuccess(GpuOperation::createHashView, bytes <= context.maxStorageBufferRange);
  } catch (...) {
    destroyMappedBuffer(context.device, buffer);
    throw;
  }
  std::memcpy(buffer.data, values.data(), bytes);
  destroyMappedBuffer(context.device, context.hashBuffer);
  context.hashBuffer = buffer;
  std::memcpy(context.cachedHashWindows, settings.hashWindows, sizeof settings.hashWindows);
}

// Returns whether matte texels wait in the upload buffer for this frame's copy. A frame without
// a matte keeps the texture of an earlier one; before the first matte, a single clear cell stands
// in, because Vulkan wants a valid texture in the binding even where the kernel never reads it.
bool uploadMatte(GpuContext& context, const EmitterMatte& frameMatte) {
  static const EmitterMatte clearCell{1, 1, {MatteCell{0.0f, 0.0f}}};
  if (frameMatte.width == 0 && context.matteTexture.view != VK_NULL_HANDLE) {
    return false;
  }
  const EmitterMatte& matte = frameMatte.width == 0 ? clearCell : frameMatte;
  if (matte.width != context.matteWidth || matte.height != context.matteHeight) {
    context.matteWidth = 0;
    context.matteHeight = 0;
    destroyMappedBuffer(context.device, context.matteUpload);
    destroyDeviceImage(context.device, context.matteTexture);
    const VkDeviceSize bytes = VkDeviceSize(matte.width) * VkDeviceSize(matte.height) * kMatteCellBytes;
    requireGpuSuccess(GpuOperation::createMatteTexture,
                      createDeviceImage(context.device, context.memoryTypes, kMatteFormat,
                                        uint32_t(matte.width), uint32_t(matte.height),
                                        VK_IMAGE_USAGE_SAMPLED_BIT | VK_IMAGE_USAGE_TRANSFER_DST_BIT,
                                        context.matteTexture) &&
                          createMappedBuffer(context.device, context.memoryTypes, bytes,
                                             VK_BUFFER_USAGE_TRANSFER_SRC_BIT, 0, context.matteUpload));
    requireGpuSuccess(GpuOperation::createMatteView,
                      createImageView(context.device, kMatteFormat, context.matteTexture));
    context.matteWidth = matte.width;
    context.matteHeight = matte.height;
  }
  // A cell is (value, age), the texel's two channels in that order.
  std::memcpy(context.matteUpload.data, matte.cells.data(), matte.cells.size() * sizeof(MatteCell));
  return true;
}

void prepareOutput(GpuContext& context, int32_t width, int32_t height) {
  if (width == context.outputWidth && height == context.outputHeight) {
    return;
  }
  context.outputWidth = 0;
  context.outputHeight = 0;
  destroyMappedBuffer(context.device, context.readbackBuffer);
  destroyDeviceImage(context.device, context.outputTexture);
  requireGpuSuccess(GpuOperation::createOutputTexture,
                    createDeviceImage(context.device, context.memoryTypes, kOutputFormat, uint32_t(width),
                                      uint32_t(height),
                                      VK_IMAGE_USAGE_STORAGE_BIT | VK_IMAGE_USAGE_TRANSFER_SRC_BIT,
                                      context.outputTexture));
  requireGpuSuccess(GpuOperation::createOutputView,
                    createImageView(context.device, kOutputFormat, context.outputTexture));
  requireGpuSuccess(GpuOperation::createReadbackTexture,
                    createMappedBuffer(context.device, context.memoryTypes,
                                       VkDeviceSize(width) * VkDeviceSize(height) * kOutputPixelBytes,
                                       VK_BUFFER_USAGE_TRANSFER_DST_BIT, VK_MEMORY_PROPERTY_HOST_CACHED_BIT,
                                       context.readbackBuffer));
  context.outputWidth = width;
  context.outputHeight = height;
}

void bindResources(GpuContext& context) {
  VkDescriptorBufferInfo constants{context.constantBuffer.buffer, 0, sizeof(FlameSettings)};
  VkDescriptorBufferInfo hash{context.hashBuffer.buffer, 0, context.hashBuffer.size};
  VkDescriptorImageInfo matte{VK_NULL_HANDLE, context.matteTexture.view,
                              VK_IMAGE_LAYOUT_SHADER_READ_ONLY_OPTIMAL};
  VkDescriptorImageInfo output{VK_NULL_HANDLE, context.outputTexture.view, VK_IMAGE_LAYOUT_GENERAL};
  VkWriteDescriptorSet writes[4] = {};
  for (uint32_t i = 0; i < 4; ++i) {
    writes[i].sType = VK_STRUCTURE_TYPE_WRITE_DESCRIPTOR_SET;
    writes[i].dstSet = context.descriptorSet;
    writes[i].dstBinding = i;
    writes[i].descriptorCount = 1;
  }
  writes[kConstantsBinding].descriptorType = VK_DESCRIPTOR_TYPE_UNIFORM_BUFFER;
  writes[kConstantsBinding].pBufferInfo = &constants;
  writes[kHashBinding].descriptorType = VK_DESCRIPTOR_TYPE_STORAGE_BUFFER;
  writes[kHashBinding].pBufferInfo = &hash;
  writes[kMatteBinding].descriptorType = VK_DESCRIPTOR_TYPE_SAMPLED_IMAGE;
  writes[kMatteBinding].pImageInfo = &matte;
  writes[kOutputBinding].descriptorType = VK_DESCRIPTOR_TYPE_STORAGE_IMAGE;
  writes[kOutputBinding].pImageInfo = &output;
  vkUpdateDescriptorSets(context.device, 4, writes, 0, nullptr);
}

}  // namespace

namespace {

void imageBarrier(VkCommandBuffer commands, VkImage image, VkImageLayout from, VkImageLayout to,
                  VkAccessFlags fromAccess, VkAccessFlags toAccess, VkPipelineStageFlags fromStage,
                  VkPipelineStageFlags toStage) {
  VkImageMemoryBarrier barrier{};
  barrier.sType = VK_STRUCTURE_TYPE_IMAGE_MEMORY_BARRIER;
  barrier.srcAccessMask = fromAccess;
  barrier.dstAccessMask = toAccess;
  barrier.oldLayout = from;
  barrier.newLayout = to;
  barrier.srcQueueFamilyIndex = VK_QUEUE_FAMILY_IGNORED;
  barrier.dstQueueFamilyIndex = VK_QUEUE_FAMILY_IGNORED;
  barrier.image = image;
  barrier.subresourceRange = {VK_IMAGE_ASPECT_COLOR_BIT, 0, 1, 0, 1};
  vkCmdPipelineBarrier(commands, fromStage, toStage, 0, 0, nullptr, 0, nullptr, 1, &barrier);
}

// A rectangle of the frame, in whole groups but for the right and bottom edges. The first tile
// of a frame also uploads the matte (when there is one) and readies the output image.
struct FrameTile {
  uint32_t firstColumn;
  uint32_t firstRow;
  uint32_t columns;
  uint32_t rows;
  bool first;
  bool copyMatte;
};

// The tile's dispatch and the copy of its pixels into the read-back buffer, as one submission
// signalling the submission's fence. Submissions on the queue keep their order, so the first
// tile's barriers also hold for the tiles after it.
void submitTile(GpuContext& context, TileSubmission& submission, const FrameTile& tile, uint32_t width) {
  VkCommandBuffer commands = submission.commands;
  VkCommandBufferBeginInfo begin{};
  begin.sType = VK_STRUCTURE_TYPE_COMMAND_BUFFER_BEGIN_INFO;
  begin.flags = VK_COMMAND_BUFFER_USAGE_ONE_TIME_SUBMIT_BIT;
  bool recorded = vkResetCommandBuffer(commands, 0) == VK_SUCCESS &&
                  vkBeginCommandBuffer(commands, &begin) == VK_SUCCESS;
  if (recorded) {
    if (tile.copyMatte) {
      imageBarrier(commands, context.matteTexture.image, VK_IMAGE_LAYOUT_UNDEFINED,
                   VK_IMAGE_LAYOUT_TRANSFER_DST_OPTIMAL, 0, VK_ACCESS_TRANSFER_WRITE_BIT,
                   VK_PIPELINE_STAGE_TOP_OF_PIPE_BIT, VK_PIPELINE_STAGE_TRANSFER_BIT);
      VkBufferImageCopy region{};
      region.imageSubresource = {VK_IMAGE_ASPECT_COLOR_BIT, 0, 0, 1};
      region.imageExtent = {uint32_t(context.matteWidth), uint32_t(context.matteHeight), 1};
      vkCmdCopyBufferToImage(commands, context.matteUpload.buffer, context.matteTexture.image,
                             VK_IMAGE_LAYOUT_TRANSFER_DST_OPTIMAL, 1, &region);
      imageBarrier(commands, context.matteTexture.image, VK_IMAGE_LAYOUT_TRANSFER_DST_OPTIMAL,
                   VK_IMAGE_LAYOUT_SHADER_READ_ONLY_OPTIMAL, VK_ACCESS_TRANSFER_WRITE_BIT,
                   VK_ACCESS_SHADER_READ_BIT, VK_PIPELINE_STAGE_TRANSFER_BIT,
                   VK_PIPELINE_STAGE_COMPUTE_SHADER_BIT);
    }
    if (tile.first) {
      imageBarrier(commands, context.outputTexture.image, VK_IMAGE_LAYOUT_UNDEFINED, VK_IMAGE_LAYOUT_GENERAL, 0,
                   VK_ACCESS_SHADER_WRITE_BIT, VK_PIPELINE_STAGE_TOP_OF_PIPE_BIT,
                   VK_PIPELINE_STAGE_COMPUTE_SHADER_BIT);
    }
    vkCmdBindPipeline(commands, VK_PIPELINE_BIND_POINT_COMPUTE, context.pipeline);
    vkCmdBindDescriptorSets(commands, VK_PIPELINE_BIND_POINT_COMPUTE, context.pipelineLayout, 0, 1,
                            &context.descriptorSet, 0, nullptr);
    vkCmdDispatchBase(commands, tile.firstColumn / kGroupWidth, tile.firstRow / kGroupHeight, 0,
                      (tile.columns + kGroupWidth - 1) / kGroupWidth, (tile.rows + kGroupHeight - 1) / kGroupHeight,
                      1);
    // The image stays in the general layout: later tiles write other pixels of it while this
    // tile's pixels are copied out.
    imageBarrier(commands, context.outputTexture.image, VK_IMAGE_LAYOUT_GENERAL, VK_IMAGE_LAYOUT_GENERAL,
                 VK_ACCESS_SHADER_WRITE_BIT, VK_ACCESS_TRANSFER_READ_BIT, VK_PIPELINE_STAGE_COMPUTE_SHADER_BIT,
                 VK_PIPELINE_STAGE_TRANSFER_BIT);
    VkBufferImageCopy region{};
    region.bufferOffset = (VkDeviceSize(tile.firstRow) * width + tile.firstColumn) * kOutputPixelBytes;
    region.bufferRowLength = width;
    region.imageSubresource = {VK_IMAGE_ASPECT_COLOR_BIT, 0, 0, 1};
    region.imageOffset = {int32_t(tile.firstColumn), int32_t(tile.firstRow), 0};
    region.imageExtent = {tile.columns, tile.rows, 1};
    vkCmdCopyImageToBuffer(commands, context.outputTexture.image, VK_IMAGE_LAYOUT_GENERAL,
                           context.readbackBuffer.buffer, 1, &region);
    VkBufferMemoryBarrier toHost{};
    toHost.sType = VK_STRUCTURE_TYPE_BUFFER_MEMORY_BARRIER;
    toHost.srcAccessMask = VK_ACCESS_TRANSFER_WRITE_BIT;
    toHost.dstAccessMask = VK_ACCESS_HOST_READ_BIT;
    toHost.srcQueueFamilyIndex = VK_QUEUE_FAMILY_IGNORED;
    toHost.dstQueueFamilyIndex = VK_QUEUE_FAMILY_IGNORED;
    toHost.buffer = context.readbackBuffer.buffer;
    toHost.size = VK_WHOLE_SIZE;
    vkCmdPipelineBarrier(commands, VK_PIPELINE_STAGE_TRANSFER_BIT, VK_PIPELINE_STAGE_HOST_BIT, 0, 0, nullptr, 1,
                         &toHost, 0, nullptr);
    recorded = vkEndCommandBuffer(commands) == VK_SUCCESS;
  }
  VkSubmitInfo submit{};
  submit.sType = VK_STRUCTURE_TYPE_SUBMIT_INFO;
  submit.commandBufferCount = 1;
  submit.pCommandBuffers = &commands;
  const bool submitted = recorded && vkResetFences(context.device, 1, &submission.fence) == VK_SUCCESS &&
                         vkQueueSubmit(context.queue, 1, &submit, submission.fence) == VK_SUCCESS;
  submission.pending = submitted;
  // Nothing reaches the read-back buffer without a submission.
  requireGpuSuccess(GpuOperation::readBack, submitted);
}

// Submits the frame tile by tile, row of tiles after row of tiles, each into the submission slot
// that finished longest ago. False: stop asked; the tiles in flight stay pending.
bool renderTiles(GpuContext& context, bool copyMatte, uint32_t width, uint32_t height,
                 AbortCheckFunction abortCheck, void* abortContext) {
  const uint32_t tileRows = kTilePixels / std::min(width, kTileColumns) / kGroupHeight * kGroupHeight;
  size_t slot = 0;
  for (uint32_t firstRow = 0; firstRow < height; firstRow += tileRows) {
    for (uint32_t firstColumn = 0; firstColumn < width; firstColumn += kTileColumns) {
      TileSubmission& submission = context.submissions[slot];
      if (!awaitSubmission(context, submission, abortCheck, abortContext)) {
        return false;
      }
      const bool first = firstRow == 0 && firstColumn == 0;
      const FrameTile tile{firstColumn, firstRow, std::min(kTileColumns, width - firstColumn),
                           std::min(tileRows, height - firstRow), first, first && copyMatte};
      submitTile(context, submission, tile, width);
      slot = (slot + 1) % kSubmissionsInFlight;
    }
  }
  return awaitAllSubmissions(context, abortCheck, abortContext);
}

}  // namespace

bool renderFrame(GpuContext& context, std::vector<float4>& image, FlameSettings& settings,
                 AbortCheckFunction abortCheck, void* abortContext, const EmitterMatte& matte) {
  std::unique_lock<std::mutex> lock(context.frameLock, std::try_to_lock);
  while (!lock.owns_lock()) {
    if (stopRequested(abortCheck, abortContext)) {
      return false;
    }
    std::this_thread::sleep_for(kLockPollInterval);
    lock.try_lock();
  }
  if (stopRequested(abortCheck, abortContext)) {
    return false;
  }
  // What a stopped frame left on the GPU still reads the buffers this frame is about to rewrite.
  if (!awaitAllSubmissions(context, abortCheck, abortContext)) {
    return false;
  }
  prepareHashTable(context, settings);
  const bool copyMatte = uploadMatte(context, matte);
  const uint32_t width = settings.width;
  const uint32_t height = settings.height;
  prepareOutput(context, int32_t(width), int32_t(height));
  bindResources(context);
  std::memcpy(context.constantBuffer.data, &settings, sizeof settings);
  if (!renderTiles(context, copyMatte, width, height, abortCheck, abortContext)) {
    return false;
  }
  image.resize(size_t(width) * size_t(height), make_float4(0.0f, 0.0f, 0.0f, 0.0f));
  const auto* rows = static_cast<const unsigned char*>(context.readbackBuffer.data);
  const size_t rowBytes = size_t(width) * kOutputPixelBytes;
  parallelFor(int(height), [&](int row) {
    std::memcpy(image.data() + size_t(row) * width, rows + size_t(row) * rowBytes, rowBytes);
  });
  return !stopRequested(abortCheck, abortContext);
}

bool usesCpuExponential(const GpuContext& context) { return context.cpuExponential; }
