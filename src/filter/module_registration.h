// The module's registration as the steps DllRegisterServer writes in order and
// DllUnregisterServer removes: class keys of both classes, the general filter registration,
// then the entry in the video input device category.
#pragma once

#include <span>

#include "framework/module_server.h"

namespace qp::filter {

// The device entry comes last: a capture application that lists it must find the class keys
// it points at. Every step initialises COM for itself when the calling thread has none.
class ModuleRegistration {
 public:
  // `server_path` is kept by reference; it is written into the class keys (unused when
  // removing).
  explicit ModuleRegistration(const wchar_t* server_path);
  ModuleRegistration(const ModuleRegistration&) = delete;
  ModuleRegistration& operator=(const ModuleRegistration&) = delete;

  std::span<framework::RegistrationStep* const> Steps() { return steps_; }

 private:
  framework::ClassKeysStep filter_keys_;
  framework::ClassKeysStep page_keys_;
  framework::DefaultCategoryStep general_;
  framework::CategoryEntryStep device_;
  framework::RegistrationStep* const steps_[4] = {&filter_keys_, &page_keys_, &general_, &device_};
};

}  // namespace qp::filter
