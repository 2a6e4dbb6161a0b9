// A host suite held for the duration of one command and released on every path out of it.
#pragma once

#include "sdk/effect_sdk.h"

template <typename Suite>
class AcquiredSuite {
 public:
  // Unavailable (get() is null) when the host has no basic suite, lacks its acquire or release
  // function, or refuses the suite.
  AcquiredSuite(const PF_InData* in_data, const char* name, A_long version) : name_(name), version_(version) {
    const SPBasicSuite* basic = in_data != nullptr ? in_data->pica_basicP : nullptr;
    if (basic == nullptr || basic->AcquireSuite == nullptr || basic->ReleaseSuite == nullptr) return;
    const void* table = nullptr;
    if (basic->AcquireSuite(name, version, &table) != 0) return;
    basic_ = basic;
    suite_ = static_cast<const Suite*>(table);
  }
  ~AcquiredSuite() {
    if (basic_ != nullptr) basic_->ReleaseSuite(name_, version_);
  }
  AcquiredSuite(const AcquiredSuite&) = delete;
  AcquiredSuite& operator=(const AcquiredSuite&) = delete;

  const Suite* get() const { return suite_; }
  const Suite* operator->() const { return suite_; }

 private:
  const char* name_;
  A_long version_;
  const SPBasicSuite* basic_ = nullptr;
  const Suite* suite_ = nullptr;
};
