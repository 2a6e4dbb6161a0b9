// Buffers and images with their own memory, the small pieces the GPU context is built from.
#pragma once

// Vulkan through volk: every entry point is fetched from the loader, opened at run time.
#include <volk.h>

// A buffer in host-visible, coherent memory, mapped for its whole life.
struct MappedBuffer {
  VkBuffer buffer = VK_NULL_HANDLE;
  VkDeviceMemory memory = VK_NULL_HANDLE;
  void* data = nullptr;
  VkDeviceSize size = 0;
};

// A 2-D image of one mip level in device memory, with a view of the whole image.
struct DeviceImage {
  VkImage image = VK_NULL_HANDLE;
  VkDeviceMemory memory = VK_NULL_HANDLE;
  VkImageView view = VK_NULL_HANDLE;
};

// Each returns false when Vulkan refuses; what was created so far stays in the record, to be
// released by the destroy functions below.
bool createMappedBuffer(VkDevice device, const VkPhysicalDeviceMemoryProperties& memoryTypes,
                        VkDeviceSize size, VkBufferUsageFlags usage, VkMemoryPropertyFlags preferred,
                        MappedBuffer& buffer);
bool createDeviceImage(VkDevice device, const VkPhysicalDeviceMemoryProperties& memoryTypes,
                       VkFormat format, uint32_t width, uint32_t height, VkImageUsageFlags usage,
                       DeviceImage& image);
bool createImageView(VkDevice device, VkFormat format, DeviceImage& image);

void destroyMappedBuffer(VkDevice device, MappedBuffer& buffer);
// Releases the view, then the image and its memory.
void destroyDeviceImage(VkDevice device, DeviceImage& image);
