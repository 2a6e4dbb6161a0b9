// A compositing host built from the OpenFX project's own host library (HostSupport): the library
// does the standard's part (plug-in cache, suites, properties, actions); this file adds what a
// host application keeps itself: parameter values and keys, clip images, the project, messages and
// the abort request.
#pragma once

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

// The host library's headers need each other in this order.
#include "ofxCore.h"
#include "ofxImageEffect.h"
#include "ofxhBinary.h"
#include "ofxhPropertySuite.h"
#include "ofxhClip.h"
#include "ofxhParam.h"
#include "ofxhMemory.h"
#include "ofxhImageEffect.h"
#include "ofxhPluginAPICache.h"
#include "ofxhPluginCache.h"
#include "ofxhHost.h"
#include "ofxhImageEffectAPI.h"

namespace testhost {

// An image held by the host: RGBA rows from the bottom up, packed, in pixel coordinates.
struct PixelBuffer {
  OfxRectI bounds{0, 0, 0, 0};
  int bytesPerChannel = 4;
  std::vector<unsigned char> bytes;
  int rowBytes() const { return (bounds.x2 - bounds.x1) * 4 * bytesPerChannel; }
};

// A parameter's value over time: a constant, or keys (linear between them for numbers, held for
// choices and toggles).
struct ValueTrack {
  double constant = 0;
  std::map<double, double> keys;
  double at(double time, bool interpolate) const;
};

class Effect;

class Clip : public OFX::Host::ImageEffect::ClipInstance {
 public:
  Clip(Effect* effect, OFX::Host::ImageEffect::ClipDescriptor* descriptor);
  const std::string& getUnmappedBitDepth() const override;
  const std::string& getUnmappedComponents() const override;
  const std::string& getPremult() const override;
  double getAspectRatio() const override;
  double getFrameRate() const override;
  void getFrameRange(double& startFrame, double& endFrame) const override;
  const std::string& getFieldOrder() const override;
  bool getConnected() const override;
  double getUnmappedFrameRate() const override;
  void getUnmappedFrameRange(double& startFrame, double& endFrame) const override;
  bool getContinuousSamples() const override;
  OFX::Host::ImageEffect::Image* getImage(OfxTime time, const OfxRectD* optionalBounds) override;
  OfxRectD getRegionOfDefinition(OfxTime time) const override;

  PixelBuffer* pixels = nullptr;  // the source's image, or the output the render writes into
  OfxRectD regionOfDefinition{0, 0, 0, 0};

 private:
  Effect* effect_;
};

// An instance of the plug-in in one context, in a project of the given size (pixels) and depth.
class Effect : public OFX::Host::ImageEffect::Instance {
 public:
  Effect(OFX::Host::ImageEffect::ImageEffectPlugin* plugin, OFX::Host::ImageEffect::Descriptor& descriptor,
         const std::string& context);

  OFX::Host::ImageEffect::ClipInstance* newClipInstance(OFX::Host::ImageEffect::Instance* plugin,
                                                        OFX::Host::ImageEffect::ClipDescriptor* descriptor,
                                                        int index) override;
  const std::string& getDefaultOutputFielding() const override;
  OfxStatus vmessage(const char* type, const char* id, const char* format, va_list args) override;
  OfxStatus setPersistentMessage(const char* type, const char* id, const char* format, va_list args) override;
  OfxStatus clearPersistentMessage() override;
  void getProjectSize(double& xSize, double& ySize) const override;
  void getProjectOffset(double& xOffset, double& yOffset) const override;
  void getProjectExtent(double& xSize, double& ySize) const override;
  double getProjectPixelAspectRatio() const override;
  double getEffectDuration() const override;
  double getFrameRate() const override;
  double getFrameRecursive() const override;
  void getRenderScaleRecursive(double& x, double& y) const override;
  OFX::Host::Param::Instance* newParam(const std::string& name, OFX::Host::Param::Descriptor& descriptor) override;
  OfxStatus editBegin(const std::string& name) override;
  OfxStatus editEnd() override;
  void progressStart(const std::string& message, const std::string& messageId) override;
  void progressEnd() override;
  bool progressUpdate(double t) override;
  double timeLineGetTime() override;
  void timeLineGotoTime(double t) override;
  void timeLineGetBounds(double& t1, double& t2) override;
  int abort() override;
  // Every clip at the project's depth, as a host with a project depth gives them.
  void setDefaultClipPreferences() override;

  // The project: its size in pixels, pixel aspect ratio and depth of every clip.
  int width = 64;
  int height = 48;
  double pixelAspect = 1;
  double frameRate = 24;
  std::string bitDepth = kOfxBitDepthFloat;

  double renderScale = 1;  // of the render under way
  // The host's time while the user edits a parameter.
  double currentTime = 0;

  std::mutex messageLock;
  std::string persistentMessage;  // empty when none is shown
  std::vector<std::string> messages;

  // abort() answers yes from this call on (counting from 1); 0: never.
  int abortFromCall = 0;
  std::atomic<int> abortCalls{0};
};

class Host : public OFX::Host::ImageEffect::Host {
 public:
  Host();
  OFX::Host::ImageEffect::Instance* newInstance(void* clientData, OFX::Host::ImageEffect::ImageEffectPlugin* plugin,
                                                OFX::Host::ImageEffect::Descriptor& descriptor,
                                                const std::string& context) override;
  OFX::Host::ImageEffect::Descriptor* makeDescriptor(OFX::Host::ImageEffect::ImageEffectPlugin* plugin) override;
  OFX::Host::ImageEffect::Descriptor* makeDescriptor(const OFX::Host::ImageEffect::Descriptor& rootContext,
                                                     OFX::Host::ImageEffect::ImageEffectPlugin* plugin) override;
  OFX::Host::ImageEffect::Descriptor* makeDescriptor(const std::string& bundlePath,
                                                     OFX::Host::ImageEffect::ImageEffectPlugin* plugin) override;
  OfxStatus vmessage(const char* type, const char* id, const char* format, va_list args) override;
  OfxStatus setPersistentMessage(const char* type, const char* id, const char* format, va_list args) override;
  OfxStatus clearPersistentMessage() override;
};

// Scans the plug-in path (OFX_PLUGIN_PATH, then /usr/OFX/Plugins) as a compositor does at start-up,
// reading and then rewriting the cache file; returns the image effect plug-ins found.
OFX::Host::ImageEffect::PluginCache& scanPlugins(const std::string& cacheFile);

// A parameter of the instance by its label and, inside a group, the group's label ("Emitter/Source").
OFX::Host::Param::Instance* parameterLabelled(Effect& effect, const std::string& qualifiedLabel);

// Sets a parameter from text as a user would: a number, a choice's text, "on"/"off", a file path.
// With a time, sets a key there. Sends the instance-changed actions a host sends for a user's edit.
void setByUser(Effect& effect, OFX::Host::Param::Instance& param, const std::string& value, double time = -1);

}  // namespace testhost
