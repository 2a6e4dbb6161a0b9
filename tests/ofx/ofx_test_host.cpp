#include "ofx_test_host.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <stdexcept>
#include <thread>

#include "ofxMessage.h"
#include "ofxParam.h"

namespace testhost {

namespace {

std::string formatted(const char* format, va_list args) {
  va_list copy;
  va_copy(copy, args);
  const int length = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  std::string text(length > 0 ? static_cast<size_t>(length) : 0, '\0');
  std::vsnprintf(text.data(), text.size() + 1, format, args);
  return text;
}

// Keys as a host's keyframe API shows them: by index in time order.
class Keys {
 public:
  ValueTrack track;

  OfxStatus getNumKeys(unsigned int& count) const {
    count = static_cast<unsigned>(track.keys.size());
    return kOfxStatOK;
  }
  OfxStatus getKeyTime(int nth, OfxTime& time) const {
    if (nth < 0 || nth >= static_cast<int>(track.keys.size())) {
      return kOfxStatErrBadIndex;
    }
    time = std::next(track.keys.begin(), nth)->first;
    return kOfxStatOK;
  }
  OfxStatus getKeyIndex(OfxTime time, int direction, int& index) const {
    index = -1;
    int i = 0;
    for (const auto& [keyTime, value] : track.keys) {
      if ((direction == 0 && keyTime == time) || (direction > 0 && keyTime > time)) {
        index = i;
        return kOfxStatOK;
      }
      if (direction < 0 && keyTime < time) {
        index = i;
      }
      ++i;
    }
    return index >= 0 ? kOfxStatOK : kOfxStatFailed;
  }
  OfxStatus deleteKey(OfxTime time) {
    return track.keys.erase(time) ? kOfxStatOK : kOfxStatErrBadIndex;
  }
  OfxStatus deleteAllKeys() {
    track.keys.clear();
    return kOfxStatOK;
  }
};

class DoubleParam : public OFX::Host::Param::DoubleInstance, public Keys {
 public:
  DoubleParam(OFX::Host::Param::Descriptor& descriptor, OFX::Host::Param::SetInstance* set)
      : DoubleInstance(descriptor, set) {
    track.constant = getProperties().getDoubleProperty(kOfxParamPropDefault);
  }
  OfxStatus get(double& value) override { return get(0, value); }
  OfxStatus get(OfxTime time, double& value) override {
    value = track.at(time, true);
    return kOfxStatOK;
  }
  OfxStatus set(double value) override {
    track.constant = value;
    return kOfxStatOK;
  }
  OfxStatus set(OfxTime time, double value) override {
    track.keys[time] = value;
    return kOfxStatOK;
  }
  OfxStatus derive(OfxTime, double&) override { return kOfxStatErrUnsupported; }
  OfxStatus integrate(OfxTime, OfxTime, double&) override { return kOfxStatErrUnsupported; }
  OfxStatus getNumKeys(unsigned int& count) const override { return Keys::getNumKeys(count); }
  OfxStatus getKeyTime(int nth, OfxTime& time) const override { return Keys::getKeyTime(nth, time); }
  OfxStatus getKeyIndex(OfxTime time, int direction, int& index) const override {
    return Keys::getKeyIndex(time, direction, index);
  }
  OfxStatus deleteKey(OfxTime time) override { return Keys::deleteKey(time); }
  OfxStatus deleteAllKeys() override { return Keys::deleteAllKeys(); }
};

class ChoiceParam : public OFX::Host::Param::ChoiceInstance, public Keys {
 public:
  ChoiceParam(OFX::Host::Param::Descriptor& descriptor, OFX::Host::Param::SetInstance* set)
      : ChoiceInstance(descriptor, set) {
    track.constant = getProperties().getIntProperty(kOfxParamPropDefault);
  }
  OfxStatus get(int& value) override { return get(0, value); }
  OfxStatus get(OfxTime time, int& value) override {
    value = static_cast<int>(track.at(time, false));
    return kOfxStatOK;
  }
  OfxStatus set(int value) override {
    track.constant = value;
    return kOfxStatOK;
  }
  OfxStatus set(OfxTime time, int value) override {
    track.keys[time] = value;
    return kOfxStatOK;
  }
  OfxStatus getNumKeys(unsigned int& count) const override { return Keys::getNumKeys(count); }
  OfxStatus getKeyTime(int nth, OfxTime& time) const override { return Keys::getKeyTime(nth, time); }
  OfxStatus getKeyIndex(OfxTime time, int direction, int& index) const override {
    return Keys::getKeyIndex(time, direction, index);
  }
  OfxStatus deleteKey(OfxTime time) override { return Keys::deleteKey(time); }
  OfxStatus deleteAllKeys() override { return Keys::deleteAllKeys(); }
};

class BooleanParam : public OFX::Host::Param::BooleanInstance, public Keys {
 public:
  BooleanParam(OFX::Host::Param::Descriptor& descriptor, OFX::Host::Param::SetInstance* set)
      : BooleanInstance(descriptor, set) {
    track.constant = getProperties().getIntProperty(kOfxParamPropDefault);
  }
  OfxStatus get(bool& value) override { return get(0, value); }
  OfxStatus get(OfxTime time, bool& value) override {
    value = track.at(time, false) != 0;
    return kOfxStatOK;
  }
  OfxStatus set(bool value) override {
    track.constant = value;
    return kOfxStatOK;
  }
  OfxStatus set(OfxTime time, bool value) override {
    track.keys[time] = value;
    return kOfxStatOK;
  }
  OfxStatus getNumKeys(unsigned int& count) const override { return Keys::getNumKeys(count); }
  OfxStatus getKeyTime(int nth, OfxTime& time) const override { return Keys::getKeyTime(nth, time); }
  OfxStatus getKeyIndex(OfxTime time, int direction, int& index) const override {
    return Keys::getKeyIndex(time, direction, index);
  }
  OfxStatus deleteKey(OfxTime time) override { return Keys::deleteKey(time); }
  OfxStatus deleteAllKeys() override { return Keys::deleteAllKeys(); }
};

class StringParam : public OFX::Host::Param::StringInstance {
 public:
  StringParam(OFX::Host::Param::Descriptor& descriptor, OFX::Host::Param::SetInstance* set)
      : StringInstance(descriptor, set), value_(getProperties().getStringProperty(kOfxParamPropDefault)) {}
  OfxStatus get(std::string& value) override {
    value = value_;
    return kOfxStatOK;
  }
  OfxStatus get(OfxTime, std::string& value) override { return get(value); }
  OfxStatus set(const char* value) override {
    value_ = value ? value : "";
    return kOfxStatOK;
  }
  OfxStatus set(OfxTime, const char* value) override { return set(value); }

