// The part of the OpenFX image effect API that the plug-in uses, declared here so that the plug-in
// builds without the standard's headers. The names and values are the standard's; the test host
// compiles this header beside the real headers and checks every one of them (ofx_api_check.cpp).
// Everything sits in namespace ofx, so that the two sets can meet in one file.
#pragma once

#include <cstddef>

namespace ofx {

using OfxStatus = int;
using OfxTime = double;

struct OfxPropertySetStruct;
struct OfxImageEffectStruct;
struct OfxImageClipStruct;
struct OfxImageMemoryStruct;
struct OfxParamStruct;
struct OfxParamSetStruct;
using OfxPropertySetHandle = OfxPropertySetStruct*;
using OfxImageEffectHandle = OfxImageEffectStruct*;
using OfxImageClipHandle = OfxImageClipStruct*;
using OfxImageMemoryHandle = OfxImageMemoryStruct*;
using OfxParamHandle = OfxParamStruct*;
using OfxParamSetHandle = OfxParamSetStruct*;

extern "C" {

struct OfxHost {
  OfxPropertySetHandle host;
  const void* (*fetchSuite)(OfxPropertySetHandle host, const char* suiteName, int suiteVersion);
};

using OfxPluginEntryPoint = OfxStatus(const char* action, const void* handle, OfxPropertySetHandle inArgs,
                                      OfxPropertySetHandle outArgs);

struct OfxPlugin {
  const char* pluginApi;
  int apiVersion;
  const char* pluginIdentifier;
  unsigned int pluginVersionMajor;
  unsigned int pluginVersionMinor;
  void (*setHost)(OfxHost* host);
  OfxPluginEntryPoint* mainEntry;
};

struct OfxRectI {
  int x1, y1, x2, y2;
};

struct OfxRectD {
  double x1, y1, x2, y2;
};

struct OfxPropertySuiteV1 {
  OfxStatus (*propSetPointer)(OfxPropertySetHandle properties, const char* property, int index, void* value);
  OfxStatus (*propSetString)(OfxPropertySetHandle properties, const char* property, int index, const char* value);
  OfxStatus (*propSetDouble)(OfxPropertySetHandle properties, const char* property, int index, double value);
  OfxStatus (*propSetInt)(OfxPropertySetHandle properties, const char* property, int index, int value);
  OfxStatus (*propSetPointerN)(OfxPropertySetHandle properties, const char* property, int count, void* const* value);
  OfxStatus (*propSetStringN)(OfxPropertySetHandle properties, const char* property, int count,
                              const char* const* value);
  OfxStatus (*propSetDoubleN)(OfxPropertySetHandle properties, const char* property, int count, const double* value);
  OfxStatus (*propSetIntN)(OfxPropertySetHandle properties, const char* property, int count, const int* value);
  OfxStatus (*propGetPointer)(OfxPropertySetHandle properties, const char* property, int index, void** value);
  OfxStatus (*propGetString)(OfxPropertySetHandle properties, const char* property, int index, char** value);
  OfxStatus (*propGetDouble)(OfxPropertySetHandle properties, const char* property, int index, double* value);
  OfxStatus (*propGetInt)(OfxPropertySetHandle properties, const char* property, int index, int* value);
  OfxStatus (*propGetPointerN)(OfxPropertySetHandle properties, const char* property, int count, void** value);
  OfxStatus (*propGetStringN)(OfxPropertySetHandle properties, const char* property, int count, char** value);
  OfxStatus (*propGetDoubleN)(OfxPropertySetHandle properties, const char* property, int count, double* value);
  OfxStatus (*propGetIntN)(OfxPropertySetHandle properties, const char* property, int count, int* value);
  OfxStatus (*propReset)(OfxPropertySetHandle properties, const char* property);
  OfxStatus (*propGetDimension)(OfxPropertySetHandle properties, const char* property, int* count);
};

struct OfxImageEffectSuiteV1 {
  OfxStatus (*getPropertySet)(OfxImageEffectHandle imageEffect, OfxPropertySetHandle* propHandle);
  OfxStatus (*getParamSet)(OfxImageEffectHandle imageEffect, OfxParamSetHandle* paramSet);
  OfxStatus (*clipDefine)(OfxImageEffectHandle imageEffect, const char* name, OfxPropertySetHandle* propertySet);
  OfxStatus (*clipGetHandle)(OfxImageEffectHandle imageEffect, const char* name, OfxImageClipHandle* clip,
                             OfxPropertySetHandle* propertySet);
  OfxStatus (*clipGetPropertySet)(OfxImageClipHandle clip, OfxPropertySetHandle* propHandle);
  OfxStatus (*clipGetImage)(OfxImageClipHandle clip, OfxTime time, const OfxRectD* region,
                            OfxPropertySetHandle* imageHandle);
  OfxStatus (*clipReleaseImage)(OfxPropertySetHandle imageHandle);
  OfxStatus (*clipGetRegionOfDefinition)(OfxImageClipHandle clip, OfxTime time, OfxRectD* bounds);
  int (*abort)(OfxImageEffectHandle imageEffect);
  OfxStatus (*imageMemoryAlloc)(OfxImageEffectHandle instanceHandle, size_t nBytes,
                                OfxImageMemoryHandle* memoryHandle);
  OfxStatus (*imageMemoryFree)(OfxImageMemoryHandle memoryHandle);
  OfxStatus (*imageMemoryLock)(OfxImageMemoryHandle memoryHandle, void** returnedPtr);
  OfxStatus (*imageMemoryUnlock)(OfxImageMemoryHandle memoryHandle);
};

struct OfxRangeD {
  double min, max;
};

struct OfxParameterSuiteV1 {
  OfxStatus (*paramDefine)(OfxParamSetHandle paramSet, const char* paramType, const char* name,
                           OfxPropertySetHandle* propertySet);
  OfxStatus (*paramGetHandle)(OfxParamSetHandle paramSet, const char* name, OfxParamHandle* param,
                              OfxPropertySetHandle* propertySet);
  OfxStatus (*paramSetGetPropertySet)(OfxParamSetHandle paramSet, OfxPropertySetHandle* propHandle);
  OfxStatus (*paramGetPropertySet)(OfxParamHandle param, OfxPropertySetHandle* propHandle);
  OfxStatus (*paramGetValue)(OfxParamHandle paramHandle, ...);
  OfxStatus (*paramGetValueAtTime)(OfxParamHandle paramHandle, OfxTime time, ...);
  OfxStatus (*paramGetDerivative)(OfxParamHandle paramHandle, OfxTime time, ...);
  OfxStatus (*paramGetIntegral)(OfxParamHandle paramHandle, OfxTime time1, OfxTime time2, ...);
  OfxStatus (*paramSetValue)(OfxParamHandle paramHandle, ...);
  OfxStatus (*paramSetValueAtTime)(OfxParamHandle paramHandle, OfxTime time, ...);
  OfxStatus (*paramGetNumKeys)(OfxParamHandle paramHandle, unsigned int* numberOfKeys);
  OfxStatus (*paramGetKeyTime)(OfxParamHandle paramHandle, unsigned int nthKey, OfxTime* time);
  OfxStatus (*paramGetKeyIndex)(OfxParamHandle paramHandle, OfxTime time, int direction, int* index);
  OfxStatus (*paramDeleteKey)(OfxParamHandle paramHandle, OfxTime time);
  OfxStatus (*paramDeleteAllKeys)(OfxParamHandle paramHandle);
  OfxStatus (*paramCopy)(OfxParamHandle paramTo, OfxParamHandle paramFrom, OfxTime dstOffset,
                         const OfxRangeD* frameRange);
  OfxStatus (*paramEditBegin)(OfxParamSetHandle paramSet, const char* name);
  OfxStatus (*paramEditEnd)(OfxParamSetHandle paramSet);
};

struct OfxMessageSuiteV2 {
  OfxStatus (*message)(void* handle, const char* messageType, const char* messageId, const char* format, ...);
  OfxStatus (*setPersistentMessage)(void* handle, const char* messageType, const char* messageId,
                                    const char* format, ...);
  OfxStatus (*clearPersistentMessage)(void* handle);
};

}  // extern "C"

// The members of each suite in order, for the check against the standard's layout.
#define VORTELLINE_OFX_STRUCT_MEMBERS(X)                                                                          \
  X(OfxHost, host) X(OfxHost, fetchSuite)                                                                       \
  X(OfxPlugin, pluginApi) X(OfxPlugin, apiVersion) X(OfxPlugin, pluginIdentifier)                               \
  X(OfxPlugin, pluginVersionMajor) X(OfxPlugin, pluginVersionMinor) X(OfxPlugin, setHost)                       \
  X(OfxPlugin, mainEntry)                                                                                       \
  X(OfxRectI, x1) X(OfxRectI, y1) X(OfxRectI, x2) X(OfxRectI, y2)                                               \
  X(OfxRectD, x1) X(OfxRectD, y1) X(OfxRectD, x2) X(OfxRectD, y2)                                               \
  X(OfxRangeD, min) X(OfxRangeD, max)                                                                           \
  X(OfxPropertySuiteV1, propSetPointer) X(OfxPropertySuiteV1, propSetString)                                    \
  X(OfxPropertySuiteV1, propSetDouble) X(OfxPropertySuiteV1, propSetInt)                                        \
  X(OfxPropertySuiteV1, propSetPointerN) X(OfxPropertySuiteV1, propSetStringN)                                  \
  X(OfxPropertySuiteV1, propSetDoubleN) X(OfxPropertySuiteV1, propSetIntN)                                      \
  X(OfxPropertySuiteV1, propGetPointer) X(OfxPropertySuiteV1, propGetString)                                    \
  X(OfxPropertySuiteV1, propGetDouble) X(OfxPropertySuiteV1, propGetInt)                                        \
  X(OfxPropertySuiteV1, propGetPointerN) X(OfxPropertySuiteV1, propGetStringN)                                  \
  X(OfxPropertySuiteV1, propGetDoubleN) X(OfxPropertySuiteV1, propGetIntN)                                      \
  X(OfxPropertySuiteV1, propReset) X(OfxPropertySuiteV1, propGetDimension)                                      \
  X(OfxImageEffectSuiteV1, getPropertySet) X(OfxImageEffectSuiteV1, getParamSet)                               \
  X(OfxImageEffectSuiteV1, clipDefine) X(OfxImageEffectSuiteV1, clipGetHandle)                                  \
  X(OfxImageEffectSuiteV1, clipGetPropertySet) X(OfxImageEffectSuiteV1, clipGetImage)                           \
  X(OfxImageEffectSuiteV1, clipReleaseImage) X(OfxImageEffectSuiteV1, clipGetRegionOfDefinition)                \
  X(OfxImageEffectSuiteV1, abort) X(OfxImageEffectSuiteV1, imageMemoryAlloc)                                    \
  X(OfxImageEffectSuiteV1, imageMemoryFree) X(OfxImageEffectSuiteV1, imageMemoryLock)                           \
  X(OfxImageEffectSuiteV1, imageMemoryUnlock)                                                                   \
  X(OfxParameterSuiteV1, paramDefine) X(OfxParameterSuiteV1, paramGetHandle)                                    \
  X(OfxParameterSuiteV1, paramSetGetPropertySet) X(OfxParameterSuiteV1, paramGetPropertySet)                    \
  X(OfxParameterSuiteV1, paramGetValue) X(OfxParameterSuiteV1, paramGetValueAtTime)                             \
  X(OfxParameterSuiteV1, paramGetDerivative) X(OfxParameterSuiteV1, paramGetIntegral)                           \
  X(OfxParameterSuiteV1, paramSetValue) X(OfxParameterSuiteV1, paramSetValueAtTime)                             \
  X(OfxParameterSuiteV1, paramGetNumKeys) X(OfxParameterSuiteV1, paramGetKeyTime)                               \
  X(OfxParameterSuiteV1, paramGetKeyIndex) X(OfxParameterSuiteV1, paramDeleteKey)                               \
  X(OfxParameterSuiteV1, paramDeleteAllKeys) X(OfxParameterSuiteV1, paramCopy)                                  \
  X(OfxParameterSuiteV1, paramEditBegin) X(OfxParameterSuiteV1, paramEditEnd)                                   \
  X(OfxMessageSuiteV2, message) X(OfxMessageSuiteV2, setPersistentMessage)                                      \
  X(OfxMessageSuiteV2, clearPersistentMessage)

// Numbers: status codes and versions.
#define VORTELLINE_OFX_NUMBERS(X)                                                                                 \
  X(kOfxStatOK, 0) X(kOfxStatFailed, 1) X(kOfxStatErrFatal, 2) X(kOfxStatErrUnknown, 3)                         \
  X(kOfxStatErrMissingHostFeature, 4) X(kOfxStatErrMemory, 8) X(kOfxStatReplyDefault, 14)                       \
  X(kOfxImageEffectPluginApiVersion, 1)

// Names: actions, suites, properties and their values.
#define VORTELLINE_OFX_STRINGS(X)                                                                                 \
  X(kOfxActionLoad, "OfxActionLoad")                                                                            \
  X(kOfxActionUnload, "OfxActionUnload")                                                                        \
  X(kOfxActionDescribe, "OfxActionDescribe")                                                                    \
  X(kOfxActionCreateInstance, "OfxActionCreateInstance")                                                        \
  X(kOfxActionDestroyInstance, "OfxActionDestroyInstance")                                                      \
  X(kOfxActionInstanceChanged, "OfxActionInstanceChanged")                                                      \
  X(kOfxImageEffectActionDescribeInContext, "OfxImageEffectActionDescribeInContext")                            \
  X(kOfxImageEffectActionGetRegionOfDefinition, "OfxImageEffectActionGetRegionOfDefinition")                    \
  X(kOfxImageEffectActionGetRegionsOfInterest, "OfxImageEffectActionGetRegionsOfInterest")                      \
  X(kOfxImageEffectActionRender, "OfxImageEffectActionRender")                                                  \
  X(kOfxImageEffectActionGetClipPreferences, "OfxImageEffectActionGetClipPreferences")                          \
  X(kOfxImageEffectPluginApi, "OfxImageEffectPluginAPI")                                                        \
  X(kOfxPropertySuite, "OfxPropertySuite")                                                                      \
  X(kOfxImageEffectSuite, "OfxImageEffectSuite")                                                                \
  X(kOfxParameterSuite, "OfxParameterSuite")                                                                    \
  X(kOfxMessageSuite, "OfxMessageSuite")                                                                        \
  X(kOfxPropLabel, "OfxPropLabel")                                                                              \
  X(kOfxPropPluginDescription, "OfxPropPluginDescription")                                                      \
  X(kOfxPropName, "OfxPropName")                                                                                \
  X(kOfxPropTime, "OfxPropTime")                                                                                \
  X(kOfxPropInstanceData, "OfxPropInstanceData")                                                                \
  X(kOfxPropChangeReason, "OfxPropChangeReason")                                                                \
  X(kOfxChangeUserEdited, "OfxChangeUserEdited")                                                                \
  X(kOfxImageEffectPluginPropGrouping, "OfxImageEffectPluginPropGrouping")                                      \
  X(kOfxImageEffectPropSupportedContexts, "OfxImageEffectPropSupportedContexts")                                \
  X(kOfxImageEffectPropContext, "OfxImageEffectPropContext")                                                    \
  X(kOfxImageEffectContextFilter, "OfxImageEffectContextFilter")                                                \
  X(kOfxImageEffectContextGenerator, "OfxImageEffectContextGenerator")                                          \
  X(kOfxImageEffectContextGeneral, "OfxImageEffectContextGeneral")                                              \
  X(kOfxImageEffectPropSupportedPixelDepths, "OfxImageEffectPropSupportedPixelDepths")                          \
  X(kOfxBitDepthByte, "OfxBitDepthByte")                                                                        \
  X(kOfxBitDepthShort, "OfxBitDepthShort")                                                                      \
  X(kOfxBitDepthFloat, "OfxBitDepthFloat")                                                                      \
  X(kOfxImageEffectPropSupportsMultipleClipDepths, "OfxImageEffectPropMultipleClipDepths")                      \
  X(kOfxImageEffectPropSupportsMultiResolution, "OfxImageEffectPropSupportsMultiResolution")                    \
  X(kOfxImageEffectPropSupportsTiles, "OfxImageEffectPropSupportsTiles")                                        \
  X(kOfxImageEffectPropTemporalClipAccess, "OfxImageEffectPropTemporalClipAccess")                              \
  X(kOfxImageEffectPluginPropSingleInstance, "OfxImageEffectPluginPropSingleInstance")                          \
  X(kOfxImageEffectPluginRenderThreadSafety, "OfxImageEffectPluginRenderThreadSafety")                          \
  X(kOfxImageEffectRenderFullySafe, "OfxImageEffectRenderFullySafe")                                            \
  X(kOfxImageEffectPluginPropHostFrameThreading, "OfxImageEffectPluginPropHostFrameThreading")                  \
  X(kOfxImageEffectSimpleSourceClipName, "Source")                                                              \
  X(kOfxImageEffectOutputClipName, "Output")                                                                    \
  X(kOfxImageEffectPropSupportedComponents, "OfxImageEffectPropSupportedComponents")                            \
  X(kOfxImageComponentRGBA, "OfxImageComponentRGBA")                                                            \
  X(kOfxImageClipPropOptional, "OfxImageClipPropOptional")                                                      \
  X(kOfxImageClipPropConnected, "OfxImageClipPropConnected")                                                    \
  X(kOfxImageEffectPropPixelDepth, "OfxImageEffectPropPixelDepth")                                              \
  X(kOfxImageEffectPropComponents, "OfxImageEffectPropComponents")                                              \
  X(kOfxImageEffectPropPreMultiplication, "OfxImageEffectPropPreMultiplication")                                \
  X(kOfxImagePreMultiplied, "OfxImageAlphaPremultiplied")                                                       \
  X(kOfxImageEffectFrameVarying, "OfxImageEffectFrameVarying")                                                  \
  X(kOfxImagePropData, "OfxImagePropData")                                                                      \
  X(kOfxImagePropBounds, "OfxImagePropBounds")                                                                  \
  X(kOfxImagePropRowBytes, "OfxImagePropRowBytes")                                                              \
  X(kOfxImageEffectPropRenderWindow, "OfxImageEffectPropRenderWindow")                                          \
  X(kOfxImageEffectPropRenderScale, "OfxImageEffectPropRenderScale")                                            \
  X(kOfxImageEffectPropRegionOfDefinition, "OfxImageEffectPropRegionOfDefinition")                              \
  X(kOfxImageEffectPropProjectExtent, "OfxImageEffectPropProjectExtent")                                        \
  X(kOfxImageEffectPropProjectPixelAspectRatio, "OfxImageEffectPropPixelAspectRatio")                           \
  X(kOfxImageEffectPropFrameRate, "OfxImageEffectPropFrameRate")                                                \
  X(kOfxParamTypeDouble, "OfxParamTypeDouble")                                                                  \
  X(kOfxParamTypeBoolean, "OfxParamTypeBoolean")                                                                \
  X(kOfxParamTypeChoice, "OfxParamTypeChoice")                                                                  \
  X(kOfxParamTypeGroup, "OfxParamTypeGroup")                                                                    \
  X(kOfxParamTypePage, "OfxParamTypePage")                                                                      \
  X(kOfxParamTypeString, "OfxParamTypeString")                                                                  \
  X(kOfxParamTypePushButton, "OfxParamTypePushButton")                                                          \
  X(kOfxParamPropDefault, "OfxParamPropDefault")                                                                \
  X(kOfxParamPropMin, "OfxParamPropMin")                                                                        \
  X(kOfxParamPropMax, "OfxParamPropMax")                                                                        \
  X(kOfxParamPropDisplayMin, "OfxParamPropDisplayMin")                                                          \
  X(kOfxParamPropDisplayMax, "OfxParamPropDisplayMax")                                                          \
  X(kOfxParamPropDoubleType, "OfxParamPropDoubleType")                                                          \
  X(kOfxParamDoubleTypeAngle, "OfxParamDoubleTypeAngle")                                                        \
  X(kOfxParamPropDigits, "OfxParamPropDigits")                                                                  \
  X(kOfxParamPropIncrement, "OfxParamPropIncrement")                                                            \
  X(kOfxParamPropAnimates, "OfxParamPropAnimates")                                                              \
  X(kOfxParamPropParent, "OfxParamPropParent")                                                                  \
  X(kOfxParamPropEnabled, "OfxParamPropEnabled")                                                                \
  X(kOfxParamPropHint, "OfxParamPropHint")                                                                      \
  X(kOfxParamPropChoiceOption, "OfxParamPropChoiceOption")                                                      \
  X(kOfxParamPropStringMode, "OfxParamPropStringMode")                                                          \
  X(kOfxParamStringIsFilePath, "OfxParamStringIsFilePath")                                                      \
  X(kOfxParamPropStringFilePathExists, "OfxParamPropStringFilePathExists")                                      \
  X(kOfxParamPropPageChild, "OfxParamPropPageChild")                                                            \
  X(kOfxParamPropEvaluateOnChange, "OfxParamPropEvaluateOnChange")                                              \
  X(kOfxMessageError, "OfxMessageError")                                                                        \
  X(kOfxMessageMessage, "OfxMessageMessage")

#define VORTELLINE_OFX_DECLARE_NUMBER(name, value) inline constexpr int name = value;
#define VORTELLINE_OFX_DECLARE_STRING(name, value) inline constexpr char name[] = value;
VORTELLINE_OFX_NUMBERS(VORTELLINE_OFX_DECLARE_NUMBER)
VORTELLINE_OFX_STRINGS(VORTELLINE_OFX_DECLARE_STRING)
#undef VORTELLINE_OFX_DECLARE_NUMBER
#undef VORTELLINE_OFX_DECLARE_STRING

// A clip's region of interest is returned in the property of this name followed by the clip's
// name; the standard gives it in prose only.
inline constexpr char clipRegionOfInterestPrefix[] = "OfxImageClipPropRoI_";

}  // namespace ofx
