// The plug-in's own declarations of the OpenFX API (ofx/ofx_api.h) against the standard's headers:
// every name has the standard's value, every structure its layout. Compiling this file is the check.
#include "ofx/ofx_api.h"

#include <cstddef>
#include <string_view>

#include "ofxCore.h"
#include "ofxImageEffect.h"
#include "ofxMessage.h"
#include "ofxParam.h"
#include "ofxProperty.h"

// After the standard's headers, each name below is the standard's macro; ofx::name is ours.
#define CHECK_STRING(name, value) \
  static_assert(std::string_view(name) == std::string_view(value), "ofx_api.h differs from the standard: " #name);
#define CHECK_NUMBER(name, value) static_assert((name) == (value), "ofx_api.h differs from the standard: " #name);
#define CHECK_MEMBER(type, member)                                                            \
  static_assert(offsetof(::type, member) == offsetof(ofx::type, member) &&                    \
                    sizeof(::type::member) == sizeof(ofx::type::member),                      \
                "ofx_api.h lays out " #type "::" #member " unlike the standard");             \
  static_assert(sizeof(::type) == sizeof(ofx::type), "ofx_api.h sizes " #type " unlike the standard");

VORTELLINE_OFX_STRINGS(CHECK_STRING)
VORTELLINE_OFX_NUMBERS(CHECK_NUMBER)
VORTELLINE_OFX_STRUCT_MEMBERS(CHECK_MEMBER)

static_assert(sizeof(::OfxTime) == sizeof(ofx::OfxTime) && sizeof(::OfxStatus) == sizeof(ofx::OfxStatus));
