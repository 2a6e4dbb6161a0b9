#include "gpu/vulkan_memory.h"

#include <cstdint>
#include <initializer_list>

namespace {

// The first memory type with every required and preferred property, else the first with the
// required ones; UINT32_MAX when none fits.
uint32_t memoryTypeFor(const VkPhysicalDeviceMemoryProperties& types, uint32_t allowed,
                       VkMemoryPropertyFlags required, VkMemoryPropertyFlags preferred) {
  for (VkMemoryPropertyFlags wanted : {required | preferred, required}) {
    for (uint32_t i = 0; i < types.memoryTypeCount; ++i) {
      if ((allowed & (1u << i)) != 0 && (types.memoryTypes[i].propertyFlags & wanted) == wanted) {
        return i;
      }
    }
  }
  return UINT32_MAX;
}

bool allocate(VkDevice device, const VkPhysicalDeviceMemoryProperties& types,
              const VkMemoryRequirements& requirements, VkMemoryPropertyFlags required,
              VkMemoryPropertyFlags preferred, VkDeviceMemory& memory) {
  const uint32_t type = memoryTypeFor(types, requirements.memoryTypeBits, required, preferred);
  if (type == UINT32_MAX) {
    return false;
  }
  VkMemoryAllocateInfo info{};
  info.sType = VK_STRUCTURE_TYPE_MEMORY_ALLOCATE_INFO;
  info.allocationSize = requirements.size;
  info.memoryTypeIndex = type;
  return vkAllocateMemory(device, &info, nullptr, &memory) == VK_SUCCESS;
}

}  // namespace

bool createMappedBuffer(VkDevice device, const VkPhysicalDeviceMemoryProperties& memoryTypes,
                        VkDeviceSize size, VkBufferUsageFlags usage, VkMemoryPropertyFlags preferred,
                        MappedBuffer& buffer) {
  VkBufferCreateInfo info{};
  info.sType = VK_STRUCTURE_TYPE_BUFFER_CREATE_INFO;
  info.size = size;
  info.usage = usage;
  info.sharingMode = VK_SHARING_MODE_EXCLUSIVE;
  if (vkCreateBuffer(device, &info, nullptr, &buffer.buffer) != VK_SUCCESS) {
    return false;
  }
  VkMemoryRequirements requirements;
  vkGetBufferMemoryRequirements(device, buffer.buffer, &requirements);
  const VkMemoryPropertyFlags hostVisible =
      VK_MEMORY_PROPERTY_HOST_VISIBLE_BIT | VK_MEMORY_PROPERTY_HOST_COHERENT_BIT;
  if (!allocate(device, memoryTypes, requirements, hostVisible, preferred, buffer.memory) ||
      vkBindBufferMemory(device, buffer.buffer, buffer.memory, 0) != VK_SUCCESS ||
      vkMapMemory(device, buffer.memory, 0, VK_WHOLE_SIZE, 0, &buffer.data) != VK_SUCCESS) {
    return false;
  }
  buffer.size = size;
  return true;
}

bool createDeviceImage(VkDevice device, const VkPhysicalDeviceMemoryProperties& memoryTypes,
                       VkFormat format, uint32_t width, uint32_t height, VkImageUsageFlags usage,
                       DeviceImage& image) {
  VkImageCreateInfo info{};
  info.sType = VK_STRUCTURE_TYPE_IMAGE_CREATE_INFO;
  info.imageType = VK_IMAGE_TYPE_2D;
  info.format = format;
  info.extent = {width, height, 1};
  info.mipLevels = 1;
  info.arrayLayers = 1;
  info.samples = VK_SAMPLE_COUNT_1_BIT;
  info.tiling = VK_IMAGE_TILING_OPTIMAL;
  info.usage = usage;
  info.sharingMode = VK_SHARING_MODE_EXCLUSIVE;
  info.initialLayout = VK_IMAGE_LAYOUT_UNDEFINED;
  if (vkCreateImage(device, &info, nullptr, &image.image) != VK_SUCCESS) {
    return false;
  }
  VkMemoryRequirements requirements;
  vkGetImageMemoryRequirements(device, image.image, &requirements);
  return allocate(device, memoryTypes, requirements, 0, VK_MEMORY_PROPERTY_DEVICE_LOCAL_BIT,
                  image.memory) &&
         vkBindImageMemory(device, image.image, image.memory, 0) == VK_SUCCESS;
}

bool createImageView(VkDevice device, VkFormat format, DeviceImage& image) {
  VkImageViewCreateInfo info{};
  info.sType = VK_STRUCTURE_TYPE_IMAGE_VIEW_CREATE_INFO;
  info.image = image.image;
  info.viewType = VK_IMAGE_VIEW_TYPE_2D;
  info.format = format;
  info.subresourceRange = {VK_IMAGE_ASPECT_COLOR_BIT, 0, 1, 0, 1};
  return vkCreateImageView(device, &info, nullptr, &image.view) == VK_SUCCESS;
}

void destroyMappedBuffer(VkDevice device, MappedBuffer& buffer) {
  if (buffer.data != nullptr) {
    vkUnmapMemory(device, buffer.memory);
  }
  vkDestroyBuffer(device, buffer.buffer, nullptr);
  vkFreeMemory(device, buffer.memory, nullptr);
  buffer = MappedBuffer{};
}

void destroyDeviceImage(VkDevice device, DeviceImage& image) {
  vkDestroyImageView(device, image.view, nullptr);
  vkDestroyImage(device, image.image, nullptr);
  vkFreeMemory(device, image.memory, nullptr);
  image = DeviceImage{};
}
