// The classes this module serves and the filter's registration records.
#pragma once

#include <strmif.h>

#include "framework/module_server.h"

namespace qp::filter {

// The filter, then its about page.
framework::ClassTable ModuleClasses();

// The filter in the video input device category: as its general registration but without a
// connects-to-filter GUID on its pin.
const REGFILTER2& VideoInputDeviceRegistration();

inline constexpr wchar_t kFilterName[] = L"Quor Plemo";

}  // namespace qp::filter