 private:
  std::string value_;
};

const std::string& stringOf(const char* text) {
  static std::mutex lock;
  static std::map<std::string, std::string> texts;
  std::lock_guard<std::mutex> guard(lock);
  return texts.emplace(text, text).first->second;
}

}  // namespace

double ValueTrack::at(double time, bool interpolate) const {
  if (keys.empty()) {
    return constant;
  }
  auto after = keys.lower_bound(time);
  if (after == keys.end()) {
    return keys.rbegin()->second;
  }
  if (after->first == time || after == keys.begin()) {
    return after->second;
  }
  auto before = std::prev(after);
  if (!interpolate) {
    return before->second;
  }
  const double fraction = (time - before->first) / (after->first - before->first);
  return before->second + (after->second - before->second) * fraction;
}

// ---- Clips ----

Clip::Clip(Effect* effect, OFX::Host::ImageEffect::ClipDescriptor* descriptor)
    : ClipInstance(effect, *descriptor), effect_(effect) {}

const std::string& Clip::getUnmappedBitDepth() const { return effect_->bitDepth; }

const std::string& Clip::getUnmappedComponents() const { return stringOf(kOfxImageComponentRGBA); }

const std::string& Clip::getPremult() const { return stringOf(kOfxImagePreMultiplied); }

double Clip::getAspectRatio() const { return effect_->pixelAspect; }

double Clip::getFrameRate() const { return effect_->frameRate; }

void Clip::getFrameRange(double& startFrame, double& endFrame) const {
  startFrame = 0;
  endFrame = 100;
}

const std::string& Clip::getFieldOrder() const { return stringOf(kOfxImageFieldNone); }

bool Clip::getConnected() const { return isOutput() || pixels != nullptr; }

double Clip::getUnmappedFrameRate() const { return effect_->frameRate; }

void Clip::getUnmappedFrameRange(double& startFrame, double& endFrame) const { getFrameRange(startFrame, endFrame); }

bool Clip::getContinuousSamples() const { return false; }

OFX::Host::ImageEffect::Image* Clip::getImage(OfxTime, const OfxRectD*) {
  if (!pixels) {
    return nullptr;
  }
  // The host keeps the pixels; the image only lends them. Rows from the bottom up, so the first
  // row in memory is the bottom one.
  const double scale = effect_->renderScale;
  const OfxRectI regionOfDefinitionInPixels{
      static_cast<int>(regionOfDefinition.x1 * scale / effect_->pixelAspect), static_cast<int>(regionOfDefinition.y1 * scale),
      static_cast<int>(std::ceil(regionOfDefinition.x2 * scale / effect_->pixelAspect)),
      static_cast<int>(std::ceil(regionOfDefinition.y2 * scale))};
  return new OFX::Host::ImageEffect::Image(*this, scale, scale, pixels->bytes.data(), pixels->bounds,
                                           regionOfDefinitionInPixels, pixels->rowBytes(), kOfxImageFieldNone,
                                           getName());
}

OfxRectD Clip::getRegionOfDefinition(OfxTime) const { return regionOfDefinition; }

// ---- Effect instances ----

Effect::Effect(OFX::Host::ImageEffect::ImageEffectPlugin* plugin, OFX::Host::ImageEffect::Descriptor& descriptor,
               const std::string& context)
    : Instance(plugin, descriptor, context, false) {}

OFX::Host::ImageEffect::ClipInstance* Effect::newClipInstance(OFX::Host::ImageEffect::Instance*,
                                                              OFX::Host::ImageEffect::ClipDescriptor* descriptor, int) {
  return new Clip(this, descriptor);
}

const std::string& Effect::getDefaultOutputFielding() const { return stringOf(kOfxImageFieldNone); }

OfxStatus Effect::vmessage(const char* type, const char* id, const char* format, va_list args) {
  std::lock_guard<std::mutex> guard(messageLock);
  messages.push_back(std::string(type) + ": " + formatted(format, args));
  (void)id;
  return kOfxStatOK;
}

OfxStatus Effect::setPersistentMessage(const char* type, const char*, const char* format, va_list args) {
  std::lock_guard<std::mutex> guard(messageLock);
  persistentMessage = std::string(type) + ": " + formatted(format, args);
  return kOfxStatOK;
}

OfxStatus Effect::clearPersistentMessage() {
  std::lock_guard<std::mutex> guard(messageLock);
  persistentMessage.clear();
  return kOfxStatOK;
}

void Effect::getProjectSize(double& xSize, double& ySize) const { getProjectExtent(xSize, ySize); }

void Effect::getProjectOffset(double& xOffset, double& yOffset) const { xOffset = yOffset = 0; }

// Canonical coordinates: a pixel is pixelAspect wide.
void Effect::getProjectExtent(double& xSize, double& ySize) const {
  xSize = width * pixelAspect;
  ySize = height;
}

double Effect::getProjectPixelAspectRatio() const { return pixelAspect; }

double Effect::getEffectDuration() const { return 100; }

double Effect::getFrameRate() const { return frameRate; }

double Effect::getFrameRecursive() const { return currentTime; }

void Effect::getRenderScaleRecursive(double& x, double& y) const { x = y = 1; }

OFX::Host::Param::Instance* Effect::newParam(const std::string&, OFX::Host::Param::Descriptor& descriptor) {
  const std::string& type = descriptor.getType();
  if (type == kOfxParamTypeDouble) {
    return new DoubleParam(descriptor, this);
  }
  if (type == kOfxParamTypeChoice) {
    return new ChoiceParam(descriptor, this);
  }
  if (type == kOfxParamTypeBoolean) {
    return new BooleanParam(descriptor, this);
  }
  if (type == kOfxParamTypeString) {
    return new StringParam(descriptor, this);
  }
  if (type == kOfxParamTypePushButton) {
    return new OFX::Host::Param::PushbuttonInstance(descriptor, this);
  }
  if (type == kOfxParamTypeGroup) {
    return new OFX::Host::Param::GroupInstance(descriptor, this);
  }
  if (type == kOfxParamTypePage) {
    return new OFX::Host::Param::PageInstance(descriptor, this);
  }
  throw std::runtime_error("the test host has no parameters of type " + type);
}

OfxStatus Effect::editBegin(const std::string&) { return kOfxStatOK; }

OfxStatus Effect::editEnd() { return kOfxStatOK; }

void Effect::progressStart(const std::string&, const std::string&) {}

void Effect::progressEnd() {}

bool Effect::progressUpdate(double) { return true; }

double Effect::timeLineGetTime() { return currentTime; }

void Effect::timeLineGotoTime(double t) { currentTime = t; }

void Effect::timeLineGetBounds(double& t1, double& t2) {
  t1 = 0;
  t2 = 100;
}

int Effect::abort() {
  const int call = ++abortCalls;
  return abortFromCall > 0 && call >= abortFromCall ? 1 : 0;
}

void Effect::setDefaultClipPreferences() {
  Instance::setDefaultClipPreferences();
  for (const auto& [name, clip] : _clips) {
    clip->setPixelDepth(bitDepth);
  }
}

// ---- The host ----

Host::Host() {
  _properties.setStringProperty(kOfxPropName, "net.vortelline.testhost");
  _properties.setStringProperty(kOfxPropLabel, "Vortelline's OpenFX test host");
  _properties.setIntProperty(kOfxImageEffectHostPropIsBackground, 0);
  _properties.setIntProperty(kOfxImageEffectPropSupportsOverlays, 0);
  _properties.setIntProperty(kOfxImageEffectPropSupportsMultiResolution, 1);
  _properties.setIntProperty(kOfxImageEffectPropSupportsTiles, 1);
  _properties.setIntProperty(kOfxImageEffectPropTemporalClipAccess, 0);
  _properties.setStringProperty(kOfxImageEffectPropSupportedComponents, kOfxImageComponentRGBA, 0);
  _properties.setStringProperty(kOfxImageEffectPropSupportedContexts, kOfxImageEffectContextGenerator, 0);
  _properties.setStringProperty(kOfxImageEffectPropSupportedContexts, kOfxImageEffectContextFilter, 1);
  _properties.setStringProperty(kOfxImageEffectPropSupportedContexts, kOfxImageEffectContextGeneral, 2);
  _properties.setIntProperty(kOfxImageEffectPropSupportsMultipleClipDepths, 0);
  _properties.setIntProperty(kOfxImageEffectPropSupportsMultipleClipPARs, 0);
  _properties.setIntProperty(kOfxParamHostPropSupportsChoiceAnimation, 1);
  _properties.setIntProperty(kOfxParamHostPropSupportsBooleanAnimation, 1);
  _properties.setIntProperty(kOfxParamHostPropMaxParameters, -1);
  _properties.setIntProperty(kOfxParamHostPropMaxPages, 0);
}

OFX::Host::ImageEffect::Instance* Host::newInstance(void*, OFX::Host::ImageEffect::ImageEffectPlugin* plugin,
                                                    OFX::Host::ImageEffect::Descriptor& descriptor,
                                                    const std::string& context) {
  return new Effect(plugin, descriptor, context);
}

OFX::Host::ImageEffect::Descriptor* Host::makeDescriptor(OFX::Host::ImageEffect::ImageEffectPlugin* plugin) {
  return new OFX::Host::ImageEffect::Descriptor(plugin);
}

OFX::Host::ImageEffect::Descriptor* Host::makeDescriptor(const OFX::Host::ImageEffect::Descriptor& rootContext,
                                                         OFX::Host::ImageEffect::ImageEffectPlugin* plugin) {
  return new OFX::Host::ImageEffect::Descriptor(rootContext, plugin);
}

OFX::Host::ImageEffect::Descriptor* Host::makeDescriptor(const std::string& bundlePath,
                                                         OFX::Host::ImageEffect::ImageEffectPlugin* plugin) {
  return new OFX::Host::ImageEffect::Descriptor(bundlePath, plugin);
}

OfxStatus Host::vmessage(const char* type, const char*, const char* format, va_list args) {
  std::fprintf(stderr, "host message %s: %s\n", type, formatted(format, args).c_str());
  return kOfxStatOK;
}

OfxStatus Host::setPersistentMessage(const char* type, const char* id, const char* format, va_list args) {
  return vmessage(type, id, format, args);
}

OfxStatus Host::clearPersistentMessage() { return kOfxStatOK; }

OFX::Host::ImageEffect::PluginCache& scanPlugins(const std::string& cacheFile) {
  static Host host;
  static OFX::Host::ImageEffect::PluginCache imageEffects(host);
  OFX::Host::PluginCache& cache = *OFX::Host::PluginCache::getPluginCache();
  cache.setCacheVersion("vortelline-test-host-1");
  imageEffects.registerInCache(cache);
  {
    std::ifstream previous(cacheFile);
    if (previous) {
      cache.readCache(previous);
    }
  }
  cache.scanPluginFiles();
  std::ofstream written(cacheFile);
  cache.writePluginCache(written);
  return imageEffects;
}

OFX::Host::Param::Instance* parameterLabelled(Effect& effect, const std::string& qualifiedLabel) {
  const size_t slash = qualifiedLabel.rfind('/');
  const std::string group = slash == std::string::npos ? "" : qualifiedLabel.substr(0, slash);
  const std::string label = slash == std::string::npos ? qualifiedLabel : qualifiedLabel.substr(slash + 1);
  for (OFX::Host::Param::Instance* param : effect.getParamList()) {
    if (param->getLabel() != label || param->getType() == kOfxParamTypeGroup) {
      continue;
    }
    const std::string& parentName = param->getParentName();
    OFX::Host::Param::Instance* parent = parentName.empty() ? nullptr : effect.getParam(parentName);
    if ((parent ? parent->getLabel() : std::string()) == group) {
      return param;
    }
  }
  return nullptr;
}

void setByUser(Effect& effect, OFX::Host::Param::Instance& param, const std::string& value, double time) {
  const std::string& type = param.getType();
  const bool keyed = time >= 0;
  if (type == kOfxParamTypeDouble) {
    auto& number = dynamic_cast<DoubleParam&>(param);
    keyed ? number.set(time, std::stod(value)) : number.set(std::stod(value));
  } else if (type == kOfxParamTypeChoice) {
    auto& choice = dynamic_cast<ChoiceParam&>(param);
    const OFX::Host::Property::Set& props = param.getProperties();
    int index = -1;
    for (int i = 0; i < props.getDimension(kOfxParamPropChoiceOption); ++i) {
      if (props.getStringProperty(kOfxParamPropChoiceOption, i) == value) {
        index = i;
      }
    }
    if (index < 0) {
      throw std::runtime_error("\"" + value + "\" is not a choice of " + param.getLabel());
    }
    keyed ? choice.set(time, index) : choice.set(index);
  } else if (type == kOfxParamTypeBoolean) {
    auto& toggle = dynamic_cast<BooleanParam&>(param);
    keyed ? toggle.set(time, value == "on") : toggle.set(value == "on");
  } else if (type == kOfxParamTypeString) {
    dynamic_cast<StringParam&>(param).set(value.c_str());
  }
  effect.currentTime = keyed ? time : effect.currentTime;
  const OfxPointD scale{1, 1};
  effect.beginInstanceChangedAction(kOfxChangeUserEdited);
  effect.paramInstanceChangedAction(param.getName(), kOfxChangeUserEdited, effect.currentTime, scale);
  effect.endInstanceChangedAction(kOfxChangeUserEdited);
}

}  // namespace testhost
